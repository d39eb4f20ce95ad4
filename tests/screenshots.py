"""Plain-text screenshots of the configurator for the README, and the outputs
of the target plan (``neuvora.plan``) it shows.

Drives the demo model (``neuvora.demo``) in a pseudo-terminal of 100x30 and
captures each screen as the terminal shows it, colours left out; runs the plan
of the tied demo model in a fresh interpreter as a script, a notebook and a CI
check would:

    python tests/screenshots.py                    # print every screen
    python tests/screenshots.py --write README.md  # rewrite the README's screen blocks
    python tests/screenshots.py --check README.md  # exit status 1 when a block is stale

A README block is a fenced ``text`` block between ``<!-- screen:NAME -->`` and
``<!-- /screen -->``, or a fenced block of any language between
``<!-- output:NAME -->`` and ``<!-- /output -->``; ``--write`` replaces what lies
between the two markers and leaves everything else as it is. ``make
screenshots`` runs ``--write``.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from ptyharness import PtySession  # noqa: E402

ROWS, COLUMNS = 30, 100
ENTER, ESC, TAB, RIGHT, PAGE_UP = "\r", "\x1b", "\t", "\x1b[C", "\x1b[5~"
DEMO = "import sys\nfrom neuvora.demo import main\nsys.exit(main([]))"
TIED_DEMO = "import sys\nfrom neuvora.demo import main\nsys.exit(main(['--tied']))"

# Screen names in README order.
SCREENS = ("targets", "search", "typerules", "legend", "help", "run", "editor", "overrides", "save", "quit",
           "tied-targets", "tied-save")

BLOCK = re.compile(r"(<!-- screen:(?P<name>[\w-]+) -->\n)(?P<body>.*?)(<!-- /screen -->)", re.DOTALL)

# Outputs of the target plan in README order, each with the language of its fence.
OUTPUTS = {"plan-script": "text", "plan-notebook": "html", "plan-json": "json", "plan-config": "json",
           "plan-check": "text"}
OUTPUT_BLOCK = re.compile(r"(<!-- output:(?P<name>[\w-]+) -->\n)(?P<body>.*?)(<!-- /output -->)", re.DOTALL)

# The tied demo model with every Embedding tracked and every Linear dendrified
# (its head, tied to the embedding, then disagrees with it), planned in a fresh
# interpreter: printed, shown in a notebook, as JSON, and checked in CI with the
# same rules read from a configuration file.
PLAN_CAPTURE = r"""
import contextlib, io, json, sys
from neuvora import globals_neuvora as GNV, plan_targets
from neuvora import plan as plan_command
from neuvora.demo import build_tied_demo_model

GNV.pc.set_module_names_to_track(["Embedding"])
GNV.pc.set_module_names_to_dendrify(["Linear"])
plan = plan_targets(build_tied_demo_model())
shots = {"plan-script": str(plan), "plan-notebook": plan._repr_html_(),
         "plan-json": json.dumps(plan.to_dict(), indent=2)}
config = {"module_names_to_dendrify": ["Linear"], "module_names_to_track": ["Embedding"],
          "module_settings": {".h.0.up": {"dendrite_count": 8}}}
shots["plan-config"] = json.dumps(config, indent=2)
with open("tied.json", "w") as handle:
    handle.write(shots["plan-config"])
GNV.pc = GNV.NVXConfig()
printed = io.StringIO()
with contextlib.redirect_stdout(printed):
    status = plan_command.main(["neuvora.demo:build_tied_demo_model", "--config", "tied.json", "--check"])
shots["plan-check"] = printed.getvalue() + f"(exit status {status})"
print(json.dumps(shots))
"""


def _frame(session: PtySession, *keys: str) -> str:
    for key in keys:
        session.send_key(key)
    # The whole frame is drawn once the next key is awaited.
    session.wait_for_key_read(need_output=bool(keys))
    session.settle(0.05)
    lines = session.screen_lines()
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines)


def capture(timeout: float = 60.0) -> dict:
    """Every screen of a scripted demo session, by name, as plain text."""
    shots = {}
    with tempfile.TemporaryDirectory() as cwd:
        with PtySession(DEMO, rows=ROWS, columns=COLUMNS, cwd=cwd, timeout=timeout) as s:
            s.expect_text("p/t dendrify")
            # .embed by id, every Linear dendrified and every LayerNorm tracked by type.
            _frame(s, "p", *["j"] * 3, "T", *["j"] * 4, "P", PAGE_UP)
            shots["targets"] = _frame(s)
            shots["search"] = _frame(s, "/", *"2.mlp.d")
            shots["typerules"] = _frame(s, ESC, "y")
            shots["legend"] = _frame(s, "y", "h")
            shots["help"] = _frame(s, "h", "?")
            shots["run"] = _frame(s, "?", TAB, RIGHT, "j", "j", "h")
            shots["editor"] = _frame(s, "h", "k", ENTER)
            shots["overrides"] = _frame(s, ESC, TAB, ENTER)
            shots["save"] = _frame(s, ESC, "s")
            shots["quit"] = _frame(s, ESC, "q")
            s.send_key("y")
            if s.expect_exit() != 0:
                raise RuntimeError("the demo did not end with status 0\n" + s.describe())
        with PtySession(TIED_DEMO, rows=ROWS, columns=COLUMNS, cwd=cwd, timeout=timeout) as s:
            s.expect_text("p/t dendrify")
            # Every Embedding tracked and every Linear dendrified by type: the tied head disagrees.
            _frame(s, "T", *["j"] * 3, "P", PAGE_UP)
            shots["tied-targets"] = _frame(s)
            shots["tied-save"] = _frame(s, "s")
            s.send_key(ESC)
            _frame(s, "q")
            s.send_key("y")
            if s.expect_exit() != 0:
                raise RuntimeError("the tied demo did not end with status 0\n" + s.describe())
    return shots


def capture_outputs(timeout: float = 120.0) -> dict:
    """The plan's outputs, by name, as text, from a fresh interpreter."""
    env = {name: value for name, value in os.environ.items() if name != "NO_COLOR"}
    with tempfile.TemporaryDirectory() as cwd:
        result = subprocess.run([sys.executable, "-c", PLAN_CAPTURE], cwd=cwd, env=env, capture_output=True,
                                text=True, timeout=timeout, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        raise RuntimeError("the plan capture failed\n" + result.stderr)
    return {name: text.rstrip("\n") for name, text in json.loads(result.stdout).items()}


def readme_outputs(text: str) -> dict:
    """The plan outputs held in a README text, by name (None for a block that is not one fence)."""
    blocks = {}
    for match in OUTPUT_BLOCK.finditer(text):
        fenced = re.fullmatch(r"```(\w+)\n(.*?)\n?```\n", match.group("body"), re.DOTALL)
        name = match.group("name")
        blocks[name] = fenced.group(2) if fenced and fenced.group(1) == OUTPUTS.get(name) else None
    return blocks


def rewrite_outputs(text: str, outputs: dict) -> str:
    """The README text with every known output block replaced by its capture."""
    return _rewrite(OUTPUT_BLOCK, text, outputs, OUTPUTS)


def readme_blocks(text: str) -> dict:
    """The screens held in a README text, by name, as plain text."""
    blocks = {}
    for match in BLOCK.finditer(text):
        body = match.group("body")
        fenced = re.fullmatch(r"```text\n(.*?)\n?```\n", body, re.DOTALL)
        blocks[match.group("name")] = fenced.group(1) if fenced else None
    return blocks


def rewrite_readme(text: str, shots: dict) -> str:
    """The README text with every known screen block replaced by its capture."""
    return _rewrite(BLOCK, text, shots, {})


def _rewrite(pattern, text: str, bodies: dict, languages: dict) -> str:
    """`text` with the body of each block of `pattern` whose name `bodies` knows
    replaced by a fence (of the block's language, "text" by default) holding it."""

    def replace(match):
        name = match.group("name")
        if name not in bodies:
            return match.group(0)
        return f"{match.group(1)}```{languages.get(name, 'text')}\n{bodies[name]}\n```\n{match.group(4)}"

    return pattern.sub(replace, text)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--write", metavar="README", help="rewrite the screen blocks of this file")
    group.add_argument("--check", metavar="README", help="fail when a screen block of this file is stale")
    args = parser.parse_args(argv)
    shots = capture()
    outputs = capture_outputs()
    if args.write or args.check:
        path = args.write or args.check
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
        missing = [name for name in SCREENS if name not in readme_blocks(text)]
        missing += [name for name in OUTPUTS if name not in readme_outputs(text)]
        if missing:
            print(f"{path}: no block for {', '.join(missing)}", file=sys.stderr)
            return 1
        updated = rewrite_outputs(rewrite_readme(text, shots), outputs)
        if args.check:
            stale = [n for n in SCREENS if readme_blocks(text)[n] != shots[n]]
            stale += [n for n in OUTPUTS if readme_outputs(text)[n] != outputs[n]]
            if stale:
                print(f"{path}: stale screens: {', '.join(stale)} (run make screenshots)", file=sys.stderr)
                return 1
            return 0
        if updated != text:
            with open(path, "w", encoding="utf-8") as handle:
                handle.write(updated)
        return 0
    for name in SCREENS:
        print(f"--- {name}\n{shots[name]}\n")
    for name in OUTPUTS:
        print(f"--- {name}\n{outputs[name]}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
