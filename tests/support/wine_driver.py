"""What the drivers of the suites that compare the host layer with Wine
share (tests/conformance/run_case.py, tests/conformance_system/run_case.py,
tests/wine_e2e/run_e2e.py):

- the Windows 98 prefix that the tests run Wine in: made once per build
  folder (wineboot is slow), and copied per case with hard links (a prefix
  is 600 MB); commands run to their end through files, not pipes;
- the text of their case files: C-style escapes in file contents and
  arguments, and the blocks of '|' lines.
"""

import fcntl
import os
import re
import shutil
import subprocess
import tempfile

READY = ".pfm-ready"


class PrefixError(Exception):
    pass


def run(cmd, env=None, cwd=None, timeout=120):
    """Runs CMD to its end. Its output goes through files, not pipes: the
    Wine processes that a wine command starts (services, explorer) inherit
    them and live on for a while, and a pipe would only end with them."""
    full = dict(os.environ)
    full.update(env or {})
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.run(cmd, env=full, cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(cmd, proc.returncode, out.read(), err.read())


def wine_env(prefix, display=""):
    return {"WINEPREFIX": prefix, "WINEARCH": "win32", "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=", "DISPLAY": display}


def windows_path(path):
    """The Windows name of a Unix path through the prefix's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ensure_template(template):
    """A Windows 98 prefix at TEMPLATE, made once. The ready mark and the
    lock beside it let the suites share it."""
    if os.path.isfile(os.path.join(template, READY)):
        return
    os.makedirs(os.path.dirname(os.path.abspath(template)), exist_ok=True)
    with open(template + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isfile(os.path.join(template, READY)):
            return
        shutil.rmtree(template, ignore_errors=True)
        env = wine_env(template)
        for cmd in (["wineboot", "-i"], ["wine", "winecfg", "-v", "win98"], ["wineserver", "-w"]):
            r = run(cmd, env=env, timeout=300)
            if r.returncode != 0:
                raise PrefixError("%s failed: %s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
        open(os.path.join(template, READY), "w").close()


def copy_prefix(template, dest):
    """A copy of the template: folders new, files hard-linked, except the
    files that Wine or the host layer rewrite in place, which get copies of
    their own."""
    shutil.rmtree(dest, ignore_errors=True)
    r = run(["cp", "-al", template, dest])
    if r.returncode != 0:
        raise PrefixError("cannot copy the prefix: " + r.stderr.decode(errors="replace"))
    for folder in (dest, os.path.join(dest, "drive_c", "windows")):
        for name in os.listdir(folder):
            p = os.path.join(folder, name)
            if os.path.isfile(p) and not os.path.islink(p) and (
                    name.endswith(".reg") or name.endswith(".ini") or name.startswith(".")):
                with open(p, "rb") as f:
                    data = f.read()
                os.unlink(p)
                with open(p, "wb") as f:
                    f.write(data)


def restore_modes(root):
    """Makes every folder under ROOT writable again (cases take write
    permission away), so that the work folder can be removed."""
    if os.path.isdir(root) and not os.path.islink(root):
        os.chmod(root, 0o755)
    for dirpath, dirnames, _ in os.walk(root):
        for d in dirnames:
            p = os.path.join(dirpath, d)
            if not os.path.islink(p):
                os.chmod(p, 0o755)


# ---------------------------------------------------------------------------
# The text of the case files.


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
