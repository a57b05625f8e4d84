# Type stubs of the qov package, installed inside it: the classes are _qov's.

from _qov import (
    Cloudflare as Cloudflare,
    DingTalk as DingTalk,
    Error as Error,
    NoZoneError as NoZoneError,
    Response as Response,
    RobotReply as RobotReply,
    ZoneLookupError as ZoneLookupError,
    ZoneNotFoundError as ZoneNotFoundError,
)

__all__ = [
    "Cloudflare",
    "DingTalk",
    "Error",
    "NoZoneError",
    "Response",
    "RobotReply",
    "ZoneLookupError",
    "ZoneNotFoundError",
]
__version__: str
