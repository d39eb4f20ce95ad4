"""The package's configuration object (a small stand-in for the real one).

``pc`` holds the rule lists of the dendrification targets, the run settings with
their get_/set_ pairs, the switch-mode constants and the persistence of the run's
configuration as JSON, which is everything the native modules rely on. A saved
configuration file is read back with ``set_config_file(path)`` then
``load_config_file()``.
"""

from __future__ import annotations

import contextlib
import errno
import json
import os
import stat

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


def _read_json_object(path, failure):
    """The JSON object stored in the file at `path`. Content that is not a JSON
    object (malformed, not UTF-8, nested past the parser's depth, or another
    kind of value at the top) raises ValueError: `failure` + the quoted path +
    the reason. Errors of the file system propagate as they are."""
    try:
        with open(path, encoding="utf-8") as handle:
            document = json.load(handle)
    except (ValueError, RecursionError) as error:
        raise ValueError(f"{failure} {path!r}: its content is not valid JSON") from error
    if not isinstance(document, dict):
        kind = type(document).__name__
        raise ValueError(f"{failure} {path!r}: its top level is a JSON {kind}, not an object")
    return document


def _open_temporary(destination):
    """A fresh temporary file beside `destination`, opened for writing (created
    exclusively, so no other file is ever clobbered), and its path."""
    directory, base = os.path.split(destination)
    attempt = 0
    while True:
        # The base is shortened so that the name stays within the file system's
        # limit even when the destination's own name is close to it.
        candidate = os.path.join(directory, f".{base[:200]}.{os.getpid()}.{attempt}.tmp")
        try:
            return open(candidate, "x", encoding="utf-8"), candidate
        except FileExistsError:
            if attempt >= 99:
                raise
            attempt += 1


def _replace_file_contents(path, text):
    """Makes `text` the whole content of `path` without the file ever being seen
    half-written: the text goes to a temporary file beside it, is flushed to
    disk, and takes the old file's place in one rename. On any error the old
    file is as it was and the temporary file is gone. A symbolic link keeps
    pointing at the file it names, which gets the content; missing folders are
    created; an existing file that may not be written raises PermissionError."""
    destination = os.path.realpath(path) if os.path.islink(path) else path
    directory = os.path.dirname(destination)
    if directory:
        os.makedirs(directory, exist_ok=True)
    replacing = os.path.exists(destination)
    if replacing and not os.access(destination, os.W_OK):
        raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), path)
    handle, temporary = _open_temporary(destination)
    try:
        with handle:
            handle.write(text)
            handle.flush()
            os.fsync(handle.fileno())
        if replacing:
            with contextlib.suppress(OSError):  # keep the replaced file's permission bits
                os.chmod(temporary, stat.S_IMODE(os.stat(destination).st_mode))
        os.replace(temporary, destination)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise
    # Make the rename itself durable; the new content is in place either way.
    with contextlib.suppress(OSError):
        folder = os.open(directory or ".", os.O_RDONLY)
        try:
            os.fsync(folder)
        finally:
            os.close(folder)


# What a parse function of NVXConfig._member_checks returns for a value it refuses.
_REFUSED = object()


def _parse_kind(kind):
    """Accepts values of exactly this JSON kind (so true is not an integer)."""
    return lambda value: value if type(value) is kind else _REFUSED


def _parse_number(value):
    return value if type(value) in (int, float) else _REFUSED


def _parse_texts(value):
    if type(value) is list and all(type(item) is str for item in value):
        return list(value)
    return _REFUSED


def _parse_choice(choices):
    return lambda value: value if type(value) is str and value in choices else _REFUSED


def _parse_torch_function(value):
    """The torch function a saved name stands for (a name as written, so no
    other attribute of torch passes)."""
    function = getattr(torch, value, None) if type(value) is str else None
    return function if callable(function) and getattr(function, "__name__", None) == value else _REFUSED


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
        """Write the run's configuration (and, when asked, the config file).

        Each file keeps the members it already had (``module_settings`` among
        them) and is replaced atomically. A file that exists but does not hold
        a JSON object is never overwritten: ValueError names it, and no file
        has been written."""
        paths = [self.get_run_config_path()]
        if overwrite_config_file and self._config_file and self._config_file not in paths:
            paths.append(self._config_file)
        outputs = self.config_outputs()
        texts = []
        for path in paths:
            document = {}
            if os.path.exists(path):
                document = _read_json_object(path, "cannot save the configuration into")
            document.update(outputs)
            texts.append((path, json.dumps(document, indent=2)))
        for path, text in texts:
            _replace_file_contents(path, text)

    def load_config_file(self):
        """Take the four rule lists, the run settings and ``configuration_confirmed``
        from the configuration file (``set_config_file``).

        Returns True when the file was read; False when no file is set or it
        does not exist yet (saving as default creates it). Members the file
        lacks keep their values, and members that are neither (such as
        ``module_settings``) are left to their own readers. A file that does not
        hold a JSON object, or a member of the wrong kind, raises ValueError
        naming the file, and nothing is taken from it."""
        path = self._config_file
        if not path or not os.path.exists(path):
            return False
        failure = "cannot load the configuration from"
        document = _read_json_object(path, failure)
        taken = {}
        for name, value in document.items():
            check = self._member_checks().get(name)
            if check is None:
                continue
            kind, parse = check
            parsed = parse(value)
            if parsed is _REFUSED:
                raise ValueError(f"{failure} {path!r}: {name} must be {kind}, not {json.dumps(value)[:60]}")
            taken[name] = parsed
        for name, value in taken.items():
            setattr(self, name if name == "configuration_confirmed" else "_" + name, value)
        return True

    def _member_checks(self):
        """For each member a configuration file may set: what it must be, and
        the function that turns its JSON value into the stored one (or _REFUSED)."""
        checks = {name: ("a list of texts", _parse_texts) for name in RULE_LIST_NAMES}
        checks["configuration_confirmed"] = ("true or false", _parse_kind(bool))
        switch_modes = (
            self.DOING_SWITCH_EVERY_TIME,
            self.DOING_HISTORY,
            self.DOING_FIXED_SWITCH,
            self.DOING_NO_SWITCH,
        )
        for name, default in self._RUN_SETTINGS.items():
            if name == "switch_mode":
                checks[name] = ("one of " + ", ".join(map(repr, switch_modes)), _parse_choice(switch_modes))
            elif callable(default):
                checks[name] = ("the name of a torch function", _parse_torch_function)
            elif isinstance(default, float):
                checks[name] = ("a number", _parse_number)
            else:
                kind = {bool: "true or false", int: "an integer", str: "a text", list: "a list"}[type(default)]
                checks[name] = (kind, _parse_kind(type(default)))
        return checks

    def default_config_path(self):
        """Where a saved default configuration is looked for when no configuration
        file is given, the path the configurator suggests for "and save it as
        default": the run's configuration file, relative to the working
        directory, or ``<save_name>/<save_name>_config.json`` without one."""
        run_config = self.get_run_config_path()
        if run_config:
            try:
                return os.path.relpath(run_config, os.getcwd())
            except (TypeError, ValueError, OSError):
                return run_config
        save_name = self.get_save_name() or "NVX"
        return f"{save_name}/{save_name}_config.json"

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
