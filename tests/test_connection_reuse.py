"""Connections kept between calls, seen from the server side: one connection for
consecutive requests, a fresh one after the server closed it, no option of one
call reaching the next, threads, fork, trust changes and interpreter exit."""
from __future__ import annotations

import json
import shutil
import socket
import ssl
import struct
import threading
import time

import pytest

from dingtalk_fixtures import OK, SECRET, TOKEN, robot_fake
from qov_sandbox.tls import make_tls
from scripted_server import ScriptedServer
from socket_servers import SocketServer

PURGE_BODY = b'{\n  "purge_everything": true\n}'


def ports(server, prefix: str = "/") -> list[int]:
    return [r.client_port for r in server.received if r.path.startswith(prefix)]


class RawServer(SocketServer):
    """A keep-alive HTTP/1.1 server on plain sockets. Every request gets 200 "ok",
    never with "Connection: close"; GET /peer-closed is answered with the number
    of connections the client has closed so far. Over TLS it notes whether each
    connection resumed a session. With `drop`, the server ends each connection
    shortly after its first answer without a word: "fin" closes it, "rst" resets it;
    "request" closes it once it has read its second request, which stays unanswered."""

    def __init__(self, context: ssl.SSLContext | None = None, drop: str | None = None) -> None:
        self.context, self.drop = context, drop
        self.scheme = "https" if context else "http"
        self.requests: list[tuple[int, str, str, bytes]] = []  # connection number, method, path, body
        self.resumed: dict[int, bool] = {}  # connection number: whether it resumed a TLS session
        self.peer_closed = 0
        self._lock = threading.Lock()
        super().__init__()

    def _serve(self, connection: socket.socket, number: int) -> None:
        try:
            if self.context is not None:
                connection = self.context.wrap_socket(connection, server_side=True)
                with self._lock:
                    self.resumed[number] = connection.session_reused
            reader = connection.makefile("rb")
            answered = 0
            while True:
                line = reader.readline()
                if not line:
                    with self._lock:
                        self.peer_closed += 1
                    return
                method, path, _ = line.decode().split(" ", 2)
                length = 0
                while (header := reader.readline()) not in (b"\r\n", b""):
                    name, _, value = header.decode().partition(":")
                    if name.strip().lower() == "content-length":
                        length = int(value)
                body = reader.read(length)
                with self._lock:
                    self.requests.append((number, method, path, body))
                    answer = str(self.peer_closed).encode() if path.endswith("/peer-closed") else b"ok"
                if self.drop == "request" and answered:
                    return
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(answer), answer))
                answered += 1
                if self.drop in ("fin", "rst"):
                    time.sleep(0.05)  # idle: the client has read the answer
                    if self.drop == "rst":
                        connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    return  # no close_notify either: the TLS connection just ends
        except (OSError, ValueError):
            with self._lock:
                self.peer_closed += 1
        finally:
            connection.close()


@pytest.fixture
def raw_server(request, server_context):
    scheme, drop = request.param
    server = RawServer(server_context if scheme == "https" else None, drop)
    yield server
    server.close()


@pytest.fixture
def plain():
    """Servers of this module's own, one per test, rather than the session's: other
    tests look for the session servers' addresses in the proxy's log, and a session
    server started this early would be torn down, and hang, in the children of the
    forked tests that run later."""
    server = ScriptedServer()
    yield server
    server.close()


@pytest.fixture
def secure(server_context):
    server = ScriptedServer(server_context)
    yield server
    server.close()


@pytest.fixture(params=["http", "https"])
def server(request, server_context):
    server = ScriptedServer(server_context if request.param == "https" else None)
    yield server
    server.close()


# -- reuse -------------------------------------------------------------------

@pytest.mark.parametrize("setup", [
    "a = b = Cloudflare(api_url=URL)",
    "a = Cloudflare(api_url=URL); b = Cloudflare(api_url=URL, api_token='other')",
], ids=["one instance", "two instances"])
def test_consecutive_requests_share_one_connection(qov, server, setup):
    outcome = qov(setup + "\nresult = [a.get('/1'), b.get('/2'), a.get('/3'), b.get('/4')]", URL=server.url)
    assert outcome.value == [(200, "ok")] * 4
    assert [r.path for r in server.received] == ["/1", "/2", "/3", "/4"]
    assert len(set(ports(server))) == 1


@pytest.mark.parametrize("raw_server", [("https", None)], indirect=True, ids=["https"])
def test_a_new_thread_resumes_the_tls_session_of_another_that_trusts_the_same(qov, raw_server, tls, tmp_path):
    copy = tmp_path / "same-ca.pem"
    shutil.copy(tls.ca_file, copy)
    outcome = qov("""
        import os, threading
        c = Cloudflare(api_url=URL)
        result = [c.get("/main")]
        def in_a_new_thread(path):
            worker = threading.Thread(target=lambda: result.append(c.get(path)))
            worker.start()
            worker.join()
        in_a_new_thread("/first-thread")
        in_a_new_thread("/second-thread")
        os.environ["CURL_CA_BUNDLE"] = COPY  # the same CA, another trust source
        in_a_new_thread("/other-trust")
        """, URL=raw_server.url, COPY=str(copy))
    assert outcome.value == [(200, "ok")] * 4
    connections = [number for number, _, _, _ in raw_server.requests]
    assert len(set(connections)) == 4
    assert [raw_server.resumed[number] for number in connections] == [False, True, True, False]


@pytest.mark.parametrize("raw_server", [("https", None)], indirect=True, ids=["https"])
def test_threads_read_a_ca_bundle_once_between_them(qov, raw_server, tls, tmp_path):
    # One store serves every thread: eight first calls read the bundle once,
    # where a store per thread would read it eight times.
    bundle = tmp_path / "bundle.pem"
    bundle.write_bytes(b"text between PEM blocks, which OpenSSL skips\n" * 4096 + tls.ca_file.read_bytes())
    outcome = qov("""
        import threading
        def bytes_read():
            with open("/proc/self/io") as io:
                return int(next(line for line in io if line.startswith("rchar:")).split()[1])
        c = Cloudflare(api_url=URL)
        answers, before = [], bytes_read()
        threads = [threading.Thread(target=lambda: answers.append(c.get("/t"))) for _ in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        result = answers, bytes_read() - before
        """, env={"CURL_CA_BUNDLE": str(bundle)}, URL=raw_server.url)
    answers, read = outcome.value
    assert answers == [(200, "ok")] * 8
    assert bundle.stat().st_size <= read < 2 * bundle.stat().st_size


def test_a_connection_the_server_closes_is_replaced(qov, server):
    server.answer("/closing", close=True)  # says "Connection: close"
    outcome = qov("c = Cloudflare(api_url=URL); result = [c.get(p) for p in ('/a', '/closing', '/b', '/c')]",
                  URL=server.url)
    assert outcome.value == [(200, "ok")] * 4
    a, closing, b, c = ports(server)
    assert a == closing != b == c


@pytest.mark.parametrize("raw_server", [(s, d) for s in ("http", "https") for d in ("fin", "rst")],
                         indirect=True, ids=lambda p: "-".join(p))
def test_a_connection_dropped_without_a_word_is_replaced(qov, raw_server):
    outcome = qov("""
        import time
        c = Cloudflare(api_url=URL)
        c.zone_id = "z"
        result = []
        for call in (lambda: c.get("/one"), lambda: c.get("/two"), c.purge_cache):
            result.append(call())
            time.sleep(0.2)  # the server has dropped the kept-alive connection by now
        """, URL=raw_server.url)
    assert outcome.error is None and outcome.value == [(200, "ok")] * 3
    assert raw_server.requests == [(1, "GET", "/one", b""), (2, "GET", "/two", b""),
                                   (3, "POST", "/zones/z/purge_cache", PURGE_BODY)]


@pytest.mark.parametrize("raw_server", [("http", "request"), ("https", "request")], indirect=True,
                         ids=["http", "https"])
def test_a_robot_message_is_taken_once_when_its_reused_connection_dies(qov, raw_server):
    outcome = qov("""
        import time
        d = DingTalk(TOKEN, SECRET)
        result = [d.send_text("one"), d.send_text("two")]
        time.sleep(3.2)  # the connection has been idle too long to send a message on
        result.append(d.send_text("three"))
        """, env={"QOV_DINGTALK_URL": raw_server.url}, TOKEN=TOKEN, SECRET=SECRET)
    assert outcome.value == ["ok"] * 3
    posted = [(number, json.loads(body)) for number, _, _, body in raw_server.requests]
    # libcurl sent "two" again on a new connection, under the key the robot already took.
    assert [(number, message["text"]["content"]) for number, message in posted] == [
        (1, "one"), (1, "two"), (2, "two"), (3, "three")]
    keys = [message["msgUuid"] for _, message in posted]
    assert keys[1] == keys[2] and len(set(keys)) == 3


# -- nothing of one call reaches the next --------------------------------------

@pytest.mark.parametrize("first, first_method, second, second_method", [
    ("c.change_ssl_model('full')", "PATCH", "c.get('/next')", "GET"),
    ("c.purge_cache()", "POST", "c.get('/next')", "GET"),
    ("c.dns_update_record('r1', 'A', 'www', '192.0.2.1', False, 300)", "PUT", "c.dns_delete_record('r1')", "DELETE"),
    ("d.send_text('hi')", "POST", "c.get('/next')", "GET"),
])
def test_a_method_and_body_do_not_reach_the_next_call(qov, plain, first, first_method, second,
                                                       second_method):
    outcome = qov(f"""
        c = Cloudflare(api_url=URL)
        c.zone_id = "z"
        d = DingTalk(TOKEN, SECRET)
        result = [{first}, {second}]
        """, env={"QOV_DINGTALK_URL": plain.url}, URL=plain.url, TOKEN=TOKEN, SECRET=SECRET)
    assert outcome.error is None
    before, after = plain.received
    assert before.method == first_method and before.body
    assert after.method == second_method and after.body == b""
    assert after.header("Content-Length") is None and after.header("Transfer-Encoding") is None
    # The header lines are the second call's own.
    assert [v for k, v in after.headers if k.lower() == "content-type"] == ["application/json"]
    assert before.client_port == after.client_port  # on the connection the first call left open


@pytest.mark.parametrize("first, second", [
    ("p.get('/proxied')", "c.get('/direct')"),
    ("c.get('/direct')", "p.get('/proxied')"),
    ("p.get('/proxied')", "d.send_text('direct')"),  # no proxy of its own, and no http_proxy
])
def test_a_proxy_of_one_call_is_not_used_by_the_next(qov, server, forward_proxy, first, second):
    outcome = qov(f"""
        p = Cloudflare(api_url=URL, proxy=PROXY)
        c = Cloudflare(api_url=URL)
        d = DingTalk(TOKEN, SECRET)
        result = [{first}, {second}]
        """, env={"QOV_DINGTALK_URL": server.url}, URL=server.url, PROXY=forward_proxy.url,
        TOKEN=TOKEN, SECRET=SECRET)
    assert outcome.value == ["ok" if call.startswith("d.") else (200, "ok") for call in (first, second)]
    proxied, = [r for r in server.received if r.path == "/proxied"]
    direct, = [r for r in server.received if r.path != "/proxied"]
    assert proxied.client_port != direct.client_port
    if server.url.startswith("http:"):
        assert "tinyproxy" in proxied.header("Via") and direct.header("Via") is None
    else:
        port = server.url.rsplit(":", 1)[1]
        assert forward_proxy.log_text().count(f"CONNECT 127.0.0.1:{port}") == 1


def test_http_proxy_and_dingtalk_url_are_read_on_every_call(qov, dingtalk, forward_proxy):
    other = robot_fake()
    try:
        outcome = qov("""
            import os
            d = DingTalk(TOKEN, SECRET)
            result = [d.send_text("direct")]
            mark("proxied")
            os.environ["http_proxy"] = PROXY
            result.append(d.send_text("proxied"))
            mark("direct again")
            del os.environ["http_proxy"]
            result.append(d.send_text("direct again"))
            mark("other webhook")
            os.environ["QOV_DINGTALK_URL"] = OTHER
            result.append(d.send_text("elsewhere"))
            """, env={"QOV_DINGTALK_URL": dingtalk.base_url}, TOKEN=TOKEN, SECRET=SECRET, PROXY=forward_proxy.url,
            OTHER=other.base_url)
        assert outcome.value == [OK] * 4
        vias = [entry.header("Via") for entry in dingtalk.journal]
        assert vias[0] is None and "tinyproxy" in vias[1] and vias[2] is None and len(vias) == 3
        assert [f"proxy: {forward_proxy.url}" in section for section in outcome.sections()] == [
            False, True, False, False]
        assert len(other.journal) == 1
    finally:
        other.stop()


@pytest.mark.parametrize("how", ["switch the variable", "rewrite the file"])
def test_a_changed_ca_file_is_honoured_on_the_next_request(qov, secure, tls, tmp_path, how):
    stranger = make_tls(tmp_path / "stranger")  # a CA that did not sign the server
    bundle = tmp_path / "bundle.pem"
    shutil.copy(tls.ca_file, bundle)
    outcome = qov("""
        import os, shutil
        def trust(ca_file):
            if HOW == "rewrite the file":
                shutil.copy(ca_file, BUNDLE)
            else:
                os.environ["CURL_CA_BUNDLE"] = ca_file
        c = Cloudflare(api_url=URL)
        result = [c.get("/trusted")]
        trust(STRANGER)
        result.append(c.get("/stranger"))
        trust(OURS)
        result.append(c.get("/trusted-again"))
        """, env={"CURL_CA_BUNDLE": str(bundle)}, URL=secure.url, HOW=how, BUNDLE=str(bundle),
        STRANGER=str(stranger.ca_file), OURS=str(tls.ca_file))
    first, refused, again = outcome.value
    assert first == again == (200, "ok")
    assert refused[0] == 60
    assert [r.path for r in secure.received] == ["/trusted", "/trusted-again"]


# -- threads, fork, exit ---------------------------------------------------------

def test_concurrent_calls_from_eight_threads(qov, plain, secure):
    for k in range(8):
        (plain if k < 4 else secure).answer(f"/t{k}/", body=f"thread {k}".encode())
    outcome = qov("""
        import threading
        shared = Cloudflare(api_url=PLAIN)
        answers = {}
        def work(k):
            # Threads 0-3 share one instance; 4-7 each have their own, over HTTPS.
            c = shared if k < 4 else Cloudflare(api_url=SECURE)
            answers[k] = [c.get(f"/t{k}/{i}") for i in range(25)]
        threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        result = answers
        """, PLAIN=plain.url, SECURE=secure.url)
    assert outcome.value == {k: [(200, f"thread {k}")] * 25 for k in range(8)}
    for served, threads in ((plain, range(4)), (secure, range(4, 8))):
        assert len(served.received) == 100
        # Each thread keeps its own connection for all its calls.
        assert [len(set(ports(served, f"/t{k}/"))) for k in threads] == [1] * 4
        assert len(set(ports(served))) == 4


@pytest.mark.parametrize("child", ["requests, then _exit", "requests, then exit", "no requests, then exit"])
def test_fork_child_and_parent_both_keep_working(qov, server, child):
    outcome = qov("""
        import os
        c = Cloudflare(api_url=URL)
        first = c.get("/parent/1")
        mark("fork")
        pid = os.fork()
        if pid == 0:
            code = 2  # an exception
            try:
                answers = [c.get("/child/1"), c.get("/child/2")] if CHILD.startswith("requests") else []
                code = 0 if all(answer == (200, "ok") for answer in answers) else 1
            finally:
                if CHILD.endswith("then exit"):
                    _libc.exit(code)  # runs this thread's C++ destructors, with the handle from the parent
                os._exit(code)
        _, status = os.waitpid(pid, 0)
        result = [first, os.waitstatus_to_exitcode(status), c.get("/parent/2"), c.get("/parent/3")]
        """, URL=server.url, CHILD=child)
    assert outcome.value == [(200, "ok"), 0, (200, "ok"), (200, "ok")]
    parent = ports(server, "/parent/")
    # The child never touched the parent's connection, so it is still there to reuse.
    assert len(parent) == 3 and len(set(parent)) == 1
    children = ports(server, "/child/")
    if child.startswith("requests"):
        assert len(children) == 2 and len(set(children)) == 1 and children[0] != parent[0]
    else:
        assert children == []


@pytest.mark.parametrize("raw_server", [("http", None), ("https", None)], indirect=True, ids=["http", "https"])
def test_a_thread_that_ends_releases_its_connection(qov, raw_server):
    outcome = qov("""
        import threading, time
        def work(k):
            c = Cloudflare(api_url=URL)
            for i in range(3):
                c.get(f"/w{k}/{i}")
        threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        main = Cloudflare(api_url=URL)
        deadline = time.monotonic() + 10
        while True:  # a thread's handle goes when the thread itself has gone, just after join()
            closed = int(main.get("/peer-closed")[1])
            if closed >= 4 or time.monotonic() > deadline:
                break
            time.sleep(0.02)
        result = closed
        """, URL=raw_server.url)
    assert outcome.value == 4
    workers = {number for number, _, path, _ in raw_server.requests if path.startswith("/w")}
    assert len(workers) == 4
    assert len({number for number, _, path, _ in raw_server.requests if path == "/peer-closed"}) == 1


def test_interpreter_exits_cleanly_with_threads_that_made_requests(qov, server):
    server.answer("/slow", delay=0.5)
    outcome = qov("""
        import threading
        c = Cloudflare(api_url=URL)
        ended = [threading.Thread(target=c.get, args=(f"/ended/{k}",)) for k in range(3)]
        for t in ended:
            t.start()
        for t in ended:
            t.join()
        asked = threading.Event()
        def idle_after_a_request():
            c.get("/daemon")
            asked.set()
            threading.Event().wait()
        threading.Thread(target=idle_after_a_request, daemon=True).start()
        asked.wait()
        # Still waiting for its answer when the script ends: the interpreter waits for it.
        threading.Thread(target=c.get, args=("/slow",)).start()
        result = "done"
        """, URL=server.url)
    assert outcome.value == "done" and outcome.returncode == 0
    assert outcome.stderr == ""
    assert sorted(r.path for r in server.received) == ["/daemon", "/ended/0", "/ended/1", "/ended/2", "/slow"]
