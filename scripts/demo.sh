#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds and installs
# the module, starts the local sandbox of both services, runs examples/demo.py
# against it, and stops the sandbox. Exits non-zero when any step failed.
#
#   bash scripts/demo.sh            # the sandbox over HTTP
#   bash scripts/demo.sh --https    # over HTTPS, trusting the sandbox's own CA
#
# Further arguments go to `python -m qov_sandbox` (see its --help).
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

workdir=$(mktemp -d)
journal="$workdir/sandbox.out"
sandbox_pid=""
stop_sandbox() {
    # Ctrl-C is how a person stops the sandbox; it exits 0 on it.
    local pid=$sandbox_pid
    sandbox_pid=""
    [ -n "$pid" ] || return 0
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid"
}
trap 'stop_sandbox || true; rm -rf "$workdir"' EXIT

echo
echo "Starting the sandbox: $PYTHON -m qov_sandbox $*"
"$PYTHON" -m qov_sandbox "$@" >"$journal" 2>&1 &
sandbox_pid=$!
for _ in $(seq 300); do
    grep -qx ready "$journal" && break
    if ! kill -0 "$sandbox_pid" 2>/dev/null; then
        sandbox_pid=""
        echo "The sandbox did not start:" >&2
        cat "$journal" >&2
        exit 1
    fi
    sleep 0.1
done
if ! grep -qx ready "$journal"; then
    echo "The sandbox did not get ready within 30 seconds:" >&2
    cat "$journal" >&2
    exit 1
fi
while IFS= read -r line; do
    case "$line" in
        ready) break ;;
        [A-Z]*=*) export "$line"; echo "  $line" ;;
    esac
done <"$journal"

echo
echo "Running examples/demo.py"
# The sandbox is on loopback: no proxy of the caller's must come in between.
demo_status=0
env -u http_proxy -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
    "$PYTHON" examples/demo.py || demo_status=$?

sandbox_status=0
stop_sandbox || sandbox_status=$?

echo
echo "What the sandbox received:"
sed -e '1,/^ready$/d' "$journal" | sed -e 's/^/  /'

if [ "$demo_status" -ne 0 ]; then
    echo "The demo failed (exit status $demo_status)." >&2
    exit "$demo_status"
fi
if [ "$sandbox_status" -ne 0 ]; then
    echo "The sandbox did not stop cleanly (exit status $sandbox_status)." >&2
    exit "$sandbox_status"
fi
echo
echo "Demo done: every step did what it said, and the sandbox has stopped."
