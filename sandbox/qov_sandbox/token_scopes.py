"""What a Cloudflare API token of the fake may do: which zones it reaches and
which rights it holds there, like the resources and permission groups of a
real API token.

A token given as a plain string may do everything. In a seed, a token may
instead be an object:

    {"token": "dns-only-token", "zones": ["example.com"], "rights": ["dns_records:edit"], "user": "ops"}

"zones" holds zone names or ids (left out: every zone); "rights" holds names
from RIGHTS (left out: every right). An edit right includes the matching read
right, and any right on a zone lets the token see the zone itself. "user"
names the user the token belongs to (left out: the sandbox's one user); the
request quota is shared by all of a user's tokens.
"""
from __future__ import annotations

from dataclasses import dataclass

DEFAULT_USER = "sandbox-user"
RIGHTS = ("zone:read", "dns_records:read", "dns_records:edit", "zone_settings:read", "zone_settings:edit",
          "cache_purge:edit")


@dataclass(frozen=True)
class TokenScope:
    zones: frozenset[str] | None = None   # names or ids; None: every zone
    rights: frozenset[str] | None = None  # None: every right
    user: str = DEFAULT_USER  # whose request quota the token spends

    @classmethod
    def of(cls, zones=None, rights=None, user: str | None = None) -> TokenScope:
        if isinstance(zones, str) or isinstance(rights, str):
            raise TypeError("a token's zones and rights are lists of texts")
        if user is not None and not (isinstance(user, str) and user):
            raise TypeError("a token's user is a non-empty text")
        if rights is not None:
            unknown = sorted(set(rights) - set(RIGHTS))
            if unknown:
                raise ValueError(f"unknown token rights {unknown}; known: {', '.join(RIGHTS)}")
        return cls(None if zones is None else frozenset(z.rstrip(".").lower() for z in zones),
                   None if rights is None else frozenset(rights), user or DEFAULT_USER)

    def reaches(self, zone: dict) -> bool:
        return self.zones is None or zone["name"] in self.zones or zone["id"].lower() in self.zones

    def may(self, zone: dict, right: str) -> bool:
        if not self.reaches(zone):
            return False
        if self.rights is None or right in self.rights:
            return True
        if right == "zone:read":
            return bool(self.rights)
        return right.endswith(":read") and right.replace(":read", ":edit") in self.rights

    def describe(self) -> str:
        rights = ",".join(sorted(self.rights)) if self.rights is not None else "all"
        zones = ",".join(sorted(self.zones)) if self.zones is not None else "all"
        user = f" user={self.user}" if self.user != DEFAULT_USER else ""
        return f"rights={rights} zones={zones}{user}"


def token_entry(entry) -> tuple[str, TokenScope]:
    """(token, scope) from a seed's token entry: a text or an object."""
    if isinstance(entry, str):
        return entry, TokenScope()
    if isinstance(entry, dict) and isinstance(entry.get("token"), str):
        return entry["token"], TokenScope.of(entry.get("zones"), entry.get("rights"), entry.get("user"))
    raise ValueError(f"a token is a text or an object with a \"token\" text, not {entry!r}")
