#!/usr/bin/env python3
"""Seeded single-point mutations of the OS-free sources (run by mutants.sh).

  mutants.py --tree SRC_COPY --build BUILD_DIR [--seed N] [--count N] [--list]

SRC_COPY is a copy of the repository that BUILD_DIR was configured from; the
mutants are applied to that copy only, one at a time, and the file is put back
after each one (also on Ctrl-C or a kill). For each mutant the test programs
are rebuilt incrementally and the ones that were relinked are run; a mutant
is killed when a test fails or crashes, timed out when a test hangs, and
survived otherwise. Mutants that do not compile are replaced by the next one
of the sample and counted apart.
"""

import argparse
import filecmp
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

CMP_FLIP = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}
BOUND = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
NOT_STATEMENT_STARTS = {
    "return", "break", "continue", "goto", "case", "default", "using", "typedef",
    "static_assert", "namespace", "template", "class", "struct", "enum", "union",
    "const", "constexpr", "static", "auto", "unsigned", "signed", "int", "char",
    "bool", "void", "long", "short", "float", "double", "size_t", "extern",
    "inline", "public", "private", "protected", "if", "else", "for", "while",
    "do", "switch", "try", "catch", "throw", "friend", "virtual", "explicit",
}


def native_sources(root):
    """The .cpp files the native build compiles: src/CMakeLists.txt up to the
    point where it stops for non-Windows builds."""
    text = open(os.path.join(root, "src", "CMakeLists.txt")).read()
    text = text.split("if(NOT WIN32)")[0]
    files = re.findall(r"\b((?:foundation|broker|engine)/[\w/]+\.cpp)\b", text)
    return sorted("src/" + f for f in files)


def mask(text):
    """The text with comments, string and character literals and preprocessor
    lines blanked (same length, newlines kept), so patterns see only code."""
    out = list(text)
    i, n = 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            j = i
            while j < n and (text[j] != "\n" or text[j - 1] == "\\"):
                j += 1
            blank(i, j)
            i = j
            continue
        if c == "\n":
            line_start = True
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if m:
                end = text.find(")" + m.group(1) + '"', i)
                j = n if end < 0 else end + len(m.group(1)) + 2
                blank(i, j)
                i = j
            else:
                i += 1
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():  # digit separator 1'000
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i, j + 1)
            i = j + 1
        else:
            i += 1
    return "".join(out)


def line_col(text, pos):
    line = text.count("\n", 0, pos) + 1
    return line, pos - (text.rfind("\n", 0, pos) + 1) + 1


def matching_paren(code, open_pos):
    depth = 0
    for k in range(open_pos, len(code)):
        if code[k] == "(":
            depth += 1
        elif code[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def candidates(path, text):
    """Every mutant of one file as (start, end, replacement, kind)."""
    code = mask(text)
    found = []
    # Comparisons: flipped, and bounds moved by one.
    for m in re.finditer(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)", code):
        op = m.group(1)
        found.append((m.start(), m.end(), CMP_FLIP[op], "flip comparison"))
        if op in BOUND:
            found.append((m.start(), m.end(), BOUND[op], "move bound"))
    # Integer literals beside a comparison or arithmetic: moved by one.
    for m in re.finditer(r"(?<=[\s(\[])(\d+)([uUlL]*)(?=[\s)\];,])", code):
        before = code[max(0, m.start() - 4):m.start()]
        after = code[m.end():m.end() + 4]
        if not re.search(r"(==|!=|<=|>=|<|>|\+|-|\*|/|%) $", before) and \
                not re.match(r" (==|!=|<=|>=|<|>|\+|-|\*|/|%) ", after):
            continue
        value = int(m.group(1))
        for delta in (1, -1):
            if value + delta >= 0:
                found.append((m.start(1), m.end(1), str(value + delta), "move bound"))
    # Conditions of if and while: negated.
    for m in re.finditer(r"\b(if|while) \(", code):
        open_pos = m.end() - 1
        close = matching_paren(code, open_pos)
        if close > 0:
            inner = text[open_pos + 1:close]
            found.append((open_pos + 1, close, "!(" + inner + ")", "negate condition"))
    # && and ||: swapped.
    for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", code):
        found.append((m.start(), m.end(), "||" if m.group(1) == "&&" else "&&", "swap &&/||"))
    # Returned constants: replaced.
    for m in re.finditer(r"\breturn (true|false|\d+[uUlL]*);", code):
        value = m.group(1)
        if value == "true":
            new = "false"
        elif value == "false":
            new = "true"
        else:
            new = "1" if int(re.match(r"\d+", value).group(0)) == 0 else "0"
        found.append((m.start(1), m.end(1) - 0, new, "replace returned constant"))
    # Whole single-line statements (calls, assignments, increments): dropped.
    lines = code.split("\n")
    offset = 0
    previous = ""
    for raw in lines:
        stripped = raw.strip()
        start = offset + (len(raw) - len(raw.lstrip()))
        offset += len(raw) + 1
        if stripped:
            prev = previous
            previous = stripped
        else:
            continue
        if not stripped.endswith(";") or stripped.count("(") != stripped.count(")"):
            continue
        if not (prev.endswith((";", "{", "}", ":")) or prev.endswith(")")):
            continue
        first = re.match(r"[A-Za-z_]\w*", stripped)
        if first and first.group(0) in NOT_STATEMENT_STARTS:
            continue
        call = re.match(r"[\w:.\->\[\]*]+\(.*\);$", stripped)
        assign = re.match(r"[\w.\->\[\]*]+ (=|\+=|-=|\*=|/=|\|=|&=|\^=|<<=|>>=) .*;$", stripped)
        incdec = re.match(r"(\+\+|--)?[\w.\->\[\]]+(\+\+|--)?;$", stripped)
        if call or assign or (incdec and ("++" in stripped or "--" in stripped)):
            found.append((start, start + len(stripped), ";", "drop statement"))
    return found


def all_mutants(root):
    result = []
    for rel in native_sources(root):
        text = open(os.path.join(root, rel)).read()
        for start, end, new, kind in candidates(rel, text):
            line, col = line_col(text, start)
            result.append({"file": rel, "start": start, "end": end, "new": new, "kind": kind,
                           "line": line, "col": col, "old": text[start:end]})
    result.sort(key=lambda m: (m["file"], m["start"], m["end"], m["kind"], m["new"]))
    return result


def describe(m):
    old = " ".join(m["old"].split())
    new = " ".join(m["new"].split())
    if len(old) > 70:
        old = old[:67] + "..."
    if len(new) > 70:
        new = new[:67] + "..."
    return f'{m["file"]}:{m["line"]}: {m["kind"]}: `{old}` -> `{new}`'


class Restorer:
    """Puts the one mutated file back, however the run ends."""

    def __init__(self, pending_path):
        self.pending_path = pending_path
        self.path = None
        self.original = None
        self.stat = None

    def apply(self, path, original, mutated):
        self.path, self.original, self.stat = path, original, os.stat(path)
        with open(self.pending_path, "w") as f:
            json.dump({"path": path}, f)
        with open(path, "w") as f:
            f.write(mutated)

    def restore(self):
        if self.path is None:
            return
        with open(self.path, "w") as f:
            f.write(self.original)
        self.path = None
        os.unlink(self.pending_path)


def run(cmd, timeout, cwd=None):
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=timeout, start_new_session=True)
        return p.returncode
    except subprocess.TimeoutExpired:
        return None


def run_tests(programs, timeout):
    """'killed', 'timeout' or 'survived' for the given test programs."""
    for prog in programs:
        rc = run([prog, "--gtest_brief=1", "--gtest_fail_fast"], timeout, cwd=os.path.dirname(prog))
        if rc is None:
            return "timeout"
        if rc != 0:
            return "killed"
    return "survived"


def sync(source, tree):
    """Makes TREE a copy of SOURCE (without build/ and .git): files whose
    content differs are copied, the others keep their times, so that the
    build of the copy stays incremental."""
    for folder, dirs, files in os.walk(source):
        rel = os.path.relpath(folder, source)
        if rel == ".":
            dirs[:] = [d for d in dirs if d not in ("build", ".git")]
        os.makedirs(os.path.join(tree, rel), exist_ok=True)
        for name in files:
            src = os.path.join(folder, name)
            dst = os.path.join(tree, rel, name)
            if os.path.islink(src):
                continue
            if not os.path.exists(dst) or not filecmp.cmp(src, dst, shallow=False):
                shutil.copy2(src, dst)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", required=True)
    ap.add_argument("--build", default="")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=150)
    ap.add_argument("--programs", default="", help="file with one test program path a line")
    ap.add_argument("--targets", default="", help="file with the ninja targets of the tests")
    ap.add_argument("--list", action="store_true", help="only print the sample")
    ap.add_argument("--sync-from", help="only refresh TREE from this repository")
    args = ap.parse_args()

    if args.sync_from:
        sync(args.sync_from, args.tree)
        return 0

    mutants = all_mutants(args.tree)
    random.Random(args.seed).shuffle(mutants)
    if args.list:
        for m in mutants[:args.count]:
            print(describe(m))
        print(f"{len(mutants)} candidate mutants in {len(native_sources(args.tree))} files")
        return 0

    programs = [p for p in open(args.programs).read().split() if p]
    targets = [t for t in open(args.targets).read().split() if t]
    build_cmd = ["nice", "-n", "10", "ninja", "-C", args.build, "-j2"] + targets

    restorer = Restorer(os.path.join(args.build, "mutant-pending.json"))

    def on_signal(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    # Baseline: the unmutated tests must pass; their time sets the timeout.
    if run(build_cmd, 1200) != 0:
        print("mutants: the unmutated tests do not build", file=sys.stderr)
        return 2
    t0 = time.monotonic()
    if run_tests(programs, 600) != "survived":
        print("mutants: the unmutated tests fail", file=sys.stderr)
        return 2
    baseline = time.monotonic() - t0
    timeout = max(20.0, 10 * baseline)
    print(f"mutants: {len(mutants)} candidates, seed {args.seed}, count {args.count}; "
          f"tests take {baseline:.1f}s unmutated, timeout {timeout:.0f}s per program", flush=True)

    counts = {"killed": 0, "survived": 0, "timeout": 0}
    stillborn = 0
    survivors = []
    done = 0
    started = time.monotonic()
    try:
        for m in mutants:
            if done >= args.count:
                break
            path = os.path.join(args.tree, m["file"])
            original = open(path).read()
            mutated = original[:m["start"]] + m["new"] + original[m["end"]:]
            before = {p: os.path.getmtime(p) for p in programs if os.path.exists(p)}
            restorer.apply(path, original, mutated)
            try:
                if run(build_cmd, 600) != 0:
                    stillborn += 1
                    continue
                changed = [p for p in programs if os.path.getmtime(p) != before.get(p)]
                result = run_tests(changed, timeout) if changed else "survived"
            finally:
                restorer.restore()
            done += 1
            counts[result] += 1
            if result == "survived":
                survivors.append(m)
            print(f"[{done}/{args.count}] {result:8} {describe(m)}", flush=True)
        # Leave the build matching the unmutated sources.
        run(build_cmd, 1200)
    except KeyboardInterrupt:
        restorer.restore()
        print("mutants: interrupted; the source copy is restored", file=sys.stderr)
        return 130
    elapsed = time.monotonic() - started
    print()
    print(f"mutants: seed {args.seed}, {done} mutants: {counts['killed']} killed, "
          f"{counts['survived']} survived, {counts['timeout']} timed out "
          f"({stillborn} did not compile and were replaced), {elapsed / 60:.1f} min")
    if survivors:
        print("survivors:")
        for m in survivors:
            print("  " + describe(m))
    return 0


if __name__ == "__main__":
    sys.exit(main())
