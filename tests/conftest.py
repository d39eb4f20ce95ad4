"""Shared fixtures: every test gets a fresh configuration object and a scratch
working directory, so sessions and saves never leak between tests."""

from __future__ import annotations

import ast
import functools
import inspect
import pathlib

import pytest

from neuvora import globals_neuvora as GNV


@pytest.fixture(autouse=True)
def fresh_config(monkeypatch, tmp_path):
    """A new ``GNV.pc`` for each test, with the working directory in tmp_path."""
    config = GNV.NVXConfig()
    monkeypatch.setattr(GNV, "pc", config)
    monkeypatch.chdir(tmp_path)
    return config


@pytest.fixture
def cn():
    """The interface extension module."""
    from neuvora import configure_neuvora

    return configure_neuvora


@pytest.fixture
def clean():
    """The inference conversion extension module."""
    from neuvora import clean_neuvora

    return clean_neuvora


# What `make test-fast` leaves out (marked "slow"): sessions in a real
# pseudo-terminal, the long random-key sessions, the type checker and the
# launcher. Decided by file, marker, test name and whether the test or a
# fixture of its file starts a `PtySession`, so that new tests in those files
# are marked without edits. A test may also be marked slow where it is
# defined (the README's commands, one interpreter each).
SLOW_FILES = {"test_distributed_launch.py"}
SLOW_NAME_PARTS = ("mypy", "test_random_key_sessions")
TERMINAL_SESSION = "PtySession("


@functools.lru_cache(maxsize=None)
def terminal_fixtures(path):
    """Names of the fixtures defined in the file at `path` that start a terminal session."""
    tree = ast.parse(pathlib.Path(path).read_text(encoding="utf-8"))
    return frozenset(
        node.name
        for node in ast.walk(tree)
        if isinstance(node, ast.FunctionDef)
        and any("fixture" in ast.unparse(decorator) for decorator in node.decorator_list)
        and TERMINAL_SESSION in ast.unparse(node)
    )


def starts_a_terminal_session(item):
    function = getattr(item, "function", None)
    if function is None:
        return False
    if TERMINAL_SESSION in inspect.getsource(function):
        return True
    return not terminal_fixtures(str(item.path)).isdisjoint(item.fixturenames)


def is_slow(item):
    return (
        item.get_closest_marker("e2e") is not None
        or item.path.name in SLOW_FILES
        or any(part in item.name for part in SLOW_NAME_PARTS)
        or starts_a_terminal_session(item)
    )


def pytest_collection_modifyitems(config, items):
    for item in items:
        if is_slow(item):
            item.add_marker(pytest.mark.slow)
