"""Every way out of a session leaves the terminal as it found it: the tty
settings (``stty -g``) equal those from before the session, the main screen is
back and the cursor is shown. The session runs as a grandchild under a small
wrapper on the same terminal, which reports its exit status and reads the tty
settings once the session process is gone (also after a signal ended it)."""

from __future__ import annotations

import os
import signal
import time

import pytest

from e2e_support import (
    CANCEL_LINES,
    CTRL_C,
    CTRL_D,
    DOWN,
    ENTER,
    RIGHT,
    TAB,
    TARGET_KEYS_HINT,
    assert_terminal_restored,
    reports,
    session,
)

pytestmark = pytest.mark.e2e

PROMPT = "Config filename/path: "
# Every module of the demo gets a mode: .embed, .blocks (inherited by the
# blocks), then .norm and .head at the bottom of the tree.
SET_EVERY_MODE = ["p", "j", "p", "\x1b[6~", "\x1b[6~", "\x1b[6~", "p", "k", "p"]


def keys(s, *sequence):
    for key in sequence:
        s.send_key(key)


def to_filename_prompt(s):
    keys(s, *SET_EVERY_MODE, "s", "j", ENTER)
    s.expect_text(PROMPT.strip())
    # The prompt reads a whole line in cooked mode.
    s.wait_until(lambda: not s.in_raw_read(), "the cooked prompt")


def save_for_this_run(s):
    keys(s, "s", "j", ENTER)  # "Start anyway" with modules still unset


def quit_yes(s):
    keys(s, "q", "y")


def ctrl_c_targets(s):
    keys(s, "j", CTRL_C)


def ctrl_c_run_settings(s):
    keys(s, TAB, RIGHT, DOWN, CTRL_C)


def ctrl_c_overlay(s):
    keys(s, "?", CTRL_C)


def ctrl_c_editor(s):
    keys(s, TAB, RIGHT, DOWN, ENTER)
    s.expect_text("Enter save · Esc cancel")
    keys(s, "9", CTRL_C)


def ctrl_c_at_prompt(s):
    to_filename_prompt(s)
    s.type_raw(CTRL_C)


def eof_at_prompt(s):
    to_filename_prompt(s)
    s.type_raw(CTRL_D)


def getter_raises(s):
    # The getter fails after a few passes; keep pressing keys until the session ends.
    for _ in range(40):
        if "@@outcome" in s.text or not s.child.isalive():
            break
        try:
            s.send_key("j", timeout=10)
        except AssertionError:
            break


def terminated_by(signum):
    def send(s):
        s.wait_for_key_read()
        time.sleep(0.1)
        os.kill(int(reports(s)["pid"]), signum)

    return send


CASES = {
    "save": (save_for_this_run, {}, "returned", 0, False),
    "quit": (quit_yes, {}, "exit 0", 0, True),
    "ctrl-c-targets": (ctrl_c_targets, {}, "exit 0", 0, True),
    "ctrl-c-run-settings": (ctrl_c_run_settings, {}, "exit 0", 0, True),
    "ctrl-c-overlay": (ctrl_c_overlay, {}, "exit 0", 0, True),
    "ctrl-c-editor": (ctrl_c_editor, {}, "exit 0", 0, True),
    "ctrl-c-prompt": (ctrl_c_at_prompt, {}, "exit 0", 0, True),
    "eof-prompt": (eof_at_prompt, {}, "raised EOFError: ", 1, False),
    "getter-raises": (getter_raises, {"E2E_RAISE_AFTER": "40"}, "raised RuntimeError: getter broke", 1, False),
    "sigterm": (terminated_by(signal.SIGTERM), {}, None, -signal.SIGTERM, False),
    "sighup": (terminated_by(signal.SIGHUP), {}, None, -signal.SIGHUP, False),
}


@pytest.mark.parametrize("case", list(CASES))
def test_terminal_restored_on_every_way_out(tmp_path, case):
    drive, env, outcome, status, cancelled = CASES[case]
    with session(tmp_path, env=env, wrapped=True) as s:
        s.expect_text(TARGET_KEYS_HINT)
        drive(s)
        assert s.expect_exit(timeout=30) == 0
        found = assert_terminal_restored(s, after_tag="wrapper-after")
        assert int(found["status"]) == status, s.describe()
        if outcome is None:
            # Ended by the signal: the session's own code after the call never ran.
            assert "outcome" not in found, s.describe()
        else:
            assert found["outcome"] == outcome, s.describe()
            assert found["after"] == found["before"]
        lines = s.screen_lines()
        if cancelled:
            # At the filename prompt the echoed ^C stays in front of the first line.
            start = next(i for i, line in enumerate(lines) if line.endswith(CANCEL_LINES[0]))
            # The terminal itself wraps the long second line at 80 columns.
            assert "".join(lines[start + 1 : start + 3]) == CANCEL_LINES[1], s.describe()
            # Printed after the alternate screen was left, so they stay on the main screen.
            assert s.raw.rfind(CANCEL_LINES[0].encode()) > s.raw.rfind(b"\x1b[?1049l")
        else:
            assert CANCEL_LINES[0] not in s.text
        if case == "getter-raises":
            assert "RuntimeError: getter broke" in lines
        if case in ("ctrl-c-prompt", "eof-prompt"):
            # Save as default confirmed the configuration before it asked.
            assert found["confirmed"] == "True"
        if case == "save":
            assert (tmp_path / "nvx_runs" / "NVX" / "run_config.json").is_file()
