"""Makes a scenario's machine folder: a copy of its sample with the scenario's changes."""

import os
import re
import shutil

SAMPLES = "samples"


def _rewrite(path, change):
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    with open(path, "wb") as f:
        f.write(change(text).encode("latin-1"))


def _drop_uninstall_key(text):
    return re.sub(r"\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
                  r"\\SM56BRL\][^\[]*", "", text)


def _drop_warning_title(text):
    return re.sub(r'"WarningTitle"="[^\r\n]*\r?\n', "", text)


def _devices_missing(text):
    return re.sub(r"(?m)^(br10(core|setp)\.vxd)=installed", r"\1=missing", text)


def _copy_package_to_temp(machine):
    temp = os.path.join(machine, "c", "WINDOWS", "TEMP")
    os.makedirs(temp, exist_ok=True)
    for folder in ("PELLAM", "ZX7Demos"):
        shutil.copytree(os.path.join(machine, "d", folder), os.path.join(temp, folder))


def windows_to_host(machine, path):
    """The machine folder's file for a Windows path such as C:\\WINDOWS\\X.EXE."""
    return os.path.join(machine, path[0].lower(), *path[3:].split("\\"))


def prepare(source_root, scenario, machine):
    """Copies the sample to `machine` and applies the scenario's edits and version."""
    shutil.copytree(os.path.join(source_root, SAMPLES, scenario.sample), machine, symlinks=True)
    ini = os.path.join(machine, "machine.ini")
    _rewrite(ini, lambda t: re.sub(r"(?m)^version=\S+", "version=" + scenario.version, t))
    reg = os.path.join(machine, "registry.reg")
    for edit in scenario.edits:
        if edit == "no-uninstall-key":
            _rewrite(reg, _drop_uninstall_key)
        elif edit == "no-warning-title":
            _rewrite(reg, _drop_warning_title)
        elif edit == "devices-missing":
            _rewrite(ini, _devices_missing)
        elif edit == "package-in-temp":
            _copy_package_to_temp(machine)
        else:
            raise ValueError("unknown edit " + edit)
