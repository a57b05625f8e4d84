# Type stubs of the qov package, installed inside it: the classes are _qov's.

from _qov import Cloudflare as Cloudflare, DingTalk as DingTalk

__all__ = ["Cloudflare", "DingTalk"]
__version__: str
