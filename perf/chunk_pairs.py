#!/usr/bin/python3
"""Chunked benchmark pairs written with h5py, and the h5py + numpy baseline.

  chunk_pairs.py write DIR      writes the three pairs into DIR:
    gzip_a.h5 / gzip_b.h5       /d: 2^27 float64 (1 GiB), gzip + shuffle,
                                chunks of 2^17 (1 MiB); b is a copy of a;
    gzip_c.h5                   a copy of gzip_a.h5 with one element changed in
                                every 64th chunk (16 chunks)
    grid_a.h5 / grid_b.h5       /d: 12000 x 8000 float32 (366 MiB), gzip,
                                chunks 1500 x 1000 (rows of chunks off the
                                32 MiB strip boundaries); b differs in one
                                element of each of the 64 chunks
    sparse_a.h5 / sparse_b.h5   /d: 2^34 float64 (128 GiB logical), chunks
                                of 2^17, one chunk written; b is a copy of a
  chunk_pairs.py compare A B    reads /d of both files whole with h5py and
                                prints the number of differing elements
                                (numpy, NaN against NaN counted equal)

GRID_ROWS / GZIP_ELEMENTS in the environment shrink the files for a dry run.
"""
import os
import shutil
import sys

import h5py
import numpy as np

GZIP_ELEMENTS = int(os.environ.get("GZIP_ELEMENTS", 1 << 27))
GRID_ROWS = int(os.environ.get("GRID_ROWS", 12000))
CHUNK = 1 << 17


def smooth(start, n):
    """Values that compress as measured data does: a slow wave, 4 decimals."""
    x = np.arange(start, start + n, dtype=np.float64)
    return np.round(np.sin(x * 1e-4) * 1000 + (x % 17) * 0.01, 4)


def write_gzip(d):
    path = os.path.join(d, "gzip_a.h5")
    with h5py.File(path, "w") as f:
        ds = f.create_dataset("d", (GZIP_ELEMENTS,), dtype="f8", chunks=(CHUNK,),
                              compression="gzip", shuffle=True)
        step = 32 * CHUNK
        for start in range(0, GZIP_ELEMENTS, step):
            n = min(step, GZIP_ELEMENTS - start)
            ds[start:start + n] = smooth(start, n)
    shutil.copyfile(path, os.path.join(d, "gzip_b.h5"))
    few = os.path.join(d, "gzip_c.h5")
    shutil.copyfile(path, few)
    with h5py.File(few, "r+") as f:
        ds = f["d"]
        for start in range(0, GZIP_ELEMENTS, 64 * CHUNK):
            ds[start + 12345] = -1.0


def write_grid(d):
    cols, crow, ccol = 8000, 1500, 1000
    for side in "ab":
        with h5py.File(os.path.join(d, "grid_%s.h5" % side), "w") as f:
            ds = f.create_dataset("d", (GRID_ROWS, cols), dtype="f4", chunks=(crow, ccol),
                                  compression="gzip")
            for r0 in range(0, GRID_ROWS, crow):
                r1 = min(r0 + crow, GRID_ROWS)
                block = (smooth(r0 * cols, (r1 - r0) * cols).reshape(r1 - r0, cols)).astype("f4")
                if side == "b":
                    # One element per chunk, at a place that moves with the chunk.
                    for c0 in range(0, cols, ccol):
                        i = (c0 // ccol * 7) % (r1 - r0)
                        block[i, c0 + (r0 // crow * 13) % ccol] += 1.0
                ds[r0:r1, :] = block


def write_sparse(d):
    path = os.path.join(d, "sparse_a.h5")
    with h5py.File(path, "w") as f:
        ds = f.create_dataset("d", (1 << 34,), dtype="f8", chunks=(CHUNK,))
        at = 1000 * CHUNK
        ds[at:at + CHUNK] = smooth(at, CHUNK)
    shutil.copyfile(path, os.path.join(d, "sparse_b.h5"))


def compare(a, b):
    with h5py.File(a, "r") as fa, h5py.File(b, "r") as fb:
        x = fa["d"][...]
        y = fb["d"][...]
    differ = (x != y) & ~(np.isnan(x) & np.isnan(y))
    print(int(np.count_nonzero(differ)))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "write":
        write_gzip(sys.argv[2])
        write_grid(sys.argv[2])
        write_sparse(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "compare":
        compare(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
