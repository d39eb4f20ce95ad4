"""The type stubs describe the built modules: the same names, the same
parameters, values of the declared types, and they type-check strictly.

The functions are builtins, so their parameters cannot be inspected. The
argument binder rejects a bad call before the function body runs: too many
positional arguments give "f() takes exactly N positional argument(s) (M given)"
(or "at most N"), a call without arguments names the count of required
parameters ("exactly"/"at least"), and keywords are matched against the
parameter names before anything runs, so a call naming every stubbed parameter
plus one bogus keyword must complain about the bogus one only.
"""

from __future__ import annotations

import ast
import importlib
import re
import shutil
import subprocess
import sys
import typing
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import pytest
import torch
from torch import nn

SOURCE_DIR = Path(__file__).resolve().parent.parent / "src" / "neuvora"
MODULES = ["configure_neuvora", "clean_neuvora"]
BOGUS = "__not_a_parameter__"

# ---------------------------------------------------------------------------
# Reading a stub
# ---------------------------------------------------------------------------


@dataclass
class Stub:
    tree: ast.Module
    functions: dict[str, ast.FunctionDef] = field(default_factory=dict)
    classes: dict[str, ast.ClassDef] = field(default_factory=dict)
    attributes: dict[str, ast.expr] = field(default_factory=dict)  # name -> annotation
    type_only: dict[str, ast.AST] = field(default_factory=dict)  # TypedDicts, aliases, TypeVars
    imported: dict[str, Any] = field(default_factory=dict)  # local name -> object

    @property
    def runtime_names(self) -> set[str]:
        return set(self.functions) | set(self.classes) | set(self.attributes)


def _is_type_only_class(node: ast.ClassDef) -> bool:
    return any(isinstance(base, ast.Name) and base.id in ("TypedDict", "Protocol") for base in node.bases)


def read_stub(name: str) -> Stub:
    tree = ast.parse((SOURCE_DIR / f"{name}.pyi").read_text(), filename=f"{name}.pyi")
    stub = Stub(tree)
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            stub.functions[node.name] = node
        elif isinstance(node, ast.ClassDef):
            (stub.type_only if _is_type_only_class(node) else stub.classes)[node.name] = node
        elif isinstance(node, ast.AnnAssign):
            assert isinstance(node.target, ast.Name)
            if isinstance(node.annotation, ast.Name) and node.annotation.id == "TypeAlias":
                stub.type_only[node.target.id] = node.value
            else:
                stub.attributes[node.target.id] = node.annotation
        elif isinstance(node, ast.Assign):
            call = node.value
            assert isinstance(call, ast.Call) and getattr(call.func, "id", None) == "TypeVar", ast.dump(node)
            stub.type_only[node.targets[0].id] = node
        elif isinstance(node, ast.Import):
            for alias in node.names:
                assert alias.asname is None or alias.asname != alias.name, "re-exported import"
                stub.imported[alias.asname or alias.name] = importlib.import_module(alias.name)
        elif isinstance(node, ast.ImportFrom):
            source = importlib.import_module(node.module)
            for alias in node.names:
                assert alias.asname != alias.name, "re-exported import"
                stub.imported[alias.asname or alias.name] = getattr(source, alias.name)
        else:
            assert isinstance(node, ast.Expr), ast.dump(node)  # the module docstring
    return stub


STUBS = {name: read_stub(name) for name in MODULES}


def load(name: str):
    return importlib.import_module(f"neuvora.{name}")


# ---------------------------------------------------------------------------
# Checking a value against an annotation
# ---------------------------------------------------------------------------


def conforms(value: Any, node: ast.expr, stub: Stub, module) -> bool:
    """Whether `value` is of the type the stub annotation `node` names."""
    if isinstance(node, ast.Constant) and node.value is None:
        return value is None
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.BitOr):
        return conforms(value, node.left, stub, module) or conforms(value, node.right, stub, module)
    if isinstance(node, ast.Subscript):
        origin = resolve(node.value, stub, module)
        args = list(node.slice.elts) if isinstance(node.slice, ast.Tuple) else [node.slice]
        if origin is typing.Literal:
            return any(type(value) is type(arg.value) and value == arg.value for arg in args)
        if origin in (list, set):
            return isinstance(value, origin) and all(conforms(v, args[0], stub, module) for v in value)
        if origin is dict:
            return isinstance(value, dict) and all(
                conforms(k, args[0], stub, module) and conforms(v, args[1], stub, module) for k, v in value.items()
            )
        if origin is tuple:
            return (
                isinstance(value, tuple)
                and len(value) == len(args)
                and all(conforms(v, a, stub, module) for v, a in zip(value, args))
            )
        if origin is type:
            return isinstance(value, type) and issubclass(value, resolve(args[0], stub, module))
        if origin is re.Pattern:
            return isinstance(value, re.Pattern)
        raise AssertionError(f"no check for {ast.unparse(node)}")
    target = resolve(node, stub, module)
    if target is Any or target is object:
        return True
    if isinstance(target, ast.ClassDef):  # a TypedDict: exactly its keys, in order
        fields = [n for n in target.body if isinstance(n, ast.AnnAssign)]
        return (
            isinstance(value, dict)
            and list(value) == [f.target.id for f in fields]
            and all(conforms(value[f.target.id], f.annotation, stub, module) for f in fields)
        )
    if isinstance(target, ast.expr):  # a type alias
        return conforms(value, target, stub, module)
    if target is float:
        return isinstance(value, (int, float)) and not isinstance(value, bool)
    if target is int:
        return isinstance(value, int) and not isinstance(value, bool)
    return isinstance(value, target)


def resolve(node: ast.expr, stub: Stub, module) -> Any:
    if isinstance(node, ast.Attribute):
        return getattr(resolve(node.value, stub, module), node.attr)
    assert isinstance(node, ast.Name), ast.dump(node)
    if node.id in stub.type_only:
        declared = stub.type_only[node.id]
        return Any if isinstance(declared, ast.Assign) else declared  # a TypeVar stands for anything
    if node.id in stub.classes:
        return getattr(module, node.id)
    if node.id in stub.imported:
        return stub.imported[node.id]
    return getattr(__import__("builtins"), node.id)


# ---------------------------------------------------------------------------
# Names
# ---------------------------------------------------------------------------


@pytest.mark.parametrize("name", MODULES)
def test_stubs_and_marker_are_installed(name):
    installed = Path(load(name).__file__).parent
    assert (installed / f"{name}.pyi").read_text() == (SOURCE_DIR / f"{name}.pyi").read_text()
    assert (installed / "py.typed").is_file()


@pytest.mark.parametrize("name", MODULES)
def test_stub_names_match_module_attributes(name):
    module, stub = load(name), STUBS[name]
    public = {attr for attr in vars(module) if not attr.startswith("__")}
    assert sorted(public - stub.runtime_names) == [], "module attributes missing from the stub"
    assert sorted(stub.runtime_names - set(vars(module))) == [], "stubbed names the module lacks"
    # Names that exist for type checkers only are private and absent at run time.
    assert all(n.startswith("_") and not hasattr(module, n) for n in stub.type_only)


@pytest.mark.parametrize("name", MODULES)
def test_stubbed_attributes_hold_values_of_their_types(name):
    module, stub = load(name), STUBS[name]
    wrong = {
        attr: type(getattr(module, attr)).__name__
        for attr, annotation in stub.attributes.items()
        if not conforms(getattr(module, attr), annotation, stub, module)
    }
    assert wrong == {}


@pytest.mark.parametrize("name", MODULES)
def test_stubbed_classes_match(name):
    module, stub = load(name), STUBS[name]
    for class_name, node in stub.classes.items():
        cls = getattr(module, class_name)
        assert isinstance(cls, type)
        assert cls.__bases__ == tuple(resolve(base, stub, module) for base in node.bases)
        stubbed = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
        own = {k for k, v in vars(cls).items() if callable(v) and (k == "__init__" or not k.startswith("__"))}
        assert stubbed == own


# ---------------------------------------------------------------------------
# Parameters
# ---------------------------------------------------------------------------


def _callables():
    for name in MODULES:
        stub = STUBS[name]
        for fn in stub.functions.values():
            yield pytest.param(name, None, fn, id=f"{name}.{fn.name}")
        for class_name, node in stub.classes.items():
            for fn in node.body:
                if isinstance(fn, ast.FunctionDef):
                    yield pytest.param(name, class_name, fn, id=f"{name}.{class_name}.{fn.name}")


def _arg_error(fn, *args, **kwargs) -> str:
    with pytest.raises(TypeError) as caught:
        fn(*args, **kwargs)
    return str(caught.value)


def _count_message(name: str, qualifier: str, expected: int, given: int) -> str:
    plural = "" if expected == 1 else "s"
    return f"{name}() takes {qualifier} {expected} positional argument{plural} ({given} given)"


@pytest.mark.parametrize("module_name, class_name, node", list(_callables()))
def test_parameters_match(module_name, class_name, node):
    module = load(module_name)
    owner = getattr(module, class_name) if class_name else module
    fn = getattr(owner, node.name)
    assert callable(fn) and not isinstance(fn, type)

    args = node.args
    assert not args.posonlyargs and not args.kwonlyargs, "the binder has no such parameters"
    params = [a.arg for a in args.args]
    required = len(params) - len(args.defaults)
    variadic = args.vararg is not None

    if not variadic:
        qualifier = "exactly" if required == len(params) else "at most"
        too_many = [object()] * (len(params) + 1)
        assert _arg_error(fn, *too_many) == _count_message(node.name, qualifier, len(params), len(too_many))
    if required:  # without required parameters the call would run the function
        qualifier = "exactly" if required == len(params) and not variadic else "at least"
        assert _arg_error(fn) == _count_message(node.name, qualifier, required, 0)
    if args.kwarg is None:
        keywords = {p: object() for p in params}
        keywords[BOGUS] = object()
        assert _arg_error(fn, **keywords) == f"{node.name}() got an unexpected keyword argument '{BOGUS}'"


def test_the_binder_checks_keywords_before_the_body(cn, monkeypatch):
    # What the keyword probe relies on: a named parameter that does not exist is
    # reported even when every required one is given, and nothing runs.
    calls = []
    monkeypatch.setattr(cn, "require_interactive_session", lambda: calls.append(1))
    message = _arg_error(cn.set_dendrification_targets, model=nn.Linear(1, 1), **{BOGUS: 0})
    assert message == f"set_dendrification_targets() got an unexpected keyword argument '{BOGUS}'"
    assert calls == []


# ---------------------------------------------------------------------------
# Results of the declared shapes
# ---------------------------------------------------------------------------


class Block(nn.Module):
    def __init__(self):
        super().__init__()
        self.inner = nn.Linear(2, 3)
        self.act = nn.ReLU()


def _configure_calls(cn, config):
    model = nn.Sequential(Block(), nn.Linear(3, 1))
    config.set_module_ids_to_dendrify([".0"])
    config.set_module_names_to_track(["Linear"])
    entries = cn.get_module_entries(model)
    resolved = cn.resolve_entry_modes(entries)
    bucket = cn.load_description_data()["bucket_order"][0]
    items = cn.build_run_items({bucket: True})
    return {
        "get_module_entries": entries,
        "resolve_entry_modes": resolved,
        "type_rule_entries": cn.type_rule_entries(entries),
        "unset_module_entries": cn.unset_module_entries(entries, resolved),
        "make_target_marker": cn.make_target_marker(entries[0], resolved[".0"]),
        "render_targets_lines": cn.render_targets_lines(entries, entries, 1, resolved, {}),
        "get_override_scope_for_entry": [
            cn.get_override_scope_for_entry(entries[0], resolved),
            cn.get_override_scope_for_entry(entries[1], resolved),
        ],
        "get_id_mode": cn.get_id_mode(".0"),
        "get_name_mode": cn.get_name_mode("Linear"),
        "get_parent_module_id": cn.get_parent_module_id(".0.inner"),
        "build_budget_line": cn.build_budget_line(entries, resolved),
        "load_description_data": cn.load_description_data(),
        "build_run_items": items,
        "render_run_settings_lines": cn.render_run_settings_lines(items, 1, None),
        "get_all_global_parameters": cn.get_all_global_parameters(),
        "_switch_mode_values": cn._switch_mode_values(),
        "get_enum_options": cn.get_enum_options("switch_mode"),
        "cycle_enum_setting": cn.cycle_enum_setting("switch_mode", config.get_switch_mode()),
        "apply_setting_value": cn.apply_setting_value("save_name", "run1"),
        "_new_scalar_editor": cn._new_scalar_editor("dendrite_learning_rate", 0.01, None),
        "_new_list_editor": cn._new_list_editor("candidate_widths", [1, 2], ".0"),
        "compose_scrolling_screen": cn.compose_scrolling_screen(["h"], ["a", "b"], ["f"], 0, (1, 2)),
        "wrap_ansi_line_on_words": cn.wrap_ansi_line_on_words("a b c", 2),
        "terminal_size": cn.terminal_size(),
        "is_up_key": cn.is_up_key("\x1b[A"),
        "is_select_key": cn.is_select_key("x"),
        "_distributed_rank": cn._distributed_rank(),
        "_move": cn._move(3, 10, 5),
        "format_human_count": cn.format_human_count(1530),
        "load_existing_module_settings": cn.load_existing_module_settings(),
        "get_scope_values": cn.get_scope_values(".0", {".0": {"dendrite_count": 2}}, {}),
        "render_overrides_overlay": cn.render_overrides_overlay(
            {"kind": "id", "scope_key": ".0"}, 0, {}, {}, None
        ),
        "render_save_overlay": cn.render_save_overlay(entries, resolved, 0, cn._config_target_path()),
        "render_help_overlay": cn.render_help_overlay(),
        "render_type_rules_overlay": cn.render_type_rules_overlay(entries),
        "dedupe_list": cn.dedupe_list(["b", "a", "b"]),
    }


def test_configure_results_have_the_stubbed_types(cn, fresh_config):
    stub, wrong = STUBS["configure_neuvora"], {}
    for function, results in _configure_calls(cn, fresh_config).items():
        returns = stub.functions[function].returns
        for result in results if function == "get_override_scope_for_entry" else [results]:
            if not conforms(result, returns, stub, cn):
                wrong[function] = result
    assert wrong == {}


def test_wrapper_results_have_the_stubbed_types(clean):
    from neuvora.nvx_layer import NVXLayer

    stub = STUBS["clean_neuvora"]
    layer = NVXLayer(nn.Linear(2, 2), dendrites=[nn.Linear(2, 2)])
    wrapper = clean.make_module(layer)
    assert conforms(wrapper, stub.functions["make_module"].returns, stub, clean)
    members = stub.classes["NVXModulePyThread"].body
    attributes = {n.target.id: n.annotation for n in members if isinstance(n, ast.AnnAssign)}
    for attr, annotation in attributes.items():
        assert conforms(getattr(wrapper, attr), annotation, stub, clean), attr
    network = nn.Sequential(layer)
    assert conforms(clean.refresh_net(network), stub.functions["refresh_net"].returns, stub, clean)
    child = clean.get_pretrained_nvx_var(network, "0")
    assert conforms(child, stub.functions["get_pretrained_nvx_var"].returns, stub, clean)
    assert isinstance(wrapper(torch.ones(1, 2)), torch.Tensor)


# ---------------------------------------------------------------------------
# Static check
# ---------------------------------------------------------------------------

USAGE = '''
from typing import Any

import torch
from torch import nn

from neuvora import clean_neuvora, configure_neuvora as cn


def budget(model: nn.Module) -> str:
    entries = cn.get_module_entries(model)
    resolved = cn.resolve_entry_modes(entries)
    first = entries[0]
    depth: int = first["depth"]
    mode: str | None = resolved[first["id"]]["eff"]
    scope, reason = cn.get_override_scope_for_entry(first, resolved)
    if scope is not None:
        key: str = scope["scope_key"]
    header, body, footer, focus = cn.render_targets_lines(entries, entries, 0, resolved, {})
    text, start = cn.compose_scrolling_screen(header, body, footer, 0, focus)
    return cn.build_budget_line(entries, resolved) + text + str(depth + start) + str(mode) + str(reason)


def editors() -> tuple[bool, str]:
    overrides: dict[str, dict[str, Any]] = {}
    state = cn._new_scalar_editor("dendrite_learning_rate", 0.01, scope_key=None)
    state["input_buffer"] = "0.1"
    return cn._handle_scalar_editor(state, "\\r", overrides)


def convert(network: nn.Module) -> torch.Tensor:
    clean_neuvora.doing_threading = True
    converted = clean_neuvora.refresh_net(network)
    wrapper: clean_neuvora.NVXModulePyThread = clean_neuvora.ModuleType(converted)
    out: torch.Tensor = wrapper.node_index
    return out
'''

BAD_USAGE = '''
from neuvora import configure_neuvora as cn

cn.format_human_count("12")
cn.dedupe_list(values=[1], extra=2)
n: int = cn.get_id_mode(".a")
'''


def _mypy(tmp_path: Path, source: str) -> subprocess.CompletedProcess[str]:
    # The installed stubs, checked as a package of their own so that the pure
    # Python modules beside them (not annotated) stay out of the check.
    package = tmp_path / "neuvora"
    package.mkdir()
    installed = Path(load("clean_neuvora").__file__).parent
    for name in MODULES:
        shutil.copy(installed / f"{name}.pyi", package / f"{name}.pyi")
    (package / "__init__.pyi").write_text("")
    (tmp_path / "usage.py").write_text(source)
    # torch's own annotations take a while to analyse: keep mypy's cache in the build tree.
    cache = SOURCE_DIR.parent.parent / "build" / "mypy-cache"
    command = [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(cache), "--no-error-summary"]
    command += [f"neuvora/{name}.pyi" for name in MODULES] + ["usage.py"]
    return subprocess.run(command, cwd=tmp_path, capture_output=True, text=True, timeout=900)


@pytest.mark.slow
def test_stubs_and_typed_usage_pass_mypy_strict(tmp_path):
    result = _mypy(tmp_path, USAGE)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.slow
def test_mypy_rejects_calls_against_the_stubs(tmp_path):
    result = _mypy(tmp_path, BAD_USAGE)
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    assert [line.split(":")[1] for line in errors] == ["4", "5", "6"], result.stdout
