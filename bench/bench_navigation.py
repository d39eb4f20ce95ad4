"""Moving around a large model: search keys, n / N and Home / End at 100,000 modules.

Each figure is the median time between two key reads of a real session driven
by scripted keys (the key handled and the next frame drawn), next to the
ordinary Targets pass (Down) of the same session, so the ratios come from one run.

    .venv/bin/python bench/bench_navigation.py [--modules 100000] [--repeats 21]
"""

from __future__ import annotations

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from run import Driver, build_model, install_rules, median_ms  # noqa: E402

from neuvora import configure_neuvora as cn  # noqa: E402
from neuvora import globals_neuvora as GNV  # noqa: E402

# Pieces of ids and class names, typed one key at a time: the first keys match
# most of the model, the last ones a few modules or none.
SEARCHES = ["blocks.17.experts.3.up", "moeblock", "gelu", "experts.15.down", "zzz"]
GOALS = {"search key": 5.0, "n (next match)": 2.0}


def session_keys(repeats):
    """The keys of the session and, per figure, the positions of the keys it times."""
    keys, timed = [], {"Down (ordinary pass)": [], "search key": [], "Backspace in the search": [],
                       "n (next match)": [], "N (previous match)": [], "Home / End": []}

    def add(key, figure=None):
        if figure:
            timed[figure].append(len(keys))
        keys.append(key)

    for _ in range(repeats):
        add("j", "Down (ordinary pass)")
    for round_ in range(max(1, repeats // len(SEARCHES))):
        for text in SEARCHES:
            add("/")
            for character in text:
                add(character, "search key")
            add("\x7f", "Backspace in the search")
            add("\r" if round_ % 2 == 0 else "\x1b")
    add("/")
    for character in "experts.1.up":
        add(character)
    add("\r")
    for _ in range(repeats):
        add("n", "n (next match)")
    for _ in range(repeats):
        add("N", "N (previous match)")
    for index in range(repeats):
        add("\x1b[H" if index % 2 else "\x1b[F", "Home / End")
    return keys, timed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--modules", type=int, default=100000)
    parser.add_argument("--repeats", type=int, default=21)
    args = parser.parse_args()

    GNV.pc = GNV.NVXConfig()
    model = build_model(args.modules)
    entries = cn.get_module_entries(model)
    install_rules(entries)
    keys, timed = session_keys(args.repeats)
    driver = Driver(keys)
    driver.run(model)
    # Key i is read at stamps[i]; it is handled and the next frame drawn
    # before key i + 1 is read.
    gaps = driver.pass_times(skip=0)

    def figure(name):
        return median_ms([gaps[i] for i in timed[name] if i < len(gaps)])

    ordinary = figure("Down (ordinary pass)")
    print(f"{len(entries):,} modules, medians of {args.repeats} or more keys")
    print(f"{'figure (ms)':<32} {'median':>8} {'/ Down':>8} {'goal':>8}")
    for name in timed:
        value = figure(name)
        goal = GOALS.get(name)
        goal_text = f"<= {goal:.0f}" if goal else ("<= Down" if name == "Home / End" else "")
        print(f"{name:<32} {value:>8.2f} {value / ordinary:>8.2f} {goal_text:>8}")


if __name__ == "__main__":
    main()
