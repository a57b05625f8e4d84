"""Keyword arguments of every method: read by the names of its signature, a call
by keywords sends exactly what the same call by position sends, and a keyword
that is unknown or repeats a positional argument raises TypeError before
anything is printed or sent."""
import pytest

from cloudflare_fixtures import RECORDS, TOKEN, ZONE, ZONE_ID, _seeded
from dingtalk_fixtures import keyless, send

RID = RECORDS[1]["id"]  # www.example.com, A, proxied


@pytest.fixture
def twin_zones():
    """Two fakes seeded alike: one for the call by position, one for the call by keywords."""
    fakes = [_seeded(), _seeded()]
    yield fakes
    for fake in fakes:
        fake.stop()


def sent(fake):
    return [(e.method, e.path, e.body) for e in fake.journal]


@pytest.mark.parametrize("by_position, by_keyword", [
    ('get("/zones?name=example.com")', 'get(path="/zones?name=example.com")'),
    ('query("example.org")', 'query(domain="example.org")'),
    ('dns_get_records("example.com", "MX")', 'dns_get_records(type="MX", domain="example.com")'),
    ('dns_get_records(None, "A", "www.example.com", "192.0.2.11")',
     'dns_get_records(content="192.0.2.11", name="www.example.com", type="A")'),
    ('dns_create_record("A", "new", "192.0.2.50", True, 300)',
     'dns_create_record(ttl=300, proxied=True, content="192.0.2.50", name="new", type="A")'),
    ('dns_update_record(RID, "A", "www", "192.0.2.12", False, 1)',
     'dns_update_record(RID, "A", content="192.0.2.12", name="www", ttl=1, proxied=False)'),
    ("dns_delete_record(RID)", "dns_delete_record(record_id=RID)"),
    # Keeps the other TXT value of the name, as an ACME order for a name and its wildcard needs.
    ('dns_ensured_record("example.com", "TXT", "example.com", "token-b", False, 120, True, False)',
     'dns_ensured_record("example.com", "TXT", "example.com", "token-b", False, 120, replace=False)'),
    ('dns_ensured_record("example.com", "A", "www.example.com", "192.0.2.11", True, 1, False)',
     'dns_ensured_record("example.com", "A", "www.example.com", "192.0.2.11", True, 1, present=False)'),
    ('dns_ensured_record("example.org", "A", "x.example.org", "192.0.2.1", False, 1, True, True)',
     'dns_ensured_record(replace=True, present=True, ttl=1, proxied=False, content="192.0.2.1", '
     'name="x.example.org", type="A", domain="example.org")'),
    ('change_always_use_https("on")', 'change_always_use_https(value="on")'),
    ('change_automatic_https_rewrites("off")', 'change_automatic_https_rewrites(value="off")'),
    ('change_ssl_model("strict")', 'change_ssl_model(value="strict")'),
], ids=lambda call: call.split("(")[0])
def test_keywords_send_what_positions_send(qov, twin_zones, by_position, by_keyword):
    by_position_zone, by_keyword_zone = twin_zones
    outcome = qov(f"""
        p = Cloudflare(api_token=TOKEN, api_url=URLS[0])
        k = Cloudflare(api_token=TOKEN, api_url=URLS[1])
        p.zone = k.zone = ZONE
        p.zone_id = k.zone_id = ZONE_ID
        first = p.{by_position}
        mark("by keyword")
        second = k.{by_keyword}
        result = first[0], second[0]
        """, TOKEN=TOKEN, URLS=[f.api_url for f in twin_zones], ZONE=ZONE, ZONE_ID=ZONE_ID, RID=RID)
    status, status_by_keyword = outcome.value
    assert status == status_by_keyword
    assert sent(by_keyword_zone) == sent(by_position_zone)
    assert by_position_zone.journal  # something was sent
    traced, traced_by_keyword = outcome.sections()
    assert [line.replace(by_position_zone.base_url, "URL") for line in traced] == \
        [line.replace(by_keyword_zone.base_url, "URL") for line in traced_by_keyword]


def test_dingtalk_keywords_send_what_positions_send(qov, dingtalk):
    outcome = send(qov, dingtalk, 'send_markdown(mobiles=["138"], text="**done**", title="Deploy")', setup="""
        d.send_text("hi")
        d.send_text(content="hi")
        d.send_markdown("Deploy", "**done**", ["138"])
        """)
    bodies = [keyless(entry.body) for entry in dingtalk.journal]
    assert bodies[0] == bodies[1] and bodies[2] == bodies[3]
    assert len(dingtalk.messages) == 4 and '"errcode":0' in outcome.value


# Every method, with an unknown keyword, a keyword that repeats a positional
# argument, or (purge_cache) any argument at all.
WRONG_CALLS = [
    'c.get("/a", path="/b")', 'c.get(paht="/a")',
    'c.query("example.com", domain="example.org")', 'c.query(zone="example.com")',
    'c.dns_get_records("example.com", domain="example.org")', 'c.dns_get_records(zone="example.com")',
    'c.dns_create_record("A", "n", "192.0.2.1", True, 1, type="A")',
    'c.dns_create_record("A", "n", "192.0.2.1", True, ttl=1, priority=5)',
    'c.dns_update_record(RID, "A", "n", "192.0.2.1", True, 1, record_id=RID)',
    'c.dns_update_record(id=RID, type="A", name="n", content="192.0.2.1", proxied=True, ttl=1)',
    "c.dns_delete_record(RID, record_id=RID)", "c.dns_delete_record(id=RID)",
    'c.dns_ensured_record("example.com", "A", "n", "192.0.2.1", False, 1, True, present=False)',
    'c.dns_ensured_record("example.com", "A", "n", "192.0.2.1", False, 1, force=True)',
    'c.change_always_use_https("on", value="off")', 'c.change_automatic_https_rewrites(setting="on")',
    'c.change_ssl_model("full", mode="full")',
    'c.purge_cache("example.org")', "c.purge_cache(everything=False)", "c.purge_cache(True)",
    "c.fib(3, n=4)", "c.fib(m=3)", 'c.fputs(PATH, "x", path=PATH)', 'c.fputs(PATH, txt="x")',
    'd.send_text("a", content="b")', 'd.send_text(text="a")',
    'd.send_markdown("t", "x", title="u")', 'd.send_markdown("t", "x", at=["1"])',
]


def test_unknown_or_repeated_keywords_raise_and_send_nothing(qov, cloudflare, dingtalk, tmp_path):
    outcome = qov("""
        c = Cloudflare(api_token=TOKEN, api_url=URL)
        c.zone, c.zone_id = ZONE, ZONE_ID
        d = DingTalk("token", "secret")
        result = []
        for call in CALLS:
            try:
                eval(call)
                result.append(None)
            except Exception as error:
                result.append((type(error).__name__, str(error)))
        """, env={"QOV_DINGTALK_URL": dingtalk.base_url}, TOKEN=TOKEN, URL=cloudflare.api_url, ZONE=ZONE,
                  ZONE_ID=ZONE_ID, RID=RID, PATH=str(tmp_path / "f"), CALLS=WRONG_CALLS)
    for call, error in zip(WRONG_CALLS, outcome.value, strict=True):
        method = call.split("(")[0].split(".")[1]
        assert error is not None and error[0] == "TypeError" and f"{method}()" in error[1], (call, error)
    assert outcome.stdout == "" and cloudflare.journal == [] and dingtalk.journal == []
    assert not (tmp_path / "f").exists()
