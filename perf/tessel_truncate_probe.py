#!/usr/bin/env python3
"""Why POSIX writes of two tessel processes were slow: on ext4, closing a
descriptor that truncated a file starts the writeback of the whole file
(the auto_da_alloc heuristic for files rewritten in place).

Two descriptors on one file, as two processes have: 256 MiB are written
through the first, then the second is closed, and the page cache's Dirty
and Writeback figures are read before and 0.2 s after that close.

    perf/tessel_truncate_probe.py [FILE]   (FILE on the file system to test)

Cases:
  fresh, second without O_TRUNC   both open a new file; nothing truncates
  fresh, second with O_TRUNC      the old tessel: every process opened with O_TRUNC
  old file, truncated once first  tessel now: rank 0 truncates and closes, then all open
"""
import os
import sys
import time


def dirty_and_writeback():
    values = {}
    for line in open("/proc/meminfo"):
        key, value = line.split(":")
        values[key] = int(value.split()[0]) // 1024
    return values["Dirty"], values["Writeback"]


def case(path, name, prepare):
    if os.path.exists(path):
        os.remove(path)
    prepare(path)
    os.sync()
    time.sleep(1)
    first, second = opens[name](path)
    block = b"x" * (4 << 20)
    for i in range(64):
        os.pwrite(first, block, i * len(block))
    before = dirty_and_writeback()
    start = time.monotonic()
    os.close(second)
    took = time.monotonic() - start
    time.sleep(0.2)
    after = dirty_and_writeback()
    os.close(first)
    print("%-34s close of the second: %.3f s; Dirty/Writeback MiB before %s, 0.2 s after %s" %
          (name, took, before, after))


def nothing(path):
    pass


def old_file(path):
    with open(path, "wb") as f:
        f.write(b"y" * (64 << 20))


def truncate_once_then_open(path):
    fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o600)
    os.close(fd)
    return os.open(path, os.O_RDWR), os.open(path, os.O_RDWR)


opens = {
    "fresh, second without O_TRUNC": lambda p: (os.open(p, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o600),
                                                os.open(p, os.O_RDWR)),
    "fresh, second with O_TRUNC": lambda p: (os.open(p, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o600),
                                             os.open(p, os.O_RDWR | os.O_TRUNC)),
    "old file, truncated once first": truncate_once_then_open,
}

path = sys.argv[1] if len(sys.argv) > 1 else "tessel_truncate_probe.dat"
try:
    for _ in range(2):
        case(path, "fresh, second without O_TRUNC", nothing)
        case(path, "fresh, second with O_TRUNC", nothing)
        case(path, "old file, truncated once first", old_file)
finally:
    if os.path.exists(path):
        os.remove(path)
