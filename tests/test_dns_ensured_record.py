"""dns_ensured_record against the fake service: every row of the decision
table, judged by the requests the service received and the zone afterwards."""
import json

import pytest

from cloudflare_fixtures import TOKEN, ZONE, ZONE_ID
from qov_sandbox import CloudflareFake

HOST = "h.example.com"
LISTING = f"/client/v4/zones/{ZONE_ID}/dns_records?"
RECORD = f"/client/v4/zones/{ZONE_ID}/dns_records"


def rid(n: int) -> str:
    return f"{n:032x}"


@pytest.fixture
def zone():
    """An empty example.com; tests add the records they need."""
    fake = CloudflareFake(tokens=(TOKEN,)).start()
    fake.add_zone(ZONE, id=ZONE_ID)
    yield fake
    fake.stop()


def seed(fake, *records):
    """Adds (type, content[, extra]) records named HOST with ids 1, 2, ..."""
    for n, (type_, content, *extra) in enumerate(records, start=1):
        fake.add_record(ZONE_ID, type_, HOST, content, id=rid(n), **(extra[0] if extra else {}))


def ensure(qov, fake, *args, setup="c.zone, c.zone_id = ZONE, ZONE_ID"):
    """Runs dns_ensured_record(ZONE, *args) with the zone remembered; returns the outcome."""
    return qov(f"""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        {setup}
        result = c.dns_ensured_record(ZONE, *ARGS)
        """, TOKEN=TOKEN, URL=fake.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID, ARGS=args)


def writes(fake):
    """(method, record id or "", body) of every request after the listing."""
    seen = []
    for entry in fake.journal:
        if entry.method == "GET":
            continue
        record = entry.path[len(RECORD):].lstrip("/")
        seen.append((entry.method, record, json.loads(entry.body) if entry.body else None))
    return seen


def ensure_lines(outcome):
    return [line for line in outcome.lines if line.startswith("record found")]


def contents(fake):
    return sorted((r["type"], r["content"]) for r in fake.records(ZONE_ID) if r["name"] == HOST)


def body(type_, content, ttl=300, proxied=None, priority=None):
    fields = {"content": content}
    if priority is not None:
        fields["priority"] = priority
    fields["name"] = HOST
    if proxied is not None:
        fields["proxied"] = proxied
    fields.update(type=type_, ttl=ttl)
    return fields


def test_empty_zone_present_creates(qov, zone):
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300)
    assert writes(zone) == [("POST", "", body("A", "192.0.2.1", proxied=False))]
    assert outcome.value[0] == 200 and json.loads(outcome.value[1])["result"]["content"] == "192.0.2.1"
    assert [e.path for e in zone.journal][0] == LISTING  # one unfiltered listing


def test_empty_zone_absent_reports_not_found(qov, zone):
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", True, 300, False)
    assert outcome.value == ("404", f"Record not found: {HOST}, A, 192.0.2.1, 1")
    assert writes(zone) == []


def test_exact_match_present_returns_the_listing_unchanged(qov, zone):
    seed(zone, ("A", "192.0.2.1"))
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        listing = c.dns_get_records()
        result = (listing, c.dns_ensured_record(ZONE, "A", HOST, "192.0.2.1", 0, 300))
        """, TOKEN=TOKEN, URL=zone.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID, HOST=HOST)
    listing, ensured = outcome.value
    assert ensured == listing
    assert writes(zone) == [] and ensure_lines(outcome) == []


def test_exact_match_absent_deletes_it(qov, zone):
    seed(zone, ("A", "192.0.2.1"), ("A", "192.0.2.2"))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.2", False, 300, 0)
    assert ensure_lines(outcome) == [f"record found delete: {rid(2)} {HOST}, A, 192.0.2.2, 0"]
    assert writes(zone) == [("DELETE", rid(2), None)]
    assert json.loads(outcome.value[1])["result"] == {"id": rid(2)}
    assert contents(zone) == [("A", "192.0.2.1")]


@pytest.mark.parametrize("replace, expected", [
    (True, [("PUT", rid(1), body("A", "192.0.2.9", proxied=True))]),
    (False, [("PUT", rid(1), body("A", "192.0.2.9", proxied=True))]),
])
def test_differing_record_is_updated_in_place(qov, zone, replace, expected):
    seed(zone, ("A", "192.0.2.1"))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.9", True, 300, True, replace)
    assert ensure_lines(outcome) == [f"record found content or proxy not the same: {rid(1)} {HOST}, A, 192.0.2.1, 0"]
    assert writes(zone) == expected
    assert outcome.value[0] == 200 and contents(zone) == [("A", "192.0.2.9")]


def test_proxied_difference_alone_updates(qov, zone):
    seed(zone, ("A", "192.0.2.1", {"proxied": True}))
    ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300)
    assert writes(zone) == [("PUT", rid(1), body("A", "192.0.2.1", proxied=False))]


@pytest.mark.parametrize("listed, deleted, result_kind", [
    (["u", "w", "v"], [1, 2], "listing"),
    (["v", "u", "w"], [], "listing"),
    (["u", "w"], [1, 2], "create"),
])
def test_txt_replace_removes_other_values(qov, zone, listed, deleted, result_kind):
    seed(zone, *[("TXT", value) for value in listed])
    outcome = ensure(qov, zone, "TXT", HOST, "v", True, 120)
    expected = [("DELETE", rid(n), None) for n in deleted]
    if result_kind == "create":
        expected.append(("POST", "", body("TXT", "v", ttl=120)))
    assert writes(zone) == expected
    assert len(ensure_lines(outcome)) == len(deleted)
    kept = [value for n, value in enumerate(listed, start=1) if n not in deleted]
    assert contents(zone) == sorted(("TXT", value) for value in kept + (["v"] if result_kind == "create" else []))
    if result_kind == "listing":
        assert json.loads(outcome.value[1])["result"][0]["content"] == listed[0]  # as listed before deleting


def test_txt_replace_with_present_false_deletes_others_and_reports(qov, zone):
    seed(zone, ("TXT", "u"), ("TXT", "w"))
    outcome = ensure(qov, zone, "TXT", HOST, "v", False, 120, False)
    assert writes(zone) == [("DELETE", rid(1), None), ("DELETE", rid(2), None)]
    assert outcome.value == ("404", f"Nothing to do, Record not found: {HOST}, TXT, v, 0")


def test_txt_without_replace_adds_beside(qov, zone):
    seed(zone, ("TXT", "u"))
    ensure(qov, zone, "TXT", HOST, "v", True, 120, True, False)
    assert writes(zone) == [("POST", "", body("TXT", "v", ttl=120))]
    assert contents(zone) == [("TXT", "u"), ("TXT", "v")]


def test_txt_is_never_proxied(qov, zone):
    seed(zone, ("TXT", "u"))
    outcome = ensure(qov, zone, "TXT", HOST, "v", True, 120, False)
    assert outcome.value == ("404", f"Nothing to do, Record not found: {HOST}, TXT, v, 0")


@pytest.mark.parametrize("stored, wanted", [("abc def", "abc def"), ("abc def", '"abc def"')])
def test_quoted_txt_contents_match(qov, zone, stored, wanted):
    zone.txt_quoted = True  # the service hands TXT contents back in double quotes
    seed(zone, ("TXT", stored))
    outcome = ensure(qov, zone, "TXT", HOST, wanted, False, 120)
    assert writes(zone) == [] and outcome.value[0] == 200


@pytest.mark.parametrize("listed_priority, expect_create", [(20, False), (30, True)])
def test_mx_without_replace_judges_by_priority(qov, zone, listed_priority, expect_create):
    seed(zone, ("MX", "other.example.com", {"priority": listed_priority}))
    outcome = ensure(qov, zone, "MX", HOST, "mail.example.com|20", False, 300, True, False)
    if expect_create:
        assert writes(zone) == [("POST", "", body("MX", "mail.example.com", priority=20))]
    else:
        assert writes(zone) == []
        assert outcome.value == (200, f"Record found: {rid(1)} {HOST}, MX, other.example.com, 0 20")


def test_mx_match_ignores_priority(qov, zone):
    seed(zone, ("MX", "mail.example.com", {"priority": 10}))
    ensure(qov, zone, "MX", HOST, "mail.example.com|20", False, 300)
    assert writes(zone) == []


def test_mx_replace_updates_with_the_whole_wanted_content(qov, zone):
    seed(zone, ("MX", "old.example.com", {"priority": 10}))
    ensure(qov, zone, "MX", HOST, "mail.example.com|20", False, 300)
    assert writes(zone) == [("PUT", rid(1), body("MX", "mail.example.com", priority=20))]


@pytest.mark.parametrize("listed, wanted, content", [
    ("A", "AAAA", "2001:db8::1"), ("AAAA", "A", "192.0.2.1"), ("A", "CNAME", "t.example.com"),
    ("CNAME", "A", "192.0.2.1"), ("AAAA", "CNAME", "t.example.com"), ("CNAME", "AAAA", "2001:db8::1"),
])
def test_conflicting_exclusive_type_is_replaced(qov, zone, listed, wanted, content):
    seed(zone, (listed, {"A": "192.0.2.7", "AAAA": "2001:db8::7", "CNAME": "x.example.com"}[listed]))
    outcome = ensure(qov, zone, wanted, HOST, content, False, 300)
    proxied = False if wanted in ("A", "CNAME") else None
    assert writes(zone) == [("DELETE", rid(1), None), ("POST", "", body(wanted, content, proxied=proxied))]
    assert ensure_lines(outcome)[0].startswith(f"record found: {rid(1)} {HOST}, {listed}, ")
    assert contents(zone) == [(wanted, content)]


def test_only_the_first_conflicting_record_is_deleted(qov, zone):
    seed(zone, ("A", "192.0.2.1"), ("A", "192.0.2.2"))
    outcome = ensure(qov, zone, "CNAME", HOST, "t.example.com", False, 300)
    assert [w[:2] for w in writes(zone)] == [("DELETE", rid(1)), ("POST", "")]
    assert outcome.value[0] == 400  # the service refuses a CNAME beside the remaining A record


@pytest.mark.parametrize("wanted, content", [("TXT", "hello"), ("MX", "mail.example.com|5")])
def test_non_exclusive_types_do_not_conflict(qov, zone, wanted, content):
    seed(zone, ("A", "192.0.2.1"), ("CNAME", "x.example.com"))
    ensure(qov, zone, wanted, HOST, content, False, 300)
    assert [w[:2] for w in writes(zone)] == [("POST", "")]


@pytest.mark.parametrize("records, wanted", [
    ([("A", "192.0.2.1")], ("A", "192.0.2.9")),                   # same type, other content
    ([("A", "192.0.2.1")], ("AAAA", "2001:db8::1")),              # conflicting type
    ([("TXT", "u")], ("TXT", "v")),                               # TXT without replace
])
def test_absent_never_writes_a_different_record(qov, zone, records, wanted):
    seed(zone, *records)
    outcome = ensure(qov, zone, wanted[0], HOST, wanted[1], False, 300, False, False)
    assert writes(zone) == []
    assert outcome.value == ("404", f"Nothing to do, Record not found: {HOST}, {wanted[0]}, {wanted[1]}, 0")
    assert contents(zone) == sorted(records)


def test_absent_with_replace_leaves_differing_a_record(qov, zone):
    seed(zone, ("A", "192.0.2.1"))
    ensure(qov, zone, "A", HOST, "192.0.2.9", False, 300, False, True)
    assert writes(zone) == [] and contents(zone) == [("A", "192.0.2.1")]


def test_name_differing_in_letter_case_is_not_the_record(qov, zone):
    seed(zone, ("A", "192.0.2.1"))
    ensure(qov, zone, "A", HOST.upper(), "192.0.2.1", False, 300)
    assert [w[:2] for w in writes(zone)] == [("POST", "")]


def test_record_on_a_later_page_decides(qov, zone):
    for n in range(1, 251):  # three pages of 100
        zone.add_record(ZONE_ID, "A", f"n{n}.example.com", "192.0.2.1", id=rid(n))
    zone.add_record(ZONE_ID, "A", HOST, "192.0.2.1", id=rid(999))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300, False)
    assert [e.path for e in zone.journal] == [LISTING, f"{RECORD}?page=2", f"{RECORD}?page=3",
                                             f"{RECORD}/{rid(999)}"]
    assert outcome.value[0] == 200 and contents(zone) == []


def test_the_listing_response_of_a_later_page_is_returned(qov, zone):
    for n in range(1, 101):
        zone.add_record(ZONE_ID, "A", f"n{n}.example.com", "192.0.2.1", id=rid(n))
    zone.add_record(ZONE_ID, "A", HOST, "192.0.2.1", id=rid(999))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300)
    assert json.loads(outcome.value[1])["result_info"]["page"] == 2
    assert writes(zone) == []


@pytest.mark.parametrize("reply", [
    (500, b"upstream trouble"),
    (200, b'{"success": false, "errors": [{"code": 1000, "message": "x"}]}'),
    (200, b'{"success": true, "result": {"id": "x"}}'),
])
def test_unscannable_listing_is_returned_unchanged(qov, zone, reply):
    seed(zone, ("A", "192.0.2.1"))
    zone.reply_with(*reply)
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.9", False, 300)
    assert outcome.value == (reply[0], reply[1].decode())
    assert writes(zone) == []


def test_records_without_text_members_or_an_addressable_id_are_skipped(qov, zone):
    listed = [{"name": HOST, "type": "A", "content": "192.0.2.1"},                    # no id
              {"id": rid(2), "name": HOST, "type": "A", "content": 5},                # content not text
              *({"id": bad, "name": HOST, "type": "A", "content": "192.0.2.2"}      # id not one segment
                for bad in ("x/y", "..", "", "a b")),
              {"id": rid(3), "name": HOST, "type": "A", "content": "192.0.2.3"}]
    zone.reply_with(200, {"success": True, "errors": [], "messages": [], "result": listed})
    ensure(qov, zone, "A", HOST, "192.0.2.9", False, 300)
    assert [w[:2] for w in writes(zone)] == [("PUT", rid(3))]


def test_zone_id_is_required_first(qov, zone):
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300, setup="")
    assert outcome.error == ("TypeError", "Zone id is null, please query domain first.")
    assert zone.journal == []


def test_failed_zone_lookup_reads_as_unknown_domain(qov, zone):
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone_id = "0" * 32
        result = c.dns_ensured_record("nowhere.example", "A", "a.nowhere.example", "192.0.2.1", False, 300)
        """, TOKEN=TOKEN, URL=zone.api_url)
    assert outcome.error == ("TypeError", "Domain not found: nowhere.example")


@pytest.mark.parametrize("flags, error", [
    ((None,), "TypeError"), (("yes",), "TypeError"), ((True, None), "TypeError"),
])
def test_flags_the_integer_conversion_rejects(qov, zone, flags, error):
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300, *flags)
    assert outcome.error[0] == error and zone.journal == []


@pytest.mark.parametrize("args", [
    ("A", HOST, "192.0.2.1", False),                 # ttl missing
    ("A", HOST, "192.0.2.1", False, 2**31),          # ttl beyond 32 bits
    ("A", HOST, None, False, 300),
])
def test_argument_errors_send_nothing(qov, zone, args):
    outcome = ensure(qov, zone, *args)
    assert outcome.error is not None and zone.journal == []
