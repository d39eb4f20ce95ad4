"""The path that "save as default" names, the configuration file the stand-in
configuration object writes and reads there, and the demo that finds it again."""

from __future__ import annotations

import builtins
import json
import os
import stat

import pytest
import torch

from neuvora import demo
from neuvora import globals_neuvora as GNV
from scripted import DOWN, ENTER, ScriptedSession


@pytest.fixture
def pc(fresh_config, monkeypatch):
    state = {"config": None, "run": None}
    monkeypatch.setattr(fresh_config, "get_config_file", lambda: state["config"])
    monkeypatch.setattr(fresh_config, "get_run_config_path", lambda: state["run"])
    return fresh_config, state


def test_config_file_wins_unchanged(cn, pc):
    config, state = pc
    state["config"] = "cfg/my.json"
    state["run"] = "runs/x/run_config.json"
    assert cn._config_target_path() == "cfg/my.json"
    marker = object()
    state["config"] = marker
    assert cn._config_target_path() is marker


def test_run_config_path_relative_to_working_directory(cn, pc, tmp_path):
    _, state = pc
    state["run"] = str(tmp_path / "nvx_runs" / "exp" / "run_config.json")
    assert cn._config_target_path() == os.path.join("nvx_runs", "exp", "run_config.json")
    state["run"] = "./runs/./a.json"
    assert cn._config_target_path() == os.path.join("runs", "a.json")


def test_run_config_path_returned_unchanged_when_relpath_fails(cn, pc, monkeypatch):
    _, state = pc
    state["run"] = 12345
    assert cn._config_target_path() == 12345

    def broken_getcwd():
        raise FileNotFoundError(2, "No such file or directory")

    state["run"] = "runs/a.json"
    monkeypatch.setattr(cn.os, "getcwd", broken_getcwd)
    assert cn._config_target_path() == "runs/a.json"


@pytest.mark.parametrize("save_name, expected", [("exp1", "exp1/exp1_config.json"), ("", "NVX/NVX_config.json"),
                                                 (None, "NVX/NVX_config.json"), (7, "7/7_config.json")])
def test_save_name_fallback(cn, pc, save_name, expected):
    config, _ = pc
    config.set_save_name(save_name)
    assert cn._config_target_path() == expected


def test_docstring(cn):
    assert cn._config_target_path.__doc__ == "Human path where 'save as default' would write."


# -- the configuration file of the stand-in configuration object ----------------


@pytest.mark.parametrize("run_config", ["inside", "none"])
def test_the_default_is_looked_for_where_the_configurator_suggests(cn, fresh_config, monkeypatch, tmp_path,
                                                                   run_config):
    if run_config == "none":
        monkeypatch.setattr(fresh_config, "get_run_config_path", lambda: None)
        fresh_config.set_save_name("exp1")
    else:
        fresh_config.set_output_directory(str(tmp_path / "runs"))
    assert fresh_config.default_config_path() == cn._config_target_path()
    assert fresh_config.default_config_path() == {"inside": "runs/NVX/run_config.json",
                                                  "none": "exp1/exp1_config.json"}[run_config]


def configured(config):
    config.set_module_ids_to_dendrify([".embed"])
    config.set_module_names_to_track(["LayerNorm"])
    config.set_module_names_to_dendrify(["Linear"])
    config.set_dendrite_count(6)
    config.set_nvx_forward_function(torch.tanh)
    config.set_switch_mode(config.DOING_FIXED_SWITCH)
    config.set_candidate_widths([4])
    config.configuration_confirmed = True
    return config


def test_saved_configuration_is_read_back(fresh_config, tmp_path):
    path = tmp_path / "cfg" / "my.json"
    path.parent.mkdir()
    path.write_text(json.dumps({"kept": [1, 2], "module_settings": {".embed": {"dendrite_count": 7}}}))
    configured(fresh_config).set_config_file(str(path))
    fresh_config.persist_config_outputs(overwrite_config_file=True)
    document = json.loads(path.read_text())
    assert list(document)[:2] == ["kept", "module_settings"] and document["kept"] == [1, 2]

    loaded = GNV.NVXConfig()
    loaded.set_config_file(str(path))
    assert loaded.load_config_file() is True
    assert loaded.config_outputs() == fresh_config.config_outputs()
    assert loaded.get_nvx_forward_function() is torch.tanh
    assert loaded.get_configuration_confirmed() is True
    assert not list(tmp_path.rglob(".*.tmp"))


@pytest.mark.parametrize("config_file", [None, "missing.json"])
def test_nothing_to_load(fresh_config, config_file):
    fresh_config.set_config_file(config_file)
    before = fresh_config.config_outputs()
    assert fresh_config.load_config_file() is False
    assert fresh_config.config_outputs() == before


MALFORMED = {
    "not JSON": (b'{"module_ids_to_track": [', "its content is not valid JSON"),
    "not UTF-8": (b'{"save_name": "\xff"}', "its content is not valid JSON"),
    "too deep": (b"[" * 100_000, "its content is not valid JSON"),
    "a list": (b"[1, 2]", "its top level is a JSON list, not an object"),
    "a text": (b'"text"', "its top level is a JSON str, not an object"),
}


@pytest.mark.parametrize("content, reason", MALFORMED.values(), ids=MALFORMED)
def test_a_file_that_is_not_a_json_object_is_never_overwritten(fresh_config, tmp_path, content, reason):
    path = tmp_path / "broken.json"
    path.write_bytes(content)
    configured(fresh_config).set_config_file(str(path))
    with pytest.raises(ValueError) as caught:
        fresh_config.persist_config_outputs(overwrite_config_file=True)
    assert str(caught.value) == f"cannot save the configuration into {str(path)!r}: {reason}"
    assert path.read_bytes() == content
    assert sorted(p.name for p in tmp_path.iterdir()) == ["broken.json"]  # not even the run's file

    with pytest.raises(ValueError) as caught:
        GNV.NVXConfig.load_config_file(fresh_config)
    assert str(caught.value) == f"cannot load the configuration from {str(path)!r}: {reason}"


@pytest.mark.parametrize(
    "member, value, kind",
    [
        ("module_ids_to_track", [".a", 1], "a list of texts"),
        ("configuration_confirmed", 1, "true or false"),
        ("dendrite_count", "4", "an integer"),
        ("dendrite_count", True, "an integer"),
        ("dendrite_learning_rate", None, "a number"),
        ("switch_mode", "sometimes", "one of 'switch_every_time', 'history', 'fixed_switch', 'no_switch'"),
        ("nvx_forward_function", "no_such_function", "the name of a torch function"),
        ("nvx_forward_function", "__class__", "the name of a torch function"),
        ("candidate_widths", 8, "a list"),
    ],
)
def test_a_member_of_the_wrong_kind_is_refused_and_nothing_is_taken(fresh_config, tmp_path, member, value, kind):
    path = tmp_path / "my.json"
    path.write_text(json.dumps({"module_ids_to_dendrify": [".x"], member: value}))
    fresh_config.set_config_file(str(path))
    with pytest.raises(ValueError) as caught:
        fresh_config.load_config_file()
    assert str(caught.value) == (
        f"cannot load the configuration from {str(path)!r}: {member} must be {kind}, not {json.dumps(value)}"
    )
    assert fresh_config.get_module_ids_to_dendrify() == []


def test_writing_replaces_the_file_in_one_step(fresh_config, tmp_path):
    target = tmp_path / "real.json"
    target.write_text('{"kept": true}')
    target.chmod(0o640)
    link = tmp_path / "link.json"
    link.symlink_to(target)
    configured(fresh_config).set_config_file(str(link))
    with pytest.MonkeyPatch.context() as failing:
        failing.setattr(GNV.os, "replace", lambda *args: (_ for _ in ()).throw(OSError(28, "No space left")))
        with pytest.raises(OSError, match="No space left"):
            fresh_config.persist_config_outputs(overwrite_config_file=True)
    assert target.read_text() == '{"kept": true}'
    assert not list(tmp_path.rglob(".*.tmp"))

    fresh_config.persist_config_outputs(overwrite_config_file=True)
    assert link.is_symlink() and json.loads(target.read_text())["kept"] is True
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert not list(tmp_path.rglob(".*.tmp"))


# -- the demo finds the default it saved ------------------------------------------

# .embed by id, every LayerNorm tracked and every Linear dendrified by type: every
# module of the demo model has a mode, so the save overlay offers both choices.
EVERY_MODE = ["p", "j", "j", "j", "T", "j", "j", "j", "j", "P"]
SKIPPED = "is confirmed (configuration_confirmed: true): the configurator was skipped."


def run_demo(cn, monkeypatch, argv, keys=(), answers=()):
    """The demo's main() as a new process would run it: a fresh configuration
    object, scripted keys, and `answers` for the filename prompt. It must end
    with status 0, by returning or by quitting, having used every key."""
    monkeypatch.setattr(GNV, "pc", GNV.NVXConfig())
    prompts = iter(answers)
    monkeypatch.setattr(builtins, "input", lambda prompt="": next(prompts))
    session = ScriptedSession(cn, monkeypatch, keys)
    try:
        status = session.call(demo.main, argv)
    except SystemExit as leaving:  # quitting the configurator
        status = leaving.code
    assert status == 0 and session.keys == []
    return session


def test_saved_default_skips_the_next_run_until_reconfigured(cn, monkeypatch, tmp_path):
    suggested = os.path.join("nvx_runs", "NVX", "run_config.json")
    first = run_demo(cn, monkeypatch, [], [*EVERY_MODE, "s", DOWN, ENTER], answers=[suggested])
    assert "Saved. Targets by id: ['.embed'] tracked: []" in first.after_exit
    assert json.loads((tmp_path / suggested).read_text())["configuration_confirmed"] is True

    second = run_demo(cn, monkeypatch, [])
    assert second.events == []  # the configurator was not entered
    assert second.output.splitlines()[:4] == [
        f"The configuration in {suggested} {SKIPPED}",
        "To open it again: python -m neuvora.demo --reconfigure   (make demo DEMO_ARGS=--reconfigure)",
        "Targets by id: ['.embed'] tracked: []",
        "Targets by type: ['Linear'] tracked: ['LayerNorm']",
    ]

    # --reconfigure opens the configurator on the saved rules; quitting keeps the file.
    saved = (tmp_path / suggested).read_text()
    reopened = run_demo(cn, monkeypatch, ["--reconfigure"], ["s", "x", "q", "y"])
    assert reopened.events[0] == "guard"
    assert "✓ every parameter is dendrified or tracked" in reopened.plain_frames[0]
    assert f"and save it as default  — write it to {suggested}, skip this screen next time" in (
        reopened.plain_frames[1]
    )
    assert (tmp_path / suggested).read_text() == saved


def test_saving_for_this_run_only_is_not_a_default(cn, monkeypatch, tmp_path):
    run_demo(cn, monkeypatch, [], [*EVERY_MODE, "s", ENTER])
    assert json.loads((tmp_path / "nvx_runs/NVX/run_config.json").read_text())["configuration_confirmed"] is False
    again = run_demo(cn, monkeypatch, [], ["q", "y"])
    assert again.events[0] == "guard"


def test_config_option_names_the_file_to_save_and_to_read(cn, monkeypatch, tmp_path):
    # Every Embedding and Linear dendrified (the tied head agrees), .ln_f's LayerNorm tracked.
    keys = ["P", "j", "j", "j", "P", "j", "j", "j", "T", "s", DOWN, ENTER]
    first = run_demo(cn, monkeypatch, ["--tied", "--config", "my.json"], keys)
    assert ".lm_head" in first.plain_frames[0]
    assert "== my.json" in first.after_exit  # no path was asked for
    assert json.loads((tmp_path / "my.json").read_text())["configuration_confirmed"] is True

    second = run_demo(cn, monkeypatch, ["--tied", "--config", "my.json"])
    assert second.events == []
    assert second.output.splitlines()[:2] == [
        f"The configuration in my.json {SKIPPED}",
        "To open it again: python -m neuvora.demo --tied --config my.json --reconfigure"
        "   (make demo DEMO_ARGS='--tied --config my.json --reconfigure')",
    ]


def test_an_unreadable_configuration_ends_the_demo_with_its_name(cn, monkeypatch, tmp_path, capsys):
    (tmp_path / "broken.json").write_text("{")
    monkeypatch.setattr(cn, "set_dendrification_targets", lambda model: pytest.fail("the configurator opened"))
    with pytest.raises(SystemExit) as caught:
        demo.main(["--config", "broken.json"])
    assert caught.value.code == 2
    assert capsys.readouterr().err == (
        "python -m neuvora.demo: error: cannot load the configuration from 'broken.json': "
        "its content is not valid JSON\n"
    )
