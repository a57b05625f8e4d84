"""`python -m qov_sandbox` on its own: it starts from a seed file, prints the
settings to use, serves HTTP or HTTPS with a CA file it names, journals each
request, and stops with status 0 on Ctrl-C or SIGTERM."""
from __future__ import annotations

import http.client
import json
import os
import queue
import signal
import ssl
import subprocess
import sys
import threading
import time
import urllib.request
from pathlib import Path
from urllib.error import HTTPError, URLError

import pytest

from cloudflare_fixtures import Clock
from qov_sandbox import CloudflareFake, DingTalkFake, dingtalk_sign, read_seed

SANDBOX_DIR = str(Path(__file__).parent.parent / "sandbox")
SEED = {
    "cloudflare": {
        "tokens": ["seed-token"],
        "zones": [{"name": "sandbox.test", "id": "0123456789abcdef0123456789abcdef",
                   "records": [{"type": "A", "name": "www", "content": "192.0.2.7"}]}],
    },
    "dingtalk": {"robots": {"seed-robot": "seed-secret"}},
}


class SandboxProcess:
    def __init__(self, *args: str) -> None:
        env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
        env["PYTHONPATH"] = os.pathsep.join([SANDBOX_DIR, env.get("PYTHONPATH", "")])  # this tree's sandbox
        self.process = subprocess.Popen([sys.executable, "-m", "qov_sandbox", *args], env=env, text=True,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self._lines: queue.Queue[str | None] = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.settings: dict[str, str] = {}
        self.notes: list[str] = []
        while (line := self.next_line()) != "ready":
            if line.startswith("#"):
                self.notes.append(line)
            elif "=" in line:
                key, value = line.split("=", 1)
                self.settings[key] = value

    def _read(self) -> None:
        for line in self.process.stdout:
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)

    def next_line(self, timeout: float = 30) -> str:
        line = self._lines.get(timeout=timeout)
        if line is None:
            raise AssertionError(f"the sandbox ended with status {self.process.wait()}")
        return line

    def stop(self, signum: int) -> tuple[int, list[str]]:
        """Sends the signal; returns the exit status and the lines printed meanwhile."""
        self.process.send_signal(signum)
        status = self.process.wait(timeout=30)
        rest = []
        while (line := self._lines.get(timeout=5)) is not None:
            rest.append(line)
        return status, rest

    def kill(self) -> None:
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def seed_file(tmp_path):
    path = tmp_path / "seed.json"
    path.write_text(json.dumps(SEED))
    return path


def fetch(url: str, context: ssl.SSLContext | None = None, **headers: str):
    with urllib.request.urlopen(urllib.request.Request(url, headers=headers), context=context, timeout=10) as reply:
        return json.loads(reply.read())


def test_http_sandbox_serves_its_seed_journals_and_stops_on_ctrl_c(seed_file):
    sandbox = SandboxProcess("--seed", str(seed_file))
    try:
        settings = sandbox.settings
        assert settings["CLOUDFLARE_API_URL"].startswith("http://127.0.0.1:")
        assert settings["CLOUDFLARE_API_TOKEN"] == "seed-token"
        assert (settings["DINGTALK_ROBOT_TOKEN"], settings["DINGTALK_ROBOT_SECRET"]) == ("seed-robot", "seed-secret")
        assert "CURL_CA_BUNDLE" not in settings

        zones = fetch(settings["CLOUDFLARE_API_URL"] + "/zones?name=sandbox.test", Authorization="Bearer seed-token")
        assert [z["id"] for z in zones["result"]] == ["0123456789abcdef0123456789abcdef"]
        records = fetch(settings["CLOUDFLARE_API_URL"] + "/zones/0123456789abcdef0123456789abcdef/dns_records",
                        Authorization="Bearer seed-token")
        assert [(r["name"], r["content"]) for r in records["result"]] == [("www.sandbox.test", "192.0.2.7")]
        assert sandbox.next_line() == "[cloudflare] GET /client/v4/zones?name=sandbox.test -> 200"
        sandbox.next_line()

        with pytest.raises(URLError):  # a token the seed does not hold
            fetch(settings["CLOUDFLARE_API_URL"] + "/zones", Authorization="Bearer other")
        assert sandbox.next_line() == "[cloudflare] GET /client/v4/zones -> 403 error 9109: Invalid access token"

        timestamp = 1000 * int(time.time())
        sign = urllib.request.quote(dingtalk_sign("seed-secret", timestamp), safe="")
        request = urllib.request.Request(
            f"{settings['QOV_DINGTALK_URL']}/robot/send?access_token=seed-robot&timestamp={timestamp}&sign={sign}",
            data=b'{"msgtype": "text", "text": {"content": "hi"}}', headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as reply:
            assert json.loads(reply.read()) == {"errcode": 0, "errmsg": "ok"}
        assert sandbox.next_line().endswith("-> 200 errcode=0 ok")

        status, rest = sandbox.stop(signal.SIGINT)
        assert status == 0 and rest == ["# stopped"]
    finally:
        sandbox.kill()


@pytest.mark.parametrize("where", ["named", "temporary"])
def test_https_sandbox_writes_and_names_its_ca_file(seed_file, tmp_path, where):
    args = ["--ca-file", str(tmp_path / "ca" / "sandbox-ca.pem")] if where == "named" else ["--https"]
    sandbox = SandboxProcess("--seed", str(seed_file), *args)
    try:
        ca_file = Path(sandbox.settings["CURL_CA_BUNDLE"])
        assert sandbox.settings["SSL_CERT_FILE"] == sandbox.settings["REQUESTS_CA_BUNDLE"] == str(ca_file)
        if where == "named":
            assert ca_file == (tmp_path / "ca" / "sandbox-ca.pem").resolve()
        assert ca_file.is_file()
        url = sandbox.settings["CLOUDFLARE_API_URL"]
        assert url.startswith("https://127.0.0.1:") and sandbox.settings["QOV_DINGTALK_URL"].startswith("https://")

        trusted = ssl.create_default_context(cafile=str(ca_file))
        assert fetch(url + "/zones", trusted, Authorization="Bearer seed-token")["success"] is True
        with pytest.raises(URLError, match="CERTIFICATE_VERIFY_FAILED"):
            fetch(url + "/zones", ssl.create_default_context(), Authorization="Bearer seed-token")

        status, rest = sandbox.stop(signal.SIGTERM)
        assert status == 0 and rest[-1] == "# stopped"
        assert ca_file.is_file() == (where == "named")  # a temporary CA goes with the sandbox
    finally:
        sandbox.kill()


# -- the services' limits, talked to directly ----------------------------------------
ZONE_COM, ZONE_ORG = "023e105f4ecef8ad9ca31a8372d0c353", "4fa0e9c2b7d15a3e8c6f1d2b9a7e5c30"
THROTTLED = {"success": False, "errors": [{"code": 971, "message": "Please wait and consider throttling your "
                                                                   "request speed"}]}


def call(fake, method: str, path: str, token: str | None = "test-token", body=None, source: str = "127.0.0.1"):
    """(status, headers, parsed body) of one request to a fake, from `source`."""
    connection = http.client.HTTPConnection(fake.host, fake.port, timeout=10, source_address=(source, 0))
    headers = {"Content-Type": "application/json"}
    if token is not None:
        headers["Authorization"] = f"Bearer {token}"
    try:
        connection.request(method, path, body=None if body is None else json.dumps(body), headers=headers)
        reply = connection.getresponse()
        return reply.status, reply.headers, json.loads(reply.read())
    finally:
        connection.close()


@pytest.fixture
def cloudflare_fake():
    fake = CloudflareFake(tokens=(), seed=read_seed(), rate_limit=2, rate_window=60)
    fake.clock = Clock()
    fake.add_token("read-only", rights=["dns_records:read", "zone_settings:read"])
    fake.add_token("org-only", zones=["example.org"])
    with fake:
        yield fake


def _denied(page: str) -> dict:
    return {"success": False, "errors": [{"code": 10000, "message": "Authentication error",
                                          "documentation_url": "https://developers.cloudflare.com/api/resources/"
                                                               + page}]}


def _invalid(code: int, message: str, chain: tuple[int, str] | None = None) -> dict:
    error = {"code": code, "message": message}
    if chain:
        error["error_chain"] = [{"code": chain[0], "message": chain[1]}]
    return {"success": False, "errors": [error], "messages": [], "result": None}


RECORDS = f"/client/v4/zones/{ZONE_COM}/dns_records"
SETTING = f"/client/v4/zones/{ZONE_COM}/settings/ssl"


@pytest.mark.parametrize("token, method, path, body, status, answer", [
    ("dns-only-token", "GET", RECORDS, None, 200, None),
    ("dns-only-token", "POST", RECORDS, {"type": "A", "name": "x", "content": "192.0.2.1"}, 200, None),
    ("dns-only-token", "GET", SETTING, None, 403, _denied("zones/subresources/settings/methods/get/")),
    ("dns-only-token", "PATCH", SETTING, {"value": "strict"}, 403,
     _denied("zones/subresources/settings/methods/edit/")),
    ("dns-only-token", "POST", f"/client/v4/zones/{ZONE_COM}/purge_cache", {"purge_everything": True}, 403,
     _denied("cache/methods/purge/")),
    ("read-only", "GET", SETTING, None, 200, None),
    ("read-only", "DELETE", RECORDS + "/" + "0" * 32, None, 403, _denied("dns/subresources/records/methods/delete/")),
    ("org-only", "GET", RECORDS, None, 403, _denied("dns/subresources/records/methods/list/")),
    ("org-only", "GET", f"/client/v4/zones/{ZONE_ORG}/dns_records", None, 200, None),
    ("other", "GET", RECORDS, None, 403, _invalid(9109, "Invalid access token")),
    (None, "GET", RECORDS, None, 400, {"success": False, "errors": [
        {"code": 9106, "message": "Missing X-Auth-Key, X-Auth-Email or Authorization headers"}]}),
    ("test-token", "POST", RECORDS, {"type": "TXT", "name": "x", "content": "y", "proxied": True}, 400,
     _invalid(1004, "DNS Validation Error", (9004, "This record type cannot be proxied."))),
    ("test-token", "POST", RECORDS, {"type": "A", "name": "x", "content": "192.0.2.1", "ttl": 5}, 400,
     _invalid(1004, "DNS Validation Error", (9021, "TTL must be between 60 and 86400 seconds, or 1 for Automatic."))),
])
def test_cloudflare_answers_each_token_within_its_rights(cloudflare_fake, token, method, path, body, status, answer):
    cloudflare_fake.set_rate_limit(0)
    seen_status, _, seen = call(cloudflare_fake, method, path, token=token, body=body)
    assert seen_status == status
    assert seen == answer if answer is not None else seen["success"] is True


def test_cloudflare_lists_only_the_zones_a_token_reaches(cloudflare_fake):
    names = {token: [z["name"] for z in call(cloudflare_fake, "GET", "/client/v4/zones", token=token)[2]["result"]]
             for token in ("test-token", "org-only")}
    assert names == {"test-token": ["example.com", "example.org"], "org-only": ["example.org"]}


NOTE = {"type": "TXT", "name": "note", "content": "n", "comment": "Owner: Ops", "tags": ["team:DNS", "important"]}
WWW, APEX = ["A www.example.com", "AAAA www.example.com"], ["A example.com", "MX example.com", "TXT example.com"]


@pytest.mark.parametrize("path, query, found", [
    (RECORDS, "name=WWW.example.com.", WWW),  # any case, one trailing dot
    (RECORDS, "name=www.example.com..", []),
    (RECORDS, "name=%40", APEX),
    (RECORDS, "name=www", []),  # not completed with the zone name
    (RECORDS, "name.exact=Example.COM&type=A", ["A example.com"]),
    (RECORDS, "name.contains=W.EX", WWW),
    (RECORDS, "name.startswith=blog&name.endswith=.com", ["CNAME blog.example.com"]),
    (RECORDS, "content=2001:DB8:0::11", ["AAAA www.example.com"]),
    (RECORDS, "content.exact=%22v%3Dspf1+mx+-all%22", ["TXT example.com"]),  # as listed, quoted
    (RECORDS, "content.contains=SPF1", ["TXT example.com"]),
    (RECORDS, "content.startswith=192.0.2.1&content.endswith=1", ["A www.example.com"]),
    (RECORDS, "type=A&proxied=true", ["A www.example.com"]),
    (RECORDS, "name=blog.example.com&type=MX&match=any", ["CNAME blog.example.com", "MX example.com"]),
    (RECORDS, "type=A&order=content&direction=desc", ["A www.example.com", "A example.com"]),
    (RECORDS, "type=A&per_page=1&page=2", ["A www.example.com"]),
    (RECORDS, "comment.contains=OWNER", ["TXT note.example.com"]),
    (RECORDS, "comment.absent=&type=TXT", ["TXT example.com"]),
    (RECORDS, "tag=important", ["TXT note.example.com"]),
    (RECORDS, "tag.exact=TEAM:dns&tag.absent=other", ["TXT note.example.com"]),
    (RECORDS, "tag.absent=important&type=TXT", ["TXT example.com"]),
    (RECORDS, "tag.present=nope&tag.startswith=team:d&tag_match=any", ["TXT note.example.com"]),
    ("/client/v4/zones", "name=EXAMPLE.org.", ["example.org"]),
    ("/client/v4/zones", "name=contains:ample.c", ["example.com"]),
    ("/client/v4/zones", "name=ends_with_case_sensitive:.ORG", []),
    ("/client/v4/zones", "name=not_equal:example.com&status=active", ["example.org"]),
])
def test_cloudflare_listings_filter_as_documented(cloudflare_fake, path, query, found):
    cloudflare_fake.set_rate_limit(0)
    assert call(cloudflare_fake, "POST", RECORDS, body=NOTE)[0] == 200
    listed = call(cloudflare_fake, "GET", f"{path}?{query}")[2]["result"]
    assert [f"{r['type']} {r['name']}" if "zone_id" in r else r["name"] for r in listed] == found


@pytest.mark.parametrize("body, answer", [
    ({"type": "NS", "name": "sub", "content": "ns1.example.net."}, "ns1.example.net"),
    ({"type": "PTR", "name": "7", "content": "host.example.com"}, "host.example.com"),
    ({"type": "A", "name": "x", "content": "192.0.2.1", "ttl": 30}, "192.0.2.1"),
    ({"type": "A", "name": "x", "content": "192.0.2.1", "ttl": 29}, 9021),
    ({"type": "SRV", "name": "_sip._tcp", "data": {"priority": 10, "weight": 5, "port": 5060,
                                                   "target": "sip.example.com"}}, "5 5060 sip.example.com"),
    ({"type": "SRV", "name": "_sip._tcp", "content": "10 5 5060 sip.example.com"}, 9101),
    ({"type": "CAA", "name": "@", "data": {"flags": 0, "tag": "issue", "value": "ca.example"}}, '0 issue "ca.example"'),
    ({"type": "CAA", "name": "@", "data": {"flags": 0, "tag": "issue"}}, 9101),
    ({"type": "URI", "name": "_ftp._tcp", "priority": 1, "data": {"weight": 10, "target": "ftp://x"}}, '10 "ftp://x"'),
    ({"type": "NS", "name": "www", "content": "ns1.example.net"}, 81056),  # www has A and AAAA records
    ({"type": "SPF", "name": "x", "content": "v=spf1 -all"}, 9020),
])
def test_cloudflare_takes_the_record_types_of_the_schema(cloudflare_fake, body, answer):
    cloudflare_fake.set_rate_limit(0)
    status, _, seen = call(cloudflare_fake, "POST", RECORDS, body=body)
    if isinstance(answer, int):
        error = seen["errors"][0]
        assert (status, (error.get("error_chain") or [error])[0]["code"]) == (400, answer)
        return
    assert (status, seen["result"]["content"]) == (200, answer)
    stored = next(r for r in cloudflare_fake.records(ZONE_COM) if r["id"] == seen["result"]["id"])
    wanted_priority = body.get("priority", (body.get("data") or {}).get("priority"))
    assert (stored.get("data"), stored.get("priority")) == (body.get("data"), wanted_priority)


@pytest.mark.parametrize("content, stored", [
    ("v=spf1 -all", "v=spf1 -all"),  # a short content is stored as written
    ('say "hi"', 'say "hi"'),
    ("a" * 255, "a" * 255),
    ("a" * 600, '"{}" "{}" "{}"'.format("a" * 255, "a" * 255, "a" * 90)),
    ("é" * 200, '"{}" "{}"'.format("é" * 127, "é" * 73)),  # split where a character ends
    ('"{}" "b"'.format("q" * 300), '"{}" "{}" "b"'.format("q" * 255, "q" * 45)),
    ('say "hi" ' + "z" * 300, '"say \\"hi\\" {}" "{}"'.format("z" * 246, "z" * 54)),
])
def test_cloudflare_stores_long_txt_contents_and_lists_every_one_as_quoted_strings(cloudflare_fake, content,
                                                                                   stored):
    cloudflare_fake.set_rate_limit(0)
    body = {"type": "TXT", "name": "long", "content": content}
    status, _, created = call(cloudflare_fake, "POST", RECORDS, body=body)
    listed = call(cloudflare_fake, "GET", RECORDS + "?type=TXT&name=long.example.com")[2]["result"]
    quoted = stored if stored.startswith('"') else '"{}"'.format(stored.replace('"', '\\"'))
    assert (status, created["result"]["content"], [r["content"] for r in listed]) == (200, quoted, [quoted])
    assert [r["content"] for r in cloudflare_fake.records(ZONE_COM) if r["name"] == "long.example.com"] == [stored]
    again = call(cloudflare_fake, "POST", RECORDS, body={**body, "content": stored})  # the same strings
    assert (again[0], again[2]["errors"][0]["code"]) == (400, 81058)


@pytest.mark.parametrize("path, per_page, answered", [
    ("/client/v4/zones", "1", 5), ("/client/v4/zones", "50", 50), ("/client/v4/zones", "51", 50),
    ("/client/v4/zones", "ten", 400), (RECORDS, "0", 400), (RECORDS, "1", 1), (RECORDS, "5000000", 5000000),
    (RECORDS, "5000001", 400), (RECORDS, "ten", 400), (RECORDS, "2.5", 400),
])
def test_cloudflare_clamps_or_refuses_per_page_outside_the_documented_range(cloudflare_fake, path, per_page,
                                                                             answered):
    cloudflare_fake.set_rate_limit(0)
    seen_status, _, seen = call(cloudflare_fake, "GET", f"{path}?per_page={per_page}")
    assert (seen_status, seen.get("result_info", {}).get("per_page")) == \
        ((400, None) if answered == 400 else (200, answered))
    if answered == 400:
        low, high = (5, 50) if path.endswith("zones") else (1, 5000000)
        assert seen == _invalid(1001, f"per_page must be an integer from {low} to {high}")


def robot_says(fake, token: str, message: dict, source: str = "127.0.0.1") -> dict:
    status, _, answer = call(fake, "POST", f"/robot/send?access_token={token}", None, message, source)
    assert status == 200  # the robot answers 200 whatever it thinks
    return answer


def text(content: str) -> dict:
    return {"msgtype": "text", "text": {"content": content}}


TOO_FAST = {"errcode": 130101, "errmsg": "send too fast, exceed 2 times per minute"}
OK = {"errcode": 0, "errmsg": "ok"}


def test_robot_refuses_the_send_over_its_rate_and_then_blocks():
    with DingTalkFake(robots={"a": None, "b": None}, rate_limit=2, rate_window=60, rate_block=120) as fake:
        fake.pace_clock = clock = Clock()
        answers = [robot_says(fake, "a", text(str(i))) for i in range(3)]
        assert answers == [OK, OK, TOO_FAST]
        assert robot_says(fake, "b", text("other robot")) == OK
        clock.now += 61  # the window has passed, the block has not
        assert robot_says(fake, "a", text("still blocked")) == TOO_FAST
        clock.now += 60
        assert robot_says(fake, "a", text("free again")) == OK
        assert [m["text"]["content"] for m in fake.messages] == ["0", "1", "other robot", "free again"]


@pytest.mark.parametrize("guard, message, source, answer", [
    ({"keywords": ["alert"]}, text("alert: disk full"), "127.0.0.1", OK),
    ({"keywords": ["alert"]}, text("disk full"), "127.0.0.1", {"errcode": 310000, "errmsg": "keywords not in content"}),
    ({"keywords": ["alert", "告警"]}, {"msgtype": "markdown", "markdown": {"title": "告警", "text": "disk"}},
     "127.0.0.1", OK),
    ({"ips": ["127.0.0.2"]}, text("hi"), "127.0.0.2", OK),
    ({"ips": ["10.0.0.0/8", "127.0.0.0/30"]}, text("hi"), "127.0.0.3", OK),
    ({"ips": ["127.0.0.2", "::1/128"]}, text("hi"), "127.0.0.1",
     {"errcode": 310000, "errmsg": "ip 127.0.0.1 not in whitelist"}),
])
def test_robot_secured_by_keywords_or_ip_instead_of_a_signature(guard, message, source, answer):
    with DingTalkFake(robots={}) as fake:
        fake.add_robot("guarded", None, **guard)
        assert robot_says(fake, "guarded", message, source) == answer
        assert len(fake.messages) == (1 if answer == OK else 0)


def test_sandbox_takes_its_limits_from_the_seed_and_the_command_line(tmp_path):
    seed = {"cloudflare": {**SEED["cloudflare"], "rate_limit": {"requests": 1, "seconds": 30},
                           "tokens": ["seed-token", {"token": "dns-only", "rights": ["dns_records:edit"]}]},
            "dingtalk": {"rate_limit": {"messages": 1, "seconds": 60, "block_seconds": 5},
                         "robots": {"seed-robot": None, "keyword-robot": {"keywords": ["ci"]}}}}
    path = tmp_path / "seed.json"
    path.write_text(json.dumps(seed))
    sandbox = SandboxProcess("--seed", str(path), "--cloudflare-limit", "2/45", "--cloudflare-block", "20")
    try:
        assert sandbox.notes == [
            "# another Cloudflare token: dns-only rights=dns_records:edit zones=all",
            "# zone sandbox.test id=0123456789abcdef0123456789abcdef status=active",
            "# another robot: token=keyword-robot secret= keywords=ci",
            "# Cloudflare rate limit: 2 requests per 45 s per user, then 20 s refused",
            "# DingTalk rate limit: 1 messages per 60 s per robot, then 5 s refused"]
        url = sandbox.settings["CLOUDFLARE_API_URL"] + "/zones"
        assert [fetch(url, Authorization="Bearer seed-token")["success"] for _ in range(2)] == [True, True]
        with pytest.raises(HTTPError) as refused:
            fetch(url, Authorization="Bearer seed-token")
        assert (refused.value.code, json.loads(refused.value.read())) == (429, THROTTLED)
        assert refused.value.headers["Retry-After"] == "20"  # the block starts with the refusal
        robot = sandbox.settings["QOV_DINGTALK_URL"] + "/robot/send?access_token=seed-robot"
        answers = []
        for _ in range(2):
            request = urllib.request.Request(robot, data=json.dumps(text("hi")).encode(),
                                             headers={"Content-Type": "application/json"})
            with urllib.request.urlopen(request, timeout=10) as reply:
                answers.append(json.loads(reply.read()))
        assert answers == [OK, {"errcode": 130101, "errmsg": "send too fast, exceed 1 times per minute"}]
    finally:
        sandbox.kill()
