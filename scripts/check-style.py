#!/usr/bin/env python3
"""Holds the tree to its house style: every file git tracks against .editorconfig (final newline,
no trailing blanks, no tabs in indentation, line length), and the C and C++ sources against
.clang-format. Prints each file that breaks a rule and exits 1; changes nothing.

    scripts/check-style.py            every tracked file (every file, outside a git checkout)
    scripts/check-style.py FILE...    these files only

The fix for a C or C++ file is `clang-format -i FILE`. Standard library only.
"""
import configparser
import re
import shutil
import subprocess
import sys
import unicodedata
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CXX = re.compile(r"\.(cpp|h|c)$")


def glob_regex(pattern):
    """An .editorconfig section name as a regular expression over paths relative to the root."""
    def expand(text):
        m = re.search(r"\{([^{}]*)\}", text)
        if not m:
            return [text]
        return [x for alt in m.group(1).split(",")
                for x in expand(text[:m.start()] + alt + text[m.end():])]
    parts = []
    for alt in expand(pattern):
        rx = re.escape(alt).replace(r"\*\*", "\0").replace(r"\*", "[^/]*").replace(r"\?", "[^/]")
        rx = rx.replace("\0", ".*")
        parts.append(("" if "/" in alt else "(?:.*/)?") + rx.lstrip("/"))
    return re.compile("(?:" + "|".join(parts) + r")\Z")


def sections():
    config = configparser.ConfigParser(interpolation=None, comment_prefixes=("#", ";"))
    config.optionxform = str
    config.read_string("[__top__]\n" + (ROOT / ".editorconfig").read_text())
    return [(glob_regex(name), dict(config[name])) for name in config.sections()
            if name != "__top__"]


def rules_for(path, rule_sections):
    rules = {}
    for regex, values in rule_sections:
        if regex.match(path):
            rules.update(values)
    return {k: v for k, v in rules.items() if v != "unset"}


def columns(line):
    """Columns as clang-format counts them: a wide East Asian character takes two."""
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)


def text_faults(path, rules):
    data = (ROOT / path).read_bytes()
    faults = []
    if rules.get("charset") == "utf-8":
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as error:
            return [f"not UTF-8 ({error})"]
    if rules.get("end_of_line") == "lf" and b"\r" in data:
        faults.append("carriage returns")
    if rules.get("insert_final_newline") == "true" and data and not data.endswith(b"\n"):
        faults.append("no newline at the end")
    limit = rules.get("max_line_length", "off")
    for number, line in enumerate(data.decode("utf-8", "replace").split("\n"), 1):
        if rules.get("trim_trailing_whitespace") == "true" and line != line.rstrip():
            faults.append(f"line {number}: trailing blanks")
        if rules.get("indent_style") == "space" and "\t" in line[:len(line) - len(line.lstrip())]:
            faults.append(f"line {number}: a tab in the indentation")
        if limit.isdigit() and columns(line) > int(limit):
            faults.append(f"line {number}: {columns(line)} columns, more than {limit}")
    return faults


def main(argv):
    if argv:
        files = [str(Path(f).resolve().relative_to(ROOT)) for f in argv]
    else:
        listed = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z"],
                                capture_output=True)
        if listed.returncode == 0:
            files = [f for f in listed.stdout.decode("utf-8").split("\0") if f]
        else:  # not a git checkout: every file but the builds' and hidden folders'
            files = [str(p.relative_to(ROOT)) for p in ROOT.rglob("*")
                     if p.is_file() and not any(part == "build" or part.startswith(".")
                                                for part in p.relative_to(ROOT).parts[:-1])]
    rule_sections = sections()
    failed = 0
    for path in files:
        if not (ROOT / path).is_file():
            continue
        for fault in text_faults(path, rules_for(path, rule_sections)):
            print(f"{path}: {fault}")
            failed += 1
    sources = [f for f in files if CXX.search(f) and (ROOT / f).is_file()]
    clang_format = shutil.which("clang-format")
    if clang_format is None:
        print("clang-format is missing: install it (scripts/setup.sh)")
        return 1
    for path in sources:
        formatted = subprocess.run([clang_format, "--style=file", str(ROOT / path)], check=True,
                                   capture_output=True).stdout
        if formatted != (ROOT / path).read_bytes():
            print(f"{path}: not as .clang-format lays it out (clang-format -i {path})")
            failed += 1
    print(f"style: {len(files)} files, {failed} faults")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
