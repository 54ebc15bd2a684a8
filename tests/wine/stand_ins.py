"""Builds the small Windows helper programs of the suite (stand_ins/*.c) with MinGW-w64."""

import fcntl
import os
import subprocess

COMPILER = "i686-w64-mingw32-gcc"
SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stand_ins")


def build(work):
    """{name: .exe path} for every helper, rebuilt when its source is newer."""
    out_dir = os.path.join(work, "stand_ins")
    os.makedirs(out_dir, exist_ok=True)
    programs = {}
    with open(os.path.join(work, "stand_ins.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        for source in sorted(os.listdir(SOURCES)):
            if not source.endswith(".c"):
                continue
            name = source[:-2]
            exe = os.path.join(out_dir, name + ".exe")
            src = os.path.join(SOURCES, source)
            if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
                subprocess.run([COMPILER, "-O2", "-s", "-Wall", "-Werror", "-o", exe + ".tmp", src],
                               check=True)
                os.replace(exe + ".tmp", exe)
            programs[name] = exe
    return programs
