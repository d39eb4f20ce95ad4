"""The Targets screen: tab bar, markers, the three row layouts with their column
arithmetic, header and footer lines, and the focus of the selected row. Whole
screens are kept as snapshots (see screens.py)."""

from __future__ import annotations

import pytest
import torch
from torch import nn

from neuvora import globals_neuvora as GNV
from screens import plain, styled

BLOCKS = "\u2588\u2588"


def holder(count):
    """A module holding `count` parameters of its own."""
    module = nn.Module()
    if count:
        module.weight = nn.Parameter(torch.zeros(count))
    return module


def make_entry(module_id, type_name="Linear", own=0, replaced_root=None, is_root=False):
    name = module_id[1:]
    return {
        "id": module_id,
        "name": name,
        "type_name": type_name,
        "module": holder(own),
        "depth": name.count("."),
        "direct_param_count": own,
        "tree_param_count": own,
        "is_replaced_root": is_root,
        "replaced_root": replaced_root,
        "in_replaced": replaced_root is not None,
    }


def make_record(module_id, eff=None, source=None, origin=None, overridden=None):
    return {"eff": eff, "source": source, "origin_id": origin or module_id, "overridden": overridden}


def render(cn, entries, resolved, selected=0, expanded=None, visible=None):
    return cn.render_targets_lines(entries, entries if visible is None else visible, selected, resolved, expanded or {})


def tail_column(line):
    return plain(line).index("mode=")


# -- small pieces ---------------------------------------------------------------


def test_tab_bar(cn):
    tail = " ]            ⟨dim⟩[Tab] switch panel    ? help⟨/⟩"
    assert styled(cn.render_tab_bar("targets")) == "[ ⟨#D9A441⟩Targets⟨/⟩ \u2502 Run settings" + tail
    assert styled(cn.render_tab_bar("run")) == "[ Targets \u2502 ⟨#D9A441⟩Run settings⟨/⟩" + tail
    assert cn.render_tab_bar(active_screen=None) == cn.render_tab_bar("run")


@pytest.mark.parametrize("mode, verb", [("dendrified", "dendrify"), ("tracked", "track"), (None, "None"), (3, "3")])
def test_mode_verb(cn, mode, verb):
    assert cn.MODE_VERB == {"dendrified": "dendrify", "tracked": "track"}
    assert cn.mode_verb(mode) == verb


@pytest.mark.parametrize("mode, color", [("dendrified", "00A5A5"), ("tracked", "8A95A0"), (None, "000000")])
def test_make_block(cn, mode, color):
    assert styled(cn.make_block(mode)) == f"⟨#{color}⟩{BLOCKS}⟨/⟩"


ATTENTION = "⟨#FD4D00⟩!⟨/⟩ ⟨#FD4D00⟩\u2588\u2588⟨/⟩ "


@pytest.mark.parametrize(
    "entry_kw, record_kw, display, plain_text",
    [
        ({"replaced_root": ".r"}, {"eff": "dendrified", "source": "id"}, "     ", "     "),
        ({"own": 5}, {}, ATTENTION, "! \u2588\u2588 "),
        ({"own": 0}, {}, "     ", "     "),
        ({}, {"eff": "tracked", "source": "inherited"}, "\u21b3 ⟨#8A95A0⟩\u2588\u2588⟨/⟩ ", "\u21b3 \u2588\u2588 "),
        ({}, {"eff": "dendrified", "source": "id"}, "* ⟨#00A5A5⟩\u2588\u2588⟨/⟩ ", "* \u2588\u2588 "),
        ({}, {"eff": "dendrified", "source": "type"}, "  ⟨#00A5A5⟩\u2588\u2588⟨/⟩ ", "  \u2588\u2588 "),
    ],
)
def test_make_target_marker(cn, entry_kw, record_kw, display, plain_text):
    shown, bare = cn.make_target_marker(make_entry(".a", **entry_kw), make_record(".a", **record_kw))
    assert (styled(shown), bare) == (display, plain_text)


# -- header and footer -----------------------------------------------------------


@pytest.mark.parametrize("owners", [0, 1, 3])
def test_header_and_footer(cn, owners, snapshot):
    entries = [make_entry(f".m{i}", own=10) for i in range(owners)] + [make_entry(".c")]
    resolved = {e["id"]: make_record(e["id"]) for e in entries}
    GNV.pc.set_module_names_to_dendrify(["Linear"])
    GNV.pc.set_module_names_to_track(["ReLU"])
    header, _, footer, _ = render(cn, entries, resolved)
    assert styled(header + ["…"] + footer) == snapshot
    assert plain(header[4]).index("[y] type rules (2)") == 58


# -- rows ----------------------------------------------------------------------


def test_selected_row_from_the_worked_example(cn, snapshot):
    entries = [make_entry(".encoder"), make_entry(".encoder.0", own=4200)]
    resolved = {".encoder": make_record(".encoder"), ".encoder.0": make_record(".encoder.0", "tracked", "id")}
    _, body, _, focus = render(cn, entries, resolved, selected=1)
    # The container: blank marker, no tail, no params, not selected.
    assert styled(body) == snapshot
    assert tail_column(body[1]) == 46 and plain(body[0]) == "        .encoder  [Linear]" + " " * 20
    assert focus == (1, 2)


def test_inherited_row_with_ignored_rule(cn, snapshot):
    entries = [make_entry(".a", "Seq"), make_entry(".a.b", "Conv", own=7)]
    resolved = {
        ".a": make_record(".a", "dendrified", "id"),
        ".a.b": make_record(".a.b", "dendrified", "inherited", ".a", {"mode": "tracked", "source": "type"}),
    }
    _, body, _, _ = render(cn, entries, resolved, selected=0)
    assert styled(body) == snapshot
    assert plain(body[1]).endswith("mode=dendrify  (via .a)  \u2014 your track here is ignored   params=7")
    assert tail_column(body[1]) == 46


def test_module_that_needs_a_mode(cn, snapshot):
    entries = [make_entry(".head", own=1530)]
    _, body, _, _ = render(cn, entries, {".head": make_record(".head")}, selected=5)
    assert styled(body) == snapshot
    assert tail_column(body[0].replace("needs a mode", "mode=")) == 46


@pytest.mark.parametrize("id_length, type_length", [(30, 7), (36, 1), (37, 1), (60, 20)])
def test_tail_column_with_long_names(cn, id_length, type_length):
    module_id = "." + "x" * (id_length - 1)
    type_name = "T" * type_length
    entries = [make_entry(module_id, type_name, own=1)]
    resolved = {module_id: make_record(module_id, "dendrified", "type")}
    _, body, _, _ = render(cn, entries, resolved)
    row = plain(body[0])
    lead = 2 + 5 + 1 + id_length + 2 + type_length + 2
    assert row.index("mode=dendrify") == max(46, lead + 2)
    assert row[lead:].startswith(" " * max(2, 46 - lead) + "mode=")


def test_deep_indent_counts_toward_the_column(cn):
    entries = [make_entry(".a.b.c.d", own=2)]
    resolved = {".a.b.c.d": make_record(".a.b.c.d", "tracked", "type")}
    _, body, _, _ = render(cn, entries, resolved, selected=1)
    row = plain(body[0])
    assert row.startswith("    \u2588\u2588 " + " " + "      " + ".a.b.c.d  [Linear]")
    assert row.index("mode=track") == 46


def test_replaced_root_collapsed_and_expanded(cn, snapshot):
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

    collapsed = [entries[0], entries[4]]
    _, body, _, focus = render(cn, entries, resolved, selected=0, visible=collapsed)
    assert styled(body) == snapshot(name="collapsed")
    assert focus == (0, 2) and tail_column(body[2]) == 46

    # A nested root is still drawn as a root; its descendants count for the outer one.
    _, body, _, focus = render(cn, entries, resolved, selected=2, expanded={".attn": True})
    assert styled(body) == snapshot(name="expanded")
    assert "3 modules below" in plain(body[1]) and "0 modules below" in plain(body[4])
    assert focus == (3, 5) and len(body) == 7


@pytest.mark.parametrize("selected", [3, 99, -1, None])
def test_focus_defaults_when_nothing_is_selected(cn, selected):
    entries = [make_entry(".a"), make_entry(".b")]
    resolved = {e["id"]: make_record(e["id"]) for e in entries}
    _, body, _, focus = render(cn, entries, resolved, selected=selected)
    assert focus == (0, 1)
    assert not any(plain(line).startswith("> ") for line in body)


def test_empty_body(cn):
    header, body, footer, focus = render(cn, [], {})
    assert body == [] and focus == (0, 1) and len(header) == 6 and len(footer) == 4


def test_missing_record_raises_key_error(cn):
    entries = [make_entry(".a")]
    with pytest.raises(KeyError):
        cn.render_targets_lines(entries, entries, 0, {}, {})


def test_only_visible_entries_are_drawn_but_counts_use_all(cn):
    entries = [make_entry(".a", own=1), make_entry(".b", own=1)]
    resolved = {e["id"]: make_record(e["id"]) for e in entries}
    header, body, _, _ = render(cn, entries, resolved, visible=[entries[1]])
    assert len(body) == 1 and ".b" in body[0]
    assert "2 modules still need a mode" in plain(header[4])


def test_keyword_arguments_and_no_docstrings(cn):
    result = cn.render_targets_lines(
        entries=[], visible_entries=[], selected_index=0, resolved={}, expanded_replaced={}
    )
    assert isinstance(result, tuple) and len(result) == 4
    for name in ("render_tab_bar", "mode_verb", "make_block", "make_target_marker", "render_targets_lines"):
        assert getattr(cn, name).__doc__ is None


# -- real architectures: shared tensors, the model's own parameters, near misses -----

import torch  # noqa: E402
from torch import nn  # noqa: E402
from torch.nn.utils import parametrize  # noqa: E402

from scripted import DOWN, PAGE_DOWN, UP, ScriptedSession  # noqa: E402


class Mlp(nn.Module):
    def __init__(self, width=4):
        super().__init__()
        self.fc = nn.Linear(width, width)


class TiedLM(nn.Module):
    """GPT-2's tie: lm_head.weight is transformer.wte.weight."""

    def __init__(self):
        super().__init__()
        self.transformer = nn.Module()
        self.transformer.wte = nn.Embedding(10, 4)
        self.transformer.h = nn.ModuleList([Mlp()])
        self.lm_head = nn.Linear(4, 10, bias=False)
        self.lm_head.weight = self.transformer.wte.weight


class T5Like(nn.Module):
    """T5's tie: one tensor on four rows (the embedding listed under three paths, and the head)."""

    def __init__(self):
        super().__init__()
        self.shared = nn.Embedding(10, 4)
        self.encoder = nn.Module()
        self.encoder.embed_tokens = self.shared
        self.decoder = nn.Module()
        self.decoder.embed_tokens = self.shared
        self.lm_head = nn.Linear(4, 10, bias=False)
        self.lm_head.weight = self.shared.weight


class Aliased(nn.Module):
    """One submodule object under two paths."""

    def __init__(self):
        super().__init__()
        self.encoder = Mlp()
        self.decoder = self.encoder


class Scaled(nn.Module):
    """CLIP's logit_scale: parameters held by the model object itself."""

    def __init__(self, extra=0):
        super().__init__()
        self.visual = nn.Linear(4, 4)
        self.text = nn.Linear(4, 4)
        self.logit_scale = nn.Parameter(torch.ones([]))
        for k in range(extra):
            self.register_parameter(f"p{k}", nn.Parameter(torch.zeros(500)))
        self.tied = self.visual.weight  # held by a row too: its rules reach it


def session_frames(cn, monkeypatch, model, keys, setup=None, columns=120):
    from neuvora import globals_neuvora as GNV

    if setup:
        setup(GNV.pc)
    session = ScriptedSession(cn, monkeypatch, keys, columns=columns, interrupt_when_done=True)
    with pytest.raises(SystemExit):
        session.run(model)
    return session.plain_frames


def warning_lines(frame):
    return [line for line in frame.splitlines() if line.startswith("\u26a0 ")]


@pytest.mark.parametrize(
    "model, keys, warnings",
    [
        (
            TiedLM,
            [PAGE_DOWN, "p", UP, UP, UP, UP, "t", "p"],
            [None, None,
             *[".lm_head shares a weight with .transformer.wte: dendrify vs none (1 shared tensor in conflict)"] * 5,
             ".lm_head shares a weight with .transformer.wte: dendrify vs track (1 shared tensor in conflict)",
             None],
        ),
        (
            Aliased,
            ["p", DOWN, DOWN, "t", "p"],
            [None, *[".decoder.fc shares 2 weights with .encoder.fc: none vs dendrify (2 shared tensors in conflict)"] * 3,
             ".decoder.fc shares 2 weights with .encoder.fc: track vs dendrify (2 shared tensors in conflict)", None],
        ),
    ],
    ids=["gpt2 tie", "alias"],
)
def test_shared_tensor_warning_follows_the_rules(cn, monkeypatch, model, keys, warnings):
    frames = session_frames(cn, monkeypatch, model(), keys)
    assert len(frames) == len(warnings)
    for frame, warning in zip(frames, warnings):
        shown = warning_lines(frame)
        assert shown == ([] if warning is None else ["\u26a0 " + warning])
        if warning:  # above the key hint, under the budget line and its blank line
            lines = frame.splitlines()
            at = lines.index(shown[0])
            assert lines[at - 1] == "" and lines[at - 2].startswith("Dendrification budget")
            assert lines[at + 1].startswith("p/t dendrify")


def test_one_tensor_on_four_rows(cn, monkeypatch):
    # Embedding tracked by type, then every Linear dendrified by type.
    frames = session_frames(cn, monkeypatch, T5Like(), ["T", PAGE_DOWN, "P", "s"])
    # Each row keeps its own count; the three later ones say whose tensor it is.
    tails = [line.split("params=")[1] for line in frames[0].splitlines() if "params=" in line]
    assert tails == ["40", "40 shared with .shared", "40 shared with .shared", "40 shared with .shared"]
    assert "4 modules still need a mode" in frames[0] and warning_lines(frames[0]) == []
    for frame in frames[1:3]:  # the embedding rows tracked, the head without a mode
        assert warning_lines(frame) == [
            "\u26a0 .lm_head shares a weight with .shared: none vs track (1 shared tensor in conflict)"
        ]
    assert warning_lines(frames[3]) == [
        "\u26a0 .lm_head shares a weight with .shared: dendrify vs track (1 shared tensor in conflict)"
    ]
    save = frames[4].splitlines()
    at = save.index("  \u26a0  1 shared tensor gets more than one mode")
    assert save[at + 1 : at + 5] == [
        "",
        "      .lm_head shares a weight with .shared: dendrify vs track",
        "",
        "  These rows hold one tensor between them: give them the same mode.",
    ]
    assert "Start training with this configuration:" in frames[4]


def test_save_overlay_lists_every_conflict_beside_the_unset_modules(cn, monkeypatch):
    # .encoder tracked, .decoder dendrified: both .fc rows disagree; .lm_head and h.0.fc of the tie have no mode.
    class Both(nn.Module):
        def __init__(self):
            super().__init__()
            self.tie = TiedLM()
            self.alias = Aliased()

    def rules(pc):
        pc.set_module_ids_to_track([".alias.encoder", ".tie.transformer.wte"])
        pc.set_module_ids_to_dendrify([".alias.decoder"])

    frames = session_frames(cn, monkeypatch, Both(), ["s"], setup=rules)
    save = frames[1].splitlines()
    at = save.index("  \u26a0  3 shared tensors get more than one mode")
    assert save[at + 2 : at + 4] == [
        "      .tie.lm_head shares a weight with .tie.transformer.wte: none vs track",
        "      .alias.decoder.fc shares 2 weights with .alias.encoder.fc: dendrify vs track",
    ]
    assert save.index(
        "  \u26a0  2 modules have parameters but no mode") > at  # the unset list follows the conflicts
    assert "Start anyway \u2014 I know these 2 have no mode" in frames[1]


@pytest.mark.parametrize(
    "extra, line",
    [
        (0, "the model itself holds 1 parameter (logit_scale) that no rule reaches"),
        (3, "the model itself holds 1.5K parameters (logit_scale, p0, p1, \u2026) that no rule reaches"),
    ],
)
def test_parameters_held_by_the_model_itself(cn, monkeypatch, extra, line):
    frames = session_frames(cn, monkeypatch, Scaled(extra), ["t", DOWN, "t"])
    for frame in frames:
        lines = frame.splitlines()
        assert line in lines
        assert lines[lines.index(line) + 1].startswith("p/t dendrify")
    assert "2 modules still need a mode" in frames[0] and "1 module still needs a mode" in frames[1]
    # Every row has a mode, yet the check mark would be untrue.
    assert "every parameter is dendrified or tracked" not in frames[3]
    assert frames[3].splitlines()[4] == " " * 58 + "[y] type rules (0)"
    assert "model 40" in frames[3]  # the budget keeps counting the rows only


def test_models_without_these_cases_keep_their_check_mark(cn, monkeypatch):
    frames = session_frames(cn, monkeypatch, nn.Sequential(nn.Linear(2, 2)), ["t"])
    assert "\u2713 every parameter is dendrified or tracked" in frames[1]
    assert not any("model itself" in f or "shared with" in f or warning_lines(f) for f in frames)


class Doubled(nn.Module):
    """A parametrization: the weight seen is twice the one stored."""

    def forward(self, weight):
        return 2 * weight


class Attention(nn.Module):
    def __init__(self):
        super().__init__()
        self.attn = nn.MultiheadAttention(4, 2)  # out_proj is a NonDynamicallyQuantizableLinear
        self.proj = nn.Linear(4, 4)
        self.conv = nn.Conv1d(2, 2, 3)
        self.doubled = parametrize.register_parametrization(nn.Conv1d(2, 2, 3), "weight", Doubled())  # a ParametrizedConv1d


# A project's own class named like its base, and a subclass of it.
OwnLinear = type("Linear", (nn.Linear,), {})
Gated = type("Gated", (OwnLinear,), {})


class Shadowing(nn.Module):
    def __init__(self):
        super().__init__()
        self.own = OwnLinear(4, 4)
        self.plain = nn.Linear(4, 4)
        self.gated = Gated(4, 4)


@pytest.mark.parametrize(
    "model, dendrify, hints",
    [
        (Attention, ["Linear"], {"Linear \u2192 dendrify  (1)": "also in this model: NonDynamicallyQuantizableLinear (1), a Linear subclass"}),
        (Attention, ["Conv1d"], {"Conv1d \u2192 dendrify  (1)": "also in this model: ParametrizedConv1d (1), a Conv1d subclass"}),
        (Attention, ["_ConvNd"], {"_ConvNd \u2192 dendrify  (0)": "no module in this model has this class"}),
        (Attention, ["Conv2d", "MultiheadAttention"], {"Conv2d \u2192 dendrify  (0)": "no module in this model has this class",
                                                       "MultiheadAttention \u2192 dendrify  (1)": None}),
        # The class named like the rule is matched by it, never its own near miss.
        (Shadowing, ["Linear"], {"Linear \u2192 dendrify  (2)": "also in this model: Gated (1), a Linear subclass"}),
    ],
)
def test_type_rules_that_nearly_match(cn, monkeypatch, model, dendrify, hints):
    frames = session_frames(cn, monkeypatch, model(), ["y"], setup=lambda pc: pc.set_module_names_to_dendrify(dendrify))
    rows = [line.strip().strip("\u2502").strip() for line in frames[1].splitlines() if line.startswith("  \u2502")]
    for rule, hint in hints.items():
        at = rows.index(rule)
        following = rows[at + 1] if at + 1 < len(rows) else None
        if hint is None:
            assert following is None or "\u2192" in following
        else:
            assert following == hint
    box = [line for line in frames[1].splitlines() if line.startswith("  \u2502") or line.startswith("  \u250c")]
    assert len({len(line) for line in box}) == 1  # the right edge lines up with the hints in
    # _ConvNd is a base class of both convolutions: named by several.
    if dendrify == ["_ConvNd"]:
        assert rows[2] == "also in this model: Conv1d (1), ParametrizedConv1d (1), _ConvNd subclasses"


@pytest.mark.parametrize(
    "base, make, article",
    [
        (nn.Embedding, lambda cls: cls(10, 4), "an"),
        (nn.Linear, lambda cls: cls(2, 2), "a"),
        (nn.Identity, lambda cls: cls(), "an"),
        (nn.Upsample, lambda cls: cls(scale_factor=2), "an"),
        (nn.ReLU, lambda cls: cls(), "a"),
    ],
)
def test_near_miss_article_follows_the_class_name(cn, base, make, article):
    subclass = type("Own" + base.__name__, (base,), {})
    entries = cn.get_module_entries(nn.Sequential(make(subclass)))
    GNV.pc.set_module_names_to_dendrify([base.__name__])
    rows = [plain(line) for line in cn.render_type_rules_overlay(entries)]
    hint = f"also in this model: Own{base.__name__} (1), {article} {base.__name__} subclass"
    assert any(line.startswith("  \u2502   " + hint + " ") for line in rows), rows


def small_transformer():
    return nn.Transformer(d_model=8, nhead=2, num_encoder_layers=1, num_decoder_layers=1, dim_feedforward=8,
                          batch_first=True)


@pytest.mark.parametrize("columns", [80, 72])
def test_type_rules_box_is_never_wider_than_the_terminal(cn, monkeypatch, columns):
    frames = session_frames(cn, monkeypatch, small_transformer(), ["y"], columns=columns,
                            setup=lambda pc: pc.set_module_names_to_dendrify(["Linear"]))
    lines = frames[1].splitlines()
    top = next(i for i, line in enumerate(lines) if line.startswith("  \u250c"))
    bottom = next(i for i, line in enumerate(lines) if line.startswith("  \u2514"))
    box = lines[top : bottom + 1]
    # Both borders on every line, one right edge, inside the terminal.
    assert len({len(line) for line in box}) == 1 and len(box[0]) <= columns
    assert box[0].endswith("\u2510") and box[-1].endswith("\u2518")
    assert all(line.startswith("  \u2502 ") and line.endswith("\u2502") for line in box[1:-1])
    # The rule row keeps its text; the hint that does not fit is cut with an ellipsis.
    assert box[1].startswith("  \u2502 Linear \u2192 dendrify  (")
    assert box[2].startswith("  \u2502   also in this model: NonDynamicallyQuantizableLinear (3)")
    assert box[2].endswith("\u2026 \u2502")
    # The same box from the public function keeps its full width.
    entries = cn.get_module_entries(small_transformer())
    full = [plain(line) for line in cn.render_type_rules_overlay(entries)]
    assert "a Linear subclass" in full[2] and len(full[0]) > columns


def test_rules_changed_between_two_keys_show_on_the_next_frame(cn, monkeypatch):
    # A pass that changes no rule keeps the last resolution; one whose lists
    # differ (whoever changed them) resolves again.
    changes = [
        lambda pc: pc.set_module_ids_to_dendrify([".0"]),
        lambda pc: None,
        lambda pc: pc.set_module_names_to_track(["Linear"]),
        lambda pc: pc.set_module_ids_to_dendrify([]),
    ]
    session = ScriptedSession(cn, monkeypatch, [DOWN] * len(changes), interrupt_when_done=True)
    scripted = cn.read_single_key

    def read():
        if changes:
            changes.pop(0)(GNV.pc)
        return scripted()

    monkeypatch.setattr(cn, "read_single_key", read)
    with pytest.raises(SystemExit):
        session.run(nn.Sequential(nn.Linear(2, 2), nn.Linear(2, 2)))

    def modes(frame):
        return [line.split("mode=")[1].split()[0] if "mode=" in line else None
                for line in frame.splitlines() if line.lstrip("> ").lstrip("*! \u2588").startswith((".0", ".1"))]

    frames = session.plain_frames
    assert [modes(frame) for frame in frames] == [
        [None, None], ["dendrify", None], ["dendrify", None], ["dendrify", "track"], ["track", "track"]]
    assert "2 modules still need a mode" in frames[0] and "1 module still needs a mode" in frames[2]
    assert "every parameter is dendrified or tracked" in frames[4]
    assert "+6 params per dendrite cycle" in frames[2] and "+0 params" in frames[4]


def outcome(function, *args):
    try:
        return ("value", function(*args))
    except Exception as error:  # noqa: BLE001 - compared, not handled
        return ("raises", type(error), error.args)


# Records and entries the marker reads only in part, and modes that are no mode word.
ODD_MARKERS = {
    "only_what_the_marker_reads": ({"in_replaced": False}, {"eff": "dendrified", "source": "id"}),
    "inside_without_a_record": ({"in_replaced": True}, {}),
    "no_mode_no_count": ({"in_replaced": False}, {"eff": None}),
    "other_source": ({"in_replaced": False}, {"eff": "tracked", "source": 7}),
    "other_mode": ({"in_replaced": False}, {"eff": 3, "source": "inherited"}),
    "missing_source": ({"in_replaced": False}, {"eff": "tracked"}),
    "count_that_does_not_compare": ({"in_replaced": False, "direct_param_count": "5"}, {"eff": None}),
}


@pytest.mark.parametrize("entry, record", list(ODD_MARKERS.values()), ids=list(ODD_MARKERS))
def test_marker_reads_entries_and_records_like_the_interpreter(cn, entry, record):
    import baseline

    assert outcome(cn.make_target_marker, entry, record) == outcome(baseline.make_target_marker, entry, record)


@pytest.mark.parametrize("mode", ["dendrified", "tracked", None, 3, "other", ["unhashable"], ("dendrified",)])
def test_mode_verb_and_block_like_the_interpreter(cn, mode):
    import baseline

    assert outcome(cn.mode_verb, mode) == outcome(baseline.mode_verb, mode)
    assert outcome(cn.make_block, mode) == outcome(baseline.make_block, mode)
