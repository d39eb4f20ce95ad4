"""The inline scalar and list editors, driven key by key."""

from __future__ import annotations

import pytest

from neuvora import globals_neuvora as GNV

ESC = "\x1b"
DEL = chr(127)
DELETE = "\x1b[3~"
LEFT = "\x1b[D"
RIGHT = "\x1b[C"
ENTER = "\r"


def inverted(text):
    return f"{ESC}[7m{text}{ESC}[0m"


# -- stand-ins for helpers that live in other parts of the module -----------------


def _arrow(letter):
    def predicate(key):
        if not key.startswith(ESC):
            return False
        if key in (f"{ESC}[{letter}", f"{ESC}O{letter}"):
            return True
        return key.startswith(ESC + "[") and key.endswith(letter)

    return predicate


def _is_delete_key(key):
    return key == DELETE or (key.startswith(ESC + "[") and "[3" in key and key.endswith("~"))


def _render_text_with_cursor(text, cursor_index):
    index = max(0, min(cursor_index, len(text)))
    if index == len(text):
        return text + inverted(" ")
    return text[:index] + inverted(text[index]) + text[index + 1 :]


def _parse_value_from_text(text, sample_value):
    if type(sample_value) is bool:
        lowered = text.strip().lower()
        if lowered in ("1", "true", "t", "yes", "y", "on"):
            return True
        if lowered in ("0", "false", "f", "no", "n", "off"):
            return False
        raise ValueError("Expected boolean value (true/false).")
    if isinstance(sample_value, int):
        return int(text.strip(), 10)
    if isinstance(sample_value, float):
        return float(text.strip())
    return text


def _apply_setting_value(setting_name, value):
    setter = getattr(GNV.pc, "set_" + setting_name, None)
    if setter is not None:
        setter(value)
        return True, ""
    if hasattr(GNV.pc, setting_name) and not callable(getattr(GNV.pc, setting_name)):
        setattr(GNV.pc, setting_name, value)
        return True, ""
    return False, "Setting " + setting_name + " is not editable."


def _set_module_scoped_value(module_settings_overrides, scope_key, setting_name, value):
    module_settings_overrides.setdefault(scope_key, {})[setting_name] = value


STANDINS = {
    "is_left_key": _arrow("D"),
    "is_right_key": _arrow("C"),
    "is_delete_key": _is_delete_key,
    "is_enter_key": lambda key: key in ("\r", "\n"),
    "is_select_key": lambda key: key in (" ", "\r", "\n"),
    "render_text_with_cursor": _render_text_with_cursor,
    "wrap_screen_text_for_terminal": lambda screen_text: screen_text,
    "parse_value_from_text": _parse_value_from_text,
    "apply_setting_value": _apply_setting_value,
    "set_module_scoped_value": _set_module_scoped_value,
}


@pytest.fixture
def ed(cn, monkeypatch):
    for name, fn in STANDINS.items():
        if not hasattr(cn, name):
            monkeypatch.setattr(cn, name, fn, raising=False)
    return cn


def press(ed, state, keys, overrides=None):
    handler = ed._handle_scalar_editor if state["kind"] == "scalar" else ed._handle_list_editor
    results = [handler(state, key, {} if overrides is None else overrides) for key in keys]
    return results[-1]


# -- scalar editor ------------------------------------------------------------------


def test_new_scalar_editor_state(ed):
    state = ed._new_scalar_editor("dendrite_learning_rate", 0.01, scope_key=None)
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
def test_scalar_editing_keys(ed, keys, buffer, cursor):
    state = ed._new_scalar_editor("dendrite_learning_rate", 0.01, None)
    assert press(ed, state, keys) == (False, "")
    assert (state["input_buffer"], state["cursor_index"]) == (buffer, cursor)


def test_scalar_escape_drops_edit(ed):
    GNV.pc.set_dendrite_count(4)
    state = ed._new_scalar_editor("dendrite_count", 4, None)
    assert press(ed, state, ["9", ESC]) == (True, "")
    assert GNV.pc.get_dendrite_count() == 4


@pytest.mark.parametrize("enter", ["\r", "\n"])
def test_scalar_enter_writes_run_wide(ed, enter):
    state = ed._new_scalar_editor("dendrite_count", 4, None)
    assert press(ed, state, [DEL, "1", "2", enter]) == (True, "")
    assert GNV.pc.get_dendrite_count() == 12


def test_scalar_enter_writes_scope_only(ed):
    overrides = {"Conv2d": {"use_skip_weights": False}}
    state = ed._new_scalar_editor("dendrite_count", 4, scope_key="Conv2d")
    assert press(ed, state, [DEL, "8", ENTER], overrides) == (True, "")
    assert overrides == {"Conv2d": {"use_skip_weights": False, "dendrite_count": 8}}
    assert GNV.pc.get_dendrite_count() == 4


def test_scalar_invalid_value_closes_with_parser_message(ed):
    state = ed._new_scalar_editor("dendrite_count", 4, None)
    press(ed, state, [DEL, "a", "b", "c"])
    try:
        ed.parse_value_from_text("abc", 4)
    except Exception as exc:  # noqa: BLE001 - the parser's own message
        expected = str(exc)
    assert press(ed, state, [ENTER]) == (True, "Invalid value for dendrite_count: " + expected)
    assert "abc" in expected
    assert GNV.pc.get_dendrite_count() == 4


def test_scalar_refused_value_returns_message(ed):
    state = ed._new_scalar_editor("not_a_setting", 3, None)
    assert press(ed, state, [ENTER]) == (True, "Setting not_a_setting is not editable.")


def test_scalar_persist_errors_propagate(ed, monkeypatch):
    def broken(setting_name, value):
        raise KeyError("setter failed")

    monkeypatch.setattr(ed, "apply_setting_value", broken, raising=False)
    state = ed._new_scalar_editor("dendrite_count", 4, None)
    with pytest.raises(KeyError):
        press(ed, state, [ENTER])


def test_scalar_parse_interrupt_is_not_swallowed(ed, monkeypatch):
    def interrupted(text, sample_value):
        raise KeyboardInterrupt

    monkeypatch.setattr(ed, "parse_value_from_text", interrupted, raising=False)
    state = ed._new_scalar_editor("dendrite_count", 4, None)
    with pytest.raises(KeyboardInterrupt):
        press(ed, state, [ENTER])


# -- persistence --------------------------------------------------------------------


def test_persist_edited_value_both_scopes(ed):
    overrides = {}
    scoped = {"scope_key": ".fc", "setting_name": "dendrite_count"}
    assert ed._persist_edited_value(scoped, overrides, 6) == ""
    assert overrides == {".fc": {"dendrite_count": 6}}
    run_wide = {"scope_key": None, "setting_name": "dendrite_count"}
    assert ed._persist_edited_value(state=run_wide, module_settings_overrides=overrides, value=9) == ""
    assert GNV.pc.get_dendrite_count() == 9
    assert overrides == {".fc": {"dendrite_count": 6}}
    refused = {"scope_key": None, "setting_name": "nope"}
    assert ed._persist_edited_value(refused, overrides, 1) == "Setting nope is not editable."


# -- list editor --------------------------------------------------------------------


def test_new_list_editor_state_copies_value(ed):
    value = [8, 16]
    state = ed._new_list_editor("candidate_widths", value, scope_key=".fc")
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
    assert ed._new_list_editor("x", [], None)["sample_type"] is None


def test_list_line_and_navigation(ed):
    state = ed._new_list_editor("candidate_widths", [1, 2], None)
    assert ed._format_list_editor_line(state) == inverted("1") + " | 2 | Add new entry | Save list and return"
    press(ed, state, [RIGHT] * 3)
    assert state["selected_index"] == 3
    assert ed._format_list_editor_line(state) == "1 | 2 | Add new entry | " + inverted("Save list and return")
    press(ed, state, [RIGHT, LEFT, LEFT])
    assert state["selected_index"] == 1
    press(ed, state, [LEFT] * 4)
    assert state["selected_index"] == 0


def test_list_add_slot_typing_and_append(ed):
    state = ed._new_list_editor("candidate_widths", [1, 2], None)
    press(ed, state, [RIGHT, RIGHT])
    assert ed._format_list_editor_line(state) == "1 | 2 | " + inverted("Add new entry") + " | Save list and return"
    press(ed, state, [" "])
    assert (state["typing_active"], state["edit_index"], state["input_buffer"], state["cursor_index"]) == (True, 2, "", 0)
    press(ed, state, ["4", " "])
    assert state["input_buffer"] == "4 "
    assert ed._format_list_editor_line(state) == "1 | 2 | 4 " + inverted(" ") + " | Save list and return"
    assert press(ed, state, [LEFT, LEFT, "2", ENTER]) == (False, "")
    assert state["values"] == [1, 2, 24]
    assert (state["selected_index"], state["typing_active"], state["edit_index"], state["input_buffer"], state["cursor_index"]) == (
        2, False, None, "", 0,
    )


def test_list_replace_uses_element_as_sample(ed):
    state = ed._new_list_editor("widths", [1.5, "name"], None)
    press(ed, state, [RIGHT, ENTER])
    assert (state["input_buffer"], state["cursor_index"], state["edit_index"]) == ("name", 4, 1)
    assert ed._format_list_editor_line(state) == "1.5 | name" + inverted(" ") + " | Add new entry | Save list and return"
    press(ed, state, [DEL] * 4 + [" ", "7", ENTER])
    assert state["values"] == [1.5, " 7"]
    press(ed, state, [LEFT, " ", DEL, DEL, DEL, "2", ENTER])
    assert state["values"] == [2.0, " 7"]
    assert state["selected_index"] == 0


def test_list_appending_to_initially_empty_list_keeps_text(ed):
    state = ed._new_list_editor("widths", [], None)
    press(ed, state, [ENTER, " ", "5", ENTER])
    assert state["values"] == [" 5"]


def test_list_invalid_entry_keeps_editor_open(ed):
    state = ed._new_list_editor("candidate_widths", [8], None)
    press(ed, state, [RIGHT, ENTER, "x"])
    done, message = press(ed, state, [ENTER])
    assert (done, state["values"], state["typing_active"], state["edit_index"], state["input_buffer"]) == (
        False, [8], False, None, "",
    )
    assert message.startswith("Invalid list entry: ") and "x" in message


def test_list_escape_in_typing_leaves_slot(ed):
    state = ed._new_list_editor("candidate_widths", [8], None)
    assert press(ed, state, [ENTER, "9", ESC]) == (False, "")
    assert (state["values"], state["typing_active"], state["edit_index"], state["input_buffer"], state["cursor_index"]) == (
        [8], False, None, "", 0,
    )
    assert press(ed, state, [ESC]) == (True, "")


@pytest.mark.parametrize("key", [DEL, DELETE])
def test_list_delete_slots(ed, key):
    state = ed._new_list_editor("candidate_widths", [1, 2, 3], None)
    press(ed, state, [RIGHT, key])
    assert (state["values"], state["selected_index"]) == ([1, 3], 1)
    press(ed, state, [key])
    assert (state["values"], state["selected_index"]) == ([1], 1)
    press(ed, state, [key, RIGHT, key])
    assert (state["values"], state["selected_index"]) == ([1], 2)


def test_list_save_slot_writes_copy_run_wide(ed):
    state = ed._new_list_editor("candidate_widths", [8, 16], None)
    press(ed, state, [DEL])
    assert press(ed, state, [RIGHT, RIGHT, " "]) == (True, "")
    stored = GNV.pc.get_candidate_widths()
    assert stored == [16] and stored is not state["values"]


def test_list_save_slot_with_scope_writes_overrides_only(ed):
    GNV.pc.set_candidate_widths([8])
    overrides = {}
    state = ed._new_list_editor("candidate_widths", [4], scope_key=".enc")
    assert press(ed, state, [RIGHT, RIGHT, ENTER], overrides) == (True, "")
    assert overrides == {".enc": {"candidate_widths": [4]}}
    assert GNV.pc.get_candidate_widths() == [8]


def test_list_navigation_ignores_other_keys(ed):
    state = ed._new_list_editor("candidate_widths", [8], None)
    before = dict(state)
    assert press(ed, state, ["a", "\t", "\x1b[A"]) == (False, "")
    assert state == before


# -- frame --------------------------------------------------------------------------


def frame(ed, capsys, state):
    assert ed._render_editor_frame(state) is None
    return capsys.readouterr().out


def test_scalar_editor_frame(ed, capsys, monkeypatch):
    monkeypatch.setenv("COLUMNS", "200")
    state = ed._new_scalar_editor("dendrite_count", 42, None)
    ed._handle_scalar_editor(state, LEFT, {})
    assert frame(ed, capsys, state) == (
        "\x1b[2J\x1b[H"
        + "  " + ed.color_text("Edit dendrite_count", "E8EEEC") + "\n\n"
        + "  4" + inverted("2") + "\n\n"
        + ed.dim("  Enter save · Esc cancel") + "\n"
    )


def test_list_editor_frame(ed, capsys, monkeypatch):
    monkeypatch.setenv("COLUMNS", "200")
    state = ed._new_list_editor("candidate_widths", [8], None)
    assert frame(ed, capsys, state) == (
        "\x1b[2J\x1b[H"
        + "  " + ed.color_text("Edit candidate_widths", "E8EEEC") + "\n\n"
        + "  " + inverted("8") + " | Add new entry | Save list and return\n\n"
        + ed.dim("  ←/→ move · Enter edit/select · Backspace/Delete remove · Esc cancel") + "\n"
    )


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
def test_list_typing_edits_text_like_scalar(ed, keys, buffer, cursor):
    state = ed._new_list_editor("candidate_widths", [123], None)
    press(ed, state, [ENTER] + keys)
    assert (state["typing_active"], state["input_buffer"], state["cursor_index"]) == (True, buffer, cursor)
