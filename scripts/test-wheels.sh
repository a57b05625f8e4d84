#!/usr/bin/env bash
# Tests each wheel that build-wheels.sh left in wheelhouse/, as a user gets it:
# a fresh virtual environment of the wheel's CPython holds the wheel and the
# test runner only, and pytest runs there from this tree against the
# installed module: the bundled libraries are the ones loaded, the examples
# work against the HTTPS sandbox, and the module's tests that differ between
# Python versions (garbage collection, sub-interpreters, the type objects).
#
#   bash scripts/test-wheels.sh            # every wheel in wheelhouse/
#   bash scripts/test-wheels.sh 3.12       # only the wheels of these versions
set -euo pipefail
cd "$(dirname "$0")/.."
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore

work=build/wheels
started=$SECONDS
source scripts/wheel-tools.sh

wanted=("$@")
tested=0
for wheel in wheelhouse/qov-*.whl; do
    [ -e "$wheel" ] || { echo "error: no wheel in wheelhouse/: run scripts/build-wheels.sh first" >&2; exit 1; }
    abi=$(basename "$wheel" | cut -d- -f3)  # cp312
    version="${abi:2:1}.${abi:3}"
    if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " != *" $version "* ]]; then
        continue
    fi
    python=$(find_python "$version") || { echo "error: no CPython $version for $wheel" >&2; exit 1; }
    env="$work/test-$version"
    rm -rf "$env"
    "$python" -m venv "$env"
    quiet_pip "$env/bin/pip" install -q --no-index --no-deps "$wheel"
    quiet_pip "$env/bin/pip" install -q $(pins pytest)
    say "testing $(basename "$wheel") in a fresh environment of $python"
    "$env/bin/python" -m pytest -q -p no:cacheprovider tests/test_wheel.py tests/test_module_lifecycle.py \
        tests/test_objects.py
    tested=$((tested + 1))
done
[ "$tested" -gt 0 ] || { echo "error: no wheel of CPython ${wanted[*]} in wheelhouse/" >&2; exit 1; }
say "done: $tested wheels"
