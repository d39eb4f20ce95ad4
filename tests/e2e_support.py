"""Children and helpers for the end-to-end tests in a real pseudo-terminal.

Every end-to-end test runs the configurator as a child process on a pty (see
``ptyharness``) and looks at the emulated screen and at the files the child
left in its working directory.

``SESSION`` is the child program: it builds the demo model, prints the terminal
settings (``stty -g``) before the session, runs the configurator and prints the
settings again on the way out, together with how the session ended (lines
``@@tag value``). One option comes in through the environment:

- ``E2E_RAISE_AFTER=N``: ``GNV.pc.get_module_ids_to_dendrify`` raises
  ``RuntimeError("getter broke")`` from its N-th call on.

``WRAPPED`` runs ``SESSION`` as a grandchild on the same terminal and reports
the grandchild's exit status and the terminal settings after it ended, which is
what a test needs when the session is ended by a signal.
"""

from __future__ import annotations

import os
import re
import textwrap

from ptyharness import PtySession

ENTER = "\r"
ESC = "\x1b"
TAB = "\t"
CTRL_C = "\x03"
CTRL_D = "\x04"
UP, DOWN, RIGHT, LEFT = "\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D"
PAGE_UP, PAGE_DOWN = "\x1b[5~", "\x1b[6~"
HOME, END = "\x1b[H", "\x1b[F"
BACKSPACE = "\x7f"

TAB_BAR = "[ Targets │ Run settings ]"
TARGET_KEYS_HINT = "p/t dendrify·track this module"
CANCEL_LINES = [
    "Configuration cancelled — training did not start.",
    "Re-run to configure again, or set configuration_confirmed=True (GNV.pc.set_configuration_confirmed(True)) "
    "to skip this screen.",
]

SESSION = textwrap.dedent(
    """
    import json, os, subprocess, sys

    def stty(tag):
        settings = subprocess.run(["stty", "-g"], capture_output=True, text=True).stdout.strip()
        print(f"@@{tag} {settings}", flush=True)

    from neuvora import globals_neuvora as GNV
    from neuvora.configure_neuvora import set_dendrification_targets
    from neuvora.demo import build_demo_model

    raise_after = int(os.environ.get("E2E_RAISE_AFTER", "0"))
    if raise_after:
        original = type(GNV.pc).get_module_ids_to_dendrify
        calls = [0]

        def failing_getter(self):
            calls[0] += 1
            if calls[0] >= raise_after:
                raise RuntimeError("getter broke")
            return original(self)

        type(GNV.pc).get_module_ids_to_dendrify = failing_getter

    model = build_demo_model()
    print(f"@@pid {os.getpid()}", flush=True)
    stty("before")
    outcome = "returned"
    try:
        set_dendrification_targets(model)
    except SystemExit as exc:
        outcome = f"exit {exc.code}"
        raise
    except BaseException as exc:
        outcome = f"raised {type(exc).__name__}: {exc}"
        raise
    finally:
        stty("after")
        print(f"@@outcome {outcome}", flush=True)
        print("@@confirmed", GNV.pc.get_configuration_confirmed(), flush=True)
    """
)

WRAPPED = textwrap.dedent(
    """
    import signal, subprocess, sys

    # Ctrl-C typed at a cooked prompt signals the whole foreground group; this
    # process only waits, the session underneath handles it.
    signal.signal(signal.SIGINT, lambda *args: None)
    status = subprocess.run([sys.executable, "-c", sys.argv[1]]).returncode
    settings = subprocess.run(["stty", "-g"], capture_output=True, text=True).stdout.strip()
    print(f"@@wrapper-after {settings}", flush=True)
    print(f"@@status {status}", flush=True)
    """
)

DEMO = "import sys\nfrom neuvora.demo import main\nsys.exit(main())"


def session(tmp_path, *, rows=24, columns=80, env=None, wrapped=False, code=SESSION, timeout=30.0) -> PtySession:
    """The configurator on the demo model in a pty, with tmp_path as working directory."""
    child_env = dict(os.environ)
    child_env.update(env or {})
    if wrapped:
        return _wrapped(tmp_path, rows, columns, child_env, code, timeout)
    return PtySession(code, rows=rows, columns=columns, env=child_env, cwd=str(tmp_path), timeout=timeout)


def _wrapped(tmp_path, rows, columns, env, code, timeout) -> PtySession:
    wrapper = tmp_path / "_wrapper.py"
    wrapper.write_text(WRAPPED, encoding="utf-8")
    return PtySession(
        script=str(wrapper), args=[code], rows=rows, columns=columns, env=env, cwd=str(tmp_path), timeout=timeout
    )


def reports(s: PtySession) -> dict:
    """The ``@@tag value`` lines the child printed, by tag (the last one wins)."""
    found = {}
    for match in re.finditer(r"@@([\w-]+) ?([^\r\n]*)", s.text):
        found[match.group(1)] = match.group(2)
    return found


def assert_terminal_restored(s: PtySession, *, after_tag: str = "after") -> dict:
    """The main screen is back, the cursor is shown and the tty settings are as before."""
    found = reports(s)
    assert not s.screen.in_alternate, s.describe()
    assert not s.screen.cursor.hidden, s.describe()
    assert found.get("before"), s.describe()
    assert found.get(after_tag) == found["before"], s.describe()
    # The last alternate-screen switch in the output leaves it.
    assert s.raw.rfind(b"\x1b[?1049l") > s.raw.rfind(b"\x1b[?1049h") >= 0
    return found


def body_rows(lines: list) -> list:
    """The screen rows between the first and the last horizontal rule."""
    rules = [i for i, line in enumerate(lines) if line.startswith("  ──────")]
    assert len(rules) >= 2, "\n".join(lines)
    return lines[rules[0] + 1 : rules[-1]]


def selected_row(lines: list) -> str:
    """The one row that carries the selection pointer."""
    rows = [line for line in lines if line.startswith("> ")]
    assert len(rows) == 1, "\n".join(lines)
    return rows[0]


def flat(s: PtySession) -> str:
    """The screen as one line: rows joined, runs of blanks as one space (undoes word wrapping)."""
    return " ".join(" ".join(s.screen_lines()).split())


ENTRY_ROW = re.compile(r"^(?P<cursor>> )?\s*(?P<mark>[!*↳]?)\s*(?P<block>██)?\s+(?P<id>\.[\w.]+)  \[(?P<type>\w+)\]")


def target_rows(lines: list) -> dict:
    """Module id -> (selected, marker, row text with its wrapped continuation) for the tree rows shown.

    The marker is "!██", "*██", "↳██", "██" (a type rule) or "" (no marker).
    """
    rows = {}
    current = None
    for line in body_rows(lines):
        match = ENTRY_ROW.match(line)
        if match:
            marker = match.group("mark") + (match.group("block") or "")
            current = match.group("id")
            rows[current] = [bool(match.group("cursor")), marker, line]
        elif "↯" in line or line.startswith("  ^^^^") or line.startswith("  vvvv"):
            current = None
        elif current is not None:
            rows[current][2] += " " + line.strip()
    return {key: (sel, marker, " ".join(text.split())) for key, (sel, marker, text) in rows.items()}
