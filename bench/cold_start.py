"""Cold start: what a fresh process (a cron job, an ACME hook) pays for its first
verified HTTPS calls, and what a new thread pays for its first.

    python bench/cold_start.py [--runs N] [--trust both|dir|bundle]   # alone, under a minute
    (python bench/run.py runs it as its last section)

Every measurement is a fresh interpreter whose whole CPU time (user + system,
from wait4) is taken; the table shows medians. The server is nginx on loopback
with a throwaway CA. Trust comes as a user's machine has it, with the store at
its real size, in two ways (one column each):
  - dir: SSL_CERT_DIR names a hashed directory holding a copy of the system's CA
    certificates with the throwaway CA beside them. requests gets the same
    directory (verify=<dir>, its cheapest way); urllib.request uses Python's
    default context, which honours SSL_CERT_DIR and also loads OpenSSL's
    default CA file.
  - bundle: one file with the system's CA bundle and the throwaway CA, named by
    CURL_CA_BUNDLE (the module), verify=<file> (requests) and SSL_CERT_FILE
    (urllib.request).

Targets (2-core machine): the first call adds at most 3 ms of CPU to the
import; import plus one call costs at least 5 times less CPU than requests
does for the same; a new thread's first call costs at most 3 ms of CPU.

Under the first call lies what OpenSSL itself needs: bench/openssl_floor.cpp,
built here with the system's compiler, makes the same verified request with
OpenSSL alone in a fresh process (dir trust only), then a second one over a
new connection; both rows are printed beside the module's.
"""
from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from servers import RECORDS_PATH, Nginx  # noqa: E402

SYSTEM_CERTS = Path("/etc/ssl/certs")
THREADS = 32
# Variables that would choose the trust, or send the request elsewhere, other than SSL_CERT_DIR.
DROPPED_VARIABLES = ("CURL_CA_BUNDLE", "SSL_CERT_FILE", "REQUESTS_CA_BUNDLE", "http_proxy", "https_proxy",
                     "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "PYTHONUNBUFFERED")

# Also notes the CPU of the first call alone, measured inside the process: the
# difference of two whole-process medians carries the start-up's noise twice.
QOV_CALLS = """
import sys, time, _qov
c = _qov.Cloudflare(api_token="bench-token", api_url=sys.argv[1])
for call in range({calls}):
    began = time.process_time()
    status, body = c.get(sys.argv[2])
    if call == 0:
        first = time.process_time() - began
    assert status == 200, (status, body)
with open(sys.argv[3], "w") as out:
    out.write(repr(first))  # no json module: its import would count as the call's
"""
REQUESTS_CALL = """
import os, sys, requests
answer = requests.get(sys.argv[1] + sys.argv[2], headers={"Authorization": "Bearer bench-token"},
                      verify=os.environ["BENCH_TRUST"])
assert answer.status_code == 200, answer.status_code
"""
URLLIB_CALL = """
import sys, urllib.request
request = urllib.request.Request(sys.argv[1] + sys.argv[2], headers={"Authorization": "Bearer bench-token"})
with urllib.request.urlopen(request) as answer:
    assert answer.status == 200 and answer.read()
"""
# CPU of the process from the start of the threads to their end, per thread: what a
# new thread's first call costs, with the main thread's first call made before.
QOV_THREADS = """
import sys, threading, time, _qov
c = _qov.Cloudflare(api_token="bench-token", api_url=sys.argv[1])
assert c.get(sys.argv[2])[0] == 200
answers = []
threads = [threading.Thread(target=lambda: answers.append(c.get(sys.argv[2])[0])) for _ in range({threads})]
began = time.process_time()
for t in threads:
    t.start()
for t in threads:
    t.join()
spent = time.process_time() - began
assert answers == [200] * {threads}, answers
with open(sys.argv[3], "w") as out:
    out.write(repr(spent / {threads}))
"""

THREAD_CASE = "qov: new thread's first call"
FIRST_CALL = "qov: first call, inside the process"
FLOOR_FIRST = "OpenSSL alone: first request"
FLOOR_LATER = "OpenSSL alone: a later handshake"
CASES = [  # label, script
    ("python: start only", "pass"),
    ("qov: import only", "import _qov"),
    ("qov: import + 1 call", QOV_CALLS.format(calls=1)),
    ("qov: import + 5 calls", QOV_CALLS.format(calls=5)),
    (THREAD_CASE, QOV_THREADS.format(threads=THREADS)),
    ("requests: import only", "import requests"),
    ("requests: import + 1 call", REQUESTS_CALL),
    ("urllib.request: import + 1 call", URLLIB_CALL),
]
TRUSTS = ("dir", "bundle")


def trust_environments(folder: Path, ca_file: str) -> dict[str, dict[str, str]]:
    """The variables of each way of trusting: a hashed directory, or one bundle
    file, each with the system's CA certificates and the throwaway CA."""
    store = folder / "ca-dir"
    store.mkdir()
    for certificate in SYSTEM_CERTS.glob("*.pem"):
        shutil.copyfile(certificate, store / certificate.name)  # the files, not the links
    shutil.copyfile(ca_file, store / "qov-bench-ca.pem")
    subprocess.run(["openssl", "rehash", str(store)], check=True, capture_output=True)
    bundle = folder / "ca-bundle.pem"
    bundle.write_bytes((SYSTEM_CERTS / "ca-certificates.crt").read_bytes() + Path(ca_file).read_bytes())
    return {"dir": {"SSL_CERT_DIR": str(store), "BENCH_TRUST": str(store)},
            "bundle": {"CURL_CA_BUNDLE": str(bundle), "SSL_CERT_FILE": str(bundle), "BENCH_TRUST": str(bundle)}}


def process_cpu(script: str, args: list[str], env: dict[str, str], label: str = "") -> float:
    """Whole-process CPU seconds of one fresh interpreter running `script`."""
    child = subprocess.Popen([sys.executable, "-c", script, *args], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    error = child.stderr.read().decode(errors="replace") if child.stderr else ""
    if child.returncode != 0:
        raise RuntimeError(f"cold-start child {label!r} ended with status {child.returncode}:\n{error}")
    return usage.ru_utime + usage.ru_stime


def build_floor(folder: Path) -> Path | None:
    """The OpenSSL-only client, or None (with a note) when it cannot be built here."""
    compiler = shutil.which("c++") or shutil.which("g++")
    binary = folder / "openssl_floor"
    built = compiler and subprocess.run([compiler, "-std=c++20", "-O2", str(HERE / "openssl_floor.cpp"), "-o",
                                         str(binary), "-lssl", "-lcrypto"], capture_output=True).returncode == 0
    if not built:
        print("  (OpenSSL alone: not measured, the C++ client could not be built)")
        return None
    return binary


def floor_cpu(binary: Path, nginx: Nginx, env: dict[str, str]) -> tuple[float, float]:
    """CPU seconds of OpenSSL's first verified request in a fresh process, and of a later one."""
    port = nginx.https_url.split(":")[2].split("/")[0]
    answer = subprocess.run([str(binary), port, env["SSL_CERT_DIR"], "/client/v4" + RECORDS_PATH],
                            capture_output=True, text=True, env=env)
    if answer.returncode != 0:
        raise RuntimeError(f"openssl_floor ended with status {answer.returncode}:\n{answer.stderr}")
    first, later = (float(ms) / 1e3 for ms in answer.stdout.split())
    return first, later


def measure(nginx: Nginx, folder: Path, runs: int, trusts: tuple[str, ...]) -> dict[tuple[str, str], float]:
    """Median CPU milliseconds of each case under each trust; per thread for the thread case."""
    environments = trust_environments(folder, nginx.ca_file)
    floor = build_floor(folder) if "dir" in trusts else None
    base = {k: v for k, v in os.environ.items() if k not in DROPPED_VARIABLES + ("SSL_CERT_DIR",)}
    out = folder / "threads.json"
    args = [nginx.https_url, RECORDS_PATH, str(out)]
    samples: dict[tuple[str, str], list[float]] = {(label, trust): [] for label, _ in CASES for trust in trusts}
    samples.update({(FIRST_CALL, trust): [] for trust in trusts})
    if floor:
        samples.update({(FLOOR_FIRST, "dir"): [], (FLOOR_LATER, "dir"): []})
    for _ in range(runs):  # interleaved, so a slow moment of the machine touches every case alike
        for trust in trusts:
            env = {**base, **environments[trust]}
            for label, script in CASES:
                spent = process_cpu(script, args, env, f"{label}, CA {trust}")
                samples[label, trust].append(float(out.read_text()) if label == THREAD_CASE else spent)
                if label == "qov: import + 1 call":
                    samples[FIRST_CALL, trust].append(float(out.read_text()))
            if floor and trust == "dir":
                first, later = floor_cpu(floor, nginx, env)
                samples[FLOOR_FIRST, trust].append(first)
                samples[FLOOR_LATER, trust].append(later)
    return {key: statistics.median(values) * 1e3 for key, values in samples.items()}


def report(ms: dict[tuple[str, str], float], runs: int, trusts: tuple[str, ...]) -> list[tuple[str, bool]]:
    """Prints the table and returns the targets with their verdicts."""
    print(f"Cold start, verified HTTPS to nginx on loopback: whole-process CPU ms, median of {runs} fresh runs")
    print(f"  {'':34}" + "".join(f"{'CA ' + trust:>12}" for trust in trusts))
    for label in [label for label, _ in CASES] + [FIRST_CALL, FLOOR_FIRST, FLOOR_LATER]:
        if any((label, trust) in ms for trust in trusts):
            print(f"  {label:34}" + "".join(f"{ms[label, trust]:12.1f}" if (label, trust) in ms else f"{'-':>12}"
                                             for trust in trusts))
    print(f"  ({THREAD_CASE}: {THREADS} threads started after the main thread's first call,")
    print(f"   the process's CPU while they ran divided by {THREADS})")
    targets = []
    for trust in trusts:
        first_call = ms[FIRST_CALL, trust]
        difference = ms["qov: import + 1 call", trust] - ms["qov: import only", trust]
        versus = ms["requests: import + 1 call", trust] / ms["qov: import + 1 call", trust]
        thread = ms[THREAD_CASE, trust]
        print(f"  CA {trust}: the first call adds {first_call:.1f} ms ({difference:.1f} between the medians); "
              f"import + 1 call {versus:.1f}x less CPU than requests")
        if (FLOOR_FIRST, trust) in ms:
            print(f"  CA {trust}: OpenSSL alone needs {ms[FLOOR_FIRST, trust]:.1f} ms for the same first request; "
                  f"the module and libcurl add {first_call - ms[FLOOR_FIRST, trust]:.1f} ms to it")
        if trust == "dir":  # the targets are for the cheap way the trust order finds first
            targets += [
                (f"cold: the first call adds <= 3 ms of CPU to the import ({first_call:.1f} ms)", first_call <= 3),
                (f"cold: import + 1 call >= 5x less CPU than requests ({versus:.1f}x)", versus >= 5),
                (f"cold: a new thread's first call <= 3 ms of CPU ({thread:.1f} ms)", thread <= 3),
            ]
    print()
    return targets


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=7, help="fresh runs per case (median taken), default 7")
    parser.add_argument("--trust", choices=("both", "dir", "bundle"), default="both",
                        help="which way of trusting to measure, default both")
    args = parser.parse_args()
    trusts = TRUSTS if args.trust == "both" else (args.trust,)
    with tempfile.TemporaryDirectory(prefix="qov-cold-") as temp:
        folder = Path(temp)
        (folder / "nginx").mkdir()
        nginx = Nginx(folder / "nginx").start()
        try:
            ms = measure(nginx, folder, args.runs, trusts)
        finally:
            nginx.stop()
    targets = report(ms, args.runs, trusts)
    for text, ok in targets:
        print(f"  {'PASS' if ok else 'FAIL'}  {text}")
    return 0 if all(ok for _, ok in targets) else 1


if __name__ == "__main__":
    sys.exit(main())
