"""The Targets screen: tab bar, markers, the three row layouts with their column
arithmetic, header and footer lines, and the focus of the selected row."""

from __future__ import annotations

import pytest

TITLE = "E8EEEC"
BLOCKS = "\u2588\u2588"


def make_entry(module_id, type_name="Linear", own=0, replaced_root=None, is_root=False):
    name = module_id[1:]
    return {
        "id": module_id,
        "name": name,
        "type_name": type_name,
        "module": None,
        "depth": name.count("."),
        "direct_param_count": own,
        "tree_param_count": own,
        "is_replaced_root": is_root,
        "replaced_root": replaced_root,
        "in_replaced": replaced_root is not None,
    }


def make_record(module_id, eff=None, source=None, origin=None, overridden=None):
    return {"eff": eff, "source": source, "origin_id": origin or module_id, "overridden": overridden}


@pytest.fixture
def model(cn, monkeypatch):
    """Stand-ins for the target model's queries, so rows are checked on their own."""
    state = {"type_rules": [], "budget": "Dendrification budget:  +0 params"}

    def unset(entries, resolved):
        return [
            e
            for e in entries
            if not e["in_replaced"]
            and not e["is_replaced_root"]
            and e["direct_param_count"] > 0
            and resolved[e["id"]]["eff"] is None
        ]

    def human(value):
        if value < 1000:
            return str(value)
        text = f"{value / 1000.0:.1f}"
        return (text[:-2] if text.endswith(".0") else text) + "K"

    monkeypatch.setattr(cn, "unset_module_entries", unset, raising=False)
    monkeypatch.setattr(cn, "type_rule_entries", lambda entries: list(state["type_rules"]), raising=False)
    monkeypatch.setattr(cn, "build_budget_line", lambda entries, resolved: state["budget"], raising=False)
    monkeypatch.setattr(cn, "format_human_count", human, raising=False)
    return state


def render(cn, entries, resolved, selected=0, expanded=None, visible=None):
    return cn.render_targets_lines(entries, entries if visible is None else visible, selected, resolved, expanded or {})


def tail_column(cn, line):
    return cn.strip_ansi(line).index("mode=")


# -- small pieces ---------------------------------------------------------------


def test_tab_bar(cn):
    tail = " ]            " + cn.dim("[Tab] switch panel    ? help")
    assert cn.render_tab_bar("targets") == "[ " + cn.color_text("Targets", cn.COLOR_ACCENT) + " \u2502 Run settings" + tail
    assert cn.render_tab_bar("run") == "[ Targets \u2502 " + cn.color_text("Run settings", cn.COLOR_ACCENT) + tail
    assert cn.render_tab_bar(active_screen=None) == cn.render_tab_bar("run")


@pytest.mark.parametrize("mode, verb", [("dendrified", "dendrify"), ("tracked", "track"), (None, "None"), (3, "3")])
def test_mode_verb(cn, mode, verb):
    assert cn.MODE_VERB == {"dendrified": "dendrify", "tracked": "track"}
    assert cn.mode_verb(mode) == verb


def test_mode_verb_reads_the_live_mapping(cn, monkeypatch):
    monkeypatch.setattr(cn, "MODE_VERB", {"dendrified": "grow"})
    assert cn.mode_verb("dendrified") == "grow"


@pytest.mark.parametrize("mode, color", [("dendrified", "00A5A5"), ("tracked", "8A95A0"), (None, "000000")])
def test_make_block(cn, mode, color):
    assert cn.make_block(mode) == cn.color_text(BLOCKS, color)


@pytest.mark.parametrize(
    "entry_kw, record_kw, display, plain",
    [
        ({"replaced_root": ".r"}, {"eff": "dendrified", "source": "id"}, "     ", "     "),
        ({"own": 5}, {}, "!attn ", "! \u2588\u2588 "),
        ({"own": 0}, {}, "     ", "     "),
        ({}, {"eff": "tracked", "source": "inherited"}, "\u21b3 block ", "\u21b3 \u2588\u2588 "),
        ({}, {"eff": "dendrified", "source": "id"}, "* block ", "* \u2588\u2588 "),
        ({}, {"eff": "dendrified", "source": "type"}, "  block ", "  \u2588\u2588 "),
    ],
)
def test_make_target_marker(cn, entry_kw, record_kw, display, plain):
    entry = make_entry(".a", **entry_kw)
    record = make_record(".a", **record_kw)
    attention = cn.color_text("!", cn.COLOR_ATTENTION) + " " + cn.color_text(BLOCKS, cn.COLOR_ATTENTION)
    expected = display.replace("!attn", attention).replace("block", cn.make_block(record["eff"]))
    assert cn.make_target_marker(entry, record) == (expected, plain)


# -- header and footer -----------------------------------------------------------


@pytest.mark.parametrize(
    "owners, status",
    [
        (0, ("  \u2713 every parameter is dendrified or tracked", "00A5A5")),
        (1, ("  \u26a0 1 module still needs a mode", "FD4D00")),
        (3, ("  \u26a0 3 modules still need a mode", "FD4D00")),
    ],
)
def test_header_and_footer(cn, model, owners, status):
    entries = [make_entry(f".m{i}", own=10) for i in range(owners)] + [make_entry(".c")]
    resolved = {e["id"]: make_record(e["id"]) for e in entries}
    model["type_rules"] = [("Linear", "dendrified", 2), ("ReLU", "tracked", 0)]
    model["budget"] = "budget text"
    header, _, footer, _ = render(cn, entries, resolved)

    text, color = status
    styled = cn.color_text(text, color)
    hint = cn.color_text("[y] type rules (2)", cn.COLOR_ACCENT)
    assert header == [
        cn.render_tab_bar("targets"),
        "",
        cn.dim("  dendrify = add dendrites   \u00b7   track = not dendrified   "),
        "",
        styled + " " * (58 - len(text)) + hint,
        cn.HR,
    ]
    assert cn.strip_ansi(header[4]).index("[y]") == 58
    assert footer == [
        cn.HR,
        cn.dim("budget text"),
        "",
        cn.dim("p/t dendrify\u00b7track this module   P/T whole type   x clear   h legend   \u2191\u2193/jk move   s start"),
    ]


# -- rows ----------------------------------------------------------------------


def test_selected_row_from_the_worked_example(cn, model):
    entries = [make_entry(".encoder"), make_entry(".encoder.0", own=4200)]
    resolved = {".encoder": make_record(".encoder"), ".encoder.0": make_record(".encoder.0", "tracked", "id")}
    _, body, _, focus = render(cn, entries, resolved, selected=1)

    assert body[1] == (
        cn.color_text("> ", TITLE)
        + "* "
        + cn.color_text(BLOCKS, cn.COLOR_TRACK)
        + " "
        + " "
        + "  "
        + ".encoder.0"
        + "  "
        + cn.dim("[Linear]")
        + " " * 16
        + cn.color_text("mode=track", cn.COLOR_TRACK)
        + cn.dim("   params=4.2K")
    )
    assert tail_column(cn, body[1]) == 46
    # The container: blank marker, no tail, no params, not selected.
    assert body[0] == "  " + "     " + " " + ".encoder" + "  " + cn.dim("[Linear]") + " " * (46 - 26)
    assert focus == (1, 2)


def test_inherited_row_with_ignored_rule(cn, model):
    entries = [make_entry(".a", "Seq"), make_entry(".a.b", "Conv", own=7)]
    resolved = {
        ".a": make_record(".a", "dendrified", "id"),
        ".a.b": make_record(".a.b", "dendrified", "inherited", ".a", {"mode": "tracked", "source": "type"}),
    }
    _, body, _, _ = render(cn, entries, resolved, selected=0)
    expected_tail = (
        cn.color_text("mode=dendrify", cn.COLOR_DENDRIFY)
        + cn.dim("  (via .a)")
        + cn.dim("  \u2014 your track here is ignored")
        + cn.dim("   params=7")
    )
    lead = "  " + "\u21b3 " + cn.make_block("dendrified") + " " + " " + "  " + ".a.b" + "  " + cn.dim("[Conv]")
    assert body[1] == lead + " " * (46 - 22) + expected_tail
    assert cn.strip_ansi(body[1]).endswith("mode=dendrify  (via .a)  \u2014 your track here is ignored   params=7")
    assert body[0].startswith(cn.color_text("> ", TITLE) + "* " + cn.make_block("dendrified"))


def test_module_that_needs_a_mode(cn, model):
    entries = [make_entry(".head", own=1530)]
    _, body, _, _ = render(cn, entries, {".head": make_record(".head")}, selected=5)
    marker = cn.color_text("!", cn.COLOR_ATTENTION) + " " + cn.color_text(BLOCKS, cn.COLOR_ATTENTION) + " "
    assert body == [
        "  "
        + marker
        + " .head  "
        + cn.dim("[Linear]")
        + " " * (46 - 23)
        + cn.color_text("needs a mode", cn.COLOR_ATTENTION)
        + cn.dim("   params=1.5K")
    ]


@pytest.mark.parametrize("id_length, type_length", [(30, 7), (36, 1), (37, 1), (60, 20)])
def test_tail_column_with_long_names(cn, model, id_length, type_length):
    module_id = "." + "x" * (id_length - 1)
    type_name = "T" * type_length
    entries = [make_entry(module_id, type_name, own=1)]
    resolved = {module_id: make_record(module_id, "dendrified", "type")}
    _, body, _, _ = render(cn, entries, resolved)
    plain = cn.strip_ansi(body[0])
    lead = 2 + 5 + 1 + id_length + 2 + type_length + 2
    assert plain.index("mode=dendrify") == max(46, lead + 2)
    assert plain[lead:].startswith(" " * max(2, 46 - lead) + "mode=")


def test_deep_indent_counts_toward_the_column(cn, model):
    entries = [make_entry(".a.b.c.d", own=2)]
    resolved = {".a.b.c.d": make_record(".a.b.c.d", "tracked", "type")}
    _, body, _, _ = render(cn, entries, resolved, selected=1)
    plain = cn.strip_ansi(body[0])
    assert plain.startswith("    \u2588\u2588 " + " " + "      " + ".a.b.c.d  [Linear]")
    assert plain.index("mode=track") == 46


def test_replaced_root_collapsed_and_expanded(cn, model):
    entries = [
        make_entry(".attn", "MultiheadAttention", own=12, is_root=True),
        make_entry(".attn.out_proj", "Linear", own=9, replaced_root=".attn"),
        make_entry(".attn.inner", "Inner", replaced_root=".attn", is_root=True),
        make_entry(".attn.inner.x", "Linear", replaced_root=".attn"),
        make_entry(".attnx", "Linear", own=3),
    ]
    resolved = {e["id"]: make_record(e["id"]) for e in entries}
    resolved[".attn.out_proj"] = make_record(".attn.out_proj", "dendrified", "type")
    resolved[".attnx"] = make_record(".attnx", "tracked", "id")

    def root_lines(module_id, type_name, count, indent, toggle, selected=False):
        cursor = cn.color_text("> ", TITLE) if selected else "  "
        return [
            cursor
            + cn.color_text("\u21af", cn.COLOR_ACCENT)
            + "   "
            + indent
            + module_id
            + "  "
            + cn.dim(f"[{type_name}]")
            + "   "
            + cn.dim("will be restructured for NVX before training"),
            "      "
            + cn.dim(f"\u2514 {count} modules below \u2014 ids won't exist at train time \u00b7 target by type (P/T), not id  ")
            + cn.color_text(toggle, cn.COLOR_ACCENT),
        ]

    collapsed = [entries[0], entries[4]]
    _, body, _, focus = render(cn, entries, resolved, selected=0, visible=collapsed)
    assert body[:2] == root_lines(".attn", "MultiheadAttention", 3, "", "[\u2192 expand]", selected=True)
    assert focus == (0, 2)
    assert tail_column(cn, body[2]) == 46

    _, body, _, focus = render(cn, entries, resolved, selected=2, expanded={".attn": True})
    assert body[:2] == root_lines(".attn", "MultiheadAttention", 3, "", "[\u2190 collapse]")
    assert body[2] == "  " + "     " + " " + "  " + cn.dim(".attn.out_proj  [Linear] (id stale)")
    # A nested root is still drawn as a root; its descendants count for the outer one.
    assert body[3:5] == root_lines(".attn.inner", "Inner", 0, "  ", "[\u2192 expand]", selected=True)
    assert body[5] == "  " + "     " + " " + "    " + cn.dim(".attn.inner.x  [Linear] (id stale)")
    assert focus == (3, 5)
    assert len(body) == 7


@pytest.mark.parametrize("selected", [3, 99, -1, None])
def test_focus_defaults_when_nothing_is_selected(cn, model, selected):
    entries = [make_entry(".a"), make_entry(".b")]
    resolved = {e["id"]: make_record(e["id"]) for e in entries}
    _, body, _, focus = render(cn, entries, resolved, selected=selected)
    assert focus == (0, 1)
    assert not any(line.startswith(cn.color_text("> ", TITLE)) for line in body)


def test_empty_body(cn, model):
    header, body, footer, focus = render(cn, [], {})
    assert body == [] and focus == (0, 1) and len(header) == 6 and len(footer) == 4


def test_missing_record_raises_key_error(cn, model):
    entries = [make_entry(".a")]
    with pytest.raises(KeyError):
        cn.render_targets_lines(entries, entries, 0, {}, {})


def test_only_visible_entries_are_drawn_but_counts_use_all(cn, model):
    entries = [make_entry(".a", own=1), make_entry(".b", own=1)]
    resolved = {e["id"]: make_record(e["id"]) for e in entries}
    header, body, _, _ = render(cn, entries, resolved, visible=[entries[1]])
    assert len(body) == 1 and ".b" in body[0]
    assert "2 modules still need a mode" in cn.strip_ansi(header[4])


def test_keyword_arguments_and_no_docstrings(cn, model):
    result = cn.render_targets_lines(
        entries=[], visible_entries=[], selected_index=0, resolved={}, expanded_replaced={}
    )
    assert isinstance(result, tuple) and len(result) == 4
    for name in ("render_tab_bar", "mode_verb", "make_block", "make_target_marker", "render_targets_lines"):
        assert getattr(cn, name).__doc__ is None
