"""`python -m qov_sandbox` on its own: it starts from a seed file, prints the
settings to use, serves HTTP or HTTPS with a CA file it names, journals each
request, and stops with status 0 on Ctrl-C or SIGTERM."""
from __future__ import annotations

import json
import os
import queue
import signal
import ssl
import subprocess
import sys
import threading
import time
import urllib.request
from pathlib import Path
from urllib.error import URLError

import pytest

from qov_sandbox import dingtalk_sign

SANDBOX_DIR = str(Path(__file__).parent.parent / "sandbox")
SEED = {
    "cloudflare": {
        "tokens": ["seed-token"],
        "zones": [{"name": "sandbox.test", "id": "0123456789abcdef0123456789abcdef",
                   "records": [{"type": "A", "name": "www", "content": "192.0.2.7"}]}],
    },
    "dingtalk": {"robots": {"seed-robot": "seed-secret"}},
}


class SandboxProcess:
    def __init__(self, *args: str) -> None:
        env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
        env["PYTHONPATH"] = os.pathsep.join([SANDBOX_DIR, env.get("PYTHONPATH", "")])  # this tree's sandbox
        self.process = subprocess.Popen([sys.executable, "-m", "qov_sandbox", *args], env=env, text=True,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self._lines: queue.Queue[str | None] = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.settings: dict[str, str] = {}
        while (line := self.next_line()) != "ready":
            if "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                self.settings[key] = value

    def _read(self) -> None:
        for line in self.process.stdout:
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)

    def next_line(self, timeout: float = 30) -> str:
        line = self._lines.get(timeout=timeout)
        if line is None:
            raise AssertionError(f"the sandbox ended with status {self.process.wait()}")
        return line

    def stop(self, signum: int) -> tuple[int, list[str]]:
        """Sends the signal; returns the exit status and the lines printed meanwhile."""
        self.process.send_signal(signum)
        status = self.process.wait(timeout=30)
        rest = []
        while (line := self._lines.get(timeout=5)) is not None:
            rest.append(line)
        return status, rest

    def kill(self) -> None:
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def seed_file(tmp_path):
    path = tmp_path / "seed.json"
    path.write_text(json.dumps(SEED))
    return path


def fetch(url: str, context: ssl.SSLContext | None = None, **headers: str):
    with urllib.request.urlopen(urllib.request.Request(url, headers=headers), context=context, timeout=10) as reply:
        return json.loads(reply.read())


def test_http_sandbox_serves_its_seed_journals_and_stops_on_ctrl_c(seed_file):
    sandbox = SandboxProcess("--seed", str(seed_file))
    try:
        settings = sandbox.settings
        assert settings["CLOUDFLARE_API_URL"].startswith("http://127.0.0.1:")
        assert settings["CLOUDFLARE_API_TOKEN"] == "seed-token"
        assert (settings["DINGTALK_ROBOT_TOKEN"], settings["DINGTALK_ROBOT_SECRET"]) == ("seed-robot", "seed-secret")
        assert "CURL_CA_BUNDLE" not in settings

        zones = fetch(settings["CLOUDFLARE_API_URL"] + "/zones?name=sandbox.test", Authorization="Bearer seed-token")
        assert [z["id"] for z in zones["result"]] == ["0123456789abcdef0123456789abcdef"]
        records = fetch(settings["CLOUDFLARE_API_URL"] + "/zones/0123456789abcdef0123456789abcdef/dns_records",
                        Authorization="Bearer seed-token")
        assert [(r["name"], r["content"]) for r in records["result"]] == [("www.sandbox.test", "192.0.2.7")]
        assert sandbox.next_line() == "[cloudflare] GET /client/v4/zones?name=sandbox.test -> 200"
        sandbox.next_line()

        with pytest.raises(URLError):  # a token the seed does not hold
            fetch(settings["CLOUDFLARE_API_URL"] + "/zones", Authorization="Bearer other")
        assert sandbox.next_line() == "[cloudflare] GET /client/v4/zones -> 403 error 9109: Invalid access token"

        timestamp = 1000 * int(time.time())
        sign = urllib.request.quote(dingtalk_sign("seed-secret", timestamp), safe="")
        request = urllib.request.Request(
            f"{settings['QOV_DINGTALK_URL']}/robot/send?access_token=seed-robot&timestamp={timestamp}&sign={sign}",
            data=b'{"msgtype": "text", "text": {"content": "hi"}}', headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as reply:
            assert json.loads(reply.read()) == {"errcode": 0, "errmsg": "ok"}
        assert sandbox.next_line().endswith("-> 200 errcode=0 ok")

        status, rest = sandbox.stop(signal.SIGINT)
        assert status == 0 and rest == ["# stopped"]
    finally:
        sandbox.kill()


@pytest.mark.parametrize("where", ["named", "temporary"])
def test_https_sandbox_writes_and_names_its_ca_file(seed_file, tmp_path, where):
    args = ["--ca-file", str(tmp_path / "ca" / "sandbox-ca.pem")] if where == "named" else ["--https"]
    sandbox = SandboxProcess("--seed", str(seed_file), *args)
    try:
        ca_file = Path(sandbox.settings["CURL_CA_BUNDLE"])
        if where == "named":
            assert ca_file == (tmp_path / "ca" / "sandbox-ca.pem").resolve()
        assert ca_file.is_file()
        url = sandbox.settings["CLOUDFLARE_API_URL"]
        assert url.startswith("https://127.0.0.1:") and sandbox.settings["QOV_DINGTALK_URL"].startswith("https://")

        trusted = ssl.create_default_context(cafile=str(ca_file))
        assert fetch(url + "/zones", trusted, Authorization="Bearer seed-token")["success"] is True
        with pytest.raises(URLError, match="CERTIFICATE_VERIFY_FAILED"):
            fetch(url + "/zones", ssl.create_default_context(), Authorization="Bearer seed-token")

        status, rest = sandbox.stop(signal.SIGTERM)
        assert status == 0 and rest[-1] == "# stopped"
        assert ca_file.is_file() == (where == "named")  # a temporary CA goes with the sandbox
    finally:
        sandbox.kill()
