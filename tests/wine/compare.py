"""Judges one scenario: the host and Windows builds must agree on boxes, exit code, files and
every registry key the scenario mentions, and both must give the outcome the scenario states.
Where Wine is known to depart from Windows 9x, the Windows 9x behaviour is the yardstick and
the departure is reported as such."""

import registry_file

NINE_X = ("win95", "win98", "winme")


def _is_below(key, ancestor):
    return key == ancestor or key.startswith(ancestor + "\\")


class Judgement:
    def __init__(self):
        self.faults = []       # differences and wrong outcomes: the scenario fails
        self.departures = []   # Wine departing from Windows 9x, judged by Windows 9x

    def fault(self, text):
        self.faults.append(text)

    def departure(self, text):
        if text not in self.departures:
            self.departures.append(text)


def mentioned_keys(machine_registry):
    return [k.lower() for k in registry_file.listed_keys(machine_registry)]


def file_tree_changes(outcome):
    return {p for p in set(outcome.files_before) | set(outcome.files_after)
            if outcome.files_before.get(p) != outcome.files_after.get(p)}


def _subkeys_before(before, key):
    return any(k.startswith(key + "\\") for k in before)


def _registry(j, scenario, machine_registry, host, wine):
    before = registry_file.read_registry(machine_registry)
    keys = [k.lower() for k in registry_file.listed_keys(machine_registry)]
    deleted = [k.lower() for k in host.deleted_keys]
    for key in keys:
        in_host, in_wine = key in host.registry, key in wine.registry
        if in_wine and not in_host and scenario.version in NINE_X:
            # Windows 9x deletes a key with everything below it; Wine 8 in its 9x modes
            # refuses a key that has subkeys (error 5) and leaves the whole branch.
            refused = [d for d in deleted if _is_below(key, d) and _subkeys_before(before, d)]
            if refused:
                j.departure("RegDeleteKeyA on a key with subkeys: Wine leaves %s and returns 5; "
                            "Windows 9x deletes it with its subkeys, as the host build did" % refused[0])
                continue
        if in_host != in_wine:
            j.fault("registry key %s: %s on the host, %s under Wine" %
                    (key, "present" if in_host else "absent", "present" if in_wine else "absent"))
            continue
        if not in_host:
            continue
        names = set(before.get(key, {})) | set(host.registry[key])
        for name in sorted(names):
            h, w = host.registry[key].get(name), wine.registry[key].get(name)
            if h != w:
                j.fault("registry value %s\\%s: host %r, Wine %r" % (key, name or "@", h, w))


def _files(j, host, wine, wine_changed, cdrom_letters):
    paths = set(host.files_before) | set(host.files_after) | set(wine_changed)
    for path in sorted(paths):
        h, w = host.files_after.get(path), wine.files_after.get(path)
        if h and w and h[:2] == w[:2] and h != w and path[0] in cdrom_letters:
            continue  # read-only on a CD: see the departures of the CD-ROM emulation
        if h != w:
            if path in wine_changed and path not in host.files_before and path not in host.files_after \
                    and path not in wine.files_before:
                j.fault("%s changed only under Wine (a file of Wine's own?): %r" % (path, w))
            else:
                j.fault("file %s: host %r, Wine %r" % (path, h, w))


def _changed(outcome, machine_registry):
    files = outcome.files_before != {p: e for p, e in outcome.files_after.items()
                                     if p in outcome.files_before} \
        or set(outcome.files_after) != set(outcome.files_before)
    before = registry_file.read_registry(machine_registry)
    keys = [k.lower() for k in registry_file.listed_keys(machine_registry)]
    registry = any(outcome.registry.get(k) is None or
                   any(outcome.registry[k].get(n) != v for n, v in before.get(k, {}).items())
                   for k in keys)
    return files or registry


def judge(scenario, machine_registry, host, wine, wine_changed, cdrom_letters=()):
    j = Judgement()
    if host.exit_code != 0 or wine.exit_code != 0:
        j.fault("exit codes: host %d, Wine %d (0 expected)" % (host.exit_code, wine.exit_code))
    host_captions = [c for c, _ in host.boxes]
    wine_captions = [c for c, _ in wine.boxes]
    if host_captions != wine_captions:
        j.fault("boxes: host %s, Wine %s" % (host_captions, wine_captions))
    if scenario.boxes is not None and host_captions != list(scenario.boxes):
        j.fault("boxes: %s expected, the host build showed %s" % (list(scenario.boxes), host_captions))
    if scenario.boxes is not None and wine_captions != list(scenario.boxes):
        j.fault("boxes: %s expected, the Windows build showed %s" % (list(scenario.boxes), wine_captions))
    if host.restart_requested != scenario.restarts:
        j.fault("restart: %s expected, the host build %s" % (
            scenario.restarts, "requested one" if host.restart_requested else "did not request one"))
    if scenario.restarts:
        j.departure("OpenThreadToken fails with 1008 under Wine in every version mode, so the "
                    "Windows build requests no restart there; Windows 9x fails it with 120 and "
                    "the restart is requested, as the host build did")
    _registry(j, scenario, machine_registry, host, wine)
    _files(j, host, wine, wine_changed, cdrom_letters)
    if scenario.removes is not None:
        for label, outcome in (("host", host), ("Windows", wine)):
            if _changed(outcome, machine_registry) != scenario.removes:
                j.fault("the %s build %s the machine; expected it %s" % (
                    label, "changed" if not scenario.removes else "did not change",
                    "to change" if scenario.removes else "to stay as it was"))
    return j
