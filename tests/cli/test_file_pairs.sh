#!/usr/bin/env bash
# Many file pairs in one run: two folder trees (files on one side only, files
# that are not HDF5, a user block, symbolic links to a file and to a folder,
# a damaged file, empty folders) and pair lists (comments, relative paths,
# standard input, malformed lines). Every run is checked against the output
# written out below, and at two and four processes against the one-process
# run (same lines in the same order, same standard error, same status).
#
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/pmirlo_common.sh"

tree=$work/tree
mkdir -p "$tree/d1/same" "$tree/d2/same" "$tree/d1/empty" "$tree/d2/empty" "$tree/d2/dirlink" "$tree/lists"
cp "$fix/e2e_a.h5" "$tree/d1/diff.h5"
cp "$fix/e2e_b.h5" "$tree/d2/diff.h5"
cp "$fix/e2e_a.h5" "$tree/d1/same/eq.h5"
cp "$fix/e2e_a.h5" "$tree/d2/same/eq.h5"
cp "$fix/e2e_a.h5" "$tree/d1/only1.h5"
cp "$fix/e2e_a.h5" "$tree/d2/only2.h5"
cp "$fix/e2e_a.h5" "$tree/d2/dirlink/eq.h5"
cp "$fix/e2e_a.h5" "$tree/d2/ub.h5"
cp "$fix/e2e_a.h5" "$tree/d2/lnk.h5"
cp "$fix/e2e_a.h5" "$tree/d2/broken.h5"
# A user block of 512 bytes before the file: recognised by its signature.
{ head -c 512 /dev/zero; cat "$fix/e2e_a.h5"; } > "$tree/d1/ub.h5"
# A user block of 32 MiB: a pair that large has its objects handed out to the
# workers instead of going to one worker whole.
{ head -c 33554432 /dev/zero; cat "$fix/e2e_a.h5"; } > "$tree/d1/big.h5"
cp "$fix/e2e_b.h5" "$tree/d2/big.h5"
# A link to a file is followed; a link to a folder is not entered.
ln -s same/eq.h5 "$tree/d1/lnk.h5"
ln -s same "$tree/d1/dirlink"
# The signature and nothing usable after it: the pair fails, the run goes on.
{ printf '\211HDF\r\n\032\n'; head -c 600 /dev/zero; } > "$tree/d1/broken.h5"
echo "not HDF5" > "$tree/d1/readme.h5"
echo "not HDF5" > "$tree/d2/readme.h5"

e2e_report='attribute: <version of </>> and <version of </>>
1 differences found
dataset: </dset1> and </dset1>
1 differences found
dataset: </g1/dset2> and </g1/dset2>
1 differences found'

# name, expected status, expected stdout (without the banner), expected
# stderr, words...: runs in the tree at 1, 2 and 4 processes.
check() {
    local name=$1 want=$2 out=$3 err=$4
    shift 4
    local n rc
    printf '%s' "$out" > "$work/want"
    [ -n "$out" ] && echo >> "$work/want"
    printf '%s' "$err" | sort > "$work/want.err"
    [ -n "$err" ] && { printf '%s\n' "$err" | sort > "$work/want.err"; }
    for n in 1 2 4; do
        rc=$(cd "$tree" && timeout 100 mpiexec -n "$n" "$exe" "$@" < "${STDIN:-/dev/null}" > "$work/got" 2> "$work/got.err"; echo $?)
        if [ "$rc" != "$want" ]; then
            echo "[$name] $n processes: status $rc, expected $want"; fail=1
        fi
        grep -avxF "$banner" "$work/got" > "$work/got.x"
        if ! diff -u "$work/want" "$work/got.x" > "$work/d"; then
            echo "[$name] $n processes: standard output differs"; head -30 "$work/d"; fail=1
        fi
        sort "$work/got.err" > "$work/got.err.s"
        if ! diff -u "$work/want.err" "$work/got.err.s" > "$work/d"; then
            echo "[$name] $n processes: standard error differs"; head -20 "$work/d"; fail=1
        fi
    done
}

# With several processes, small file pairs are compared whole, one pair a
# task; the objects of big.h5 are handed out one by one.
two_folders="file: <d1/big.h5> and <d2/big.h5>
$e2e_report
file: <d1/broken.h5> and <d2/broken.h5>
mirlo: <d1/broken.h5>: unable to open file
file: <d1/diff.h5> and <d2/diff.h5>
$e2e_report
Only in d2: dirlink/eq.h5
file: <d1/lnk.h5> and <d2/lnk.h5>
Only in d1: only1.h5
Only in d2: only2.h5
file: <d1/same/eq.h5> and <d2/same/eq.h5>
file: <d1/ub.h5> and <d2/ub.h5>
6 file pairs compared: 2 with differences, 1 failed; 3 files on one side only"
check "two folders" 2 "$two_folders" "mirlo error: <d1/broken.h5>: unable to open file" d1 d2

mkdir -p "$tree/v1" "$tree/v2"
cp "$tree/d1/readme.h5" "$tree/v1/"
cp "$tree/d1/readme.h5" "$tree/v2/"
check "files not HDF5 under -v" 0 "Not an HDF5 file, skipped: v1/readme.h5
Not an HDF5 file, skipped: v2/readme.h5
0 file pairs compared: 0 with differences, 0 failed; 0 files on one side only" "" -v v1 v2
# -q leaves what a failed pair prints today, and nothing else.
check "quiet" 2 "mirlo: <d1/broken.h5>: unable to open file" "mirlo error: <d1/broken.h5>: unable to open file" \
    -q d1 d2
check "empty folders" 0 "0 file pairs compared: 0 with differences, 0 failed; 0 files on one side only" "" \
    d1/empty d2/empty
check "equal folders" 0 "file: <d1/same/eq.h5> and <d2/same/eq.h5>
1 file pairs compared: 0 with differences, 0 failed; 0 files on one side only" "" d1/same d2/same
check "objects with folders" 1 "" "mirlo error: <d1> and <d2> are folders: obj1 and obj2 cannot be given with them" \
    d1 d2 /dset1

# Other report modes: at two and four processes the one-process report.
for opts in "-r" "-v" "--statistics -r" "-c -d 0.5" "-v2 --follow-symlinks"; do
    # shellcheck disable=SC2086
    (cd "$tree" && mpiexec -n 1 "$exe" $opts d1 d2 > "$work/one" 2> /dev/null; echo $? > "$work/one.rc")
    grep -avxF "$banner" "$work/one" > "$work/one.x"
    for n in 2 4; do
        # shellcheck disable=SC2086
        rc=$(cd "$tree" && mpiexec -n "$n" "$exe" $opts d1 d2 > "$work/many" 2> /dev/null; echo $?)
        if [ "$rc" != "$(cat "$work/one.rc")" ] || ! cmp -s "$work/one.x" "$work/many"; then
            echo "[$opts] $n processes: not the one-process report (status $rc)"
            diff "$work/one.x" "$work/many" | head -10; fail=1
        fi
    done
done

# --list-differing names the pairs with differences or errors, relative to
# the folders, and the JSON document holds every pair's, the same at one and
# three processes.
rm -f "$tree/differing.txt"
(cd "$tree" && mpiexec -n 1 "$exe" --json=job1.json d1 d2 > /dev/null 2>&1)
(cd "$tree" && mpiexec -n 3 "$exe" --list-differing=differing.txt --json=job.json d1 d2 > /dev/null 2>&1)
if ! python3 - "$tree/job1.json" "$tree/job.json" <<'EOF'
import json, sys
docs = []
for path in sys.argv[1:]:
    doc = json.load(open(path))
    for run in [doc["run"]] + [f["run"] for f in doc["files"]]:
        del run["elapsed_seconds"], run["processes"]
    docs.append(doc)
assert docs[0] == docs[1]
EOF
then
    echo "the JSON documents at 1 and 3 processes differ"; fail=1
fi
if [ "$(cat "$tree/differing.txt")" != "$(printf 'big.h5\nbroken.h5\ndiff.h5')" ]; then
    echo "--list-differing wrote:"; cat "$tree/differing.txt"; fail=1
fi
if ! python3 - "$tree/job.json" <<'EOF'
import json, sys
doc = json.load(open(sys.argv[1]))
run = doc["run"]
assert doc["format"] == 1, doc["format"]
assert (run["dir1"], run["dir2"], run["exit_status"]) == ("d1", "d2", 2), run
assert (run["files_compared"], run["files_with_differences"], run["files_failed"],
        run["files_on_one_side_only"]) == (6, 2, 1, 3), run
assert [p["path"] for p in doc["only_in_first_dir"]] == ["only1.h5"]
assert [p["path"] for p in doc["only_in_second_dir"]] == ["dirlink/eq.h5", "only2.h5"]
files = doc["files"]
assert [f["run"]["file1"] for f in files] == ["d1/big.h5", "d1/broken.h5", "d1/diff.h5", "d1/lnk.h5",
                                              "d1/same/eq.h5", "d1/ub.h5"]
assert [f["run"]["exit_status"] for f in files] == [1, 2, 1, 0, 0, 0]
assert files[1]["run"]["error"] == "<d1/broken.h5>: unable to open file"
assert files[0]["pairs"] == files[2]["pairs"]
diff = files[2]
assert diff["run"]["differences"] == 3 and diff["format"] == 1
assert [p["path1"] for p in diff["pairs"] if p["differences"]] == ["/dset1", "/g1/dset2"]
EOF
then
    echo "the JSON document of the folders is wrong"; fail=1
fi

# Pair lists: comments and blank lines skipped, relative paths taken from the
# list's folder, absolute ones as they are.
printf '# reference runs\n\n../d1/diff.h5\t../d2/diff.h5\n  # indented comment\n%s\t%s\n' \
    "$tree/d1/same/eq.h5" "$tree/d2/same/eq.h5" > "$tree/lists/pairs.txt"
check "a pair list" 1 "file: <lists/../d1/diff.h5> and <lists/../d2/diff.h5>
$e2e_report
file: <$tree/d1/same/eq.h5> and <$tree/d2/same/eq.h5>
2 file pairs compared: 1 with differences, 0 failed; 0 files on one side only" "" --pairs=lists/pairs.txt
printf 'd1/same/eq.h5\td2/same/eq.h5\n' > "$tree/lists/stdin.txt"
STDIN=$tree/lists/stdin.txt check "a pair list on standard input" 0 "file: <d1/same/eq.h5> and <d2/same/eq.h5>
1 file pairs compared: 0 with differences, 0 failed; 0 files on one side only" "" --pairs=-

# Forty pairs, every third one differing: handed out in batches, reported in
# the list's order.
: > "$tree/lists/many.txt"
many=""
for k in $(seq 1 40); do
    if [ $((k % 3)) = 0 ]; then
        printf '../d1/diff.h5\t../d2/diff.h5\n' >> "$tree/lists/many.txt"
        many+="file: <lists/../d1/diff.h5> and <lists/../d2/diff.h5>
$e2e_report
"
    else
        printf '../d1/same/eq.h5\t../d2/same/eq.h5\n' >> "$tree/lists/many.txt"
        many+="file: <lists/../d1/same/eq.h5> and <lists/../d2/same/eq.h5>
"
    fi
done
check "forty pairs" 1 "${many}40 file pairs compared: 13 with differences, 0 failed; 0 files on one side only" "" \
    --pairs=lists/many.txt

# A malformed line is refused with its number before any file is opened.
for bad in "no tab between the two paths|d1/diff.h5 d2/diff.h5" \
           "more than one tab (two paths a line)|d1/diff.h5\td2/diff.h5\td3" \
           "the second path is empty|d1/diff.h5\t"; do
    what=${bad%%|*}
    printf "d1/diff.h5\td2/diff.h5\n# fine so far\n${bad#*|}\n" > "$tree/lists/bad.txt"
    check "malformed: $what" 1 "" "mirlo error: lists/bad.txt:3: $what" --pairs=lists/bad.txt
done
check "a list that cannot be read" 2 "" "mirlo error: lists/none.txt: cannot be read: No such file or directory" \
    --pairs=lists/none.txt
check "file names after --pairs" 1 "" "mirlo error: --pairs takes the files from its list: no file names after it" \
    --pairs=lists/pairs.txt d1 d2

# Files and folders that cannot be read (not for root, who reads them all).
if [ "$(id -u)" != 0 ]; then
    mkdir -p "$work/perm/a/locked" "$work/perm/b"
    cp "$fix/e2e_a.h5" "$work/perm/a/x.h5"
    cp "$fix/e2e_a.h5" "$work/perm/b/x.h5"
    chmod 000 "$work/perm/a/x.h5" "$work/perm/a/locked"
    tree=$work/perm check "unreadable entries" 2 "file: <a/x.h5> and <b/x.h5>
mirlo: <a/x.h5>: unable to open file
1 file pairs compared: 0 with differences, 1 failed; 0 files on one side only" \
        "mirlo error: a/locked: Permission denied
mirlo error: <a/x.h5>: unable to open file" a b
    chmod 700 "$work/perm/a/x.h5" "$work/perm/a/locked"
fi
exit $fail
