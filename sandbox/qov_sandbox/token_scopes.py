"""What a Cloudflare API token of the fake may do: which zones it reaches and
which rights it holds there, like the resources and permission groups of a
real API token.

A token given as a plain string may do everything. In a seed, a token may
instead be an object:

    {"token": "dns-only-token", "zones": ["example.com"], "rights": ["dns_records:edit"]}

"zones" holds zone names or ids (left out: every zone); "rights" holds names
from RIGHTS (left out: every right). An edit right includes the matching read
right, and any right on a zone lets the token see the zone itself.
"""
from __future__ import annotations

from dataclasses import dataclass

RIGHTS = ("zone:read", "dns_records:read", "dns_records:edit", "zone_settings:read", "zone_settings:edit",
          "cache_purge:edit")


@dataclass(frozen=True)
class TokenScope:
    zones: frozenset[str] | None = None   # names or ids; None: every zone
    rights: frozenset[str] | None = None  # None: every right

    @classmethod
    def of(cls, zones=None, rights=None) -> TokenScope:
        if isinstance(zones, str) or isinstance(rights, str):
            raise TypeError("a token's zones and rights are lists of texts")
        if rights is not None:
            unknown = sorted(set(rights) - set(RIGHTS))
            if unknown:
                raise ValueError(f"unknown token rights {unknown}; known: {', '.join(RIGHTS)}")
        return cls(None if zones is None else frozenset(z.rstrip(".").lower() for z in zones),
                   None if rights is None else frozenset(rights))

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
        return f"rights={rights} zones={zones}"


def token_entry(entry) -> tuple[str, TokenScope]:
    """(token, scope) from a seed's token entry: a text or an object."""
    if isinstance(entry, str):
        return entry, TokenScope()
    if isinstance(entry, dict) and isinstance(entry.get("token"), str):
        return entry["token"], TokenScope.of(entry.get("zones"), entry.get("rights"))
    raise ValueError(f"a token is a text or an object with a \"token\" text, not {entry!r}")
