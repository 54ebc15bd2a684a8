"""Wine prefixes for the scenarios: one template made once by wineboot, and a cheap clone of it
per scenario (files hard-linked, registry files copied)."""

import fcntl
import os
import shutil
import subprocess

REGISTRY_FILES = ("system.reg", "user.reg", "userdef.reg")
# Boxes are plain override-redirect windows, so no window manager is needed and a box does not
# wait for one (about 2 s a box otherwise).
TEMPLATE_SETTINGS = ("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"
                     "\"Managed\"=\"N\"\r\n\"Decorated\"=\"N\"\r\n")
WINE_VERSIONS = {"win95": "win95", "win98": "win98", "winme": "winme", "nt4": "nt40",
                 "win2000": "win2k", "winxp": "winxp"}


def wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True,
                          check=True).stdout.strip()


class Prefix:
    def __init__(self, path, display=None):
        self.path = path
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="fixme-all", WINEARCH="win32",
                        WINEDLLOVERRIDES="mscoree,mshtml=", HOME=os.path.dirname(path))
        self.log_file = os.path.join(os.path.dirname(path), "wine.log")
        self.env.pop("DISPLAY", None)
        if display:
            self.env["DISPLAY"] = display

    def start_server(self):
        """Keeps one wineserver (with its desktop) for the prefix's whole life: every wine
        command would otherwise start it anew, which costs seconds."""
        subprocess.run(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30, check=True)

    def host_path(self, windows_path):
        """The prefix's host file for a Windows path (drive letter and below, as written)."""
        return os.path.join(self.path, "drive_" + windows_path[0].lower(), *windows_path[3:].split("\\"))

    def wine(self, args, timeout=60, check=True):
        """Runs a Windows program and waits for it alone. Its output goes to a file: the
        helpers Wine starts beside it (services, the desktop) inherit its output and live
        on, so a pipe would only close when they end."""
        with open(self.log_file, "ab") as log:
            log.write(("> wine %s\n" % " ".join(args)).encode())
            log.flush()
            code = subprocess.run(["wine"] + args, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=log, timeout=timeout).returncode
        if check and code != 0:
            raise RuntimeError("wine %s ended with %d (see %s)" % (" ".join(args), code, self.log_file))
        return code

    def import_registry(self, host_file):
        """Imports a .reg file with Wine's regedit (the file must lie inside the prefix)."""
        self.wine(["regedit", "/s", self.windows_path_of(host_file)])

    def export_registry(self, key, host_file):
        """Exports a key with everything below it; False when the key does not exist."""
        code = self.wine(["regedit", "/e", self.windows_path_of(host_file), key], check=False)
        return code == 0 and os.path.exists(host_file)

    def windows_path_of(self, host_file):
        rel = os.path.relpath(host_file, os.path.join(self.path, "drive_c"))
        if rel.startswith(".."):
            raise ValueError(host_file + " is not on drive C: of the prefix")
        return "C:\\" + rel.replace("/", "\\")

    def wait(self, timeout=60):
        """Waits until every process of the prefix has ended (a batch may run on)."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout, check=False)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=30, check=False)


def ensure_template(work):
    """The template prefix below `work`, made when missing or made by another Wine version."""
    template = os.path.join(work, "template")
    stamp = os.path.join(work, "template.version")
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, "template.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        version = wine_version()
        if os.path.exists(stamp) and open(stamp).read() == version:
            return template
        shutil.rmtree(template, ignore_errors=True)
        prefix = Prefix(template)
        prefix.wine(["wineboot", "--init"], timeout=300)
        settings = os.path.join(template, "drive_c", "template-settings.reg")
        with open(settings, "w", newline="") as f:
            f.write(TEMPLATE_SETTINGS)
        prefix.import_registry(settings)
        os.remove(settings)
        prefix.stop()
        prefix.wait()
        with open(stamp, "w") as f:
            f.write(version)
        return template


def clone(template, path, display):
    """A new prefix at `path` sharing the template's files. Anything the scenario writes over
    must be unlinked first (see replace_file), so the template stays as it is."""
    shutil.rmtree(path, ignore_errors=True)
    subprocess.run(["cp", "-al", template, path], check=True)
    windows = os.path.join("drive_c", "windows")
    own_copies = list(REGISTRY_FILES) + [os.path.join(windows, n) for n in
                                         os.listdir(os.path.join(template, windows))
                                         if n.lower().endswith(".ini")]
    for name in own_copies:
        os.remove(os.path.join(path, name))
        shutil.copy2(os.path.join(template, name), os.path.join(path, name))
    prefix = Prefix(path, display)
    prefix.start_server()
    return prefix


def replace_file(source, target):
    """Copies a file to `target` without writing through a hard link to the template."""
    if os.path.lexists(target):
        os.remove(target)
    shutil.copy(source, target)
