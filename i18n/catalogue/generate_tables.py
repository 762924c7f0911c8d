#!/usr/bin/env python3
"""Turns the readable translation tables (TfrmMain.txt, TMarqsForm.txt) into
the stored TranslationData of each window's translation component and writes
a C++ source file holding those bytes.

Stored form: UTF-16LE without byte-order mark, every line ended by CR LF (the
last one too). For each section the component keeps, in type order, a header
line "<section>_Unicode", then one line per entry: the entry name, then for
each language the delimiter (character 1) and the text, then one closing
delimiter. CR and LF inside a text are stored as characters 25 and 26.

The layout of the input files is described at the top of each of them.
Only the Python standard library is used: this runs on the build host, also
when the program itself is cross-compiled.

Usage: generate_tables.py --output FILE.cpp TABLE.txt [TABLE.txt ...]
Exit status 0 on success; 1 with "file:line: error: ..." on bad input.
"""

import argparse
import os
import re
import sys

# Section types 0..11 in stored order.
SECTIONS = [
    "stCaptions",
    "stHints",
    "stDisplayLabels",
    "stFonts",
    "stMultiLines",
    "stDlgsCaptions",
    "stStrings",
    "stOtherStrings",
    "stLocales",
    "stCollections",
    "stCharSets",
    "stListView_TreeView_Items",
]

LANGUAGES = ["English", "Dutch", "French", "German", "Spanish",
             "Italian", "Croatian", "Turkish", "Danish", "Swedish"]

DELIM = "\x01"
STORED_CR = "\x19"  # character 25
STORED_LF = "\x1a"  # character 26
ESCAPES = {"n": "\r\n", "t": "\t", "s": " ", "\\": "\\"}
IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")


class TableError(Exception):
    def __init__(self, path, line_no, message):
        super().__init__(f"{path}:{line_no}: error: {message}")


class Table:
    def __init__(self, path):
        self.path = path
        self.window = None
        self.languages = None
        self.sections = []  # list of (name, [(entry name, [texts])])


def unescape(text, fail):
    out = []
    i = 0
    while i < len(text):
        ch = text[i]
        if ch != "\\":
            out.append(ch)
            i += 1
            continue
        if i + 1 >= len(text):
            fail("bad escape: a lone backslash at the end of a text (write \\\\ for a backslash)")
        code = text[i + 1]
        if code not in ESCAPES:
            fail(f"bad escape '\\{code}' (known: \\n line break, \\t tab, \\s blank, \\\\ backslash)")
        out.append(ESCAPES[code])
        i += 2
    return "".join(out)


def check_comma_list(text, fail):
    """A list-of-texts entry: items joined by ',', quoted items with doubled quotes."""
    i = 0
    n = len(text)
    while i < n:
        if text[i] == '"':
            i += 1
            while True:
                if i >= n:
                    fail("list text has an unterminated quoted item")
                if text[i] == '"':
                    if i + 1 < n and text[i + 1] == '"':
                        i += 2
                        continue
                    i += 1
                    break
                i += 1
            if i < n and text[i] != ",":
                fail("list text has characters after a quoted item")
        else:
            while i < n and text[i] != ",":
                if text[i] == '"' or text[i] == " " or ord(text[i]) < 32:
                    fail("list item with a blank, quote or control character must be quoted")
                i += 1
        if i < n:
            i += 1  # the comma


def parse_table(path):
    table = Table(path)
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise TableError(path, 0, f"cannot read: {e.strerror}")
    if raw.startswith(b"\xef\xbb\xbf"):
        raw = raw[3:]
    try:
        content = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        line_no = raw[:e.start].count(b"\n") + 1
        raise TableError(path, line_no, "the file is not valid UTF-8")

    current = None
    seen = {}
    for line_no, line in enumerate(content.split("\n"), start=1):
        def fail(message, line_no=line_no):
            raise TableError(path, line_no, message)

        if line.endswith("\r"):
            line = line[:-1]
        if line == "" or line.startswith("#"):
            continue
        if "\r" in line:
            fail("stray carriage return inside a line")

        if line.startswith("@"):
            key, _, value = line.partition("\t")
            if key == "@window":
                if table.window is not None:
                    fail("@window given twice")
                if not IDENT.match(value):
                    fail(f"bad window class name '{value}'")
                table.window = value
            elif key == "@languages":
                names = value.split("\t")
                if names != LANGUAGES:
                    fail("@languages must list " + ", ".join(LANGUAGES) + " (TAB-separated, in this order)")
                table.languages = names
            else:
                fail(f"unknown directive '{key}'")
            continue

        if line.startswith("[") and "\t" not in line:
            if not line.endswith("]"):
                fail(f"section marker '{line}' lacks its closing ']'")
            name = line[1:-1]
            if name not in SECTIONS:
                fail(f"unknown section '{name}' (known: {', '.join(SECTIONS)})")
            if table.window is None or table.languages is None:
                fail("@window and @languages must come before the first section")
            if name in seen:
                fail(f"section '{name}' given twice")
            if table.sections and SECTIONS.index(name) < SECTIONS.index(table.sections[-1][0]):
                fail(f"section '{name}' is out of order: sections stand in stored order")
            current = (name, [])
            table.sections.append(current)
            seen[name] = set()
            continue

        # An entry line.
        if current is None:
            fail("entry before the first section marker")
        columns = line.split("\t")
        expected = 1 + len(LANGUAGES)
        if len(columns) != expected:
            fail(f"wrong column count: {len(columns)} columns, expected {expected} "
                 f"(entry name and {len(LANGUAGES)} languages, separated by TABs)")
        name = columns[0]
        if name == "" or name != name.strip():
            fail("entry name is empty or has surrounding blanks")
        for col in columns:
            for ch in col:
                if ord(ch) < 32 or ch in ("\x7f",):
                    fail(f"control character U+{ord(ch):04X} in the text; use an escape")
        if line.endswith(" "):
            fail("blank at the end of the line; write a trailing blank as \\s")
        texts = [unescape(c, fail) for c in columns[1:]]
        if texts[0] == "":
            fail(f"entry '{name}' has no English text")
        if name.lower() in seen[current[0]]:
            fail(f"entry '{name}' given twice in section '{current[0]}'")
        seen[current[0]].add(name.lower())
        section = current[0]
        if section in ("stMultiLines", "stOtherStrings", "stCollections") and "." not in name:
            fail(f"entry '{name}' of {section} must name Component.Property")
        if section == "stMultiLines":
            for t in texts:
                check_comma_list(t, fail)
        current[1].append((name, texts))

    if table.window is None:
        raise TableError(path, 0, "no @window line")
    if not table.sections:
        raise TableError(path, 0, "no section")
    return table


def stored_text(table):
    lines = []
    for section, entries in table.sections:
        lines.append(section + "_Unicode")
        for name, texts in entries:
            fields = [name]
            for t in texts:
                fields.append(t.replace("\r", STORED_CR).replace("\n", STORED_LF))
            lines.append(DELIM.join(fields) + DELIM)
    return "".join(l + "\r\n" for l in lines)


def cxx_bytes(data, indent="    "):
    rows = []
    for i in range(0, len(data), 16):
        rows.append(indent + ", ".join(f"0x{b:02x}" for b in data[i:i + 16]) + ",")
    return "\n".join(rows)


def cxx_string(text):
    return '"' + "".join(c if 32 <= ord(c) < 127 and c not in '"\\' else f"\\x{ord(c):02x}"
                         for c in text) + '"'


def generate(tables):
    out = []
    out.append("// Generated at build time by generate_tables.py from "
               + ", ".join(os.path.basename(t.path) for t in tables) + ". Do not edit.")
    out.append('#include "i18n/catalogue/builtin_tables.h"')
    out.append("")
    out.append("namespace mq::i18n {")
    out.append("namespace {")
    out.append("")
    for i, t in enumerate(tables):
        data = stored_text(t).encode("utf-16-le")
        out.append(f"// {t.window}: {len(data)} bytes")
        out.append(f"constexpr std::uint8_t kTable{i}[] = {{")
        out.append(cxx_bytes(data))
        out.append("};")
        out.append("")
    out.append("constexpr std::string_view kLanguageNames[] = {")
    for name in LANGUAGES:
        out.append(f"    {cxx_string(name)},")
    out.append("};")
    out.append("")
    out.append("}  // namespace")
    out.append("")
    out.append("std::span<const std::uint8_t> BuiltinTranslationData(std::string_view windowClassName) {")
    for i, t in enumerate(tables):
        out.append(f"    if (windowClassName == {cxx_string(t.window)}) return kTable{i};")
    out.append("    return {};")
    out.append("}")
    out.append("")
    out.append("std::span<const std::string_view> BuiltinLanguageNames() { return kLanguageNames; }")
    out.append("")
    out.append("}  // namespace mq::i18n")
    return "\n".join(out) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description="Generate the built-in translation tables.")
    parser.add_argument("--output", required=True, help="C++ source file to write")
    parser.add_argument("tables", nargs="+", help="readable table files")
    args = parser.parse_args(argv)
    try:
        tables = [parse_table(p) for p in args.tables]
        windows = [t.window for t in tables]
        for w in windows:
            if windows.count(w) > 1:
                raise TableError(args.tables[windows.index(w, windows.index(w) + 1)], 0,
                                 f"window '{w}' has more than one table")
    except TableError as e:
        print(e, file=sys.stderr)
        return 1
    text = generate(tables)
    tmp = args.output + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
