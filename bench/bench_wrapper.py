"""Inference speed of the converted layer.

Compares, in one run and interleaved round by round, the unconverted
``NVXLayer``, its ``NVXModulePyThread`` wrapper run sequentially, and the
wrapper with ``doing_threading`` switched on, for

  (a) small layers, where per-call overhead dominates
      (3 sub-layers of 64 features, batch 8), and
  (b) heavy layers (4 sub-layers of 1024 features, batch 512),

both with one intra-op thread (``torch.set_num_threads(1)``), so that the
sub-layers' own threads give the parallelism and no intra-op thread pool adds
its synchronisation to the small calls.

Two floors put the figures in context, measured in the same rounds:
"empty threads" starts and joins one ``threading.Thread`` per sub-layer with
nothing to do (the least the threaded path can cost), and "bare threads" runs
just the sub-layers, one plain thread each (the most parallelism the machine
gives right now).

Prints per-call medians and the median of the per-round ratios.

    .venv/bin/python bench/bench_wrapper.py [--rounds N] [--quick]
"""

from __future__ import annotations

import argparse
import os
import statistics
import threading
import time

import torch
from torch import nn

from neuvora import clean_neuvora as clean
from neuvora.nvx_layer import NVXLayer


def build(features, sub_layers):
    torch.manual_seed(0)
    dendrites = [nn.Linear(features, features) for _ in range(sub_layers - 1)]
    layer = NVXLayer(nn.Linear(features, features), dendrites).eval()
    return layer, clean.make_module(layer).eval()


def per_call(fn, x, calls):
    start = time.perf_counter()
    for _ in range(calls):
        fn(x)
    return (time.perf_counter() - start) / calls


def thread_floors(layer):
    subs = list(layer.layer_array)

    def empty_threads(v):
        threads = [threading.Thread(target=lambda: None) for _ in subs]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def bare_threads(v):
        threads = [threading.Thread(target=sub, args=(v,)) for sub in subs]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def bare_sequential(v):
        for sub in subs:
            sub(v)

    return {"empty threads": empty_threads, "bare threads": bare_threads, "bare sequential": bare_sequential}


def run_case(title, features, sub_layers, batch, calls, rounds, intra_threads):
    previous_threads = torch.get_num_threads()
    torch.set_num_threads(intra_threads)
    layer, wrapper = build(features, sub_layers)
    x = torch.randn(batch, features)

    def unconverted(v):
        return layer(v)

    def sequential(v):
        clean.doing_threading = False
        return wrapper(v)

    def threaded(v):
        clean.doing_threading = True
        try:
            return wrapper(v)
        finally:
            clean.doing_threading = False

    variants = {"unconverted": unconverted, "sequential": sequential, "threaded": threaded}
    checked = list(variants)
    variants.update(thread_floors(layer))
    times = {name: [] for name in variants}
    with torch.inference_mode():
        reference = layer(x)
        for name, fn in variants.items():  # warm up, and check the results agree
            if name in checked:
                assert torch.allclose(fn(x), reference, atol=1e-6), name
            per_call(fn, x, max(1, calls // 5))
        for _ in range(rounds):
            for name, fn in variants.items():
                times[name].append(per_call(fn, x, calls))
    torch.set_num_threads(previous_threads)

    def ratio(a, b):
        return statistics.median(x / y for x, y in zip(times[a], times[b]))

    print(f"\n{title}")
    for name in variants:
        print(f"  {name:<16} median {statistics.median(times[name]) * 1e6:10.1f} us/call")
    return {
        "bare sequential / bare threads": ratio("bare sequential", "bare threads"),
        "empty threads / sequential": ratio("empty threads", "sequential"),
        "sequential / unconverted": ratio("sequential", "unconverted"),
        "threaded / sequential": ratio("threaded", "sequential"),
        "sequential / threaded (speed-up)": ratio("sequential", "threaded"),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--quick", action="store_true", help="fewer calls per round")
    options = parser.parse_args()
    print(f"{os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.1f}; medians over {options.rounds} rounds")
    scale = 5 if options.quick else 1

    small = run_case(
        "(a) small: 3 sub-layers x 64 features, batch 8",
        64, 3, 8, calls=2000 // scale, rounds=options.rounds, intra_threads=1,
    )
    for key in ("sequential / unconverted", "threaded / sequential", "empty threads / sequential"):
        print(f"  {key:<34} {small[key]:6.2f}x")
    print("  goals: sequential / unconverted <= 1.0; threaded / sequential <= 3.0")

    heavy = run_case(
        "(b) heavy: 4 sub-layers x 1024 features, batch 512, torch.set_num_threads(1)",
        1024, 4, 512, calls=max(1, 10 // scale), rounds=options.rounds, intra_threads=1,
    )
    for key in ("sequential / unconverted", "sequential / threaded (speed-up)", "bare sequential / bare threads"):
        print(f"  {key:<34} {heavy[key]:6.2f}x")
    print("  goal: sequential / threaded >= 1.8")


if __name__ == "__main__":
    main()
