"""What one run left behind, in the same form for both builds."""

from dataclasses import dataclass, field


@dataclass
class Outcome:
    exit_code: int
    files_before: dict
    files_after: dict
    registry: dict            # read_registry form, at least every key the scenario mentions
    boxes: list               # (caption, answer) in the order shown
    restart_requested: bool
    deleted_keys: list = field(default_factory=list)  # keys the run deleted, when known
    log: str = ""

    def mark_programs(self, paths):
        """Files that are necessarily different between the builds (the program itself and
        stand-ins for other programs) compare by presence and attributes only."""
        for snapshot in (self.files_before, self.files_after):
            for path in paths:
                entry = snapshot.get(path.lower())
                if entry and entry[0] == "file":
                    snapshot[path.lower()] = ("file", "program", entry[2])
