"""The package is the built one, loads without side effects, and follows the
interpreter's calling conventions."""

from __future__ import annotations

import importlib.machinery
import os
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
