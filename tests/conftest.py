"""Fixtures shared by every test module: the scenario runner, a throwaway CA,
scripted HTTP and HTTPS servers, and a real forward proxy (tinyproxy)."""
from __future__ import annotations

import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
sys.path.insert(0, str(Path(__file__).parent.parent / "sandbox"))

from qov_sandbox.tls import make_tls  # noqa: E402
from runner import Runner  # noqa: E402
from scripted_server import ScriptedServer  # noqa: E402

pytest_plugins = ["cloudflare_fixtures", "dingtalk_fixtures"]

# A run started in the background of a non-interactive shell (nohup, some CI
# runners) inherits SIGINT ignored, and every child would too: Python installs
# no KeyboardInterrupt handler then, and the Ctrl-C scenarios could not be
# run. With a handler here, each child starts with the signal at its default.
if signal.getsignal(signal.SIGINT) is signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)


@pytest.fixture(scope="session")
def tls(tmp_path_factory):
    """A throwaway CA and a certificate for 127.0.0.1 signed by it."""
    return make_tls(tmp_path_factory.mktemp("tls"))


@pytest.fixture(scope="session")
def server_context(tls) -> ssl.SSLContext:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(tls.cert_file, tls.key_file)
    return context


@pytest.fixture(scope="session")
def qov(tls) -> Runner:
    """Runs a scenario in a child interpreter that trusts the throwaway CA."""
    return Runner(base_env={"CURL_CA_BUNDLE": str(tls.ca_file)})


@pytest.fixture(scope="session")
def _plain_server():
    server = ScriptedServer()
    yield server
    server.close()


@pytest.fixture(scope="session")
def _tls_server(server_context):
    server = ScriptedServer(server_context)
    yield server
    server.close()


@pytest.fixture
def plain_server(_plain_server):
    _plain_server.reset()
    return _plain_server


@pytest.fixture
def tls_server(_tls_server):
    _tls_server.reset()
    return _tls_server


@pytest.fixture(params=["http", "https"])
def any_server(request, plain_server, tls_server):
    return plain_server if request.param == "http" else tls_server


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class ForwardProxy:
    def __init__(self, folder: Path) -> None:
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.log = folder / "tinyproxy.log"
        config = folder / "tinyproxy.conf"
        # No ConnectPort line: CONNECT is allowed to every port of the test servers.
        # Without a LogFile, tinyproxy in the foreground logs to its standard error,
        # which we own, so its dropped privileges do not matter.
        config.write_text(f"Port {self.port}\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\n"
                          f"LogLevel Connect\nMaxClients 50\nUser nobody\nGroup nogroup\n")
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(["tinyproxy", "-d", "-c", str(config)], stdout=log, stderr=log)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("tinyproxy did not start")

    def log_text(self) -> str:
        return self.log.read_text(errors="replace")

    def close(self) -> None:
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture(scope="session")
def forward_proxy(tmp_path_factory):
    if shutil.which("tinyproxy") is None:
        pytest.fail("tinyproxy is not installed (the test command installs it)")
    proxy = ForwardProxy(tmp_path_factory.mktemp("proxy"))
    yield proxy
    proxy.close()
