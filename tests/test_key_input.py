"""Key reads on a real pseudo-terminal, key classification, the alternate screen."""

from __future__ import annotations

import ast
import os
import re
import termios
import time
import types

import pytest

from ptyharness import PtySession

# Reads keys until Ctrl-C; after each key prints it and whether the terminal
# attributes are back to those it started with.
KEY_READER = r"""
import sys, termios, time
from neuvora import configure_neuvora as cn
fd = sys.stdin.fileno()
before = termios.tcgetattr(fd)
pause = PAUSE
print("READY", flush=True)
while True:
    try:
        key = cn.read_single_key()
    except KeyboardInterrupt:
        print("INTERRUPTED", termios.tcgetattr(fd) == before, flush=True)
        break
    print("KEY", ascii(key), termios.tcgetattr(fd) == before, flush=True)
    if pause:
        print("DRAWING", flush=True)
        time.sleep(pause)
        print("DRAWN", flush=True)
"""

KEY_LINE = re.compile(rb"KEY (.+) (True|False)\r\n")


def keys_read(session: PtySession, count: int) -> list:
    """Waits for `count` keys reported by KEY_READER; checks attributes were restored."""
    session.wait_until(lambda: len(KEY_LINE.findall(session.raw)) >= count, f"{count} keys")
    found = KEY_LINE.findall(session.raw)
    assert all(restored == b"True" for _, restored in found), found
    return [ast.literal_eval(key.decode()) for key, _ in found]


@pytest.fixture
def reader(pty):
    sessions = []

    def start(pause: float = 0.0) -> PtySession:
        code = KEY_READER.replace("PAUSE", repr(pause))
        session = pty(code, rows=10, columns=60, timeout=30)
        sessions.append(session)
        session.expect_raw(b"READY")
        return session

    yield start
    for session in sessions:
        session.close()


@pytest.fixture(scope="module")
def shared_reader(pty):
    """One key-reading program for many single-key cases (starting one is slow)."""
    with pty(KEY_READER.replace("PAUSE", "0.0"), rows=10, columns=60, timeout=30) as session:
        session.expect_raw(b"READY")
        session.keys_seen = 0
        yield session


@pytest.mark.parametrize(
    "typed, expected",
    [
        (b"\x1b", ["\x1b"]),
        (b"\x1b[A", ["\x1b[A"]),
        (b"\x1bOA", ["\x1bOA"]),
        (b"\x1b[1;5D", ["\x1b[1;5D"]),
        (b"\x1b[5;5~", ["\x1b[5;5~"]),
        (b"\x1b[", ["\x1b["]),
        (b"\x1bx", ["\x1bx"]),
        (b"q", ["q"]),
        (b"\r", ["\r"]),
        ("é".encode(), ["\xc3", "\xa9"]),
    ],
    ids=["escape", "up", "up-app", "ctrl-left", "ctrl-pgup", "cut-csi", "alt-x", "q", "enter", "utf8"],
)
def test_read_single_key_on_a_terminal(shared_reader, typed, expected):
    session = shared_reader
    session.send_key(typed)
    keys = keys_read(session, session.keys_seen + len(expected))
    session.keys_seen = len(keys)
    assert keys[-len(expected) :] == expected


def test_lone_escape_and_cut_sequence_wait_before_returning(reader):
    session = reader()
    start = time.monotonic()
    session.send_key(b"\x1b")
    keys_read(session, 1)
    escape_time = time.monotonic() - start
    start = time.monotonic()
    session.send_key(b"\x1b[")
    keys_read(session, 2)
    cut_time = time.monotonic() - start
    assert escape_time >= 0.05
    assert cut_time >= 0.15


def test_ctrl_c_raises_keyboard_interrupt_with_attributes_restored(reader):
    session = reader()
    session.send_key(b"a")
    session.send_key(b"\x03")
    session.expect_raw(b"INTERRUPTED True")
    assert keys_read(session, 1) == ["a"]
    assert session.expect_exit() == 0


def test_burst_comes_back_one_key_per_call(reader):
    session = reader()
    session.wait_for_key_read()
    session.type_raw(b"ab\x1b[Ac\x1bOB\r \x1b[6~d\x1bxz")
    expected = ["a", "b", "\x1b[A", "c", "\x1bOB", "\r", " ", "\x1b[6~", "d", "\x1bx", "z"]
    assert keys_read(session, len(expected)) == expected


def test_keys_typed_while_drawing_are_kept(reader):
    session = reader(pause=0.6)
    session.send_key(b"a")
    session.expect_raw(b"DRAWING")
    # Typed while the program is drawing (terminal in cooked mode).
    session.type_raw(b"xy")
    session.expect_raw(b"DRAWN")
    assert keys_read(session, 3) == ["a", "x", "y"]


# --- through the module's platform globals -----------------------------------


class FakePlatform:
    """Stand-ins for sys, termios, tty, os and select on a pipe, recording calls."""

    def __init__(self, data: bytes, *, ready=True, max_reads=50):
        self.calls = []
        self.data = bytearray(data)
        self.saved = ["saved-attributes"]
        self.ready = ready
        self.reads = 0
        self.max_reads = max_reads
        self.sys = types.SimpleNamespace(stdin=types.SimpleNamespace(fileno=lambda: 7))
        self.termios = types.SimpleNamespace(
            TCSANOW=termios.TCSANOW,
            TCSADRAIN=termios.TCSADRAIN,
            tcgetattr=self.tcgetattr,
            tcsetattr=self.tcsetattr,
        )
        self.tty = types.SimpleNamespace(setraw=self.setraw)
        self.os = types.SimpleNamespace(read=self.read)
        self.select = types.SimpleNamespace(select=self.select_)

    def install(self, monkeypatch, cn):
        for name in ("sys", "termios", "tty", "os", "select"):
            monkeypatch.setattr(cn, name, getattr(self, name))

    def tcgetattr(self, fd):
        self.calls.append(("tcgetattr", fd))
        return self.saved

    def tcsetattr(self, fd, when, attributes):
        self.calls.append(("tcsetattr", fd, when, attributes))

    def setraw(self, *args):
        self.calls.append(("setraw", *args))

    def read(self, fd, n):
        self.reads += 1
        if self.reads > self.max_reads:
            raise AssertionError("read loop does not end")
        chunk = bytes(self.data[:n])
        del self.data[:n]
        self.calls.append(("read", chunk))
        return chunk

    def select_(self, rlist, wlist, xlist, timeout):
        self.calls.append(("select", timeout))
        # At the end of input a descriptor is always readable.
        return (list(rlist) if self.ready else [], [], [])


@pytest.mark.parametrize(
    "data, expected",
    [
        (b"", ""),
        (b"\x1b", "\x1b"),
        (b"\x1b[", "\x1b["),
        (b"\x1b[1;", "\x1b[1;"),
        (b"\x1bO", "\x1bO"),
        (b"\x1b\xe9", "\x1b\xe9"),  # a Latin-1 letter ends a sequence
        (b"\x1b[\xd7\xe9", "\x1b[\xd7\xe9"),  # the multiplication sign does not
    ],
)
def test_end_of_input_ends_a_sequence(monkeypatch, cn, data, expected):
    fake = FakePlatform(data)
    fake.install(monkeypatch, cn)
    assert cn.read_single_key() == expected
    assert fake.calls[-1] == ("tcsetattr", 7, termios.TCSADRAIN, fake.saved)


@pytest.mark.parametrize("data, expected", [(b"\x1b[", "\x1b["), (b"\x1b[2", "\x1b[2"), (b"\x1b", "\x1b")])
def test_end_of_input_on_a_real_descriptor(monkeypatch, cn, data, expected):
    # Real os.read and select on a pipe whose writer is closed: the descriptor
    # stays readable and every further read returns no bytes.
    reader, writer = os.pipe()
    os.write(writer, data)
    os.close(writer)
    fake = FakePlatform(b"")
    reads = []

    def read(fd, n):
        reads.append(fd)
        if len(reads) > 50:
            raise AssertionError("read loop does not end")
        return os.read(fd, n)

    fake.sys = types.SimpleNamespace(stdin=types.SimpleNamespace(fileno=lambda: reader))
    fake.install(monkeypatch, cn)
    monkeypatch.setattr(cn, "os", types.SimpleNamespace(read=read))
    monkeypatch.setattr(cn, "select", __import__("select"))
    try:
        assert cn.read_single_key() == expected
    finally:
        os.close(reader)
    assert fake.calls[-1] == ("tcsetattr", reader, termios.TCSADRAIN, fake.saved)


def test_raw_mode_keeps_pending_input_and_waits_are_fixed(monkeypatch, cn):
    fake = FakePlatform(b"\x1b[1;5A")
    fake.install(monkeypatch, cn)
    assert cn.read_single_key() == "\x1b[1;5A"
    assert fake.calls[:3] == [("tcgetattr", 7), ("setraw", 7, termios.TCSANOW), ("read", b"\x1b")]
    assert [c[1] for c in fake.calls if c[0] == "select"] == [0.05, 0.15, 0.01, 0.01, 0.01]
    assert fake.calls[-1] == ("tcsetattr", 7, termios.TCSADRAIN, fake.saved)
    assert sum(c[0] == "tcsetattr" for c in fake.calls) == 1


def test_slow_third_byte_is_still_collected(monkeypatch, cn):
    fake = FakePlatform(b"\x1b[A")
    answers = iter([True, False, True])  # the 150 ms wait gets nothing, the loop's wait does
    fake.select_ = lambda r, w, x, t: (list(r) if next(answers) else [], [], [])
    fake.select = types.SimpleNamespace(select=fake.select_)
    fake.install(monkeypatch, cn)
    assert cn.read_single_key() == "\x1b[A"


def test_attributes_restored_when_the_read_fails(monkeypatch, cn):
    fake = FakePlatform(b"")

    def failing_read(fd, n):
        raise OSError(5, "Input/output error")

    fake.os = types.SimpleNamespace(read=failing_read)
    fake.install(monkeypatch, cn)
    with pytest.raises(OSError):
        cn.read_single_key()
    assert fake.calls[-1] == ("tcsetattr", 7, termios.TCSADRAIN, fake.saved)


def test_nothing_changes_when_attributes_cannot_be_read(monkeypatch, cn):
    fake = FakePlatform(b"a")
    fake.install(monkeypatch, cn)
    monkeypatch.setattr(cn, "termios", None)
    with pytest.raises(AttributeError):
        cn.read_single_key()
    assert fake.calls == []


# --- classification ------------------------------------------------------------

PREDICATES = [
    "is_up_key",
    "is_down_key",
    "is_left_key",
    "is_right_key",
    "is_page_up_key",
    "is_page_down_key",
    "is_delete_key",
    "is_enter_key",
    "is_tab_key",
    "is_select_key",
]


@pytest.mark.parametrize(
    "key, true_for",
    [
        ("\x1b", set()),
        ("\x1b[", set()),
        ("", set()),
        ("k", {"is_up_key"}),
        ("K", set()),
        ("j", {"is_down_key"}),
        ("h", set()),
        ("l", set()),
        ("\x1b[A", {"is_up_key"}),
        ("\x1bOA", {"is_up_key"}),
        ("\x1b[1;5A", {"is_up_key"}),
        ("\x1bOB", {"is_down_key"}),
        ("\x1b[1;2B", {"is_down_key"}),
        ("\x1b[D", {"is_left_key"}),
        ("\x1bOD", {"is_left_key"}),
        ("\x1b[1;5D", {"is_left_key"}),
        ("\x1b[C", {"is_right_key"}),
        ("\x1bOC", {"is_right_key"}),
        ("\x1bO1;5C", set()),
        ("\x1bxA", set()),
        ("\x1b[5~", {"is_page_up_key"}),
        ("\x1b[5;5~", {"is_page_up_key"}),
        ("\x1b[6~", {"is_page_down_key"}),
        ("\x1b[6;2~", {"is_page_down_key"}),
        ("\x1b[3~", {"is_delete_key"}),
        ("\x1b[3;2~", {"is_delete_key"}),
        ("\x1b[15~", set()),
        ("\x1b[5", set()),
        ("\r", {"is_enter_key", "is_select_key"}),
        ("\n", {"is_enter_key", "is_select_key"}),
        (" ", {"is_select_key"}),
        ("\t", {"is_tab_key"}),
        ("x", set()),
    ],
)
def test_key_classification(cn, key, true_for):
    assert {name for name in PREDICATES if getattr(cn, name)(key)} == true_for
    assert all(getattr(cn, name)(key=key) == (name in true_for) for name in PREDICATES)


@pytest.mark.parametrize("name", ["is_up_key", "is_left_key", "is_page_up_key"])
def test_predicates_on_non_text_raise_the_interpreters_error(cn, name):
    with pytest.raises(AttributeError):
        getattr(cn, name)(None)


class RecordingKey:
    """A key that is not text: its comparisons and string methods are recorded."""

    def __init__(self, text):
        self.text, self.log = text, []

    def __eq__(self, other):
        self.log.append(("==", other))
        return self.text == other

    __hash__ = None

    def startswith(self, prefix):
        self.log.append(("startswith", prefix))
        return self.text.startswith(prefix)

    def endswith(self, suffix):
        self.log.append(("endswith", suffix))
        return self.text.endswith(suffix)

    def __contains__(self, part):
        self.log.append(("in", part))
        return part in self.text


@pytest.mark.parametrize(
    "name, key, log",
    [
        ("is_up_key", "x", [("==", "k"), ("startswith", "\x1b")]),
        ("is_up_key", "k", [("==", "k")]),
        (
            "is_up_key",
            "\x1b[1;5A",
            [("==", "k"), ("startswith", "\x1b"), ("==", "\x1b[A"), ("==", "\x1bOA"), ("startswith", "\x1b["),
             ("endswith", "A")],
        ),
        ("is_left_key", "\x1bOD", [("startswith", "\x1b"), ("==", "\x1b[D"), ("==", "\x1bOD")]),
        ("is_right_key", "\x1bO5C", [("startswith", "\x1b"), ("==", "\x1b[C"), ("==", "\x1bOC"), ("startswith", "\x1b[")]),
        ("is_page_up_key", "\x1b[5;5~", [("==", "\x1b[5~"), ("startswith", "\x1b["), ("in", "[5"), ("endswith", "~")]),
        ("is_delete_key", "\x1b[15~", [("==", "\x1b[3~"), ("startswith", "\x1b["), ("in", "[3")]),
        ("is_enter_key", "\n", [("==", "\r"), ("==", "\n")]),
        ("is_select_key", "x", [("==", " "), ("==", "\r"), ("==", "\n")]),
    ],
)
def test_predicates_on_other_values_make_the_described_tests_in_order(cn, name, key, log):
    recorded = RecordingKey(key)
    assert getattr(cn, name)(recorded) == getattr(cn, name)(key)
    assert recorded.log == log


def test_enter_and_tab_compare_any_value(cn):
    assert cn.is_enter_key(13) is False and cn.is_tab_key(None) is False and cn.is_select_key(b" ") is False


# --- alternate screen ------------------------------------------------------------


def test_alternate_screen_sequences(cn, capsys):
    cn.enter_alternate_screen()
    assert capsys.readouterr().out == "\x1b[?1049h\x1b[?25l\x1b[2J\x1b[H"
    cn.exit_alternate_screen()
    assert capsys.readouterr().out == "\x1b[?25h\x1b[?1049l"


def test_alternate_screen_on_a_terminal_keeps_the_main_screen(pty):
    code = (
        "from neuvora import configure_neuvora as cn\n"
        "print('before the session', flush=True)\n"
        "cn.enter_alternate_screen()\n"
        "print('a frame', flush=True)\n"
        "cn.read_single_key()\n"
        "cn.exit_alternate_screen()\n"
        "print('after the session', flush=True)\n"
    )
    with pty(code, rows=8, columns=40) as session:
        frame = session.expect_text("a frame")
        assert "before the session" not in frame and session.screen.in_alternate
        assert session.screen.cursor.hidden
        session.send_key("x")
        assert session.expect_exit() == 0
        assert session.screen_lines()[:2] == ["before the session", "after the session"]
        assert not session.screen.cursor.hidden
