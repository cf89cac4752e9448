#!/usr/bin/env bash
# tessel --progress: one line per finished measurement on standard error,
# off by default when standard error is not a terminal, rewritten in place on
# a terminal (a pty made by script(1), when it is there); the report, the JSON
# and the exit status are the same with or without it; bad values are
# refused; a standard error that is closed, full or a broken pipe never stops
# the run.
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/tessel_common.sh"

mkdir -p "$WORK/prefix"
export HDF5_PARAPREFIX="$WORK/prefix"
SWEEP="-A posix,mpiio -e 32K -x 16K -X 32K -i 2"

# 2 process counts x 2 transfer sizes x 2 interfaces, in the order they run.
ALL_LINES=$(cat <<'EOF'
tessel: 1 of 8: posix 2 procs 16 KiB transfers done
tessel: 2 of 8: mpiio 2 procs 16 KiB transfers done
tessel: 3 of 8: posix 2 procs 32 KiB transfers done
tessel: 4 of 8: mpiio 2 procs 32 KiB transfers done
tessel: 5 of 8: posix 1 proc 16 KiB transfers done
tessel: 6 of 8: mpiio 1 proc 16 KiB transfers done
tessel: 7 of 8: posix 1 proc 32 KiB transfers done
tessel: 8 of 8: mpiio 1 proc 32 KiB transfers done
EOF
)

# The text report with its measured numbers masked, and the JSON document
# with every measured number, the date and the slowest rank masked: what
# progress must not change.
masked_text() { printf '%s\n' "$OUT" | sed -E 's/ *[0-9]+\.[0-9]+/ #/g'; }
masked_json() {
    python3 -c '
import json, sys
def mask(v):
    if isinstance(v, dict):
        return {k: "#" if k in ("date", "slowest_rank") else mask(x) for k, x in v.items()}
    if isinstance(v, list):
        return [mask(x) for x in v]
    return "#" if isinstance(v, float) else v
print(json.dumps(mask(json.load(open(sys.argv[1]))), indent=1))' "$1"
}

run 2 $SWEEP --json="$WORK/quiet.json"
status_is "no --progress" 0
same "no --progress: standard error is not a terminal, so nothing" "" "$ERR"
quiet_text=$(masked_text)
quiet_json=$(masked_json "$WORK/quiet.json")

run 2 $SWEEP --progress --json="$WORK/progress.json"
status_is "--progress" 0
same "--progress: one line per measurement" "$ALL_LINES" "$ERR"
same "--progress: the text report is unchanged" "$quiet_text" "$(masked_text)"
same "--progress: the JSON report is unchanged" "$quiet_json" "$(masked_json "$WORK/progress.json")"
same "--progress: the total is the number of measurements" 8 \
    "$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["measurements"]))' "$WORK/progress.json")"

for args in "--progress=0" "--progress --progress=0" "--progress=1 --progress=0"; do
    run 2 $SWEEP $args
    status_is "$args" 0
    same "$args: off" "" "$ERR"
done
run 1 -A posix -e 16K -x 16K --progress=1
same "--progress=1 at one process" "tessel: 1 of 1: posix 1 proc 16 KiB transfers done" "$ERR"

# A measurement whose settings are refused is counted as failed; the status
# stays that of the run.
run 2 -A posix -e 12K -x 3K -X 3K -B 2K -p 2 --progress
status_is "failed measurement" 1
same "failed measurement: its line" "$(printf '%s\n' \
    "Transfer buffer size (3072) must be a multiple of the block size (2048) in the contiguous pattern; choose a block size that divides it with -B" \
    "tessel: 1 of 1: posix 2 procs 3 KiB transfers failed")" "$ERR"

# Values that are neither on nor off: one message, status 1, nothing run.
for value in abc -1 ""; do
    for n in 1 2; do
        run $n -A posix -e 16K --progress="$value"
        status_is "--progress=$value n=$n" 1
        same "--progress=$value n=$n: message" "tessel: --progress takes 0 (off) or 1 (on), not '$value'" "$ERR"
        same "--progress=$value n=$n: nothing measured" "" "$OUT"
        run_dir_empty "--progress=$value n=$n"
    done
done

# One process without the launcher, so that standard error is what the
# test gives it.
SMALL="-A posix -e 32K -x 16K -X 32K"
single() { # LABEL COMMAND...: runs in $WORK/run, standard output into $WORK/out
    shift
    rm -rf "$WORK/run" "$WORK/r.json"; mkdir -p "$WORK/run"
    (cd "$WORK/run" && timeout 100 "$@" > "$WORK/out")
    RC=$?
    OUT=$(cat "$WORK/out")
}
complete_report() { # LABEL: the run ended well and reported both measurements
    status_is "$1" 0
    [ "$(printf '%s\n' "$OUT" | grep -c '^            Read Open-Close')" = 2 ] || fail "$1: report incomplete"
    same "$1: JSON" 2 "$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["measurements"]))' "$WORK/r.json")"
}
single "closed standard error" sh -c "exec \"\$0\" $SMALL --progress --json=\"$WORK/r.json\" 2>&-" "$TESSEL"
complete_report "closed standard error"
single "full standard error" sh -c "exec \"\$0\" $SMALL --progress --json=\"$WORK/r.json\" 2>/dev/full" "$TESSEL"
complete_report "full standard error"
# A pipe whose reader has gone: the write fails (EPIPE) instead of ending
# the process with SIGPIPE.
single "broken pipe" python3 -c '
import os, subprocess, sys
r, w = os.pipe()
os.close(r)
sys.exit(subprocess.run(sys.argv[1:], stderr=w).returncode)' "$TESSEL" $SMALL --progress --json="$WORK/r.json"
complete_report "standard error a broken pipe"

# A terminal: script(1) runs tessel on a pty, which carries both streams.
if command -v script > /dev/null && script -qec true /dev/null > /dev/null 2>&1; then
    pty() { # OUTPUT_FILE ARGS...: raw bytes of the terminal
        local file=$1; shift
        rm -rf "$WORK/run"; mkdir -p "$WORK/run"
        (cd "$WORK/run" && timeout 100 script -qec "$(printf '%q ' "$TESSEL" "$@")" /dev/null < /dev/null > "$file")
        RC=$?
    }
    # The report in a file: the terminal holds the progress line alone, each
    # line written over the one before, and a line break at the end (the
    # terminal sends it as \r\n).
    pty "$WORK/pty.raw" $SMALL -o "$WORK/pty_report.txt"
    status_is "terminal" 0
    cmp -s "$WORK/pty.raw" <(printf '\rtessel: 1 of 2: posix 1 proc 16 KiB transfers done\rtessel: 2 of 2: posix 1 proc 32 KiB transfers done\r\n') ||
        fail "terminal: bytes $(od -c "$WORK/pty.raw" | head -8)"
    pty "$WORK/pty_off.raw" $SMALL -o "$WORK/pty_report.txt" --progress=0
    status_is "terminal, --progress=0" 0
    [ -s "$WORK/pty_off.raw" ] && fail "terminal, --progress=0: $(od -c "$WORK/pty_off.raw" | head -4)"
    # The report on the same terminal: on the screen every report line is
    # whole, and the progress line stays below them.
    pty "$WORK/pty_both.raw" $SMALL
    status_is "terminal with the report" 0
    python3 - "$WORK/pty_both.raw" <<'PY' || fail "terminal with the report: the screen"
import sys
screen, row, col = [""], 0, 0
for ch in open(sys.argv[1], "rb").read().decode():
    if ch == "\r":
        col = 0
    elif ch == "\n":
        row += 1; col = 0
        screen.append("")
    else:
        line = screen[row].ljust(col)
        screen[row] = line[:col] + ch + line[col + 1:]
        col += 1
lines = [l.rstrip() for l in screen if l.strip()]
problems = []
if lines[-1] != "tessel: 2 of 2: posix 1 proc 32 KiB transfers done":
    problems.append("last line: %r" % lines[-1])
if any("tessel: " in l for l in lines[:-1]):
    problems.append("progress text among the report lines: %r" % [l for l in lines[:-1] if "tessel: " in l])
for expected, count in (("        IO API = POSIX", 2), ("Number of processors = 1", 1), ("rank 0: ==== End of Parameters ====", 1)):
    if lines.count(expected) != count:
        problems.append("%r %d times" % (expected, lines.count(expected)))
for p in problems:
    print("FAIL:", p)
sys.exit(1 if problems else 0)
PY
else
    echo "script(1) cannot make a pty here: the terminal cases are not run"
fi

finish "tessel progress"
