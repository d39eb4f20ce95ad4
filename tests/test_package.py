"""The package is the built one, loads without side effects, and follows the
interpreter's calling conventions."""

from __future__ import annotations

import importlib.machinery
import importlib.util
import os
import re
import shlex
import subprocess
import sys

import pytest

EXTENSION_SUFFIXES = tuple(importlib.machinery.EXTENSION_SUFFIXES)


@pytest.mark.parametrize("name", ["neuvora.configure_neuvora", "neuvora.clean_neuvora"])
def test_modules_are_built_extensions(name):
    module = importlib.import_module(name)
    assert module.__file__.endswith(EXTENSION_SUFFIXES)
    assert os.path.isfile(module.__file__)


@pytest.mark.parametrize("name", ["neuvora.configure_neuvora", "neuvora.clean_neuvora"])
def test_import_alone_without_terminal_or_cycles(name):
    # A fresh interpreter with no terminal attached, importing only this module.
    code = f"import {name} as m; import sys; print(m.__name__, 'neuvora.configure_neuvora' in sys.modules)"
    result = subprocess.run(
        [sys.executable, "-c", code], stdin=subprocess.DEVNULL, capture_output=True, text=True, check=True
    )
    loaded_name, interface_loaded = result.stdout.split()
    assert loaded_name == name
    assert interface_loaded == str(name == "neuvora.configure_neuvora")


def test_load_time_bindings(cn):
    import json
    import os as os_module
    import re

    from neuvora import globals_neuvora

    assert cn.json is json and cn.os is os_module and cn.re is re
    assert cn.GNV is globals_neuvora
    assert cn.torch is importlib.import_module("torch")
    assert cn.termios is not None and cn.tty is not None


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda cn: cn._move(1, 2), "_move() takes exactly 3 positional arguments (2 given)"),
        (lambda cn: cn._move(1, 2, 3, 4), "_move() takes exactly 3 positional arguments (4 given)"),
        (lambda cn: cn.dim(txt=1), "dim() got an unexpected keyword argument 'txt'"),
        (lambda cn: cn.set_dendrification_targets(), "set_dendrification_targets() takes exactly 1 positional argument (0 given)"),
        (lambda cn: cn.color_text("a", "00A5A5", text="b"), "color_text() got multiple values for keyword argument 'text'"),
    ],
)
def test_argument_errors(cn, call, message):
    with pytest.raises(TypeError) as caught:
        call(cn)
    assert str(caught.value) == message


def test_keywords_and_exact_docstrings(cn):
    assert cn._move(index=3, delta=10, length=5) == 4
    assert cn.color_text(text="x", hex_color="00A5A5") == "\x1b[38;2;0;165;165mx\x1b[0m"
    assert cn.set_dendrification_targets.__doc__.startswith("Interactive configuration TUI")
    assert "(" not in cn.dim.__doc__


@pytest.mark.parametrize("index, delta, length, expected", [(0, -1, 5, 0), (3, 10, 5, 4), (2, 1, 0, 0), (4, -10, 9, 0)])
def test_move_clamps(cn, index, delta, length, expected):
    assert cn._move(index, delta, length) == expected


def builtin_functions(module):
    return [
        (name, value)
        for name, value in vars(module).items()
        if type(value).__name__ == "builtin_function_or_method" and getattr(value, "__module__", None) == module.__name__
    ]


@pytest.mark.parametrize("name", ["neuvora.configure_neuvora", "neuvora.clean_neuvora"])
def test_every_function_has_a_signature_and_keeps_its_docstring(name):
    import inspect

    module = importlib.import_module(name)
    functions = builtin_functions(module)
    assert len(functions) > (40 if name.endswith("configure_neuvora") else 3)
    for function_name, function in functions:
        signature = inspect.signature(function)
        assert "$" not in str(signature) and "--" not in (function.__doc__ or ""), function_name
    if name.endswith("clean_neuvora"):
        wrapper = module.NVXModulePyThread
        assert str(inspect.signature(wrapper.__dict__["__init__"].__func__)) == "(self, original_module)"
        assert str(inspect.signature(wrapper.__dict__["forward"].__func__)) == "(self, *args, **kwargs)"


def test_signatures_name_the_parameters_and_defaults(cn):
    import inspect

    assert str(inspect.signature(cn.compose_scrolling_screen)) == (
        "(header_lines, body_lines, footer_lines, window_start, focus=None)"
    )
    assert str(inspect.signature(cn.persist_module_settings_updates)) == (
        "(module_settings_overrides, overwrite_config_file=False)"
    )
    assert str(inspect.signature(cn.normalize_selection_conflicts)) == "()"
    assert cn.compose_scrolling_screen.__doc__.startswith("Join a header + windowed body + footer")
    assert cn.resolve_entry_modes.__doc__ is None


def test_escape_pattern_text(cn):
    # A backslash and "x1b", not the escape character itself; it matches as before.
    assert cn.ANSI_ESCAPE_RE.pattern == "\\x1b\\[[0-9;]*m"
    assert cn.ANSI_ESCAPE_RE.pattern[:4] == "\\x1b"
    assert cn.strip_ansi("\x1b[38;2;1;2;3ma\x1b[0m\x1b[m\x1b[2J\x1b[?25l") == "a\x1b[2J\x1b[?25l"


def test_wheel_holds_both_extensions_and_the_package_only(tmp_path):
    # Built as `make wheel` does, from the same build folder (so only packaging
    # runs); the sanitizer runtimes, if preloaded, stay out of the compiler.
    import pathlib
    import zipfile

    root = pathlib.Path(__file__).resolve().parent.parent
    env = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    command = [sys.executable, "-m", "pip", "wheel", "--quiet", "--disable-pip-version-check"]
    command += ["--no-build-isolation", "--no-deps", "--wheel-dir", str(tmp_path), str(root)]
    subprocess.run(command, cwd=root, env=env, stdin=subprocess.DEVNULL, capture_output=True, check=True)
    (wheel,) = tmp_path.glob("neuvora-*.whl")
    names = zipfile.ZipFile(wheel).namelist()
    packages = {name.split("/")[0] for name in names}
    assert packages == {"neuvora", wheel.name.split("-")[0] + "-" + wheel.name.split("-")[1] + ".dist-info"}
    for module in ("configure_neuvora", "clean_neuvora"):
        assert any(name.startswith(f"neuvora/{module}.") and name.endswith(EXTENSION_SUFFIXES) for name in names)
        assert f"neuvora/{module}.pyi" in names
    for source in (root / "src" / "neuvora").iterdir():
        if source.is_file():
            assert f"neuvora/{source.name}" in names
    assert not [name for name in names if "test" in name.lower() or name.endswith((".cpp", ".hpp"))]
    metadata = zipfile.ZipFile(wheel).read(next(n for n in names if n.endswith("/METADATA"))).decode()
    requirements = [line for line in metadata.splitlines() if line.startswith(("Requires-Dist:", "Requires-Python:"))]
    assert requirements == ["Requires-Python: <3.14,>=3.10", "Requires-Dist: torch>=1.12"]


# -- every command the README shows runs --------------------------------------

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHELL_BLOCK = re.compile(r"^```(?:sh|bash|shell|console)\n(.*?)^```", re.DOTALL | re.MULTILINE)
ANY_BLOCK = re.compile(r"^```.*?^```", re.DOTALL | re.MULTILINE)
INLINE_CODE = re.compile(r"`([^`]+)`")
PYTHON_MODULE = re.compile(r"^(?:\S*/)?python3? -m ")


def readme_commands():
    """The `python -m ...` and `make ...` commands of README.md: each line of a
    shell block (comments left out) and each inline code span."""
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as handle:
        text = handle.read()
    candidates = [line.split("#")[0] for block in SHELL_BLOCK.findall(text) for line in block.splitlines()]
    candidates += INLINE_CODE.findall(ANY_BLOCK.sub("", text))
    commands = {}
    for candidate in candidates:
        words = shlex.split(candidate)
        targets = [word for word in words[1:] if not word.startswith("-") and "=" not in word]
        if PYTHON_MODULE.match(" ".join(words)) or (words[:1] == ["make"] and targets):
            commands.setdefault(" ".join(words), words)
    return list(commands.values())


README_COMMANDS = readme_commands()


def test_the_readme_shows_the_commands_a_user_needs():
    shown = {" ".join(words) for words in README_COMMANDS}
    demo = "python -m neuvora.demo"
    assert {"make demo", "make test", f"{demo} --tied", f"{demo} --reconfigure", f"{demo} --config cfg/demo.json"} <= shown


@pytest.mark.slow  # an interpreter that imports torch per command
@pytest.mark.parametrize("words", README_COMMANDS, ids=" ".join)
def test_every_command_the_readme_shows_runs(words):
    # A documented module parses its documented options: it answers --help
    # after them, and its help names each of them. A make target exists: make
    # says what it would run (-n runs nothing).
    # The package's own modules run on this interpreter, so that each matrix
    # session checks its own install; a tool the README runs with the
    # project's environment (nox) runs with that environment.
    if words[0] == "make":
        command = ["make", "-n", *words[1:]]
    elif importlib.util.find_spec(words[2].split(".")[0]) is not None:
        command = [sys.executable, *words[1:], "--help"]
    elif os.path.exists(os.path.join(ROOT, words[0])):
        command = [os.path.join(ROOT, words[0]), *words[1:], "--help"]
    else:
        pytest.skip(f"{words[2]} is installed neither here nor in {words[0]}")
    env = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    result = subprocess.run(command, cwd=ROOT, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    if words[0] != "make":
        options = [word.split("=")[0] for word in words[3:] if word.startswith("-")]
        assert [option for option in options if option not in result.stdout] == [], result.stdout
