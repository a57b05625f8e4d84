"""Signed webhook URLs as the robot webhook receives them: the fake verifies
every signature on its own, so a wrong key, text or escaping is refused."""
import time

import pytest

from conftest import free_port
from dingtalk_fixtures import (HEADER_LINE, OK, OTHER_SECRET, OTHER_TOKEN, SECRET, TOKEN, expected_signing,
                               robot_fake, send, signing_of)


def test_signature_is_accepted_and_matches_an_independent_signer(qov, any_dingtalk):
    before = int(time.time()) * 1000
    outcome = send(qov, any_dingtalk, 'send_text("hi")')
    after = int(time.time()) * 1000
    assert outcome.value == OK
    signing = signing_of(outcome.lines)
    assert before <= signing.timestamp <= after and signing.timestamp % 1000 == 0
    assert signing == expected_signing(SECRET, signing.timestamp)
    assert len(signing.base64) == 44 and signing.escaped.endswith("%3D")
    [request] = any_dingtalk.journal
    # One timestamp serves the trace, the signing text and the URL.
    assert (request.url_path, request.query) == (
        "/robot/send", f"access_token={TOKEN}&timestamp={signing.timestamp}&sign={signing.escaped}")
    assert SECRET not in outcome.stdout


@pytest.mark.parametrize("secret, robots_secret, reply", [
    ("wrong-secret", SECRET, "sign not match"),
    (SECRET[:-1], SECRET, "sign not match"),
    (SECRET + "\n", SECRET, "sign not match"),
    ("", SECRET, "sign not match"),
    ("", "", '"errcode":0'),  # an empty secret signs like any other
    ("日本語の秘密", "日本語の秘密", '"errcode":0'),  # the key is the secret's UTF-8 bytes
])
def test_the_fake_accepts_only_the_robots_own_secret(qov, dingtalk, secret, robots_secret, reply):
    dingtalk.add_robot(TOKEN, robots_secret)
    outcome = send(qov, dingtalk, 'send_text("hi")', secret=secret)
    assert reply in outcome.value
    assert len(dingtalk.journal) == 1
    assert len(dingtalk.messages) == (1 if reply == '"errcode":0' else 0)
    if reply == "sign not match":
        assert '"errcode":310000' in outcome.value


@pytest.mark.parametrize("token, in_url", [
    ("", ""), ("abc_DEF-123", "abc_DEF-123"), ("id.with~tilde", "id.with~tilde"), ("a%2Bb", "a%252Bb"),
    ("a&timestamp=1#x", "a%26timestamp%3D1%23x"),  # cannot add a query key or cut the query short
])
def test_token_is_percent_encoded_in_the_url_and_masked_in_the_trace(qov, dingtalk, token, in_url):
    outcome = send(qov, dingtalk, 'send_text("hi")', token=token)
    [request] = dingtalk.journal
    assert request.query.startswith(f"access_token={in_url}&timestamp=")
    assert request.params["access_token"] == token
    method_line = next(line for line in outcome.lines if line.startswith("http_method: "))
    assert f"?access_token=****&timestamp={signing_of(outcome.lines).timestamp}&sign=" in method_line
    if token:
        assert token not in outcome.stdout


def test_changed_credentials_reach_the_new_robot(qov, dingtalk):
    outcome = send(qov, dingtalk, 'send_text("two")', setup="""
        first = d.send_text("one")
        d.token = OTHER_TOKEN
        d.secret = OTHER_SECRET
        """, OTHER_TOKEN=OTHER_TOKEN, OTHER_SECRET=OTHER_SECRET)
    assert outcome.value == OK
    assert [entry.params["access_token"] for entry in dingtalk.journal] == [TOKEN, OTHER_TOKEN]
    assert [m["text"]["content"] for m in dingtalk.messages] == ["one", "two"]


def test_token_changed_alone_signs_with_the_old_secret(qov, dingtalk):
    outcome = send(qov, dingtalk, 'send_text("two")', setup="d.token = OTHER_TOKEN", OTHER_TOKEN=OTHER_TOKEN)
    assert '"errcode":310000' in outcome.value
    assert [entry.params["access_token"] for entry in dingtalk.journal] == [OTHER_TOKEN]


def test_endpoint_variable_is_read_at_every_send(qov, dingtalk, tls):
    second = robot_fake(tls)
    try:
        outcome = send(qov, dingtalk, 'send_text("two")', setup="""
            import os
            first = d.send_text("one")
            os.environ["QOV_DINGTALK_URL"] = SECOND
            """, SECOND=second.base_url)
    finally:
        second.stop()
    assert outcome.value == OK
    assert [m["text"]["content"] for m in dingtalk.messages] == ["one"]
    assert [m["text"]["content"] for m in second.messages] == ["two"]


def test_default_endpoint_is_the_dingtalk_service(qov):
    # A proxy that refuses connections keeps the request off the network while
    # the method line still shows where it was going.
    dead = f"http://127.0.0.1:{free_port()}"
    outcome = send(qov, None, 'send_text("hi")', env={"http_proxy": dead, "QOV_DINGTALK_URL": None})
    signing = signing_of(outcome.lines)
    assert outcome.lines[4:7] == [
        HEADER_LINE,
        f"proxy: {dead}",
        f"http_method: post url: https://oapi.dingtalk.com/robot/send?access_token=****"
        f"&timestamp={signing.timestamp}&sign={signing.escaped}",
    ]
    assert outcome.value == outcome.lines[-1].removeprefix("Result: ")
    assert outcome.value.startswith("Couldn't connect")


def test_http_proxy_carries_the_robots_requests(qov, dingtalk, forward_proxy):
    outcome = send(qov, dingtalk, 'send_text("hi")', env={"http_proxy": forward_proxy.url})
    assert outcome.value == OK
    assert f"proxy: {forward_proxy.url}" in outcome.lines
    assert not any(line.startswith("user_proxy:") for line in outcome.lines)
    assert "tinyproxy" in dingtalk.journal[0].header("Via")
