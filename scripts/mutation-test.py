#!/usr/bin/env python3
"""Mutation testing of the product code: how many small deliberate faults do the tests catch?

Makes one-line mutants of the sources in uninstaller/ and upgrade/ (or of one file), builds the
host tests once per mutant in a plain build directory of its own, runs the fast suites of the
mutated program (its unit tests, then its end-to-end run; never the benchmarks) and stops at the
first failure. A mutant that no test catches survives; the report lists each survivor as file,
line and change, with the mutation score.

    scripts/mutation-test.py --sample 300 --seed 7            # a fixed sample over both programs
    scripts/mutation-test.py upgrade/setup_launch.cpp         # every mutant of one file
    scripts/mutation-test.py --sample 90 --seed 7 upgrade     # a sample of one program
    scripts/mutation-test.py --list uninstaller/text_removal.cpp

Operators: swap a relational or equality operator, swap && and ||, negate the condition of an
if or while, change a numeric or boolean constant, delete a call statement, swap two adjacent
arguments of the same kind (two texts, two numbers or constants, two names). Array bounds are
left alone: a larger bound changes nothing a test can see, a smaller one only what a sanitizer
would see, and this build is not sanitized.

The source file is changed in place while its mutant is built and tested. Whatever happens
(failure, Ctrl-C, SIGTERM, SIGHUP) the original is written back; a copy of it is kept in the
build directory first, and a run that was killed outright is repaired by the next start.

A mutant whose object code is identical to the original's is equivalent: it is reported as such
and not tested. Survivors known to be equivalent are listed, with the reason, in
scripts/mutation-equivalents.txt; they count as killed and the report names each with its reason.
Mutants that do not compile are skipped and not counted: --sample N counts mutants that built.

The outcomes are kept in BUILD-DIR/results.json. --shard K/N splits one sample between N runs in
copies of the tree (each with --sample N/N-th of the total), --report-only merges their results
files into one report, and --retest tests the survivors of a results file again once the tests
have been strengthened (mutants that were killed stay killed as long as no check is removed).
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM_DIRS = ("uninstaller", "upgrade")
EQUIVALENTS = os.path.join(ROOT, "scripts", "mutation-equivalents.txt")

# What to build and run for a mutant of each program. {build} and {root} are filled in.
SUITES = {
    "uninstaller": {
        "targets": ["uninstaller_tests", "unpellam"],
        "runs": [
            ("uninstaller_tests", ["{build}/tests/uninstaller_tests", "--gtest_fail_fast", "--gtest_brief=1"]),
            ("unpellam_flow.sh", ["bash", "{root}/tests/end_to_end/unpellam_flow.sh", "{build}/uninstaller", "{root}"]),
        ],
    },
    "upgrade": {
        "targets": ["upgrade_tests", "upgrade", "unpellam"],
        "runs": [
            ("upgrade_tests", ["{build}/tests/upgrade_tests", "--gtest_fail_fast", "--gtest_brief=1"]),
            ("upgrade_flow.sh", ["bash", "{root}/tests/end_to_end/upgrade_flow.sh", "{build}/uninstaller", "{root}"]),
        ],
    },
}

KEYWORDS = {"if", "while", "for", "switch", "return", "sizeof", "catch", "throw", "delete", "new",
            "case", "else", "do", "static_cast", "reinterpret_cast", "const_cast", "alignof",
            "decltype", "defined"}


class Interrupted(Exception):
    """A signal asked the run to stop; raised so that every finally block runs."""


def on_signal(signum, _frame):
    raise Interrupted(signal.Signals(signum).name)


# ---- reading C++ lines ----------------------------------------------------------------------

def code_spans(line):
    """Splits a line into (start, end, kind) spans: 'code', 'str' (a text or character literal)
    and 'comment' (from // to the end). Block comments are handled by the caller."""
    spans, i, start, n = [], 0, 0, len(line)
    while i < n:
        c = line[i]
        if c in "\"'":
            if start < i:
                spans.append((start, i, "code"))
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            spans.append((i, min(j + 1, n), "str"))
            i = start = min(j + 1, n)
            continue
        if line.startswith("//", i):
            if start < i:
                spans.append((start, i, "code"))
            spans.append((i, n, "comment"))
            return spans
        i += 1
    if start < n:
        spans.append((start, n, "code"))
    return spans


def in_code(spans, pos):
    return any(s <= pos < e and k == "code" for s, e, k in spans)


def matching_paren(line, spans, open_pos):
    """The position of the parenthesis that closes the one at open_pos, or None on this line."""
    depth = 0
    for i in range(open_pos, len(line)):
        if not in_code(spans, i):
            continue
        if line[i] == "(":
            depth += 1
        elif line[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return None


def split_arguments(line, spans, start, end):
    """Top-level arguments between start and end (exclusive) as (start, end) spans."""
    args, depth, s = [], 0, start
    for i in range(start, end):
        if not in_code(spans, i):
            continue
        if line[i] in "([{":
            depth += 1
        elif line[i] in ")]}":
            depth -= 1
        elif line[i] == "," and depth == 0:
            args.append((s, i))
            s = i + 1
    args.append((s, end))
    return args


def argument_kind(text):
    text = text.strip()
    if re.fullmatch(r'"(?:[^"\\]|\\.)*"', text):
        return "text"
    if re.fullmatch(r"0[xX][0-9a-fA-F]+|\d+|[A-Z][A-Z0-9_]+", text):
        return "number"
    if re.fullmatch(r"[&*]?[A-Za-z_][\w.]*(?:->\w+)*", text) and text not in ("true", "false", "nullptr", "NULL"):
        return "name"
    return None


# ---- the operators --------------------------------------------------------------------------

RELATIONAL = {"==": ["!="], "!=": ["=="], "<": ["<="], "<=": ["<"], ">": [">="], ">=": [">"]}


def mutants_of_line(line):
    """Yields (new line, change) for every mutant of one line of code."""
    spans = code_spans(line)
    stripped = line.strip()
    if not stripped or stripped.startswith("#") or all(k != "code" for _, _, k in spans):
        return

    for m in re.finditer(r"(?<=\s)(==|!=|<=|>=|<|>|&&|\|\|)(?=\s)", line):
        if not in_code(spans, m.start()):
            continue
        op = m.group(1)
        swaps = RELATIONAL.get(op) or (["||"] if op == "&&" else ["&&"])
        for new in swaps:
            yield line[:m.start()] + new + line[m.end():], "'%s' -> '%s'" % (op, new)

    for m in re.finditer(r"\b(if|while) \(", line):
        if not in_code(spans, m.start()):
            continue
        open_pos = m.end() - 1
        close = matching_paren(line, spans, open_pos)
        if close is None:
            continue
        condition = line[open_pos + 1:close]
        if re.match(r"\s*(const\s+)?[\w:]+[\s*&]+\w+\s*=[^=]", condition):
            continue  # a declaration, which cannot be negated
        new = line[:open_pos + 1] + "!(" + condition + ")" + line[close:]
        yield new, "negate %s (%s)" % (m.group(1), condition.strip())

    for m in re.finditer(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)(?![\w.])|\b(true|false)\b", line):
        if not in_code(spans, m.start()):
            continue
        before = line[:m.start()].rstrip()
        after = line[m.end():].lstrip()
        if before.endswith("[") and after.startswith("]"):
            continue  # an array bound
        text = m.group(0)
        if text in ("true", "false"):
            news = ["false" if text == "true" else "true"]
        else:
            value = int(text, 0)
            values = [1] if value == 0 else [0, 2] if value == 1 else [value + 1, value - 1]
            hexa = text.lower().startswith("0x")
            news = [("0x%X" % v) if hexa else str(v) for v in values]
        for new in news:
            yield line[:m.start()] + new + line[m.end():], "'%s' -> '%s'" % (text, new)

    code_end = next((s for s, _, k in spans if k == "comment"), len(line))
    code = line[:code_end].rstrip()
    call = re.fullmatch(r"(\s*)(?:[A-Za-z_]\w*(?:::|\.|->))*([A-Za-z_]\w*)\s*\(.*\);", code)
    if call and call.group(2) not in KEYWORDS:
        open_pos = code.index("(", call.end(1))
        if matching_paren(line, spans, open_pos) == len(code) - 2:
            yield call.group(1) + "{}", "delete call %s" % code.strip()

    for m in re.finditer(r"\b([A-Za-z_]\w*)\(", line):
        if not in_code(spans, m.start()) or m.group(1) in KEYWORDS:
            continue
        open_pos = m.end() - 1
        close = matching_paren(line, spans, open_pos)
        if close is None or close == open_pos + 1:
            continue
        args = split_arguments(line, spans, open_pos + 1, close)
        for (s1, e1), (s2, e2) in zip(args, args[1:]):
            a, b = line[s1:e1], line[s2:e2]
            kind = argument_kind(a)
            if kind is None or kind != argument_kind(b) or a.strip() == b.strip():
                continue
            # Keep each argument's surrounding blanks in place.
            a_lead, b_lead = a[:len(a) - len(a.lstrip())], b[:len(b) - len(b.lstrip())]
            new = (line[:s1] + a_lead + b.strip() + a[len(a.rstrip()):] + line[e1:s2] +
                   b_lead + a.strip() + b[len(b.rstrip()):] + line[e2:])
            yield new, "swap arguments %s and %s of %s" % (a.strip(), b.strip(), m.group(1))


def mutants_of_file(relpath):
    """Every mutant of one source file as dicts: file, line (1-based), new text, change."""
    with open(os.path.join(ROOT, relpath), encoding="latin-1") as f:
        lines = f.read().split("\n")
    found, in_block = [], False
    for number, line in enumerate(lines, 1):
        if in_block:
            if "*/" in line:
                in_block = False
            continue
        if line.lstrip().startswith("/*"):
            in_block = "*/" not in line
            continue
        seen = set()
        for new, change in mutants_of_line(line):
            if new != line and new not in seen:
                seen.add(new)
                found.append({"file": relpath, "line": number, "new": new, "change": change,
                              "original": line.strip()})
    return found


def source_files(only):
    """The .cpp files to mutate: one file, one program's directory, or both directories."""
    dirs = PROGRAM_DIRS
    if only:
        rel = os.path.normpath(os.path.relpath(os.path.abspath(only), ROOT))
        if rel in PROGRAM_DIRS:
            dirs = (rel,)
        elif rel.split(os.sep)[0] in PROGRAM_DIRS and rel.endswith(".cpp") and os.path.isfile(os.path.join(ROOT, rel)):
            return [rel]
        else:
            sys.exit("mutation-test: %s is neither %s nor one of their .cpp files" % (only, " nor ".join(PROGRAM_DIRS)))
    files = []
    for d in dirs:
        files += sorted(os.path.join(d, n) for n in os.listdir(os.path.join(ROOT, d)) if n.endswith(".cpp"))
    return files


# ---- keeping the source safe ----------------------------------------------------------------

class SourceGuard:
    """Writes a mutant into the source tree and always puts the original back. The original
    is copied into the build directory first, with a note of the file in flight, so that a run
    killed outright (SIGKILL, power loss) is repaired by the next start."""

    def __init__(self, build):
        self.backup_dir = os.path.join(build, "mutation-backup")
        self.note = os.path.join(build, "mutation-in-flight")

    def repair(self):
        if not os.path.exists(self.note):
            return
        with open(self.note) as f:
            relpath = f.read().strip()
        backup = os.path.join(self.backup_dir, relpath)
        if os.path.exists(backup):
            self._write(relpath, open(backup, "rb").read())
            print("mutation-test: restored %s from the backup of an interrupted run" % relpath)
        os.remove(self.note)

    def _write(self, relpath, data):
        path = os.path.join(ROOT, relpath)
        temp = path + ".mutation-tmp"
        with open(temp, "wb") as f:
            f.write(data)
        os.replace(temp, path)

    def apply(self, mutant):
        path = os.path.join(ROOT, mutant["file"])
        original = open(path, "rb").read()
        backup = os.path.join(self.backup_dir, mutant["file"])
        os.makedirs(os.path.dirname(backup), exist_ok=True)
        with open(backup, "wb") as f:
            f.write(original)
        with open(self.note, "w") as f:
            f.write(mutant["file"])
        lines = original.decode("latin-1").split("\n")
        # A mutant from an earlier run is found again by its line's text, nearest to the line
        # it had; when that text is gone from the file the mutant no longer exists (None).
        at = [i for i, line in enumerate(lines) if line.strip() == mutant["original"]]
        if not at:
            return original, None
        i = min(at, key=lambda i: abs(i - (mutant["line"] - 1)))
        mutant["line"] = i + 1
        lines[i] = lines[i][:len(lines[i]) - len(lines[i].lstrip())] + mutant["new"].lstrip()
        return original, "\n".join(lines).encode("latin-1")

    def restore(self, relpath, original):
        # No signal may cut the restore short.
        blocked = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP})
        try:
            self._write(relpath, original)
            if os.path.exists(self.note):
                os.remove(self.note)
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, blocked)


# ---- building and testing -------------------------------------------------------------------

def run_group(command, cwd, timeout, log):
    """Runs a command in a process group of its own; kills the group when it is done or its
    time is up. Returns 'pass', 'fail' or 'timeout'."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("HOSTWIN_")}
    process = subprocess.Popen(command, cwd=cwd, stdout=log, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL, env=env, start_new_session=True)
    try:
        code = process.wait(timeout=timeout)
        return "pass" if code == 0 else "fail"
    except subprocess.TimeoutExpired:
        return "timeout"
    finally:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def configure(build):
    command = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=", "-DCMAKE_CXX_FLAGS=-O1",
               "-DPELLAM_SANITIZE=OFF", "-DPELLAM_BENCHMARKS=OFF", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"]
    if shutil.which("ccache"):
        command.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def build_targets(build, targets, log):
    # In a process group of its own, like the tests, so that an interrupted build stops at once.
    return run_group(["cmake", "--build", build, "-j2", "--target"] + targets, build, 3600, log) == "pass"


def objects_of(build):
    """Maps each source file (relative path) to the object files built from it."""
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    objects = {}
    for e in entries:
        rel = os.path.relpath(e["file"], ROOT)
        match = re.search(r"-o (\S+)", e["command"])
        if match:
            objects.setdefault(rel, []).append(os.path.join(e["directory"], match.group(1)))
    return objects


def digest(paths):
    h = hashlib.sha256()
    for p in sorted(paths):
        with open(p, "rb") as f:
            h.update(f.read())
    return h.hexdigest()


def run_suites(program, build, timeouts, log):
    """Runs the suites of one program in order; returns (outcome, the suite that decided)."""
    for name, command in SUITES[program]["runs"]:
        command = [c.format(build=build, root=ROOT) for c in command]
        outcome = run_group(command, os.path.join(build, "tests"), timeouts.get(name, 600), log)
        if outcome != "pass":
            return outcome, name
    return "pass", None


def load_equivalents():
    """Known equivalent mutants: file, change and original line, tab-separated, then why."""
    known = {}
    if os.path.exists(EQUIVALENTS):
        for line in open(EQUIVALENTS, encoding="utf-8"):
            if line.strip() and not line.startswith("#"):
                parts = line.rstrip("\n").split("\t")
                if len(parts) == 4:
                    known[tuple(parts[:3])] = parts[3]
    return known


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("file", nargs="?", help="uninstaller, upgrade, or one .cpp file of them (default: both)")
    parser.add_argument("--sample", type=int, help="test this many mutants that build, chosen at random")
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--shard", default="1/1", help="K/N: test only every N-th mutant of the sample's "
                        "order, starting with the K-th (run the N shards side by side in copies of the tree)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "mutation"))
    parser.add_argument("--list", action="store_true", help="list the mutants, build nothing")
    parser.add_argument("--results", help="where to keep the outcomes (default BUILD-DIR/results.json)")
    parser.add_argument("--retest", action="store_true",
                        help="test again only the survivors of the results file, with the current tests")
    parser.add_argument("--report-only", nargs="+", metavar="RESULTS",
                        help="report on results files (shards are merged), testing nothing")
    parser.add_argument("--report", help="also write the report to this file")
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    results_path = args.results or os.path.join(build, "results.json")

    if args.report_only:
        runs = [json.load(open(p)) for p in args.report_only]
        results = [r for run in runs for r in run["results"]]
        what = re.sub(r" \(shard \d+/(\d+)\)", r" (\1 shards merged)", runs[0]["what"]) if len(runs) > 1 else runs[0]["what"]
        return finish(apply_equivalents(results), sum(run["stillborn"] for run in runs),
                      what, sum(run["seconds"] for run in runs), args.report)

    mutants = [m for f in source_files(args.file) for m in mutants_of_file(f)]
    random.Random(args.seed).shuffle(mutants)
    shard, shards = (int(x) for x in args.shard.split("/"))
    mutants = mutants[shard - 1::shards]
    if args.list:
        for m in sorted(mutants, key=lambda m: (m["file"], m["line"])):
            print("%s:%d: %s" % (m["file"], m["line"], m["change"]))
        print("%d mutants" % len(mutants))
        return 0
    what = "seed %d, %s%s%s" % (args.seed, "sample %d" % args.sample if args.sample else "all mutants",
                                " (shard %s)" % args.shard if shards > 1 else "",
                                ", " + args.file if args.file else "")
    previous, stillborn = [], 0
    if args.retest:
        run = json.load(open(results_path))
        previous = [r for r in run["results"] if r["outcome"] != "survived"]
        mutants = [r for r in run["results"] if r["outcome"] == "survived"]
        what, args.sample, stillborn = run["what"], None, run["stillborn"]

    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)
    os.makedirs(build, exist_ok=True)
    guard = SourceGuard(build)
    guard.repair()
    log_path = os.path.join(build, "mutation.log")
    log = open(log_path, "w")
    wanted = args.sample if args.sample else len(mutants)
    programs = sorted({m["file"].split(os.sep)[0] for m in mutants})

    # The unmutated tree must build and pass; its run times set each suite's time limit.
    print("mutation-test: building and testing the unmutated tree in %s" % build, flush=True)
    configure(build)
    timeouts = {}
    for program in programs:
        if not build_targets(build, SUITES[program]["targets"], log):
            sys.exit("mutation-test: the unmutated tree does not build (see %s)" % log_path)
        for name, command in SUITES[program]["runs"]:
            start = time.monotonic()
            command = [c.format(build=build, root=ROOT) for c in command]
            if run_group(command, os.path.join(build, "tests"), 900, log) != "pass":
                sys.exit("mutation-test: %s fails without any mutant (see %s)" % (name, log_path))
            timeouts[name] = max(30.0, 4 * (time.monotonic() - start))
    objects = objects_of(build)
    originals = {f: digest(objects[f]) for f in {m["file"] for m in mutants} if f in objects}

    results, gone, started = [], [], time.monotonic()
    save = lambda: json.dump({"what": what, "results": previous + results, "stillborn": stillborn,
                              "seconds": time.monotonic() - started}, open(results_path, "w"), indent=1)
    try:
        for m in mutants:
            if len(results) >= wanted:
                break
            program = m["file"].split(os.sep)[0]
            original, mutated = guard.apply(m)
            if mutated is None:
                guard.restore(m["file"], original)
                gone.append(m)
                continue
            try:
                guard._write(m["file"], mutated)
                print("--- %s:%d: %s" % (m["file"], m["line"], m["change"]), file=log, flush=True)
                if not build_targets(build, SUITES[program]["targets"], log):
                    stillborn += 1
                    continue
                if m["file"] in originals and digest(objects[m["file"]]) == originals[m["file"]]:
                    outcome, decided = "equivalent", "the compiler emits the same code"
                else:
                    outcome, decided = run_suites(program, build, timeouts, log)
                    if outcome == "pass":
                        outcome, decided = "survived", None
                    else:
                        outcome = "killed" if outcome == "fail" else "killed (time-out)"
            finally:
                guard.restore(m["file"], original)
            m["outcome"], m["by"] = outcome, decided
            results.append(m)
            save()
            print("[%d/%d] %-10s %s:%d: %s%s" % (len(results), wanted, outcome.split()[0], m["file"],
                                                 m["line"], m["change"], "  (%s)" % decided if decided else ""),
                  flush=True)
    except Interrupted as stop:
        print("mutation-test: stopped by %s; the source is restored" % stop)
    finally:
        # Leave the build directory matching the restored sources.
        build_targets(build, sorted({t for p in programs for t in SUITES[p]["targets"]}), log)
        log.close()
        save()
    for m in gone:
        print("mutation-test: %s:%d no longer holds the line of %s" % (m["file"], m["line"], m["change"]))
    return finish(apply_equivalents(previous + results), stillborn, what, time.monotonic() - started,
                  args.report)


def apply_equivalents(results):
    """Survivors that scripts/mutation-equivalents.txt explains count as equivalent."""
    known = load_equivalents()
    for r in results:
        reason = known.get((r["file"], r["change"], r["original"]))
        if r["outcome"] == "survived" and reason:
            r["outcome"], r["by"] = "equivalent", reason
    return results


def finish(results, stillborn, what, seconds, report_path):
    report = make_report(results, stillborn, what, seconds)
    print(report)
    if report_path:
        with open(report_path, "w") as f:
            f.write(report)
    return 0


def make_report(results, stillborn, what, seconds):
    count = lambda what: sum(1 for r in results if r["outcome"].startswith(what))
    killed, survived, equivalent = count("killed"), count("survived"), count("equivalent")
    total = len(results)
    lines = ["", "Mutation score: %.1f%% (%d of %d mutants killed or equivalent)" %
             (100.0 * (killed + equivalent) / total if total else 0, killed + equivalent, total),
             "  %s; %d killed (%d by time-out), %d equivalent, %d survived; "
             "%d more did not compile; %.0f s" %
             (what, killed, count("killed (time-out)"), equivalent, survived, stillborn, seconds)]
    by_file = {}
    for r in results:
        s = by_file.setdefault(r["file"], [0, 0])
        s[0] += 1
        s[1] += r["outcome"] != "survived"
    lines.append("  per file: " + ", ".join("%s %d/%d" % (f, k, n) for f, (n, k) in sorted(by_file.items())))
    for title, what in (("Equivalent", "equivalent"), ("Survivors", "survived")):
        chosen = sorted((r for r in results if r["outcome"] == what), key=lambda r: (r["file"], r["line"]))
        if chosen:
            lines.append("%s:" % title)
            for r in chosen:
                lines.append("  %s:%d: %s    [%s]" % (r["file"], r["line"], r["change"], r["original"]))
                if r["by"]:
                    lines.append("      %s" % r["by"])
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Interrupted as stop:
        sys.exit("mutation-test: stopped by %s" % stop)
