#!/usr/bin/env python3
"""Loads the CSV and JSON Lines of `logbase csv` and `logbase parse --json` for
every sample log file and for a file of hostile records with the standard csv
and strict json modules, and checks every value against `logbase parse`.

usage: test_tool_outputs.py LOGBASE SAMPLE_SOURCES SAMPLE_FILES"""
import csv, io, json, os, re, shutil, struct, subprocess, sys, tempfile
import duckdb_load

LOGBASE, SOURCES, SAMPLES = sys.argv[1:4]
TABLE_KEYS = {"a": 69, "t": 41, "e": 17}  # keys of each category's table
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(*args, stdin=None, env=None):
    """The tool's result; `stdin` names a file fed to it through a pipe."""
    data = open(stdin, "rb").read() if stdin else b""
    return subprocess.run([LOGBASE, *args], input=data, capture_output=True, env=env and {**os.environ, **env})


def same_everywhere(commands, variants, base_args=(), stdin=None):
    """Each command's status, stdout and stderr the same with each variant
    (more arguments, environment) as with `base_args`."""
    for command in commands:
        base = run(*command, *base_args, stdin=stdin)
        for extra, env in variants:
            other = run(*command, *extra, env=env, stdin=stdin)
            check((other.returncode, other.stdout, other.stderr) == (base.returncode, base.stdout, base.stderr),
                  f"{command} {extra} {env}: {other.returncode} {other.stderr[-300:]} differs from {base.stderr[-300:]}")


def listing(path):
    """Each parsed record of `logbase parse`: its number, its (key, value bytes)."""
    records, items = [], None
    for line in run("parse", path).stdout.split(b"\n"):
        if line.startswith(b"record "):
            items = []
            records.append((int(line.split(b" ")[1][:-1]), items))
        elif line.startswith(b"  "):
            items.append(line)
    for i, (seq, lines) in enumerate(records):
        width = max(len(line[2:].split(b" ", 1)[0]) for line in lines)
        records[i] = seq, [(l[2:2 + width].rstrip().decode(), original(l[4 + width:])) for l in lines]
    return records


def text(value):
    """The form of CSV and JSON: valid UTF-8 stays, other bytes \\xhh, \\ doubled."""
    return value.replace(b"\\", b"\\\\").decode("utf-8", "backslashreplace")


def original(value):
    """The bytes back from that form (or from parse's, given as bytes)."""
    value = value.encode("utf-8") if isinstance(value, str) else value
    return re.sub(rb"\\(\\|x([0-9a-f]{2}))", lambda m: bytes([int(m[2], 16)]) if m[2] else b"\\", value)


def check_json(path, expected, several=False):
    out = run("parse", "--json", path, *([path] if several else [])).stdout
    lines = out.split(b"\n")
    check(lines.pop() == b"" and len(lines) == len(expected) * (2 if several else 1), path + ": JSON lines")
    for n, line in enumerate(lines):
        pairs = json.loads(line.decode("utf-8"), object_pairs_hook=list)  # strict UTF-8, strict JSON
        seq, record = expected[n % len(expected)]
        head = [("seq", seq)] + ([("file", path)] if several else [])
        want = head + [(k, text(v)) for k, v in record]
        check(pairs == want, f"{path}: JSON line {n}: {pairs} != {want}")
        check([original(v) for _, v in pairs[len(head):]] == [v for _, v in record], f"{path}: JSON round trip")


def csv_field(value):
    cell = text(value)
    return '"' + cell.replace('"', '""') + '"' if re.search('[,"\r\n]', cell) else cell


def check_csv(path, expected, letter, stdin=None, several=False):
    out = run("csv", "-" if stdin else path, *([path] if several else []), stdin=stdin).stdout.decode("utf-8")  # strictly
    rows = list(csv.reader(io.StringIO(out, newline=""), strict=True))
    lead = ["file"] if several else []
    header = rows.pop(0)
    check(header[:len(lead)] == lead and len(header) - len(lead) == TABLE_KEYS[letter] == len(set(header)) - len(lead),
          f"{path}: CSV header {header}")
    check(len(rows) == len(expected) * (2 if several else 1), f"{path}: {len(rows)} CSV rows")
    text = ",".join(header) + "\n"
    header = header[len(lead):]
    for row, (_, record) in zip(rows, expected * 2):
        values = dict(record)
        check(set(values) <= set(header), f"{path}: keys outside the header")
        cells = [path.encode()] * len(lead) + [values.get(key, b"") for key in header]
        check([original(c) for c in row] == cells, f"{path}: CSV row {row} != {cells}")
        text += ",".join(map(csv_field, cells)) + "\n"
    check(out == text, f"{path}: CSV quoted beyond need or not consistently ended")


def check_file(path, letter):
    expected = listing(path)
    check(len(expected) > 0, path + ": no records parsed")
    check_json(path, expected)
    check_csv(path, expected, letter)
    return expected


for version in ("v0", "v1", "v13"):
    for letter in "ate":
        check_file(os.path.join(SAMPLES, version, letter + "log.log"), letter)

# Hostile records: the first attack sample with values full of CSV and JSON
# hazards, one record that does not parse, in a version-13 file.
line = open(os.path.join(SOURCES, "attack.txt"), "rb").readline().rstrip(b"\n")
# Each hazard alone amid plain bytes (the 16-byte block scans), then all
# together in a short value (the byte-wise tail).
hazards = [b",", b'"q"', b"\r", b"\n", b"\\", b"\xe0\x80\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
           b"\xc0\x80", b"\xff", b"\x80", b"\x01", b"\x1f", b"\x7f", b"\t", b"\x00", b"\x08\x0c",
           b"\\xff", bytes(range(0x80, 0x100)), *(c.encode() for c in "é€😀\u2028")]
hostile = [b"-0123456789abcdef-" + h + b"-0123456789abcdef-" for h in hazards]
hostile.append(b"".join(hazards) + b"\xe2\x82")
# Past the first 32-byte block, and right at a block's end.
hostile += [b"y" * 40 + h + b"z" * 40 for h in (b",", b"\x01", b"\xff", b"\xe2\x82\xac")]
hostile.append(b"w" * 31 + b'"')
# Short values, whose one block the writers take inline: a byte to handle at
# the start, inside and at the end of a 16-byte block, and one past it.
hostile += [b",ab", b'q"', b"\\", b"\xff", b"0123456789abcde,", b"0123456789abcdef\n"]
# Cells a spreadsheet would take for formulas, and one it would not.
hostile += [b"=cmd|' /C calc'!A0", b"+1", b"@SUM(A1)", b"\t=1", b"\r=1", b"x=1"]
records = [re.sub(rb'http_url="[^"]*"', b'http_url="' + v.replace(b"\\", b"\\\\") + b'"', line)
           .replace(b"http_method=get", b"http_method=get,post") + b" \n" for v in hostile]
records.insert(2, b"v013xxxxdate=2026-11-20 not a record \n")
index = b"".join(struct.pack("<II", sum(map(len, records[:i])), len(r)) for i, r in enumerate(records))
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "alog.log")
    with open(path, "wb") as f:
        f.write(b"v013xxxx" + struct.pack("<IIII", 0, len(records), 0, len(records)) + index)
        f.write(b"".join(records))
    expected = check_file(path, "a")
    urls = [v for _, r in expected for k, v in r if k == "http_url"]
    check(urls == hostile, f"hostile values: {urls}")
    check_json(path, expected, several=True)
    check_csv(path, expected, "a", several=True)
    # DuckDB takes both outputs as they are, strictly: every row, each value
    # as the tool's text form gives it, numbers as numbers.
    for name, args in [("out.csv", ["csv", "--fields", "http_url,threat_weight"]),
                       ("out.jsonl", ["parse", "--json", "--numbers"])]:
        with open(os.path.join(tmp, name), "wb") as f:
            f.write(run(*args, path).stdout)
    loads = duckdb_load.query(
        f"SELECT http_url, threat_weight FROM read_csv('{tmp}/out.csv', header=true, strict_mode=true, "
        f"types={{'http_url': 'VARCHAR'}}) UNION ALL "
        f"SELECT http_url, threat_weight FROM read_json('{tmp}/out.jsonl', format='newline_delimited')")
    if loads is not None:
        weights = [int(dict(r)["threat_weight"]) for _, r in expected]
        check(loads == [{"http_url": text(u), "threat_weight": w} for u, w in zip(urls, weights)] * 2,
              f"DuckDB: {loads}")
    result = run("csv", path)
    check(result.returncode == 1 and b"record 2 does not parse: code -4" in result.stderr
          and result.stderr.endswith(f"1 of {len(records)} records failed ({path}: 1 of {len(records)})\n".encode()),
          f"failed record report: {result.returncode} {result.stderr}")
    # --jobs: batches on several threads give one job's bytes and messages,
    # over more batches than threads hold, with failed and unreadable records
    # (indexed before the record served before them), files of every
    # version, one cut short and two whose names give the wrong category (the
    # second's records all fail, a mebibyte of them in each batch).
    big, cut, misnamed, failing = (os.path.join(tmp, name) for name in
                                   ("big/alog.log", "cut/alog.log", "alog.7.log", "tlog.8.log"))
    os.mkdir(os.path.dirname(big))
    os.mkdir(os.path.dirname(cut))
    many = records * 45
    starts = [sum(map(len, many[:i])) for i in range(len(many))]
    big_index = b"".join(struct.pack("<II", 0 if i % 500 == 499 else at, len(r)) for i, (at, r) in enumerate(zip(starts, many)))
    data = b"v013xxxx" + struct.pack("<IIII", 0, len(many), 0, len(many)) + big_index + b"".join(many)
    for name, size in ((big, len(data)), (cut, len(data) // 4), (failing, len(data))):
        with open(name, "wb") as f:
            f.write(data[:size])
    shutil.copy(os.path.join(SAMPLES, "v13", "tlog.log"), misnamed)
    files = [big, os.path.join(SAMPLES, "v0", "alog.log"), os.path.join(SAMPLES, "v1", "alog.log"), cut, misnamed,
             failing]
    commands = [["cat"], ["parse"], ["parse", "--json"], ["csv"], ["csv", "--raw"],
                ["csv", "--where", "http_method=get,post"], ["count", "--by", "http_url"]]
    jobs = [(["--jobs", jobs], None) for jobs in ("2", "3")]
    same_everywhere([["--diagnostics", "off", *c, *files] for c in commands], jobs, ("--jobs", "1"))
    # The same through a pipe, whose records are read on a thread of their own.
    same_everywhere([["--diagnostics", "off", *c, "-"] for c in commands[:4]], jobs, ("--jobs", "1"), big)

    # Standard input has no name: the category comes from the type= items.
    other = os.path.join(tmp, "records.bin")
    os.link(path, other)
    check_csv(other, expected, "a", stdin=other)
    check(run("cat", "--raw", path).stdout == b"".join(records), "cat --raw")
    # The writers' scans on every path the machine has give the same bytes.
    outputs = [["csv", path], ["csv", "--spreadsheet", path, path], ["parse", "--json", path],
               ["parse", path], ["cat", path], ["count", "--by", "http_url", path]]
    same_everywhere(outputs, [([], {"LOGBASE_SIMD": simd}) for simd in ("avx2", "sse2", "portable")])
    # count --by: each hostile value once, in byte order, NUL included,
    # quoted and escaped as csv and parse --json do.
    rows = list(csv.reader(io.StringIO(run("count", "--by", "http_url", path).stdout.decode(
        "utf-8"), newline=""), strict=True))
    check(rows == [["http_url", "count"]] + [[text(u), "1"] for u in sorted(urls)],
          f"count --by CSV: {rows}")
    lines = run("count", "--by", "http_url", "--json", path).stdout.split(b"\n")[:-1]
    check([json.loads(l.decode("utf-8")) for l in lines] ==
          [{"http_url": text(u), "count": 1} for u in sorted(urls)],
          "count --by JSON")
    # --spreadsheet: a cell that starts a formula gets a leading ', the same
    # cell in csv and count.
    defused = [("'" if u[:1] in (b"=", b"+", b"-", b"@", b"\t", b"\r") else "") + text(u) for u in urls]
    for args, want in [(["csv", "--fields", "http_url"], [["http_url"]] + [[c] for c in defused]),
                       (["count", "--by", "http_url"], [["http_url", "count"]] + sorted([c, "1"] for c in defused))]:
        rows = list(csv.reader(io.StringIO(run(*args, "--spreadsheet", path).stdout.decode("utf-8"), newline=""),
                               strict=True))
        check(sorted(rows[1:]) == sorted(want[1:]) and rows[0] == want[0], f"{args} --spreadsheet: {rows}")
    # Categories that contradict.
    for args, message in [(["--category", "t", path], b"file name says attack, but --category says traffic"),
                          (["--category", "e", "-"], b"type= items say attack, but --category says event")]:
        result = run("parse", *args, stdin=other)
        check(result.returncode == 1 and message in result.stderr, f"{args}: {result}")
    misnamed = os.path.join(tmp, "alog.9.log")
    shutil.copy(os.path.join(SAMPLES, "v13", "tlog.log"), misnamed)
    result = run("csv", misnamed)
    check(b"the file name says attack, but record 0 is a traffic record" in result.stderr,
          f"misnamed file: {result.stderr}")
    with open(other, "r+b") as f:
        f.seek(len(b"v013xxxx") + 16 + len(index))
        f.write(b"v013xxxxdate=x type=nothing \n")
    result = run("parse", other)
    check(result.returncode == 1 and b"cannot tell the category: 'records.bin' is not a log file name"
          in result.stderr and b"(type=nothing)" in result.stderr, f"no category: {result.stderr}")

# Selecting: traffic records a second apart, the same in every command, the
# bounds at the exact second; count --by in order of count, then of bytes.
with tempfile.TemporaryDirectory() as tmp:
    os.environ.update(LOGBASE_HOST_DIR=tmp, TZ="UTC")
    first = open(os.path.join(SOURCES, "traffic.txt"), "rb").readline().rstrip(b"\n")
    sources = [b"10.0.0.2", b"10.0.0.10", b"10.0.0.10", b"10.0.0.2"] + [b"9.9.9.9"] * 3
    with open(os.path.join(tmp, "lines.txt"), "wb") as f:
        f.writelines(re.sub(rb" src=\S+", b" src=" + a, first.replace(b"time=09:00:01", b"time=08:00:%02d" % i))
                     + b"\n" for i, a in enumerate(sources))
    tlog, elog = os.path.join(tmp, "tlog.log"), os.path.join(SAMPLES, "v13", "elog.log")
    check(run("pack", "--version", "13", "--out", tlog, os.path.join(tmp, "lines.txt")).returncode == 0, "pack")
    for args, want in [([], 7), (["--since", "2026-11-20 08:00:02"], 5), (["--until", "2026-11-20T08:00:02"], 2),
                       (["--since", "2026-11-20-08:00:02", "--until", "2026-11-20 08:00:03"], 1),
                       (["--since", "2026-11-20"], 7), (["--until", "2026-11-20"], 0),
                       (["--where", "src=10.0.0.0/24 OR src=9.9.9.9 -src=10.0.0.2", "--until", "2026-11-20 08:00:06"], 4)]:
        outputs = [run(*command, *args, tlog).stdout for command in
                   (["count"], ["csv"], ["parse", "--json"], ["cat", "--raw"], ["csv", "--raw"])]
        counts = [int(outputs[0])] + [o.count(b"\n") - (i == 1) for i, o in enumerate(outputs[1:], 1)]
        check(counts == [want] * 5, f"{args}: {counts} records, not {want}")
    ranked = ",6\n9.9.9.9,3\n10.0.0.10,2\n10.0.0.2,2\n"
    check(run("count", "--by", "src", tlog, elog).stdout.decode() == "src,count\n" + ranked, "count --by order")
    check(run("count", "--by", "src", "--top", "2", tlog, elog).stdout.decode() == "src,count\n" + "".join(ranked.splitlines(True)[:2]),
          "count --top")

    # parse --json --numbers: plain decimal values of unquoted items, up to 15
    # digits, are numbers; leading zeros, -0, longer or quoted ones stay text.
    cases = {"src_port": (b"50122", 50122), "dst_port": (b"0", 0), "msg_id": (b"000008817300", "000008817300"),
             "http_request_time": (b"-3", -3), "http_response_time": (b"-0", "-0"), "http_retcode": (b"2x0", "2x0"),
             "http_request_bytes": (b"1234567890123456", "1234567890123456"),
             "http_response_bytes": (b"123456789012345", 123456789012345), "vd": (b'"123"', "123")}
    line = first
    for key, (value, _) in cases.items():
        line = re.sub(rb" " + key.encode() + rb"=(\S+)", b" " + key.encode() + b"=" + value, line)
    with open(os.path.join(tmp, "numbers.txt"), "wb") as f:
        f.write(line + b"\n")
    nlog = os.path.join(tmp, "tlog.1.log")
    run("pack", "--version", "13", "--out", nlog, os.path.join(tmp, "numbers.txt"))
    got = json.loads(run("parse", "--json", "--numbers", nlog).stdout)
    check({k: got.get(k) for k in cases} == {k: v for k, (_, v) in cases.items()}, f"--numbers: {got}")

    # A report's log filter end to end: its preview, a count by hand and Python
    # over parse --json select the same records.
    alog = os.path.join(SAMPLES, "v13", "alog.log")
    check(run("report", "define", "r", "--start", "2026-11-20 08:05", "--end", "2026-11-20 08:45",
              "--filter", "priN>='1' src!='203.0.113.9, 45.155.205.233'").returncode == 0, "define")
    preview = re.search(rb"\n" + alog.encode() + rb": (\d+) of 8 records selected\n$",
                        run("report", "preview", "r", alog).stdout)
    by_hand = run("count", "--where", "pri=emergency OR pri=alert -src=203.0.113.9 -src=45.155.205.233",
                  "--since", "2026-11-20 08:05", "--until", "2026-11-20 08:45:01", alog).stdout
    parsed = [json.loads(l) for l in run("parse", "--json", alog).stdout.splitlines()]
    by_python = sum("2026-11-20-08:05" <= r["date"] + "-" + r["time"] < "2026-11-20-08:45:01" and
                    r["pri"] in ("emergency", "alert") and r["src"] not in ("203.0.113.9", "45.155.205.233")
                    for r in parsed)
    rows = run("report", "preview", "r", "--csv", alog).stdout.count(b"\n") - 1
    check(preview and int(preview[1]) == int(by_hand) == by_python == rows == 3,
          f"preview {preview and preview[1]}, by hand {by_hand}, Python {by_python}, CSV {rows}")
    # Clauses the builder does not read: named by filter --check, refused by define.
    bad = "priN<='5' src=10.0.0.1 usr=='bob'"
    checked, refused = run("filter", "--check", bad), run("report", "define", "r", "--period", "today", "--filter", bad)
    check(checked.returncode == 1 and checked.stdout.startswith(b"byte 10: src=10.0.0.1: ") and
          checked.stdout.count(b"\n") == 2 and refused.returncode == 2 and checked.stdout in refused.stderr,
          f"bad filter text: {checked} {refused}")
    check(run("filter", "--check", "priN<='5' src=='10.0.0.1'").returncode == 0, "good filter text")
    check(b"src!='203.0.113.9" in run("report", "show", "r").stdout, "refused text stored")

for failure in failures:
    print("FAIL:", failure[:2000])
sys.exit(1 if failures else 0)
