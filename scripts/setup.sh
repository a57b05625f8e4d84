# Installs what building and testing the module needs, skipping what is there,
# into the project's own virtual environment. Sourced by demo.sh and test.sh.
#
# The interpreter, in this order:
#   - an active virtual environment ($VIRTUAL_ENV): used as it is;
#   - PYTHON=/path/to/a/venv/bin/python: that environment, used as it is;
#   - PYTHON=python3.12 (any interpreter outside a virtual environment): the
#     checkout's own environment .venv-3.12 is made from it;
#   - otherwise python3, in the checkout's own environment .venv.
# The pinned tools of requirements-dev.txt are installed there once (again only
# when that file changes); the interpreter outside is never changed.
# Afterwards: $PYTHON is the environment's interpreter, $VENV its folder,
# $PYTAG its name for build folders (such as cpython-3.11), and its bin/ leads PATH.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore

install_debian_packages() {
    local packages=(build-essential pkg-config libcurl4-openssl-dev libjson-c-dev libssl-dev openssl
                    libgtest-dev tinyproxy nginx-light ca-certificates python3-venv)
    local missing=() package
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing Debian packages: ${missing[*]}"
    apt_update
    apt_install "${missing[@]}"
}

# Runs a command as root, through sudo when not root already.
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# How long set-up waits for another package manager (an apt-get elsewhere,
# unattended-upgrades) to release its lock.
apt_lock_timeout=600

# `apt-get update` gives up at once when the package lists' lock is held
# (DPkg::Lock::Timeout covers dpkg's locks only), so it is tried again. apt
# speaks English (LC_ALL=C) so that its lock message can be recognised.
apt_update() {
    local errors waited=0
    errors=$(mktemp)
    until as_root env LC_ALL=C apt-get -qq -o DPkg::Lock::Timeout="$apt_lock_timeout" update 2>"$errors"; do
        if ! grep -q "Could not get lock" "$errors" || [ "$waited" -ge "$apt_lock_timeout" ]; then
            cat "$errors" >&2
            rm -f "$errors"
            return 1
        fi
        [ "$waited" -gt 0 ] || echo "Waiting up to $((apt_lock_timeout / 60)) minutes for the package lists:" \
            "$(grep -m1 "Could not get lock" "$errors" | sed 's/^E: //')"
        sleep 5
        waited=$((waited + 5))
    done
    cat "$errors" >&2  # apt's warnings, if any
    rm -f "$errors"
}

# `apt-get install` waits for dpkg's lock itself, repeating a line about it
# every second: the first one is shown, the rest of its output is not.
apt_install() {
    as_root env LC_ALL=C DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q -o DPkg::Lock::Timeout="$apt_lock_timeout" "$@" |
        awk -v minutes=$((apt_lock_timeout / 60)) '/^Waiting for cache lock: / && !shown {
            sub(/^Waiting for cache lock: /, ""); sub(/\.\.\.$/, "")
            print "Waiting up to " minutes " minutes for the package manager: " $0; fflush(); shown = 1 }'
}

# pip in the environment. Its warnings about find-links folders of the
# machine's pip configuration that do not exist are left out.
venv_pip() {
    "$PYTHON" -m pip "$@" 2>&1 | { grep -v "is ignored: it is neither a file nor a directory" || true; }
}

# True when the interpreter runs inside a virtual environment.
in_venv() { "$1" -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)' 2>/dev/null; }

# Makes (once) the checkout's environment for interpreter $1 in folder $2.
make_venv() {
    local base=$1 folder=$2
    if [ ! -x "$folder/bin/python" ]; then
        echo "Making the virtual environment $folder from $base"
        "$base" -m venv "$folder"
    fi
}

# Installs the pinned tools when requirements-dev.txt differs from what the
# environment last got.
install_tools() {
    local stamp="$VENV/.qov-requirements" wanted
    wanted=$(sha256sum requirements-dev.txt | cut -d' ' -f1)
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ] && return 0
    echo "Installing the pinned tools (requirements-dev.txt) into $VENV"
    venv_pip install -q -r requirements-dev.txt
    echo "$wanted" >"$stamp"
}

# Builds and installs the module unless what it is built from (and the CMake
# definitions in SKBUILD_CMAKE_DEFINE) is unchanged since the last install into
# this environment. The build folder is kept per
# interpreter, so a rebuild compiles only what changed.
install_module() {
    local stamp="$VENV/.qov-module" wanted
    wanted=$({ echo "${SKBUILD_CMAKE_DEFINE:-}"
               git ls-files -z --cached --others --exclude-standard -- src python stubs sandbox CMakeLists.txt \
                   CMakePresets.json pyproject.toml 2>/dev/null | xargs -0 -r sha256sum; } | sha256sum | cut -d' ' -f1)
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ] && "$PYTHON" -c 'import _qov' 2>/dev/null; then
        return 0
    fi
    echo "Building and installing the module into $VENV"
    venv_pip install -q --no-build-isolation --no-deps --config-settings=build-dir="build/wheel-$PYTAG" .
    echo "$wanted" >"$stamp"
}

install_debian_packages

if [ -n "${VIRTUAL_ENV:-}" ] && [ -z "${PYTHON:-}" ]; then
    VENV=$VIRTUAL_ENV
elif [ -n "${PYTHON:-}" ]; then
    base=$(command -v "$PYTHON") || { echo "PYTHON=$PYTHON: no such interpreter" >&2; exit 1; }
    if in_venv "$base"; then
        VENV=$("$base" -c 'import sys; print(sys.prefix)')
    else
        VENV="$PWD/.venv-$("$base" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
        make_venv "$base" "$VENV"
    fi
else
    VENV="$PWD/.venv"
    make_venv "$(command -v python3)" "$VENV"
fi
PYTHON="$VENV/bin/python"
PYTAG=$("$PYTHON" -c 'import sys; print("%s-%d.%d" % (sys.implementation.name, *sys.version_info[:2]))')
export PATH="$VENV/bin:$PATH" PYTHON VENV PYTAG
install_tools
install_module
