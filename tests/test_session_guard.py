"""The interactive-session guard and the launcher rank."""

from __future__ import annotations

import types

import pytest

from guard_messages import refusal

RANK_VARIABLES = ["RANK", "LOCAL_RANK", "SLURM_PROCID", "OMPI_COMM_WORLD_RANK"]

NO_TERMIOS = (
    "The interactive dendrification-configuration TUI is not available on this platform (no termios). "
    "Set configuration_confirmed=True in your config file (or call GNV.pc.set_configuration_confirmed(True)) "
    "and configure targets via the config file or Dendrified Studio instead."
)


class Stream:
    def __init__(self, answer):
        self.answer = answer
        self.asked = 0

    def isatty(self):
        self.asked += 1
        if isinstance(self.answer, BaseException):
            raise self.answer
        return self.answer


@pytest.fixture
def launcher(monkeypatch):
    """Clears the rank variables; returns a setter for them."""
    for name in RANK_VARIABLES:
        monkeypatch.delenv(name, raising=False)

    def set_env(**values):
        for name, value in values.items():
            monkeypatch.setenv(name, value)

    return set_env


@pytest.fixture
def streams(monkeypatch, cn):
    """Replaces the module's `sys` with one whose streams answer isatty as told."""

    def install(stdin, stdout):
        fake = types.SimpleNamespace(stdin=stdin, stdout=stdout)
        monkeypatch.setattr(cn, "sys", fake)
        return fake

    return install


@pytest.mark.parametrize(
    "env, rank",
    [
        ({}, 0),
        ({"RANK": "0", "LOCAL_RANK": "1"}, 0),
        ({"SLURM_PROCID": "2"}, 2),
        ({"RANK": "abc", "LOCAL_RANK": "1"}, 0),
        ({"RANK": "", "LOCAL_RANK": "1"}, 0),
        ({"RANK": " 1 "}, 1),
        ({"LOCAL_RANK": "+3", "SLURM_PROCID": "5"}, 3),
        ({"OMPI_COMM_WORLD_RANK": "-1"}, -1),
        ({"RANK": "1.5", "LOCAL_RANK": "1"}, 0),
        # Several set at once: the first in the order RANK, LOCAL_RANK, SLURM_PROCID, OMPI_COMM_WORLD_RANK.
        ({"RANK": "4", "SLURM_PROCID": "2"}, 4),
        ({"RANK": "4", "OMPI_COMM_WORLD_RANK": "5"}, 4),
        ({"LOCAL_RANK": "1", "OMPI_COMM_WORLD_RANK": "5"}, 1),
        ({"SLURM_PROCID": "2", "OMPI_COMM_WORLD_RANK": "5"}, 2),
        ({"SLURM_PROCID": "x", "OMPI_COMM_WORLD_RANK": "5"}, 0),
        ({"LOCAL_RANK": "1", "SLURM_PROCID": "2", "OMPI_COMM_WORLD_RANK": "5"}, 1),
        ({"RANK": "3", "LOCAL_RANK": "1", "SLURM_PROCID": "2", "OMPI_COMM_WORLD_RANK": "5"}, 3),
    ],
)
def test_distributed_rank(cn, launcher, env, rank):
    launcher(**env)
    assert cn._distributed_rank() == rank


def test_rank_reads_no_variable_after_the_first_set_one(monkeypatch, cn):
    asked = []

    class Environ:
        def get(self, name):
            asked.append(name)
            return {"LOCAL_RANK": "bad", "SLURM_PROCID": "4"}.get(name)

    monkeypatch.setattr(cn, "os", types.SimpleNamespace(environ=Environ()))
    assert cn._distributed_rank() == 0
    assert asked == ["RANK", "LOCAL_RANK"]


def test_interactive_rank_zero_runs(cn, launcher, streams):
    launcher(RANK="0", LOCAL_RANK="1")
    streams(Stream(True), Stream(True))
    assert cn.require_interactive_session() is None


@pytest.mark.parametrize(
    "env, rank_text",
    [({"SLURM_PROCID": "2"}, "2"), ({"OMPI_COMM_WORLD_RANK": "-1"}, "-1"), ({"RANK": " 7\n"}, "7")],
)
def test_nonzero_rank_is_refused(cn, launcher, streams, env, rank_text):
    launcher(**env)
    streams(Stream(True), Stream(True))
    with pytest.raises(RuntimeError) as info:
        cn.require_interactive_session()
    assert str(info.value) == refusal(f"process rank is {rank_text}, not 0")


@pytest.mark.parametrize(
    "stdin, stdout",
    [
        (Stream(False), Stream(True)),
        (Stream(True), Stream(False)),
        (Stream(ValueError("I/O operation on closed file")), Stream(True)),
        (Stream(True), Stream(OSError(9, "bad descriptor"))),
        (None, Stream(True)),
        (object(), Stream(True)),
    ],
    ids=["stdin-file", "stdout-file", "closed", "oserror", "none", "no-isatty"],
)
def test_no_terminal_wins_over_rank(monkeypatch, cn, launcher, streams, stdin, stdout):
    launcher(RANK="3")
    calls = []
    real_rank = cn._distributed_rank
    monkeypatch.setattr(cn, "_distributed_rank", lambda: calls.append(1) or real_rank())
    streams(stdin, stdout)
    with pytest.raises(RuntimeError) as info:
        cn.require_interactive_session()
    assert str(info.value) == refusal("no interactive terminal is attached")
    assert calls == [1]  # the rank is computed also without a terminal


def test_stdout_not_asked_when_stdin_is_not_a_terminal(cn, launcher, streams):
    launcher()
    fake = streams(Stream(False), Stream(True))
    with pytest.raises(RuntimeError):
        cn.require_interactive_session()
    assert (fake.stdin.asked, fake.stdout.asked) == (1, 0)


def test_other_isatty_errors_propagate(cn, launcher, streams):
    launcher()
    streams(Stream(KeyError("odd")), Stream(True))
    with pytest.raises(KeyError):
        cn.require_interactive_session()


def test_no_termios_refuses_before_anything_else(monkeypatch, cn, launcher, streams):
    launcher(RANK="3")
    fake = streams(Stream(True), Stream(True))
    monkeypatch.setattr(cn, "_distributed_rank", lambda: pytest.fail("rank read"))
    monkeypatch.setattr(cn, "termios", None)
    with pytest.raises(RuntimeError) as info:
        cn.require_interactive_session()
    assert str(info.value) == NO_TERMIOS
    assert fake.stdin.asked == 0


def test_guard_uses_the_module_rank_function(monkeypatch, cn, launcher, streams):
    launcher()
    streams(Stream(True), Stream(True))
    monkeypatch.setattr(cn, "_distributed_rank", lambda: 5)
    with pytest.raises(RuntimeError, match=r"\(process rank is 5, not 0\)"):
        cn.require_interactive_session()
