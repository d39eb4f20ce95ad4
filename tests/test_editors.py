"""The inline scalar and list editors, driven key by key."""

from __future__ import annotations

import pytest

from neuvora import globals_neuvora as GNV
from screens import styled

ESC = "\x1b"
DEL = chr(127)
DELETE = "\x1b[3~"
LEFT = "\x1b[D"
RIGHT = "\x1b[C"
ENTER = "\r"


def inverted(text):
    return f"{ESC}[7m{text}{ESC}[0m"


def press(cn, state, keys, overrides=None):
    handler = cn._handle_scalar_editor if state["kind"] == "scalar" else cn._handle_list_editor
    results = [handler(state, key, {} if overrides is None else overrides) for key in keys]
    return results[-1]


# -- scalar editor ------------------------------------------------------------------


def test_new_scalar_editor_state(cn):
    state = cn._new_scalar_editor("dendrite_learning_rate", 0.01, scope_key=None)
    assert list(state.items()) == [
        ("kind", "scalar"),
        ("setting_name", "dendrite_learning_rate"),
        ("sample_value", 0.01),
        ("input_buffer", "0.01"),
        ("cursor_index", 4),
        ("scope_key", None),
    ]


@pytest.mark.parametrize(
    "keys, buffer, cursor",
    [
        ([RIGHT], "0.01", 4),
        ([LEFT, LEFT, DEL], "001", 1),
        ([LEFT, LEFT, DELETE], "0.1", 2),
        ([LEFT] * 6, "0.01", 0),
        ([LEFT] * 6 + [DEL], "0.01", 0),
        ([DELETE], "0.01", 4),
        ([LEFT] * 4 + ["5"], "50.01", 1),
        (["\x1b[1;5D", "7"], "0.071", 4),
        (["\t", "\x00", "\x1f", "\x1b[A", "k"], "0.01k", 5),
        (["Ã", "©"], "0.01Ã©", 6),
        # Home and End in each encoding terminals send
        (["\x1b[H", "5"], "50.01", 1),
        ([LEFT, LEFT, "\x1b[F", "5"], "0.015", 5),
        (["\x1bOH", DELETE], ".01", 0),
        (["\x1b[1~", "\x1bOF", DEL], "0.0", 3),
        (["\x1b[7~", RIGHT, "\x1b[8~", "9"], "0.019", 5),
        (["\x1b[4~", "\x1b[1;5H"], "0.01", 4),  # a modified Home is not Home
    ],
)
def test_scalar_editing_keys(cn, keys, buffer, cursor):
    state = cn._new_scalar_editor("dendrite_learning_rate", 0.01, None)
    assert press(cn, state, keys) == (False, "")
    assert (state["input_buffer"], state["cursor_index"]) == (buffer, cursor)


def test_scalar_escape_drops_edit(cn):
    GNV.pc.set_dendrite_count(4)
    state = cn._new_scalar_editor("dendrite_count", 4, None)
    assert press(cn, state, ["9", ESC]) == (True, "")
    assert GNV.pc.get_dendrite_count() == 4


@pytest.mark.parametrize("enter", ["\r", "\n"])
def test_scalar_enter_writes_run_wide(cn, enter):
    state = cn._new_scalar_editor("dendrite_count", 4, None)
    assert press(cn, state, [DEL, "1", "2", enter]) == (True, "")
    assert GNV.pc.get_dendrite_count() == 12


def test_scalar_enter_writes_scope_only(cn):
    overrides = {"Conv2d": {"use_skip_weights": False}}
    state = cn._new_scalar_editor("dendrite_count", 4, scope_key="Conv2d")
    assert press(cn, state, [DEL, "8", ENTER], overrides) == (True, "")
    assert overrides == {"Conv2d": {"use_skip_weights": False, "dendrite_count": 8}}
    assert GNV.pc.get_dendrite_count() == 4


def test_scalar_invalid_value_closes_with_parser_message(cn):
    state = cn._new_scalar_editor("dendrite_count", 4, None)
    press(cn, state, [DEL, "a", "b", "c"])
    try:
        cn.parse_value_from_text("abc", 4)
    except Exception as exc:  # noqa: BLE001 - the parser's own message
        expected = str(exc)
    assert press(cn, state, [ENTER]) == (True, "Invalid value for dendrite_count: " + expected)
    assert "abc" in expected
    assert GNV.pc.get_dendrite_count() == 4


def test_scalar_refused_value_returns_message(cn):
    state = cn._new_scalar_editor("not_a_setting", 3, None)
    assert press(cn, state, [ENTER]) == (True, "Setting not_a_setting is not editable.")


@pytest.mark.parametrize("failure", [KeyError, KeyboardInterrupt])
def test_scalar_errors_of_the_configuration_object_propagate(cn, monkeypatch, failure):
    def broken(value):
        raise failure("setter failed")

    monkeypatch.setattr(GNV.pc, "set_dendrite_count", broken)
    state = cn._new_scalar_editor("dendrite_count", 4, None)
    with pytest.raises(failure):
        press(cn, state, [ENTER])


# -- persistence --------------------------------------------------------------------


def test_persist_edited_value_both_scopes(cn):
    overrides = {}
    scoped = {"scope_key": ".fc", "setting_name": "dendrite_count"}
    assert cn._persist_edited_value(scoped, overrides, 6) == ""
    assert overrides == {".fc": {"dendrite_count": 6}}
    run_wide = {"scope_key": None, "setting_name": "dendrite_count"}
    assert cn._persist_edited_value(state=run_wide, module_settings_overrides=overrides, value=9) == ""
    assert GNV.pc.get_dendrite_count() == 9
    assert overrides == {".fc": {"dendrite_count": 6}}
    refused = {"scope_key": None, "setting_name": "nope"}
    assert cn._persist_edited_value(refused, overrides, 1) == "Setting nope is not editable."


# -- list editor --------------------------------------------------------------------


def test_new_list_editor_state_copies_value(cn):
    value = [8, 16]
    state = cn._new_list_editor("candidate_widths", value, scope_key=".fc")
    assert list(state.items()) == [
        ("kind", "list"),
        ("setting_name", "candidate_widths"),
        ("values", [8, 16]),
        ("selected_index", 0),
        ("sample_type", 8),
        ("typing_active", False),
        ("edit_index", None),
        ("input_buffer", ""),
        ("cursor_index", 0),
        ("scope_key", ".fc"),
    ]
    assert state["values"] is not value
    assert cn._new_list_editor("x", [], None)["sample_type"] is None


def test_list_line_and_navigation(cn):
    state = cn._new_list_editor("candidate_widths", [1, 2], None)
    assert cn._format_list_editor_line(state) == inverted("1") + " | 2 | Add new entry | Save list and return"
    press(cn, state, [RIGHT] * 3)
    assert state["selected_index"] == 3
    assert cn._format_list_editor_line(state) == "1 | 2 | Add new entry | " + inverted("Save list and return")
    press(cn, state, [RIGHT, LEFT, LEFT])
    assert state["selected_index"] == 1
    press(cn, state, [LEFT] * 4)
    assert state["selected_index"] == 0


def test_list_add_slot_typing_and_append(cn):
    state = cn._new_list_editor("candidate_widths", [1, 2], None)
    press(cn, state, [RIGHT, RIGHT])
    assert cn._format_list_editor_line(state) == "1 | 2 | " + inverted("Add new entry") + " | Save list and return"
    press(cn, state, [" "])
    assert (state["typing_active"], state["edit_index"], state["input_buffer"], state["cursor_index"]) == (True, 2, "", 0)
    press(cn, state, ["4", " "])
    assert state["input_buffer"] == "4 "
    assert cn._format_list_editor_line(state) == "1 | 2 | 4 " + inverted(" ") + " | Save list and return"
    assert press(cn, state, [LEFT, LEFT, "2", ENTER]) == (False, "")
    assert state["values"] == [1, 2, 24]
    assert (state["selected_index"], state["typing_active"], state["edit_index"], state["input_buffer"], state["cursor_index"]) == (
        2, False, None, "", 0,
    )


def test_list_replace_uses_element_as_sample(cn):
    state = cn._new_list_editor("widths", [1.5, "name"], None)
    press(cn, state, [RIGHT, ENTER])
    assert (state["input_buffer"], state["cursor_index"], state["edit_index"]) == ("name", 4, 1)
    assert cn._format_list_editor_line(state) == "1.5 | name" + inverted(" ") + " | Add new entry | Save list and return"
    press(cn, state, [DEL] * 4 + [" ", "7", ENTER])
    assert state["values"] == [1.5, " 7"]
    press(cn, state, [LEFT, " ", DEL, DEL, DEL, "2", ENTER])
    assert state["values"] == [2.0, " 7"]
    assert state["selected_index"] == 0


def test_list_appending_to_initially_empty_list_keeps_text(cn):
    state = cn._new_list_editor("widths", [], None)
    press(cn, state, [ENTER, " ", "5", ENTER])
    assert state["values"] == [" 5"]


def test_list_invalid_entry_keeps_editor_open(cn):
    state = cn._new_list_editor("candidate_widths", [8], None)
    press(cn, state, [RIGHT, ENTER, "x"])
    done, message = press(cn, state, [ENTER])
    assert (done, state["values"], state["typing_active"], state["edit_index"], state["input_buffer"]) == (
        False, [8], False, None, "",
    )
    assert message.startswith("Invalid list entry: ") and "x" in message


def test_list_escape_in_typing_leaves_slot(cn):
    state = cn._new_list_editor("candidate_widths", [8], None)
    assert press(cn, state, [ENTER, "9", ESC]) == (False, "")
    assert (state["values"], state["typing_active"], state["edit_index"], state["input_buffer"], state["cursor_index"]) == (
        [8], False, None, "", 0,
    )
    assert press(cn, state, [ESC]) == (True, "")


@pytest.mark.parametrize("key", [DEL, DELETE])
def test_list_delete_slots(cn, key):
    state = cn._new_list_editor("candidate_widths", [1, 2, 3], None)
    press(cn, state, [RIGHT, key])
    assert (state["values"], state["selected_index"]) == ([1, 3], 1)
    press(cn, state, [key])
    assert (state["values"], state["selected_index"]) == ([1], 1)
    press(cn, state, [key, RIGHT, key])
    assert (state["values"], state["selected_index"]) == ([1], 2)


def test_list_save_slot_writes_copy_run_wide(cn):
    state = cn._new_list_editor("candidate_widths", [8, 16], None)
    press(cn, state, [DEL])
    assert press(cn, state, [RIGHT, RIGHT, " "]) == (True, "")
    stored = GNV.pc.get_candidate_widths()
    assert stored == [16] and stored is not state["values"]


def test_list_save_slot_with_scope_writes_overrides_only(cn):
    GNV.pc.set_candidate_widths([8])
    overrides = {}
    state = cn._new_list_editor("candidate_widths", [4], scope_key=".enc")
    assert press(cn, state, [RIGHT, RIGHT, ENTER], overrides) == (True, "")
    assert overrides == {".enc": {"candidate_widths": [4]}}
    assert GNV.pc.get_candidate_widths() == [8]


def test_list_navigation_ignores_other_keys(cn):
    state = cn._new_list_editor("candidate_widths", [8], None)
    before = dict(state)
    assert press(cn, state, ["a", "\t", "\x1b[A"]) == (False, "")
    assert state == before


# -- frame --------------------------------------------------------------------------


def frame(cn, capsys, state):
    assert cn._render_editor_frame(state) is None
    return capsys.readouterr().out


def test_scalar_editor_frame(cn, capsys, monkeypatch, snapshot):
    monkeypatch.setenv("COLUMNS", "200")
    state = cn._new_scalar_editor("dendrite_count", 42, None)
    cn._handle_scalar_editor(state, LEFT, {})
    assert styled(frame(cn, capsys, state)) == snapshot


def test_list_editor_frame(cn, capsys, monkeypatch, snapshot):
    monkeypatch.setenv("COLUMNS", "200")
    state = cn._new_list_editor("candidate_widths", [8], None)
    assert styled(frame(cn, capsys, state)) == snapshot


@pytest.mark.parametrize(
    "keys, buffer, cursor",
    [
        ([DEL, DEL], "1", 1),
        ([DELETE], "123", 3),
        ([LEFT, LEFT, LEFT, DEL, DELETE], "23", 0),
        ([LEFT, " "], "12 3", 3),
        ([RIGHT, "\t"], "123", 3),
    ],
)
def test_list_typing_edits_text_like_scalar(cn, keys, buffer, cursor):
    state = cn._new_list_editor("candidate_widths", [123], None)
    press(cn, state, [ENTER] + keys)
    assert (state["typing_active"], state["input_buffer"], state["cursor_index"]) == (True, buffer, cursor)
