#!/usr/bin/env python3
"""One case of the system conformance suite.

A case sets up a copy of the Windows 98 prefix (registry entries added
through Wine's own tools, and sometimes lines appended to system.reg while no
server runs), then copies that prefix once more, as Wine left it, for the
host build. It runs system_probe.exe under Wine on the first copy and the
host build of system_probe on the second, each with the same arguments, and
requires both outputs to be equal.

  run_case.py --prepare --template DIR
  run_case.py --exe PROBE.exe --host PROBE --template DIR --work DIR CASE

Exit codes: 0 same output, 1 different output or a failed step, 77 skipped.
"""
import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_driver import READY, copy_prefix, ensure_template, run, wine_env  # noqa: E402

SKIP = 77
PRINTERS = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers"
NT_VERSION = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion"
WIN_VERSION = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"


def checked(cmd, env):
    """Runs CMD with Wine's environment ENV and ends the case if it fails."""
    result = run(cmd, env=env, timeout=240)
    if result.returncode != 0:
        sys.stderr.write("failed (%d): %s\n%s" % (result.returncode, " ".join(cmd),
                                                  result.stderr.decode("latin-1")))
        raise SystemExit(1)
    return result


def regedit4(entries):
    """A REGEDIT4 file (ANSI, code page 1252): entries are (key, [lines])."""
    lines = ["REGEDIT4", ""]
    for key, values in entries:
        lines.append("[%s]" % key)
        lines.extend(values)
        lines.append("")
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


def regedit5(entries):
    """A version 5 file (UTF-16) for texts outside code page 1252."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in entries:
        lines.append("[%s]" % key)
        lines.extend(values)
        lines.append("")
    return b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le")


def hexbytes(data):
    return ",".join("%02x" % b for b in data)


def printer(name, driver=None, port=None, extra=()):
    values = []
    if driver is not None:
        values.append('"Printer Driver"="%s"' % driver)
    if port is not None:
        values.append('"Port"="%s"' % port)
    values.extend(extra)
    return ("HKEY_LOCAL_MACHINE\\" + PRINTERS + "\\" + name, values)


def reg_line_key(path):
    """A key line of system.reg for a path below HKEY_LOCAL_MACHINE."""
    return "[%s] 1700000000" % path.replace("\\", "\\\\")


class Case:
    def __init__(self):
        self.reg_files = []      # (suffix, bytes) imported with regedit /S
        self.commands = []       # argument lists for wine (reg add ...)
        self.system_reg_tail = ""  # appended to system.reg with no server running
        self.args = []           # probe arguments
        self.cwd = None          # "outside", "inside" or a relative folder
        self.exe_name = "system_probe.exe"
        self.equality_only = False  # lstrcmpA: compare "equal or not", report the signs
        self.known = None        # why the host may answer otherwise (printed, not failed)
        self.display = False     # the probe makes a window: Wine runs on a virtual X display
        self.locale = None       # the locale Wine runs in (its ANSI code page)


def case_printers(c):
    names = ["Alpha", "beta", "_x", "Zed", "a_b", "A1", "a10", "a9", "\u00c4rger", "zeta",
             "with space", "Kit Printer", "a b", "~t", "[br]", "\u00e9t\u00e9", "\u00d6l", "etz"]
    entries = [printer(n, "Kit %s" % n, "LPT%d:" % (i % 3 + 1)) for i, n in enumerate(names)]
    entries.append(printer("no port", "Kit Driver"))
    entries.append(printer("no values"))
    # A name that enumerates but whose full path is too long to open.
    entries.append(printer("L" + "p" * 229, "Kit Long", "LPT1:"))
    c.reg_files.append((".reg", regedit4(entries)))
    c.reg_files.append((".reg", regedit5([printer("wide \u0101\u4e00", "Kit \u0101", "COM\u20ac:")])))
    # Key names longer than the platform accepts are left out when it loads.
    tail = [""]
    for length in (255, 256, 257, 259, 260, 300):
        name = ("n%d_" % length).ljust(length, "q")
        tail.append(reg_line_key(PRINTERS + "\\" + name))
        tail.append('"Port"="LPT%d:"' % length)
        tail.append("")
    c.system_reg_tail = "\n".join(tail)
    c.args = ["walk", PRINTERS, "Printer Driver", "Port"]


VALUE_KEY = "Software\\PfmConformance\\Values"


def case_values(c):
    def key(name, line):
        return ("HKEY_LOCAL_MACHINE\\%s\\%s" % (VALUE_KEY, name), ['"V"=' + line])

    entries = [
        key("sz0", '""'),
        key("sz2046", '"%s"' % ("a" * 2046)),
        key("sz2047", '"%s"' % ("b" * 2047)),
        key("sz2048", '"%s"' % ("c" * 2048)),
        key("expand", "hex(2):" + hexbytes(b"%SystemRoot%\\x\0")),
        key("multi", "hex(7):" + hexbytes(b"one\0two\0\0")),
        key("dword", "dword:0badf00d"),
        key("bin0", "hex:"),
        key("bin3", "hex:01,02,03"),
        key("bin2048", "hex:" + hexbytes(bytes(i % 251 for i in range(2048)))),
        key("bin2049", "hex:" + hexbytes(bytes(i % 251 for i in range(2049)))),
        key("latin", '"caf\u00e9 \u20ac x\u00a0\u00ad\u00ff"'),
        key("escapes", '"q\\"b\\\\s [a]=;x"'),
        key("ctrl", "hex(1):" + hexbytes(b"a\x01\x09\x0a\x0d\x1b\x1f\x7fz\0")),
        ("HKEY_LOCAL_MACHINE\\%s\\none" % VALUE_KEY, ['"Other"="x"']),
    ]
    c.reg_files.append((".reg", regedit4(entries)))
    c.reg_files.append((".reg", regedit5([
        ("HKEY_LOCAL_MACHINE\\%s\\wide" % VALUE_KEY, ['"V"="a\u0101b\u4e00\u03a9\u201chi\u201d\u2013\u0152"']),
        ("HKEY_LOCAL_MACHINE\\%s\\wide1a" % VALUE_KEY, ['"V"="\u00e9a\u20ac1\u4e00f"']),
    ])))
    # Texts stored without their NUL, and odd byte counts: only system.reg
    # itself can hold them (the import tools add the NUL).
    u16 = lambda s: s.encode("utf-16-le")
    raw = [
        ("r_abc", u16("abc")), ("r_empty", b""), ("r_odd1", b"a"), ("r_odd3", u16("a") + b"b"),
        ("r_odd5", u16("ab") + b"\0"), ("r_2046", u16("g" * 2046)), ("r_2047", u16("h" * 2047)),
        ("r_2048", u16("i" * 2048)), ("r_2047odd", u16("j" * 2047) + b"k"),
        ("r_2048nul", u16("m" * 2048 + "\0")), ("r_wide", u16("\u00e9\u20ac\u0101\u4e00")),
    ]
    tail = [""]
    for name, data in raw:
        tail.append(reg_line_key(VALUE_KEY + "\\" + name))
        tail.append('"V"=hex(1):' + hexbytes(data))
        tail.append("")
    # Escapes as the server writes them, read back.
    tail.append(reg_line_key(VALUE_KEY + "\\s_escapes"))
    tail.append('"V"="\\1\\t\\n\\r\\37\\e\\a\\x00e9a\\x20ac\\x101\\0017\\\\\\"end"')
    tail.append("")
    tail.append(reg_line_key(VALUE_KEY + "\\s_str2"))
    tail.append('"V"=str(2):"%windir%\\\\y"')
    tail.append("")
    tail.append(reg_line_key(VALUE_KEY + "\\s_str7"))
    tail.append('"V"=str(7):"x\\0y\\0"')
    tail.append("")
    tail.append(reg_line_key(VALUE_KEY + "\\s_cont"))
    tail.append('"V"=hex(1):41,00,42,00,\\\n  43,00,00,00')
    tail.append("")
    c.system_reg_tail = "\n".join(tail)
    c.args = ["walk", VALUE_KEY, "V", "v", "", "Other"]


def case_open(c):
    c.reg_files.append((".reg", regedit4([printer("Kit Printer", "Kit", "LPT1:")])))
    c.args = ["open", PRINTERS, PRINTERS.lower(), PRINTERS.upper(),
              PRINTERS + "\\", PRINTERS + "\\\\", PRINTERS.replace("\\Print\\", "\\\\Print\\"),
              "\\" + PRINTERS, PRINTERS + "\\Kit Printer", PRINTERS + "\\KIT PRINTER",
              PRINTERS + "\\Kit Printer\\", PRINTERS + " ", PRINTERS.replace("\\", "/"),
              PRINTERS + "\\.", PRINTERS + "\\Kit Printer\\..", "",
              PRINTERS + "\\" + "z" * (260 - len(PRINTERS) - 1),
              PRINTERS + "\\" + "z" * (261 - len(PRINTERS) - 1)]


LINK_KEY = "Software\\PfmConformance\\Links"
LINK_CHAIN = 34  # keys c00..c33: c00 reaches the real key through 33 links, c01 through 32


def link_lines(path, target, root="\\Registry\\Machine\\"):
    """A symbolic link key in system.reg: PATH (below HKEY_LOCAL_MACHINE)
    leads to TARGET, written as the registry's own name of the key."""
    value = (root + target).encode("utf-16-le")
    return [reg_line_key(path), "#link", '"SymbolicLinkValue"=hex(6):' + hexbytes(value), ""]


def case_links(c):
    # Links that loop, chains of links up to and past the platform's limit,
    # and links that lead nowhere; only system.reg itself can hold them.
    k = LINK_KEY
    tail = [""]
    tail += [reg_line_key(k + "\\Real"), '"V"="real"', ""]
    tail += [reg_line_key(k + "\\Real\\Leaf"), '"V"="leaf"', ""]
    tail += link_lines(k + "\\ToReal", k + "\\Real")
    tail += link_lines(k + "\\Self", k + "\\Self")
    tail += link_lines(k + "\\CycleA", k + "\\CycleB")
    tail += link_lines(k + "\\CycleB", k + "\\CycleA")
    tail += link_lines(k + "\\IntoSelf", k + "\\Self\\Leaf")
    tail += link_lines(k + "\\ThroughLink", k + "\\ToReal\\Leaf")
    tail += link_lines(k + "\\Missing", k + "\\Nowhere")
    tail += [reg_line_key(k + "\\NoTarget"), "#link", ""]
    tail += link_lines(k + "\\Outside", "Elsewhere\\Key", root="\\Registry\\")
    for i in range(LINK_CHAIN - 1):
        tail += link_lines(k + "\\c%02d" % i, k + "\\c%02d" % (i + 1))
    tail += [reg_line_key(k + "\\c%02d" % (LINK_CHAIN - 1)), '"V"="end"', ""]
    c.system_reg_tail = "\n".join(tail)
    names = ["Real", "Real\\Leaf", "ToReal", "ToReal\\Leaf", "Self", "Self\\Leaf", "CycleA",
             "CycleB\\Leaf", "IntoSelf", "ThroughLink", "Missing", "NoTarget", "Outside"]
    names += ["c%02d" % i for i in range(LINK_CHAIN)]
    c.args = ["open"] + [k + "\\" + n for n in names]


def case_links_printers(c):
    # A printer key that links to itself, and one that links to another
    # printer, among ordinary printers, walked as the installation run does.
    c.reg_files.append((".reg", regedit4([printer("Kit A", "Kit", "LPT1:"), printer("Kit Z", "Kit", "LPT2:")])))
    tail = [""]
    tail += link_lines(PRINTERS + "\\Kit Loop", PRINTERS + "\\Kit Loop")
    tail += link_lines(PRINTERS + "\\Kit Other", PRINTERS + "\\Kit Z")
    c.system_reg_tail = "\n".join(tail)
    c.args = ["walk", PRINTERS, "Printer Driver", "Port"]


def case_links_printers_key(c):
    # The printers key itself made a link to itself.
    c.reg_files.append((".reg", regedit4([printer("Kit A", "Kit", "LPT1:")])))
    c.system_reg_tail = "\n".join([""] + link_lines(PRINTERS, PRINTERS))
    c.args = ["walk", PRINTERS, "Printer Driver", "Port"]


def case_links_root(c):
    # A key line that names no key, made a link: the machine's root itself.
    c.reg_files.append((".reg", regedit4([printer("Kit A", "Kit", "LPT1:")])))
    tail = ["", "[] 1700000000", "#link", '"SymbolicLinkValue"=hex(6):' + hexbytes(
        "\\Registry\\Machine\\Software".encode("utf-16-le")), ""]
    c.system_reg_tail = "\n".join(tail)
    c.args = ["open", "Software", "Software\\Microsoft", "Microsoft", PRINTERS, PRINTERS + "\\Kit A", ""]


def case_links_root_nowhere(c):
    # The same without a target.
    c.reg_files.append((".reg", regedit4([printer("Kit A", "Kit", "LPT1:")])))
    c.system_reg_tail = "\n".join(["", "[] 1700000000", "#link", ""])
    c.args = ["open", "Software", "Software\\Microsoft", "Microsoft", PRINTERS, PRINTERS + "\\Kit A", ""]


def version_case(setup, exe_name="system_probe.exe"):
    def build(c):
        c.commands.extend(setup)
        c.args = ["version"]
        c.exe_name = exe_name
    return build


def wine_version(v):
    return [["reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", v, "/f"]]


def number(v, kind="REG_SZ"):
    return [["reg", "add", WIN_VERSION, "/v", "VersionNumber", "/t", kind, "/d", v, "/f"]]


def nt(v):
    return [["reg", "add", NT_VERSION, "/v", "CurrentVersion", "/d", v, "/f"]]


def case_paths_outside(c):
    c.args = ["sysdir", "260", "20", "19", "1", "0"]
    c.cwd = "outside"


def case_cwd_outside(c):
    c.args = ["cwd", "2048", "3", "0"]
    c.cwd = "outside"


def case_cwd_inside(c):
    c.args = ["cwd", "2048", "5", "4", "0"]
    c.cwd = "drive_c/x"


def case_cwd_root(c):
    c.args = ["cwd", "2048"]
    c.cwd = "drive_c"


def case_cwd_nonascii(c):
    c.args = ["cwd", "2048"]
    c.cwd = "outside/\u00c4rger\u20ac \u0101\u4e00"


def case_cwd_longest(c):
    # The longest current directory the platform keeps, and one character
    # more (it then starts in the Windows folder).
    c.args = ["cwd", "2048", "258", "259"]
    c.cwd = "long:258"


def case_cwd_too_long(c):
    c.args = ["cwd", "2048"]
    c.cwd = "long:259"
    c.known = ("Wine cannot keep a current directory over 258 characters and starts the "
               "program in C:\\windows; the host answers the directory itself, as Windows does")


CODE_PAGE_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Nls\\CodePage"


def code_page_case(number, locale, args):
    """A case in a prefix whose registry names the ANSI code page NUMBER.
    Wine takes its code page from the locale it runs in (Unix need not have
    it) and writes it to the registry; the host reads it there. The probe
    says which code page took effect before it answers."""
    def build(c):
        c.commands.append(["reg", "add", CODE_PAGE_KEY, "/v", "ACP", "/d", str(number), "/f"])
        c.locale = locale
        c.args = args
        c.display = True
    return build


# Titles that differ only in letter case: Cyrillic in 1251 (\xA8/\xB8 are
# Ё/ё, \xC6/\xE6 are Ж/ж), and in 932 full-width and
# Cyrillic letters of two bytes (\x82\x60/\x82\x81 are Ａ/ａ,
# \x84\x40/\x84\x70 А/а) and a character whose second byte is
# an ASCII capital (\x83\x41, ア) against the one whose second byte is
# that letter's small form (\x83\x61, ャ).
FIND_1251 = ["findwindow", "\\xA8\\xC6 Kit", "\\xA8\\xC6 Kit", "\\xB8\\xE6 KIT", "\\xB8\\xC6 kit"]
FIND_932 = ["findwindow", "\\x82\\x60\\x84\\x40\\x83\\x41 Kit", "\\x82\\x60\\x84\\x40\\x83\\x41 KIT",
            "\\x82\\x81\\x84\\x40\\x83\\x41 Kit", "\\x82\\x60\\x84\\x70\\x83\\x41 Kit",
            "\\x82\\x60\\x84\\x40\\x83\\x61 Kit"]


def case_lstrcmp(c):
    c.args = ["cmp", os.path.join(os.path.dirname(os.path.abspath(__file__)), "lstrcmp_pairs.txt")]
    c.equality_only = True


def case_lstrcmp_bytes(c):
    c.args = ["cmpbytes"]
    c.equality_only = True


def equality_of(lines):
    """lstrcmpA results reduced to what the program relies on: equal or not.
    "cmp A B SIGN" lines keep 0 and turn -1/1 into "ne"; "cmpbytes" rows of
    signs keep '0' and turn '+'/'-' into '#'."""
    out = []
    for line in lines:
        parts = line.split(" ")
        if parts[0] == "cmp" and len(parts) == 4:
            parts[3] = "0" if parts[3] == "0" else "ne"
        elif parts[0] == "cmpbytes" and len(parts) == 3:
            parts[2] = "".join("0" if ch == "0" else "#" for ch in parts[2])
        out.append(" ".join(parts))
    return out


CASES = {
    "printers": case_printers,
    "values": case_values,
    "open": case_open,
    "links": case_links,
    "links_printers": case_links_printers,
    "links_printers_key": case_links_printers_key,
    "links_root": case_links_root,
    "links_root_nowhere": case_links_root_nowhere,
    "version_win98": version_case([]),
    "version_win95": version_case(wine_version("win95")),
    "version_winme": version_case(wine_version("winme")),
    "version_nt40": version_case(wine_version("nt40")),
    "version_winxp": version_case(wine_version("winxp")),
    "version_win10": version_case(wine_version("win10")),
    "version_unknown_name": version_case(wine_version("bogus")),
    "version_appdefaults": version_case(
        wine_version("winxp") + [["reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\system_probe.exe",
                                  "/v", "Version", "/d", "win95", "/f"]]),
    "version_appdefaults_other": version_case(
        [["reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\other.exe",
          "/v", "Version", "/d", "winxp", "/f"]]),
    "version_nt_and_9x": version_case(nt("5.1")),
    "version_nt_build": version_case(
        nt("6.1") + [["reg", "add", NT_VERSION, "/v", "CurrentBuildNumber", "/d", "7601", "/f"]]),
    "version_nt_garbage": version_case(nt("abc")),
    "version_neither": version_case([["reg", "delete", WIN_VERSION, "/v", "VersionNumber", "/f"]]),
    "version_number_garbage": version_case(number("abc")),
    "version_number_empty": version_case(number("")),
    "version_number_short": version_case(number("4")),
    "version_number_me": version_case(number("4.90.3000")),
    "version_number_nt": version_case(number("5.0.2195")),
    "version_number_suffix": version_case(number("4.10.2222 A")),
    "version_number_big_build": version_case(number("4.10.99999")),
    "version_number_dword": version_case(number("4", "REG_DWORD")),
    "sysdir": case_paths_outside,
    "cwd_outside": case_cwd_outside,
    "cwd_inside": case_cwd_inside,
    "cwd_drive_root": case_cwd_root,
    "cwd_nonascii": case_cwd_nonascii,
    "cwd_longest": case_cwd_longest,
    "cwd_too_long": case_cwd_too_long,
    "lstrcmp_pairs": case_lstrcmp,
    "lstrcmp_bytes": case_lstrcmp_bytes,
    "findwindow_cp1251": code_page_case(1251, "ru_RU.UTF-8", FIND_1251),
    "findwindow_cp932": code_page_case(932, "ja_JP.UTF-8", FIND_932),
}


def long_folder(base, windows_length):
    """A folder below base whose Windows path (Z:\\...) has the given length."""
    unix_length = windows_length - 2  # "Z:" takes the place of nothing, '\' of '/'
    path = base
    while len(path) < unix_length - 60:
        path = os.path.join(path, "e" * 50)
    rest = unix_length - len(path) - 1
    if rest < 1:
        raise SystemExit("work folder too deep for the case")
    return os.path.join(path, "f" * rest)


def working_folder(c, work, prefix):
    if c.cwd is None or c.cwd == "outside":
        return work
    if c.cwd.startswith("outside/"):
        path = os.path.join(work, c.cwd[len("outside/"):])
    elif c.cwd.startswith("long:"):
        path = long_folder(work, int(c.cwd[5:]))
    else:
        path = os.path.join(prefix, c.cwd)
    os.makedirs(path, exist_ok=True)
    return path


def run_case(args):
    name = os.path.basename(args.case)
    if name not in CASES:
        sys.stderr.write("unknown case %s\n" % name)
        return 1
    c = Case()
    CASES[name](c)

    # A folder of its own for every run, so that two test runs in the same
    # build folder cannot disturb each other; kept only when the case fails.
    work = "%s.%d" % (os.path.abspath(args.work), os.getpid())
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    wine_prefix = os.path.join(work, "wine-prefix")
    host_prefix = os.path.join(work, "host-prefix")
    copy_prefix(args.template, wine_prefix)
    env = wine_env(wine_prefix)
    if c.locale:
        env.update({"LANG": c.locale, "LC_ALL": c.locale})

    for i, (suffix, data) in enumerate(c.reg_files):
        path = os.path.join(work, "import%d%s" % (i, suffix))
        with open(path, "wb") as f:
            f.write(data)
        checked(["wine", "regedit", "/S", path], env)
    for command in c.commands:
        checked(["wine"] + command, env)
    checked(["wineserver", "-w"], env)
    if c.system_reg_tail:
        with open(os.path.join(wine_prefix, "system.reg"), "ab") as f:
            f.write(c.system_reg_tail.encode("ascii"))

    # The host's prefix: the same files, as Wine left them.
    copy_prefix(wine_prefix, host_prefix)

    exe = os.path.join(work, c.exe_name)
    shutil.copy(args.exe, exe)

    wine_cwd = working_folder(c, work, wine_prefix)
    host_cwd = working_folder(c, work, host_prefix)
    wine_cmd = ["wine", exe] + c.args
    if c.display:
        if shutil.which("xvfb-run") is None:
            print("skipped: xvfb-run not found")
            return SKIP
        wine_cmd = ["xvfb-run", "-a"] + wine_cmd
        env = dict(env)
        del env["DISPLAY"]
    wine_run = run(wine_cmd, env=env, cwd=wine_cwd, timeout=240)
    run(["wineserver", "-w"], env=env, timeout=240)
    host_run = run([args.host] + c.args, env={"WINEPREFIX": host_prefix, "PWD": host_cwd}, cwd=host_cwd,
                   timeout=240)

    with open(os.path.join(work, "wine.out"), "wb") as f:
        f.write(wine_run.stdout)
    with open(os.path.join(work, "host.out"), "wb") as f:
        f.write(host_run.stdout)
    if wine_run.returncode != 0 or not wine_run.stdout:
        sys.stderr.write("the Windows probe failed under Wine (%d)\n%s" % (
            wine_run.returncode, wine_run.stderr.decode("latin-1")))
        return 1

    wine_lines = wine_run.stdout.decode("ascii").splitlines()
    host_lines = host_run.stdout.decode("ascii", "replace").splitlines()
    if c.equality_only:
        signs = sum(a != b for a, b in zip(wine_lines, host_lines))
        if signs:
            print("case %s: %d lines differ in the order of unequal texts (not relied on)" % (name, signs))
        wine_lines, host_lines = equality_of(wine_lines), equality_of(host_lines)
    ok = wine_lines == host_lines and host_run.returncode == wine_run.returncode
    if not ok and c.known:
        print("case %s: the host answers otherwise, by design: %s" % (name, c.known))
        ok = True
    if not ok:
        import difflib
        print("case %s: host output differs from Wine (exit codes %d, %d)" % (
            name, wine_run.returncode, host_run.returncode))
        shown = 0
        for line in difflib.unified_diff(wine_lines, host_lines, "wine", "host", lineterm="", n=1):
            print(line[:400] + ("..." if len(line) > 400 else ""))
            shown += 1
            if shown > 80:
                print("(diff cut; full outputs in %s)" % work)
                break
        print("outputs kept in %s" % work)
        if host_run.stderr:
            sys.stdout.write("host stderr:\n" + host_run.stderr.decode("latin-1")[:2000])
        return 1
    print("case %s: %d lines, same output" % (name, len(wine_lines)))
    shutil.rmtree(work, ignore_errors=True)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prepare", action="store_true")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--template")
    parser.add_argument("--exe")
    parser.add_argument("--host")
    parser.add_argument("--work")
    parser.add_argument("case", nargs="?")
    args = parser.parse_args()
    if args.list:
        print(";".join(CASES))
        return 0
    for tool in ("wine", "wineserver", "wineboot"):
        if shutil.which(tool) is None:
            print("skipped: %s not found" % tool)
            return SKIP
    if args.prepare:
        ensure_template(os.path.abspath(args.template))
        return 0
    if not os.path.exists(os.path.join(args.template, READY)):
        print("the Windows 98 prefix %s is missing" % args.template)
        return 1
    return run_case(args)


if __name__ == "__main__":
    sys.exit(main())
