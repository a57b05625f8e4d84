#!/usr/bin/env python3
"""ACME DNS-01 hook for certbot's manual mode: publishes the challenge as the
TXT record _acme-challenge.<domain> and removes it afterwards.

    certbot certonly --manual --preferred-challenges dns \\
        --manual-auth-hook "acme_dns01_hook.py set" \\
        --manual-cleanup-hook "acme_dns01_hook.py clean" \\
        -d example.com -d '*.example.com'

certbot passes CERTBOT_DOMAIN and CERTBOT_VALIDATION. Without an argument the
hook cleans up when CERTBOT_AUTH_OUTPUT is set (certbot sets it for the
cleanup hook only) and publishes otherwise.

A name can hold several challenges at once (example.com and *.example.com
share _acme-challenge.example.com), so the hook never replaces or removes a
value other than its own. Publishing a value that is already there (a hook
run twice) succeeds without writing.

Environment: CLOUDFLARE_API_TOKEN (required), CLOUDFLARE_API_URL (default: the
real API), ACME_ZONE (default: found from the domain), ACME_PROPAGATION_SECONDS
(how long "set" waits before certbot asks the CA to look; default 20).
"""
from __future__ import annotations

import os
import sys
import time

import qov

TTL = 120


def find_zone(cf: qov.Cloudflare, domain: str) -> str:
    """The longest parent domain of `domain` that the account has as a zone."""
    labels = domain.rstrip(".").split(".")
    for start in range(len(labels) - 1):
        candidate = ".".join(labels[start:])
        try:
            cf.query(candidate)
            return candidate
        except qov.ZoneNotFoundError:  # a failed lookup raises qov.ZoneLookupError instead
            continue
    raise LookupError(f"no zone of this account holds {domain}")


def refused_as_identical(result: qov.Response[int] | qov.Response[str]) -> bool:
    """The service's 81058: this very record is there already (another run put it up meanwhile)."""
    try:
        errors = result.json().get("errors") or []
    except (ValueError, AttributeError):  # not the service's JSON answer
        return False
    return any(isinstance(error, dict) and error.get("code") == 81058 for error in errors)


def main() -> int:
    action = sys.argv[1] if len(sys.argv) > 1 else ("clean" if "CERTBOT_AUTH_OUTPUT" in os.environ else "set")
    missing = [v for v in ("CERTBOT_DOMAIN", "CERTBOT_VALIDATION", "CLOUDFLARE_API_TOKEN") if not os.environ.get(v)]
    if action not in ("set", "clean") or missing:
        print(f"usage: acme_dns01_hook.py [set|clean], with {', '.join(missing) or 'the certbot variables'} set",
              file=sys.stderr)
        return 2

    domain = os.environ["CERTBOT_DOMAIN"].removeprefix("*.").rstrip(".").lower()
    validation = os.environ["CERTBOT_VALIDATION"]
    name = f"_acme-challenge.{domain}"
    cf = qov.Cloudflare(api_token=os.environ["CLOUDFLARE_API_TOKEN"])
    if os.environ.get("CLOUDFLARE_API_URL"):
        cf.api_url = os.environ["CLOUDFLARE_API_URL"]

    present = action == "set"
    try:
        zone = os.environ.get("ACME_ZONE") or find_zone(cf, domain)
        if zone != cf.zone:
            cf.query(zone)
        # replace=False: other values under the name stay. present=False
        # deletes only a record holding exactly this value.
        result = cf.dns_ensured_record(zone, "TXT", name, validation, False, TTL, present, False)
    except (LookupError, qov.Error) as error:  # no zone, or the lookup failed (network, token)
        print(f"acme: {error}", file=sys.stderr)
        return 1
    if result.action == "absent":  # clean, and the record was not there: nothing to do
        print(f"acme: no TXT {name} with this challenge to remove")
        return 0
    already = present and (result.action == "unchanged" or refused_as_identical(result))
    if not result.ok and not already:  # refused, or not delivered: the status and body say why
        print(f"acme: the request failed: {result.status} {result.body}", file=sys.stderr)
        return 1
    print(f"acme: TXT {name} {'already published' if already else 'published' if present else 'removed'}")
    if present:
        time.sleep(float(os.environ.get("ACME_PROPAGATION_SECONDS", "20")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
