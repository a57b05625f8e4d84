"""Runs module scenarios in a child interpreter.

A crash must fail one test rather than end the run, so every scenario runs in
a fresh `python` process while the fake services stay in the test process.
"""
from __future__ import annotations

import os
import pickle
import subprocess
import sys
import tempfile
import textwrap
from dataclasses import dataclass, field

# Executed in the child before the scenario. `mark(text)` writes a line of its
# own among the module's trace lines, so a test can split the output between calls.
_PRELUDE = """
import os, pickle, sys
import _qov
from _qov import Cloudflare, DingTalk

def mark(text):
    print("-- " + str(text))

def _finish(path, outcome):
    sys.stdout.flush()
    with open(path, "wb") as out:
        pickle.dump(outcome, out)

_outcome_path = sys.argv[1]
with open(sys.argv[2], "rb") as given:
    globals().update(pickle.load(given))
try:
    exec(compile(_SCENARIO, "<scenario>", "exec"), globals())
    _finish(_outcome_path, {"value": globals().get("result")})
except BaseException as error:
    # The built-in class the error was raised as before qov had classes of its own, and its own class.
    _builtin = next(cls for cls in type(error).__mro__ if cls.__module__ == "builtins")
    _finish(_outcome_path, {"error": (_builtin.__name__, str(error)),
                            "raised": f"{type(error).__module__}.{type(error).__qualname__}"})
"""

# Variables that would send the child's requests somewhere else or choose what it trusts.
_PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                    "no_proxy", "NO_PROXY", "CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR", "QOV_DINGTALK_URL")


@dataclass
class Outcome:
    value: object = None
    error: tuple[str, str] | None = None  # the built-in class the exception derives from, and its message
    raised: str = ""  # the exception's own class: "qov.ZoneNotFoundError", "builtins.TypeError"
    stdout: str = ""
    stderr: str = ""
    returncode: int = 0

    @property
    def lines(self) -> list[str]:
        return self.stdout.splitlines()

    def sections(self) -> list[list[str]]:
        """The trace lines between the scenario's `mark(...)` calls."""
        parts: list[list[str]] = [[]]
        for line in self.lines:
            if line.startswith("--"):
                parts.append([])
            else:
                parts[-1].append(line)
        return parts


@dataclass
class Runner:
    base_env: dict[str, str] = field(default_factory=dict)

    def __call__(self, scenario: str, *, env: dict[str, str | None] | None = None, timeout: float = 120,
                 imports_first: str | None = None, **variables: object) -> Outcome:
        """`imports_first`: a module the child imports before `_qov`."""
        child_env = {k: v for k, v in os.environ.items() if k not in _PROXY_VARIABLES}
        child_env.update(self.base_env)
        for key, value in (env or {}).items():
            if value is None:
                child_env.pop(key, None)
            else:
                child_env[key] = value
        code = f"_SCENARIO = {textwrap.dedent(scenario)!r}\n{_PRELUDE}"
        if imports_first:
            code = f"import {imports_first}\n{code}"
        with tempfile.TemporaryDirectory() as folder:
            outcome_path = os.path.join(folder, "outcome")
            variables_path = os.path.join(folder, "variables")
            with open(variables_path, "wb") as out:
                pickle.dump(variables, out)
            done = subprocess.run([sys.executable, "-c", code, outcome_path, variables_path], env=child_env,
                                  capture_output=True, timeout=timeout, stdin=subprocess.DEVNULL)
            stdout = done.stdout.decode("utf-8", "replace")
            stderr = done.stderr.decode("utf-8", "replace")
            if done.returncode != 0 or not os.path.exists(outcome_path):
                raise AssertionError(f"scenario process ended with status {done.returncode}\n"
                                     f"stdout:\n{stdout}\nstderr:\n{stderr}")
            with open(outcome_path, "rb") as given:
                outcome = pickle.load(given)
        return Outcome(value=outcome.get("value"), error=outcome.get("error"), raised=outcome.get("raised", ""),
                       stdout=stdout, stderr=stderr, returncode=done.returncode)
