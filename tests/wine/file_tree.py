"""Snapshots of drive folders as Windows sees them: paths without regard to letter case, each
entry a folder or a file with its contents and read-only attribute."""

import hashlib
import os
import stat

FOLDER = ("folder",)


def snapshot(drives, read_only=None, skip=()):
    """{'c:\\windows\\system.ini': entry} for every folder and file below the drive folders.
    drives: {'c': host folder}; read_only(path, host path) tells the read-only attribute;
    skip: lower-case Windows path prefixes to leave out (another system's own files)."""
    entries = {}
    for letter, root in drives.items():
        for base, dirs, names in os.walk(root):
            rel = os.path.relpath(base, root)
            prefix = letter + ":" + ("" if rel == "." else "\\" + rel.replace("/", "\\"))
            for name in dirs:
                path = (prefix + "\\" + name).lower()
                if not path.startswith(skip):
                    entries[path] = FOLDER
            for name in names:
                host = os.path.join(base, name)
                path = (prefix + "\\" + name).lower()
                if path.startswith(skip) or not os.path.isfile(host):
                    continue
                with open(host, "rb") as f:
                    digest = hashlib.sha1(f.read()).hexdigest()[:12]
                entries[path] = ("file", digest, bool(read_only and read_only(path, host)))
    return entries


def host_read_only(_path, host):
    """The read-only attribute as a Unix file system shows it: no write permission."""
    return not os.stat(host).st_mode & stat.S_IWUSR


def changes(before, after):
    """{path: (before entry or None, after entry or None)} for every path that differs."""
    return {p: (before.get(p), after.get(p)) for p in set(before) | set(after)
            if before.get(p) != after.get(p)}


def attribute_reader(attributes_txt):
    """A read_only function over a machine folder's attributes.txt, as it is now."""
    read_only = set()
    if os.path.exists(attributes_txt):
        with open(attributes_txt, encoding="latin-1") as f:
            for line in f:
                bits, _, name = line.rstrip("\r\n").partition("\t")
                if name and int(bits, 16) & 1:
                    read_only.add(name.lower())
    return lambda path, _host: path in read_only


def stat_snapshot(drives, skip=()):
    """{path: what stat says} for every entry below the drive folders: cheap enough for a
    whole Wine prefix, and enough to tell which entries a run touched."""
    entries = {}
    for letter, root in drives.items():
        for base, dirs, names in os.walk(root):
            rel = os.path.relpath(base, root)
            prefix = letter + ":" + ("" if rel == "." else "\\" + rel.replace("/", "\\"))
            for name in dirs + names:
                path = (prefix + "\\" + name).lower()
                if path.startswith(skip):
                    continue
                st = os.lstat(os.path.join(base, name))
                entries[path] = (stat.S_IFMT(st.st_mode), st.st_ino, st.st_size, st.st_mtime_ns,
                                 st.st_mode & 0o777)
    return entries


def host_files(drives, paths):
    """{path: host file} for the given lower-case Windows paths that exist below the drive
    folders, each name matched without regard to case."""
    found = {}
    for path in paths:
        host = resolve(drives, path)
        if host and os.path.lexists(host):
            found[path] = host
    return found


def resolve(drives, windows_path, create=False):
    """The host path of a Windows path, each name matched without regard to case; a name
    that does not exist keeps its case (and, with create, its folders are made)."""
    root = drives.get(windows_path[0].lower())
    if root is None:
        return None
    current = root
    parts = [p for p in windows_path[3:].split("\\") if p]
    for i, part in enumerate(parts):
        match = None
        if os.path.isdir(current):
            match = next((n for n in os.listdir(current) if n.lower() == part.lower()), None)
        current = os.path.join(current, match or part)
        if create and i < len(parts) - 1 and not os.path.isdir(current):
            os.mkdir(current)
    return current


def entries_for(drives, paths, read_only=None):
    """The snapshot entries of just these lower-case Windows paths (those that exist)."""
    out = {}
    for path, host in host_files(drives, paths).items():
        if os.path.isdir(host):
            out[path] = FOLDER
        elif os.path.isfile(host):
            with open(host, "rb") as f:
                digest = hashlib.sha1(f.read()).hexdigest()[:12]
            out[path] = ("file", digest, bool(read_only and read_only(path, host)))
    return out
