"""Whole sessions on the demo model in a real terminal: the Run settings
screen and its editor, every overlay, and both save options with the files they
leave in the working directory."""

from __future__ import annotations

import json
import os
import textwrap

import pytest

from e2e_support import (
    BACKSPACE,
    DEMO,
    END,
    ENTER,
    ESC,
    RIGHT,
    TAB,
    TAB_BAR,
    TARGET_KEYS_HINT,
    assert_terminal_restored,
    flat,
    reports,
    selected_row,
    session,
)

pytestmark = pytest.mark.e2e

SET_EVERY_MODE = ["p", "j", "p", "\x1b[6~", "\x1b[6~", "\x1b[6~", "p", "k", "p"]
RUN_HINT = "→ expand · ← collapse   Enter edit   h describe   ↑↓/jk move   Tab switch panel   s start"


def shown(s, key):
    """Sends a key and returns the screen rows once the redraw is complete."""
    s.send_key(key)
    s.wait_for_key_read()  # the whole frame is drawn once the next key is awaited
    s.settle(0.02)
    lines = s.screen_lines()
    while lines and not lines[-1]:
        lines.pop()
    return lines


def inverted_cells(s):
    """(row, column, character) of every cell drawn in reverse video."""
    return [
        (y, x, cell.data)
        for y, row in s.screen.buffer.items()
        for x, cell in row.items()
        if cell.reverse
    ]


def test_run_settings_overlays_and_save_as_default(tmp_path, snapshot):
    with session(tmp_path, rows=30, columns=100) as s:
        s.expect_text(TARGET_KEYS_HINT)
        assert s.screen.in_alternate and s.screen.cursor.hidden

        # Help: replaces the screen, taller than 30 rows: it starts at its top
        # and scrolls to its close hint; keys it does not use are ignored.
        lines = shown(s, "?")
        assert lines[1] == "  Keys" and lines[-1] == "  vvvv more below vvvv" and len(lines) <= 29
        assert "   p / t     dendrify / track this module" in lines
        assert not any(line.startswith(TAB_BAR) for line in lines)
        lines = shown(s, END)
        assert lines[0] == "  ^^^^ more above ^^^^" and lines[-1] == "  ? or Esc to close"
        assert shown(s, "h") == lines
        assert shown(s, "?")[0].startswith(TAB_BAR)

        # Legend: "h" or Esc closes it.
        lines = shown(s, "h")
        assert lines[1] == "  Targets legend" and lines[-1] == "  h or Esc to close"
        assert "   So: inherited  >  by id  >  by type." in lines
        assert shown(s, ESC)[0].startswith(TAB_BAR)

        # Type rules: a box inside the Targets screen, live after P.
        lines = shown(s, "y")
        assert lines[0].startswith(TAB_BAR) and any(TARGET_KEYS_HINT in line for line in lines)
        top = next(i for i, line in enumerate(lines) if "┌─ Type rules" in line)
        assert lines[top + 1].startswith("  │ none yet — P / T on a row sets one")
        assert len(lines[top]) == len(lines[top + 1]) == len(lines[top + 2]) == 42
        assert lines[top + 3] == "  y or Esc to close"
        shown(s, "y")
        shown(s, "P")  # Embedding -> dendrify, by type
        lines = shown(s, "y")
        row = next(line for line in lines if "Embedding →" in line)
        assert row.split() == ["│", "Embedding", "→", "dendrify", "(1)", "│"]
        assert "[y] type rules (1)" in flat(s)
        shown(s, ESC)

        # Quit answered no keeps the session.
        lines = shown(s, "q")
        assert "  Quit without configuring?" in lines
        assert "  [y] quit     [n] keep configuring" in lines
        assert shown(s, "n")[0].startswith(TAB_BAR)

        # Run settings.
        lines = shown(s, TAB)
        assert "\n".join(lines) == snapshot(name="run settings")
        assert lines[-1] == RUN_HINT
        lines = shown(s, RIGHT)
        assert "\n".join(lines) == snapshot(name="run settings, first bucket open")
        shown(s, "j")
        lines = shown(s, "h")
        assert lines[-1].startswith("dendrite_count — ") and RUN_HINT not in lines
        assert selected_row(lines) == ">   dendrite_count = 4"

        # The number editor replaces the whole screen.
        lines = shown(s, ENTER)
        assert "\n".join(lines) == snapshot(name="number editor")
        assert inverted_cells(s) == [(2, 3, " ")]  # the cursor after the text
        shown(s, BACKSPACE)
        lines = shown(s, "6")
        assert lines[2] == "  6"
        lines = shown(s, ENTER)
        assert selected_row(lines) == ">   dendrite_count = 6" and lines[-1] == RUN_HINT
        # Down past the divider in one key, toggle a boolean, cycle an enum.
        shown(s, "j")
        lines = shown(s, ENTER)
        assert selected_row(lines) == ">   nvx_forward_function = relu  (Enter cycles)"
        shown(s, "j")
        lines = shown(s, "j")
        assert selected_row(lines) == ">   use_skip_weights = True  (Enter toggles)"
        lines = shown(s, ENTER)
        assert selected_row(lines) == ">   use_skip_weights = False  (Enter toggles)"
        shown(s, TAB)

        # Overrides for the Embedding type: an edit and a toggle for this scope only.
        lines = shown(s, ENTER)
        assert "\n".join(lines) == snapshot(name="overrides of a class")
        assert selected_row(lines) == "> dendrite_count = 6  (from run settings)"
        assert lines[-1] == "Enter edit · h describe · ↑↓/jk move · Esc / x close"
        assert shown(s, ENTER) == ["  Edit dendrite_count", "", "  6", "", "  Enter save · Esc cancel"]
        shown(s, BACKSPACE)
        shown(s, "3")
        lines = shown(s, ENTER)
        assert selected_row(lines) == "> dendrite_count = 3  (overridden here)"
        for _ in range(3):
            shown(s, "j")
        lines = shown(s, ENTER)
        assert selected_row(lines) == "> use_skip_weights = True  (overridden here)"
        lines = shown(s, "h")
        assert lines[-1].startswith("use_skip_weights — ")
        assert shown(s, "x")[0].startswith(TAB_BAR)

        # Save as default: every module needs a mode for the three options.
        for key in SET_EVERY_MODE:
            shown(s, key)
        assert "✓ every parameter is dendrified or tracked" in flat(s)
        lines = shown(s, "s")
        assert lines[1] == "  Save configuration"
        assert "  ▸ just this run  — don't touch my saved config" in lines
        shown(s, "j")
        assert "▸ and save it as default — write it to nvx_runs/NVX/run_config.json, skip this screen next time" in flat(s)
        s.send_key(ENTER)
        s.expect_text("Config filename/path:")
        assert not s.screen.in_alternate and not s.screen.cursor.hidden
        assert s.screen_lines()[:2] == [
            "No config_file is set.",
            "Enter a local JSON filename/path to create a reusable configuration file.",
        ]
        s.type_raw("\r")
        s.expect_text("A filename is required to save a default configuration.")
        s.type_raw("cfg/default.json\r")
        assert s.expect_exit() == 0
        found = assert_terminal_restored(s)
        assert found["outcome"] == "returned" and found["confirmed"] == "True"

    default = json.loads((tmp_path / "cfg" / "default.json").read_text())
    run = json.loads((tmp_path / "nvx_runs" / "NVX" / "run_config.json").read_text())
    for document in (default, run):
        assert document["module_settings"] == {"Embedding": {"dendrite_count": 3, "use_skip_weights": True}}
        assert document["dendrite_count"] == 6 and document["use_skip_weights"] is False
        assert document["nvx_forward_function"] == "relu"
        assert document["module_names_to_dendrify"] == ["Embedding"]
        assert document["module_ids_to_dendrify"] == [".embed", ".blocks", ".head", ".norm"]
        assert document["configuration_confirmed"] is True


def test_demo_warns_of_unset_modules_then_saves_for_this_run(tmp_path, snapshot):
    with session(tmp_path, rows=24, columns=80, code=DEMO) as s:
        s.expect_text(TARGET_KEYS_HINT)
        lines = shown(s, "s")
        assert "\n".join(lines) == snapshot(name="save with unset modules")
        assert "  ▸ Keep editing" in lines
        assert shown(s, ENTER)[0].startswith(TAB_BAR)  # Keep editing

        for key in SET_EVERY_MODE[:3]:  # .embed and .blocks by id
            shown(s, key)
        shown(s, "k")
        lines = shown(s, ENTER)
        assert lines[2] == "  Overrides — .embed"
        shown(s, ENTER)
        shown(s, "7")
        assert selected_row(shown(s, ENTER)) == "> dendrite_count = 47  (overridden here)"
        shown(s, ESC)
        lines = shown(s, "S")
        assert "  ⚠  2 modules have parameters but no mode" in lines
        shown(s, "j")
        s.send_key(ENTER)  # Start anyway, for this run only
        assert s.expect_exit() == 0
        assert not s.screen.in_alternate and not s.screen.cursor.hidden
        text = s.text  # the demo's printout scrolls past one screen
        assert "Saved. Targets by id: ['.embed', '.blocks'] tracked: []" in text
        assert "== nvx_runs/NVX/run_config.json" in text

    run = json.loads((tmp_path / "nvx_runs" / "NVX" / "run_config.json").read_text())
    assert run["module_settings"] == {".embed": {"dendrite_count": 47}}
    assert run["configuration_confirmed"] is False  # written before the confirmation
    assert run["dendrite_count"] == 4
    assert sorted(p.name for p in tmp_path.iterdir()) == ["nvx_runs"]
    assert reports(s) == {}


# Every module of the model has a mode, so the save overlay offers to save as default.
PROMPT_SESSION = textwrap.dedent(
    """
    import torch.nn as nn
    from neuvora import globals_neuvora as GNV
    from neuvora.configure_neuvora import set_dendrification_targets
    GNV.pc.set_module_names_to_dendrify(["Linear"])
    set_dendrification_targets(nn.Sequential(nn.Linear(2, 2), nn.Linear(2, 2)))
    print("@@config_file", GNV.pc.get_config_file(), flush=True)
    """
)


def test_prompt_refuses_paths_until_one_can_be_written(tmp_path, snapshot):
    (tmp_path / "broken.json").write_text("{broken")
    with session(tmp_path, code=PROMPT_SESSION) as s:
        s.expect_text(TARGET_KEYS_HINT)
        shown(s, "s")
        shown(s, "j")
        s.send_key(ENTER)
        s.expect_text("Config filename/path:")
        for count, answer in enumerate([ESC + "\r", "broken.json\r"], start=2):
            s.type_raw(answer)
            s.wait_until(lambda: s.screen_text().count("Config filename/path:") == count, f"prompt {count}")
        s.settle(0.05)
        assert s.screen_text() == snapshot(name="prompt after two refused paths")
        s.type_raw("good.json\r")
        assert s.expect_exit() == 0
        assert reports(s)["config_file"] == "good.json"
    assert (tmp_path / "broken.json").read_text() == "{broken"
    assert json.loads((tmp_path / "good.json").read_text())["configuration_confirmed"] is True
    assert sorted(os.listdir(tmp_path)) == ["broken.json", "good.json", "nvx_runs"]
