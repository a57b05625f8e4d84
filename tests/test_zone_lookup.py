"""query: the zone lookup against the fake service, its errors, and the two
zone fields it sets only on success."""
import json

import pytest

from cloudflare_fixtures import LOOKUP, OTHER_ZONE, OTHER_ZONE_ID, ZONE, ZONE_ID, requests_seen, run_client, \
    transport_lines


def test_lookup_returns_the_listing_and_remembers_the_zone(qov, any_cloudflare):
    outcome = run_client(qov, any_cloudflare, """
        answer = c.query("example.com")
        result = answer, c.zone, c.zone_id
        """)
    (status, body), zone, zone_id = outcome.value
    assert status == 200 and json.loads(body)["result"][0]["name"] == ZONE
    assert (zone, zone_id) == (ZONE, ZONE_ID)
    path = "/client/v4" + LOOKUP + ZONE
    assert requests_seen(any_cloudflare) == [("GET", path)]
    assert any_cloudflare.journal[0].body == b""
    # query prints nothing of its own.
    assert outcome.lines == transport_lines("GET", any_cloudflare.base_url + path)


@pytest.mark.parametrize("domain, sent", [
    ("EXAMPLE.com", "EXAMPLE.com"),
    ("a b&page=2#x+y", "a%20b%26page%3D2%23x%2By"),
    ("ünï.test", "%C3%BCn%C3%AF.test"),
    ("", ""),
])
def test_domain_is_percent_encoded_in_the_path_and_stored_as_passed(qov, cloudflare, domain, sent):
    outcome = run_client(qov, cloudflare, """
        c.query(D)
        result = c.zone, c.zone_id
        """, D=domain)
    assert requests_seen(cloudflare) == [("GET", "/client/v4" + LOOKUP + sent)]
    if domain == "EXAMPLE.com":
        assert outcome.value == (domain, ZONE_ID)
    else:
        # The fake decoded the name back to exactly the domain: no zone has it.
        assert outcome.error == ("TypeError", f"Domain not found: {domain}")


def test_each_lookup_requests_and_replaces_both_fields(qov, cloudflare):
    outcome = run_client(qov, cloudflare, """
        c.zone_id = "set-by-hand"
        c.query("example.com")
        first = c.zone, c.zone_id
        c.query("example.org")
        c.query("example.org")
        result = first, (c.zone, c.zone_id)
        """)
    assert outcome.value == ((ZONE, ZONE_ID), (OTHER_ZONE, OTHER_ZONE_ID))
    assert [path for _, path in requests_seen(cloudflare)] == [
        "/client/v4" + LOOKUP + name for name in (ZONE, OTHER_ZONE, OTHER_ZONE)]


ENVELOPE_403 = {"success": False, "errors": [{"code": 9109, "message": "Invalid access token"}], "messages": [],
                "result": None}


NOT_FOUND = ("ZoneNotFoundError", "TypeError", "Domain not found: nowhere.test")


def refused(message: str) -> tuple[str, str, str]:
    return ("ZoneLookupError", "Exception", message)


@pytest.mark.parametrize("reply, error", [
    (None, NOT_FOUND),
    ((200, {"success": True, "result": []}), NOT_FOUND),
    ((403, ENVELOPE_403), refused(json.dumps(ENVELOPE_403, separators=(",", ":")))),
    ((200, {"success": False, "result": [{"id": "x"}]}), refused('{"success":false,"result":[{"id":"x"}]}')),
    ((200, {"result": [{"id": "x"}]}), refused('{"result":[{"id":"x"}]}')),
    ((200, "not json"), refused("not json")),
    ((200, {"success": True, "result": {"id": "x"}}),
     refused('Unexpected zone listing for nowhere.test: "result" is not an array')),
    ((200, {"success": True}), refused('Unexpected zone listing for nowhere.test: "result" is not an array')),
    ((200, {"success": True, "result": [{"name": "x"}]}),
     refused('Unexpected zone listing for nowhere.test: the first zone has no "id" text')),
    ((200, {"success": True, "result": [{"id": 7}]}),
     refused('Unexpected zone listing for nowhere.test: the first zone has no "id" text')),
])
def test_failed_lookups_raise_and_change_no_field(qov, cloudflare, reply, error):
    if reply is not None:
        cloudflare.reply_with(*reply)
    outcome = run_client(qov, cloudflare, """
        import qov
        c.zone, c.zone_id = "kept.example", "kept-id"
        try:
            c.query("nowhere.test")
        except qov.Error as failure:
            old_base = next(cls for cls in type(failure).__mro__ if cls.__module__ == "builtins")
            details = vars(failure) if isinstance(failure, qov.ZoneLookupError) else {}
            result = (type(failure).__name__, old_base.__name__, str(failure)), details, c.zone, c.zone_id
        """)
    details = {}
    if error[0] == "ZoneLookupError":
        status, body = reply
        details = {"domain": "nowhere.test", "status": status,
                   "body": body if isinstance(body, str) else json.dumps(body, separators=(",", ":"))}
    assert outcome.value == (error, details, "kept.example", "kept-id")
    assert len(cloudflare.journal) == 1


# A closed port: the lookup's own error says why, and the listing and the
# ensure call that needed it raise what they raised before, caused by it.
def test_unreachable_service_raises_libcurls_message_as_the_cause(qov, cloudflare):
    url = cloudflare.api_url
    cloudflare.stop()
    outcome = qov("""
        import qov
        c = Cloudflare(api_token="t", api_url=URL, max_retries=0)
        result = []
        for call in (lambda: c.query("example.com"), lambda: c.dns_get_records("example.com"),
                     lambda: c.dns_ensured_record("example.com", "A", "n", "192.0.2.1", False, 1)):
            c.zone_id = "kept"
            try:
                call()
            except Exception as error:
                lookup = error if isinstance(error, qov.ZoneLookupError) else error.__cause__
                result.append((type(error).__name__, str(error), lookup.domain, lookup.status, lookup.body))
        result.append(c.get("/"))
        """, URL=url)
    *errors, (status, body) = outcome.value
    assert status == 7 and errors == [
        ("ZoneLookupError", body, "example.com", 7, body),
        ("ZoneNotFoundError", "Domain not found: example.com", "example.com", 7, body),
        ("ZoneNotFoundError", "Domain not found: example.com", "example.com", 7, body),
    ]


@pytest.mark.parametrize("scenario, error", [
    ("c.query()", "TypeError"),
    ("c.query(1)", "TypeError"),
    ("c.query(None)", "TypeError"),
    ("c.query('exa\\0mple.com')", "ValueError"),
    ("c.query('\\ud800')", "UnicodeEncodeError"),
])
def test_argument_errors_send_nothing(qov, cloudflare, scenario, error):
    outcome = run_client(qov, cloudflare, scenario)
    assert outcome.error[0] == error
    assert outcome.lines == [] and cloudflare.journal == []
