"""Trace lines go through Python's sys.stdout by default: in order with the
script's own output in a pipe, caught by contextlib.redirect_stdout, and
dropped without harm to the request when sys.stdout is None or cannot be
written. An object's trace setting sends them to a stream or a logger instead,
or nowhere."""
import re

import pytest

from cloudflare_fixtures import TOKEN, transport_lines
from dingtalk_fixtures import HEADER_LINE, OK, SECRET, TOKEN as ROBOT, keyless, signing_of

TEXT_HI = '{ "msgtype": "text", "text": { "content": "hi" } }'


def test_trace_keeps_its_place_in_a_buffered_pipe(qov, cloudflare, dingtalk):
    outcome = qov("""
        print("before")
        Cloudflare(api_token=TOKEN, api_url=URL).get("/zones")
        print("between")
        DingTalk(ROBOT, SECRET).send_text("hi")
        print("after")
        """, env={"PYTHONUNBUFFERED": None, "QOV_DINGTALK_URL": dingtalk.base_url}, TOKEN=TOKEN,
                  URL=cloudflare.api_url, ROBOT=ROBOT, SECRET=SECRET)
    lines = outcome.lines
    assert lines[:6] == ["before", *transport_lines("GET", cloudflare.api_url + "/zones"), "between"]
    signing = signing_of(lines[6:])
    assert [keyless(lines[9]), *lines[10:]] == ["Data: " + TEXT_HI, HEADER_LINE, lines[11], f"Result: {OK}", "after"]
    assert lines[11].startswith("http_method: post url: ") and str(signing.timestamp) in lines[11]


def test_redirect_stdout_captures_the_trace(qov, cloudflare):
    outcome = qov("""
        import contextlib, io
        captured = io.StringIO()
        with contextlib.redirect_stdout(captured):
            status = Cloudflare(api_token=TOKEN, api_url=URL).get("/zones")[0]
        result = status, captured.getvalue()
        """, TOKEN=TOKEN, URL=cloudflare.api_url)
    status, captured = outcome.value
    assert status == 200 and outcome.stdout == ""
    assert captured.splitlines() == transport_lines("GET", cloudflare.api_url + "/zones")


@pytest.mark.parametrize("stream", [
    "None",
    "type('Broken', (), {'write': lambda self, text: 1 / 0})()",
    "object()",  # no write at all
])
def test_a_stdout_that_takes_no_trace_changes_nothing(qov, cloudflare, dingtalk, stream):
    outcome = qov(f"""
        import sys
        saved, sys.stdout = sys.stdout, {stream}
        try:
            got = Cloudflare(api_token=TOKEN, api_url=URL).get("/zones")[0], DingTalk(ROBOT, SECRET).send_text("hi")
        finally:
            sys.stdout = saved
        result = got
        """, env={"QOV_DINGTALK_URL": dingtalk.base_url}, TOKEN=TOKEN, URL=cloudflare.api_url, ROBOT=ROBOT,
                  SECRET=SECRET)
    assert outcome.value == (200, OK)
    assert outcome.stdout == "" and outcome.stderr == ""
    assert len(cloudflare.journal) == 1 and len(dingtalk.messages) == 1


def steady(line: str) -> str:
    """The line without what changes between two rounds: the path, the signing time and signature, the message key."""
    line = re.sub(r"^(Timestamp|Output \(base64\)|Encoded): .*|/t\d$", r"\1: ...", line)
    return keyless(re.sub(r"timestamp=\d+&sign=[^&\s]*", "timestamp=...&sign=...", line))


def test_trace_goes_where_each_object_says_masked_alike(qov, plain_server):
    destinations = ("True", "stream", "logger", "False", "None")
    for n in range(len(destinations)):
        plain_server.answer_in_turn(f"/t{n}", dict(status=429, headers={"Retry-After": "0"}), {})
    outcome = qov("""
        import io, logging
        records = []
        class Keep(logging.Handler):
            def emit(self, record):
                records.append((record.levelname, record.getMessage()))
        logger = logging.getLogger("ops.dns")
        logger.setLevel(logging.DEBUG)
        logger.addHandler(Keep())
        logger.propagate = False
        stream = io.StringIO()
        answers = []
        for n, trace in enumerate((True, stream, logger, False, None)):
            mark(n)
            c = Cloudflare(api_token="t0ken", api_url=URL, trace=trace)
            d = DingTalk("r0bot", "secret", trace=trace)
            answers.append((c.get(f"/t{n}"), d.send_text("hi"), c.trace is trace and d.trace is trace))
        result = answers, stream.getvalue(), records
        """, env={"QOV_DINGTALK_URL": plain_server.url}, URL=plain_server.url.replace("//", "//ops:s3cret@"))
    answers, streamed, records = outcome.value
    assert answers == [((200, "ok"), "ok", True)] * len(destinations)
    before, printed, *silent = outcome.sections()
    assert before == [] and silent == [[]] * (len(destinations) - 1)  # only True writes to standard output
    assert "retry: 429, waiting 0 s (attempt 2 of 3)" in printed and "Data: " + TEXT_HI in map(keyless, printed)
    expected = [steady(line) for line in printed]
    assert [steady(line) for line in streamed.splitlines()] == expected and streamed.endswith("\n")
    assert [(level, steady(line)) for level, line in records] == [
        ("WARNING" if line.startswith("retry: ") else "DEBUG", line) for line in expected]
    for secret in ("s3cret", "t0ken", "r0bot"):
        assert secret not in outcome.stdout + streamed + repr(records)
