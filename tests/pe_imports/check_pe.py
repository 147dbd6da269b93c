#!/usr/bin/env python3
"""Checks the images of the Windows build against the reviewed allowlist.

Usage:
  check_pe.py --objdump OBJDUMP --allowlist allowlist.txt [--skip-missing]
              NAME=PATH [NAME=PATH ...]

NAME selects the allowlist block ("pfmsetup.exe", "pfmres.dll"); PATH is the
image to check. Everything is read from the MinGW objdump (-p for the header,
data directories, imports and resources; -h for the sections; -t for the
symbols; -d for the instructions), so a failure names the same facts that
`objdump -p` shows.

Every breach is printed as one line "NAME: what is wrong"; the exit code is 1
when there was any, 0 when none, and 77 (with --skip-missing) when an image
is absent, which ctest reports as skipped.

With --symbols-from NAME=PATH, the symbols of image NAME (which the rules
entry-symbol, no-constructors and forbid-symbol read) come from PATH, the
same image before its symbol table was stripped; every section of the two
must then hold the same bytes (objdump -s), else that is a breach.

With --expect-fault REGEX (repeatable) the check is turned round, to show
that it catches what it should: the exit code is 0 when every REGEX matches
one of the breaches found, else 1.

Allowlist lines (after "[NAME]", "#" starts a comment, ";" a note):
  header FIELD VALUE        the objdump -p header field must read VALUE
  no-directory NAME...      that data directory must be empty
  section NAME              a section the image may have; any other fails
  no-code                   no section may hold code
  resource TYPE ID          the image's resources must be exactly these
                            (decimal type and id, any language)
  import DLL!FUNCTION       an import the image may have, by name
  entry-symbol SYMBOL       the entry point must be that symbol
  no-constructors           the static-constructor list must be empty
  forbid-symbol REGEX       no symbol may match
  cpu i386                  no instruction beyond the 80386's
"""

import argparse
import re
import subprocess
import sys

SKIP = 77

# Mnemonics of instructions that the 80386 does not have: 486 (bswap,
# cmpxchg, xadd, invlpg, wbinvd, invd), Pentium (cpuid, rdtsc, rdmsr, wrmsr,
# cmpxchg8b, rsm), Pentium Pro (cmov, fcmov, fcomi, fucomi, sysenter,
# sysexit, rdpmc), and every MMX/SSE register.
POST_386_MNEMONIC = re.compile(
    r"^(bswap|cmpxchg8b|cmpxchg|xadd|invlpg|wbinvd|invd|cpuid|rdtsc|rdmsr|wrmsr|rsm|"
    r"cmov[a-z]+|fcmov[a-z]+|fcomip?|fucomip?|sysenter|sysexit|rdpmc|emms)$")
VECTOR_REGISTER = re.compile(r"%x?mm[0-9]")


class Rules:
    def __init__(self):
        self.headers = {}
        self.empty_directories = []
        self.sections = set()
        self.no_code = False
        self.resources = set()
        self.imports = set()
        self.entry_symbol = None
        self.no_constructors = False
        self.forbidden_symbols = []
        self.cpu = None


def read_allowlist(path):
    blocks = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].split(";", 1)[0].strip()
            if not line:
                continue
            where = f"{path}:{number}"
            if line.startswith("[") and line.endswith("]"):
                current = blocks.setdefault(line[1:-1].strip().lower(), Rules())
                continue
            if current is None:
                sys.exit(f"{where}: rule before the first [file] line")
            word, _, rest = line.partition(" ")
            rest = rest.strip()
            if word == "header":
                field, _, value = rest.partition(" ")
                current.headers[field] = value.strip().lower()
            elif word == "no-directory":
                current.empty_directories.append(rest)
            elif word == "section":
                current.sections.add(rest)
            elif word == "no-code":
                current.no_code = True
            elif word == "resource":
                kind, _, ident = rest.partition(" ")
                current.resources.add((int(kind), int(ident)))
            elif word == "import":
                dll, bang, function = rest.partition("!")
                if not bang or not function:
                    sys.exit(f"{where}: import must read DLL!FUNCTION")
                current.imports.add((dll.lower(), function))
            elif word == "entry-symbol":
                current.entry_symbol = rest
            elif word == "no-constructors":
                current.no_constructors = True
            elif word == "forbid-symbol":
                current.forbidden_symbols.append(re.compile(rest))
            elif word == "cpu":
                current.cpu = rest
            else:
                sys.exit(f"{where}: unknown rule '{word}'")
    return blocks


def objdump(tool, option, path):
    result = subprocess.run([tool, option, path], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{tool} {option} {path} failed: {result.stderr.strip()}")
    return result.stdout


class Image:
    """What objdump tells about one PE image."""

    def __init__(self, tool, path, symbols_path=None):
        private = objdump(tool, "-p", path)
        self.format = re.search(r"file format (\S+)", private).group(1)
        self.headers = {}
        self.directories = {}
        self.imports = []          # (dll, function or None for an ordinal)
        self.resources = []        # (type, id); id None for a named entry
        self.named_resources = []  # text of named entries at any level
        self._parse_private(private)
        self.sections = self._parse_sections(objdump(tool, "-h", path))
        self.symbols = self._parse_symbols(objdump(tool, "-t", symbols_path or path))
        self._tool = tool
        self._path = path

    def _parse_private(self, text):
        lines = text.splitlines()
        header = re.compile(r"^([A-Za-z][A-Za-z0-9]*)\s+([0-9a-fA-F]+)\b")
        directory = re.compile(r"^Entry ([0-9a-f]) ([0-9a-f]{8}) ([0-9a-f]{8}) (.+?)(?: \[.*\])?$")
        dll = None
        in_imports = False
        in_resources = False
        resource_type = None
        for line in lines:
            m = directory.match(line)
            if m:
                self.directories[m.group(4).strip()] = (int(m.group(2), 16), int(m.group(3), 16))
                continue
            if line.startswith("The Import Tables"):
                in_imports, in_resources = True, False
                continue
            if line.startswith("The .rsrc Resource Directory"):
                in_imports, in_resources = False, True
                continue
            if line.startswith("The ") or line.startswith("PE File Base Relocations") \
                    or line.startswith("There is an export table"):
                in_imports = in_resources = False
            if in_imports:
                m = re.match(r"^\s*DLL Name: (\S+)", line)
                if m:
                    dll = m.group(1)
                    continue
                # "\t40ac\t  355  ExitProcess": address, hint, name; an import
                # by ordinal shows the ordinal with no name.
                m = re.match(r"^\t([0-9a-f]+)\t\s*(\d+)\s*(\S*)", line)
                if m and dll:
                    self.imports.append((dll, m.group(3) or None, m.group(2)))
                continue
            if in_resources:
                m = re.match(r"^[0-9a-f]{3}( +)Entry: (?:ID: 0x([0-9a-f]+)|name: (.*?)), Value:", line)
                if not m:
                    continue
                depth = len(m.group(1))
                ident = int(m.group(2), 16) if m.group(2) else None
                if m.group(3) is not None:
                    self.named_resources.append(m.group(3))
                if depth == 3:
                    resource_type = ident
                elif depth == 5:
                    self.resources.append((resource_type, ident))
                continue
            m = header.match(line)
            if m and m.group(1) not in self.headers:
                self.headers[m.group(1)] = m.group(2).lower()

    @staticmethod
    def _parse_sections(text):
        sections = []
        lines = text.splitlines()
        for i, line in enumerate(lines):
            m = re.match(r"^\s*(\d+) (\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)", line)
            if m:
                flags = lines[i + 1].strip() if i + 1 < len(lines) else ""
                sections.append({"index": int(m.group(1)) + 1, "name": m.group(2),
                                 "vma": int(m.group(4), 16),
                                 "flags": [f.strip() for f in flags.split(",")]})
        return sections

    @staticmethod
    def _parse_symbols(text):
        # "[220](sec  1)(fl 0x00)(ty    0)(scl   2) (nx 0) 0x0000030c __CTOR_LIST__":
        # the value is relative to the section.
        symbols = {}
        for m in re.finditer(r"\(sec\s+(-?\d+)\).*?0x([0-9a-f]+) (\S+)$", text, re.M):
            symbols[m.group(3)] = (int(m.group(1)), int(m.group(2), 16))
        return symbols

    def symbol_address(self, name):
        if name not in self.symbols:
            return None
        section, value = self.symbols[name]
        for s in self.sections:
            if s["index"] == section:
                return s["vma"] + value
        return None

    @staticmethod
    def section_contents(tool, path):
        """The bytes of every section, as objdump -s dumps them (the line
        naming the file left out)."""
        return [line for line in objdump(tool, "-s", path).splitlines() if "file format" not in line]

    def disassembly(self):
        return objdump(self._tool, "-d", self._path)


def check(name, image, rules):
    faults = []
    if image.format != "pei-i386":
        faults.append(f"file format is {image.format}, not pei-i386")

    for field, wanted in rules.headers.items():
        got = image.headers.get(field)
        if got is None:
            faults.append(f"header field {field} not shown by objdump")
        elif got != wanted:
            faults.append(f"header field {field} is {got}, must be {wanted}")

    for directory in rules.empty_directories:
        if directory not in image.directories:
            faults.append(f"data directory '{directory}' not shown by objdump")
        elif image.directories[directory] != (0, 0):
            rva, size = image.directories[directory]
            faults.append(f"data directory '{directory}' is not empty (at {rva:08x}, size {size:#x})")

    for s in image.sections:
        if s["name"] not in rules.sections:
            faults.append(f"section {s['name']} is not allowed")
        if rules.no_code and "CODE" in s["flags"]:
            faults.append(f"section {s['name']} holds code")

    got_resources = set(image.resources)
    for named in image.named_resources:
        faults.append(f"resource with a name ({named}) is not allowed")
    for kind, ident in sorted(r for r in got_resources - rules.resources if r[1] is not None):
        faults.append(f"resource type {kind} id {ident} is not allowed")
    for kind, ident in sorted(rules.resources - got_resources):
        faults.append(f"resource type {kind} id {ident} is missing")

    allowed = rules.imports
    for dll, function, hint in image.imports:
        if function is None:
            faults.append(f"{dll} ordinal {hint} is imported by number, not by name")
        elif (dll.lower(), function) not in allowed:
            faults.append(f"import {dll}!{function} is not in the allowlist")

    if rules.entry_symbol:
        address = image.symbol_address(rules.entry_symbol)
        entry = int(image.headers.get("AddressOfEntryPoint", "0"), 16)
        base = int(image.headers.get("ImageBase", "0"), 16)
        if address is None:
            faults.append(f"symbol {rules.entry_symbol} not found (is the image stripped?)")
        elif address - base != entry:
            faults.append(f"entry point {entry:08x} is not {rules.entry_symbol} ({address - base:08x})")

    if rules.no_constructors:
        start = image.symbol_address("__CTOR_LIST__")
        end = image.symbol_address("__DTOR_LIST__")
        if start is None or end is None:
            faults.append("constructor list symbols not found (is the image stripped?)")
        elif end - start != 8:
            count = (end - start) // 4 - 2
            faults.append(f"{count} static constructor(s) in the image; nothing would run them")

    for pattern in rules.forbidden_symbols:
        for symbol in sorted(image.symbols):
            if pattern.search(symbol):
                faults.append(f"symbol {symbol} is forbidden ({pattern.pattern})")

    if rules.cpu == "i386":
        for line in image.disassembly().splitlines():
            parts = line.split("\t")
            if len(parts) < 3:
                continue
            instruction = parts[2].strip()
            mnemonic = instruction.split(" ", 1)[0]
            if POST_386_MNEMONIC.match(mnemonic) or VECTOR_REGISTER.search(instruction):
                faults.append(f"instruction beyond the 80386 at {parts[0].strip()} {instruction}")
    elif rules.cpu:
        faults.append(f"unknown cpu rule '{rules.cpu}'")

    return [f"{name}: {fault}" for fault in faults]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--allowlist", required=True)
    parser.add_argument("--skip-missing", action="store_true")
    parser.add_argument("--expect-fault", action="append", default=[], metavar="REGEX")
    parser.add_argument("--symbols-from", action="append", default=[], metavar="NAME=PATH")
    parser.add_argument("images", nargs="+", metavar="NAME=PATH")
    args = parser.parse_args()

    blocks = read_allowlist(args.allowlist)
    unstripped = {}
    for item in args.symbols_from:
        name, eq, path = item.partition("=")
        if not eq:
            sys.exit(f"argument '{item}' must read NAME=PATH")
        unstripped[name.lower()] = path
    faults = []
    for item in args.images:
        name, eq, path = item.partition("=")
        if not eq:
            sys.exit(f"argument '{item}' must read NAME=PATH")
        rules = blocks.get(name.lower())
        if rules is None:
            sys.exit(f"no [{name}] block in {args.allowlist}")
        try:
            open(path, "rb").close()
        except OSError:
            if args.skip_missing:
                print(f"{name}: {path} is not built; skipped")
                return SKIP
            faults.append(f"{name}: {path} cannot be read")
            continue
        symbols_path = unstripped.get(name.lower())
        image = Image(args.objdump, path, symbols_path)
        found = check(name, image, rules)
        if symbols_path and (Image.section_contents(args.objdump, path)
                             != Image.section_contents(args.objdump, symbols_path)):
            found.append(f"{name}: sections differ from {symbols_path}, whose symbols were to be read")
        faults.extend(found)
        names = sorted(f"{d}!{f}" for d, f, _ in image.imports if f)
        print(f"{name}: {len(names)} imports, {len(image.resources)} resources, "
              f"{len(image.sections)} sections, {len(found)} fault(s)")
    for fault in faults:
        print(fault)
    if args.expect_fault:
        missed = [e for e in args.expect_fault if not any(re.search(e, f) for f in faults)]
        for expected in missed:
            print(f"expected a breach matching '{expected}', found none")
        return 1 if missed else 0
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
