#!/usr/bin/env bash
# tessel measurement runs: the layout of the results report for the debug
# flags, iterations and write-only runs, the process-count and buffer-size
# sequences, validation and failure messages, test file names under
# HDF5_PARAPREFIX, and removal of the test files.
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/tessel_common.sh"
err_set() { printf '%s\n' "$ERR" | sed -E 's/at line +[0-9]+/at line N/' | sort -u; }

# The results report with every number replaced by #.
results() {
    printf '%s\n' "$OUT" | sed -n '/^Number of processors/,$p' | sed -E 's/ *[0-9]+\.[0-9]+/ #/g'
}

I12="            " I16="                " I20="                    "
throughput() { # LABEL ITERATIONS [t]
    echo "$I12$1 ($2 iteration(s)):"
    local tail=""
    [ "${3:-}" = t ] && tail=" ( # s)"
    for w in Maximum Average Minimum; do echo "$I16$w Throughput: # MB/s$tail"; done
}
times() { # LABEL ITERATIONS
    echo "$I12$1 ($2 iteration(s)):"
    for w in Minimum Average Maximum; do echo "${I16}$w Accumulated Time using 1 file(s): # s"; done
}
details() { # HEADER ITERATIONS
    echo "$I12$1"
    for ((i = 1; i <= $2; i++)); do
        echo "${I16}Iteration $i:"; echo "${I20}Minimum Time: #s"; echo "${I20}Maximum Time: #s"
    done
}
head1d() { # PROCS BUFFER
    echo "Number of processors = $1"
    echo "Transfer Buffer Size: $2 bytes, File size: # MB"
    echo "      # of files: 1, # of datasets: 1, dataset size: # MB"
}

# --debug=t: times after every throughput, and the open and close summaries.
run 1 -A posix -e 8K -x 8K --debug=t
status_is "--debug=t" 0
exp=$(head1d 1 8192; echo "        IO API = POSIX"
      throughput Write 1 t; throughput "Write Open-Close" 1 t; times "Write File Open" 1; times "Write File Close" 1
      throughput Read 1 t; throughput "Read Open-Close" 1 t; times "Read File Open" 1; times "Read File Close" 1)
same "--debug=t layout" "$exp" "$(results)"
run_dir_empty "--debug=t"

# --debug=r with -w: raw summaries first, and nothing about reading.
run 1 -A mpiio -e 8K -x 8K --debug=r -w
exp=$(head1d 1 8192; echo "        IO API = MPIO"
      throughput "Raw Data Write" 1; throughput Write 1; throughput "Write Open-Close" 1)
same "--debug=r -w layout" "$exp" "$(results)"
run_dir_empty "-w"

# -i 3 with --debug=3: details of every iteration; the level also names the
# data file in every run.
run 1 -A phdf5 -e 8K -x 8K -i 3 --debug=3,r
exp=$(head1d 1 8192; echo "        IO API = PHDF5 (w/MPI-IO driver)"
      for i in 1 2 3; do echo "rank 0: data filename=#pio_tmp_1.h5"; done
      details "Raw Data Write details:" 3; throughput "Raw Data Write" 3
      details "MPI Write details:" 3; details "Write details:" 3; throughput Write 3
      details "Write Open-Close details:" 3; throughput "Write Open-Close" 3
      details "Write file open details:" 3; details "Write file close details:" 3
      details "Raw Data Read details:" 3; throughput "Raw Data Read" 3
      details "MPI Read details:" 3; details "Read details:" 3; throughput Read 3
      details "Read Open-Close details:" 3; throughput "Read Open-Close" 3
      details "Read file open details:" 3; details "Read file close details:" 3)
same "-i 3 --debug=3 layout" "$exp" "$(results)"
[ "$(printf '%s\n' "$OUT" | grep -A3 'MPI Write details:' | grep -c 'Time: 0.00s')" = 2 ] || fail "MPI write times are not zero"

# Debug level 4: timer details and the share of each call.
run 1 -A posix -e 8K -x 8K -D 4 -w
printf '%s\n' "$OUT" | grep -qx "Timer details:" || fail "-D 4: no timer details"
printf '%s\n' "$OUT" | grep -qx "0: Debug(do_write): buf_size=8192, bytes_begin=0, bytes_count=8192" || fail "-D 4: 1D share"
# (Kept below 4K of output per process, so the launcher forwards whole lines.)
run 2 -A posix -g -e 16 -x 16 -X 16 -B 8 -D 4 -p 2 -w
printf '%s\n' "$OUT" | grep -qx "1: Debug(do_write): linear buf_size=128, bytes_begin=(16,0), bytes_count=512" || fail "-D 4: 2D write share"

# Process counts from the largest down, halving; counts above the world
# size are reported and skipped. Buffer sizes double from the minimum.
run 2 -A posix -P 5 -e 8K -x 2K -X 8K -B 1K -w
status_is "-P 5" 0
same "-P 5 stderr" "number of process(5) must be <= number of processes in MPI_COMM_WORLD(2)" "$(err_set)"
same "-P 5 sequence" "$(printf '%s\n' "Number of processors = 2" "Transfer Buffer Size: 2048 bytes, File size: 0.02 MB" \
    "Transfer Buffer Size: 4096 bytes, File size: 0.02 MB" "Transfer Buffer Size: 8192 bytes, File size: 0.02 MB" \
    "Number of processors = 1" "Transfer Buffer Size: 2048 bytes, File size: 0.01 MB" \
    "Transfer Buffer Size: 4096 bytes, File size: 0.01 MB" "Transfer Buffer Size: 8192 bytes, File size: 0.01 MB")" \
    "$(printf '%s\n' "$OUT" | grep -E '^(Number of processors|Transfer Buffer Size)')"
run 2 -A posix -p 3 -P 8
status_is "-p 3 -P 8" 1
same "-p 3 -P 8 stderr" "tessel: no process count from -P 8 down to -p 3 (halving) is at most the 2 process(es) of MPI_COMM_WORLD" "$ERR"
printf '%s\n' "$OUT" | grep -q "^Number of processors" && fail "-p 3 -P 8 ran a count"
run 1 -A posix -e 12K -x 3K -X 8K -B 1K -w
same "-x 3K -X 8K sizes" "$(printf '%s\n' "Transfer Buffer Size: 3072 bytes, File size: 0.01 MB" "Transfer Buffer Size: 6144 bytes, File size: 0.01 MB")" \
    "$(printf '%s\n' "$OUT" | grep '^Transfer Buffer Size')"
status_is "-x 3K -X 8K" 0
run 1 -A posix -g -e 16 -x 8 -X 16 -B 4 -I -w
same "2D interleaved sizes" "$(printf '%s\n' "Transfer Buffer Size: 8x4 bytes, File size: 0.00 MB" \
    "      # of files: 1, # of datasets: 1, dataset size: 0.02x0.02 KB" "Transfer Buffer Size: 16x4 bytes, File size: 0.00 MB" \
    "      # of files: 1, # of datasets: 1, dataset size: 0.02x0.02 KB")" "$(printf '%s\n' "$OUT" | grep -E '^(Transfer|      #)')"

# Refused run settings: reported once, the run fails and is reported as
# failed (never as a throughput), the report goes on, and nothing is created.
run 1 -A posix -e 10K -x 4K -X 4K -B 4K
status_is "size/process" 1
same "size/process" "Dataset size/process (10240) must be a multiple of the transfer buffer size (4096)" "$ERR"
same "size/process report" "$(printf '%s\n' "        IO API = POSIX" \
    "            Write failed: Dataset size/process (10240) must be a multiple of the transfer buffer size (4096)" \
    "            Read failed: Dataset size/process (10240) must be a multiple of the transfer buffer size (4096)")" \
    "$(printf '%s\n' "$OUT" | sed -n '/^        IO API/,$p')"
run_dir_empty "size/process"
BLOCK_MSG="Transfer buffer size (3072) must be a multiple of the block size (2048) in the contiguous pattern; choose a block size that divides it with -B"
run 2 -A posix,mpiio -e 12K -x 3K -X 3K -B 2K -p 2 -i 2
status_is "block multiple" 1
same "block multiple: once" "$BLOCK_MSG" "$ERR"
same "block multiple: failed phases" "$(for api in POSIX MPIO; do echo "        IO API = $api"
    echo "            Write failed: $BLOCK_MSG"; echo "            Read failed: $BLOCK_MSG"; done)" \
    "$(printf '%s\n' "$OUT" | sed -n '/^        IO API/,$p')"
run 2 -A posix -I -e 12K -x 3K -X 3K -B 2K -p 2 -w
same "block multiple, interleaved" "${BLOCK_MSG/contiguous/interleaved}" "$ERR"
run 1 -A mpiio -g -e 8 -x 3 -X 3 -B 1
status_is "side multiple" 1
same "side multiple" "Dataset side size (8) must be a multiple of the transfer buffer size (3)" "$(err_set)"
run 2 -A phdf5 -g -e 6 -x 4 -X 4 -B 4 -p 2
status_is "side per process" 1
same "side per process" "Dataset side size/process (6) must be a multiple of the block size (4)" "$(err_set)"

# The README's examples run as written (the second one with less data per
# process, to keep the suite short).
mkdir -p "$WORK/readme"
HDF5_PARAPREFIX="$WORK/readme" run 2 -i 3 -x 1M -X 4M -e 16M
status_is "README example 1" 0
same "README example 1: stderr" "" "$ERR"
[ "$(printf '%s\n' "$OUT" | grep -c 'Maximum Throughput')" = 72 ] || fail "README example 1: not every phase measured"
printf '%s\n' "$OUT" | grep -q failed && fail "README example 1: a failed phase"
HDF5_PARAPREFIX="$WORK/readme" run 2 -d 1 -F 1 -e 64M -x 4M -X 4M
status_is "README example 2" 0
same "README example 2: stderr" "" "$ERR"
[ -z "$(find "$WORK/readme" -type f)" ] || fail "README examples: test files left: $(find "$WORK/readme" -type f)"

# Refusals before anything is made: one message, status 1 from every process
# (three processes, so a process that ends without finalising would show).
for args in "-e 3x" "-i abc" "-d 0" "-e -1K -D v" "-F 0" "-i 0" "-B 0" "-x 2M -X 1M" "-p 3 -P 1"; do
    run 3 $args -A posix
    status_is "refused $args" 1
    [ "$(printf '%s\n' "$ERR" | wc -l)" = 1 ] || fail "refused $args: not one message: $ERR"
    same "refused $args: stdout" "" "$OUT"
    run_dir_empty "refused $args"
done
mkdir -p "$WORK/jail/prefix"
HDF5_PARAPREFIX="$WORK/jail/prefix" USER=../escaped run 2 -A posix
status_is "USER=../escaped" 1
same "USER=../escaped" 'tessel: the user name "../escaped" (USER) contains "/": it must name a directory inside HDF5_PARAPREFIX' "$ERR"
same "USER=../escaped: nothing made" "prefix" "$(ls -A "$WORK/jail")"
[ -z "$(ls -A "$WORK/jail/prefix")" ] || fail "USER=../escaped: made $(ls -A "$WORK/jail/prefix")"

# File names: under the prefix and the user's directory, slashes squeezed;
# the files are removed after the run and nothing lands elsewhere.
mkdir -p "$WORK/pfx"
export HDF5_PARAPREFIX="$WORK/pfx/" USER=u01
run 2 -e 8K -x 8K -D 1 -p 2 -F 2 -w
status_is "prefix and user" 0
for r in 0 1; do for f in 1 2; do for s in posix mpio h5; do
    printf '%s\n' "$OUT" | grep -qxF "rank $r: data filename=$WORK/pfx/u01/#pio_tmp_$f.$s" || fail "prefix and user: rank $r file $f.$s"
done; done; done
[ -d "$WORK/pfx/u01" ] && [ -z "$(ls -A "$WORK/pfx/u01")" ] || fail "prefix and user: files left: $(ls -A "$WORK/pfx/u01" 2>&1)"
run_dir_empty "prefix and user"
unset USER
LOGIN=l02 run 1 -A posix -e 8K -x 8K -D 1 -w
printf '%s\n' "$OUT" | grep -qxF "rank 0: data filename=$WORK/pfx/l02/#pio_tmp_1.posix" || fail "LOGIN directory"
(unset LOGIN; run 1 -A posix -e 8K -x 8K -D 1 -w
 printf '%s\n' "$OUT" | grep -qxF "rank 0: data filename=$WORK/pfx/#pio_tmp_1.posix" || { echo "FAIL: bare prefix"; exit 1; }) || failures=$((failures + 1))
export USER=u01
HDF5_NOCLEANUP=1 run 2 -e 8K -x 8K -p 2
same "HDF5_NOCLEANUP keeps the files" "$(printf '%s\n' "#pio_tmp_1.h5" "#pio_tmp_1.mpio" "#pio_tmp_1.posix")" "$(ls -A "$WORK/pfx/u01" | LC_ALL=C sort)"
[ "$(stat -c %s "$WORK/pfx/u01/#pio_tmp_1.posix")" = 16384 ] || fail "HDF5_NOCLEANUP: posix file size"
rm -rf "$WORK/pfx/u01"
unset HDF5_PARAPREFIX
run 1 -A posix -e 8K -x 8K -D 1 -w
printf '%s\n' "$OUT" | grep -qxF "rank 0: data filename=#pio_tmp_1.posix" || fail "no prefix: relative name"
run_dir_empty "no prefix"

# A prefix that cannot hold the test files is refused before anything is
# made: missing, not a folder, read-only (a read-only tmpfs of our own).
unset USER LOGIN
touch "$WORK/plain"
mkdir -p "$WORK/ro"
ro_mounted=0
mount -t tmpfs -o ro,size=64k tessel "$WORK/ro" 2> /dev/null && ro_mounted=1
while IFS='|' read -r prefix message; do
    if [ "$prefix" = "$WORK/ro" ] && [ $ro_mounted = 0 ]; then
        echo "cannot mount a read-only tmpfs here: that case is not run"
        continue
    fi
    HDF5_PARAPREFIX=$prefix run 2 -e 8K -x 8K
    status_is "prefix $prefix" 1
    same "prefix $prefix" "$message" "$ERR"
    same "prefix $prefix: stdout" "" "$OUT"
done <<END
$WORK/none|tessel: HDF5_PARAPREFIX $WORK/none cannot be used: No such file or directory
$WORK/plain|tessel: HDF5_PARAPREFIX $WORK/plain is not a directory
$WORK/ro|tessel: HDF5_PARAPREFIX $WORK/ro is not writable: Read-only file system
END
[ $ro_mounted = 1 ] && umount "$WORK/ro"

# User names outside the safe set never make a folder.
mkdir -p "$WORK/safe"
for user in "a b" $'a\nb' '$(id)'; do
    HDF5_PARAPREFIX="$WORK/safe" USER=$user run 2 -A posix -e 8K -x 8K
    status_is "USER=$user" 1
    [ "$(printf '%s\n' "$ERR" | wc -l)" = 1 ] || fail "USER=$user: not one message: $ERR"
    [ -z "$(ls -A "$WORK/safe")" ] || fail "USER=$user: made $(ls -A "$WORK/safe")"
done

finish "tessel run"
