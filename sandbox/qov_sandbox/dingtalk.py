"""A stand-in for the DingTalk group robot webhook, POST /robot/send.

Like the service it answers HTTP 200 with {"errcode": ..., "errmsg": ...}
whatever went wrong, checking in this order: access_token (300005),
timestamp (310000 "invalid timestamp", more than `max_skew_ms` away from
`clock()`), sign (310000 "sign not match"), Content-Type (43004), then the
JSON message (40035; 400402/400403 for markdown title/text).

The query string is decoded as the service's servlet front end does (HTML
form rules), so a signature sent with a raw "+" arrives with a space and does
not match, exactly as live. Clients escape "+", "/" and "=" (%2B, %2F, %3D).
A robot whose secret is None does not sign (keyword or IP security).
"""
from __future__ import annotations

import base64
import hashlib
import hmac
import json
import threading
import time

from .seed import read_seed
from .server import FakeServer, JournalEntry, Reply

_MORE = ", more: [https://ding-doc.dingtalk.com/doc#/serverapi2/qf2nxq]"
_MSGTYPES = ("text", "markdown", "link", "actionCard", "feedCard")
_CONTENT_TYPE = "application/json;charset=UTF-8"


def sign(secret: str, timestamp: int | str) -> str:
    """The Base64 HMAC-SHA256 of "timestamp\\nsecret" keyed with the secret
    (before URL escaping)."""
    digest = hmac.new(secret.encode(), f"{timestamp}\n{secret}".encode(), hashlib.sha256).digest()
    return base64.b64encode(digest).decode()


def _answer(errcode: int, errmsg: str) -> Reply:
    return Reply.json(200, {"errcode": errcode, "errmsg": errmsg}, _CONTENT_TYPE)


def _markdown_missing(field: str, code: int) -> Reply:
    return _answer(code, f"错误描述:参数 markdown --》 {field} 缺失，或者参数格式不正确; 解决方案:请填充上对应参数;"
                         "参考链接:请参考本接口对应文档查看参数获取方式，"
                         "或者在https://open.dingtalk.com/document/  搜索对应文档;")


class DingTalkFake(FakeServer):
    name = "dingtalk"

    def __init__(self, robots=None, tls=None, max_skew_ms: int = 3600_000, *,
                 host: str = "127.0.0.1", port: int = 0, log=None) -> None:
        super().__init__(tls=tls, host=host, port=port, log=log)
        self.robots: dict[str, str | None] = dict({"robot-token": "robot-secret"} if robots is None else robots)
        self.max_skew_ms = max_skew_ms
        self.clock = lambda: int(time.time() * 1000)  # the fake's notion of now, in ms
        self._messages: list[dict] = []
        self._lock = threading.Lock()

    def add_robot(self, token: str, secret: str | None) -> None:
        with self._lock:
            self.robots[token] = secret

    def load_seed(self, seed) -> None:
        data = read_seed(seed)
        for token, secret in data.get("dingtalk", data).get("robots", {}).items():
            self.add_robot(token, secret)

    @property
    def messages(self) -> list[dict]:
        """Accepted messages (parsed JSON), oldest first."""
        with self._lock:
            return list(self._messages)

    def clear_messages(self) -> None:
        with self._lock:
            self._messages.clear()

    def outcome(self, reply: Reply) -> str:
        # The service answers 200 whatever went wrong: the errcode tells.
        try:
            answer = json.loads(reply.body)
            return f"errcode={answer['errcode']} {answer['errmsg'].split(',')[0]}"
        except (ValueError, KeyError, TypeError, AttributeError):
            return ""

    def handle(self, request: JournalEntry) -> Reply:
        if request.url_path != "/robot/send":
            return Reply.json(404, {"errcode": 404, "errmsg": "not found"}, _CONTENT_TYPE)
        if request.method != "POST":
            return _answer(43002, "需要POST请求")
        params = request.params
        with self._lock:
            token = params.get("access_token", "")
            if token not in self.robots:
                return _answer(300005, "token is not exist")
            secret = self.robots[token]
        if secret is not None:
            refusal = self._check_signature(params.get("timestamp", ""), params.get("sign", ""), secret)
            if refusal is not None:
                return refusal
        media_type = (request.header("Content-Type") or "").split(";", 1)[0].strip().lower()
        if media_type != "application/json":
            return _answer(43004, "无效的HTTP HEADER Content-Type")
        return self._accept(request.body)

    def _check_signature(self, timestamp: str, signature: str, secret: str) -> Reply | None:
        well_formed = timestamp.isascii() and timestamp.isdigit()
        if not well_formed or abs(self.clock() - int(timestamp)) > self.max_skew_ms:
            return _answer(310000, "invalid timestamp" + _MORE)
        if not signature or not hmac.compare_digest(signature.encode(), sign(secret, timestamp).encode()):
            return _answer(310000, "sign not match" + _MORE)
        return None

    def _accept(self, body: bytes) -> Reply:
        try:
            message = json.loads(body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            message = None
        if not isinstance(message, dict):
            return _answer(40035, "缺少参数 json")
        msgtype = message.get("msgtype")
        if msgtype not in _MSGTYPES:
            return _answer(40035, "不合法的参数 msgtype")
        part = message.get(msgtype)
        if not isinstance(part, dict):
            return _answer(40035, f"缺少参数 {msgtype}")
        if msgtype == "text" and not (isinstance(part.get("content"), str) and part["content"]):
            return _answer(40035, "缺少参数 text.content")
        if msgtype == "markdown":
            if not (isinstance(part.get("title"), str) and part["title"]):
                return _markdown_missing("title", 400402)
            if not (isinstance(part.get("text"), str) and part["text"]):
                return _markdown_missing("text", 400403)
        with self._lock:
            self._messages.append(message)
        return _answer(0, "ok")
