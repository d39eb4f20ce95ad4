"""refresh_net and the walk over a network: what is converted, what is left
alone, the verbose prints, and the argument errors."""

from __future__ import annotations

import builtins
import copy
import types

import pytest
import torch
from torch import nn

from neuvora import nvx_layer
from neuvora.nvx_layer import NVXLayer, OutputProcessor

F = 6


def nvx(dendrites=2, main=None, **kwargs):
    subs = [nn.Linear(F, F) for _ in range(dendrites)]
    return NVXLayer(main if main is not None else nn.Linear(F, F), subs, **kwargs)


class Block(nn.Module):
    def __init__(self):
        super().__init__()
        self.inner = nvx(1)
        self.act = nn.Tanh()

    def forward(self, x):
        return self.act(self.inner(x))


class Net(nn.Module):
    """Layers reached through a Sequential, a ModuleList, attributes, nested
    modules and another layer's layer_array."""

    def __init__(self):
        super().__init__()
        torch.manual_seed(11)
        self.stem = nn.Sequential(nn.Linear(F, F), nvx(2), nn.ReLU(), nvx(0))
        self.blocks = nn.ModuleList([Block(), nvx(3, processors=[None] * 3 + [OutputProcessor(1.5, 0.5)])])
        self.head = nvx(1)
        # A layer whose dendrite is itself a layer.
        self.outer = NVXLayer(nn.Linear(F, F), [nvx(1), nn.Linear(F, F)])

    def forward(self, x):
        x = self.stem(x)
        for block in self.blocks:
            x = block(x)
        return self.outer(self.head(x))


def type_names(module):
    return [type(m).__name__ for m in module.modules()]


def test_nested_network_is_converted_in_place_with_equal_outputs(clean):
    net = Net()
    reference = copy.deepcopy(net)
    x = torch.randn(4, F)
    assert clean.refresh_net(net) is net
    names = type_names(net)
    assert "NVXLayer" not in names
    assert names.count("NVXModulePyThread") == 7
    assert isinstance(net.outer.layer_array[0], clean.NVXModulePyThread)
    assert isinstance(net.blocks[0].inner, clean.NVXModulePyThread)
    with torch.no_grad():
        assert torch.allclose(net(x), reference(x), atol=1e-6)
        clean.doing_threading = True
        try:
            assert torch.allclose(net(x), reference(x), atol=1e-6)
        finally:
            clean.doing_threading = False


def test_checkpoint_saved_before_conversion_loads_into_the_converted_network(clean):
    # Layers in containers, attributes, nested modules and another layer's layer_array.
    net = Net()
    saved = copy.deepcopy(net.state_dict())
    assert "outer.layer_array.0.skip_weights.1" in saved and "stem.1.skip_weights.2" in saved
    x = torch.randn(4, F)
    with torch.no_grad():
        reference = net(x)
        converted = clean.refresh_net(net)
        for parameter in converted.parameters():
            parameter.add_(1.0)
        assert tuple(converted.load_state_dict(saved)) == ([], [])
        assert torch.equal(converted(x), reference)
        resaved = copy.deepcopy(converted.state_dict())
        assert "outer.layer_array.0.skip_weights.1" not in resaved and "stem.1.skip_weights.1" in resaved
        assert tuple(converted.load_state_dict(resaved)) == ([], [])
        assert torch.equal(converted(x), reference)


def test_bare_layer_becomes_a_new_wrapper(clean):
    layer = nvx(2)
    x = torch.randn(3, F)
    wrapper = clean.refresh_net(layer)
    assert type(wrapper) is clean.NVXModulePyThread
    assert type(layer) is NVXLayer
    assert wrapper.layer_array is layer.layer_array
    assert torch.equal(wrapper(x), layer(x))


def test_layer_array_kept_as_a_plain_list_is_converted_by_index(clean):
    inner = nvx(1)
    layer = nvx(2)
    del layer.layer_array
    layer.layer_array = [inner, nn.Linear(F, F), nn.Linear(F, F)]
    layer.processor_array = [None] * 3
    reference = copy.deepcopy(layer)
    net = nn.Sequential(layer)
    clean.refresh_net(net)
    wrapper = net[0]
    assert type(wrapper) is clean.NVXModulePyThread
    assert type(wrapper.layer_array) is list
    assert type(wrapper.layer_array[0]) is clean.NVXModulePyThread
    x = torch.randn(2, F)
    with torch.no_grad():
        assert torch.allclose(net(x), reference(x), atol=1e-6)


def test_any_class_named_nvxlayer_is_converted(clean):
    renamed = type("NVXLayer", (NVXLayer,), {"__module__": __name__})
    holder = nn.Sequential(nn.Linear(F, F))
    holder.extra = renamed(nn.Linear(F, F), [nn.Linear(F, F)])
    clean.refresh_net(holder)
    assert type(holder.extra) is clean.NVXModulePyThread


def test_tracked_classes_are_left_alone_but_containers_are_walked(clean, fresh_config):
    net = nn.Sequential(Block(), nvx(1))
    fresh_config.modules_to_track = [Block, nn.Sequential]
    clean.refresh_net(net)
    assert type(net[0].inner) is NVXLayer
    assert type(net[1]) is clean.NVXModulePyThread


def test_names_to_not_save_are_skipped(clean, fresh_config):
    net = Block()
    net.other = nvx(1)
    fresh_config.module_names_to_not_save = [".inner"]
    clean.refresh_net(net)
    assert type(net.inner) is NVXLayer
    assert type(net.other) is clean.NVXModulePyThread


def test_top_level_names_already_visited_are_skipped(clean, fresh_config, capsys):
    net = Block()
    net.other = nvx(1)
    converted = [".inner", ".other.layer_array"]
    fresh_config.set_extra_verbose(True)
    clean.refresh_nvx(net, 0, "", converted)
    assert type(net.inner) is NVXLayer
    assert type(net.other) is clean.NVXModulePyThread  # only top-level names are consulted
    out = capsys.readouterr().out.splitlines()
    assert "Skipping .inner during save" in out
    assert "Skipping .other.layer_array during save" not in out
    assert converted[:2] == [".inner", ".other.layer_array"] and ".other" in converted


def test_module_reached_twice(clean, fresh_config, capsys):
    net = nn.Module()
    net.block = nn.Sequential(nvx(1))
    net.alias = net.block
    fresh_config.set_extra_verbose(True)
    clean.refresh_net(net)
    wrapper = net.block[0]
    assert type(wrapper) is clean.NVXModulePyThread and net.alias[0] is wrapper
    warning = (
        "this is only being called because something in your model is pointed to twice by two "
        "different variables.  Highest thing on the list is one of the duplicates"
    )
    assert capsys.readouterr().out.splitlines().count(warning) == 1
    assert clean.refresh_nvx(wrapper, 3, ".x", []) is wrapper
    assert capsys.readouterr().out == (
        f"CL calling convert on {wrapper} depth 3\n"
        "CL calling convert on .x: NVXModulePyThread, depth 3\n"
        f"{warning}\n"
    )


def test_verbose_walk_prints(clean, fresh_config, capsys):
    layer = nvx(0)
    net = nn.Sequential(layer)
    fresh_config.set_extra_verbose(True)
    before = (
        f"CL calling convert on {net} depth 0\n"
        "CL calling convert on : Sequential, depth 0\n"
        f"CL calling convert on {layer} depth 1\n"
        "CL calling convert on [0]: NVXLayer, depth 1\n"
    )
    clean.refresh_net(net)
    out = capsys.readouterr().out
    assert out.startswith(before)
    lines = out.splitlines()
    assert "CL calling convert on [0].layer_array: ModuleList, depth 2" in lines
    assert "CL calling convert on [0].layer_array[0]: Linear, depth 3" in lines
    fresh_config.set_extra_verbose(False)
    clean.refresh_net(nn.Sequential(nvx(0)))
    assert capsys.readouterr().out == ""


def test_prints_go_through_the_builtin_print(clean, fresh_config, monkeypatch):
    seen = []
    monkeypatch.setattr(builtins, "print", lambda *args, **kwargs: seen.append(args))
    fresh_config.set_extra_verbose(True)
    clean.refresh_nvx(nn.ReLU(), 2, ".r", [])
    monkeypatch.undo()
    assert seen[:2] == [("CL calling convert on ReLU() depth 2",), ("CL calling convert on .r: ReLU, depth 2",)]


def test_conversion_goes_through_module_globals(clean, monkeypatch):
    made = []

    def fake_type(module):
        made.append(module)
        return nn.Identity()

    monkeypatch.setattr(clean, "ModuleType", fake_type)
    layer = nvx(1)
    assert isinstance(clean.make_module(layer), nn.Identity) and made == [layer]
    net = nn.Sequential(nvx(1))
    clean.refresh_net(net)
    assert type(net[0]) is nn.Identity


@pytest.mark.parametrize("name", ["refresh_nvx", "make_module", "get_pretrained_nvx_attr", "get_pretrained_nvx_var"])
def test_the_walk_calls_its_own_functions_directly(clean, monkeypatch, name):
    monkeypatch.setattr(clean, name, lambda *args: pytest.fail(f"{name} was looked up on the module"))
    net = Net()
    clean.refresh_net(net)
    assert "NVXLayer" not in type_names(net)


def test_the_configuration_is_read_through_the_module_gnv(clean, monkeypatch, capsys):
    config = type(clean.GNV.pc)()
    config.set_extra_verbose(True)
    config.modules_to_track = [Block]
    monkeypatch.setattr(clean, "GNV", types.SimpleNamespace(pc=config))
    net = nn.Sequential(Block())
    clean.refresh_net(net)
    assert type(net[0].inner) is NVXLayer  # a tracked class is left alone
    assert "CL calling convert on [0]: Block, depth 1" in capsys.readouterr().out.splitlines()


def test_pretrained_accessors(clean):
    net = nn.Sequential(nn.Linear(F, F))
    net.flag = 5
    assert clean.get_pretrained_nvx_attr(None, "flag") is None
    assert clean.get_pretrained_nvx_attr(net, "flag") == 5
    assert clean.get_pretrained_nvx_var(None, "0") is None
    assert clean.get_pretrained_nvx_var(net, "0") is net[0]
    with pytest.raises(AttributeError):
        clean.get_pretrained_nvx_attr(net, "missing")
    with pytest.raises(AttributeError):
        clean.get_pretrained_nvx_var(net, "9")


class Exploding(nn.Module):
    def __getattr__(self, name):
        if name == "boom":
            raise RuntimeError("not readable")
        return super().__getattr__(name)

    def __dir__(self):
        return ["boom", *super().__dir__()]


def test_members_that_fail_to_read_are_skipped_and_config_errors_propagate(clean, fresh_config):
    net = Exploding()
    net.layer = nvx(1)
    clean.refresh_net(net)
    assert type(net.layer) is clean.NVXModulePyThread

    def broken():
        raise KeyError("config")

    fresh_config.get_module_names_to_not_save = broken
    with pytest.raises(KeyError):
        clean.refresh_net(Block())


def test_functions_have_no_docstrings(clean):
    for name in ("refresh_net", "refresh_nvx", "make_module", "get_pretrained_nvx_attr", "get_pretrained_nvx_var"):
        assert getattr(clean, name).__doc__ is None


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda c: c.refresh_net(1, 2), "refresh_net() takes exactly 1 positional argument (2 given)"),
        (lambda c: c.refresh_net(), "refresh_net() takes exactly 1 positional argument (0 given)"),
        (lambda c: c.refresh_nvx(1, 2, 3), "refresh_nvx() takes exactly 4 positional arguments (3 given)"),
        (lambda c: c.make_module(), "make_module() takes exactly 1 positional argument (0 given)"),
        (
            lambda c: c.get_pretrained_nvx_attr(None),
            "get_pretrained_nvx_attr() takes exactly 2 positional arguments (1 given)",
        ),
        (
            lambda c: c.get_pretrained_nvx_var(None, 1, 2),
            "get_pretrained_nvx_var() takes exactly 2 positional arguments (3 given)",
        ),
        (lambda c: c.refresh_net(net=1), "refresh_net() got an unexpected keyword argument 'net'"),
    ],
)
def test_argument_errors(clean, call, message):
    with pytest.raises(TypeError) as caught:
        call(clean)
    assert str(caught.value) == message


def test_keyword_names(clean):
    layer = nvx(1)
    assert type(clean.refresh_net(pretrained_dendrite=layer)) is clean.NVXModulePyThread
    assert clean.get_pretrained_nvx_attr(pretrained_dendrite=None, member="x") is None
    assert type(clean.make_module(module=nvx(1))) is clean.NVXModulePyThread
    assert clean.refresh_nvx(net=nn.ReLU(), depth=0, name_so_far="", converted_list=[]).__class__ is nn.ReLU


def test_stand_in_module_has_what_the_wrapper_takes():
    layer = nvx(2)
    for name in ("layer_array", "processor_array", "skip_weights", "node_index", "num_cycles", "view_tuple"):
        assert hasattr(layer, name)
    assert nvx_layer.NVXLayer is NVXLayer
