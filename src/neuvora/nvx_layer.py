"""The package's dendrite-bearing layer (a small stand-in for the real one).

An ``NVXLayer`` holds dendrite sub-layers and a main sub-layer in
``layer_array`` (the main one last), optional processors with ``pre``/``post``,
skip weights that feed earlier outputs into later ones, and three buffers
(``node_index``, ``num_cycles``, ``view_tuple``).

A dendrite's processor prepares the layer inputs (``pre(*args, **kwargs)``
returns the pair ``(args, kwargs)``) and adjusts the dendrite output (``post``);
the main layer's processor is applied to the main output (``pre(out)``) and to
the layer's final output (``post(out)``).
"""

from __future__ import annotations

import torch
from torch import nn

from neuvora import globals_neuvora as GNV


class IdentityProcessor:
    """A dendrite processor whose ``pre`` passes inputs through and ``post`` scales outputs."""

    def __init__(self, scale=1.0):
        self.scale = scale

    def pre(self, *args, **kwargs):
        return args, kwargs

    def post(self, out):
        return out * self.scale


class OutputProcessor:
    """A main-layer processor: ``pre`` and ``post`` scale the output they are given."""

    def __init__(self, pre_scale=1.0, post_scale=1.0):
        self.pre_scale = pre_scale
        self.post_scale = post_scale

    def pre(self, out):
        return out * self.pre_scale

    def post(self, out):
        return out * self.post_scale


class NVXLayer(nn.Module):
    def __init__(self, main, dendrites=(), processors=None, skip_weights=True):
        super().__init__()
        self.layer_array = nn.ModuleList([*dendrites, main])
        count = len(self.layer_array)
        self.processor_array = list(processors) if processors is not None else [None] * count
        features = getattr(main, "out_features", None)
        if skip_weights and features is not None and count > 1:
            # Entry 0 is a placeholder; entry k holds the weights feeding outputs 0..k-1 into k.
            self.skip_weights = nn.ParameterList(
                [nn.Parameter(torch.zeros(1, features))]
                + [nn.Parameter(torch.randn(k, features) * 0.1) for k in range(1, count)]
            )
        self.register_buffer("node_index", torch.arange(count))
        self.register_buffer("num_cycles", torch.tensor(count - 1))
        self.register_buffer("view_tuple", torch.tensor([1, features if features else 1]))

    def forward(self, *args, **kwargs):
        count = len(self.layer_array)
        outs = [None] * count
        for index in range(count - 1):
            inputs, options = args, dict(kwargs)
            processor = self.processor_array[index]
            if processor is not None:
                inputs, options = processor.pre(*inputs, **options)
            out = self.layer_array[index](*inputs, **options)
            outs[index] = processor.post(out) if processor is not None else out
        out = self.layer_array[-1].forward(*args, **kwargs)
        if self.processor_array[-1] is not None:
            out = self.processor_array[-1].pre(out)
        outs[-1] = out
        skip = getattr(self, "skip_weights", None)
        for out_index in range(count):
            current = outs[out_index]
            if count > 1 and skip is not None and len(skip) > 1:
                for in_index in range(out_index):
                    row = skip[out_index][in_index, :].view(self.view_tuple.tolist())
                    current = current + row.to(current.device) * outs[in_index]
            if out_index < count - 1:
                current = GNV.pc.get_nvx_forward_function()(current)
            outs[out_index] = current
        if self.processor_array[-1] is not None:
            current = self.processor_array[-1].post(current)
        return current
