#!/usr/bin/env python3
"""`logbase report run` end to end, inside a throwaway root: every chart of
every set against `logbase count --by` on generated logs of each category,
the documented variable table, hostile values, users hidden, the crontab's
command run by hand, and a run stopped through its pid file.

usage: test_report_run.py LOGBASE SAMPLE_SOURCES TOOL_DOC"""
import datetime, glob, json, os, random, re, subprocess, sys, tempfile, time
import duckdb_load

LOGBASE, SOURCES, DOC = sys.argv[1:4]
assert os.environ.get("LOGBASE_THROWAWAY_ROOT") == "1", "run inside throwaway_root"
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(*args, stdin=None):
    return subprocess.run([LOGBASE, *args], input=stdin, capture_output=True)


def setv(line, key, value):
    """The line with the item `key` holding `value` (quoted as it was)."""
    def put(m):
        quoted = m[2].startswith(b'"')
        return m[1] + key + b"=" + (b'"' + value + b'"' if quoted else value)
    return re.sub(rb"(^v\d{3}xxxx|^| )" + re.escape(key) + rb'=("[^"]*"|\S*)', put, line, count=1)


def templates(name):
    return [l.rstrip(b"\n") for l in open(os.path.join(SOURCES, name), "rb") if l.strip()]


def skewed(rng, pool):
    """Values of `pool` drawn so that a few are frequent and some tie."""
    return pool[min(int(rng.expovariate(0.35)), len(pool) - 1)]


def pack(path, version, lines):
    text = path + ".txt"
    open(text, "wb").write(b"\n".join(lines) + b"\n")
    result = run("pack", "--version", str(version), "--out", path, text)
    check(result.returncode == 0, f"pack {path}: {result.stderr}")


# The documented table: | `variable` | `key` | ... (— for none).
DOCUMENTED = {m[1]: m[2] for m in re.finditer(r"^\| `(\w+)` \| (?:`(\w+)`|—) \|", open(DOC).read(), re.M)}
check(len(DOCUMENTED) >= 30, f"documented variables: {DOCUMENTED}")
TIME_KEY = {"ihour": "time", "iwday": "date", "imonth": "date", "imday": "date", "iweek": "date", "idate": "date"}
DAYS = ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"]


def bucket(var, date, clock):
    d = datetime.date.fromisoformat(date)
    return {"ihour": clock[:2], "iwday": DAYS[(d.weekday() + 1) % 7], "imonth": date[:7], "imday": date[8:],
            "iweek": (d - datetime.timedelta(days=(d.weekday() + 1) % 7)).isoformat(), "idate": date}[var]


def ranked(totals):
    return sorted(totals, key=lambda v: (-totals[v], v))


def expected_rows(chart, counted):
    """The rows the chart must hold, from `count --by` rows, by the cut rules."""
    two = len(chart["vars"]) == 2
    pairs = {}
    for row in counted:
        x = bucket(chart["vars"][0], row["date"], row["time"]) if chart["by_time"] else row[chart["fields"][0]]
        y = row[chart["fields"][-1]] if two else None
        pairs[x, y] = pairs.get((x, y), 0) + row["count"]
    keep = dict(re.findall(r":keepTop([XY])=(\d+)", chart["query"]))
    xt, yt = {}, {}
    for (x, y), n in pairs.items():
        xt[x] = xt.get(x, 0) + n
        yt[y] = yt.get(y, 0) + n
    kept_x = set(xt) if chart["by_time"] or "X" not in keep else set(ranked(xt)[:int(keep["X"])])
    kept_y = set(yt) if "Y" not in keep else set(ranked(yt)[:int(keep["Y"])])
    rows = {}
    for (x, y), n in pairs.items():
        key = (x if x in kept_x else "Other", x not in kept_x,
               (y if y in kept_y else "Other") if two else None, two and y not in kept_y)
        rows[key] = rows.get(key, 0) + n
    return rows


def check_chart(chart, where, files, category_keys):
    what = f"chart {chart['id']} {chart['key']}"
    conditions = re.findall(r"(\w+)==(\S+)", chart["query"].split(" :vars=")[0])
    category = dict(conditions).get("type")
    keys = [DOCUMENTED.get(n) for n, _ in conditions] + [DOCUMENTED.get(v) for v in chart["vars"]]
    if category not in category_keys or not all(k in category_keys[category] for k in keys):
        check(chart["unavailable"] and chart["rows"] == [], f"{what}: should say it is not available")
        return
    check(chart["unavailable"] is None, f"{what}: unavailable: {chart['unavailable']}")
    check(chart["fields"] == [TIME_KEY.get(v, DOCUMENTED[v]) for v in chart["vars"]], f"{what}: fields")
    terms = " ".join(f"{DOCUMENTED[n]}={v}" for n, v in conditions)
    by = ["date", "time"] + chart["fields"][1:] if chart["by_time"] else chart["fields"]
    out = run("count", "--by", ",".join(dict.fromkeys(by)), "--json", "--where", where + " " + terms, *files[category])
    check(out.returncode == 0, f"{what}: count: {out.stderr}")
    counted = [json.loads(l) for l in out.stdout.decode("utf-8").split("\n")[:-1]]
    rows = chart["rows"]
    got = {}
    for r in rows:
        if r["count"]:
            got[r["x"], r.get("other_x", False), r.get("y"), r.get("other_y", False)] = r["count"]
    check(got == expected_rows(chart, counted), f"{what}: rows {got} != {expected_rows(chart, counted)}")
    if chart["by_time"]:  # every bucket in time order, empty ones as 0
        xs = list(dict.fromkeys(r["x"] for r in rows))
        check(all(r["count"] or r.get("y") is None for r in rows), f"{what}: an empty bucket with a value")
        check(xs == BUCKETS[chart["vars"][0]], f"{what}: buckets {xs}")
    else:  # by x's total, then Other; within an x by count, Other last; ties by value
        totals = {}
        for r in rows:
            totals[r["x"], r.get("other_x", False)] = totals.get((r["x"], r.get("other_x", False)), 0) + r["count"]
        order = [(r.get("other_x", False), -totals[r["x"], r.get("other_x", False)], r["x"],
                  r.get("other_y", False), -r["count"], r.get("y") or "") for r in rows]
        check(order == sorted(order), f"{what}: row order")


# Generated logs: attack (version 13, and version 0 of the oldest layout),
# traffic (version 1, oldest layout) and event (version 13), over five days
# of which the report's window takes three.
rng = random.Random(7)
dates = ["2026-11-19", "2026-11-20", "2026-11-21", "2026-11-22", "2026-11-23"]
users = [b"alice", b"bob", b"carol", b"dave", b"erin"]
pools = {
    b"src": [b"10.0.0.%d" % i for i in range(1, 16)], b"dst": [b"10.9.0.%d" % i for i in range(1, 9)],
    b"main_type": [b"SQL Injection", b"Cross Site Scripting", b"Known Exploits", b"Generic Attacks", b"Bad Robot",
                   b"Trojans", b"Information Disclosure", b"Brute Force Login", b"Illegal File Type", b"HTTP Protocol",
                   b"Cookie Poisoning", b"Illegal XML"],
    b"severity_level": [b"High", b"Medium", b"Low", b"Critical", b"Info", b"Unknown"],
    b"http_method": [b"get", b"post", b"put", b"delete", b"head"], b"policy": [b"shop-policy", b"blog-policy", b"api"],
    b"http_url": [b"/p%d" % i for i in range(14)], b"service": [b"http", b"https", b"ftp"],
    b"srccountry": [b"Germany", b"France", b"United States", b"Japan", b"Brazil", b"Chile"],
    b"http_host": [b"h%d.example.com" % i for i in range(8)], b"user_name": users, b"user": users,
    b"http_refer": [b"none", b"https://a/", b"https://b/"], b"http_version": [b"1.x", b"2.0"],
    b"signature_id": [b"0300%05d" % i for i in range(9)], b"http_session_id": [b"S%04d" % i for i in range(7)],
    b"pri": [b"information", b"notice", b"warning", b"error", b"critical", b"alert", b"emergency", b"debug"],
    b"status": [b"success", b"failure"], b"subtype": [b"auth", b"system", b"user", b"config"],
    b"msg": [b"User login failed", b"Disk almost full", b"Config changed", b"Link down", b"Fan failure"],
}


def generated(name, count):
    lines = []
    for i in range(count):
        line = templates(name)[i % len(templates(name))]
        line = re.sub(rb"date=\S+", b"date=" + rng.choice(dates).encode(), line, count=1)
        line = re.sub(rb" time=\S+", b" time=%02d:%02d:%02d" % (rng.randrange(24), rng.randrange(60), i % 60), line,
                      count=1)
        for key, pool in pools.items():
            line = setv(line, key, skewed(rng, pool))
        lines.append(line)
    return lines


work = tempfile.mkdtemp()
os.environ.update(LOGBASE_HOST_DIR=os.path.join(work, "store"), TZ="UTC")
logs = "/var/log/logbase-test"
os.makedirs(logs)
files = {"attack": [f"{logs}/alog.log", f"{logs}/alog.1.log"], "traffic": [f"{logs}/tlog.log"],
         "event": [f"{logs}/elog.log"]}
pack(files["attack"][0], 13, generated("attack.txt", 400))
pack(files["attack"][1], 0, generated("attack.layout0.txt", 150))
pack(files["traffic"][0], 1, generated("traffic.layout0.txt", 400))
pack(files["event"][0], 13, generated("event.txt", 600))
every = sum(files.values(), [])
category_keys = {c: run("csv", fs[0]).stdout.split(b"\n")[0].decode().split(",") for c, fs in files.items()}
BUCKETS = {"ihour": ["%02d" % h for h in range(24)], "iwday": DAYS, "imday": ["%02d" % d for d in range(1, 32)],
           "imonth": ["2026-11"], "iweek": ["2026-11-15", "2026-11-22"], "idate": dates[1:4]}
sets = "Report_pci_activity,Report_attack_activity,Report_traffic_activity,Report_event_activity"
window = ["--start", "2026-11-20 00:00", "--end", "2026-11-22 23:59"]
out = os.path.join(work, "out")
os.makedirs(out)


def define(name, *args):
    result = run("report", "define", name, *window, *args)
    check(result.returncode == 0, f"define {name}: {result.stderr}")


def report_of(name, *args, inputs=None):
    """Runs the report into `out`: its summary, folder and charts.json."""
    result = run("report", "run", name, *(inputs or every), "--out", out, *args)
    check(result.returncode == 0, f"run {name}: {result.stderr}")
    folder = re.search(rb"^output +(.*)$", result.stdout, re.M)[1].decode()
    return (result.stdout.decode() + result.stderr.decode(), folder,
            json.loads(open(os.path.join(folder, "charts.json"), "rb").read().decode()))


# Every chart of every set, each checked against count --by.
define("all", "--charts", sets, "--formats", "html,pdf,rtf,txt,mht")
settings = run("report", "settings", "all").stdout.decode()
where = re.search(r"^log filter  (.*)$", settings, re.M)[1]
ids = [int(i) for i in re.findall(r"^ +(\d+)  ", settings, re.M)]
summary, folder, document = report_of("all")
check(re.fullmatch(r"all-\d{4}-\d\d-\d\d-\d{4}", os.path.basename(folder)), f"folder name {folder}")
name = os.path.basename(folder)
check(sorted(os.listdir(folder)) == sorted(["charts.json", name + ".html", name + ".txt", name + ".mht"]),
      f"files {os.listdir(folder)}")
check("not produced pdf, rtf" in summary, f"summary: {summary}")
check(document["filter"] == where and [c["id"] for c in document["charts"]] == ids and len(ids) == 84,
      "charts.json: filter and chart ids")
selected = int(run("count", "--where", where, *every).stdout)
check(document["records_selected"] == selected and document["records_read"] == 1550, "record counts")
for chart in document["charts"]:
    check_chart(chart, where, files, category_keys)
check(sum(1 for c in document["charts"] if c["unavailable"]) == 6, "unavailable charts")
# The walkthrough's DuckDB queries, as the docs give them, over this run.
view, top, totals = [q for q in re.search(r"```sql\n(.*?)```", open(DOC).read(), re.S)[1].replace(
    "reports/daily-attacks-*/charts.json", os.path.join(folder, "charts.json")).split(";") if q.strip()]
top_rows, total_rows = duckdb_load.query(view + ";" + top), duckdb_load.query(view + ";" + totals)
if top_rows is not None:
    ts = next(c["rows"] for c in document["charts"] if c["key"] == "attacks-ts")
    check([r["count"] for r in top_rows] == sorted((r["count"] for r in ts), reverse=True)[:10] and
          all({"x": r["source"], "count": r["count"]}.items() <= next(t for t in ts if t["x"] == r["source"]).items()
              for r in top_rows), f"DuckDB top sources: {top_rows}")
    check({r["key"]: r["records"] for r in total_rows} ==
          {c["key"]: sum(r["count"] for r in c["rows"]) for c in document["charts"] if c["rows"]},
          f"DuckDB totals: {total_rows}")
# The run's page and its MHT as a browser renders them (77: no browser here).
page = subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_report_html.py"),
                       "--page", os.path.join(folder, name + ".html"), os.path.join(folder, "charts.json"),
                       os.path.join(folder, name + ".mht")], capture_output=True)
check(page.returncode in (0, 77), f"the run's page: {page.stdout.decode()}{page.stderr.decode()}")
refused = run("report", "run", "all", every[0], "--out", every[0])
check(refused.returncode == 1 and b"is no folder" in refused.stderr, f"--out a file: {refused.stderr}")
# A second run of the same minute gets a name of its own; on one thread it
# counts what the workers of the first counted.
_, second, alone = report_of("all", "--jobs", "1")
check(second != folder and os.path.isdir(folder), f"second run: {second}")
check({**alone, "output": "", "generated": ""} == {**document, "output": "", "generated": ""},
      "--jobs 1 and the default jobs disagree")

# Users hidden: the same numbers, no user's name. Its logos: the title logo
# copied, the header logo's name leads out of the logo folder and is left out.
define("hidden", "--charts", "net-username,ev-user-login,attacks-username,attacks-ts", "--formats", "txt",
       "--obfuscate-users")
os.makedirs("/migadmin/reportlogo/thumbs")
open("/migadmin/reportlogo/thumbs/logo.png", "wb").write(b"\x89PNG logo")
record = bytearray(open(os.path.join(work, "store", "reports", "hidden"), "rb").read())
record[396:405], record[780:800] = b"logo.png\0", b"../../../etc/passwd\0"
open(os.path.join(work, "store", "reports", "hidden"), "wb").write(record)
said, hidden_folder, hidden = report_of("hidden")
logos = [f for f in os.listdir(hidden_folder) if f.startswith("_rpt")]
check(logos == ["_rpt_title_logo.png"] and "logos left out" in said and "../../../etc/passwd" in said and
      open(os.path.join(hidden_folder, logos[0]), "rb").read() == b"\x89PNG logo", f"logos {logos}: {said}")
shown = {c["id"]: c for c in document["charts"]}
for chart in hidden["charts"]:
    check(sorted(r["count"] for r in chart["rows"]) == sorted(r["count"] for r in shown[chart["id"]]["rows"]),
          f"hidden {chart['key']}: counts")
    user_var = chart["vars"][0] != "src"
    check(all(re.fullmatch(r"user-[0-9a-f]{16}|Other|", r["x"]) or not user_var for r in chart["rows"]),
          f"hidden {chart['key']}: {chart['rows']}")
everything = b"".join(open(f, "rb").read() for f in glob.glob(hidden_folder + "/*"))
check(not any(u in everything for u in users), "a user's name in a report that hides them")

# Hostile values in every place that reaches the text and charts.json:
# values of records, the filter text, the input's path.
hazards = [b"<script>alert(1)</script>", b'"quoted" & \'single\'', b"\xff\xfe bad \xc0\x80 utf8 \xed\xa0\x80",
           b"tab\there\x01\x1f\x7f", b"back\\slash", b"]]></x><!--", "é€😀\u2028".encode(), b"Other",
           b"x" * 3800]
hostile_dir = os.path.join(logs, 'in "<b>" \xff'.encode("latin-1").decode("utf-8", "surrogateescape"))
os.makedirs(hostile_dir)
template = templates("attack.txt")[0]
short = b"v013xxxxdate=2026-11-21 time=10:00:00 log_id=1 msg_id=1 device_id=x vd=\"\" timezone=\"\" " \
        b"timezone_dayst=\"\" type=event subtype=\"auth\" pri=alert trigger_policy=\"\" user=bob ui=x action=login " \
        b"status=failure msg=\"m\""
alog, elog = os.path.join(hostile_dir, "alog.log"), os.path.join(hostile_dir, "elog.log")
# (The 3,800-byte value fills an event record to its limit of 4096 bytes.)
pack(alog, 13, [setv(setv(setv(template, b"main_type", h), b"http_url", h), b"user_name", h) for h in hazards[:-1]])
pack(elog, 13, [setv(setv(short, b"msg", h), b"user", b"<i>u%d</i>&" % i) for i, h in enumerate(hazards)])
define("hostile", "--charts", "attacks-type,attacks-url,ev-user-login,ev-all,attacks-username",
       "--formats", "txt", "--filter", "msg!='<b>\"&'")
hostile_folder, hostile = report_of("hostile", inputs=[alog, elog])[1:]
text = open(glob.glob(hostile_folder + "/*.txt")[0], "rb").read().decode("utf-8")  # strictly
check(not re.search(r"[\x00-\x09\x0b-\x1f\x7f]", text) and "<script>" in text, "text: control bytes")
check('<b>"&' in hostile["filter"] and 'in "<b>" \\xff/alog.log' in hostile["inputs"][0], "hostile filter and path")
for chart in hostile["charts"]:
    keys = [DOCUMENTED[v] for v in chart["vars"]]
    counted = run("count", "--by", ",".join(keys), "--json", *([alog] if chart["key"].startswith("att") else [elog]))
    values = {json.loads(l)[keys[-1]] for l in counted.stdout.decode("utf-8").split("\n")[:-1]}
    shown_values = {r.get("y", r["x"]) for r in chart["rows"] if not r.get("other_x") and not r.get("other_y")}
    cut = any(r.get("other_x") or r.get("other_y") for r in chart["rows"])
    check(shown_values <= values and (cut or shown_values == values) and len(values) >= 8,
          f"hostile {chart['key']}: values {shown_values} of {values}")

# The crontab's command, run by hand: /bin/run_sch_rpt is the appliance's
# runner; here a script that runs the report over the domain's log files.
define("nightly", "--charts", "attacks-ts", "--formats", "txt", "--schedule", "daily", "--time", "02:00")
check(run("report", "schedule", "nightly", "--domain", "lab").returncode == 0, "schedule")
line = open(os.path.join(work, "store", "crontab")).read().splitlines()[-1]
command = line.split(None, 5)[5]
check(command == "/bin/run_sch_rpt add nightly lab", f"crontab line {line}")
with open("/bin/run_sch_rpt", "w") as f:
    f.write(f'#!/bin/sh\n[ "$1" = add ] || exit 2\nexec {LOGBASE} report run "$2" --domain "$3" {" ".join(every)}\n')
os.chmod("/bin/run_sch_rpt", 0o755)
result = subprocess.run(command, shell=True, capture_output=True)
check(result.returncode == 0, f"scheduled command: {result.stderr}")
made = glob.glob("/var/log/Reports_adom/lab/nightly-*/charts.json")
check(len(made) == 1 and json.load(open(made[0]))["charts"][0]["rows"] == shown[15]["rows"], "scheduled report")
check(glob.glob("/var/log/Reports_adom/lab/nightly-*/nightly-*.txt"), "scheduled report's text")

# A run stopped through its pid file leaves no report; while it runs, its
# progress file holds what get_start_end_percent reads: the start time, then
# "secs: S, P% done", and the end time once it ended.
define("slow", "--charts", "attacks-ts", "--formats", "txt")
stopped_out = os.path.join(work, "stopped")
os.makedirs(stopped_out)
log = open(files["attack"][0], "rb").read()
pid_file, status_file = "/var/log/tmprpts_adom/root/slow/pid", "/var/log/tmprpts_adom/root/slow/.status"


def start_slow():
    """A run of `slow` fed half the log on its standard input, once its pid file is there."""
    child = subprocess.Popen([LOGBASE, "report", "run", "slow", "-", "--out", stopped_out], stdin=subprocess.PIPE,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    child.stdin.write(log[:len(log) // 2])
    child.stdin.flush()
    for _ in range(400):
        if os.path.exists(pid_file):
            break
        time.sleep(0.05)
    return child


def finish(child):
    """The rest of the log (a run that stopped at once reads no further), then its stderr."""
    try:
        child.stdin.write(log[len(log) // 2:])
        child.stdin.close()
    except BrokenPipeError:
        pass
    child.wait(timeout=60)
    return child.stderr.read()


child = start_slow()
check(open(pid_file).read().split()[0] == str(child.pid), "pid file")
progress = open(status_file).read().splitlines()
check(len(progress) == 2 and abs(int(progress[0]) - time.time()) < 60 and
      re.fullmatch(r"secs: \d+, 0% done", progress[1]), f"progress of a running report: {progress}")
again = run("report", "run", "slow", files["attack"][0], "--out", stopped_out)
check(again.returncode == 1 and b"going on already" in again.stderr, f"a second run at once: {again.stderr}")
stop = run("report", "stop", "slow")
check(stop.returncode == 0, f"stop: {stop.stderr}")
stderr = finish(child)
check(child.returncode == 1 and b"was stopped" in stderr, f"the stopped run: {child.returncode} {stderr}")
check(os.listdir(stopped_out) == [] and not os.path.exists(pid_file), f"after a stop: {os.listdir(stopped_out)}")
check(run("report", "stop", "slow").returncode == 1, "stop without a run")
progress = open(status_file).read().splitlines()
check(len(progress) == 2 and int(progress[1]) >= int(progress[0]), f"progress of an ended report: {progress}")
# SIGTERM stops it the same way.
child = start_slow()
child.terminate()
check(b"was stopped" in finish(child) and child.returncode == 1 and os.listdir(stopped_out) == [],
      "a run stopped by SIGTERM")

for failure in failures:
    print("FAIL:", failure[:2000])
sys.exit(1 if failures else 0)
