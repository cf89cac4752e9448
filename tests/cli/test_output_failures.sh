#!/usr/bin/env bash
# A report that cannot be written never ends as a success: standard output or
# the JSON report on a full device or file system ends the run with one
# message and status 2, and a JSON report left incomplete is removed. Workers
# keep their output in memory, so a multi-process run whose temporary folder
# cannot be written prints the whole report. Cases that need to mount a small
# file system are skipped, with a message, where the test cannot mount one.
. "$(dirname "$0")/pmirlo_common.sh"
full_msg='No space left on device'

# expect CASE WANTED_STATUS STATUS [LINE]: the status, and standard error
# ($work/err) holding exactly LINE (nothing when LINE is absent).
expect() {
    if [ "$3" != "$2" ]; then
        echo "$1: status $3, expected $2"; sed 's/^/  stderr| /' "$work/err"; fail=1
    fi
    if [ "$(cat "$work/err")" != "${4:-}" ]; then
        echo "$1: standard error is not the one line expected (${4:-nothing}):"
        sed 's/^/  stderr| /' "$work/err"; fail=1
    fi
}

# pmirlo with rank 0's standard output on /dev/full and the other ranks as
# workers; the launcher's own standard output stays writable, so the failure
# is rank 0's to see. One process runs without the launcher.
on_full_stdout() {
    local n=$1
    shift
    if [ "$n" = 1 ]; then
        (cd "$fix" && timeout 100 "$exe" "$@") > /dev/full 2> "$work/err"
    else
        (cd "$fix" && timeout 100 mpiexec -n 1 sh -c 'exec "$0" "$@" > /dev/full' "$exe" "$@" \
            : -n $((n - 1)) "$exe" "$@") > /dev/null 2> "$work/err"
    fi
}

stdout_msg="mirlo error: cannot write the report to standard output: $full_msg"
for n in 1 3; do
    on_full_stdout "$n" -r e2e_a.h5 e2e_b.h5
    expect "stdout on /dev/full, -n $n, differences" 2 $? "$stdout_msg"
    # Many pairs whose output reaches rank 0 in several messages.
    on_full_stdout "$n" -r par_paths_a.h5 par_paths_b.h5
    expect "stdout on /dev/full, -n $n, 3,000 pairs" 2 $? "$stdout_msg"
done
# Equal files: one process still prints its banner.
on_full_stdout 1 e2e_a.h5 e2e_a.h5
expect "stdout on /dev/full, -n 1, equal files" 2 $? "$stdout_msg"
# Nothing to print: nothing fails.
on_full_stdout 3 -q e2e_a.h5 e2e_b.h5
expect "stdout on /dev/full, -n 3, quiet" 1 $?

# Where the launcher itself writes the report, its failure is its own: never
# a status of 0 or 1.
(cd "$fix" && timeout 100 mpiexec -n 3 "$exe" -r e2e_a.h5 e2e_b.h5) > /dev/full 2> /dev/null
rc=$?
if [ "$rc" = 0 ] || [ "$rc" = 1 ]; then
    echo "launcher's stdout on /dev/full: status $rc"; fail=1
fi

for n in 1 3; do
    rc=$(run "$n" "$work/out" --json=/dev/full e2e_a.h5 e2e_b.h5)
    cp "$work/out.err" "$work/err"
    expect "--json=/dev/full, -n $n" 2 "$rc" "mirlo error: cannot write the JSON report </dev/full>: $full_msg"
    [ -c /dev/full ] || { echo "--json=/dev/full, -n $n: /dev/full is gone"; fail=1; }
done

# A file system of its own (tmpfs with OPTIONS) mounted on a new folder, in
# $fs_dir; empty when the test may not mount.
mounted=()
cleanup() {
    for m in "${mounted[@]}"; do umount "$m" 2> /dev/null || umount -l "$m"; done
    rm -rf "$work"
}
trap cleanup EXIT
small_fs() { # OPTIONS
    fs_dir=$(mktemp -d "$work/fs.XXXXXX")
    if mount -t tmpfs -o "$1" tmpfs "$fs_dir" 2> /dev/null; then
        mounted+=("$fs_dir")
    else
        fs_dir=
    fi
}

small_fs size=64k
full=$fs_dir
if [ -z "$full" ]; then
    echo "SKIPPED: JSON report on a full file system (this test cannot mount one)"
else
    # Filled to the last block.
    head -c 65536 /dev/zero > "$full/filler" 2> /dev/null
    for n in 1 3; do
        rc=$(run "$n" "$work/out" --json="$full/r.json" -r e2e_a.h5 e2e_b.h5)
        cp "$work/out.err" "$work/err"
        expect "JSON report on a full file system, -n $n" 2 "$rc" \
            "mirlo error: cannot write the JSON report <$full/r.json>: $full_msg"
        [ -e "$full/r.json" ] && { echo "JSON report on a full file system, -n $n: incomplete file left"; fail=1; }
    done
fi

# Workers never write their output to disk: with the temporary folder
# missing, and with /tmp itself read-only, three processes print what one
# prints, and nothing goes wrong. /tmp is made read-only in place (a
# read-only bind of itself), so a build tree under /tmp stays readable.
expected=$work/one
run 1 "$expected" -r par_many_a.h5 par_many_b.h5 > /dev/null
grep -vxF "$banner" "$expected" > "$expected.x"
rc=$(TMPDIR=$work/no/such/folder run 3 "$work/out" -r par_many_a.h5 par_many_b.h5)
cp "$work/out.err" "$work/err"
expect "TMPDIR missing, -n 3" 1 "$rc"
cmp -s "$expected.x" "$work/out" || { echo "TMPDIR missing, -n 3: output differs"; fail=1; }
if unshare --mount --propagation private true 2> /dev/null; then
    (cd "$fix" && timeout 100 unshare --mount --propagation private sh -c \
        'mount --bind /tmp /tmp && mount -o remount,bind,ro /tmp && exec mpiexec -n 3 "$0" "$@"' \
        "$exe" -r par_many_a.h5 par_many_b.h5) > "$work/out" 2> "$work/err"
    expect "/tmp read-only, -n 3" 1 $?
    cmp -s "$expected.x" "$work/out" || { echo "/tmp read-only, -n 3: output differs"; fail=1; }
else
    echo "SKIPPED: /tmp read-only (this test cannot make a mount namespace)"
fi
exit $fail
