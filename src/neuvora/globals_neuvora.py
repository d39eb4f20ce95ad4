"""The package's configuration object (a small stand-in for the real one).

``pc`` holds the rule lists of the dendrification targets, the run settings with
their get_/set_ pairs, the switch-mode constants and the persistence of the run's
configuration as JSON, which is everything the native modules rely on.
"""

from __future__ import annotations

import json
import os

import torch

RULE_LIST_NAMES = (
    "module_ids_to_dendrify",
    "module_ids_to_track",
    "module_names_to_dendrify",
    "module_names_to_track",
)


def callable_config_repr(value):
    """Display text of a callable configuration value (its dotted name)."""
    module = getattr(value, "__module__", None)
    name = getattr(value, "__qualname__", None) or getattr(value, "__name__", None)
    if name is None:
        return repr(value)
    return f"{module}.{name}" if module else name


def _jsonable(value):
    if callable(value):
        return getattr(value, "__name__", callable_config_repr(value))
    if isinstance(value, (list, tuple)):
        return [_jsonable(v) for v in value]
    return value


class NVXConfig:
    """Run configuration of one dendrification run."""

    DOING_SWITCH_EVERY_TIME = "switch_every_time"
    DOING_HISTORY = "history"
    DOING_FIXED_SWITCH = "fixed_switch"
    DOING_NO_SWITCH = "no_switch"

    # Settings that a module id or a module class may override, in display order.
    _CUSTOMIZABLE = {
        "dendrite_count": int,
        "dendrite_learning_rate": float,
        "nvx_forward_function": str,
        "use_skip_weights": bool,
        "candidate_widths": list,
    }

    # Run settings: name -> default value.
    _RUN_SETTINGS = {
        "save_name": "NVX",
        "switch_mode": DOING_HISTORY,
        "nvx_forward_function": torch.sigmoid,
        "dendrite_count": 4,
        "max_dendrites": 8,
        "dendrite_learning_rate": 0.001,
        "improvement_threshold": 0.0001,
        "history_lookback": 10,
        "use_skip_weights": True,
        "candidate_widths": [8, 16, 32],
        "test_saves": False,
        "extra_verbose": False,
        "input_dimensions": [-1, 0, -1, -1],
        "output_directory": "nvx_runs",
    }

    def __init__(self):
        for name in RULE_LIST_NAMES:
            setattr(self, "_" + name, [])
        for name, value in self._RUN_SETTINGS.items():
            setattr(self, "_" + name, list(value) if isinstance(value, list) else value)
        self.modules_to_replace = [torch.nn.MultiheadAttention]
        self.modules_to_track = []
        self.module_names_to_not_save = [".base_model"]
        self.configuration_confirmed = False
        self._auto_persist_config = True
        self._config_file = None

    # -- dendrification targets -------------------------------------------
    def get_modules_to_replace(self):
        return list(self.modules_to_replace)

    def get_modules_to_track(self):
        return list(self.modules_to_track)

    def get_module_names_to_not_save(self):
        return list(self.module_names_to_not_save)

    def set_configuration_confirmed(self, value):
        self.configuration_confirmed = bool(value)
        self._auto_persist()

    def get_configuration_confirmed(self):
        return self.configuration_confirmed

    # -- files --------------------------------------------------------------
    def get_config_file(self):
        return self._config_file

    def set_config_file(self, path):
        self._config_file = path

    def get_run_config_path(self):
        return os.path.join(self._output_directory, str(self._save_name), "run_config.json")

    def get_nvx_forward_function(self):
        function = self._nvx_forward_function
        if isinstance(function, str):
            return getattr(torch, function)
        return function

    def config_outputs(self):
        """The run's configuration as a JSON-ready mapping."""
        outputs = {name: _jsonable(getattr(self, "_" + name)) for name in self._RUN_SETTINGS}
        for name in RULE_LIST_NAMES:
            outputs[name] = list(getattr(self, "_" + name))
        outputs["configuration_confirmed"] = self.configuration_confirmed
        return outputs

    def persist_config_outputs(self, overwrite_config_file=False):
        """Write the run's configuration (and, when asked, the config file)."""
        paths = [self.get_run_config_path()]
        if overwrite_config_file and self._config_file:
            paths.append(self._config_file)
        for path in paths:
            document = {}
            if os.path.exists(path):
                with open(path, encoding="utf-8") as handle:
                    document = json.load(handle)
            document.update(self.config_outputs())
            directory = os.path.dirname(path)
            if directory:
                os.makedirs(directory, exist_ok=True)
            with open(path, "w", encoding="utf-8") as handle:
                json.dump(document, handle, indent=2)

    def _auto_persist(self):
        if self.__dict__.get("_auto_persist_config", True) and self._config_file:
            self.persist_config_outputs(overwrite_config_file=True)


def _add_accessors(name):
    attribute = "_" + name

    def getter(self):
        return getattr(self, attribute)

    def setter(self, value):
        setattr(self, attribute, value)
        self._auto_persist()

    getter.__name__ = "get_" + name
    setter.__name__ = "set_" + name
    if not hasattr(NVXConfig, getter.__name__):
        setattr(NVXConfig, getter.__name__, getter)
    setattr(NVXConfig, setter.__name__, setter)


for _name in (*RULE_LIST_NAMES, *NVXConfig._RUN_SETTINGS):
    _add_accessors(_name)
del _name

pc = NVXConfig()
