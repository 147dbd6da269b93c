#!/usr/bin/env python3
"""Runs one profile conformance case: the Windows build of profile_script
under Wine (the reference) and the host build against the host layer, each
on its own fresh copy of a Windows 98 prefix, and compares what they did.

Usage:
  run_case.py [options] CASE
    --exe PROBE.EXE       the Windows build of profile_script (required)
    --host PROBE          the host build (without it: Wine alone is run)
    --template DIR        a Windows 98 prefix to copy; created there if absent
    --work DIR            scratch folder for this case (emptied first)
    --prepare             only make the template prefix
    --record              write Wine's answers back into CASE
    --show                print Wine's output and resulting win.ini

A case passes when, for every line of the script, both builds print the same
line, and the resulting win.ini files say the same thing: the same sections
in order, each with the same entries in order, as the platform's own reader
(the Windows build under Wine) gives them back. When the win.ini that the
case starts from is already in the form that Wine writes, the resulting
files must also be equal byte for byte (elsewhere they differ by design:
Wine rewrites the whole file, the host layer keeps untouched lines as they
were). When the case holds recorded answers of Wine, Wine must still give
them.

Case file syntax (lines; '#' starts a comment line outside blocks):

  title: TEXT
  codepage: N            the prefix's registry names ANSI code page N (ACP)
  known: line N: WHY     line N of the script may differ between the builds
  known: win.ini: WHY    the resulting win.ini files may say different things
  known: bytes: WHY      the resulting win.ini files may differ in bytes
  file PATH [eol=crlf|lf|cr|none] [noeol] [mode=0444]
  |content line
  end
  absent PATH            the file must not exist
  chmod PATH MODE        after the files are written (e.g. chmod windows 0555)
  link PATH TARGET       PATH made a symbolic link to TARGET (another PATH);
                         after the run it must still be a link
  script
  gpps "s" "k" "" 10 "%KIT%\\pfmsetup.ini"
  end
  wine-output            recorded by --record
  ...
  end
  wine-file win.ini eol=lf [noeol]   recorded by --record
  |...
  end

PATH is kit/NAME (the kit folder, the current directory of both runs),
windows/NAME (the prefix's C:\\windows), windows (that folder itself) or
win.ini (short for windows/win.ini). A content line is the text after '|',
with C escapes (\\r \\n \\t \\0 \\\\ \\xHH, \\[N*TEXT] for TEXT repeated N
times); each line gets the file's line end (eol, CRLF when not given) except
the last one when noeol is given. Without a file line for win.ini the case
starts from an empty win.ini. In the script, %KIT% stands for the kit
folder's Windows path (Z:\\...\\kit).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_driver import (CaseError, PrefixError, copy_prefix, ensure_template, file_bytes,  # noqa: E402
                         read_block, restore_modes, run, unescape, windows_path, wine_env)

RECORD_MARK = "# Wine's answers, recorded by run_case.py --record:"
EOLS = {"crlf": b"\r\n", "lf": b"\n", "cr": b"\r", "none": b""}




def escape(data):
    """The inverse of unescape for one line's content."""
    out = []
    for b in data:
        if b == 0:
            out.append("\\0")
        elif b == 0x5C:
            out.append("\\\\")
        elif b == 0x0D:
            out.append("\\r")
        elif b == 0x09:
            out.append("\\t")
        elif 0x20 <= b < 0x7F:
            out.append(chr(b))
        else:
            out.append("\\x%02X" % b)
    text = "".join(out)
    if text.endswith(" "):
        text = text[:-1] + "\\x20"
    return text


def encode_file_block(header, data):
    """A 'wine-file' block holding DATA split at LF, each CR shown."""
    lines = data.split(b"\n")
    noeol = lines[-1] != b""
    if not noeol:
        lines = lines[:-1]
    head = header + " eol=lf" + (" noeol" if noeol else "")
    return [head] + ["|" + escape(line) for line in lines] + ["end"]


class Case:
    def __init__(self, path):
        self.path = path
        self.title = ""
        self.code_page = None    # the ACP value both prefixes get
        self.known = {}          # "line N" / "win.ini" / "bytes" -> why
        self.files = []          # (path, bytes or None, mode)
        self.chmods = []         # (path, mode)
        self.links = []          # (path, target)
        self.script = []
        self.wine_output = None
        self.wine_file = None
        self.parse()

    def parse(self):
        with open(self.path, encoding="latin-1") as f:
            raw = f.read().split("\n")
        if raw and raw[-1] == "":
            raw.pop()
        i = 0
        while i < len(raw):
            line = raw[i]
            i += 1
            words = line.split()
            if not words or line.startswith("#"):
                continue
            if line.startswith("title:"):
                self.title = line[6:].strip()
            elif line.startswith("codepage:"):
                self.code_page = line[9:].strip()
            elif line.startswith("known:"):
                m = re.match(r"known:\s*(line \d+|win\.ini|bytes)\s*:\s*(.*)", line)
                if not m:
                    raise CaseError("bad known line: " + line)
                self.known[m.group(1)] = m.group(2)
            elif words[0] in ("file", "wine-file"):
                eol, noeol, mode = b"\r\n", False, None
                for w in words[2:]:
                    if w.startswith("eol=") and w[4:] in EOLS:
                        eol = EOLS[w[4:]]
                    elif w == "noeol":
                        noeol = True
                    elif w.startswith("mode="):
                        mode = int(w[5:], 8)
                    else:
                        raise CaseError("bad file option: " + line)
                body, i = read_block(raw, i, line)
                data = file_bytes(body, eol, noeol)
                if words[0] == "file":
                    self.files.append((self.norm(words[1]), data, mode))
                else:
                    self.wine_file = data
                continue
            elif words[0] == "absent-after":
                self.wine_file = b"absent"
            elif words[0] == "absent":
                self.files.append((self.norm(words[1]), None, None))
            elif words[0] == "link" and len(words) == 3:
                self.links.append((self.norm(words[1]), self.norm(words[2])))
            elif words[0] == "chmod" and len(words) == 3:
                self.chmods.append((self.norm(words[1]), int(words[2], 8)))
            elif words[0] in ("script", "wine-output"):
                start = i
                while i < len(raw) and raw[i] != "end":
                    i += 1
                if i == len(raw):
                    raise CaseError("no 'end' after: " + line)
                if words[0] == "script":
                    self.script = raw[start:i]
                else:
                    self.wine_output = raw[start:i]
                i += 1
                continue
            else:
                raise CaseError("unknown line: " + line)

    @staticmethod
    def norm(path):
        if path == "win.ini":
            return "windows/win.ini"
        if path == "windows" or path.startswith("windows/") or path.startswith("kit/"):
            return path
        raise CaseError("paths start with kit/ or windows/: " + path)

    def initial_win_ini(self):
        for path, data, _ in self.files:
            if path == "windows/win.ini":
                return data
        return b""

    def record(self, output, win_ini):
        """Replaces the recorded blocks, which always end the case file."""
        with open(self.path, encoding="latin-1") as f:
            text = f.read()
        cut = text.find(RECORD_MARK)
        if cut >= 0:
            text = text[:cut]
        lines = text.rstrip("\n").split("\n") + ["", RECORD_MARK, "wine-output"]
        lines += output + ["end"]
        if win_ini is None:
            lines += ["absent-after win.ini"]
        else:
            lines += encode_file_block("wine-file win.ini", win_ini)
        with open(self.path, "w", encoding="latin-1") as f:
            f.write("\n".join(lines) + "\n")


def lay_out(case, root):
    """Builds the case's files under ROOT: ROOT/pfx (the prefix copy) and
    ROOT/kit. Returns (prefix, kit)."""
    prefix = os.path.join(root, "pfx")
    kit = os.path.join(root, "kit")
    os.makedirs(kit)
    windows = os.path.join(prefix, "drive_c", "windows")
    places = {"kit": kit, "windows": windows}

    def where(path):
        head, _, tail = path.partition("/")
        return os.path.join(places[head], tail) if tail else places[head]

    win_ini = os.path.join(windows, "win.ini")
    os.unlink(win_ini)
    open(win_ini, "wb").close()
    for path, data, mode in case.files:
        p = where(path)
        if data is None:
            if os.path.exists(p):
                os.unlink(p)
            continue
        with open(p, "wb") as f:
            f.write(data)
        if mode is not None:
            os.chmod(p, mode)
    for path, target in case.links:
        if os.path.lexists(where(path)):
            os.unlink(where(path))
        os.symlink(os.path.relpath(where(target), os.path.dirname(where(path))), where(path))
    for path, mode in case.chmods:
        os.chmod(where(path), mode)
    return prefix, kit


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


# Wine takes its ANSI code page from the locale it runs in, and writes it to
# the prefix's registry (ACP), where the host reads it: a case with a code
# page runs Wine in a locale of that code page (Unix need not have it).
LOCALES = {"1251": "ru_RU.UTF-8", "932": "ja_JP.UTF-8"}
wine_locale = {}


def set_code_page(prefix, number):
    """Names the ANSI code page in the prefix's registry, through Wine's own
    tool, and waits until system.reg holds it."""
    env = wine_env(prefix)
    env.update(wine_locale)
    key = "HKLM\\System\\CurrentControlSet\\Control\\Nls\\CodePage"
    for cmd in (["wine", "reg", "add", key, "/v", "ACP", "/d", number, "/f"], ["wineserver", "-w"]):
        r = run(cmd, env=env, timeout=240)
        if r.returncode != 0:
            raise PrefixError("%s failed: %s" % (" ".join(cmd), r.stderr.decode(errors="replace")))


def run_wine(exe, prefix, cwd, script_path):
    env = wine_env(prefix)
    env.update(wine_locale)
    r = run(["wine", exe, script_path], env=env, cwd=cwd)
    run(["wineserver", "-w"], env=env)
    return r


def quote(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def parse_list(line):
    """The NUL-separated list that a read returned: the entries within the
    returned length."""
    m = re.search(r' ret=(\d+) buf="(.*)"( OVERRUN)?$', line)
    if not m:
        raise CaseError("unexpected read-back line: " + line)
    data = unescape(m.group(2))[: int(m.group(1))]
    items = data.split(b"\0")
    if items and items[-1] == b"":
        items.pop()
    return items


def read_back(exe, prefix, folder, files):
    """What the platform's reader makes of each file: [(section, [entry])],
    read through the Windows build under Wine; None for a missing file."""
    names = {}
    for label, data in files.items():
        if data is not None:
            path = os.path.join(folder, label + ".ini")
            with open(path, "wb") as f:
                f.write(data)
            names[label] = windows_path(path)
    order = sorted(names)
    script = os.path.join(folder, "sections.txt")
    with open(script, "w", encoding="latin-1") as f:
        for label in order:
            f.write('gpps NULL NULL "" 1000000 %s\n' % quote(names[label]))
    out = run_wine(exe, prefix, folder, script).stdout.decode("latin-1").splitlines()
    if len(out) != len(order):
        raise CaseError("read-back failed: " + repr(out))
    sections = {label: parse_list(line) for label, line in zip(order, out)}
    with open(script, "w", encoding="latin-1") as f:
        for label in order:
            for s in sections[label]:
                f.write("gpsec %s 1000000 %s\n" % (arg(s), quote(names[label])))
    out = iter(run_wine(exe, prefix, folder, script).stdout.decode("latin-1").splitlines())
    result = {label: None for label in files}
    for label in order:
        result[label] = [(s, parse_list(next(out))) for s in sections[label]]
    return result


def arg(data):
    """DATA as a quoted script argument."""
    out = []
    for b in data:
        if 0x20 <= b < 0x7F and b not in (0x5C, 0x22):
            out.append(chr(b))
        else:
            out.append("\\x%02X" % b)
    return '"' + "".join(out) + '"'


def wine_form(content):
    """The bytes that Wine writes for CONTENT, as measured: sections in
    order, no blank lines, CRLF line ends."""
    out = b""
    for section, entries in content:
        out += b"[" + section + b"]\r\n"
        for e in entries:
            out += e + b"\r\n"
    return out


def describe(content):
    if content is None:
        return ["(no file)"]
    lines = []
    for section, entries in content:
        lines.append("[%s]" % escape(section))
        lines += ["  " + escape(e) for e in entries]
    return lines


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("case", nargs="?")
    ap.add_argument("--exe")
    ap.add_argument("--prepare", action="store_true")
    ap.add_argument("--host")
    ap.add_argument("--template", default=os.path.join(tempfile.gettempdir(), "pfm-conformance-w98"))
    ap.add_argument("--work")
    ap.add_argument("--record", action="store_true")
    ap.add_argument("--show", action="store_true")
    args = ap.parse_args()
    template = os.path.abspath(args.template)
    if args.prepare:
        ensure_template(template)
        print("prefix ready: %s" % template)
        return 0
    if not args.case or not args.exe:
        ap.error("a case and --exe are needed")

    case = Case(args.case)
    if case.code_page:
        if case.code_page not in LOCALES:
            raise CaseError("no locale known for code page " + case.code_page)
        locale = LOCALES[case.code_page]
        wine_locale.update({"LANG": locale, "LC_ALL": locale})
    name = os.path.splitext(os.path.basename(args.case))[0]
    work = args.work or os.path.join(tempfile.gettempdir(), "pfm-conformance-" + name)
    if os.path.exists(work):
        restore_modes(work)
        shutil.rmtree(work)
    os.makedirs(work)
    ensure_template(template)
    exe = os.path.abspath(args.exe)

    failures = []
    notes = []

    def run_side(side):
        root = os.path.join(work, side)
        os.makedirs(root)
        copy_prefix(template, os.path.join(root, "pfx"))
        if case.code_page:
            set_code_page(os.path.join(root, "pfx"), case.code_page)
        prefix, kit = lay_out(case, root)
        script_path = os.path.join(root, "script.txt")
        text = "\n".join(case.script).replace("%KIT%", windows_path(kit).replace("\\", "\\\\"))
        with open(script_path, "w", encoding="latin-1") as f:
            f.write(text + "\n")
        if side == "wine":
            r = run_wine(exe, prefix, kit, script_path)
        else:
            r = run([os.path.abspath(args.host), script_path],
                    env={"WINEPREFIX": prefix}, cwd=kit)
        restore_modes(root)
        out = r.stdout.decode("latin-1").splitlines()
        if r.returncode != 0:
            failures.append("%s run: exit code %d; stderr: %s" % (
                side, r.returncode, r.stderr.decode("latin-1").strip()[:2000]))
        windows = os.path.join(prefix, "drive_c", "windows")
        for path, _ in case.links:
            if not os.path.islink(os.path.join(windows if path.startswith("windows") else kit,
                                               path.partition("/")[2])):
                failures.append("%s run: %s is no longer a link" % (side, path))
        win_ini = read_file(os.path.join(windows, "win.ini"))
        return out, win_ini

    wine_out, wine_ini = run_side("wine")
    if args.show:
        print("\n".join(wine_out))
        print("\n".join(encode_file_block("wine-file win.ini", wine_ini)
                        if wine_ini is not None else ["(no win.ini)"]))
    if args.record:
        case.record(wine_out, wine_ini)
        print("recorded %s" % args.case)
        return 0
    if case.wine_output is not None and case.wine_output != wine_out:
        failures.append("Wine no longer gives the recorded answers:\n" + diff(
            case.wine_output, wine_out, "recorded", "wine"))
    if case.wine_file is not None and case.wine_file != (b"absent" if wine_ini is None else wine_ini):
        failures.append("Wine no longer writes the recorded win.ini")
    if not args.host:
        return report(name, case, failures, notes)

    host_out, host_ini = run_side("host")
    mismatched = []
    for n in range(max(len(wine_out), len(host_out))):
        w = wine_out[n] if n < len(wine_out) else "(nothing)"
        h = host_out[n] if n < len(host_out) else "(nothing)"
        if w != h:
            m = re.match(r"L(\d+) ", w) or re.match(r"L(\d+) ", h)
            key = "line " + m.group(1) if m else "line ?"
            target = notes if key in case.known else failures
            target.append("%s differs:\n  wine: %s\n  host: %s%s" % (
                key, w, h, ("\n  known: " + case.known[key]) if key in case.known else ""))
            mismatched.append(key)

    back = read_back(exe, os.path.join(work, "wine", "pfx"), os.path.join(work, "wine"),
                     {"wine": wine_ini, "host": host_ini, "initial": case.initial_win_ini()})
    if back["wine"] != back["host"]:
        msg = "the resulting win.ini files say different things:\n  wine:\n    %s\n  host:\n    %s" % (
            "\n    ".join(describe(back["wine"])), "\n    ".join(describe(back["host"])))
        (notes if "win.ini" in case.known else failures).append(msg)
    initial = case.initial_win_ini()
    if initial == wine_form(back["initial"] or []) and wine_ini != host_ini:
        msg = ("win.ini started in Wine's written form, but the resulting bytes differ:\n"
               "  wine: %r\n  host: %r" % (wine_ini, host_ini))
        (notes if "bytes" in case.known else failures).append(msg)
    return report(name, case, failures, notes)


def diff(a, b, la, lb):
    lines = []
    for n in range(max(len(a), len(b))):
        x = a[n] if n < len(a) else "(nothing)"
        y = b[n] if n < len(b) else "(nothing)"
        if x != y:
            lines.append("  %s: %s\n  %s: %s" % (la, x, lb, y))
    return "\n".join(lines)


def report(name, case, failures, notes):
    for n in notes:
        print("known difference (%s): %s" % (name, n))
    if failures:
        print("FAIL %s%s" % (name, (" (" + case.title + ")") if case.title else ""))
        for f in failures:
            print(f)
        return 1
    print("PASS %s" % name)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (CaseError, PrefixError) as e:
        print("case error: %s" % e)
        sys.exit(2)
