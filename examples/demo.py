#!/usr/bin/env python3
"""The module's main job, end to end: look a zone up, list its records, keep an
A record in the wanted state, set and remove an ACME challenge, switch a zone
setting, purge the cache, and tell a DingTalk group what changed.

Each step prints what it is about to do, then the module's own trace lines,
then what the service answered. The script checks every answer and exits with
status 1 at the first step that did not do what it says.

Settings come from the environment, as `python -m qov_sandbox` prints them:

    CLOUDFLARE_API_TOKEN   the API token (required)
    CLOUDFLARE_API_URL     the API base URL (default: the real Cloudflare API)
    DINGTALK_ROBOT_TOKEN   the robot's access token (required)
    DINGTALK_ROBOT_SECRET  the robot's signing secret (required)
    QOV_DINGTALK_URL       scheme and host of the robot webhook (default: DingTalk's)
    CURL_CA_BUNDLE         a CA file to trust instead of the system's

`bash scripts/demo.sh` starts the sandbox, runs this script against it and
stops the sandbox again.
"""
from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Any

import qov

Reply = qov.Response[int] | qov.Response[str]

class StepFailed(Exception):
    pass


def say(text: str) -> None:
    print(text, flush=True)


def answer_of(reply: Reply) -> Any:
    """The parsed body of a successful answer, or StepFailed."""
    status, body = reply
    if not reply.ok:  # refused, or not delivered (libcurl's code and message)
        raise StepFailed(f"the request failed: {status} {body[:300]}")
    try:
        answer = reply.json()
    except ValueError:
        raise StepFailed(f"the answer is not JSON: {status} {body[:200]}") from None
    if not isinstance(answer, dict) or answer.get("success") is not True:
        raise StepFailed(f"the service refused: {status} {body[:300]}")
    return answer["result"]


def record_of(reply: Reply, action: str) -> dict[str, Any]:
    """The one record a create or an update answers with."""
    expect(reply.action == action, f"expected the record {action}, but the call reports {reply.action}")
    result = answer_of(reply)
    if not isinstance(result, dict) or "type" not in result:
        raise StepFailed(f"expected one written record, got: {json.dumps(result)[:200]}")
    return result


def describe(record: dict[str, Any]) -> str:
    return f"{record['type']} {record['name']} {record['content']} (id {record['id']})"


def expect(condition: bool, failure: str) -> None:
    if not condition:
        raise StepFailed(failure)


def run(cf: qov.Cloudflare, robot: qov.DingTalk, zone: str, host: str) -> list[str]:
    """The steps; returns the lines of the summary sent at the end."""
    first, second = "192.0.2.80", "192.0.2.81"
    challenge_name, challenge = f"_acme-challenge.{zone}", "demo-challenge-Xq3v9"
    step = iter(range(1, 100))

    say(f"\n== {next(step)}. Look up the zone {zone}")
    answer_of(cf.query(zone))
    expect(cf.zone == zone and cf.zone_id != "", "query() did not remember the zone")
    say(f"   ok: zone {cf.zone} has the id {cf.zone_id}")

    say(f"\n== {next(step)}. List its DNS records")
    records = answer_of(cf.dns_get_records(zone))
    expect(isinstance(records, list), "the listing holds no list of records")
    say(f"   ok: {len(records)} records on the first page:")
    for record in records:
        say(f"       {record['type']:<5} {record['name']:<28} {record['content']}")
    leftovers = [r for r in records if r["name"] == host and r["type"] == "A"]
    if leftovers:
        say(f"   (removing {len(leftovers)} A record(s) of {host} left by an earlier run)")
        for record in leftovers:
            answer_of(cf.dns_delete_record(record["id"]))

    say(f"\n== {next(step)}. Ensure A {host} -> {first}: expect it to be created")
    created = record_of(cf.dns_ensured_record(zone, "A", host, first, False, 300), "created")
    expect(created["content"] == first and created["name"] == host, f"wrote {describe(created)}")
    say(f"   ok: created {describe(created)}")

    say(f"\n== {next(step)}. Ensure the same record again: expect nothing to do")
    again = cf.dns_ensured_record(zone, "A", host, first, False, 300)
    expect(again.action == "unchanged", f"expected nothing written, but the call reports {again.action}")
    expect(isinstance(answer_of(again), list), "expected the listing back (no write), got a write's answer")
    say("   ok: the record was already right; the answer is the listing itself, nothing was written")

    say(f"\n== {next(step)}. Ensure A {host} -> {second}: expect the record to be updated in place")
    updated = record_of(cf.dns_ensured_record(zone, "A", host, second, False, 300), "updated")
    expect(updated["id"] == created["id"] and updated["content"] == second, f"wrote {describe(updated)}")
    say(f"   ok: updated {describe(updated)}")

    say(f"\n== {next(step)}. Ensure the ACME challenge TXT {challenge_name}: expect it to be created")
    say("   (replace=False leaves the values of other challenges under that name alone)")
    txt = record_of(cf.dns_ensured_record(zone, "TXT", challenge_name, challenge, False, 120, True, False),
                    "created")
    expect(txt["content"].strip('"') == challenge, f"wrote {describe(txt)}")
    say(f"   ok: created {describe(txt)}")

    say(f"\n== {next(step)}. Remove the challenge again (present=False): expect it to be deleted")
    removal = cf.dns_ensured_record(zone, "TXT", challenge_name, challenge, False, 120, False, False)
    expect(removal.action == "deleted", f"expected the record deleted, but the call reports {removal.action}")
    deleted = answer_of(removal)
    expect(isinstance(deleted, dict) and deleted.get("id") == txt["id"], f"deleted {deleted!r}, not {txt['id']}")
    remaining = answer_of(cf.dns_get_records(zone, "TXT", challenge_name))
    expect(all(r["content"].strip('"') != challenge for r in remaining), "the challenge is still listed")
    say(f"   ok: deleted record {txt['id']}; a filtered listing no longer shows it")

    say(f"\n== {next(step)}. Switch always_use_https on")
    setting = answer_of(cf.change_always_use_https("on"))
    expect(setting.get("value") == "on", f"the setting reads {setting!r}")
    say(f"   ok: {setting['id']} is {setting['value']}")

    say(f"\n== {next(step)}. Purge the zone's cache")
    purged = answer_of(cf.purge_cache())
    expect(purged.get("id") == cf.zone_id, f"purge answered {purged!r}")
    say("   ok: everything purged")

    summary = [f"- A {host}: created with {first}, left alone when already right, updated to {second}",
               f"- TXT {challenge_name}: created, then removed",
               "- always_use_https: on",
               "- cache: purged"]
    say(f"\n== {next(step)}. Send the summary to the DingTalk group as markdown")
    text = f"### qov demo on {zone}\n" + "\n".join(summary)
    reply = robot.send_markdown(f"qov demo: {zone}", text)
    if reply.errcode is None:  # not the robot's answer: an HTTP error page or libcurl's message
        raise StepFailed(f"the robot could not be reached: {reply.status} {reply}")
    expect(reply.ok, f"the robot refused: {reply}")
    say("   ok: the robot accepted the message (errcode 0: signature checked)")
    return summary


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0] if __doc__ else None)
    parser.add_argument("--zone", default=os.environ.get("DEMO_ZONE", "example.com"),
                        help="the zone to work on (default: example.com, the sandbox's)")
    parser.add_argument("--host", default="demo", help="the label of the demo's A record (default: demo)")
    args = parser.parse_args()

    missing = [name for name in ("CLOUDFLARE_API_TOKEN", "DINGTALK_ROBOT_TOKEN", "DINGTALK_ROBOT_SECRET")
               if name not in os.environ]
    if missing:
        print(f"demo.py: set {', '.join(missing)} (python -m qov_sandbox prints them)", file=sys.stderr)
        return 2
    cf = qov.Cloudflare(api_token=os.environ["CLOUDFLARE_API_TOKEN"])
    if os.environ.get("CLOUDFLARE_API_URL"):
        cf.api_url = os.environ["CLOUDFLARE_API_URL"]
    robot = qov.DingTalk(os.environ["DINGTALK_ROBOT_TOKEN"], os.environ["DINGTALK_ROBOT_SECRET"])

    say(f"qov demo against {cf.api_url} on the zone {args.zone}")
    try:
        summary = run(cf, robot, args.zone, f"{args.host}.{args.zone}")
    except StepFailed as error:
        say(f"   FAILED: {error}")
        return 1
    except qov.Error as error:  # no such zone, or its lookup failed (network, token)
        say(f"   FAILED: {type(error).__name__}: {error}")
        return 1
    say("\nEvery step did what it said:\n" + "\n".join(summary))
    return 0


if __name__ == "__main__":
    sys.exit(main())
