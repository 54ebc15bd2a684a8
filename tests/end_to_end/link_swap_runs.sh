#!/usr/bin/env bash
# Whole uninstaller runs while another process swaps a folder of the machine with a link to a
# copy outside it, again and again (renameat2 RENAME_EXCHANGE): c/WINDOWS/SYSTEM in even runs,
# c/WINDOWS itself (with SYSTEM.INI) in odd ones. Each run may fail or work inside the folder;
# the copy outside must never change. HOSTWIN_SWAP_RUNS sets the runs (the soak label: 1000).
#   link_swap_runs.sh <directory of the built unpellam> <source root>
set -euo pipefail
exec python3 - "$1/unpellam" "$2/samples/win98-machine" "${HOSTWIN_SWAP_RUNS:-20}" <<'PYTHON'
import ctypes, hashlib, os, shutil, subprocess, sys, tempfile, threading

program, sample, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_EXCHANGE = -100, 2

def digest(folder):
    h = hashlib.sha256()
    for root, dirs, files in sorted(os.walk(folder)):
        dirs.sort()
        for name in sorted(files) + [d + "/" for d in dirs]:
            path = os.path.join(root, name.rstrip("/"))
            h.update(os.path.relpath(path, folder).encode())
            if not name.endswith("/"):
                with open(path, "rb") as f:
                    h.update(f.read())
    return h.hexdigest()

work = tempfile.mkdtemp()
swaps = changed = 0
try:
    for run in range(runs):
        machine, outside = os.path.join(work, "m"), os.path.join(work, "outside")
        shutil.rmtree(machine, ignore_errors=True)
        shutil.rmtree(outside, ignore_errors=True)
        shutil.copytree(sample, machine)
        swapped = os.path.join(machine, "c/WINDOWS" if run % 2 else "c/WINDOWS/SYSTEM")
        shutil.copytree(swapped, outside)
        before = digest(outside)
        link = swapped + ".link"
        os.symlink(outside, link)
        stop = threading.Event()
        def swap():
            global swaps
            a, b = swapped.encode(), link.encode()
            while not stop.is_set():
                if libc.renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0:
                    swaps += 1
        thread = threading.Thread(target=swap)
        thread.start()
        env = dict(os.environ, HOSTWIN_MACHINE=machine, HOSTWIN_ANSWERS="ok,cancel")
        try:
            subprocess.run([program, "all", "now", "silent"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        finally:
            stop.set()
            thread.join()
        if digest(outside) != before:
            changed += 1
            print(f"run {run}: the folder outside the machine changed")
finally:
    shutil.rmtree(work, ignore_errors=True)
print(f"{runs} runs, {swaps} swaps, {changed} changed outside")
sys.exit(1 if changed or swaps == 0 else 0)
PYTHON
