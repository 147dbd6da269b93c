#!/usr/bin/env python3
"""Whole runs of the host program on Windows 95/98/Me drive folders.

Each case makes a drive (MSDOS.SYS, the Windows folder with its SYSTEM.DAT,
made by tests/support/creg_write.py, and WIN.INI) and a kit, runs the program
with WIN9X_DRIVE naming the drive and its boxes answered through a pipe, and
checks the exit code, the report shown, the lines on standard error, and
WIN.INI: its exact text, or its bytes unchanged. A case with texts of its
own runs a copy of the program with that resource library beside it, and
checks the lines of its boxes as a UTF-8 terminal gets them.

Every case is run three times: --dry-run first (its exit code the report's,
nothing written, its diff applied to WIN.INI before the run what the run
then writes), the run, and --undo after it (WIN.INI byte for byte what it
was before the run, or, where nothing is to be undone, one line and nothing
changed). example_prefix does the same on the example's Wine prefix.

    run_drive.py --program build/host/pfmsetup --case NAME [--work DIR] [--libraries DIR]
    run_drive.py --list
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "support"))

import creg_write  # noqa: E402

SUCCESS = "are now registered"
FAILURE = "could not be registered"
MSDOS_SYS = b"[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n[Options]\r\nBootGUI=1\r\n"
VERSION_98SE = '[Software\\Microsoft\\Windows\\CurrentVersion]\n"VersionNumber"="4.10.2222"\n'
PRINTERS = "System\\CurrentControlSet\\Control\\Print\\Printers"
KIT = (b"[PrinterInfo]\r\noem=Maker\r\nPSKit=Kit\r\nNumberOfModel=2\r\nModel1=Kit PS\r\nModel2=Other PS\r\n"
       b"[PostScript]\r\nsoftfont1=ONE_____.PFM\r\nsoftfont2=TWO_____.PFM\r\n"
       b"[Pscript TrueType Substitutions]\r\nArial=Kit Sans\r\n")
WIN_INI = b"[windows]\r\nload=\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n"


def printers(*entries):
    """Printer keys in the order given: (name, driver, port)."""
    text = "[%s]\n\"StartOnBoot\"=dword:00000001\n" % PRINTERS
    for name, driver, port in entries:
        text += "[%s\\%s]\n\"Printer Driver\"=\"%s\"\n\"Port\"=\"%s\"\n" % (PRINTERS, name, driver, port)
    return text


def registry(text, encoding="latin-1"):
    return creg_write.build(creg_write.parse_description(text.encode(encoding), encoding))


def port_section(port, windows="C:\\WINDOWS"):
    return ("[PostScript,%s]\r\nSoftfonts=2\r\nsoftfont1=%s\\SYSTEM\\ONE_____.PFM\r\n"
            "softfont2=%s\\SYSTEM\\TWO_____.PFM\r\n" % (port, windows, windows)).encode()


SUBSTITUTIONS = b"[Pscript TrueType Substitutions]\r\nArial=Kit Sans\r\n"
# The kit's soft-font files, where the registration says they lie.
FONTS = {"WINDOWS/SYSTEM/ONE_____.PFM": b"PFM", "WINDOWS/SYSTEM/TWO_____.PFM": b"PFM"}


def added(before, *sections):
    """A file with sections added as Windows 95/98/Me adds them: a blank
    line before each, unless it is the file's first line."""
    for section in sections:
        before += (b"\r\n" if before else b"") + section
    return before


class Case:
    def __init__(self, files, expect_win_ini=None, report=SUCCESS, err=None, env=None, drive=None,
                 win_ini_path="WINDOWS/WIN.INI", modes=None, kit=None, library=None, shown=(), kit_at=None,
                 encoding="latin-1", state=None, tamper=None, undo_err=None, prefix=False, kept_runs=None):
        self.files = files                  # path below the drive -> bytes
        self.expect_win_ini = expect_win_ini  # bytes, a routine of the bytes before, or None: unchanged
        self.report = report
        self.err = err                      # a text standard error must hold, or None for nothing
        self.env = env or {}
        self.drive = drive                  # what WIN9X_DRIVE names, relative to the work folder
        self.win_ini_path = win_ini_path
        self.modes = modes or {}
        self.kit = kit                      # the kit's pfmsetup.ini (a path or its bytes), else KIT
        self.library = library              # the program's pfmres.dll, a file of --libraries
        self.shown = shown                  # lines standard output must hold, as they are
        self.kit_at = kit_at                # the kit's folder below the drive, else beside it
        self.encoding = encoding            # of WIN.INI's text
        self.state = state                  # routine(XDG_STATE_HOME) run before the runs
        self.tamper = tamper                # routine(work, win_ini) run before --undo
        self.undo_err = undo_err            # what --undo's one line holds, or None: it puts WIN.INI back
        self.prefix = prefix                # the files are a Wine prefix (WINEPREFIX), not a drive
        self.kept_runs = kept_runs          # the runs kept after the run, or None: not counted


def drive98(reg=printers(("Office", "Kit PS", "LPT1:")), win_ini=WIN_INI, extra=None, msdos=MSDOS_SYS,
            encoding="latin-1"):
    files = {"WINDOWS/SYSTEM.DAT": registry(VERSION_98SE + reg, encoding), "WINDOWS/WIN.INI": win_ini}
    files.update(FONTS)
    if msdos is not None:
        files["MSDOS.SYS"] = msdos
    files.update(extra or {})
    return files


def example_drive():
    """The example drive of examples/, after checking that its SYSTEM.DAT is
    what its description makes."""
    root = os.path.join(REPO, "examples", "win98-drive")
    files = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            full = os.path.join(dirpath, name)
            files[os.path.relpath(full, root).replace(os.sep, "/")] = open(full, "rb").read()
    with open(os.path.join(REPO, "examples", "win98-drive-registry.txt"), "rb") as f:
        if creg_write.build(creg_write.parse_description(f.read())) != files["WINDOWS/SYSTEM.DAT"]:
            raise SystemExit("examples/win98-drive/WINDOWS/SYSTEM.DAT is not what examples/win98-drive-registry.txt makes")
    return files


EXAMPLE_FONTS = [b"EXSR____.PFM", b"EXSB____.PFM", b"EXSI____.PFM", b"EXSBI___.PFM", b"EXMR____.PFM", b"EXMB____.PFM"]


def example_section_list(ports=(b"FILE", b"LPT1")):  # the order the drive's registry holds the printers in
    sections = [b"[PostScript," + port + b"]\r\nSoftfonts=6\r\n" +
                b"".join(b"softfont%d=C:\\WINDOWS\\SYSTEM\\%s\r\n" % (i + 1, f) for i, f in enumerate(EXAMPLE_FONTS))
                for port in ports]
    return sections + [b"[Pscript TrueType Substitutions]\r\nArial=Example Sans\r\n"
                       b"Arial Bold=Example Sans Bold\r\nTimes New Roman=Example Serif\r\nCourier New=Example Mono\r\n"]


def example_sections(before):
    return added(before, *example_section_list())


def example_prefix():
    """The example's Wine prefix, its Z: the host's root as run.sh links it."""
    root = os.path.join(REPO, "examples", "machine")
    files = {os.path.relpath(os.path.join(d, n), root): open(os.path.join(d, n), "rb").read()
             for d, _, names in os.walk(root) for n in names}
    files.update({"dosdevices/c:": Link("../drive_c"), "dosdevices/z:": Link("/")})
    return files


class Link(str):
    """A symbolic link among a case's files, to the path it holds."""


def old_runs(state, count):
    """Runs of long ago in the drive's backup folder, and a killed run's kept
    file; after the run, the last ten with their records stay."""
    root = os.path.realpath(os.path.join(os.path.dirname(state), "drive"))
    folder = os.path.join(state, "pfmsetup", "drive-%s-%s" % (root.lstrip("/").replace("/", "-")[-80:],
                                                            hashlib.sha256(root.encode()).hexdigest()[:8]))
    os.makedirs(folder)
    for i in range(count + 1):
        stem = os.path.join(folder, "2001-01-01_00-00-%02d.000000" % i)
        open(stem + ".WIN.INI", "wb").close()
        if i < count:
            open(stem + ".record", "wb").close()
    return folder


def truncate_kept(work):
    kept = [os.path.join(d, n) for d, _, names in os.walk(os.path.join(work, "state")) for n in names
            if n.endswith(".WIN.INI")]
    os.truncate(kept[0], 10)


def cut(text):
    """Lines with their ends, cut after each LF only."""
    return re.findall(r"[^\n]*\n|[^\n]+$", text)


def apply_diff(before, diff):
    """The text that a unified diff (among other lines, as the preview prints
    it) makes of `before`; None when it does not apply."""
    rows = [r for r in cut(diff) if r[:1] in " +-@\\" and not r.startswith(("--- ", "+++ "))]
    for i, r in enumerate(rows):
        if r.startswith("\\"):
            rows[i - 1] = rows[i - 1][:-1]
    old, new, at = cut(before), [], 0
    for r in rows:
        if r.startswith("@@"):
            start, count = re.match(r"@@ -(\d+)(?:,(\d+))?", r).groups()
            first = int(start) - (count != "0")
            new += old[at:first]
            at = first
        elif r.startswith("+"):
            new.append(r[1:])
        elif r.startswith(("-", " ")) and at < len(old) and old[at] == r[1:]:
            new += [r[1:]] if r[0] == " " else []
            at += 1
        elif not r.startswith("\\"):
            return None
    return "".join(new + old[at:])


def written(*ports, win_ini=WIN_INI):
    return added(win_ini, *[port_section(p) for p in ports], SUBSTITUTIONS)


def padded(size):  # a WIN.INI that the usual run on LPT1 makes `size` bytes long
    return WIN_INI + b";" + b"x" * (size - len(written("LPT1")) - 3) + b"\r\n"


def over_limit(win_ini):  # refused, with the size the file would have had
    err = "would be %d bytes, more than the 65536 bytes" % len(written("LPT1", win_ini=win_ini))
    return Case(drive98(win_ini=win_ini), report=FAILURE, err=err)


def national(acp, encoding, library, oem, kit, model, drivers, font, shown, report, kit_at=None):
    """A drive of code page ACP and a kit whose names are in its bytes; the
    printers are (name, driver, port), the kit's model MODEL alone. The
    win.ini holds a line of that code page that must stay as it is."""
    win_ini = ("[windows]\r\nload=\r\n\r\n[Desktop]\r\nWallpaper=C:\\WINDOWS\\%s.bmp\r\n" % oem).encode(encoding)
    kit_ini = ("[PrinterInfo]\r\noem=%s\r\nPSKit=%s\r\nNumberOfModel=1\r\nModel1=%s\r\n"
               "[PostScript]\r\nsoftfont1=ONE_____.PFM\r\nsoftfont2=TWO_____.PFM\r\n"
               "[Pscript TrueType Substitutions]\r\nArial=%s\r\n" % (oem, kit, model, font)).encode(encoding)
    reg = printers(*drivers) + '[System\\CurrentControlSet\\Control\\Nls\\Codepage]\n"ACP"="%d"\n' % acp
    ports = [port.rstrip(":") for _, driver, port in drivers if driver == model]
    expect = added(win_ini, *[port_section(p) for p in ports],
                   b"[Pscript TrueType Substitutions]\r\nArial=" + font.encode(encoding) + b"\r\n") if ports else None
    return Case(drive98(reg, win_ini, encoding=encoding), expect, report=report, kit=kit_ini, library=library,
                shown=shown, kit_at=kit_at, encoding=encoding)


CYRILLIC_QUESTION = ["[pfmsetup] Печатный двор Кириллица ПС — установка шрифтов",
                     "(information) Зарегистрировать шрифты Кириллица ПС?", "(information) Нажмите «OK»."]
JAPANESE_QUESTION = ["[pfmsetup] 日本プリンタ ソフト表示キット フォントセットアップ",
                     "(information) ソフト表示キット のソフトフォントを登録しますか?", "(information) 「OK」で続けます。"]

CASES = {
    # The example drive and kit, as examples/run.sh runs them.
    # The example's files are not on its drive: one line says so.
    "example_drive": Case(example_drive(), example_sections, kit=os.path.join(REPO, "examples", "kit", "pfmsetup.ini"),
                          err="6 of 6 soft-font files registered are not in C:\\WINDOWS\\SYSTEM"),
    # A prefix adds its sections as Wine does, with no blank line before them.
    "example_prefix": Case(example_prefix(), lambda before: before + b"".join(example_section_list((b"LPT1", b"FILE"))).replace(
        b"C:\\WINDOWS\\SYSTEM", b"C:\\windows\\system32"),
        kit=os.path.join(REPO, "examples", "kit", "pfmsetup.ini"), win_ini_path="drive_c/windows/win.ini",
        err="6 of 6 soft-font files registered are not in C:\\windows\\system32", prefix=True),
    # Printers come in the order the file holds them, not sorted by name.
    "enumeration_order": Case(
        drive98(printers(("Zeta", "Kit PS", "LPT3:"), ("alpha", "Other PS", "LPT1:"), ("Mid", "Kit PS", "LPT2:"),
                         ("Beta", "None PS", "COM1:"))),
        written("LPT3", "LPT1", "LPT2")),
    # Names found whatever their letter case; win.ini keeps the name it has.
    "letter_case": Case(
        {"msdos.sys": MSDOS_SYS, "windows/system.dat": registry(VERSION_98SE + printers(("P", "Kit PS", "LPT1:"))),
         "windows/win.ini": WIN_INI, "windows/system/one_____.pfm": b"", "windows/system/two_____.pfm": b""},
        written("LPT1"), win_ini_path="windows/win.ini"),
    # MSDOS.SYS names the Windows folder and its spelling.
    "windir_named": Case(
        {"MSDOS.SYS": MSDOS_SYS.replace(b"C:\\WINDOWS", b"C:\\Win98"),
         "WIN98/SYSTEM.DAT": registry(VERSION_98SE + printers(("P", "Kit PS", "LPT1:"))), "WIN98/WIN.INI": WIN_INI,
         "WIN98/SYSTEM/ONE_____.PFM": b"", "WIN98/SYSTEM/TWO_____.PFM": b""},
        added(WIN_INI, port_section("LPT1", "C:\\Win98"), SUBSTITUTIONS), win_ini_path="WIN98/WIN.INI"),
    # Where MSDOS.SYS is absent, binary, too large or names no WinDir: C:\WINDOWS.
    "no_msdos_sys": Case(drive98(msdos=None), written("LPT1")),
    "msdos_sys_binary": Case(drive98(msdos=b"\xeb\x3c\x90MSDOS5.0\x00\x02" * 40), written("LPT1")),
    "msdos_sys_10mb": Case(drive98(msdos=b"[Paths]\r\nWinDir=C:\\NOWHERE\r\n" + b";" * (10 << 20)), written("LPT1")),
    "msdos_sys_no_paths": Case(drive98(msdos=b"[Options]\r\nBootGUI=1\r\n"), written("LPT1")),
    # No win.ini yet: it is made as WIN.INI.
    "no_win_ini": Case({k: v for k, v in drive98().items() if k != "WINDOWS/WIN.INI"},
                       added(b"", port_section("LPT1"), SUBSTITUTIONS)),
    # Versions of the family; a code page the host does not know reads as 1252.
    "windows_95": Case(drive98(reg=printers(("P", "Kit PS", "LPT1:")) + VERSION_98SE.replace("4.10.2222", "4.00.950")),
                       written("LPT1")),
    "acp_65001": Case(drive98(reg=printers(("P", "Kit PS", "LPT1:")) +
                              '[System\\CurrentControlSet\\Control\\Nls\\Codepage]\n"ACP"="65001"\n'), written("LPT1")),
    "acp_abc": Case(drive98(reg=printers(("P", "Kit PS", "LPT1:")) +
                            '[System\\CurrentControlSet\\Control\\Nls\\Codepage]\n"ACP"="abc"\n'), written("LPT1")),
    # Texts of the installation's code page on a UTF-8 terminal: the
    # library's UTF-16 strings and the kit's bytes in one code page, shown
    # right; driver names matched as the bytes they are, letter case
    # counting; win.ini written in that code page. In 932, ソ and 表 end
    # with the byte of '\\'.
    "cp1251_cyrillic": national(
        1251, "cp1251", "cyrillic_strings.dll", "Печатный двор", "Кириллица ПС", "Принтер ПС",
        [("Офис", "Принтер ПС", "LPT1:"), ("Склад", "принтер ПС", "LPT2:")], "Кириллица Санс",
        CYRILLIC_QUESTION + ["(information) Шрифты Кириллица ПС зарегистрированы.", "(information) Готово."], "зарегистрированы"),
    "cp1251_no_match": national(
        1251, "cp1251", "cyrillic_strings.dll", "Печатный двор", "Кириллица ПС", "Принтер ПС",
        [("Склад", "ПРИНТЕР ПС", "LPT2:")], "Кириллица Санс",
        CYRILLIC_QUESTION + ["(exclamation) Шрифты Кириллица ПС не удалось зарегистрировать."], "не удалось"),
    "cp932_japanese": national(
        932, "cp932", "japanese_strings.dll", "日本プリンタ", "ソフト表示キット", "日本レーザー PS",
        [("事務所", "日本レーザー PS", "LPT1:"), ("倉庫", "日本レーザー", "LPT2:")], "ソフト明朝",
        JAPANESE_QUESTION + ["(information) ソフト表示キット のソフトフォントを登録しました。",
                             "(information) 完了。"], "登録しました"),
    # The kit in a folder of the drive whose name ends its characters with
    # that byte: C:\ソフト\表示 is two names, not four.
    "cp932_kit_folder": national(
        932, "cp932", "japanese_strings.dll", "日本プリンタ", "ソフト表示キット", "日本レーザー PS",
        [("事務所", "日本レーザー PS", "LPT1:")], "ソフト明朝",
        JAPANESE_QUESTION + ["(information) ソフト表示キット のソフトフォントを登録しました。"], "登録しました",
        kit_at="ソフト/表示"),
    # A printer whose name holds 表: its key opens by the path the program
    # puts together, the backslash after Printers the only one.
    "cp932_printer_name": national(
        932, "cp932", "japanese_strings.dll", "日本プリンタ", "ソフト表示キット", "日本レーザー PS",
        [("表示機", "日本レーザー PS", "LPT1:")], "ソフト明朝",
        JAPANESE_QUESTION + ["(information) ソフト表示キット のソフトフォントを登録しました。"], "登録しました"),
    "cp932_no_match": national(
        932, "cp932", "japanese_strings.dll", "日本プリンタ", "ソフト表示キット", "日本レーザー PS",
        [("倉庫", "日本レーザー", "LPT2:")], "ソフト明朝",
        JAPANESE_QUESTION + ["(exclamation) ソフト表示キット のソフトフォントを登録できませんでした。"], "できませんでした"),
    # The registry of a real Windows Me installation, which has no printers:
    # usable, so no line on standard error; the failure report.
    "windows_me_real": Case(
        {"MSDOS.SYS": MSDOS_SYS, "WINDOWS/SYSTEM.DAT": open(os.path.join(REPO, "tests", "data", "win9x", "SYSTEM.DAT"),
                                                          "rb").read(), "WINDOWS/WIN.INI": WIN_INI},
        report=FAILURE),
    # What cannot be used: the failure report, a line naming the path, nothing written.
    "missing_path": Case({}, report=FAILURE, err="does not exist", drive="nowhere"),
    # A regular file is taken for a disk image: one that is none says so.
    "drive_is_file": Case({"disk": b"not a drive"}, report=FAILURE,
                          err="the image is too small to hold a disk", drive="drive/disk"),
    "no_windows_folder": Case({"MSDOS.SYS": b"", "AUTOEXEC.BAT": b"@echo off\r\n"}, report=FAILURE,
                              err="has no WINDOWS folder"),
    "windir_missing": Case(drive98(msdos=MSDOS_SYS.replace(b"C:\\WINDOWS", b"C:\\WIN98")), report=FAILURE,
                           err="names C:\\WIN98 as the Windows folder"),
    # Windows on another drive than the folder's C:: said, never written with C:.
    "windir_on_d": Case(drive98(msdos=MSDOS_SYS.replace(b"WinDir=C:", b"WinDir=D:")), report=FAILURE,
                        err="Windows is on drive D:, and this is drive C:"),
    "no_system_dat": Case({"WINDOWS/WIN.INI": WIN_INI}, report=FAILURE, err="has no SYSTEM.DAT"),
    "system_dat_empty": Case(drive98(extra={"WINDOWS/SYSTEM.DAT": b""}), report=FAILURE, err="SYSTEM.DAT"),
    "system_dat_not_creg": Case(drive98(extra={"WINDOWS/SYSTEM.DAT": b"REGEDIT4\r\n" * 100}), report=FAILURE,
                                err="SYSTEM.DAT"),
    "nt_drive": Case({"WINDOWS/system32/config/SYSTEM": b"regf", "WINDOWS/WIN.INI": WIN_INI}, report=FAILURE,
                     err="Windows NT"),
    "no_matching_printer": Case(drive98(printers(("P", "Unknown PS", "LPT1:"))), report=FAILURE),
    # Windows 9x reads 64 KB of WIN.INI: a result of 65536 bytes lands, one
    # byte more is refused, as is any run on a WIN.INI already above it.
    "win_ini_at_limit": Case(drive98(win_ini=padded(65536)), written("LPT1", win_ini=padded(65536))),
    "win_ini_above_limit": over_limit(padded(65537)),
    "win_ini_already_above": over_limit(WIN_INI + b";" + b"x" * 66000 + b"\r\n"),
    # Windows 9x's answers: "+2" reads as 0 models; a new section follows a
    # blank line, one only, also after a last line that had no line end.
    "model_count_plus": Case(drive98(), report=FAILURE, kit=KIT.replace(b"NumberOfModel=2", b"NumberOfModel=+2")),
    "win_ini_ends_blank": Case(drive98(win_ini=WIN_INI + b"\r\n"), written("LPT1")),
    "win_ini_no_last_line_end": Case(drive98(win_ini=WIN_INI[:-2]), written("LPT1")),
    # The read-only attribute (a drive mounted on Linux shows it as a file
    # without write permission): the failure report, the file unchanged.
    "read_only_win_ini": Case(drive98(), report=FAILURE, modes={"WINDOWS/WIN.INI": 0o444}),
    # One soft-font file of two missing; a file of the kit's name in the
    # Windows folder is not the one registered.
    "soft_font_missing": Case(drive98(extra={"WINDOWS/SYSTEM/TWO_____.PFM": None, "WINDOWS/TWO_____.PFM": b""}),
                              written("LPT1"), err="1 of 2 soft-font files registered are not in C:\\WINDOWS\\SYSTEM"),
    # A backup that cannot be kept: one line, the run goes on; nothing to undo.
    "backup_folder_link": Case(drive98(), written("LPT1"), err="pfmsetup is a link, not a folder",
                               state=lambda s: (os.makedirs(s), os.symlink("/tmp", s + "/pfmsetup")),
                               undo_err="no run of it is kept"),
    "backup_folder_file": Case(drive98(), written("LPT1"), err="pfmsetup is not a folder",
                               state=lambda s: (os.makedirs(s), open(s + "/pfmsetup", "w").close()),
                               undo_err="no run of it is kept"),
    "state_home_relative": Case(drive98(), written("LPT1"), err="XDG_STATE_HOME (state) is not an absolute path",
                                env={"XDG_STATE_HOME": "state"}, undo_err="is not an absolute path"),
    "state_home_not_writable": Case(drive98(), written("LPT1"), err="/dev/null is not a folder",
                                    env={"XDG_STATE_HOME": "/dev/null/state"}, undo_err="no run of it is kept"),
    # Twelve runs kept before and a killed run's kept file: the last ten stay.
    "last_ten_kept": Case(drive98(), written("LPT1"), state=lambda s: old_runs(s, 12), kept_runs=10),
    # What --undo refuses: WIN.INI and the kept file stay as they are.
    "kept_file_truncated": Case(drive98(), written("LPT1"), tamper=lambda work, _: truncate_kept(work),
                                undo_err="was truncated or changed since the run kept it"),
    "win_ini_changed_since": Case(drive98(), written("LPT1"), undo_err="changed since the run of",
                                  tamper=lambda _, win_ini: open(win_ini, "ab").write(b"[Added]\r\n")),
}


def make_drive(root, files, modes):
    os.makedirs(root, exist_ok=True)
    for path, data in files.items():
        full = os.path.join(root, *path.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if isinstance(data, Link):
            os.symlink(data, full)
        elif data is not None:
            with open(full, "wb") as f:
                f.write(data)
    for path, mode in modes.items():
        os.chmod(os.path.join(root, *path.split("/")), mode)


def run_case(program, name, work, libraries):
    c = CASES[name]
    shutil.rmtree(work, ignore_errors=True)
    drive = os.path.join(work, "drive")
    kit = os.path.join(drive, *c.kit_at.split("/")) if c.kit_at else os.path.join(work, "kit")
    make_drive(drive, c.files, c.modes)
    os.makedirs(kit)
    with open(os.path.join(kit, "pfmsetup.ini"), "wb") as f:
        f.write(c.kit if isinstance(c.kit, bytes) else open(c.kit, "rb").read() if c.kit else KIT)
    library = os.path.join(os.path.dirname(program), "pfmres.dll")
    if c.library:
        # The kit's own texts, shown before those of the pfmres.dll beside
        # the program, whose texts differ.
        library = os.path.join(libraries or "", c.library)
    shutil.copy(library, os.path.join(kit, "pfmres.dll"))
    win_ini = os.path.join(drive, *c.win_ini_path.split("/"))
    before = open(win_ini, "rb").read() if os.path.isfile(win_ini) else None
    folder = os.path.dirname(win_ini)
    entries = set(os.listdir(folder)) if os.path.isdir(folder) else set()
    snapshot = {p: open(os.path.join(drive, *p.split("/")), "rb").read() for p, data in c.files.items()
                if p != c.win_ini_path and isinstance(data, bytes)}

    env = dict(os.environ)
    env.pop("WINEPREFIX" if not c.prefix else "WIN9X_DRIVE", None)
    env.update({"WINEPREFIX" if c.prefix else "WIN9X_DRIVE": os.path.join(work, c.drive) if c.drive else drive,
                "LC_ALL": "C.UTF-8", "XDG_RUNTIME_DIR": work, "XDG_STATE_HOME": os.path.join(work, "state")})
    env.update(c.env)
    if c.state:
        c.state(os.path.join(work, "state"))
    problems = []

    def run(*args):
        r = subprocess.run([program] + list(args), input=b"ok\nok\n", cwd=kit, env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=120)
        return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")

    # The preview: 0 for the success report (a run that writes), nothing written.
    expected = c.expect_win_ini(before) if callable(c.expect_win_ini) else c.expect_win_ini
    preview_status, preview, _ = run("--dry-run")
    if preview_status != (0 if expected not in (None, before) else 1):
        problems.append("--dry-run ended with %d for the report %r" % (preview_status, c.report))
    if (open(win_ini, "rb").read() if os.path.isfile(win_ini) else None) != before:
        problems.append("--dry-run changed win.ini")
    status, out, err = run()
    if status != 1:
        problems.append("exit code %d, not 1" % status)
    if c.report not in out:
        problems.append("the report %r was not shown" % c.report)
    lines = out.splitlines()
    problems += ["no line %r on standard output" % line for line in c.shown if line not in lines]
    err_lines = [line for line in err.splitlines() if line.strip()]
    if c.err is None and err_lines:
        problems.append("standard error holds %r" % err_lines)
    if c.err is not None and not (len(err_lines) == 1 and c.err in err_lines[0] and "pfmsetup:" in err_lines[0]):
        problems.append("standard error is %r, not one line with %r" % (err_lines, c.err))
    after = open(win_ini, "rb").read() if os.path.isfile(win_ini) else None
    if expected is None:
        expected = before
    if after != expected:
        problems.append("win.ini is\n%r\nnot\n%r" % (after, expected))
    for path, data in snapshot.items():
        if open(os.path.join(drive, *path.split("/")), "rb").read() != data:
            problems.append("%s changed" % path)
    leftovers = sorted(set(os.listdir(folder)) - entries - {os.path.basename(win_ini)}) if os.path.isdir(folder) else []
    if leftovers:
        problems.append("files left in the Windows folder: %r" % leftovers)
    # The run's record says what it wrote, as sha256sum hashes it.
    records = [os.path.join(d, n) for d, _, names in os.walk(os.path.join(work, "state")) for n in names
               if n.endswith(".record")]
    if c.kept_runs:
        names = sorted(os.listdir(os.path.dirname(records[0])))
        if len(records) != c.kept_runs or len(names) != 2 * c.kept_runs or names[-1].startswith("2001"):
            problems.append("the runs kept are %r" % names)
    if after not in (None, before) and records and "written %d %s\n" % (
            len(after), hashlib.sha256(after).hexdigest()) not in open(max(records)).read():
        problems.append("the record %s is not of what the run wrote" % max(records))
    problems += check_undo(c, lambda: open(win_ini, "rb").read() if os.path.isfile(win_ini) else None,
                           lambda: c.tamper and c.tamper(work, win_ini), before, after, preview, run)
    if problems:
        print("case %s:\n  %s\n--- output\n%s--- error\n%s" % (name, "\n  ".join(problems), out, err))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("case %s: passed" % name)
    return 0


def check_undo(c, read, tamper, before, after, preview, run):
    """The preview's diff is what the run wrote; --undo then puts back the
    file as it was, or says in one line why not and changes nothing."""
    problems = []
    if after not in (None, before) and apply_diff((before or b"").decode(c.encoding), preview) != after.decode(c.encoding):
        problems.append("the diff --dry-run printed is not what the run wrote:\n" + preview)
    tamper()
    now = read()
    status, out, err = run("--undo")
    undone = read()
    lines = [line for line in err.splitlines() if line.strip()]
    if c.undo_err is None and None not in (before, after) and after != before:
        if status != 0 or undone != before or lines:
            problems.append("--undo ended with %d, %r: win.ini is\n%r" % (status, lines, undone))
    elif status != 1 or undone != now or len(lines) != 1 or (c.undo_err or "") not in lines[0]:
        problems.append("--undo ended with %d, standard error %r, win.ini %s" %
                        (status, lines, "unchanged" if undone == now else "changed"))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program")
    parser.add_argument("--case")
    parser.add_argument("--work")
    parser.add_argument("--libraries", help="the folder of the resource libraries that cases name")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    if args.list:
        print(";".join(sorted(CASES)))
        return 0
    work = args.work or tempfile.mkdtemp(prefix="pfm9x-")
    return run_case(args.program, args.case, work, args.libraries)


if __name__ == "__main__":
    sys.exit(main())
