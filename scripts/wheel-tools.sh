# Helpers shared by build-wheels.sh and test-wheels.sh; sourced from the
# repository's root with $started set.

say() { printf '[%4ds] %s\n' $((SECONDS - started)) "$*"; }

# Runs a pip command, leaving out its warnings about find-links folders of the
# machine's pip configuration that do not exist.
quiet_pip() { "$@" 2>&1 | { grep -v "is ignored: it is neither a file nor a directory" || true; }; }

# The exact `name==version` lines of requirements-dev.txt for the named tools.
pins() { for name in "$@"; do grep -iE "^${name}==" requirements-dev.txt; done; }

# The interpreter of CPython $1 (such as 3.12): on PATH, else where pyenv or
# the system keeps it. Prints its path; fails when there is none.
find_python() {
    local version=$1 candidate
    for candidate in "python$version" "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$version".*/bin/"python$version" \
                     "/usr/local/bin/python$version" "/usr/bin/python$version"; do
        # A pyenv shim of a version that is not selected exists but fails.
        "$candidate" -c "import sys
assert sys.implementation.name == 'cpython' and '%d.%d' % sys.version_info[:2] == '$version'
print(sys.executable)" 2>/dev/null && return 0
    done
    return 1
}

# A virtual environment made by interpreter $1 at $2 holding the named tools,
# made once and kept.
tool_env() {
    local python=$1 env=$2
    shift 2
    if [ ! -f "$env/.complete" ]; then
        rm -rf "$env"
        "$python" -m venv "$env"
        quiet_pip "$env/bin/pip" install -q $(pins "$@")
        touch "$env/.complete"
    fi
}
