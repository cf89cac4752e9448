#!/usr/bin/env bash
# The JSON report (--json) and the statistics lines (--statistics) of real
# runs, at one and three processes: every document parses, agrees with the
# text report of the same run (counts, first differing positions, statistics
# lines, exit status), and the documents of the two process counts are equal
# apart from elapsed seconds and process count. The new options leave the
# text report as it was, and --json=- leaves only the document on standard
# output.
#
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
. "$(dirname "$0")/pmirlo_common.sh"
check="$(cd "$(dirname "$0")" && pwd)/json_report_check.py"

# expected status, words...: the run at 1 and 3 processes with -r, checked.
report() {
    local want=$1
    shift
    local n rc
    for n in 1 3; do
        rc=$(run "$n" "$work/text$n" -r --statistics --json="$work/doc$n.json" "$@")
        if [ "$rc" != "$want" ]; then
            echo "[$*] $n processes: status $rc, expected $want"; fail=1
        fi
        if ! python3 "$check" run "$work/text$n" "$work/doc$n.json" "$rc" "$n"; then
            echo "[$*] $n processes: the JSON report disagrees with the text report"; fail=1
        fi
    done
    if ! python3 "$check" same "$work/doc1.json" "$work/doc3.json"; then
        echo "[$*] the documents at 1 and 3 processes differ"; fail=1
    fi
    grep -avxF "$banner" "$work/text1" > "$work/text1.x"
    if ! diff -u "$work/text1.x" "$work/text3" > "$work/d"; then
        echo "[$*] the text at 1 and 3 processes differs"; head -20 "$work/d"; fail=1
    fi
    # The text report is the same without --json.
    run 1 "$work/plain" -r --statistics "$@" > /dev/null
    if ! diff -u "$work/plain" "$work/text1" > "$work/d"; then
        echo "[$*] --json changed the text report"; head -20 "$work/d"; fail=1
    fi
}

# Objects on one side only, attributes, links and a named datatype.
report 1 e2e_a.h5 e2e_b.h5
# Names that are not UTF-8, NaN and infinities, 64-bit extremes, strings, a
# pair that is not comparable.
report 1 json_a.h5 json_b.h5
# A pair compared in pieces by the workers, with and without a tolerance.
report 1 par_large_a.h5 par_large_b.h5
report 1 -d 0.5 par_large_a.h5 par_large_b.h5 /large
# Positions of a subset are positions in the dataset.
report 1 par_grid_a.h5 par_grid_b.h5 "/grid[1,1;2,2;2,2]"
# Kinds, shapes and classes that cannot be compared.
report 1 e2e_nc_a.h5 e2e_nc_b.h5
# Every type class, storage and shape of the dataset fixtures; a filter that
# is missing.
report 1 dset_a.h5 dset_b.h5
# Attributes on one side only, not comparable, of every shape.
report 1 attr_1.h5 attr_2.h5
# Rules per object: ignored objects and attributes, a combined tolerance and
# NaN equality by rule; the combined tolerance with --nan-equal over -N on
# NaNs, infinities and 64-bit extremes; a rule on a pair compared in pieces.
report 1 --rules rules_ok.toml rules_a.h5 rules_b.h5
# Which rule decided, as the rules file says: the ignored group and
# attributes are absent, the rules are in the options as read.
if ! python3 - "$work/doc3.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
pairs = {p["path1"]: p for p in doc["pairs"]}
assert not any(p.startswith("/diagnostics") for p in pairs), sorted(pairs)
assert not doc["only_in_first"] and not doc["only_in_second"]
want = {"/": (3, "exact"), "/counts": (3, "exact"), "/fields": (1, "atol_rtol"), "/fields/nans": (1, "atol_rtol"),
        "/fields/temp": (1, "atol_rtol"), "/fields/wind": (1, "atol_rtol")}
assert {p: (e["rule"], e["tolerance"]["kind"]) for p, e in pairs.items()} == want, pairs
assert pairs["/fields/temp"]["tolerance"] == {"kind": "atol_rtol", "atol": 1e-06, "rtol": 0.0001}
assert [a["name"] for a in pairs["/"]["attributes"]] == ["title"]
assert all(a["rule"] == 1 for a in pairs["/fields/temp"]["attributes"])
assert pairs["/fields/nans"]["nan_differences"] == 1 and pairs["/fields/nans"]["differences"] == 1
assert pairs["/fields/temp"]["differences"] == 0 and pairs["/counts"]["nan_differences"] == 0
rules = doc["run"]["options"]["rules"]
assert [r["path"] for r in rules] == ["/fields/**", "/diagnostics/**", "/**"]
assert rules[1] == {"path": "/diagnostics/**", "line": 6, "ignore": True}
PY
then
    echo "[--rules rules_ok.toml] the rules in the JSON report are wrong"; fail=1
fi
report 1 -N --nan-equal --atol 0.1 --rtol 0.01 --ignore-attribute "t*" json_a.h5 json_b.h5
printf '[[rule]]\npath = "/large"\natol = 0.5\n[[rule]]\npath = "/**"\nrelative = 0.1\n' > "$work/large.toml"
report 1 --rules "$work/large.toml" par_large_a.h5 par_large_b.h5
# Data that cannot be read: the pair's error, status 2.
report 2 dmg_base.h5 dmg_data_short.h5
# Structure alone: no values read, the storage of both sides kept.
report 1 --structure-only structure_a.h5 structure_b.h5
report 1 --structure-only dset_a.h5 dset_b.h5

# A structure-only document holds each dataset's storage on both sides; only
# the storage that differs is marked, and it counts no difference.
for n in 1 3; do
    run "$n" "$work/struct$n" --structure-only --json="$work/struct$n.json" structure_a.h5 structure_b.h5 > /dev/null
    python3 - "$work/struct$n.json" <<'EOF' || { echo "structure-only storage in JSON at $n processes"; fail=1; }
import json, sys
doc = json.load(open(sys.argv[1], "rb"))
pairs = {p["path1"]: p for p in doc["pairs"]}
stored = pairs["/stored"]
want1 = {"layout": "chunked", "chunk": [3],
         "filters": [{"id": 2, "name": "shuffle", "parameters": [4]}, {"id": 1, "name": "deflate", "parameters": [6]}],
         "fill_value": {"source": "user", "value": "-7"}}
want2 = {"layout": "contiguous", "chunk": None, "filters": [], "fill_value": {"source": "default", "value": "0"}}
checks = [
    doc["run"]["options"]["structure_only"] is True,
    (stored["storage1"], stored["storage2"], stored["storage_differs"], stored["differences"]) == (want1, want2, True, 0),
    all(("storage1" in p) == (p["kind"] == "dataset") for p in doc["pairs"]),
    [p for p in doc["pairs"] if p.get("storage_differs")] == [stored],
    pairs["/values"]["differences"] == 0 and doc["run"]["differences"] == 3,
]
sys.exit(0 if all(checks) else 1)
EOF
done

# What the JSON report says of names that are not UTF-8, of values that JSON
# has no numbers for, and of pairs that are not comparable.
run 1 "$work/out" --json="$work/names.json" json_a.h5 json_b.h5 > /dev/null
python3 - "$work/names.json" <<'EOF' || fail=1
import json, sys
doc = json.load(open(sys.argv[1], "rb"))
pairs = {p["path1"]: p for p in doc["pairs"]}
errors = []
def expect(what, got, want):
    if got != want:
        errors.append("%s: %r, expected %r" % (what, got, want))
latin = pairs.get("/caf\ufffd", {})
expect("Latin-1 name bytes", latin.get("path1_bytes"), "2f636166e9")
expect("UTF-8 name", "path1_bytes" in pairs.get("/temp\u00e9rature", {"path1_bytes": 1}), False)
expect("attribute name bytes", pairs["/g\ufffd"]["attributes"][0].get("name_bytes"), "74fe")
expect("only in first", doc["only_in_first"], [{"path": "/only_a\ufffd", "path_bytes": "2f6f6e6c795f6180",
                                                 "kind": "dataset"}])
special = pairs["/special"]
expect("largest absolute difference", special["max_abs_difference"], {"value": "inf", "position": [1, 0]})
expect("first differences", [(d["value1"], d["value2"]) for d in special["first_differences"]],
       [("nan", 2.0), (4.0, "-inf"), (6.0, 6.5)])
expect("64-bit difference", pairs["/wide"]["max_abs_difference"]["value"], 18446744073709551615)
expect("no relative difference against 0", pairs["/uwide"]["max_rel_difference"], None)
expect("string difference", pairs["/words"]["first_differences"], [{"position": [0]}])
expect("what a string difference counts", pairs["/words"]["difference_unit"], "character")
expect("what a number difference counts", pairs["/wide"]["difference_unit"], "element")
expect("not comparable", (pairs["/mixed"]["comparable"], pairs["/mixed"]["reason"]),
       (False, "different type classes: H5T_INTEGER and H5T_FLOAT"))
for e in errors:
    print(e)
sys.exit(1 if errors else 0)
EOF

# Elements proven equal without being read (chunks written in neither file)
# count as compared, at every process count.
for n in 1 3; do
    run "$n" "$work/large$n" --json="$work/large$n.json" par_large_a.h5 par_large_b.h5 > /dev/null
    python3 - "$work/large$n.json" <<'EOF' || { echo "elements compared of a chunked pair at $n processes"; fail=1; }
import json, sys
pairs = {p["path1"]: p for p in json.load(open(sys.argv[1], "rb"))["pairs"]}
large = pairs["/large"]
sys.exit(0 if (large["elements_compared"], large["differences"]) == (40000000, 9) else 1)
EOF
done

# A link whose target differs counts in the JSON totals, while the text prints
# its count line only under -v: without -v the text's count lines add up to
# the JSON total less one per such link, with -v to the total.
for n in 1 3; do
    for mode in "" -v; do
        run "$n" "$work/links$n$mode" $mode --json="$work/links$n$mode.json" e2e_links_a.h5 e2e_links_b.h5 > /dev/null
        python3 - "$work/links$n$mode" "$work/links$n$mode.json" "$mode" <<'EOF' ||
import json, re, sys
text = open(sys.argv[1], "rb").read().decode("utf-8", "surrogateescape")
doc = json.load(open(sys.argv[2], "rb"))
counted = sum(int(m) for m in re.findall(r"^(\d+) differences found$", text, re.M))
links = [p for p in doc["pairs"] if p["kind"] == "link" and p["differences"] > 0]
want = doc["run"]["differences"] - (0 if sys.argv[3] == "-v" else len(links))
sys.exit(0 if len(links) == 2 and counted == want else 1)
EOF
        { echo "link differences in text and JSON at $n processes ${mode:-without -v}"; fail=1; }
    done
done

# A run that fails before matching the member lists says nothing of them.
for n in 1 3; do
    run "$n" "$work/missing$n" --json="$work/missing$n.json" e2e_a.h5 no_such_file.h5 > /dev/null
    python3 - "$work/missing$n.json" <<'EOF' || { echo "contents_equal of a failed run at $n processes"; fail=1; }
import json, sys
run = json.load(open(sys.argv[1], "rb"))["run"]
sys.exit(0 if run["contents_equal"] is None and "error" in run and run["exit_status"] == 2 else 1)
EOF
done

# --json=- : standard output carries the document and nothing else.
for n in 1 3; do
    run "$n" "$work/stdout$n" -r --statistics --json=- e2e_a.h5 e2e_b.h5 > /dev/null
    if ! python3 -c 'import json, sys; json.load(open(sys.argv[1], "rb"))' "$work/stdout$n" 2> "$work/err"; then
        echo "--json=- at $n processes: standard output is not one JSON document"; head -5 "$work/err"; fail=1
    fi
done
if ! python3 "$check" same "$work/stdout1" "$work/stdout3"; then
    echo "--json=-: the documents at 1 and 3 processes differ"; fail=1
fi

# A report that cannot be written stops the run with status 2 and says why.
rc=$(run 1 "$work/bad" --json="$work/no/such/folder/r.json" e2e_a.h5 e2e_b.h5)
if [ "$rc" != 2 ] || ! grep -q 'cannot write the JSON report' "$work/bad.err"; then
    echo "unwritable --json file: status $rc"; cat "$work/bad.err"; fail=1
fi

# A report named after a file being compared is refused, and the file kept.
cp "$fix/e2e_a.h5" "$work/keep.h5"
cp "$work/keep.h5" "$work/keep.orig"
rc=$(run 1 "$work/self" --json="$work/keep.h5" "$work/keep.h5" e2e_b.h5)
if [ "$rc" != 2 ] || ! grep -q 'would overwrite a file being compared' "$work/self.err" ||
    ! cmp -s "$work/keep.h5" "$work/keep.orig"; then
    echo "--json naming a compared file: status $rc"; cat "$work/self.err"; fail=1
fi

exit $fail
