#!/usr/bin/env python3
"""Checks pmirlo's JSON report against the text report of the same run.

usage:
  json_report_check.py run TEXT JSON STATUS PROCS
      TEXT is what the run printed with -r --statistics; JSON its --json file.
  json_report_check.py same JSON1 JSON2
      the two documents are equal apart from elapsed seconds and process count.

Names are bytes: the text report prints them with control characters and
bytes that are not UTF-8 escaped (\\n, \\ooo), the JSON document as UTF-8 with
U+FFFD for invalid bytes and the exact bytes in a "<key>_bytes" field. The
exact bytes of the JSON side are escaped as the text prints them.
"""
import decimal
import json
import re
import sys

failures = []


def fail(msg):
    failures.append(msg)


def utf8_text_length(b, i):
    """Length of the well-formed UTF-8 sequence at b[i] that is not a C1
    control character, or 0."""
    def cont(k):
        return k < len(b) and (b[k] & 0xC0) == 0x80
    c = b[i]
    if 0xC2 <= c <= 0xDF:
        return 2 if cont(i + 1) and not (c == 0xC2 and b[i + 1] < 0xA0) else 0
    if 0xE0 <= c <= 0xEF:
        lo = 0xA0 if c == 0xE0 else 0x80
        hi = 0x9F if c == 0xED else 0xBF
        return 3 if i + 1 < len(b) and lo <= b[i + 1] <= hi and cont(i + 2) else 0
    if 0xF0 <= c <= 0xF4:
        lo = 0x90 if c == 0xF0 else 0x80
        hi = 0x8F if c == 0xF4 else 0xBF
        return 4 if i + 1 < len(b) and lo <= b[i + 1] <= hi and cont(i + 2) and cont(i + 3) else 0
    return 0


def printable(b):
    """The name's bytes as the text report prints them."""
    out = bytearray()
    i = 0
    escapes = {8: b"\\b", 9: b"\\t", 10: b"\\n", 12: b"\\f", 13: b"\\r"}
    while i < len(b):
        c = b[i]
        if 0x20 <= c < 0x7F:
            out.append(c)
            i += 1
            continue
        n = utf8_text_length(b, i) if c >= 0x80 else 0
        if n:
            out += b[i:i + n]
            i += n
            continue
        out += escapes.get(c, b"\\%03o" % c)
        i += 1
    return out.decode("utf-8", "surrogateescape")


def name(obj, key):
    """The name under key as the text report prints it."""
    raw = obj.get(key + "_bytes")
    exact = bytes.fromhex(raw) if raw is not None else obj[key].encode("utf-8")
    return printable(exact)


def number(v):
    """A value as the statistics line prints it (%g for floating values)."""
    if isinstance(v, str):
        return v  # nan, inf, -inf
    if isinstance(v, int):
        return str(v)
    return "%g" % v


def extreme(what, e):
    if e is None:
        return ""
    text = ", largest %s difference %s" % (what, number(e["value"]))
    if e["position"]:
        text += " at [ " + "".join("%d " % c for c in e["position"]) + "]"
    return text


# What the statistics line says beside the count when differences are not
# counted per element.
UNIT_WORDS = {"element": "", "character": " (one per differing character)", "byte": " (one per differing byte)",
              "value": " (one per differing value inside an element)"}


def not_below(v):
    """v with three significant digits, never below v: to nearest when that
    does not fall below it, else the next three-digit decimal up."""
    if isinstance(v, int):
        return str(v)
    near = "%.3g" % v
    if float(near) >= v:
        return near
    d = decimal.Decimal(v)
    up = d.quantize(decimal.Decimal(1).scaleb(d.adjusted() - 2), rounding=decimal.ROUND_CEILING)
    return "%g" % float(up)


def passing_tolerances(entry):
    """Under the exact rule every differing element is in the statistics:
    the largest differences are the smallest tolerances that pass."""
    ab, rel = entry["max_abs_difference"], entry["max_rel_difference"]
    if entry["tolerance"]["kind"] != "exact" or entry["nan_differences"] or ab is None or isinstance(ab["value"], str):
        return ""
    text = "; it would pass with --atol %s (the largest absolute difference)" % not_below(ab["value"])
    if entry["zero_first_value"] or rel is None or isinstance(rel["value"], str):
        return text
    return text + " or with --rtol %s (the largest relative difference)" % not_below(rel["value"])


def statistics_line(entry):
    nans = ", %d with a NaN" % entry["nan_differences"] if entry["nan_differences"] else ""
    return ("statistics: %d elements compared, %d differences" % (entry["elements_compared"], entry["differences"])
            + UNIT_WORDS[entry["difference_unit"]] + nans
            + extreme("absolute", entry["max_abs_difference"]) + extreme("relative", entry["max_rel_difference"])
            + passing_tolerances(entry))


class block:
    """One object's part of the text report."""

    def __init__(self):
        self.count = None
        self.positions = []
        self.statistics = None


def parse_text(path):
    """Blocks of the text report by ("dataset", path1, path2) or
    ("attribute", name, path1, path2)."""
    blocks = {}
    current = None
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8", "surrogateescape").splitlines()
    attr = re.compile(r"^attribute: <(.*) of <(.*)>> and <(.*) of <(.*)>>$")
    dset = re.compile(r"^dataset: <(.*)> and <(.*)>$")
    row = re.compile(r"^\[ ([0-9 ]*)\]")
    for line in lines:
        m = attr.match(line)
        if m:
            current = blocks.setdefault(("attribute", m.group(1), m.group(2), m.group(4)), block())
            continue
        m = dset.match(line)
        if m:
            current = blocks.setdefault(("dataset", m.group(1), m.group(2)), block())
            continue
        if current is None:
            continue
        m = re.match(r"^(\d+) differences found$", line)
        if m:
            current.count = int(m.group(1))
            continue
        if line.startswith("statistics: "):
            current.statistics = line
            continue
        m = row.match(line)
        if m:
            pos = [int(x) for x in m.group(1).split()]
            # Rows of one element (string characters, compound members)
            # share its position: one entry a differing element.
            if not current.positions or current.positions[-1] != pos:
                current.positions.append(pos)
    return blocks


def check_data(where, entry, text_block):
    if text_block is None:
        fail("%s: not in the text report" % where)
        return
    if text_block.count != entry["differences"]:
        fail("%s: text counts %s, JSON %d" % (where, text_block.count, entry["differences"]))
    # Rows of numeric data are one a differing element; those of other types
    # may be one a character, or (references) rows of the datasets referred to.
    positions = [d["position"] for d in entry["first_differences"] if "value1" in d]
    if positions and positions[0] and text_block.positions[:len(positions)] != positions:
        fail("%s: first differences %s, text rows %s" % (where, positions, text_block.positions[:len(positions)]))
    expected = statistics_line(entry) if entry["differences"] else None
    if text_block.statistics != expected:
        fail("%s: statistics line %r, expected %r" % (where, text_block.statistics, expected))


def check_run(text_path, json_path, status, procs):
    with open(json_path, "rb") as f:
        doc = json.load(f)
    blocks = parse_text(text_path)
    run = doc["run"]
    if doc["format"] != 1:
        fail("format %r" % doc["format"])
    if run["exit_status"] != status:
        fail("exit_status %d, the run ended with %d" % (run["exit_status"], status))
    if run["processes"] != procs:
        fail("processes %d, expected %d" % (run["processes"], procs))
    total = 0
    for pair in doc["pairs"]:
        p1, p2 = name(pair, "path1"), name(pair, "path2")
        total += pair["differences"] + sum(a["differences"] for a in pair["attributes"])
        if not pair["comparable"] and not pair.get("reason"):
            fail("%s: not comparable without a reason" % p1)
        if pair["kind"] == "dataset" and pair["comparable"] and "error" not in pair:
            check_data("dataset " + p1, pair, blocks.get(("dataset", p1, p2)))
        for a in pair["attributes"]:
            if a["comparable"] and "error" not in a:
                n = name(a, "name")
                check_data("attribute %s of %s" % (n, p1), a, blocks.get(("attribute", n, p1, p2)))
    if total != run["differences"]:
        fail("pairs add up to %d differences, the run says %d" % (total, run["differences"]))
    if status == 2 and not any("error" in p or any("error" in a for a in p["attributes"]) for p in doc["pairs"]) \
            and "error" not in run:
        fail("status 2 without an error in the document")


def check_same(path1, path2):
    docs = []
    for p in (path1, path2):
        with open(p, "rb") as f:
            doc = json.load(f)
        del doc["run"]["elapsed_seconds"]
        del doc["run"]["processes"]
        docs.append(doc)
    if docs[0] != docs[1]:
        fail("the documents differ beyond elapsed seconds and process count")


def main():
    try:
        if sys.argv[1] == "run":
            check_run(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
        else:
            check_same(sys.argv[2], sys.argv[3])
    except (OSError, ValueError, KeyError, TypeError) as e:
        fail("cannot check: %s: %s" % (type(e).__name__, e))
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
