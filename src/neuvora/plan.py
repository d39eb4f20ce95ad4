"""What the configurator would show, without a terminal.

``plan_targets(model)`` returns a `TargetPlan`: every module's mode under the
rules now in ``GNV.pc`` (and the saved per-module overrides, as the
configurator reads them), the modules that still need a mode, shared tensors
whose holders disagree, the model's own parameters, the type rules with their
live counts and the classes they nearly match, and the parameter budget. The
rules are resolved by the configurator's own engine; this module only presents
what it found: as text (``str(plan)``, ``plan.format(...)``), as a table in a
notebook (``_repr_html_``) and as JSON-ready data (``plan.to_dict()``).

``python -m neuvora.plan FACTORY`` prints the plan of the model that
``FACTORY`` (``package.module:callable``) builds; ``--check`` makes it a CI
gate. ``python -m neuvora.plan --help`` lists the options.
"""

from __future__ import annotations

import argparse
import html
import importlib
import json
import os
import sys
from typing import Any, NamedTuple, Optional

PROG = "python -m neuvora.plan"


class PlanRow(NamedTuple):
    """One module of the model, in tree order."""

    id: str
    type_name: str
    mode: Optional[str]  # "dendrified", "tracked" or None
    source: Optional[str]  # "id", "type", "inherited" or None
    own_params: int
    depth: int
    restructured: bool  # a module restructured before training, or one inside it
    needs_mode: bool
    shared_with: Optional[str]  # the earlier module holding all of this one's parameters
    overrides: bool  # saved setting overrides name this module's id or class


class Conflict(NamedTuple):
    """One tensor held by several modules whose modes differ."""

    ids: list[str]
    modes: list[Optional[str]]


class NearMiss(NamedTuple):
    name: str
    count: int


class TypeRule(NamedTuple):
    name: str
    mode: str
    live_count: int
    near_misses: list[NearMiss]  # subclasses in the model that the rule does not match


class Budget(NamedTuple):
    added_per_cycle: int
    model_total: int
    share: float  # per cent of the model's parameters added per dendrite cycle


def _native():
    from neuvora import configure_neuvora

    return configure_neuvora


class TargetPlan:
    """The dendrification targets of one model under the current rules."""

    def __init__(self, handle: Any, facts: tuple) -> None:
        needs_mode, conflicts, model_parameters, type_rules, budget, ok, modules = facts
        self._handle = handle
        self._modules: int = modules
        self._rows: Optional[list[PlanRow]] = None
        self.needs_mode: list[str] = list(needs_mode)
        self.conflicts: list[Conflict] = [Conflict(list(ids), list(modes)) for ids, modes in conflicts]
        self.model_parameters: list[str] = list(model_parameters)
        self.type_rules: list[TypeRule] = [
            TypeRule(name, mode, count, [NearMiss(*miss) for miss in misses])
            for name, mode, count, misses in type_rules
        ]
        self.budget = Budget(*budget)
        self.ok: bool = ok

    @property
    def rows(self) -> list[PlanRow]:
        """One row per module, in tree order (read from the plan when first asked for)."""
        if self._rows is None:
            self._rows = [PlanRow(*row) for row in _native()._target_plan_rows(self._handle)]
        return self._rows

    def to_dict(self) -> dict[str, Any]:
        """Everything in the plan as plain dicts, lists, texts and numbers (JSON-ready)."""
        return {
            "ok": self.ok,
            "budget": self.budget._asdict(),
            "needs_mode": list(self.needs_mode),
            "conflicts": [conflict._asdict() for conflict in self.conflicts],
            "model_parameters": list(self.model_parameters),
            "type_rules": [
                {**rule._asdict(), "near_misses": [miss._asdict() for miss in rule.near_misses]}
                for rule in self.type_rules
            ],
            "rows": [row._asdict() for row in self.rows],
        }

    def format(self, width: int = 100, depth: Optional[int] = None, fold: bool = True, color: bool = False) -> str:
        """The plan as text that fits `width` columns: the budget line, the
        warnings, then the module tree with each row's mode and own parameter
        count. `depth` leaves out the modules deeper than it (0: only the
        model's direct children); `fold` folds runs of alike siblings into one
        row; `color` styles the text for a terminal (none when NO_COLOR is set)."""
        _check_count("width", width, 1)
        if depth is not None:
            _check_count("depth", depth, 0)
        return _native()._format_target_plan(self._handle, width, depth, fold, color)

    def __str__(self) -> str:
        return self.format(width=100)

    def __repr__(self) -> str:
        state = "ok" if self.ok else f"{len(self.needs_mode)} need a mode, {len(self.conflicts)} in conflict"
        return f"<TargetPlan of {self._modules} modules: {state}>"

    def problems(self) -> list[str]:
        """One line per module that needs a mode and per shared tensor in conflict."""
        return list(_native()._target_plan_problems(self._handle))

    def _repr_html_(self) -> str:
        warnings, rows = _native()._target_plan_view(self._handle, 160, None, True)
        return _html(warnings, rows)


def _check_count(name: str, value: object, least: int) -> None:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if value < least:
        raise ValueError(f"{name} must be at least {least}")


def plan_targets(model: Any) -> TargetPlan:
    """The dendrification targets of `model` (a torch.nn.Module) under the
    rules now in GNV.pc and the saved per-module overrides."""
    return TargetPlan(*_native()._build_target_plan(model))


# -- HTML ----------------------------------------------------------------------

_COLORS = {"dendrified": "#00A5A5", "tracked": "#8A95A0", "attention": "#FD4D00", "accent": "#D9A441"}
_WARNING_COLORS = {"needs_mode": "#FD4D00", "conflict": "#FD4D00", "clear": "#00A5A5"}


def _html(warnings: list, rows: list) -> str:
    e = html.escape
    out = ['<div class="neuvora-target-plan">']
    for kind, text in warnings:
        color = _WARNING_COLORS.get(kind)
        style = f' style="color:{color}"' if color else ' style="opacity:0.75"'
        out.append(f'<div class="{e(kind)}"{style}>{e(text)}</div>')
    out.append('<table style="border-collapse:collapse;font-family:monospace">')
    out.append("<thead><tr><th></th><th>module</th><th>class</th><th>mode</th><th>from</th><th>own params</th></tr></thead>")
    out.append("<tbody>")
    for depth, marker, label, type_name, copies, hidden, mode, color, source, params, shared in rows:
        name = e(label)
        if copies > 1:
            name += f" ×{copies}"
        if hidden:
            name += f" ({hidden} modules)"
        mode_cell = f'<span style="color:{_COLORS[color]}">{e(mode)}</span>' if color else e(mode)
        params_cell = e(params) + (f" shared with {e(shared)}" if shared else "")
        out.append(
            f"<tr><td>{e(marker)}</td>"
            f'<td style="padding-left:{depth * 1.5 + 0.3:g}em;text-align:left">{name}</td>'
            f'<td style="text-align:left">{e(type_name)}</td><td style="text-align:left">{mode_cell}</td>'
            f'<td style="text-align:left">{e(source)}</td><td style="text-align:right">{params_cell}</td></tr>'
        )
    out.append("</tbody></table></div>")
    return "\n".join(out)


# -- the command ---------------------------------------------------------------


class _Refused(Exception):
    """A bad input of the command: its one line, and exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> None:  # type: ignore[override]
        raise _Refused(f"{message} (see --help)")


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description="Prints which modules of a model are dendrified or tracked under the saved rules, "
        "what needs a mode, and what it costs, without opening the configurator.",
        epilog="exit status: 0 printed (with --check: the plan is ok), 1 with --check when a module "
        "needs a mode or a shared tensor is in conflict, 2 on a bad FACTORY, configuration file or argument. "
        "Colours are left out when NO_COLOR is set to a non-empty value.",
    )
    parser.add_argument(
        "factory", metavar="FACTORY", help="package.module:callable returning the torch.nn.Module (called with no arguments)"
    )
    parser.add_argument(
        "--config",
        metavar="FILE",
        help="take the four rule lists and module_settings from this configuration file (one written by a save)",
    )
    parser.add_argument("--json", action="store_true", help="print the plan as JSON (plan.to_dict())")
    parser.add_argument("--depth", type=int, metavar="N", help="leave out modules deeper than N (0: the direct children)")
    parser.add_argument("--no-fold", action="store_true", help="show every module instead of folding alike siblings")
    parser.add_argument(
        "--check",
        action="store_true",
        help="exit 1 when a module needs a mode or a shared tensor is in conflict, listing each one per line",
    )
    parser.add_argument(
        "--color",
        choices=("auto", "always", "never"),
        default="auto",
        help="colour the text: auto (only on a terminal), always or never",
    )
    return parser


def _build_model(factory: str) -> Any:
    module_name, colon, attribute = factory.partition(":")
    if not colon or not module_name or not attribute:
        raise _Refused(f"FACTORY must read package.module:callable, not {factory!r}")
    try:
        target: Any = importlib.import_module(module_name)
    except Exception as error:
        raise _Refused(f"cannot import {module_name!r}: {type(error).__name__}: {error}") from None
    for part in attribute.split("."):
        if not hasattr(target, part):
            raise _Refused(f"{module_name!r} has no attribute {attribute!r}")
        target = getattr(target, part)
    if not callable(target):
        raise _Refused(f"{factory} is not callable (it is a {type(target).__name__})")
    try:
        model = target()
    except Exception as error:
        raise _Refused(f"{factory}() raised {type(error).__name__}: {error}") from None
    import torch

    if not isinstance(model, torch.nn.Module):
        raise _Refused(f"{factory}() returned a {type(model).__name__}, not a torch.nn.Module")
    return model


def _load_config(path: str) -> None:
    from neuvora import globals_neuvora as GNV

    try:
        with open(path, encoding="utf-8") as handle:
            document = json.load(handle)
    except OSError as error:
        raise _Refused(f"cannot read the configuration file {path!r}: {error.strerror or error}") from None
    except (ValueError, RecursionError):
        raise _Refused(f"the configuration file {path!r} is not valid JSON") from None
    if not isinstance(document, dict):
        raise _Refused(f"the configuration file {path!r} does not hold a JSON object")
    settings = document.get("module_settings", {})
    if not isinstance(settings, dict) or not all(isinstance(values, dict) for values in settings.values()):
        raise _Refused(f"the configuration file {path!r}: module_settings must be an object of objects")
    GNV.pc.set_config_file(path)
    try:
        GNV.pc.load_config_file()
    except ValueError as error:
        raise _Refused(str(error)) from None


def main(argv: Optional[list[str]] = None) -> int:
    """The command: its exit status."""
    try:
        args = _parser().parse_args(sys.argv[1:] if argv is None else argv)
        if args.depth is not None and args.depth < 0:
            raise _Refused("--depth must be at least 0")
        if args.config is not None:
            _load_config(args.config)
        model = _build_model(args.factory)
        try:
            plan = plan_targets(model)
        except ValueError as error:  # lazy modules, among others: the configurator's own message
            raise _Refused(str(error)) from None
    except _Refused as refused:
        print(f"{PROG}: error: {refused}", file=sys.stderr)
        return 2
    if args.json:
        print(json.dumps(plan.to_dict(), indent=2))
    elif args.check:
        for line in plan.problems():
            print(line)
        if plan.ok:
            print("ok: every module with parameters has a mode and no shared tensor is in conflict")
    else:
        color = args.color == "always" or (args.color == "auto" and sys.stdout.isatty())
        columns = os.get_terminal_size().columns if sys.stdout.isatty() else 100
        print(plan.format(width=max(columns, 40), depth=args.depth, fold=not args.no_fold, color=color))
    return 1 if args.check and not plan.ok else 0


if __name__ == "__main__":
    sys.exit(main())
