#!/usr/bin/env bash
# Installs what is missing, builds the module into the project's own virtual
# environment (see setup.sh), and runs every test: ruff over the Python code,
# the native tests through CTest, then the Python suite.
#
#   bash scripts/test.sh [pytest arguments]
#   bash scripts/test.sh --ci      # what CI runs (.ci/run): the above with
#                                  # warnings as errors, without the caller's
#                                  # PYTHON* settings and a terminal on stdin,
#                                  # then the whole suite again
#                                  # against an AddressSanitizer + UBSan build, the
#                                  # wheel of this CPython, and the suite under every
#                                  # other CPython 3.10-3.13 found
#   PYTHON=python3.12 bash scripts/test.sh   # another interpreter
ci=0
suite_only=0
while [ $# -gt 0 ]; do
    case "$1" in
        --ci) ci=1; shift ;;
        --suite-only) suite_only=1; shift ;;  # used by --ci for the other interpreters
        *) break ;;
    esac
done
if [ "$ci" -eq 1 ]; then
    # A plain machine's environment: none of the caller's Python settings
    # (PYTHONUNBUFFERED, PYTHONDONTWRITEBYTECODE, PYTHONIOENCODING,
    # PYTHONWARNINGS, ...) but the interpreter's choice, and no terminal on
    # standard input, so nothing a developer machine sets can hide a fault.
    for variable in $(compgen -e); do
        case $variable in PYTHON) ;; PYTHON*) unset "$variable" ;; esac
    done
    exec </dev/null
    export SKBUILD_CMAKE_DEFINE="QOV_WERROR=ON"
fi
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

werror=OFF
[ "$ci" -eq 1 ] && werror=ON
timings=()
timed() {
    local name=$1 started=$SECONDS
    shift
    "$@"
    timings+=("$(printf '%-44s %4d s' "$name" $((SECONDS - started)))")
}

lint() {
    echo "ruff check"
    "$PYTHON" -m ruff check --quiet .
}

native_tests() {
    echo "Native tests ($PYTAG)"
    local build="build/native-$PYTAG"
    cmake -S . -B "$build" -G Ninja -DQOV_NATIVE_TESTS=ON -DQOV_WERROR="$werror" \
        -DPython_EXECUTABLE="$PYTHON" >/dev/null
    cmake --build "$build" --target native_tests >/dev/null
    # One line per passing case is noise; failures keep their output.
    ctest --test-dir "$build" --output-on-failure | grep -v -e '^ *Start ' -e ' Passed '
    return "${PIPESTATUS[0]}"
}

python_suite() {
    echo "Python tests ($PYTAG)"
    "$PYTHON" -m pytest -q tests "$@"
}

# The suite once more with the module built with AddressSanitizer and
# UndefinedBehaviorSanitizer, loaded ahead of the installed one. The runtimes
# are preloaded into every process of the run (the interpreter is not
# instrumented) and write any report into a folder of their own: a report from
# any process, a child interpreter included, fails the run.
sanitizer_suite() {
    echo "Python tests against the sanitizer build ($PYTAG)"
    local build="build/asan-$PYTAG" reports
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOV_SANITIZE=ON -DQOV_WERROR=ON \
        -DPython_EXECUTABLE="$PYTHON" >/dev/null
    cmake --build "$build" --target _qov >/dev/null
    local module
    module=$(find "$PWD/$build" -name '_qov*.so' -print -quit)
    reports=$(mktemp -d)
    local status=0
    # Python frees little at exit, so leak reports would be noise; the stub
    # checks compare the installed files, which this run does not use.
    LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)" \
    ASAN_OPTIONS="detect_leaks=0:log_path=$reports/asan" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan" \
    PYTHONMALLOC=malloc PYTHONPATH="$(dirname "$module")" QOV_FUZZ_ARGS="--time-factor 3 --rss-mib 2048" \
        "$PYTHON" -m pytest -q -p no:cacheprovider tests --ignore=tests/test_stubs.py || status=$?
    if compgen -G "$reports/*" >/dev/null; then
        echo "Sanitizer reports:" >&2
        cat "$reports"/* >&2
        status=1
    fi
    rm -rf "$reports"
    return "$status"
}

# The first interpreter of each CPython 3.x version: pyenv's, else on the PATH.
find_cpython() {
    local version=$1 candidate
    for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$version".*/bin/python"$version" \
                     "$(command -v "python$version" 2>/dev/null)"; do
        [ -x "$candidate" ] || continue
        if [ "$("$candidate" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null)" = "$version" ]; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

# A self-contained wheel for this interpreter's CPython, installed and tested
# in an environment of its own (scripts/build-wheels.sh, scripts/test-wheels.sh).
wheel() {
    local version
    version=$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    bash scripts/build-wheels.sh "$version"
    bash scripts/test-wheels.sh "$version"
}

other_interpreters() {
    local current version interpreter
    current=$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    for version in 3.10 3.11 3.12 3.13; do
        [ "$version" = "$current" ] && continue
        if ! interpreter=$(find_cpython "$version"); then
            echo "CPython $version: not found on this machine, skipped"
            timings+=("$(printf '%-44s %6s' "suite under CPython $version" skipped)")
            continue
        fi
        timed "suite under CPython $version" \
            env -u VIRTUAL_ENV PYTHON="$interpreter" bash scripts/test.sh --suite-only
    done
}

if [ "$suite_only" -eq 1 ]; then
    python_suite "$@"
    exit
fi
timed "ruff check" lint
timed "native tests" native_tests
timed "Python suite ($PYTAG)" python_suite "$@"
if [ "$ci" -eq 1 ]; then
    timed "sanitizer build and suite ($PYTAG)" sanitizer_suite
    timed "wheel: build, repair, install and test ($PYTAG)" wheel
    other_interpreters
fi
echo
echo "Timings:"
printf '  %s\n' "${timings[@]}"
