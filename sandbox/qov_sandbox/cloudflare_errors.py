"""Envelopes and errors of the Cloudflare API v4 as the fake answers them.

Codes and messages are those the live service is seen returning today.
Record errors come at top level (9005/9006, the 81xxx conflicts) except where
the service now wraps them in a generic 1004 "DNS Validation Error" with an
`error_chain` (9004, 9021, the data fields). Refusals by the API's front door
(missing credentials, a token without the right, the rate limit) come in its
short form, `success` and `errors` only; the permission error names the
operation's documentation page, as the service's does. Codes marked "fake's
choice" have no public record; they only need to be stable.
"""
from __future__ import annotations


def success(result, result_info: dict | None = None) -> dict:
    body = {"result": result, "success": True, "errors": [], "messages": []}
    if result_info is not None:
        body["result_info"] = result_info
    return body


class ApiError(Exception):
    def __init__(self, status: int, code: int, message: str, chain: list[tuple[int, str]] = (), *,
                 front_door: bool = False, documentation_url: str | None = None) -> None:
        super().__init__(f"{status} {code} {message}")
        self.status, self.code, self.message, self.chain = status, code, message, list(chain)
        self.front_door = front_door  # answered before the request reached the service: the short envelope
        self.documentation_url = documentation_url

    def envelope(self) -> dict:
        error: dict = {"code": self.code, "message": self.message}
        if self.documentation_url:
            error["documentation_url"] = self.documentation_url
        if self.chain:
            error["error_chain"] = [{"code": code, "message": message} for code, message in self.chain]
        if self.front_door:
            return {"success": False, "errors": [error]}
        return {"success": False, "errors": [error], "messages": [], "result": None}


# -- authentication --------------------------------------------------------
def missing_auth() -> ApiError:
    return ApiError(400, 9106, "Missing X-Auth-Key, X-Auth-Email or Authorization headers", front_door=True)


def malformed_auth() -> ApiError:
    return ApiError(400, 6003, "Invalid request headers", [(6111, "Invalid format for Authorization header")])


def invalid_token() -> ApiError:
    return ApiError(403, 9109, "Invalid access token")


def permission_denied(documentation_url: str) -> ApiError:
    """A valid token without the right to the zone or the operation."""
    return ApiError(403, 10000, "Authentication error", front_door=True, documentation_url=documentation_url)


def rate_limited() -> ApiError:
    return ApiError(429, 971, "Please wait and consider throttling your request speed", front_door=True)


# -- routing and request bodies -------------------------------------------
def no_route() -> ApiError:
    return ApiError(404, 7000, "No route for that URI")


def bad_identifier(path: str) -> ApiError:
    return ApiError(400, 7003, f"Could not route to {path}, perhaps your object identifier is invalid?")


def method_not_allowed() -> ApiError:  # fake's choice
    return ApiError(405, 7001, "Method not allowed for this URI")


def malformed_json() -> ApiError:
    return ApiError(400, 6007, "Malformed JSON in request body")


def per_page_out_of_range(low: int, high: int) -> ApiError:  # fake's choice
    return ApiError(400, 1001, f"per_page must be an integer from {low} to {high}")


# -- DNS records -------------------------------------------------------------
def record_not_found() -> ApiError:
    return ApiError(404, 81044, "Record does not exist.")


def identical_record() -> ApiError:
    return ApiError(400, 81058, "An identical record already exists.")


def host_taken() -> ApiError:
    return ApiError(400, 81053, "An A, AAAA, or CNAME record with that host already exists.")


def ns_taken() -> ApiError:  # fake's choice
    return ApiError(400, 81056, "NS records cannot exist on the same name as any other record type.")


def invalid_type() -> ApiError:  # fake's choice
    return ApiError(400, 9020, "Invalid DNS record type")


def invalid_name() -> ApiError:  # fake's choice
    return ApiError(400, 9000, "DNS name is invalid.")


def invalid_content(record_type: str) -> ApiError:
    if record_type == "A":
        return ApiError(400, 9005, "Content for A record must be a valid IPv4 address.")
    if record_type == "AAAA":
        return ApiError(400, 9006, "Content for AAAA record must be a valid IPv6 address.")
    return ApiError(400, 9007, f"Content for {record_type} record is invalid.")  # 9007 seen for CNAME


def missing_data(record_type: str) -> ApiError:  # fake's choice, in the data fields' form
    return ApiError(400, 1004, "DNS Validation Error", [(9101, f"data is required for {record_type} records.")])


def invalid_data_field(field: str) -> ApiError:  # fake's choice, in the data fields' form
    return ApiError(400, 1004, "DNS Validation Error", [(9101, f"{field} is a required data field.")])


def invalid_ttl() -> ApiError:
    return ApiError(400, 1004, "DNS Validation Error",
                    [(9021, "TTL must be between 60 and 86400 seconds, or 1 for Automatic.")])


def not_proxiable() -> ApiError:
    return ApiError(400, 1004, "DNS Validation Error", [(9004, "This record type cannot be proxied.")])


def invalid_proxied() -> ApiError:  # fake's choice
    return ApiError(400, 1004, "DNS Validation Error", [(1004, "proxied must be a boolean")])


def invalid_priority() -> ApiError:  # the chain form is how data fields are reported
    return ApiError(400, 1004, "DNS Validation Error",
                    [(9101, "priority is a required data field and must be an integer from 0 to 65535.")])


# -- zone settings and cache purge --------------------------------------------
def unknown_setting(name: str) -> ApiError:
    return ApiError(400, 1006, f"Unrecognized zone setting name: {name}")


def invalid_setting_value(name: str) -> ApiError:
    return ApiError(400, 1007, f"Invalid value for zone setting {name}")


def purge_without_target() -> ApiError:
    return ApiError(400, 1012,
                    'Request must contain one of "purge_everything", "files", "tags", "hosts" or "prefixes"')
