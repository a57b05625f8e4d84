"""Fixtures for the DingTalk tests: the robot webhook fake, which checks every
signature itself, over HTTP and HTTPS, and helpers that run a client of it
and split its trace lines."""
from __future__ import annotations

import re
import textwrap
from dataclasses import dataclass
from urllib.parse import quote

import pytest

from qov_sandbox import DingTalkFake, dingtalk_sign

TOKEN = "robot-token"
SECRET = "SEC0f1e2d3c4b5a69788796a5b4c3d2e1f0"
OTHER_TOKEN = "other-robot"
OTHER_SECRET = "SEC-other-secret"
HEADER_LINE = "Content-Type: application/json;charset=utf-8"
OK = '{"errcode":0,"errmsg":"ok"}'


_KEY = re.compile(r', "msgUuid": "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}" }$')


def keyless(text):
    """A posted body (str or bytes), or its Data line, without the message key
    every send adds as its last member; other lines pass unchanged."""
    if isinstance(text, bytes):
        return keyless(text.decode()).encode()
    return _KEY.sub(" }", text)


def robot_fake(tls=None) -> DingTalkFake:
    """A started webhook that knows TOKEN and OTHER_TOKEN; the caller stops it."""
    return DingTalkFake(robots={TOKEN: SECRET, OTHER_TOKEN: OTHER_SECRET}, tls=tls).start()


@pytest.fixture
def dingtalk():
    """A fresh robot webhook over plain HTTP that knows TOKEN and OTHER_TOKEN."""
    fake = robot_fake()
    yield fake
    fake.stop()


@pytest.fixture(params=["http", "https"])
def any_dingtalk(request, tls):
    """The same webhook over HTTP and over HTTPS (the child trusts the test CA)."""
    fake = robot_fake(tls if request.param == "https" else None)
    yield fake
    fake.stop()


def send(qov, fake: DingTalkFake | None, call: str, setup: str = "", env: dict | None = None,
         token: str = TOKEN, secret: str = SECRET, **variables):
    """Runs `result = d.<call>` with `d = DingTalk(token, secret)` pointed at `fake`."""
    scenario = "\n".join(["d = DingTalk(TOKEN, SECRET)", textwrap.dedent(setup), f"result = d.{call}"])
    child_env = {"QOV_DINGTALK_URL": fake.base_url} if fake is not None else {}
    child_env.update(env or {})
    return qov(scenario, env=child_env, TOKEN=token, SECRET=secret, **variables)


@dataclass
class Signing:
    """The three lines a signing prints, read back."""
    timestamp: int
    base64: str
    escaped: str


def signing_of(lines: list[str]) -> Signing:
    """Reads the Timestamp / Output (base64) / Encoded lines that start `lines`."""
    stamp, output, encoded = lines[:3]
    assert stamp.startswith("Timestamp: ")
    assert output.startswith("Output (base64): ")
    assert encoded.startswith("Encoded: ")
    return Signing(int(stamp.removeprefix("Timestamp: ")), output.removeprefix("Output (base64): "),
                   encoded.removeprefix("Encoded: "))


def expected_signing(secret: str, timestamp: int) -> Signing:
    """What an independent signer makes of `timestamp`: curl's escaping keeps only
    letters, digits and -._~, as quote() with no safe characters does."""
    base64 = dingtalk_sign(secret, timestamp)
    return Signing(timestamp, base64, quote(base64, safe=""))


def traced_url(fake: DingTalkFake, timestamp: int, escaped: str) -> str:
    """The URL in the transport's method line: the token shown as ****."""
    return f"{fake.base_url}/robot/send?access_token=****&timestamp={timestamp}&sign={escaped}"
