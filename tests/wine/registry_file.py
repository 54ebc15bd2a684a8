"""Reads regedit export files into comparable form: the REGEDIT4 files of the machine folders
(8-bit text) and the "Windows Registry Editor Version 5.00" files that regedit /e writes on
NT-style systems (UTF-16). Strings are compared as text, so the two encodings meet."""

import codecs

TEXT_TYPES = (1, 2, 7)  # REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ


def _decode(raw):
    if raw.startswith(codecs.BOM_UTF16_LE):
        return raw[2:].decode("utf-16-le"), True
    return raw.decode("cp1252", errors="replace"), False


def _logical_lines(text):
    """Joins the lines continued with a trailing backslash (byte lists)."""
    lines, pending = [], None
    for line in text.replace("\r\n", "\n").split("\n"):
        if pending is not None:
            line = pending + line.lstrip()
            pending = None
        if line.endswith("\\") and not line.startswith("[") and "=hex" in line:
            pending = line[:-1]
            continue
        lines.append(line)
    return lines


def _unquote(text, start):
    """Reads a quoted text from text[start] (a quote); returns (text, index after it)."""
    out, i = [], start + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"n": "\n", "0": "\0"}.get(nxt, nxt) if nxt in '\\"n0' else "\\" + nxt)
            i += 2
        elif c == '"':
            return "".join(out), i + 1
        else:
            out.append(c)
            i += 1
    raise ValueError("unterminated text: " + text)


def _value(data, unicode_file):
    """(type, comparable data) of the text after '='."""
    if data.startswith('"'):
        return 1, _unquote(data, 0)[0]
    if data.startswith("dword:"):
        return 4, int(data[6:], 16)
    if data.startswith("hex"):
        kind = 3
        head, _, body = data.partition(":")
        if head.startswith("hex("):
            kind = int(head[4:-1], 16)
        raw = bytes(int(b, 16) for b in body.replace(" ", "").split(",") if b)
        if kind == 4 and len(raw) == 4:
            return kind, int.from_bytes(raw, "little")
        if kind in TEXT_TYPES:
            text = raw.decode("utf-16-le") if unicode_file else raw.decode("cp1252", errors="replace")
            return kind, text.rstrip("\0")
        return kind, raw
    raise ValueError("unknown value data: " + data)


def read_registry(path):
    """{lower-case key path: {lower-case value name ('' for the default): (type, data)}}.
    Parents of listed keys are present too, as the registry holds them."""
    with open(path, "rb") as f:
        text, unicode_file = _decode(f.read())
    keys, current = {}, None
    for line in _logical_lines(text):
        if not line or line.startswith(";") or line.startswith("REGEDIT4") \
                or line.startswith("Windows Registry Editor"):
            continue
        if line.startswith("[") and line.endswith("]"):
            if line.startswith("[-"):
                current = None
                continue
            parts = line[1:-1].split("\\")
            for depth in range(1, len(parts) + 1):
                keys.setdefault("\\".join(parts[:depth]).lower(), {})
            current = keys[line[1:-1].lower()]
            continue
        if current is None:
            continue
        if line.startswith("@="):
            name, data = "", line[2:]
        else:
            name, end = _unquote(line, 0)
            data = line[end + 1:]
        if data == "-":
            current.pop(name.lower(), None)
        else:
            current[name.lower()] = _value(data, unicode_file)
    return keys


def listed_keys(path):
    """The key paths written in a file, in their own case, parents first."""
    with open(path, "rb") as f:
        text, _ = _decode(f.read())
    seen, keys = set(), []
    for line in _logical_lines(text):
        if line.startswith("[") and line.endswith("]") and not line.startswith("[-"):
            parts = line[1:-1].split("\\")
            for depth in range(2, len(parts) + 1):
                key = "\\".join(parts[:depth])
                if key.lower() not in seen:
                    seen.add(key.lower())
                    keys.append(key)
    return keys
