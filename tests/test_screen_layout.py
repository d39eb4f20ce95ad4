"""Row counting, word wrapping, the text cursor and the scrolling window."""

from __future__ import annotations

import os
import re
import types

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from torch import nn

from screens import plain as uncoloured
from scripted import ScriptedSession

ESC = "\x1b"
RESET = "\x1b[0m"
INV = "\x1b[7m"
ABOVE = "\x1b[90m  ^^^^ more above ^^^^\x1b[0m"
BELOW = "\x1b[90m  vvvv more below vvvv\x1b[0m"
SGR = re.compile(r"\x1b\[[0-9;]*m")


@pytest.fixture
def terminal(monkeypatch, cn):
    """Sets the size that the module's terminal_size reports."""

    def set_size(columns, lines):
        monkeypatch.setattr(cn, "terminal_size", lambda: os.terminal_size((columns, lines)))

    return set_size


def test_terminal_size_asks_shutil_with_fallback(monkeypatch, cn):
    asked = []

    def get_terminal_size(fallback):
        asked.append(fallback)
        return os.terminal_size((33, 11))

    monkeypatch.setattr(cn, "shutil", types.SimpleNamespace(get_terminal_size=get_terminal_size))
    assert tuple(cn.terminal_size()) == (33, 11)
    assert asked == [(120, 40)]


@pytest.mark.parametrize(
    "lines, columns, rows",
    [
        ([""], 80, 1),
        (["\x1b[31m\x1b[0m"], 80, 1),
        (["x" * 81], 80, 2),
        (["x" * 80], 80, 1),
        (["\x1b[31m" + "x" * 80 + RESET], 80, 1),
        (["x" * 81, "", "abc"], 0, 3),
        (["x" * 81, "y" * 161], -5, 2),
        (["x" * 81, "", "y" * 161], 80, 2 + 1 + 3),
        ([], 80, 0),
    ],
)
def test_visual_line_count(cn, lines, columns, rows):
    assert cn.get_visual_line_count(lines, columns) == rows


@pytest.mark.parametrize(
    "line, columns, rows",
    [
        ("aaa bbb ccc", 7, ["aaa", "bbb ccc"]),
        ("a" * 20, 8, ["a" * 8, "a" * 8, "a" * 4]),
        ("      ", 3, ["      "]),
        ("ab cd", 0, ["ab cd"]),
        ("  lead  and more words", 8, ["lead", "and", "more", "words"]),
        ("x\ty z", 3, ["x\ty", "z"]),  # only " " is a break, but rows lose any trailing white space
        ("one two\t three", 8, ["one", "two", "three"]),
        (ESC + "x" + ESC + "[31mabc" + RESET + " de", 4, [ESC + "x" + ESC + "[31mab", "c" + RESET + " de"]),
    ],
)
def test_wrap_rules(cn, line, columns, rows):
    assert cn.wrap_ansi_line_on_words(line, columns) == rows


def test_wrap_line_of_exact_width_is_unchanged(cn):
    line = "\x1b[31m" + "ab cd" + RESET + "   " + "\x1b[1m"
    assert cn.wrap_ansi_line_on_words(line, 8) == [line]


def test_wrap_escape_codes_between_rows_belong_to_no_row(cn):
    line = "ab " + cn.color_text("cd", "00A5A5") + " ef"
    assert cn.wrap_ansi_line_on_words(line, 4) == ["ab", "cd" + RESET, "ef"]


def test_wrap_trailing_codes_go_with_the_last_row(cn):
    line = "\x1b[1m" + "aaaa bbbb" + RESET + "\x1b[90m"
    assert cn.wrap_ansi_line_on_words(line, 5) == ["aaaa", "bbbb" + RESET + "\x1b[90m"]


words = st.text(alphabet="abcé─", min_size=1, max_size=12)
codes = st.sampled_from(["", "\x1b[0m", "\x1b[38;2;0;165;165m", "\x1b[7m", "\x1b[m", "\x1b", "\x1b["])
gaps = st.sampled_from([" ", "  ", " \t "])


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(st.lists(st.tuples(codes, words, codes, gaps), min_size=1, max_size=15), st.integers(1, 30))
def test_wrap_never_breaks_codes_and_keeps_every_character(cn, pieces, columns):
    line = "".join(a + w + b + g for a, w, b, g in pieces)
    rows = cn.wrap_ansi_line_on_words(line, columns)
    plain = uncoloured(line)
    if len(plain) <= columns or not plain.strip(" "):
        assert rows == [line]
        return
    for row in rows:
        assert len(uncoloured(row)) <= columns
        # Escape codes are never cut: a broken one would leave visible
        # fragments that are not part of the line's text.
        assert uncoloured(row) in plain
        assert row in line
    assert "".join("".join(uncoloured(r).split()) for r in rows) == "".join(plain.split())


def test_wrap_screen_text_uses_terminal_width(monkeypatch, cn):
    sizes = types.SimpleNamespace(get_terminal_size=lambda fallback: os.terminal_size((10, 5)))
    monkeypatch.setattr(cn, "shutil", sizes)
    text = "short\n\nthe quick brown fox\n" + "\x1b[31mred\x1b[0m"
    assert cn.wrap_screen_text_for_terminal(text) == "short\n\nthe quick\nbrown fox\n\x1b[31mred\x1b[0m"


@pytest.mark.parametrize(
    "text, index, shown",
    [
        ("abc", 0, INV + "a" + RESET + "bc"),
        ("abc", 1, "a" + INV + "b" + RESET + "c"),
        ("abc", -3, INV + "a" + RESET + "bc"),
        ("abc", 3, "abc" + INV + " " + RESET),
        ("abc", 99, "abc" + INV + " " + RESET),
        ("", 0, INV + " " + RESET),
        ("é ü", 1, "é" + INV + " " + RESET + "ü"),
    ],
)
def test_render_text_with_cursor(cn, text, index, shown):
    assert cn.render_text_with_cursor(text, index) == shown
    assert cn.render_text_with_cursor(text=text, cursor_index=index) == shown


# --- scrolling window ----------------------------------------------------------------


def body(count, prefix="line"):
    return [f"{prefix} {i}" for i in range(count)]


def test_empty_body_without_focus(cn, terminal):
    terminal(80, 24)
    assert cn.compose_scrolling_screen(["H"], [], ["F"], 0) == ("H\nF", 0)
    assert cn.compose_scrolling_screen(["H"], [], ["F"], 7) == ("H\nF", 0)


def test_empty_body_with_default_focus_does_not_fail(cn, terminal):
    terminal(80, 24)
    assert cn.compose_scrolling_screen(["H"], [], ["F"], 0, (0, 1)) == ("H\nF", 0)


def test_focus_past_the_body_shows_its_end(cn, terminal):
    terminal(80, 12)  # budget 5
    lines = body(20)
    text, start = cn.compose_scrolling_screen(["H"], lines, ["F"], 0, focus=(30, 31))
    assert start == 15
    assert text.split("\n") == ["H", ABOVE, *lines[15:], "F"]


def test_focus_scrolls_down_to_the_bottom_of_the_window(cn, terminal):
    terminal(120, 40)
    lines = body(100)
    text, start = cn.compose_scrolling_screen(["H"], lines, ["F"], 0, (50, 51))
    assert start == 18
    assert text.split("\n") == ["H", ABOVE, *lines[18:51], BELOW, "F"]


def test_focus_scrolls_up_to_the_top_and_visible_focus_keeps_the_window(cn, terminal):
    terminal(120, 40)
    lines = body(100)
    assert cn.compose_scrolling_screen(["H"], lines, ["F"], 18, (10, 12))[1] == 10
    assert cn.compose_scrolling_screen(["H"], lines, ["F"], 18, (30, 32))[1] == 18
    assert cn.compose_scrolling_screen(["H"], lines, ["F"], 18, (49, 52))[1] == 19


def test_window_at_the_bottom_is_filled_upward(cn, terminal):
    terminal(80, 12)  # budget 5
    lines = body(10)
    text, start = cn.compose_scrolling_screen(["H"], lines, ["F"], 8)
    assert start == 5
    assert text.split("\n") == ["H", ABOVE, *lines[5:], "F"]
    assert cn.compose_scrolling_screen(["H"], lines, ["F"], -4)[1] == 0


def test_wrapped_rows_count_against_the_budget(cn, terminal):
    terminal(10, 12)  # header and footer take 2 rows each: budget 3
    lines = ["x" * 25, "a", "b", "c"]
    text, start = cn.compose_scrolling_screen(["h" * 11], lines, ["f" * 11], 0)
    assert (start, text.split("\n")) == (0, ["h" * 11, "x" * 25, BELOW, "f" * 11])


def test_oversized_first_line_is_shown(cn, terminal):
    terminal(10, 10)  # budget 3
    lines = ["a", "y" * 95, "b"]
    assert cn.compose_scrolling_screen(["H"], lines, ["F"], 1)[0].split("\n") == ["H", ABOVE, "y" * 95, BELOW, "F"]


@pytest.mark.parametrize("last", [False, True])
def test_selected_line_taller_than_the_budget_stays_in_view(cn, terminal, last):
    terminal(20, 12)  # budget 5
    lines = body(6) + ["z" * 200] + ([] if last else body(4, "tail"))
    text, start = cn.compose_scrolling_screen(["H"], lines, ["F"], 2, (6, 7))
    assert start == 6
    assert "z" * 200 in text.split("\n")
    # Moving on leaves it behind as usual.
    if not last:
        assert cn.compose_scrolling_screen(["H"], lines, ["F"], start, (7, 8))[1] == 7


def test_terminal_too_small_still_shows_one_line(cn, terminal):
    terminal(80, 4)
    text, start = cn.compose_scrolling_screen(["H1", "H2"], body(5), ["F"], 0, (3, 4))
    assert (start, text.split("\n")) == (3, ["H1", "H2", ABOVE, "line 3", BELOW, "F"])


def test_huge_body_frame(cn, terminal):
    terminal(80, 24)
    lines = [f"module.layer{i} " + "w" * (i % 150) for i in range(100_000)]
    text, start = cn.compose_scrolling_screen(["H"], lines, ["F"], 0, (99_990, 99_991))
    assert lines[99_990] in text.split("\n") and start > 99_900
    text, start = cn.compose_scrolling_screen(["H"], lines, ["F"], start, (5, 6))
    assert start == 5
    assert cn.get_visual_line_count(lines, 80) == sum(max(1, -(-len(x) // 80)) for x in lines)


@pytest.mark.parametrize("keys, lines", [([], 20), (["\t"], 16)], ids=["targets", "run settings"])
def test_a_fitted_screen_cuts_its_rules_and_wraps_its_text(cn, monkeypatch, keys, lines):
    """Too short for the screen's own composition: header and footer lines are
    fitted by their kind, a rule cut to the width, text wrapped on words."""
    model = nn.Module()
    model.enc = nn.Sequential(nn.Linear(4, 4), nn.ReLU())
    model.head = nn.Linear(4, 2)
    session = ScriptedSession(cn, monkeypatch, keys + ["x"], columns=40, lines=lines, interrupt_when_done=True)
    with pytest.raises(SystemExit):
        session.run(model)
    rows = session.plain_frames[-1].splitlines()
    assert [row for row in rows if row.strip(" ") and not row.strip(" \u2500")] == ["  " + "\u2500" * 38] * 2
    assert max(len(row) for row in rows) <= 40 and len(rows) < lines
    hint_end = max(i for i, row in enumerate(rows) if row.endswith("s start"))
    assert len(rows[hint_end - 1]) > 30  # the key hint, wrapped on words


@pytest.mark.parametrize(
    "call",
    [
        lambda cn, bad: cn.get_visual_line_count(["a", bad], 80),
        lambda cn, bad: cn.wrap_ansi_line_on_words(bad, 80),
        lambda cn, bad: cn.compose_scrolling_screen(["h", bad], [], ["f"], 0),
        lambda cn, bad: cn.compose_scrolling_screen(["h"], ["a", bad], ["f"], 0),
        lambda cn, bad: cn.compose_scrolling_screen(["h"], [], [bad], 0),
    ],
    ids=["count", "wrap", "header", "body", "footer"],
)
@pytest.mark.parametrize("bad", [7, b"bytes", None])
def test_lines_that_are_not_text_fail_as_stripping_them_does(cn, terminal, call, bad):
    terminal(80, 24)
    with pytest.raises(TypeError) as expected:
        SGR.sub("", bad)
    with pytest.raises(TypeError) as raised:
        call(cn, bad)
    assert str(raised.value) == str(expected.value)


def test_body_lines_outside_the_window_are_never_read(cn, terminal):
    terminal(80, 24)
    text, start = cn.compose_scrolling_screen(["h"], ["a"] * 100 + [None], ["f"], 0, (0, 1))
    assert start == 0 and text.split("\n")[-2:] == [BELOW, "f"]


def styled_body(cn, count):
    lines = []
    for i in range(count):
        name = cn.color_text(f"item{i}", "00A5A5")
        extra = " ".join(["detail"] * (i % 13))
        lines.append(f"  {name} {cn.dim(extra)}" if i % 4 else f"> {name}")
    return lines


@pytest.mark.parametrize("columns, rows", [(80, 24), (40, 12)])
def test_selection_always_visible_while_moving(cn, terminal, columns, rows):
    terminal(columns, rows)
    header = [cn.color_text("Targets", "E8EEEC"), cn.HR]
    footer = [cn.HR, "status line"]
    lines = styled_body(cn, 120)
    budget = max(1, rows - cn.get_visual_line_count(header + footer, columns) - 5)
    start = 0
    previous = None
    path = list(range(0, 120)) + list(range(119, -1, -1)) + [60, 5, 110, 0, 119]
    for selected in path:
        span = 2 if selected % 7 == 0 and selected + 2 <= len(lines) else 1
        text, new_start = cn.compose_scrolling_screen(header, lines, footer, start, (selected, selected + span))
        shown = text.split("\n")
        focus_lines = lines[selected : selected + span]
        if cn.get_visual_line_count(focus_lines, columns) > budget:
            focus_lines = focus_lines[:1]  # too tall together: its first line starts the window
        for line in focus_lines:
            assert line in shown, (selected, new_start)
        assert cn.get_visual_line_count(shown, columns) <= rows
        assert shown[: len(header)] == header and shown[-len(footer) :] == footer
        if previous is not None and previous[0] <= selected and selected + span <= previous[1]:
            assert new_start == start  # visible already: the window stays
        body_shown = [x for x in shown[len(header) : -len(footer)] if x not in (ABOVE, BELOW)]
        first = lines.index(body_shown[0])
        previous = (first, first + len(body_shown))
        assert first == new_start
        start = new_start


# A small full-screen program: a list moved with Up/Down, drawn the way the
# configurator draws its frames.
LIST_PROGRAM = r"""
from neuvora import configure_neuvora as cn
items = []
for i in range(60):
    words = " ".join(["word"] * (i % 11))
    items.append(f"item {i:02d} {words}")
selected, start = 0, 0
cn.enter_alternate_screen()
try:
    while True:
        body = [("> " if i == selected else "  ") + text for i, text in enumerate(items)]
        header = [cn.color_text("List title", "E8EEEC"), cn.HR]
        footer = [cn.HR, f"selected {selected:02d}"]
        text, start = cn.compose_scrolling_screen(header, body, footer, start, (selected, selected + 1))
        print("\x1b[2J\x1b[H" + cn.wrap_screen_text_for_terminal(text), end="", flush=True)
        key = cn.read_single_key()
        if cn.is_down_key(key):
            selected = min(selected + 1, len(items) - 1)
        elif cn.is_up_key(key):
            selected = max(selected - 1, 0)
        elif cn.is_page_down_key(key):
            selected = min(selected + 10, len(items) - 1)
        elif key == "q":
            break
finally:
    cn.exit_alternate_screen()
print("done")
"""


@pytest.mark.parametrize("columns, rows", [(80, 24), (40, 12)])
def test_frames_fit_the_terminal_and_show_the_selection(pty, columns, rows):
    with pty(LIST_PROGRAM, rows=rows, columns=columns, timeout=30) as session:
        session.expect_text("selected 00")
        moves = ["\x1b[B"] * 25 + ["\x1b[6~"] * 3 + ["\x1bOA"] * 40 + ["j"] * 5
        selected = 0
        for key in moves:
            session.send_key(key)
            if key == "\x1bOA":
                selected = max(selected - 1, 0)
            else:
                selected = min(selected + (10 if key == "\x1b[6~" else 1), 59)
            screen = session.expect_text(f"selected {selected:02d}")
            lines = session.screen_lines()
            assert lines[0] == "List title"  # nothing scrolled off the top
            assert f"> item {selected:02d}" in screen
        session.send_key("q")
        assert session.expect_exit() == 0
        assert session.screen_lines()[0] == "done"
