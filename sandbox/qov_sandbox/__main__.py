"""Run the Cloudflare and DingTalk fakes on loopback for hands-on testing.

    python -m qov_sandbox [--https] [--cloudflare-port N] [--dingtalk-port N]
                          [--seed FILE] [--ca-file PATH]
                          [--cloudflare-limit N/SECONDS] [--cloudflare-block SECONDS]
                          [--robot-limit N/SECONDS] [--robot-block SECONDS]

Both fakes are seeded from FILE (default: the shipped seed.json). Once both
listen, the sandbox prints shell-style settings, one per line:

    CLOUDFLARE_API_URL=http://127.0.0.1:PORT/client/v4
    CLOUDFLARE_API_TOKEN=test-token
    QOV_DINGTALK_URL=http://127.0.0.1:PORT
    DINGTALK_ROBOT_TOKEN=robot-token
    DINGTALK_ROBOT_SECRET=SEC...
    CURL_CA_BUNDLE=/path/to/ca.pem        (with --https only; the same file
    SSL_CERT_FILE=/path/to/ca.pem          for libcurl, OpenSSL and Python's
    REQUESTS_CA_BUNDLE=/path/to/ca.pem     ssl and httpx, and requests)

then the line "ready". Lines starting with "#" are notes (zone ids, other
robots). After "ready" every request is printed as one line, with the
service's error code where it refused, e.g.

    [cloudflare] GET /client/v4/zones?name=example.com -> 200
    [cloudflare] GET /client/v4/zones -> 403 error 9109: Invalid access token
    [dingtalk] POST /robot/send?access_token=...&timestamp=...&sign=... -> 200 errcode=0 ok

--https serves both fakes over TLS with a throwaway CA, written to PATH when
--ca-file is given (which implies --https), else to a temporary folder.

The services' limits are on as the services set them, unless the seed's
"rate_limit" entries or these options say otherwise (0 turns a limit off):
--cloudflare-limit, requests per user (over all of its tokens) per window
(1200/300: 1,200 per 5 minutes; over it, 429 with Retry-After) and
--cloudflare-block, how long the user's requests are then refused (300 s);
--robot-limit, messages per robot in any window (20/60; over it, errcode
130101) and --robot-block, how long the robot then refuses everything (600 s).
TXT contents are handed out as quoted strings, as the service does
(--txt-quoted, which said so before it was the default, is still accepted).
SIGINT (Ctrl-C) or SIGTERM stops the sandbox with exit status 0.
"""
from __future__ import annotations

import argparse
import shutil
import signal
import sys
import tempfile
import threading
from pathlib import Path

from . import cloudflare as cloudflare_service
from . import dingtalk as dingtalk_service
from .cloudflare import CloudflareFake
from .dingtalk import DingTalkFake
from .seed import SEED_PATH, read_seed
from .tls import make_tls


def _arguments(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog="python -m qov_sandbox", description=__doc__.split("\n\n")[0])
    parser.add_argument("--https", action="store_true", help="serve HTTPS with a throwaway CA")
    parser.add_argument("--cloudflare-port", type=int, default=0, metavar="N")
    parser.add_argument("--dingtalk-port", type=int, default=0, metavar="N")
    parser.add_argument("--seed", type=Path, default=SEED_PATH, metavar="FILE")
    parser.add_argument("--ca-file", type=Path, metavar="PATH", help="where to write the CA certificate")
    parser.add_argument("--txt-quoted", action="store_true", help="accepted for old scripts: TXT contents are "
                        "always handed back as quoted strings")
    parser.add_argument("--cloudflare-limit", type=_rate, metavar="N/SECONDS",
                        help="requests per user per window (default 1200/300; 0: no limit)")
    parser.add_argument("--cloudflare-block", type=_seconds, metavar="SECONDS",
                        help="how long a user is refused after its limit (default 300; 0: until the window ends)")
    parser.add_argument("--robot-limit", type=_rate, metavar="N/SECONDS",
                        help="messages per robot in any window (default 20/60; 0: no limit)")
    parser.add_argument("--robot-block", type=_seconds, metavar="SECONDS",
                        help="how long a robot refuses after its limit (default 600)")
    return parser.parse_args(argv)


def _rate(text: str) -> tuple[int, float | None]:
    """"N/SECONDS", or "N" for the service's own window; "0" turns the limit off."""
    count, _, seconds = text.partition("/")
    try:
        limit = int(count)
        window = float(seconds) if seconds else None
    except ValueError:
        raise argparse.ArgumentTypeError(f"not N/SECONDS: {text!r}") from None
    if limit < 0 or (window is not None and not window > 0):
        raise argparse.ArgumentTypeError(f"needs N >= 0 and SECONDS > 0: {text!r}")
    return limit, window


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number of seconds: {text!r}") from None
    if not value >= 0:
        raise argparse.ArgumentTypeError(f"needs SECONDS >= 0: {text!r}")
    return value


def main(argv: list[str] | None = None) -> int:
    args = _arguments(argv)
    seed = read_seed(args.seed)
    print_lock = threading.Lock()

    def say(line: str) -> None:
        with print_lock:
            print(line, flush=True)

    stop = threading.Event()
    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, lambda *_: stop.set())

    workdir = Path(tempfile.mkdtemp(prefix="qov-sandbox-"))
    tls = ca_file = None
    if args.https or args.ca_file:
        tls = make_tls(workdir)
        ca_file = tls.ca_file
        if args.ca_file:
            args.ca_file.parent.mkdir(parents=True, exist_ok=True)
            ca_file = Path(shutil.copyfile(tls.ca_file, args.ca_file)).resolve()

    cloudflare = CloudflareFake(tokens=(), tls=tls, seed=seed, port=args.cloudflare_port, log=say)
    if not cloudflare.tokens:
        cloudflare.add_token("test-token")
    if args.cloudflare_limit is not None or args.cloudflare_block is not None:
        limit, window, block = cloudflare.rate_limit or (0, cloudflare_service.RATE_WINDOW,
                                                         cloudflare_service.RATE_BLOCK)
        if args.cloudflare_limit is not None:
            limit, window = args.cloudflare_limit[0], args.cloudflare_limit[1] or cloudflare_service.RATE_WINDOW
        cloudflare.set_rate_limit(limit, window, block if args.cloudflare_block is None else args.cloudflare_block)
    dingtalk = DingTalkFake(robots={}, tls=tls, port=args.dingtalk_port, log=say,
                            rate_limit=dingtalk_service.RATE_LIMIT)
    dingtalk.load_seed(seed)
    if not dingtalk.robots:
        dingtalk.add_robot("robot-token", "robot-secret")
    if args.robot_limit is not None or args.robot_block is not None:
        limit, window, block = dingtalk.rate_limit or (0, dingtalk_service.RATE_WINDOW, dingtalk_service.RATE_BLOCK)
        if args.robot_limit is not None:
            limit, window = args.robot_limit[0], args.robot_limit[1] or dingtalk_service.RATE_WINDOW
        dingtalk.set_rate_limit(limit, window, block if args.robot_block is None else args.robot_block)
    try:
        cloudflare.start()
        dingtalk.start()
        _announce(say, cloudflare, dingtalk, ca_file)
        while not stop.wait(0.2):
            pass
    finally:
        cloudflare.stop()
        dingtalk.stop()
        shutil.rmtree(workdir, ignore_errors=True)
    say("# stopped")
    return 0


def _announce(say, cloudflare: CloudflareFake, dingtalk: DingTalkFake, ca_file: Path | None) -> None:
    (robot, secret), *other_robots = dingtalk.robots.items()
    say(f"CLOUDFLARE_API_URL={cloudflare.api_url}")
    say(f"CLOUDFLARE_API_TOKEN={cloudflare.tokens[0]}")
    say(f"QOV_DINGTALK_URL={dingtalk.base_url}")
    say(f"DINGTALK_ROBOT_TOKEN={robot}")
    say(f"DINGTALK_ROBOT_SECRET={secret or ''}")
    if ca_file is not None:
        for variable in ("CURL_CA_BUNDLE", "SSL_CERT_FILE", "REQUESTS_CA_BUNDLE"):
            say(f"{variable}={ca_file}")
    for token in cloudflare.tokens[1:]:
        say(f"# another Cloudflare token: {token} {cloudflare.scope(token).describe()}")
    for zone in cloudflare.zones():
        say(f"# zone {zone['name']} id={zone['id']} status={zone['status']}")
    for token, other_secret in other_robots:
        guard = dingtalk.guard(token).describe()
        say(f"# another robot: token={token} secret={other_secret or ''}" + (f" {guard}" if guard else ""))
    if guard := dingtalk.guard(robot).describe():
        say(f"# the robot's security besides its secret: {guard}")
    quota = cloudflare.rate_limit
    say("# Cloudflare rate limit: " + (f"{quota[0]} requests per {quota[1]:g} s per user, then {quota[2]:g} s "
                                       "refused" if quota else "off"))
    pace = dingtalk.rate_limit
    say("# DingTalk rate limit: " + (f"{pace[0]} messages per {pace[1]:g} s per robot, then {pace[2]:g} s refused"
                                     if pace else "off"))
    say("ready")


if __name__ == "__main__":
    sys.exit(main())
