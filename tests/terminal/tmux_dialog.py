#!/usr/bin/env python3
"""The host program's dialog boxes on a terminal, used as a person uses them:
the program runs in a tmux pane in a kit folder against a copy of the
example machine; keys go in with `send-keys`, the screen comes back with
`capture-pane`.

Usage: tmux_dialog.py --exe PFMSETUP --repo REPO_DIR [--libraries DIR] CASE
Exit codes: 0 passed, 1 failed, 77 skipped (no tmux).

Each case gets its own tmux server, its own kit and machine copy and its
own box table (XDG_RUNTIME_DIR), so cases may run side by side.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

QUESTION = ("This program registers the soft fonts of Example PostScript Font Kit with the PostScript "
            "driver of each installed printer that belongs to this kit, and adds the kit's TrueType "
            "substitutions. The font files themselves are not copied. Do you want to go on?")
SUCCESS_START = "The soft fonts of Example PostScript Font Kit are now registered"
CAPTION = "Example Printer Works Example PostScript Font Kit Font Setup"


class Failure(Exception):
    pass


def check(condition, message, screen=None):
    if not condition:
        raise Failure(message + ("\n--- screen ---\n" + screen if screen is not None else ""))


class Session:
    """A tmux server of its own, with one window running the program."""

    def __init__(self, args, width, height, stdin=None, library=None, acp=None):
        self.args = args
        self.exe = args.exe
        self.work = tempfile.mkdtemp(prefix="pfm-tmux-")
        self.socket = os.path.join(self.work, "tmux.sock")
        self.kit = os.path.join(self.work, "kit")
        self.machine = os.path.join(self.work, "machine")
        self.runtime = os.path.join(self.work, "run")
        os.mkdir(self.runtime, 0o700)
        shutil.copytree(os.path.join(args.repo, "examples", "kit"), self.kit)
        shutil.copytree(os.path.join(args.repo, "examples", "machine"), self.machine, symlinks=True)
        # The prefix's drives, made here rather than trusted to the copy:
        # C: its own, D: the folder that holds the kit, as a kit's disk.
        dosdevices = os.path.join(self.machine, "dosdevices")
        os.makedirs(dosdevices, exist_ok=True)
        for name in os.listdir(dosdevices):
            os.unlink(os.path.join(dosdevices, name))
        os.symlink("../drive_c", os.path.join(dosdevices, "c:"))
        os.symlink(self.work, os.path.join(dosdevices, "d:"))
        if acp:
            with open(os.path.join(self.machine, "system.reg"), "a") as f:
                f.write('\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage] 1\n"ACP"="%d"\n' % acp)
        if library:
            # The kit holds no pfmres.dll: the one beside the program is found.
            folder = os.path.join(self.work, "program")
            os.mkdir(folder)
            self.exe = shutil.copy(args.exe, folder)
            shutil.copy(os.path.join(args.libraries, library), os.path.join(folder, "pfmres.dll"))
        self.env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("TMUX", None)
        self.tmux("-f", "/dev/null", "new-session", "-d", "-s", "t", "-x", str(width), "-y", str(height),
                  self.command("first", stdin))
        self.tmux("set-option", "-g", "monitor-bell", "on")

    def command(self, tag, stdin=None):
        """The shell line a pane runs: the program, its exit code, whether
        the terminal's modes are as they were; the pane stays open after."""
        feed = f"printf 'ok\\nok\\n' | " if stdin == "pipe" else ""
        return (f"cd '{self.kit}' && before=$(stty -g) && "
                f"{feed}env WINEPREFIX='{self.machine}' XDG_RUNTIME_DIR='{self.runtime}' "
                f"TERM=tmux-256color '{self.exe}'; echo \"EXIT-{tag}=$?\"; "
                f"[ \"$(stty -g)\" = \"$before\" ] && echo STTY-{tag}=same || echo STTY-{tag}=changed; "
                f"exec sleep 600")

    def tmux(self, *words):
        result = subprocess.run(["tmux", "-u", "-S", self.socket, *words], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            raise Failure(f"tmux {' '.join(words)}: {result.stderr.strip()}")
        return result.stdout

    def screen(self, pane="t.0", joined=False):
        return self.tmux("capture-pane", "-p", *(["-J"] if joined else []), "-t", pane)

    def keys(self, *keys, pane="t.0"):
        self.tmux("send-keys", "-t", pane, *keys)

    def wait(self, what, predicate, pane="t.0", timeout=15.0):
        """Waits until the pane's screen satisfies `predicate`."""
        deadline = time.monotonic() + timeout
        while True:
            screen = self.screen(pane)
            if predicate(screen):
                return screen
            if time.monotonic() > deadline:
                raise Failure(f"waited in vain for {what}", screen)
            time.sleep(0.05)

    def wait_text(self, text, pane="t.0"):
        return self.wait(repr(text), lambda s: text in s, pane)

    def win_ini(self):
        with open(os.path.join(self.machine, "drive_c", "windows", "win.ini"), "rb") as f:
            return f.read().decode("cp1252")

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.work, ignore_errors=True)


class Box:
    """A dialog box read off the screen."""

    def __init__(self, screen):
        rows = screen.split("\n")
        tops = [i for i, r in enumerate(rows) if "┌" in r]
        check(len(tops) == 1, "no single box frame on the screen", screen)
        self.top = tops[0]
        self.left = rows[self.top].index("┌")
        self.right = rows[self.top].index("┐")
        self.bottom = next(i for i in range(self.top, len(rows)) if "└" in rows[i])
        check(rows[self.bottom].index("└") == self.left and rows[self.bottom].index("┘") == self.right,
              "frame corners not aligned", screen)
        self.title = rows[self.top][self.left + 1:self.right].strip("─ ")
        self.inside = [r[self.left + 1:self.right] for r in rows[self.top + 1:self.bottom]]
        for r in rows[self.top + 1:self.bottom]:
            check(r[self.left] == "│" and r[self.right] == "│", "side of the frame broken", screen)
        self.buttons_row = self.inside[-1]
        self.sign = self.inside[1].split()[0] if self.inside[1].strip() else ""
        # Text rows: from the sign's row down to the row above the buttons'
        # blank one.
        first = self.inside[1]
        self.text_col = first.index(self.sign) + len(self.sign) + 2 if self.sign else len(first) - len(first.lstrip())
        self.text_rows = [r[self.text_col:].rstrip() for r in self.inside[1:-2]]
        self.text_width = (self.right - self.left - 1) - 1 - self.text_col  # the inner width less the right padding
        self.screen = screen

    def words(self):
        return " ".join(self.text_rows).split()

    def focused(self):
        return re.findall(r"\[ (\w+) \]", self.buttons_row)

    def unfocused(self):
        return re.findall(r"< (\w+) >", self.buttons_row)


def check_wrapping(box, text, terminal_width):
    """The rows hold the text's words whole and in order, and each row is
    as full as the terminal allows: the next row's first word would not
    have fitted on it (a row that ends a paragraph excepted). The widest
    box leaves one column free at each edge of the terminal and has a frame
    and a blank column inside it on each side; the sign and two blanks
    come before the text."""
    check(box.words() == text.split(), f"words differ: {box.words()}", box.screen)
    room = terminal_width - 2 - 2 - 2 - (len(box.sign) + 2)
    rows = box.text_rows
    for i, row in enumerate(rows):
        check(len(row) <= min(room, box.text_width), f"row {i} wider than the box: {row!r}", box.screen)
        if i + 1 < len(rows) and row and rows[i + 1]:
            check(len(row) + 1 + len(rows[i + 1].split()[0]) > room,
                  f"row {i} broken early: {row!r}", box.screen)


def box_shown(screen):
    return "┌" in screen and "┘" in screen


def run_ended(tag="first"):
    return lambda s: f"STTY-{tag}=" in s


def case_frame_wrap_enter(args, width):
    s = Session(args, width, 24)
    try:
        box = Box(s.wait("the question", box_shown))
        check(box.right - box.left + 1 <= width, "box wider than the terminal", box.screen)
        check(CAPTION.startswith(box.title) and len(box.title) >= min(len(CAPTION), width - 10),
              f"caption not the title: {box.title!r}", box.screen)
        check(box.sign == "(i)", f"sign {box.sign!r}", box.screen)
        check(box.focused() == ["OK"] and box.unfocused() == ["Cancel"], "buttons", box.screen)
        check_wrapping(box, QUESTION, width)
        s.keys("Enter")
        report = Box(s.wait("the report", lambda x: box_shown(x) and "registered" in x))
        check(" ".join(report.words()).startswith(SUCCESS_START), "report text", report.screen)
        check(report.focused() == ["OK"] and report.unfocused() == [], "report buttons", report.screen)
        s.keys("Enter")
        screen = s.wait("the end of the run", run_ended())
        check("EXIT-first=1" in screen and "STTY-first=same" in screen, "exit or terminal modes", screen)
        check("┌" not in screen, "the box stayed on the screen", screen)
        check("[PostScript,LPT1]" in s.win_ini(), "win.ini not written")
    finally:
        s.close()


def case_tab_arrows_cancel(args):
    s = Session(args, 60, 20)
    try:
        s.wait("the question", box_shown)
        for key, focus in (("Tab", "Cancel"), ("Tab", "OK"), ("Right", "Cancel"), ("Left", "OK"),
                           ("BTab", "Cancel"), ("Down", "OK"), ("Up", "Cancel")):
            s.keys(key)
            box = Box(s.wait(f"focus on {focus} after {key}", lambda x, f=focus: f"[ {f} ]" in x))
            check(len(box.focused()) == 1, f"one focused button after {key}", box.screen)
        before = s.win_ini()
        s.keys("Enter")  # on Cancel
        screen = s.wait("the end of the run", run_ended())
        check("EXIT-first=1" in screen and "STTY-first=same" in screen, "exit or terminal modes", screen)
        check("registered" not in screen, "a report after Cancel", screen)
        check(s.win_ini() == before, "win.ini changed after Cancel")
    finally:
        s.close()


def case_escape(args):
    s = Session(args, 60, 20)
    try:
        s.wait("the question", box_shown)
        before = s.win_ini()
        s.keys("Escape")
        screen = s.wait("the end of the run", run_ended())
        check("EXIT-first=1" in screen and "STTY-first=same" in screen, "exit or terminal modes", screen)
        check(s.win_ini() == before, "win.ini changed after Escape")
    finally:
        s.close()
    # Escape closes a box with OK alone, too.
    s = Session(args, 60, 20)
    try:
        s.wait("the question", box_shown)
        s.keys("Enter")
        s.wait("the report", lambda x: box_shown(x) and "registered" in x)
        s.keys("Escape")
        screen = s.wait("the end of the run", run_ended())
        check("EXIT-first=1" in screen and "STTY-first=same" in screen, "exit or terminal modes", screen)
    finally:
        s.close()


def case_resize(args):
    s = Session(args, 60, 20)
    try:
        narrow = Box(s.wait("the question", box_shown))
        s.tmux("resize-window", "-t", "t", "-x", "150", "-y", "30")
        wide = Box(s.wait("a wider box", lambda x: box_shown(x) and Box(x).right - Box(x).left > 100))
        check_wrapping(wide, QUESTION, 150)
        check(len(wide.text_rows) < len(narrow.text_rows), "not wrapped afresh", wide.screen)
        s.tmux("resize-window", "-t", "t", "-x", "40", "-y", "24")
        small = Box(s.wait("a box of 40 columns", lambda x: box_shown(x) and Box(x).right < 40))
        check_wrapping(small, QUESTION, 40)
        s.keys("Enter")
        s.wait("the report", lambda x: box_shown(x) and "registered" in x)
    finally:
        s.close()


def case_second_copy(args):
    s = Session(args, 80, 24)
    try:
        s.wait("the question", box_shown)
        log = os.path.join(s.work, "pane.log")
        s.tmux("pipe-pane", "-o", "-t", "t.0", f"cat >> '{log}'")
        # A second window, made current, so that a bell in the first one
        # shows as that window's bell flag.
        s.tmux("new-window", "-t", "t:1", s.command("second"))
        screen = s.wait("the second copy's end", run_ended("second"), pane="t:1")
        check("EXIT-second=0" in screen, "the second copy asked instead of ending", screen)
        flags = s.tmux("list-windows", "-t", "t", "-F", "#{window_index}:#{window_bell_flag}").split()
        check("0:1" in flags, f"no bell in the first copy's window: {flags}")
        deadline = time.monotonic() + 10
        while True:
            with open(log, "rb") as f:
                drawn = f.read()
            if b"\a" in drawn and b"Do you want to go on?" in drawn.split(b"\a", 1)[1]:
                break
            check(time.monotonic() < deadline, f"the box was not drawn again after the bell: {drawn[:200]!r}")
            time.sleep(0.05)
        s.tmux("select-window", "-t", "t:0")
        s.keys("Enter", pane="t:0.0")
        s.wait("the report", lambda x: box_shown(x) and "registered" in x, pane="t:0.0")
        s.keys("Enter", pane="t:0.0")
        screen = s.wait("the end of the run", run_ended(), pane="t:0.0")
        check("EXIT-first=1" in screen, "first copy's exit", screen)
    finally:
        s.close()


def case_signal(args):
    s = Session(args, 60, 20)
    try:
        s.wait("the question", box_shown)
        boxes = os.path.join(s.runtime, f"pfmsetup-{os.getuid()}", "*", "*.box")
        check(glob.glob(boxes), "no box in the table")
        pane_pid = s.tmux("display-message", "-p", "-t", "t.0", "#{pane_pid}").strip()
        children = subprocess.run(["pgrep", "-P", pane_pid], stdout=subprocess.PIPE, text=True).stdout.split()
        check(len(children) == 1, f"the program's process: {children}")
        os.kill(int(children[0]), 15)
        screen = s.wait("the end of the run", run_ended())
        check("EXIT-first=143" in screen and "STTY-first=same" in screen, "SIGTERM's exit or terminal modes",
              screen)
        check("┌" not in screen, "the box stayed on the screen", screen)
        check(not glob.glob(boxes), "the box stayed in the table")
    finally:
        s.close()


def case_pipe_keeps_lines(args):
    """Standard output a terminal, standard input a pipe: the lines, as before."""
    s = Session(args, 60, 20, stdin="pipe")
    try:
        s.wait("the end of the run", run_ended())
        screen = s.screen(joined=True)
        check("[pfmsetup] " + CAPTION in screen and "[ OK ] [ Cancel ]  answer: ok" in screen
              and "┌" not in screen, "not the line protocol", screen)
        check("EXIT-first=1" in screen, "exit", screen)
    finally:
        s.close()


def case_cyrillic_caption(args):
    """An installation of code page 1251 with Russian texts: the caption in
    the frame and the question's words as a UTF-8 terminal draws them."""
    s = Session(args, 100, 24, library="cyrillic_strings.dll", acp=1251)
    try:
        box = Box(s.wait("the question", box_shown))
        check(box.title == "Example Printer Works Example PostScript Font Kit — установка шрифтов",
              f"caption not the title: {box.title!r}", box.screen)
        check(box.words() == "Зарегистрировать шрифты Example PostScript Font Kit? Нажмите «OK».".split(),
              f"words differ: {box.words()}", box.screen)
        s.keys("Enter")
        report = Box(s.wait("the report", lambda x: box_shown(x) and "Готово." in x))
        check(report.words() == "Шрифты Example PostScript Font Kit зарегистрированы. Готово.".split(),
              f"report words differ: {report.words()}", report.screen)
        s.keys("Enter")
        screen = s.wait("the end of the run", run_ended())
        check("EXIT-first=1" in screen and "STTY-first=same" in screen, "exit or terminal modes", screen)
    finally:
        s.close()


CASES = {
    "frame_wrap_enter_60": lambda a: case_frame_wrap_enter(a, 60),
    "frame_wrap_enter_200": lambda a: case_frame_wrap_enter(a, 200),
    "tab_arrows_cancel": case_tab_arrows_cancel,
    "escape": case_escape,
    "resize": case_resize,
    "second_copy": case_second_copy,
    "signal": case_signal,
    "pipe_keeps_lines": case_pipe_keeps_lines,
    "cyrillic_caption": case_cyrillic_caption,
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--repo", required=True)
    ap.add_argument("--libraries", help="the folder of the resource libraries that cases name")
    ap.add_argument("case", choices=sorted(CASES))
    args = ap.parse_args()
    if not shutil.which("tmux"):
        print("skipped: tmux is missing")
        return 77
    args.exe = os.path.abspath(args.exe)
    try:
        CASES[args.case](args)
    except Failure as e:
        print(f"FAILED {args.case}: {e}")
        return 1
    print(f"passed {args.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
