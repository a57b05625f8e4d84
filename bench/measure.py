"""One benchmark measurement, run by run.py in a child process whose standard
output is /dev/null, so the module's trace lines cost what they cost when
nobody reads them and never mix with the table. The result goes to a JSON
file named on the command line:

    python bench/measure.py SPEC_JSON OUT_FILE
"""
from __future__ import annotations

import json
import os
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from servers import RECORDS_PATH, ZONE_ID  # noqa: E402

TOKEN = "bench-token"
HEADERS = {"Content-Type": "application/json", "Authorization": f"Bearer {TOKEN}"}


def make_client(name: str, base: str, ca_file: str):
    """A callable that makes one request for the record listing and returns (status, text)."""
    url = base + RECORDS_PATH
    if name.startswith("qov send_text"):
        from _qov import DingTalk
        os.environ["QOV_DINGTALK_URL"] = base.removesuffix("/client/v4")  # the robot's answer is nginx's
        # Paced with a limit never reached: the pace's bookkeeping runs, no send waits.
        robot = DingTalk("bench-robot", "bench-secret", per_minute=0 if name.endswith("unpaced") else 10**9)
        return lambda: (200, robot.send_text("bench"))
    if name in ("qov get", "qov get, no retries", "qov dns_get_records"):
        from _qov import Cloudflare  # CURL_CA_BUNDLE names the CA, set by run.py
        client = Cloudflare(api_token=TOKEN, api_url=base, max_retries=0 if name.endswith("no retries") else 2)
        if name.startswith("qov get"):
            return lambda: client.get(RECORDS_PATH)
        client.zone_id = ZONE_ID  # set by hand: no zone lookup
        return client.dns_get_records
    if name == "requests":
        import requests

        def plain_requests():
            answer = requests.get(url, headers=HEADERS, verify=ca_file)
            return answer.status_code, answer.text
        return plain_requests
    if name == "requests.Session":
        import requests
        session = requests.Session()
        session.headers.update(HEADERS)

        def session_get():
            # Given per call: REQUESTS_CA_BUNDLE in the environment would override session.verify.
            answer = session.get(url, verify=ca_file)
            return answer.status_code, answer.text
        return session_get
    if name == "urllib.request":
        import ssl
        import urllib.request
        opener = urllib.request.build_opener(
            urllib.request.HTTPSHandler(context=ssl.create_default_context(cafile=ca_file)))

        def urllib_get():
            with opener.open(urllib.request.Request(url, headers=HEADERS)) as answer:
                return answer.status, answer.read().decode()
        return urllib_get
    raise ValueError(f"unknown client {name!r}")


def per_request(spec: dict) -> dict:
    call = make_client(spec["client"], spec["base"], spec["ca_file"])
    status, text = call()
    if status != 200 or len(text) != spec["body_length"].get(spec["client"], spec["body_length"]["listing"]):
        raise RuntimeError(f"{spec['client']}: unexpected answer {status} with {len(text)} characters")
    for _ in range(spec["warm"]):
        call()
    runs = []
    for _ in range(spec["runs"]):
        n = spec["requests"]
        wall, cpu = time.perf_counter(), time.process_time()
        for _ in range(n):
            call()
        runs.append({"wall": (time.perf_counter() - wall) / n, "cpu": (time.process_time() - cpu) / n})
    return {"runs": runs}


def threads(spec: dict) -> dict:
    from _qov import Cloudflare
    client = Cloudflare(api_token=TOKEN, api_url=spec["base"])  # shared: every thread keeps its own handle

    def throughput(count: int) -> float:
        start = threading.Barrier(count + 1)
        failures: list[object] = []

        def work() -> None:
            start.wait()
            for _ in range(spec["per_thread"]):
                status, _ = client.get("/slow")
                if status != 200:
                    failures.append(status)

        workers = [threading.Thread(target=work) for _ in range(count)]
        for worker in workers:
            worker.start()
        start.wait()
        began = time.perf_counter()
        for worker in workers:
            worker.join()
        elapsed = time.perf_counter() - began
        if failures:
            raise RuntimeError(f"slow server answered {failures[:3]}")
        return count * spec["per_thread"] / elapsed

    throughput(1)  # warm-up
    return {"runs": [{"one": throughput(1), "many": throughput(spec["threads"])} for _ in range(spec["runs"])]}


def fib(spec: dict) -> dict:
    from _qov import Cloudflare
    client = Cloudflare()
    runs = []
    for _ in range(spec["runs"]):
        run = {}
        for n in (90, 2**64 - 1):
            calls = spec["calls"]
            began = time.perf_counter()
            for _ in range(calls):
                client.fib(n)
            run[str(n)] = (time.perf_counter() - began) / calls
        runs.append(run)
    return {"runs": runs}


def resident_bytes() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS in /proc/self/status")


def memory(spec: dict) -> dict:
    call = make_client("qov get", spec["base"], "")
    for _ in range(spec["warm"]):
        call()
    before = resident_bytes()
    for _ in range(spec["requests"]):
        call()
    return {"before": before, "after": resident_bytes()}


def keep_off_the_servers_cpu() -> None:
    """Runs this process on another CPU than nginx's worker (pinned to the first):
    less noise from the two taking turns on one CPU."""
    cpus = sorted(os.sched_getaffinity(0))
    if len(cpus) >= 2:
        os.sched_setaffinity(0, cpus[1:])


KINDS = {"per_request": per_request, "threads": threads, "fib": fib, "memory": memory}

if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: python bench/measure.py SPEC_JSON OUT_FILE (run.py calls it)")
    given = json.loads(sys.argv[1])
    if given["kind"] in ("per_request", "memory"):
        keep_off_the_servers_cpu()
    outcome = KINDS[given["kind"]](given)
    Path(sys.argv[2]).write_text(json.dumps(outcome))
