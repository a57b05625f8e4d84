"""Throwaway certificate authority for the HTTPS flavour of the fakes.

`make_tls(folder)` runs the `openssl` command-line tool to create a fresh CA
and a server certificate for 127.0.0.1 and localhost signed by it. Clients
trust `ca_file`; servers load `cert_file` and `key_file`.
"""
from __future__ import annotations

import secrets
import ssl
import subprocess
from pathlib import Path
from typing import NamedTuple

# Our own config file keeps the result independent of the system openssl.cnf.
# Key identifiers and key usages are there because stricter verifiers
# (VERIFY_X509_STRICT, on by default from Python 3.13) insist on them.
_CONFIG = """\
[req]
distinguished_name = dn
prompt = no

[dn]
CN = qov sandbox

[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[leaf]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
"""

_DAYS = "30"


class TLSFiles(NamedTuple):
    ca_file: Path
    cert_file: Path
    key_file: Path

    def server_context(self) -> ssl.SSLContext:
        return server_context(self)

    def client_context(self) -> ssl.SSLContext:
        return ssl.create_default_context(cafile=str(self.ca_file))


def _openssl(*args: str, cwd: Path) -> None:
    done = subprocess.run(["openssl", *args], cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"openssl {args[0]} failed: {done.stderr.strip()}")


def make_tls(folder: str | Path) -> TLSFiles:
    """Create a new CA and a 127.0.0.1/localhost server certificate in `folder`."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "openssl.cnf").write_text(_CONFIG)
    run = lambda *args: _openssl(*args, cwd=folder)  # noqa: E731
    run("req", "-config", "openssl.cnf", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
        "-days", _DAYS, "-subj", "/CN=qov sandbox CA", "-extensions", "ca",
        "-keyout", "ca.key", "-out", "ca.pem")
    run("req", "-config", "openssl.cnf", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256",
        "-subj", "/CN=localhost", "-keyout", "server.key", "-out", "server.csr")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-set_serial", "0x" + secrets.token_hex(16), "-days", _DAYS, "-sha256",
        "-extfile", "openssl.cnf", "-extensions", "leaf", "-out", "server.pem")
    (folder / "server.csr").unlink()
    return TLSFiles(folder / "ca.pem", folder / "server.pem", folder / "server.key")


def server_context(tls) -> ssl.SSLContext | None:
    """An SSL server context from what the fakes accept as `tls=`: None, an
    SSLContext, a TLSFiles (or any object with cert_file/key_file), or a
    (cert, key) / (ca, cert, key) tuple of paths."""
    if tls is None or isinstance(tls, ssl.SSLContext):
        return tls
    cert, key = getattr(tls, "cert_file", None), getattr(tls, "key_file", None)
    if cert is None or key is None:
        cert, key = tuple(tls)[-2:]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(str(cert), str(key))
    context.set_alpn_protocols(["http/1.1"])
    return context
