"""Trace lines go through Python's sys.stdout: in order with the script's own
output in a pipe, caught by contextlib.redirect_stdout, and dropped without
harm to the request when sys.stdout is None or cannot be written."""
import pytest

from cloudflare_fixtures import TOKEN, transport_lines
from dingtalk_fixtures import HEADER_LINE, OK, SECRET, TOKEN as ROBOT, keyless, signing_of


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
    assert [keyless(lines[9]), *lines[10:]] == ['Data: { "msgtype": "text", "text": { "content": "hi" } }',
                                                HEADER_LINE, lines[11], f"Result: {OK}", "after"]
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
