"""The interactive-session guard under a real distributed launcher: only rank 0
may open the configurator; every other worker is refused with the rank in the
message. Two CPU workers on this machine, started by torch.distributed.run."""

from __future__ import annotations

import json
import os
import subprocess
import sys
import textwrap

import pytest

from guard_messages import refusal

torch_distributed = pytest.importorskip("torch.distributed")
pytestmark = [
    pytest.mark.slow,
    pytest.mark.skipif(not torch_distributed.is_available(), reason="torch is built without distributed"),
]

RANK_VARIABLES = ["RANK", "LOCAL_RANK", "SLURM_PROCID", "OMPI_COMM_WORLD_RANK", "WORLD_SIZE", "LOCAL_WORLD_SIZE"]


# Each worker records what the guard said, in results/<rank>.json. Under the
# launcher the workers have no terminal, so the guard is asked twice: as it is,
# and with the module's `sys` answering isatty() True for both streams, which
# leaves the rank as the only reason to refuse.
WORKER = textwrap.dedent(
    """
    import contextlib, io, json, os, sys, types

    rank_text = os.environ.get("RANK", "?")
    results = sys.argv[1]
    open(os.path.join(results, f"started-{rank_text}"), "w").close()

    from torch import nn
    from neuvora import configure_neuvora as cn

    def guard():
        try:
            cn.require_interactive_session()
        except RuntimeError as error:
            return str(error)
        return None

    class Terminal:
        def __init__(self, stream):
            self.stream = stream

        def isatty(self):
            return True

        def __getattr__(self, name):
            return getattr(self.stream, name)

    found = {"rank": cn._distributed_rank(), "as_launched": guard()}
    real_sys = cn.sys
    cn.sys = types.SimpleNamespace(stdin=Terminal(sys.stdin), stdout=Terminal(sys.stdout))
    try:
        found["with_terminal"] = guard()
        if found["rank"] != 0:
            # The whole entry point stops at the guard, before touching the screen.
            printed = io.StringIO()
            with contextlib.redirect_stdout(printed):
                try:
                    cn.set_dendrification_targets(nn.Linear(2, 2))
                    found["entry"] = "returned"
                except RuntimeError as error:
                    found["entry"] = str(error)
            found["entry_printed"] = printed.getvalue()
    finally:
        cn.sys = real_sys
    with open(os.path.join(results, f"{rank_text}.json"), "w") as handle:
        json.dump(found, handle)
    """
)


def test_only_rank_zero_passes_the_guard(tmp_path):
    script = tmp_path / "worker.py"
    script.write_text(WORKER)
    results = tmp_path / "results"
    results.mkdir()
    env = {name: value for name, value in os.environ.items() if name not in RANK_VARIABLES}
    env.pop("MASTER_ADDR", None)
    env.pop("MASTER_PORT", None)
    command = [
        sys.executable,
        "-m",
        "torch.distributed.run",
        "--nproc_per_node=2",
        "--standalone",
        str(script),
        str(results),
    ]
    try:
        launched = subprocess.run(
            command, cwd=str(tmp_path), env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120
        )
    except subprocess.TimeoutExpired as timeout:
        if not list(results.glob("started-*")):
            pytest.skip(f"the launcher did not start any worker within {timeout.timeout} s")
        raise
    output = (launched.stdout + launched.stderr)[-4000:]
    if not list(results.glob("started-*")):
        pytest.skip(f"the launcher could not start workers here (exit {launched.returncode}): {output}")
    assert launched.returncode == 0, output
    assert sorted(path.name for path in results.iterdir()) == ["0.json", "1.json", "started-0", "started-1"]

    first = json.loads((results / "0.json").read_text())
    second = json.loads((results / "1.json").read_text())
    no_terminal = refusal("no interactive terminal is attached")
    assert first == {"rank": 0, "as_launched": no_terminal, "with_terminal": None}
    assert second == {
        "rank": 1,
        "as_launched": no_terminal,
        "with_terminal": refusal("process rank is 1, not 0"),
        "entry": refusal("process rank is 1, not 0"),
        "entry_printed": "",
    }
