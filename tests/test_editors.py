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


# -- states the caller changed or built by hand -------------------------------------
# The handlers read only what a key needs, in the order they need it: a missing
# field fails with its KeyError exactly when the key reaches for it.


def scalar_state(cn, **fields):
    return dict(cn._new_scalar_editor("dendrite_count", 4, None), **fields)


def list_state(cn, values=(1, 2), **fields):
    return dict(cn._new_list_editor("candidate_widths", list(values), None), **fields)


TYPING = {"typing_active": True, "edit_index": 2, "input_buffer": "5", "cursor_index": 1}


@pytest.mark.parametrize(
    "missing, key, fails",
    [
        ("input_buffer", ESC, False),
        ("input_buffer", LEFT, True),
        ("cursor_index", "\x1b[H", True),
        ("cursor_index", DEL, True),
        ("cursor_index", ENTER, False),  # Enter reads the text, not the cursor
        ("sample_value", "x", False),
        ("sample_value", ENTER, True),
        ("setting_name", DELETE, False),
        ("setting_name", ENTER, True),  # needed to write the value
        ("scope_key", ENTER, True),
        ("kind", ENTER, False),
    ],
)
def test_scalar_reads_a_field_only_when_the_key_needs_it(cn, missing, key, fails):
    state = scalar_state(cn)
    del state[missing]
    if fails:
        with pytest.raises(KeyError, match=missing):
            cn._handle_scalar_editor(state, key, {})
    else:
        cn._handle_scalar_editor(state, key, {})


LIST_KEYS = [ESC, RIGHT, LEFT, " ", ENTER, DEL, "a"]
TEXT_KEYS = [RIGHT, LEFT, " ", DEL, "a"]


@pytest.mark.parametrize(
    "missing, navigating, typing",
    [
        # the keys that reach for the field, in navigation and while typing
        ("typing_active", LIST_KEYS, LIST_KEYS),
        ("values", LIST_KEYS[1:], [ENTER]),
        ("selected_index", LIST_KEYS[1:], []),
        ("edit_index", [], [ENTER]),
        ("input_buffer", [], TEXT_KEYS + [ENTER]),
        ("cursor_index", [], TEXT_KEYS),
        ("sample_type", [], [ENTER]),
    ],
)
def test_list_reads_a_field_only_when_the_key_needs_it(cn, missing, navigating, typing):
    for fields, failing in (({}, navigating), (TYPING, typing)):
        for key in LIST_KEYS:
            state = list_state(cn, **fields)
            del state[missing]
            if key in failing:
                with pytest.raises(KeyError, match=missing):
                    cn._handle_list_editor(state, key, {})
            else:
                cn._handle_list_editor(state, key, {})


@pytest.mark.parametrize(
    "field, value, error",
    [("input_buffer", 5, TypeError), ("cursor_index", None, RuntimeError), ("selected_index", "1", RuntimeError)],
)
def test_list_field_of_the_wrong_type_fails_only_where_it_is_read(cn, field, value, error):
    needs = {"input_buffer": True, "cursor_index": True, "selected_index": False}[field]
    for typing in (False, True):
        state = list_state(cn, **dict(TYPING if typing else {}, **{field: value}))
        if typing == needs:
            with pytest.raises(error):
                cn._handle_list_editor(state, LEFT, {})
        else:
            assert cn._handle_list_editor(state, LEFT, {}) == (False, "")
            assert state[field] == value


@pytest.mark.parametrize(
    "cursor, key, buffer, after",
    [
        (-3, LEFT, "4", 0),
        (-3, RIGHT, "4", -2),
        (-3, DEL, "4", -3),
        (-3, "z", "z4", -2),
        (99, LEFT, "4", 98),
        (99, RIGHT, "4", 1),
        (99, DEL, "4", 98),
        (99, DELETE, "4", 99),
        (99, "z", "4z", 100),
        (99, "\x1b[H", "4", 0),
        (True, DEL, "", 0),
    ],
)
def test_scalar_cursor_outside_the_text(cn, cursor, key, buffer, after):
    state = scalar_state(cn, cursor_index=cursor)
    assert press(cn, state, [key]) == (False, "")
    assert (state["input_buffer"], state["cursor_index"]) == (buffer, after)


@pytest.mark.parametrize("cursor", [1.5, None, "1", 2**70])
def test_scalar_cursor_that_is_no_index(cn, cursor):
    with pytest.raises(RuntimeError, match="Unable to cast"):
        press(cn, scalar_state(cn, cursor_index=cursor), [LEFT])


@pytest.mark.parametrize(
    "selected, key, values, after",
    [
        (-1, LEFT, [1, 2], {"selected_index": 0}),
        (-5, RIGHT, [1, 2], {"selected_index": -4}),
        (5, LEFT, [1, 2], {"selected_index": 4}),
        (5, RIGHT, [1, 2], {"selected_index": 3}),
        (-1, DEL, [1], {"selected_index": -1}),  # the last element, as values[-1]
        (5, DEL, [1, 2], {"selected_index": 5}),
        (True, DELETE, [1], {"selected_index": True}),  # kept as it was
        (-1, " ", [1, 2], {"typing_active": True, "edit_index": -1, "input_buffer": "2", "cursor_index": 1}),
        (5, " ", [1, 2], {"typing_active": True, "edit_index": 5, "input_buffer": "", "cursor_index": 0}),
    ],
)
def test_list_selection_outside_the_slots(cn, selected, key, values, after):
    state = list_state(cn, selected_index=selected)
    assert press(cn, state, [key]) == (False, "")
    assert state["values"] == values
    assert {name: state[name] for name in after} == after
    assert [type(state[name]) for name in after] == [type(value) for value in after.values()]


@pytest.mark.parametrize("key, error", [(DEL, "list assignment index out of range"), (" ", "list index out of range")])
def test_list_selection_before_the_first_slot(cn, key, error):
    state = list_state(cn, selected_index=-5)
    with pytest.raises(IndexError, match=error):
        press(cn, state, [key])
    assert state["values"] == [1, 2]


@pytest.mark.parametrize(
    "edit_index, values, selected, line",
    [
        (-1, [1, 7], -1, "1 | 2 | Add new entry | Save list and return"),
        (5, [1, 2, 7], 2, "1 | 2 | Add new entry | Save list and return"),
        (None, [1, 2, 7], 2, "1 | 2 | Add new entry | Save list and return"),
        (2, [1, 2, 7], 2, "1 | 2 | 7" + inverted(" ") + " | Save list and return"),
    ],
)
def test_list_commit_into_odd_slots(cn, edit_index, values, selected, line):
    state = list_state(cn, **dict(TYPING, edit_index=edit_index, input_buffer="7"))
    assert cn._format_list_editor_line(state) == line
    assert press(cn, state, [ENTER]) == (False, "")
    assert (state["values"], state["selected_index"], state["typing_active"], state["edit_index"]) == (
        values, selected, False, None,
    )
    with pytest.raises(IndexError, match="list index out of range"):
        press(cn, list_state(cn, **dict(TYPING, edit_index=-5)), [ENTER])


def test_list_of_a_tuple_is_read_but_cannot_be_changed(cn):
    state = list_state(cn)
    state["values"] = (1, 2)
    assert press(cn, state, [RIGHT]) == (False, "") and state["selected_index"] == 1
    with pytest.raises(TypeError, match="doesn't support item deletion"):
        press(cn, state, [DEL])
    overrides = {}
    state["scope_key"] = ".a"
    assert press(cn, state, [RIGHT, RIGHT, ENTER], overrides) == (True, "")
    assert overrides == {".a": {"candidate_widths": [1, 2]}}  # a list, copied


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


def test_element_without_text_fails_only_where_it_is_shown(cn):
    state = cn._new_list_editor("widths", [Unprintable(), 2], None)
    assert press(cn, state, [RIGHT, LEFT]) == (False, "")
    with pytest.raises(ValueError, match="no text"):
        cn._format_list_editor_line(state)
    with pytest.raises(ValueError, match="no text"):
        press(cn, state, [" "])


class EqualsEscape:
    def __eq__(self, other):
        return other == ESC

    __hash__ = None


@pytest.mark.parametrize("key, error", [(None, AttributeError), (5, AttributeError), (b"\x1b", TypeError)])
def test_key_that_is_not_text(cn, key, error):
    for state in (scalar_state(cn), list_state(cn), list_state(cn, **TYPING)):
        with pytest.raises(error):
            press(cn, state, [key])
    assert press(cn, scalar_state(cn), [EqualsEscape()]) == (True, "")


def test_scope_key_that_is_false_but_not_none(cn):
    overrides = {}
    assert press(cn, scalar_state(cn, scope_key=""), [ENTER], overrides) == (True, "")
    assert overrides == {"": {"dendrite_count": 4}}


def test_typing_flag_is_read_for_its_truth(cn):
    state = list_state(cn, **dict(TYPING, typing_active="yes"))
    assert press(cn, state, [ESC]) == (False, "")
    assert (state["typing_active"], state["edit_index"], state["input_buffer"]) == (False, None, "")
    state = list_state(cn, typing_active=0)
    assert press(cn, state, [ESC]) == (True, "")


def test_message_names_a_setting_that_is_not_text(cn):
    state = scalar_state(cn, setting_name=7, input_buffer="zz")
    assert press(cn, state, [ENTER]) == (True, "Invalid value for 7: invalid literal for int() with base 10: 'zz'")


@pytest.mark.parametrize(
    "state, error",
    [({}, "scope_key"), ({"scope_key": ".a"}, "setting_name"), ({"setting_name": "dendrite_count"}, "scope_key")],
)
def test_persist_reads_the_scope_first(cn, state, error):
    with pytest.raises(KeyError, match=error):
        cn._persist_edited_value(state, {}, 1)


def test_new_editors_from_odd_values(cn):
    state = cn._new_list_editor("x", (i for i in range(3)), None)
    assert state["values"] == [0, 1, 2] and state["sample_type"] == 0
    element = Unprintable()
    assert cn._new_list_editor("x", [element], None)["values"][0] is element
    with pytest.raises(TypeError, match="not iterable"):
        cn._new_list_editor("x", 5, None)
    with pytest.raises(ValueError, match="no text"):
        cn._new_scalar_editor("x", Unprintable(), None)


def test_frame_of_an_editor_of_another_kind_is_the_list_frame(cn, capsys):
    state = dict(cn._new_list_editor("candidate_widths", [1], None), kind="other")
    assert cn._render_editor_frame(state) is None
    assert "Save list and return" in capsys.readouterr().out
    with pytest.raises(KeyError, match="input_buffer"):
        cn._render_editor_frame({"kind": "scalar", "setting_name": "x"})
