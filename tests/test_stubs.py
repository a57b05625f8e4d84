"""The type stubs: stubtest holds them against the built module, mypy --strict
checks the examples with them, and they catch the mistakes they are there for."""
from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).parent.parent
STUB = ROOT / "stubs" / "_qov.pyi"
PACKAGE_STUB = ROOT / "stubs" / "qov" / "__init__.pyi"


def mypy(*args: str, cwd: Path, cache: Path | None = None) -> subprocess.CompletedProcess[str]:
    """Runs a mypy tool with this tree's stub ahead of any installed one."""
    env = {**os.environ, "MYPYPATH": str(STUB.parent)}
    cache_args = ["--cache-dir", str(cache)] if cache else []
    return subprocess.run([sys.executable, "-m", *args, *cache_args], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=300)


@pytest.fixture(scope="module")
def cache(tmp_path_factory):
    return tmp_path_factory.mktemp("mypy-cache")


def test_stubtest_finds_the_stubs_exact(tmp_path):
    done = mypy("mypy.stubtest", "_qov", "qov", cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def test_installed_stubs_are_this_trees(tmp_path):
    import _qov
    import qov

    beside = Path(_qov.__file__).with_name("_qov.pyi")
    stub_package = beside.with_name("_qov-stubs") / "__init__.pyi"
    in_package = Path(qov.__file__).with_name("__init__.pyi")
    for installed, source in ((beside, STUB), (stub_package, STUB), (in_package, PACKAGE_STUB)):
        assert installed.read_text() == source.read_text(), f"{installed} is stale: reinstall the module"
    assert in_package.with_name("py.typed").exists()

    # What a user gets: mypy finds the installed stubs without any set-up.
    (tmp_path / "use.py").write_text("import _qov, qov\nreveal_type(_qov.Cloudflare().fib(3))\n"
                                     "reveal_type(qov.DingTalk().send_text('x'))\nreveal_type(qov.__version__)\n")
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "use.py"], cwd=tmp_path,
                          env={k: v for k, v in os.environ.items() if k != "MYPYPATH"},
                          capture_output=True, text=True, timeout=300)
    revealed = [line.split("Revealed type is ")[1] for line in done.stdout.splitlines() if "Revealed type" in line]
    assert revealed == ['"int"', '"_qov.RobotReply"', '"str"'], done.stdout + done.stderr


def test_examples_pass_mypy_strict(cache):
    done = mypy("mypy", "--strict", "examples", cwd=ROOT, cache=cache)
    assert done.returncode == 0, done.stdout + done.stderr


MISUSE = '''\
import _qov
cf = _qov.Cloudflare(api_token="t")
cf.fib(m=3)
cf.zone = b"example.com"
pair: tuple[int, str] = cf.dns_ensured_record("example.com", "A", "h.example.com", "192.0.2.1", False, 300)
cf.dns_create_record("A", "h.example.com", "192.0.2.1", "false", 300)
cf.purge_cache(True)
robot = _qov.DingTalk("token", "secret")
robot.send_markdown("title", "text", None)
reply: str | None = robot.send_text(text="hi")
cf.api_token = 12345
cf.trace = "stdout"
status, body = cf.get()
'''


def test_stub_flags_the_mistakes_it_is_for(tmp_path, cache):
    (tmp_path / "misuse.py").write_text(MISUSE)
    done = mypy("mypy", "--strict", "misuse.py", cwd=tmp_path, cache=cache)
    flagged = sorted({int(line.split(":")[1]) for line in done.stdout.splitlines() if ": error:" in line})
    # Assigning any object to api_token is fine, and so is unpacking a Response.
    assert flagged == [3, 4, 5, 6, 7, 9, 10, 12], done.stdout
