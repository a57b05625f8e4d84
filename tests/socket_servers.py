"""Raw HTTP/1.1 servers on plain sockets, for what the scripted server cannot
do: answer in a shape of the test's choosing, byte for byte.

`SocketServer` accepts on 127.0.0.1 and serves each connection in a thread of
its own; `StreamingServer` answers every request with a body of a given shape,
for the response-size limit."""
from __future__ import annotations

import socket
import threading

MiB = 1024 * 1024
_BLOCK = b"x" * MiB
_ENDLESS_CAP = 4096  # MiB: a client that never stops reading still ends the loop


class SocketServer:
    """Calls `_serve(connection, number)` for each connection, numbered from 1."""

    scheme = "http"

    def __init__(self) -> None:
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.url = f"{self.scheme}://127.0.0.1:{self._listener.getsockname()[1]}"
        threading.Thread(target=self._accept, daemon=True).start()

    def close(self) -> None:
        self._listener.close()

    def _accept(self) -> None:
        number = 0
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            number += 1
            threading.Thread(target=self._serve, args=(connection, number), daemon=True).start()

    def _serve(self, connection: socket.socket, number: int) -> None:
        raise NotImplementedError


class StreamingServer(SocketServer):
    """Streams from one reused block, so the test process itself stays small,
    and stops when the client goes away."""

    def __init__(self, shape: str, mebibytes: int = 0) -> None:
        """`shape`: "length" (Content-Length and `mebibytes` MiB), "chunked" (the
        same in 1 MiB chunks) or "endless" (1 MiB chunks until the client leaves)."""
        self.shape, self.mebibytes = shape, mebibytes
        super().__init__()

    def _serve(self, connection: socket.socket, number: int) -> None:
        with connection:
            try:
                reader = connection.makefile("rb")
                while reader.readline() not in (b"\r\n", b""):
                    pass
                if self.shape == "length":
                    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % (self.mebibytes * MiB))
                    for _ in range(self.mebibytes):
                        connection.sendall(_BLOCK)
                    return
                connection.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                chunk = b"%x\r\n%s\r\n" % (MiB, _BLOCK)
                for _ in range(self.mebibytes if self.shape == "chunked" else _ENDLESS_CAP):
                    connection.sendall(chunk)
                connection.sendall(b"0\r\n\r\n")
            except OSError:
                pass  # the client ended the transfer
