#!/usr/bin/env bash
# Every write of tessel is checked: standard output, the -o report and the
# JSON and CSV files, on a full device and on a full file system. A failure
# is one message per output and status 1; a report file left incomplete is
# removed (a device never is). The -o file holds the lines of every process.
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/tessel_common.sh"

SMALL="-A posix -e 8K -x 8K -i 1"

# One process without the launcher, so that its standard output is the
# device itself (the launcher forwards output through a pipe of its own).
single() { # STDOUT_TARGET ARGS...
    local target=$1; shift
    rm -rf "$WORK/run"; mkdir -p "$WORK/run"
    (cd "$WORK/run" && timeout 100 "$TESSEL" "$@" > "$target" 2> "$WORK/err")
    RC=$?
    ERR=$(cat "$WORK/err")
}

# Table: label, standard output, arguments, expected message.
while IFS='|' read -r label target args message; do
    single "$target" $SMALL $args
    status_is "$label" 1
    same "$label: message" "$message" "$ERR"
done <<EOF
standard output on /dev/full|/dev/full||tessel: cannot write standard output: No space left on device
-o /dev/full|/dev/null|-o /dev/full|tessel: cannot write output file /dev/full: No space left on device
--json=/dev/full|/dev/null|--json=/dev/full|tessel: cannot write report file /dev/full: No space left on device
--csv=/dev/full|/dev/null|--csv=/dev/full|tessel: cannot write report file /dev/full: No space left on device
usage on /dev/full|/dev/full|-m|tessel: cannot write standard output: No space left on device
-h on /dev/full|/dev/full|-h|tessel: cannot write standard output: No space left on device
--help on /dev/full|/dev/full|--help|tessel: cannot write standard output: No space left on device
EOF
[ -c /dev/full ] || fail "/dev/full was removed"

# Under the launcher, every process's -o stream fails: still one message.
run 2 $SMALL -o /dev/full -D 1
status_is "-o /dev/full at 2 processes" 1
same "-o /dev/full at 2 processes" "tessel: cannot write output file /dev/full: No space left on device" "$ERR"

# Every process's lines reach the -o file; none overwrites another's.
run 2 $SMALL -o "$WORK/report.txt" -D 1
status_is "-o at 2 processes" 0
for r in 0 1; do
    grep -qx "rank $r: ==== End of Parameters ====" "$WORK/report.txt" || fail "-o at 2 processes: rank $r's report missing"
done
grep -qx "        IO API = POSIX" "$WORK/report.txt" || fail "-o at 2 processes: no results"

# A full file system: a small tmpfs of our own, filled before the run.
FULL="$WORK/full"
mkdir -p "$FULL"
if mount -t tmpfs -o size=64k tessel "$FULL" 2> /dev/null; then
    dd if=/dev/zero of="$FULL/filler" bs=4k 2> /dev/null
    run 2 $SMALL -o "$FULL/report.txt" --json="$FULL/r.json" --csv="$FULL/r.csv"
    status_is "full file system" 1
    same "full file system: messages" "$(printf '%s\n' \
        "tessel: cannot write report file $FULL/r.json: No space left on device" \
        "tessel: cannot write report file $FULL/r.csv: No space left on device" \
        "tessel: cannot write output file $FULL/report.txt: No space left on device")" "$ERR"
    same "full file system: incomplete files removed" "filler" "$(ls -A "$FULL")"
    umount "$FULL"
else
    echo "cannot mount a small tmpfs here (not root, or no mount rights): the full file system case is not run"
fi

finish "tessel output"
