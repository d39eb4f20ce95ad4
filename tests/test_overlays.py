"""The overlays drawn over the two screens, line by line, styling included."""

from __future__ import annotations

import re

import pytest

ESC = "\x1b"
TITLE = "E8EEEC"
SGR = re.compile(r"\x1b\[[0-9;]*m")


def rgb(hex_color):
    return ";".join(str(int(hex_color[i : i + 2], 16)) for i in (0, 2, 4))


def fg(text, hex_color):
    return f"{ESC}[38;2;{rgb(hex_color)}m{text}{ESC}[0m"


def dim(text):
    return f"{ESC}[90m{text}{ESC}[0m"


def plain(text):
    return SGR.sub("", text)


# -- stand-ins for helpers that live in other parts of the module -----------------

MODE_VERB = {"dendrified": "dendrify", "tracked": "track"}


def _mode_verb(mode):
    return MODE_VERB.get(mode, str(mode))


def _render_tab_bar(active_screen):
    targets, run = "Targets", "Run settings"
    if active_screen == "targets":
        targets = fg(targets, "D9A441")
    else:
        run = fg(run, "D9A441")
    return "[ " + targets + " │ " + run + " ]            " + dim("[Tab] switch panel    ? help")


def _get_scope_values(scope_key, module_settings_overrides, existing_module_settings):
    merged = {}
    merged.update(existing_module_settings.get(scope_key, {}))
    merged.update(module_settings_overrides.get(scope_key, {}))
    return merged


def _get_global_setting_value(setting_name):
    from neuvora import globals_neuvora as GNV

    getter = getattr(GNV.pc, "get_" + setting_name, None)
    return getter() if callable(getter) else "<unavailable>"


STANDINS = {
    "mode_verb": _mode_verb,
    "render_tab_bar": _render_tab_bar,
    "get_scope_values": _get_scope_values,
    "get_global_setting_value": _get_global_setting_value,
    "format_run_setting_value": lambda setting_name, value: str(value),
    "get_setting_description": lambda setting_name: f"No description available for {setting_name}.",
}


@pytest.fixture
def ov(cn, monkeypatch):
    for name, fn in STANDINS.items():
        if not hasattr(cn, name):
            monkeypatch.setattr(cn, name, fn, raising=False)
    return cn


# -- help, legend, quit ------------------------------------------------------------


def test_help_overlay_lines(ov):
    lines = ov.render_help_overlay()
    # The keys of the original screens, with search, n/N and Home/End added.
    assert len(lines) == 32
    assert lines[:5] == ["", "  " + fg("Keys", TITLE), "", dim("  Targets screen"), "   p / t     dendrify / track this module"]
    assert lines[7] == "   → / ←     expand / collapse a module that will be restructured (↯)"
    assert lines[11:13] == [
        "   /         find a module by id or class name (Enter keep · Esc back)",
        "   n / N     next / previous module that matches the last search",
    ]
    assert lines[14] == dim("  Run settings screen")
    assert lines[19] == dim("  Everywhere")
    assert lines[20] == "   ↑↓ / jk   move        Tab  switch panel"
    assert lines[21] == "   Home/End  first / last row; ↑↓ PgUp PgDn Home End scroll a tall page"
    assert lines[25] == dim("  Modes")
    assert lines[26] == "   " + fg("dendrify", "00A5A5") + " = dendrites are added here during training"
    assert lines[27] == "   " + fg("track", "8A95A0") + "     = no dendrites, the parameters are just counted"
    assert lines[28] == "   " + dim("↳ inherited") + " = a mode set on an ancestor applies to the whole subtree"
    assert lines[29] == "   " + dim("(see the h legend on the Targets panel for how modes resolve)")
    assert lines[30:] == ["", fg("  ? or Esc to close", "D9A441")]
    assert [i for i, line in enumerate(lines) if line == ""] == [0, 2, 13, 18, 24, 30]


def test_legend_overlay_lines(ov):
    lines = ov.render_legend_overlay()
    assert ov.render_legend_overlay.__doc__ == "Describe the Targets-screen markers and colours."
    block = "██"
    # One line beyond the marker rows for the shared-weight warning of the footer.
    assert len(lines) == 26
    assert lines[1] == "  " + fg("Targets legend", TITLE)
    assert lines[4] == "   " + fg(block, "00A5A5") + "        " + fg("dendrify", "00A5A5") + " — dendrites are added here during training"
    assert lines[5] == "   " + fg(block, "8A95A0") + "        " + fg("track", "8A95A0") + " — no dendrites, the parameters are just counted"
    assert lines[8] == "   * " + fg(block, "00A5A5") + "     mode set directly on this module (by id)"
    assert lines[9] == "     " + fg(block, "00A5A5") + "     set by type name — every module of this class"
    assert lines[10] == "   ↳ " + fg(block, "00A5A5") + "     inherited from an ancestor; applies to the whole subtree"
    assert lines[11] == "   ! " + fg(block, "FD4D00") + "     has parameters but no mode — needs attention"
    assert lines[12] == "   " + fg("⚠", "FD4D00") + "         rows share a weight but not a mode (footer and save list them)"
    assert lines[13:16] == [
        "   ↯         will be restructured for NVX before training;",
        "             target the modules inside it by type (P/T), not by id",
        "   (none)    structural container with no parameters of its own",
    ]
    assert lines[17] == dim("  Which mode wins  (highest priority first)")
    assert lines[20] == "      while the ancestor's mode is in effect"
    assert lines[23] == "   So: inherited  >  by id  >  by type."
    assert lines[24:] == ["", fg("  h or Esc to close", "D9A441")]
    assert ov.render_help_overlay.__doc__ is None and ov.render_quit_overlay.__doc__ is None


def test_quit_overlay_lines(ov):
    assert ov.render_quit_overlay() == [
        "",
        "",
        "",
        "  " + fg("Quit without configuring?", TITLE),
        "",
        dim("  Training will not start. Re-run to configure again, or set"),
        dim("  configuration_confirmed=True to skip this screen."),
        "",
        "  " + fg("[y] quit", "FD4D00") + "     " + dim("[n] keep configuring"),
    ]


@pytest.mark.parametrize("lines, text", [([], ""), (["a"], "a"), (["a", "", "b"], "a\n\nb")])
def test_static_overlay_joins_without_final_line_feed(ov, lines, text):
    assert ov.render_static_overlay(lines) == text
    assert ov.render_static_overlay(lines=lines) == text


# -- type rules ---------------------------------------------------------------------


def rules_box(ov, monkeypatch, rules):
    monkeypatch.setattr(ov, "type_rule_entries", lambda entries: list(rules), raising=False)
    return ov.render_type_rules_overlay([])


def test_type_rules_empty_box(ov, monkeypatch):
    lines = rules_box(ov, monkeypatch, [])
    row_text = "none yet — P / T on a row sets one"
    assert lines == [
        "  " + dim("┌─ Type rules " + "─" * 25 + "┐"),
        "  " + dim("│ ") + dim(row_text) + " " * (38 - len(row_text) - 1) + dim("│"),
        "  " + dim("└" + "─" * 38 + "┘"),
        "  " + fg("y or Esc to close", "D9A441"),
    ]
    assert {len(plain(line)) for line in lines[:3]} == {42}


def test_type_rules_rows_and_widening(ov, monkeypatch):
    long_name = "L" * 36  # plain row: 36 + " → dendrify  (3)" = 52 characters
    lines = rules_box(ov, monkeypatch, [("Conv2d", "tracked", 1200), (long_name, "dendrified", 3)])
    width = 54
    assert lines[0] == "  " + dim("┌─ Type rules " + "─" * (width - 13) + "┐")
    assert lines[1] == (
        "  " + dim("│ ") + "Conv2d " + fg("→ track", "8A95A0") + dim("  (1200)")
        + " " * (width - len("Conv2d → track  (1200)") - 1) + dim("│")
    )
    assert lines[2] == "  " + dim("│ ") + long_name + " " + fg("→ dendrify", "00A5A5") + dim("  (3)") + " " + dim("│")
    assert lines[3] == "  " + dim("└" + "─" * width + "┘")
    assert {len(plain(line)) for line in lines[:4]} == {width + 4}


def test_type_rules_pass_entries_and_name_unknown_modes(ov, monkeypatch):
    seen = []

    def rules(entries):
        seen.append(entries)
        return [("Odd", None, 0)]

    monkeypatch.setattr(ov, "type_rule_entries", rules, raising=False)
    entries = [{"id": ".a"}]
    lines = ov.render_type_rules_overlay(entries=entries)
    assert seen == [entries]
    assert "Odd " + fg("→ None", "000000") + dim("  (0)") in lines[1]


# -- overrides ----------------------------------------------------------------------


NAMES = ["dendrite_count", "dendrite_learning_rate", "use_skip_weights"]


def override_line(ov, name, value, selected, overridden):
    pointer = fg("> ", TITLE) if selected else "  "
    note = dim("(overridden here)" if overridden else "(from run settings)")
    return pointer + name + " = " + ov.format_run_setting_value(name, value) + "  " + note


def test_overrides_overlay_id_scope(ov, monkeypatch):
    monkeypatch.setattr(ov, "CUSTOMIZABLE_SETTING_NAMES", list(NAMES), raising=False)
    scope = {"kind": "id", "scope_key": ".encoder.fc"}
    saved = {".encoder.fc": {"dendrite_count": 2, "use_skip_weights": False}}
    session = {".encoder.fc": {"dendrite_count": 7}, ".other": {"dendrite_learning_rate": 0.5}}
    lines = ov.render_overrides_overlay(scope, 1, session, saved, "")
    assert lines == [
        ov.render_tab_bar("targets"),
        "",
        "  " + fg("Overrides — .encoder.fc", "D9A441"),
        ov.HR,
        "",
        override_line(ov, "dendrite_count", 7, False, True),
        override_line(ov, "dendrite_learning_rate", ov.get_global_setting_value("dendrite_learning_rate"), True, False),
        override_line(ov, "use_skip_weights", False, False, True),
        "",
        dim("Enter edit · h describe · ↑↓/jk move · Esc / x close"),
    ]
    assert session == {".encoder.fc": {"dendrite_count": 7}, ".other": {"dendrite_learning_rate": 0.5}}


def test_overrides_overlay_type_scope_with_description(ov, monkeypatch):
    monkeypatch.setattr(ov, "CUSTOMIZABLE_SETTING_NAMES", list(NAMES), raising=False)
    lines = ov.render_overrides_overlay(
        scope={"kind": "type", "scope_key": "Conv2d"},
        ov_selected_index=7,
        module_settings_overrides={},
        existing_module_settings={},
        describe_name="use_skip_weights",
    )
    assert lines[2] == "  " + fg("Overrides — every Conv2d", "D9A441")
    assert not any(line.startswith(fg("> ", TITLE)) for line in lines)
    assert all(line.endswith(dim("(from run settings)")) for line in lines[5:8])
    assert lines[-1] == dim("use_skip_weights — " + ov.get_setting_description("use_skip_weights"))


def test_overrides_overlay_without_customizable_settings(ov, monkeypatch):
    monkeypatch.setattr(ov, "CUSTOMIZABLE_SETTING_NAMES", [], raising=False)
    lines = ov.render_overrides_overlay({"kind": "id", "scope_key": ".x"}, 0, {}, {}, "")
    assert lines[5:] == [
        "  " + dim("No per-target settings are customizable in this build."),
        "",
        dim("Enter edit · h describe · ↑↓/jk move · Esc / x close"),
    ]
    assert len(lines) == 8


# -- save ---------------------------------------------------------------------------

SAVE_HEAD = ["", "  " + fg("Save configuration", TITLE), ""]
SAVE_TAIL = ["", "", dim("  ↑↓/jk move · Enter choose · Esc / x back to editing")]
POINTER = fg("  ▸ ", TITLE)


def save_lines(ov, monkeypatch, unset, selected, path="nvx_config.json"):
    calls = []

    def unset_entries(entries, resolved):
        calls.append((entries, resolved))
        return list(unset)

    monkeypatch.setattr(ov, "unset_module_entries", unset_entries, raising=False)
    lines = ov.render_save_overlay(["E"], {"R": 1}, selected, path)
    assert calls == [(["E"], {"R": 1})]
    return lines


def test_save_overlay_all_modules_set(ov, monkeypatch):
    assert save_lines(ov, monkeypatch, [], 1, "cfg/my.json") == SAVE_HEAD + [
        dim("  Start training with this configuration:"),
        "",
        "    just this run" + dim("  — don't touch my saved config"),
        POINTER + fg("and save it as default", TITLE) + dim("  — write it to cfg/my.json, skip this screen next time"),
        "    Keep editing",
    ] + SAVE_TAIL


@pytest.mark.parametrize("selected", [3, -1, 10])
def test_save_overlay_out_of_range_selection_marks_nothing(ov, monkeypatch, selected):
    lines = save_lines(ov, monkeypatch, [], selected)
    assert not any(POINTER in line for line in lines)
    assert lines[5] == "    just this run" + dim("  — don't touch my saved config")


def unset_entry(i):
    return {"id": f".layer{i}", "type_name": "Linear", "direct_param_count": 10}


def test_save_overlay_one_unset_module(ov, monkeypatch):
    assert save_lines(ov, monkeypatch, [unset_entry(0)], 0) == SAVE_HEAD + [
        fg("  ⚠  1 module has parameters but no mode", "FD4D00"),
        "",
        "      " + dim(".layer0   [Linear]"),
        "",
        dim("  These parameters get no dendrites and are not tracked. Usually a mistake."),
        "",
        POINTER + fg("Keep editing", TITLE),
        "    " + dim("Start anyway — I know these 1 have no mode"),
    ] + SAVE_TAIL


def test_save_overlay_lists_five_of_many(ov, monkeypatch):
    lines = save_lines(ov, monkeypatch, [unset_entry(i) for i in range(1207)], 1)
    assert lines[3] == fg("  ⚠  1207 modules have parameters but no mode", "FD4D00")
    assert lines[5:11] == ["      " + dim(f".layer{i}   [Linear]") for i in range(5)] + ["      " + dim("(+1202 more)")]
    assert lines[14:16] == ["    " + dim("Keep editing"), POINTER + fg("Start anyway — I know these 1207 have no mode", TITLE)]


@pytest.mark.parametrize("count, more", [(5, None), (7, "(+2 more)")])
def test_save_overlay_more_line(ov, monkeypatch, count, more):
    lines = save_lines(ov, monkeypatch, [unset_entry(i) for i in range(count)], 0)
    more_lines = [line for line in lines if "more)" in line]
    assert more_lines == ([] if more is None else ["      " + dim(more)])
