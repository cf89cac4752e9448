#!/usr/bin/env bash
# What tessel measures beyond the slowest process: every process's times,
# reads of another process's data (--read-shift), the HDF5 I/O mode achieved,
# chunked and compressed datasets and what they take on disk, deadlines; the
# straggler and baseline charts; tessel-compare's verdicts.
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/tessel_common.sh"
COMPARE=$2/tessel-compare
STORAGE=$(dirname "$1")/tests/h5_storage_size
mkdir -p "$WORK/prefix"
export HDF5_PARAPREFIX="$WORK/prefix"

# json FILE EXPRESSION: the value of a Python expression over the report d.
json() { python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"; }

# --read-shift: rank r reads back what rank (r + N) mod P wrote; the owner's
# byte value proves it (any other share would fail verification), and the
# share of each read is the other rank's.
for shift in 1 3 -1; do
    run 2 -A posix,mpiio,phdf5 -e 16K -x 8K -X 8K -p 2 -D 4,v --read-shift=$shift --json="$WORK/shift.json"
    status_is "--read-shift=$shift" 0
    printf '%s\n' "$OUT" | grep -q "read data error" && fail "--read-shift=$shift: read another share than the owner's"
    printf '%s\n' "$OUT" | grep -qx "0: Debug(do_read): buf_size=8192, bytes_begin=16384, bytes_count=16384" ||
        fail "--read-shift=$shift: rank 0 did not read rank 1's share"
    printf '%s\n' "$OUT" | grep -qx "rank 0: Read shift=$shift (taken modulo the number of processes P: rank r reads what rank (r + $shift) mod P wrote)" ||
        fail "--read-shift=$shift: parameters"
    same "--read-shift=$shift: JSON" "$shift [1, 1, 1]" \
        "$(json "$WORK/shift.json" '"%s %s" % (d["run"]["options"]["read_shift"], [m["read_shift"] for m in d["measurements"]])')"
done
# Without the shift every rank reads its own share.
run 2 -A posix -e 16K -x 8K -X 8K -p 2 -D 4,v
printf '%s\n' "$OUT" | grep -qx "0: Debug(do_read): buf_size=8192, bytes_begin=0, bytes_count=16384" || fail "no shift: rank 0's share"

# The HDF5 I/O mode: collective when asked for and possible, else why not;
# a warning once per run when -C was asked for and not achieved.
mode() { json "$1" '"; ".join("%s %s %s" % (p["phase"], ",".join(p["hdf5_io"]["achieved"]), ",".join(p["hdf5_io"]["no_collective_causes"])) for m in d["measurements"] for p in m["phases"] if "hdf5_io" in p)'; }
run 2 -A phdf5 -e 16K -x 8K -X 16K -p 2 -C --json="$WORK/mode.json"
status_is "-C" 0
same "-C: mode" "write contiguous collective ; read contiguous collective ; write contiguous collective ; read contiguous collective " "$(mode "$WORK/mode.json")"
same "-C: no warning" "" "$ERR"
run 1 -A phdf5 -e 16K -x 16K --json="$WORK/mode.json"
same "independent: mode" "write no collective independent I/O was asked for; read no collective independent I/O was asked for" "$(mode "$WORK/mode.json")"
HDF5_MPI_OPT_TYPES=0 run 2 -A phdf5 -e 16K -x 8K -X 16K -p 2 -C --json="$WORK/mode.json"
same "-C without derived types: warning once" "tessel: warning: collective I/O was asked for (-C), but parallel HDF5 did writes independently (2 processes, transfers of 8192 bytes): MPI derived datatypes are switched off in the environment" "$ERR"
printf '%s\n' "$(mode "$WORK/mode.json")" | grep -q "write no collective MPI derived datatypes are switched off" || fail "-C without derived types: cause"

# Chunked and compressed datasets: the storage the report gives is what the
# file's datasets take (read apart from tessel), and the data's kind decides
# how well it compresses.
for n in 1 2; do
    for data in zeros pattern random; do
        HDF5_NOCLEANUP=1 run $n -A phdf5 -c -C --deflate 6 --chunk-size 16K --data=$data -e 64K -x 32K -X 32K -d 2 \
            -p $n --json="$WORK/deflate.json"
        status_is "--deflate n=$n $data" 0
        stored=$(json "$WORK/deflate.json" 'd["measurements"][0]["storage"]["stored_bytes"]')
        logical=$(json "$WORK/deflate.json" 'd["measurements"][0]["storage"]["logical_bytes"]')
        ratio=$(json "$WORK/deflate.json" 'd["measurements"][0]["storage"]["ratio"]')
        same "--deflate n=$n $data: stored bytes" "total $stored" "$("$STORAGE" "$WORK/prefix/#pio_tmp_1.h5" | tail -n 1)"
        same "--deflate n=$n $data: logical bytes" "$((2 * 64 * 1024 * n))" "$logical"
        case $data in
            zeros) range="0 0.05" ;; pattern) range="0.45 0.7" ;; random) range="0.98 1.1" ;;
        esac
        python3 -c "import sys; lo, hi, r = map(float, sys.argv[1:]); sys.exit(not lo <= r <= hi)" $range "$ratio" ||
            fail "--deflate n=$n $data: ratio $ratio outside $range"
        rm -f "$WORK/prefix/#pio_tmp_1.h5"
    done
done
run 1 -A phdf5 -c --chunk-size 8K -e 64K -x 32K --json="$WORK/chunk.json"
same "--chunk-size: parameters" "rank 0: Chunk size in HDF5=8KB" "$(printf '%s\n' "$OUT" | grep 'Chunk size')"
same "--chunk-size: JSON" "8192 None" "$(json "$WORK/chunk.json" '"%s %s" % (d["run"]["options"]["chunk_size"], d["run"]["options"]["deflate"])')"

# Deadlines: a deadline that has passed at the first transfer ends every
# phase after it, on every process; reads read what was written.
for n in 1 2; do
    run $n -A posix,mpiio,phdf5 -e 64K -x 4K -X 4K -d 2 -F 2 -i 2 -p $n -C --deadline 1e-9 --json="$WORK/deadline.json" --debug=t
    status_is "--deadline n=$n" 0
    same "--deadline n=$n: bytes of each phase" "$(for i in 1 2 3; do echo "[$((2 * 4096 * n)), $((2 * 4096 * n))] [$((2 * 4096 * n)), $((2 * 4096 * n))]"; done)" \
        "$(json "$WORK/deadline.json" '"\n".join(" ".join(str([it["bytes"] for it in p["iterations"]]) for p in m["phases"] if p["phase"] in ("write", "read")) for m in d["measurements"])')"
    # The text report's throughput is of the bytes moved.
    python3 - "$WORK/deadline.json" "$WORK/out" <<'PY' || fail "--deadline n=$n: text throughput"
import json, re, sys
d = json.load(open(sys.argv[1]))
text = [float(x) for x in re.findall(r"Average Throughput: +([\d.]+) MB/s", open(sys.argv[2]).read())]
phases = [p for m in d["measurements"] for p in m["phases"]]
sys.exit(len(text) != len(phases) or any("%6.2f" % p["avg_mib_per_s"] != "%6.2f" % t for p, t in zip(phases, text)))
PY
done
printf '%s\n' "$OUT" | grep -qx "rank 0: Deadline of each write and read phase=1e-09 s" || fail "--deadline: parameters"

# Per-process times in JSON and CSV: one per process, the slowest being the
# iteration's time and the fastest its least process time.
run 2 -A posix,phdf5 -e 32K -x 16K -X 32K -i 3 -p 2 --json="$WORK/ranks.json" --csv="$WORK/ranks.csv"
status_is "per-process times" 0
python3 - "$WORK/ranks.json" "$WORK/ranks.csv" <<'PY' || fail "per-process times"
import csv, json, statistics, sys
d = json.load(open(sys.argv[1]))
problems = []
rows = {(r["interface"], r["transfer_size"], r["phase"], r["iteration"]): r
        for r in csv.DictReader(l for l in open(sys.argv[2]) if not l.startswith("#"))}
for m in d["measurements"]:
    for p in m["phases"]:
        rates = [it["mib_per_s"] for it in p["iterations"]]
        if abs(statistics.stdev(rates) - p["stddev_mib_per_s"]) > 1e-9 * p["stddev_mib_per_s"] + 1e-12:
            problems.append("stddev %s" % p["phase"])
        if abs(p["stddev_mib_per_s"] / statistics.mean(rates) - p["cv"]) > 1e-9:
            problems.append("cv %s" % p["phase"])
        for it in p["iterations"]:
            times = it["rank_times_s"]
            if len(times) != 2 or max(times) != it["time_s"] or min(times) != it["min_process_time_s"]:
                problems.append("rank times %s %s" % (p["phase"], it))
            if it["slowest_rank"] != times.index(max(times)):
                problems.append("slowest rank %s" % it)
            if abs(it["slowest_to_median"] - max(times) / statistics.median(times)) > 1e-12:
                problems.append("slowest to median %s" % it)
            if p["phase"].endswith("open-close"):
                if len(it["rank_open_times_s"]) != 2 or len(it["rank_close_times_s"]) != 2:
                    problems.append("open and close times %s" % it)
            row = rows[(m["interface"], str(m["transfer_size"]), p["phase"], str(it["iteration"]))]
            if [float(t) for t in row["rank_times_s"].split()] != [float("%.9g" % t) for t in times]:
                problems.append("csv rank times %s" % row)
            if int(row["slowest_rank"]) != it["slowest_rank"] or int(row["bytes"]) != it["bytes"]:
                problems.append("csv slowest rank or bytes %s" % row)
for p in problems[:10]:
    print("FAIL:", p)
sys.exit(1 if problems else 0)
PY

# The charts: a straggler panel below a sweep at two processes, and a chart
# of a run against its baseline (PNG signature and size).
png_size() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n" and d[12:16]==b"IHDR"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }
"$PLOT" "$WORK/ranks.json" -o "$WORK/stragglers.png" > /dev/null || fail "straggler chart"
same "straggler chart" 1200x800 "$(png_size "$WORK/stragglers.png" 2>&1)"
"$PLOT" --baseline "$WORK/ranks.json" "$WORK/ranks.json" -o "$WORK/baseline.png" --size 900x700 > /dev/null || fail "baseline chart"
same "baseline chart" 900x700 "$(png_size "$WORK/baseline.png" 2>&1)"
"$PLOT" --baseline "$WORK/none.json" "$WORK/ranks.json" -o "$WORK/none.png" 2> "$WORK/plot.err" && fail "a missing baseline was drawn"
grep -q "$WORK/none.json: cannot read it" "$WORK/plot.err" || fail "missing baseline: $(cat "$WORK/plot.err")"

# tessel-compare on made-up reports: 0 within the tolerance, 1 slower or
# failed, 2 unreadable or not comparable (the parameter named).
python3 - "$WORK" <<'PY'
import copy, json, sys
work = sys.argv[1]
def report(rates, **options):
    base = {"num_bytes": 1048576, "iterations": 3, "collective": False}
    base.update(options)
    ms = []
    for (interface, size), (write, read) in rates.items():
        phases = [{"phase": ph, "status": "ok" if r is not None else "failed", "avg_mib_per_s": r,
                   "min_mib_per_s": r, "max_mib_per_s": r} for ph, r in (("write", write), ("read", read))]
        ms.append({"interface": interface, "processes": 2, "transfer_size": size,
                   "status": "ok" if None not in (write, read) else "failed", "phases": phases})
    return {"format": 1, "run": {"processes": 2, "options": base}, "measurements": ms}
old = {("posix", 65536): (100.0, 200.0), ("phdf5", 65536): (50.0, 80.0)}
docs = {
    "old": report(old),
    "same": report(old, iterations=5),
    "near": report({("posix", 65536): (95.0, 200.0), ("phdf5", 65536): (50.0, 81.0)}),
    "slower": report({("posix", 65536): (80.0, 200.0), ("phdf5", 65536): (50.0, 80.0)}),
    "failed": report({("posix", 65536): (100.0, 200.0), ("phdf5", 65536): (None, None)}),
    "bytes": report(old, num_bytes=2097152),
    "series": report({("posix", 65536): (100.0, 200.0)}),
    # A report of a tessel that did not know the later options, and one
    # that names them with the values it used.
    "later": report(old, read_shift=0, data="zeros", chunk_size=None, deflate=None, deadline_s=None),
    "shifted": report(old, read_shift=1),
}
for name, doc in docs.items():
    json.dump(doc, open("%s/%s.json" % (work, name), "w"))
open(work + "/list.json", "w").write("[]")
PY
while IFS='|' read -r label status args expected; do
    "$COMPARE" $args > "$WORK/cmp.out" 2> "$WORK/cmp.err"
    rc=$?
    [ "$rc" = "$status" ] || fail "tessel-compare $label: status $rc, expected $status: $(cat "$WORK/cmp.err")"
    grep -qF -- "$expected" "$WORK/cmp.out" "$WORK/cmp.err" || fail "tessel-compare $label: no '$expected' in $(cat "$WORK/cmp.out" "$WORK/cmp.err")"
done <<EOF
same|0|$WORK/old.json $WORK/same.json|posix write, 2 process(es), 64 KiB transfers: 100.0 MiB/s -> 100.0 MiB/s, ratio 1.000
within tolerance|0|$WORK/old.json $WORK/near.json|posix write, 2 process(es), 64 KiB transfers: 100.0 MiB/s -> 95.0 MiB/s, ratio 0.950
slower|1|$WORK/old.json $WORK/slower.json|posix write, 2 process(es), 64 KiB transfers: 100.0 MiB/s -> 80.0 MiB/s, ratio 0.800, SLOWER
wider tolerance|0|$WORK/old.json $WORK/slower.json --tolerance 0.25|ratio 0.800
failed|1|$WORK/old.json $WORK/failed.json|phdf5 write, 2 process(es), 64 KiB transfers: 50.0 MiB/s -> failed, SLOWER
other parameters|2|$WORK/old.json $WORK/bytes.json|the runs differ in num_bytes: 1048576 and 2097152
other series|2|$WORK/old.json $WORK/series.json|the runs measured different series
options of a later tessel|0|$WORK/old.json $WORK/later.json|ratio 1.000
a later option in use|2|$WORK/old.json $WORK/shifted.json|the runs differ in read_shift: 0 and 1
unreadable|2|$WORK/old.json $WORK/none.json|$WORK/none.json: cannot read it
not a report|2|$WORK/list.json $WORK/old.json|$WORK/list.json: not a tessel report
bad tolerance|2|$WORK/old.json $WORK/old.json --tolerance 2|the tolerance is a fraction
EOF
# A real run against itself is no slower.
"$COMPARE" "$WORK/ranks.json" "$WORK/ranks.json" > "$WORK/cmp.out" || fail "a run against itself: status $?"
same "a run against itself: one line per series" 8 "$(wc -l < "$WORK/cmp.out")"

finish "tessel measures"
