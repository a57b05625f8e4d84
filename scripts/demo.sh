#!/usr/bin/env bash
# Installs what is missing, builds the module, and runs a smoke check.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
"$PYTHON" - <<'PY'
import _qov
cf = _qov.Cloudflare(api_token="demo", api_url="http://127.0.0.1:9")
print("fib(90) =", cf.fib(90))
print("unreachable API answers:", cf.get())
PY
