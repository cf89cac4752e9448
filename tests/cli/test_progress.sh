#!/usr/bin/env bash
# pmirlo --progress: lines on standard error only, off by default when
# standard error is not a terminal; the report, the JSON and the exit status
# are those of a run without it, at one and three processes and for a job of
# many file pairs; the last line counts every pair and byte; bad values are
# refused; a standard error that is closed or full never stops the run.
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/pmirlo_common.sh"

check() { # what, expected, actual
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1"
        echo "  expected: $2"
        echo "  actual:   $3"
        fail=1
    fi
}

# The JSON document without the elapsed time, which differs run to run.
json_masked() { python3 -c '
import json, sys
def mask(v):
    if isinstance(v, dict):
        return {k: "#" if k == "elapsed_seconds" else mask(x) for k, x in v.items()}
    if isinstance(v, list):
        return [mask(x) for x in v]
    return v
print(json.dumps(mask(json.load(open(sys.argv[1]))), indent=1))' "$1"; }

LINE='^mirlo: [0-9,]+ of [0-9,]+ pairs, [0-9.]+ of [0-9.]+ (B|KiB|MiB|GiB), [0-9.]+ (B|KiB|MiB|GiB)/s(, ([0-9]+ h )?([0-9]+ min )?[0-9]+ (s|min) left)?$'

# Every line of a file has the progress form; prints how many there are.
progress_lines() {
    if grep -Evq "$LINE" "$1"; then
        echo "FAIL: a line that is not a progress line in $1:" >&2
        grep -Ev "$LINE" "$1" >&2
        fail=1
    fi
    grep -c . "$1"
}

mkdir -p "$work/d1" "$work/d2"
cp "$fix/e2e_a.h5" "$work/d1/diff.h5"
cp "$fix/e2e_b.h5" "$work/d2/diff.h5"
cp "$fix/e2e_a.h5" "$work/d1/eq.h5"
cp "$fix/e2e_a.h5" "$work/d2/eq.h5"

# The two e2e files share six objects, 56 bytes of dataset values; e2e_a.h5
# against its copy compares seven, 60 bytes.
for n in 1 3; do
    for target in "two files|e2e_a.h5 e2e_b.h5|6 of 6 pairs, 56 of 56 B" \
                  "two folders|$work/d1 $work/d2|13 of 13 pairs, 116 of 116 B"; do
        IFS='|' read -r what files last <<< "$target"
        s0=$(run "$n" "$work/plain" -r --json="$work/plain.json" $files)
        s1=$(run "$n" "$work/prog" -r --json="$work/prog.json" --progress=0.000001 $files)
        check "n=$n $what: status" "$s0" "$s1"
        check "n=$n $what: nothing on standard error without --progress" "" "$(cat "$work/plain.err")"
        cmp -s "$work/plain" "$work/prog" || { echo "FAIL: n=$n $what: the report changed"; fail=1; }
        check "n=$n $what: the JSON report" "$(json_masked "$work/plain.json")" "$(json_masked "$work/prog.json")"
        count=$(progress_lines "$work/prog.err")
        [ "$count" -ge 2 ] || { echo "FAIL: n=$n $what: $count progress lines"; fail=1; }
        check "n=$n $what: the last line counts everything" "mirlo: $last" \
            "$(tail -n 1 "$work/prog.err" | sed -E 's/, [0-9.]+ (B|KiB|MiB|GiB)\/s.*//')"
        # Off: with 0, and with a long interval before the first line is due.
        for off in --progress=0 "--progress --progress=0" --progress=3600; do
            s=$(run "$n" "$work/off" -r $off $files)
            check "n=$n $what $off: status" "$s0" "$s"
            check "n=$n $what $off: nothing on standard error" "" "$(cat "$work/off.err")"
        done
    done

    # A standard error that is closed or full (for pmirlo itself, not for
    # mpiexec, which needs its own): the same report and status.
    s0=$(run "$n" "$work/plain" -r e2e_a.h5 e2e_b.h5)
    for redirect in "2>&-" "2>/dev/full"; do
        s=$(exe=sh run "$n" "$work/broken" -c "exec \"\$0\" \"\$@\" $redirect" "$exe" -r --progress=0.000001 \
            e2e_a.h5 e2e_b.h5)
        check "n=$n standard error $redirect: status" "$s0" "$s"
        cmp -s "$work/plain" "$work/broken" || { echo "FAIL: n=$n standard error $redirect: the report changed"; fail=1; }
    done

    # Values that are not a number of seconds: the refusal of a bad option
    # value, status 1, nothing compared.
    for value in abc -1 inf nan 1e999 "" 0x10 "2 "; do
        s=$(run "$n" "$work/bad" -r --progress="$value" e2e_a.h5 e2e_b.h5)
        check "n=$n --progress=$value: status" 1 "$s"
        check "n=$n --progress=$value: message and usage" \
            "$(printf '<--progress %s> is not a valid option\n' "$value"; cat "$(dirname "$0")/expected_usage.txt")" \
            "$(grep -v "^$banner\$" "$work/bad")"
    done
done

# A terminal: script(1) runs pmirlo on a pty, without mpiexec (whose
# processes write to the launcher's pipes, never to the terminal). With the
# report in a file, the terminal holds the progress line alone, each written
# over the one before, and a line break at the end (sent as \r\n); with the
# report on the same terminal, the progress lines follow the report's lines,
# each whole.
if command -v script > /dev/null && script -qec true /dev/null > /dev/null 2>&1; then
    pty() { # RAW_FILE ARGUMENTS
        (cd "$fix" && timeout 100 script -qec "$(printf '%q' "$exe") $2" /dev/null < /dev/null > "$1")
    }
    pty "$work/pty.raw" "-r --progress=0.000001 e2e_a.h5 e2e_b.h5 > $(printf '%q' "$work/pty.out")"
    python3 - "$work/pty.raw" "$LINE" <<'PY' || { echo "FAIL: terminal: $(od -c "$work/pty.raw" | head -6)"; fail=1; }
import re, sys
raw = open(sys.argv[1], "rb").read().decode()
assert raw.startswith("\r") and raw.endswith("\r\n"), "not rewritten in place"
lines = [l.rstrip(" ") for l in raw[:-2].split("\r")[1:]]
assert len(lines) >= 2 and all(re.match(sys.argv[2], l) for l in lines), lines
assert lines[-1].startswith("mirlo: 6 of 6 pairs, 56 of 56 B"), lines[-1]
PY
    cmp -s "$work/pty.out" <(cd "$fix" && "$exe" -r e2e_a.h5 e2e_b.h5 2> /dev/null) ||
        { echo "FAIL: terminal: the report changed"; fail=1; }
    pty "$work/pty_both.raw" "-r --progress=0.000001 e2e_a.h5 e2e_b.h5"
    python3 - "$work/pty_both.raw" "$LINE" "$work/pty.out" <<'PY' || { echo "FAIL: terminal with the report"; fail=1; }
import re, sys
lines = open(sys.argv[1], "rb").read().decode().replace("\r\n", "\n").split("\n")
assert not any("\r" in l for l in lines), "a line rewritten among the report's"
progress = [l for l in lines if l.startswith("mirlo: ")]
report = [l for l in lines if l and not l.startswith("mirlo: ")]
assert len(progress) >= 2 and all(re.match(sys.argv[2], l) for l in progress), progress
assert report == open(sys.argv[3]).read().splitlines(), report
PY
else
    echo "script(1) cannot make a pty here: the terminal cases are not run"
fi

exit $fail
