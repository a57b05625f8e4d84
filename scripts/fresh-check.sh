#!/usr/bin/env bash
# What CI on a new machine will see: clones the current commit into a
# temporary folder and runs .ci/run there, with no virtual environment of this
# checkout's and none active, and none of this shell's Python settings, so a
# missing install step, an unpinned tool or a test that needs PYTHONUNBUFFERED
# shows before it reaches CI. Uncommitted changes are not in the clone.
#
#   bash scripts/fresh-check.sh          # the folder is removed afterwards
#   bash scripts/fresh-check.sh --keep   # kept, for a look at what failed
set -euo pipefail
top=$(git -C "$(dirname "${BASH_SOURCE[0]}")" rev-parse --show-toplevel)
clone=$(mktemp -d /tmp/qov-fresh.XXXXXX)
[ "${1:-}" = "--keep" ] || trap 'rm -rf "$clone"' EXIT
git clone -q --no-hardlinks "$top" "$clone"
git -C "$clone" checkout -q "$(git -C "$top" rev-parse HEAD)"
echo "Fresh clone of $(git -C "$clone" rev-parse --short HEAD) in $clone"
cd "$clone"
started=$SECONDS
# A plain machine's environment: no virtual environment, interpreter choice or
# Python settings of this shell's, and no terminal on standard input.
plain=(-u VIRTUAL_ENV)
for variable in $(compgen -e); do
    case $variable in PYTHON*) plain+=(-u "$variable") ;; esac
done
env "${plain[@]}" CI=true bash .ci/run </dev/null
echo "Fresh-clone check passed in $((SECONDS - started)) s"
