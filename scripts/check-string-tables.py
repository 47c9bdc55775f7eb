#!/usr/bin/env python3
"""Checks the translated string tables of the setup window against English.

  check-string-tables.py [REPO_ROOT]

Every src/resources/strings/Strings.<tag>.rc is compared with
src/resources/Strings.rc: the same ids in the same order; per id the same
number of "^" placeholders, "<a " links and "<br/" breaks, and the same URLs;
id 71 (the window width) is "730", or "750" for cs-CZ; and at least 60 ids
read differently from English, so an untranslated copy does not pass. The
file itself must be UTF-8 without a byte order mark, open with a comment and
`#pragma code_page(65001)`, and carry its own LANGUAGE line.

Prints one line per table and exits 1 when any table fails (2 when the
English table itself cannot be read).
"""

import glob
import os
import re
import sys

ENGLISH = os.path.join("src", "resources", "Strings.rc")
TABLES = os.path.join("src", "resources", "strings", "Strings.*.rc")
MIN_TRANSLATED = 60
WIDTH_ID = 71
WIDTHS = {"cs-CZ": "750"}
DEFAULT_WIDTH = "730"

ENTRY = re.compile(r'^\s*(\d+)\s*,\s*"((?:[^"]|"")*)"\s*$')
URL = re.compile(r'https?://[^\s"<>]+')
LANGUAGE = re.compile(r"^\s*LANGUAGE\s+(0x[0-9A-Fa-f]+|\d+)\s*,\s*(0x[0-9A-Fa-f]+|\d+)\s*$")


class TableError(Exception):
    pass


def read_table(path):
    """Returns (language line, [(id, text)]) of one resource script."""
    with open(path, "rb") as f:
        raw = f.read()
    if raw.startswith(b"\xef\xbb\xbf"):
        raise TableError("starts with a byte order mark")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        raise TableError(f"not UTF-8 at byte {e.start}")
    lines = text.splitlines()
    if not lines or not lines[0].startswith("//"):
        raise TableError("first line is not a comment")
    if "#pragma code_page(65001)" not in (l.strip() for l in lines[:4]):
        raise TableError("no #pragma code_page(65001) at the top")

    language = None
    entries = []
    state = "before"  # before -> table -> body -> after
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if not stripped or stripped.startswith("//") or stripped.startswith("#"):
            continue
        m = LANGUAGE.match(line)
        if m and state == "before":
            if language is not None:
                raise TableError(f"line {number}: second LANGUAGE line")
            language = (int(m.group(1), 0), int(m.group(2), 0))
        elif stripped == "STRINGTABLE" and state == "before":
            state = "table"
        elif stripped == "BEGIN" and state == "table":
            state = "body"
        elif stripped == "END" and state == "body":
            state = "after"
        elif state == "body":
            m = ENTRY.match(line)
            if not m:
                raise TableError(f"line {number}: not an entry: {stripped[:60]}")
            entries.append((int(m.group(1)), m.group(2)))
        else:
            raise TableError(f"line {number}: unexpected: {stripped[:60]}")
    if language is None:
        raise TableError("no LANGUAGE line")
    if state != "after":
        raise TableError("no complete STRINGTABLE BEGIN ... END")
    return language, entries


def marks(text):
    return (text.count("^"), text.count("<a "), text.count("<br/"))


def check_table(path, tag, english_language, english):
    """Returns the list of problems of one table (empty when it is good)."""
    try:
        language, entries = read_table(path)
    except (OSError, TableError) as e:
        return [str(e)]
    problems = []
    if language == english_language:
        problems.append("LANGUAGE is the English one")

    ids = [i for i, _ in entries]
    english_ids = [i for i, _ in english]
    if len(set(ids)) != len(ids):
        problems.append("duplicate ids")
    if ids != english_ids:
        missing = sorted(set(english_ids) - set(ids))
        extra = sorted(set(ids) - set(english_ids))
        if missing or extra:
            problems.append(f"ids differ (missing {missing}, extra {extra})")
        else:
            problems.append("ids in another order than English")

    texts = dict(entries)
    translated = 0
    for i, source in english:
        if i not in texts:
            continue
        target = texts[i]
        want, got = marks(source), marks(target)
        for name, w, g in zip(('"^"', '"<a "', '"<br/"'), want, got):
            if w != g:
                problems.append(f"id {i}: {g} {name}, English has {w}")
        if URL.findall(source) != URL.findall(target):
            problems.append(f"id {i}: URLs differ from English")
        if target != source:
            translated += 1

    width = WIDTHS.get(tag, DEFAULT_WIDTH)
    if texts.get(WIDTH_ID, width) != width:
        problems.append(f'id {WIDTH_ID} is "{texts[WIDTH_ID]}", want "{width}"')
    if translated < MIN_TRANSLATED:
        problems.append(f"only {translated} ids differ from English (want {MIN_TRANSLATED})")
    return problems


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    try:
        english_language, english = read_table(os.path.join(root, ENGLISH))
    except (OSError, TableError) as e:
        print(f"{ENGLISH}: cannot read: {e}")
        return 2
    paths = sorted(glob.glob(os.path.join(root, TABLES)))
    if not paths:
        print(f"no tables match {TABLES}")
        return 1
    failed = 0
    for path in paths:
        name = os.path.basename(path)
        tag = name[len("Strings."):-len(".rc")]
        problems = check_table(path, tag, english_language, english)
        if problems:
            failed += 1
            print(f"{name}: FAIL: " + "; ".join(problems))
        else:
            print(f"{name}: ok ({len(english)} ids)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
