"""The target plan without a terminal (``neuvora.plan``): its fields against the
interpreted rules of ``bench/baseline.py``, its text, HTML and JSON, the
command's exit codes and messages, the README's outputs, a real notebook, and
output without colour under NO_COLOR."""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys
import textwrap

import baseline
import pytest
import screenshots
import torch
from scripted import ScriptedSession
from screens import plain, styled
from torch import nn

from neuvora import globals_neuvora as GNV
from neuvora import plan as plan_module
from neuvora import plan_targets
from neuvora.demo import build_demo_model, build_tied_demo_model

# -- small models, one for each field ------------------------------------------


class Tied(nn.Module):
    """A head tied to the embedding, and a parameter of the model itself."""

    def __init__(self):
        super().__init__()
        self.wte = nn.Embedding(10, 4)
        self.mid = nn.Linear(4, 4)
        self.lm_head = nn.Linear(4, 10, bias=False)
        self.lm_head.weight = self.wte.weight
        self.logit_scale = nn.Parameter(torch.ones([]))


class Sub(nn.Linear):
    pass


class Layer(nn.Module):
    def __init__(self):
        super().__init__()
        self.proj = nn.Linear(3, 3)
        self.act = nn.ReLU()


class Stack(nn.Module):
    """Eight alike layers, a restructured module, a near-miss subclass."""

    def __init__(self, layers=8):
        super().__init__()
        self.layers = nn.ModuleList(Layer() for _ in range(layers))
        self.attn = nn.MultiheadAttention(4, 2)
        self.extra = Sub(2, 2)


def _rules(dendrify_ids=(), track_ids=(), dendrify_types=(), track_types=()):
    pc = GNV.pc
    pc.set_module_ids_to_dendrify(list(dendrify_ids))
    pc.set_module_ids_to_track(list(track_ids))
    pc.set_module_names_to_dendrify(list(dendrify_types))
    pc.set_module_names_to_track(list(track_types))


CASES = {
    "tied, head in conflict": (Tied, dict(dendrify_types=["Linear"], track_types=["Embedding"])),
    "tied, agreeing": (Tied, dict(dendrify_types=["Linear", "Embedding"])),
    "stack, id rule in a run": (Stack, dict(dendrify_types=["Linear"], track_ids=[".layers.5"])),
    "stack, rules doubled and overlapping": (
        Stack,
        dict(dendrify_ids=[".layers", ".layers"], track_ids=[".layers", ".extra"],
             dendrify_types=["Sub", "ReLU"], track_types=["ReLU", "Conv1d", "Linear"]),
    ),
    "demo, nothing set": (build_demo_model, {}),
    "tied demo, inherited": (build_tied_demo_model, dict(dendrify_ids=[".h"], track_types=["LayerNorm"])),
}


@pytest.mark.parametrize("case", CASES)
def test_every_field_agrees_with_the_interpreted_rules(case):
    build, rules = CASES[case]
    model = build()
    _rules(**rules)
    before = [list(getattr(GNV.pc, "get_" + name)()) for name in GNV.RULE_LIST_NAMES]
    plan = plan_targets(model)
    # Nothing is written: the lists keep their duplicates and overlaps.
    assert [getattr(GNV.pc, "get_" + name)() for name in GNV.RULE_LIST_NAMES] == before

    baseline.normalize_selection_conflicts()
    entries = baseline.get_module_entries(model)
    resolved = baseline.resolve_entry_modes(entries)
    sharing = baseline.shared_parameter_holders(entries)
    needs = [entry["id"] for entry in baseline.unset_module_entries(entries, resolved)]
    expected_rows = [
        {
            "id": e["id"], "type_name": e["type_name"], "mode": resolved[e["id"]]["eff"],
            "source": resolved[e["id"]]["source"], "own_params": e["direct_param_count"], "depth": e["depth"],
            "restructured": e["is_replaced_root"] or e["in_replaced"], "needs_mode": e["id"] in needs,
            "shared_with": None if (o := baseline.shared_owner(sharing, i)) is None else entries[o]["id"],
            "overrides": False,
        }
        for i, e in enumerate(entries)
    ]
    conflicts = []
    for held in sharing[0]:
        modes = [resolved[entries[i]["id"]]["eff"] for i in held]
        if len(set(modes)) > 1:
            conflicts.append({"ids": [entries[i]["id"] for i in held], "modes": modes})
    data = plan.to_dict()
    assert data["rows"] == expected_rows
    assert data["needs_mode"] == needs
    assert data["conflicts"] == conflicts
    assert [(r["name"], r["mode"], r["live_count"]) for r in data["type_rules"]] == baseline.type_rule_entries(entries)
    assert str(plan).splitlines()[0] == baseline.build_budget_line(entries, resolved)
    assert data["ok"] == (not needs and not conflicts)
    json.dumps(data)  # JSON-ready


def test_model_parameters_near_misses_budget_and_overrides(tmp_path):
    GNV.pc.set_config_file(str(tmp_path / "cfg.json"))
    (tmp_path / "cfg.json").write_text(json.dumps({"module_settings": {".mid": {"dendrite_count": 2}, "Sub": {}}}))
    _rules(dendrify_types=["Linear"], track_types=["Embedding", "Conv1d"])
    tied = plan_targets(Tied())
    assert tied.model_parameters == ["logit_scale"]
    assert tied.budget == (60, 60, 100.0)  # the head adds the embedding's tensor; logit_scale counts nowhere
    assert [row.overrides for row in tied.rows] == [False, True, False]
    stack = plan_targets(Stack())
    rules = {rule.name: rule for rule in stack.type_rules}
    assert rules["Linear"].near_misses == [("NonDynamicallyQuantizableLinear", 1), ("Sub", 1)]
    assert rules["Conv1d"].live_count == 0 and rules["Conv1d"].near_misses == []
    assert [row.overrides for row in stack.rows if row.type_name == "Sub"] == [True]
    restructured = [row.id for row in stack.rows if row.restructured]
    assert restructured == [".attn", ".attn.out_proj"]


def test_saved_overrides_come_through_the_configurators_reader(cn, monkeypatch):
    monkeypatch.setattr(cn, "load_existing_module_settings", lambda: {".layers.2.proj": {"dendrite_count": 3}})
    flagged = [row.id for row in plan_targets(Stack()).rows if row.overrides]
    assert flagged == [".layers.2.proj"]


def test_lazy_modules_get_the_configurators_message(cn):
    model = nn.Sequential(nn.Linear(2, 2), nn.LazyLinear(3))
    with pytest.raises(ValueError) as from_entries:
        cn.get_module_entries(model)
    with pytest.raises(ValueError) as from_plan:
        plan_targets(model)
    assert str(from_plan.value) == str(from_entries.value)


def test_an_empty_model_has_an_empty_plan():
    plan = plan_targets(nn.Module())
    assert (plan.rows, plan.ok, plan.budget) == ([], True, (0, 0, 0.0))
    assert str(plan) == "Dendrification budget:  +0 params per dendrite cycle  ·  model 0  (+0.0% / cycle)\n" \
        "✓ every parameter is dendrified or tracked"


# -- text ------------------------------------------------------------------------

TEXTS = {
    "tied": (Tied, CASES["tied, head in conflict"][1], {}),
    "run broken by an id rule": (lambda: Stack(32), dict(dendrify_types=["Linear"], track_ids=[".layers.5"]), {}),
    "not folded": (Stack, dict(dendrify_types=["Linear"]), dict(fold=False)),
    "depth 0": (build_demo_model, dict(dendrify_types=["Linear"]), dict(depth=0)),
    "depth 1": (build_demo_model, dict(dendrify_types=["Linear"], track_ids=[".blocks.1"]), dict(depth=1)),
    "narrow": (build_demo_model, dict(dendrify_ids=[".blocks"], track_types=["Embedding"]), dict(width=48)),
}


@pytest.mark.parametrize("case", TEXTS)
def test_text(case, snapshot):
    build, rules, options = TEXTS[case]
    _rules(**rules)
    text = plan_targets(build()).format(**options)
    assert max(len(line) for line in text.splitlines()) <= options.get("width", 100)
    assert text == snapshot


def test_alike_siblings_fold_and_a_different_one_breaks_the_run():
    _rules(dendrify_types=["Linear"], track_ids=[".layers.5"])
    lines = str(plan_targets(Stack(32))).splitlines()
    assert [line.split()[0] for line in lines if "[Layer]" in line] == [".layers.{0..4}", ".layers.5", ".layers.{6..31}"]
    assert len(plan_targets(Stack(32)).format(fold=False).splitlines()) > 3 * 32


def test_styled_text_and_no_color(monkeypatch, snapshot):
    _rules(**CASES["tied, head in conflict"][1])
    plan = plan_targets(Tied())
    monkeypatch.delenv("NO_COLOR", raising=False)
    coloured = plan.format(color=True)
    assert styled(coloured) == snapshot
    assert plain(coloured) == plan.format()
    monkeypatch.setenv("NO_COLOR", "")  # empty: colours stay
    assert plan.format(color=True) == coloured
    monkeypatch.setenv("NO_COLOR", "1")
    faint = plan.format(color=True)
    assert "38;2;" not in faint and "\x1b[90m" not in faint and "\x1b[2m" in faint
    assert plain(faint) == plan.format()


@pytest.mark.parametrize(
    "text, expected",
    [
        ("\x1b[38;2;0;165;165mdendrify\x1b[0m", "dendrify\x1b[0m"),
        ("\x1b[90mdim\x1b[0m", "\x1b[2mdim\x1b[0m"),
        ("\x1b[1;38;5;208;48;2;1;2;3;7mx", "\x1b[1;7mx"),
        ("\x1b[31;42;97;101;39;49mx\x1b[m", "x\x1b[m"),
        ("\x1b[7mselected\x1b[0m \x1b[2J\x1b[?25l", "\x1b[7mselected\x1b[0m \x1b[2J\x1b[?25l"),
        ("\x1b[58;5;1;4mu", "\x1b[4mu"),
    ],
)
def test_without_color_keeps_attributes_only(cn, text, expected):
    assert cn._without_color(text) == expected


def test_no_color_session_sends_no_colour_code(cn, monkeypatch):
    monkeypatch.setenv("NO_COLOR", "1")
    keys = ["p", "y", "y", "h", "h", "?", "?", "\t", "q", "n", "s", "\r", "q", "y"]
    session = ScriptedSession(cn, monkeypatch, keys)
    with pytest.raises(SystemExit):
        session.run(build_tied_demo_model())
    frames = "".join(session.frames)
    # Only attributes are left: reset, bold, faint, underline, inverse.
    parameters = {p for code in re.findall(r"\x1b\[([0-9;]*)m", frames) for p in code.split(";")}
    assert parameters <= {"0", "1", "2", "4", "7"} and "2" in parameters


# -- HTML and the notebook -----------------------------------------------------


def _named_markup():
    model = nn.Module()
    model.add_module("<b>x</b>", nn.Linear(2, 2))
    return model


def test_html_escapes_names_and_colours_modes():
    _rules(dendrify_types=["Linear"])
    page = plan_targets(_named_markup())._repr_html_()
    assert "<b>" not in page and ".&lt;b&gt;x&lt;/b&gt;" in page
    assert '<span style="color:#00A5A5">dendrify</span>' in page and "<table" in page


@pytest.mark.slow  # starts a kernel
def test_a_notebook_shows_the_plan_as_a_table(tmp_path):
    import nbformat
    from nbclient import NotebookClient

    code = textwrap.dedent(
        """
        from torch import nn
        from neuvora import globals_neuvora as GNV, plan_targets
        model = nn.Module()
        model.add_module("<b>x</b>", nn.Linear(2, 2))
        GNV.pc.set_module_names_to_dendrify(["Linear"])
        plan_targets(model)
        """
    )
    notebook = nbformat.v4.new_notebook(cells=[nbformat.v4.new_code_cell(code)])
    NotebookClient(notebook, timeout=120, kernel_name="python3", resources={"metadata": {"path": str(tmp_path)}}).execute()
    (output,) = notebook.cells[0].outputs
    page = output["data"]["text/html"]
    _rules(dendrify_types=["Linear"])
    assert page == plan_targets(_named_markup())._repr_html_()
    assert "<table" in page and "&lt;b&gt;x&lt;/b&gt;" in page and "<b>x" not in page


def test_readme_outputs_match_a_fresh_capture():
    readme = open(os.path.join(os.path.dirname(__file__), "..", "README.md"), encoding="utf-8").read()
    blocks = screenshots.readme_outputs(readme)
    assert sorted(blocks) == sorted(screenshots.OUTPUTS)
    outputs = screenshots.capture_outputs()
    stale = [name for name in screenshots.OUTPUTS if blocks[name] != outputs[name]]
    assert stale == [], "README outputs are stale: run `make screenshots`"


# -- the command -----------------------------------------------------------------

FACTORIES = """
import torch
from torch import nn
from neuvora.demo import build_tied_demo_model
not_callable = 3
def not_a_module():
    return "a text"
def raises():
    raise RuntimeError("no weights here")
def lazy():
    return nn.Sequential(nn.LazyLinear(2))
def clean():
    return nn.Sequential(nn.Linear(2, 2))
"""


@pytest.fixture
def factories(tmp_path, monkeypatch):
    (tmp_path / "factories.py").write_text(FACTORIES)
    monkeypatch.syspath_prepend(str(tmp_path))
    sys.modules.pop("factories", None)
    return tmp_path


def run_command(capsys, *args):
    status = plan_module.main(list(args))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize(
    "args, message",
    [
        (["factories"], "FACTORY must read package.module:callable, not 'factories'"),
        (["no_such_module:x"], "cannot import 'no_such_module': ModuleNotFoundError: No module named 'no_such_module'"),
        (["factories:missing"], "'factories' has no attribute 'missing'"),
        (["factories:not_callable"], "factories:not_callable is not callable (it is a int)"),
        (["factories:not_a_module"], "factories:not_a_module() returned a str, not a torch.nn.Module"),
        (["factories:raises"], "factories:raises() raised RuntimeError: no weights here"),
        (["factories:clean", "--depth", "-1"], "--depth must be at least 0"),
        (["factories:clean", "--depth", "x"], "argument --depth: invalid int value: 'x' (see --help)"),
        (["factories:clean", "--color", "pink"],
         "argument --color: invalid choice: 'pink' (choose from 'auto', 'always', 'never') (see --help)"),
        (["factories:clean", "--bogus"], "unrecognized arguments: --bogus (see --help)"),
        ([], "the following arguments are required: FACTORY (see --help)"),
        (["factories:clean", "--config", "missing.json"],
         "cannot read the configuration file 'missing.json': No such file or directory"),
        (["factories:clean", "--config", "broken.json"], "the configuration file 'broken.json' is not valid JSON"),
        (["factories:clean", "--config", "list.json"], "the configuration file 'list.json' does not hold a JSON object"),
        (["factories:clean", "--config", "kinds.json"],
         "cannot load the configuration from 'kinds.json': module_ids_to_track must be a list of texts, not \"x\""),
        (["factories:clean", "--config", "settings.json"],
         "the configuration file 'settings.json': module_settings must be an object of objects"),
    ],
)
def test_bad_input_exits_2_with_one_line(factories, capsys, args, message):
    for name, content in {"broken.json": "{", "list.json": "[]", "kinds.json": '{"module_ids_to_track": "x"}',
                          "settings.json": '{"module_settings": {"a": 1}}'}.items():
        (factories / name).write_text(content)
    status, out, err = run_command(capsys, *args)
    assert (status, out, err) == (2, "", f"python -m neuvora.plan: error: {message}\n")


def test_lazy_model_exits_2_with_the_configurators_message(factories, capsys, cn):
    status, out, err = run_command(capsys, "factories:lazy")
    with pytest.raises(ValueError) as raised:
        cn.get_module_entries(nn.Sequential(nn.LazyLinear(2)))
    assert (status, out) == (2, "")
    assert err == f"python -m neuvora.plan: error: {raised.value}\n" and len(err.splitlines()) == 1


def test_check_is_a_ci_gate(factories, capsys):
    (factories / "rules.json").write_text(json.dumps({"module_names_to_dendrify": ["Linear"]}))
    assert run_command(capsys, "factories:clean", "--check") == (1, "needs a mode: .0  [Linear]\n", "")
    clean = run_command(capsys, "factories:clean", "--config", "rules.json", "--check")
    assert clean == (0, "ok: every module with parameters has a mode and no shared tensor is in conflict\n", "")
    status, out, _ = run_command(capsys, "factories:build_tied_demo_model", "--config", "rules.json", "--check")
    assert status == 1
    assert out.splitlines() == [
        "needs a mode: .wte  [Embedding]", "needs a mode: .ln_f  [LayerNorm]",
        "shared tensor in conflict: .wte (none) and .lm_head (dendrify)",
    ]


def test_json_and_text_and_colour(factories, capsys, monkeypatch):
    _rules()
    status, out, _ = run_command(capsys, "factories:build_tied_demo_model", "--json")
    assert status == 0 and json.loads(out) == plan_targets(build_tied_demo_model()).to_dict()
    status, out, _ = run_command(capsys, "factories:build_tied_demo_model", "--depth", "0", "--no-fold")
    assert out == plan_targets(build_tied_demo_model()).format(depth=0, fold=False) + "\n"
    monkeypatch.delenv("NO_COLOR", raising=False)
    assert "\x1b[" in run_command(capsys, "factories:clean", "--color", "always")[1]
    assert "\x1b[" not in run_command(capsys, "factories:clean", "--color", "auto")[1]  # not a terminal


def test_the_module_runs_as_a_command(factories):
    env = dict(os.environ, PYTHONPATH=str(factories))
    result = subprocess.run([sys.executable, "-m", "neuvora.plan", "factories:clean", "--check"], cwd=factories,
                            env=env, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert (result.returncode, result.stdout, result.stderr) == (1, "needs a mode: .0  [Linear]\n", "")
