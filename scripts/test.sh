#!/usr/bin/env bash
# Installs what is missing, builds the module, and runs every test: the native
# codec tests through CTest, then the Python suite.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

echo "Native tests"
cmake -S . -B build/native -G Ninja -DQOV_NATIVE_TESTS=ON -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
cmake --build build/native --target native_tests >/dev/null
ctest --test-dir build/native --output-on-failure

echo "Python tests"
"$PYTHON" -m pytest -q tests "$@"
