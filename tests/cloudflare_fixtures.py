"""Fixtures for the Cloudflare operation tests: the stateful fake of the
service over HTTP and HTTPS, a fresh one per test with a small known zone
set, and helpers for the trace lines every request prints."""
from __future__ import annotations

import textwrap

import pytest

from qov_sandbox import CloudflareFake

TOKEN = "test-token"
ZONE = "example.com"
ZONE_ID = "023e105f4ecef8ad9ca31a8372d0c353"
OTHER_ZONE = "example.org"
OTHER_ZONE_ID = "0b3e105f4ecef8ad9ca31a8372d0c999"
LOOKUP = "/zones?page=1&per_page=20&order=status&direction=desc&match=all&name="

# The records of example.com; their ids are fixed so tests can address them.
RECORDS = [
    dict(id="1" * 32, type="A", name="@", content="192.0.2.10"),
    dict(id="2" * 32, type="A", name="www", content="192.0.2.11", proxied=True),
    dict(id="3" * 32, type="CNAME", name="blog", content="www.example.com"),
    dict(id="4" * 32, type="MX", name="@", content="mail.example.com", priority=20),
    dict(id="5" * 32, type="TXT", name="@", content="v=spf1 a&b #c +d é"),
]


class Clock:
    """A hand-moved monotonic clock for the fakes' limits."""

    def __init__(self) -> None:
        self.now = 1000.0

    def __call__(self) -> float:
        return self.now


def _seeded(tls=None) -> CloudflareFake:
    fake = CloudflareFake(tokens=(TOKEN,), tls=tls).start()
    fake.add_zone(ZONE, id=ZONE_ID)
    fake.add_zone(OTHER_ZONE, id=OTHER_ZONE_ID)
    for record in RECORDS:
        fake.add_record(ZONE_ID, **record)
    return fake


@pytest.fixture
def cloudflare():
    """A fresh fake over plain HTTP, seeded with example.com and example.org."""
    fake = _seeded()
    yield fake
    fake.stop()


@pytest.fixture(params=["http", "https"])
def any_cloudflare(request, tls):
    """The same fake over HTTP and over HTTPS (the child trusts the test CA)."""
    fake = _seeded(tls if request.param == "https" else None)
    yield fake
    fake.stop()


def transport_lines(method: str, url: str) -> list[str]:
    """The trace lines the transport prints for one request of the client."""
    return ["Content-Type: application/json", "Authorization: Bearer ****", "user_proxy: ",
            f"http_method: {method.lower()} url: {url}"]


def requests_seen(fake: CloudflareFake) -> list[tuple[str, str]]:
    """(method, raw path with query) of every request the fake received."""
    return [(entry.method, entry.path) for entry in fake.journal]


def run_client(qov, fake: CloudflareFake, scenario: str, setup: str = "", **variables):
    """Runs `setup` and then `scenario` with `c`, a client of `fake`, already made."""
    scenario = "\n".join(["c = Cloudflare(api_token=TOKEN, api_url=URL)", setup, textwrap.dedent(scenario)])
    return qov(scenario, TOKEN=TOKEN, URL=fake.api_url, **variables)
