"""A local HTTP(S) server whose answers each test scripts, for the transport's tests.

It records every request as received (method, raw target, headers, body, and
the client's port, which shows whether a connection was reused).
"""
from __future__ import annotations

import socket
import ssl
import struct
import threading
import time
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


@dataclass
class Received:
    method: str
    path: str
    headers: list[tuple[str, str]]
    body: bytes
    client_port: int

    def header(self, name: str) -> str | None:
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


@dataclass
class Answer:
    status: int = 200
    body: bytes = b"ok"
    headers: dict[str, str] = field(default_factory=dict)
    delay: float = 0.0
    close: bool = False  # close the connection after answering
    reset: bool = False  # reset the connection instead of answering


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True  # headers and body are two writes: no delayed-ACK stall
    server: _Server

    def log_message(self, *args: object) -> None:  # keep the test output clean
        pass

    def __getattr__(self, name: str):
        if name.startswith("do_"):  # every method, whatever its letter case
            return self._answer
        raise AttributeError(name)

    def _read_body(self) -> bytes:
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            chunks = []
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return b"".join(chunks)
                chunks.append(self.rfile.read(size))
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length") or 0))

    def _answer(self) -> None:
        body = self._read_body()
        owner = self.server.owner
        owner._record(Received(self.command, self.path, list(self.headers.items()), body, self.client_address[1]))
        answer = owner.answer_for(self.path)
        if answer.delay:
            time.sleep(answer.delay)
        if answer.reset:
            # SO_LINGER with a zero time-out: close() sends RST, not FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
            return
        self.send_response(answer.status)
        for name, value in answer.headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(answer.body)))
        if answer.close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(answer.body)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    # Bursts of connections (dozens of threads of one scenario, two scenarios
    # at once) must not overflow the listen backlog, 5 by default.
    request_queue_size = 128
    owner: ScriptedServer

    def handle_error(self, request, client_address) -> None:
        pass  # a client that gave up (a time-out test) is not the server's error


class ScriptedServer:
    """Answers by path prefix (the longest that matches); "ok" with 200 otherwise."""

    def __init__(self, tls_context: ssl.SSLContext | None = None) -> None:
        self._lock = threading.Lock()
        self._answers: dict[str, list[Answer]] = {}
        self.received: list[Received] = []
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        if tls_context is not None:
            self._server.socket = tls_context.wrap_socket(self._server.socket, server_side=True)
        scheme = "https" if tls_context is not None else "http"
        self.url = f"{scheme}://127.0.0.1:{self._server.server_address[1]}"
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.05},
                                        daemon=True)
        self._thread.start()

    def answer(self, prefix: str, **answer: object) -> None:
        self.answer_in_turn(prefix, answer)

    def answer_in_turn(self, prefix: str, *answers: dict) -> None:
        """Each request under `prefix` takes the next answer; the last one stays."""
        with self._lock:
            self._answers[prefix] = [Answer(**answer) for answer in answers]

    def answer_for(self, path: str) -> Answer:
        with self._lock:
            matches = [p for p in self._answers if path.startswith(p)]
            if not matches:
                return Answer()
            answers = self._answers[max(matches, key=len)]
            return answers.pop(0) if len(answers) > 1 else answers[0]

    def _record(self, received: Received) -> None:
        with self._lock:
            self.received.append(received)

    def reset(self) -> None:
        with self._lock:
            self._answers.clear()
            self.received.clear()

    def close(self) -> None:
        self._server.shutdown()
        self._server.server_close()
