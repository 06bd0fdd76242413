"""Nothing lost: the rating tool over generated tests files, valid and damaged.

Every data row of the tests file is either in the results (its line in the
`line` column) or named on standard error as FILE:LINE; the exit status is 0
when every row was rated and 4 when some were named instead, and the results
are well-formed CSV either way. The same for the drop lines of F25 field
files whose drops carry damaged values (the F25 reader's handling of broken
record structure is checked with that reader).
Usage: nothing_lost.py RATE_TOOL SOURCE_DIR WORK_DIR [CASES]
"""
import csv
import os
import random
import re
import subprocess
import sys

rate, source, work = sys.argv[1:4]
cases = int(sys.argv[4]) if len(sys.argv) > 4 else 40
data = os.path.join(source, "tests", "data", "rating")
os.makedirs(work, exist_ok=True)
header = open(os.path.join(data, "tests.csv")).read().splitlines()[0].split(",")
good_rows = [r.split(",") for r in open(os.path.join(data, "tests.csv")).read().splitlines()[1:]]


# Each damage makes a row the reader or the library must refuse by itself.
def damage(row, rng):
    row = list(row)
    kind = rng.randrange(12)
    k = rng.randrange(1, len(row))
    if kind == 0:
        row[k] = rng.choice(["x", "", "1e400", "nan", "inf", "0x10", "1,5", "--2", '"3"'])
    elif kind == 1:
        del row[k]
    elif kind == 2:
        row.append("7")
    elif kind == 3:
        row[0] = rng.choice(["S9", "", "s1", "S1 x"])
    elif kind == 4:
        row[rng.randrange(3, 9)] = "-" + row[3]
    elif kind == 5:
        row[2] = "0"
    elif kind == 6:
        row[10] = rng.choice(["1e300", "-1e6", "250"])  # a surface temperature the library refuses
    elif kind == 7:
        row[1] = rng.choice(["30", "-1"])  # an hour the library refuses
    elif kind == 8:
        row[9] = "1e300"  # repetitions beyond any pavement's
    elif kind == 9:
        row[2] = "2e6"  # a load beyond the library's range
    elif kind == 10:
        row[0] = "S1#"  # a '#' inside a field is no comment
    else:
        row[k] = row[k] + "\t"  # trailing blanks are trimmed: this row stays valid
    return row


def generate(rng, path):
    order = list(range(len(header)))
    if rng.random() < 0.3:
        rng.shuffle(order)
    lines = []
    if rng.random() < 0.8:
        lines.append(",".join(header[i] for i in order))
    data_lines = []
    for _ in range(rng.randrange(1, 12)):
        if rng.random() < 0.15:
            lines.append(rng.choice(["", "# note", "   "]))
        row = rng.choice(good_rows)
        if rng.random() < 0.4:
            row = damage(row, rng)
        lines.append(",".join(row[i] if i < len(row) else "" for i in order) if len(row) == len(header) else ",".join(row))
        data_lines.append(len(lines))
    end = rng.choice(["\n", "\r\n", "\r"])
    with open(path, "w", newline="") as f:
        f.write(end.join(lines) + (end if rng.random() < 0.7 else ""))
    return data_lines


def named_lines(path, stderr):
    """Lines of `path` that standard error names as not rated or not used."""
    out = set()
    for line in stderr.splitlines():
        m = re.search(re.escape(path) + r":(\d+):", line)
        if m and ("not rated" in line or "not used" in line):
            out.add(int(m.group(1)))
    return out


def run_tool(*args):
    return subprocess.run([rate, "--data", source + "/data", "--threads", "1", *args], capture_output=True, text=True)


def check(case, rng):
    tests = os.path.join(work, f"tests{case}.csv")
    out = os.path.join(work, f"out{case}.csv")
    if os.path.exists(out):
        os.remove(out)
    data_lines = generate(rng, tests)
    p = run_tool("--sections", os.path.join(data, "sections.csv"), "--tests", tests, "--out", out)
    where = f"case {case} ({tests}), exit {p.returncode}:\n{p.stderr}"
    assert p.returncode in (0, 4), where
    rows = list(csv.reader(open(out, newline="")))
    assert rows[0][:3] == ["section", "test", "line"] and all(len(r) == 11 for r in rows), where
    rated = {int(r[2]) for r in rows[1:]}
    named = named_lines(tests, p.stderr)
    for line in data_lines:
        assert line in rated or line in named, f"line {line} lost; {where}"
    assert rated.isdisjoint(named) and rated <= set(data_lines), where
    assert (p.returncode == 4) == bool(set(data_lines) - rated), where


f25_lines = open(os.path.join(source, "data", "sample", "S2.f25")).read().splitlines()[:64]


def damage_f25_drop(line, rng):
    fields = line.split(",")
    k = rng.randrange(1, 8)
    fields[k] = rng.choice(["  0.0", " -12.5", "  x", "1e30", "", "  nan", " 99999.9"])
    return ",".join(fields)


def check_f25(case, rng):
    path = os.path.join(work, f"drops{case}.f25")
    out = os.path.join(work, f"drops{case}.csv")
    lines = list(f25_lines)
    drops = [i + 1 for i, l in enumerate(lines) if i >= 40 and re.match(r"\s*[1-9],", l)]
    for i in drops:
        if rng.random() < 0.35:
            lines[i - 1] = damage_f25_drop(lines[i - 1], rng)
    with open(path, "w", newline="") as f:
        f.write(rng.choice(["\n", "\r\n"]).join(lines) + "\n")
    p = run_tool("--sections", os.path.join(source, "data", "sample", "sections.csv"), "--f25", path,
                 "--f25-section", "S2", "--reps", "60000", "--drops", "all", "--method",
                 rng.choice(["design", "fit"]), "--out", out)
    where = f"F25 case {case} ({path}), exit {p.returncode}:\n{p.stderr}"
    assert p.returncode in (0, 4), where
    rows = list(csv.reader(open(out, newline="")))
    rated = {int(r[2]) for r in rows[1:]}
    named = named_lines(path, p.stderr)
    for line in drops:
        assert line in rated or line in named, f"drop line {line} lost; {where}"
    assert (p.returncode == 4) == bool(set(drops) - rated), where


rng = random.Random(3071)
for case in range(cases):
    check(case, rng)
for case in range(cases // 2):
    check_f25(case, rng)
print(f"{cases} generated tests files and {cases // 2} F25 files: every row and drop rated or named")
