#!/usr/bin/env python3
"""Mutation testing of the product code: how many seeded faults do the tests find?

Copies the tree's files (as they are on disk) to build-mutate/src, builds it
once, then applies a seeded sample of single-point changes to app/, util/,
capi/ and p11/ one at a time (flipped comparisons and conditions, changed
constants and message texts, removed calls), rebuilds, runs the native tests
and prints each mutant as killed (with the first test that failed), surviving,
or stillborn (does not compile; not counted). The sample depends only on the
seed and on the product's source text, so two runs on the same code try the
same mutants; --compare judges the mutants of an earlier report again (found
by their line's text, so edits elsewhere do not change the sample) and lists
those it saw killed that this run lets through. The report is written after every mutant, and
--resume goes on from the report of a run that was stopped.

Mutants of the code that only the Windows program runs as Windows does (the
ANSI code page) are also judged by its x86_64 build under wine64, where the
machine has wine64 and mingw-w64.

  scripts/mutate.py [--seed N] [--count N] [--report FILE] [--compare FILE] [--resume] [--files PATTERN]
"""
import argparse
import filecmp
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build-mutate")
SOURCE = os.path.join(WORK, "src")
BUILD = os.path.join(WORK, "build")
PRODUCT = ("app/", "util/", "capi/", "p11/")
# The native tests of answers and call sequences; the slow robustness runs
# (stress, valgrind, gdb) and the Windows runs are left out.
TESTS = "^(unit|capi_unit|blackbox|p11calls|p11_softhsm|capi_blackbox)$"

# Checks that the compiler makes, on builds other than this one: no test can
# find a fault there.
COMPILE_TIME_ONLY = ("p11/Pkcs11Layout.cpp",)

# (name, pattern, replacement): each match in a line of code is one site.
OPERATORS = [
    ("== to !=", r"==", "!="),
    ("!= to ==", r"!=", "=="),
    ("< to <=", r"(?<=\s)<(?=\s)", "<="),
    ("<= to <", r"(?<=\s)<=(?=\s)", "<"),
    ("> to >=", r"(?<=\s)>(?=\s)", ">="),
    (">= to >", r"(?<=\s)>=(?=\s)", ">"),
    ("&& to ||", r"(?<=\s)&&(?=\s)", "||"),
    ("|| to &&", r"(?<=\s)\|\|(?=\s)", "&&"),
    ("true to false", r"\btrue\b", "false"),
    ("false to true", r"\bfalse\b", "true"),
    ("negated condition", r"\b(if|while) \(", r"\1 (!"),
    ("constant + 1", r"(?<![\w.])(\d+)(?![\w.])", lambda m: str(int(m.group(1)) + 1)),
    ("message text", r'"([A-Z][^"\\]{3,})"', lambda m: '"' + m.group(1) + '!"'),
    ("removed call", r"^(\s*)([A-Za-z_][\w:.>-]*\(.*\);)\s*$", r"\1;"),
]


# Mutants that no test can find because the program does the same with them:
# (operator or "any", file pattern, line pattern, why). They are named in the report
# as equivalent and left out of the score; each was read and judged.
EQUIVALENT = [
    ("constant + 1", r"^(capi/|p11/ops/|p11/ObjectSearch\.cpp$)",
     r"^\s*(HCRYPTPROV|HCRYPTKEY|HCRYPTHASH|CK_OBJECT_HANDLE|DWORD) (rawContext|rawKey|rawHash|context|hash|unused|"
     r"object|publicHandle|privateHandle|size|type|blockSize) = 0;$",
     "an output's initial value: the call right after it writes it, or fails and nothing reads it; a size "
     "handed in with no buffer is not read"),
    ("constant + 1", r"^capi/CryptHandles\.h$", r"CryptReleaseContext\(handle, 0\)",
     "CryptReleaseContext's flags are reserved: the context is released whatever they hold, and the answer "
     "is not read"),
    ("constant + 1", r"^capi/CertificateDetails\.cpp$", r"char text\[sizeof ",
     "a buffer with room to spare: no date written is longer"),
    ("constant + 1", r"^p11/P11Module\.cpp$", r"std::vector<CK_SLOT_ID> slots\(",
     "the slot buffer's least size and fill: the module is told the count it reported, and only the slots "
     "it wrote are kept"),
    ("constant + 1", r"^p11/AttributeTemplate\.h$", r"value\.push_back\(0\)",
     "the spare byte lies past the value's length, where no module reads"),
    ("constant + 1", r"^p11/ops/TokenSigning\.cpp$", r"Bytes signature\(allocated \+ 1\)",
     "spare room past the length the module is given: it writes no further, and only what it wrote is kept"),
    ("constant + 1", r"^app/ValueSources\.cpp$", r"kReadChunk = 64 \* 1024",
     "the size of each read: the value is read to its end in chunks of any size"),
    ("constant + 1", r"^capi/(AnsiText|CertificateInstallation)\.cpp$", r"MultiByteToWideChar\(CP_ACP, 0,|wideFromAnsi\(ansi, 0\)",
     "MB_PRECOMPOSED (1) is how Windows converts from an ANSI code page anyway, and the stand-in's UTF-8 "
     "code page has no composition to choose (it reads no flag but MB_ERR_INVALID_CHARS)"),
    ("constant + 1", r"^app/ArgVector\.cpp$", r"if \(value > static_cast<long long>\(INT_MAX\) \+ 1\)",
     "the loop stops once the value is past INT_MAX, only to keep it from overflowing: stopping one step later "
     "gives the same clamped result"),
    ("any", r"^(capi/SignedList\.h|util/Encoding\.cpp)$", r"text_?\.reserve\(",
     "room reserved ahead: only the capacity changes"),
    ("removed call", r"^p11/ops/(CertificateImport|KeyGeneration|TokenSigning)\.cpp$", r"slot\.closeSession\(\);",
     "the SessionGuard beside it makes the same C_Logout and C_CloseSession; the two differ only for a "
     "session without a handle, where every token call before the close fails first"),
    (">= to >", r"^capi/SignedList\.cpp$", r"c >= ' ' && c <= '~'",
     "the JSON writer writes the space as it is, so the fast path's lower bound only picks the path"),
    ("<= to <", r"^capi/SignedList\.cpp$", r"c >= ' ' && c <= '~'",
     "the JSON writer writes '~' as it is, so the fast path's upper bound only picks the path"),
    ("constant + 1", r"^app/Envelope\.cpp$", r"if \(envelope\.size\(\) != 1 \|\|",
     "every envelope holds one member (successEnvelope, errorEnvelope), and the general writer prints a "
     "one-member envelope with the same bytes as the fast path: the size test only guards that path"),
    ("removed call", r"^app/Envelope\.cpp$", r"std::fflush\(stdout\);",
     "the process ends right after printing, and its exit flushes standard output"),
    ("constant + 1", r"^capi/CertificateDetails\.cpp$", r"std::vector<void\*> block\(size / sizeof\(void\*\) \+ 1\)",
     "a block with room to spare: the property's size rounded up to whole pointers already fits"),
    ("constant + 1", r"^app/SigningList\.cpp$", r"std::find\(text, text \+ decoded\.size\(\), '\\0'\)",
     "the JSON parser also ends its input at a zero byte"),
    ("constant + 1", r"^capi/", r"CertOpenStore\(CERT_STORE_PROV_SYSTEM, 0, 0,",
     "a system store reads neither the encoding type nor a provider handle; Windows ignores both"),
    ("constant + 1", r"^util/Encoding\.cpp$", r"^\s*index = -1;$",
     "any negative index stands for a byte outside the alphabet: every reader compares it with 0"),
    ("constant + 1", r"^p11/TokenInfo\.h$", r"std::uint32_t free(Public|Private)Memory = 0;",
     "a default that TokenInfo::read, the only maker of token records, overwrites for every token"),
    ("constant + 1", r"^app/ValueSources\.cpp$", r"char byte = 0;",
     "an output's initial value: each read writes the byte, or ends the line without it being read"),
    ("< to <=", r"^capi/CertificateDetails\.cpp$", r"\|\| size < sizeof\(CRYPT_KEY_PROV_INFO\)\)",
     "a key link is never exactly the structure's size: crypt32 gives the structure followed by its two "
     "names, terminators included"),
    ("constant + 1", r"^capi/CertificateKey\.h$", r"DWORD keySpec_ = 0;",
     "an initial value that the constructor overwrites before anything reads it"),
    ("any", r"^p11/ops/KeyGeneration\.cpp$",
     r"uniformBelow\(generator, i \+ 1\)|constexpr std::uint64_t range|range - range % bound|while \(draw >= limit\)",
     "the distribution of a random draw (a bias, or a redraw once in 2^32): four random characters drawn "
     "from it cannot show it"),
]

# Faults that only a slower test finds: the mutants of these files are judged
# with that test too.
SLOW_JUDGES = [
    (r"^(util/Secret\.cpp|app/ArgVector\.cpp)$", "secrets"),  # PINs wiped from memory, seen by gdb
]
# Text in a real ANSI code page and 2-byte WCHARs run only in the Windows
# program: the mutants of these files are judged by its x86_64 build under
# wine64 too, where the machine has both.
WINDOWS_JUDGES = [
    (r"^capi/AnsiText\.cpp$", "wine_capi"),
]
WINDOWS_BUILD = os.path.join(WORK, "build-win64")
WINE64 = "/usr/lib/wine/wine64"


def equivalence(mutant):
    for operator, file_pattern, line_pattern, why in EQUIVALENT:
        if operator in ("any", mutant["operator"]) and re.search(file_pattern, mutant["file"]) \
                and re.search(line_pattern, mutant["original"]):
            return why
    return None


def code_lines(text):
    """Line numbers (0-based) of lines that are code, not comments or directives."""
    in_block = False
    for number, line in enumerate(text.splitlines()):
        stripped = line.strip()
        if in_block:
            in_block = "*/" not in stripped
            continue
        if stripped.startswith("/*"):
            in_block = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("//", "#", "*")):
            continue
        yield number


def sites():
    """Every possible mutant, in a fixed order."""
    found = []
    files = subprocess.run(["git", "ls-files", *PRODUCT], cwd=ROOT, capture_output=True, text=True,
                           check=True).stdout.split()
    for path in sorted(f for f in files if f.endswith((".cpp", ".h")) and f not in COMPILE_TIME_ONLY):
        with open(os.path.join(ROOT, path), encoding="utf-8") as handle:
            lines = handle.read().splitlines()
        for number in code_lines("\n".join(lines)):
            code = lines[number].split("//")[0] if '"' not in lines[number] else lines[number]
            for name, pattern, replacement in OPERATORS:
                for index, match in enumerate(re.finditer(pattern, code)):
                    mutated = code[:match.start()] + match.expand(replacement) if isinstance(replacement, str) \
                        else code[:match.start()] + replacement(match)
                    mutated += code[match.end():] + lines[number][len(code):]
                    if mutated != lines[number]:
                        found.append({"file": path, "line": number + 1, "operator": name, "index": index,
                                      "original": lines[number], "mutated": mutated})
    return found


def identity(mutant):
    # Stable across edits elsewhere in the file: the line's text, not its number.
    return "|".join([mutant["file"], mutant["operator"], str(mutant["index"]), mutant["original"].strip()])


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def prepare():
    # Only files that differ are copied, with a new time stamp: the copy's
    # build then redoes what they touch, and nothing that a judged mutant
    # left built from the older copy survives.
    files = [path for path in run(["git", "ls-files", "--cached", "--others", "--exclude-standard"], cwd=ROOT,
                                  check=True).stdout.split() if os.path.exists(os.path.join(ROOT, path))]
    for folder, _, names in os.walk(SOURCE):
        for name in names:
            if os.path.relpath(os.path.join(folder, name), SOURCE) not in files:
                os.remove(os.path.join(folder, name))
    for path in files:
        source, copy = os.path.join(ROOT, path), os.path.join(SOURCE, path)
        if not os.path.exists(copy) or not filecmp.cmp(source, copy, shallow=False):
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copyfile(source, copy)
            shutil.copymode(source, copy)
    windows = os.path.exists(WINE64) and shutil.which("x86_64-w64-mingw32-g++") is not None
    configure = ["cmake", "-S", SOURCE, "-B", BUILD, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
    if windows:
        configure.append("-DSIGBRID_WIN64_EXE=" + os.path.join(WINDOWS_BUILD, "sigbrid.exe"))
        run(["cmake", "-S", SOURCE, "-B", WINDOWS_BUILD, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SOURCE, "cmake", "x86_64-w64-mingw32.cmake")], check=True)
    run(configure, check=True)
    for folder in [BUILD] + ([WINDOWS_BUILD] if windows else []):
        build = run(["cmake", "--build", folder, "-j", str(os.cpu_count() or 2)])
        if build.returncode != 0:
            sys.exit("the unchanged tree does not build:\n" + build.stdout[-3000:])
    everything = with_tests([test for _, test in WINDOWS_JUDGES] if windows else [])
    tests = run(["ctest", "-R", everything, "-j", "2"], cwd=BUILD)
    if tests.returncode != 0:
        sys.exit("the unchanged tree fails its tests:\n" + tests.stdout[-3000:])
    if not windows:
        print("no wine64 or mingw-w64 here: the Windows judges are left out", flush=True)
    return windows


def with_tests(extra):
    """The ctest pattern of the native tests and `extra`."""
    return TESTS[:-2] + "".join("|" + test for test in extra) + ")$"


def judges_of(path, windows):
    """The slow and (where the machine runs them) Windows tests that also judge a mutant of `path`."""
    return [test for pattern, test in SLOW_JUDGES + (WINDOWS_JUDGES if windows else []) if re.search(pattern, path)]


def first_failure(output):
    match = re.search(r"\d+ - (\S+) \(", output)
    return match.group(1) if match else "?"


def judge(mutant, windows):
    path = os.path.join(SOURCE, mutant["file"])
    with open(path, encoding="utf-8") as handle:
        original = handle.read()
    lines = original.split("\n")
    lines[mutant["line"] - 1] = mutant["mutated"]
    try:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write("\n".join(lines))
        extra = judges_of(mutant["file"], windows)
        folders = [BUILD] + ([WINDOWS_BUILD] if any(test in extra for _, test in WINDOWS_JUDGES) else [])
        if any(run(["cmake", "--build", folder, "-j", str(os.cpu_count() or 2)]).returncode != 0
               for folder in folders):
            return "stillborn", ""
        tests = run(["ctest", "-R", with_tests(extra), "-j", "2", "--stop-on-failure", "--timeout", "300"], cwd=BUILD)
        return ("survived", "") if tests.returncode == 0 else ("killed", first_failure(tests.stdout))
    finally:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(original)
        # The restored file must be rebuilt even if its time stamp looks old.
        os.utime(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1208)
    parser.add_argument("--count", type=int, default=60, help="mutants that compile, to judge")
    parser.add_argument("--report", default=os.path.join(WORK, "report.json"))
    parser.add_argument("--compare", help="an earlier report: list what it killed and this run does not")
    parser.add_argument("--resume", action="store_true", help="keep the verdicts of the report and go on")
    parser.add_argument("--files", default="", help="only mutants of files whose path matches this pattern")
    options = parser.parse_args()

    candidates = [c for c in sites() if re.search(options.files, c["file"])]
    random.Random(options.seed).shuffle(candidates)
    if options.compare:
        # Judge the earlier report's own mutants, found again by their text: a
        # sample drawn afresh would differ as soon as any product line changed.
        with open(options.compare, encoding="utf-8") as handle:
            wanted = [identity(r) for r in json.load(handle) if r["result"] != "stillborn"]
        found = {identity(c): c for c in candidates}
        for gone in (w for w in wanted if w not in found):
            print(f"no longer in the code: {gone}")
        candidates = [found[w] for w in wanted if w in found]
        options.count = len(candidates)
    print(f"{len(candidates)} possible mutants; judging {options.count} (seed {options.seed})", flush=True)
    earlier = {}
    if options.resume and os.path.exists(options.report):
        with open(options.report, encoding="utf-8") as handle:
            earlier = {identity(r): r for r in json.load(handle)}
    windows = prepare()
    results, started = [], time.time()
    for mutant in candidates:
        if sum(r["result"] in ("killed", "survived") for r in results) >= options.count:
            break
        if identity(mutant) in earlier:
            results.append(earlier[identity(mutant)])
            continue
        why = equivalence(mutant)
        if why:
            mutant["result"], mutant["killedBy"], mutant["why"] = "equivalent", "", why
        else:
            mutant["result"], mutant["killedBy"] = judge(mutant, windows)
        results.append(mutant)
        with open(options.report, "w", encoding="utf-8") as handle:
            json.dump(results, handle, indent=1)
        if mutant["result"] != "stillborn":
            print(f"{mutant['result']:9} {mutant['killedBy']:14} {mutant['file']}:{mutant['line']} "
                  f"{mutant['operator']}: {mutant['mutated'].strip()}", flush=True)
    judged = [r for r in results if r["result"] in ("killed", "survived")]
    killed = sum(r["result"] == "killed" for r in judged)
    equivalent = [r for r in results if r["result"] == "equivalent"]
    for r in equivalent:
        print(f"equivalent {r['file']}:{r['line']} {r['operator']}: {r['mutated'].strip()}\n  why: {r['why']}")
    print(f"killed {killed} of {len(judged)} ({100.0 * killed / max(len(judged), 1):.1f}%), "
          f"{len(equivalent)} equivalent (named above), "
          f"{sum(r['result'] == 'stillborn' for r in results)} stillborn, {time.time() - started:.0f} s")
    with open(options.report, "w", encoding="utf-8") as handle:
        json.dump(results, handle, indent=1)
    if options.compare:
        with open(options.compare, encoding="utf-8") as handle:
            before = {identity(r) for r in json.load(handle) if r["result"] == "killed"}
        lost = [r for r in judged if r["result"] == "survived" and identity(r) in before]
        print(f"{len(lost)} mutants killed before survive now")
        for r in lost:
            print(f"  {r['file']}:{r['line']} {r['operator']}: {r['mutated'].strip()}")
        return 1 if lost else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
