"""Input the configurator does not control: floods of key bytes, huge or broken
settings files, module ids and class names carrying terminal control
characters, and a terminal that goes away in the middle of a session."""

from __future__ import annotations

import json
import locale
import os
import select
import signal
import subprocess
import sys
import termios
import textwrap
import time
import types
from contextlib import contextmanager

import pytest
import torch
from torch import nn

from neuvora import globals_neuvora as GNV
from screens import plain as uncoloured
from scripted import BACKSPACE, CLEAR, DOWN, ENTER, ESC, RIGHT, SGR, TAB, ScriptedSession

UTF8_LOCALE = locale.getpreferredencoding(False).lower().replace("-", "") == "utf8"
needs_utf8_locale = pytest.mark.skipif(not UTF8_LOCALE, reason="text files are read with the locale's encoding")


def run_isolated(code: str, cwd, timeout: float = 60.0) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter, so that a crash shows as a negative return code."""
    return subprocess.run(
        [sys.executable, "-c", code],
        cwd=str(cwd),
        capture_output=True,
        text=True,
        stdin=subprocess.DEVNULL,
        timeout=timeout,
    )


# ---------------------------------------------------------------------------
# Key reads: bursts of bytes that open an escape sequence and never close it
# ---------------------------------------------------------------------------


@contextmanager
def deadline(seconds: float):
    """Fails the test instead of hanging when the block runs past `seconds`."""

    def expired(signum, frame):
        raise AssertionError(f"still running after {seconds} s")

    previous = signal.signal(signal.SIGALRM, expired)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


class PipeTerminal:
    """The module's platform globals over a real pipe: os.read and select.select
    are the real ones (counted, with a bound so a loop that never ends fails),
    the terminal attribute calls are recorded stand-ins."""

    def __init__(self, monkeypatch, cn, limit: int):
        self.reader, self.writer = os.pipe()
        self.reads = 0
        self.selects = 0
        self.limit = limit
        self.restores = 0
        fd = self.reader
        monkeypatch.setattr(cn, "sys", types.SimpleNamespace(stdin=types.SimpleNamespace(fileno=lambda: fd)))
        monkeypatch.setattr(
            cn,
            "termios",
            types.SimpleNamespace(
                TCSANOW=termios.TCSANOW,
                TCSADRAIN=termios.TCSADRAIN,
                tcgetattr=lambda fd: ["saved"],
                tcsetattr=self._tcsetattr,
            ),
        )
        monkeypatch.setattr(cn, "tty", types.SimpleNamespace(setraw=lambda *args: None))
        monkeypatch.setattr(cn, "os", types.SimpleNamespace(read=self._read))
        monkeypatch.setattr(cn, "select", types.SimpleNamespace(select=self._select))

    def _tcsetattr(self, fd, when, attributes):
        self.restores += 1

    def _read(self, fd, n):
        self.reads += 1
        if self.reads > self.limit:
            raise AssertionError("the read loop does not end")
        return os.read(fd, n)

    def _select(self, rlist, wlist, xlist, timeout):
        self.selects += 1
        if self.selects > self.limit:
            raise AssertionError("the wait loop does not end")
        return select.select(rlist, wlist, xlist, timeout)

    def write(self, data: bytes) -> None:
        while data:
            data = data[os.write(self.writer, data) :]

    def close_writer(self) -> None:
        if self.writer is not None:
            os.close(self.writer)
            self.writer = None

    def close(self) -> None:
        self.close_writer()
        os.close(self.reader)


@pytest.fixture
def pipe_terminal(monkeypatch, cn):
    terminals = []

    def make(limit):
        terminal = PipeTerminal(monkeypatch, cn, limit)
        terminals.append(terminal)
        return terminal

    yield make
    for terminal in terminals:
        terminal.close()


UNENDING_BURSTS = {
    "parameters": b"\x1b[" + b"1;" * 5000,
    "brackets": b"\x1b" + b"[" * 10000,
    "digits": b"\x1b[" + b"7" * 10000,
    "escapes": b"\x1b" * 10000,
    "high-bytes": b"\x1b[" + bytes([0xD7, 0xF7, 0x80, 0xBF, 0x9B]) * 2000,
}


@pytest.mark.parametrize("burst", list(UNENDING_BURSTS.values()), ids=list(UNENDING_BURSTS))
def test_unending_sequence_returns_when_the_burst_stops(cn, pipe_terminal, burst):
    # The writer stays open: only the pause after the burst can end the key.
    terminal = pipe_terminal(limit=len(burst) + 100)
    terminal.write(burst)
    keys = []
    with deadline(20):
        while len("".join(keys)) < len(burst):
            key = cn.read_single_key()
            assert isinstance(key, str) and key
            keys.append(key)
        assert "".join(keys).encode("latin-1") == burst
        # The reader is in step again: the next keys come back one by one.
        terminal.write(b"\x1b[Aq")
        assert cn.read_single_key() == "\x1b[A"
        assert cn.read_single_key() == "q"
    assert terminal.restores == len(keys) + 2


@pytest.mark.parametrize("burst", list(UNENDING_BURSTS.values()), ids=list(UNENDING_BURSTS))
def test_unending_sequence_then_end_of_input(cn, pipe_terminal, burst):
    terminal = pipe_terminal(limit=len(burst) + 100)
    terminal.write(burst)
    terminal.close_writer()
    consumed = b""
    with deadline(20):
        while len(consumed) < len(burst):
            key = cn.read_single_key()
            assert isinstance(key, str) and key
            consumed += key.encode("latin-1")
        assert consumed == burst
        # Every byte is taken; at the end of input a read gives no key at all.
        assert cn.read_single_key() == ""


def test_final_byte_deep_in_a_burst_splits_it(cn, pipe_terminal):
    burst = b"\x1b[" + b"1;" * 5000 + b"Aj" + b"\x1b" + b"[" * 3000 + b"~k"
    terminal = pipe_terminal(limit=len(burst) + 100)
    terminal.write(burst)
    terminal.close_writer()
    with deadline(20):
        keys = [cn.read_single_key() for _ in range(5)]
    assert keys == ["\x1b[" + "1;" * 5000 + "A", "j", "\x1b" + "[" * 3000 + "~", "k", ""]


# ---------------------------------------------------------------------------
# The settings descriptions file
# ---------------------------------------------------------------------------


@pytest.fixture
def descriptions_path(cn, monkeypatch, tmp_path):
    """Where the module looks for its descriptions file, with the cache emptied."""
    package = tmp_path / "pkg"
    package.mkdir()
    monkeypatch.setattr(cn, "__file__", str(package / "configure_neuvora.so"))
    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)
    return package / cn.DESCRIPTION_FILE_NAME


def huge_descriptions(buckets=200, per_bucket=1000):
    document = {"buckets": {}}
    for b in range(buckets):
        settings = {
            f"s_{b}_{i}": {"description": f"{'d' * 50} {b}/{i}", "label": "impactful" if i % 3 == 0 else "supporting"}
            for i in range(per_bucket)
        }
        document["buckets"][f"Bucket {b:03d}"] = {"description": f"Bucket {b}.", "settings": settings}
    document["buckets"]["Bucket 000"]["settings"]["dendrite_count"] = {"description": "real", "label": "impactful"}
    return document


def test_huge_descriptions_file_drives_the_run_settings_screen(cn, descriptions_path):
    text = json.dumps(huge_descriptions())
    assert len(text) > 20_000_000
    descriptions_path.write_text(text)

    record = cn.load_description_data()
    assert len(record["bucket_order"]) == 200
    assert len(record["settings"]) == 200 * 1000 + 1
    assert record["setting_to_bucket"]["s_199_999"] == "Bucket 199"

    collapsed = cn.build_run_items({})
    assert [item["count"] for item in collapsed] == [1001] + [1000] * 199

    items = cn.build_run_items({"Bucket 000": True, "Bucket 199": True})
    assert len(items) == 200 + 1001 + 1000 + 2  # buckets, settings, one divider per open bucket
    header, body, footer, selected = cn.render_run_settings_lines(items, 1, "s_199_5")
    assert len(body) == len(items) and selected == (1, 2)
    plain = [uncoloured(line) for line in body]
    assert "    dendrite_count = 4" in plain
    assert plain[1] == "> " + "  s_0_0 = <unavailable>"
    assert uncoloured(footer[-1]) == f"s_199_5 — {'d' * 50} 199/5"


DEEP_DESCRIPTIONS = textwrap.dedent(
    """
    import json, sys
    from neuvora import configure_neuvora as cn

    DEEP = 100_000
    cn.__file__ = "pkg/configure_neuvora.so"
    for name, text in CASES:
        with open("pkg/" + cn.DESCRIPTION_FILE_NAME, "w") as handle:
            handle.write(text)
        cn.DESCRIPTION_CACHE = None
        record = cn.load_description_data()
        print(name, all(not value for value in record.values()), cn.build_run_items({}), flush=True)
    """
)

# Built in the child: texts this long do not fit on a command line.
DEEP_DESCRIPTION_CASES = """[
    ("lists", "[" * DEEP),
    ("objects", '{"buckets": ' + '{"a": ' * DEEP),
    ("closed", "[" * DEEP + "]" * DEEP),
    ("in-a-setting", '{"buckets": {"A": {"settings": {"x": {"description": ' + "[" * DEEP + "]" * DEEP + "}}}}}"),
]"""
DEEP_DESCRIPTION_NAMES = ["lists", "objects", "closed", "in-a-setting"]


def test_deeply_nested_descriptions_count_as_empty(tmp_path):
    (tmp_path / "pkg").mkdir()
    code = DEEP_DESCRIPTIONS.replace("CASES", DEEP_DESCRIPTION_CASES)
    result = run_isolated(code, tmp_path)
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout.splitlines() == [f"{name} True []" for name in DEEP_DESCRIPTION_NAMES]


LATIN1_DESCRIPTIONS = '{"buckets": {"Caf\xe9": {"settings": {"na\xefve": "R\xe9sum\xe9 of the setting."}}}}'


@needs_utf8_locale
@pytest.mark.parametrize(
    "data",
    [LATIN1_DESCRIPTIONS.encode("latin-1"), LATIN1_DESCRIPTIONS.encode("utf-16"), b"\xff\xfe\x00"],
    ids=["latin-1", "utf-16", "bom-and-nul"],
)
def test_descriptions_not_in_utf8_count_as_empty(cn, descriptions_path, data):
    descriptions_path.write_bytes(data)
    record = cn.load_description_data()
    assert all(not value for value in record.values())
    assert cn.build_run_items({}) == []


@needs_utf8_locale
def test_same_descriptions_in_utf8_load(cn, descriptions_path):
    descriptions_path.write_bytes(LATIN1_DESCRIPTIONS.encode("utf-8"))
    record = cn.load_description_data()
    assert record["bucket_order"] == ["Caf\xe9"]
    assert record["settings"] == {"na\xefve": "R\xe9sum\xe9 of the setting."}


# ---------------------------------------------------------------------------
# Local configuration files read for per-module overrides
# ---------------------------------------------------------------------------


@pytest.fixture
def override_files(fresh_config, tmp_path, monkeypatch):
    """The configuration file and the run configuration file, as tmp paths."""
    paths = {"config": str(tmp_path / "cfg.json"), "run": str(tmp_path / "run.json")}
    monkeypatch.setattr(fresh_config, "get_config_file", lambda: paths["config"])
    monkeypatch.setattr(fresh_config, "get_run_config_path", lambda: paths["run"])
    return paths


def test_huge_override_files_load_and_merge(cn, override_files, capsys):
    scopes = {f".layer{i}": {"dendrite_count": i, "note": "x" * 40} for i in range(100_000)}
    with open(override_files["config"], "w") as handle:
        json.dump({"module_settings": scopes}, handle)
    with open(override_files["run"], "w") as handle:
        json.dump({"module_settings": {".layer7": {"dendrite_count": -1}}}, handle)
    loaded = cn.load_existing_module_settings()
    assert len(loaded) == 100_000
    assert loaded[".layer99999"] == {"dendrite_count": 99999, "note": "x" * 40}
    assert loaded[".layer7"] == {"dendrite_count": -1}
    assert capsys.readouterr() == ("", "")


def test_persist_into_a_huge_target_keeps_every_scope(cn, override_files):
    scopes = {f".layer{i}": {"dendrite_count": i} for i in range(100_000)}
    with open(override_files["run"], "w") as handle:
        json.dump({"first": True, "module_settings": scopes, "last": [1]}, handle)
    cn.persist_module_settings_updates({".layer5": {"use_skip_weights": False}, ".new": {"dendrite_count": 2}})
    with open(override_files["run"]) as handle:
        document = json.load(handle)
    assert list(document) == ["first", "module_settings", "last"]
    assert len(document["module_settings"]) == 100_001
    assert document["module_settings"][".layer5"] == {"dendrite_count": 5, "use_skip_weights": False}
    assert document["module_settings"][".layer99999"] == {"dendrite_count": 99999}
    assert document["module_settings"][".new"] == {"dendrite_count": 2}


DEEP_OVERRIDES = textwrap.dedent(
    """
    import os, sys
    from neuvora import configure_neuvora as cn
    from neuvora import globals_neuvora as GNV

    DEEP = 100_000
    GNV.pc.get_config_file = lambda: "cfg.json"
    GNV.pc.get_run_config_path = lambda: "run.json"
    for name, text in CASES:
        with open("cfg.json", "w") as handle:
            handle.write(text)
        with open("run.json", "w") as handle:
            handle.write('{"module_settings": {".ok": {"k": 1}}}')
        print(name, "load", cn.load_existing_module_settings(), flush=True)
        # The broken file is the first target written.
        GNV.pc.get_config_file, GNV.pc.get_run_config_path = GNV.pc.get_run_config_path, GNV.pc.get_config_file
        try:
            cn.persist_module_settings_updates({".a": {"k": 2}}, overwrite_config_file=True)
            print(name, "persist", "no error", flush=True)
        except ValueError as error:
            print(name, "persist", type(error).__name__, repr("'cfg.json'" in str(error)), flush=True)
        GNV.pc.get_config_file, GNV.pc.get_run_config_path = GNV.pc.get_run_config_path, GNV.pc.get_config_file
        with open("cfg.json") as handle:
            print(name, "unchanged", handle.read() == text, flush=True)
        with open("run.json") as handle:
            print(name, "later target", handle.read() == '{"module_settings": {".ok": {"k": 1}}}', flush=True)
    """
)

DEEP_OVERRIDE_CASES = """[
    ("lists", "[" * DEEP),
    ("objects", '{"module_settings": ' + '{"a": ' * DEEP),
    ("in-a-scope", '{"module_settings": {".a": {"k": ' + "[" * DEEP + "]" * DEEP + "}}}"),
]"""
DEEP_OVERRIDE_NAMES = ["lists", "objects", "in-a-scope"]


def test_deeply_nested_override_files(tmp_path):
    code = DEEP_OVERRIDES.replace("CASES", DEEP_OVERRIDE_CASES)
    result = run_isolated(code, tmp_path)
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stderr == ""
    expected = []
    for name in DEEP_OVERRIDE_NAMES:
        # Loading: the broken file counts as empty, silently; the other one is still read.
        expected.append(f"{name} load {{'.ok': {{'k': 1}}}}")
        # Saving: refused with an error naming the file, which keeps its bytes.
        expected += [f"{name} persist ValueError True", f"{name} unchanged True", f"{name} later target True"]
    assert result.stdout.splitlines() == expected


LATIN1_OVERRIDES = '{"module_settings": {".caf\xe9": {"nvx_forward_function": "tanh\xe9"}}}'
NOT_UTF8_OVERRIDES = {
    "latin-1": LATIN1_OVERRIDES.encode("latin-1"),
    "utf-16": LATIN1_OVERRIDES.encode("utf-16"),
    "bom-and-nul": b"\xff\xfe\x00",
    "truncated-utf8": '{"module_settings": {".a": {"k": "\u20ac"}}}'.encode("utf-8")[:-5],  # cut inside the euro sign
}


@needs_utf8_locale
@pytest.mark.parametrize("which", ["config", "run"])
@pytest.mark.parametrize("data", list(NOT_UTF8_OVERRIDES.values()), ids=list(NOT_UTF8_OVERRIDES))
def test_override_file_not_in_utf8_is_skipped_silently(cn, override_files, capsys, which, data):
    other = "run" if which == "config" else "config"
    with open(override_files[which], "wb") as handle:
        handle.write(data)
    with open(override_files[other], "w") as handle:
        json.dump({"module_settings": {".ok": {"k": 1}}}, handle)
    assert cn.load_existing_module_settings() == {".ok": {"k": 1}}
    assert capsys.readouterr() == ("", "")


@needs_utf8_locale
@pytest.mark.parametrize("data", list(NOT_UTF8_OVERRIDES.values()), ids=list(NOT_UTF8_OVERRIDES))
def test_override_target_not_in_utf8_is_never_overwritten(cn, override_files, data):
    with open(override_files["run"], "wb") as handle:
        handle.write(data)
    with pytest.raises(ValueError, match="not valid JSON") as caught:
        cn.persist_module_settings_updates({".a": {"k": 1}}, overwrite_config_file=True)
    assert override_files["run"] in str(caught.value)
    with open(override_files["run"], "rb") as handle:
        assert handle.read() == data
    assert not os.path.exists(override_files["config"])


@needs_utf8_locale
def test_same_override_file_in_utf8_loads(cn, override_files):
    with open(override_files["run"], "wb") as handle:
        handle.write(LATIN1_OVERRIDES.encode("utf-8"))
    assert cn.load_existing_module_settings() == {".caf\xe9": {"nvx_forward_function": "tanh\xe9"}}


# ---------------------------------------------------------------------------
# Control characters in module ids, class names and values
# ---------------------------------------------------------------------------


def is_control(character: str) -> bool:
    code = ord(character)
    return code < 0x20 or 0x7F <= code < 0xA0


def shown(text: str) -> str:
    """`text` as the screens draw it: every control character as \\xNN."""
    return "".join(f"\\x{ord(c):02x}" if is_control(c) else c for c in text)


def raw_controls(text: str) -> list:
    """Control characters left once styling and the screen clear are removed (line feeds allowed)."""
    rest = SGR.sub("", text.replace(CLEAR, ""))
    return [c for c in rest if is_control(c) and c != "\n"]


def module_class(name: str):
    """An nn.Module subclass called `name`, with three parameters of its own."""

    def __init__(self):
        nn.Module.__init__(self)
        self.weight = nn.Parameter(torch.zeros(3))

    return type(name, (nn.Module,), {"__init__": __init__, "forward": lambda self, x: x})


EVIL_CLASS = "Evil\x1b[31mName\x07"
C1_CLASS = "Csi\x9b31mC1\x85"
CLEAR_ID = ".a\x1b[2Jb"
MIXED_ID = ".t\tn\nr\rd\x7fc\x9b"
OSC_ID = ".osc\x1b]0;pwned\x07"
NUL_ID = ".nul\x00z"
ROOT_ID = ".att\x1b[H"
CLEAN_ID = ".caf\xe9\xa0\u00fc~"  # no control characters: 0xa0 and 0x7e sit just outside the ranges


def evil_model():
    model = nn.Sequential()
    model.add_module(CLEAR_ID[1:], nn.Linear(2, 2))
    box = module_class(EVIL_CLASS)()
    box.add_module("inner", nn.Linear(2, 2))
    model.add_module(MIXED_ID[1:], box)
    model.add_module(OSC_ID[1:], module_class(C1_CLASS)())
    model.add_module(NUL_ID[1:], nn.Linear(1, 1))
    model.add_module(ROOT_ID[1:], nn.MultiheadAttention(4, 1))
    model.add_module(CLEAN_ID[1:], nn.Linear(2, 3))
    return model


def test_escaped_form():
    # The helper above against the boundaries of the two ranges.
    assert shown("\x00\x1f \x7e\x7f\x9f\xa0\u2028") == "\\x00\\x1f ~\\x7f\\x9f\xa0\u2028"
    assert shown(CLEAN_ID) == CLEAN_ID


def row_of(lines, module_id):
    matches = [line for line in lines if shown(module_id) + "  [" in line]
    assert len(matches) == 1, (module_id, lines)
    return matches[0]


def test_targets_rows_show_controls_escaped(cn):
    model = evil_model()
    entries = cn.get_module_entries(model)
    ids = [entry["id"] for entry in entries]
    assert {CLEAR_ID, MIXED_ID, MIXED_ID + ".inner", OSC_ID, NUL_ID, ROOT_ID, CLEAN_ID} <= set(ids)
    # Rules by id on two rows, by class on one: inherited and type-set rows get a tail too.
    GNV.pc.set_module_ids_to_dendrify([CLEAR_ID, MIXED_ID])
    GNV.pc.set_module_names_to_track([C1_CLASS])
    resolved = cn.resolve_entry_modes(entries)
    visible = [entry for entry in entries if not entry["in_replaced"]]

    header, body, footer, _ = cn.render_targets_lines(entries, visible, 0, resolved, {})
    for line in header + body + footer:
        assert raw_controls(line) == [], repr(line)
    plain = [uncoloured(line) for line in body]
    for entry in visible:
        if entry["is_replaced_root"]:
            continue
        row = row_of(plain, entry["id"])
        type_text = "[" + shown(entry["type_name"]) + "]"
        assert shown(entry["id"]) + "  " + type_text in row
        if "mode=" in row:
            # The tail column counts the characters as drawn.
            lead = 2 + 5 + 1 + 2 * entry["depth"] + len(shown(entry["id"])) + 2 + len(type_text)
            assert row.index("mode=") == max(46, lead + 2), row
    assert "(via " + shown(MIXED_ID) + ")" in row_of(plain, MIXED_ID + ".inner")
    assert any(shown(ROOT_ID) + "  [MultiheadAttention]" in line for line in plain)
    # Entries and rules keep the raw text.
    assert [entry["id"] for entry in entries] == ids and CLEAR_ID in ids
    assert GNV.pc.get_module_ids_to_dendrify() == [CLEAR_ID, MIXED_ID]

    # Expanded, the rows below the restructured module are drawn as well.
    _, expanded, _, _ = cn.render_targets_lines(entries, entries, 0, resolved, {ROOT_ID: True})
    assert all(raw_controls(line) == [] for line in expanded)
    assert any(shown(ROOT_ID) + ".out_proj  [" in uncoloured(line) for line in expanded)


def test_clean_names_are_drawn_as_before(cn):
    # The same row with and without hostile neighbours: nothing about it changes.
    def clean_row(model):
        entries = cn.get_module_entries(model)
        resolved = cn.resolve_entry_modes(entries)
        visible = [entry for entry in entries if not entry["in_replaced"]]
        _, body, _, _ = cn.render_targets_lines(entries, visible, -1, resolved, {})
        return [line for line in body if CLEAN_ID + "  " in line]

    plain_model = nn.Sequential()
    plain_model.add_module(CLEAN_ID[1:], nn.Linear(2, 3))
    GNV.pc.set_module_ids_to_track([CLEAN_ID])
    assert clean_row(evil_model()) == clean_row(plain_model)
    assert len(clean_row(plain_model)) == 1 and "mode=track" in uncoloured(clean_row(plain_model)[0])


def test_type_rules_overlay_shows_class_names_escaped(cn):
    entries = cn.get_module_entries(evil_model())
    GNV.pc.set_module_names_to_dendrify([EVIL_CLASS])
    GNV.pc.set_module_names_to_track([C1_CLASS])
    lines = cn.render_type_rules_overlay(entries)
    plain = [uncoloured(line) for line in lines]
    assert all(raw_controls(line) == [] for line in lines)
    assert any(f"│ {shown(EVIL_CLASS)} → dendrify  (1)" in line for line in plain), plain
    assert any(f"│ {shown(C1_CLASS)} → track  (1)" in line for line in plain), plain
    # The box is as wide as its widest row as drawn.
    assert len({len(line) for line in plain[:-1]}) == 1, plain
    assert GNV.pc.get_module_names_to_dendrify() == [EVIL_CLASS]


@pytest.mark.parametrize(
    "scope, title",
    [
        ({"kind": "id", "scope_key": CLEAR_ID}, "Overrides — " + shown(CLEAR_ID)),
        ({"kind": "type", "scope_key": EVIL_CLASS}, "Overrides — every " + shown(EVIL_CLASS)),
    ],
)
def test_overrides_overlay_shows_scope_and_values_escaped(cn, scope, title):
    key = scope["scope_key"]
    saved = {key: {"nvx_forward_function": "tanh\x1b[2J\x07"}}
    session = {key: {"dendrite_count": 3}}
    lines = cn.render_overrides_overlay(scope, 0, session, saved, "")
    plain = [uncoloured(line) for line in lines]
    assert all(raw_controls(line) == [] for line in lines)
    assert plain[2] == "  " + title
    assert any(line.startswith("  nvx_forward_function = tanh\\x1b[2J\\x07") for line in plain), plain
    assert saved == {key: {"nvx_forward_function": "tanh\x1b[2J\x07"}}


def test_save_overlay_shows_unset_modules_and_path_escaped(cn):
    entries = cn.get_module_entries(evil_model())
    resolved = cn.resolve_entry_modes(entries)
    lines = cn.render_save_overlay(entries, resolved, 0, "cfg/\x1b[2J.json")
    plain = [uncoloured(line) for line in lines]
    assert all(raw_controls(line) == [] for line in lines)
    assert "      " + shown(CLEAR_ID) + "   [Linear]" in plain
    assert "      " + shown(MIXED_ID) + "   [" + shown(EVIL_CLASS) + "]" in plain
    assert "      " + shown(OSC_ID) + "   [" + shown(C1_CLASS) + "]" in plain

    # With every module set, the path the save writes to is on screen.
    GNV.pc.set_module_ids_to_track([entry["id"] for entry in entries if entry["depth"] == 0])
    resolved = cn.resolve_entry_modes(entries)
    lines = cn.render_save_overlay(entries, resolved, 1, "cfg/\x1b[2J\x9b.json")
    assert all(raw_controls(line) == [] for line in lines)
    assert any("write it to cfg/\\x1b[2J\\x9b.json" in uncoloured(line) for line in lines)


def test_run_settings_screen_shows_controls_escaped(cn, descriptions_path):
    descriptions_path.write_text(
        json.dumps(
            {
                "buckets": {
                    "Run\x1b[2J": {"settings": {"save_name": {"description": "Name\x07\x9b", "label": "impactful"}}},
                    "Odd\x85": {"settings": {"bell\x07": "x"}},
                }
            }
        )
    )
    GNV.pc.set_save_name("N\x1b]0;title\x07")
    items = cn.build_run_items({"Run\x1b[2J": True, "Odd\x85": True})
    header, body, footer, _ = cn.render_run_settings_lines(items, 1, "save_name")
    for line in header + body + footer:
        assert raw_controls(line) == [], repr(line)
    plain = [uncoloured(line) for line in body]
    assert plain[0].startswith("  ▾ Run\\x1b[2J ")
    assert plain[1] == "> " + "  save_name = N\\x1b]0;title\\x07"
    assert "    bell\\x07 = <unavailable>" in plain
    assert uncoloured(footer[-1]) == "save_name — Name\\x07\\x9b"
    assert GNV.pc.get_save_name() == "N\x1b]0;title\x07"


# The whole session on the hostile model. Rows, in order: CLEAR_ID, MIXED_ID,
# MIXED_ID.inner, OSC_ID, NUL_ID, ROOT_ID, CLEAN_ID.
SESSION_KEYS = [
    "p",  # dendrify CLEAR_ID by id
    ENTER,  # its overrides
    ENTER,  # edit dendrite_count
    "\x9b",  # C1 characters are typed into the editor as text
    "\x85",
    ENTER,  # refused: not a number
    ENTER,
    BACKSPACE,
    "7",
    ENTER,  # saved for this scope
    ESC,
    "j",
    "p",  # dendrify MIXED_ID by id; its child inherits it
    "P",  # and its class
    "y",  # type rules
    "y",
    "j",
    ENTER,  # inherited row: refused with the origin's id
    "j",
    "P",  # dendrify the C1 class
    ENTER,  # overrides for the whole class
    ESC,
    "x",  # clears the class rule, naming the class
    "T",  # then tracks the class
    "j",
    "j",
    "p",  # the restructured module refuses ids, naming itself
    RIGHT,  # and shows what is inside it
    TAB,
    DOWN,
    DOWN,
    RIGHT,  # open the "Run" bucket
    DOWN,
    "h",  # describe save_name
    TAB,
    "s",
    "j",
    ENTER,  # start anyway: NUL_ID and CLEAN_ID have no mode
]


def test_scripted_session_never_prints_raw_controls(cn, monkeypatch, tmp_path):
    GNV.pc.set_save_name("N\x1b]0;t\x07")
    session = ScriptedSession(cn, monkeypatch, SESSION_KEYS)
    session.run(evil_model())
    assert session.keys == []
    assert len(session.frames) == len(SESSION_KEYS)
    for index, frame in enumerate(session.frames):
        assert raw_controls(frame) == [], (index, repr(frame))
    text = "\n".join(session.plain_frames)
    for expected in [
        shown(CLEAR_ID) + "  [Linear]",
        shown(MIXED_ID) + "  [" + shown(EVIL_CLASS) + "]",
        shown(MIXED_ID) + ".inner  [Linear]",
        shown(OSC_ID) + "  [" + shown(C1_CLASS) + "]",
        shown(NUL_ID) + "  [Linear]",
        "Overrides — " + shown(CLEAR_ID),
        "Overrides — every " + shown(C1_CLASS),
        "4\\x9b\\x85",
        shown(EVIL_CLASS) + " → dendrify",
        "(via " + shown(MIXED_ID) + ")",
        "inherits " + shown(MIXED_ID) + "'s mode",
        "cleared the " + shown(C1_CLASS) + " type rule",
        shown(ROOT_ID) + " is inside a module that will be restructured",
        shown(ROOT_ID) + ".out_proj  [",
        "save_name = N\\x1b]0;t\\x07",
        shown(NUL_ID) + "   [Linear]",
    ]:
        assert expected in text, expected
    assert CLEAN_ID in text

    # Escaping is for the screen only: the rules and the saved overrides hold the raw text.
    assert GNV.pc.get_module_ids_to_dendrify() == [CLEAR_ID, MIXED_ID]
    assert GNV.pc.get_module_names_to_dendrify() == [EVIL_CLASS]
    assert GNV.pc.get_module_names_to_track() == [C1_CLASS]
    run_config = tmp_path / "nvx_runs" / "N\x1b]0;t\x07" / "run_config.json"
    saved = json.loads(run_config.read_text())
    assert saved["module_settings"] == {CLEAR_ID: {"dendrite_count": 7}}
    assert saved["module_ids_to_dendrify"] == [CLEAR_ID, MIXED_ID]


def test_run_of_empty_reads_ends_the_session(cn, monkeypatch):
    # A terminal that went away reads as no key at all, again and again.
    session = ScriptedSession(cn, monkeypatch, [""] * 200)
    with pytest.raises(EOFError):
        session.run(evil_model())
    assert 0 < 200 - len(session.keys) <= 64
    assert session.events[-1] == "exit"


def test_a_few_empty_reads_between_keys_are_ignored(cn, monkeypatch):
    keys = ["", "", "", "p", "", "", "", "j", "", "q", "y"]
    session = ScriptedSession(cn, monkeypatch, keys)
    with pytest.raises(SystemExit) as caught:
        session.run(evil_model())
    assert caught.value.code == 0 and session.keys == []
    assert GNV.pc.get_module_ids_to_dendrify() == [CLEAR_ID]


# ---------------------------------------------------------------------------
# End to end in a pseudo-terminal
# ---------------------------------------------------------------------------

EVIL_SESSION = textwrap.dedent(
    """
    import torch
    from torch import nn
    from neuvora.configure_neuvora import set_dendrification_targets

    def module_class(name):
        def __init__(self):
            nn.Module.__init__(self)
            self.weight = nn.Parameter(torch.zeros(3))
        return type(name, (nn.Module,), {"__init__": __init__, "forward": lambda self, x: x})

    model = nn.Sequential()
    model.add_module(CLEAR_ID[1:], nn.Linear(2, 2))
    model.add_module(MIXED_ID[1:], module_class(EVIL_CLASS)())
    model.add_module(OSC_ID[1:], module_class(C1_CLASS)())
    model.add_module("plain", nn.Linear(2, 3))
    set_dendrification_targets(model)
    """
)


def evil_session_code():
    code = EVIL_SESSION
    for name in ("CLEAR_ID", "MIXED_ID", "OSC_ID", "EVIL_CLASS", "C1_CLASS"):
        code = code.replace(name, repr(globals()[name]))
    return code


@pytest.mark.e2e
def test_terminal_shows_hostile_names_escaped(pty, tmp_path):
    from e2e_support import TAB_BAR, TARGET_KEYS_HINT

    with pty(evil_session_code(), rows=30, columns=120, cwd=str(tmp_path), timeout=30) as s:
        s.expect_text(TARGET_KEYS_HINT)
        s.send_key("j")
        s.send_key("P")  # a type rule on the hostile class
        s.send_key("y")  # and the overlay that lists it
        s.wait_for_key_read()
        s.settle(0.05)
        lines = s.screen_lines()
        assert lines[0].startswith(TAB_BAR), s.describe()
        text = "\n".join(lines)
        for expected in [
            shown(CLEAR_ID) + "  [Linear]",
            shown(MIXED_ID) + "  [" + shown(EVIL_CLASS) + "]",
            shown(OSC_ID) + "  [" + shown(C1_CLASS) + "]",
            shown(EVIL_CLASS) + " → dendrify  (1)",
            ".plain  [Linear]",
        ]:
            assert expected in text, s.describe()
        # Nothing after the hostile names was recoloured.
        row = next(y for y, line in enumerate(lines) if ".plain  [Linear]" in line)
        column = lines[row].index(".plain")
        assert {s.screen.buffer[row][x].fg for x in range(column, column + 6)} == {"default"}
        # What was written holds no control character besides the program's own sequences.
        written = s.text.replace("\r\n", "\n")
        for sequence in ("\x1b[?1049h", "\x1b[?25l", "\x1b[2J\x1b[H"):
            written = written.replace(sequence, "")
        assert raw_controls(written) == [], repr(written[-2000:])
        s.send_key("y")
        s.send_key("q")
        s.send_key("y")
        assert s.expect_exit() == 0


HANG_UP_SESSION = textwrap.dedent(
    """
    import signal, sys
    IGNORE
    from neuvora.configure_neuvora import set_dendrification_targets
    from neuvora.demo import build_demo_model

    def note(text):
        with open("outcome.txt", "a") as handle:
            handle.write(text + "\\n")

    model = build_demo_model()
    try:
        set_dendrification_targets(model)
        note("returned")
    except BaseException as exc:
        note(type(exc).__name__)
        raise
    """
)


def cpu_seconds(pid: int) -> float:
    with open(f"/proc/{pid}/stat") as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


@pytest.mark.e2e
@pytest.mark.parametrize("sighup", ["default", "ignored"])
def test_session_ends_when_the_terminal_hangs_up(pty, tmp_path, sighup):
    from e2e_support import TARGET_KEYS_HINT

    ignore = "signal.signal(signal.SIGHUP, signal.SIG_IGN)" if sighup == "ignored" else ""
    code = HANG_UP_SESSION.replace("IGNORE", ignore)
    with pty(code, rows=24, columns=100, cwd=str(tmp_path), timeout=30) as s:
        s.expect_text(TARGET_KEYS_HINT)
        s.wait_for_key_read()
        pid = s.child.pid
        before = used = cpu_seconds(pid)
        # Hang up: close the master side of the pty. The harness then only reaps the child.
        s.child.ptyproc.fileobj.close()
        s.child.ptyproc.closed = True
        limit = time.monotonic() + 10
        while s.child.isalive():
            try:
                used = cpu_seconds(pid)
            except FileNotFoundError:
                pass
            assert time.monotonic() < limit, "the session still runs after the terminal went away"
            time.sleep(0.05)
        assert used - before < 3.0
        outcome = (tmp_path / "outcome.txt").read_text().split() if (tmp_path / "outcome.txt").exists() else []
        assert "returned" not in outcome
        if s.child.signalstatus is None:
            assert s.child.exitstatus != 0
        else:
            assert s.child.signalstatus == signal.SIGHUP


SIGNAL_DURING_TEARDOWN = textwrap.dedent(
    """
    import os, signal
    from torch import nn
    from neuvora import configure_neuvora as cn
    from neuvora import globals_neuvora as GNV

    def report(*args):
        print(*args, flush=True)

    def callers_handler(signum, frame):
        report("CALLER", signum)

    signal.signal(signal.SIGHUP, callers_handler)
    cn.require_interactive_session = lambda: None
    cn.enter_alternate_screen = lambda: report("ENTER")

    def exit_alternate_screen():
        report("EXIT")
        # The hang-up's signal comes in while the session is being taken down.
        os.kill(os.getpid(), signal.SIGHUP)

    def read_single_key():
        raise OSError(5, "Input/output error")

    cn.exit_alternate_screen = exit_alternate_screen
    cn.read_single_key = read_single_key
    try:
        cn.set_dendrification_targets(nn.Sequential(nn.Linear(2, 2)))
    except BaseException as exc:
        report("RAISED", type(exc).__name__)
    report("HANDLER", signal.getsignal(signal.SIGHUP) is callers_handler)
    report("AUTO-PERSIST", GNV.pc.__dict__.get("_auto_persist_config"))
    """
)


def test_signal_during_teardown_still_restores_handlers(tmp_path):
    result = run_isolated(SIGNAL_DURING_TEARDOWN, tmp_path)
    tags = {"ENTER", "EXIT", "RAISED", "HANDLER", "AUTO-PERSIST", "CALLER"}
    lines = [line for line in result.stdout.replace(CLEAR, "").splitlines() if line.split(" ")[0] in tags]
    # The teardown finishes, the caller's handler is back and gets the signal,
    # then the error that ended the session propagates.
    assert lines == [
        "ENTER",
        "EXIT",
        f"CALLER {int(signal.SIGHUP)}",
        "RAISED OSError",
        "HANDLER True",
        "AUTO-PERSIST True",
    ], result.stdout
