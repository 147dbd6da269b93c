#!/usr/bin/env python3
"""End-to-end runs of the whole program: one scenario, played through the
Windows build (pfmsetup.exe and pfmres.dll) under Wine in a Windows 98
prefix on a virtual display, and through the host build (pfmsetup and
pfmres.dll) against an offline copy of the same prefix, with the results
compared.

Usage:
  run_e2e.py --win-kit DIR --host-exe FILE --host-dll FILE --dump EXE
             --template DIR --work DIR [--display-file FILE] CASE
  run_e2e.py --prepare --template DIR     make the template prefix only
  run_e2e.py --start-display FILE         start a shared Xvfb, note it in FILE
  run_e2e.py --stop-display FILE          stop the Xvfb that FILE names

Exit codes: 0 passed, 1 failed, 2 bad case, 77 skipped (a tool or the
Windows build is missing).

For each scenario:
  1. The template (a Windows 98 prefix made once) is copied with hard links;
     the files Wine rewrites in place get copies of their own.
  2. The Wine side is set up through Wine itself: the version (winecfg -v)
     when the case names one, the printers (wine reg add), then the case's
     win.ini is written. After `wineserver -w`, the prefix's system.reg,
     user.reg and win.ini, as Wine left them, are copied into a second
     hard-linked copy of the template: the host side's offline prefix.
  3. The Windows build runs in its kit folder (the current directory) under
     Wine with WINEDEBUG=trace+msgbox,+relay (the relay trace limited to the
     dialogue calls of user32); each box is found on the display by the
     program's process id and its caption, its title read with
     `xdotool getwindowname`, and answered with Return (OK) or Escape
     (Cancel). A box's text comes from MSGBOX_OnInit, its style from the
     MessageBoxA call in the relay trace.
  4. The host build runs in a kit folder of its own against the offline
     prefix; its boxes come on standard output and are answered on standard
     input.
  5. Both runs must give the case's exit code and boxes (caption, text,
     buttons and icon, in order), and the same as each other. Both
     resulting win.ini files are read back through the platform's profile
     reader (ini_dump.exe under Wine) and must say the same thing: the same
     sections in the same order, the same entries in the same order. When
     the case's win.ini is already in the form Wine writes (sections and
     entries only, no blank lines, no white space around '=', CRLF), the two
     files must also be equal byte for byte. Otherwise they must still hold
     the same lines once blank lines and the white space that Wine drops are
     left out: Wine rewrites the whole file, while the host layer, like
     Windows itself, keeps the lines it does not touch as they were.

Case file syntax (one item a line; '#' starts a comment line):

  title: TEXT
  version: NAME          winecfg -v NAME first (win98 when not given)
  printer: NAME | DRIVER | PORT      a printer key with its two values
  no-resource-library    the kit folders lack pfmres.dll
  second-copy            a second copy is started while the question shows
  answers: ok cancel ... the answers to the boxes, in order
  boxes: question success failure ...   the boxes expected, in order
  exit: N                the exit code expected
  win.ini: unchanged     the resulting win.ini must equal the case's
  known: bytes: WHY      the two resulting files may differ in bytes
  known: lines: WHY      ... and in their lines, blank lines aside
  file PATH from REPO_PATH           a file copied from the repository
  file PATH [eol=crlf|lf|cr] [noeol] a file given in the lines that follow
  |content line
  end
  expect [SECTION]       the entries the resulting win.ini must hold in
  |entry                 SECTION, in order, as the reader gives them back
  end                    (on both sides; SECTION as the reader names it)

PATH is kit/NAME (the kit folder) or win.ini (the prefix's
C:\\windows\\win.ini). Without a file block for kit/pfmsetup.ini the kit
holds examples/kit/pfmsetup.ini; without one for win.ini, win.ini starts
empty. Content lines take C escapes (\\r \\n \\t \\\\ \\xHH); each gets the
file's line end (CRLF when not given), except the last under noeol.
"""

import argparse
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_driver import (CaseError, PrefixError, copy_prefix, ensure_template, file_bytes,  # noqa: E402
                         read_block, restore_modes, run, unescape, windows_path, wine_env)

SKIP = 77
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EOLS = {"crlf": b"\r\n", "lf": b"\n", "cr": b"\r"}
PRINTERS_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers"
RELAY_CALLS = ("user32.MessageBoxA;user32.FindWindowA;user32.BringWindowToTop;"
               "user32.ShowWindow;user32.SetForegroundWindow")
WAIT = 40  # seconds for anything on the display to happen

# The boxes of the dialogue: MessageBoxA style, and how the host shows it.
BOX_KINDS = {
    "question": (0x41, "information", ["OK", "Cancel"]),
    "success": (0x40, "information", ["OK"]),
    "failure": (0x30, "exclamation", ["OK"]),
}
ICONS = {0x10: "error", 0x20: "question", 0x30: "exclamation", 0x40: "information", 0: "none"}
BUTTONS = {0: ["OK"], 1: ["OK", "Cancel"], 2: ["Abort", "Retry", "Ignore"],
           3: ["Yes", "No", "Cancel"], 4: ["Yes", "No"], 5: ["Retry", "Cancel"]}


T0 = time.time()


def log(msg):
    """Progress on standard error, with the seconds since the start."""
    sys.stderr.write("[%6.1f] %s\n" % (time.time() - T0, msg))
    sys.stderr.flush()


class Failure(Exception):
    pass


# ---------------------------------------------------------------- the case

class Case:
    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.title = ""
        self.version = None
        self.printers = []
        self.no_library = False
        self.second_copy = False
        self.answers = []
        self.boxes = []
        self.exit_code = None
        self.unchanged = False
        self.known = {}
        self.files = {}     # "kit/NAME" or "win.ini" -> bytes
        self.expect = []    # (section bytes, [entry bytes])
        self.parse()

    def parse(self):
        with open(self.path, encoding="latin-1") as f:
            lines = f.read().split("\n")
        i = 0

        def block(opening):
            nonlocal i
            body, i = read_block(lines, i, opening)
            return body

        while i < len(lines):
            line = lines[i]
            i += 1
            if not line.strip() or line.startswith("#"):
                continue
            key, _, rest = line.partition(":")
            rest = rest.strip()
            words = line.split()
            if words[0] == "file":
                if len(words) < 2:
                    raise CaseError("file needs a path: " + line)
                path = words[1]
                if path != "win.ini" and not path.startswith("kit/"):
                    raise CaseError("file paths are win.ini or kit/NAME: " + line)
                if len(words) == 4 and words[2] == "from":
                    with open(os.path.join(REPO, words[3]), "rb") as f:
                        self.files[path] = f.read()
                    continue
                eol, noeol = b"\r\n", False
                for w in words[2:]:
                    if w.startswith("eol=") and w[4:] in EOLS:
                        eol = EOLS[w[4:]]
                    elif w == "noeol":
                        noeol = True
                    else:
                        raise CaseError("bad file option: " + line)
                self.files[path] = file_bytes(block(line), eol, noeol)
            elif words[0] == "expect":
                m = re.match(r"expect \[(.*)\]$", line)
                if not m:
                    raise CaseError("expect [SECTION]: " + line)
                self.expect.append((unescape(m.group(1)), block(line)))
            elif line == "no-resource-library":
                self.no_library = True
            elif line == "second-copy":
                self.second_copy = True
            elif key == "title":
                self.title = rest
            elif key == "version":
                self.version = rest
            elif key == "printer":
                parts = [p.strip() for p in rest.split("|")]
                if len(parts) != 3:
                    raise CaseError("printer: NAME | DRIVER | PORT: " + line)
                self.printers.append(parts)
            elif key == "answers":
                self.answers = rest.split()
                if any(a not in ("ok", "cancel") for a in self.answers):
                    raise CaseError("answers are ok or cancel: " + line)
            elif key == "boxes":
                self.boxes = rest.split()
                if any(b not in BOX_KINDS for b in self.boxes):
                    raise CaseError("boxes are %s: %s" % (", ".join(BOX_KINDS), line))
            elif key == "exit":
                self.exit_code = int(rest)
            elif key == "win.ini" and rest == "unchanged":
                self.unchanged = True
            elif key == "known":
                m = re.match(r"(bytes|lines)\s*:\s*(.+)", rest)
                if not m:
                    raise CaseError("known: bytes|lines: WHY: " + line)
                self.known[m.group(1)] = m.group(2)
            else:
                raise CaseError("unknown line: " + line)
        if self.exit_code is None:
            raise CaseError("the case names no exit code")
        if "kit/pfmsetup.ini" not in self.files and not any(
                p.lower() == "kit/pfmsetup.ini" for p in self.files):
            with open(os.path.join(REPO, "examples", "kit", "pfmsetup.ini"), "rb") as f:
                self.files["kit/pfmsetup.ini"] = f.read()


# ---------------------------------------------------------------- helpers

def missing_tools():
    tools = ["wine", "wineserver", "wineboot", "Xvfb", "xdotool", "xwininfo"]
    return [t for t in tools if shutil.which(t) is None]


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def write_file(path, data):
    if os.path.exists(path):
        os.unlink(path)  # never write through a hard link into the template
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- display

def start_xvfb():
    """An Xvfb on a free display; returns (process, ":N")."""
    r, w = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(w,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(w)
    number = b""
    deadline = time.time() + 30
    while not number.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    if not number.strip():
        proc.kill()
        raise Failure("Xvfb did not start")
    return proc, ":" + number.decode().strip()


def shared_display(path):
    """The display a shared Xvfb noted in PATH, when that Xvfb still runs."""
    try:
        display, pid = open(path).read().split()
        os.kill(int(pid), 0)
        return display
    except (OSError, ValueError):
        return None


def stop_display(path):
    """Stops the Xvfb that --start-display noted in PATH, if it still runs."""
    try:
        _, pid = open(path).read().split()
        if "Xvfb" in open("/proc/%d/cmdline" % int(pid), "rb").read().decode("latin-1"):
            os.killpg(int(pid), signal.SIGTERM)
    except (OSError, ValueError):
        pass
    if os.path.exists(path):
        os.unlink(path)


def xdotool(args, display):
    r = run(["xdotool"] + args, env={"DISPLAY": display}, timeout=30)
    return r.stdout.decode("latin-1").split()


def ere_escape(text):
    return "".join("\\" + c if c in ".[]()*+?{}|^$\\" else c for c in text)


def root_window(display):
    r = run(["xwininfo", "-root"], env={"DISPLAY": display}, timeout=30)
    m = re.search(r"Window id: (0x[0-9a-f]+)", r.stdout.decode("latin-1"))
    return str(int(m.group(1), 16)) if m else None


def visible_windows(pid, display, caption=None):
    """The visible top-level windows of process PID (a search by process
    also names the root window, which is left out)."""
    args = ["search", "--onlyvisible", "--pid", str(pid)]
    if caption is not None:
        args += ["--name", "^" + ere_escape(caption) + "$"]
    root = root_window(display)
    return [w for w in xdotool(args, display) if w != root]


def stacking(display):
    """Top-level window ids, topmost first."""
    r = run(["xwininfo", "-root", "-children"], env={"DISPLAY": display}, timeout=30)
    return [int(m.group(1), 16) for m in re.finditer(r"^\s+(0x[0-9a-f]+) ", r.stdout.decode("latin-1"), re.M)]


# ---------------------------------------------------------------- Wine side

class WineRun:
    """One copy of the Windows build under Wine, with its boxes."""

    def __init__(self, exe, prefix, kit, display, log):
        self.display = display
        self.log = log
        self.err = open(log, "wb")
        env = dict(os.environ)
        env.update(wine_env(prefix, display))
        env["WINEDEBUG"] = "trace+msgbox,+relay"
        self.proc = subprocess.Popen(["wine", exe], cwd=kit, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.err)

    def trace(self):
        return open(self.log, "rb").read().decode("latin-1")

    def box_calls(self):
        """The MessageBoxA calls so far: (caption, text, style, result or None)."""
        calls = []
        for line in self.trace().splitlines():
            m = re.match(r'^[0-9a-f]+:Call user32\.MessageBoxA\([0-9a-f]+,[0-9a-f]+ (%s),'
                         r'[0-9a-f]+ (%s),([0-9a-f]+)\)' % (TRACE_STRING, TRACE_STRING), line)
            if m:
                calls.append([relay_string(m.group(2)), relay_string(m.group(1)), int(m.group(3), 16), None])
            m = re.match(r"^[0-9a-f]+:Ret  user32\.MessageBoxA\(\) retval=([0-9a-f]+)", line)
            if m and calls:
                calls[-1][3] = int(m.group(1), 16)
        return calls

    def box_texts(self):
        return [relay_string(m.group(1)[1:]) for m in
                re.finditer(r'MSGBOX_OnInit (L%s)$' % TRACE_STRING, self.trace(), re.M)]

    def wait_box(self, number):
        """Waits for box NUMBER (from 1) to show; returns its window id and title."""
        deadline = time.time() + WAIT
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise Failure("the program ended (exit code %d) before box %d showed" %
                              (self.proc.returncode, number))
            if len(self.box_texts()) >= number:
                wins = visible_windows(self.proc.pid, self.display)
                if wins:
                    time.sleep(0.3)  # the box takes keys once it holds the focus
                    title = run(["xdotool", "getwindowname", wins[0]],
                                env={"DISPLAY": self.display}).stdout.decode("utf-8").rstrip("\n")
                    return wins[0], title
            time.sleep(0.1)
        raise Failure("box %d did not show within %d s" % (number, WAIT))

    def answer(self, window, answer):
        key = "Return" if answer == "ok" else "Escape"
        for _ in range(3):
            run(["xdotool", "key", "--window", window, key], env={"DISPLAY": self.display})
            deadline = time.time() + 5
            while time.time() < deadline:
                if window not in visible_windows(self.proc.pid, self.display):
                    return
                time.sleep(0.1)
        raise Failure("the box did not take the key %s" % key)

    def finish(self):
        try:
            code = self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure("the program did not end within %d s" % WAIT)
        self.err.close()
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.err.close()


# A string in Wine's traces: "..." with C escapes, followed by ... when
# Wine cut it (after 300 characters), or NULL.
TRACE_STRING = r'"(?:[^"\\]|\\.)*"(?:\.\.\.)?|NULL'


class Cut(str):
    """A text that Wine's trace cut short: only its start is known."""


def relay_string(text):
    if text == "NULL":
        return None
    if text.endswith('"...'):
        return Cut(c_unescape(text[1:-4]))
    return c_unescape(text[1:-1])


def same_text(wine, host):
    """WINE (from a trace, perhaps cut) against the host's full text."""
    if isinstance(wine, Cut):
        return host is not None and host.startswith(wine)
    return wine == host


def c_unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        i += 1
        if c != "\\" or i >= len(text):
            out.append(c)
            continue
        c = text[i]
        i += 1
        if c in "nrt\\\"'":
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(c, c))
        elif c == "x":
            m = re.match(r"[0-9a-fA-F]{1,2}", text[i:])
            out.append(chr(int(m.group(0), 16)))
            i += len(m.group(0))
        elif c == "u":
            out.append(chr(int(text[i:i + 4], 16)))
            i += 4
        elif c in "01234567":
            m = re.match(r"[0-7]{1,3}", text[i - 1:])
            out.append(chr(int(m.group(0), 8)))
            i += len(m.group(0)) - 1
        else:
            out.append(c)
    return "".join(out)


def box_record(caption, text, style):
    return {"caption": caption, "text": text,
            "icon": ICONS.get(style & 0xF0, "style %#x" % style),
            "buttons": BUTTONS.get(style & 0x0F, ["style %#x" % style])}


def same_boxes(wine_boxes, host_boxes, notes):
    if len(wine_boxes) != len(host_boxes):
        return False
    for w, h in zip(wine_boxes, host_boxes):
        if (w["caption"], w["icon"], w["buttons"]) != (h["caption"], h["icon"], h["buttons"]):
            return False
        if not same_text(w["text"], "\n".join(h["text"])):
            return False
        if isinstance(w["text"], Cut):
            notes.append("box text compared in its first %d characters (Wine's trace cuts it)"
                         % len(w["text"]))
    return True


def run_wine_side(case, args, prefix, kit, display, notes):
    """Plays the case through the Windows build; returns (exit code, boxes)."""
    exe = os.path.join(kit, "pfmsetup.exe")
    first = WineRun(exe, prefix, kit, display, os.path.join(args.work, "wine-run.log"))
    extra = []
    try:
        answers = list(case.answers)
        shown = 0
        while True:
            if shown >= len(case.boxes):
                break
            window, title = first.wait_box(shown + 1)
            log("box %d: window %s, title %r" % (shown + 1, window, title))
            shown += 1
            if title != first.box_calls()[shown - 1][0]:
                raise Failure("box %d: window title %r, caption passed %r" %
                              (shown, title, first.box_calls()[shown - 1][0]))
            if case.second_copy and shown == 1:
                second_copy_wine(first, window, exe, prefix, kit, display, args, notes, extra)
            if not answers:
                raise Failure("box %d showed, but the case gives no answer for it" % shown)
            first.answer(window, answers.pop(0))
        code = first.finish()
    finally:
        first.kill()
        for p in extra:
            p.kill()
    boxes = []
    calls = first.box_calls()
    texts = first.box_texts()
    for n, (caption, text, style, result) in enumerate(calls):
        if n < len(texts) and not (texts[n] == text or same_text(texts[n], text) or same_text(text, texts[n])):
            raise Failure("box %d: MSGBOX_OnInit shows %r, MessageBoxA was given %r" % (n + 1, texts[n], text))
        boxes.append(box_record(caption, text, style))
    return code, boxes


def second_copy_wine(first, window, exe, prefix, kit, display, args, notes, extra):
    """With the first copy's question on the display: covers it with another
    window, starts a second copy, and checks that the second copy ended
    with exit code 0 without a box of its own and that the first copy's box
    is above the covering window again."""
    env = dict(os.environ)
    env.update(wine_env(prefix, display))
    # `wine notepad.exe` hands the start over to a process of its own and
    # ends; its window is found by class on this case's display.
    starter = subprocess.Popen(["wine", "notepad.exe"], cwd=kit, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    extra.append(starter)
    deadline = time.time() + WAIT
    cover_windows = []
    root = root_window(display)
    while time.time() < deadline and not cover_windows:
        cover_windows = [w for w in xdotool(["search", "--onlyvisible", "--classname", "^notepad\\.exe$"],
                                            display) if w != root]
        time.sleep(0.2)
    if not cover_windows:
        raise Failure("the covering window (notepad) did not show")
    time.sleep(0.5)
    order = stacking(display)
    box_id, cover_id = int(window), int(cover_windows[0])
    if order.index(cover_id) > order.index(box_id):
        raise Failure("the covering window did not come above the box")
    second = WineRun(exe, prefix, kit, display, os.path.join(args.work, "wine-second.log"))
    try:
        code = second.finish()
    finally:
        second.kill()
    if code != 0:
        raise Failure("second copy: exit code %d, expected 0" % code)
    if second.box_texts() or second.box_calls():
        raise Failure("second copy showed a box: %r" % second.box_texts())
    calls = re.findall(r"^[0-9a-f]+:(?:Call|Ret ) user32\.(\w+)\((.*)", second.trace(), re.M)
    names = [n for n, _ in calls]
    want = ["FindWindowA", "FindWindowA", "BringWindowToTop", "BringWindowToTop", "ShowWindow",
            "ShowWindow", "SetForegroundWindow", "SetForegroundWindow"]
    if names != want:
        raise Failure("second copy: user32 calls %r, expected %r" % (names, want))
    found = re.search(r"retval=([0-9a-f]+)", calls[1][1]).group(1)
    for n in (2, 4, 6):
        handle = calls[n][1].split(",")[0].split(")")[0]
        if handle != found:
            raise Failure("second copy: %s got %s, FindWindowA found %s" % (names[n], handle, found))
    if not calls[4][1].startswith(found + ",00000001)"):
        raise Failure("second copy: ShowWindow(%s, expected SW_SHOWNORMAL" % calls[4][1])
    time.sleep(0.5)
    order = stacking(display)
    if order.index(box_id) > order.index(cover_id):
        raise Failure("after the second copy the box is still below the covering window")
    if window not in visible_windows(first.proc.pid, display):
        raise Failure("after the second copy the first copy's box is gone")
    notes.append("wine: the second copy ended with 0 and raised the question box above notepad")
    # Notepad goes with the case's server (wineserver -k) at the end.


# ---------------------------------------------------------------- host side

def parse_host_boxes(out):
    """The boxes the host build printed: [{caption, text, icon, buttons, answer}]."""
    boxes = []
    current = None
    for line in out.split("\n"):
        if line.startswith("[pfmsetup] "):
            current = {"caption": line[len("[pfmsetup] "):], "text": [], "icon": None}
        elif current is not None and re.match(r"^\((\w+)\) ?", line):
            m = re.match(r"^\((\w+)\) ?(.*)$", line)
            current["icon"] = m.group(1)
            current["text"].append(m.group(2))
        elif current is not None and line.startswith("[ "):
            m = re.match(r"^((?:\[ \w+ \] ?)+) answer: ?(.*)$", line)
            if not m:
                raise Failure("host: unexpected buttons line %r" % line)
            current["buttons"] = re.findall(r"\[ (\w+) \]", m.group(1))
            current["answer"] = m.group(2)
            boxes.append(current)
            current = None
    return boxes


def run_host_side(case, args, prefix, kit, runtime):
    env = dict(os.environ)
    env.update({"WINEPREFIX": prefix, "XDG_RUNTIME_DIR": runtime, "LC_ALL": "C.UTF-8"})
    exe = os.path.join(kit, "pfmsetup")
    if not case.second_copy:
        data = "".join(a + "\n" for a in case.answers).encode()
        r = subprocess.run([exe], cwd=kit, env=env, input=data, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=WAIT)
        out = r.stdout.decode("utf-8", errors="replace")
        with open(os.path.join(args.work, "host-run.log"), "w") as f:
            f.write(out + r.stderr.decode("utf-8", errors="replace"))
        return r.returncode, parse_host_boxes(out)

    proc = subprocess.Popen([exe], cwd=kit, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = b""
    try:
        def read_until(pattern):
            nonlocal out
            deadline = time.time() + WAIT
            os.set_blocking(proc.stdout.fileno(), False)
            while not re.search(pattern, out):
                if time.time() > deadline:
                    raise Failure("host: waited in vain for %r; output so far: %r" % (pattern, out))
                chunk = proc.stdout.read()
                if chunk:
                    out += chunk
                elif proc.poll() is not None:
                    raise Failure("host: the program ended early; output: %r" % out)
                else:
                    time.sleep(0.05)

        read_until(rb"\]\s+answer: ")
        before = len(out)
        second = subprocess.run([exe], cwd=kit, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=WAIT)
        if second.returncode != 0 or second.stdout:
            raise Failure("host: second copy gave exit code %d and output %r" %
                          (second.returncode, second.stdout))
        read_until(rb"\a\n\[pfmsetup\] [^\n]*\n(?:[^\n]*\n)*?\[ [^\n]*answer: ")
        raised = out[before:]
        again = parse_host_boxes(raised.decode("utf-8", "replace"))
        first_box = parse_host_boxes(out[:before].decode("utf-8", "replace"))
        if [{k: v for k, v in b.items() if k != "answer"} for b in again] != \
                [{k: v for k, v in b.items() if k != "answer"} for b in first_box]:
            raise Failure("host: the box shown again differs: %r" % raised)
        # The rest of the dialogue: what the box prints again is left out of
        # the comparison, so that both sides give the boxes once each.
        rest, _ = proc.communicate("".join(a + "\n" for a in case.answers).encode(), timeout=WAIT)
        out = out[:before] + rest
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    text = out.decode("utf-8", errors="replace")
    with open(os.path.join(args.work, "host-run.log"), "w") as f:
        f.write(text)
    return proc.returncode, parse_host_boxes(text)


# ---------------------------------------------------------------- win.ini

def read_back(dump, prefix, folder, files, display):
    """What the platform's reader makes of each file (label -> bytes or
    None): label -> [(section, [entry])] or None."""
    labels = [label for label in sorted(files) if files[label] is not None]
    paths = []
    for label in labels:
        p = os.path.join(folder, "readback-%s.ini" % label)
        write_file(p, files[label])
        paths.append(windows_path(p))
    result = {label: None for label in files}
    if not labels:
        return result
    r = run(["wine", dump] + paths, env=wine_env(prefix, display))
    lines = r.stdout.decode("latin-1").splitlines()
    content = None
    for line in lines:
        m = re.match(r"^file (\d+)$", line)
        if m:
            label = labels[int(m.group(1)) - 1]
            content = result[label] = []
        elif line == "end":
            content = None
        elif line.startswith("[") and content is not None:
            content.append((unescape(line[1:-1]), []))
        elif line.startswith("  ") and content:
            content[-1][1].append(unescape(line[2:]))
    if any(result[label] is None for label in labels):
        raise Failure("read-back failed: %r" % r.stdout)
    return result


def wine_form(content):
    out = b""
    for section, entries in content:
        out += b"[" + section + b"]\r\n" + b"".join(e + b"\r\n" for e in entries)
    return out


def normal_lines(data):
    """The file's lines without blank lines and without the white space
    Wine drops: around the whole line and around the first '='."""
    lines = []
    for line in re.split(rb"\r\n|\r|\n", data or b""):
        line = line.strip(b" \t")
        if not line:
            continue
        if not line.startswith(b"[") and b"=" in line:
            key, _, value = line.partition(b"=")
            line = key.strip(b" \t") + b"=" + value.strip(b" \t")
        lines.append(line)
    return lines


def show(content):
    if content is None:
        return "    (no file)"
    out = []
    for section, entries in content:
        out.append("    [%s]" % section.decode("latin-1"))
        out += ["      %s" % e.decode("latin-1") for e in entries]
    return "\n".join(out) or "    (empty)"


# ---------------------------------------------------------------- the run

def lay_out_kit(case, kit, exe, dll, library):
    os.makedirs(kit)
    for path, data in case.files.items():
        if path.startswith("kit/"):
            write_file(os.path.join(kit, path[4:]), data)
    shutil.copy2(exe, os.path.join(kit, os.path.basename(exe)))
    if library:
        shutil.copy2(dll, os.path.join(kit, "pfmres.dll"))


def check_boxes(side, boxes, case, failures):
    kinds = []
    for b in boxes:
        kind = [k for k, (_, icon, buttons) in BOX_KINDS.items()
                if b["icon"] == icon and b["buttons"] == buttons]
        kinds.append(kind[0] if kind else "%s box with %s" % (b["icon"], "/".join(b["buttons"])))
    if kinds != case.boxes:
        failures.append("%s: boxes %s, expected %s" % (side, kinds or "none", case.boxes or "none"))


def run_case(case, args, display):
    failures, notes = [], []
    work = args.work
    template = os.path.abspath(args.template)
    ensure_template(template)
    wine_root = os.path.join(work, "wine")
    host_root = os.path.join(work, "host")
    os.makedirs(wine_root)
    os.makedirs(host_root)
    wine_pfx = os.path.join(wine_root, "pfx")
    host_pfx = os.path.join(host_root, "pfx")
    copy_prefix(template, wine_pfx)

    # The Wine side's prefix, set up through Wine.
    env = wine_env(wine_pfx, display)
    setup = []
    if case.version:
        setup.append(["wine", "winecfg", "-v", case.version])
    setup.append(["wine", "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
                  "/d", RELAY_CALLS, "/f"])
    for name, driver, port in case.printers:
        key = PRINTERS_KEY + "\\" + name
        setup.append(["wine", "reg", "add", key, "/v", "Printer Driver", "/d", driver, "/f"])
        setup.append(["wine", "reg", "add", key, "/v", "Port", "/d", port, "/f"])
    setup.append(["wineserver", "-w"])
    for cmd in setup:
        log(" ".join(cmd))
        r = run(cmd, env=env)
        if r.returncode != 0:
            raise Failure("%s: exit code %d: %s" % (" ".join(cmd), r.returncode,
                                                    r.stderr.decode("latin-1")[:500]))
    win_ini = os.path.join("drive_c", "windows", "win.ini")
    initial = case.files.get("win.ini", b"")
    write_file(os.path.join(wine_pfx, win_ini), initial)

    # The host side's offline copy: the files as Wine left them.
    copy_prefix(template, host_pfx)
    for name in ("system.reg", "user.reg", win_ini):
        write_file(os.path.join(host_pfx, name), read_file(os.path.join(wine_pfx, name)))

    wine_kit = os.path.join(wine_root, "kit")
    host_kit = os.path.join(host_root, "kit")
    lay_out_kit(case, wine_kit, os.path.join(args.win_kit, "pfmsetup.exe"),
                os.path.join(args.win_kit, "pfmres.dll"), not case.no_library)
    lay_out_kit(case, host_kit, args.host_exe, args.host_dll, not case.no_library)
    runtime = os.path.join(host_root, "run")
    os.makedirs(runtime, mode=0o700)

    log("the Windows build under Wine")
    try:
        wine_code, wine_boxes = run_wine_side(case, args, wine_pfx, wine_kit, display, notes)
        # Wine writes win.ini through at every profile write; the server
        # is kept for the read-back below.
        wine_result = read_file(os.path.join(wine_pfx, win_ini))
        log("the host build")
        host_code, host_boxes = run_host_side(case, args, host_pfx, host_kit, runtime)
        host_result = read_file(os.path.join(host_pfx, win_ini))
        log("read-back")
        back = read_back(args.dump, wine_pfx, work,
                         {"initial": initial, "wine": wine_result, "host": host_result}, display)
    finally:
        # This case's own server, with whatever it still runs.
        run(["wineserver", "-k"], env=env)
        run(["wineserver", "-w"], env=env)

    # Exit codes and boxes.
    for side, code, boxes in (("wine", wine_code, wine_boxes), ("host", host_code, host_boxes)):
        if code != case.exit_code:
            failures.append("%s: exit code %d, expected %d" % (side, code, case.exit_code))
        check_boxes(side, boxes, case, failures)
    plain_host = [{k: v for k, v in b.items() if k != "answer"} for b in host_boxes]
    if not same_boxes(wine_boxes, plain_host, notes):
        failures.append("the boxes differ:\n  wine: %r\n  host: %r" % (wine_boxes, plain_host))

    # The resulting win.ini files.
    if back["wine"] != back["host"]:
        failures.append("the resulting win.ini files say different things:\n  wine:\n%s\n  host:\n%s"
                        % (show(back["wine"]), show(back["host"])))
    for section, entries in case.expect:
        for side in ("wine", "host"):
            got = [e for s, e in back[side] or [] if s == section]
            if got[:1] != [entries]:
                failures.append("%s: section [%s] holds %r, expected %r" % (
                    side, section.decode("latin-1"), got[0] if got else None, entries))
    if case.unchanged:
        for side, result in (("wine", wine_result), ("host", host_result)):
            if result != initial:
                failures.append("%s: win.ini changed: %r, was %r" % (side, result, initial))
    if wine_result != host_result:
        if initial == wine_form(back["initial"] or []):
            msg = ("win.ini started in the form Wine writes, but the results differ in bytes:\n"
                   "  wine: %r\n  host: %r" % (wine_result, host_result))
            (notes if "bytes" in case.known else failures).append(
                msg + ("\n  known: " + case.known["bytes"] if "bytes" in case.known else ""))
        elif normal_lines(wine_result) != normal_lines(host_result):
            msg = ("the results differ in more than blank lines and white space:\n"
                   "  wine: %r\n  host: %r" % (wine_result, host_result))
            (notes if "lines" in case.known else failures).append(
                msg + ("\n  known: " + case.known["lines"] if "lines" in case.known else ""))
        else:
            notes.append("the results differ only as Wine's rewrite differs from the host's "
                         "in-place edit (blank lines, white space around '=')")
    return failures, notes


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("case", nargs="?")
    ap.add_argument("--win-kit")
    ap.add_argument("--host-exe")
    ap.add_argument("--host-dll")
    ap.add_argument("--dump")
    ap.add_argument("--template")
    ap.add_argument("--work")
    ap.add_argument("--display-file")
    ap.add_argument("--prepare", action="store_true")
    ap.add_argument("--start-display")
    ap.add_argument("--stop-display")
    ap.add_argument("--keep", action="store_true", help="keep the work folder of a passed case")
    args = ap.parse_args()

    if args.stop_display:
        stop_display(args.stop_display)
        return 0
    missing = missing_tools()
    if missing:
        print("skipped: not found: " + ", ".join(missing))
        return SKIP
    if args.start_display:
        stop_display(args.start_display)  # one an interrupted run left behind
        proc, display = start_xvfb()
        with open(args.start_display, "w") as f:
            f.write("%s %d\n" % (display, proc.pid))
        print("Xvfb on %s, pid %d" % (display, proc.pid))
        return 0
    if args.prepare:
        ensure_template(os.path.abspath(args.template))
        print("prefix ready: %s" % args.template)
        return 0

    for opt in ("case", "win_kit", "host_exe", "host_dll", "dump", "template", "work"):
        if not getattr(args, opt):
            ap.error("--%s is needed" % opt.replace("_", "-"))
    for f in ("pfmsetup.exe", "pfmres.dll"):
        if not os.path.isfile(os.path.join(args.win_kit, f)):
            print("skipped: the Windows build is missing (%s): build it first "
                  "(cmake --preset windows && cmake --build --preset windows)" %
                  os.path.join(args.win_kit, f))
            return SKIP
    case = Case(args.case)
    args.work = os.path.abspath(args.work)
    if os.path.exists(args.work):
        restore_modes(args.work)
        shutil.rmtree(args.work)
    os.makedirs(args.work)

    own_display = None
    display = shared_display(args.display_file) if args.display_file else None
    if display is None:
        own_display, display = start_xvfb()
    started = time.time()
    try:
        failures, notes = run_case(case, args, display)
    except (Failure, PrefixError) as e:
        failures, notes = [str(e)], []
    finally:
        if own_display:
            own_display.terminate()
            own_display.wait()
    for n in notes:
        print("note (%s): %s" % (case.name, n))
    if failures:
        print("FAIL %s (%s) in %.1f s; work folder kept: %s" % (case.name, case.title,
                                                                time.time() - started, args.work))
        for f in failures:
            print(f)
        return 1
    print("PASS %s (%s) in %.1f s" % (case.name, case.title, time.time() - started))
    if not args.keep:
        restore_modes(args.work)
        shutil.rmtree(args.work)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except CaseError as e:
        print("case error: %s" % e)
        sys.exit(2)
