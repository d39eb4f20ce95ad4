"""Drive a Python program in a pseudo-terminal and read what a user would see.

The program runs as a child process of ``pexpect`` on a pty of a chosen size;
everything it writes is kept as raw bytes and fed to a ``pyte`` terminal
emulator, whose screen is what the assertions look at.

Typical use::

    from ptyharness import PtySession

    with PtySession(code, rows=24, columns=80) as s:
        s.expect_text("Targets")          # the first frame is on the screen
        s.send_key("\\x1b[B")              # Down, once the program waits for a key
        frame = s.settle()                # the screen once output went quiet
        assert "> model.fc" in frame
        s.send_key("q")
        s.send_key("y")
        assert s.expect_exit() == 0
        assert b"\\x1b[?1049l" in s.raw   # left the alternate screen

``code`` is a Python snippet run with ``python -c``; pass ``script=`` (and
``args=``) to run a file instead. The child runs with this interpreter
(``sys.executable``), in the current working directory unless ``cwd`` is
given, with ``COLUMNS`` and ``LINES`` removed from its environment so that
``shutil.get_terminal_size`` reports the pty's real size.

Keys. Bytes typed while a program is drawing can be lost or echoed, so
``send_key`` waits until the program is blocked in a raw-mode read: some output
has arrived since the previous key and the terminal has ICANON and ECHO off.
Pass ``need_output=False`` for a program that reads again without printing.

The emulator also handles the alternate screen (mode 1049), which pyte does
not: entering it saves the main screen and clears the display, leaving it
restores the main screen, so text printed after a full-screen session is seen
as in a real terminal.
"""

from __future__ import annotations

import copy
import os
import re
import signal
import sys
import termios
import time
from typing import Callable, Iterable, Optional, Union

import pexpect
import pyte

__all__ = ["AlternateScreen", "PtySession", "in_raw_mode"]

ALTERNATE_SCREEN_MODE = 1049


class AlternateScreen(pyte.Screen):
    """A pyte screen that emulates the alternate screen buffer (mode 1049).

    ``\\e[?1049h`` saves the main buffer and cursor and clears the display;
    ``\\e[?1049l`` brings both back. ``in_alternate`` tells which is shown.
    """

    def __init__(self, columns: int, lines: int) -> None:
        self._saved_main = None
        super().__init__(columns, lines)

    @property
    def in_alternate(self) -> bool:
        return self._saved_main is not None

    def reset(self) -> None:
        self._saved_main = None
        super().reset()

    def set_mode(self, *modes: int, **kwargs) -> None:
        super().set_mode(*modes, **kwargs)
        if kwargs.get("private") and ALTERNATE_SCREEN_MODE in modes and self._saved_main is None:
            self._saved_main = (copy.deepcopy(dict(self.buffer)), copy.copy(self.cursor))
            self.erase_in_display(2)

    def reset_mode(self, *modes: int, **kwargs) -> None:
        super().reset_mode(*modes, **kwargs)
        if kwargs.get("private") and ALTERNATE_SCREEN_MODE in modes and self._saved_main is not None:
            buffer, cursor = self._saved_main
            self._saved_main = None
            self.buffer.clear()
            self.buffer.update(buffer)
            self.cursor = cursor
            self.dirty.update(range(self.lines))


def in_raw_mode(fd: int) -> bool:
    """True when the terminal of ``fd`` has canonical input and echo off."""
    lflag = termios.tcgetattr(fd)[3]
    return not lflag & (termios.ICANON | termios.ECHO)


class PtySession:
    """A child Python program on a pty, its raw output and its emulated screen.

    Attributes:
        child: the ``pexpect.spawn`` object (bytes mode).
        screen: the :class:`AlternateScreen` fed with every byte read.
        raw: all bytes the child wrote so far (``bytes``).
        rows, columns: the pty size.
    """

    def __init__(
        self,
        code: Optional[str] = None,
        *,
        script: Optional[str] = None,
        args: Iterable[str] = (),
        rows: int = 24,
        columns: int = 80,
        env: Optional[dict] = None,
        cwd: Optional[str] = None,
        timeout: float = 10.0,
        python: str = sys.executable,
    ) -> None:
        if (code is None) == (script is None):
            raise ValueError("give exactly one of code and script")
        child_env = dict(os.environ if env is None else env)
        child_env.pop("COLUMNS", None)
        child_env.pop("LINES", None)
        child_env.setdefault("TERM", "xterm-256color")
        argv = ["-c", code] if code is not None else [script, *args]
        self.rows = rows
        self.columns = columns
        self.timeout = timeout
        self.screen = AlternateScreen(columns, rows)
        self._stream = pyte.ByteStream(self.screen)
        self._raw = bytearray()
        self._output_since_key = False
        self._exit_status: Optional[int] = None
        self.child = pexpect.spawn(
            python,
            argv,
            dimensions=(rows, columns),
            env=child_env,
            cwd=cwd or os.getcwd(),
            timeout=timeout,
        )

    # -- context manager ---------------------------------------------------

    def __enter__(self) -> "PtySession":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def close(self) -> None:
        """Ends the child if it still runs and releases the pty."""
        if self.child.isalive():
            self.child.terminate(force=True)
        self.child.close(force=True)

    # -- output ------------------------------------------------------------

    @property
    def raw(self) -> bytes:
        return bytes(self._raw)

    @property
    def text(self) -> str:
        """The raw output decoded as UTF-8 (undecodable bytes replaced)."""
        return self._raw.decode("utf-8", errors="replace")

    def pump(self, timeout: float = 0.0) -> bytes:
        """Reads what the child wrote within ``timeout`` seconds (b"" if nothing or at EOF)."""
        try:
            data = self.child.read_nonblocking(size=65536, timeout=timeout)
        except (pexpect.TIMEOUT, pexpect.EOF):
            return b""
        if data:
            self._raw += data
            self._stream.feed(data)
            self._output_since_key = True
        return data

    def _drain(self) -> None:
        while self.pump(0.0):
            pass

    def wait_until(self, condition: Callable[[], bool], what: str, timeout: Optional[float] = None) -> None:
        """Pumps output until ``condition()`` holds; fails with the screen shown otherwise."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while True:
            self._drain()
            if condition():
                return
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out waiting for {what}\n{self.describe()}")
            if not self.child.isalive() and not self.pump(0.05):
                self._drain()
                if condition():
                    return
                raise AssertionError(f"child ended while waiting for {what}\n{self.describe()}")
            self.pump(0.02)

    def expect_text(self, text: str, timeout: Optional[float] = None) -> str:
        """Waits until ``text`` is shown on the screen; returns the screen text."""
        self.wait_until(lambda: text in self.screen_text(), f"{text!r} on the screen", timeout)
        return self.screen_text()

    def expect_raw(self, pattern: Union[bytes, "re.Pattern[bytes]"], timeout: Optional[float] = None):
        """Waits until the raw output contains ``pattern`` (bytes or a compiled bytes regex).

        Returns the regex match object, or the index of the bytes found.
        """
        found = []

        def seen() -> bool:
            if isinstance(pattern, bytes):
                at = self._raw.find(pattern)
                if at >= 0:
                    found.append(at)
            else:
                match = pattern.search(self._raw)
                if match:
                    found.append(match)
            return bool(found)

        self.wait_until(seen, f"{pattern!r} in the output", timeout)
        return found[0]

    def settle(self, quiet: float = 0.15, timeout: Optional[float] = None) -> str:
        """Waits until no output arrived for ``quiet`` seconds; returns the screen text."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        last = time.monotonic()
        while time.monotonic() - last < quiet:
            if self.pump(0.02):
                last = time.monotonic()
            elif time.monotonic() > deadline:
                break
        return self.screen_text()

    # -- screen ------------------------------------------------------------

    def screen_lines(self) -> list:
        """The visible rows, trailing blanks removed."""
        return [line.rstrip() for line in self.screen.display]

    def screen_text(self) -> str:
        """The visible rows joined with line feeds, trailing blank rows removed."""
        return "\n".join(self.screen_lines()).rstrip("\n")

    def describe(self) -> str:
        """The screen and the tail of the raw output, for failure messages."""
        return f"--- screen ---\n{self.screen_text()}\n--- raw tail ---\n{bytes(self._raw[-600:])!r}"

    # -- input -------------------------------------------------------------

    def in_raw_read(self) -> bool:
        """True while the child's terminal is in raw mode (ICANON and ECHO off)."""
        return in_raw_mode(self.child.child_fd)

    def wait_for_key_read(self, *, need_output: bool = True, timeout: Optional[float] = None) -> None:
        """Waits until the child is blocked in a raw-mode key read.

        With ``need_output`` the child must also have written something since the
        previous key, so the read found is a new one and not the one that took it.
        """
        self.wait_until(
            lambda: (self._output_since_key or not need_output) and self.in_raw_read(),
            "the program to wait for a key",
            timeout,
        )

    def send_key(self, key: Union[str, bytes], *, need_output: bool = True, timeout: Optional[float] = None) -> None:
        """Sends one key (text is UTF-8 encoded) once the child waits for it."""
        self.wait_for_key_read(need_output=need_output, timeout=timeout)
        # The pty hands output to this side asynchronously: collect what the
        # program wrote before its read, so it is not taken for the answer to
        # this key.
        self.pump(0.01)
        self._drain()
        self._output_since_key = False
        self.child.send(key.encode("utf-8") if isinstance(key, str) else key)

    def send_keys(self, *keys: Union[str, bytes]) -> None:
        """Sends several keys, each once the child waits for it."""
        for key in keys:
            self.send_key(key)

    def type_raw(self, data: Union[str, bytes]) -> None:
        """Writes bytes to the terminal at once, without waiting (typing ahead)."""
        self.child.send(data.encode("utf-8") if isinstance(data, str) else data)

    def resize(self, rows: int, columns: int) -> None:
        """Gives the terminal a new size, as a window manager does: the pty's window
        size first, then SIGWINCH to the child. The emulated screen follows, and the
        next ``wait_for_key_read`` waits for output drawn after the change."""
        self._drain()
        self.child.setwinsize(rows, columns)
        self.screen.resize(lines=rows, columns=columns)
        self.rows, self.columns = rows, columns
        self._output_since_key = False
        os.kill(self.child.pid, signal.SIGWINCH)

    # -- end -----------------------------------------------------------------

    def expect_exit(self, timeout: Optional[float] = None) -> Optional[int]:
        """Waits for the child to end, reading its last output; returns its exit status
        (None when a signal ended it; see ``child.signalstatus``)."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while self.child.isalive():
            self.pump(0.05)
            if time.monotonic() > deadline:
                raise AssertionError(f"child did not exit\n{self.describe()}")
        self._drain()
        self.child.close()
        return self.child.exitstatus
