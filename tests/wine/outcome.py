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
        """Files that necessarily differ between the builds (the program itself and
        stand-ins for other programs) compare by presence and attributes only, as long as
        the run has not replaced them."""
        for path in (p.lower() for p in paths):
            before = self.files_before.get(path)
            if not before or before[0] != "file":
                continue
            after = self.files_after.get(path)
            if after and after[:2] == before[:2]:
                self.files_after[path] = ("file", "program", after[2])
            self.files_before[path] = ("file", "program", before[2])
