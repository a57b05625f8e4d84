"""The four DNS record operations against the fake service: paths, bodies as
received, trace lines, the automatic lookup of the listing, and every error."""
import json

import pytest

from cloudflare_fixtures import LOOKUP, OTHER_ZONE, OTHER_ZONE_ID, RECORDS, ZONE, ZONE_ID, requests_seen, \
    run_client, transport_lines

RECORDS_PATH = f"/client/v4/zones/{ZONE_ID}/dns_records"
REMEMBERED = f"c.zone, c.zone_id = {ZONE!r}, {ZONE_ID!r}\n"


@pytest.mark.parametrize("call, query", [
    ("c.dns_get_records()", ""),
    ("c.dns_get_records(None)", ""),
    ("c.dns_get_records(None, 'A')", "&type=A"),
    ("c.dns_get_records(None, 'A', 'www.example.com')", "&type=A&name=www.example.com"),
    ("c.dns_get_records(None, 'A', 'www.example.com', '192.0.2.11')",
     "&type=A&name=www.example.com&content=192.0.2.11"),
    ("c.dns_get_records(None, 'TXT', 'example.com', 'v=spf1 a&b #c +d é')",
     "&type=TXT&name=example.com&content=v%3Dspf1%20a%26b%20%23c%20%2Bd%20%C3%A9"),
    ("c.dns_get_records(None, '', '', '')", "&type=&name=&content="),
])
def test_listing_paths_without_a_domain(qov, cloudflare, call, query):
    outcome = run_client(qov, cloudflare, "c.zone_id = ZONE_ID\nresult = " + call, ZONE_ID=ZONE_ID)
    path = RECORDS_PATH + "?" + query
    assert requests_seen(cloudflare) == [("GET", path)]
    assert outcome.lines == transport_lines("GET", cloudflare.base_url + path)
    assert outcome.value[0] == 200


def test_encoded_filters_select_exactly_their_record(qov, cloudflare):
    outcome = run_client(qov, cloudflare, setup=REMEMBERED, scenario="""
        result = c.dns_get_records("example.com", "TXT", "example.com", "v=spf1 a&b #c +d é")
        """)
    listed = json.loads(outcome.value[1])["result"]
    assert [r["id"] for r in listed] == [RECORDS[4]["id"]]


@pytest.mark.parametrize("setup, lines, lookups", [
    # The domain is the remembered zone: the line, then the listing alone.
    (REMEMBERED, [f"current_domain: {ZONE}"], []),
    # Another zone is remembered: the line names it, then a lookup.
    (f"c.zone, c.zone_id = {OTHER_ZONE!r}, {OTHER_ZONE_ID!r}", [f"current_domain: {OTHER_ZONE}"], [ZONE]),
    # No zone is remembered: no line, a lookup.
    ("", [], [ZONE]),
    # Only an id is remembered, and it is not used.
    (f"c.zone_id = {OTHER_ZONE_ID!r}", [], [ZONE]),
])
def test_listing_with_a_domain_looks_the_zone_up_when_needed(qov, cloudflare, setup, lines, lookups):
    outcome = run_client(qov, cloudflare, setup=setup, scenario="""
        answer = c.dns_get_records("example.com", "MX")
        result = answer[0], c.zone, c.zone_id
        """)
    assert outcome.value == (200, ZONE, ZONE_ID)
    lookup_paths = ["/client/v4" + LOOKUP + name for name in lookups]
    assert [path for _, path in requests_seen(cloudflare)] == lookup_paths + [RECORDS_PATH + "?&type=MX"]
    expected = list(lines)
    for path in lookup_paths + [RECORDS_PATH + "?&type=MX"]:
        expected += transport_lines("GET", cloudflare.base_url + path)
    assert outcome.lines == expected


KEPT = (ZONE, ZONE_ID)


@pytest.mark.parametrize("setup, call, error, lines, sent, fields", [
    # A lookup that finds nothing, or is refused by the service, reads as an unknown domain; a refused or
    # failed lookup is the cause.
    (REMEMBERED, "c.dns_get_records('nowhere.test')", ("ZoneNotFoundError", "Domain not found: nowhere.test", None),
     [f"current_domain: {ZONE}"], 1, KEPT),
    (REMEMBERED + "c.api_token = 'revoked'", "c.dns_get_records('example.org')",
     ("ZoneNotFoundError", "Domain not found: example.org", "ZoneLookupError"), [f"current_domain: {ZONE}"], 1,
     KEPT),
    (REMEMBERED + "c.api_url, c.max_retries = 'http://127.0.0.1:1', 0", "c.dns_get_records('example.org')",
     ("ZoneNotFoundError", "Domain not found: example.org", "ZoneLookupError"), [f"current_domain: {ZONE}"], 0,
     KEPT),
    # A token that cannot be sent is the instance's own fault and stands.
    (REMEMBERED + "c.api_token = 'a\\nb'", "c.dns_get_records('example.org')",
     ("ValueError", "api_token must not contain carriage returns, line feeds or NUL characters", None),
     [f"current_domain: {ZONE}"], 0, KEPT),
    (f"c.zone = {ZONE!r}", "c.dns_get_records('example.com')", ("ZoneNotFoundError", "Domain not found!", None),
     [f"current_domain: {ZONE}"], 0, (ZONE, "")),
    ("", "c.dns_get_records()", ("TypeError", "domain should be a string", None), [], 0, ("", "")),
    (f"c.zone = {ZONE!r}", "c.dns_get_records(None, 'A')", ("TypeError", "domain should be a string", None), [], 0,
     (ZONE, "")),
])
def test_listing_errors_keep_the_zone(qov, cloudflare, setup, call, error, lines, sent, fields):
    outcome = run_client(qov, cloudflare, setup=setup, scenario=f"""
        try:
            {call}
        except Exception as failure:
            cause = type(failure.__cause__).__name__ if failure.__cause__ else None
            result = (type(failure).__name__, str(failure), cause), (c.zone, c.zone_id)
        """)
    assert outcome.value == (error, fields)
    assert len(cloudflare.journal) == sent
    assert [line for line in outcome.lines if line.startswith("current_domain")] == lines


@pytest.mark.parametrize("record_type, content, proxied, ttl, members", [
    ("A", "192.0.2.1", True, 120, ['"content": "192.0.2.1"', '"name": "n"', '"proxied": true', '"type": "A"',
                                   '"ttl": 120']),
    ("CNAME", "x.example.com", 0, 1, ['"content": "x.example.com"', '"name": "n"', '"proxied": false',
                                      '"type": "CNAME"', '"ttl": 1']),
    ("AAAA", "2001:db8::1", True, 1, ['"content": "2001:db8::1"', '"name": "n"', '"proxied": true', '"type": "AAAA"',
                                      '"ttl": 1']),
    ("TXT", 'say "hi" / é', [1], 60, ['"content": "say \\"hi\\" \\/ é"', '"name": "n"', '"type": "TXT"',
                                      '"ttl": 60']),
    ("a", "192.0.2.1", True, 1, ['"content": "192.0.2.1"', '"name": "n"', '"type": "a"', '"ttl": 1']),
    ("mx", "m.example.com|20", False, 1, ['"content": "m.example.com|20"', '"name": "n"', '"type": "mx"',
                                         '"ttl": 1']),
    ("A", "192.0.2.1", False, 4294967295, ['"content": "192.0.2.1"', '"name": "n"', '"proxied": false',
                                           '"type": "A"', '"ttl": -1']),
    ("TXT", "t", False, -300, ['"content": "t"', '"name": "n"', '"type": "TXT"', '"ttl": -300']),
    ("TXT", "t", False, 2**32 + 300, ['"content": "t"', '"name": "n"', '"type": "TXT"', '"ttl": 300']),
    ("TXT", "t", False, -2**64 - 1, ['"content": "t"', '"name": "n"', '"type": "TXT"', '"ttl": -1']),
])
def test_record_bodies_as_received(qov, cloudflare, record_type, content, proxied, ttl, members):
    outcome = run_client(qov, cloudflare, setup=REMEMBERED, scenario="""
        created = c.dns_create_record(T, "n", CONTENT, P, TTL)
        updated = c.dns_update_record(RID, T, "n", CONTENT, P, TTL)
        result = created[0], updated[0]
        """, T=record_type, CONTENT=content, P=proxied, TTL=ttl, RID=RECORDS[0]["id"])
    body = ("{\n  " + ",\n  ".join(members) + "\n}").encode()
    assert requests_seen(cloudflare) == [("POST", RECORDS_PATH), ("PUT", RECORDS_PATH + "/" + RECORDS[0]["id"])]
    assert [entry.body for entry in cloudflare.journal] == [body, body]
    assert outcome.lines == transport_lines("POST", cloudflare.base_url + RECORDS_PATH) + \
        transport_lines("PUT", cloudflare.base_url + RECORDS_PATH + "/" + RECORDS[0]["id"])
    # Whatever the service answers comes back, also a refusal.
    assert all(isinstance(status, int) for status in outcome.value)


@pytest.mark.parametrize("content, host, priority", [
    ("mail.example.com|20", "mail.example.com", 20),
    ("mail.example.com", "mail.example.com", 10),
    ("mail.example.com|abc", "mail.example.com", 0),
    ("mail.example.com||20", "mail.example.com", 20),
    ("mail.example.com|20|30", "mail.example.com", 20),
    ("|20", "20", 10),
    ("||mail.example.com|||5", "mail.example.com", 5),
    ("mail.example.com| -5x", "mail.example.com", -5),
    ("mail.example.com|+7", "mail.example.com", 7),
    ("mail.example.com|99999999999", "mail.example.com", 1215752191),  # the low 32 bits
    ("", "", 10),
    ("||", "||", 10),
])
def test_mx_content_is_split_on_a_copy(qov, cloudflare, content, host, priority):
    outcome = run_client(qov, cloudflare, setup=REMEMBERED, scenario="""
        given = "".join(CONTENT)  # a string of the test's own
        c.dns_create_record("MX", "@", given, True, 1)
        result = given
        """, CONTENT=content)
    assert outcome.value == content
    expected = (f'{{\n  "content": {json.dumps(host)},\n  "priority": {priority},\n  "name": "@",\n'
                f'  "type": "MX",\n  "ttl": 1\n}}').encode()
    assert [entry.body for entry in cloudflare.journal] == [expected]


def test_records_round_trip_through_the_service(qov, any_cloudflare):
    outcome = run_client(qov, any_cloudflare, """
        c.query("example.com")
        created = c.dns_create_record("A", "new", "192.0.2.50", False, 300)
        record_id = __import__("json").loads(created[1])["result"]["id"]
        updated = c.dns_update_record(record_id, "A", "new", "192.0.2.51", True, 1)
        again = c.dns_create_record("A", "new", "192.0.2.51", False, 300)
        clash = c.dns_create_record("CNAME", "new", "www.example.com", False, 1)
        deleted = c.dns_delete_record(record_id)
        gone = c.dns_delete_record(record_id)
        result = record_id, [t[0] for t in (created, updated, again, clash, deleted, gone)], [again[1], gone[1]]
        """)
    record_id, statuses, (again, gone) = outcome.value
    assert statuses == [200, 200, 400, 400, 200, 404]
    assert json.loads(again)["errors"][0]["code"] == 81058
    assert json.loads(gone)["errors"][0]["code"] == 81044
    assert record_id not in [r["id"] for r in any_cloudflare.records(ZONE_ID)]
    assert requests_seen(any_cloudflare)[-1] == ("DELETE", RECORDS_PATH + "/" + record_id)
    assert any_cloudflare.journal[-1].body == b""


@pytest.mark.parametrize("call", [
    "c.dns_create_record('A', 'n', '192.0.2.1', True, 1)",
    "c.dns_update_record('1' * 32, 'A', 'n', '192.0.2.1', True, 1)",
    "c.dns_delete_record('1' * 32)",
])
def test_writes_need_a_remembered_zone(qov, cloudflare, call):
    outcome = run_client(qov, cloudflare, "c.zone = 'example.com'\n" + call)
    assert outcome.error == ("TypeError", "Zone id is null, please query domain first.")
    assert outcome.lines == [] and cloudflare.journal == []


UNSAFE_SEGMENTS = ["a/b", "a?b", "a#b", "a%2Fb", "a\\b", "a b", "a\tb", "a\nb", "a\x01b", "a\x7fb", ".", ".."]
ALL_CALLS = [
    "c.dns_get_records()", "c.dns_get_records(None, 'A')", "c.dns_get_records('example.com')",
    "c.dns_create_record('A', 'n', '192.0.2.1', True, 1)", "c.dns_update_record(OK, 'A', 'n', '192.0.2.1', True, 1)",
    "c.dns_delete_record(OK)", "c.change_always_use_https('on')", "c.change_automatic_https_rewrites('on')",
    "c.change_ssl_model('full')", "c.purge_cache()",
]


def _errors_of(calls: list[str]) -> str:
    lines = ["result = []"]
    for call in calls:
        lines.append(f"try:\n    {call}\n    result.append(None)\n"
                     f"except Exception as e:\n    result.append((type(e).__name__, str(e).split(':')[0]))")
    return "\n".join(lines)


NO_ZONE = "Zone id is null, please query domain first."


# Reading zone_id before any lookup stores "": that, like "" assigned, is no zone.
@pytest.mark.parametrize("setup", ["c.zone_id", "c.zone_id = ''"])
def test_an_empty_zone_id_is_no_zone(qov, cloudflare, setup):
    calls = {
        "c.dns_get_records()": "domain should be a string",
        "c.dns_get_records(None, 'A')": "domain should be a string",
        "c.dns_get_records('example.com')": "Domain not found!",  # the remembered zone, without an id
        "c.dns_create_record('A', 'n', '192.0.2.1', True, 1)": NO_ZONE,
        "c.dns_update_record(OK, 'A', 'n', '192.0.2.1', True, 1)": NO_ZONE,
        "c.dns_delete_record(OK)": NO_ZONE,
        "c.dns_ensured_record('example.com', 'A', 'n', '192.0.2.1', True, 1)": NO_ZONE,
        "c.change_always_use_https('on')": NO_ZONE,
        "c.change_automatic_https_rewrites('on')": NO_ZONE,
        "c.change_ssl_model('full')": NO_ZONE,
        "c.purge_cache()": NO_ZONE,
    }
    scenario = f"c.zone = 'example.com'\n{setup}\n" + _errors_of(list(calls)).replace(".split(':')[0]", "")
    outcome = run_client(qov, cloudflare, scenario, OK=RECORDS[0]["id"])
    raised = {NO_ZONE: "NoZoneError", "Domain not found!": "ZoneNotFoundError"}
    assert outcome.value == [(raised.get(message, "TypeError"), message) for message in calls.values()]
    assert cloudflare.journal == []
    assert set(outcome.lines) <= {"current_domain: example.com"}


@pytest.mark.parametrize("segment", UNSAFE_SEGMENTS)
def test_unsafe_zone_ids_are_refused_before_anything_is_printed_or_sent(qov, cloudflare, segment):
    outcome = run_client(qov, cloudflare, "c.zone, c.zone_id = 'example.com', BAD\n" + _errors_of(ALL_CALLS),
                         BAD=segment, OK=RECORDS[0]["id"])
    assert outcome.value == [("ValueError", "zone_id must be a single path segment")] * len(ALL_CALLS)
    assert outcome.lines == [] and cloudflare.journal == []


@pytest.mark.parametrize("segment", UNSAFE_SEGMENTS)
def test_unsafe_record_ids_are_refused_before_anything_is_printed_or_sent(qov, cloudflare, segment):
    calls = ["c.dns_update_record(BAD, 'A', 'n', '192.0.2.1', True, 1)", "c.dns_delete_record(BAD)"]
    outcome = run_client(qov, cloudflare, REMEMBERED + _errors_of(calls), BAD=segment)
    assert outcome.value == [("ValueError", "record_id must be a single path segment")] * 2
    assert outcome.lines == [] and cloudflare.journal == []


def test_an_empty_record_id_is_refused(qov, cloudflare):
    calls = ["c.dns_update_record('', 'A', 'n', '192.0.2.1', True, 1)", "c.dns_delete_record('')"]
    outcome = run_client(qov, cloudflare, REMEMBERED + _errors_of(calls))
    assert outcome.value == [("ValueError", "record_id must not be empty")] * 2
    assert outcome.lines == [] and cloudflare.journal == []


@pytest.mark.parametrize("call, error", [
    ("c.dns_get_records(1)", "TypeError"),
    ("c.dns_get_records(None, None)", "TypeError"),
    ("c.dns_get_records(None, 'A\\0')", "ValueError"),
    ("c.dns_create_record('A', 'n', 'c', True)", "TypeError"),
    ("c.dns_create_record('A', 'n', 'c', True, '1')", "TypeError"),
    ("c.dns_create_record('A', 'n', 'c', True, 1.0)", "TypeError"),
    ("c.dns_update_record(1, 'A', 'n', 'c', True, 1)", "TypeError"),
    ("c.dns_delete_record()", "TypeError"),
    ("c.dns_delete_record(b'r')", "TypeError"),
])
def test_argument_errors_send_nothing(qov, cloudflare, call, error):
    outcome = run_client(qov, cloudflare, REMEMBERED + call)
    assert outcome.error[0] == error
    assert outcome.lines == [] and cloudflare.journal == []
