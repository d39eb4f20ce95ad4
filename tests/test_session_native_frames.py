"""The session draws the Targets screen from a native table of its entries and
resolves modes without building the record map on every pass. Every frame must
equal the one drawn through the module's public functions, which the session
uses as soon as one of them is replaced."""

from __future__ import annotations

import pytest
import torch
from torch import nn

import baseline
from scripted import DOWN, ENTER, ESC, PAGE_DOWN, PAGE_UP, RIGHT, TAB, UP, ScriptedSession

# The module functions whose work the session's engine does directly while none
# of them has been replaced.
ENGINE_FUNCTIONS = [
    "resolve_entry_modes", "unset_module_entries", "type_rule_entries", "build_budget_line",
    "format_human_count", "render_targets_lines", "compose_scrolling_screen",
]


class Pair(nn.Module):
    def __init__(self, width):
        super().__init__()
        self.a = nn.Linear(width, width)
        self.b = nn.Linear(width, width, bias=False)


class Reported(nn.Module):
    """Reports a parameter through named_parameters that it does not register."""

    def __init__(self):
        super().__init__()
        self.weight = nn.Parameter(torch.zeros(3))
        self.hidden = nn.Parameter(torch.zeros(1000))
        self.extra = [nn.Parameter(torch.zeros(70))]

    def named_parameters(self, prefix="", recurse=True, remove_duplicate=True):
        yield "weight", self.weight
        yield "extra", self.extra[0]


class Model(nn.Module):
    def __init__(self):
        super().__init__()
        self.embed = nn.Embedding(50, 4)
        self.blocks = nn.ModuleList(Pair(4) for _ in range(12))
        self.attn = nn.MultiheadAttention(4, 2)  # a replaced root
        self.odd = Reported()
        self.head = nn.Linear(4, 50, bias=False)
        self.head.weight = self.embed.weight  # tied
        self.again = self.blocks[3]  # one module under two paths


KEYS = [
    "p", DOWN, "t", DOWN, DOWN, "P", PAGE_DOWN, "T", "x", "x", DOWN, "p", DOWN, "p",
    PAGE_DOWN, PAGE_DOWN, PAGE_DOWN, RIGHT, DOWN, "p", DOWN, "P", UP, "t", "y", ESC,
    PAGE_UP, ENTER, ESC, "s", ESC, TAB, DOWN, TAB, "h", ESC, "q", "n",
    "\x1b[F", "/", "b", "l", "o", ENTER, "n", "N", "/", "o", "u", "t", ESC, "\x1b[H", "y", "\x1b[F", ESC,
]


def frames_of(cn, monkeypatch, keys, through_module, columns=120, lines=40, rules=None, calls=None):
    """The session's frames; `through_module` names the functions to replace by
    wrappers of themselves (True: the two the Targets pass starts from)."""
    from neuvora import globals_neuvora as GNV

    GNV.pc = GNV.NVXConfig()
    monkeypatch.setattr(GNV, "pc", GNV.pc)
    if rules:
        rules(GNV.pc)
    if through_module is True:
        through_module = ("render_targets_lines", "resolve_entry_modes")
    with monkeypatch.context() as patch:
        for name in through_module or ():
            original = getattr(cn, name)

            def wrapper(*args, _original=original, _name=name):
                if calls is not None:
                    calls.append(_name)
                return _original(*args)

            patch.setattr(cn, name, wrapper)
        session = ScriptedSession(cn, patch, list(keys), columns=columns, lines=lines, interrupt_when_done=True)
        torch.manual_seed(0)
        with pytest.raises(SystemExit):
            session.run(Model())
    return session.frames


# Large; header and footer giving way (narrow, short, smallest); too small.
@pytest.mark.parametrize("columns, lines", [(120, 40), (44, 14), (120, 12), (30, 8), (20, 8)])
def test_frames_equal_the_ones_drawn_through_the_module(cn, monkeypatch, columns, lines):
    native = frames_of(cn, monkeypatch, KEYS, False, columns, lines)
    public = frames_of(cn, monkeypatch, KEYS, True, columns, lines)
    assert len(native) == len(public) > 30
    for index, (a, b) in enumerate(zip(native, public)):
        assert a == b, f"frame {index} differs"


@pytest.mark.parametrize("name", ENGINE_FUNCTIONS)
def test_each_replaced_function_is_called_and_draws_the_same_frames(cn, monkeypatch, name):
    calls = []
    native = frames_of(cn, monkeypatch, KEYS, False)
    public = frames_of(cn, monkeypatch, KEYS, [name], calls=calls)
    assert native == public
    assert calls.count(name) >= 10  # every Targets pass asked the replacement


def test_a_function_replaced_during_the_session_is_honoured_on_the_next_pass(cn, monkeypatch):
    from neuvora import globals_neuvora as GNV

    monkeypatch.setattr(GNV, "pc", GNV.NVXConfig())
    session = ScriptedSession(cn, monkeypatch, [DOWN, DOWN, DOWN], interrupt_when_done=True)
    next_key, reads = cn.read_single_key, []

    def read():
        reads.append(len(reads))
        if len(reads) == 2:
            monkeypatch.setattr(cn, "unset_module_entries", lambda entries, resolved: entries[:2])
            monkeypatch.setattr(cn, "type_rule_entries", lambda entries: [("X", "dendrified", 0)] * 5)
            monkeypatch.setattr(cn, "build_budget_line", lambda entries, resolved: "budget from outside")
        return next_key()

    monkeypatch.setattr(cn, "read_single_key", read)
    with pytest.raises(SystemExit):
        session.run(Model())
    first, second, third = session.plain_frames[:3]
    assert "2 modules still need" not in first + second and "[y] type rules (0)" in second
    assert "2 modules still need a mode" in third and "[y] type rules (5)" in third
    assert "budget from outside" in third


def test_public_functions_on_the_session_entries_follow_every_rule_change(cn, monkeypatch):
    """The module's functions reuse the session's engine for its entry list; what
    they return always matches the rules as they are now."""
    from neuvora import globals_neuvora as GNV

    monkeypatch.setattr(GNV, "pc", GNV.NVXConfig())
    keys = ["p", DOWN, "T", DOWN, "t", "x", PAGE_DOWN, "P", RIGHT, DOWN, "t", "x", "x", "p"]
    session = ScriptedSession(cn, monkeypatch, keys, interrupt_when_done=True)
    built, next_key, checked = [], cn.read_single_key, []
    get_entries = cn.get_module_entries
    monkeypatch.setattr(cn, "get_module_entries", lambda model: built.append(get_entries(model)) or built[-1])

    def read():
        entries = built[0]
        resolved = cn.resolve_entry_modes(entries)
        assert resolved == baseline.resolve_entry_modes(entries)
        assert cn.unset_module_entries(entries, resolved) == baseline.unset_module_entries(entries, resolved)
        assert cn.type_rule_entries(entries) == baseline.type_rule_entries(entries)
        assert cn.build_budget_line(entries, resolved) == baseline.build_budget_line(entries, resolved)
        vis = [e for e in entries if not e["in_replaced"]]
        assert cn.render_targets_lines(entries, vis, 1, resolved, {}) == baseline.render_targets_lines(
            entries, vis, 1, resolved, {}
        )
        checked.append(len(GNV.pc.get_module_ids_to_dendrify()) + len(GNV.pc.get_module_names_to_track()))
        return next_key()

    monkeypatch.setattr(cn, "read_single_key", read)
    with pytest.raises(SystemExit):
        session.run(Model())
    assert len(checked) == len(keys) + 1 and len(set(checked)) > 2


def test_rule_values_that_are_not_plain_text_resolve_like_the_interpreter(cn, monkeypatch):
    class Id(str):
        pass

    def rules(pc):
        pc.set_module_ids_to_dendrify([Id(".blocks.1"), 7])
        pc.set_module_names_to_track(["Embedding", Id("Linear")])

    keys = [DOWN, DOWN, "p", "y", ESC]
    native = frames_of(cn, monkeypatch, keys, False, rules=rules)
    public = frames_of(cn, monkeypatch, keys, True, rules=rules)
    assert native == public
    assert "mode=dendrify" in native[0]


def budget_reference(entries, resolved):
    total = added = 0
    seen, seen_added = set(), set()
    for entry in entries:
        for _, p in entry["module"].named_parameters(recurse=False):
            if id(p) not in seen:
                seen.add(id(p))
                total += p.numel()
            if resolved[entry["id"]]["eff"] == "dendrified" and id(p) not in seen_added:
                seen_added.add(id(p))
                added += p.numel()
    return total, added


def test_budget_counts_shared_parameters_once_and_asks_overriding_classes(cn, monkeypatch):
    def rules(pc):
        pc.set_module_names_to_dendrify(["Embedding", "Linear", "Reported"])

    frame = frames_of(cn, monkeypatch, [], False, rules=rules)[0]
    model = Model()
    entries = cn.get_module_entries(model)
    total, added = budget_reference(entries, cn.resolve_entry_modes(entries))
    # The tied head adds nothing; Reported counts 3 + 70, not its 1000 hidden ones.
    assert total == 200 + 12 * (20 + 16) + sum(p.numel() for p in model.attn.parameters()) + 73
    assert "+" + cn.format_human_count(added) + " params per dendrite cycle" in frame
    assert "model " + cn.format_human_count(total) + "  (" in frame
