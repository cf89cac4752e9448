#!/usr/bin/env bash
# tessel command line: the parameters report for several option sets and
# environments at one and two processes, the usage text and exit status for
# -h and every refused option, and the report file.
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/tessel_common.sh"

# Lines from the version line to the empty line after the parameters.
params() { printf '%s\n' "$OUT" | sed -n '/^HDF5 Library: Version/,/^rank 0: ==== End of Parameters ====$/p'; }

# Stderr lines without repeats.
err_set() { printf '%s\n' "$ERR" | sort -u; }

# The version of the HDF5 library installed, which the report names.
HDF5_VERSION=$(pkg-config --modversion hdf5-mpich)

report() { # n api files dsets iters procs bytes dsetsize filesize xfer block pattern method geometry storage prefix info...
    local n=$1 api=$2 files=$3 dsets=$4 iters=$5 procs=$6 bytes=$7 dsize=$8 fsize=$9
    shift 9
    local xfer=$1 block=$2 pattern=$3 method=$4 geometry=$5 storage=$6 prefix=$7
    shift 7
    cat <<EOF
HDF5 Library: Version $HDF5_VERSION
rank 0: ==== Parameters ====
rank 0: IO API=$api
rank 0: Number of files=$files
rank 0: Number of datasets=$dsets
rank 0: Number of iterations=$iters
rank 0: Number of processes=$procs
rank 0: Number of bytes per process per dataset=$bytes
rank 0: Size of dataset(s)=$dsize
rank 0: File size=$fsize
rank 0: Transfer buffer size=$xfer
rank 0: Block size=$block
rank 0: Block Pattern in Dataset=$pattern
rank 0: I/O Method for MPI and HDF5=$method
rank 0: Geometry=$geometry
rank 0: VFL used for HDF5 I/O=MPI-IO driver
rank 0: Data storage method in HDF5=$storage
rank 0: Env HDF5_PARAPREFIX=$prefix
rank 0: Dumping MPI Info Object (up to 1024 bytes per item):
EOF
    printf '%s\n' "$@"
    echo "rank 0: ==== End of Parameters ===="
}

ALL="posix mpiio phdf5 "
NULLINFO="object is MPI_INFO_NULL"
unset HDF5_MPI_INFO HDF5_PARAPREFIX HDF5_NOCLEANUP

for n in 1 2; do
    # Defaults: the run itself is small (256KB per process).
    run $n -A posix
    status_is "defaults n=$n" 0
    if [ $n = 1 ]; then
        exp=$(report 1 "posix " 1 1 1 1:1 256KB 256KB:256KB 256KB:256KB 128KB:256KB 128KB Contiguous Independent 1D Contiguous "not set" "$NULLINFO")
    else
        exp=$(report 2 "posix " 1 1 1 1:2 256KB 256KB:512KB 256KB:512KB 128KB:256KB 128KB Contiguous Independent 1D Contiguous "not set" "$NULLINFO")
    fi
    same "defaults n=$n" "$exp" "$(params)"
    printf '%s\n' "$OUT" | grep -qx "Number of processors = $n" || fail "defaults n=$n: no run at $n processes"

    # 2D geometry: its defaults at one process (a 64MB dataset), a smaller
    # side at two.
    if [ $n = 1 ]; then
        run $n -g -A posix -w
        exp=$(report 1 "posix " 1 1 1 1:1 64MB:64MB 8KBx8KB:8KBx8KB 64MB:64MB 4KBx4KB:4KBx8KB 4KBx4KB Contiguous Independent 2D Contiguous "not set" "$NULLINFO")
    else
        run $n -g -e 1K -A posix -w
        exp=$(report 2 "posix " 1 1 1 1:2 1MB:2MB 1KBx1KB:2KBx2KB 1MB:4MB 512x512:512x1KB 512x512 Contiguous Independent 2D Contiguous "not set" "$NULLINFO")
    fi
    status_is "-g n=$n" 0
    same "-g n=$n" "$exp" "$(params)"

    # The transfer sizes are limited by num_bytes in 1D; the default block
    # (half of num_bytes) by the smallest transfer.
    run $n -x 1M -A posix -w
    if [ $n = 1 ]; then
        exp=$(report 1 "posix " 1 1 1 1:1 256KB 256KB:256KB 256KB:256KB 256KB:256KB 128KB Contiguous Independent 1D Contiguous "not set" "$NULLINFO")
    else
        exp=$(report 2 "posix " 1 1 1 1:2 256KB 256KB:512KB 256KB:512KB 256KB:256KB 128KB Contiguous Independent 1D Contiguous "not set" "$NULLINFO")
    fi
    same "-x 1M n=$n" "$exp" "$(params)"
    printf '%s\n' "$OUT" | grep -q '^Transfer Buffer Size: 262144 bytes' || fail "-x 1M n=$n: no 256K run"
    [ "$(printf '%s\n' "$OUT" | grep -c '^Transfer Buffer Size')" = "$n" ] || fail "-x 1M n=$n: more than one buffer size"
    # A range the wrong way round is refused, not narrowed.
    run $n -x 1M -X 64K
    status_is "-x 1M -X 64K n=$n" 1
    same "-x 1M -X 64K n=$n stdout" "" "$OUT"
    same "-x 1M -X 64K n=$n stderr" "tessel: -x (smallest transfer buffer size) must not be larger than -X (largest transfer buffer size): 1048576 > 65536" "$ERR"

    # The block is limited by num_bytes.
    run $n -e 10K -B 1M -A posix -w
    if [ $n = 1 ]; then
        exp=$(report 1 "posix " 1 1 1 1:1 10KB 10KB:10KB 10KB:10KB 5KB:10KB 10KB Contiguous Independent 1D Contiguous "not set" "$NULLINFO")
    else
        exp=$(report 2 "posix " 1 1 1 1:2 10KB 10KB:20KB 10KB:20KB 5KB:10KB 10KB Contiguous Independent 1D Contiguous "not set" "$NULLINFO")
    fi
    same "-e 10K -B 1M n=$n" "$exp" "$(params)"

    # -p above -P: the command line is refused before anything is printed
    # or made.
    run $n -p 8 -P 4
    status_is "-p 8 -P 4 n=$n" 1
    same "-p 8 -P 4 n=$n stdout" "" "$OUT"
    same "-p 8 -P 4 n=$n stderr" "tessel: -p (smallest process count) must not be larger than -P (largest process count): 8 > 4" "$ERR"
    run $n -P 5 -A posix -e 8K -x 8K -w
    status_is "-P 5 n=$n" 0
    exp="number of process(5) must be <= number of processes in MPI_COMM_WORLD($n)"
    [ $n = 1 ] && exp="$exp
number of process(2) must be <= number of processes in MPI_COMM_WORLD(1)"
    same "-P 5 n=$n stderr: each skipped count once" "$exp" "$ERR"

    # Every other setting of the report, with hints and a prefix.
    export HDF5_MPI_INFO="cb_nodes = 1; ; romio_cb_write=enable;novalue"
    export HDF5_PARAPREFIX="$WORK/prefix"
    mkdir -p "$HDF5_PARAPREFIX"
    run $n -g -I -C -c -d 3 -i 2 -A MPIIO,posix -a 4K -T 2K -e 64
    if [ $n = 1 ]; then
        exp=$(report 1 "posix mpiio " 1 3 2 1:1 4KB:4KB 64x64:64x64 12KB:12KB 32x32:64x32 32x32 Interleaved Collective 2D Chunked "$WORK/prefix" "object has 2 items" "cb_nodes=1" "romio_cb_write=enable")
    else
        exp=$(report 2 "posix mpiio " 1 3 2 1:2 4KB:8KB 64x64:128x128 12KB:48KB 32x32:64x32 32x32 Interleaved Collective 2D Chunked "$WORK/prefix" "object has 2 items" "cb_nodes=1" "romio_cb_write=enable")
    fi
    status_is "hints and prefix n=$n" 0
    same "hints and prefix n=$n" "$exp" "$(params)"
    export HDF5_MPI_INFO=""
    run $n -P 1
    exp=$(report 1 "$ALL" 1 1 1 1:1 256KB 256KB:256KB 256KB:256KB 128KB:256KB 128KB Contiguous Independent 1D Contiguous "$WORK/prefix" "object has 0 items")
    same "empty hints n=$n" "$exp" "$(params)"
    unset HDF5_MPI_INFO HDF5_PARAPREFIX
done

# A debug level makes every process print the report.
run 2 -D 1 -A posix -e 8K -x 8K -w
printf '%s\n' "$OUT" | grep -qx "rank 1: ==== Parameters ====" || fail "-D 1: rank 1 prints no report"
printf '%s\n' "$OUT" | grep -qx "rank 0: ==== Parameters ====" || fail "-D 1: rank 0 prints no report"

# Long options of kind required without a value that is not converted.
run 1 --api -e 8K --debug
same "--api without value" "rank 0: IO API=$ALL" "$(params | grep 'IO API')"
printf '%s\n' "$OUT" | grep -q '^rank 1' && fail "--debug without value changed the level"
run 1 -A posix -e 8K -w --output
status_is "--output without value" 0
printf '%s\n' "$OUT" | grep -qx "rank 0: ==== End of Parameters ====" || fail "--output without value: no report on stdout"
run 1 --num-bytes=
status_is "--num-bytes=" 1
same "--num-bytes= is refused" "tessel: -e (bytes per process per dataset) must be at least 1, not 0" "$ERR"

USAGE=$(cat <<'EOF'
tessel: Version 1.10.11
usage: tessel [OPTIONS]
  OPTIONS
     -h, --help                  Print a usage message and exit
     -a S, --align=S             Alignment of objects in HDF5 file [default: 1]
     -A AL, --api=AL             Which APIs to test [default: all of them]
     -B S, --block-size=S        Block size within transfer buffer
                                 (see below for description)
                                 [default: half the number of bytes per process
                                           per dataset]
     -c, --chunk                 Create HDF5 datasets using chunked storage
                                 [default: contiguous storage]
     -C, --collective            Use collective I/O for MPI and HDF5 APIs
                                 [default: independent I/O)
     -d N, --num-dsets=N         Number of datasets per file [default: 1]
     -D DL, --debug=DL           Indicate the debugging level
                                 [default: no debugging]
     -e S, --num-bytes=S         Number of bytes per process per dataset
                                 (see below for description)
                                 [default: 256K for 1D, 8K for 2D]
     -F N, --num-files=N         Number of files [default: 1]
     -g, --geometry              Use 2D geometry [default: 1D geometry]
     -i N, --num-iterations=N    Number of iterations to perform [default: 1]
     -I, --interleaved           Interleaved access pattern
                                 (see below for example)
                                 [default: Contiguous access pattern]
     -o F, --output=F            Output raw data into file F [default: none]
     -p N, --min-num-processes=N Minimum number of processes to use [default: 1]
     -P N, --max-num-processes=N Maximum number of processes to use
                                 [default: all MPI_COMM_WORLD processes ]
     -T S, --threshold=S         Threshold for alignment of objects in HDF5 file
                                 [default: 1]
     -w, --write-only            Perform write tests not the read tests
     -x S, --min-xfer-size=S     Minimum transfer buffer size
                                 (see below for description)
                                 [default: half the number of bytes per process
                                           per dataset]
     -X S, --max-xfer-size=S     Maximum transfer buffer size
                                 [default: the number of bytes per process per
                                           dataset]
     --json=F                    Write every measurement and the run's details
                                 as JSON into file F
     --csv=F                     Write every measurement as CSV into file F
     --read-shift=N              Rank r reads back what rank (r + N) mod P wrote
                                 [default: 0, its own data]
     --chunk-size=S              Side of the HDF5 chunks, with -c
                                 [default: the block size]
     --deflate=N                 Compress HDF5 datasets with gzip level N (1-9),
                                 with -c and -C [default: no compression]
     --data=D                    What is written: zeros, random (incompressible)
                                 or pattern (half of every 64 bytes random)
                                 [default: zeros]
     --deadline=SECONDS          Stop each write and read phase at the first
                                 transfer after SECONDS, on every process
                                 [default: no deadline]
     --progress[=0|1]            One line on standard error per finished
                                 measurement; 0 turns it off [default: on
                                 when standard error is a terminal]

  F  - is a filename.
  N  - is an integer >=0.
  S  - is a size specifier, an integer >=0 followed by a size indicator:
          K - Kilobyte (1024)
          M - Megabyte (1048576)
          G - Gigabyte (1073741824)
      Example: '37M' is 37 megabytes or 38797312 bytes
EOF
)
LEGENDS=$(cat <<'EOF'
  AL - is an API list. Valid values are:
          phdf5 - Parallel HDF5
          mpiio - MPI-I/O
          posix - POSIX
      Example: --api=mpiio,phdf5
  Dataset size:
  Block size vs. Transfer buffer size:
  Interleaved and Contiguous patterns in 1D geometry:
              1111----2222----3333----
              123123123123------------
  DL - is a list of debugging flags. Valid values are:
          1 - Minimal
          2 - Not quite everything
          3 - Everything
          4 - The kitchen sink
          r - Raw data I/O throughput information
          t - Times as well as throughputs
          v - Verify data correctness
      Example: --debug=2,r,t
  Environment variables:
  HDF5_NOCLEANUP   Do not remove data files if set [default remove]
  HDF5_MPI_INFO    MPI INFO object key=value separated by ;
  HDF5_PARAPREFIX  Parallel data files prefix
EOF
)

# usage_check LABEL EXPECTED_STDERR [STATUS]: the usage text once, status 1
# (0 for help asked for).
usage_check() {
    status_is "$1" "${3:-1}"
    same "$1: usage head" "$USAGE" "$(printf '%s\n' "$OUT" | head -n "$(printf '%s\n' "$USAGE" | wc -l)")"
    same "$1: legends" "$LEGENDS" "$(printf '%s\n' "$OUT" | grep -xF -f <(printf '%s\n' "$LEGENDS"))"
    same "$1: last line" "  HDF5_PARAPREFIX  Parallel data files prefix" "$(printf '%s\n' "$OUT" | tail -n 1)"
    same "$1: stderr" "$2" "$(err_set)"
    [ "$(printf '%s\n' "$OUT" | grep -c '^usage:')" = 1 ] || fail "$1: usage printed more than once"
}

# Every refusal at one process; the usage is printed once at two.
run 1 -h;                      usage_check "-h" "" 0
run 1 --help;                  usage_check "--help" "" 0
for letter in m n s t; do
    run 1 -$letter;            usage_check "-$letter" ""
done
run 1 -Z;                      usage_check "-Z" "$TESSEL: unknown option \"Z\""
run 1 --frobnicate=3;          usage_check "--frobnicate" "$TESSEL: unknown option \"frobnicate\""
run 1 --help=yes;              usage_check "--help=yes" "$TESSEL: no option required for \"help\" flag"
run 1 -F 0 -d;                 usage_check "-d at the end" "$TESSEL: value expected for option \"d\""
run 1 --num-files;             usage_check "--num-files without value" ""
run 1 --align -c;              usage_check "--align without value" ""
run 1 --num-iterations -F 0;   usage_check "--num-iterations without value" ""
run 1 --max-xfer-size;         usage_check "--max-xfer-size without value" ""
run 2 -h;                      usage_check "-h n=2" "" 0
run 2 -Z;                      usage_check "-Z n=2" "$TESSEL: unknown option \"Z\""

# Values that end the process at once.
run 2 -e 3x
status_is "-e 3x" 1; same "-e 3x" "Illegal size specifier 'x'" "$(err_set)"; same "-e 3x stdout" "" "$OUT"
run 1 -A MPIIO,hdf5
status_is "-A hdf5" 1; same "-A hdf5" "tesselrun: invalid --api option hdf5" "$(err_set)"
run 1 --debug=2,x
status_is "--debug=x" 1; same "--debug=x" "tesselrun: invalid --debug option x" "$(err_set)"
run 1 -B "1 "
status_is "-B '1 '" 1
cmp -s "$WORK/err" <(printf "Illegal size specifier '\0'\n") || fail "-B '1 ': message"

# The report file holds the whole report, the hints included; nothing of it
# goes to standard output.
run 1 -o "$WORK/nodir/report.txt" -A posix -e 8K
status_is "unwritable report file" 1
same "unwritable report file" "$(printf '%s\n' "tessel: cannot open output file" "$WORK/nodir/report.txt: No such file or directory")" "$ERR"
run 2 -o "$WORK/report.txt" -A posix
status_is "report file" 0
same "report file: stdout" "" "$OUT"
file_text=$(cat "$WORK/report.txt")
same "report file: parameters" "$(report 2 "posix " 1 1 1 1:2 256KB 256KB:512KB 256KB:512KB 128KB:256KB 128KB Contiguous Independent 1D Contiguous "not set" "$NULLINFO")" \
    "$(printf '%s\n' "$file_text" | sed -n '/^HDF5 Library: Version/,/^rank 0: ==== End of Parameters ====$/p')"
printf '%s\n' "$file_text" | grep -qx "        IO API = POSIX" || fail "report file: no results"

# Machine-readable report files that cannot be written refuse the run
# before anything is measured.
run 2 --json="$WORK/nodir/r.json" -A posix
status_is "unwritable JSON file" 1
same "unwritable JSON file" "tessel: cannot open report file $WORK/nodir/r.json: No such file or directory" "$ERR"
same "unwritable JSON file: stdout" "" "$OUT"

finish "tessel command-line"
