"""The scenarios both builds run: a sample machine, changes made to it first, the program at a
Windows path, its exact command line and working directory, and the answers to its boxes.
Both builds must end in the same registry, files and boxes; `boxes` and `removes` state the
outcome as Windows 9x gives it."""

from dataclasses import dataclass, field
from typing import Optional, Tuple

UNPELLAM = r"C:\WINDOWS\UNPELLAM.EXE"
SILENT_DIR = r"C:\Silent\unpellam.exe"  # a folder whose name is itself a keyword
CONFIRM = "Remove Pellam Drivers"  # the sample's WarningTitle
RESTART = "Restart Windows?"
COMPLETION = "UnPellam.EXE"
ERROR = "Uninstall"
REBOOT = "Pellam Upgrade"


@dataclass
class Scenario:
    name: str
    command: str
    program: str = "unpellam"
    exe: str = UNPELLAM
    directory: str = r"C:\WINDOWS"
    sample: str = "win98-machine"
    version: str = "win98"
    edits: Tuple[str, ...] = ()
    answers: Tuple[str, ...] = ()
    boxes: Optional[Tuple[str, ...]] = None   # captions in order, when the scenario states them
    removes: Optional[bool] = None             # whether anything of the machine changes
    restarts: bool = False                     # whether Windows 9x is asked to restart
    note: str = ""
    stand_ins: dict = field(default_factory=dict)


KEYWORD_SETS = ["", "br10setp", "tunelink10", "dev_0003", "old", "all", "all old",
                "br10setp tunelink10 dev_0003"]


def _keyword_scenarios():
    out = []
    for version in ("win95", "win98", "nt4"):
        for words in KEYWORD_SETS:
            label = words.replace(" ", "+") or "none"
            out.append(Scenario(
                name="keywords.%s.%s" % (version, label),
                command='"%s" now %s' % (UNPELLAM, words) if words else '"%s" now' % UNPELLAM,
                version=version, answers=("ok",), boxes=(COMPLETION,),
                removes=version != "nt4"))
    return out


def _command_line_scenarios():
    forms = [
        ("quoted", '"%s" now' % SILENT_DIR, True),
        ("unquoted", "%s now" % SILENT_DIR, True),
        ("no-blank", '"%s"now' % SILENT_DIR, True),
        ("upper-case", '"%s" NOW TUNELINK10' % SILENT_DIR, True),
        ("blanks-and-tab", '"%s"  \tnow' % SILENT_DIR, True),
    ]
    out = [Scenario(name="command-line." + name, command=line, exe=SILENT_DIR,
                    directory=r"C:\Silent", answers=("ok",), boxes=(COMPLETION,), removes=removes)
           for name, line, removes in forms]
    # No arguments at all: the confirmation box, whose Cancel leaves everything as it was.
    out.append(Scenario(name="command-line.empty", command='"%s"' % SILENT_DIR, exe=SILENT_DIR,
                        directory=r"C:\Silent", answers=("cancel",), boxes=(CONFIRM,),
                        removes=False))
    return out


def _outcome_scenarios():
    """One scenario for every row of the uninstaller's outcomes."""
    def row(name, words, answers, boxes, removes, edits=(), note="", version="win98"):
        command = '"%s" %s' % (UNPELLAM, words) if words else '"%s"' % UNPELLAM
        return Scenario(name="boxes." + name, command=command, answers=answers, boxes=boxes,
                        removes=removes, edits=edits, note=note, version=version,
                        restarts=name == "ok-ok")
    return [
        row("now", "now", ("ok",), (COMPLETION,), True),
        row("now-silent", "now silent", (), (), True),
        row("now-without-key", "now", ("ok",), (COMPLETION,), True, ("no-uninstall-key",)),
        row("no-key", "", ("ok",), (ERROR,), False, ("no-uninstall-key",)),
        row("no-title", "", ("ok",), (ERROR,), False, ("no-warning-title",)),
        row("silent", "silent", (), (), False),
        row("cancel", "", ("cancel",), (CONFIRM,), False),
        row("ok-cancel", "", ("ok", "cancel", "ok"), (CONFIRM, RESTART, CONFIRM), True),
        row("ok-ok", "", ("ok", "ok", "ok"), (CONFIRM, RESTART, CONFIRM), True,
            note="Windows 9x answers OpenThreadToken with error 120, so the restart is "
                 "requested (the host run journals it). Wine fails it with 1008 in every "
                 "version mode, so under Wine no restart is requested; the boxes and the "
                 "removal are judged as on Windows 9x."),
        row("nt4-ok-cancel", "", ("ok", "cancel", "ok"), (CONFIRM, RESTART, CONFIRM), False,
            version="nt4"),
    ]


def _upgrade_scenarios():
    note = ("Neither virtual device exists under Wine, so both handshakes fail at their first "
            "open (the host machine declares both devices missing) and the reboot box shows.")
    common = dict(program="upgrade", sample="upgrade-package", edits=("devices-missing",),
                  answers=("ok",), boxes=(REBOOT,), removes=True, note=note,
                  stand_ins={r"C:\WINDOWS\br10setp.exe": "br10setp"})
    return [
        Scenario(name="upgrade.copy", command=r'"D:\PELLAM\UPGRADE.EXE"', exe=r"D:\PELLAM\UPGRADE.EXE",
                 directory=r"D:\PELLAM", **common),
        Scenario(name="upgrade.cleanup", command=r'"C:\WINDOWS\TEMP\PELLAM\UPGRADE.EXE" Cleanup',
                 exe=r"C:\WINDOWS\TEMP\PELLAM\UPGRADE.EXE", directory=r"C:\WINDOWS\TEMP\PELLAM",
                 **dict(common, edits=("devices-missing", "package-in-temp"))),
        Scenario(name="upgrade.cleanup-on-cd", command=r'"D:\PELLAM\UPGRADE.EXE" Cleanup',
                 exe=r"D:\PELLAM\UPGRADE.EXE", directory=r"D:\PELLAM", **common),
    ]


SCENARIOS = (_keyword_scenarios() + _command_line_scenarios() + _outcome_scenarios()
             + _upgrade_scenarios())


def find(name):
    for s in SCENARIOS:
        if s.name == name:
            return s
    raise KeyError("no scenario named " + name)
