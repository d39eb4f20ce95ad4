"""Termination signals while a session waits for a key: the terminal is
restored first, then the process ends with the signal's usual status; the
caller's handlers are back in place after a session that ended normally."""

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
        print(*args, flush=True)

    cn.require_interactive_session = lambda: None
    cn.enter_alternate_screen = lambda: report("ENTER")
    cn.exit_alternate_screen = lambda: report("EXIT")
    cn.normalize_selection_conflicts = lambda: None
    cn.get_module_entries = lambda model: [{"id": ".a", "in_replaced": False}]
    cn.resolve_entry_modes = lambda entries: {}
    cn.load_existing_module_settings = lambda: {}
    cn.render_targets_lines = lambda *args: ([], [], [], None)
    cn.compose_scrolling_screen = lambda h, b, f, start, focus=None: ("", start)
    cn.wrap_screen_text_for_terminal = lambda text: text

    def read_single_key():
        report("HANDLER", signal.getsignal(signal.SIG) is not previous)
        os.kill(os.getpid(), signal.SIG)
        return "z"

    signal.SIG = getattr(signal, sys.argv[1])
    previous = signal.getsignal(signal.SIG)
    cn.read_single_key = read_single_key
    cn.set_dendrification_targets(nn.Identity())
    report("UNREACHABLE")
    """
)


@pytest.mark.parametrize("name", ["SIGTERM", "SIGHUP"])
def test_signal_restores_terminal_then_ends_with_signal_status(name):
    result = subprocess.run(
        [sys.executable, "-c", CHILD, name], capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60
    )
    lines = [line for line in result.stdout.replace("\x1b[2J\x1b[H", "").splitlines() if line.strip()]
    assert lines == ["ENTER", "HANDLER True", "EXIT"]
    assert result.returncode == -getattr(signal, name)


def test_handlers_are_back_after_session(cn, monkeypatch):
    from scripted import ScriptedSession
    from torch import nn

    seen = {}

    def sentinel(signum, frame):  # pragma: no cover - never delivered
        pass

    previous = signal.signal(signal.SIGTERM, sentinel)
    try:
        session = ScriptedSession(cn, monkeypatch, [])
        monkeypatch.setattr(cn, "get_module_entries", lambda model: [], raising=False)
        monkeypatch.setattr(cn, "normalize_selection_conflicts", lambda: None, raising=False)
        monkeypatch.setattr("builtins.input", lambda prompt="": seen.setdefault("during", signal.getsignal(signal.SIGTERM)))
        session.run(nn.Identity())
        assert seen["during"] is not sentinel
        assert signal.getsignal(signal.SIGTERM) is sentinel
    finally:
        signal.signal(signal.SIGTERM, previous)
