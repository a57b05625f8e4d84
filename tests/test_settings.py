"""The three zone settings and the cache purge against the fake service."""
import json

import pytest

from cloudflare_fixtures import ZONE_ID, requests_seen, run_client, transport_lines

REMEMBERED = f"c.zone_id = {ZONE_ID!r}"
SETTINGS = [
    ("change_always_use_https", "always_use_https"),
    ("change_automatic_https_rewrites", "automatic_https_rewrites"),
    ("change_ssl_model", "ssl"),
]


@pytest.mark.parametrize("method, setting", SETTINGS)
@pytest.mark.parametrize("value, body", [
    ("on", b'{\n  "value": "on"\n}'),
    ('a/b "c" \u00e9\t', b'{\n  "value": "a\\/b \\"c\\" \xc3\xa9\\t"\n}'),
    ("", b'{\n  "value": ""\n}'),
])
def test_settings_patch_one_value(qov, cloudflare, method, setting, value, body):
    outcome = run_client(qov, cloudflare, f"result = c.{method}(V)", setup=REMEMBERED, V=value)
    path = f"/client/v4/zones/{ZONE_ID}/settings/{setting}"
    assert requests_seen(cloudflare) == [("PATCH", path)]
    assert cloudflare.journal[0].body == body
    assert cloudflare.journal[0].header("Content-Type") == "application/json"
    assert outcome.lines == transport_lines("PATCH", cloudflare.base_url + path)
    # The service's verdict comes back unread: a value it refuses is no error here.
    status, answer = outcome.value
    assert json.loads(answer)["success"] == (status == 200)
    if status == 200:
        assert cloudflare.settings(ZONE_ID)[setting] == value


def test_purge_cache_purges_everything(qov, any_cloudflare):
    outcome = run_client(qov, any_cloudflare, "result = c.purge_cache()", setup=REMEMBERED)
    path = f"/client/v4/zones/{ZONE_ID}/purge_cache"
    assert requests_seen(any_cloudflare) == [("POST", path)]
    assert any_cloudflare.journal[0].body == b'{\n  "purge_everything": true\n}'
    assert outcome.lines == transport_lines("POST", any_cloudflare.base_url + path)
    assert outcome.value[0] == 200 and any_cloudflare.purges(ZONE_ID) == 1


@pytest.mark.parametrize("call", [f"c.{method}('on')" for method, _ in SETTINGS] + ["c.purge_cache()"])
def test_zone_id_is_needed(qov, cloudflare, call):
    outcome = run_client(qov, cloudflare, call, setup="c.zone = 'example.com'")
    assert outcome.error == ("TypeError", "Zone id is null, please query domain first.")
    assert outcome.lines == [] and cloudflare.journal == []


# Without a zone: the argument is read first, so its error wins.
@pytest.mark.parametrize("method", [method for method, _ in SETTINGS])
@pytest.mark.parametrize("args, error", [
    ("", "TypeError"),
    ("'on', value='off'", "TypeError"),
    ("setting='on'", "TypeError"),
    ("1", "TypeError"),
    ("None", "TypeError"),
    ("'o\\0n'", "ValueError"),
])
def test_argument_errors_come_before_the_zone_check(qov, cloudflare, method, args, error):
    outcome = run_client(qov, cloudflare, f"c.{method}({args})")
    assert outcome.error[0] == error and "Zone id" not in outcome.error[1]
    assert outcome.lines == [] and cloudflare.journal == []
