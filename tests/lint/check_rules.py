#!/usr/bin/python3
"""Checks three rules of the source tree that the compiler does not.

Layers, lowest first: base, system, install, download, ui, app. A file includes headers of its own
folder and of lower ones only; the README names the one header of a higher folder that every
layer may include, and this script takes the same list.

Names: members and variables are camelCase, members with an m_ prefix; a name that ends with an
underscore (the other common member style) is not used.

Length: no function of src/ is longer than 80 lines; a longer one is cut into named steps.

  check_rules.py ROOT       checks the tree at ROOT
  check_rules.py --self     checks that planted breaches are found, and a clean tree passes

Prints each breach as FILE:LINE: what, and exits non-zero when there is one."""
import re
import sys
import tempfile
from pathlib import Path

LAYERS = ["base", "system", "install", "download", "ui", "app"]
# Headers of a higher folder that any layer may include, with the README's reason.
ALLOWED_UPWARD = {
    "app/message_table.h": "the user's texts of every part, by their message number",
}
LONGEST_FUNCTION = 80
# A function definition that starts at the first column: a name, its parameters, then its body.
DEFINITION = re.compile(r"^(?!(?:namespace|class|struct|enum|union|using|extern|typedef|template|"
                        r"static_assert|return)\b)[A-Za-z_][^;#]*\(")
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
    breaches += long_functions(root)
    for folder in ("src", "tests", "tools", "bench"):
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES:
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                for name in TRAILING_UNDERSCORE.findall(code_of(line)):
                    breaches.append(f"{path.relative_to(root)}:{number}: the name {name} ends "
                                    f"with an underscore; members are m_camelCase")
    return breaches


def long_functions(root):
    """Definitions in src/ that start at the first column and run over LONGEST_FUNCTION lines,
    from their first line to the closing brace at the first column."""
    found = []
    for path in sorted((root / "src").rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES:
            continue
        lines = path.read_text(errors="replace").splitlines()
        at = 0
        while at < len(lines):
            if DEFINITION.match(lines[at]):
                body = at
                while body < len(lines) and not lines[body].rstrip().endswith(("{", ";")):
                    body += 1
                if body < len(lines) and lines[body].rstrip().endswith("{"):
                    end = next((i for i in range(body + 1, len(lines)) if lines[i] == "}"),
                               len(lines) - 1)
                    if end - at + 1 > LONGEST_FUNCTION:
                        found.append(f"{path.relative_to(root)}:{at + 1}: a function of "
                                     f"{end - at + 1} lines (at most {LONGEST_FUNCTION})")
                    at = end
            at += 1
    return found


PLANTED = {
    "src/base/held.cpp": '#include "app/setup_worker.h"\n',
    "src/ui/dialog.cpp": '#include "app/message_table.h"\n#include "ui/status_line.h"\n',
    "tests/win/helper.h": "struct Helper {\n    int count_ = 0;\n    int m_fine = 0;\n};\n",
    "src/app/long.cpp": "int Long() {\n" + "    Step();\n" * 80 + "}\n",
    "src/app/short.cpp": "int Short() {\n" + "    Step();\n" * 78 + "}\n",
}


def self_test():
    """Each planted breach is found, and nothing else."""
    with tempfile.TemporaryDirectory() as folder:
        root = Path(folder)
        for name, text in PLANTED.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text)
        breaches = check(root)
    expected = ["src/base/held.cpp:1: base/ includes the higher app/setup_worker.h",
                "src/app/long.cpp:1: a function of 82 lines (at most 80)",
                "tests/win/helper.h:2: the name count_ ends with an underscore"]
    missing = [e for e in expected if not any(b.startswith(e) for b in breaches)]
    for line in missing:
        print(f"not found: {line}")
    if len(breaches) != len(expected):
        print(f"found {breaches}, expected only {expected}")
    return 1 if missing or len(breaches) != len(expected) else 0


def main():
    if sys.argv[1] == "--self":
        return self_test()
    root = Path(sys.argv[1]).resolve()
    breaches = check(root)
    for breach in breaches:
        print(breach)
    print(f"{len(breaches)} breaches of the layering, naming and length rules")
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
