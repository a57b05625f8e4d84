"""The module as the interpreter sees it: the `qov` package in front of `_qov`,
instances in reference cycles collected, and the module loaded in
sub-interpreters that each have their own GIL."""
from __future__ import annotations

import gc
import importlib.metadata
import importlib.util
import os
import pickle
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import _qov
from _qov import Cloudflare, DingTalk
from scripted_server import ScriptedServer

PYPROJECT = Path(__file__).parent.parent / "pyproject.toml"


def test_qov_package_re_exports_the_classes_and_holds_the_version():
    import qov

    assert qov.Cloudflare is Cloudflare and qov.DingTalk is DingTalk
    [written] = re.findall(r'^version = "(.+)"$', PYPROJECT.read_text(), re.MULTILINE)
    assert qov.__version__ == importlib.metadata.version("qov") == written
    # The types' "qov." names are true: pickle finds the classes by them.
    assert pickle.loads(pickle.dumps((Cloudflare, DingTalk))) == (Cloudflare, DingTalk)
    response = _qov.Response(200, "{}", "created")
    assert pickle.loads(pickle.dumps((response, qov.ZoneLookupError))) == (response, qov.ZoneLookupError)


class Marker:
    """Weakly referenceable, unlike the module's instances: shows when a cycle is gone."""


class Text(str):
    """A str that can point back at its holder through its own __dict__."""


class MyCloudflare(Cloudflare):
    pass


class MyDingTalk(DingTalk):
    pass


def through_member(cls, name):
    def build(marker):
        holder = cls()
        setattr(holder, name, [holder, marker])
    return build


def through_text(cls, name):
    def build(marker):
        holder, text = cls(), Text("x")
        setattr(holder, name, text)
        text.back = (holder, marker)
    return build


def through_proxy(marker):
    text = Text("http://127.0.0.1:1")
    text.back = (Cloudflare(proxy=text), marker)


def through_subclass_dict(marker):
    holder = MyDingTalk()
    holder.me = (holder, marker)


# One cycle through each object field of each type, and through subclass instances.
CYCLES = {
    **{f"Cloudflare.{name}": through_member(Cloudflare, name) for name in ("email", "account", "api_token", "api_url")},
    **{f"Cloudflare.{name}": through_text(Cloudflare, name) for name in ("zone", "zone_id")},
    "Cloudflare proxy": through_proxy,
    **{f"DingTalk.{name}": through_member(DingTalk, name) for name in ("token", "secret")},
    "subclass member": through_member(MyCloudflare, "email"),
    "subclass zone": through_text(MyCloudflare, "zone"),
    "subclass __dict__": through_subclass_dict,
}


@pytest.mark.parametrize("build", CYCLES.values(), ids=CYCLES.keys())
def test_reference_cycles_through_instances_are_collected(build):
    import weakref

    marker = Marker()
    gone = weakref.ref(marker)
    build(marker)
    del marker
    assert gone() is not None  # only the cycle holds it now
    gc.collect()
    assert gone() is None


def _subinterpreters_missing() -> str | None:
    try:
        if importlib.util.find_spec("test.support.interpreters") is not None:
            return None
    except ImportError:
        pass
    return "this Python offers no sub-interpreters to scripts (test.support.interpreters, 3.12 and later)"


# Runs in each sub-interpreter: the module's own import, and requests whose
# trace lines go to that interpreter's own sys.stdout.
IN_SUBINTERPRETER = """
import contextlib, io, os
import _qov, qov

traced = io.StringIO()
with contextlib.redirect_stdout(traced):
    client = qov.Cloudflare(api_token="t", api_url=URL)
    statuses = {client.get(f"/{NAME}/{n}")[0] for n in range(COUNT)}
# One write, so the two interpreters' lines cannot interleave.
os.write(1, f"{NAME} {statuses} {len(traced.getvalue().splitlines())} {qov.Cloudflare!r}\\n".encode())
"""

# Two interpreters with their own GIL each (from 3.12 on), in two threads at once.
TWO_INTERPRETERS = """
import importlib.util, threading
from test.support import interpreters

def isolated():
    try:
        return interpreters.create(isolated=True)  # 3.12
    except TypeError:
        return interpreters.create()  # 3.13 makes isolated ones only

def run(interp, code):
    (getattr(interp, "exec", None) or interp.run)(code)

# The control: such an interpreter refuses a module that does not declare it is
# ready for one. Tried once: CPython 3.12 crashes on a second refusal.
control = "absent"
if importlib.util.find_spec("_testsinglephase") is not None:
    interp = isolated()
    try:
        run(interp, "import _testsinglephase")
        control = "loaded"
    except Exception as error:
        control = "refused" if "does not support loading in subinterpreters" in str(error) else repr(error)
    interp.close()
# Flushed now: the sub-interpreters below write to the descriptor directly.
print("control", control, flush=True)

def work(name, errors):
    interp = isolated()
    try:
        run(interp, f"URL, NAME, COUNT = {URL!r}, {name!r}, {COUNT}\\n" + CODE)
    except Exception as error:
        errors.append(f"{name}: {error}")
    finally:
        interp.close()

result = []
for round in range(2):  # the second round loads the module into new interpreters again
    threads = [threading.Thread(target=work, args=(f"r{round}i{k}", result)) for k in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
"""


@pytest.mark.skipif(_subinterpreters_missing() is not None, reason=str(_subinterpreters_missing()))
def test_sub_interpreters_with_their_own_gil_load_and_use_the_module(qov, plain_server):
    count = 5
    outcome = qov(TWO_INTERPRETERS, CODE=IN_SUBINTERPRETER, URL=plain_server.url, COUNT=count)
    assert outcome.error is None and outcome.value == [], outcome.stderr
    names = [f"r{r}i{k}" for r in range(2) for k in range(2)]
    control = "refused" if importlib.util.find_spec("_testsinglephase") else "absent"
    assert outcome.lines[0] == f"control {control}"
    assert sorted(outcome.lines[1:]) == [f"{name} {{200}} {4 * count} <class 'qov.Cloudflare'>" for name in names]
    wanted = sorted(f"/{name}/{n}" for name in names for n in range(count))
    assert sorted(r.path for r in plain_server.received) == wanted


def test_the_module_carries_its_cpp_runtime_and_exports_its_init_only():
    # A fresh process loads no libstdc++ for the module (cheaper start-up),
    # nothing of the module's runtime can bind to another copy in the process,
    # and the runtime asks no more of the C library than the libraries a wheel
    # bundles do (glibc 2.34, its manylinux tag).
    script = "import _qov; print(open('/proc/self/maps').read())"
    maps = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    if "libasan" in maps:
        pytest.skip("sanitizer builds keep the shared C++ runtime")
    assert "libstdc++" not in maps
    exported = subprocess.run(["nm", "-D", "--defined-only", _qov.__file__], capture_output=True, text=True,
                              check=True).stdout.split()
    assert [word for word in exported if not re.fullmatch(r"[0-9a-f]+|[A-Za-z]", word)] == ["PyInit__qov"]
    needed = subprocess.run(["nm", "-D", "--undefined-only", _qov.__file__], capture_output=True, text=True,
                            check=True).stdout
    assert max(int(minor) for minor in re.findall(r"@GLIBC_2\.(\d+)", needed)) <= 34


# Two threads that made a request and were joined (their operating-system
# threads may still be ending), and 32 daemon threads in their TLS handshakes
# when the interpreter exits.
EXIT_MID_HANDSHAKE = """
import threading, time
c = Cloudflare(api_url=URL)
joined = [threading.Thread(target=c.get) for _ in range(2)]
for t in joined:
    t.start()
for t in joined:
    t.join()
for _ in range(32):
    threading.Thread(target=c.get, args=("/slow",), daemon=True).start()
time.sleep(0.002)
"""


# A module that set OpenSSL up before ours made OpenSSL free its state at exit.
# QOV_EXIT_RUNS=2000 runs each order that often (a developer's long run).
@pytest.mark.parametrize("first", ["ssl", "hashlib", "urllib.request", None])
def test_exit_mid_handshake_is_clean_whatever_set_openssl_up_first(qov, server_context, first):
    # A server of its own: the thousands of handshakes left unfinished stay away from the shared ones.
    server = ScriptedServer(server_context)
    server.answer("/slow", delay=0.3)
    runs = int(os.environ.get("QOV_EXIT_RUNS", "24"))

    def failure(_):
        try:
            qov(EXIT_MID_HANDSHAKE, imports_first=first, URL=server.url)
        except AssertionError as failed:  # the runner's report of a crashed child
            return str(failed)
        return None

    try:
        with ThreadPoolExecutor(2) as pool:
            failures = [text for text in pool.map(failure, range(runs)) if text]
    finally:
        server.close()
    assert not failures, f"{len(failures)} of {runs} exits failed; the first:\n{failures[0]}"
