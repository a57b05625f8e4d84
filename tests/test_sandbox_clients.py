"""The sandbox as clients we did not write see it: the service's own Python SDK
over HTTPS, one operation after another on one sandbox, each checked against
the zone's state afterwards; then the quota headers through requests."""
from __future__ import annotations

import cloudflare
import httpx
import pytest
import requests

from cloudflare_fixtures import Clock
from qov_sandbox import CloudflareFake, read_seed

ZONE = "023e105f4ecef8ad9ca31a8372d0c353"  # example.com in the shipped seed


@pytest.fixture
def sandbox(tls):
    fake = CloudflareFake(tokens=(), tls=tls, seed=read_seed(), rate_limit=0)
    fake.clock = Clock()
    with fake:
        yield fake


@pytest.fixture
def sdk(sandbox, tls):
    """SDK clients of the sandbox by token, each with our own httpx client:
    the throwaway CA, no proxy from the environment, closed afterwards."""
    made: list[cloudflare.Cloudflare] = []

    def client(token: str = "test-token") -> cloudflare.Cloudflare:
        http = httpx.Client(verify=tls.client_context(), trust_env=False)
        made.append(cloudflare.Cloudflare(api_token=token, base_url=sandbox.api_url, max_retries=0, http_client=http))
        return made[-1]
    yield client
    for each in made:
        each.close()


def state(fake: CloudflareFake) -> set[tuple]:
    return {(r["type"], r["name"], r["content"], r["ttl"], r["comment"], tuple(r["tags"])) for r in fake.records(ZONE)}


def home_id(fake: CloudflareFake) -> str:
    return next(r["id"] for r in fake.records(ZONE) if r["name"] == "home.example.com")


def refused(call):
    """What a refusal says: (status, first error code, Retry-After)."""
    try:
        call()
    except cloudflare.APIStatusError as error:
        return error.status_code, error.body["errors"][0]["code"], error.response.headers.get("Retry-After")
    raise AssertionError("not refused")


def later(fake: CloudflareFake, seconds: float) -> None:
    fake.clock.now += seconds


def spend_quota(c, fake, _):
    fake.set_rate_limit(1, 300, 300)
    c.zones.get(zone_id=ZONE)
    return refused(lambda: c.dns.records.create(zone_id=ZONE, type="A", name="late", content="192.0.2.9", ttl=1))


HOME = ("A", "home.example.com")
# (what, call(client, fake, a client with another token of the same user), answer,
#  the records besides the seeded ones afterwards)
OPERATIONS = [
    ("zone lookup as the certbot plug-in makes it",
     lambda c, f, _: [z.id for z in c.zones.list(name="example.com", per_page=1)], [ZONE], set()),
    ("apex A only, by name.exact in any case",
     lambda c, f, _: [r.content for r in c.dns.records.list(zone_id=ZONE, type="A", name={"exact": "EXAMPLE.com"})],
     ["192.0.2.10"], set()),
    ("TXT by content.exact, quoted as listed",
     lambda c, f, _: [r.content for r in c.dns.records.list(zone_id=ZONE, content={"exact": '"V=spf1 mx -all"'})],
     ['"v=spf1 mx -all"'], set()),
    ("content.exact is not a prefix",
     lambda c, f, _: list(c.dns.records.list(zone_id=ZONE, type="TXT", content={"exact": "v=spf1"})), [], set()),
    ("match=any joins the filters",
     lambda c, f, _: [(r.type, r.name) for r in c.dns.records.list(
         zone_id=ZONE, name={"exact": "blog.example.com"}, content={"exact": "2001:db8::11"}, match="any")],
     [("AAAA", "www.example.com"), ("CNAME", "blog.example.com")], set()),
    ("create, the name completed",
     lambda c, f, _: c.dns.records.create(zone_id=ZONE, type="A", name="Home", content="192.0.2.50", ttl=300,
                                          comment="ddns", tags=["owner:ops"]).name,
     "home.example.com", {(*HOME, "192.0.2.50", 300, "ddns", ("owner:ops",))}),
    ("edit (PATCH) keeps comment and tags",
     lambda c, f, _: c.dns.records.edit(home_id(f), zone_id=ZONE, type="A", name="home.example.com", ttl=300,
                                        content="192.0.2.51").comment,
     "ddns", {(*HOME, "192.0.2.51", 300, "ddns", ("owner:ops",))}),
    ("update (PUT) drops them",
     lambda c, f, _: c.dns.records.update(home_id(f), zone_id=ZONE, type="A", name="home.example.com", ttl=1,
                                          content="192.0.2.52").tags,
     [], {(*HOME, "192.0.2.52", 1, None, ())}),
    ("an identical record is refused",
     lambda c, f, _: refused(lambda: c.dns.records.create(zone_id=ZONE, type="A", name="home.example.com.",
                                                          content="192.0.2.52", ttl=120)),
     (400, 81058, None), {(*HOME, "192.0.2.52", 1, None, ())}),
    ("delete", lambda c, f, _: c.dns.records.delete(rid := home_id(f), zone_id=ZONE).id == rid, True, set()),
    ("the request over the quota is refused and blocks the user", spend_quota, (429, 971, "300"), set()),
    ("the block holds for the user's other tokens, counting down",
     lambda c, f, other: refused(lambda: later(f, 120) or other.dns.records.list(zone_id=ZONE)),
     (429, 971, "180"), set()),
    ("after the block the quota is whole again",
     lambda c, f, _: later(f, 180) or c.dns.records.create(zone_id=ZONE, type="A", name="late", content="192.0.2.9",
                                                           ttl=1).name,
     "late.example.com", {("A", "late.example.com", "192.0.2.9", 1, None, ())}),
]


def test_the_services_sdk_finds_the_sandbox_as_the_service_documents_it(sandbox, sdk):
    client, other = sdk(), sdk("dns-only-token")
    seeded = state(sandbox)
    for what, call, answer, added in OPERATIONS:
        assert (what, call(client, sandbox, other)) == (what, answer)
        assert (what, state(sandbox) - seeded, seeded - state(sandbox)) == (what, added, set())


@pytest.mark.parametrize("block", [300, 0])  # 0: refused only to the window's end
def test_requests_sees_the_quota_headers_of_the_user_and_its_block(request, sandbox, tls, block):
    sandbox.set_rate_limit(2, 300, block)
    session = requests.Session()
    request.addfinalizer(session.close)
    session.trust_env, session.verify = False, str(tls.ca_file)
    zones = sandbox.api_url + "/zones"

    def get(token: str = "test-token", later: float = 0):
        sandbox.clock.now += later
        reply = session.get(zones, headers={"Authorization": f"Bearer {token}"}, timeout=10)
        return reply.status_code, reply.headers.get("Ratelimit"), reply.headers.get("Retry-After")
    wait = 300 if block else 200
    assert [get(), get("dns-only-token", later=100), get(), get("unknown")] == [
        (200, '"default";r=1;t=300', None), (200, '"default";r=0;t=200', None),
        (429, f'"default";r=0;t={wait}', str(wait)), (403, '"default";r=1;t=300', None)]  # nobody's: on its own
    assert get(later=200) == ((429, '"default";r=0;t=100', "100") if block else (200, '"default";r=1;t=300', None))
    assert get(later=100)[0] == 200
    assert session.get(zones, timeout=10).headers["Ratelimit-Policy"] == '"default";q=2;w=300'
    sandbox.set_rate_limit(0)
    assert "Ratelimit" not in session.get(zones, timeout=10).headers
