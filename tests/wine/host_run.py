"""Runs a scenario with the host build on a copy of its machine folder."""

import json
import os
import shutil
import subprocess
import time

import file_tree
import registry_file
from outcome import Outcome
from scenario_machine import windows_to_host


def _journal(machine):
    path = os.path.join(machine, "journal.jsonl")
    if not os.path.exists(path):
        return []
    with open(path, encoding="latin-1") as f:
        return [json.loads(line) for line in f if line.strip()]


def _wait_for_batch(machine, timeout):
    """A batch the program started runs on after it; wait until that batch has ended."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        events = [e["event"] for e in _journal(machine)]
        if "process-create" not in events or "batch-end" in events:
            return
        time.sleep(0.1)
    raise TimeoutError("the self-removal batch did not end within %d s" % timeout)


def _snapshot(machine):
    drives = {d: os.path.join(machine, d) for d in sorted(os.listdir(machine))
              if len(d) == 1 and os.path.isdir(os.path.join(machine, d))}
    reader = file_tree.attribute_reader(os.path.join(machine, "attributes.txt"))
    return file_tree.snapshot(drives, reader)


def run(scenario, machine_source, work, program, timeout=60):
    machine = os.path.join(work, "host")
    shutil.copytree(machine_source, machine, symlinks=True)
    exe = windows_to_host(machine, scenario.exe)
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    shutil.copy(program, exe)
    before = _snapshot(machine)
    env = dict(os.environ, HOSTWIN_MACHINE=machine, HOSTWIN_CMDLINE=scenario.command,
               HOSTWIN_ANSWERS=",".join(scenario.answers))
    started = subprocess.run([exe], cwd=windows_to_host(machine, scenario.directory), env=env,
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    _wait_for_batch(machine, timeout)
    journal = _journal(machine)
    return Outcome(
        exit_code=started.returncode,
        files_before=before,
        files_after=_snapshot(machine),
        registry=registry_file.read_registry(os.path.join(machine, "registry.reg")),
        boxes=[(e["caption"], e["answer"]) for e in journal if e["event"] == "msgbox"],
        restart_requested=any(e["event"] == "restart" for e in journal),
        deleted_keys=[e["key"] for e in journal if e["event"] == "reg-delete-key" and e.get("ok")],
        log=started.stderr.decode("latin-1"))
