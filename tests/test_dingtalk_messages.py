"""send_text and send_markdown end to end against the robot webhook fake: the
bytes posted, the trace lines in order, the reply handed back, and the error
paths, which print and send nothing."""
import json

import pytest

from conftest import free_port
from dingtalk_fixtures import HEADER_LINE, OK, SECRET, expected_signing, keyless, send, signing_of, traced_url

TEXT_HI = '{ "msgtype": "text", "text": { "content": "hi" } }'


def markdown_body(title: str, text: str, mobiles: str = "[ ]") -> str:
    return (f'{{ "msgtype": "markdown", "markdown": {{ "title": "{title}", "text": "{text}" }}, '
            f'"at": {{ "isAtAll": false, "atMobiles": {mobiles} }} }}')


def test_send_text_posts_the_body_and_prints_its_trace(qov, any_dingtalk):
    outcome = send(qov, any_dingtalk, 'send_text("hi")')
    assert outcome.value == OK
    signing = signing_of(outcome.lines)
    assert [keyless(line) for line in outcome.lines] == [
        f"Timestamp: {signing.timestamp}",
        f"Output (base64): {signing.base64}",
        f"Encoded: {signing.escaped}",
        f"Data: {TEXT_HI}",
        HEADER_LINE,
        f"http_method: post url: {traced_url(any_dingtalk, signing.timestamp, signing.escaped)}",
        f"Result: {OK}",
    ]
    [request] = any_dingtalk.journal
    assert (request.method, keyless(request.body)) == ("POST", TEXT_HI.encode())
    assert f"Data: {request.body.decode()}" in outcome.lines  # the key traced is the key sent
    assert request.header("Content-Type") == "application/json;charset=utf-8"
    [message] = any_dingtalk.messages
    assert message == {"msgtype": "text", "text": {"content": "hi"}, "msgUuid": message["msgUuid"]}


def test_send_markdown_with_mobiles_prints_everything_in_order(qov, any_dingtalk):
    outcome = send(qov, any_dingtalk, 'send_markdown("Deploy", "**done**", ["13800000000", "13900000000"])')
    assert outcome.value == OK
    signing = signing_of(outcome.lines[1:])
    assert signing == expected_signing(SECRET, signing.timestamp)
    body = markdown_body("Deploy", "**done**", '[ "13800000000", "13900000000" ]')
    assert [keyless(line) for line in outcome.lines] == [
        "At: @13800000000 @13900000000 ",
        f"Timestamp: {signing.timestamp}",
        f"Output (base64): {signing.base64}",
        f"Encoded: {signing.escaped}",
        "send markdown: Deploy",
        "send markdown: **done**",
        f"Data: {body}",
        HEADER_LINE,
        f"http_method: post url: {traced_url(any_dingtalk, signing.timestamp, signing.escaped)}",
        f"Result: {OK}",
    ]
    [request] = any_dingtalk.journal
    assert keyless(request.body) == body.encode()
    # The mentions go only into atMobiles: the text is posted as passed.
    assert any_dingtalk.messages[0]["markdown"]["text"] == "**done**"


@pytest.mark.parametrize("extra, at_line, mobiles", [
    ("", None, "[ ]"),
    (", []", "At: ", "[ ]"),
    (', ["1"]', "At: @1 ", '[ "1" ]'),
    (', ["b", "a", "b"]', "At: @b @a @b ", '[ "b", "a", "b" ]'),
    (', [type("Mobile", (str,), {})("x")]', "At: @x ", '[ "x" ]'),  # str subclasses are strings
])
def test_markdown_mobiles(qov, dingtalk, extra, at_line, mobiles):
    outcome = send(qov, dingtalk, f'send_markdown("t", "x"{extra})')
    assert outcome.value == OK
    assert [line for line in outcome.lines if line.startswith("At:")] == ([at_line] if at_line else [])
    assert keyless(dingtalk.journal[0].body) == markdown_body("t", "x", mobiles).encode()


@pytest.mark.parametrize("given, written", [
    ('say "hi"', r'say \"hi\"'),
    ("back\\slash", r"back\\slash"),
    ("a/b </script>", r"a\/b <\/script>"),
    ("line one\nline two\r\n", r"line one\nline two\r\n"),
    ("tab\there\x01", r"tab\there\u0001"),
    ("café 中文 😀", "café 中文 😀"),  # UTF-8 passes through unescaped
])
def test_json_escaping_of_text_and_markdown(qov, dingtalk, given, written):
    outcome = send(qov, dingtalk, "send_markdown(GIVEN, GIVEN)", setup="first = d.send_text(GIVEN)", GIVEN=given)
    assert outcome.value == OK
    text, markdown = (keyless(entry.body.decode()) for entry in dingtalk.journal)
    assert text == '{ "msgtype": "text", "text": { "content": "' + written + '" } }'
    assert markdown == markdown_body(written, written)
    assert dingtalk.messages[0]["text"]["content"] == given  # the service reads back what was given
    assert dingtalk.messages[1]["markdown"] == {"title": given, "text": given}


def test_empty_content_is_posted_as_such(qov, dingtalk):
    outcome = send(qov, dingtalk, 'send_text("")')
    assert keyless(dingtalk.journal[0].body) == b'{ "msgtype": "text", "text": { "content": "" } }'
    assert json.loads(outcome.value)["errcode"] == 40035  # the service wants some content


# The reply is a RobotReply, equal to the text: .ok only for the robot's errcode 0.
@pytest.mark.parametrize("status, body, ok, errcode, errmsg", [
    (200, OK, True, 0, "ok"),
    (200, '{"errcode":310000,"errmsg":"sign not match"}', False, 310000, "sign not match"),
    (200, "plain text, not JSON", False, None, None),
    (302, "", False, None, None),
    (404, '{"errcode":404,"errmsg":"not found"}', False, 404, "not found"),
    (500, "Internal Server Error", False, None, None),
    (503, "維護中", False, None, None),
])
def test_reply_comes_back_as_text_whatever_its_status(qov, dingtalk, status, body, ok, errcode, errmsg):
    dingtalk.reply_with(status, body)
    outcome = send(qov, dingtalk, 'send_text("hi")')
    assert outcome.error is None
    assert outcome.value == body and type(outcome.value).__name__ == "RobotReply"
    reply = outcome.value
    assert (reply.ok, reply.errcode, reply.errmsg, reply.status) == (ok, errcode, errmsg, status)
    assert outcome.lines[-1] == f"Result: {body}"


def test_reply_that_is_not_utf8_raises_the_decoding_error(qov, dingtalk):
    dingtalk.reply_with(200, b'{"errmsg":"caf\xe9"}')
    outcome = send(qov, dingtalk, 'send_text("hi")')
    assert outcome.error[0] == "UnicodeDecodeError"
    assert outcome.lines[-1].startswith("Result: ")  # printed before the text is made


def test_transport_failure_comes_back_as_libcurls_text(qov):
    outcome = send(qov, None, 'send_text("hi")', env={"QOV_DINGTALK_URL": f"http://127.0.0.1:{free_port()}"})
    assert outcome.value == "Couldn't connect to server"
    assert (outcome.value.ok, outcome.value.errcode, outcome.value.status) == (False, None, 7)
    assert outcome.lines[-1] == "Result: Couldn't connect to server"


@pytest.mark.parametrize("setup, call, error", [
    ("", "send_text()", ("TypeError", None)),
    ("", "send_text(5)", ("TypeError", None)),
    ("", "send_text(None)", ("TypeError", None)),
    ("", 'send_text("a", "b")', ("TypeError", None)),
    ("", 'send_text("a\\0b")', ("ValueError", None)),
    ("", 'send_text("\\udc80")', ("UnicodeEncodeError", None)),
    ("", 'send_markdown("t")', ("TypeError", None)),
    ("", 'send_markdown("t", b"x")', ("TypeError", None)),
    ("", 'send_markdown("t", "x", None)', ("TypeError", "mobiles should be a list of str, not NoneType")),
    ("", 'send_markdown("t", "x", ("1",))', ("TypeError", "mobiles should be a list of str, not tuple")),
    ("", 'send_markdown("t", "x", "123")', ("TypeError", "mobiles should be a list of str, not str")),
    ("", 'send_markdown("t", "x", ["1", 2])', ("TypeError", "list items must be strings.")),
    ("", 'send_markdown("t", "x", [None])', ("TypeError", "list items must be strings.")),
    ("", 'send_markdown("t", "x", ["1", "\\udc80"])', ("UnicodeEncodeError", None)),
    ("", 'send_markdown("t", "x", ["\\udc80", 2])', ("TypeError", "list items must be strings.")),  # types first
    ("del d.token", 'send_text("hi")', ("TypeError", "token should be a str, not a deleted attribute")),
    ("del d.secret", 'send_markdown("t", "x")', ("TypeError", "secret should be a str, not a deleted attribute")),
    ("d.secret = b'key'", 'send_text("hi")', ("TypeError", "secret should be a str, not bytes")),
    ("d.token = 42", 'send_markdown("t", "x", ["1"])', ("TypeError", "token should be a str, not int")),
    ("d.token = '\\udc80'", 'send_text("hi")', ("UnicodeEncodeError", None)),
    ("d.secret = '\\ud800'", 'send_markdown("t", "x", [])', ("UnicodeEncodeError", None)),
    ("d.token = 'a\\0b'", 'send_text("hi")', ("ValueError", "token must not contain NUL characters")),
    ("d.secret = 'a\\0b'", 'send_text("hi")', ("ValueError", "secret must not contain NUL characters")),
])
def test_errors_print_and_send_nothing(qov, dingtalk, setup, call, error):
    outcome = send(qov, dingtalk, call, setup=setup)
    kind, message = error
    assert outcome.error is not None and outcome.error[0] == kind
    if message is not None:
        assert outcome.error[1] == message
    assert outcome.stdout == ""
    assert dingtalk.journal == []


def test_errors_leave_the_instance_usable(qov, dingtalk):
    outcome = send(qov, dingtalk, 'send_markdown("t", "x", ["1"])', setup="""
        for bad in ([1], None):
            try:
                d.send_markdown("t", "x", bad)
            except TypeError:
                pass
        """)
    assert outcome.value == OK
    assert len(dingtalk.journal) == 1
