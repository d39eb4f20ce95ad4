"""Small networks to try the configurator on.

``python -m neuvora.demo`` opens the configurator on a transformer-style
classifier and, after a save, prints what was written. ``python -m neuvora.demo
--tied`` does the same on a language model whose output head shares its weight
with the token embedding (as GPT-2's does) and that keeps one parameter on the
model object itself (as CLIP's ``logit_scale``).

A confirmed configuration skips the configurator: the one in ``--config FILE``,
or without that option the default that "and save it as default" left where
the configurator suggests (``GNV.pc.default_config_path()``).
``--reconfigure`` opens the configurator anyway.
"""

from __future__ import annotations

import argparse
import json
import os
import shlex
import sys

import torch
from torch import nn


class FeedForward(nn.Module):
    def __init__(self, width, hidden):
        super().__init__()
        self.up = nn.Linear(width, hidden)
        self.act = nn.GELU()
        self.down = nn.Linear(hidden, width)

    def forward(self, x):
        return self.down(self.act(self.up(x)))


class Block(nn.Module):
    def __init__(self, width, heads, hidden):
        super().__init__()
        self.norm1 = nn.LayerNorm(width)
        self.attn = nn.MultiheadAttention(width, heads, batch_first=True)
        self.norm2 = nn.LayerNorm(width)
        self.mlp = FeedForward(width, hidden)

    def forward(self, x):
        h = self.norm1(x)
        x = x + self.attn(h, h, h, need_weights=False)[0]
        return x + self.mlp(self.norm2(x))


class DemoTransformer(nn.Module):
    def __init__(self, vocab=1000, width=64, heads=4, hidden=256, depth=3, classes=10):
        super().__init__()
        self.embed = nn.Embedding(vocab, width)
        self.blocks = nn.ModuleList([Block(width, heads, hidden) for _ in range(depth)])
        self.norm = nn.LayerNorm(width)
        self.head = nn.Linear(width, classes)

    def forward(self, tokens):
        x = self.embed(tokens)
        for block in self.blocks:
            x = block(x)
        return self.head(self.norm(x).mean(dim=1))


class TiedLanguageModel(nn.Module):
    def __init__(self, vocab=1000, width=64, hidden=256, depth=1):
        super().__init__()
        self.wte = nn.Embedding(vocab, width)
        self.h = nn.ModuleList([FeedForward(width, hidden) for _ in range(depth)])
        self.ln_f = nn.LayerNorm(width)
        self.lm_head = nn.Linear(width, vocab, bias=False)
        self.lm_head.weight = self.wte.weight  # one tensor, two rows
        self.logit_scale = nn.Parameter(torch.ones([]))  # held by the model itself

    def forward(self, tokens):
        x = self.wte(tokens)
        for block in self.h:
            x = x + block(x)
        return self.lm_head(self.ln_f(x)) * self.logit_scale


def build_demo_model():
    torch.manual_seed(0)
    return DemoTransformer()


def build_tied_demo_model():
    torch.manual_seed(0)
    return TiedLanguageModel()


def _show_saved(paths):
    for path in dict.fromkeys(paths):
        if path and os.path.exists(path):
            print(f"\n== {path}")
            with open(path, encoding="utf-8") as handle:
                print(json.dumps(json.load(handle), indent=2))


PROG = "python -m neuvora.demo"


def build_parser(config):
    """The demo's options; `config` gives the paths the help names."""
    run_config, default = config.get_run_config_path(), config.default_config_path()
    files = (
        "files (relative to the working directory; `make demo` runs in demo-run/):\n"
        f"  {run_config}\n"
        "      the run's configuration, written by every save; \"and save it as\n"
        "      default\" marks it confirmed\n"
        "  --config FILE\n"
        "      the configuration file that \"and save it as default\" writes; without\n"
        "      --config the configurator asks for its path, suggesting\n"
        f"      {default}\n"
        "\n"
        "A confirmed configuration (configuration_confirmed: true) skips the\n"
        "configurator: the one in --config FILE, or without --config the one in\n"
        f"{default}. --reconfigure opens the configurator anyway."
    )
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Opens the configurator on a small transformer-style network in this\n"
        "terminal; after a save, prints what was written.",
        epilog=files,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "--tied",
        action="store_true",
        help="a language model whose head shares the token embedding's weight and that "
        "holds a parameter of its own, instead of the transformer",
    )
    parser.add_argument(
        "--config",
        metavar="FILE",
        help="configuration file: read when it exists, written by \"and save it as default\"",
    )
    parser.add_argument(
        "--reconfigure",
        action="store_true",
        help="open the configurator even when the configuration is confirmed",
    )
    return parser


def _saved_default(GNV):
    """The default configuration file, when it holds a confirmed configuration.
    A run's configuration saved for that run only is not a default."""
    probe = GNV.NVXConfig()
    probe.set_config_file(probe.default_config_path())
    if probe.load_config_file() and probe.get_configuration_confirmed():
        return probe.get_config_file()
    return None


def _print_targets(pc):
    print("Targets by id:", pc.get_module_ids_to_dendrify(), "tracked:", pc.get_module_ids_to_track())
    print("Targets by type:", pc.get_module_names_to_dendrify(), "tracked:", pc.get_module_names_to_track())


def main(argv=None):
    from neuvora import dendrify_model
    from neuvora import globals_neuvora as GNV

    pc = GNV.pc
    parser = build_parser(pc)
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    try:
        config_file = args.config or _saved_default(GNV)
        if config_file:
            pc.set_config_file(config_file)
            pc.load_config_file()
    except (OSError, ValueError) as error:
        parser.exit(2, f"{PROG}: error: {error}\n")

    if pc.get_configuration_confirmed() and not args.reconfigure:
        again = [*(["--tied"] if args.tied else []), *(["--config", args.config] if args.config else [])]
        source = f" in {config_file}" if config_file else ""
        print(f"The configuration{source} is confirmed (configuration_confirmed: true): "
              "the configurator was skipped.")
        print("To open it again: " + shlex.join([*PROG.split(), *again, "--reconfigure"])
              + "   (make demo DEMO_ARGS=" + shlex.quote(shlex.join([*again, "--reconfigure"])) + ")")
        _print_targets(pc)
        return 0
    if args.reconfigure:
        # Confirmed again only by saving; set directly, so that the file is not
        # rewritten before the user saves.
        pc.configuration_confirmed = False

    model = build_tied_demo_model() if args.tied else build_demo_model()
    dendrify_model(model)
    print("Saved.", end=" ")
    _print_targets(pc)
    _show_saved([pc.get_run_config_path(), pc.get_config_file()])
    return 0


if __name__ == "__main__":
    sys.exit(main())
