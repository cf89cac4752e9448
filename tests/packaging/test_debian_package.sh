#!/usr/bin/env bash
# The Debian package: built with CPack from the build tree, its control data
# names the parallel HDF5 and MPICH runtime packages, and both programs run
# under mpiexec from the unpacked package, with their manual pages and
# completion in place.
# Arguments: BUILD_DIR FIXTURE_DIR
set -u
build=$1 fix=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" > /dev/null; then
        echo "SKIP: $tool is not installed (Debian: dpkg-dev)"
        exit 0
    fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: not one package: ${debs[*]}"; exit 1; }
deb=${debs[0]}

info=$(dpkg-deb -I "$deb")
field() { printf '%s\n' "$info" | sed -n "s/^ $1: //p"; }
[ "$(field Package)" = pmirlo-tessel ] || fail "package name: $(field Package)"
depends=$(field Depends)
for runtime in 'libhdf5-mpich-[0-9]' 'libmpich[0-9]' '(^|, )mpich($|[ ,])' 'python3'; do
    printf '%s\n' "$depends" | grep -qE -- "$runtime" || fail "Depends lacks $runtime: $depends"
done
printf '%s\n' "$depends" | grep -qE 'libhdf5-[0-9]|libhdf5-openmpi' && fail "Depends names a serial or other HDF5: $depends"

root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
for program in pmirlo tessel tessel-plot tessel-compare; do
    for f in usr/bin/$program usr/share/man/man1/$program.1.gz usr/share/bash-completion/completions/$program; do
        [ -f "$root/$f" ] || fail "not in the package: /$f"
    done
done
[ -f "$root/usr/share/doc/pmirlo-tessel/README.md" ] || fail "not in the package: the README"
# The report reader the Python programs share lives in share/, not among the commands.
[ -f "$root/usr/share/tessel/tessel_json.py" ] || fail "not in the package: /usr/share/tessel/tessel_json.py"
[ -e "$root/usr/bin/tessel_json.py" ] && fail "a Python module among the commands: /usr/bin/tessel_json.py"
for program in tessel-plot tessel-compare; do
    "$root/usr/bin/$program" --help > /dev/null 2>&1 || fail "$program from the package does not start"
done
if command -v man > /dev/null; then
    MANWIDTH=80 man -l "$root/usr/share/man/man1/pmirlo.1.gz" 2> /dev/null | grep -q '^NAME' ||
        fail "the packaged manual page does not render"
fi

# Both programs run from the unpacked tree, at one and two processes.
cd "$work" || exit 1
out=$(mpiexec -n 2 "$root/usr/bin/pmirlo" "$fix/demo_run1.h5" "$fix/demo_run1.h5" 2>&1)
rc=$?
[ "$rc" = 0 ] || fail "pmirlo from the package: status $rc: $out"
mpiexec -n 1 "$root/usr/bin/pmirlo" "$fix/demo_run1.h5" "$fix/demo_run2.h5" > "$work/diff.txt" 2>&1
rc=$?
[ "$rc" = 1 ] && grep -qx '2 differences found' "$work/diff.txt" || fail "pmirlo from the package: status $rc: $(cat "$work/diff.txt")"
out=$(mpiexec -n 2 "$root/usr/bin/tessel" -A posix -e 8K -x 8K -i 1 2>&1)
rc=$?
[ "$rc" = 0 ] && printf '%s\n' "$out" | grep -q 'Maximum Throughput' || fail "tessel from the package: status $rc: $out"

[ "$failures" = 0 ] && echo "all Debian package checks passed"
exit $((failures > 0))
