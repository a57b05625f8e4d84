"""Native Cloudflare API v4 and DingTalk robot clients.

The classes live in the extension module `_qov`; this package is their public
name (all of them report their module as "qov").
"""
from _qov import (
    Cloudflare,
    DingTalk,
    Error,
    NoZoneError,
    Response,
    RobotReply,
    ZoneLookupError,
    ZoneNotFoundError,
)

__all__ = ["Cloudflare", "DingTalk", "Error", "NoZoneError", "Response", "RobotReply", "ZoneLookupError",
           "ZoneNotFoundError"]


def __getattr__(name: str) -> str:
    # __version__ comes from the installed package's metadata, read on first
    # use: importlib.metadata imports the email package, which `import qov`
    # has no need of (and which CPython 3.12 cannot import in two isolated
    # sub-interpreters at once without crashing).
    if name == "__version__":
        from importlib.metadata import version

        globals()["__version__"] = found = version("qov")
        return found
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
