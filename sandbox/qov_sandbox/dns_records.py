"""DNS record rules of the Cloudflare fake: name qualification, validation of
request bodies, conflict checks, presentation and list filters.

TXT contents are DNS character-strings of at most 255 bytes each. As the
service does, a content with a longer string is stored, and handed out
whatever the quoting setting, as several quoted strings of at most 255 bytes,
split where a UTF-8 character ends ("\"" and "\\" escaped inside). A content
that is one sequence of quoted strings counts as those strings; any other as
one string. Two TXT contents are the same when their strings are.
"""
from __future__ import annotations

import ipaddress
import re

from . import cloudflare_errors as err

TYPES = ("A", "AAAA", "CNAME", "MX", "TXT")
PROXIABLE = frozenset({"A", "AAAA", "CNAME"})
ADDRESS_TYPES = frozenset({"A", "AAAA"})
TTL_AUTOMATIC, TTL_MIN, TTL_MAX = 1, 60, 86400
TXT_STRING_BYTES = 255

_QUOTED_STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')
_ESCAPED = re.compile(r"\\(.)")

_HOSTNAME = re.compile(r"(?=.{1,253}$)(\*\.)?([A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?\.)*"
                       r"[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?")


def qualify(name: str, zone: str) -> str:
    """The stored full name: lower case, no trailing dot, "@" and relative
    names resolved against the zone as the service does."""
    name = name.strip().rstrip(".").lower()
    if name in ("@", zone) or name.endswith("." + zone):
        return zone if name == "@" else name
    return f"{name}.{zone}"


def unquote_txt(content: str) -> str:
    if len(content) >= 2 and content[0] == content[-1] == '"':
        return content[1:-1]
    return content


def quote_txt(content: str) -> str:
    return content if unquote_txt(content) != content else f'"{content}"'


def txt_strings(content: str) -> list[str]:
    """The character-strings of a TXT content, each at most 255 bytes."""
    quoted = _quoted_strings(content)
    return [piece for string in (quoted if quoted is not None else [content]) for piece in _split_txt(string)]


def stored_txt(content: str) -> str:
    """The content as the service stores it: as written, unless a string is
    over 255 bytes, and then as quoted strings of at most 255 bytes."""
    quoted = _quoted_strings(content)
    strings = txt_strings(content)
    if len(strings) == len(quoted if quoted is not None else [content]):
        return content
    return " ".join('"' + string.replace("\\", "\\\\").replace('"', '\\"') + '"' for string in strings)


def _quoted_strings(content: str) -> list[str] | None:
    """The strings of a content written as quoted strings separated by blanks, or None."""
    text = content.strip()
    strings: list[str] = []
    position = 0
    while position < len(text):
        if strings and text[position] not in " \t":
            return None
        while position < len(text) and text[position] in " \t":
            position += 1
        match = _QUOTED_STRING.match(text, position)
        if match is None:
            return None
        strings.append(_ESCAPED.sub(r"\1", match.group(1)))
        position = match.end()
    return strings or None


def _split_txt(string: str) -> list[str]:
    pieces: list[str] = []
    piece: list[str] = []
    size = 0
    for character in string:
        width = len(character.encode("utf-8", "surrogatepass"))
        if size + width > TXT_STRING_BYTES:
            pieces.append("".join(piece))
            piece, size = [], 0
        piece.append(character)
        size += width
    pieces.append("".join(piece))
    return pieces


def same_content(record_type: str, a: str, b: str) -> bool:
    return _canonical(record_type, a) == _canonical(record_type, b)


def _canonical(record_type: str, content: str) -> str | tuple[str, ...]:
    if record_type in ADDRESS_TYPES:
        try:
            return str(ipaddress.ip_address(content))
        except ValueError:
            return content
    if record_type in ("CNAME", "MX"):
        return content.rstrip(".").lower()
    if record_type == "TXT":
        return tuple(txt_strings(content))
    return content


def validate(fields: dict, zone: str) -> dict:
    """Check a request body (already merged with the record for PATCH) and
    return the normalised data fields, or raise ApiError."""
    record_type = fields.get("type")
    if not isinstance(record_type, str) or record_type.upper() not in TYPES:
        raise err.invalid_type()
    record_type = record_type.upper()

    name = fields.get("name")
    if not isinstance(name, str) or not name.strip() or len(name) > 255 or any(c.isspace() for c in name.strip()):
        raise err.invalid_name()
    name = qualify(name, zone)

    content = _content(record_type, fields.get("content"), name)
    ttl = _ttl(fields.get("ttl", TTL_AUTOMATIC))

    proxied = fields.get("proxied", False)
    if proxied is None:
        proxied = False
    if not isinstance(proxied, bool):
        raise err.invalid_proxied()
    if proxied and record_type not in PROXIABLE:
        raise err.not_proxiable()
    if proxied:
        ttl = TTL_AUTOMATIC  # proxied records always report automatic TTL

    data = {"type": record_type, "name": name, "content": content, "ttl": ttl, "proxied": proxied}
    if record_type == "MX":
        data["priority"] = _priority(fields.get("priority"))
    comment = fields.get("comment")
    data["comment"] = comment if isinstance(comment, str) and comment else None
    tags = fields.get("tags")
    data["tags"] = [t for t in tags if isinstance(t, str)] if isinstance(tags, list) else []
    return data


def _content(record_type: str, content, name: str) -> str:
    if not isinstance(content, str) or not content:
        raise err.invalid_content(record_type)
    if record_type == "A":
        try:
            return str(ipaddress.IPv4Address(content))
        except ValueError:
            raise err.invalid_content("A") from None
    if record_type == "AAAA":
        try:
            return str(ipaddress.IPv6Address(content))  # the service stores the compressed form
        except ValueError:
            raise err.invalid_content("AAAA") from None
    if record_type in ("CNAME", "MX"):
        host = content.rstrip(".")
        if not _HOSTNAME.fullmatch(host) or (record_type == "CNAME" and host.lower() == name):
            raise err.invalid_content(record_type)
        return host
    return stored_txt(content) if record_type == "TXT" else content


def _ttl(ttl) -> int:
    if isinstance(ttl, float) and ttl.is_integer():
        ttl = int(ttl)
    if isinstance(ttl, bool) or not isinstance(ttl, int):
        raise err.invalid_ttl()
    if ttl != TTL_AUTOMATIC and not TTL_MIN <= ttl <= TTL_MAX:
        raise err.invalid_ttl()
    return ttl


def _priority(priority) -> int:
    if isinstance(priority, float) and priority.is_integer():
        priority = int(priority)
    if isinstance(priority, bool) or not isinstance(priority, int) or not 0 <= priority <= 65535:
        raise err.invalid_priority()
    return priority


def check_conflicts(existing: list[dict], data: dict, exclude_id: str | None = None) -> None:
    """Raise the service's error when `data` clashes with another record."""
    same_name = [r for r in existing if r["id"] != exclude_id and r["name"] == data["name"]]
    for record in same_name:
        if record["type"] == data["type"] and same_content(data["type"], record["content"], data["content"]):
            raise err.identical_record()
    for record in same_name:
        if data["type"] == "CNAME" and record["type"] in ("A", "AAAA", "CNAME"):
            raise err.host_taken()
        if data["type"] in ADDRESS_TYPES and record["type"] == "CNAME":
            raise err.host_taken()


def present(record: dict, txt_quoted: bool) -> dict:
    """The record as the API hands it out."""
    shown = {key: (list(value) if isinstance(value, list) else dict(value) if isinstance(value, dict) else value)
             for key, value in record.items()}
    if txt_quoted and record["type"] == "TXT":
        shown["content"] = quote_txt(record["content"])
    return shown


def matches(record: dict, params: dict[str, str], zone: str) -> bool:
    """Apply the list filters (type, name, content, proxied) with `match`."""
    tests = []
    if "type" in params:
        tests.append(record["type"] == params["type"].upper())
    if "name" in params:
        wanted = params["name"].strip().rstrip(".").lower()
        tests.append(record["name"] == (zone if wanted == "@" else wanted))
    if "content" in params:
        tests.append(same_content(record["type"], record["content"], params["content"]))
    if params.get("proxied") in ("true", "false"):
        tests.append(record["proxied"] == (params["proxied"] == "true"))
    if not tests:
        return True
    return any(tests) if params.get("match") == "any" else all(tests)
