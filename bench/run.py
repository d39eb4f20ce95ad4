"""Benchmark suite: one table of figures measured in one run (``make bench``).

- One pass of the configurator's main loop on the Targets screen and on the Run
  settings screen (all buckets expanded), for models of 1,000, 10,000 and
  100,000 modules built on the meta device, with some id rules, some type rules
  and one replaced root. The native figure is measured inside a real session
  driven by scripted keys (time between two key reads); the interpreted figure
  runs ``baseline.py`` on the same state in the same process. Both must draw
  exactly the same frame, which is checked before anything is timed.
- ``get_module_entries`` for the same models, native and interpreted.
- The same Targets pass made of the module's public functions called one after
  another, as a caller outside a session would (normalise, ``resolve_entry_modes``,
  ``render_targets_lines`` over every visible row, ``compose_scrolling_screen``,
  ``wrap_screen_text_for_terminal``), next to the same calls of ``baseline.py``.
- The editing keys of the Targets screen (``u`` undo, Ctrl-R redo, ``!`` next
  module that needs a mode): the pass after each of them next to the pass after
  an ordinary move, in the same session.
- The conversion module's forward figures (``bench_wrapper.py``, fewer rounds
  than its own default).

Every figure is a median of repeated runs.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import platform
import statistics
import subprocess
import sys
import time
import types

import torch
from torch import nn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import baseline  # noqa: E402
from neuvora import configure_neuvora as cn  # noqa: E402
from neuvora import globals_neuvora as GNV  # noqa: E402

COLUMNS, LINES = 120, 40
CLEAR = "\x1b[2J\x1b[H"


class Expert(nn.Module):
    def __init__(self, width):
        super().__init__()
        self.up = nn.Linear(width, width)
        self.act = nn.GELU()
        self.down = nn.Linear(width, width)


class MoEBlock(nn.Module):
    def __init__(self, width, experts):
        super().__init__()
        self.norm = nn.LayerNorm(width)
        self.router = nn.Linear(width, experts)
        self.experts = nn.ModuleList([Expert(width) for _ in range(experts)])


class MoEModel(nn.Module):
    """Roughly `modules` submodules: blocks of experts, one attention (replaced root)."""

    def __init__(self, modules, width=8, experts=16, tied=False):
        super().__init__()
        per_block = 3 + 1 + experts * 4
        blocks = max(1, round((modules - 5) / per_block))
        self.embed = nn.Embedding(100, width)
        self.attn = nn.MultiheadAttention(width, 2, batch_first=True)
        self.blocks = nn.ModuleList([MoEBlock(width, experts) for _ in range(blocks)])
        if tied:  # the output head shares the embedding's weight, as in GPT-2
            self.head = nn.Linear(width, 100, bias=False)
            self.head.weight = self.embed.weight
        else:
            self.head = nn.Linear(width, 10)


def build_model(modules, tied=False):
    with torch.device("meta"):
        return MoEModel(modules, tied=tied)


def install_rules(entries, tied=False):
    """About 1.4% of modules get id rules, plus two type rules; with tied
    weights the head is dendrified while the embedding it shares with is
    tracked, so the frame carries the shared-tensor warning."""
    pc = GNV.pc
    ids = [e["id"] for e in entries if e["type_name"] == "Linear" and not e["in_replaced"]]
    step = max(1, len(entries) // max(1, int(len(entries) * 0.014)))
    chosen = ids[::step]
    pc.set_module_ids_to_dendrify(chosen[::2] + ([".head"] if tied else []))
    pc.set_module_ids_to_track(chosen[1::2])
    pc.set_module_names_to_dendrify(["LayerNorm"])
    pc.set_module_names_to_track(["Embedding"])


class Driver:
    """Replaces the module's terminal functions; times the gaps between key reads."""

    def __init__(self, keys):
        self.keys = list(keys)
        self.stamps = []
        self.output = io.StringIO()
        self.exit_offset = None

    def read_single_key(self):
        self.stamps.append(time.perf_counter())
        if not self.keys:
            raise KeyboardInterrupt
        return self.keys.pop(0)

    def run(self, model):
        size = os.terminal_size((COLUMNS, LINES))
        saved = {name: getattr(cn, name) for name in ("shutil", "read_single_key", "enter_alternate_screen",
                                                        "exit_alternate_screen", "require_interactive_session")}
        cn.shutil = types.SimpleNamespace(get_terminal_size=lambda fallback=(120, 40): size)
        cn.read_single_key = self.read_single_key
        cn.enter_alternate_screen = cn.require_interactive_session = lambda: None
        cn.exit_alternate_screen = lambda: setattr(self, "exit_offset", self.output.tell())
        try:
            with contextlib.redirect_stdout(self.output), contextlib.suppress(SystemExit):
                cn.set_dendrification_targets(model)
        finally:
            for name, value in saved.items():
                setattr(cn, name, value)

    def pass_times(self, skip):
        gaps = [b - a for a, b in zip(self.stamps, self.stamps[1:])]
        return gaps[skip:]

    def frames(self):
        drawn = self.output.getvalue()[: self.exit_offset]
        return [frame.rstrip("\n") for frame in drawn.split(CLEAR)[1:]]

    def gaps_after(self, keys, key):
        """Times of the passes that followed each press of `key` (dispatch, then the next frame)."""
        gaps = [b - a for a, b in zip(self.stamps, self.stamps[1:])]
        return [gap for pressed, gap in zip(keys, gaps) if pressed == key]


def median_ms(values):
    return statistics.median(values) * 1000.0


def time_call(function, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return times


def with_fixed_terminal(function):
    size = os.terminal_size((COLUMNS, LINES))
    saved = baseline.shutil.get_terminal_size
    baseline.shutil.get_terminal_size = lambda fallback=(120, 40): size
    try:
        return function()
    finally:
        baseline.shutil.get_terminal_size = saved


def bench_targets(model, entries, repeats):
    # Selection moves down one row per key; every frame is a full pass.
    keys = ["j"] * repeats
    driver = Driver(keys)
    driver.run(model)
    native = driver.pass_times(skip=1)
    frames = driver.frames()

    def interpreted_pass(index, window_start):
        return with_fixed_terminal(lambda: baseline.targets_pass(entries, {}, index, window_start))

    # Same frames, same state: replay the selection the session saw.
    window_start = 0
    for index, frame in enumerate(frames[:3]):
        text, window_start = interpreted_pass(index, window_start)
        assert text == frame, f"interpreted Targets frame {index} differs from the native one"
    interpreted = time_call(lambda: interpreted_pass(repeats // 2, 0), max(3, repeats // 4))
    return native, interpreted


def public_pass(module, entries, selected_index):
    """One Targets pass through a module's public functions, called one by one."""
    module.normalize_selection_conflicts()
    resolved = module.resolve_entry_modes(entries)
    visible = [e for e in entries if not e["in_replaced"]]
    header, body, footer, focus = module.render_targets_lines(entries, visible, selected_index, resolved, {})
    screen_text, window_start = module.compose_scrolling_screen(header, body, footer, 0, focus)
    return module.wrap_screen_text_for_terminal(screen_text), window_start


def bench_public_pass(entries, repeats):
    native_pass = lambda: public_pass(cn, entries, 3)  # noqa: E731
    interpreted_pass = lambda: with_fixed_terminal(lambda: public_pass(baseline, entries, 3))  # noqa: E731
    saved = cn.shutil
    cn.shutil = types.SimpleNamespace(get_terminal_size=lambda fallback=(120, 40): os.terminal_size((COLUMNS, LINES)))
    try:
        assert native_pass() == interpreted_pass(), "public-function Targets frames differ"
        native = time_call(native_pass, repeats)
    finally:
        cn.shutil = saved
    interpreted = time_call(interpreted_pass, max(3, repeats // 4))
    return native, interpreted


def bench_run_settings(model, entries, repeats):
    record = cn.load_description_data()
    buckets = [b for b in record["bucket_order"] if record["settings_by_bucket"].get(b)]
    # Select the last bucket, then expand upwards so every bucket ends expanded.
    keys = ["\t"] + ["j"] * (len(buckets) - 1)
    for _ in buckets:
        keys += ["\r", "k"]
    keys += ["j", "k"] * (repeats // 2)
    driver = Driver(keys)
    driver.run(model)
    native = driver.pass_times(skip=len(keys) - repeats + 1)
    expanded = {bucket: True for bucket in buckets}
    frame = driver.frames()[-1]
    text, _ = with_fixed_terminal(lambda: baseline.run_settings_pass(entries, record, expanded, 0, 0))
    assert text == frame, "interpreted Run settings frame differs from the native one"
    interpreted = time_call(
        lambda: with_fixed_terminal(lambda: baseline.run_settings_pass(entries, record, expanded, 1, 0)),
        max(3, repeats // 4),
    )
    return native, interpreted


def bench_editing_keys(model, repeats):
    """Passes after u, Ctrl-R and ! next to passes after an ordinary move, in one session."""
    redo = "\x12"
    keys = ["p"] + ["j", "u", redo, "!"] * repeats
    driver = Driver(keys)
    driver.run(model)
    moved = driver.gaps_after(keys, "j")
    return [(name, driver.gaps_after(keys, key), moved) for name, key in (("u", "u"), ("Ctrl-R", redo), ("!", "!"))]


def editing_row(label, after_key, after_move):
    k, m = median_ms(after_key), median_ms(after_move)
    return f"{label:<44} {k:>10.2f} {m:>12.2f} {k / m:>9.3f} {k - m:>+8.2f}"


def row(label, native, interpreted):
    n, i = median_ms(native), median_ms(interpreted)
    return f"{label:<44} {n:>10.2f} {i:>12.2f} {n / i:>9.3f} {i / n:>8.1f}x"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[1000, 10000, 100000])
    parser.add_argument("--repeats", type=int, default=21)
    parser.add_argument("--tied-sizes", type=int, nargs="*", default=[100000],
                        help="sizes also measured with tied weights in conflict")
    parser.add_argument("--skip-wrapper", action="store_true")
    # The wrapper benchmark's own default (15 rounds) alone takes about four
    # minutes here; seven rounds keep the whole suite within five.
    parser.add_argument("--wrapper-rounds", type=int, default=7)
    args = parser.parse_args()

    print(f"machine: {platform.machine()}, {os.cpu_count()} cores, {platform.platform()}")
    print(f"python {platform.python_version()}, torch {torch.__version__}; medians of {args.repeats} runs; "
          f"terminal {COLUMNS}x{LINES}\n")
    print(f"{'figure (ms)':<44} {'native':>10} {'interpreted':>12} {'ratio':>9} {'speed-up':>9}")
    editing = []
    for size in args.sizes:
        GNV.pc = GNV.NVXConfig()
        model = build_model(size)
        entries = cn.get_module_entries(model)
        install_rules(entries)
        repeats = args.repeats if size <= 10000 else max(5, args.repeats // 2)
        label = f"{len(entries):,} modules"
        native = time_call(lambda: cn.get_module_entries(model), max(3, repeats // 3))
        interpreted = time_call(lambda: baseline.get_module_entries(model), 3)
        print(row(f"get_module_entries, {label}", native, interpreted))
        print(row(f"Targets pass, {label}", *bench_targets(model, entries, repeats)))
        print(row(f"Run settings pass (expanded), {label}", *bench_run_settings(model, entries, repeats)))
        print(row(f"Targets pass, public functions, {label}", *bench_public_pass(entries, repeats)))
        if size in args.tied_sizes:
            GNV.pc = GNV.NVXConfig()
            model = build_model(size, tied=True)
            entries = cn.get_module_entries(model)
            install_rules(entries, tied=True)
            print(row(f"Targets pass, tied weights, {label}", *bench_targets(model, entries, repeats)))
            print(row(f"Targets pass, public, tied weights, {label}", *bench_public_pass(entries, repeats)))
        sys.stdout.flush()
        editing.append((label, bench_editing_keys(model, repeats)))

    print(f"\n{'Targets pass after an editing key (ms)':<44} {'after key':>10} {'after move':>12} {'ratio':>9} "
          f"{'extra':>8}")
    for label, figures in editing:
        for name, after_key, after_move in figures:
            print(editing_row(f"{name}, {label}", after_key, after_move))

    wrapper = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bench_wrapper.py")
    if not args.skip_wrapper and os.path.exists(wrapper):
        print("\nconversion module (bench_wrapper.py):")
        sys.stdout.flush()
        subprocess.run([sys.executable, wrapper, "--rounds", str(args.wrapper_rounds)], check=True)


if __name__ == "__main__":
    main()
