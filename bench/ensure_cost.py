"""What one dns_ensured_record call costs the service, by zone size: requests
made and response bytes read, against the sandbox's Cloudflare fake.

Usage (from the repository, with the module installed):

    python bench/ensure_cost.py                  # zones of 100, 3,000 and 50,000 records
    python bench/ensure_cost.py --module-dir D   # the _qov module found in D instead (another build)

For each zone size two calls are measured, each in a fresh child interpreter
(trace lines to /dev/null): the wanted A record already there as the zone's
last record (nothing to write), and a name the zone does not have (one
create). The other records have names of their own. Target: one listing
request plus the writes for any zone size, and bytes read independent of the
zone size.
"""
from __future__ import annotations

import argparse
import os
import subprocess
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "sandbox"))

from qov_sandbox import CloudflareFake  # noqa: E402

SIZES = (100, 3_000, 50_000)
ZONE, TOKEN = "example.com", "bench-token"
WANTED = "home.example.com"
CHILD = """
import sys, _qov
c = _qov.Cloudflare(api_token=sys.argv[1], api_url=sys.argv[2])
c.query(sys.argv[3])
c.dns_ensured_record(sys.argv[3], "A", sys.argv[4], "192.0.2.50", False, 300)
"""


class CountingFake(CloudflareFake):
    """The fake, counting the response bytes it sends after the zone lookup."""

    def __init__(self) -> None:
        super().__init__(tokens=(TOKEN,), rate_limit=0)
        self._count_lock = threading.Lock()
        self.bytes_sent = 0

    def handle(self, request):
        reply = super().handle(request)
        if "/dns_records" in request.url_path:
            with self._count_lock:
                self.bytes_sent += len(reply.body)
        return reply


def measure(size: int, present: bool, env: dict[str, str]) -> tuple[int, int, int]:
    """(requests, writes, response bytes) of one ensure, the zone lookup left out."""
    with CountingFake() as fake:
        zone_id = fake.add_zone(ZONE)
        for n in range(size - 1 if present else size):
            fake.add_record(zone_id, "A", f"n{n}", "192.0.2.1")
        if present:
            fake.add_record(zone_id, "A", WANTED, "192.0.2.50", ttl=300)
        subprocess.run([sys.executable, "-c", CHILD, TOKEN, fake.api_url, ZONE, WANTED], env=env, check=True,
                       stdout=subprocess.DEVNULL, timeout=600)
        calls = [e for e in fake.journal if "/dns_records" in e.url_path]
        return len(calls), sum(e.method != "GET" for e in calls), fake.bytes_sent


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--module-dir", help="a folder holding another build of _qov, used instead")
    args = parser.parse_args()
    env = {k: v for k, v in os.environ.items() if k not in ("http_proxy", "CURL_CA_BUNDLE")}
    if args.module_dir:
        env["PYTHONPATH"] = os.path.abspath(args.module_dir)
    print(f"{'zone records':>12}  {'wanted record':<26} {'requests':>8} {'writes':>6} {'bytes read':>12}")
    for size in SIZES:
        for present, label in ((True, "there, on the last page"), (False, "absent: created")):
            requests, writes, read = measure(size, present, env)
            print(f"{size:>12,}  {label:<26} {requests:>8,} {writes:>6} {read:>12,}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
