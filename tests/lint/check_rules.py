#!/usr/bin/python3
"""Checks two rules of the source tree that the compiler does not.

Layers, lowest first: base, system, install, download, ui, app. A file includes headers of its own
folder and of lower ones only; the README names the few headers of a higher folder that every
layer may include, and this script takes the same list.

Names: members and variables are camelCase, members with an m_ prefix; a name that ends with an
underscore (the other common member style) is not used.

  check_rules.py ROOT

Prints each breach as FILE:LINE: what, and exits non-zero when there is one."""
import re
import sys
from pathlib import Path

LAYERS = ["base", "system", "install", "download", "ui", "app"]
# Headers of a higher folder that any layer may include, with the README's reason.
ALLOWED_UPWARD = {}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/([^"]+)"')
# An identifier that ends with one underscore, not a reserved or macro name such as __FILE__.
TRAILING_UNDERSCORE = re.compile(r"(?<![A-Za-z0-9_])([a-z][A-Za-z0-9]*[A-Za-z0-9]_)(?![A-Za-z0-9_])")
SOURCE_SUFFIXES = {".cpp", ".h", ".c"}


def code_of(line):
    """The line without its comment and string literals."""
    line = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    return line.split("//", 1)[0]


def check(root):
    breaches = []
    for path in sorted((root / "src").rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES:
            continue
        layer = path.relative_to(root / "src").parts[0]
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or layer not in LAYERS or match.group(1) not in LAYERS:
                continue
            target = f"{match.group(1)}/{match.group(2)}"
            if LAYERS.index(match.group(1)) > LAYERS.index(layer) and target not in ALLOWED_UPWARD:
                breaches.append(f"{path.relative_to(root)}:{number}: {layer}/ includes the "
                                f"higher {target}")
    for folder in ("src", "tests", "tools", "bench"):
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES:
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                for name in TRAILING_UNDERSCORE.findall(code_of(line)):
                    breaches.append(f"{path.relative_to(root)}:{number}: the name {name} ends "
                                    f"with an underscore; members are m_camelCase")
    return breaches


def main():
    root = Path(sys.argv[1]).resolve()
    breaches = check(root)
    for breach in breaches:
        print(breach)
    print(f"{len(breaches)} breaches of the layering and naming rules")
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
