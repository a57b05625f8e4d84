"""A raw HTTP(S) server on 127.0.0.1 that plays hostile answers, for the fuzz
and hostile-server catalogue (tests/fuzz_catalogue.py).

A request is routed by the first segment of its path (`/<answer>/...`; a
DingTalk `/robot/send` by its `access_token`), so a client pointed at
`<url>/<answer>` gets that answer on every request, redirects included. Every
answer ends within a few seconds; `large=True` lets the big ones pass the
64 MiB response cap and lets listings be paged to the end.
"""
from __future__ import annotations

import json
import socket
import ssl
import struct
import threading
import time
from urllib.parse import parse_qs, urlsplit

MIB = 1 << 20
# The record the catalogue's dns_ensured_record call wants, as a listing shows it.
WANTED = dict(id="1" * 32, name="www.example.com", type="A", content="192.0.2.1", proxied=False)
OTHER = dict(WANTED, id="2" * 32, name="other.example.com")


def reply(body: bytes | str = b"ok", status: str = "200 OK", headers: str = "", length: bool = True) -> bytes:
    body = body.encode() if isinstance(body, str) else body
    framing = f"Content-Length: {len(body)}\r\n" if length else ""
    return f"HTTP/1.1 {status}\r\n{headers}{framing}\r\n".encode() + body


def listing(*records: dict, **info: object) -> dict:
    return {"success": True, "errors": [], "messages": [], "result": list(records), "result_info": info}


def _close(answer: bytes):
    """Sends a whole answer, then closes the connection."""
    return lambda server, conn, request: conn.sendall(answer)


def _reset(answer: bytes):
    """Sends a part of an answer, then resets the connection (RST, not FIN)."""
    def play(server, conn, request):
        conn.sendall(answer)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    return play


def _drip(answer: bytes, pause: float):
    def play(server, conn, request):
        for i in range(len(answer)):
            conn.sendall(answer[i:i + 1])
            time.sleep(pause)
    return play


def _stall(head: bytes, seconds: float):
    """Sends the head of an answer, says nothing for a while, then closes."""
    def play(server, conn, request):
        conn.sendall(head)
        time.sleep(seconds)
    return play


def _redirect(location):
    """A 302 to location(server, request); keeps the connection, as a redirect loop would."""
    def play(server, conn, request):
        conn.sendall(reply(b"", "302 Found", f"Location: {location(server, request)}\r\n"))
        return True
    return play


def _chain(server, request):
    hop = request.hop + 1
    return f"/redirect-chain/{hop}" if hop <= 20 else "/landing/redirect-chain"


def _body(size_small: int, size_large: int, chunked: bool):
    """A body of the given size (the large one with large=True); chunked
    without a last chunk, like a server streaming forever."""
    def play(server, conn, request):
        size, block = (size_large if server.large else size_small), b"x" * (64 * 1024)
        if not chunked:
            conn.sendall(reply(b"", headers=f"Content-Length: {size}\r\n", length=False))
            for _ in range(size // len(block)):
                conn.sendall(block)
            return
        conn.sendall(reply(b"", headers="Transfer-Encoding: chunked\r\n", length=False))
        chunk = b"%x\r\n%s\r\n" % (len(block), block)
        for _ in range(size // len(block)):
            conn.sendall(chunk)
    return play


def _json(*pages):
    """A JSON answer kept alive for paging: page n of a listing is pages[n-1]
    (the last one for the pages after; a callable makes them from the server),
    and past the third page, unless large, a failed answer that ends the scan.
    Writes get a body that says so."""
    def play(server, conn, request):
        listed = pages[0](server) if callable(pages[0]) else pages
        if request.method not in ("GET", "HEAD") and not request.path.startswith("/robot/"):
            conn.sendall(reply('{"success":true,"result":{"id":"' + "3" * 32 + '"},"written":true}'))
        elif request.page > 3 and not server.large:
            conn.sendall(reply('{"success":false,"errors":[{"code":1,"message":"catalogue page cap"}]}'))
        else:
            page = listed[min(request.page, len(listed)) - 1]
            conn.sendall(reply(page if isinstance(page, str) else json.dumps(page)))
        return True
    return play


def _big_pages(server) -> list[dict]:
    """300 pages of about 1 MiB each with large=True, else small ones."""
    pad = "x" * (MIB if server.large else 1000)
    return [listing(dict(OTHER, content=pad), total_pages=300)]


_OK = '{"success":true,"errors":[],"result":[]}'

# Answers that break the HTTP framing or the connection.
TRANSPORT = {
    "status-garbage": _close(b"HTTP/1.1 abc OK\r\nContent-Length: 2\r\n\r\nok"),
    "status-huge": _close(b"HTTP/1.1 99999999999999999999 OK\r\nContent-Length: 2\r\n\r\nok"),
    "status-negative": _close(b"HTTP/1.1 -200 OK\r\nContent-Length: 2\r\n\r\nok"),
    "status-only": _close(b"HTTP/1.1 200 OK\r\n"),
    "status-empty-line": _close(b"\r\n\r\n"),
    "http09": _close(b'{"success":true,"result":[]}'),
    "http2-status": _close(b"HTTP/2 200\r\ncontent-length: 2\r\n\r\nok"),
    "http-version-9": _close(b"HTTP/9.9 200 OK\r\nContent-Length: 2\r\n\r\nok"),
    "bare-lf": _close(b"HTTP/1.1 200 OK\nContent-Length: 2\n\nok"),
    "header-no-colon": _close(b"HTTP/1.1 200 OK\r\nNo colon here\r\nContent-Length: 2\r\n\r\nok"),
    "header-nul": _close(b"HTTP/1.1 200 OK\r\nX-A: a\x00b\r\nContent-Length: 2\r\n\r\nok"),
    "header-folded": _close(b"HTTP/1.1 200 OK\r\nX-A: a\r\n b\r\nContent-Length: 2\r\n\r\nok"),
    "header-1mib": _close(reply(headers="X-Big: " + "a" * MIB + "\r\n")),
    "headers-30000": _close(reply(headers="X-A: b\r\n" * 30000)),
    "length-huge-short-body": _close(reply(b"", headers="Content-Length: 4611686018427387904\r\n", length=False)
                                     + b"short"),
    "length-overflow": _close(reply(b"ok", headers="Content-Length: 99999999999999999999999\r\n", length=False)),
    "length-negative": _close(reply(b"ok", headers="Content-Length: -5\r\n", length=False)),
    "length-twice": _close(reply(b"ok", headers="Content-Length: 5\r\n")),
    "length-and-chunked": _close(reply(b"2\r\nok\r\n0\r\n\r\n", headers="Transfer-Encoding: chunked\r\n")),
    "chunk-size-garbage": _close(reply(b"zz\r\nok\r\n0\r\n\r\n", headers="Transfer-Encoding: chunked\r\n",
                                       length=False)),
    "chunk-size-overflow": _close(reply(b"fffffffffffffffffffff\r\nok", headers="Transfer-Encoding: chunked\r\n",
                                        length=False)),
    "chunk-extension-1mib": _close(reply(b"2;" + b"e" * MIB + b"\r\nok\r\n0\r\n\r\n",
                                         headers="Transfer-Encoding: chunked\r\n", length=False)),
    "chunk-truncated": _close(reply(b"ff\r\nonly a little", headers="Transfer-Encoding: chunked\r\n",
                                    length=False)),
    "no-length-until-close": _close(reply(b'{"success":true}', length=False)),
    "body-nul": _close(reply(b'{"success":true,"result":[]}\x00{"success":false}')),
    "body-invalid-utf8": _close(reply(b'{"success":true,"result":[{"id":"\xff\xfe\xc3("}]}')),
    "body-encoded-surrogate": _close(reply(b'{"success":false,"x":"\xed\xa0\x80"}')),
    "body-big": _body(8 * MIB, 70 * MIB, chunked=False),
    "chunked-endless": _body(16 * MIB, 200 * MIB, chunked=True),
    "close-at-once": _close(b""),
    "reset-at-once": _reset(b""),
    "reset-mid-headers": _reset(b"HTTP/1.1 200 OK\r\nContent-Le"),
    "reset-mid-body": _reset(reply(b"", headers="Content-Length: 1000\r\n", length=False) + b"x" * 10),
    "drip-headers": _drip(reply(_OK), 0.01),
    "stall-after-headers": _stall(reply(b"", headers="Content-Length: 10\r\n", length=False), 1.0),
    "continue-then-200": _close(b"HTTP/1.1 100 Continue\r\n\r\n" + reply(_OK)),
    "processing-x1000": _close(b"HTTP/1.1 102 Processing\r\n\r\n" * 1000 + reply(_OK)),
    "switching-protocols": _close(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n\r\n\x00\x00\x12\x04garbage"),
    "redirect-loop": _redirect(lambda s, r: "/redirect-loop/again"),
    "redirect-chain": _redirect(_chain),
    "redirect-other-host": _redirect(lambda s, r: f"http://localhost:{s.port}/landing/other-host"),
    "redirect-other-port": _redirect(lambda s, r: (f"http://127.0.0.1:{s.port}" if r.tls else s.tls_url)
                                     + "/landing/other-port"),
    "redirect-file": _redirect(lambda s, r: f"file://{s.marker_file}"),
    "redirect-ftp": _redirect(lambda s, r: f"ftp://127.0.0.1:{s.dead_port}/x"),
    "redirect-dict": _redirect(lambda s, r: f"dict://127.0.0.1:{s.dead_port}/x"),
    "redirect-empty": _redirect(lambda s, r: ""),
    "redirect-nul": _close(b"HTTP/1.1 302 Found\r\nLocation: /a\x00b\r\nContent-Length: 0\r\n\r\n"),
    "redirect-1mib": _redirect(lambda s, r: "/landing/" + "a" * MIB),
}

# Answers the Cloudflare client parses: success, result, result_info and the record members.
JSON = {
    "json-empty": _json(""),
    "json-null": _json("null"),
    "json-number-huge": _json("1e999999"),
    "json-deep-array": _json("[" * 100000),
    "json-deep-result": _json('{"success":true,"result":' + "[" * 5000 + "]" * 5000 + "}"),
    "json-trailing-garbage": _json(_OK + " and more"),
    "json-duplicate-keys": _json('{"success":false,"success":true,"result":[],"result":[{"id":"' + "1" * 32 + '"}]}'),
    "json-nan": _json('{"success":true,"result":[{"id":NaN,"name":Infinity}]}'),
    "json-nul-escape": _json('{"success":true,"result":[{"id":"a\\u0000b","name":"\\u0000","type":"A",'
                             '"content":"\\u0000"}]}'),
    "json-lone-surrogate": _json('{"success":true,"result":[{"id":"\\ud800","name":"\\udc00","type":"A",'
                                 '"content":"x"}]}'),
    "json-success-string": _json(dict(success="true", result=[WANTED])),
    "json-success-object": _json(dict(success={}, result=[WANTED])),
    "json-result-object": _json(dict(success=True, result=WANTED)),
    "json-result-string": _json(dict(success=True, result="abc")),
    "json-result-mixed": _json(dict(success=True, result=[None, 5, "x", [], {}, WANTED])),
    "json-id-number": _json(listing(dict(WANTED, id=5))),
    "json-id-empty": _json(listing(dict(WANTED, id=""))),
    "json-id-path": _json(listing(dict(WANTED, id="../.."), dict(WANTED, id="a/b?c#d"))),
    "json-id-1mib": _json(listing(dict(WANTED, id="a" * MIB))),
    "json-member-types": _json(listing(dict(WANTED, name=5), dict(WANTED, type=None), dict(WANTED, content=[]),
                                       dict(WANTED, proxied="yes"), dict(WANTED, proxied=2**63),
                                       dict(WANTED, type="MX", priority="10"), dict(WANTED, type="MX", priority=2**64),
                                       dict(WANTED, type="MX", priority=-1.5))),
    "json-info-not-object": _json(dict(listing(OTHER), result_info=[5])),
    "json-pages-overflow": _json(listing(OTHER, page=1, per_page=2, total_count=2**63 - 1), listing(WANTED)),
    "json-pages-int64-max": _json(listing(OTHER, total_pages=2**63 - 1)),
    "json-pages-beyond-int64": _json(listing(OTHER, total_pages=2**70, total_count=2**70)),
    "json-pages-negative": _json(listing(OTHER, total_pages=-1), listing(WANTED)),
    "json-count-negative": _json(listing(OTHER, total_count=-(2**63), per_page=-1)),
    "json-count-over-negative-size": _json(listing(OTHER, total_count=2**63 - 1, per_page=-(2**63))),
    "json-pages-float": _json(listing(OTHER, total_pages=1e300, total_count=3.7, per_page=0.5)),
    "json-count-float": _json(listing(OTHER, total_count=1e300, per_page=2.5)),
    "json-per-page-tiny": _json(listing(OTHER, total_count=1e300, per_page=1e-300)),
    "json-pages-string": _json(listing(OTHER, total_pages="10", total_count="x", per_page="2")),
    "json-per-page-zero": _json(listing(OTHER, total_count=10, per_page=0)),
    "json-pages-300-of-1mib": _json(_big_pages),
}
ANSWERS = {**TRANSPORT, **JSON}


class _Request:
    def __init__(self, method: str, target: str) -> None:
        self.method, self.target = method, target
        parts = urlsplit(target)
        self.path, query = parts.path, parse_qs(parts.query)
        segments = self.path.split("/")
        name = segments[1] if len(segments) > 1 else ""
        self.answer = query.get("access_token", [""])[0] if name == "robot" else name
        self.hop = int(segments[2]) if len(segments) > 2 and segments[2].isdigit() else 0
        page = query.get("page", ["1"])[0]
        self.page = int(page) if page.isdigit() else 1
        self.authorization = ""
        self.tls = False


def _read_request(conn, reader) -> _Request | None:
    line = reader.readline(1 << 16)
    if not line.strip():
        return None
    method, target = (line.decode("latin-1").split() + ["", ""])[:2]
    request, length = _Request(method, target), 0
    while (header := reader.readline(1 << 16)) not in (b"\r\n", b"\n", b""):
        name, _, value = header.decode("latin-1").partition(":")
        name, value = name.strip().lower(), value.strip()
        if name == "content-length":
            length = int(value)
        elif name == "authorization":
            request.authorization = value
        elif name == "expect" and value.lower() == "100-continue":
            conn.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
    reader.read(length)
    return request


class HostileServer:
    """Listens on 127.0.0.1 over HTTP and, given a server context, HTTPS."""

    def __init__(self, tls_context: ssl.SSLContext | None = None, *, large: bool = False,
                 marker_file: str = "/nonexistent") -> None:
        self.large, self.marker_file = large, marker_file
        self._listeners = [self._listen(None)] + ([self._listen(tls_context)] if tls_context else [])
        self.port = self._listeners[0].getsockname()[1]
        self.tls_port = self._listeners[-1].getsockname()[1] if tls_context else self.port
        self.url, self.tls_url = f"http://127.0.0.1:{self.port}", f"https://127.0.0.1:{self.tls_port}"
        with socket.socket() as probe:  # a port with nothing behind it, for redirects that go nowhere
            probe.bind(("127.0.0.1", 0))
            self.dead_port = probe.getsockname()[1]

    def _listen(self, context: ssl.SSLContext | None) -> socket.socket:
        listener = socket.create_server(("127.0.0.1", 0), backlog=64)
        threading.Thread(target=self._accept, args=(listener, context), daemon=True).start()
        return listener

    def _accept(self, listener: socket.socket, context: ssl.SSLContext | None) -> None:
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return  # closed
            threading.Thread(target=self._serve, args=(conn, context), daemon=True).start()

    def _serve(self, conn: socket.socket, context: ssl.SSLContext | None) -> None:
        conn.settimeout(5)
        try:
            if context is not None:
                conn = context.wrap_socket(conn, server_side=True)
            elif conn.recv(1, socket.MSG_PEEK) == b"\x16":  # a TLS handshake to the plain port
                conn.sendall(reply("this port speaks plain HTTP", "400 Bad Request"))
                return
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            reader = conn.makefile("rb")
            while (request := _read_request(conn, reader)) is not None:
                request.tls = context is not None
                if request.answer == "landing":  # where redirects to another host or port end
                    leaked = json.dumps(request.authorization)
                    conn.sendall(reply('{"success":true,"result":[],"landed":true,"authorization":' + leaked + "}"))
                    continue
                play = ANSWERS.get(request.answer, _close(reply("no such answer", "404 Not Found")))
                if not play(self, conn, request):
                    break
        except (OSError, ValueError):
            pass  # a client that gave up, or a request we cannot read
        finally:
            conn.close()

    def close(self) -> None:
        for listener in self._listeners:
            listener.shutdown(socket.SHUT_RDWR)  # wakes the accept() that waits on it
            listener.close()
