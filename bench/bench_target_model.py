"""Target model at scale: a 100,000-module mixture-of-experts model on the meta
device (no memory for weights), with about 1,400 id rules, a few type rules and
one replaced root.

Prints the median time of ``get_module_entries`` and of one pass of the work the
session repeats on every key (normalise the rules, resolve every entry's mode,
build the budget line), the plan of the same model (``plan_targets``, at most
twice ``get_module_entries``) and its folded text (``str(plan)``, under 200 ms),
then, in a session driven by scripted keys on the
100,000-module model of ``run.py``, the pass after a key that changes no rule
next to the pass after ``P`` on ``Linear`` (a type rule set or taken off: the
whole model resolved again).

    .venv/bin/python bench/bench_target_model.py [--layers 48] [--experts 512] [--session-modules 100000]
"""

from __future__ import annotations

import argparse
import os
import random
import statistics
import sys
import time

import torch
from torch import nn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from run import Driver, build_model, install_rules, median_ms  # noqa: E402

from neuvora import configure_neuvora as cn  # noqa: E402
from neuvora import globals_neuvora as GNV  # noqa: E402


class Expert(nn.Module):
    def __init__(self, width, hidden):
        super().__init__()
        self.w1 = nn.Linear(width, hidden, bias=False)
        self.w2 = nn.Linear(hidden, width, bias=False)
        self.w3 = nn.Linear(width, hidden, bias=False)


class Attention(nn.Module):
    def __init__(self, width):
        super().__init__()
        self.q = nn.Linear(width, width)
        self.k = nn.Linear(width, width)
        self.v = nn.Linear(width, width)
        self.o = nn.Linear(width, width)


class MoE(nn.Module):
    def __init__(self, width, hidden, experts):
        super().__init__()
        self.router = nn.Linear(width, experts, bias=False)
        self.experts = nn.ModuleList(Expert(width, hidden) for _ in range(experts))


class Block(nn.Module):
    def __init__(self, width, hidden, experts):
        super().__init__()
        self.norm1 = nn.LayerNorm(width)
        self.attn = Attention(width)
        self.norm2 = nn.LayerNorm(width)
        self.moe = MoE(width, hidden, experts)


class Model(nn.Module):
    def __init__(self, layers, experts, width=64, hidden=128):
        super().__init__()
        self.embed = nn.Embedding(1000, width)
        self.blocks = nn.ModuleList(Block(width, hidden, experts) for _ in range(layers))
        self.pool = nn.MultiheadAttention(width, 4)  # the one replaced root
        self.norm = nn.LayerNorm(width)
        self.head = nn.Linear(width, 1000, bias=False)
        self.head.weight = self.embed.weight  # tied weights


def median_seconds(fn, repeats):
    """Median wall time and median CPU time of this process (the CPU time is the
    steadier figure on a machine shared with other work)."""
    wall, cpu = [], []
    for _ in range(repeats):
        start, start_cpu = time.perf_counter(), time.process_time()
        fn()
        wall.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return statistics.median(wall), statistics.median(cpu)


def show(label, times, goal=""):
    wall, cpu = times
    print(f"{label:<42}{wall * 1e3:8.1f} ms wall {cpu * 1e3:8.1f} ms cpu  {goal}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--layers", type=int, default=48)
    parser.add_argument("--experts", type=int, default=512)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--session-modules", type=int, default=100000, help="0 leaves the session out")
    args = parser.parse_args(argv)

    start = time.perf_counter()
    with torch.device("meta"):
        model = Model(args.layers, args.experts)
    built = time.perf_counter() - start

    pc = GNV.pc
    rng = random.Random(0)
    expert_ids = [
        f".blocks.{b}.moe.experts.{e}.w{w}"
        for b in range(args.layers)
        for e in range(args.experts)
        for w in (1, 2, 3)
    ]
    chosen = rng.sample(expert_ids, min(1400, len(expert_ids)))
    pc.set_module_ids_to_dendrify(chosen[:1000] + [".blocks.3.attn", ".blocks.7"])
    pc.set_module_ids_to_track(chosen[900:] + [".norm"])  # 100 conflicting ids
    pc.set_module_names_to_dendrify(["Attention", "Expert"])
    pc.set_module_names_to_track(["LayerNorm", "Embedding", "Attention"])

    entries = cn.get_module_entries(model)
    print(f"model: {len(entries)} modules, {sum(1 for _ in model.parameters())} parameters "
          f"(built in {built:.1f} s)")

    t_entries = median_seconds(lambda: cn.get_module_entries(model), args.repeats)

    def one_pass():
        cn.normalize_selection_conflicts()
        resolved = cn.resolve_entry_modes(entries)
        cn.build_budget_line(entries, resolved)

    t_pass = median_seconds(one_pass, args.repeats * 3)
    t_norm = median_seconds(cn.normalize_selection_conflicts, args.repeats * 3)
    t_resolve = median_seconds(lambda: cn.resolve_entry_modes(entries), args.repeats * 3)
    resolved = cn.resolve_entry_modes(entries)
    t_budget = median_seconds(lambda: cn.build_budget_line(entries, resolved), args.repeats * 3)
    t_types = median_seconds(lambda: cn.type_rule_entries(entries), args.repeats * 3)
    t_unset = median_seconds(lambda: cn.unset_module_entries(entries, resolved), args.repeats * 3)

    show("get_module_entries", t_entries, "(goal < 400 ms)")
    show("normalise + resolve + budget (one pass)", t_pass, "(goal well under 50 ms)")
    show("  normalize_selection_conflicts", t_norm)
    show("  resolve_entry_modes", t_resolve)
    show("  build_budget_line", t_budget)
    show("type_rule_entries", t_types)
    show("unset_module_entries", t_unset)
    print(cn.build_budget_line(entries, resolved))

    from neuvora import plan_targets

    t_plan = median_seconds(lambda: plan_targets(model), args.repeats)
    plan = plan_targets(model)
    t_text = median_seconds(lambda: str(plan), args.repeats)
    show("plan_targets", t_plan, f"ratio {t_plan[0] / t_entries[0]:.2f} to get_module_entries (goal <= 2)")
    show("str(plan), folded", t_text, f"{len(str(plan).splitlines())} lines (goal < 200 ms)")
    if args.session_modules:
        session_figures(args.session_modules, args.repeats * 3)
    return 0


def session_figures(modules, repeats):
    """The pass after `j` (no rule changes) and after `P` on the last row, a
    Linear (the type rule set, then taken off again), in one session."""
    GNV.pc = GNV.NVXConfig()
    model = build_model(modules)
    entries = cn.get_module_entries(model)
    install_rules(entries)
    keys = ["j"] * repeats + ["\x1b[F"] + ["P"] * repeats
    driver = Driver(keys)
    driver.run(model)
    gaps = driver.pass_times(skip=0)
    moves, rule_keys = gaps[:repeats], gaps[repeats + 1 : 2 * repeats + 1]
    move, rule = median_ms(moves), median_ms(rule_keys)
    print(f"session, {len(entries):,} modules (medians of {repeats} passes):")
    print(f"  pass after j (no rule changes)           {move:8.2f} ms  (goal <= 0.5 ms)")
    print(f"  P on Linear, then the pass               {rule:8.2f} ms  (goal <= 5 ms)  ratio {rule / move:.1f}")


if __name__ == "__main__":
    sys.exit(main())
