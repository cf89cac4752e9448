#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get, runs both programs from
# /usr/bin under mpiexec (with their manual pages and completion in place) and
# removes it again. Needs root (or sudo); an installation of the package made
# before is left alone: the check stops instead.
set -euo pipefail
build=${1:-build}
package=pmirlo-tessel
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
if dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q 'install ok installed'; then
    echo "package-check: $package is installed already; remove it first (apt-get remove $package)"
    exit 1
fi

rm -f "$build/${package}"_*.deb
cmake --build "$build" --target package
debs=("$build/${package}"_*.deb)
deb=$(realpath "${debs[0]}")
work=$(mktemp -d)
cleanup() {
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq "$package" > /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$deb"

"$build/tests/make_fixtures" "$work" demo > /dev/null
cd "$work"
step() { echo "\$ $*"; "$@"; }
step test "$(command -v pmirlo)" = /usr/bin/pmirlo
step mpiexec -n 3 /usr/bin/pmirlo demo_run1.h5 demo_run1.h5
status=0
step mpiexec -n 1 /usr/bin/pmirlo -r demo_run1.h5 demo_run2.h5 || status=$?
[ "$status" = 1 ] || { echo "package-check: pmirlo ended with status $status, expected 1"; exit 1; }
step mpiexec -n 2 /usr/bin/tessel -A posix,mpiio,phdf5 -e 64K -x 64K -i 1
step man -w pmirlo tessel tessel-plot tessel-compare
# The loader returns 124 once it has loaded a completion ("try again").
bash -c '. /usr/share/bash-completion/bash_completion; _completion_loader pmirlo; complete -p pmirlo' |
    grep -q ' -F _pmirlo ' ||
    { echo "package-check: no completion of pmirlo"; exit 1; }
echo "package-check: $(basename "$deb") installs and runs"
