"""The overlays drawn over the two screens, line by line, styling included.
Whole overlays are kept as snapshots (see screens.py)."""

from __future__ import annotations

import pytest
import torch
from torch import nn

from neuvora import globals_neuvora as GNV
from screens import plain, styled
from scripted import BACKSPACE, DELETE, DOWN, ENTER, ESC, LEFT, RIGHT, TAB, UP, ScriptedSession

HOME, END = "\x1b[H", "\x1b[F"

POINTER = "⟨#E8EEEC⟩  ▸ ⟨/⟩"


def entry(module_id, type_name="Linear", own=10):
    module = nn.Module()
    module.weight = nn.Parameter(torch.zeros(own))
    return {
        "id": module_id, "name": module_id[1:], "type_name": type_name, "module": module, "depth": 0,
        "direct_param_count": own, "tree_param_count": own,
        "is_replaced_root": False, "replaced_root": None, "in_replaced": False,
    }


def unresolved(entries):
    return {e["id"]: {"eff": None, "source": None, "origin_id": e["id"], "overridden": None} for e in entries}


# -- help, legend, quit ------------------------------------------------------------


def test_help_overlay_lines(cn, snapshot):
    lines = cn.render_help_overlay()
    # The key reference as originally laid out: the keys added since are the session's.
    assert styled(lines) == snapshot
    assert len(lines) == 29
    assert [i for i, line in enumerate(lines) if line == ""] == [0, 2, 11, 16, 21, 27]


def keys_model():
    """Entries: .enc .enc.0 .enc.1 .attn (restructured) .attn.out_proj .head"""
    model = nn.Module()
    model.enc = nn.Sequential(nn.Linear(4, 4), nn.ReLU())
    model.attn = nn.MultiheadAttention(4, 1)
    model.head = nn.Linear(4, 2)
    return model


def session_frames(cn, monkeypatch, keys, lines=40):
    session = ScriptedSession(cn, monkeypatch, keys, lines=lines, interrupt_when_done=True)
    with pytest.raises(SystemExit):
        session.run(keys_model())
    return session.plain_frames


# The rows the session's key reference adds to the original one, after the line they follow.
ADDED_HELP_ROWS = {
    "   Enter     open Overrides for a dendrified module": [
        "   /         find a module by id or class name (Enter keep · Esc back)",
        "   n / N     next / previous module that matches the last search",
    ],
    "   ↑↓ / jk   move        Tab  switch panel": [
        "   Home/End  first / last row; ↑↓ PgUp PgDn Home End scroll a tall page",
    ],
    "   (see the h legend on the Targets panel for how modes resolve)": [
        "",
        "  Editing",
        "   u         undo the last rule change (p t P T x)     Ctrl-R  redo it",
        "   !         jump to the next module that needs a mode",
        "   Del / ⌫   in Overrides: remove this scope's value of a setting",
        "   Home/End  in a number editor: cursor to the start / end",
    ],
}


def test_session_help_page_is_the_reference_with_the_added_rows(cn, monkeypatch, snapshot):
    page = session_frames(cn, monkeypatch, ["?"])[-1].splitlines()
    assert page == snapshot
    expected = []
    for line in (plain(line) for line in cn.render_help_overlay()):
        expected += [line, *ADDED_HELP_ROWS.get(line, [])]
    assert page == expected


def selected(frame):
    return next(line for line in frame.splitlines() if line.startswith("> "))


def status(frame):
    return frame.splitlines()[-1].strip()


def rules():
    p = GNV.pc
    return (p.get_module_ids_to_dendrify(), p.get_module_ids_to_track(), p.get_module_names_to_dendrify(),
            p.get_module_names_to_track())


# Each key row of the session's key reference, and what its keys do in a session.
HELP_ROW_KEYS = {
    "p / t": [
        (["j", "p"], lambda f: rules() == ([".enc.0"], [], [], [])),
        (["j", "t"], lambda f: rules() == ([], [".enc.0"], [], [])),
    ],
    "P / T": [
        (["j", "P"], lambda f: rules() == ([], [], ["Linear"], [])),
        (["j", "T"], lambda f: rules() == ([], [], [], ["Linear"])),
    ],
    "x": [(["j", "p", "x"], lambda f: rules() == ([], [], [], []) and status(f[-1]) == "cleared .enc.0")],
    "→ / ←": [
        (["j", "j", "j", RIGHT], lambda f: ".attn.out_proj" in f[-1]),
        (["j", "j", "j", RIGHT, LEFT], lambda f: ".attn.out_proj" not in f[-1] and ".attn.out_proj" in f[-2]),
        ([TAB, RIGHT, LEFT], lambda f: len(f[-2].splitlines()) > len(f[-1].splitlines()) == len(f[-3].splitlines())),
    ],
    "y": [(["y", "y"], lambda f: "Type rules" in f[-2] and "Type rules" not in f[-1])],
    "h": [
        (["h"], lambda f: "Targets legend" in f[-1]),
        ([TAB, ENTER, "j", "h", "h"], lambda f: "dendrite_count \u2014" in f[-2] and "dendrite_count \u2014" not in f[-1]),
    ],
    "Enter": [
        (["j", "p", ENTER], lambda f: "Overrides \u2014 .enc.0" in f[-1]),
        ([TAB, ENTER, "j", ENTER], lambda f: f[-1].startswith("  Edit dendrite_count")),
    ],
    "/": [
        (["/", *"relu", ENTER], lambda f: ".enc.1" in selected(f[-1]) and status(f[-1]) == "match 1 of 1 for 'relu'"),
        (["j", "/", *"relu", ESC], lambda f: ".enc.0" in selected(f[-1]) and ".enc.1" in selected(f[-2])),
    ],
    "n / N": [
        (["/", *"lin", ENTER, "n"], lambda f: ".attn.out_proj" in selected(f[-1]) and status(f[-1]) == "match 2 of 3 for 'lin'"),
        (["/", *"lin", ENTER, "N"], lambda f: ".head" in selected(f[-1]) and status(f[-1]) == "match 3 of 3 for 'lin'"),
    ],
    "↑↓ / jk": [
        (["j", DOWN, "k"], lambda f: ".enc.0" in selected(f[-1])),
        ([DOWN, DOWN, UP], lambda f: ".enc.0" in selected(f[-1])),
        ([TAB], lambda f: selected(f[-1]).startswith("> \u25b8 ")),  # a bucket of the Run settings
    ],
    "Home/End": [
        ([END, HOME], lambda f: ".head" in selected(f[-2]) and ".enc " in selected(f[-1])),
        ([TAB, ENTER, "j", ENTER, HOME, "1", END, "2", ENTER], lambda f: GNV.pc.get_dendrite_count() == 142),
    ],
    "s": [(["s"], lambda f: "Save configuration" in f[-1])],
    "q": [(["q"], lambda f: "Quit without configuring?" in f[-1])],
    "u": [
        (["j", "p", "u"], lambda f: rules() == ([], [], [], []) and status(f[-1]) == "undid: dendrify .enc.0"),
        (["j", "p", "u", "\x12"], lambda f: rules() == ([".enc.0"], [], [], [])),
    ],
    "!": [(["!"], lambda f: status(f[-1]).startswith("1 of ") and ".enc.0" in selected(f[-1]))],
    "Del / ⌫": [
        (["j", "p", ENTER, ENTER, "9", ENTER, DELETE], lambda f: "dendrite_count override removed here." in f[-1]),
        (["j", "p", ENTER, ENTER, "9", ENTER, BACKSPACE], lambda f: "dendrite_count override removed here." in f[-1]),
    ],
}


def help_row_keys(page):
    """The keys column of every key row: the rows of each section but the modes."""
    keys, section = set(), None
    for line in page:
        if line.startswith("  ") and not line.startswith("   "):
            section = line.strip()
        elif line.startswith("   ") and section != "Modes":
            keys.add(line[3:13].strip())
    return keys


def test_every_row_of_the_key_reference_is_checked(cn, monkeypatch):
    page = session_frames(cn, monkeypatch, ["?"])[-1].splitlines()
    assert help_row_keys(page) == set(HELP_ROW_KEYS)


@pytest.mark.parametrize(
    "keys, check",
    [case for cases in HELP_ROW_KEYS.values() for case in cases],
    ids=[f"{row} {i}" for row, cases in HELP_ROW_KEYS.items() for i in range(len(cases))],
)
def test_every_key_of_the_key_reference_does_what_it_says(cn, monkeypatch, keys, check):
    frames = session_frames(cn, monkeypatch, keys)
    assert check(frames)


def test_a_tall_key_reference_scrolls(cn, monkeypatch):
    frames = session_frames(cn, monkeypatch, ["?", END, HOME, DOWN], lines=20)
    assert frames[1].splitlines()[1].strip() == "Keys" and "vvvv more below vvvv" in frames[1]
    assert frames[2].splitlines()[-1] == "  ? or Esc to close" and "^^^^ more above ^^^^" in frames[2]
    assert frames[3] == frames[1]
    assert frames[4] != frames[1] and "^^^^ more above ^^^^" in frames[4]


def test_legend_overlay_lines(cn, snapshot):
    lines = cn.render_legend_overlay()
    assert cn.render_legend_overlay.__doc__ == "Describe the Targets-screen markers and colours."
    # One line beyond the marker rows for the shared-weight warning of the footer.
    assert styled(lines) == snapshot
    assert len(lines) == 26
    assert cn.render_help_overlay.__doc__ is None and cn.render_quit_overlay.__doc__ is None


def test_quit_overlay_lines(cn, snapshot):
    assert styled(cn.render_quit_overlay()) == snapshot


@pytest.mark.parametrize("lines, text", [([], ""), (["a"], "a"), (["a", "", "b"], "a\n\nb")])
def test_static_overlay_joins_without_final_line_feed(cn, lines, text):
    assert cn.render_static_overlay(lines) == text
    assert cn.render_static_overlay(lines=lines) == text


# -- type rules ---------------------------------------------------------------------


def rules_box(cn, dendrify=(), track=(), entries=()):
    GNV.pc.set_module_names_to_dendrify(list(dendrify))
    GNV.pc.set_module_names_to_track(list(track))
    return cn.render_type_rules_overlay(list(entries))


def test_type_rules_empty_box(cn, snapshot):
    lines = rules_box(cn)
    assert styled(lines) == snapshot
    assert {len(plain(line)) for line in lines[:3]} == {42}


def test_type_rules_rows_and_widening(cn, snapshot):
    long_name = "L" * 36  # plain row: 36 + " → dendrify  (3)" = 52 characters
    entries = [entry(f".c{i}", "Conv2d") for i in range(1200)] + [entry(f".l{i}", long_name) for i in range(3)]
    lines = rules_box(cn, dendrify=[long_name], track=["Conv2d"], entries=entries)
    assert styled(lines) == snapshot
    assert {len(plain(line)) for line in lines[:4]} == {54 + 4}


# -- overrides ----------------------------------------------------------------------


NAMES = ["dendrite_count", "dendrite_learning_rate", "use_skip_weights"]


@pytest.fixture
def three_settings(cn, monkeypatch):
    monkeypatch.setattr(cn, "CUSTOMIZABLE_SETTING_NAMES", list(NAMES))


def test_overrides_overlay_id_scope(cn, three_settings, snapshot):
    scope = {"kind": "id", "scope_key": ".encoder.fc"}
    saved = {".encoder.fc": {"dendrite_count": 2, "use_skip_weights": False}}
    session = {".encoder.fc": {"dendrite_count": 7}, ".other": {"dendrite_learning_rate": 0.5}}
    lines = cn.render_overrides_overlay(scope, 1, session, saved, "")
    assert styled(lines) == snapshot
    assert lines[0] == cn.render_tab_bar("targets")
    assert session == {".encoder.fc": {"dendrite_count": 7}, ".other": {"dendrite_learning_rate": 0.5}}


def test_overrides_overlay_type_scope_with_description(cn, three_settings, snapshot):
    lines = cn.render_overrides_overlay(
        scope={"kind": "type", "scope_key": "Conv2d"},
        ov_selected_index=7,
        module_settings_overrides={},
        existing_module_settings={},
        describe_name="use_skip_weights",
    )
    assert styled(lines) == snapshot
    assert not any(plain(line).startswith("> ") for line in lines)


def test_overrides_overlay_without_customizable_settings(cn, monkeypatch, snapshot):
    monkeypatch.setattr(cn, "CUSTOMIZABLE_SETTING_NAMES", [])
    lines = cn.render_overrides_overlay({"kind": "id", "scope_key": ".x"}, 0, {}, {}, "")
    assert styled(lines[5:]) == snapshot
    assert len(lines) == 8


# -- save ---------------------------------------------------------------------------


def save_lines(cn, unset, selected, path="nvx_config.json"):
    entries = [entry(f".layer{i}") for i in range(unset)]
    return cn.render_save_overlay(entries, unresolved(entries), selected, path)


def test_save_overlay_all_modules_set(cn, snapshot):
    assert styled(save_lines(cn, 0, 1, "cfg/my.json")) == snapshot


@pytest.mark.parametrize("selected", [3, -1, 10])
def test_save_overlay_out_of_range_selection_marks_nothing(cn, selected):
    lines = save_lines(cn, 0, selected)
    assert not any(POINTER in styled(line) for line in lines)
    assert styled(lines[5]) == "    just this run⟨dim⟩  — don't touch my saved config⟨/⟩"


def test_save_overlay_one_unset_module(cn, snapshot):
    assert styled(save_lines(cn, 1, 0)) == snapshot


def test_save_overlay_lists_five_of_many(cn, snapshot):
    lines = save_lines(cn, 1207, 1)
    assert styled(lines) == snapshot
    assert plain(lines[10]) == "      (+1202 more)"


@pytest.mark.parametrize("count, more", [(5, None), (7, "(+2 more)")])
def test_save_overlay_more_line(cn, count, more):
    lines = save_lines(cn, count, 0)
    more_lines = [styled(line) for line in lines if "more)" in line]
    assert more_lines == ([] if more is None else ["      ⟨dim⟩" + more + "⟨/⟩"])


@pytest.mark.parametrize("selected, pointed", [(True, 1), (1.0, 1), (None, None), (-1, None)])
def test_overrides_overlay_selection_compared_as_the_interpreter_does(cn, three_settings, selected, pointed):
    lines = cn.render_overrides_overlay({"kind": "id", "scope_key": ".a"}, selected, {}, {}, "")
    assert [plain(line).startswith("> ") for line in lines[5:8]] == [i == pointed for i in range(3)]


def test_overrides_overlay_odd_scopes_and_maps(cn, three_settings):
    lines = cn.render_overrides_overlay({"kind": 5, "scope_key": 3}, 0, {3: [("dendrite_count", 9)]}, {}, 3)
    assert plain(lines[2]) == "  Overrides — every 3"
    assert plain(lines[5]) == "> dendrite_count = 9  (overridden here)"
    assert plain(lines[-1]) == "3 — No description available for 3."
    removed = {".a": {"dendrite_count": cn.REMOVED_OVERRIDE}}
    lines = cn.render_overrides_overlay({"kind": "id", "scope_key": ".a"}, 0, removed, {".a": {"dendrite_count": 2}}, None)
    assert plain(lines[5]) == "> dendrite_count = 4  (from run settings)"
    for scope, error in [({"scope_key": ".a"}, KeyError), ({"kind": "id"}, KeyError), (None, TypeError)]:
        with pytest.raises(error):
            cn.render_overrides_overlay(scope, 0, {}, {}, "")
