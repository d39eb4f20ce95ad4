"""The path that "save as default" names."""

from __future__ import annotations

import os

import pytest


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
