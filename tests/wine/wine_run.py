"""Runs a scenario with the Windows build under Wine: a prefix set to the machine's Windows
version, the machine's registry imported with regedit, its drive folders copied in, the
program started with the exact command line on a virtual screen where each box is found,
photographed and answered; then the registry and files are read back."""

import os
import re
import shutil
import stat
import subprocess
import time

import file_tree
import registry_file
import wine_prefix
from outcome import Outcome
from screen import BoxAnswerer, Screen
from unprivileged import CDROM_FOLDER

HARNESS_DIR = "wine-harness"  # the suite's own files on C:, left out of every comparison
# Wine's own files that change by themselves while it runs.
WINE_NOISE = ("c:\\users", "c:\\programdata", "c:\\" + HARNESS_DIR, "c:\\windows\\logs")


def _machine_ini(machine):
    with open(os.path.join(machine, "machine.ini"), encoding="latin-1") as f:
        return f.read()


def drive_types(machine):
    section = re.search(r"(?ms)^\[drives\](.*?)(^\[|\Z)", _machine_ini(machine))
    types = {}
    for line in (section.group(1) if section else "").splitlines():
        line = line.split(";")[0].strip()
        if "=" in line:
            letter, kind = (x.strip().lower() for x in line.split("=", 1))
            types[letter] = kind
    return types


def _copy_into(source, drives):
    """Copies a drive folder over the prefix's drive, merging folders without regard to case."""
    letter = os.path.basename(source)
    for base, _dirs, names in os.walk(source):
        rel = os.path.relpath(base, source)
        folder = letter + ":\\" + ("" if rel == "." else rel.replace("/", "\\"))
        for name in names:
            target = file_tree.resolve(drives, folder.rstrip("\\") + "\\" + name, create=True)
            wine_prefix.replace_file(os.path.join(base, name), target)
        for name in _dirs:
            target = file_tree.resolve(drives, folder.rstrip("\\") + "\\" + name, create=True)
            os.makedirs(target, exist_ok=True)


def files_in_use(machine):
    """The Windows paths listed under [in use] in machine.ini."""
    section = re.search(r"(?ms)^\[in use\](.*?)(^\[|\Z)", _machine_ini(machine))
    lines = (section.group(1) if section else "").splitlines()
    return [p for p in (line.split(";")[0].strip() for line in lines) if p]


def _settings(scenario, drive_types):
    version = wine_prefix.WINE_VERSIONS[scenario.version]
    lines = ["REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\Wine]", '"Version"="%s"' % version, "",
             "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]"]
    lines += ['"%s:"="%s"' % (d, "cdrom" if t == "cdrom" else "hd") for d, t in sorted(drive_types.items())]
    return "\r\n".join(lines) + "\r\n\r\n"


def _tail(path, size=3000):
    with open(path, "rb") as f:
        return f.read()[-size:].decode("latin-1")


def _make_read_only(host):
    os.chmod(host, os.stat(host).st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))


class WineRun:
    def __init__(self, scenario, machine, work, template, programs):
        self.scenario, self.machine, self.work = scenario, machine, work
        self.template, self.programs = template, programs

    def run(self, program_exe, timeout=60):
        screen = Screen()
        prefix = None
        try:
            prefix = wine_prefix.clone(self.template, os.path.join(self.work, "prefix"), screen.display)
            return self._run(prefix, screen, program_exe, timeout)
        finally:
            if prefix:
                prefix.stop()
            screen.close()

    def _drives(self, prefix):
        """{letter: host folder}: C: and the machine's drives in the prefix, CD-ROM drives as
        the staged folders nobody may change."""
        letters = [d for d in os.listdir(self.machine) if len(d) == 1]
        drives = {}
        for letter in sorted(set(letters) | {"c"}):
            folder = os.path.join(prefix.path, "drive_" + letter)
            staged = os.path.join(self.work, CDROM_FOLDER, letter)
            if os.path.isdir(staged):
                folder = staged
            else:
                os.makedirs(folder, exist_ok=True)
            link = os.path.join(prefix.path, "dosdevices", letter + ":")
            if not os.path.lexists(link):
                os.symlink(folder, link)
            drives[letter] = folder
        return drives

    def _run(self, prefix, screen, program_exe, timeout):
        s = self.scenario
        drives = self._drives(prefix)
        types = drive_types(self.machine)
        for letter in sorted(d for d in os.listdir(self.machine) if len(d) == 1):
            if types.get(letter) != "cdrom":
                _copy_into(os.path.join(self.machine, letter), drives)
        if types.get(s.exe[0].lower()) != "cdrom":  # else staged there already
            shutil.copy(program_exe, file_tree.resolve(drives, s.exe, create=True))
        for path, name in s.stand_ins.items():
            wine_prefix.replace_file(self.programs[name], file_tree.resolve(drives, path))
        read_only = file_tree.attribute_reader(os.path.join(self.machine, "attributes.txt"))
        for path, host in file_tree.host_files(drives, self._machine_paths(drives)).items():
            if os.path.isfile(host) and read_only(path, host) and types.get(path[0]) != "cdrom":
                _make_read_only(host)

        harness = os.path.join(prefix.path, "drive_c", HARNESS_DIR)
        os.makedirs(harness)
        with open(os.path.join(self.machine, "registry.reg"), "rb") as f:
            machine_registry = f.read().decode("latin-1")
        setup = os.path.join(harness, "setup.reg")
        with open(setup, "w", encoding="latin-1", newline="") as f:
            f.write(_settings(s, types) + re.sub(r"^REGEDIT4\r?\n", "", machine_registry))
        prefix.import_registry(setup)
        shutil.copy(self.programs["start_exact"], harness)
        request = os.path.join(harness, "request.txt")
        with open(request, "w", encoding="latin-1", newline="") as f:
            f.write(s.directory + "\r\n" + s.command + "\r\n")

        shutil.copy(self.programs["desktop_ready"], harness)
        prefix.wine([prefix.windows_path_of(os.path.join(harness, "desktop_ready.exe"))])
        self._hold_files_in_use(prefix, harness)
        before_stat = file_tree.stat_snapshot(drives, WINE_NOISE)
        machine_paths = self._machine_paths(drives)
        files_before = file_tree.entries_for(drives, machine_paths, file_tree.host_read_only)

        photos = os.path.join(self.work, "boxes")
        os.makedirs(photos, exist_ok=True)
        with open(prefix.log_file, "ab") as log:
            log.write(("> start_exact: %s\n" % s.command).encode("latin-1"))
            log.flush()
            started = subprocess.Popen(
                ["wine", prefix.windows_path_of(os.path.join(harness, "start_exact.exe")),
                 prefix.windows_path_of(request)],
                env=prefix.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        answerer = BoxAnswerer(screen, s.answers, photos, lambda: started.poll() is None)
        answerer.start()
        try:
            started.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            started.kill()
            raise
        answerer.join(timeout=20)
        self._wait_for_self_removal(drives, timeout)

        registry = self._read_registry(prefix, harness)
        prefix.stop()
        changed = file_tree.changes(before_stat, file_tree.stat_snapshot(drives, WINE_NOISE))
        files_after = file_tree.entries_for(drives, set(machine_paths) | set(changed),
                                            file_tree.host_read_only)
        return Outcome(exit_code=started.returncode, files_before=files_before,
                       files_after=files_after, registry=registry, boxes=answerer.boxes,
                       restart_requested=False,
                       log=_tail(prefix.log_file) + "\n".join(answerer.problems)), changed

    def _hold_files_in_use(self, prefix, harness):
        """Files the machine lists as in use are held open by a program of their own, as a
        running program holds its executable, until the prefix is stopped."""
        paths = files_in_use(self.machine)
        if not paths:
            return
        shutil.copy(self.programs["hold_open"], harness)
        with open(os.path.join(harness, "in-use.txt"), "w", encoding="latin-1", newline="") as f:
            f.write("".join(p + "\r\n" for p in paths))
        ready = os.path.join(harness, "held")
        with open(prefix.log_file, "ab") as log:
            subprocess.Popen(["wine", "C:\\%s\\hold_open.exe" % HARNESS_DIR,
                              "C:\\%s\\in-use.txt" % HARNESS_DIR, "C:\\%s\\held" % HARNESS_DIR],
                             env=prefix.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        deadline = time.time() + 30
        while not os.path.exists(ready):
            if time.time() > deadline:
                raise RuntimeError("the files in use could not be held open (see %s)" % prefix.log_file)
            time.sleep(0.05)

    def _machine_paths(self, drives):
        """The lower-case Windows paths of everything in the scenario's machine folder, and
        the program's own path."""
        paths = {self.scenario.exe.lower()}
        for letter in (d for d in os.listdir(self.machine) if len(d) == 1):
            snapshot = file_tree.stat_snapshot({letter: os.path.join(self.machine, letter)})
            paths.update(snapshot)
        parts = self.scenario.exe.lower().split("\\")
        paths.update("\\".join(parts[:i]) for i in range(2, len(parts)))
        return paths

    def _wait_for_self_removal(self, drives, timeout):
        """The upgrade program's self-removal batch runs on after the program has ended."""
        deadline = time.time() + timeout
        batch = file_tree.resolve(drives, self.scenario.directory[:3] + "PellamUpgradeDelUS.bat")
        while batch and os.path.exists(batch) and time.time() < deadline:
            time.sleep(0.1)

    def _read_registry(self, prefix, harness):
        """Every key the scenario mentions, read back through the registry API."""
        keys = registry_file.listed_keys(os.path.join(self.machine, "registry.reg"))
        listing = os.path.join(harness, "keys.txt")
        with open(listing, "w", encoding="latin-1", newline="") as f:
            f.write("".join(k + "\r\n" for k in keys))
        shutil.copy(self.programs["reg_read"], harness)
        out = os.path.join(harness, "registry-after.reg")
        prefix.wine([prefix.windows_path_of(os.path.join(harness, "reg_read.exe")),
                     prefix.windows_path_of(listing), prefix.windows_path_of(out)])
        return registry_file.read_registry(out)
