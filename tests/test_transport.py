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


def test_redirects_are_followed(qov, plain_server):
    plain_server.answer("/client/v4/old", status=302, body=b"", headers={"Location": "/client/v4/new"})
    plain_server.answer("/client/v4/new", status=201, body=b"moved")
    assert get(qov, plain_server, "/old").value == (201, "moved")


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


@pytest.mark.parametrize("ca_bundle", [None, ""])
def test_unknown_certificate_authority_is_refused(qov, tls_server, ca_bundle):
    outcome = get(qov, tls_server, env={"CURL_CA_BUNDLE": ca_bundle})
    assert outcome.value[0] == 60
    assert "certificate" in outcome.value[1]
    assert tls_server.received == []


def test_certificate_name_is_checked(qov, tls_server):
    # The certificate names 127.0.0.1 and localhost, not this other loopback address.
    url = tls_server.url.replace("127.0.0.1", "127.0.0.2")
    outcome = qov("result = Cloudflare(api_url=URL).get()", URL=url)
    if outcome.value[0] == 7:
        pytest.skip("127.0.0.2 is not routed on this machine")
    assert outcome.value[0] == 60


def test_unreachable_host_gives_libcurls_code_and_text(qov):
    from conftest import free_port
    outcome = qov("result = Cloudflare(api_url=URL).get('/x')", URL=f"http://127.0.0.1:{free_port()}")
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


def test_a_server_that_does_not_finish_in_30_seconds_times_out(qov, plain_server):
    plain_server.answer("/", delay=33)
    outcome = get(qov, plain_server)
    assert outcome.value[0] == 28


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
