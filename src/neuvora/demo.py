"""Small networks to try the configurator on.

``python -m neuvora.demo`` opens the configurator on a transformer-style
classifier and, after a save, prints what was written. ``python -m neuvora.demo
--tied`` does the same on a language model whose output head shares its weight
with the token embedding (as GPT-2's does) and that keeps one parameter on the
model object itself (as CLIP's ``logit_scale``).
"""

from __future__ import annotations

import json
import os
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
    for path in paths:
        if path and os.path.exists(path):
            print(f"\n== {path}")
            with open(path, encoding="utf-8") as handle:
                print(json.dumps(json.load(handle), indent=2))


def main(argv=None):
    from neuvora import dendrify_model
    from neuvora import globals_neuvora as GNV

    args = sys.argv[1:] if argv is None else argv
    model = build_tied_demo_model() if "--tied" in args else build_demo_model()
    dendrify_model(model)
    pc = GNV.pc
    print("Saved. Targets by id:", pc.get_module_ids_to_dendrify(), "tracked:", pc.get_module_ids_to_track())
    print("Targets by type:", pc.get_module_names_to_dendrify(), "tracked:", pc.get_module_names_to_track())
    _show_saved([pc.get_run_config_path(), pc.get_config_file()])
    return 0


if __name__ == "__main__":
    sys.exit(main())
