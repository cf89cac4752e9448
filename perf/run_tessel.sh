#!/usr/bin/env bash
# tessel beside fio: the same sequential writes and reads of 256 MiB per
# process in 4 MiB transfers (1D contiguous, every process its own range of
# one shared file), at 1 and 2 processes, through POSIX and MPI-IO.
# Prints the median write and read throughputs of seven runs of each and the
# ratio tessel / fio, and the best write of each beside the other; then what
# tessel's per-process records cost a long run (bench_tessel_gather).
#
#   perf/run_tessel.sh [BUILD_DIR] [SCRATCH_DIR]
#
# TESSEL=/path/to/tessel measures another tessel binary; BEFORE=/path/to/tessel
# also measures an older binary, each of its launches right after one of the
# current binary's, for a before/after figure under the same load; PROCS="2"
# limits the process counts; RUNS=N changes the number of launches per median.
#
# fio is installed with apt-get when missing (only here; the tests do not
# need it). The scratch folder should be on the file system to measure.
# Neither program drops the page cache: fio runs with --invalidate=0, as
# tessel reads back what it has just written. Every launch starts after a
# sync, so no launch writes while the previous one's data is still being
# written back (which otherwise swings single runs by 10x). Each median is over separate
# launches of one iteration (the report gives no per-iteration median at a
# useful precision); tessel is run with -i 1 for that reason.
# Every writing launch also starts right after a file of the size it will
# write has been written, synced and removed: on a virtual machine whose
# host takes back free memory, pages that were free for a while cost a
# fault in the host when the page cache first uses them again (writes then
# run at 0.5 GB/s instead of 5-8 GB/s, depending only on how long ago the
# previous launch freed its pages), so both programs get recently freed
# pages. That is a race with the guest's free page reporting, which hands
# freed blocks back to the host at once on the virtual machines these
# figures come from (page_reporting min_free_ms=0); HOLD_FREE_PAGES=1 raises
# min_free_ms to a minute for the length of the run (root only, restored at
# the end), so that freed pages stay with the guest and both programs meet
# the page cache as a machine with its own memory would.
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../build}
if [ $# -ge 2 ]; then SCRATCH=$2; OWN_SCRATCH=0; else SCRATCH=$(mktemp -d /tmp/tessel_perf.XXXXXX); OWN_SCRATCH=1; fi
TESSEL=${TESSEL:-$BUILD/bench/tessel}
BEFORE=${BEFORE:-}
RUNS=${RUNS:-7}
PROCS=${PROCS:-1 2}
SIZE_MB=256
XFER=4M

[ -x "$TESSEL" ] || { echo "no tessel at $TESSEL; build first (make build)"; exit 1; }
if ! command -v fio > /dev/null; then
    echo "installing fio"
    if [ "$(id -u)" = 0 ]; then apt-get install -y -qq fio > /dev/null; else sudo apt-get install -y -qq fio > /dev/null; fi
fi
mkdir -p "$SCRATCH"
HOLD=/sys/module/page_reporting/parameters/min_free_ms
held=
if [ "${HOLD_FREE_PAGES:-0}" = 1 ] && [ -w "$HOLD" ]; then
    held=$(cat "$HOLD")
    echo 60000 > "$HOLD"
    echo "free page reporting held back for the run (min_free_ms $held -> 60000)"
fi
trap 'rm -rf "$SCRATCH"/fio.dat "$SCRATCH"/prime.dat "$SCRATCH"/tessel; [ "$OWN_SCRATCH" = 1 ] && rm -rf "$SCRATCH"; [ -n "$held" ] && echo "$held" > "$HOLD"' EXIT

prime() { # NPROCS: write, sync and remove what NPROCS processes will write
    dd if=/dev/zero of="$SCRATCH/prime.dat" bs=1M count=$(($1 * SIZE_MB)) 2> /dev/null
    sync
    rm -f "$SCRATCH/prime.dat"
}

best() { python3 -c 'import sys; print("%.1f" % max(float(x) for x in sys.argv[1:]))' "$@"; }

median() { python3 -c 'import sys,statistics; print("%.1f" % statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

tessel_once() { # NPROCS API [BINARY] -> "write_MBps read_MBps open_write_s close_write_s"
    mkdir -p "$SCRATCH/tessel"
    sync
    prime "$1"
    HDF5_PARAPREFIX="$SCRATCH/tessel" mpiexec -n "$1" "${3:-$TESSEL}" -A "$2" -p "$1" -P "$1" \
        -e ${SIZE_MB}M -x $XFER -X $XFER -B $XFER -i 1 --debug=t |
    awk '
        /^            Write \(/ { s = "w" } /^            Read \(/ { s = "r" }
        /^            Write File Open/ { s = "wo" } /^            Write File Close/ { s = "wc" }
        /^            Write Open-Close/ || /^            Read Open-Close/ || /^            Read File/ { s = "" }
        /Maximum Throughput/ && s == "w" { w = $3 } /Maximum Throughput/ && s == "r" { r = $3 }
        /Maximum Accumulated/ && s == "wo" { wo = $(NF-1) } /Maximum Accumulated/ && s == "wc" { wc = $(NF-1) }
        END { print w, r, wo, wc }'
}

fio_once() { # NPROCS RW -> MB/s of the group
    sync
    [ "$2" = write ] && prime "$1"
    fio --name=seq --filename="$SCRATCH/fio.dat" --rw="$2" --bs=$XFER --size=${SIZE_MB}M \
        --offset_increment=${SIZE_MB}M --numjobs="$1" --ioengine=psync --group_reporting --invalidate=0 --fallocate=none \
        --output-format=json 2> /dev/null |
    python3 -c 'import json,sys; j=json.load(sys.stdin)["jobs"][0]; k=sys.argv[1]; print("%.1f" % (j[k]["bw_bytes"]/1048576))' "$2"
}

echo "tessel: $TESSEL${BEFORE:+, before: $BEFORE}; $RUNS runs per median; scratch $SCRATCH"
printf '%-6s %-5s %10s %10s %10s %10s %8s %8s %10s %10s %10s %s\n' procs api tessel_w fio_w tessel_r fio_r ratio_w ratio_r open_w_s close_w_s before_w "tessel writes"
for procs in $PROCS; do
    # fio writes first so its reads find the data, as tessel's do.
    fw=() fr=()
    for ((i = 0; i < RUNS; i++)); do
        # A fresh, unallocated file each time, as tessel creates its file.
        rm -f "$SCRATCH/fio.dat"
        fw+=("$(fio_once $procs write)")
        fr+=("$(fio_once $procs read)")
    done
    rm -f "$SCRATCH/fio.dat"
    fio_w=$(median "${fw[@]}") fio_r=$(median "${fr[@]}")
    for api in posix mpiio; do
        tw=() tr=() to=() tc=() bw=()
        for ((i = 0; i < RUNS; i++)); do
            read -r w r o c < <(tessel_once $procs $api)
            tw+=("$w") tr+=("$r") to+=("$o") tc+=("$c")
            if [ -n "$BEFORE" ]; then
                read -r w r o c < <(tessel_once $procs $api "$BEFORE")
                bw+=("$w")
            fi
        done
        t_w=$(median "${tw[@]}") t_r=$(median "${tr[@]}")
        b_w=-
        [ -n "$BEFORE" ] && b_w=$(median "${bw[@]}")
        printf '%-6s %-5s %10s %10s %10s %10s %8s %8s %10s %10s %10s %s\n' $procs $api "$t_w" "$fio_w" "$t_r" "$fio_r" \
            "$(python3 -c "print('%.2f' % ($t_w/$fio_w))")" "$(python3 -c "print('%.2f' % ($t_r/$fio_r))")" \
            "$(median "${to[@]}")" "$(median "${tc[@]}")" "$b_w" "${tw[*]}${BEFORE:+ | before: ${bw[*]}}"
        best_t=$(best "${tw[@]}") best_f=$(best "${fw[@]}")
        echo "best write of $RUNS at $procs, $api: tessel $best_t, fio $best_f, ratio $(python3 -c "print('%.2f' % ($best_t/$best_f))")"
    done
    echo "fio writes at $procs: ${fw[*]}"
done

# What the per-process records cost a long run (10^4 iterations of three
# interfaces at two processes): gathering them, and the JSON report with and
# without them.
GATHER=$BUILD/perf/bench_tessel_gather
if [ -x "$GATHER" ]; then
    mpiexec -n 2 "$GATHER" 10000
else
    echo "no $GATHER (configure with -DZARN_BUILD_PERF=ON): the cost of the per-process records is not measured"
fi
