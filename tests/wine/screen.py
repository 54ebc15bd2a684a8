"""A virtual screen (Xvfb) for one scenario, and the person in front of it: finds each message
box by its caption, photographs it and answers it with a key."""

import os
import subprocess
import threading
import time

# Keys that answer a box as a person would: Enter takes the default button (OK), Escape
# takes Cancel (or OK where that is the only button).
KEYS = {"ok": "Return", "cancel": "Escape"}


class Screen:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            self.server.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def close(self):
        self.server.terminate()
        try:
            self.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()

    def xdotool(self, *args):
        done = subprocess.run(["xdotool"] + list(args), env=dict(os.environ, DISPLAY=self.display),
                              capture_output=True, text=True, timeout=20)
        return done.stdout.split("\n") if done.returncode == 0 else []

    def visible_windows(self):
        return [w for w in self.xdotool("search", "--onlyvisible", "--name", ".") if w]


class BoxAnswerer(threading.Thread):
    """Answers the boxes that appear while `running()` is true, in order, with `answers`;
    a box beyond them is answered with Escape, as an unattended host run answers it."""

    def __init__(self, screen, answers, photo_folder, running):
        super().__init__(daemon=True)
        self.screen, self.answers, self.photos, self.running = screen, list(answers), photo_folder, running
        self.boxes = []       # (caption, answer)
        self.photo_files = []
        self.problems = []

    def run(self):
        try:
            self._answer_boxes()
        except Exception as error:  # a silent end would leave the boxes unanswered
            self.problems.append("answering the boxes stopped: %r" % error)

    def _answer_boxes(self):
        answered = set()
        while self.running():
            fresh = [w for w in self.screen.visible_windows() if w not in answered]
            if not fresh:
                time.sleep(0.1)
                continue
            window = fresh[0]
            time.sleep(0.3)  # let the box paint itself before the photograph
            names = self.screen.xdotool("getwindowname", window)
            caption = names[0] if names else ""
            answer = self.answers.pop(0) if self.answers else "cancel"
            self._photograph(window, caption)
            self.screen.xdotool("windowfocus", "--sync", window)
            self.screen.xdotool("key", "--clearmodifiers", KEYS[answer])
            answered.add(window)
            self.boxes.append((caption, answer))
            self._wait_gone(window)

    def _photograph(self, window, caption):
        name = "box-%d-%s.png" % (len(self.boxes) + 1,
                                  "".join(c if c.isalnum() else "-" for c in caption).strip("-"))
        path = os.path.join(self.photos, name)
        done = subprocess.run(["import", "-window", window, path],
                              env=dict(os.environ, DISPLAY=self.screen.display),
                              capture_output=True, timeout=20)
        if done.returncode == 0 and os.path.exists(path):
            self.photo_files.append(path)
        else:
            self.problems.append("no photograph of the box %r: %s" % (caption, done.stderr[-300:]))

    def _wait_gone(self, window):
        deadline = time.time() + 10
        while time.time() < deadline and window in self.screen.visible_windows():
            time.sleep(0.05)
        if window in self.screen.visible_windows():
            self.problems.append("the box %s stayed after its answer" % window)
