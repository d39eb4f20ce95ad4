"""Type stubs for the native conversion module ``neuvora.clean_neuvora``."""

import threading
import types
from typing import Any

from torch import Tensor as _Tensor
from torch.nn import Module as _TorchModule

# Module globals (read at the time of use; callers may replace them).

GNV: types.ModuleType
nn: types.ModuleType
torch: types.ModuleType
Thread: type[threading.Thread]
doing_threading: bool

class NVXModulePyThread(_TorchModule):
    """Inference wrapper of one dendrite layer: recomputes the layer's output
    from its sub-layers, each on a thread of its own when `doing_threading`
    is set."""

    # The sub-layers: dendrite layers first, the main layer last.
    layer_array: Any
    # One entry per sub-layer: None or an object with `pre` and `post`.
    processor_array: Any
    # Present only when the wrapped layer had more than one skip weight.
    skip_weights: Any
    node_index: _Tensor
    num_cycles: _Tensor
    view_tuple: _Tensor

    def __init__(self, original_module: _TorchModule) -> None: ...
    def process_and_forward(self, *args2: Any, **kwargs2: Any) -> None: ...
    def process_and_pre(self, *args: Any, **kwargs: Any) -> None: ...
    def forward(self, *args: Any, **kwargs: Any) -> Any: ...
    # torch's loading of this module's entries; a state dict saved from the
    # wrapped layer before conversion is renamed to the wrapper's entries first.
    def _load_from_state_dict(
        self,
        state_dict: Any,
        prefix: str,
        local_metadata: Any,
        strict: bool,
        missing_keys: list[str],
        unexpected_keys: list[str],
        error_msgs: list[str],
    ) -> None: ...

# The class `make_module` instantiates.
ModuleType: type[NVXModulePyThread]

def refresh_net(pretrained_dendrite: _TorchModule) -> _TorchModule: ...
def refresh_nvx(net: Any, depth: int, name_so_far: str, converted_list: list[str]) -> Any: ...
def make_module(module: _TorchModule) -> NVXModulePyThread: ...
def get_pretrained_nvx_attr(pretrained_dendrite: _TorchModule | None, member: str) -> Any: ...
def get_pretrained_nvx_var(
    pretrained_dendrite: _TorchModule | None, submodule_id: str
) -> _TorchModule | None: ...
