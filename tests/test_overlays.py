"""The overlays drawn over the two screens, line by line, styling included.
Whole overlays are kept as snapshots (see screens.py)."""

from __future__ import annotations

import pytest
import torch
from torch import nn

from neuvora import globals_neuvora as GNV
from screens import plain, styled

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
    # The keys of the original screens, with search, n/N and Home/End added.
    assert styled(lines) == snapshot
    assert len(lines) == 32
    assert [i for i, line in enumerate(lines) if line == ""] == [0, 2, 13, 18, 24, 30]


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
