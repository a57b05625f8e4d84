"""dns_ensured_record against the fake service: every row of the decision
table, judged by the requests the service received and the zone afterwards."""
import json
import threading
import urllib.request

import pytest

from cloudflare_fixtures import OTHER_ZONE, OTHER_ZONE_ID, TOKEN, ZONE, ZONE_ID
from qov_sandbox import CloudflareFake, Reply

HOST = "h.example.com"
RECORD = f"/client/v4/zones/{ZONE_ID}/dns_records"
LISTING = f"{RECORD}?name={HOST}"  # only the wanted name is listed


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


def action(outcome):
    """What the result says the call wrote; the result is a Response equal to the plain pair."""
    assert type(outcome.value).__name__ == "Response" and outcome.value == tuple(outcome.value)
    return outcome.value.action


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
    assert action(outcome) == "created" and outcome.value.ok
    assert [e.path for e in zone.journal][0] == LISTING


@pytest.mark.parametrize("others, message", [
    (0, f"Record not found: {HOST}, A, 192.0.2.1, 1"),
    (1, f"Nothing to do, Record not found: {HOST}, A, 192.0.2.1, 1"),
], ids=["empty zone", "zone without the name"])
def test_absent_name_reports_not_found(qov, zone, others, message):
    for n in range(others):
        zone.add_record(ZONE_ID, "A", "other.example.com", "192.0.2.1", id=rid(n + 1))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", True, 300, False)
    assert outcome.value == ("404", message)
    assert action(outcome) == "absent" and not outcome.value.ok
    assert [e.path for e in zone.journal] == [LISTING, f"{RECORD}?per_page=1"]


def test_exact_match_present_returns_the_listing_unchanged(qov, zone):
    seed(zone, ("A", "192.0.2.1"))
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        listing = c.dns_get_records()
        result = (listing, c.dns_ensured_record(ZONE, "A", HOST, "192.0.2.1", 0, 300))
        """, TOKEN=TOKEN, URL=zone.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID, HOST=HOST)
    listing, ensured = outcome.value
    assert ensured == listing and (listing.action, ensured.action) == (None, "unchanged")
    assert writes(zone) == [] and ensure_lines(outcome) == []


def test_exact_match_absent_deletes_it(qov, zone):
    seed(zone, ("A", "192.0.2.1"), ("A", "192.0.2.2"))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.2", False, 300, 0)
    assert ensure_lines(outcome) == [f"record found delete: {rid(2)} {HOST}, A, 192.0.2.2, 0"]
    assert writes(zone) == [("DELETE", rid(2), None)]
    assert json.loads(outcome.value[1])["result"] == {"id": rid(2)} and action(outcome) == "deleted"
    assert contents(zone) == [("A", "192.0.2.1")]


def test_differing_record_is_updated_in_place(qov, zone):
    seed(zone, ("A", "192.0.2.1"))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.9", True, 300, True, False)
    assert ensure_lines(outcome) == [f"record found content or proxy not the same: {rid(1)} {HOST}, A, 192.0.2.1, 0"]
    assert writes(zone) == [("PATCH", rid(1), body("A", "192.0.2.9", proxied=True))]
    assert outcome.value[0] == 200 and contents(zone) == [("A", "192.0.2.9")] and action(outcome) == "updated"


def test_an_update_keeps_comment_and_tags(qov, zone):
    seed(zone, ("A", "192.0.2.1"))
    annotate = urllib.request.Request(f"{RECORD.replace('/client/v4', zone.api_url, 1)}/{rid(1)}", method="PATCH",
                                      data=json.dumps({"comment": "router", "tags": ["home:1"]}).encode(),
                                      headers={"Authorization": f"Bearer {TOKEN}"})
    urllib.request.urlopen(annotate).close()
    ensure(qov, zone, "A", HOST, "192.0.2.9", False, 300)
    record = zone.records(ZONE_ID)[0]
    assert (record["content"], record["comment"], record["tags"]) == ("192.0.2.9", "router", ["home:1"])


def test_proxied_aaaa_converges(qov, zone):
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        result = [c.dns_ensured_record(ZONE, "AAAA", HOST, "2001:db8::1", True, 1)[0] for _ in range(2)]
        """, TOKEN=TOKEN, URL=zone.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID, HOST=HOST)
    assert outcome.value == [200, 200]
    assert writes(zone) == [("POST", "", body("AAAA", "2001:db8::1", ttl=1, proxied=True))]  # the second writes nothing
    assert [r["proxied"] for r in zone.records(ZONE_ID)] == [True]


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
    assert action(outcome) == ("created" if result_kind == "create" else "deleted" if deleted else "unchanged")
    kept = [value for n, value in enumerate(listed, start=1) if n not in deleted]
    assert contents(zone) == sorted(("TXT", value) for value in kept + (["v"] if result_kind == "create" else []))
    if result_kind == "listing":
        assert json.loads(outcome.value[1])["result"][0]["content"] == f'"{listed[0]}"'  # as listed before deleting


def test_txt_replace_with_present_false_deletes_others_and_reports(qov, zone):
    seed(zone, ("TXT", "u"), ("TXT", "w"))
    outcome = ensure(qov, zone, "TXT", HOST, "v", True, 120, False)  # TXT is reported with proxied 0
    assert writes(zone) == [("DELETE", rid(1), None), ("DELETE", rid(2), None)]
    assert outcome.value == ("404", f"Nothing to do, Record not found: {HOST}, TXT, v, 0")
    assert action(outcome) == "deleted"


def test_txt_without_replace_adds_beside(qov, zone):
    seed(zone, ("TXT", "u"))
    ensure(qov, zone, "TXT", HOST, "v", True, 120, True, False)
    assert writes(zone) == [("POST", "", body("TXT", "v", ttl=120))]
    assert contents(zone) == [("TXT", "u"), ("TXT", "v")]


@pytest.mark.parametrize("stored, wanted", [("abc def", "abc def"), ("abc def", '"abc def"')])
def test_quoted_txt_contents_match(qov, zone, stored, wanted):
    zone.txt_quoted = True  # the service hands TXT contents back in double quotes
    seed(zone, ("TXT", stored))
    outcome = ensure(qov, zone, "TXT", HOST, wanted, False, 120)
    assert writes(zone) == [] and outcome.value[0] == 200


def test_mx_of_the_same_priority_without_replace_is_reported_found(qov, zone):
    seed(zone, ("MX", "other.example.com", {"priority": 20}))
    outcome = ensure(qov, zone, "MX", HOST, "mail.example.com|20", False, 300, True, False)
    assert writes(zone) == []
    assert outcome.value == (200, f"Record found: {rid(1)} {HOST}, MX, other.example.com, 0 20")
    assert action(outcome) == "unchanged"


def test_mx_replace_updates_with_the_whole_wanted_content(qov, zone):
    seed(zone, ("MX", "old.example.com", {"priority": 10}))
    ensure(qov, zone, "MX", HOST, "mail.example.com|20", False, 300)
    assert writes(zone) == [("PATCH", rid(1), body("MX", "mail.example.com", priority=20))]


@pytest.mark.parametrize("listed, wanted, content", [("AAAA", "CNAME", "t.example.com"), ("CNAME", "A", "192.0.2.1")])
def test_conflicting_exclusive_type_is_replaced(qov, zone, listed, wanted, content):
    seed(zone, (listed, {"A": "192.0.2.7", "AAAA": "2001:db8::7", "CNAME": "x.example.com"}[listed]))
    outcome = ensure(qov, zone, wanted, HOST, content, False, 300)
    assert writes(zone) == [("DELETE", rid(1), None), ("POST", "", body(wanted, content, proxied=False))]
    assert ensure_lines(outcome)[0].startswith(f"record found: {rid(1)} {HOST}, {listed}, ")
    assert action(outcome) == "created"
    assert contents(zone) == [(wanted, content)]


def test_absent_never_writes_a_different_record(qov, zone):
    seed(zone, ("A", "192.0.2.1"))
    outcome = ensure(qov, zone, "AAAA", HOST, "2001:db8::1", False, 300, False, False)
    assert writes(zone) == []
    assert outcome.value == ("404", f"Nothing to do, Record not found: {HOST}, AAAA, 2001:db8::1, 0")
    assert action(outcome) == "absent"


def test_record_on_a_later_page_decides(qov, zone):
    for n in range(1, 251):  # three pages of 100 under the name
        zone.add_record(ZONE_ID, "TXT", HOST, f"t{n}", id=rid(n))
    zone.add_record(ZONE_ID, "A", HOST, "192.0.2.1", id=rid(999))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300, False)
    assert [e.path for e in zone.journal] == [LISTING, f"{LISTING}&page=2", f"{LISTING}&page=3",
                                             f"{RECORD}/{rid(999)}"]
    assert outcome.value[0] == 200 and len(contents(zone)) == 250 and ("A", "192.0.2.1") not in contents(zone)


def test_no_page_is_read_after_a_match(qov, zone):
    zone.add_record(ZONE_ID, "A", HOST, "192.0.2.1", id=rid(999))
    for n in range(1, 151):
        zone.add_record(ZONE_ID, "TXT", HOST, f"t{n}", id=rid(n))
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300)
    assert [e.path for e in zone.journal] == [LISTING]
    assert json.loads(outcome.value[1])["result_info"]["page"] == 1


def test_dual_stack_host_in_a_large_zone_converges(qov, zone):
    for n in range(3000):
        zone.add_record(ZONE_ID, "A", f"n{n}.example.com", "192.0.2.1", id=rid(n + 1))
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        result = [c.dns_ensured_record(ZONE, kind, name, address, False, 300)[0]
                  for name in ("Home.example.com", "home.example.com.", "home")   # as the service stores it
                  for kind, address in (("A", "192.0.2.5"), ("AAAA", "2001:db8::5"))]
        """, TOKEN=TOKEN, URL=zone.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID)
    assert outcome.value == [200] * 6
    listing = f"{RECORD}?name=home.example.com"
    expected = [("GET", listing), ("POST", RECORD)] * 2 + [("GET", listing)] * 4  # one filtered GET, then writes
    assert [(e.method, e.path) for e in zone.journal] == expected
    assert sorted((r["type"], r["content"]) for r in zone.records(ZONE_ID) if r["name"] == "home.example.com") == [
        ("A", "192.0.2.5"), ("AAAA", "2001:db8::5")]


def test_acme_challenges_of_one_name_set_twice_and_cleaned_one_by_one(qov, zone):
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        def ensure(value, present):
            return c.dns_ensured_record(ZONE, "TXT", HOST, value, False, 120, present, False)[0]
        result = [ensure(value, True) for value in ("token-a", "token-b", "token-a", "token-b")]
        result.append(ensure("token-a", False))
        """, TOKEN=TOKEN, URL=zone.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID, HOST=HOST)
    assert outcome.value == [200] * 5
    assert [w[0] for w in writes(zone)] == ["POST", "POST", "DELETE"]
    assert contents(zone) == [("TXT", "token-b")]


def listing_of(*records, **info):
    """A listing page as the service writes it, with `result_info` when given."""
    result = [dict(zip(("id", "type", "content"), r, strict=False), name=HOST, proxied=False) for r in records]
    page = {"success": True, "errors": [], "messages": [], "result": result}
    if info:
        page["result_info"] = info
    return page


# The service stores a TXT content over 255 bytes as several quoted strings.
DKIM = "v=DKIM1; k=rsa; p=" + "A" * 240


@pytest.mark.parametrize("wanted, expected", [
    (DKIM + "B" * 60, []),
    (DKIM + "C" * 60, [("DELETE", rid(1), None), ("POST", "", body("TXT", DKIM + "C" * 60))]),
], ids=["equal", "unequal"])
def test_txt_split_in_strings_compares_as_the_joined_text(qov, zone, wanted, expected):
    zone.reply_with(200, listing_of((rid(1), "TXT", f'"{DKIM}" "{"B" * 60}"')))
    outcome = ensure(qov, zone, "TXT", HOST, wanted, False, 300)
    assert writes(zone) == expected
    assert outcome.value[0] == 200


def test_page_count_of_the_largest_total_count_does_not_overflow(qov, zone):
    # total_count + per_page - 1 is beyond 64 bits; the count is two pages.
    zone.reply_with(200, listing_of((rid(1), "TXT", "t"), total_count=2**63 - 1, per_page=2**62))
    zone.reply_with(200, listing_of((rid(2), "AAAA", "2001:db8::1")))
    outcome = ensure(qov, zone, "AAAA", HOST, "2001:db8::1", False, 300)
    assert [e.path for e in zone.journal] == [LISTING, f"{LISTING}&page=2"]
    assert json.loads(outcome.value[1])["result"][0]["id"] == rid(2)  # page 2, as listed


def test_only_the_deciding_page_is_kept_while_reading(qov, zone):
    pages, size = 16, 4 << 20
    page = json.dumps(listing_of((rid(1), "TXT", "x" * size), total_pages=pages)).encode()
    for _ in range(pages):
        zone.reply_with(200, page)
    outcome = qov("""
        def peak():
            with open("/proc/self/status") as status:
                return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        before = peak()
        c.dns_ensured_record(ZONE, "TXT", "other." + ZONE, "v", False, 300)
        with open("/proc/self/maps") as maps:
            sanitized = "libasan" in maps.read()  # its allocator keeps freed blocks aside
        result = (peak() - before) >> 10, sanitized
        """, TOKEN=TOKEN, URL=zone.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID)
    growth, sanitized = outcome.value
    assert len(zone.journal) == pages + 1  # every page, then the create
    assert sanitized or growth < 8 * size >> 20, f"peak grew by {growth} MiB"


@pytest.mark.parametrize("reply", [
    (501, b"upstream trouble"),  # 500 would be tried again
    (200, b'{"success": false, "errors": [{"code": 1000, "message": "x"}]}'),
    (200, b'{"success": true, "result": {"id": "x"}}'),
])
def test_unscannable_listing_is_returned_unchanged(qov, zone, reply):
    seed(zone, ("A", "192.0.2.1"))
    zone.reply_with(*reply)
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.9", False, 300)
    assert outcome.value == (reply[0], reply[1].decode()) and action(outcome) == "unchanged"
    assert writes(zone) == []


def test_records_without_text_members_or_an_addressable_id_are_skipped(qov, zone):
    listed = [{"name": HOST, "type": "A", "content": "192.0.2.1"},                    # no id
              {"id": rid(2), "name": HOST, "type": "A", "content": 5},                # content not text
              *({"id": bad, "name": HOST, "type": "A", "content": "192.0.2.2"}      # id not one segment
                for bad in ("x/y", "..", "", "a b")),
              {"id": rid(3), "name": HOST, "type": "A", "content": "192.0.2.3"}]
    zone.reply_with(200, {"success": True, "errors": [], "messages": [], "result": listed})
    ensure(qov, zone, "A", HOST, "192.0.2.9", False, 300)
    assert [w[:2] for w in writes(zone)] == [("PATCH", rid(3))]


def test_zone_id_is_required_first(qov, zone):
    outcome = ensure(qov, zone, "A", HOST, "192.0.2.1", False, 300, setup="")
    assert outcome.error == ("TypeError", "Zone id is null, please query domain first.")
    assert outcome.raised == "qov.NoZoneError" and zone.journal == []


def test_failed_zone_lookup_reads_as_unknown_domain(qov, zone):
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone_id = "0" * 32
        result = c.dns_ensured_record("nowhere.example", "A", "a.nowhere.example", "192.0.2.1", False, 300)
        """, TOKEN=TOKEN, URL=zone.api_url)
    assert outcome.error == ("TypeError", "Domain not found: nowhere.example")
    assert outcome.raised == "qov.ZoneNotFoundError"


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


class GatedFake(CloudflareFake):
    """Holds a request back until another has arrived: `hold(fragment, until)`
    keeps each request whose raw path contains `fragment` waiting until a
    request containing `until` has been received, for at most `timeout` seconds.
    A GET of <api_url>/release answers at once, so a scenario can open a gate."""

    def __init__(self) -> None:
        super().__init__(tokens=(TOKEN,))
        self._arrived = threading.Condition()
        self._paths: list[str] = []
        self._holds: list[tuple[str, str, float]] = []

    def hold(self, fragment: str, until: str, timeout: float = 10) -> None:
        self._holds.append((fragment, until, timeout))

    def handle(self, request):
        with self._arrived:
            self._paths.append(request.path)
            self._arrived.notify_all()
        for fragment, until, timeout in self._holds:
            if fragment in request.path:
                with self._arrived:
                    self._arrived.wait_for(lambda until=until: any(until in p for p in self._paths), timeout)
        if request.url_path.endswith("/release"):
            return Reply(200, b"released")
        return super().handle(request)


@pytest.fixture
def gated():
    fake = GatedFake().start()
    fake.add_zone(ZONE, id=ZONE_ID)
    fake.add_zone(OTHER_ZONE, id=OTHER_ZONE_ID)
    yield fake
    fake.stop()


def test_one_zone_per_call_while_another_thread_queries(qov, gated):
    # The listing waits until the other thread's lookup is done and it asks for
    # the release; the lookup waits until the listing has arrived.
    gated.hold(LISTING, until="/release")
    gated.hold("name=" + OTHER_ZONE, until=LISTING)
    outcome = qov("""
        import threading
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        ensured = []
        worker = threading.Thread(target=lambda: ensured.append(
            c.dns_ensured_record(ZONE, "A", HOST, "192.0.2.1", False, 300)))
        worker.start()
        c.query(OTHER_ZONE)
        c.get("/release")
        worker.join()
        result = ensured[0][0], c.zone, c.zone_id
        """, TOKEN=TOKEN, URL=gated.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID, OTHER_ZONE=OTHER_ZONE, HOST=HOST)
    assert outcome.value == (200, OTHER_ZONE, OTHER_ZONE_ID)  # what query stored stays
    assert [r["content"] for r in gated.records(ZONE_ID)] == ["192.0.2.1"]
    assert gated.records(OTHER_ZONE_ID) == []


@pytest.mark.parametrize("run", range(3))
def test_exit_with_calls_in_flight_and_a_finalizer_that_releases_the_lock(qov, gated, run):
    # Page 2 of the listing and one zone lookup are answered only after the
    # scenario has ended; while the interpreter shuts down, a finalizer sleeps
    # with the lock released, so the waiting threads come back into a
    # finalizing interpreter and are ended there.
    for n in range(1, 102):  # two pages of 100 under the name
        gated.add_record(ZONE_ID, "TXT", HOST, f"t{n}", id=rid(n))
    gated.hold("page=2", until="never", timeout=0.6)
    gated.hold("name=" + OTHER_ZONE, until="never", timeout=0.6)
    qov("""
        import sys, threading, time

        class Linger:
            def __del__(self, sleep=time.sleep):
                sleep(1.2)

        # Dropped when the interpreter empties sys.modules at shutdown.
        sys.modules["linger"] = Linger()
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        calls = [lambda: c.dns_ensured_record(ZONE, "A", HOST, "192.0.2.1", False, 300),
                 lambda: c.dns_ensured_record(OTHER_ZONE, "A", HOST, "192.0.2.1", False, 300),
                 lambda: c.dns_get_records(OTHER_ZONE)]
        for call in calls * 2:
            threading.Thread(target=call, daemon=True).start()
        time.sleep(0.3)
        result = "exiting"
        """, TOKEN=TOKEN, URL=gated.api_url, ZONE=ZONE, ZONE_ID=ZONE_ID, OTHER_ZONE=OTHER_ZONE, HOST=HOST)
