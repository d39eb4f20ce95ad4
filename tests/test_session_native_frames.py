"""The session's Targets frames against the interpreted baseline: on a model
with every kind of row (shared tensors, an aliased block, a restructured
module, parameters reported but not registered), each frame the session draws
while rules change and the selection moves is the frame the baseline draws for
the same state; on smaller terminals the fitted frames are kept as snapshots."""

from __future__ import annotations

import os
import types

import pytest
import torch
from torch import nn

import baseline
from scripted import DOWN, ENTER, ESC, PAGE_DOWN, PAGE_UP, RIGHT, TAB, UP, ScriptedSession
from screens import plain

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


def frames_of(cn, monkeypatch, keys, columns=120, lines=40, rules=None, on_key=None):
    """The frames of a session on `Model` (styled); `on_key(key)` runs before each key is taken."""
    from neuvora import globals_neuvora as GNV

    monkeypatch.setattr(GNV, "pc", GNV.NVXConfig())
    if rules:
        rules(GNV.pc)
    session = ScriptedSession(cn, monkeypatch, list(keys), columns=columns, lines=lines, interrupt_when_done=True)
    if on_key is not None:
        take = cn.read_single_key
        monkeypatch.setattr(cn, "read_single_key", lambda: on_key(session.keys[0] if session.keys else None) or take())
    torch.manual_seed(0)
    with pytest.raises(SystemExit):
        session.run(Model())
    return session.frames


def baseline_frames(cn, monkeypatch, keys, rules=None):
    """The session's frames beside the baseline's frame for each state it showed.
    The test keeps the selection and the open restructured modules (moves,
    rule keys and Right on a restructured module only); the rules are read
    from the configuration object the session edits."""
    size = os.terminal_size((120, 40))
    monkeypatch.setattr(baseline, "shutil", types.SimpleNamespace(get_terminal_size=lambda fallback=None: size))
    torch.manual_seed(0)
    entries = baseline.get_module_entries(Model())
    state = {"selected": 0, "window": 0, "expanded": {}}
    expected = []

    def draw_then_follow(key):
        text, state["window"] = baseline.targets_pass(entries, state["expanded"], state["selected"], state["window"])
        expected.append(text + "\n")
        visible = [e for e in entries if not e["in_replaced"] or state["expanded"].get(e["replaced_root"], False)]
        if key == DOWN:
            state["selected"] = min(state["selected"] + 1, len(visible) - 1)
        elif key == UP:
            state["selected"] = max(state["selected"] - 1, 0)
        elif key == RIGHT and visible[state["selected"]]["is_replaced_root"]:
            state["expanded"][visible[state["selected"]]["id"]] = True

    frames = frames_of(cn, monkeypatch, keys, rules=rules, on_key=draw_then_follow)
    return frames, expected


# Rule keys by id and by class, on the embedding whose weight the head shares,
# on the aliased block and inside the restructured module (opened with Right);
# moves that scroll the window down and back up.
DIFFERENTIAL_KEYS = (
    ["p", DOWN, "t", DOWN, DOWN, "P", DOWN, "T", "t"] + [DOWN] * 34
    + [RIGHT, DOWN, "P", DOWN, "t", DOWN, "p", "t", DOWN, "p"] + [UP] * 20 + ["p", "t"] + [UP] * 20 + ["t"]
)


def test_every_frame_is_the_one_the_baseline_draws(cn, monkeypatch):
    frames, expected = baseline_frames(cn, monkeypatch, DIFFERENTIAL_KEYS)
    assert len(frames) == len(expected) == len(DIFFERENTIAL_KEYS) + 1
    shown = [plain(frame) for frame in frames]
    assert len(set(shown)) > 60 and any("(id stale)" in frame for frame in shown)
    assert any("shared tensor in conflict" in frame for frame in shown)
    for index, (frame, reference) in enumerate(zip(frames, expected)):
        assert frame == reference, f"frame {index} differs"


# Header and footer giving way (narrow, short, smallest); too small.
@pytest.mark.parametrize("columns, lines", [(44, 14), (120, 12), (30, 8), (20, 8)])
def test_fitted_frames(cn, monkeypatch, snapshot, columns, lines):
    frames = frames_of(cn, monkeypatch, KEYS, columns, lines)
    assert len(frames) == len(KEYS) + 1
    opened = KEYS.index("y") + 1  # the type-rules box inside the Targets screen
    assert [plain(frames[i]) for i in (0, 3, opened, -1)] == snapshot


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

    frames, expected = baseline_frames(cn, monkeypatch, [DOWN, DOWN, "p", DOWN, "t"], rules=rules)
    assert frames == expected
    assert "mode=dendrify" in plain(frames[0])


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

    frame = frames_of(cn, monkeypatch, [], rules=rules)[0]
    model = Model()
    entries = cn.get_module_entries(model)
    total, added = budget_reference(entries, baseline.resolve_entry_modes(entries))
    # The tied head adds nothing; Reported counts 3 + 70, not its 1000 hidden ones.
    assert total == 200 + 12 * (20 + 16) + sum(p.numel() for p in model.attn.parameters()) + 73
    assert "+" + baseline.format_human_count(added) + " params per dendrite cycle" in frame
    assert "model " + baseline.format_human_count(total) + "  (" in frame
