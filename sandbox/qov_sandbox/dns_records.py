"""DNS record rules of the Cloudflare fake: name qualification, validation of
request bodies, conflict checks, presentation and list filters.

TXT contents are DNS character-strings of at most 255 bytes each. As the
service does, a content with a longer string is stored as several quoted
strings of at most 255 bytes, split where a UTF-8 character ends ("\"" and
"\\" escaped inside), and every TXT content is handed out as its quoted
strings (unless the fake is told to hand them out as stored). A content
that is one sequence of quoted strings counts as those strings; any other as
one string. Two TXT contents are the same when their strings are.

Record types whose fields are structured (SRV, CAA, ...) take a `data`
object with every field of the type; their `content` is made from it in the
zone-file order of the type's fields.
"""
from __future__ import annotations

import ipaddress
import re

from . import cloudflare_errors as err

CONTENT_TYPES = ("A", "AAAA", "CNAME", "MX", "NS", "PTR", "TXT")
# type -> its data fields in zone-file order ("quoted" ones in double quotes)
DATA_FIELDS = {
    "CAA": ("flags", "tag", '"value"'),
    "CERT": ("type", "key_tag", "algorithm", "certificate"),
    "DNSKEY": ("flags", "protocol", "algorithm", "public_key"),
    "DS": ("key_tag", "algorithm", "digest_type", "digest"),
    "HTTPS": ("priority", "target", "value"),
    "LOC": ("lat_degrees", "lat_minutes", "lat_seconds", "lat_direction", "long_degrees", "long_minutes",
            "long_seconds", "long_direction", "altitude", "size", "precision_horz", "precision_vert"),
    "NAPTR": ("order", "preference", '"flags"', '"service"', '"regex"', "replacement"),
    "SMIMEA": ("usage", "selector", "matching_type", "certificate"),
    "SRV": ("weight", "port", "target"),  # its priority is the record's own field
    "SSHFP": ("algorithm", "type", "fingerprint"),
    "SVCB": ("priority", "target", "value"),
    "TLSA": ("usage", "selector", "matching_type", "certificate"),
    "URI": ("weight", '"target"'),
}
DATA_REQUIRED = {**{t: tuple(f.strip('"') for f in fields) for t, fields in DATA_FIELDS.items()},
                 "SRV": ("priority", "weight", "port", "target")}
TYPES = CONTENT_TYPES + tuple(DATA_FIELDS)
PRIORITY_TYPES = frozenset({"MX", "URI"})  # a priority at the top level of the body
HOST_TYPES = frozenset({"CNAME", "MX", "NS", "PTR"})
PROXIABLE = frozenset({"A", "AAAA", "CNAME"})
ADDRESS_TYPES = frozenset({"A", "AAAA"})
TTL_AUTOMATIC, TTL_MIN, TTL_MAX = 1, 30, 86400
TXT_STRING_BYTES = 255

_QUOTED_STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')
_ESCAPED = re.compile(r"\\(.)")

_HOSTNAME = re.compile(r"(?=.{1,253}$)(\*\.)?([A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?\.)*"
                       r"[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?")


def canonical_name(name: str, zone: str) -> str:
    """A name as the list filters compare it: lower case, one trailing dot
    dropped, "@" for the zone apex."""
    name = name.lower()
    name = name[:-1] if name.endswith(".") else name
    return zone if name == "@" else name


def qualify(name: str, zone: str) -> str:
    """The stored full name: lower case, no trailing dot, "@" and relative
    names resolved against the zone as the service does."""
    name = name.strip().rstrip(".").lower()
    if name in ("@", zone) or name.endswith("." + zone):
        return zone if name == "@" else name
    return f"{name}.{zone}"


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
    return quoted_txt(content)


def quoted_txt(content: str) -> str:
    """The content as quoted strings of at most 255 bytes, as the service hands it out."""
    return " ".join('"' + string.replace("\\", "\\\\").replace('"', '\\"') + '"' for string in txt_strings(content))


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
    if record_type in HOST_TYPES:
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

    data = {"type": record_type, "name": name}
    if record_type in DATA_FIELDS:
        data["data"] = _data(record_type, fields.get("data"))
        data["content"] = _content_of_data(record_type, data["data"])
    else:
        data["content"] = _content(record_type, fields.get("content"), name)
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
    data.update(ttl=ttl, proxied=proxied)

    if record_type in PRIORITY_TYPES:
        data["priority"] = _priority(fields.get("priority"))
    elif record_type == "SRV":
        data["priority"] = _priority(data["data"]["priority"])
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
    if record_type in HOST_TYPES:
        host = content.rstrip(".")
        if not _HOSTNAME.fullmatch(host) or (record_type == "CNAME" and host.lower() == name):
            raise err.invalid_content(record_type)
        return host
    return stored_txt(content)


def _data(record_type: str, data) -> dict:
    if not isinstance(data, dict):
        raise err.missing_data(record_type)
    for field in DATA_REQUIRED[record_type]:
        value = data.get(field)
        if value is None or isinstance(value, (bool, dict, list)) or value == "":
            raise err.invalid_data_field(field)
    return {field: data[field] for field in DATA_REQUIRED[record_type]}


def _content_of_data(record_type: str, data: dict) -> str:
    def shown(field: str) -> str:
        value = data[field.strip('"')]
        if isinstance(value, float) and value.is_integer():
            value = int(value)
        return f'"{value}"' if field.startswith('"') else str(value)
    return " ".join(shown(field) for field in DATA_FIELDS[record_type])


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


def check_conflicts(same_name: list[dict], data: dict, exclude_id: str | None = None) -> None:
    """Raise the service's error when `data` clashes with another record of
    the same name (`same_name`: the zone's records of that name)."""
    others = [r for r in same_name if r["id"] != exclude_id and r["name"] == data["name"]]
    for record in others:
        if record["type"] == data["type"] and same_content(data["type"], record["content"], data["content"]):
            raise err.identical_record()
    for record in others:
        if data["type"] == "CNAME" and record["type"] in ("A", "AAAA", "CNAME"):
            raise err.host_taken()
        if data["type"] in ADDRESS_TYPES and record["type"] == "CNAME":
            raise err.host_taken()
        if (data["type"] == "NS") != (record["type"] == "NS"):
            raise err.ns_taken()


def present(record: dict, txt_quoted: bool) -> dict:
    """The record as the API hands it out."""
    shown = {key: (list(value) if isinstance(value, list) else dict(value) if isinstance(value, dict) else value)
             for key, value in record.items()}
    if txt_quoted and record["type"] == "TXT":
        shown["content"] = quoted_txt(record["content"])
    return shown


# -- list filters ------------------------------------------------------------
_OPERATORS = ("exact", "contains", "startswith", "endswith")


def _compare(operator: str, wanted: str, forms) -> bool:
    """Whether one of `forms` (already lower case) passes `operator` against `wanted`."""
    wanted = wanted.lower()
    if operator == "exact":
        return wanted in forms
    test = {"contains": str.__contains__, "startswith": str.startswith, "endswith": str.endswith}[operator]
    return any(test(form, wanted) for form in forms)


def _name_test(operator: str, wanted: str, zone: str):
    if operator == "exact":
        wanted = canonical_name(wanted, zone)
    return lambda record: _compare(operator, wanted, (record["name"],))


def _content_test(operator: str, wanted: str):
    def test(record: dict) -> bool:
        content = record["content"]
        forms = {content.lower()}
        if record["type"] == "TXT":
            strings = txt_strings(content)
            forms |= {quoted_txt(content).lower(), "".join(strings).lower()}
        if operator == "exact" and same_content(record["type"], content.lower(), wanted.lower()):
            return True
        return _compare(operator, wanted, forms)
    return test


def _comment_test(operator: str, wanted: str):
    if operator == "present":
        return lambda record: record["comment"] is not None
    if operator == "absent":
        return lambda record: record["comment"] is None
    return lambda record: record["comment"] is not None and _compare(operator, wanted, (record["comment"].lower(),))


def _tag_test(operator: str, wanted: str):
    if operator == "" and ":" not in wanted:
        operator = "present"
    tag_name, _, value = wanted.partition(":")
    tag_name = tag_name.lower()

    def values(record: dict) -> list[str]:
        pairs = [tag.partition(":") for tag in record["tags"]]
        return [v.lower() for n, _, v in pairs if n.lower() == tag_name]
    if operator == "present":
        return lambda record: bool(values(record))
    if operator == "absent":
        return lambda record: not values(record)
    return lambda record: _compare(operator or "exact", value, values(record))


def _equal_test(field: str, wanted):
    return lambda record: record[field] == wanted


def record_filter(params: dict[str, str], zone: str):
    """The listing's filters as one test of a record, or None when there is
    none: `type`, `proxied`, `name`/`content` and their .exact, .contains,
    .startswith and .endswith forms, `comment.*` and `tag.*` (joined by
    `tag_match`), all joined by `match` (all unless "any")."""
    tests = []
    if "type" in params:
        tests.append(_equal_test("type", params["type"].upper()))
    if params.get("proxied") in ("true", "false"):
        tests.append(_equal_test("proxied", params["proxied"] == "true"))
    for field, make in (("name", lambda op, v: _name_test(op, v, zone)), ("content", _content_test)):
        for key, operator in ((field, "exact"), *((f"{field}.{op}", op) for op in _OPERATORS)):
            if key in params:
                tests.append(make(operator, params[key]))
    for key, wanted in params.items():
        if key == "comment" or key.startswith("comment."):
            tests.append(_comment_test(key.partition(".")[2] or "exact", wanted))
    tag_tests = [_tag_test(key.partition(".")[2], wanted) for key, wanted in params.items()
                 if key == "tag" or key.startswith("tag.")]
    if tag_tests:
        tag_join = any if params.get("tag_match") == "any" else all
        tests.append(lambda record: tag_join(test(record) for test in tag_tests))
    if not tests:
        return None
    join = any if params.get("match") == "any" else all
    return lambda record: join(test(record) for test in tests)
