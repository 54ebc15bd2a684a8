#!/usr/bin/env python3
"""Shows what a run changed on a machine folder: its journal, then files and registry entries
that were removed, added or changed, and how many stayed."""
import json
import os
import sys


def read_registry(path):
    """Keys and values of a REGEDIT4 file as a set of readable lines (continuations joined)."""
    entries, key = set(), None
    if not os.path.exists(path):
        return entries
    with open(path, "rb") as f:
        text = f.read().decode("latin-1").replace("\r\n", "\n")
    logical, pending = [], ""
    for line in text.split("\n"):
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        logical.append(line)
    for line in logical:
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            # A key line stands for its parents too, whether or not the file lists them.
            parts = key.split("\\")
            for depth in range(2, len(parts) + 1):
                entries.add("\\".join(parts[:depth]))
        elif line and key and not line.startswith(";") and line != "REGEDIT4":
            entries.add(key + "  " + line)
    return entries


def read_files(root):
    files = {}
    for base, dirs, names in os.walk(root):
        for name in names:
            full = os.path.join(base, name)
            rel = os.path.relpath(full, root)
            if rel in ("journal.jsonl", "registry.reg") or "/" not in rel:
                continue
            with open(full, "rb") as f:
                files[rel] = f.read()
    return files


def main(before, after):
    journal = os.path.join(after, "journal.jsonl")
    if os.path.exists(journal):
        print("-- journal")
        with open(journal, encoding="latin-1") as f:
            for line in f:
                event = json.loads(line)
                kind = event.pop("event")
                print("   %-16s %s" % (kind, ", ".join("%s=%s" % (k, json.dumps(v)) for k, v in event.items())))
    fb, fa = read_files(before), read_files(after)
    rb = read_registry(os.path.join(before, "registry.reg"))
    ra = read_registry(os.path.join(after, "registry.reg"))
    print("-- files removed (%d)" % len(set(fb) - set(fa)))
    for name in sorted(set(fb) - set(fa)):
        print("   - " + name)
    changed = sorted(n for n in set(fb) & set(fa) if fb[n] != fa[n])
    print("-- files changed (%d)" % len(changed))
    for name in changed:
        print("   ~ %s (%d -> %d bytes)" % (name, len(fb[name]), len(fa[name])))
    for name in sorted(set(fa) - set(fb)):
        print("   + " + name)
    print("-- files kept: %d" % len(set(fb) & set(fa)))
    print("-- registry entries removed (%d)" % len(rb - ra))
    for entry in sorted(rb - ra):
        print("   - " + entry)
    for entry in sorted(ra - rb):
        print("   + " + entry)
    print("-- registry entries kept: %d" % len(rb & ra))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
