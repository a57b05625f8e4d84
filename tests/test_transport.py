"""One request end to end through the Cloudflare request layer and the transport:
trace lines, the answer tuple, TLS verification, proxies, limits."""
import pytest

DEFAULT_PATH = "/zones?page=1&per_page=20&order=status&direction=desc&match=all"


def get(qov, server, *args, token="secret-token", env=None, proxy=None):
    """Calls Cloudflare.get against `server` and returns the outcome."""
    return qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL, **({"proxy": PROXY} if PROXY is not None else {}))
        result = c.get(*ARGS)
        """, env=env, TOKEN=token, URL=server.url + "/client/v4", ARGS=args, PROXY=proxy)


def test_get_default_path_traces_and_tuple(qov, any_server):
    any_server.answer("/", body=b'{"success": true}')
    outcome = get(qov, any_server)
    url = any_server.url + "/client/v4" + DEFAULT_PATH
    assert outcome.value == (200, '{"success": true}')
    assert outcome.lines == [
        "Content-Type: application/json",
        "Authorization: Bearer ****",
        "user_proxy: ",
        f"http_method: get url: {url}",
    ]
    [received] = any_server.received
    assert (received.method, received.path, received.body) == ("GET", "/client/v4" + DEFAULT_PATH, b"")
    assert received.header("Authorization") == "Bearer secret-token"  # the real token is sent
    assert received.header("Content-Type") == "application/json"


@pytest.mark.parametrize("args, path", [
    (("",), "/client/v4"),
    (("/zones/abc",), "/client/v4/zones/abc"),
    (("zones",), "/client/v4zones"),
])
def test_get_joins_the_path_to_the_base_url(qov, plain_server, args, path):
    get(qov, plain_server, *args)
    assert [r.path for r in plain_server.received] == [path]


@pytest.mark.parametrize("args", [(1,), (None,), ("/a", "/b"), ("/a\0",)])
def test_get_argument_errors_send_nothing(qov, plain_server, args):
    outcome = get(qov, plain_server, *args)
    assert outcome.error[0] in ("TypeError", "ValueError")
    assert outcome.lines == [] and plain_server.received == []


@pytest.mark.parametrize("status, body, expected", [
    (403, b'{"success":false}', '{"success":false}'),
    (200, b"", ""),
    (200, b"before\0after", "before"),
    (500, b"caf\xe9 \xff", "caf\ufffd \ufffd"),
])
def test_answers_come_back_as_status_and_text(qov, plain_server, status, body, expected):
    plain_server.answer("/", status=status, body=body)
    assert get(qov, plain_server).value == (status, expected)


def test_token_is_sent_in_its_str_form(qov, plain_server):
    qov("c = Cloudflare(api_url=URL); c.api_token = 12345; result = c.get()", URL=plain_server.url)
    assert plain_server.received[0].header("Authorization") == "Bearer 12345"


@pytest.mark.parametrize("token", ["a\r\nX-Injected: 1", "a\nb", "a\rb", "a\0b"])
def test_tokens_that_would_inject_header_lines_are_refused(qov, plain_server, token):
    outcome = qov("c = Cloudflare(api_url=URL); c.api_token = TOKEN; result = c.get()",
                  URL=plain_server.url, TOKEN=token)
    assert outcome.error[0] == "ValueError" and "api_token" in outcome.error[1]
    assert outcome.lines == [] and plain_server.received == []


@pytest.mark.parametrize("scenario, error", [
    ("c = Cloudflare(api_url=URL); del c.api_token", "AttributeError"),
    ("c = Cloudflare(api_url=URL); del c.api_url", "AttributeError"),
    ("c = Cloudflare(api_url=URL, api_token='\\ud800')", "UnicodeEncodeError"),
    ("c = Cloudflare(api_url=URL + '\\udcff')", "UnicodeEncodeError"),
    ("c = Cloudflare(api_url=URL, proxy='\\ud800')", "UnicodeEncodeError"),
])
def test_fields_that_cannot_become_a_request_raise_before_anything_is_sent(qov, plain_server, scenario, error):
    outcome = qov(scenario + "\nresult = c.get()", URL=plain_server.url)
    assert outcome.error[0] == error
    assert outcome.lines == [] and plain_server.received == []


@pytest.fixture(scope="module")
def trust_sources(tls, tmp_path_factory):
    """The test CA and a stranger's, each as a file and as a hashed directory, and
    a CA of another name as a file."""
    import shutil
    import subprocess

    from qov_sandbox.tls import make_tls
    folder = tmp_path_factory.mktemp("trust")
    sources = {"ours": str(tls.ca_file), "stranger": str(make_tls(folder / "stranger").ca_file),
               "unrelated": str(folder / "unrelated.pem")}
    # Every CA make_tls creates has the same name, so a stranger's in the file would
    # hide ours in the directory: this one is named otherwise.
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=unrelated CA", "-keyout", str(folder / "unrelated.key"), "-out", sources["unrelated"]],
                   check=True, capture_output=True)
    for name in ("ours", "stranger"):
        directory = folder / f"{name}-dir"
        directory.mkdir()
        shutil.copy(sources[name], directory / "ca.pem")
        subprocess.run(["openssl", "rehash", str(directory)], check=True, capture_output=True)
        sources[f"{name}-dir"] = str(directory)
    (folder / "not-pem.txt").write_text("no certificate here\n")
    sources.update({None: None, "": "", "missing": str(folder / "missing.pem"), "not-pem": str(folder / "not-pem.txt")})
    return sources


@pytest.mark.parametrize("curl_ca_bundle, ssl_cert_file, ssl_cert_dir, status", [
    ("ours", "stranger", "stranger-dir", 200),  # CURL_CA_BUNDLE comes first
    ("stranger", "ours", "ours-dir", 60),        # ... and is then the only source
    (None, "ours", None, 200),
    (None, "stranger", None, 60),
    (None, "unrelated", None, 60),
    (None, None, "ours-dir", 200),
    (None, None, "stranger-dir", 60),
    (None, "ours", "stranger-dir", 200),         # both variables count: the file ...
    (None, "unrelated", "ours-dir", 200),        # ... and the directory
    ("", "ours", "", 200),                       # empty counts as unset
    (None, None, None, 60),                      # the system's store does not hold the test CA
    ("", "", "", 60),
    ("missing", "ours", None, 77),               # a file that cannot be loaded is an error ...
    (None, "not-pem", "ours-dir", 77),           # ... even beside a directory that would do
    (None, None, "missing", 60),                 # a missing directory merely holds nothing
])
def test_trust_comes_from_the_first_source_set(qov, tls_server, trust_sources, curl_ca_bundle, ssl_cert_file,
                                               ssl_cert_dir, status):
    env = {"CURL_CA_BUNDLE": trust_sources[curl_ca_bundle], "SSL_CERT_FILE": trust_sources[ssl_cert_file],
           "SSL_CERT_DIR": trust_sources[ssl_cert_dir]}
    outcome = get(qov, tls_server, env=env)
    if status != 200:
        assert outcome.value == (status, {60: "SSL peer certificate or SSH remote key was not OK",
                                          77: "Problem with the SSL CA cert (path? access rights?)"}[status])
        assert tls_server.received == []
    else:
        assert outcome.value == (200, "ok")


def test_certificate_name_is_checked(qov, tls_server):
    # The certificate names 127.0.0.1 and localhost, not this other loopback address.
    url = tls_server.url.replace("127.0.0.1", "127.0.0.2")
    outcome = qov("result = Cloudflare(api_url=URL, max_retries=0).get()", URL=url)
    if outcome.value[0] == 7:
        pytest.skip("127.0.0.2 is not routed on this machine")
    assert outcome.value[0] == 60


def test_unreachable_host_gives_libcurls_code_and_text(qov):
    from conftest import free_port
    outcome = qov("result = Cloudflare(api_url=URL, max_retries=0).get('/x')",
                  URL=f"http://127.0.0.1:{free_port()}")
    assert outcome.value == (7, "Couldn't connect to server")
    assert outcome.lines[-1].startswith("http_method: get url: http://127.0.0.1:")  # traced before the attempt


def test_http_proxy_variable_is_shown_but_cloudflare_connects_directly(qov, plain_server, forward_proxy):
    outcome = get(qov, plain_server, env={"http_proxy": forward_proxy.url})
    assert outcome.value == (200, "ok")
    assert outcome.lines[2:4] == [f"proxy: {forward_proxy.url}", "user_proxy: "]
    assert plain_server.received[0].header("Via") is None
    assert plain_server.url.removeprefix("http://") not in forward_proxy.log_text()


def test_constructor_proxy_carries_http_requests(qov, plain_server, forward_proxy):
    outcome = get(qov, plain_server, proxy=forward_proxy.url)
    assert outcome.value == (200, "ok")
    assert f"user_proxy: {forward_proxy.url}" in outcome.lines
    assert "tinyproxy" in plain_server.received[0].header("Via")


def test_constructor_proxy_tunnels_https_requests(qov, tls_server, forward_proxy):
    outcome = get(qov, tls_server, proxy=forward_proxy.url)
    assert outcome.value == (200, "ok")
    port = tls_server.url.rsplit(":", 1)[1]
    assert f"CONNECT 127.0.0.1:{port}" in forward_proxy.log_text()


def test_other_threads_run_while_a_request_waits(qov, plain_server):
    plain_server.answer("/", delay=1.5)
    outcome = qov("""
        import threading, time
        ticks = []
        stop = threading.Event()
        def tick():
            while not stop.is_set():
                ticks.append(1)
                time.sleep(0.01)
        worker = threading.Thread(target=tick)
        worker.start()
        answer = Cloudflare(api_url=URL).get()
        stop.set()
        worker.join()
        result = (answer, len(ticks))
        """, URL=plain_server.url)
    answer, ticks = outcome.value
    assert answer == (200, "ok")
    assert ticks > 50  # about 150 while the lock is free; at most 1 if the call kept it


def test_a_server_that_does_not_finish_in_time_times_out(qov, plain_server):
    plain_server.answer("/", delay=3)
    outcome = qov("""
        c = Cloudflare(api_url=URL, timeout=0.5, max_retries=0)
        result = c.timeout, c.get()
        """, URL=plain_server.url)
    assert outcome.value == (0.5, (28, "Timeout was reached"))


def test_proxy_passwords_are_masked_in_the_trace(qov, plain_server, forward_proxy):
    with_credentials = forward_proxy.url.replace("http://", "http://ops:s3cret@")
    outcome = get(qov, plain_server, proxy=with_credentials, env={"http_proxy": with_credentials})
    assert outcome.value == (200, "ok")
    masked = forward_proxy.url.replace("http://", "http://ops:****@")
    assert outcome.lines[2:4] == [f"proxy: {masked}", f"user_proxy: {masked}"]
    assert "s3cret" not in outcome.stdout


def test_interpreter_exit_with_daemon_threads_inside_requests(qov, tls_server):
    # Threads still waiting for an answer when the interpreter shuts down are
    # ended by it once the answer comes; that must not abort the process.
    tls_server.answer("/", delay=0.3)
    for _ in range(5):
        qov("""
            import threading, time
            c = Cloudflare(api_url=URL)
            for _ in range(4):
                threading.Thread(target=lambda: c.get("/slow"), daemon=True).start()
            time.sleep(0.1)
            """, URL=tls_server.url)  # the runner fails the test on a non-zero exit


# -- limits on what a server can make the client do -------------------------------

MiB = 1024 * 1024


@pytest.mark.parametrize("shape, mebibytes", [("length", 70), ("chunked", 70), ("endless", 0)])
def test_a_body_past_64_mib_ends_the_transfer_within_bounded_memory(qov, shape, mebibytes):
    from socket_servers import StreamingServer
    server = StreamingServer(shape, mebibytes)
    try:
        outcome = qov("""
            def status(key):
                with open("/proc/self/status") as lines:
                    return next(int(line.split()[1]) * 1024 for line in lines if line.startswith(key))
            before = status("VmRSS:")
            answer = Cloudflare(api_url=URL).get("/big")
            with open("/proc/self/maps") as maps:
                sanitized = "libasan" in maps.read()  # its allocator keeps freed blocks aside
            result = (answer, status("VmHWM:") - before, sanitized)
            """, URL=server.url)
    finally:
        server.close()
    answer, peak_growth, sanitized = outcome.value
    assert answer == (63, "Maximum file size exceeded")
    # The kept bytes, plus what the allocator keeps of the smaller blocks they outgrew.
    assert sanitized or peak_growth < 3 * 64 * MiB


@pytest.mark.parametrize("how, url", [
    ("api_url", "file:///etc/hostname#"), ("api_url", "ftp://127.0.0.1:9/"), ("api_url", "gopher://127.0.0.1:9/"),
    ("api_url", "dict://127.0.0.1:9/"), ("redirect", "file:///etc/hostname"), ("redirect", "ftp://127.0.0.1:9/"),
])
def test_only_http_and_https_urls_are_requested(qov, plain_server, how, url):
    plain_server.answer("/away", status=302, body=b"", headers={"Location": url})
    api_url = url if how == "api_url" else plain_server.url
    outcome = qov("result = Cloudflare(api_url=URL).get('/away')", URL=api_url)
    assert outcome.value == (1, "Unsupported protocol")


def test_a_redirect_loop_ends_after_ten_redirects(qov, plain_server):
    plain_server.answer("/client/v4/loop", status=302, body=b"", headers={"Location": "/client/v4/loop"})
    assert get(qov, plain_server, "/loop").value == (47, "Number of redirects hit maximum amount")
    assert len(plain_server.received) == 11  # the request and ten redirects


def test_a_get_follows_redirects_but_its_authorization_header_stays_on_its_host(qov, plain_server, tls_server):
    # The other host is another port of the same address: libcurl tells hosts apart by port too.
    plain_server.answer("/client/v4/here", status=302, body=b"", headers={"Location": "/client/v4/also-here"})
    plain_server.answer("/client/v4/also-here", status=201, body=b"moved")
    plain_server.answer("/client/v4/there", status=302, body=b"",
                        headers={"Location": tls_server.url + "/elsewhere"})
    assert get(qov, plain_server, "/here").value == (201, "moved")
    assert get(qov, plain_server, "/there").value == (200, "ok")
    [here, also_here, _] = plain_server.received
    assert here.header("Authorization") == also_here.header("Authorization") == "Bearer secret-token"
    [elsewhere] = tls_server.received
    assert elsewhere.path == "/elsewhere" and elsewhere.header("Authorization") is None


@pytest.mark.parametrize("call, method", [
    ("c.dns_update_record('r1', 'A', 'www', '192.0.2.1', False, 300)", "PUT"),
    ("c.change_ssl_model('full')", "PATCH"),
    ("c.dns_delete_record('r1')", "DELETE"),
    ("c.purge_cache()", "POST"),
])
@pytest.mark.parametrize("status", [301, 302, 307])
def test_a_write_is_never_replayed_by_a_redirect(qov, plain_server, tls_server, call, method, status):
    plain_server.answer("/zones/z/", status=status, body=b"moved",
                        headers={"Location": tls_server.url + "/zones/z/elsewhere"})
    outcome = qov(f"c = Cloudflare(api_url=URL); c.zone_id = 'z'; result = {call}", URL=plain_server.url)
    assert outcome.value == (status, "moved")  # the answer as it came, not a success from elsewhere
    assert [r.method for r in plain_server.received] == [method]
    assert tls_server.received == []


def test_credentials_in_the_api_url_are_masked_in_the_trace(qov, plain_server):
    url = plain_server.url.replace("http://", "http://ops:s3cret@") + "/client/v4"
    outcome = qov("result = Cloudflare(api_url=URL).get('/x')", URL=url)
    assert outcome.value == (200, "ok")
    assert outcome.lines[-1] == "http_method: get url: " + url.replace("s3cret", "****") + "/x"
    assert "s3cret" not in outcome.stdout


# -- Ctrl-C ------------------------------------------------------------------

@pytest.mark.parametrize("call", ["c.get('/slow')", "d.send_text('hi')"])
def test_ctrl_c_ends_a_request_of_the_main_thread_but_no_other(qov, plain_server, call):
    plain_server.answer("/slow", delay=10)
    plain_server.answer("/robot/send", delay=10)
    plain_server.answer("/worker", delay=1.5)
    outcome = qov(f"""
        import os, signal, threading, time
        c = Cloudflare(api_url=URL)
        d = DingTalk("token", "secret")
        worker_answer = []
        worker = threading.Thread(target=lambda: worker_answer.append(c.get("/worker")))
        worker.start()
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        began = time.monotonic()
        try:
            {call}
            ended = "answered"
        except KeyboardInterrupt:
            ended = "KeyboardInterrupt"
        waited = time.monotonic() - began
        mark("after")
        worker.join()
        result = (ended, waited, worker_answer, c.get("/next"))
        """, env={"QOV_DINGTALK_URL": plain_server.url}, URL=plain_server.url)
    ended, waited, worker_answer, following = outcome.value
    assert ended == "KeyboardInterrupt"
    assert waited < 5  # not the server's 10 s, nor the 30 s time-out
    assert worker_answer == [(200, "ok")] and following == (200, "ok")
    assert not any(line.startswith("Result:") for line in outcome.lines)  # nothing after the interrupt


# A trace line that blocks (a log shipper, a full pipe) when Ctrl-C comes:
# the KeyboardInterrupt raised inside the write ends the call.
@pytest.mark.parametrize("call", ["c.get('/slow')", "d.send_text('hi')"])
def test_ctrl_c_during_a_slow_trace_write_ends_the_request(qov, plain_server, call):
    plain_server.answer("/slow", delay=10)
    plain_server.answer("/robot/send", delay=10)
    outcome = qov(f"""
        import os, signal, sys, threading, time
        class SlowWriter:
            def write(self, text):
                if text.startswith("http_method"):
                    time.sleep(2)
                return sys.__stdout__.write(text)
        c = Cloudflare(api_url=URL, timeout=5)
        d = DingTalk("token", "secret", timeout=5)
        sys.stdout = SlowWriter()
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        began = time.monotonic()
        try:
            {call}
            ended = "answered"
        except KeyboardInterrupt:
            ended = "KeyboardInterrupt"
        sys.stdout = sys.__stdout__
        result = ended, time.monotonic() - began
        """, env={"QOV_DINGTALK_URL": plain_server.url}, URL=plain_server.url)
    ended, waited = outcome.value
    assert ended == "KeyboardInterrupt" and waited < 4  # not the 5 s time-out
    assert not any(line.startswith("Result:") for line in outcome.lines)


def test_a_signal_handler_that_does_not_raise_lets_the_request_go_on(qov, plain_server):
    plain_server.answer("/slow", delay=1.5)
    outcome = qov("""
        import os, signal, threading
        caught = []
        signal.signal(signal.SIGINT, lambda number, frame: caught.append(number))
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        result = (Cloudflare(api_url=URL).get("/slow"), caught)
        """, URL=plain_server.url)
    assert outcome.value == ((200, "ok"), [2])
