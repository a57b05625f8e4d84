#!/usr/bin/env python3
"""Dynamic DNS: point NAME at this machine's addresses, and tell a DingTalk
group when a record changed (or when the update failed).

    ddns_update.py home.example.com 203.0.113.7                # the address given
    ddns_update.py home.example.com 203.0.113.7 2001:db8::7    # a dual-stack host
    ddns_update.py home.example.com                            # the address discovered

Run it from cron or a systemd timer: when the records are already right it
only reads them. An IPv4 address is kept in the name's A record, an IPv6
address in its AAAA record; the two stand side by side. The address is
discovered by asking --lookup-url, which answers with the caller's address,
either alone or as an "ip=" line.

Environment: CLOUDFLARE_API_TOKEN (required), CLOUDFLARE_API_URL (default: the
real API), DINGTALK_ROBOT_TOKEN and DINGTALK_ROBOT_SECRET (no alerts when
unset), QOV_DINGTALK_URL and CURL_CA_BUNDLE (read by the module).
"""
from __future__ import annotations

import argparse
import ipaddress
import os
import sys
import urllib.request

import qov

LOOKUP_URL = "https://www.cloudflare.com/cdn-cgi/trace"


def discover_address(url: str) -> str:
    with urllib.request.urlopen(url, timeout=15) as response:
        text: str = response.read().decode("utf-8", "replace")
    for line in text.splitlines():
        if line.startswith("ip="):
            return line[3:].strip()
    return text.strip()


def find_zone(cf: qov.Cloudflare, name: str) -> str:
    """The zone holding `name`: the longest of its parent domains that the
    account has (query() remembers it for the calls that follow). A lookup
    that fails (network, token) raises qov.ZoneLookupError."""
    labels = name.rstrip(".").lower().split(".")
    for start in range(len(labels) - 1):
        candidate = ".".join(labels[start:])
        try:
            cf.query(candidate)
            return candidate
        except qov.ZoneNotFoundError:
            continue
    raise LookupError(f"no zone of this account holds {name}")


def alert(text: str) -> None:
    token, secret = os.environ.get("DINGTALK_ROBOT_TOKEN"), os.environ.get("DINGTALK_ROBOT_SECRET")
    if token and secret:
        reply = qov.DingTalk(token, secret).send_text(text)
        if not reply.ok:  # refused (errcode), or not delivered (an HTTP error, libcurl's message)
            print(f"ddns: the DingTalk alert failed: {reply.status} {reply}", file=sys.stderr)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0] if __doc__ else None)
    parser.add_argument("name", help="the full record name, such as home.example.com")
    parser.add_argument("addresses", nargs="*", help="the addresses to publish, at most one of each family "
                        "(default: discovered)")
    parser.add_argument("--ttl", type=int, default=300, help="seconds, or 1 for automatic (default: 300)")
    parser.add_argument("--proxied", action="store_true", help="send the traffic through Cloudflare's proxy")
    parser.add_argument("--lookup-url", default=LOOKUP_URL, help="where to discover the address")
    args = parser.parse_args()

    if "CLOUDFLARE_API_TOKEN" not in os.environ:
        parser.error("set CLOUDFLARE_API_TOKEN")
    addresses = [ipaddress.ip_address(text) for text in args.addresses or [discover_address(args.lookup_url)]]
    if len({address.version for address in addresses}) != len(addresses):
        parser.error("give at most one IPv4 and one IPv6 address")
    name = args.name  # in any letter case, with or without the final dot: the service stores one form
    cf = qov.Cloudflare(api_token=os.environ["CLOUDFLARE_API_TOKEN"])
    if os.environ.get("CLOUDFLARE_API_URL"):
        cf.api_url = os.environ["CLOUDFLARE_API_URL"]

    for address in addresses:
        record_type = "AAAA" if address.version == 6 else "A"
        try:
            zone = cf.zone or find_zone(cf, name)
            result = cf.dns_ensured_record(zone, record_type, name, str(address), args.proxied, args.ttl)
            if not result.ok:  # refused, or not delivered: the status and body say why
                raise RuntimeError(f"{result.status} {result.body}")
        except (LookupError, qov.Error, RuntimeError) as error:
            print(f"ddns: {name} could not be updated: {error}", file=sys.stderr)
            alert(f"DDNS: {name} could not be set to {address}: {error}")
            return 1

        if result.action == "unchanged":
            print(f"ddns: {record_type} {name} is already {address}")
        else:
            print(f"ddns: {record_type} {name} now points to {address}")
            alert(f"DDNS: {record_type} {name} now points to {address}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
