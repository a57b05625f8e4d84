"""A repaired wheel as a user gets it. scripts/test-wheels.sh runs this inside
a fresh virtual environment that holds only the wheel and the test runner;
anywhere else it is skipped.

The sandbox and the examples run as a user runs them: `python -m qov_sandbox
--https` from the wheel, and each example as a script, trusting the
sandbox's throwaway CA."""
from __future__ import annotations

import importlib.metadata
import json
import os
import re
import shutil
import subprocess
import sys
import threading
from pathlib import Path

import pytest

import _qov

BUNDLED = Path(_qov.__file__).with_name("qov.libs")
EXAMPLES = Path(__file__).parent.parent / "examples"
ZONE_ORG = "4fa0e9c2b7d15a3e8c6f1d2b9a7e5c30"  # example.org in the sandbox's seed

pytestmark = pytest.mark.skipif(
    not BUNDLED.is_dir(),
    reason="needs _qov from a repaired wheel (bash scripts/build-wheels.sh && bash scripts/test-wheels.sh)")

# Settings that would send requests elsewhere or choose what TLS trusts.
_FOREIGN = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "CURL_CA_BUNDLE",
            "SSL_CERT_FILE", "SSL_CERT_DIR", "QOV_DINGTALK_URL", "CLOUDFLARE_API_URL", "CLOUDFLARE_API_TOKEN",
            "DINGTALK_ROBOT_TOKEN", "DINGTALK_ROBOT_SECRET", "PYTHONPATH")


def run_python(*args: str, env: dict[str, str], cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, *args], check=False, env=env, cwd=cwd, capture_output=True, text=True,
                          timeout=120, stdin=subprocess.DEVNULL)


def library_of(path: Path) -> str:
    """libcurl for the system's libcurl.so.4 and for a bundled libcurl-1a2b3c4d.so.4.8.0."""
    return re.sub(r"-[0-9a-f]{8}$", "", path.name.split(".so")[0])


def test_the_bundled_libraries_are_the_ones_loaded(tmp_path):
    probe = "import _qov, json; print(json.dumps([line.split()[-1] for line in open('/proc/self/maps')]))"
    done = run_python("-I", "-c", probe, env=dict(os.environ), cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    mapped = {Path(path) for path in json.loads(done.stdout) if ".so" in path}
    for library in ("libcurl", "libjson-c", "libssl", "libcrypto"):
        found = {path for path in mapped if library_of(path) == library}
        assert found and {path.parent for path in found} == {BUNDLED}, (library, found)


def test_every_bundled_library_has_its_copyright_and_licence():
    distribution = importlib.metadata.distribution("qov")
    licences = next(f for f in distribution.files if f.name == "METADATA").locate().parent / "licenses"
    listed = distribution.metadata.get_all("License-File") or []
    assert "LICENSE" in listed
    assert sorted(listed) == sorted(str(p.relative_to(licences)) for p in licences.rglob("*") if p.is_file())
    covered: list[str] = []
    for name in (name for name in listed if name.startswith("qov.libs/")):
        header, _, text = (licences / name).read_text().partition("\n\n")
        for line in header.splitlines():
            library = re.fullmatch(r"Library: qov\.libs/(\S+), from Debian's \S+ \S+", line)
            assert library, (name, line)
            covered.append(library[1])
        assert "copyright" in text.lower(), name
    assert sorted(covered) == sorted(path.name for path in BUNDLED.iterdir())


class HttpsSandbox:
    """`python -m qov_sandbox --https` from the wheel, and the settings it prints."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        self.env = {k: v for k, v in os.environ.items() if k not in _FOREIGN}
        self.process = subprocess.Popen([sys.executable, "-I", "-m", "qov_sandbox", "--https", "--txt-quoted"],
                                        cwd=folder, env=self.env, stdout=subprocess.PIPE, text=True,
                                        stdin=subprocess.DEVNULL)
        self.settings: dict[str, str] = {}
        assert self.process.stdout is not None
        for line in self.process.stdout:  # a dozen lines, then "ready"; ends if the sandbox dies
            if line.strip() == "ready":
                break
            if "=" in line and not line.startswith("#"):
                key, value = line.strip().split("=", 1)
                self.settings[key] = value
        else:
            raise RuntimeError("the sandbox ended before it was ready")
        # Drained so that its request lines never fill the pipe.
        self.log: list[str] = []
        threading.Thread(target=lambda: self.log.extend(self.process.stdout), daemon=True).start()

    def run(self, script: str, *args: str, **env: str) -> subprocess.CompletedProcess[str]:
        return run_python(str(EXAMPLES / script), *args, env={**self.env, **self.settings, **env}, cwd=self.folder)

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def sandbox(tmp_path):
    services = HttpsSandbox(tmp_path)
    yield services
    services.stop()


def test_the_examples_work_against_the_https_sandbox(sandbox):
    assert sandbox.settings["CLOUDFLARE_API_URL"].startswith("https://127.0.0.1:")
    assert Path(sandbox.settings["CURL_CA_BUNDLE"]).is_file()

    done = sandbox.run("demo.py")
    assert done.returncode == 0 and "Every step did what it said" in done.stdout, done.stdout + done.stderr

    done = sandbox.run("ddns_update.py", "home.example.com", "203.0.113.7")
    assert done.returncode == 0 and "203.0.113.7" in done.stdout, done.stdout + done.stderr

    acme = {"CERTBOT_DOMAIN": "example.org", "CERTBOT_VALIDATION": "from-the-wheel", "ACME_PROPAGATION_SECONDS": "0"}
    for step in ("set", "clean"):
        done = sandbox.run("acme_dns01_hook.py", step, **acme)
        assert done.returncode == 0, done.stdout + done.stderr
    assert any(f"/zones/{ZONE_ORG}/dns_records" in line for line in sandbox.log)


GET_ZONES = "import _qov; print(_qov.Cloudflare(api_token=TOKEN, api_url=URL).get('/zones')[0])"


def zones_status(sandbox, **trust: str) -> str:
    """The status of one request to the sandbox, trusting only what `trust` says."""
    url, token = sandbox.settings["CLOUDFLARE_API_URL"], sandbox.settings["CLOUDFLARE_API_TOKEN"]
    done = run_python("-c", f"URL, TOKEN = {url!r}, {token!r}\n{GET_ZONES}", env={**sandbox.env, **trust},
                      cwd=sandbox.folder)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()[-1]


def test_an_unknown_authority_is_refused_with_the_system_store_loaded(sandbox):
    # 60: the peer's certificate was checked against a trust store and failed.
    # A store that could not be found or read would give 77 instead.
    assert zones_status(sandbox) == "60"


def hashed_dir(ca_file: Path, folder: Path) -> Path:
    """A directory in OpenSSL's hashed form holding the one CA."""
    folder.mkdir()
    shutil.copy(ca_file, folder / "ca.pem")
    subprocess.run(["openssl", "rehash", str(folder)], check=True, capture_output=True)
    return folder


# The bundled libcurl's compiled-in CA paths are Debian's: the module names its
# own trust (CURL_CA_BUNDLE, then SSL_CERT_FILE / SSL_CERT_DIR, then the system's store).
@pytest.mark.parametrize("variable", ["SSL_CERT_FILE", "SSL_CERT_DIR"])
def test_ssl_cert_file_and_dir_are_trusted_without_curl_ca_bundle(sandbox, variable):
    ca_file = Path(sandbox.settings["CURL_CA_BUNDLE"])
    value = ca_file if variable == "SSL_CERT_FILE" else hashed_dir(ca_file, sandbox.folder / "hashed")
    assert zones_status(sandbox, **{variable: str(value)}) == "200"
