"""Wine must not run as root: root may write read-only files, which Windows refuses, and a
prefix belongs to one user. As root (as in CI) the suite hands its work folder to a system user
of its own and starts itself again as that user."""

import os
import pwd
import shutil
import subprocess
import sys

USER = "pellamwine"
CDROM_FOLDER = "cdrom"  # staged CD-ROM drives: they stay root's


def _ensure_user():
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
                        "--shell", "/usr/sbin/nologin", USER], check=False, capture_output=True)
        return pwd.getpwnam(USER)


def _chown_tree(path, uid, gid):
    for base, dirs, names in os.walk(path):
        if base == path and CDROM_FOLDER in dirs:
            dirs.remove(CDROM_FOLDER)
            names = names + [CDROM_FOLDER]
        os.lchown(base, uid, gid)
        for name in names + dirs:
            os.lchown(os.path.join(base, name), uid, gid)


def become_unprivileged(work, staged):
    """As root: gives `work` (the folder itself) and `staged` (everything below) to the
    suite's user and runs this program again as that user. Otherwise returns at once."""
    if os.geteuid() != 0:
        return
    user = _ensure_user()
    os.makedirs("/tmp/.X11-unix", exist_ok=True)
    os.chmod("/tmp/.X11-unix", 0o1777)
    os.chown(work, user.pw_uid, user.pw_gid)
    if staged:
        _chown_tree(staged, user.pw_uid, user.pw_gid)
    script = os.path.join(staged, "harness", os.path.basename(sys.argv[0])) if staged else sys.argv[0]
    runner = shutil.which("runuser") or "runuser"
    # The system's Python: one installed below root's home would not be reachable.
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    os.execv(runner, [runner, "-u", USER, "--", python, script] + sys.argv[1:] + ["--staged"])


def make_unchangeable(path):
    """Takes the write permission from a folder and everything in it."""
    for base, dirs, names in os.walk(path, topdown=False):
        for name in names:
            full = os.path.join(base, name)
            os.chmod(full, os.stat(full).st_mode & 0o555)
        os.chmod(base, 0o555)


def remove_tree(path):
    """Removes a folder even where a scenario made parts of it read-only (a CD's files)."""
    if not os.path.lexists(path):
        return
    for base, dirs, _names in os.walk(path):
        for name in dirs:
            full = os.path.join(base, name)
            if not os.path.islink(full):
                os.chmod(full, 0o755)
    os.chmod(path, 0o755)
    shutil.rmtree(path)
