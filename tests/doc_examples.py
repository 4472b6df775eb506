#!/usr/bin/env python3
"""Runs every example of the documentation as it is shown.

    doc_examples.py SOURCE_DIR BUILD_DIR TOOL_DIR -- CC [COMPILE AND LINK FLAGS...]

Documents: README.md, fuzz/README.md, bench/README.md and docs/*.md.

C examples: every ```c block is a whole program whose first line is a comment
naming its file (/* urls.c: ... */). Each is compiled as C99 with POSIX 2008
and the given flags (the build's sanitizers), and must be run by a session
(./urls ...), so that its output is shown.

Sessions: a ```sh block whose first line starts with "$ " is a terminal
session, run in a scratch folder holding the build's sample log files
(samples/v0, v1, v13) and the compiled C examples, with the tool on PATH. The
blocks of one document run in one shell, in order (so an export carries
over). A command continues on the next line after a trailing backslash;
stderr is shown merged into stdout; every command must end with status 0
(a failure meant to be shown says so: `|| echo "status $?"`). The lines
after a command are its output, compared after trailing blanks are dropped:
    ...          alone on a line stands for any number of lines;
    text ...     (ending in " ...") stands for a line that begins with text.
A ```sh block that runs the tool outside a session fails the check, so no
example of the tool escapes it.

The manual page's EXAMPLES are run too, each line in a folder holding copies
of the version-13 samples; they show no output, so only the status counts,
of every command of a pipeline (pipefail).
"""
import glob
import os
import re
import shutil
import subprocess
import sys

MARK = "@@doc-example-status "


def fenced_blocks(text):
    """(language, first line number, lines) of each fenced block."""
    return [(m[1].strip(), text.count("\n", 0, m.start()) + 2, m[2].splitlines())
            for m in re.finditer(r"^```([^\n]*)\n(.*?)^```", text, re.S | re.M)]


def session_commands(lines):
    """[(command, [shown output lines])] of a session block."""
    steps, i = [], 0
    while i < len(lines):
        command = lines[i][2:]
        while command.endswith("\\") and i + 1 < len(lines):
            i += 1
            command += "\n" + lines[i]
        i += 1
        shown = []
        while i < len(lines) and not lines[i].startswith("$ "):
            shown.append(lines[i])
            i += 1
        steps.append((command, shown))
    return steps


def matches(shown, actual):
    """Whether the actual output lines fit the shown ones with their elisions."""
    if not shown:
        return not actual
    head, rest = shown[0].rstrip(), shown[1:]
    if head == "...":
        return any(matches(rest, actual[k:]) for k in range(len(actual) + 1))
    if not actual:
        return False
    line = actual[0].rstrip()
    fits = line.startswith(head[:-4]) if head.endswith(" ...") else line == head
    return fits and matches(rest, actual[1:])


def run_shell(script, cwd, env, options=""):
    """Runs the commands in one bash; returns [(status, output lines)]."""
    text = options + "".join(f"{{ {c}\n}} 2>&1; printf '\\n{MARK}%d\\n' $?\n" for c in script)
    done = subprocess.run(["bash", "--norc", "--noprofile"], input=text, cwd=cwd, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300,
                          text=True, errors="replace")
    results, output = [], []
    for line in done.stdout.splitlines():
        if line.startswith(MARK):
            while output and output[-1] == "":
                output.pop()
            results.append((int(line[len(MARK):]), output))
            output = []
        else:
            output.append(line)
    return results


def scratch(build, name):
    folder = os.path.join(build, "doc-examples", name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


class Checker:
    def __init__(self, source, build, tool_dir, compiler):
        self.source, self.build, self.compiler = source, build, compiler
        self.programs = os.path.join(build, "doc-examples", "programs")
        self.env = dict(os.environ, PATH=tool_dir + os.pathsep + os.environ["PATH"], TZ="UTC",
                        LC_ALL="C", HOME=os.path.join(build, "doc-examples"))
        self.env.pop("LOGBASE_HOST_DIR", None)
        self.env.pop("LOGBASE_CRONTAB", None)
        self.failures, self.compiled, self.run_programs = [], {}, set()

    def fail(self, where, what):
        self.failures.append(f"{where}: {what}")

    def compile_c(self, where, lines):
        found = re.match(r"/\* (\w+)\.c", lines[0]) if lines else None
        if not found:
            return self.fail(where, "a C example must start with /* NAME.c ... */")
        name = found.group(1)
        path = os.path.join(self.programs, name + ".c")
        with open(path, "w") as out:
            out.write("\n".join(lines) + "\n")
        command = self.compiler[:1] + ["-std=c99", "-D_POSIX_C_SOURCE=200809L", "-Wall",
                                       "-Wextra", "-pedantic", "-Werror", "-o", path[:-2], path]
        done = subprocess.run(command + self.compiler[1:], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            return self.fail(where, f"{name}.c does not compile:\n{done.stdout}")
        self.compiled[name] = where

    def run_sessions(self, doc, sessions):
        folder = scratch(self.build, os.path.basename(doc) + ".run")
        os.symlink(os.path.join(self.build, "samples"), os.path.join(folder, "samples"))
        for name in self.compiled:
            os.symlink(os.path.join(self.programs, name), os.path.join(folder, name))
        steps = [(where, c, shown) for where, lines in sessions
                 for c, shown in session_commands(lines)]
        results = run_shell([c for _, c, _ in steps], folder, self.env)
        for (where, command, shown), (status, actual) in zip(steps, results):
            self.run_programs.update(re.findall(r"\./(\w+)", command))
            if status != 0 or not matches(shown, actual):
                self.fail(where, f"$ {command}\nstatus {status}, output:\n" + "\n".join(actual)
                          + "\n-- shown:\n" + "\n".join(shown))
        if len(results) != len(steps):
            self.fail(doc, f"the session stopped after {len(results)} of {len(steps)} commands")

    def check_markdown(self, doc):
        with open(doc) as source:
            blocks = fenced_blocks(source.read())
        sessions = []
        for lang, start, lines in blocks:
            where = f"{os.path.relpath(doc, self.source)}:{start}"
            if lang == "c":
                self.compile_c(where, lines)
            elif lang == "sh" and lines and lines[0].startswith("$ "):
                sessions.append((where, lines))
            elif lang == "sh" and any(re.match(r"\s*(logbase|\./\w+)\b", l) for l in lines):
                self.fail(where, "an example of the tool or a program outside a $ session")
        return sessions

    def check_manual(self, page):
        with open(page) as source:
            text = source.read()
        examples = text.split(".SH EXAMPLES", 1)[-1].split(".SH ", 1)[0]
        commands = []
        for block in re.findall(r"^\.nf\n(.*?)^\.fi", examples, re.S | re.M):
            lines = [l for l in block.splitlines() if not l.startswith(".")]
            joined = "\n".join(lines).replace("\\-", "-").replace("\\e", "\\")
            commands += [c for c in re.split(r"(?<!\\)\n", joined) if c.strip()]
        if not commands:
            return self.fail(page, "no EXAMPLES found")
        folder = scratch(self.build, "logbase.1.run")
        samples = os.path.join(self.build, "samples", "v13")
        for log in os.listdir(samples):
            shutil.copy(os.path.join(samples, log), folder)
        results = run_shell(commands, folder, self.env, "set -o pipefail\n")
        for command, (status, output) in zip(commands, results):
            if status != 0:
                self.fail("docs/logbase.1 EXAMPLES", f"{command}: status {status}\n"
                          + "\n".join(output))

    def check(self):
        shutil.rmtree(self.programs, ignore_errors=True)
        os.makedirs(self.programs)
        docs = [os.path.join(self.source, f) for f in ("README.md", "fuzz/README.md", "bench/README.md")]
        docs += sorted(glob.glob(os.path.join(self.source, "docs", "*.md")))
        sessions = {doc: self.check_markdown(doc) for doc in docs}
        for doc, found in sessions.items():
            if found:
                self.run_sessions(doc, found)
        for name, where in self.compiled.items():
            if name not in self.run_programs:
                self.fail(where, f"{name}.c is never run by a session (./{name} ...)")
        self.check_manual(os.path.join(self.source, "docs", "logbase.1"))
        print(f"{len(self.compiled)} C examples, "
              f"{sum(len(session_commands(l)) for s in sessions.values() for _, l in s)} "
              "session commands checked")
        for failure in self.failures:
            print("FAILED " + failure + "\n")
        return 1 if self.failures else 0


def main(argv):
    split = argv.index("--")
    source, build, tool_dir = argv[1:split]
    return Checker(source, build, tool_dir, argv[split + 1:]).check()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
