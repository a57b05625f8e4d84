# Installs what building and testing the module needs, skipping what is there.
# Sourced by demo.sh and test.sh.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
PYTHON=${PYTHON:-python3}

debian_packages=(build-essential pkg-config libcurl4-openssl-dev libjson-c-dev libssl-dev openssl
                 libgtest-dev tinyproxy nginx-light)
missing=()
for package in "${debian_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing Debian packages: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

"$PYTHON" -m pip install -q --upgrade pip >/dev/null
"$PYTHON" -m pip install -q cmake ninja scikit-build-core pytest pytest-forked mypy requests
echo "Building and installing the module"
"$PYTHON" -m pip install -q .
