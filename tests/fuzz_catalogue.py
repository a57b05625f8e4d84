"""The fuzz and hostile-server catalogue: every method and attribute of both
classes with random and edge-case arguments, against the sandbox fakes and a
hostile server (tests/hostile_server.py), in child interpreters run in batches.

    python tests/fuzz_catalogue.py --short             # a few hundred cases
    python tests/fuzz_catalogue.py --long --seed 7     # thousands, for a developer
    python tests/fuzz_catalogue.py --replay FILE       # cases saved by a failing run

A case passes when its child neither crashes nor hangs, the call returns a
value of its documented shape or raises an ordinary Exception (never
SystemError), it ends within its bound, the child's peak RSS stays within
--rss-mib and its standard error holds no sanitizer report. Variables named
QOV_CHILD_<NAME> reach the children as <NAME> (QOV_CHILD_LD_PRELOAD,
QOV_CHILD_ASAN_OPTIONS), so a sanitizer runtime is preloaded there only.
"""
from __future__ import annotations

import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
sys.path.insert(0, str(Path(__file__).parent.parent / "sandbox"))

from cloudflare_fixtures import TOKEN, ZONE, ZONE_ID, _seeded
from dingtalk_fixtures import SECRET, robot_fake
from dingtalk_fixtures import TOKEN as DT_TOKEN
from hostile_server import ANSWERS, JSON, HostileServer
from qov_sandbox.tls import make_tls
from runner import _PROXY_VARIABLES

CHILD = Path(__file__).with_name("fuzz_child.py")
SANITIZER_REPORT = re.compile(r"ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer|Fatal Python error")
MARKER = "qov-catalogue-marker"
ZONE_SETUP = "c.zone, c.zone_id = ZONE, ZONE_ID"
ENSURE = "c.dns_ensured_record(ZONE, 'A', 'www.example.com', '192.0.2.1', False, 1)"

# Expression texts the arguments are drawn from, by kind; "any" mixes into
# every kind but "url", whatever names a host (only loopback ones), and
# "path", files written (only in the playground, which is also the cwd).
TEXT = ["''", "'x'", "'on'", "'a' * 10**6", "'\\x00'", "'a\\x00b'", "'\\ud800'", "'\\udcff'", "'é中😀'",
        "'\\r\\nX: y'", "'%s%n%p' * 50", "'{\"\\\\'", "Sub('x')", "'http://u:p@127.0.0.1:1/'"]
POOLS = {
    "text": TEXT,
    "url": ["URL", "'http://127.0.0.1:1'", "'http://u:p@127.0.0.1:1/x'", "'https://127.0.0.1:1'", "'http://[::1]:1'",
            "'ftp://127.0.0.1:1'", "'file://' + TMP + '/out#'", "URL + '/' + 'a' * 10**5", "'http://127.0.0.1:99999'",
            "URL + '\\x00'", "URL + '\\ud800'", "URL + '\\r\\n'", "Sly(lambda: None, URL)", "Sly(lambda: 1 / 0, URL)",
            "Sly(lambda: delattr(c, 'api_url'), URL)", "Sly(lambda: c.get(), URL)", "Sub(URL)", "Sly(lambda: None, 5)"],
    "int": ["0", "1", "-1", "93", "2**31", "-2**31 - 1", "2**63 - 1", "2**64", "-2**64", "10**400", "True",
            "Sly(lambda: delattr(c, 'api_url'), 1)", "Sly(lambda: c.__init__(api_url=URL), 300)"],
    "flag": ["True", "False", "0", "1", "-1", "2**64", "None", "1.0", "Sly(lambda: setattr(c, 'zone_id', '..'), 1)",
             "Sly(lambda: c.query(ZONE), 0)", "Sly(lambda: 1 / 0, 1)", "Sly(lambda: MOB.clear(), 1)"],
    "domain": ["ZONE", "'example.org'", "'missing.test'", "''", "'EXAMPLE.COM'", "'a b&c#d+e'", "'x.' * 30000",
               "None"],
    "type": ["'A'", "'AAAA'", "'CNAME'", "'MX'", "'TXT'", "'a'", "''"],
    "name": ["ZONE", "'www.' + ZONE", "'@'", "'blog'", "'*'", "'a' * 300"],
    "content": ["'192.0.2.1'", "'::1'", "'mail.example.com|20'", "'mail.example.com|x'", "'|'", "'\"v\"'"] + TEXT,
    "id": ["'1' * 32", "'9' * 32", "''", "'.'", "'..'", "'a/b'", "'%2e%2e'", "'a?b#c'", "' '", "'x' * 10**5"],
    "onoff": ["'on'", "'off'", "'flexible'", "'full'", "'strict'", "'ON'"],
    "path": ["TMP + '/out'", "TMP", "TMP + '/no/such/dir'", "TMP + '/' + 'a' * 300", "TMP + '/a' * 2100",
             "TMP + '/\\udcff'", "TMP + '/\\x00'", "''"],
    "get": ["'/zones'", "''", "'?'", "'/../..'", "'#'", "'/a b'", "'\\r\\n'", "'/' + 'a' * 10**5",
            "'/zones/' + ZONE_ID + '/dns_records?per_page=5000'"],
    "mobiles": ["[]", "['13800000000']", "['1'] * 10**4", "MOB", "[Sub('1')]", "[1]", "[None]", "('1',)", "'1'",
                "None", "['\\x00']", "['\\ud800']"],
    "any": ["None", "0", "-1", "2**64", "float('nan')", "float('inf')", "1.5", "1j", "b'x'", "bytearray(b'x')",
            "[]", "{}", "()", "object()", "Sub('x')", "Sly(lambda: 1 / 0, 'x')", "Sly(lambda: None, 5)",
            "Sly(lambda: None, Sub('http://127.0.0.1:1'))", "Sly(lambda: delattr(c, 'api_url'), 'x')",
            "Sly(lambda: c.get(), 'x')", "c", "d", "Cloudflare", "...", "'x' * 10**6"],
}
# Positional argument kinds of every callable; "?" marks the optional ones.
METHODS = {
    "c.fib": ("int",), "c.fputs": ("path", "text"), "c.get": ("?get",), "c.query": ("domain",),
    "c.dns_get_records": ("?domain", "?type", "?name", "?content"),
    "c.dns_create_record": ("type", "name", "content", "flag", "int"),
    "c.dns_delete_record": ("id",),
    "c.dns_update_record": ("id", "type", "name", "content", "flag", "int"),
    "c.dns_ensured_record": ("domain", "type", "name", "content", "flag", "int", "?flag", "?flag"),
    "c.change_always_use_https": ("onoff",), "c.change_automatic_https_rewrites": ("onoff",),
    "c.change_ssl_model": ("onoff",), "c.purge_cache": (),
    "d.send_text": ("text",), "d.send_markdown": ("text", "text", "?mobiles"),
    "Cloudflare": ("?text",) * 3 + ("?url",) * 2, "DingTalk": ("?text",) * 2,
    "c.__init__": ("text",) * 3 + ("url",) * 2,  # all five: a missing api_url means the real service
    "d.__init__": ("?text",) * 2,
}
SHAPES = {"c.fib": "int", "c.fputs": "int", "c.dns_ensured_record": "ensured", "d.send_text": "reply",
          "d.send_markdown": "reply", "Cloudflare": "any", "c.__init__": "any", "DingTalk": "any", "d.__init__": "any"}
KEYWORDS = ["path", "domain", "type", "name", "content", "proxied", "ttl", "record_id", "value", "present", "replace",
            "n", "text", "title", "mobiles", "email", "api_token", "proxy", "api_url", "token", "secret", "bogus"]
ATTRIBUTES = [("c", "email", "any"), ("c", "account", "any"), ("c", "api_token", "any"), ("c", "api_url", "url"),
              ("c", "zone", "any"), ("c", "zone_id", "any"), ("d", "token", "any"), ("d", "secret", "any")]
# What may happen before the call; {kind} takes an argument of that kind.
SETUPS = [
    "c.query(ZONE)", "c.zone_id = {text}", "c.zone = {text}", "del c.zone_id", "c.api_token = {any}",
    "c.api_url = {url}", "c.email = {any}", "del c.api_token", "del c.api_url", "d.token = {any}",
    "d.secret = {any}", "del d.token", "del d.secret", "c = Cloudflare.__new__(Cloudflare)", "c = CfBare()",
    "d = DingTalk.__new__(DingTalk)", "d = DtBare()", "c = Cloudflare(api_token=TOKEN, api_url=URL, proxy={url})",
    "c.max_retries, c.timeout = 1, 2", "d.timeout = 2",
    "os.environ['http_proxy'] = {url}", "os.environ['QOV_DINGTALK_URL'] = {url}",
    "os.environ['CURL_CA_BUNDLE'] = {text}", "sys.stdout = None", "sys.stdout = Hook(lambda: 1 / 0)",
    "sys.stdout = Hook(lambda: delattr(c, 'api_token'))", "sys.stdout = Hook(lambda: setattr(c, 'zone_id', '..'))",
    "sys.stdout = Hook(lambda: setattr(c, 'api_url', Sly(lambda: None, 5)))", "sys.stdout = Hook(lambda: MOB.clear())",
    "sys.stdout = Hook(lambda: d.__init__('x', 'y'))", "sys.stdout = Hook(lambda: setattr(sys, 'stdout', None))",
    "sys.stdout = Hook(lambda: c.get())", "sys.stdout = Hook(lambda: gc.collect())",
    "sys.stdout = Hook(lambda: c.__init__(api_url=URL))", "churn(lambda: c.__init__(api_token=TOKEN, api_url=URL))",
    "churn(lambda: setattr(c, 'zone_id', ZONE_ID))", "churn(lambda: setattr(c, 'api_token', 'x' * 100))",
    "churn(lambda: delattr(c, 'api_url') if hasattr(c, 'api_url') else setattr(c, 'api_url', URL))",
    "churn(lambda: setattr(d, 'secret', 'y'))", "churn(lambda: c.get(), 5)", "churn(lambda: MOB.append('1'))",
    "c.get()\nin_fork(lambda: c.dns_get_records())", "sys.stdout = Hook(lambda: in_fork(lambda: c.get()), 1)",
]
# Calls played against the hostile answers; in short mode one of the first
# three for a JSON answer (the calls that parse answers), else of the last three.
HOSTILE_CALLS = ["c.query(ZONE)", "c.dns_get_records()", ENSURE, "c.get()",
                 "c.dns_update_record('1' * 32, 'A', 'www', '192.0.2.1', True, 1)",
                 "d.send_markdown('t', 'x', ['13800000000'])"]
# What must hold for every case that meets these answers.
ANSWER_EXPECT = {"redirect-other-host": "TOKEN not in str(r)", "redirect-other-port": "TOKEN not in str(r)",
                 "redirect-file": "MARKER not in str(r)"}
# Outcomes that must hold beyond the generic checks.
# (answer, setup, call, expectation, long mode only)
HELD = [
    ("redirect-loop", "", "c.get()", "r[0] == 47", False),  # at most 10 redirects
    ("redirect-chain", "", "c.get()", "r[0] == 47", False),
    ("length-huge-short-body", "", "c.get()", "r[0] == 63", False),  # the 64 MiB response cap
    ("json-pages-overflow", ZONE_SETUP, ENSURE, "'written' not in r[1]", False),  # page arithmetic
    (None, "c.api_url = 'file://' + MARKER_FILE + '#'", "c.get()", "MARKER not in str(r)", False),  # http(s) only
    (None, "", "c.fputs('/dev/full', 'x')", "r == -1 or isinstance(err, OSError)", False),  # failed write reported
    (None, "c.zone_id = ''", "c.purge_cache()", "isinstance(err, TypeError)", False),  # empty zone_id is no zone
    (None, ZONE_SETUP, "c.query(domain=ZONE)", "err is None", False),  # keywords read by name
    (None, ZONE_SETUP, "c.query(ZONE, bogus=1)", "isinstance(err, TypeError)", False),
    (None, ZONE_SETUP, "c.purge_cache(1)", "isinstance(err, TypeError)", False),
    ("body-big", "", "c.get()", "r[0] == 63", True),
    ("chunked-endless", "", "c.get()", "r[0] == 63", True),
]
MODES = {"short": dict(fuzz=400, bound=10, large=False), "long": dict(fuzz=5000, bound=60, large=True)}


def case(id, call, setup="", server="fake", answer=None, bound=10, expect=None):
    shape = "any" if call.startswith(("setattr", "delattr")) else SHAPES.get(call.split("(")[0], "pair")
    return dict(id=id, setup=setup, call=call, shape=shape, server=server, answer=answer, bound=bound,
                expect=expect or ANSWER_EXPECT.get(answer))


def fuzz_case(rng: random.Random, number: int) -> dict:
    def draw(kind: str) -> str:
        return rng.choice(POOLS["any"] if kind not in ("url", "path") and rng.random() < 0.06 else POOLS[kind])

    setup = [ZONE_SETUP] if rng.random() < 0.8 else []
    for _ in range(rng.choice((0, 0, 0, 1, 1, 2))):
        setup.append(re.sub(r"\{(\w+)\}", lambda m: draw(m[1]), rng.choice(SETUPS)))
    if rng.random() < 0.08:
        owner, name, kind = rng.choice(ATTRIBUTES)
        call = rng.choice([f"setattr({owner}, {name!r}, {draw(kind)})", f"delattr({owner}, {name!r})"])
    else:
        method = rng.choice(sorted(METHODS))
        kinds = [k for k in METHODS[method] if not k.startswith("?")]
        optional = [k[1:] for k in METHODS[method] if k.startswith("?")]
        args = [draw(kind) for kind in kinds + optional[:rng.randint(0, len(optional))]]
        roll = rng.random()
        if roll < 0.05 and args and method != "c.__init__":
            args.pop()
        elif roll < 0.1:
            args.append(draw("any"))
        elif roll < 0.2:
            args.append(f"{rng.choice(KEYWORDS)}={draw('text')}")
        call = f"{method}({', '.join(args)})"
    server = rng.choice(["fake"] * 6 + ["fake_tls"] * 2 + ["hostile", "hostile_tls", "crossed", "dead"])
    answer = rng.choice(sorted(ANSWERS)) if server.startswith("hostile") else None
    return case(f"fuzz-{number}", call, "\n".join(setup), server, answer)


def catalogue(mode: str, seed: int, fuzz: int | None = None) -> list[dict]:
    """The cases of a run: the hostile answers, the held outcomes, then the fuzz."""
    rng, settings, cases = random.Random(seed), MODES[mode], []
    for answer in sorted(ANSWERS):
        calls, servers = list(enumerate(HOSTILE_CALLS)), ["hostile", "hostile_tls"]
        if mode == "short":
            calls, servers = [rng.choice(calls[:3] if answer in JSON else calls[3:])], [rng.choice(servers)]
        for number, call in calls:
            for server in servers:
                cases.append(case(f"{answer}-{number}-{server}", call, ZONE_SETUP, server, answer, settings["bound"]))
    for number, (answer, setup, call, expect, long_only) in enumerate(HELD):
        if mode == "long" or not long_only:
            cases.append(case(f"held-{number}", call, setup, "hostile" if answer else "fake", answer,
                              settings["bound"], expect))
    cases += [fuzz_case(rng, number) for number in range(settings["fuzz"] if fuzz is None else fuzz)]
    return cases


def child_environment(extra: list[str], ca_file: str) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k not in _PROXY_VARIABLES and not k.startswith("QOV_CHILD_")}
    env.update({k.removeprefix("QOV_CHILD_"): v for k, v in os.environ.items() if k.startswith("QOV_CHILD_")})
    env.update(item.split("=", 1) for item in extra)
    env["CURL_CA_BUNDLE"] = ca_file
    return env


def run_batch(cases: list[dict], given: dict, options, folder: Path) -> list[dict]:
    """Runs the cases in child interpreters, a fresh one after each that crashed."""
    verdicts, start = [], 0
    while start < len(cases):
        work = Path(tempfile.mkdtemp(dir=folder))
        (work / "batch.json").write_text(json.dumps(dict(cases=cases[start:], given=given,
                                                          time_factor=options.time_factor)))
        with open(work / "stderr", "wb") as stderr:
            child = subprocess.Popen([sys.executable, str(CHILD), str(work / "batch.json"), str(work / "results")],
                                     env=options.env, cwd=given["TMP"], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=stderr)
            try:
                returncode = child.wait(timeout=30 + options.time_factor * sum(c["bound"] for c in cases[start:]))
            except subprocess.TimeoutExpired:
                child.kill()
                returncode = child.wait()
        lines = (work / "results").read_text().splitlines() if (work / "results").exists() else []
        records = {r["index"]: r for r in map(json.loads, lines)}
        segments = re.split(r"^@@ case (\d+)\n", (work / "stderr").read_text(errors="replace"), flags=re.MULTILINE)
        stderr_of = {int(segments[i]): segments[i + 1] for i in range(1, len(segments) - 1, 2)}
        started = max(stderr_of, default=-1)
        if started < 0:  # the child died before its first case: no case can run
            problem = f"child ended with status {returncode} before any case: {stderr_of or segments[0][-1500:]}"
            return verdicts + [dict(case=one, record={}, problems=[problem]) for one in cases[start:]]
        for index in range(started + 1):
            one, record = cases[start + index], records.get(index)
            problems = list(record["problems"]) if record else []
            text = stderr_of.get(index, "")
            if record is None:
                kind = "hung" if "Timeout (" in text else "crashed"
                problems.append(f"child {kind} (exit status {returncode}): {excerpt(text)}")
            else:
                if record["seconds"] > one["bound"] * options.time_factor:
                    problems.append(f"took {record['seconds']} s, bound {one['bound']} s")
                if record["rss_mib"] > options.rss_mib:
                    problems.append(f"peak RSS {record['rss_mib']} MiB, bound {options.rss_mib} MiB")
                if SANITIZER_REPORT.search(text):
                    problems.append(f"report on standard error: {excerpt(text)}")
            verdicts.append(dict(case=one, record=record or {}, problems=problems))
        if returncode != 0 and started in records:  # at exit, after its last case
            verdicts[-1]["problems"].append(f"child ended with status {returncode} after its last case: "
                                            f"{excerpt(stderr_of[started])}")
        start += started + 1
    return verdicts


def excerpt(text: str) -> str:
    """A report from its first line, or else the end of what the child wrote."""
    found = SANITIZER_REPORT.search(text)
    return (text[max(0, found.start() - 200):found.start() + 1800] if found else text[-1500:]).strip()


def judge(verdict: dict) -> str:
    return "fail" if verdict["problems"] else "pass"


def run(cases: list[dict], options, folder: Path, tls) -> tuple[list[dict], str]:
    """Runs the cases against fresh servers; returns the failed cases and a report."""
    stopping, began = [], time.monotonic()
    try:
        fakes = {name: make() for name, make in [
            ("cf", lambda: _seeded()), ("cf_tls", lambda: _seeded(tls)), ("dt", robot_fake),
            ("dt_tls", lambda: robot_fake(tls))]}
        stopping += [fake.stop for fake in fakes.values()]
        playground = folder / "playground"
        playground.mkdir(exist_ok=True)
        (folder / "marker").write_text(MARKER)
        hostile = HostileServer(tls.server_context(), large=options.large, marker_file=str(folder / "marker"))
        stopping.append(hostile.close)
        given = dict(TOKEN=TOKEN, ZONE=ZONE, ZONE_ID=ZONE_ID, DT_TOKEN=DT_TOKEN, SECRET=SECRET, TMP=str(playground),
                     MARKER=MARKER, MARKER_FILE=str(folder / "marker"), URLS={
                         "fake": (fakes["cf"].api_url, fakes["dt"].base_url),
                         "fake_tls": (fakes["cf_tls"].api_url, fakes["dt_tls"].base_url),
                         "hostile": (hostile.url, hostile.url), "hostile_tls": (hostile.tls_url, hostile.tls_url),
                         "crossed": (f"https://127.0.0.1:{hostile.port}", f"http://127.0.0.1:{hostile.tls_port}"),
                         "dead": (f"http://127.0.0.1:{hostile.dead_port}",) * 2})
        options.env = child_environment(options.child_env, str(tls.ca_file))
        batches = [cases[i:i + options.batch] for i in range(0, len(cases), options.batch)]
        with ThreadPoolExecutor(options.jobs) as pool:
            verdicts = [v for done in pool.map(lambda b: run_batch(b, given, options, folder), batches) for v in done]
    finally:
        for stop in reversed(stopping):
            stop()
    outcomes = [judge(v) for v in verdicts]
    lines = [f"FAIL {v['case']['id']}: {'; '.join(v['problems'])}\n    {json.dumps(v['case'])}"
             for v, outcome in zip(verdicts, outcomes, strict=True) if outcome == "fail"]
    counts = {o: outcomes.count(o) for o in ("pass", "fail")}
    peak = max((v["record"].get("rss_mib", 0) for v in verdicts), default=0)
    slowest = max(verdicts, key=lambda v: v["record"].get("seconds", 0), default=None)
    lines.append(f"{len(cases)} cases in {time.monotonic() - began:.1f} s: " +
                 ", ".join(f"{n} {o}" for o, n in counts.items()) + f"; peak RSS {peak} MiB" +
                 (f"; slowest {slowest['case']['id']} {slowest['record'].get('seconds')} s" if slowest else ""))
    return [v["case"] for v, outcome in zip(verdicts, outcomes, strict=True) if outcome == "fail"], "\n".join(lines)


def parse(argv: list[str] | None = None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--short", dest="mode", action="store_const", const="short", help="a few hundred (default)")
    mode.add_argument("--long", dest="mode", action="store_const", const="long", help="thousands, large answers")
    parser.add_argument("--seed", type=int, help="drawn at random and printed when not given")
    parser.add_argument("--fuzz", type=int, help="fuzz cases (default 400 short, 5000 long)")
    parser.add_argument("--replay", type=Path, help="run the cases of this JSON file instead")
    parser.add_argument("--save", type=Path, help="write the cases to this JSON file first")
    parser.add_argument("--failures", type=Path, default=Path("fuzz-failures.json"),
                        help="where a failing run writes its failed cases (default %(default)s)")
    parser.add_argument("--jobs", type=int, default=2, help="children at once (default %(default)s)")
    parser.add_argument("--batch", type=int, default=40, help="cases per child (default %(default)s)")
    parser.add_argument("--rss-mib", type=float, default=320, help="peak RSS bound per case (default %(default)s)")
    parser.add_argument("--time-factor", type=float, default=1.0, help="stretches every time bound (sanitizers)")
    parser.add_argument("--child-env", action="append", default=[], metavar="NAME=VALUE",
                        help="set in the children only, like QOV_CHILD_<NAME>")
    options = parser.parse_args(argv)
    options.mode = options.mode or "short"
    options.large = MODES[options.mode]["large"]
    if options.seed is None:
        options.seed = random.SystemRandom().randrange(2**32)
    return options


def main(argv: list[str] | None = None, tls=None, folder: Path | None = None) -> tuple[list[dict], str]:
    options = parse(argv)
    with tempfile.TemporaryDirectory(prefix="qov-fuzz-") as scratch:
        folder = folder or Path(scratch)
        cases = (json.loads(options.replay.read_text()) if options.replay
                 else catalogue(options.mode, options.seed, options.fuzz))
        if options.save:
            options.save.write_text(json.dumps(cases, indent=1))
        print(f"replaying {options.replay}" if options.replay else f"{options.mode} mode, seed {options.seed}",
              flush=True)
        failed, report = run(cases, options, folder, tls or make_tls(folder / "tls"))
    if failed:
        options.failures.write_text(json.dumps(failed, indent=1))
        report += f"\nreplay: python tests/{Path(__file__).name} --replay {options.failures}" + (
            "" if options.replay else f"  (or the whole run: --{options.mode} --seed {options.seed})")
    return failed, report


if __name__ == "__main__":
    failed_cases, text = main()
    print(text)
    sys.exit(1 if failed_cases else 0)
