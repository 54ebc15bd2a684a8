#!/usr/bin/env python3
"""Writes README.TXT of the release media: the README's section on running the programs on
Windows as plain text that any Windows 9x or DOS editor shows as it is meant.

    readme-text.py README.md VERSION OUTPUT

The text is ASCII only with CR/LF line ends, at most 76 columns. Markdown marks are dropped,
headings are underlined, code blocks are indented, and each table row becomes a term followed by
its indented description. A character that has no plain ASCII form here stops the script, so
that no Unicode ever reaches the media unnoticed.
"""
import re
import sys
import textwrap

SECTION = "## Running the programs on Windows"
WIDTH = 76
ASCII_FORMS = {"\u2014": "-", "\u2013": "-", "\u2192": "->", "\u2018": "'", "\u2019": "'",
               "\u201c": '"', "\u201d": '"', "\u2026": "...", "\u00a0": " ", "\u00d7": "x"}


def section(markdown):
    """The lines of the Windows section, its heading included, up to the next level-2 heading."""
    lines = markdown.splitlines()
    starts = [i for i, line in enumerate(lines) if line.startswith(SECTION)]
    if not starts:
        sys.exit("readme-text.py: the README has no section '%s'" % SECTION)
    end = next((i for i in range(starts[0] + 1, len(lines)) if lines[i].startswith("## ")),
               len(lines))
    return lines[starts[0]:end]


def plain(text):
    """Inline text without Markdown marks, in ASCII."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)      # links keep their words
    text = re.sub(r"\*\*([^*]+)\*\*", r"\1", text)             # bold
    text = re.sub(r"(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])", r"\1", text)   # italics
    text = text.replace("`", "")
    for char, form in ASCII_FORMS.items():
        text = text.replace(char, form)
    bad = sorted({c for c in text if ord(c) > 126 or (ord(c) < 32 and c != "\n")})
    if bad:
        sys.exit("readme-text.py: no ASCII form for %s" % ", ".join("U+%04X" % ord(c) for c in bad))
    return text


def wrapped(text, indent="", hang=0):
    """A paragraph wrapped to the width; <br> in the source starts a new line, indented by hang
    more (under the text that follows a "Name: " lead)."""
    out = []
    for n, part in enumerate(re.split(r"<br\s*/?>", text)):
        part, first = plain(part.strip()), indent + " " * (hang if n else 0)
        out += textwrap.wrap(part, WIDTH, initial_indent=first, subsequent_indent=first,
                             break_on_hyphens=False, break_long_words=False) if part else [""]
    return out


def table(rows):
    """Rows of a Markdown table as terms with indented descriptions; beyond two columns each
    further cell is named by its column heading."""
    cells = [[c.strip() for c in row.strip().strip("|").split("|")] for row in rows]
    head, body = cells[0], cells[2:]
    out = []
    for row in body:
        out += wrapped(row[0])
        for name, cell in zip(head[1:], row[1:]):
            lead = "" if len(head) == 2 else plain(name) + ": "
            out += wrapped(lead + cell, "    ", len(lead))
        out.append("")
    return out


def convert(lines, version):
    out = ["Pellam driver maintenance tools %s" % version, ""]
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("#"):
            title = plain(line.lstrip("#").strip())
            out += [title, ("=" if line.startswith("## ") else "-") * len(title), ""]
            i += 1
        elif line.startswith("```"):
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                out.append(("    " + plain(lines[i])).rstrip())
                i += 1
            out.append("")
            i += 1
        elif line.startswith("|"):
            start = i
            while i < len(lines) and lines[i].startswith("|"):
                i += 1
            out += table(lines[start:i])
        elif not line.strip():
            i += 1
        else:
            start = i
            while i < len(lines) and lines[i].strip() and not lines[i].startswith(("#", "```", "|")):
                i += 1
            out += wrapped(" ".join(l.strip() for l in lines[start:i])) + [""]
    while out and not out[-1]:
        out.pop()
    return out


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: readme-text.py README.md VERSION OUTPUT")
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = convert(section(f.read()), sys.argv[2])
    with open(sys.argv[3], "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("ascii"))


if __name__ == "__main__":
    main()
