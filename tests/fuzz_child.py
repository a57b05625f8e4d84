"""Runs a batch of catalogue cases in this interpreter (started by
tests/fuzz_catalogue.py): `python fuzz_child.py BATCH_JSON RESULTS_JSONL`.

Before a case starts, "@@ case <index>" goes to standard error, so a crash,
a time-out (faulthandler ends the process and prints every thread's stack) or
a sanitizer report can be pinned on it. Each outcome is one JSON line in
RESULTS, written before the next case starts.
"""
import ctypes
import faulthandler
import gc
import json
import os
import reprlib
import sys
import threading
import time

import _qov
from _qov import Cloudflare, DingTalk

CF_ATTRS = ("email", "account", "api_token", "api_url", "zone", "zone_id")
DT_ATTRS = ("token", "secret")
SHAPES = {
    "pair": lambda r: type(r) is _qov.Response and len(r) == 2 and type(r[0]) is int and type(r[1]) is str,
    "ensured": lambda r: type(r) is _qov.Response and len(r) == 2 and (type(r[0]) is int or r[0] == "404")
    and type(r[1]) is str,
    "reply": lambda r: r is None or type(r) is _qov.RobotReply,
    "int": lambda r: type(r) is int,
    "any": lambda r: True,
}


class Sub(str):
    """A str subclass whose Python-level methods all raise."""

    def __str__(self):
        raise RuntimeError("Sub.__str__ called")

    def __eq__(self, other):
        raise RuntimeError("Sub.__eq__ called")

    __hash__ = str.__hash__

    def encode(self, *args, **kwargs):
        raise RuntimeError("Sub.encode called")


class Sly:
    """Runs `action` whenever it is read as a text, an integer or a truth
    value, then gives `value` (as it is: str() of a Sly holding 5 fails)."""

    def __init__(self, action, value):
        self.action, self.value = action, value

    def __str__(self):
        self.action()
        return self.value

    def __index__(self):
        self.action()
        return self.value

    __int__ = __index__

    def __bool__(self):
        self.action()
        return bool(self.value)


class Hook:
    """A sys.stdout whose first writes run `action` first: the trace lines are
    the module's only calls back into Python in the middle of a request. (Each
    write running a request that writes would grow without end.)"""

    def __init__(self, action, times=3):
        self.action, self.times = action, times

    def write(self, text):
        self.times -= 1
        if self.times >= 0:
            self.action()
        return len(text)

    def flush(self):
        pass


CHURNING, ASIDE = [], []  # threads of the case; what went wrong outside the call itself


def churn(action, times=300):
    """Runs `action` over and over in another thread while the call runs."""
    def loop():
        for _ in range(times):
            try:
                action()
            except SystemError as error:
                ASIDE.append(f"another thread got SystemError: {error}")
            except Exception:
                pass
    thread = threading.Thread(target=loop, daemon=True)
    thread.start()
    CHURNING.append(thread)


def in_fork(action):
    """Runs `action` in a forked child, which inherits the thread's libcurl
    handle and its connections, and notes it when that child is killed."""
    pid = os.fork()
    if pid == 0:
        try:
            action()
        finally:
            os._exit(0)
    _, status = os.waitpid(pid, 0)
    if os.WIFSIGNALED(status):
        ASIDE.append(f"a forked child died of signal {os.WTERMSIG(status)}")


class CfBare(Cloudflare):
    def __init__(self, *args, **kwargs):  # never runs Cloudflare.__init__
        pass


class DtBare(DingTalk):
    def __init__(self, *args, **kwargs):
        pass


def reset_peak_rss():
    """Hands freed heap back first, so a case is not charged with the last one's."""
    try:
        ctypes.CDLL(None).malloc_trim(0)
    except (OSError, AttributeError):
        pass
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")  # resets VmHWM to the current RSS
    except OSError:
        pass


def peak_rss_mib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def problems_of(case, namespace, result, error):
    problems = []
    if error is not None:
        if not isinstance(error, Exception) or isinstance(error, SystemError):
            problems.append(f"raised {type(error).__name__}: {str(error)[:300]}")
    elif not SHAPES[case["shape"]](result):
        problems.append(f"returned {reprlib.repr(result)}, not of shape {case['shape']}")
    for owner, names in ((namespace.get("c"), CF_ATTRS), (namespace.get("d"), DT_ATTRS)):
        for name in names:
            try:
                getattr(owner, name)
            except SystemError as read_error:
                problems.append(f"reading {name} afterwards raised SystemError: {read_error}")
            except Exception:
                pass
    problems += ASIDE
    ASIDE.clear()
    if case.get("expect"):
        try:
            met = eval(case["expect"], dict(namespace, r=result, err=error))
        except Exception as check_error:
            met = f"({type(check_error).__name__}: {check_error})"
        if met is not True:
            problems.append(f"expected {case['expect']}{' ' + met if isinstance(met, str) else ''}")
    return problems


def run(case, given, time_factor):
    cf_url, dingtalk_url = given["URLS"][case["server"]]
    answer = case.get("answer")
    url = f"{cf_url}/{answer}" if answer else cf_url
    saved_environment, saved_stdout = dict(os.environ), sys.stdout
    os.environ["QOV_DINGTALK_URL"] = dingtalk_url
    namespace = dict(given, URL=url, Sub=Sub, Sly=Sly, Hook=Hook, churn=churn, in_fork=in_fork, CfBare=CfBare,
                     DtBare=DtBare, Cloudflare=Cloudflare, DingTalk=DingTalk, os=os, sys=sys, gc=gc,
                     MOB=["13800000000"],
                     c=Cloudflare(api_token=given["TOKEN"], api_url=url, max_retries=0),
                     # Paced, the sends of one batch's many cases to one robot would wait a minute.
                     d=DingTalk(answer or given["DT_TOKEN"], given["SECRET"], per_minute=0))
    result = error = None
    reset_peak_rss()
    faulthandler.dump_traceback_later(case["bound"] * time_factor, exit=True)
    started = time.monotonic()
    try:
        exec(compile(f"{case['setup']}\nr = {case['call']}", case["id"], "exec"), namespace)
        result = namespace["r"]
    except BaseException as raised:  # judged by problems_of: only SystemError and non-Exceptions fail
        error = raised
    seconds = time.monotonic() - started
    peak = peak_rss_mib()
    while CHURNING:  # still under the time bound
        CHURNING.pop().join()
    faulthandler.cancel_dump_traceback_later()
    sys.stdout = saved_stdout
    os.environ.clear()
    os.environ.update(saved_environment)
    outcome = f"{type(error).__name__}: {error}" if error is not None else f"-> {reprlib.repr(result)}"
    return {"seconds": round(seconds, 3), "rss_mib": round(peak, 1), "outcome": outcome[:200],
            "problems": problems_of(case, namespace, result, error)}


def main():
    with open(sys.argv[1]) as given_file:
        batch = json.load(given_file)
    faulthandler.enable()
    with open(sys.argv[2], "a") as results:
        for index, case in enumerate(batch["cases"]):
            print(f"@@ case {index}", file=sys.stderr, flush=True)
            record = run(case, batch["given"], batch["time_factor"])
            results.write(json.dumps(dict(record, index=index)) + "\n")
            results.flush()


if __name__ == "__main__":
    main()
