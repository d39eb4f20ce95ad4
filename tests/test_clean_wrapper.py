"""NVXModulePyThread: construction, the sequential and threaded forward, worker
failures, and behaving like any other torch module."""

from __future__ import annotations

import copy
import inspect
import io
import pickle
import threading
import time
from collections import OrderedDict

import pytest
import torch
from torch import nn

from neuvora.nvx_layer import IdentityProcessor, NVXLayer, OutputProcessor


class Shifted(nn.Module):
    """A sub-layer taking keyword arguments."""

    def __init__(self, features):
        super().__init__()
        self.linear = nn.Linear(features, features)

    def forward(self, x, scale=1.0, *, shift=0.0):
        return self.linear(x) * scale + shift


class HalveInputs:
    """A dendrite processor that changes the inputs and the keyword arguments."""

    def pre(self, x, *rest, **kwargs):
        if "shift" in kwargs:
            kwargs = dict(kwargs, shift=kwargs["shift"] + 1.0)
        return (x * 0.5, *rest), kwargs

    def post(self, out):
        return out - 0.25


class Failing(nn.Module):
    """Raises ValueError(message); with `after`, only once that event is set (or
    a few seconds passed), so that it fails later than the ones that set it."""

    def __init__(self, message, after=None, then_set=None):
        super().__init__()
        self.message = message
        self.raised = []
        self.after = after
        self.then_set = then_set
        self.failed_after_the_others = False

    def forward(self, x, **kwargs):
        if self.after is not None:
            self.failed_after_the_others = self.after.wait(timeout=5)
            time.sleep(0.05)
        error = ValueError(self.message)
        self.raised.append(error)
        if self.then_set is not None:
            self.then_set.set()
        raise error


def make_layer(count, processors=False, skip=True, features=5, keywords=False):
    torch.manual_seed(count * 7 + processors * 3 + skip)
    kind = Shifted if keywords else (lambda f: nn.Linear(f, f))
    subs = [kind(features) for _ in range(count)]
    procs = None
    if processors:
        procs = [HalveInputs() if i % 2 == 0 else None for i in range(count - 1)]
        procs.append(OutputProcessor(pre_scale=1.5, post_scale=-2.0))
    layer = NVXLayer(subs[-1], subs[:-1], processors=procs, skip_weights=skip)
    if skip and count > 1 and keywords:
        # Shifted has no out_features: give the layer its skip weights by hand.
        layer.skip_weights = nn.ParameterList(
            [nn.Parameter(torch.zeros(1, features))]
            + [nn.Parameter(torch.randn(k, features) * 0.1) for k in range(1, count)]
        )
        layer.view_tuple = torch.tensor([1, features])
    return layer


def expected_output(layer, args, kwargs, activation=torch.sigmoid):
    """The layer's output computed from its parts, independently of any forward."""
    subs = list(layer.layer_array)
    procs = layer.processor_array
    count = len(subs)
    raw = []
    for index in range(count - 1):
        inputs, options = args, dict(kwargs)
        if procs[index] is not None:
            inputs, options = procs[index].pre(*inputs, **options)
        out = subs[index](*inputs, **options)
        raw.append(procs[index].post(out) if procs[index] is not None else out)
    main = subs[-1](*args, **kwargs)
    raw.append(procs[-1].pre(main) if procs[-1] is not None else main)
    weights = getattr(layer, "skip_weights", None)
    final = []
    for out_index in range(count):
        value = raw[out_index]
        if weights is not None and len(weights) > 1:
            for in_index in range(out_index):
                value = value + weights[out_index][in_index].reshape(1, -1) * final[in_index]
        if out_index < count - 1:
            value = activation(value)
        final.append(value)
    if procs[-1] is not None:
        value = procs[-1].post(value)
    return value


@pytest.fixture
def threading_on(clean, monkeypatch):
    def switch(on):
        monkeypatch.setattr(clean, "doing_threading", on)

    return switch


# -- construction ------------------------------------------------------------


def test_module_bindings(clean):
    from neuvora import globals_neuvora

    assert clean.doing_threading is False
    assert clean.GNV is globals_neuvora and clean.torch is torch and clean.nn is nn
    assert clean.Thread is threading.Thread
    assert clean.ModuleType is clean.NVXModulePyThread
    cls = clean.NVXModulePyThread
    assert issubclass(cls, nn.Module) and cls.__bases__ == (nn.Module,)
    assert cls.__module__ == "neuvora.clean_neuvora" and cls.__qualname__ == "NVXModulePyThread"
    for name in ("process_and_forward", "process_and_pre", "forward", "__init__"):
        assert name in vars(cls)


def test_takes_over_the_layer(clean):
    layer = make_layer(3, processors=True)
    wrapper = clean.NVXModulePyThread(layer)
    assert wrapper.layer_array is layer.layer_array
    assert wrapper.processor_array is layer.processor_array
    assert list(wrapper.skip_weights) == list(layer.skip_weights)[1:]
    assert list(wrapper._buffers) == ["node_index", "num_cycles", "view_tuple"]
    assert wrapper.node_index is not layer.node_index
    assert torch.equal(wrapper.node_index, layer.node_index) and not wrapper.node_index.requires_grad
    assert wrapper.num_cycles is layer.num_cycles and wrapper.view_tuple is layer.view_tuple
    assert "layer_array" in dict(wrapper.named_children())


@pytest.mark.parametrize("weights", [None, 1])
def test_no_skip_weights_unless_more_than_one(clean, weights):
    layer = make_layer(3, skip=False)
    if weights:
        layer.skip_weights = nn.ParameterList([nn.Parameter(torch.ones(1, 5))])
    wrapper = clean.make_module(layer)
    assert not hasattr(wrapper, "skip_weights")
    x = torch.randn(2, 5)
    assert torch.allclose(wrapper(x), expected_output(make_layer(3, skip=False), (x,), {}))


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda c: c.NVXModulePyThread(), "__init__() takes exactly 2 positional arguments (1 given)"),
        (lambda c: c.NVXModulePyThread(1, 2), "__init__() takes exactly 2 positional arguments (3 given)"),
        (lambda c: c.NVXModulePyThread(layer=1), "__init__() got an unexpected keyword argument 'layer'"),
    ],
)
def test_construction_argument_errors(clean, call, message):
    with pytest.raises(TypeError) as caught:
        call(clean)
    assert str(caught.value) == message


# -- forward -----------------------------------------------------------------


@pytest.mark.parametrize("threaded", [False, True], ids=["sequential", "threaded"])
@pytest.mark.parametrize("skip", [True, False], ids=["skip", "noskip"])
@pytest.mark.parametrize("processors", [False, True], ids=["plain", "processors"])
@pytest.mark.parametrize("count", [1, 2, 4])
def test_forward_matches_independent_computation(clean, threading_on, count, processors, skip, threaded):
    layer = make_layer(count, processors=processors, skip=skip)
    wrapper = clean.make_module(layer)
    threading_on(threaded)
    x = torch.randn(3, 5)
    out = wrapper(x)
    assert torch.allclose(out, expected_output(layer, (x,), {}), atol=1e-6)
    assert torch.equal(out, layer(x))  # the stand-in layer computes the same


@pytest.mark.parametrize("threaded", [False, True], ids=["sequential", "threaded"])
@pytest.mark.parametrize("count", [1, 2, 4])
def test_keyword_arguments_reach_every_sub_layer(clean, threading_on, count, threaded):
    layer = make_layer(count, processors=True, keywords=True)
    wrapper = clean.make_module(layer)
    threading_on(threaded)
    x = torch.randn(2, 5)
    out = wrapper(x, 0.5, shift=3.0)
    assert torch.allclose(out, expected_output(layer, (x, 0.5), {"shift": 3.0}), atol=1e-6)
    assert not torch.allclose(out, wrapper(x, 0.5))


def test_activation_is_read_from_the_configuration(clean, fresh_config):
    layer = make_layer(3)
    wrapper = clean.make_module(layer)
    x = torch.randn(2, 5)
    fresh_config.set_nvx_forward_function("tanh")
    assert torch.allclose(wrapper(x), expected_output(layer, (x,), {}, torch.tanh), atol=1e-6)
    calls = []
    fresh_config.get_nvx_forward_function = lambda: calls.append(1) or torch.relu
    assert torch.allclose(wrapper(x), expected_output(layer, (x,), {}, torch.relu), atol=1e-6)
    assert len(calls) == 2  # dendrite layers only, not the main layer


def test_single_sub_layer_is_main_output_through_its_processors(clean, fresh_config):
    layer = make_layer(1, processors=True)
    fresh_config.get_nvx_forward_function = lambda: pytest.fail("no activation for the main layer")
    x = torch.randn(2, 5)
    main = layer.layer_array[0]
    assert torch.allclose(clean.make_module(layer)(x), main(x) * 1.5 * -2.0)


def test_switching_threading_between_calls_keeps_the_result(clean):
    wrapper = clean.make_module(make_layer(4, processors=True))
    x = torch.randn(2, 5)
    first = wrapper(x)
    clean.doing_threading = True
    try:
        second = wrapper(x)
    finally:
        clean.doing_threading = False
    assert torch.equal(first, second) and torch.equal(first, wrapper(x))


class RecordingThread(threading.Thread):
    def __init__(self, log, **kwargs):
        super().__init__(**kwargs)
        self.log = log
        self.given = kwargs
        log.append(("made", self))

    def start(self):
        self.log.append(("start", self))
        super().start()

    def join(self, timeout=None):
        self.log.append(("join", self))
        super().join(timeout)


def test_threads_are_made_through_thread_with_the_described_arguments(clean, threading_on, monkeypatch):
    log = []
    monkeypatch.setattr(clean, "Thread", lambda **kw: RecordingThread(log, **kw))
    threading_on(True)
    wrapper = clean.make_module(make_layer(3, keywords=True))
    x = torch.randn(2, 5)
    wrapper(x, 2.0, shift=1.0)
    threads = [thread for event, thread in log if event == "made"]
    assert [event for event, _ in log] == ["made"] * 3 + ["start"] * 3 + ["join"] * 3
    assert [thread for event, thread in log if event != "made"] == threads * 2
    buffer = threads[0].given["args"][1]
    assert isinstance(buffer, list) and len(buffer) == 3
    for index, thread in enumerate(threads):
        given = thread.given
        assert set(given) == {"target", "args", "kwargs"}
        assert given["kwargs"] == {"shift": 1.0}
        if index < 2:
            assert given["target"] == wrapper.process_and_forward
            assert given["args"][:2] == (index, buffer) and given["args"][1] is buffer
            assert given["args"][2:] == (x, 2.0)
        else:
            assert given["target"] == wrapper.process_and_pre
            assert given["args"][0] is buffer and given["args"][1:] == (x, 2.0)


def test_process_methods_fill_their_slot(clean):
    layer = make_layer(2, processors=True)
    wrapper = clean.make_module(layer)
    x = torch.randn(2, 5)
    buffer = [None, None]
    assert wrapper.process_and_forward(0, buffer, x) is None
    assert wrapper.process_and_pre(buffer, x) is None
    dendrite, main = layer.layer_array
    assert torch.allclose(buffer[0], dendrite(x * 0.5) - 0.25)
    assert torch.allclose(buffer[1], main.forward(x) * 1.5)


class BadPair:
    def __init__(self, result):
        self.result = result

    def pre(self, *args, **kwargs):
        return self.result

    def post(self, out):
        return out


@pytest.mark.parametrize(
    "result, error, message",
    [
        (((1,), {}, 3), ValueError, "too many values to unpack (expected 2)"),
        ((((torch.ones(2, 5),), None)), TypeError, "argument after ** must be a mapping, not NoneType"),
        (((), ), ValueError, "not enough values to unpack (expected 2, got 1)"),
    ],
)
def test_dendrite_processor_results_are_unpacked_like_python(clean, result, error, message):
    layer = make_layer(2)
    layer.processor_array = [BadPair(result), None]
    wrapper = clean.make_module(layer)
    with pytest.raises(error) as caught:
        wrapper(torch.ones(2, 5))
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "failing, lowest_fails_last",
    [([0], False), ([2], False), ([1, 3], False), ([3], False), ([1, 3], True), ([0, 2, 3], True)],
)
def test_worker_failure_is_raised_in_the_caller_after_all_joins(
    clean, threading_on, monkeypatch, failing, lowest_fails_last
):
    layer = make_layer(4)
    higher_failed = threading.Event() if lowest_fails_last else None
    for index in failing:
        if index == failing[0]:
            layer.layer_array[index] = Failing(f"sub-layer {index}", after=higher_failed)
        else:
            layer.layer_array[index] = Failing(f"sub-layer {index}", then_set=higher_failed)
    log = []
    monkeypatch.setattr(clean, "Thread", lambda **kw: RecordingThread(log, **kw))
    hooked = []
    monkeypatch.setattr(threading, "excepthook", hooked.append)
    wrapper = clean.make_module(layer)
    threading_on(True)
    with pytest.raises(ValueError) as caught:
        wrapper(torch.ones(2, 5))
    first = layer.layer_array[failing[0]]
    assert caught.value is first.raised[0]  # the worker's own exception, lowest slot first
    assert first.failed_after_the_others == lowest_fails_last
    assert [event for event, _ in log].count("join") == 4
    assert all(not thread.is_alive() for event, thread in log if event == "made")
    assert hooked == []
    # The wrapper is usable afterwards and failures do not leak into later calls.
    for index in failing:
        layer.layer_array[index] = nn.Linear(5, 5)
    x = torch.ones(2, 5)
    assert torch.allclose(wrapper(x), expected_output(layer, (x,), {}), atol=1e-6)


def test_failure_propagates_directly_when_not_threaded(clean):
    layer = make_layer(2)
    layer.layer_array[0] = Failing("direct")
    wrapper = clean.make_module(layer)
    with pytest.raises(ValueError, match="direct"):
        wrapper(torch.ones(2, 5))
    with pytest.raises(ValueError, match="direct"):
        wrapper.process_and_forward(0, [None, None], torch.ones(2, 5))


# -- a module like any other ---------------------------------------------------


def converted_network(clean):
    torch.manual_seed(3)
    layer = NVXLayer(
        nn.Linear(5, 5),
        [nn.Linear(5, 5), nn.Linear(5, 5)],
        processors=[IdentityProcessor(0.5), None, OutputProcessor(2.0, 0.5)],
    )
    return nn.Sequential(nn.Linear(5, 5), clean.make_module(layer), nn.ReLU())


def test_state_dict_and_to(clean):
    net = converted_network(clean)
    state = net.state_dict()
    for name in ("node_index", "num_cycles", "view_tuple", "skip_weights.0", "layer_array.2.weight"):
        assert f"1.{name}" in state
    moved = copy.deepcopy(net).to("meta")
    assert moved[1].node_index.device.type == "meta" and moved[1].view_tuple.device.type == "meta"
    doubled = copy.deepcopy(net).double()
    assert doubled[1].skip_weights[0].dtype == torch.float64
    assert doubled[1].node_index.dtype == torch.int64
    assert doubled(torch.ones(2, 5, dtype=torch.float64)).dtype == torch.float64


# Whole modules load only with weights_only=False from torch 2.6 on; torch
# before 1.13 has no such parameter and always loads them.
WHOLE_MODULES = {"weights_only": False} if "weights_only" in inspect.signature(torch.load).parameters else {}


@pytest.mark.parametrize(
    "clone",
    [
        lambda net: pickle.loads(pickle.dumps(net)),
        copy.deepcopy,
        lambda net: torch.load(io.BytesIO(_saved(net)), **WHOLE_MODULES),
    ],
    ids=["pickle", "deepcopy", "torch.save"],
)
def test_copies_compute_the_same(clean, clone):
    net = converted_network(clean)
    copied = clone(net)
    assert type(copied[1]) is clean.NVXModulePyThread
    assert copied[1].layer_array is not net[1].layer_array
    x = torch.randn(4, 5)
    assert torch.equal(copied(x), net(x))


def _saved(net):
    buffer = io.BytesIO()
    torch.save(net, buffer)
    return buffer.getvalue()


@pytest.mark.parametrize("threaded", [False, True])
@pytest.mark.parametrize("context", [torch.no_grad, torch.inference_mode])
def test_grad_free_contexts(clean, threading_on, context, threaded):
    net = converted_network(clean)
    x = torch.randn(4, 5)
    reference = net(x)
    assert reference.requires_grad
    threading_on(threaded)
    with context():
        out = net(x)
    assert not out.requires_grad and torch.equal(out, reference.detach())
    if context is torch.inference_mode:
        assert out.is_inference()


@pytest.mark.parametrize("context", [torch.no_grad, torch.inference_mode, torch.enable_grad])
def test_workers_run_under_the_callers_autograd_mode(clean, threading_on, context):
    # With one sub-layer the output comes straight from a worker thread.
    wrapper = clean.make_module(make_layer(1))
    threading_on(True)
    x = torch.randn(2, 5)
    with torch.no_grad():
        with context():
            out = wrapper(x)
    assert out.requires_grad == (context is torch.enable_grad)
    assert out.is_inference() == (context is torch.inference_mode)
    assert torch.is_grad_enabled()


class CountingList(nn.ModuleList):
    def __init__(self, modules):
        super().__init__(modules)
        self.reads = 0

    def __getitem__(self, index):
        self.reads += 1
        return super().__getitem__(index)


def test_container_and_member_overrides_are_honoured(clean):
    layer = make_layer(3, processors=True)
    counting = CountingList(list(layer.layer_array))
    layer.layer_array = counting
    wrapper = clean.make_module(layer)
    x = torch.randn(2, 5)
    assert torch.allclose(wrapper(x), expected_output(layer, (x,), {}), atol=1e-6)
    assert counting.reads >= 3

    class Subclass(clean.NVXModulePyThread):
        @property
        def processor_array(self):
            return [None, None, OutputProcessor(post_scale=0.0)]

        @processor_array.setter
        def processor_array(self, value):
            pass

    zeroed = Subclass(make_layer(3))
    assert torch.equal(zeroed(x), torch.zeros(2, 5))



# -- checkpoints across conversion ---------------------------------------------


def layer_with_skip_weights(kind):
    """A layer of three sub-layers with several skip weights, exactly one, or none
    (the wrapper keeps skip weights only for several), or a single sub-layer."""
    if kind == "single":
        return make_layer(1)
    if kind == "one dendrite":
        return make_layer(2, processors=True)  # two skip weights of the same shape
    layer = make_layer(3, processors=True, skip=kind == "several")
    if kind == "exactly one":
        layer.skip_weights = nn.ParameterList([nn.Parameter(torch.ones(1, 5))])
    return layer


def scrambled(net):
    with torch.no_grad():
        for value in net.state_dict().values():
            if value.is_floating_point():
                value.add_(1.0)
    return net


def load_like_older_torch(net, state_dict):
    """load_state_dict as torch before 2.0 does it: one copy of the state dict,
    handed whole to every module, parents before children."""
    state_dict = OrderedDict(state_dict)
    missing, unexpected, errors = [], [], []

    def load(module, prefix=""):
        module._load_from_state_dict(state_dict, prefix, {}, True, missing, unexpected, errors)
        for name, child in module._modules.items():
            if child is not None:
                load(child, prefix + name + ".")

    load(net)
    assert errors == []
    return missing, unexpected


LOADERS = {
    "torch": lambda net, state: tuple(net.load_state_dict(state, strict=True)),
    "older torch": load_like_older_torch,
}
SKIP_KINDS = ["several", "one dendrite", "exactly one", "none", "single"]


@pytest.mark.parametrize("loader", LOADERS.values(), ids=LOADERS)
@pytest.mark.parametrize("kind", SKIP_KINDS)
def test_checkpoint_saved_before_conversion_loads_strictly(clean, kind, loader):
    net = nn.Sequential(nn.Linear(5, 5), layer_with_skip_weights(kind), nn.ReLU())
    saved = copy.deepcopy(net.state_dict())
    x = torch.randn(3, 5)
    reference = net(x)
    converted = scrambled(clean.refresh_net(copy.deepcopy(net)))
    assert not torch.equal(converted(x), reference)
    assert loader(converted, saved) == ([], [])
    assert torch.equal(converted(x), reference)
    assert list(saved) == list(net.state_dict())  # the caller's dict is left alone


@pytest.mark.parametrize("kind", SKIP_KINDS)
def test_checkpoint_saved_after_conversion_loads_as_saved(clean, kind):
    net = nn.Sequential(nn.Linear(5, 5), layer_with_skip_weights(kind))
    converted = clean.refresh_net(copy.deepcopy(net))
    saved = copy.deepcopy(converted.state_dict())
    skip_keys = [key for key in saved if "skip_weights" in key]
    kept = len(net[1].skip_weights) - 1 if kind in ("several", "one dendrite") else 0
    assert skip_keys == [f"1.skip_weights.{i}" for i in range(kept)]
    x = torch.randn(3, 5)
    other = scrambled(clean.refresh_net(copy.deepcopy(net)))
    assert tuple(other.load_state_dict(saved)) == ([], [])
    assert torch.equal(other(x), converted(x))
    assert all(torch.equal(other.state_dict()[key], value) for key, value in saved.items())
    assert list(other.state_dict()) == list(saved)


def test_loose_loading_never_puts_a_skip_weight_into_another_slot(clean):
    layer = make_layer(4)
    net = nn.Sequential(layer)
    saved = {key: value.clone() for key, value in net.state_dict().items()}
    converted = scrambled(clean.refresh_net(copy.deepcopy(net)))
    del saved["0.skip_weights.1"]  # the layer's second entry, the wrapper's first
    missing, unexpected = converted.load_state_dict(saved, strict=False)
    assert (missing, unexpected) == (["0.skip_weights.0"], [])
    for slot in (1, 2):
        assert torch.equal(converted[0].skip_weights[slot], saved[f"0.skip_weights.{slot + 1}"])

    # One sub-layer besides the main one: the layer's two entries have one shape.
    pair = nn.Sequential(make_layer(2))
    saved = copy.deepcopy(pair.state_dict())
    loose = scrambled(clean.refresh_net(copy.deepcopy(pair)))
    assert tuple(loose.load_state_dict(saved, strict=False)) == ([], [])
    assert torch.equal(loose[0].skip_weights[0], saved["0.skip_weights.1"])


class StatefulLayer(NVXLayer):
    """A layer with state of its own that the wrapper does not take over."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.register_buffer("dendrite_age", torch.zeros(3))
        self.gate = nn.Parameter(torch.ones(1))
        self.tracker = nn.Linear(5, 1)
        self.register_buffer("scratch", torch.zeros(1), persistent=False)

    def get_extra_state(self):
        return {"cycles_seen": 2}

    def set_extra_state(self, state):
        self.cycles_seen = state["cycles_seen"]


def test_state_the_wrapper_does_not_keep_is_left_behind_by_name(clean):
    torch.manual_seed(5)
    layer = StatefulLayer(nn.Linear(5, 5), [nn.Linear(5, 5), nn.Linear(5, 5)])
    net = nn.Sequential(nn.Linear(5, 5), layer)
    saved = copy.deepcopy(net.state_dict())
    x = torch.randn(2, 5)
    reference = net(x)
    converted = copy.deepcopy(net)
    converted[1] = clean.make_module(converted[1])
    assert converted[1]._state_left_behind == ("gate", "dendrite_age", "_extra_state", "tracker")
    assert "_state_left_behind" not in vars(clean.make_module(make_layer(3)))
    assert list(converted.state_dict()) == [
        key for key in net.state_dict() if key.split(".")[1] not in converted[1]._state_left_behind
        and key != "1.skip_weights.2"
    ]
    for clone in (copy.deepcopy, lambda net: torch.load(io.BytesIO(_saved(net)), **WHOLE_MODULES)):
        copied = scrambled(clone(converted))
        assert tuple(copied.load_state_dict(saved)) == ([], [])
        assert torch.equal(copied(x), reference)

    # Names the layer never had are still reported.
    saved["1.gated"] = torch.ones(1)
    with pytest.raises(RuntimeError, match='Unexpected key\\(s\\) in state_dict: "1.gated"'):
        converted.load_state_dict(saved)


@pytest.mark.parametrize(
    "clone",
    [lambda net: pickle.loads(pickle.dumps(net)), lambda net: torch.load(io.BytesIO(_saved(net)), **WHOLE_MODULES)],
    ids=["pickle", "torch.save"],
)
def test_copies_of_a_converted_network_load_checkpoints_saved_before_conversion(clean, clone):
    net = nn.Sequential(nn.Linear(5, 5), make_layer(4, processors=True))
    saved = copy.deepcopy(net.state_dict())
    x = torch.randn(2, 5)
    copied = scrambled(clone(clean.refresh_net(copy.deepcopy(net))))
    assert tuple(copied.load_state_dict(saved)) == ([], [])
    assert torch.equal(copied(x), net(x))
