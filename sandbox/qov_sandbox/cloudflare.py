"""A stateful stand-in for the Cloudflare API v4 under /client/v4: zone lookup,
DNS records, three zone settings and cache purge.

Choices where the service's behaviour is not pinned down publicly:
- Query strings are decoded as HTML forms (urllib.parse.parse_qsl): "%XX"
  escapes are decoded and a raw "+" means a space, as in the service's
  front end. Send "%2B" for a literal plus.
- Checks run in this order: route (7000; 7003 for a malformed identifier),
  Authorization header (9106, 6003/6111, 9109), then the zone: an unknown but
  well-formed zone id gets the same 400/7003 as a malformed one.
- Without `order`, lists come in creation order; `total_pages` is at least 1.
- Out-of-range `page`/`per_page` values are clamped, unparsable ones ignored.
"""
from __future__ import annotations

import copy
import json
import math
import re
import secrets
import threading
from datetime import datetime, timezone

from . import cloudflare_errors as err
from . import dns_records as dns
from .seed import read_seed
from .server import FakeServer, JournalEntry, Reply

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


def _now() -> str:
    return datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%fZ")


def _int(text: str | None, default: int, low: int, high: int | None) -> int:
    try:
        value = int(text) if text is not None else default
    except ValueError:
        value = default
    value = max(low, value)
    return min(high, value) if high is not None else value


def _paginate(items: list, params: dict, default: int, low: int, high: int) -> tuple[list, dict]:
    page = _int(params.get("page"), 1, 1, None)
    per_page = _int(params.get("per_page"), default, low, high)
    chunk = items[(page - 1) * per_page: page * per_page]
    info = {"page": page, "per_page": per_page, "count": len(chunk), "total_count": len(items),
            "total_pages": max(1, math.ceil(len(items) / per_page))}
    return chunk, info


def _order(items: list[dict], params: dict, allowed: frozenset[str]) -> list[dict]:
    field = params.get("order")
    if field not in allowed:
        return items
    return sorted(items, key=lambda item: _sort_key(item, field), reverse=params.get("direction") == "desc")


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

    def __init__(self, tokens=("test-token",), tls=None, txt_quoted: bool = False, seed=None, *,
                 host: str = "127.0.0.1", port: int = 0, log=None) -> None:
        super().__init__(tls=tls, host=host, port=port, log=log)
        self.tokens = list(tokens)
        self.txt_quoted = txt_quoted  # hand TXT contents back in double quotes, as the service now does
        self.account = {"id": secrets.token_hex(16), "name": "Sandbox Account"}
        self._lock = threading.RLock()
        self._zones: dict[str, dict] = {}
        self._records: dict[str, list[dict]] = {}
        self._settings: dict[str, dict[str, dict]] = {}
        self._purges: dict[str, int] = {}
        if seed is not None:
            self.load_seed(seed)

    @property
    def api_url(self) -> str:
        return self.base_url + PREFIX

    # -- seeding and reading state (no validation, no HTTP) ----------------------
    def add_token(self, token: str) -> None:
        with self._lock:
            if token not in self.tokens:
                self.tokens.append(token)

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
            self._records[zone_id] = []
            self._settings[zone_id] = {key: {"value": default, "modified_on": None}
                                       for key, (default, _) in SETTINGS.items()}
            self._purges[zone_id] = 0
        return zone_id

    def add_record(self, zone_id: str, type: str, name: str, content: str, ttl: int = 1,  # noqa: A002
                   proxied: bool = False, priority: int | None = None, id: str | None = None) -> str:  # noqa: A002
        """Store a record as given, without the API's checks (an MX without a
        priority gets 10). Relative names are completed with the zone name."""
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
        """Records in listing order, contents as written (never quoted)."""
        with self._lock:
            return [dns.present(r, False) for r in self._records[zone_id]]

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
        for token in data.get("tokens", []):
            self.add_token(token)
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
        record.update({"proxiable": data["type"] in dns.PROXIABLE, "proxied": data["proxied"],
                       "ttl": data["ttl"], "locked": False, "settings": {},
                       "meta": {"auto_added": False, "managed_by_apps": False,
                                "managed_by_argo_tunnel": False, "source": "primary"},
                       "comment": data["comment"], "tags": data["tags"],
                       "created_on": stamp, "modified_on": stamp})
        self._records[zone["id"]].append(record)
        return record

    # -- HTTP ---------------------------------------------------------------
    def outcome(self, reply: Reply) -> str:
        """The first error's code and message of a refused request."""
        try:
            errors = json.loads(reply.body)["errors"]
            return f"error {errors[0]['code']}: {errors[0]['message']}" if errors else ""
        except (ValueError, KeyError, TypeError, IndexError):
            return ""

    def handle(self, request: JournalEntry) -> Reply:
        try:
            return self._route(request)
        except err.ApiError as error:
            return Reply.json(error.status, error.envelope())

    def _route(self, request: JournalEntry) -> Reply:
        path = request.url_path
        if not path.startswith(PREFIX + "/"):
            raise err.no_route()
        parts = path[len(PREFIX) + 1:].split("/")
        if parts[0] != "zones":
            raise err.no_route()
        if len(parts) == 1:
            return self._dispatch(request, {"GET": self._list_zones})
        zone_id, rest = parts[1], parts[2:]
        if not _ID.fullmatch(zone_id):
            raise err.bad_identifier(path)
        if not rest:
            handlers = {"GET": self._get_zone}
        elif rest == ["dns_records"]:
            handlers = {"GET": self._list_records, "POST": self._create_record}
        elif len(rest) == 2 and rest[0] == "dns_records":
            if not _ID.fullmatch(rest[1]):
                raise err.bad_identifier(path)
            handlers = {"GET": self._get_record, "PUT": self._put_record, "PATCH": self._patch_record,
                        "DELETE": self._delete_record}
        elif rest == ["settings"]:
            handlers = {"GET": self._list_settings}
        elif len(rest) == 2 and rest[0] == "settings":
            handlers = {"GET": self._get_setting, "PATCH": self._patch_setting}
        elif rest == ["purge_cache"]:
            handlers = {"POST": self._purge}
        else:
            raise err.no_route()
        return self._dispatch(request, handlers, path, zone_id, rest[1:2])

    def _dispatch(self, request: JournalEntry, handlers: dict, path: str = "",
                  zone_id: str | None = None, args: list[str] = ()) -> Reply:
        handler = handlers.get(request.method)
        if handler is None:
            raise err.method_not_allowed()
        self._authorize(request)
        with self._lock:
            if zone_id is None:
                return handler(request)
            zone = self._zones.get(zone_id)
            if zone is None:
                raise err.bad_identifier(path)
            return handler(request, zone, *args)

    def _authorize(self, request: JournalEntry) -> None:
        header = request.headers.get("Authorization")
        if header is None:
            raise err.missing_auth()
        match = _BEARER.fullmatch(header.strip())
        if match is None:
            raise err.malformed_auth()
        if match.group(1) not in self.tokens:
            raise err.invalid_token()

    # -- zones ----------------------------------------------------------------
    def _list_zones(self, request: JournalEntry) -> Reply:
        params = request.params
        tests = {
            "name": lambda z, v: z["name"] == v.strip().rstrip(".").lower(),
            "status": lambda z, v: z["status"] == v,
            "account.id": lambda z, v: z["account"]["id"] == v,
            "account.name": lambda z, v: z["account"]["name"].lower() == v.lower(),
        }
        active = [(test, params[key]) for key, test in tests.items() if key in params]
        combine = any if params.get("match") == "any" else all
        zones = [z for z in self._zones.values() if not active or combine(t(z, v) for t, v in active)]
        zones = _order(zones, params, ZONE_ORDER)
        chunk, info = _paginate(zones, params, default=20, low=5, high=50)
        return _ok(copy.deepcopy(chunk), info)

    def _get_zone(self, request: JournalEntry, zone: dict) -> Reply:
        return _ok(copy.deepcopy(zone))

    # -- DNS records --------------------------------------------------------------
    def _find(self, zone: dict, record_id: str) -> dict:
        for record in self._records[zone["id"]]:
            if record["id"] == record_id:
                return record
        raise err.record_not_found()

    def _list_records(self, request: JournalEntry, zone: dict) -> Reply:
        params = request.params
        records = [r for r in self._records[zone["id"]] if dns.matches(r, params, zone["name"])]
        records = _order(records, params, RECORD_ORDER)
        chunk, info = _paginate(records, params, default=100, low=1, high=5_000_000)
        return _ok([dns.present(r, self.txt_quoted) for r in chunk], info)

    def _create_record(self, request: JournalEntry, zone: dict) -> Reply:
        data = dns.validate(_body(request), zone["name"])
        dns.check_conflicts(self._records[zone["id"]], data)
        return _ok(dns.present(self._store(zone, data), self.txt_quoted))

    def _get_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        return _ok(dns.present(self._find(zone, record_id), self.txt_quoted))

    def _put_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        record = self._find(zone, record_id)
        return self._replace(zone, record, _body(request))

    def _patch_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        record = self._find(zone, record_id)
        current = {key: record[key] for key in ("type", "name", "content", "ttl", "proxied", "comment", "tags")}
        if "priority" in record:
            current["priority"] = record["priority"]
        return self._replace(zone, record, {**current, **_body(request)})

    def _replace(self, zone: dict, record: dict, fields: dict) -> Reply:
        data = dns.validate(fields, zone["name"])
        dns.check_conflicts(self._records[zone["id"]], data, exclude_id=record["id"])
        record.pop("priority", None)
        record.update({key: data[key] for key in ("name", "type", "content", "ttl", "proxied", "comment", "tags")})
        if "priority" in data:
            record["priority"] = data["priority"]
        record["proxiable"] = data["type"] in dns.PROXIABLE
        record["modified_on"] = _now()
        return _ok(dns.present(record, self.txt_quoted))

    def _delete_record(self, request: JournalEntry, zone: dict, record_id: str) -> Reply:
        self._records[zone["id"]].remove(self._find(zone, record_id))
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
