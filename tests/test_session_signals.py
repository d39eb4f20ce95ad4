"""Signals while a session waits for a key. Termination: the terminal is
restored first, then the process ends with the signal's usual status. Resize:
the frame is drawn again, no key is taken. The caller's handlers are back in
place after a session that ended normally."""

from __future__ import annotations

import signal
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent(
    """
    import os, signal, sys
    from torch import nn
    from neuvora import configure_neuvora as cn

    def report(*args):
        print("@", *args, flush=True)

    cn.require_interactive_session = lambda: None
    cn.enter_alternate_screen = lambda: report("ENTER")
    cn.exit_alternate_screen = lambda: report("EXIT")
    cn.load_existing_module_settings = lambda: {}

    def read_single_key():
        report("HANDLER", signal.getsignal(signal.SIG) is not previous)
        os.kill(os.getpid(), signal.SIG)
        return "z"

    signal.SIG = getattr(signal, sys.argv[1])
    previous = signal.getsignal(signal.SIG)
    cn.read_single_key = read_single_key
    cn.set_dendrification_targets(nn.Sequential(nn.Linear(2, 2)))
    report("UNREACHABLE")
    """
)


@pytest.mark.parametrize("name", ["SIGTERM", "SIGHUP"])
def test_signal_restores_terminal_then_ends_with_signal_status(name):
    result = subprocess.run(
        [sys.executable, "-c", CHILD, name], capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60
    )
    reported = [line[2:] for line in result.stdout.replace("\x1b[2J\x1b[H", "").splitlines() if line.startswith("@ ")]
    assert reported == ["ENTER", "HANDLER True", "EXIT"]
    assert "[Linear]" in result.stdout  # the frame was drawn before the signal
    assert result.returncode == -getattr(signal, name)


@pytest.mark.parametrize("name", ["SIGTERM", "SIGWINCH"])
def test_handlers_are_back_after_session(cn, monkeypatch, name):
    from scripted import ScriptedSession
    from torch import nn

    number = getattr(signal, name)
    seen = {}

    def sentinel(signum, frame):  # pragma: no cover - never delivered
        pass

    previous = signal.signal(number, sentinel)
    try:
        session = ScriptedSession(cn, monkeypatch, [])
        monkeypatch.setattr(cn, "get_module_entries", lambda model: [])
        monkeypatch.setattr("builtins.input", lambda prompt="": seen.setdefault("during", signal.getsignal(number)))
        session.run(nn.Identity())
        assert seen["during"] is not sentinel
        assert signal.getsignal(number) is sentinel
    finally:
        signal.signal(number, previous)


def test_resize_redraws_without_a_key_and_is_noted_while_drawing(cn, monkeypatch):
    """A resize while the (replaced) key reader waits draws the same screen again;
    one that comes while a frame is printed draws it once more before the next wait."""
    import os

    from scripted import ScriptedSession
    from torch import nn

    resized = {"draws": 0}

    class Resizes(ScriptedSession):
        def _next_key(self):
            if not resized.get("waiting"):
                resized["waiting"] = True
                os.kill(os.getpid(), signal.SIGWINCH)
                raise AssertionError("the resize did not end the wait")
            return super()._next_key()

    session = Resizes(cn, monkeypatch, ["j", "q", "y"])
    def print_and_resize(*args, **kwargs):
        if "Quit without configuring?" in str(args[0]) and resized["draws"] == 0:
            resized["draws"] += 1
            os.kill(os.getpid(), signal.SIGWINCH)  # while the quit overlay is printed
        print(*args, **kwargs)

    monkeypatch.setattr(cn, "print", print_and_resize, raising=False)
    with pytest.raises(SystemExit):
        session.run(nn.Sequential(nn.Linear(2, 2), nn.Linear(2, 2)))
    frames = session.plain_frames
    assert frames[0] == frames[1]  # drawn again, no key taken
    assert ".1  [Linear]" in next(line for line in frames[2].splitlines() if line.startswith("> "))  # then "j"
    assert "Quit without configuring?" in frames[3] and frames[3] == frames[4]
    assert [event for event in session.events if isinstance(event, tuple)] == [("key", "j"), ("key", "q"), ("key", "y")]


def test_resize_handler_is_left_alone_off_the_main_thread(cn, monkeypatch):
    import threading

    from scripted import ScriptedSession
    from torch import nn

    seen = {}
    session = ScriptedSession(cn, monkeypatch, [])
    monkeypatch.setattr(cn, "get_module_entries", lambda model: [])
    monkeypatch.setattr("builtins.input", lambda prompt="": seen.setdefault("during", signal.getsignal(signal.SIGWINCH)))
    before = signal.getsignal(signal.SIGWINCH)
    worker = threading.Thread(target=session.run, args=(nn.Identity(),))
    worker.start()
    worker.join()
    assert seen["during"] is before
