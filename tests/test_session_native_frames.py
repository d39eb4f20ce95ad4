"""The session draws the Targets screen from a native table of its entries and
resolves modes without building the record map on every pass. Every frame must
equal the one drawn through the module's public functions, which the session
uses as soon as one of them is replaced."""

from __future__ import annotations

import pytest
import torch
from torch import nn

from scripted import DOWN, ENTER, ESC, PAGE_DOWN, PAGE_UP, RIGHT, TAB, UP, ScriptedSession


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
]


def frames_of(cn, monkeypatch, keys, through_module, columns=120, lines=40, rules=None):
    from neuvora import globals_neuvora as GNV

    GNV.pc = GNV.NVXConfig()
    monkeypatch.setattr(GNV, "pc", GNV.pc)
    if rules:
        rules(GNV.pc)
    with monkeypatch.context() as patch:
        if through_module:
            for name in ("render_targets_lines", "resolve_entry_modes"):
                original = getattr(cn, name)
                patch.setattr(cn, name, lambda *args, _original=original: _original(*args))
        session = ScriptedSession(cn, patch, list(keys), columns=columns, lines=lines, interrupt_when_done=True)
        torch.manual_seed(0)
        with pytest.raises(SystemExit):
            session.run(Model())
    return session.frames


@pytest.mark.parametrize("columns, lines", [(120, 40), (44, 14), (20, 8)])
def test_frames_equal_the_ones_drawn_through_the_module(cn, monkeypatch, columns, lines):
    native = frames_of(cn, monkeypatch, KEYS, False, columns, lines)
    public = frames_of(cn, monkeypatch, KEYS, True, columns, lines)
    assert len(native) == len(public) > 30
    for index, (a, b) in enumerate(zip(native, public)):
        assert a == b, f"frame {index} differs"


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
