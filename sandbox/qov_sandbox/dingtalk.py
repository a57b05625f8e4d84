"""A stand-in for the DingTalk group robot webhook, POST /robot/send.

Like the service it answers HTTP 200 with {"errcode": ..., "errmsg": ...}
whatever went wrong, checking in this order: access_token (300005), the
robot's IP allow-list (310000 "ip ... not in whitelist"), timestamp (310000
"invalid timestamp", more than `max_skew_ms` away from `clock()`), sign
(310000 "sign not match"), the send rate (130101), Content-Type (43004), the
JSON message (40035; 400402/400403 for markdown title/text), then the
robot's keywords (310000 "keywords not in content").

A robot is secured by any of: a signing secret, keywords (a message must
contain one of them in its texts), an IP allow-list of addresses and CIDR
ranges ("192.0.2.7", "10.0.0.0/8", "2001:db8::/32"). A robot whose secret is
None does not sign. The errmsg texts are the bare ones the service sends
today, without the link to its retired documentation site.

The send rate, when set (`rate_limit` messages per `rate_window` seconds;
the service allows 20 a minute), counts accepted messages per robot in any
window; the send that finds the quota spent is refused, and the robot then
refuses every send for `rate_block` seconds (the service: 10 minutes).

The query string is decoded as the service's servlet front end does (HTML
form rules), so a signature sent with a raw "+" arrives with a space and does
not match, exactly as live. Clients escape "+", "/" and "=" (%2B, %2F, %3D).
"""
from __future__ import annotations

import base64
import hashlib
import hmac
import ipaddress
import json
import threading
import time
from dataclasses import dataclass

from .limits import SendPace
from .seed import read_seed
from .server import FakeServer, JournalEntry, Reply

RATE_LIMIT, RATE_WINDOW, RATE_BLOCK = 20, 60, 600  # the service's: 20 a minute, then 10 minutes blocked
_MSGTYPES = ("text", "markdown", "link", "actionCard", "feedCard")
_CONTENT_TYPE = "application/json;charset=UTF-8"


def sign(secret: str, timestamp: int | str) -> str:
    """The Base64 HMAC-SHA256 of "timestamp\\nsecret" keyed with the secret
    (before URL escaping)."""
    digest = hmac.new(secret.encode(), f"{timestamp}\n{secret}".encode(), hashlib.sha256).digest()
    return base64.b64encode(digest).decode()


def _answer(errcode: int, errmsg: str) -> Reply:
    return Reply.json(200, {"errcode": errcode, "errmsg": errmsg}, _CONTENT_TYPE)


def _errcode(reply: Reply):
    return json.loads(reply.body).get("errcode")


def _texts(value):
    """Every text inside a message part, at any depth."""
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict):
        for item in value.values():
            yield from _texts(item)
    elif isinstance(value, list):
        for item in value:
            yield from _texts(item)


def _markdown_missing(field: str, code: int) -> Reply:
    return _answer(code, f"错误描述:参数 markdown --》 {field} 缺失，或者参数格式不正确; 解决方案:请填充上对应参数;"
                         "参考链接:请参考本接口对应文档查看参数获取方式，"
                         "或者在https://open.dingtalk.com/document/  搜索对应文档;")


@dataclass(frozen=True)
class Guard:
    """A robot's security settings besides its secret."""
    keywords: tuple[str, ...] = ()  # a message must contain one of them
    ips: tuple[str, ...] = ()       # requests must come from one of these addresses or ranges

    def admits(self, address: str) -> bool:
        if not self.ips:
            return True
        try:
            client = ipaddress.ip_address(address)
        except ValueError:
            return False
        return any(client in ipaddress.ip_network(allowed, strict=False) for allowed in self.ips)

    def describe(self) -> str:
        return " ".join(f"{name}={','.join(values)}" for name, values in
                        (("keywords", self.keywords), ("ips", self.ips)) if values)


class DingTalkFake(FakeServer):
    name = "dingtalk"

    def __init__(self, robots=None, tls=None, max_skew_ms: int = 3600_000, *, rate_limit: int = 0,
                 rate_window: float = RATE_WINDOW, rate_block: float = RATE_BLOCK,
                 host: str = "127.0.0.1", port: int = 0, log=None) -> None:
        super().__init__(tls=tls, host=host, port=port, log=log)
        self.robots: dict[str, str | None] = dict({"robot-token": "robot-secret"} if robots is None else robots)
        self.guards: dict[str, Guard] = {}
        self.max_skew_ms = max_skew_ms
        self.clock = lambda: int(time.time() * 1000)  # the fake's notion of now, in ms
        self.pace_clock = time.monotonic  # the send rate's notion of now, in seconds
        self._pace: SendPace | None = None
        self.set_rate_limit(rate_limit, rate_window, rate_block)
        self._messages: list[dict] = []
        self._lock = threading.Lock()
        self._send_lock = threading.Lock()  # one send at a time from the rate check to its count

    def add_robot(self, token: str, secret: str | None, keywords=(), ips=()) -> None:
        """A robot that signs with `secret` (None: no signature), wants one of
        `keywords` in each message and accepts requests only from `ips`
        (empty: no such check)."""
        if isinstance(keywords, str) or isinstance(ips, str):
            raise TypeError("a robot's keywords and ips are lists of texts")
        for allowed in ips:
            ipaddress.ip_network(allowed, strict=False)  # a ValueError names what is not an address or range
        with self._lock:
            self.robots[token] = secret
            self.guards[token] = Guard(tuple(keywords), tuple(ips))

    def set_rate_limit(self, messages: int | None, seconds: float = RATE_WINDOW, block: float = RATE_BLOCK) -> None:
        """`messages` per robot in any `seconds`, then `block` seconds refused; 0 or None: no limit."""
        self._pace = SendPace(messages, seconds, block, self._pace_now) if messages else None

    def _pace_now(self) -> float:
        return self.pace_clock()  # looked up at each call: tests replace the clock

    def guard(self, token: str) -> Guard:
        with self._lock:
            return self.guards.get(token, Guard())

    @property
    def rate_limit(self) -> tuple[int, float, float] | None:
        pace = self._pace
        return (pace.limit, pace.window, pace.block) if pace is not None else None

    def load_seed(self, seed) -> None:
        """Robots, each a secret (or null) or an object {"secret", "keywords",
        "ips"}, and the send rate {"messages", "seconds", "block_seconds"}
        (null or 0 messages: no limit)."""
        data = read_seed(seed)
        data = data.get("dingtalk", data)
        for token, robot in data.get("robots", {}).items():
            if isinstance(robot, dict):
                self.add_robot(token, robot.get("secret"), robot.get("keywords", ()), robot.get("ips", ()))
            else:
                self.add_robot(token, robot)
        if "rate_limit" in data:
            limit = data["rate_limit"] or {}
            self.set_rate_limit(limit.get("messages", 0), limit.get("seconds", RATE_WINDOW),
                                limit.get("block_seconds", RATE_BLOCK))

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
            secret, guard = self.robots[token], self.guards.get(token, Guard())
        if not guard.admits(request.client_host):
            return _answer(310000, f"ip {request.client_host} not in whitelist")
        if secret is not None:
            refusal = self._check_signature(params.get("timestamp", ""), params.get("sign", ""), secret)
            if refusal is not None:
                return refusal
        with self._send_lock:
            pace = self._pace
            if pace is not None and not pace.admits(token):
                return _answer(130101, f"send too fast, exceed {pace.limit} times per minute")
            reply = self._accept(request, guard)
            if pace is not None and _errcode(reply) == 0:
                pace.record(token)
            return reply

    def _check_signature(self, timestamp: str, signature: str, secret: str) -> Reply | None:
        well_formed = timestamp.isascii() and timestamp.isdigit()
        if not well_formed or abs(self.clock() - int(timestamp)) > self.max_skew_ms:
            return _answer(310000, "invalid timestamp")
        if not signature or not hmac.compare_digest(signature.encode(), sign(secret, timestamp).encode()):
            return _answer(310000, "sign not match")
        return None

    def _accept(self, request: JournalEntry, guard: Guard) -> Reply:
        media_type = (request.header("Content-Type") or "").split(";", 1)[0].strip().lower()
        if media_type != "application/json":
            return _answer(43004, "无效的HTTP HEADER Content-Type")
        try:
            message = json.loads(request.body.decode("utf-8"))
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
        if guard.keywords and not any(keyword in text for text in _texts(part) for keyword in guard.keywords):
            return _answer(310000, "keywords not in content")
        with self._lock:
            self._messages.append(message)
        return _answer(0, "ok")
