"""Plumbing shared by the fakes: a threaded HTTP/1.1 server on loopback with
optional TLS, a journal of every request, and a way to force the next reply.

A fake subclasses `FakeServer` and implements `handle(request) -> Reply`.
"""
from __future__ import annotations

import collections
import json
import socket
import ssl
import sys
import threading
import traceback
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl

from .tls import server_context

_HANDSHAKE_TIMEOUT = 10
_IDLE_TIMEOUT = 120  # seconds a keep-alive connection may sit unused


class Headers(list):
    """(name, value) pairs in arrival order, with case-insensitive lookups."""

    def get(self, name: str, default: str | None = None) -> str | None:
        values = self.get_all(name)
        return values[0] if values else default

    def get_all(self, name: str) -> list[str]:
        name = name.lower()
        return [value for key, value in self if key.lower() == name]


@dataclass
class JournalEntry:
    method: str
    path: str  # the raw request target, query string included, not decoded
    headers: Headers
    body: bytes
    client_port: int
    status: int | None = None  # the status code answered
    client_host: str = "127.0.0.1"  # the address the request came from

    @property
    def url_path(self) -> str:
        return self.path.split("?", 1)[0]

    @property
    def query(self) -> str:
        """The raw query string (empty when there is none)."""
        return self.path.split("?", 1)[1] if "?" in self.path else ""

    @property
    def params(self) -> dict[str, str]:
        """Query parameters decoded as HTML forms are ("+" is a space); the
        last of repeated names wins."""
        return dict(parse_qsl(self.query, keep_blank_values=True))

    def header(self, name: str, default: str | None = None) -> str | None:
        return self.headers.get(name, default)

    def json(self):
        return json.loads(self.body)


@dataclass
class Reply:
    status: int
    body: bytes = b""
    headers: list[tuple[str, str]] = field(default_factory=list)

    @classmethod
    def json(cls, status: int, payload, content_type: str = "application/json") -> Reply:
        body = json.dumps(payload, separators=(",", ":"), ensure_ascii=False).encode()
        return cls(status, body, [("Content-Type", content_type)])


class FakeServer:
    """Base of the fakes. Use as `with Fake(...) as fake:` or start()/stop()."""

    name = "fake"

    def __init__(self, *, tls=None, host: str = "127.0.0.1", port: int = 0, log=None) -> None:
        self.host = host
        self.requested_port = port
        self.ssl_context = server_context(tls)
        self.log = log  # None, a callable taking one line, or a text stream
        self._journal: list[JournalEntry] = []
        self._journal_lock = threading.Lock()
        self._forced: collections.deque[Reply] = collections.deque()
        self._httpd: _HTTPServer | None = None
        self._thread: threading.Thread | None = None

    # -- lifecycle -------------------------------------------------------
    def start(self) -> FakeServer:
        if self._httpd is None:
            httpd = _HTTPServer((self.host, self.requested_port), _Handler)
            httpd.fake = self
            self._httpd = httpd
            self._thread = threading.Thread(target=httpd.serve_forever, kwargs={"poll_interval": 0.05},
                                            name=f"{self.name}-server", daemon=True)
            self._thread.start()
        return self

    def stop(self) -> None:
        httpd, self._httpd = self._httpd, None
        if httpd is None:
            return
        httpd.shutdown()
        httpd.server_close()
        httpd.drop_connections()
        self._thread.join(timeout=5)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc_info) -> None:
        self.stop()

    @property
    def port(self) -> int:
        if self._httpd is None:
            raise RuntimeError(f"{self.name} fake is not running")
        return self._httpd.server_address[1]

    @property
    def scheme(self) -> str:
        return "https" if self.ssl_context else "http"

    @property
    def base_url(self) -> str:
        return f"{self.scheme}://{self.host}:{self.port}"

    # -- journal and forced replies -------------------------------------
    @property
    def journal(self) -> list[JournalEntry]:
        with self._journal_lock:
            return list(self._journal)

    def clear_journal(self) -> None:
        with self._journal_lock:
            self._journal.clear()

    def reply_with(self, status: int, body: bytes | str | dict | list = b"",
                   headers: list[tuple[str, str]] | None = None) -> None:
        """Answer the next request with this reply instead of handling it (one
        call queues one reply). A dict or list body is sent as JSON."""
        if isinstance(body, (dict, list)):
            reply = Reply.json(status, body)
            reply.headers.extend(headers or [])
        else:
            reply = Reply(status, body.encode() if isinstance(body, str) else bytes(body), list(headers or []))
        with self._journal_lock:
            self._forced.append(reply)

    def handle(self, request: JournalEntry) -> Reply:
        raise NotImplementedError

    def outcome(self, reply: Reply) -> str:
        """A few words on what the reply says, for the journal line ("" for none)."""
        return ""

    # -- used by the request handler ------------------------------------
    def _answer(self, request: JournalEntry) -> Reply:
        with self._journal_lock:
            forced = self._forced.popleft() if self._forced else None
        if forced is not None:
            return forced
        try:
            return self.handle(request)
        except Exception:  # a bug in the fake: say so loudly, answer 500
            traceback.print_exc()
            return Reply(500, b"fake server error", [("Content-Type", "text/plain")])

    def _record(self, entry: JournalEntry, reply: Reply | None = None) -> None:
        # Recorded before the reply is written, so a client that has its answer
        # always finds its request in the journal.
        with self._journal_lock:
            self._journal.append(entry)
            if self.log is not None:
                line = f"[{self.name}] {entry.method} {entry.path} -> {entry.status}"
                said = self.outcome(reply) if reply is not None else ""
                if said:
                    line += f" {said}"
                if hasattr(self.log, "write"):
                    self.log.write(line + "\n")
                    self.log.flush()
                else:
                    self.log(line)


class _HTTPServer(ThreadingHTTPServer):
    daemon_threads = True
    fake: FakeServer

    def __init__(self, *args, **kwargs) -> None:
        self._connections: set[socket.socket] = set()
        self._connections_lock = threading.Lock()
        super().__init__(*args, **kwargs)

    def finish_request(self, request, client_address) -> None:
        # TLS is set up here, in the connection's own thread, so a silent or
        # plain-HTTP client cannot stall the accepting loop.
        context = self.fake.ssl_context
        if context is not None:
            request.settimeout(_HANDSHAKE_TIMEOUT)
            try:
                request = context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return
        request.settimeout(_IDLE_TIMEOUT)
        with self._connections_lock:
            self._connections.add(request)
        try:
            self.RequestHandlerClass(request, client_address, self)
        finally:
            with self._connections_lock:
                self._connections.discard(request)
            if context is not None:  # the wrapper owns the descriptor now
                self.shutdown_request(request)

    def drop_connections(self) -> None:
        """Cut idle keep-alive connections so a stopped fake is really gone."""
        with self._connections_lock:
            connections = list(self._connections)
        for connection in connections:
            try:
                socket.socket.shutdown(connection, socket.SHUT_RDWR)
            except OSError:
                pass

    def handle_error(self, request, client_address) -> None:
        exc = sys.exc_info()[1]
        if not isinstance(exc, (ConnectionError, TimeoutError, ssl.SSLError, OSError)):
            super().handle_error(request, client_address)


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "qov-sandbox"
    sys_version = ""
    # Headers and body go out in two writes; with Nagle on, the second waits
    # for the client's delayed ACK (40 ms on Linux) before it leaves.
    disable_nagle_algorithm = True
    server: _HTTPServer

    def _serve(self) -> None:
        try:
            body = self._read_body()
        except ValueError:
            self.send_error(400, "Bad request body")
            return
        words = self.requestline.split()
        # self.path may have been normalised (leading "//"); keep the wire form.
        target = words[1] if len(words) >= 2 else self.path
        entry = JournalEntry(self.command, target, Headers(self.headers.items()), body, self.client_address[1],
                             client_host=self.client_address[0])
        fake = self.server.fake
        reply = fake._answer(entry)
        entry.status = reply.status
        fake._record(entry, reply)
        self.send_response(reply.status)
        for name, value in reply.headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(reply.body)))
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(reply.body)
        self.wfile.flush()

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = do_OPTIONS = _serve

    def _read_body(self) -> bytes:
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            return self._read_chunked()
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        size = int(length)
        if size < 0:
            raise ValueError("negative Content-Length")
        return self.rfile.read(size)

    def _read_chunked(self) -> bytes:
        chunks = []
        while True:
            size = int(self.rfile.readline().split(b";", 1)[0].strip(), 16)
            if size == 0:
                break
            chunks.append(self.rfile.read(size))
            self.rfile.readline()
        while self.rfile.readline() not in (b"\r\n", b"\n", b""):
            pass  # trailers
        return b"".join(chunks)

    def log_message(self, format, *args) -> None:  # noqa: A002 - the fakes journal instead
        pass
