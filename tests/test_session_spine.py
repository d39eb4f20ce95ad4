"""The session driver on its own: entry, loop order, dispatch, save and
teardown, with the model's entries, the files and the configuration object
replaced through the module's seams."""

from __future__ import annotations

import builtins
import json
import os
import types

import pytest
import torch
from torch import nn

from neuvora import globals_neuvora as GNV
from scripted import DOWN, ENTER, ESC, Between, ScriptedSession
from screens import plain

CANCEL_LINES = (
    "Configuration cancelled \u2014 training did not start.\n"
    "Re-run to configure again, or set configuration_confirmed=True "
    "(GNV.pc.set_configuration_confirmed(True)) to skip this screen.\n"
)


def entry(name, replaced_root=None, is_root=False):
    module = nn.Module()
    module.weight = nn.Parameter(torch.zeros(10))
    return {
        "id": "." + name,
        "name": name,
        "type_name": "Linear",
        "module": module,
        "depth": name.count("."),
        "direct_param_count": 10,
        "tree_param_count": 10,
        "is_replaced_root": is_root,
        "replaced_root": replaced_root,
        "in_replaced": replaced_root is not None,
    }


class RecordingConfig(GNV.NVXConfig):
    def __init__(self, log):
        super().__init__()
        self.log = log

    def set_module_ids_to_dendrify(self, ids):
        self.log.append("normalize")  # the rule lists are written back on every pass
        super().set_module_ids_to_dendrify(ids)

    def set_configuration_confirmed(self, value):
        self.log.append(("confirmed", value))
        super().set_configuration_confirmed(value)

    def persist_config_outputs(self, overwrite_config_file=False):
        self.log.append(("persist_config_outputs", overwrite_config_file))


@pytest.fixture
def log(monkeypatch):
    calls = []
    monkeypatch.setattr(GNV, "pc", RecordingConfig(calls))
    return calls


@pytest.fixture
def fakes(cn, monkeypatch, log):
    """The model's entries, the override files and the save path, through the seams."""
    state = {"entries": [entry("a"), entry("b", is_root=True), entry("b.c", replaced_root=".b"), entry("d")]}
    replacements = {
        "get_module_entries": lambda model: list(state["entries"]),
        "load_existing_module_settings": lambda: {},
        "_config_target_path": lambda: "suggested.json",
        "persist_module_settings_updates": lambda updates, overwrite_config_file=False: log.append(
            ("persist_module_settings_updates", dict(updates), overwrite_config_file)
        ),
    }
    state["originals"] = {name: getattr(cn, name) for name in replacements}
    for name, fake in replacements.items():
        monkeypatch.setattr(cn, name, fake)
    GNV.pc.set_module_names_to_track(["Linear"])  # every module has a mode
    return state


def selected_row(frame):
    return next(line for line in frame.splitlines() if line.startswith("> "))


@pytest.mark.parametrize("model", [nn.Identity(), nn.LazyLinear(3)], ids=["plain", "lazy, no submodules"])
def test_empty_model_prints_confirms_and_returns(cn, monkeypatch, fakes, log, model):
    fakes["entries"] = []
    prompts = []
    monkeypatch.setattr(builtins, "input", lambda prompt="": prompts.append(prompt) or "")
    session = ScriptedSession(cn, monkeypatch, [])
    assert session.run(model) is None
    assert prompts == ["Press Enter to confirm dendrification targets..."]
    assert session.output == str(model) + "\n"
    assert session.events == ["guard", "enter", "exit"]
    assert ("confirmed", True) in log
    assert GNV.pc.__dict__["_auto_persist_config"] is True


@pytest.mark.parametrize("keys", [[KeyboardInterrupt], ["j", "?", KeyboardInterrupt], ["q", "n", "q", "y"]])
@pytest.mark.parametrize("before", [False, "absent"])
def test_cancel_restores_terminal_and_flag_then_exits_zero(cn, monkeypatch, fakes, keys, before):
    if before == "absent":
        del GNV.pc.__dict__["_auto_persist_config"]
    else:
        GNV.pc.__dict__["_auto_persist_config"] = before
    session = ScriptedSession(cn, monkeypatch, keys)
    with pytest.raises(SystemExit) as exited:
        session.run(nn.Identity())
    assert exited.value.code == 0
    assert session.output.endswith(CANCEL_LINES)
    assert session.events[-1] == "exit"
    assert GNV.pc.__dict__["_auto_persist_config"] is (True if before == "absent" else before)


def test_other_exception_propagates_after_terminal_restored(cn, monkeypatch, fakes):
    def broken(fallback=None):
        raise ZeroDivisionError("terminal size broke")

    GNV.pc.__dict__["_auto_persist_config"] = "old"
    session = ScriptedSession(cn, monkeypatch, [])
    monkeypatch.setattr(cn, "shutil", types.SimpleNamespace(get_terminal_size=broken))  # while drawing a frame
    with pytest.raises(ZeroDivisionError, match="terminal size broke"):
        session.run(nn.Identity())
    assert session.events == ["guard", "enter", "exit"]
    assert "cancelled" not in session.output
    assert GNV.pc.__dict__["_auto_persist_config"] == "old"


class LazyRoot(nn.Module):
    """Holds an uninitialized parameter itself, beside a submodule."""

    def __init__(self):
        super().__init__()
        self.scale = nn.UninitializedParameter()
        self.proj = nn.Linear(2, 2)


@pytest.mark.parametrize(
    "model, named",
    [
        (nn.Sequential(nn.Linear(2, 2), nn.Sequential(nn.ReLU(), nn.LazyLinear(3))), "The module .1.1 (LazyLinear)"),
        (nn.ModuleDict({"enc": nn.LazyConv1d(2, 3)}), "The module .enc (LazyConv1d)"),
        (LazyRoot(), "The model itself (LazyRoot)"),
    ],
)
def test_lazy_model_is_refused_before_the_screen_opens(cn, monkeypatch, model, named):
    GNV.pc.__dict__["_auto_persist_config"] = "untouched"
    session = ScriptedSession(cn, monkeypatch, [])
    with pytest.raises(ValueError, match="run one forward pass|Run one forward pass") as raised:
        session.run(model)
    assert str(raised.value).startswith(named + " has uninitialized (lazy) parameters")
    assert "materialise the module" in str(raised.value)
    assert session.events == ["guard"]
    assert GNV.pc.__dict__["_auto_persist_config"] == "untouched"


def test_guard_failure_touches_nothing(cn, monkeypatch, fakes):
    session = ScriptedSession(cn, monkeypatch, [])

    def refuse():
        raise RuntimeError("no terminal")

    monkeypatch.setattr(cn, "require_interactive_session", refuse)
    GNV.pc.__dict__["_auto_persist_config"] = "untouched"
    with pytest.raises(RuntimeError, match="no terminal"):
        session.run(nn.Identity())
    assert session.events == []
    assert GNV.pc.__dict__["_auto_persist_config"] == "untouched"


def test_loop_normalises_every_pass_and_dispatches_overlay_first(cn, monkeypatch, fakes, log):
    # "?" opens help; "j" is ignored by the help overlay; "?" closes it; "j" then moves.
    session = ScriptedSession(cn, monkeypatch, ["?", "j", "?", "j", KeyboardInterrupt])
    with pytest.raises(SystemExit):
        session.run(nn.Identity())
    frames = session.plain_frames
    assert "? or Esc to close" in frames[1] and frames[2] == frames[1]
    assert ".a  [" in selected_row(frames[3])
    assert ".b  [" in selected_row(frames[4])
    # Once before the entries, then once per pass.
    assert log.count("normalize") == 1 + len(frames)


def test_collapsing_clamps_selection(cn, monkeypatch, fakes):
    right, left = "\x1b[C", "\x1b[D"
    keys = ["j", right, "j", "j", "k", "k", left, KeyboardInterrupt]
    session = ScriptedSession(cn, monkeypatch, keys)
    with pytest.raises(SystemExit):
        session.run(nn.Identity())
    frames = session.plain_frames
    assert ".b.c  [Linear] (id stale)" in frames[2]  # expanded
    assert ".d  [" in selected_row(frames[4])
    assert ".b.c" not in frames[-1] and ".b  [" in selected_row(frames[-1])


@pytest.mark.parametrize(
    "keys, expected",
    [
        # Just this run: outputs, module settings, then the confirmation.
        (["s", ENTER], [("persist_config_outputs", False), ("persist_module_settings_updates", {}, False), ("confirmed", True)]),
        # As default with a config file already set: confirmed first, nothing asked.
        (["S", DOWN, ENTER], [("confirmed", True), ("persist_config_outputs", True), ("persist_module_settings_updates", {}, True)]),
    ],
)
def test_save_options_call_in_order(cn, monkeypatch, fakes, log, keys, expected):
    GNV.pc.__dict__["_config_file"] = "existing.json"
    monkeypatch.setattr(builtins, "input", lambda prompt="": pytest.fail("nothing should be asked"))
    session = ScriptedSession(cn, monkeypatch, keys)
    assert session.run(nn.Identity()) is None
    assert [call for call in log if call != "normalize"] == expected
    assert session.events[-1] == "exit"


def test_save_as_default_asks_for_a_file_until_given(cn, monkeypatch, fakes, log):
    answers = iter(["", "   ", "  mine.json  "])
    prompts = []
    monkeypatch.setattr(builtins, "input", lambda prompt="": prompts.append(prompt) or next(answers))
    session = ScriptedSession(cn, monkeypatch, ["s", "j", ENTER])
    session.run(nn.Identity())
    assert prompts == ["Config filename/path: "] * 3
    assert GNV.pc.__dict__["_config_file"] == "mine.json"
    assert session.events.count("enter") == 2 and session.events[-1] == "exit"
    text = session.output.split("\x1b[2J\x1b[H")[-1]
    assert text.startswith(
        "No config_file is set.\n"
        "Enter a local JSON filename/path to create a reusable configuration file.\n"
        "You currently have save_name='NVX'. Choose 'suggested.json' to skip this screen next time "
        "without changing your dendrify_model call.\n"
    )
    assert text.count("A filename is required to save a default configuration.\n") == 2
    assert [c for c in log if c != "normalize"][0] == ("confirmed", True)


@pytest.mark.parametrize("failure, outcome", [(KeyboardInterrupt, SystemExit), (EOFError, EOFError)])
def test_prompt_interrupted_leaves_the_alternate_screen_once(cn, monkeypatch, fakes, log, failure, outcome):
    def answer(prompt=""):
        raise failure

    monkeypatch.setattr(builtins, "input", answer)
    session = ScriptedSession(cn, monkeypatch, ["s", "j", ENTER])
    with pytest.raises(outcome):
        session.run(nn.Identity())
    # The prompt already left the alternate screen; the way out must not leave it again.
    assert session.events == ["guard", "enter", ("key", "s"), ("key", "j"), ("key", ENTER), "exit"]


def test_keep_editing_and_escape_close_save_overlay(cn, monkeypatch, fakes, log):
    keys = ["s", DOWN, DOWN, DOWN, ENTER, "s", ESC, "s", "x", KeyboardInterrupt]
    session = ScriptedSession(cn, monkeypatch, keys)
    with pytest.raises(SystemExit):
        session.run(nn.Identity())
    save = session.plain_frames[4]
    assert "  \u25b8 Keep editing" in save and "write it to suggested.json" in save
    assert session.plain_frames[5].startswith("[ Targets")
    assert not [c for c in log if c != "normalize"]


# -- the filename prompt and failed saves ------------------------------------------


class WritingConfig(RecordingConfig):
    def persist_config_outputs(self, overwrite_config_file=False):
        GNV.NVXConfig.persist_config_outputs(self, overwrite_config_file)


class ReadOnly:
    """The module's `os` for a user who may not write `name` (root may write anything)."""

    def __init__(self, name):
        self.name = name

    def access(self, path, mode):
        return not (path == self.name and mode & os.W_OK) and os.access(path, mode)

    def __getattr__(self, name):
        return getattr(os, name)


def locked(path, cn, monkeypatch, make):
    make(path)
    path.chmod(0o555)
    if os.access(path, os.W_OK):
        monkeypatch.setattr(cn, "os", ReadOnly(path.name))


def unreadable(path, cn, monkeypatch):
    path.write_text("{}")
    opened = builtins.open

    def guarded(name, *args):
        if name == path.name:
            raise PermissionError(13, "Permission denied", name)
        return opened(name, *args)

    monkeypatch.setattr(cn, "open", guarded, raising=False)


def _raise(error):
    raise error


CONTROL = "the path has a control character in it."
RUN_CONFIG = os.path.join("nvx_runs", "NVX", "run_config.json")


@pytest.mark.parametrize(
    "answer, prepare, why",
    [
        ("\x1b", None, "'\\x1b': " + CONTROL),
        ("a\tb.json", None, "'a\\x09b.json': " + CONTROL),
        ("bell\x07\x7f.json", None, "'bell\\x07\\x7f.json': " + CONTROL),
        ("folder", lambda p, *_: p.mkdir(), "'folder': it is a folder."),
        ("broken.json", lambda p, *_: p.write_text("{broken"), "'broken.json': its content is not valid JSON."),
        ("list.json", lambda p, *_: p.write_text("[1]"), "'list.json': its top level is a JSON list, not an object."),
        ("secret.json", unreadable,
         "'secret.json': it cannot be read ([Errno 13] Permission denied: 'secret.json')."),
        ("plain/x.json", lambda p, *_: p.write_text("x"), "'plain/x.json': 'plain' is not a folder."),
        ("plain/sub/x.json", lambda p, *_: p.write_text("x"),
         "'plain/sub/x.json': the folder 'plain/sub' cannot be created ('plain' is not a folder)."),
        ("ro.json", lambda *a: locked(*a, lambda p: p.write_text("{}")), "'ro.json': the file is not writable."),
        ("ro/x.json", lambda *a: locked(*a, lambda p: p.mkdir()), "'ro/x.json': the folder 'ro' is not writable."),
        ("ro/new/x.json", lambda *a: locked(*a, lambda p: p.mkdir()),
         "'ro/new/x.json': the folder 'ro/new' cannot be created (the folder 'ro' is not writable)."),
    ],
)
def test_prompt_refuses_a_path_then_writes_the_next(cn, monkeypatch, tmp_path, fakes, log, answer, prepare, why):
    monkeypatch.setattr(GNV, "pc", WritingConfig(log))
    GNV.pc.set_module_names_to_track(["Linear"])
    if prepare is not None:
        prepare(tmp_path / answer.split("/")[0], cn, monkeypatch)
    before = {path: path.read_bytes() for path in tmp_path.rglob("*") if path.is_file()}
    answers = iter(["  " + answer + "  ", "good.json"])
    prompts = []
    monkeypatch.setattr(builtins, "input", lambda prompt="": prompts.append(prompt) or next(answers))
    session = ScriptedSession(cn, monkeypatch, ["s", "j", ENTER])
    assert session.run(nn.Identity()) is None
    assert prompts == ["Config filename/path: "] * 2
    assert session.output.count("Cannot save to " + why + "\n") == 1
    # The good path is written, and nothing else besides the run's own file.
    assert {str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*") if p.is_file()} - {
        str(p.relative_to(tmp_path)) for p in before
    } == {"good.json", RUN_CONFIG}
    assert all(path.read_bytes() == content for path, content in before.items())
    assert json.loads((tmp_path / "good.json").read_text())["configuration_confirmed"] is True


def test_failed_write_of_the_configuration_keeps_the_session(cn, monkeypatch, fakes, log, snapshot):
    GNV.pc.set_module_names_to_track([])
    GNV.pc.set_module_names_to_dendrify(["Linear"])
    errors = [PermissionError(13, "Permission denied", "ro/run_config.json")]  # raised at the first call only
    monkeypatch.setattr(GNV.pc, "persist_config_outputs", lambda **kwargs: errors and _raise(errors.pop()))
    # An override made before the failed save is still there for the next one.
    keys = [ENTER, "j", "j", "j", ENTER, "s", ENTER, "j", "k", ENTER]
    session = ScriptedSession(cn, monkeypatch, keys, columns=80, lines=24)
    assert session.run(nn.Identity()) is None
    shown = [frame for frame in session.plain_frames if "Not saved" in frame]
    assert shown == [snapshot(name="save overlay after a refused write")]  # gone at the next key
    assert "  Not saved: [Errno 13] Permission denied: 'ro/run_config.json'" in shown[0].splitlines()
    assert [c for c in log if c != "normalize"] == [
        ("persist_module_settings_updates", {"Linear": {"use_skip_weights": False}}, False),
        ("confirmed", True),
    ]


def test_failed_override_write_puts_the_configuration_file_back(cn, monkeypatch, tmp_path, fakes, log):
    GNV.pc.set_module_names_to_track([])
    GNV.pc.set_module_names_to_dendrify(["Linear"])
    monkeypatch.setattr(cn, "persist_module_settings_updates", fakes["originals"]["persist_module_settings_updates"])
    run_config = tmp_path / RUN_CONFIG
    run_config.parent.mkdir(parents=True)
    run_config.write_text("{broken")
    prompts = []
    monkeypatch.setattr(builtins, "input", lambda prompt="": prompts.append(prompt) or "mine.json")
    keys = [ENTER, "j", "j", "j", ENTER, "s", "j", ENTER, Between(lambda: run_config.write_text('{"kept": 1}')), ENTER]
    session = ScriptedSession(cn, monkeypatch, keys, columns=200)
    assert session.run(nn.Identity()) is None
    failed = next(frame for frame in session.plain_frames if "Not saved" in frame)
    assert failed.splitlines()[-1] == (
        "  Not saved: cannot save module_settings into '" + RUN_CONFIG + "': its content is not valid JSON; "
        "the file was left unchanged"
    )
    assert "  ▸ and save it as default" in failed
    # The failed try left no configuration file and no confirmation behind: the second asks again.
    assert prompts == ["Config filename/path: "] * 2
    assert [c for c in log if c[0] == "confirmed"] == [("confirmed", True), ("confirmed", False), ("confirmed", True)]
    expected = {"Linear": {"use_skip_weights": False}}
    assert json.loads(run_config.read_text()) == {"kept": 1, "module_settings": expected}
    assert json.loads((tmp_path / "mine.json").read_text()) == {"module_settings": expected}


@pytest.mark.parametrize("choice", [[ENTER], ["j", ENTER]], ids=["this run", "as default"])
def test_other_errors_of_a_save_still_end_the_session(cn, monkeypatch, fakes, choice):
    GNV.pc.__dict__.update(_config_file="existing.json", _auto_persist_config="before")
    monkeypatch.setattr(GNV.pc, "persist_config_outputs", lambda **kwargs: _raise(RuntimeError("writer broke")))
    session = ScriptedSession(cn, monkeypatch, ["s", *choice])
    with pytest.raises(RuntimeError, match="writer broke"):
        session.run(nn.Identity())
    assert session.events[-1] == "exit" and "cancelled" not in session.output
    assert GNV.pc.__dict__["_auto_persist_config"] == "before"
