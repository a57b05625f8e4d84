"""Native Cloudflare API v4 and DingTalk robot clients.

The classes live in the extension module `_qov`; this package is their public
name (both report their module as "qov").
"""
from importlib.metadata import version as _version

from _qov import Cloudflare, DingTalk

__all__ = ["Cloudflare", "DingTalk"]
__version__ = _version("qov")
