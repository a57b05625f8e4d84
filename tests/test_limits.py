"""Living within the services' limits: a request tried again after a 429 or a
transient failure, the time-out and retry settings, and DingTalk's pace."""
import re

import pytest

from dingtalk_fixtures import SECRET, TOKEN
from qov_sandbox import CloudflareFake

ZONED = "c.zone_id = 'z1'\n"


@pytest.mark.parametrize("call, answers, settings, status, requests, retries", [
    # 429 with Retry-After in seconds: that wait, then the same request again.
    ("c.get('/x')", [dict(status=429, headers={"Retry-After": "1"}), {}], "", 200, 2,
     ["retry: 429, waiting 1 s (attempt 2 of 3)"]),
    # Retry-After as an HTTP date in the past: no wait.
    ("c.get('/x')", [dict(status=429, headers={"Retry-After": "Sun, 06 Nov 1994 08:49:37 GMT"}), {}], "", 200, 2,
     ["retry: 429, waiting 0 s (attempt 2 of 3)"]),
    # A wait over 60 s is not made: the 429 comes back at once.
    ("c.get('/x')", [dict(status=429, headers={"Retry-After": "120"})], "", 429, 1, []),
    ("c.get('/x')", [dict(status=429, headers={"Retry-After": "Wed, 01 Jan 3000 00:00:00 GMT"})], "", 429, 1, []),
    # Without Retry-After: the back-off, 1 s and a little spread.
    ("c.get('/x')", [dict(status=429), {}], "", 200, 2, ["retry: 429, waiting 1"]),
    # 429 means not processed: a POST is tried again too.
    (ZONED + "c.purge_cache()", [dict(status=429, headers={"Retry-After": "0"}), {}], "", 200, 2,
     ["retry: 429, waiting 0 s (attempt 2 of 3)"]),
    # Tries used up: the last answer stands.
    (ZONED + "c.change_ssl_model('full')", [dict(status=503, headers={"Retry-After": "0"})], "", 503, 3,
     ["retry: 503, waiting 0 s (attempt 2 of 3)", "retry: 503, waiting 0 s (attempt 3 of 3)"]),
    # A transient failure of a POST leaves its outcome unknown: not repeated.
    (ZONED + "c.purge_cache()", [dict(status=503, headers={"Retry-After": "0"}), {}], "", 503, 1, []),
    # Nor after a reset connection, while a PUT is.
    (ZONED + "c.dns_create_record('A', 'h.example.com', '192.0.2.1', False, 1)", [dict(reset=True), {}], "",
     "failed", 1, []),
    (ZONED + "c.dns_update_record('r1', 'A', 'h.example.com', '192.0.2.1', False, 1)", [dict(reset=True), {}], "",
     200, 2, ["retry: curl error 5"]),  # 52 or 56: closed with nothing, or reset
    # max_retries=0 turns retrying off.
    ("c.get('/x')", [dict(status=429, headers={"Retry-After": "1"}), {}], ", max_retries=0", 429, 1, []),
])
def test_requests_are_tried_again_as_the_answer_allows(qov, plain_server, call, answers, settings, status, requests,
                                                        retries):
    plain_server.answer_in_turn("/", *answers)
    *setup, last = call.split("\n")
    outcome = qov(f"""
        c = Cloudflare(api_url=URL{settings})
        {"; ".join(setup) or "pass"}
        result = {last}
        """, URL=plain_server.url)
    got = outcome.value[0]
    assert (got if status != "failed" else got in (52, 56) and "failed") == status, outcome.value
    assert len(plain_server.received) == requests
    assert len({(r.method, r.path, r.body) for r in plain_server.received}) == 1  # the same request each time
    traced = [line for line in outcome.lines if line.startswith("retry: ")]
    assert len(traced) == len(retries)
    assert all(line.startswith(want) for line, want in zip(traced, retries, strict=True)), traced


def test_a_retry_waits_for_retry_after_and_traces_the_request_again(qov, plain_server):
    plain_server.answer_in_turn("/", dict(status=429, headers={"Retry-After": "1"}), dict(body=b"done"))
    outcome = qov("""
        import time
        c = Cloudflare(api_url=URL)
        started = time.monotonic()
        result = c.get('/x'), time.monotonic() - started
        """, URL=plain_server.url)
    (status, body), seconds = outcome.value
    assert (status, body) == (200, "done") and 0.9 < seconds < 3
    method_line = f"http_method: get url: {plain_server.url}/x"
    assert outcome.lines.count(method_line) == 2
    assert outcome.lines.index("retry: 429, waiting 1 s (attempt 2 of 3)") == outcome.lines.index(method_line) + 1


def test_a_script_slows_down_before_its_quota_runs_out(qov):
    # 10 requests a second: each time one is left, the next request waits for the window to end.
    with CloudflareFake(tokens=("t",), rate_limit=10, rate_window=1) as fake:
        outcome = qov("""
            c = Cloudflare(api_token="t", api_url=URL)
            result = [c.get("/zones")[0] for _ in range(30)]
            """, URL=fake.api_url)
    assert outcome.value == [200] * 30
    waits = [line for line in outcome.lines if line.startswith(("ratelimit: ", "retry: "))]
    assert len(waits) == 3 and all(re.fullmatch(r"ratelimit: waiting (0\.\d|1) s \(1 request left\)", line)
                                   for line in waits), waits


@pytest.mark.parametrize("cls, setting, value, error", [
    ("Cloudflare", "timeout", -1, "ValueError"), ("Cloudflare", "timeout", float("nan"), "ValueError"),
    ("Cloudflare", "timeout", "30", "TypeError"), ("Cloudflare", "max_retries", -1, "ValueError"),
    ("Cloudflare", "max_retries", 1.5, "TypeError"), ("DingTalk", "timeout", float("inf"), "ValueError"),
    ("DingTalk", "per_minute", -1, "ValueError"), ("DingTalk", "per_minute", None, "TypeError"),
    ("Cloudflare", "trace", 1, "TypeError"), ("DingTalk", "trace", "stdout", "TypeError"),
])
def test_bad_settings_are_refused_when_set(qov, cls, setting, value, error):
    outcome = qov("""
        errors = []
        instance = globals()[CLS]()
        for attempt in (lambda: globals()[CLS](**{SETTING: VALUE}), lambda: setattr(instance, SETTING, VALUE)):
            try:
                attempt()
            except Exception as failure:
                errors.append(type(failure).__name__)
        result = errors, getattr(instance, SETTING)
        """, CLS=cls, SETTING=setting, VALUE=value)
    errors, kept = outcome.value
    assert errors == [error, error]
    assert kept == {"timeout": 30.0, "max_retries": 2, "per_minute": 20, "trace": True}[setting]


def test_sends_over_the_robots_pace_wait_across_threads_and_ctrl_c_ends_the_wait(qov, dingtalk):
    outcome = qov("""
        import os, signal, threading, time
        first = DingTalk(TOKEN, SECRET, per_minute=1)
        sender = threading.Thread(target=first.send_text, args=("one",))
        sender.start()
        sender.join()
        second = DingTalk(TOKEN, SECRET, per_minute=1)  # another object and thread, the same robot: the same pace
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        started = time.monotonic()
        try:
            second.send_text("two")
        except KeyboardInterrupt:
            result = time.monotonic() - started
        """, env={"QOV_DINGTALK_URL": dingtalk.base_url}, TOKEN=TOKEN, SECRET=SECRET)
    assert 0.4 < outcome.value < 1.5
    assert len(dingtalk.journal) == 1
    [pacing] = [line for line in outcome.lines if line.startswith("pacing: ")]
    assert re.fullmatch(r"pacing: waiting (59\.\d|60) s \(1 a minute per robot\)", pacing)
    assert outcome.lines[-1] == pacing  # nothing signed or sent after it
