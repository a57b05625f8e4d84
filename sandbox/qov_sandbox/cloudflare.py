"""A stateful stand-in for the Cloudflare API v4 under /client/v4: zone lookup,
DNS records, three zone settings and cache purge.

Like the service it limits each user, over all of the user's tokens, to
`rate_limit` requests per window of `rate_window` seconds (1,200 per 5
minutes unless the constructor or the seed says otherwise, the constructor
winning; 0 turns the limit off): every answer carries the `Ratelimit` and
`Ratelimit-Policy` headers; the request over the quota gets 429 (code 971)
and blocks the user for `rate_block` seconds (5 minutes), in which every
request gets 429 with a `Retry-After` counting down to the block's end.
Tokens may be scoped to zones and rights and belong to users (see
token_scopes); a token without the right gets 403 (code 10000).

Choices where the service's behaviour is not pinned down publicly:
- Query strings are decoded as HTML forms (urllib.parse.parse_qsl): "%XX"
  escapes are decoded and a raw "+" means a space, as in the service's
  front end. Send "%2B" for a literal plus.
- Checks run in this order: the rate limit (counted per user, for every
  request; a bearer token the fake does not know counts apart), route
  (7000; 7003 for a malformed identifier), Authorization header (9106,
  6003/6111, 9109), then the zone: an unknown but
  well-formed zone id gets the same 400/7003 as a malformed one; then the
  token's rights (10000).
- The quota's window opens with a user's first request and lasts
  `rate_window` seconds; refused requests do not count, nor extend a block.
- Without `order`, lists come in creation order; `total_pages` is at least 1.
- A zone listing's `per_page` outside 5-50 is clamped into it; a record
  listing's outside 1-5,000,000 is refused, as is a `per_page` that is not a
  whole number (400, code 1001, the code being the fake's choice); a `page`
  below 1 is taken as 1, an unparsable one ignored.
- A zone listing's `name` and `account.name` take the documented operators
  as a prefix, `contains:example`; the record listing's filters are in
  dns_records.record_filter.
"""
from __future__ import annotations

import copy
import itertools
import json
import math
import re
import secrets
import threading
import time
from collections.abc import Callable
from datetime import datetime, timezone

from . import cloudflare_errors as err
from . import dns_records as dns
from .limits import Quota, WindowQuota
from .seed import read_seed
from .server import FakeServer, JournalEntry, Reply
from .token_scopes import TokenScope, token_entry

PREFIX = "/client/v4"
_ID = re.compile(r"[0-9a-fA-F]{32}")
_BEARER = re.compile(r"(?i:bearer) +([A-Za-z0-9._~+/-]+=*)")
SETTINGS = {  # setting -> (default value, allowed values)
    "always_use_https": ("off", ("on", "off")),
    "automatic_https_rewrites": ("on", ("on", "off")),
    "ssl": ("full", ("off", "flexible", "full", "strict")),
}
NAME_SERVERS = ["ada.ns.cloudflare.com", "bob.ns.cloudflare.com"]
ZONE_ORDER = frozenset({"name", "status", "account.id", "account.name"})
RECORD_ORDER = frozenset({"type", "name", "content", "ttl", "proxied"})
RATE_LIMIT, RATE_WINDOW, RATE_BLOCK = 1200, 300, 300  # the service's: per user per 5 minutes, then 5 minutes
_DOCS = "https://developers.cloudflare.com/api/resources/"


def _now() -> str:
    return datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%fZ")


def _page(text: str | None) -> int:
    try:
        return max(1, int(text)) if text is not None else 1
    except ValueError:
        return 1


def _per_page(text: str | None, default: int, low: int, high: int, clamp: bool) -> int:
    if text is None:
        return default
    try:
        value = int(text)
    except ValueError:
        raise err.per_page_out_of_range(low, high) from None
    if clamp:
        return min(max(value, low), high)
    if not low <= value <= high:
        raise err.per_page_out_of_range(low, high)
    return value


def _paginate(items: list, params: dict, default: int, low: int, high: int,
              clamp: bool = False) -> tuple[list, dict]:
    page = _page(params.get("page"))
    per_page = _per_page(params.get("per_page"), default, low, high, clamp)
    chunk = items[(page - 1) * per_page: page * per_page]
    info = {"page": page, "per_page": per_page, "count": len(chunk), "total_count": len(items),
            "total_pages": max(1, math.ceil(len(items) / per_page))}
    return chunk, info


def _order(items: list[dict], params: dict, allowed: frozenset[str]) -> list[dict]:
    field = params.get("order")
    if field not in allowed:
        return items
    return sorted(items, key=lambda item: _sort_key(item, field), reverse=params.get("direction") == "desc")


_TEXT_OPERATORS = {
    "equal": lambda have, want: have == want, "not_equal": lambda have, want: have != want,
    "starts_with": str.startswith, "ends_with": str.endswith, "contains": str.__contains__,
}


def _text_test(have: str, wanted: str, canonical=lambda text: text) -> bool:
    """A zone listing's text filter: "[operator:]value", case-insensitive
    unless the operator ends in _case_sensitive."""
    operator, colon, value = wanted.partition(":")
    test = _TEXT_OPERATORS.get(operator.removesuffix("_case_sensitive")) if colon else None
    if test is None:
        return have.lower() == canonical(wanted).lower()
    if operator.endswith("_case_sensitive"):
        return test(have, value)
    return test(have.lower(), value.lower())


def _sort_key(item: dict, dotted: str):
    value = item
    for part in dotted.split("."):
        value = value.get(part) if isinstance(value, dict) else None
    return value.lower() if isinstance(value, str) else value


def _body(request: JournalEntry) -> dict:
    try:
        body = json.loads(request.body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise err.malformed_json() from None
    if not isinstance(body, dict):
        raise err.malformed_json()
    return body


def _ok(result, info: dict | None = None) -> Reply:
    return Reply.json(200, err.success(result, info))


class CloudflareFake(FakeServer):
    name = "cloudflare"

    def __init__(self, tokens=("test-token",), tls=None, txt_quoted: bool = True, seed=None, *,
                 rate_limit: int | None = None, rate_window: float = RATE_WINDOW, rate_block: float = RATE_BLOCK,
                 host: str = "127.0.0.1", port: int = 0, log=None) -> None:
        super().__init__(tls=tls, host=host, port=port, log=log)
        self.tokens: list[str] = []
        self._scopes: dict[str, TokenScope] = {}
        self.clock = time.monotonic  # the rate limit's notion of now, in seconds
        self._quota: WindowQuota | None = None
        self.set_rate_limit(RATE_LIMIT, RATE_WINDOW, RATE_BLOCK)
        # TXT contents handed out as quoted strings, as the service does; False: as stored
        self.txt_quoted = txt_quoted
        self.account = {"id": secrets.token_hex(16), "name": "Sandbox Account"}
        self._lock = threading.RLock()
        self._zones: dict[str, dict] = {}
        self._records: dict[str, dict[str, dict]] = {}  # zone id -> record id -> record, in creation order
        self._by_name: dict[str, dict[str, dict[str, dict]]] = {}  # zone id -> name -> record id -> record
        self._created: dict[str, int] = {}  # record id -> creation number
        self._creations = itertools.count()
        self._settings: dict[str, dict[str, dict]] = {}
        self._purges: dict[str, int] = {}
        for token in tokens:
            self.add_token(token)
        if seed is not None:
            self.load_seed(seed)
        if rate_limit is not None:  # given here, it wins over the seed's
            self.set_rate_limit(rate_limit, rate_window, rate_block)

    @property
    def api_url(self) -> str:
        return self.base_url + PREFIX

    # -- seeding and reading state (no validation, no HTTP) ----------------------
    def add_token(self, token: str, zones=None, rights=None, user: str | None = None) -> None:
        """Accept `token`, limited to `zones` (names or ids) and `rights` (see
        token_scopes.RIGHTS) when given, belonging to `user` (default: the
        sandbox's one user); adding it again replaces its scope."""
        self._accept_token(token, TokenScope.of(zones, rights, user))

    def _accept_token(self, token: str, scope: TokenScope) -> None:
        with self._lock:
            if token not in self.tokens:
                self.tokens.append(token)
            self._scopes[token] = scope

    def scope(self, token: str) -> TokenScope:
        with self._lock:
            return self._scopes[token]

    def set_rate_limit(self, requests: int | None, seconds: float = RATE_WINDOW, block: float = RATE_BLOCK) -> None:
        """`requests` per user per window of `seconds`, then `block` seconds
        refused (0: refused only until the window ends); 0 or None requests
        turns the limit off."""
        self._quota = WindowQuota(requests, seconds, self._now, block) if requests else None

    def _now(self) -> float:
        return self.clock()  # looked up at each call: tests replace the clock

    @property
    def rate_limit(self) -> tuple[int, float, float] | None:
        """(requests, window, block) in seconds, or None when off."""
        quota = self._quota
        return (quota.limit, quota.window, quota.block) if quota is not None else None

    def add_zone(self, name: str, id: str | None = None, status: str = "active") -> str:  # noqa: A002
        zone_id = id or secrets.token_hex(16)
        name = name.strip().rstrip(".").lower()
        stamp = _now()
        with self._lock:
            if zone_id in self._zones or any(z["name"] == name for z in self._zones.values()):
                raise ValueError(f"zone {name} ({zone_id}) already exists")
            self._zones[zone_id] = {
                "id": zone_id, "name": name, "status": status, "paused": False, "type": "full",
                "development_mode": 0, "name_servers": list(NAME_SERVERS), "original_name_servers": None,
                "original_registrar": None, "original_dnshost": None, "created_on": stamp,
                "modified_on": stamp, "activated_on": stamp if status == "active" else None,
                "meta": {"step": 4, "custom_certificate_quota": 0, "page_rule_quota": 3,
                         "phishing_detected": False},
                "owner": {"id": None, "type": "user", "email": None},
                "account": dict(self.account),
                "permissions": ["#dns_records:edit", "#dns_records:read", "#zone:read", "#zone_settings:edit"],
                "plan": {"id": "0feeeeeeeeeeeeeeeeeeeeeeeeeeeeee", "name": "Free Website", "price": 0,
                         "currency": "USD", "frequency": "", "is_subscribed": False, "can_subscribe": False,
                         "legacy_id": "free", "legacy_discount": False, "externally_managed": False},
            }
            self._records[zone_id] = {}
            self._by_name[zone_id] = {}
            self._settings[zone_id] = {key: {"value": default, "modified_on": None}
                                       for key, (default, _) in SETTINGS.items()}
            self._purges[zone_id] = 0
        return zone_id

    def add_record(self, zone_id: str, type: str, name: str, content: str, ttl: int = 1,  # noqa: A002
                   proxied: bool = False, priority: int | None = None, id: str | None = None) -> str:  # noqa: A002
        """Store a record as given, without the API's checks (an MX without a
        priority gets 10, a TXT content over 255 bytes is split as the service
        splits it). Relative names are completed with the zone name."""
        if type.upper() == "TXT":
            content = dns.stored_txt(content)
        with self._lock:
            zone = self._zones[zone_id]
            data = {"type": type.upper(), "name": dns.qualify(name, zone["name"]), "content": content,
                    "ttl": ttl, "proxied": proxied, "comment": None, "tags": []}
            if priority is not None or data["type"] == "MX":
                data["priority"] = priority if priority is not None else 10
            return self._store(zone, data, id)["id"]

    def zones(self) -> list[dict]:
        with self._lock:
            return copy.deepcopy(list(self._zones.values()))

    def records(self, zone_id: str) -> list[dict]:
        """Records in listing order, contents as stored: as written, never
        quoted, except a TXT content over 255 bytes (several quoted strings)."""
        with self._lock:
            return [dns.present(r, False) for r in self._records[zone_id].values()]

    def settings(self, zone_id: str) -> dict[str, str]:
        with self._lock:
            return {key: entry["value"] for key, entry in self._settings[zone_id].items()}

    def purges(self, zone_id: str) -> int:
        with self._lock:
            return self._purges[zone_id]

    def zone_id(self, name: str) -> str:
        with self._lock:
            return next(z["id"] for z in self._zones.values() if z["name"] == name.rstrip(".").lower())

    def load_seed(self, seed) -> None:
        """Add tokens, zones, records and settings from a seed (a dict or the
        path of a JSON file; a whole seed or just its "cloudflare" part)."""
        data = read_seed(seed)
        data = data.get("cloudflare", data)
        for entry in data.get("tokens", []):
            self._accept_token(*token_entry(entry))
        if "rate_limit" in data:
            limit = data["rate_limit"] or {}
            self.set_rate_limit(limit.get("requests", 0), limit.get("seconds", RATE_WINDOW),
                                limit.get("block_seconds", RATE_BLOCK))
        if "account" in data:
            self.account = dict(data["account"])
        for zone in data.get("zones", []):
            zone_id = self.add_zone(zone["name"], id=zone.get("id"), status=zone.get("status", "active"))
            for r in zone.get("records", []):
                self.add_record(zone_id, r["type"], r["name"], r["content"], ttl=r.get("ttl", 1),
                                proxied=r.get("proxied", False), priority=r.get("priority"), id=r.get("id"))
            for key, value in zone.get("settings", {}).items():
                self._settings[zone_id][key] = {"value": value, "modified_on": None}

    def _store(self, zone: dict, data: dict, record_id: str | None = None) -> dict:
        stamp = _now()
        record = {"id": record_id or secrets.token_hex(16), "zone_id": zone["id"], "zone_name": zone["name"],
                  "name": data["name"], "type": data["type"], "content": data["content"]}
        if "priority" in data:
            record["priority"] = data["priority"]
        if "data" in data:
            record["data"] = data["data"]
        record.update({"proxiable": data["type"] in dns.PROXIABLE, "proxied": data["proxied"],
                       "ttl": data["ttl"], "locked": False, "settings": {},
                       "meta": {"auto_added": False, "managed_by_apps": False,
                                "managed_by_argo_tunnel": False, "source": "primary"},
                       "comment": data["comment"], "tags": data["tags"],
                       "created_on": stamp, "modified_on": stamp})
        self._records[zone["id"]][record["id"]] = record
        self._created[record["id"]] = next(self._creations)
        self._by_name[zone["id"]].setdefault(record["name"], {})[record["id"]] = record
        return record

    def _unindex(self, zone: dict, record: dict) -> None:
        named = self._by_name[zone["id"]]
        named[record["name"]].pop(record["id"], None)
        if not named[record["name"]]:
            del named[record["name"]]

    def _named(self, zone: dict, name: str) -> list[dict]:
        """The zone's records of one canonical name, in creation order."""
        found = list(self._by_name[zone["id"]].get(name, {}).values())
        return sorted(found, key=lambda record: self._created[record["id"]])

    # -- HTTP ---------------------------------------------------------------
    def outcome(self, reply: Reply) -> str:
        """The first error's code and message of a refused request, and the
        first link of its error chain."""
        try:
            errors = json.loads(reply.body)["errors"]
            if not errors:
                return ""
            said = f"error {errors[0]['code']}: {errors[0]['message']}"
            chain = errors[0].get("error_chain") or []
            return said + (f" ({chain[0]['code']}: {chain[0]['message']})" if chain else "")
        except (ValueError, KeyError, TypeError, IndexError, AttributeError):
            return ""

    def handle(self, request: JournalEntry) -> Reply:
        quota = self._take_quota(request)
        try:
            if quota is not None and not quota.allowed:
                raise err.rate_limited()
            reply = self._route(request)
        except err.ApiError as error:
            reply = Reply.json(error.status, error.envelope())
        if quota is not None:
            reply.headers.extend(quota.headers())
        return reply

    def _take_quota(self, request: JournalEntry) -> Quota | None:
        quota = self._quota
        if quota is None:
            return None
        header = (request.headers.get("Authorization") or "").strip()
        match = _BEARER.fullmatch(header)
        token = match.group(1) if match else header
        with self._lock:
            scope = self._scopes.get(token)
        return quota.take(f"user {scope.user}" if scope is not None else f"token {token}")

    def _route(self, request: JournalEntry) -> Reply:
        path = request.url_path
        if not path.startswith(PREFIX + "/"):
            raise err.no_route()
        parts = path[len(PREFIX) + 1:].split("/")
        if parts[0] != "zones":
            raise err.no_route()
        if len(parts) == 1:
            return self._dispatch(request, {"GET": (self._list_zones, "zone:read", "zones/methods/list/")})
        zone_id, rest = parts[1], parts[2:]
        if not _ID.fullmatch(zone_id):
            raise err.bad_identifier(path)
        # method -> (handler, the right it needs, its documentation page below _DOCS)
        records, settings = "dns/subresources/records/methods/", "zones/subresources/settings/methods/"
        handlers: dict[str, tuple[Callable[..., Reply], str, str]]
        if not rest:
            handlers = {"GET": (self._get_zone, "zone:read", "zones/methods/get/")}
        elif rest == ["dns_records"]:
            handlers = {"GET": (self._list_records, "dns_records:read", records + "list/"),
                        "POST": (self._create_record, "dns_records:edit", records + "create/")}
        elif len(rest) == 2 and rest[0] == "dns_records":
            if not _ID.fullmatch(rest[1]):
                raise err.bad_identifier(path)
            handlers = {"GET": (self._get_record, "dns_records:read", records + "get/"),
                        "PUT": (self._put_record, "dns_records:edit", records + "update/"),
                        "PATCH": (self._patch_record, "dns_records:edit", records + "edit/"),
                        "DELETE": (self._delete_record, "dns_records:edit", records + "delete/")}
        elif rest == ["settings"]:
            handlers = {"GET": (self._list_settings, "zone_settings:read", settings + "get/")}
        elif len(rest) == 2 and rest[0] == "settings":
            handlers = {"GET": (self._get_setting, "zone_settings:read", settings + "get/"),
                        "PATCH": (self._patch_setting, "zone_settings:edit", settings + "edit/")}
        elif rest == ["purge_cache"]:
            handlers = {"POST": (self._purge, "cache_purge:edit", "cache/methods/purge/")}
        else:
            raise err.no_route()
        return self._dispatch(request, handlers, path, zone_id, rest[1:2])

    def _dispatch(self, request: JournalEntry, handlers: dict, path: str = "",
                  zone_id: str | None = None, args: list[str] = ()) -> Reply:
        if request.method not in handlers:
            raise err.method_not_allowed()
        handler, right, page = handlers[request.method]
        scope = self._authorize(request)
        with self._lock:
            if zone_id is None:
                return handler(request, scope)
            zone = self._zones.get(zone_id)
            if zone is None:
                raise err.bad_identifier(path)
            if not scope.may(zone, right):
                raise err.permission_denied(_DOCS + page)
            return handler(request, zone, *args)

    def _authorize(self, request: JournalEntry) -> TokenScope:
        header = request.headers.get("Authorization")
        if header is None:
            raise err.missing_auth()
        match = _BEARER.fullmatch(header.strip())
        if match is None:
            raise err.malformed_auth()
        with self._lock:
            scope = self._scopes.get(match.group(1))
        if scope is None:
            raise err.invalid_token()
        return scope

    # -- zones ----------------------------------------------------------------
    def _list_zones(self, request: JournalEntry, scope: TokenScope) -> Reply:
        """Zones the token reaches with some right; others are left out, not refused."""
        params = request.params
        tests = {
            "name": lambda z, v: _text_test(z["name"], v, lambda name: name.rstrip(".").lower()),
            "status": lambda z, v: z["status"] == v,
            "account.id": lambda z, v: z["account"]["id"] == v,
            "account.name": lambda z, v: _text_test(z["account"]["name"], v),
        }
        active = [(test, params[key]) for key, test in tests.items() if key in params]
        combine = any if params.get("match") == "any" else all
        zones = [z for z in self._zones.values()
                 if scope.may(z, "zone:read") and (not active or combine(t(z, v) for t, v in active))]
        zones = _order(zones, params, ZONE_ORDER)
        chunk, info = _paginate(zones, params, default=20, low=5, high=50, clamp=True)
        return _ok(copy.deepcopy(chunk), info)

    def _get_zone(self, request: JournalEntry, zone: dict) -> Reply:
        return _ok(copy.deepcopy(zone))

    # -- DNS records --------------------------------------------------------------
    def _find(self, zone: dict, record_id: str) -> dict:
        record = self._records[zone["id"]].get(record_id)
        if record is None:
            raise err.record_not_found()
        return record

    def _list_records(self, request: JournalEntry, zone: dict) -> Reply:
        params = request.params
        test = dns.record_filter(params, zone["name"])
        if "name" in params and params.get("match") != "any":  # looked up by name: as fast in any zone
            records = self._named(zone, dns.canonical_name(params["name"], zone["name"]))
        else:
            records = list(self._records[zone["id"]].values())
        if test is not None:
            records = [r for r in records if test(r)]
        records = _order(records, params, RECORD_ORDER)
        chunk, info = _paginate(records, params, default=100, low=1, high=5_000_000)
        return _ok([dns.present(r, self.txt_quoted) for r in chunk], info)

    def _create_record(self, request: JournalEntry, zone: dict) -> Reply:
        data = dns.validate(_body(request), zone["name"])
        dns.check_conflicts(self._named(zone, data["name"]), data)
        return _ok(dns.present(self._store(zone, data), self.txt_quoted))

    def _get_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        return _ok(dns.present(self._find(zone, record_id), self.txt_quoted))

    def _put_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        record = self._find(zone, record_id)
        return self._replace(zone, record, _body(request))

    def _patch_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        record = self._find(zone, record_id)
        current = {key: record[key] for key in ("type", "name", "content", "ttl", "proxied", "comment", "tags",
                                                "priority", "data") if key in record}
        return self._replace(zone, record, {**current, **_body(request)})

    def _replace(self, zone: dict, record: dict, fields: dict) -> Reply:
        data = dns.validate(fields, zone["name"])
        dns.check_conflicts(self._named(zone, data["name"]), data, exclude_id=record["id"])
        self._unindex(zone, record)
        record.pop("priority", None)
        record.pop("data", None)
        record.update({key: data[key] for key in ("name", "type", "content", "ttl", "proxied", "comment", "tags",
                                                  "priority", "data") if key in data})
        self._by_name[zone["id"]].setdefault(record["name"], {})[record["id"]] = record
        record["proxiable"] = data["type"] in dns.PROXIABLE
        record["modified_on"] = _now()
        return _ok(dns.present(record, self.txt_quoted))

    def _delete_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        record = self._find(zone, record_id)
        del self._records[zone["id"]][record_id]
        self._unindex(zone, record)
        return _ok({"id": record_id})

    # -- settings and purge -----------------------------------------------------------
    def _setting(self, zone: dict, name: str) -> dict:
        entry = self._settings[zone["id"]][name]
        return {"id": name, "value": entry["value"], "editable": True, "modified_on": entry["modified_on"]}

    def _list_settings(self, request: JournalEntry, zone: dict) -> Reply:
        return _ok([self._setting(zone, name) for name in SETTINGS])

    def _get_setting(self, request: JournalEntry, zone: dict, name: str) -> Reply:
        if name not in SETTINGS:
            raise err.unknown_setting(name)
        return _ok(self._setting(zone, name))

    def _patch_setting(self, request: JournalEntry, zone: dict, name: str) -> Reply:
        if name not in SETTINGS:
            raise err.unknown_setting(name)
        value = _body(request).get("value")
        if not isinstance(value, str) or value not in SETTINGS[name][1]:
            raise err.invalid_setting_value(name)
        self._settings[zone["id"]][name] = {"value": value, "modified_on": _now()}
        return _ok(self._setting(zone, name))

    def _purge(self, request: JournalEntry, zone: dict) -> Reply:
        body = _body(request) if request.body.strip() else {}
        targets = [body.get(key) for key in ("files", "tags", "hosts", "prefixes")]
        if body.get("purge_everything") is not True and not any(isinstance(t, list) and t for t in targets):
            raise err.purge_without_target()
        self._purges[zone["id"]] += 1
        return _ok({"id": zone["id"]})
