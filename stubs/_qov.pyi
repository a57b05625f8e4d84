# Type stubs of the _qov extension module, installed beside it.
#
# Every method takes its arguments by position or by the parameter names
# below; an unknown keyword, one that repeats a positional argument, or any
# argument to purge_cache raises TypeError.
#
# Methods that reach the Cloudflare API return a Response, a tuple (status,
# body): status is the HTTP code, libcurl's error code after a failed
# transfer, or -1 when no transfer could be started; body is the response text
# or libcurl's message. HTTP errors never raise.
#
# Both client classes may be subclassed; having fields of their own in C,
# neither can be combined with another such class as a base (a disjoint base).

import logging
from typing import Any, Generic, Literal, TypeAlias, TypeVar, final

from _typeshed import SupportsWrite
from typing_extensions import Self, disjoint_base

# Where trace lines go: True, sys.stdout; False or None, nowhere; a text
# stream; a logger (requests at DEBUG, retry and pacing waits at WARNING).
_Trace: TypeAlias = bool | None | SupportsWrite[str] | logging.Logger

_Status = TypeVar("_Status", covariant=True)

class Error(Exception): ...
# "Zone id is null, please query domain first."
class NoZoneError(Error, TypeError): ...
# "Domain not found: <domain>" or "Domain not found!"; when the lookup itself
# failed, its ZoneLookupError is the __cause__.
class ZoneNotFoundError(Error, TypeError): ...

# query()'s lookup answered unsuccessfully, or its transfer failed (status and
# body are then libcurl's code and message).
class ZoneLookupError(Error):
    domain: str
    status: int
    body: str

# Equal to the plain (status, body) pair; status is a str only in the
# ("404", message) pairs of dns_ensured_record.
@final
class Response(tuple[_Status, str], Generic[_Status]):
    def __new__(cls, status: _Status, body: str, action: str | None = None) -> Response[_Status]: ...
    @property
    def status(self) -> _Status: ...
    @property
    def body(self) -> str: ...
    # An integer status from 200 to 299.
    @property
    def ok(self) -> bool: ...
    # What dns_ensured_record wrote; None for the other methods.
    @property
    def action(self) -> Literal["created", "updated", "deleted", "unchanged", "absent"] | None: ...
    def json(self) -> Any: ...

# Equal to the reply text; errcode and errmsg are None when the text is not
# the robot's JSON answer (an HTTP error page, libcurl's message).
@final
class RobotReply(str):
    def __new__(cls, text: str, status: int) -> Self: ...
    # The robot answered errcode 0.
    @property
    def ok(self) -> bool: ...
    @property
    def errcode(self) -> int | None: ...
    @property
    def errmsg(self) -> str | None: ...
    # The HTTP status, or libcurl's code after a failed transfer.
    @property
    def status(self) -> int: ...

@disjoint_base
class Cloudflare:
    # The constructor stores str; a script may assign any object afterwards
    # (the token and the URL are then used in their str() form) or delete the
    # attribute (a later request raises AttributeError).
    @property
    def email(self) -> str: ...
    @email.setter
    def email(self, value: object) -> None: ...
    @email.deleter
    def email(self) -> None: ...
    @property
    def account(self) -> str: ...
    @account.setter
    def account(self, value: object) -> None: ...
    @account.deleter
    def account(self) -> None: ...
    @property
    def api_token(self) -> str: ...
    @api_token.setter
    def api_token(self, value: object) -> None: ...
    @api_token.deleter
    def api_token(self) -> None: ...
    @property
    def api_url(self) -> str: ...
    @api_url.setter
    def api_url(self, value: object) -> None: ...
    @api_url.deleter
    def api_url(self) -> None: ...

    # Set by query(); "" until then. Assigning anything but a str raises
    # TypeError("value should be unicode"), and so does deleting.
    zone: str
    zone_id: str

    # Checked when set: TypeError for a wrong type, ValueError for a negative
    # (or NaN, infinite) value; neither can be deleted. timeout 0: no limit.
    @property
    def timeout(self) -> float: ...
    @timeout.setter
    def timeout(self, value: float) -> None: ...
    max_retries: int
    # Checked when set: TypeError for anything else; cannot be deleted.
    @property
    def trace(self) -> _Trace: ...
    @trace.setter
    def trace(self, value: _Trace) -> None: ...

    def __init__(
        self,
        email: str = "",
        account: str = "",
        api_token: str = "",
        proxy: str = "",
        api_url: str = "https://api.cloudflare.com/client/v4",
        timeout: float = 30,
        max_retries: int = 2,
        *,
        trace: _Trace = True,
    ) -> None: ...

    def fib(self, n: int) -> int: ...
    # -1 when the text did not reach the file (a full disk); OSError when the
    # file cannot be opened.
    def fputs(self, path: str, text: str) -> int: ...
    def get(self, path: str = ...) -> Response[int]: ...
    def query(self, domain: str) -> Response[int]: ...
    # type, name and content filter when given; give name alone by keyword.
    def dns_get_records(
        self, domain: str | None = None, type: str = ..., name: str = ..., content: str = ...
    ) -> Response[int]: ...
    # proxied is read by its truth value at run time; bool here keeps a text
    # such as "false" (which is true) from slipping through.
    def dns_create_record(
        self, type: str, name: str, content: str, proxied: bool, ttl: int
    ) -> Response[int]: ...
    def dns_delete_record(self, record_id: str) -> Response[int]: ...
    def dns_update_record(
        self, record_id: str, type: str, name: str, content: str, proxied: bool, ttl: int
    ) -> Response[int]: ...
    # The listing's or a write's (status, body), or ("404", message) when
    # present is false and no such record exists, or (status, "Record found:
    # ...") for an MX of the same priority with replace false. present and
    # replace take True/False or 1/0.
    def dns_ensured_record(
        self,
        domain: str,
        type: str,
        name: str,
        content: str,
        proxied: bool,
        ttl: int,
        present: int = True,
        replace: int = True,
    ) -> Response[int] | Response[str]: ...
    def change_always_use_https(self, value: str) -> Response[int]: ...
    def change_automatic_https_rewrites(self, value: str) -> Response[int]: ...
    def change_ssl_model(self, value: str) -> Response[int]: ...
    def purge_cache(self) -> Response[int]: ...

@disjoint_base
class DingTalk:
    # Read afresh at every send; a send raises TypeError when either holds
    # anything but a str.
    token: str
    secret: str

    # Checked when set, as Cloudflare's; per_minute 0: no pacing.
    @property
    def timeout(self) -> float: ...
    @timeout.setter
    def timeout(self, value: float) -> None: ...
    per_minute: int
    @property
    def trace(self) -> _Trace: ...
    @trace.setter
    def trace(self, value: _Trace) -> None: ...

    def __init__(
        self, token: str = "", secret: str = "", timeout: float = 30, per_minute: int = 20, *, trace: _Trace = True
    ) -> None: ...

    # The robot's reply text (also for an HTTP error status or a failed
    # transfer); RuntimeError when no signed URL could be made.
    def send_text(self, content: str) -> RobotReply: ...
    def send_markdown(self, title: str, text: str, mobiles: list[str] = ...) -> RobotReply: ...
