"""The request limits the fakes enforce: Cloudflare's quota of requests per
user and window, and the robot's quota of messages per minute.

Both take `clock` (monotonic seconds) so a test can move time, and both keep
only live state: keys whose window or block has passed are dropped as they
are seen.
"""
from __future__ import annotations

import collections
import math
import threading
import time
from dataclasses import dataclass


@dataclass(frozen=True)
class Quota:
    """What one request left of its key's quota."""
    allowed: bool
    limit: int
    window: float
    remaining: int
    reset: float  # seconds until the window ends and the quota is full again

    def headers(self) -> list[tuple[str, str]]:
        """Cloudflare's rate-limit headers (the IETF draft's structured form);
        Retry-After only on a refusal, in whole seconds rounded up."""
        reset = max(1, math.ceil(self.reset))
        headers = [("Ratelimit", f'"default";r={self.remaining};t={reset}'),
                   ("Ratelimit-Policy", f'"default";q={self.limit};w={math.ceil(self.window)}')]
        if not self.allowed:
            headers.append(("Retry-After", str(reset)))
        return headers


class WindowQuota:
    """`limit` requests per key in a window of `window` seconds that opens with
    the key's first request (refused requests do not count). The request that
    finds the quota spent is refused and starts a block of `block` seconds in
    which every request of the key is refused; the key then starts afresh.
    With no block, requests are refused until the window ends."""

    def __init__(self, limit: int, window: float, clock=time.monotonic, block: float = 0) -> None:
        if limit < 1 or window <= 0 or block < 0:
            raise ValueError("a quota needs at least one request, a window longer than 0 s and a block of 0 s "
                             "or more")
        self.limit, self.window, self.block, self.clock = limit, window, block, clock
        self._windows: dict[str, tuple[float, int]] = {}  # key -> (opened at, requests counted)
        self._blocked_until: dict[str, float] = {}
        self._lock = threading.Lock()

    def take(self, key: str) -> Quota:
        now = self.clock()
        with self._lock:
            self._drop_ended(now)
            until = self._blocked_until.get(key)
            if until is not None:
                return Quota(False, self.limit, self.window, 0, until - now)
            opened, used = self._windows.get(key, (now, 0))
            if used < self.limit:
                self._windows[key] = (opened, used + 1)
                return Quota(True, self.limit, self.window, self.limit - used - 1, opened + self.window - now)
            if self.block > 0:
                self._blocked_until[key] = now + self.block
                del self._windows[key]
                return Quota(False, self.limit, self.window, 0, self.block)
            return Quota(False, self.limit, self.window, 0, opened + self.window - now)

    def _drop_ended(self, now: float) -> None:
        ended = [key for key, (opened, _) in self._windows.items() if now >= opened + self.window]
        for key in ended:
            del self._windows[key]
        for key in [key for key, until in self._blocked_until.items() if now >= until]:
            del self._blocked_until[key]


class SendPace:
    """At most `limit` accepted messages per key in any `window` seconds; the
    send that finds the quota spent is refused and blocks the key for
    `block` seconds, in which every send is refused."""

    def __init__(self, limit: int, window: float = 60, block: float = 600, clock=time.monotonic) -> None:
        if limit < 1 or window <= 0 or block < 0:
            raise ValueError("a pace needs at least one message, a window longer than 0 s and a block of 0 s or more")
        self.limit, self.window, self.block, self.clock = limit, window, block, clock
        self._sent: dict[str, collections.deque[float]] = {}
        self._blocked_until: dict[str, float] = {}
        self._lock = threading.Lock()

    def admits(self, key: str) -> bool:
        """Whether a send may be accepted now; a send over the quota starts the block."""
        now = self.clock()
        with self._lock:
            if self._blocked_until.get(key, now) > now:
                return False
            self._blocked_until.pop(key, None)
            sent = self._recent(key, now)
            if len(sent) >= self.limit:
                self._blocked_until[key] = now + self.block
                return False
            return True

    def record(self, key: str) -> None:
        """Counts a send that was accepted."""
        now = self.clock()
        with self._lock:
            self._recent(key, now).append(now)

    def _recent(self, key: str, now: float) -> collections.deque[float]:
        idle = [k for k, times in self._sent.items() if k != key and (not times or times[-1] <= now - self.window)]
        for other in idle:
            del self._sent[other]
        sent = self._sent.setdefault(key, collections.deque())
        while sent and sent[0] <= now - self.window:
            sent.popleft()
        return sent
