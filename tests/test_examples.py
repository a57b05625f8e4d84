"""The scripts in examples/ run against the sandbox's fakes (seeded with the
sandbox's own seed.json, TXT contents quoted as the live service hands them
out), judged by their exit status, their output and the zones afterwards."""
from __future__ import annotations

import http.server
import os
import subprocess
import sys
import threading
from pathlib import Path

import pytest

from conftest import free_port
from qov_sandbox import CloudflareFake, DingTalkFake, read_seed

EXAMPLES = Path(__file__).parent.parent / "examples"
ZONE_COM = "023e105f4ecef8ad9ca31a8372d0c353"  # example.com and example.org in seed.json
ZONE_ORG = "4fa0e9c2b7d15a3e8c6f1d2b9a7e5c30"
# Settings that would send the scripts' requests elsewhere.
_FOREIGN = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "CURL_CA_BUNDLE",
            "QOV_DINGTALK_URL", "CLOUDFLARE_API_URL", "CLOUDFLARE_API_TOKEN", "DINGTALK_ROBOT_TOKEN",
            "DINGTALK_ROBOT_SECRET")


class Sandbox:
    """Both fakes, seeded as `python -m qov_sandbox` seeds them, and the
    environment that the sandbox prints for them."""

    def __init__(self) -> None:
        seed = read_seed()
        self.cloudflare = CloudflareFake(tokens=(), txt_quoted=True, seed=seed).start()
        self.dingtalk = DingTalkFake(robots={}).start()
        self.dingtalk.load_seed(seed)
        (self.robot, self.secret), = self.dingtalk.robots.items()
        self.env = {k: v for k, v in os.environ.items() if k not in _FOREIGN}
        self.env.update(CLOUDFLARE_API_URL=self.cloudflare.api_url, CLOUDFLARE_API_TOKEN=self.cloudflare.tokens[0],
                        QOV_DINGTALK_URL=self.dingtalk.base_url, DINGTALK_ROBOT_TOKEN=self.robot,
                        DINGTALK_ROBOT_SECRET=self.secret)

    def run(self, script: str, *args: str, **env: str) -> subprocess.CompletedProcess[str]:
        return subprocess.run([sys.executable, str(EXAMPLES / script), *args], env={**self.env, **env},
                              capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)

    def records(self, zone_id: str, name: str) -> list[tuple[str, str]]:
        return sorted((r["type"], r["content"]) for r in self.cloudflare.records(zone_id) if r["name"] == name)

    def stop(self) -> None:
        self.cloudflare.stop()
        self.dingtalk.stop()


@pytest.fixture
def sandbox():
    services = Sandbox()
    yield services
    services.stop()


def test_demo_does_every_step_and_shows_the_trace(sandbox):
    done = sandbox.run("demo.py")
    assert done.returncode == 0, done.stdout + done.stderr
    assert "Every step did what it said" in done.stdout

    assert sandbox.records(ZONE_COM, "demo.example.com") == [("A", "192.0.2.81")]
    assert sandbox.records(ZONE_COM, "_acme-challenge.example.com") == []
    assert sandbox.cloudflare.settings(ZONE_COM)["always_use_https"] == "on"
    assert sandbox.cloudflare.purges(ZONE_COM) == 1
    [message] = sandbox.dingtalk.messages
    assert message["msgtype"] == "markdown" and "192.0.2.81" in message["markdown"]["text"]

    lines = done.stdout.splitlines()
    assert "Authorization: Bearer ****" in lines and "test-token" not in done.stdout
    assert sandbox.robot not in done.stdout  # the access_token is masked in the URL line
    # Each step's account, then the module's lines for it, then the outcome.
    step3 = lines.index("== 3. Ensure A demo.example.com -> 192.0.2.80: expect it to be created")
    post = next(i for i, line in enumerate(lines) if line.startswith("http_method: post"))
    created = next(i for i, line in enumerate(lines) if line.startswith("   ok: created A demo.example.com"))
    assert step3 < post < created


def test_demo_fails_when_the_service_refuses(sandbox):
    done = sandbox.run("demo.py", DINGTALK_ROBOT_SECRET="not-the-robots-secret")
    assert done.returncode == 1
    assert "FAILED: the robot refused" in done.stdout and "310000" in done.stdout
    assert sandbox.dingtalk.messages == []


class _AddressEcho(http.server.BaseHTTPRequestHandler):
    def do_GET(self) -> None:  # noqa: N802 - the handler's protocol
        body = b"fl=1f1\nip=198.51.100.9\nts=1700000000\n"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args) -> None:
        pass


def test_ddns_update_creates_keeps_updates_and_alerts(sandbox):
    name = "home.example.com"
    alerts = lambda: [m["text"]["content"] for m in sandbox.dingtalk.messages]  # noqa: E731

    done = sandbox.run("ddns_update.py", name, "203.0.113.7")
    assert done.returncode == 0, done.stderr
    assert sandbox.records(ZONE_COM, name) == [("A", "203.0.113.7")]
    assert alerts() == ["DDNS: A home.example.com now points to 203.0.113.7"]

    done = sandbox.run("ddns_update.py", name, "203.0.113.7")
    assert done.returncode == 0 and "is already 203.0.113.7" in done.stdout
    assert len(alerts()) == 1
    assert [e.method for e in sandbox.cloudflare.journal].count("POST") == 1  # nothing written the second time

    echo = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _AddressEcho)
    threading.Thread(target=echo.serve_forever, daemon=True).start()
    try:
        done = sandbox.run("ddns_update.py", name, "--lookup-url", f"http://127.0.0.1:{echo.server_port}/trace")
    finally:
        echo.shutdown()
        echo.server_close()
    assert done.returncode == 0, done.stderr
    assert sandbox.records(ZONE_COM, name) == [("A", "198.51.100.9")]
    assert alerts()[-1] == "DDNS: A home.example.com now points to 198.51.100.9"

    for _ in range(2):  # a dual-stack host keeps both records; the second run writes nothing
        done = sandbox.run("ddns_update.py", "Home.Example.com.", "198.51.100.9", "2001:db8::9")
        assert done.returncode == 0, done.stderr
    assert sandbox.records(ZONE_COM, name) == [("A", "198.51.100.9"), ("AAAA", "2001:db8::9")]
    assert "is already 2001:db8::9" in done.stdout and len(alerts()) == 3


def test_ddns_update_reports_a_name_outside_every_zone(sandbox):
    done = sandbox.run("ddns_update.py", "home.example.net", "203.0.113.7")
    assert done.returncode == 1 and "no zone of this account holds home.example.net" in done.stderr
    assert [m["text"]["content"] for m in sandbox.dingtalk.messages][0].startswith("DDNS: home.example.net could not")


def test_acme_hook_sets_and_cleans_only_its_own_value(sandbox):
    name = "_acme-challenge.example.org"
    seeded = ("TXT", "sandbox-challenge-token")
    env = dict(CERTBOT_DOMAIN="example.org", ACME_PROPAGATION_SECONDS="0")

    # example.org and *.example.org: two challenges under one name at once.
    for value in ("challenge-one", "challenge-two"):
        done = sandbox.run("acme_dns01_hook.py", "set", CERTBOT_VALIDATION=value, **env)
        assert done.returncode == 0, done.stdout + done.stderr
    assert sandbox.records(ZONE_ORG, name) == sorted([seeded, ("TXT", "challenge-one"), ("TXT", "challenge-two")])

    done = sandbox.run("acme_dns01_hook.py", "set", CERTBOT_VALIDATION="challenge-one", **env)  # a rerun
    assert done.returncode == 0 and "already published" in done.stdout, done.stdout + done.stderr
    assert len(sandbox.records(ZONE_ORG, name)) == 3

    # Without an argument the hook cleans up when certbot passes the auth output.
    done = sandbox.run("acme_dns01_hook.py", CERTBOT_VALIDATION="challenge-one", CERTBOT_AUTH_OUTPUT="", **env)
    assert done.returncode == 0 and "removed" in done.stdout
    assert sandbox.records(ZONE_ORG, name) == sorted([seeded, ("TXT", "challenge-two")])

    done = sandbox.run("acme_dns01_hook.py", "clean", CERTBOT_VALIDATION="challenge-one", **env)
    assert done.returncode == 0 and "no TXT" in done.stdout
    assert sandbox.records(ZONE_ORG, name) == sorted([seeded, ("TXT", "challenge-two")])


# A service that cannot be reached: each script says so and exits, without a
# traceback; an alert that cannot be delivered does not undo a DNS update.
@pytest.mark.parametrize("script, args, unreachable, status", [
    ("ddns_update.py", ["home.example.com", "203.0.113.7"], "QOV_DINGTALK_URL", 0),
    ("ddns_update.py", ["home.example.com", "203.0.113.7"], "CLOUDFLARE_API_URL", 1),
    ("acme_dns01_hook.py", ["set"], "CLOUDFLARE_API_URL", 1),
    ("demo.py", [], "CLOUDFLARE_API_URL", 1),
    ("demo.py", [], "QOV_DINGTALK_URL", 1),
])
def test_examples_survive_a_transport_failure(sandbox, script, args, unreachable, status):
    env = {unreachable: f"http://127.0.0.1:{free_port()}", "CERTBOT_DOMAIN": "example.org",
           "CERTBOT_VALIDATION": "v", "ACME_PROPAGATION_SECONDS": "0"}
    done = sandbox.run(script, *args, **env)
    assert done.returncode == status and "Traceback" not in done.stderr, done.stdout + done.stderr
    assert "Couldn't connect to server" in done.stdout + done.stderr
    if script == "ddns_update.py" and status == 0:
        assert sandbox.records(ZONE_COM, "home.example.com") == [("A", "203.0.113.7")]


def test_acme_hook_finds_the_zone_of_a_subdomain(sandbox):
    env = dict(CERTBOT_DOMAIN="www.example.com", CERTBOT_VALIDATION="v", ACME_PROPAGATION_SECONDS="0")
    assert sandbox.run("acme_dns01_hook.py", "set", **env).returncode == 0
    assert sandbox.records(ZONE_COM, "_acme-challenge.www.example.com") == [("TXT", "v")]
