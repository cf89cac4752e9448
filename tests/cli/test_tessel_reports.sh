#!/usr/bin/env bash
# tessel's machine-readable reports: a real run's JSON and CSV parse, hold
# every measurement and agree with the text report of the same run; a failed
# measurement is recorded as failed, never as a throughput; tessel-plot draws
# a PNG of the size asked for from the JSON.
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/tessel_common.sh"

mkdir -p "$WORK/prefix"
export HDF5_PARAPREFIX="$WORK/prefix" HDF5_MPI_INFO="romio_cb_write=enable"
# A sweep of two process counts and three transfer sizes, with a second
# iteration; the text report with times, so both sides can be compared.
(cd "$WORK" && timeout 200 mpiexec -n 2 "$TESSEL" -A posix,mpiio,phdf5 -e 64K -x 16K -X 64K -i 2 --debug=t \
    --json="$WORK/run.json" --csv="$WORK/run.csv" > "$WORK/run.txt" 2> "$WORK/run.err")
rc=$?
[ "$rc" = 0 ] || fail "sweep: status $rc: $(cat "$WORK/run.err")"
[ -s "$WORK/run.err" ] && fail "sweep: stderr: $(cat "$WORK/run.err")"

# A run whose settings are refused: its phases are recorded as failed.
(cd "$WORK" && timeout 100 mpiexec -n 2 "$TESSEL" -A posix -e 12K -x 3K -X 3K -B 2K -p 2 \
    --json="$WORK/failed.json" --csv="$WORK/failed.csv" > "$WORK/failed.txt" 2> /dev/null)
rc=$?
[ "$rc" = 1 ] || fail "refused settings: status $rc, expected 1"

python3 - "$WORK" <<'PY' || failures=$((failures + 1))
import csv, json, re, sys
work = sys.argv[1]
problems = []
def check(cond, what):
    if not cond:
        problems.append(what)

def text_summaries(path):
    """[(procs, size, interface, label, [max, avg, min] MB/s, [tmin, tavg, tmax] s)] from the text report."""
    names = {"POSIX": "posix", "MPIO": "mpiio", "PHDF5 (w/MPI-IO driver)": "phdf5"}
    out, procs, size, api, label, rates, times = [], None, None, None, None, [], []
    for line in open(path):
        line = line.rstrip("\n")
        if m := re.match(r"Number of processors = (\d+)$", line): procs = int(m[1])
        elif m := re.match(r"Transfer Buffer Size: (\d+) bytes", line): size = int(m[1])
        elif m := re.match(r" {8}IO API = (.*)$", line): api = names[m[1]]
        elif m := re.match(r" {12}(Write|Read|Write Open-Close|Read Open-Close) \(\d+ iteration\(s\)\):$", line):
            label, rates, times = m[1].lower(), [], []
        elif m := re.match(r" {12}(\S.*) \(\d+ iteration\(s\)\):$", line): label = None
        elif (m := re.match(r" {16}(Maximum|Average|Minimum) Throughput: +([\d.]+) MB/s \( *([\d.]+) s\)$", line)) and label:
            rates.append(float(m[2])); times.append(float(m[3]))
            if len(rates) == 3:
                out.append((procs, size, api, label, rates, times))
        elif m := re.match(r" {12}(Write|Read) failed: (.*)$", line):
            out.append((procs, size, api, m[1].lower() + " failed", m[2], None))
    return out

doc = json.load(open(work + "/run.json"))
check(doc["format"] == 1 and doc["program"] == "tessel" and doc["status"] == "ok" and doc["exit_status"] == 0, "header")
run = doc["run"]
check(run["processes"] == 2 and run["hosts"] and run["date"].endswith("Z"), "run metadata")
check(re.fullmatch(r"\d+\.\d+\.\d+", run["hdf5_version"]) is not None, "hdf5 version")
check(run["mpi_version"] != "", "mpi version")
check(run["prefix"] == work + "/prefix", "prefix")
check(run["mpi_hints"]["requested"] == {"romio_cb_write": "enable"}, "requested hints")
check(run["mpi_hints"]["in_effect"].get("romio_cb_write") == "enable", "hints in effect: %r" % run["mpi_hints"]["in_effect"])
check(run["options"]["iterations"] == 2 and run["options"]["interfaces"] == ["posix", "mpiio", "phdf5"], "options")

text = text_summaries(work + "/run.txt")
ms = doc["measurements"]
check(len(ms) == 2 * 3 * 3, "measurements: %d" % len(ms))
check(len(text) == len(ms) * 4, "text summaries: %d" % len(text))
by_key = {(m["processes"], m["transfer_size"], m["interface"]): m for m in ms}
for procs, size, api, label, rates, times in text:
    m = by_key.get((procs, size, api))
    check(m is not None, "no JSON measurement for %s" % ((procs, size, api),))
    if m is None:
        continue
    phase = next(p for p in m["phases"] if p["phase"] == label)
    check(phase["status"] == "ok" and len(phase["iterations"]) == 2, "phase %s" % label)
    for shown, value in zip(rates, (phase["max_mib_per_s"], phase["avg_mib_per_s"], phase["min_mib_per_s"])):
        check("%6.2f" % value == "%6.2f" % shown, "%s %s %s: text %s, JSON %s" % (procs, size, label, shown, value))
    for shown, value in zip(times, (phase["min_time_s"], phase["avg_time_s"], phase["max_time_s"])):
        check("%7.3f" % value == "%7.3f" % shown, "%s %s %s time: text %s, JSON %s" % (procs, size, label, shown, value))
    slowest = max(it["time_s"] for it in phase["iterations"])
    check(abs(slowest - phase["max_time_s"]) < 1e-12, "max time is the slowest iteration")

# The CSV: metadata comments, then one row per measurement, phase and iteration.
lines = open(work + "/run.csv").read().splitlines()
comments = [l for l in lines if l.startswith("#")]
rows = list(csv.DictReader(l for l in lines if not l.startswith("#")))
check(any(l.startswith("# hdf5_version: " + run["hdf5_version"]) for l in comments), "csv metadata")
check(len(rows) == len(ms) * 4 * 2, "csv rows: %d" % len(rows))
for r in rows:
    m = by_key[(int(r["processes"]), int(r["transfer_size"]), r["interface"])]
    phase = next(p for p in m["phases"] if p["phase"] == r["phase"])
    it = phase["iterations"][int(r["iteration"]) - 1]
    check(r["status"] == "ok" and abs(float(r["time_s"]) - it["time_s"]) <= 1e-8 * max(1.0, it["time_s"]), "csv time")
    check(abs(float(r["avg_mib_per_s"]) - phase["avg_mib_per_s"]) <= 1e-6 * phase["avg_mib_per_s"], "csv average")

# The refused run: failed, with the reason, and no throughput anywhere.
failed = json.load(open(work + "/failed.json"))
check(failed["status"] == "failed" and failed["exit_status"] == 1, "failed header")
reason = "Transfer buffer size (3072) must be a multiple of the block size (2048) in the contiguous pattern; choose a block size that divides it with -B"
for m in failed["measurements"]:
    check(m["status"] == "failed" and m["reason"] == reason, "failed measurement")
    for p in m["phases"]:
        check(p == {"phase": p["phase"], "status": "failed", "reason": reason}, "failed phase holds a number: %r" % p)
frows = list(csv.DictReader(l for l in open(work + "/failed.csv") if not l.startswith("#")))
check(len(frows) == 4 and all(r["status"] == "failed" and r["mib_per_s"] == "" and r["reason"] == reason for r in frows), "failed csv")
check([l for l in text_summaries(work + "/failed.txt")] == [(2, 3072, "posix", "write failed", reason, None),
                                                           (2, 3072, "posix", "read failed", reason, None)], "failed text")
for p in problems[:20]:
    print("FAIL:", p)
sys.exit(1 if problems else 0)
PY

# tessel-plot: a PNG of the size asked for (its signature and the
# dimensions in its header), and a refusal of what is not a report.
png_size() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n" and d[12:16]==b"IHDR"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }
out=$("$PLOT" "$WORK/run.json" -o "$WORK/chart.png")
[ "$out" = "$WORK/chart.png" ] || fail "tessel-plot printed '$out'"
[ "$(png_size "$WORK/chart.png" 2>&1)" = 1200x800 ] || fail "default chart size: $(png_size "$WORK/chart.png" 2>&1)"
"$PLOT" "$WORK/run.json" --size 640x480 > /dev/null || fail "tessel-plot --size"
[ "$(png_size "$WORK/run.png" 2>&1)" = 640x480 ] || fail "640x480 chart: $(png_size "$WORK/run.png" 2>&1)"
"$PLOT" "$WORK/failed.json" -o "$WORK/failed.png" 2> "$WORK/plot.err" && fail "a report without a measured throughput was drawn"

# The format follows the suffix; other suffixes are refused.
"$PLOT" "$WORK/run.json" -o "$WORK/chart.jpg" > /dev/null || fail "tessel-plot -o chart.jpg"
[ "$(head -c 3 "$WORK/chart.jpg" | od -An -tx1 | tr -d ' ')" = ffd8ff ] || fail "chart.jpg is not JPEG"
"$PLOT" "$WORK/run.json" -o "$WORK/chart.svg" > /dev/null || fail "tessel-plot -o chart.svg"
grep -q "<svg" "$WORK/chart.svg" || fail "chart.svg is not SVG"

# What is not a report, or not an option, is refused with a sentence.
plot_refuses() { # LABEL STATUS EXPECTED_STDERR_PART ARGS...
    local label=$1 status=$2 part=$3; shift 3
    "$PLOT" "$@" > "$WORK/plot.out" 2> "$WORK/plot.err"
    local rc=$?
    [ "$rc" = "$status" ] || fail "tessel-plot $label: status $rc, expected $status"
    grep -qF -- "$part" "$WORK/plot.err" || fail "tessel-plot $label: message $(cat "$WORK/plot.err")"
    grep -q Traceback "$WORK/plot.err" && fail "tessel-plot $label: a traceback"
    [ -s "$WORK/plot.out" ] && fail "tessel-plot $label: printed $(cat "$WORK/plot.out")"
}
echo '[]' > "$WORK/list.json"
echo '{"format": 1}' > "$WORK/bare.json"
echo '{"format": 2}' > "$WORK/other.json"
echo 'not json' > "$WORK/text.json"
echo '{"format": 1, "run": {"options": {}}, "measurements": [{"interface": "posix"}]}' > "$WORK/partial.json"
plot_refuses "[]" 1 "$WORK/list.json: not a tessel report: the document is a list, not an object" "$WORK/list.json"
plot_refuses "format only" 1 "$WORK/bare.json: the report has no 'run' of the right kind (found null)" "$WORK/bare.json"
plot_refuses "format 2" 1 "unknown report format 2 (this program reads format 1)" "$WORK/other.json"
plot_refuses "not JSON" 1 "$WORK/text.json: not a tessel report: not JSON" "$WORK/text.json"
plot_refuses "partial measurement" 1 "measurement 1 has no 'processes' of the right kind" "$WORK/partial.json"
plot_refuses "missing file" 1 "$WORK/none.json: cannot read it: No such file or directory" "$WORK/none.json"
plot_refuses "-o chart.gif" 1 "cannot write $WORK/chart.gif: the chart's format follows the file name's suffix" \
    "$WORK/run.json" -o "$WORK/chart.gif"
plot_refuses "--phases write,bogus" 2 "unknown phase 'bogus'" "$WORK/run.json" --phases write,bogus
[ -e "$WORK/chart.gif" ] && fail "a chart.gif was written"

# The programs beside tessel are those of the sources: the build copies an
# edited script, not only the configuration.
for script in tessel-plot tessel-compare tessel_json.py; do
    cmp -s "$2/$script" "$(dirname "$0")/../../bench/$script" || fail "$script in the build is not its source"
done

# A prefix whose name is not UTF-8 (a Latin-1 folder name) is written into
# the JSON report with U+FFFD for its byte; the run and its report complete.
latin1="$WORK/caf"$'\xe9'
mkdir -p "$latin1"
(cd "$WORK" && HDF5_PARAPREFIX="$latin1" timeout 100 mpiexec -n 2 "$TESSEL" -A posix -e 8K -x 8K \
    --json="$WORK/latin1.json" > /dev/null 2> "$WORK/latin1.err")
rc=$?
[ "$rc" = 0 ] || fail "Latin-1 prefix: status $rc: $(cat "$WORK/latin1.err")"
same "Latin-1 prefix: the prefix in the JSON report" "$WORK/caf"$'\xef\xbf\xbd' \
    "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1], encoding="utf-8"))["run"]["prefix"])' "$WORK/latin1.json" 2>&1)"

finish "tessel report"
