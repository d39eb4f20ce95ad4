"""Shared fixtures: every test gets a fresh configuration object and a scratch
working directory, so sessions and saves never leak between tests."""

from __future__ import annotations

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


# What `make test-fast` leaves out: tests marked "slow" by hand (the long
# random-key sessions, the type checker, the launcher) and every test that runs
# the configurator in a real pseudo-terminal, that is every test marked "e2e"
# and every test that uses the `pty` fixture, directly or through another fixture.
# A test may also be marked slow where it is defined (the README's commands,
# one interpreter each).


@pytest.fixture(scope="session")
def pty():
    """Starts a program in a real pseudo-terminal: ``pty(code, rows=..., columns=...)``
    returns a `ptyharness.PtySession`. Tests that use it are slow."""
    from ptyharness import PtySession

    return PtySession


def pytest_collection_modifyitems(config, items):
    for item in items:
        if item.get_closest_marker("e2e") is not None or "pty" in item.fixturenames:
            item.add_marker(pytest.mark.slow)
