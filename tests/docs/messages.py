#!/usr/bin/env python3
# The callers' reference stays true: every request of the command table,
# every message constant (the *Messages.h headers) and every module path is
# written in docs/commands.md (the paths in docs/README-windows.txt too).
#   messages.py <source folder>
import codecs, pathlib, re, sys

root = pathlib.Path(sys.argv[1])
reference = (root / "docs" / "commands.md").read_text(encoding="utf-8")
requests = [" ".join(words) for source in sorted(root.glob("app/*.cpp"))
            for words in re.findall(r'\{\s*"(\w+)",\s*"(\w+)",\s*"(\w+)",', source.read_text(encoding="utf-8"))]
messages = {}
for header in sorted(p for d in ("app", "capi", "p11", "util") for p in root.glob(d + "/**/*Messages.h")):
    for name, literals in re.findall(r'constexpr const char\* (k\w+)\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);',
                                     header.read_text(encoding="utf-8")):
        pieces = re.findall(r'"((?:[^"\\]|\\.)*)"', literals)
        messages[name] = "".join(codecs.escape_decode(piece.encode())[0].decode("utf-8") for piece in pieces)
# The module table's fourteen paths, letter for letter and in their order, are
# the paths of the table in the reference and in the Windows README: every
# "X:\...dll" there but JSON's escaped examples, a word's end after "dll".
paths = re.findall(r'R"\((.*?)\)"', (root / "p11" / "P11Store.cpp").read_text(encoding="utf-8"))
windows = (root / "docs" / "README-windows.txt").read_text(encoding="utf-8")
written = lambda text: re.findall(r'[A-Z]:\\(?!\\)[^\n]*?\.dll\b', text)
missing = [request for request in requests if request not in reference]
missing += [f"module table of {name}: {found}" for name, found in (("commands.md", written(reference)),
            ("README-windows.txt", written(windows))) if found != paths]
missing += [f"{name}: {text!r}" for name, text in messages.items() if text not in reference]
# A pattern that no longer matches the sources would check nothing.
if len(requests) != 23 or len(paths) != 14 or not messages or missing:
    sys.exit(f"{len(requests)} requests, {len(messages)} messages; docs/commands.md lacks:\n" + "\n".join(missing))
print(f"docs/commands.md holds all {len(requests)} requests and {len(messages)} messages")
