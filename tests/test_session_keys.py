"""Whole scripted sessions on a real model with the real screens: every key of
the Targets screen, the Run settings screen and the overlays, checked through
the configuration object, the files written and the frames drawn."""

from __future__ import annotations

import builtins
import json
import os
import re
import types

import pytest
import torch
from torch import nn

from neuvora import globals_neuvora as GNV
from screens import plain
from scripted import BACKSPACE, DELETE, DOWN, ENTER, ESC, LEFT, PAGE_DOWN, RIGHT, TAB, UP, ScriptedSession

RUN_CONFIG = "nvx_runs/NVX/run_config.json"


class Tiny(nn.Module):
    """Entries: .enc .enc.0 .enc.1 .attn (restructured) .attn.out_proj .head"""

    def __init__(self):
        super().__init__()
        self.enc = nn.Sequential(nn.Linear(4, 4), nn.ReLU())
        self.attn = nn.MultiheadAttention(4, 1)
        self.head = nn.Linear(4, 2)


def run(cn, monkeypatch, keys, **size):
    session = ScriptedSession(cn, monkeypatch, keys, interrupt_when_done=True, **size)
    with pytest.raises(SystemExit):
        session.run(Tiny())
    return session


def selected_row(frame):
    return next(line for line in frame.splitlines() if line.startswith("> "))


@pytest.mark.parametrize(
    "keys, ids_d, ids_t, names_d, names_t",
    [
        (["j", "p"], [".enc.0"], [], [], []),
        (["j", "p", "p"], [], [], [], []),
        (["j", "p", "t"], [], [".enc.0"], [], []),
        (["j", "P"], [], [], ["Linear"], []),
        (["j", "T", "P"], [], [], ["Linear"], []),
        (["G", "X", "Y", "H"], [], [], [], []),
    ],
)
def test_rule_keys_edit_the_configuration(cn, monkeypatch, keys, ids_d, ids_t, names_d, names_t):
    run(cn, monkeypatch, keys)
    pc = GNV.pc
    assert (pc.get_module_ids_to_dendrify(), pc.get_module_ids_to_track()) == (ids_d, ids_t)
    assert (pc.get_module_names_to_dendrify(), pc.get_module_names_to_track()) == (names_d, names_t)


def test_clearing_reports_what_was_cleared(cn, monkeypatch):
    session = run(cn, monkeypatch, ["j", "p", "P", "x", "x", "x"])
    statuses = [frame.splitlines()[-1].strip() for frame in session.plain_frames[-3:]]
    assert statuses == ["cleared .enc.0", "cleared the Linear type rule", "nothing to clear on this module"]


@pytest.mark.parametrize(
    "keys, message",
    [
        (["j", "j", "j", "p"], ".attn is inside a module that will be restructured \u2014 its id won't exist at "
         "training time. Use P/T to target by type instead."),
        (["j", "j", "j", "P"], "Set a mode on this module's children by type, not on the container that will be "
         "restructured."),
        (["j", "j", "j", RIGHT, "j", "t"], ".attn.out_proj is inside a module that will be restructured \u2014 "
         "its id won't exist at training time. Use P/T to target by type instead."),
        (["j", ENTER], "Overrides are only for dendrified modules. Dendrify this one first (p), or track it if you "
         "just want it monitored."),
    ],
)
def test_refusals_show_as_status_line(cn, monkeypatch, keys, message):
    session = run(cn, monkeypatch, keys, columns=200)
    assert session.plain_frames[-1].splitlines()[-1] == "  " + message
    assert GNV.pc.get_module_ids_to_dendrify() == [] and GNV.pc.get_module_ids_to_track() == []


def test_movement_expansion_and_clamping(cn, monkeypatch):
    keys = [UP, PAGE_DOWN, RIGHT, "k", RIGHT, PAGE_DOWN, LEFT, "k", "k", LEFT]
    session = run(cn, monkeypatch, keys)
    frames = session.plain_frames
    assert ".enc " in selected_row(frames[1])  # up at the top stays
    assert ".head" in selected_row(frames[2])  # page down stops at the last visible row
    assert frames[3] == frames[2]  # right on a module that is not restructured: nothing
    assert ".attn.out_proj" in frames[5] and "[\u2190 collapse]" in frames[5]
    assert ".head" in selected_row(frames[6]) and frames[7] == frames[6]  # left off a root: nothing
    assert ".attn " in selected_row(frames[9])
    assert "[\u2192 expand]" in frames[10] and ".attn.out_proj" not in frames[10]


def test_status_message_cleared_by_next_screen_key(cn, monkeypatch):
    session = run(cn, monkeypatch, ["x", "j"])
    assert session.plain_frames[-2].splitlines()[-1] == "  nothing to clear on this module"
    assert "nothing to clear" not in session.plain_frames[-1]


def test_overlays_from_targets(cn, monkeypatch):
    session = run(cn, monkeypatch, ["y", "x", "y", "h", "?", "h", ESC, "?", "q", "?", "q", "n"])
    frames = session.plain_frames
    assert "Targets" in frames[1] and frames[1] == frames[2]  # "x" does nothing in the type rules
    assert frames[3] == frames[0]
    assert "Targets legend" in frames[4] and frames[5] == frames[4]  # "?" ignored there
    assert frames[6] == frames[7] == frames[0]
    assert "Keys" in frames[8] and frames[9] == frames[8]  # "q" ignored in help
    assert "Quit without configuring?" in frames[11]
    assert frames[12] == frames[0]


def test_quit_yes_cancels(cn, monkeypatch):
    session = ScriptedSession(cn, monkeypatch, ["q", "Y"])
    with pytest.raises(SystemExit) as exited:
        session.run(Tiny())
    assert exited.value.code == 0
    assert session.output.endswith("to skip this screen.\n")


def read_run_config():
    with open(RUN_CONFIG) as handle:
        return json.load(handle)


def test_override_edit_then_save_for_this_run(cn, monkeypatch):
    keys = ["j", "j", "j", "j", "p", ENTER, ENTER, "9", ENTER, DOWN, DOWN, DOWN, ENTER, "s", DOWN, DOWN, UP, DOWN, ENTER]
    session = ScriptedSession(cn, monkeypatch, keys)
    # .head is dendrified by id; unset modules remain (.enc.0), so the save overlay has two options.
    assert session.run(Tiny()) is None
    saved = read_run_config()
    assert saved["module_settings"] == {".head": {"dendrite_count": 49, "use_skip_weights": False}}
    assert saved["module_ids_to_dendrify"] == [".head"]
    assert GNV.pc.get_configuration_confirmed() is True
    assert GNV.pc.get_dendrite_count() == 4  # overrides never touch run-wide values


def test_save_as_default_asks_then_writes_both_files(cn, monkeypatch):
    monkeypatch.setattr(builtins, "input", lambda prompt="": "cfg/my.json")
    keys = ["j", "P", "j", "j", "j", "j", ENTER, "j", "j", ENTER, "s", DOWN, ENTER]
    session = ScriptedSession(cn, monkeypatch, keys)
    GNV.pc.set_module_names_to_track(["ReLU", "Sequential", "Embedding", "MultiheadAttention"])
    session.run(Tiny())
    assert GNV.pc.__dict__["_config_file"] == "cfg/my.json"
    for path in (RUN_CONFIG, "cfg/my.json"):
        with open(path) as handle:
            document = json.load(handle)
        # Type scope: the head is dendrified through the Linear type rule; relu cycles to sigmoid's successor.
        assert document["module_settings"] == {"Linear": {"nvx_forward_function": "relu"}}


def test_run_settings_keys(cn, monkeypatch):
    pc = GNV.pc
    keys = [TAB, ENTER, "j", ENTER, "9", ENTER]  # expand Dendrites; count editor
    keys += ["j", ENTER]  # nvx_forward_function: cycles
    keys += ["j", ENTER, BACKSPACE, "5", ENTER]  # learning rate 0.001 -> 0.005
    keys += ["j", ENTER]  # use_skip_weights (the divider is skipped): toggles
    keys += ["j", "j", ENTER, RIGHT, RIGHT, RIGHT, ENTER, "6", "4", ENTER, RIGHT, RIGHT, ENTER]  # list: append 64, save
    run(cn, monkeypatch, keys)
    assert pc.get_dendrite_count() == 49
    assert pc.get_nvx_forward_function() is torch.relu
    assert pc.get_dendrite_learning_rate() == 0.005
    assert pc.get_use_skip_weights() is False
    assert pc.get_candidate_widths() == [8, 16, 32, 64]


def test_run_settings_text_and_invalid_values(cn, monkeypatch):
    keys = [TAB, "j", ENTER, "j", ENTER]  # expand Switching; cycle switch_mode
    keys += ["j", ENTER, "x", ENTER]  # improvement_threshold gets an invalid value
    session = run(cn, monkeypatch, keys + ["j", "j", ENTER, "j", ENTER])  # expand Run; save_name is text
    assert GNV.pc.get_switch_mode() == GNV.pc.DOING_FIXED_SWITCH
    frames = session.plain_frames
    assert any("Invalid value for improvement_threshold: could not convert string to float: '0.0001x'" in f
               for f in frames)
    assert frames[-1].splitlines()[-1] == "  save_name cannot be edited from this screen."


def test_describe_and_left_jump(cn, monkeypatch):
    session = run(cn, monkeypatch, [TAB, ENTER, "j", "h", "h", "h", LEFT])
    frames = session.plain_frames
    assert "dendrite_count \u2014 Dendrites added to each dendrified module per cycle." in frames[4]
    assert "dendrite_count \u2014" not in frames[5]
    assert "\u25b8 Dendrites" in frames[-1] and selected_row(frames[-1]).startswith("> \u25b8 Dendrites")


def test_editor_draws_alone_and_escape_drops(cn, monkeypatch):
    session = run(cn, monkeypatch, [TAB, ENTER, "j", ENTER, "1", ESC])
    frames = session.plain_frames
    assert frames[4].startswith("  Edit dendrite_count") and "Targets" not in frames[4]
    assert GNV.pc.get_dendrite_count() == 4


# -- undo and redo, the next module that needs a mode ---------------------------------

REDO = "\x12"  # Ctrl-R


def status_of(frame):
    return frame.splitlines()[-1].strip()


def budget_of(frame):
    return next(line for line in frame.splitlines() if line.startswith("Dendrification budget:"))


@pytest.mark.parametrize(
    "keys, ids_d, ids_t, names_d, status",
    [
        (["u"], [], [], [], "nothing to undo"),
        ([REDO], [], [], [], "nothing to redo"),
        (["x", "u"], [], [], [], "nothing to undo"),  # clearing nothing is no change
        (["j", "p", "u"], [], [], [], "undid: dendrify .enc.0"),
        (["j", "p", "t", "u"], [".enc.0"], [], [], "undid: track .enc.0"),
        (["j", "p", "t", "u", "u"], [], [], [], "undid: dendrify .enc.0"),
        (["j", "p", "t", "u", "u", REDO], [".enc.0"], [], [], "redid: dendrify .enc.0"),
        (["j", "p", "t", "u", "u", REDO, REDO], [], [".enc.0"], [], "redid: track .enc.0"),
        (["j", "p", "t", "u", "u", REDO, REDO, REDO], [], [".enc.0"], [], "nothing to redo"),
        (["j", "p", "u", "t", REDO], [], [".enc.0"], [], "nothing to redo"),  # a new change ends redo
        (["j", "p", "p", "u"], [".enc.0"], [], [], "undid: clear dendrify on .enc.0"),
        (["j", "p", "x", "u"], [".enc.0"], [], [], "undid: clear dendrify on .enc.0"),
        (["j", "P", "x", "u"], [], [], ["Linear"], "undid: clear dendrify on every Linear (2 modules)"),
        (["j", "P", "u", REDO], [], [], ["Linear"], "redid: dendrify every Linear (2 modules)"),
        (["j", "P", "x", "u", "u"], [], [], [], "undid: dendrify every Linear (2 modules)"),
        (["j", "p", "P", "x", "x", "u", "u"], [".enc.0"], [], ["Linear"], "undid: clear dendrify on .enc.0"),
    ],
)
def test_undo_and_redo_of_rule_changes(cn, monkeypatch, keys, ids_d, ids_t, names_d, status):
    session = run(cn, monkeypatch, keys)
    pc = GNV.pc
    assert (pc.get_module_ids_to_dendrify(), pc.get_module_ids_to_track()) == (ids_d, ids_t)
    assert (pc.get_module_names_to_dendrify(), pc.get_module_names_to_track()) == (names_d, [])
    assert status_of(session.plain_frames[-1]) == status


def test_undo_of_a_removed_type_rule_restores_budget_through_the_rule_functions(cn, monkeypatch):
    calls = []
    record = GNV.pc.set_module_names_to_dendrify
    monkeypatch.setattr(GNV.pc, "set_module_names_to_dendrify", lambda names: calls.append(list(names)) or record(names))
    session = run(cn, monkeypatch, ["j", "P", "P", "u"])
    frames = session.plain_frames
    assert budget_of(frames[2]) != budget_of(frames[3])  # the second P took the rule off
    assert budget_of(frames[4]) == budget_of(frames[2])
    assert GNV.pc.get_module_names_to_dendrify() == ["Linear"]
    # Undo made the change a user would make by hand, P once more: the
    # configuration object saw the rule set, taken off and set again.
    changes = [names for before, names in zip([[]] + calls, calls) if names != before]
    assert changes == [["Linear"], [], ["Linear"]]


def test_undo_history_holds_every_change_of_a_long_session(cn, monkeypatch):
    changes = 150
    session = run(cn, monkeypatch, ["j"] + ["p", "t"] * (changes // 2) + ["u"] * (changes + 1))
    frames = session.plain_frames
    assert status_of(frames[-2]) == "undid: dendrify .enc.0"
    assert status_of(frames[-1]) == "nothing to undo"
    assert GNV.pc.get_module_ids_to_dendrify() == [] and GNV.pc.get_module_ids_to_track() == []


def test_undo_history_drops_the_oldest_change_past_its_limit(cn, monkeypatch):
    # 1,001 changes on .enc.0 (p, t, p, ..., p), then 1,001 undos: the first
    # change is the one forgotten, so undoing stops at the state it made.
    changes = 1001
    session = run(cn, monkeypatch, ["j"] + ["p", "t"] * (changes // 2) + ["p"] + ["u"] * changes)
    statuses = [status_of(frame) for frame in session.plain_frames[-changes:]]
    assert statuses[:2] == ["undid: dendrify .enc.0", "undid: track .enc.0"]
    assert all(status.startswith("undid: ") for status in statuses[:-1])
    assert statuses[-2] == "undid: track .enc.0" and statuses[-1] == "nothing to undo"
    assert GNV.pc.get_module_ids_to_dendrify() == [".enc.0"] and GNV.pc.get_module_ids_to_track() == []


def test_next_module_that_needs_a_mode(cn, monkeypatch):
    session = run(cn, monkeypatch, ["!", "!", "!", "j", "j", "j", "j", "P", "!"])
    frames = session.plain_frames
    assert "u undo   Ctrl-R redo   ! next unset" in frames[0]
    for frame, row, status in [
        (frames[1], ".enc.0", "1 of 2 modules that need a mode"),
        (frames[2], ".head", "2 of 2 modules that need a mode"),
        (frames[3], ".enc.0", "1 of 2 modules that need a mode"),  # wraps around
    ]:
        assert row + "  [" in selected_row(frame) and status_of(frame) == status
    # Every Linear dendrified: nothing is left and the selection stays.
    assert ".head" in selected_row(frames[-1]) and status_of(frames[-1]) == "no module needs a mode"


# -- overrides: marks, removal, messages inside the overlay -------------------------

GEAR = "\u2699"
HEAD_OVERRIDES = ["j", "j", "j", "j", "p", ENTER]  # .head dendrified by id, its overrides open


def head_row(frame):
    return next(line for line in frame.splitlines() if ".head  [" in line)


def test_override_mark_appears_and_goes_with_the_override(cn, monkeypatch):
    keys = HEAD_OVERRIDES + [ENTER, "9", ENTER, ESC, ENTER, DELETE, DELETE, ESC]
    session = run(cn, monkeypatch, keys)
    frames = session.plain_frames
    edited, marked, removed, again, unmarked = frames[9], frames[10], frames[12], frames[13], frames[14]
    assert GEAR not in head_row(frames[5])
    assert head_row(marked).rstrip().endswith("mode=dendrify " + GEAR + "   params=10")
    assert "dendrite_count = 49  (overridden here)" in edited
    assert "dendrite_count = 4  (from run settings)" in removed
    assert removed.splitlines()[-1] == "  dendrite_count override removed here."
    assert again.splitlines()[-1] == "  dendrite_count has no override here to remove."
    assert GEAR not in head_row(unmarked)


def test_value_equal_to_run_wide_stays_an_override(cn, monkeypatch):
    keys = HEAD_OVERRIDES + [ENTER, BACKSPACE, BACKSPACE, "4", ENTER]
    session = run(cn, monkeypatch, keys)
    assert "dendrite_count = 4  (overridden here)" in session.plain_frames[-1]


def test_type_rule_of_a_class_with_overrides_is_marked(cn, monkeypatch):
    keys = ["j", "P", "j", "j", "j", "j", ENTER, DOWN, DOWN, DOWN, ENTER, ESC, "y"]
    session = run(cn, monkeypatch, keys)
    box_row = next(line for line in session.plain_frames[-1].splitlines() if "Linear \u2192 dendrify" in line)
    assert box_row.rstrip().endswith("\u2502 " + GEAR)
    assert GEAR not in head_row(session.plain_frames[-1])  # a class scope marks the rule, not the id


def test_removed_overrides_are_absent_from_the_saved_file(cn, monkeypatch):
    os_path = RUN_CONFIG.rsplit("/", 1)[0]
    import os

    os.makedirs(os_path)
    with open(RUN_CONFIG, "w") as handle:
        json.dump({"kept": [1, 2], "module_settings": {
            ".head": {"dendrite_count": 7, "use_skip_weights": False},
            "Linear": {"dendrite_count": 3},
            ".enc.0": {"dendrite_count": 5},
        }, "after": "also kept"}, handle)
    # Remove both values of .head's scope (so the scope goes), then save for this run.
    keys = HEAD_OVERRIDES + [DELETE, DOWN, DOWN, DOWN, BACKSPACE, ESC, "s", DOWN, ENTER]
    session = ScriptedSession(cn, monkeypatch, keys)
    assert session.run(Tiny()) is None
    assert GEAR in head_row(session.plain_frames[5])  # saved overrides are marked too
    saved = read_run_config()
    # The other scopes keep their order in the file.
    assert list(saved["module_settings"].items()) == [("Linear", {"dendrite_count": 3}), (".enc.0", {"dendrite_count": 5})]
    assert saved["kept"] == [1, 2] and saved["after"] == "also kept"
    assert list(saved)[:3] == ["kept", "module_settings", "after"]


def test_invalid_values_are_reported_inside_the_overrides_overlay(cn, monkeypatch):
    keys = HEAD_OVERRIDES + [ENTER, BACKSPACE, "a", "b", "c", ENTER, DOWN, ESC]
    session = run(cn, monkeypatch, keys)
    frames = session.plain_frames
    message = "  Invalid value for dendrite_count: invalid literal for int() with base 10: 'abc'"
    assert "Overrides \u2014 .head" in frames[-3] and frames[-3].splitlines()[-1] == message
    assert message not in frames[-2]  # until the next key
    assert status_of(frames[-1]) == message.strip()  # the status line keeps it after the overlay


def test_invalid_list_entry_is_reported_in_the_list_editor(cn, monkeypatch):
    keys = HEAD_OVERRIDES + [DOWN, DOWN, DOWN, DOWN, ENTER, RIGHT, RIGHT, RIGHT, ENTER, "x", ENTER, RIGHT]
    session = run(cn, monkeypatch, keys)
    frames = session.plain_frames
    assert frames[-2].startswith("  Edit candidate_widths")
    assert frames[-2].splitlines()[-1].startswith("  Invalid list entry: invalid literal for int()")
    assert "Invalid list entry" not in frames[-1]


@pytest.mark.parametrize("home, end", [("\x1b[H", "\x1b[F"), ("\x1bOH", "\x1bOF"), ("\x1b[1~", "\x1b[4~")])
def test_home_and_end_in_the_number_editor(cn, monkeypatch, home, end):
    run(cn, monkeypatch, [TAB, ENTER, "j", ENTER, home, "1", end, "2", ENTER])
    assert GNV.pc.get_dendrite_count() == 142


def test_help_lists_the_editing_keys(cn, monkeypatch):
    session = run(cn, monkeypatch, ["?"])
    lines = session.plain_frames[-1].splitlines()
    assert "   u         undo the last rule change (p t P T x)     Ctrl-R  redo it" in lines
    assert lines[-1] == "  ? or Esc to close"


# -- keys beyond the original screens: Home/End, search, n/N -----------------------------

HOME_END = [("\x1b[H", "\x1b[F"), ("\x1bOH", "\x1bOF"), ("\x1b[1~", "\x1b[4~"), ("\x1b[7~", "\x1b[8~")]
HOME, END = HOME_END[0]


def selected_id(frame):
    return re.search(r"(\.[\w.]+)  \[", selected_row(frame)).group(1)


def prompt(frame):
    return frame.splitlines()[-1].strip()


@pytest.mark.parametrize("home, end", HOME_END)
def test_home_and_end_jump_to_the_first_and_last_row(cn, monkeypatch, home, end):
    frames = run(cn, monkeypatch, [end, home, TAB, end, home]).plain_frames
    assert ".head" in selected_row(frames[1]) and ".enc " in selected_row(frames[2])
    buckets = [item["bucket"] for item in cn.build_run_items({})]
    assert selected_row(frames[4]).startswith("> \u25b8 " + buckets[-1])
    assert selected_row(frames[5]).startswith("> \u25b8 " + buckets[0])


def test_home_and_end_in_an_expanded_bucket_and_in_the_overlays(cn, monkeypatch):
    names = list(cn.CUSTOMIZABLE_SETTING_NAMES)
    keys = [TAB, ENTER, "j", "h", END, TAB, END, "p", ENTER, END, HOME, ESC, "s", END, HOME]
    frames = run(cn, monkeypatch, keys).plain_frames
    last_bucket = cn.build_run_items({})[-1]["bucket"]
    assert "dendrite_count \u2014" in frames[4]
    assert selected_row(frames[5]).startswith("> \u25b8 " + last_bucket)
    assert "dendrite_count \u2014" not in frames[5]  # End hides a description, like the moves
    assert selected_row(frames[10]).startswith("> " + names[-1] + " = ")
    assert selected_row(frames[11]).startswith("> " + names[0] + " = ")
    pointer = [line for line in frames[14].splitlines() if "\u25b8 " in line]
    assert pointer == ["  \u25b8 Start anyway \u2014 I know these 1 have no mode"]
    assert [line for line in frames[15].splitlines() if "\u25b8 " in line] == ["  \u25b8 Keep editing"]


@pytest.mark.parametrize(
    "keys, selected, note",
    [
        (["/", *".head"], ".head", "match 1 of 1"),  # by id
        (["/", *"relu"], ".enc.1", "match 1 of 1"),  # by class name
        (["/", *"LINEAR"], ".enc.0", "match 1 of 3"),  # case is ignored; from the start row on
        ([END, "/", *"lin"], ".head", "match 3 of 3"),  # the start row itself counts
        ([END, "/", *"enc"], ".enc ", "match 1 of 3"),  # wraps around to the top
        (["j", "j", "/", *"zzz"], ".enc.1", "no module matches 'zzz'"),
        (["j", "/"], ".enc.0", "type part of a module id or class name"),
        (["/", "z", BACKSPACE, "\x08", *".hx", BACKSPACE], ".head", "match 1 of 1"),
        (["/", *"q?sS/pj"], ".enc ", "no module matches 'q?sS/pj'"),  # every printable key is text
    ],
)
def test_search_selects_the_first_match_from_where_it_started(cn, monkeypatch, keys, selected, note):
    session = run(cn, monkeypatch, keys)
    frame = session.plain_frames[-1]
    assert selected in selected_row(frame)
    assert prompt(frame).endswith("   " + note) and prompt(frame).startswith("/")
    assert "Keys" not in frame and "Quit without" not in frame
    pc = GNV.pc
    assert pc.get_module_ids_to_dendrify() == [] and pc.get_module_names_to_dendrify() == []


def test_search_opens_a_restructured_module_and_escape_closes_it_again(cn, monkeypatch):
    frames = run(cn, monkeypatch, ["j", "/", *"out", ESC, "/", *"out", ENTER, "j"]).plain_frames
    assert ".attn.out_proj" in selected_row(frames[5]) and "[\u2190 collapse]" in frames[5]
    assert ".enc.0" in selected_row(frames[6]) and "(id stale)" not in frames[6]
    assert "[\u2192 expand]" in frames[6] and not prompt(frames[6]).startswith("/")
    assert ".attn.out_proj" in selected_row(frames[-2]) and prompt(frames[-2]) == "match 1 of 1 for 'out'"
    assert ".head" in selected_row(frames[-1]) and "(id stale)" in frames[-1]  # Enter kept it open


def test_n_and_shift_n_step_through_the_matches_wrapping(cn, monkeypatch):
    keys = ["n", "/", *"linear", ENTER, "n", "n", "n", "N", "N"]
    frames = run(cn, monkeypatch, keys).plain_frames
    assert prompt(frames[1]) == "No search yet: press / and type part of a module id or class name."
    steps = [(selected_id(f), prompt(f)) for f in frames[-5:]]
    assert steps == [
        (".attn.out_proj", "match 2 of 3 for 'linear'"),
        (".head", "match 3 of 3 for 'linear'"),
        (".enc.0", "match 1 of 3 for 'linear'"),
        (".head", "match 3 of 3 for 'linear'"),
        (".attn.out_proj", "match 2 of 3 for 'linear'"),
    ]


# -- every frame fits the terminal -------------------------------------------------------------


def rows_of(frame):
    return frame.rstrip("\n").split("\n")


@pytest.mark.parametrize("opener, first, close", [("?", "Keys", "? or Esc to close"), ("h", "Targets legend", "h or Esc to close")])
def test_tall_pages_open_at_their_top_and_scroll(cn, monkeypatch, opener, first, close):
    keys = [opener, "j", "\x1b[6~", END, UP, HOME, END, ESC]
    frames = run(cn, monkeypatch, keys, columns=80, lines=24).plain_frames
    pages = [rows_of(frame) for frame in frames[1:-1]]
    assert all(len(page) < 24 for page in pages)
    assert pages[0][1].strip() == first and pages[0][-1].strip() == "vvvv more below vvvv"
    assert pages[1][0].strip() == "^^^^ more above ^^^^" and pages[1][1:] != pages[0][:-1]
    assert pages[3][-1].strip() == close and pages[4][-1].strip() == "vvvv more below vvvv"
    assert pages[5] == pages[0] and pages[6] == pages[3]
    assert frames[-1] == frames[0]  # closing keys unchanged; the screen below kept its place
    tall = run(cn, monkeypatch, [opener, END], columns=80, lines=60).plain_frames
    assert "more below" not in tall[1] and tall[2] == tall[1] and rows_of(tall[1])[-1].strip() == close


def test_save_overlay_follows_its_selection_on_a_short_terminal(cn, monkeypatch):
    frames = run(cn, monkeypatch, ["s", DOWN, UP], columns=60, lines=10).plain_frames
    for frame in frames[1:]:
        assert len(rows_of(frame)) < 10 and sum("\u25b8 " in line for line in rows_of(frame)) == 1
    assert "\u25b8 Start anyway" in frames[2] and "\u25b8 Keep editing" in frames[3]


def test_type_rules_give_way_to_the_tree_and_scroll(cn, monkeypatch):
    GNV.pc.set_module_names_to_track(["ReLU", "Sequential", "Linear", "MultiheadAttention"])
    frames = run(cn, monkeypatch, ["y", "j", END, HOME, "y", "j"], columns=80, lines=16).plain_frames
    # Open, Down, End, Home: one row of the box shown at a time, the others counted.
    boxes = [[line.strip("\u2502 ") for line in rows_of(f) if line.startswith("  \u2502 ")] for f in frames[1:5]]
    assert boxes[0][0].startswith("Linear \u2192 track") and boxes[1][0] != boxes[0][0]
    assert boxes[2][0].startswith("Sequential \u2192 track") and boxes[3] == boxes[0]
    hidden = {rows[1] for rows in boxes}
    assert len(hidden) == 1 and re.fullmatch(r"\+\d+ more \(\u2191\u2193 scroll\)", hidden.pop())
    for frame in frames:
        assert len(rows_of(frame)) < 16 and len([row for row in rows_of(frame) if row.startswith("> ")]) == 1
    assert ".enc.0" in selected_row(frames[-1])  # closed again, the tree moves


# The order in which the Targets header and footer give way, as the README
# states it: the blank lines, the mode legend, the count of modules needing a
# mode, the rules (the header's, then the footer's), the line of new keys; the
# budget line, the key hint and the status message only when the body would get
# no row at all. Each kind of line, by the text that tells it apart.
GIVE_WAY_ORDER = ["blank lines", "legend", "count", "header rule", "footer rule", "new keys", "budget", "hint", "status"]
LINE_TEXTS = {"legend": "dendrify = add dendrites", "count": "modules still need", "new keys": "/ find",
              "budget": "Dendrification budget", "hint": "p/t dendrify", "status": "nothing to undo"}


def header_and_footer_shown(frame):
    rows = rows_of(frame)
    shown = {kind for kind, text in LINE_TEXTS.items() if text in frame}
    body = [i for i, row in enumerate(rows) if "[Linear]" in row or "more above" in row or "more below" in row]
    rules = [i for i, row in enumerate(rows) if row.strip() and set(row.strip()) == {"\u2500"}]
    shown |= {"header rule" for i in rules if i < body[0]} | {"footer rule" for i in rules if i > body[-1]}
    return shown | ({"blank lines"} if "" in rows else set())


@pytest.mark.parametrize("columns, gone", [(120, 6), (60, 7), (40, 7), (30, 8)])
def test_header_and_footer_give_way_one_row_at_a_time_in_the_stated_order(cn, monkeypatch, columns, gone):
    # The terminal loses a row before each frame, from 40 rows down to the
    # smallest frame; "u" with nothing to undo keeps a status message up.
    rows = [40]
    session = ScriptedSession(cn, monkeypatch, ["u"] * 32, columns=columns, interrupt_when_done=True)
    monkeypatch.setattr(cn, "shutil", types.SimpleNamespace(get_terminal_size=lambda fallback=None: os.terminal_size((columns, rows[0]))))
    reads = cn.read_single_key

    def read_then_shrink():
        rows[0] -= 1
        return reads()

    monkeypatch.setattr(cn, "read_single_key", read_then_shrink)
    with pytest.raises(SystemExit):
        session.run(nn.Sequential(*[nn.Linear(2, 2) for _ in range(30)]))
    shown = [header_and_footer_shown(frame) for frame in session.plain_frames[1:]]
    assert shown[0] == set(GIVE_WAY_ORDER)
    lost = []
    for taller, shorter in zip(shown, shown[1:]):
        assert shorter <= taller and len(taller - shorter) <= 1, (taller, shorter)
        lost += sorted(taller - shorter)
    assert lost == GIVE_WAY_ORDER[:gone]


@pytest.mark.parametrize("columns, lines", [(29, 20), (80, 7), (24, 5)])
def test_a_terminal_too_small_says_what_it_needs_and_keys_still_work(cn, monkeypatch, columns, lines):
    sizes = [(columns, lines)]
    session = ScriptedSession(cn, monkeypatch, ["j", "j", "p"], interrupt_when_done=True)
    monkeypatch.setattr(cn, "shutil", types.SimpleNamespace(get_terminal_size=lambda fallback=None: os.terminal_size(sizes[0])))
    reads = cn.read_single_key

    def read_and_grow():
        if session.keys == ["j", "p"]:
            sizes[0] = (80, 24)
        return reads()

    monkeypatch.setattr(cn, "read_single_key", read_and_grow)
    with pytest.raises(SystemExit):
        session.run(Tiny())
    frames = session.plain_frames
    assert " ".join(frames[0].split()) == f"terminal too small: {columns}x{lines}, needs at least 30x8"
    assert all(len(rows_of(frame)) <= max(1, lines - 1) for frame in frames[:2])
    assert ".enc.1" in selected_row(frames[2])  # the keys moved while it was too small
    assert GNV.pc.get_module_ids_to_dendrify() == [".enc.1"]


def test_escape_keeps_a_module_the_user_had_opened(cn, monkeypatch):
    keys = ["j", "j", "j", RIGHT, "k", "k", "/", *"out", ESC, "/", *"zz", "\x01", ESC]
    frames = run(cn, monkeypatch, keys).plain_frames
    assert all("(id stale)" in frame for frame in frames[4:])  # opened by the user: stays open
    assert ".enc.0" in selected_row(frames[-1])
    assert prompt(frames[-2]) == "/zz    no module matches 'zz'"  # a control key is not text


@pytest.mark.parametrize("columns, lines", [(30, 8), (40, 12)])
def test_overlays_and_editors_fit_a_small_terminal_and_keep_their_keys(cn, monkeypatch, columns, lines):
    keys = [TAB, ENTER, "j", "j", "j", "j", "j", ENTER, END, ESC, TAB, "q", END, "n", "q", "y"]
    session = ScriptedSession(cn, monkeypatch, keys, columns=columns, lines=lines)
    with pytest.raises(SystemExit):
        session.run(Tiny())
    frames = session.plain_frames
    assert all(len(rows_of(frame)) < lines and max(map(len, rows_of(frame))) <= columns for frame in frames)
    assert any(frame.startswith("  Edit ") for frame in frames)  # an editor frame, fitted
    quit_pages = [frame for frame in frames if "configuring" in frame]
    assert any("[y] quit" in page for page in quit_pages)  # End reaches the answer line
    assert "Quit without configuring?" in quit_pages[-1]  # opened again: at its top; "y" still quits
    assert session.events[-1] == "exit"


# -- what the session takes from its seams ------------------------------------


@pytest.mark.parametrize("key", [None, 42, b"j", ["p"], object()], ids=["None", "int", "bytes", "list", "object"])
def test_keys_that_are_not_text_change_nothing(cn, monkeypatch, key):
    # A replaced key reader may hand out anything: a value that is no text is
    # no key the session knows, and the frame after it is the frame before it.
    session = run(cn, monkeypatch, ["j", "p", key, "p"])
    assert session.frames[3] == session.frames[2]
    assert GNV.pc.get_module_ids_to_dendrify() == []


def test_a_replaced_entry_reader_feeds_the_screen(cn, monkeypatch):
    # The entries of a replaced get_module_entries are the rows shown and the
    # rows the keys act on.
    real = cn.get_module_entries
    linear_only = lambda model: [entry for entry in real(model) if entry["type_name"] == "Linear"]  # noqa: E731
    monkeypatch.setattr(cn, "get_module_entries", linear_only)
    session = run(cn, monkeypatch, ["j", "p"])
    rows = re.findall(r"^..[!*] ██ +(\S+)  \[", plain(session.frames[-1]), re.MULTILINE)
    assert rows == [".enc.0", ".head"]
    assert GNV.pc.get_module_ids_to_dendrify() == [".head"]
