#!/usr/bin/env python3
"""Writes Windows 95/98/Me registry files (SYSTEM.DAT, USER.DAT: the CREG
format) for tests and examples.

Input is a description in the shape of a REGEDIT4 file, read as bytes in
the installation's ANSI code page:

    ; a comment
    [System\\CurrentControlSet\\Control\\Print\\Printers\\Kit Printer]
    "Port"="LPT1:"                  REG_SZ, stored without a NUL as 9x does
    "Attributes"=dword:00000010     REG_DWORD
    "Blob"=hex:01,02,ff             REG_BINARY
    "Typed"=hex(1):41,42,00         any type, the bytes as given
    @="the default value"

A section creates its key and every key above it. Subkeys are stored, and
so enumerated, in the order their names first appear; key and value names
keep the letter case of their first appearance (names merge when equal
without ASCII letter case). In quoted texts, \\\\ and
\\" stand for \\ and ".

From the command line:   creg_write.py DESCRIPTION OUT.DAT [--align N]
As a module:             build(parse_description(text)) -> bytes

The file: a 32-byte header ("CREG", version 1.0, the offset of the first
data block, the number of data blocks); the key tree "RGKN" (a 32-byte
header, then one 28-byte entry per key: name hash, parent, first subkey
and next sibling as offsets from RGKN, the key's record number and data
block); then the data blocks "RGDB" of at most 255 key records each, every
record followed by the key's values, the unused end of a block covered by
a free record.
"""

import struct
import sys

REG_SZ = 1
REG_BINARY = 3
REG_DWORD = 4

NONE = 0xFFFFFFFF
HEADER_SIZE = 0x20
RGKN_HEADER_SIZE = 0x20
RGKN_ENTRY_SIZE = 28
RGDB_HEADER_SIZE = 0x20
KEY_RECORD_HEADER = 20
VALUE_HEADER = 12
KEYS_PER_BLOCK = 255
BLOCK_LIMIT = 0xF000  # what one data block holds at most, as 9x fills them


class DescriptionError(ValueError):
    pass


class Key:
    def __init__(self, name=b""):
        self.name = name
        self.values = []   # (name, type, data), in the order given
        self.subkeys = []  # in the order given

    def subkey(self, name, create=True):
        folded = name.upper()
        for key in self.subkeys:
            if key.name.upper() == folded:
                return key
        if not create:
            return None
        key = Key(name)
        self.subkeys.append(key)
        return key

    def set_value(self, name, type_, data):
        folded = name.upper()
        for i, (old, _, _) in enumerate(self.values):
            if old.upper() == folded:
                self.values[i] = (old, type_, data)
                return
        self.values.append((name, type_, data))

    def walk(self):
        """The key and those below it, parents before their subkeys."""
        yield self
        for key in self.subkeys:
            yield from key.walk()


def _as_bytes(text, encoding):
    return text if isinstance(text, bytes) else text.encode(encoding)


def key_at(root, path, encoding="cp1252"):
    """The key at a '\\'-separated path below ROOT, created if missing. The
    path is split at its characters '\\', not at every byte of that value:
    in code page 932 the second byte of a character may be one."""
    text = path if isinstance(path, str) else path.decode(encoding, "surrogateescape")
    key = root
    for part in text.split("\\"):
        if part:
            key = key.subkey(part.encode(encoding, "surrogateescape"))
    return key


def _unquote(line, i, lineno):
    """The text of the quoted string starting at LINE[I] == '"', and the
    index after its closing quote."""
    out = bytearray()
    i += 1
    while i < len(line):
        c = line[i:i + 1]
        if c == b"\\" and i + 1 < len(line):
            out += line[i + 1:i + 2]
            i += 2
            continue
        if c == b'"':
            return bytes(out), i + 1
        out += c
        i += 1
    raise DescriptionError("line %d: unterminated string" % lineno)


def _hex_bytes(text, lineno):
    text = text.replace(b" ", b"").replace(b"\t", b"")
    if not text:
        return b""
    try:
        return bytes(int(part, 16) for part in text.split(b","))
    except ValueError:
        raise DescriptionError("line %d: bad hex bytes" % lineno) from None


def _parse_data(text, lineno):
    if text.startswith(b'"'):
        data, end = _unquote(text, 0, lineno)
        if text[end:].strip():
            raise DescriptionError("line %d: text after the string" % lineno)
        return REG_SZ, data
    if text.startswith(b"dword:"):
        try:
            return REG_DWORD, struct.pack("<I", int(text[6:].strip(), 16))
        except (ValueError, struct.error):
            raise DescriptionError("line %d: bad dword" % lineno) from None
    if text.startswith(b"hex:"):
        return REG_BINARY, _hex_bytes(text[4:], lineno)
    if text.startswith(b"hex("):
        close = text.find(b"):")
        if close < 0:
            raise DescriptionError("line %d: bad hex(type)" % lineno)
        try:
            type_ = int(text[4:close], 16)
        except ValueError:
            raise DescriptionError("line %d: bad type" % lineno) from None
        return type_, _hex_bytes(text[close + 2:], lineno)
    raise DescriptionError("line %d: unknown data" % lineno)


def parse_description(text, encoding="cp1252"):
    """The key tree that a description (bytes in code page ENCODING, or str)
    holds; raises DescriptionError on a line it cannot read."""
    text = _as_bytes(text, encoding)
    root = Key()
    key = None
    lines = text.replace(b"\r\n", b"\n").split(b"\n")
    for lineno, raw in enumerate(lines, 1):
        line = raw.strip()
        if not line or line.startswith(b";") or line == b"REGEDIT4":
            continue
        if line.startswith(b"["):
            if not line.endswith(b"]"):
                raise DescriptionError("line %d: section without ']'" % lineno)
            key = key_at(root, line[1:-1], encoding)
            continue
        if key is None:
            raise DescriptionError("line %d: value before any key" % lineno)
        if line.startswith(b"@="):
            name, rest = b"", line[2:]
        elif line.startswith(b'"'):
            name, end = _unquote(line, 0, lineno)
            if line[end:end + 1] != b"=":
                raise DescriptionError("line %d: no '=' after the name" % lineno)
            rest = line[end + 1:]
        else:
            raise DescriptionError("line %d: not a key or a value" % lineno)
        key.set_value(name, *_parse_data(rest, lineno))
    return root


def name_hash(name):
    """The hash the key tree holds for a name: the sum of its bytes below
    0x80, upper-cased."""
    return sum(b for b in name.upper() if b < 0x80)


def _key_record(key_id, block, key):
    if len(key.name) > 0xFFFF or len(key.values) > 0xFFFF:
        raise DescriptionError("key %r: name or values too long" % key.name[:40])
    body = bytearray()
    for name, type_, data in key.values:
        if len(name) > 0xFFFF or len(data) > 0xFFFF:
            raise DescriptionError("value %r: name or data too long" % name[:40])
        body += struct.pack("<IIHH", type_, 0, len(name), len(data)) + name + data
    size = KEY_RECORD_HEADER + len(key.name) + len(body)
    return struct.pack("<IHHIHHI", size, key_id, block, size, len(key.name),
                       len(key.values), 0) + key.name + bytes(body)


def _free_record(size):
    return struct.pack("<IHHIHHI", size, 0xFFFF, 0xFFFF, NONE, 0, 0, 0) + bytes(size - KEY_RECORD_HEADER)


def _round_up(n, align):
    return (n + align - 1) // align * align


def _block(number, records, align):
    content = sum(len(r) for r in records)
    size = _round_up(RGDB_HEADER_SIZE + content, align)
    free = size - RGDB_HEADER_SIZE - content
    if 0 < free < KEY_RECORD_HEADER:  # a free record needs its header
        size += _round_up(KEY_RECORD_HEADER, align)
        free = size - RGDB_HEADER_SIZE - content
    header = struct.pack("<4sIIHHIHH8s", b"RGDB", size, free, 8, number,
                         RGDB_HEADER_SIZE + content, len(records) - 1, len(records), bytes(8))
    out = header + b"".join(records)
    if free:
        out += _free_record(free)
    return out


def build(root, align=4096):
    """The bytes of a registry file holding the tree below ROOT (whose own
    name and values are not stored: the root has no record)."""
    if align < 4 or align % 4:
        raise ValueError("align must be a positive multiple of 4")
    keys = list(root.walk())
    index = {id(k): i for i, k in enumerate(keys)}

    def offset(key):
        return NONE if key is None else RGKN_HEADER_SIZE + RGKN_ENTRY_SIZE * index[id(key)]

    parent = {id(root): None}
    next_sibling = {id(root): None}
    for key in keys:
        for i, sub in enumerate(key.subkeys):
            parent[id(sub)] = key
            next_sibling[id(sub)] = key.subkeys[i + 1] if i + 1 < len(key.subkeys) else None

    # Key records, filled into data blocks in the order of the tree.
    blocks = [[]]
    block_bytes = 0
    where = {id(root): (0xFFFF, 0xFFFF)}
    for key in keys[1:]:
        record = _key_record(len(blocks[-1]), len(blocks) - 1, key)
        if blocks[-1] and (len(blocks[-1]) >= KEYS_PER_BLOCK or
                           block_bytes + len(record) > BLOCK_LIMIT - RGDB_HEADER_SIZE - KEY_RECORD_HEADER):
            blocks.append([])
            block_bytes = 0
            record = _key_record(0, len(blocks) - 1, key)
        where[id(key)] = (len(blocks[-1]), len(blocks) - 1)
        blocks[-1].append(record)
        block_bytes += len(record)
    if not blocks[-1]:
        blocks.pop()

    tree = bytearray()
    for key in keys:
        first = key.subkeys[0] if key.subkeys else None
        key_id, block = where[id(key)]
        tree += struct.pack("<IIIIIIHH", 0, name_hash(key.name), NONE, offset(parent[id(key)]),
                            offset(first), offset(next_sibling[id(key)]), key_id, block)
    # libcreg reads entries only up to the tree's size less its header's:
    # the tree keeps that much room after its last entry, as 9x's own
    # files keep room for new keys.
    rgkn_size = _round_up(RGKN_HEADER_SIZE + len(tree) + RGKN_HEADER_SIZE, align)
    rgkn = struct.pack("<4sIIIII8s", b"RGKN", rgkn_size, RGKN_HEADER_SIZE,
                       RGKN_HEADER_SIZE + len(tree), 0, 0, bytes(8)) + tree
    rgkn += bytes(rgkn_size - len(rgkn))

    data = b"".join(_block(n, records, align) for n, records in enumerate(blocks))
    header = struct.pack("<4sHHIIHHHH8s", b"CREG", 0, 1, HEADER_SIZE + rgkn_size, 0,
                         len(blocks), 0x20, 0, 1, bytes(8))
    return header + bytes(rgkn) + data


def main(argv):
    args = list(argv[1:])
    align = 4096
    if "--align" in args:
        i = args.index("--align")
        try:
            align = int(args[i + 1])
        except (IndexError, ValueError):
            print("creg_write.py: --align needs a number", file=sys.stderr)
            return 2
        del args[i:i + 2]
    if len(args) != 2:
        print("usage: creg_write.py DESCRIPTION OUT.DAT [--align N]", file=sys.stderr)
        return 2
    try:
        with open(args[0], "rb") as f:
            root = parse_description(f.read())
        data = build(root, align)
    except (OSError, ValueError) as e:
        print("creg_write.py: %s" % e, file=sys.stderr)
        return 1
    with open(args[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
