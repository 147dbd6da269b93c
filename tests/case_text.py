"""The text of the case files that the Wine comparison suites read: C-style
escapes in file contents and arguments."""

import re


class CaseError(Exception):
    pass


def unescape(text):
    """Bytes of TEXT with its escapes: \\n \\r \\t \\0 \\\\ \\" \\' \\a \\b \\f \\v, \\xH or
    \\xHH, and \\[N*TEXT] for TEXT repeated N times."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out += c.encode("latin-1")
            i += 1
            continue
        i += 1
        if i >= len(text):
            raise CaseError("a '\\' ends the line: " + text)
        c = text[i]
        i += 1
        simple = {"n": b"\n", "r": b"\r", "t": b"\t", "0": b"\0", "\\": b"\\",
                  '"': b'"', "'": b"'", "a": b"\a", "b": b"\b", "f": b"\f", "v": b"\v"}
        if c in simple:
            out += simple[c]
        elif c == "x":
            m = re.match(r"[0-9A-Fa-f]{1,2}", text[i:])
            if not m:
                raise CaseError("bad \\x escape: " + text)
            out.append(int(m.group(0), 16))
            i += len(m.group(0))
        elif c == "[":
            m = re.match(r"(\d+)\*([^\]]*)\]", text[i:])
            if not m:
                raise CaseError("bad \\[N*TEXT] escape: " + text)
            out += unescape(m.group(2)) * int(m.group(1))
            i += len(m.group(0))
        else:
            raise CaseError("unknown escape \\" + c + ": " + text)
    return bytes(out)


def read_block(lines, i, opening):
    """The bytes of the '|' lines from LINES[I] up to the line 'end', and the
    index after it; OPENING names the block in errors."""
    body = []
    while i < len(lines) and lines[i] != "end":
        if not lines[i].startswith("|"):
            raise CaseError("content lines start with '|': " + lines[i])
        body.append(unescape(lines[i][1:]))
        i += 1
    if i == len(lines):
        raise CaseError("no 'end' after: " + opening)
    return body, i + 1


def file_bytes(body, eol, noeol):
    """A file of the lines BODY, each ended by EOL, the last one not with
    NOEOL."""
    data = b"".join(b + eol for b in body)
    if noeol and body:
        data = data[:len(data) - len(eol)]
    return data
