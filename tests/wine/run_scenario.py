#!/usr/bin/env python3
"""Runs one scenario with the host build (on hostwin) and with the Windows build (under Wine)
and compares what they left behind.

  run_scenario.py --list
  run_scenario.py --prepare --work DIR
  run_scenario.py NAME --work DIR --source DIR --host-bin DIR --win32 DIR

Everything a scenario needs is first staged into its own folder below DIR, so that the
unprivileged user Wine runs as (see unprivileged.py) needs no access to the source or build
trees. Exit codes: 0 agreed, 1 differed or failed, 77 skipped (no Wine here; never under
CI=true)."""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # the harness runs from the source tree; leave it clean
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import compare           # noqa: E402
import host_run          # noqa: E402
import scenario_machine  # noqa: E402
import scenarios         # noqa: E402
import stand_ins         # noqa: E402
import unprivileged      # noqa: E402
import wine_prefix       # noqa: E402
from wine_run import WineRun, drive_types  # noqa: E402

SKIP = 77
NEEDED = ("wine", "wineserver", "regedit", "Xvfb", "xdotool", "import", "i686-w64-mingw32-gcc")
PROGRAMS = {"unpellam": ("uninstaller", "unpellam"), "upgrade": ("upgrade", "upgrade")}


def unavailable(what):
    """Skips where the tools or the Windows build are missing, except under CI."""
    if os.environ.get("CI") == "true":
        print("The Wine suite must run under CI but cannot: " + what)
        sys.exit(1)
    print("Wine suite skipped: " + what)
    sys.exit(SKIP)


def check_tools():
    # Wine's loader is a 32-bit program: where the kernel runs none, the test command installs
    # no Wine (scripts/install-deps.sh), so the suite skips there even under CI.
    runs_32bit = os.path.join(HERE, "..", "..", "scripts", "host-runs-32bit.sh")
    if os.path.exists(runs_32bit) and subprocess.run(["bash", runs_32bit]).returncode != 0:
        print("Wine suite skipped: this host's kernel runs no 32-bit programs, so Wine cannot start")
        sys.exit(SKIP)
    missing = [t for t in NEEDED if not shutil.which(t)]
    if missing:
        unavailable("missing " + ", ".join(missing) + " (scripts/install-deps.sh installs them)")
    # Wine's loader is a 32-bit program: a host whose kernel runs no 32-bit programs (some
    # virtual machines) cannot run Wine at all, whatever is installed, so CI skips there too.
    try:
        subprocess.run(["wine", "--version"], capture_output=True, check=True)
    except (OSError, subprocess.CalledProcessError) as error:
        print("Wine suite skipped: Wine cannot start on this host (%s); this host's kernel "
              "runs no 32-bit programs" % error)
        sys.exit(SKIP)


def stage_harness(folder):
    shutil.copytree(HERE, os.path.join(folder, "harness"),
                    ignore=shutil.ignore_patterns("__pycache__", "CMakeLists.txt"))


def stage(args, scenario, folder):
    """The scenario's machine folder, both programs and the harness, below `folder`."""
    unprivileged.remove_tree(folder)
    os.makedirs(os.path.join(folder, "bin"))
    sub, name = PROGRAMS[scenario.program]
    exe = os.path.join(args.win32, sub, name + ".exe")
    host_program = os.path.join(args.host_bin, sub, name)
    if not os.path.exists(exe):
        unavailable("%s is not built (cmake --preset win32 && cmake --build --preset win32)" % exe)
    if not os.path.exists(host_program):
        print("the host program %s is missing" % host_program)
        sys.exit(1)
    shutil.copy(exe, os.path.join(folder, "bin", name + ".exe"))
    shutil.copy(host_program, os.path.join(folder, "bin", name))
    scenario_machine.prepare(args.source, scenario, os.path.join(folder, "machine"))
    stage_cdroms(scenario, folder)
    stage_harness(folder)


def stage_cdroms(scenario, folder):
    """A CD-ROM drive of the machine, with the Windows program where the scenario puts it,
    becomes a folder that nobody may change. Staged by root (as under CI), it also belongs to
    root, so that Wine cannot even change its files' attributes, as on a real CD."""
    machine = os.path.join(folder, "machine")
    for letter in cdrom_letters(machine):
        cd = os.path.join(folder, unprivileged.CDROM_FOLDER, letter)
        shutil.copytree(os.path.join(machine, letter), cd)
        if scenario.exe[0].lower() == letter:
            sub, name = PROGRAMS[scenario.program]
            shutil.copy(os.path.join(folder, "bin", name + ".exe"),
                        scenario_machine.windows_to_host(os.path.dirname(cd), scenario.exe))
        unprivileged.make_unchangeable(cd)


def cdrom_letters(machine):
    return sorted(d for d, t in drive_types(machine).items() if t == "cdrom")


def run(scenario, work, folder):
    name = PROGRAMS[scenario.program][1]
    machine = os.path.join(folder, "machine")
    started = time.time()
    host = host_run.run(scenario, machine, folder, os.path.join(folder, "bin", name))
    template = wine_prefix.ensure_template(work)
    helpers = stand_ins.build(work)
    wine, wine_changed = WineRun(scenario, machine, folder, template, helpers).run(
        os.path.join(folder, "bin", name + ".exe"))
    marked = [scenario.exe] + list(scenario.stand_ins)
    host.mark_programs(marked)
    wine.mark_programs(marked)
    verdict = compare.judge(scenario, os.path.join(machine, "registry.reg"), host, wine,
                            wine_changed, cdrom_letters(machine))

    print("scenario %s: %s  (%.1f s)" % (scenario.name, scenario.command, time.time() - started))
    mentioned = compare.mentioned_keys(os.path.join(machine, "registry.reg"))
    for label, outcome in (("host", host), ("Wine", wine)):
        gone = [k for k in mentioned if k not in outcome.registry]
        print("  %s: %d files and folders changed, %d of %d keys removed" % (
            label, len(compare.file_tree_changes(outcome)), len(gone), len(mentioned)))
    print("  boxes: host %s, Wine %s; photographs in %s" % (host.boxes, wine.boxes,
                                                           os.path.join(folder, "boxes")))
    if scenario.note:
        print("  note: " + scenario.note)
    for text in verdict.departures:
        print("  Wine departs from Windows 9x (judged by Windows 9x): " + text)
    for text in verdict.faults:
        print("  DIFFERENCE: " + text)
    if verdict.faults:
        print("-- host build's messages:\n" + host.log[-3000:])
        print("-- Windows build under Wine:\n" + wine.log[-3000:])
        return 1
    unprivileged.remove_tree(os.path.join(folder, "prefix"))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("name", nargs="?")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--prepare", action="store_true")
    parser.add_argument("--staged", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--work")
    parser.add_argument("--source")
    parser.add_argument("--host-bin")
    parser.add_argument("--win32")
    args = parser.parse_args()
    if args.list:
        print(";".join(s.name for s in scenarios.SCENARIOS))
        return 0
    check_tools()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    if args.prepare:
        folder = os.path.join(work, "prepare")
        if not args.staged:
            unprivileged.remove_tree(folder)
            os.makedirs(folder)
            stage_harness(folder)
            unprivileged.become_unprivileged(work, folder)
        wine_prefix.ensure_template(work)
        stand_ins.build(work)
        return 0
    scenario = scenarios.find(args.name)
    folder = os.path.join(work, scenario.name)
    if not args.staged:
        stage(args, scenario, folder)
        unprivileged.become_unprivileged(work, folder)
    return run(scenario, work, folder)


if __name__ == "__main__":
    sys.exit(main())
