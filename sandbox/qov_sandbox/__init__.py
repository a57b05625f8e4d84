"""Local fakes of the services the `_qov` module talks to, for tests, the demo
and the command-line sandbox (`python -m qov_sandbox`).

    from qov_sandbox import CloudflareFake, DingTalkFake, make_tls

    with CloudflareFake() as cf:
        zone_id = cf.add_zone("example.com")
        ...  # point the client at cf.api_url with token "test-token"

Both fakes listen on 127.0.0.1 (an ephemeral port unless told otherwise),
speak HTTP/1.1 with keep-alive, serve HTTPS when given `tls=make_tls(folder)`,
and journal every request (`.journal`, `.clear_journal()`).
"""
from .cloudflare import CloudflareFake
from .dingtalk import DingTalkFake, sign as dingtalk_sign
from .seed import SEED_PATH, read_seed
from .server import FakeServer, Headers, JournalEntry, Reply
from .tls import TLSFiles, make_tls

__all__ = [
    "CloudflareFake", "DingTalkFake", "dingtalk_sign", "FakeServer", "Headers", "JournalEntry", "Reply",
    "SEED_PATH", "read_seed", "TLSFiles", "make_tls",
]
