"""The Targets screen of the demo model as a user sees it in a real terminal:
the tree with its markers, the status and budget lines, scrolling a tree taller
than the terminal, the rule keys and the refusals."""

from __future__ import annotations

import re

import pytest

from e2e_support import (
    DEMO,
    END,
    ENTER,
    HOME,
    LEFT,
    PAGE_DOWN,
    PAGE_UP,
    RIGHT,
    TAB_BAR,
    TARGET_KEYS_HINT,
    assert_terminal_restored,
    flat,
    reports,
    session,
    target_rows,
)

pytestmark = pytest.mark.e2e

REPLACED_ROOT_IDS = {".blocks.0.attn", ".blocks.1.attn", ".blocks.2.attn"}


def demo_visible_ids():
    from neuvora.demo import build_demo_model

    ids = ["." + name for name, _ in build_demo_model().named_modules() if name]
    return [i for i in ids if not any(i.startswith(root + ".") for root in REPLACED_ROOT_IDS)]


def budget(s) -> str:
    match = re.search(r"Dendrification budget: \+(\S+) params per dendrite cycle · model (\S+)", flat(s))
    assert match, s.describe()
    return match.group(1)


def needing_mode(s) -> int:
    match = re.search(r"⚠ (\d+) modules? still needs? a mode", flat(s))
    assert match, s.describe()
    return int(match.group(1))


def selected_id(s) -> str:
    lines = s.screen_lines()
    chosen = [line for line in lines if line.startswith("> ")]
    assert len(chosen) == 1, s.describe()
    match = re.search(r"(\.[\w.]+)  \[", chosen[0])
    assert match, s.describe()
    return match.group(1)


def frame_after(s, key):
    s.send_key(key)
    s.wait_for_key_read()  # the whole frame is drawn once the next key is awaited
    s.settle(0.02)
    lines = s.screen_lines()
    while lines and not lines[-1]:
        lines.pop()
    return lines


def test_targets_screen_scrolls_marks_and_refuses(tmp_path, snapshot):
    ids = demo_visible_ids()
    with session(tmp_path, code=DEMO, rows=24, columns=80) as s:
        s.expect_text(TARGET_KEYS_HINT)
        s.wait_for_key_read()
        s.settle(0.02)
        lines = s.screen_lines()
        assert "\n".join(lines) == snapshot(name="first frame")
        assert lines[4].index("[y]") == 58
        assert budget(s) == "0"
        rows = target_rows(lines)
        assert rows[".embed"] == (True, "!██", "> ! ██ .embed [Embedding] needs a mode params=64K")
        assert rows[".blocks"][1:] == ("", ".blocks [ModuleList]")
        assert "↯ .blocks.0.attn [MultiheadAttention] will be restructured for NVX before training" in flat(s)
        assert "  vvvv more below vvvv" in lines and "  ^^^^ more above ^^^^" not in lines

        # Down through the whole tree and back: header and footer stay, the
        # selection is always on screen, the window scrolls only as needed.
        walk = list(range(1, len(ids))) + [len(ids) - 1] * 2
        for expected in walk:
            lines = frame_after(s, "j")
            assert lines[0].startswith(TAB_BAR), s.describe()
            assert lines[-2].startswith(TARGET_KEYS_HINT) and lines[-1] == "move   s start", s.describe()
            assert selected_id(s) == ids[expected]
        assert "  ^^^^ more above ^^^^" in lines and "  vvvv more below vvvv" not in lines
        for expected in range(len(ids) - 2, len(ids) - 12, -1):
            frame_after(s, "k")
            assert selected_id(s) == ids[expected]
        for _ in range(3):
            lines = frame_after(s, PAGE_UP)
            assert lines[0].startswith(TAB_BAR)
        assert selected_id(s) == ".embed"
        assert "  ^^^^ more above ^^^^" not in lines
        frame_after(s, PAGE_DOWN)
        assert selected_id(s) == ids[10]
        for _ in range(3):
            frame_after(s, PAGE_UP)

        # p / t / x by id on .embed.
        lines = frame_after(s, "p")
        assert target_rows(lines)[".embed"][1:] == ("*██", "> * ██ .embed [Embedding] mode=dendrify params=64K")
        assert needing_mode(s) == 14
        dendrified_budget = budget(s)
        assert dendrified_budget != "0"
        lines = frame_after(s, "t")
        assert target_rows(lines)[".embed"][1:] == ("*██", "> * ██ .embed [Embedding] mode=track params=64K")
        assert needing_mode(s) == 14 and budget(s) == "0"
        lines = frame_after(s, "x")
        assert target_rows(lines)[".embed"][1] == "!██"
        assert flat(s).endswith("s start cleared .embed")
        assert needing_mode(s) == 15

        # P / T / x by type on a Linear row: every Linear module follows.
        up = ids.index(".blocks.0.mlp.up")
        for _ in range(up):
            frame_after(s, "j")
        frame_after(s, "P")
        frame_after(s, "j")
        lines = frame_after(s, "j")
        rows = target_rows(lines)
        linear = [key for key in rows if key.endswith((".up", ".down"))]
        assert len(linear) >= 2
        for key in linear:
            assert rows[key][1] == "██" and "mode=dendrify" in rows[key][2], s.describe()
        assert "[y] type rules (1)" in flat(s)
        assert needing_mode(s) == 8
        assert budget(s) not in ("0", dendrified_budget)
        lines = frame_after(s, "T")
        assert all("mode=track" in target_rows(lines)[key][2] for key in linear)
        assert needing_mode(s) == 8 and budget(s) == "0"
        frame_after(s, "k")
        frame_after(s, "k")

        # An id rule on a container is inherited by its subtree and beats the type rule.
        for _ in range(up - ids.index(".blocks.0")):
            frame_after(s, "k")
        lines = frame_after(s, "p")
        rows = target_rows(lines)
        assert rows[".blocks.0"][1:] == ("*██", "> * ██ .blocks.0 [Block] mode=dendrify")
        assert rows[".blocks.0.norm1"][1:] == (
            "↳██",
            "↳ ██ .blocks.0.norm1 [LayerNorm] mode=dendrify (via .blocks.0) params=128",
        )
        inside = [key for key in rows if key.startswith(".blocks.0.") and "params=" in rows[key][2]]
        assert inside
        assert all(rows[key][1] == "↳██" and "(via .blocks.0)" in rows[key][2] for key in inside)
        assert needing_mode(s) == 6
        lines = frame_after(s, "x")
        assert flat(s).endswith("s start cleared .blocks.0")
        assert target_rows(lines)[".blocks.0.norm1"][1] == "!██"
        frame_after(s, "j")  # .blocks.0.norm1: no rule of its own, no type rule
        frame_after(s, "x")
        assert flat(s).endswith("s start nothing to clear on this module")
        for _ in range(up - ids.index(".blocks.0.norm1")):
            frame_after(s, "j")
        frame_after(s, "x")
        assert flat(s).endswith("s start cleared the Linear type rule")
        assert "[y] type rules (0)" in flat(s) and needing_mode(s) == 15

        # Refusals on a module that will be restructured and inside it.
        for _ in range(up - ids.index(".blocks.0.attn")):
            frame_after(s, "k")
        assert selected_id(s) == ".blocks.0.attn"
        frame_after(s, "p")
        assert flat(s).endswith(
            "s start .blocks.0.attn is inside a module that will be restructured — its id won't exist at "
            "training time. Use P/T to target by type instead."
        )
        frame_after(s, "P")
        assert flat(s).endswith(
            "s start Set a mode on this module's children by type, not on the container that will be restructured."
        )
        frame_after(s, RIGHT)
        assert "[← collapse]" in flat(s)
        frame_after(s, "j")
        assert ".blocks.0.attn.out_proj [NonDynamicallyQuantizableLinear] (id stale)" in flat(s)
        frame_after(s, "t")
        assert flat(s).endswith(
            "s start .blocks.0.attn.out_proj is inside a module that will be restructured — its id won't "
            "exist at training time. Use P/T to target by type instead."
        )
        frame_after(s, ENTER)
        assert flat(s).endswith("s start Overrides are not available inside a module that will be restructured.")
        frame_after(s, "k")
        frame_after(s, LEFT)
        assert "(id stale)" not in flat(s) and "[→ expand]" in flat(s)
        for _ in range(ids.index(".blocks.0.attn")):
            frame_after(s, "k")
        frame_after(s, ENTER)
        assert flat(s).endswith(
            "s start Overrides are only for dendrified modules. Dendrify this one first (p), "
            "or track it if you just want it monitored."
        )
        frame_after(s, "t")
        frame_after(s, ENTER)
        assert flat(s).endswith("s start Overrides are only for dendrified modules — this one is tracked.")
        frame_after(s, "j")  # a key without a message clears the status line
        assert flat(s).endswith("↑↓/jk move s start")


def test_targets_in_a_small_terminal_keeps_the_footer(tmp_path):
    """At 40x12 the header and footer alone need more rows than the terminal has:
    the footer stays at the bottom and every key redraws."""
    ids = demo_visible_ids()
    with session(tmp_path, code=DEMO, rows=12, columns=40) as s:
        s.expect_text("move   s start")
        for _ in range(len(ids) + 1):
            lines = frame_after(s, "j")
            assert [line for line in lines if line][-1] == "move   s start", s.describe()
            assert "Dendrification budget:  +0 params per" in lines, s.describe()
        assert any(".head" in line for line in lines), s.describe()


def test_targets_in_a_small_terminal_shows_header_and_pointer(tmp_path, snapshot):
    with session(tmp_path, code=DEMO, rows=12, columns=40) as s:
        s.expect_text("move   s start")
        for _ in range(3):
            lines = frame_after(s, "j")
            assert lines[0].startswith("[ Targets"), s.describe()
            assert any(line.startswith("> ") for line in lines), s.describe()
        assert "\n".join(lines) == snapshot(name="40x12")


def redrawn_after_resize(s, rows, columns):
    """Resizes the terminal while the session waits and returns the frame drawn for it, no key sent."""
    s.resize(rows, columns)
    s.wait_for_key_read()
    s.settle(0.3)  # the window size and the signal may each bring a frame
    s.wait_for_key_read(need_output=False)
    lines = s.screen_lines()
    while lines and not lines[-1]:
        lines.pop()
    return lines


def test_resize_while_waiting_redraws_at_the_new_size(tmp_path, snapshot):
    with session(tmp_path, rows=24, columns=80) as s:
        s.expect_text(TARGET_KEYS_HINT)
        s.send_key("j")  # select .blocks
        s.wait_for_key_read()

        lines = redrawn_after_resize(s, 34, 120)
        # Wide enough now for the tab bar and the budget line on one row each.
        assert lines[0] == TAB_BAR + "            [Tab] switch panel    ? help", s.describe()
        assert any(line.startswith("Dendrification budget:") and line.endswith("(+0.0% / cycle)") for line in lines)
        assert 24 < len(lines) <= 34 and lines[-1].startswith(TARGET_KEYS_HINT) and lines[-1].endswith("s start")
        assert selected_id(s) == ".blocks" and needing_mode(s) == 15  # no key was taken
        assert "\n".join(lines) == snapshot(name="grown to 120x34")

        # Smaller than before: the header is at the top again, the footer at the bottom.
        lines = redrawn_after_resize(s, 18, 100)
        assert lines[0].startswith(TAB_BAR) and lines[-1].endswith("s start"), s.describe()
        assert selected_id(s) == ".blocks"
        assert "\n".join(lines) == snapshot(name="shrunk to 100x18")

        s.send_keys("q", "y")
        assert s.expect_exit() == 0
        assert reports(s)["outcome"] == "exit 0"
        assert_terminal_restored(s)


def test_search_finds_a_module_and_a_rule_is_set_on_it(tmp_path):
    """At 80x24: "/" and a piece of an id select the module (every key typed,
    "p" included, is text); Enter keeps it; "p" then dendrifies it."""
    with session(tmp_path, code=DEMO, rows=24, columns=80) as s:
        s.expect_text("move   s start")
        s.wait_for_key_read()
        lines = frame_after(s, "/")
        assert lines[-1] == "  /    type part of a module id or class name", s.describe()
        for key in "2.MLP.d":
            lines = frame_after(s, key)
        assert lines[-1] == "  /2.MLP.d    match 1 of 1", s.describe()
        assert selected_id(s) == ".blocks.2.mlp.down" and needing_mode(s) == 15
        lines = frame_after(s, ENTER)
        assert lines[-1] == "  match 1 of 1 for '2.MLP.d'" and lines[-2] == "move   s start", s.describe()
        lines = frame_after(s, "p")
        row = target_rows(lines)[".blocks.2.mlp.down"]
        assert row == (True, "*██", "> * ██ .blocks.2.mlp.down [Linear] mode=dendrify params=16.4K"), s.describe()
        assert needing_mode(s) == 14
        frame_after(s, HOME)
        assert selected_id(s) == ".embed"
        frame_after(s, END)
        assert selected_id(s) == ".head"
