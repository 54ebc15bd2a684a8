#!/usr/bin/env python3
"""The registry changes that a machine's journal reports as done, as a REGEDIT4 file that
`hostwin import` applies: the deleted keys, the deleted values, the created keys, then the
values set. The values set are those of the tests' registry writer, whose data is the value's
own name (the journal does not keep data); a value deleted later stays deleted.
   journal_changes.py JOURNAL > changes.reg"""
import json, sys
deleted_keys, deleted_values, created, sets = [], [], [], []
for line in open(sys.argv[1], encoding="latin-1"):
    e = json.loads(line)
    if not e.get("ok"):
        continue
    if e["event"] == "reg-delete-key":
        deleted_keys.append(e["key"])
    elif e["event"] == "reg-delete-value":
        deleted_values.append((e["key"], e["value"]))
    elif e["event"] == "reg-create-key":
        created.append(e["key"])
    elif e["event"] == "reg-set-value":
        sets.append((e["key"], e["value"]))
def text(s):
    return s.replace("\\", "\\\\").replace('"', '\\"')
out = ["REGEDIT4", ""]
out += ["[-%s]\n" % k for k in deleted_keys]
out += ["[%s]\n\"%s\"=-\n" % (k, text(v)) for k, v in deleted_values]
out += ["[%s]\n" % k for k in created]
gone = set(deleted_values)
out += ["[%s]\n\"%s\"=\"%s\"\n" % (k, text(v), text(v)) for k, v in sets if (k, v) not in gone]
sys.stdout.buffer.write("\r\n".join(out).replace("\n", "\r\n").replace("\r\r\n", "\r\n").encode("latin-1"))
