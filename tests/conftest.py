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
