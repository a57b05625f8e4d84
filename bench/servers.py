"""The benchmark's loopback servers: nginx serving a 100-record DNS listing over
HTTP and HTTPS (throwaway CA), and a small threaded server that answers after
50 ms. Both run in processes of their own, so they take no CPU time from the
measured client and no interpreter lock from it.

`python bench/servers.py slow DELAY` runs the slow server alone and prints its
port; run.py starts it that way.
"""
from __future__ import annotations

import grp
import json
import os
import pwd
import shutil
import socket
import subprocess
import sys
import time
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "sandbox"))

from qov_sandbox import CloudflareFake  # noqa: E402
from qov_sandbox.tls import make_tls  # noqa: E402

ZONE_ID = "0123456789abcdef0123456789abcdef"
RECORDS_PATH = f"/zones/{ZONE_ID}/dns_records"  # below the API prefix


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port: int, what: str, timeout: float = 10) -> None:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"{what} did not start listening on port {port}")


def record_listing(count: int = 100) -> bytes:
    """A DNS record listing in the service's shape, made by the Cloudflare fake."""
    fake = CloudflareFake()  # never started: only its record store is used
    zone_id = fake.add_zone("bench.example", id=ZONE_ID)
    kinds = [("A", lambda i: f"192.0.2.{i % 250 + 1}"), ("AAAA", lambda i: f"2001:db8::{i:x}"),
             ("CNAME", lambda i: "target.bench.example"), ("TXT", lambda i: f"v=spf1 include:{i}.example ~all"),
             ("MX", lambda i: f"mx{i}.bench.example")]
    for i in range(count):
        kind, content = kinds[i % len(kinds)]
        fake.add_record(zone_id, kind, f"host{i}", content(i), ttl=300, proxied=kind in ("A", "CNAME"))
    listing = {"result": fake.records(zone_id), "success": True, "errors": [], "messages": [],
               "result_info": {"page": 1, "per_page": count, "count": count, "total_count": count,
                               "total_pages": 1}}
    return json.dumps(listing).encode()


_NGINX_CONF = """\
{user}
worker_processes 1;
{affinity}
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 256; }}
http {{
    access_log off;
    client_body_temp_path {dir}/tmp/body;
    proxy_temp_path {dir}/tmp/proxy;
    fastcgi_temp_path {dir}/tmp/fastcgi;
    uwsgi_temp_path {dir}/tmp/uwsgi;
    scgi_temp_path {dir}/tmp/scgi;
    # Warm clients keep one connection for the whole run, as against a real API front end.
    keepalive_requests 10000000;
    keepalive_timeout 600s;
    # The server's own cost per request is part of every client's wall time: keep it small.
    open_file_cache max=16 inactive=600s;
    open_file_cache_valid 600s;
    sendfile on;
    tcp_nopush on;
    output_buffers 1 128k;
    ssl_protocols TLSv1.2 TLSv1.3;
    types {{ }}
    default_type application/json;
    server {{
        listen 127.0.0.1:{http_port};
        listen 127.0.0.1:{https_port} ssl;
        ssl_certificate {cert};
        ssl_certificate_key {key};
        root {dir}/www;
        # The robot's answer to any message, for the DingTalk clients.
        location = /robot/send {{ return 200 '{{"errcode":0,"errmsg":"ok"}}'; }}
    }}
}}
"""


@dataclass
class Nginx:
    folder: Path
    http_url: str = ""
    https_url: str = ""
    ca_file: str = ""
    process: subprocess.Popen | None = None

    def start(self) -> Nginx:
        binary = shutil.which("nginx") or "/usr/sbin/nginx"
        tls = make_tls(self.folder / "tls")
        listing = self.folder / "www" / "client" / "v4" / RECORDS_PATH.lstrip("/")
        listing.parent.mkdir(parents=True)
        listing.write_bytes(record_listing())
        (self.folder / "tmp").mkdir()
        http_port, https_port = free_port(), free_port()
        # As root, nginx's workers would otherwise switch to "nobody", who cannot read the temp folder.
        user = ""
        if os.geteuid() == 0:
            user = f"user {pwd.getpwuid(os.getuid()).pw_name} {grp.getgrgid(os.getgid()).gr_name};"
        conf = self.folder / "nginx.conf"
        # The first CPU for the server, the others for the measured client (measure.py).
        cpus = sorted(os.sched_getaffinity(0))
        affinity = f"worker_cpu_affinity 1{'0' * cpus[0]};" if len(cpus) >= 2 else ""
        conf.write_text(_NGINX_CONF.format(user=user, affinity=affinity, dir=self.folder, http_port=http_port,
                                           https_port=https_port, cert=tls.cert_file, key=tls.key_file))
        self.process = subprocess.Popen([binary, "-c", str(conf), "-p", str(self.folder), "-e",
                                         str(self.folder / "error.log"), "-g", "daemon off;"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            wait_for_port(http_port, "nginx")
            wait_for_port(https_port, "nginx")
        except RuntimeError as error:
            self.stop()
            raise RuntimeError("nginx did not start: " + (self.folder / "error.log").read_text(errors="replace")) \
                from error
        self.http_url = f"http://127.0.0.1:{http_port}/client/v4"
        self.https_url = f"https://127.0.0.1:{https_port}/client/v4"
        self.ca_file = str(tls.ca_file)
        return self

    def stop(self) -> None:
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()  # SIGTERM: nginx's fast shutdown, workers included
            self.process.wait(timeout=10)


class _SlowHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, as nginx
    disable_nagle_algorithm = True  # headers and body are two writes: no delayed-ACK stall
    delay = 0.05

    def log_message(self, *args: object) -> None:
        pass

    def do_GET(self) -> None:  # noqa: N802
        time.sleep(self.delay)
        body = b'{"success":true}'
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class _SlowServer(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64  # eight clients connect at once


class SlowServer:
    """The threaded 50 ms server, in a child process."""

    def __init__(self, delay: float) -> None:
        self.process = subprocess.Popen([sys.executable, __file__, "slow", str(delay)], stdout=subprocess.PIPE,
                                        text=True)
        assert self.process.stdout is not None
        port = int(self.process.stdout.readline())
        wait_for_port(port, "the slow server")
        self.url = f"http://127.0.0.1:{port}/client/v4"

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)


def _serve_slow(delay: float) -> None:
    _SlowHandler.delay = delay
    server = _SlowServer(("127.0.0.1", 0), _SlowHandler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "slow":
        _serve_slow(float(sys.argv[2]))
    else:
        sys.exit("usage: python bench/servers.py slow DELAY_SECONDS")
