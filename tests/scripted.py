"""Run whole configurator sessions without a terminal.

``ScriptedSession`` replaces the module's terminal functions with scripted
ones: keys come from a list, the alternate screen and the guard only record that
they were called, and the terminal has a fixed size. Frames are what the session
printed between screen clears.

    session = ScriptedSession(cn, monkeypatch, ["j", "p", "s", "\\r"])
    session.run(model)
    assert "dendrified" in session.plain_frames[-1]
"""

from __future__ import annotations

import contextlib
import io
import os
import re
import sys
import types

CLEAR = "\x1b[2J\x1b[H"
SGR = re.compile(r"\x1b\[[0-9;]*m")
ENTER = "\r"
ESC = "\x1b"
UP, DOWN, RIGHT, LEFT = "\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D"
PAGE_UP, PAGE_DOWN, DELETE = "\x1b[5~", "\x1b[6~", "\x1b[3~"
TAB = "\t"
BACKSPACE = "\x7f"


class ScriptExhausted(AssertionError):
    """The session asked for a key after the script ran out."""


class Between:
    """A step of the script that is no key: `action()` runs when the session
    asks for the next key, which is then taken from the rest of the script
    (for changing files or the configuration between two keys)."""

    def __init__(self, action):
        self.action = action


class ScriptedSession:
    def __init__(self, cn, monkeypatch, keys, columns=120, lines=40, interrupt_when_done=False):
        self.cn = cn
        self.keys = list(keys)
        self.events = []
        self.output = ""
        self._exit_offset = None
        self.interrupt_when_done = interrupt_when_done
        size = os.terminal_size((columns, lines))
        fake_shutil = types.SimpleNamespace(get_terminal_size=lambda fallback=(120, 40): size)
        monkeypatch.setattr(cn, "shutil", fake_shutil)
        monkeypatch.setattr(cn, "require_interactive_session", lambda: self.events.append("guard"), raising=False)
        monkeypatch.setattr(cn, "enter_alternate_screen", lambda: self.events.append("enter"), raising=False)
        monkeypatch.setattr(cn, "exit_alternate_screen", self._exit_alternate_screen, raising=False)
        monkeypatch.setattr(cn, "read_single_key", self._next_key, raising=False)

    def _exit_alternate_screen(self):
        self.events.append("exit")
        self._exit_offset = sys.stdout.tell()

    def _next_key(self):
        if not self.keys:
            if self.interrupt_when_done:
                raise KeyboardInterrupt
            raise ScriptExhausted("the session asked for another key")
        key = self.keys.pop(0)
        if isinstance(key, Between):
            key.action()
            return self._next_key()
        self.events.append(("key", key))
        if isinstance(key, BaseException) or (isinstance(key, type) and issubclass(key, BaseException)):
            raise key
        return key

    def run(self, model):
        """Runs the session; returns its result (exceptions propagate)."""
        return self.call(self.cn.set_dendrification_targets, model)

    def call(self, program, *args):
        """Runs `program(*args)`, which may open the session (a program around
        it, such as the demo's `main`), and keeps what it printed; returns its
        result (exceptions propagate)."""
        buffer = io.StringIO()
        try:
            with contextlib.redirect_stdout(buffer):
                return program(*args)
        finally:
            self.output = buffer.getvalue()

    @property
    def frames(self):
        """Each screen the session drew (after a clear, before leaving the alternate screen), styled."""
        return self.output[: self._exit_offset].split(CLEAR)[1:]

    @property
    def after_exit(self):
        """What was printed on the normal screen after the session left the alternate screen."""
        return self.output[self._exit_offset :] if self._exit_offset is not None else ""

    @property
    def plain_frames(self):
        return [SGR.sub("", frame) for frame in self.frames]
