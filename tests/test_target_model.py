"""Target model: module entries, rule lists and resolution, rule editing and the
budget line, through the built module.

Besides direct cases, random models and random rule lists are compared with a
literal Python rendering of the rules (``bench/baseline.py``, imported as the
``ref_*`` functions), which is what the native code must match whatever
shortcuts it takes."""

from __future__ import annotations

from collections.abc import Mapping

import pytest
import torch
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from torch import nn

from baseline import build_budget_line as ref_budget
from baseline import dedupe_list as ref_dedupe
from baseline import format_human_count as ref_human
from baseline import get_module_entries as ref_entries
from baseline import get_parent_module_id as ref_parent
from baseline import resolve_entry_modes as ref_resolve
from neuvora import globals_neuvora as GNV

ENTRY_KEYS = [
    "id",
    "name",
    "type_name",
    "module",
    "depth",
    "direct_param_count",
    "tree_param_count",
    "is_replaced_root",
    "replaced_root",
    "in_replaced",
]
RECORD_KEYS = ["eff", "source", "origin_id", "overridden"]


def set_rules(ids_d=(), ids_t=(), names_d=(), names_t=()):
    GNV.pc.set_module_ids_to_dendrify(list(ids_d))
    GNV.pc.set_module_ids_to_track(list(ids_t))
    GNV.pc.set_module_names_to_dendrify(list(names_d))
    GNV.pc.set_module_names_to_track(list(names_t))


def rules():
    pc = GNV.pc
    return (
        pc.get_module_ids_to_dendrify(),
        pc.get_module_ids_to_track(),
        pc.get_module_names_to_dendrify(),
        pc.get_module_names_to_track(),
    )


class Recorder:
    """Stands in for ``GNV.pc``: keeps the four lists and logs every call."""

    NAMES = ("module_ids_to_dendrify", "module_ids_to_track", "module_names_to_dendrify", "module_names_to_track")

    def __init__(self, *lists, fail_on=None):
        self.lists = {name: list(values) for name, values in zip(self.NAMES, lists)}
        self.calls = []
        self.fail_on = fail_on
        for name in self.NAMES:
            setattr(self, "get_" + name, self._getter(name))
            setattr(self, "set_" + name, self._setter(name))

    def _getter(self, name):
        def get():
            self.calls.append("get_" + name)
            if self.fail_on == "get_" + name:
                raise RuntimeError("boom")
            return self.lists[name]

        return get

    def _setter(self, name):
        def set_(values):
            self.calls.append("set_" + name)
            self.lists[name] = values

        return set_


# ---------------------------------------------------------------------------
# Models
# ---------------------------------------------------------------------------


class Pair(nn.Module):
    def __init__(self, a, b):
        super().__init__()
        self.a, self.b = a, b


class Tied(nn.Module):
    def __init__(self):
        super().__init__()
        self.embed = nn.Embedding(10, 4)  # 40
        self.head = nn.Linear(4, 10, bias=False)
        self.head.weight = self.embed.weight
        self.extra = nn.Linear(4, 4)  # 20


# ---------------------------------------------------------------------------
# Module entries
# ---------------------------------------------------------------------------


def test_model_without_submodules_gives_no_entries(cn):
    assert cn.get_module_entries(nn.Linear(2, 2)) == []


class Reads(nn.Module):
    """Its own walk is not torch's: entries are read through the public calls."""

    def __init__(self, inner):
        super().__init__()
        self.inner = inner

    def named_modules(self, *args, **kwargs):
        yield from super().named_modules(*args, **kwargs)

    def forward(self, x):
        return self.inner(x)


@pytest.mark.parametrize("wrap", [lambda m: m, Reads], ids=["torch walk", "public walk"])
def test_lazy_modules_raise_a_value_error_that_says_what_to_do(cn, wrap):
    model = wrap(nn.Sequential(nn.Linear(2, 2), nn.Sequential(nn.LazyLinear(3), nn.LazyLinear(4))))
    with pytest.raises(ValueError) as raised:
        cn.get_module_entries(model)
    first = ".inner.1.0" if wrap is Reads else ".1.0"
    assert str(raised.value) == (
        f"The module {first} (LazyLinear) has uninitialized (lazy) parameters, so its parameters cannot be "
        "counted. Run one forward pass through the model, or materialise the module, before choosing "
        "dendrification targets."
    )
    assert isinstance(raised.value.__cause__, ValueError)
    assert "uninitialized parameter" in str(raised.value.__cause__)
    model(torch.zeros(1, 2))  # the forward pass materialises both
    assert [e["direct_param_count"] for e in cn.get_module_entries(model)][-2:] == [9, 16]


def test_other_errors_while_counting_are_not_reworded(cn):
    class Broken(nn.Linear):
        def named_parameters(self, *args, **kwargs):
            raise OSError("disk gone")

    with pytest.raises(OSError, match="disk gone"):
        cn.get_module_entries(nn.Sequential(Broken(2, 2)))


def test_entry_keys_values_and_preorder(cn):
    model = nn.Sequential(nn.Linear(3, 4), nn.Sequential(nn.ReLU(), nn.Linear(4, 2)))
    entries = cn.get_module_entries(model)
    assert all(list(e) == ENTRY_KEYS for e in entries)
    summary = [(e["id"], e["name"], e["type_name"], e["depth"], e["direct_param_count"], e["tree_param_count"])
               for e in entries]
    assert summary == [
        (".0", "0", "Linear", 0, 16, 16),
        (".1", "1", "Sequential", 0, 0, 10),
        (".1.0", "1.0", "ReLU", 1, 0, 0),
        (".1.1", "1.1", "Linear", 1, 10, 10),
    ]
    assert entries[0]["module"] is model[0]
    assert all(e["is_replaced_root"] is False and e["replaced_root"] is None and e["in_replaced"] is False
               for e in entries)


def test_module_under_two_paths_and_shared_parameters(cn):
    model = Tied()
    shared = nn.Linear(2, 2)
    model.left = Pair(shared, nn.ReLU())
    model.right = Pair(nn.ReLU(), shared)
    entries = {e["id"]: e for e in cn.get_module_entries(model)}
    assert entries[".left.a"]["module"] is entries[".right.b"]["module"] is shared
    assert entries[".head"]["direct_param_count"] == 40  # the tied weight belongs to both
    assert entries[".left"]["tree_param_count"] == entries[".right"]["tree_param_count"] == 6
    # The model total of the budget counts the tied weight and the shared module once.
    set_rules(ids_d=[".left", ".right", ".embed", ".head"])
    entries = cn.get_module_entries(model)
    line = cn.build_budget_line(entries, cn.resolve_entry_modes(entries))
    assert line == "Dendrification budget:  +46 params per dendrite cycle  \u00b7  model 66  (+69.7% / cycle)"


def test_tree_counts_with_reused_modules_and_tied_weights(cn):
    shared = nn.Linear(3, 3)  # 12
    tied = nn.Linear(3, 3, bias=False)
    tied.weight = shared.weight
    inner = Pair(shared, tied)
    model = nn.Sequential(Pair(inner, shared), Pair(nn.ReLU(), Pair(tied, inner)), tied)
    entries = cn.get_module_entries(model)
    assert strip(entries) == strip(ref_entries(model))
    assert [e["tree_param_count"] for e in entries if e["depth"] == 0] == [12, 12, 9]


def test_parameter_registered_twice_on_one_module_counts_once(cn):
    module = nn.Linear(2, 3)
    module.register_parameter("again", module.weight)
    model = nn.Sequential(module)
    (entry,) = cn.get_module_entries(model)
    assert entry["direct_param_count"] == entry["tree_param_count"] == 9


def test_nested_replaced_roots(cn, fresh_config):
    class Block(nn.Module):
        def __init__(self, inner=None):
            super().__init__()
            self.lin = nn.Linear(2, 2)
            if inner is not None:
                self.inner = inner

    model = nn.Module()
    model.layer1 = Block(Block())
    model.layer10 = nn.Linear(2, 2)  # shares the prefix ".layer1" but is not inside it
    fresh_config.modules_to_replace = [Block]
    entries = {e["id"]: e for e in cn.get_module_entries(model)}
    flags = {k: (e["is_replaced_root"], e["replaced_root"], e["in_replaced"]) for k, e in entries.items()}
    assert flags == {
        ".layer1": (True, None, False),
        ".layer1.lin": (False, ".layer1", True),
        ".layer1.inner": (True, ".layer1", True),
        ".layer1.inner.lin": (False, ".layer1", True),
        ".layer10": (False, None, False),
    }


def test_modules_to_replace_is_read_once_after_the_walk(cn, monkeypatch):
    calls = []

    class Config(GNV.NVXConfig):
        def get_modules_to_replace(self):
            calls.append("replace")
            return (nn.ReLU,)

    monkeypatch.setattr(GNV, "pc", Config())
    entries = cn.get_module_entries(nn.Sequential(nn.ReLU(), nn.Linear(1, 1)))
    assert calls == ["replace"]
    assert [e["is_replaced_root"] for e in entries] == [True, False]


def test_not_a_class_in_modules_to_replace_raises(cn, fresh_config):
    fresh_config.modules_to_replace = ["Linear"]
    with pytest.raises(TypeError):
        cn.get_module_entries(nn.Sequential(nn.Linear(1, 1)))


class OwnParams(nn.Module):
    """Reports a parameter list of its own making."""

    def __init__(self):
        super().__init__()
        self.w = nn.Parameter(torch.zeros(3))
        self.child = nn.Linear(2, 2)

    def named_parameters(self, prefix="", recurse=True, remove_duplicate=True):
        yield "w", self.w
        if recurse:
            yield "w", self.w  # counted twice by the caller's sum
        yield "fake", nn.Parameter(torch.zeros(100))


class OwnWalk(nn.Module):
    """Hides its second child from the module walk."""

    def __init__(self):
        super().__init__()
        self.shown = nn.Linear(2, 2)
        self.hidden = nn.Linear(3, 3)

    def named_modules(self, memo=None, prefix="", remove_duplicate=True):
        yield prefix, self
        yield from self.shown.named_modules(memo, prefix + ("." if prefix else "") + "shown", remove_duplicate)


@pytest.mark.parametrize("make", [lambda: nn.Sequential(OwnParams(), nn.ReLU()), lambda: nn.Sequential(OwnWalk()),
                                  lambda: OwnWalk()])
def test_classes_with_their_own_walks_are_asked(cn, make):
    model = make()
    got = cn.get_module_entries(model)
    want = ref_entries(model)
    assert strip(got) == strip(want)


def test_instance_attribute_shadowing_named_parameters_is_honoured(cn):
    model = nn.Sequential(nn.Linear(2, 2))
    extra = nn.Parameter(torch.zeros(7))
    object.__setattr__(model[0], "named_parameters", lambda recurse=True: iter([("x", extra)]))
    (entry,) = cn.get_module_entries(model)
    assert entry["direct_param_count"] == entry["tree_param_count"] == 7


def test_module_inside_itself_raises_recursion_error(cn):
    model = nn.Sequential(nn.Linear(1, 1))
    model[0]._modules["loop"] = model
    with pytest.raises(RecursionError):
        cn.get_module_entries(model)


def strip(entries):
    return [{k: (id(v) if k == "module" else v) for k, v in e.items()} for e in entries]


# Random module trees: some modules reused under several paths, some parameters
# shared between modules, some classes replaced.
KINDS = [nn.Linear, nn.ReLU, nn.Sequential, Pair]


@st.composite
def random_models(draw):
    pool = []
    modules = []

    def build(depth):
        if pool and draw(st.integers(0, 5)) == 0:
            return draw(st.sampled_from(pool))  # reuse: a second path to one module
        kind = draw(st.sampled_from(KINDS if depth < 3 else KINDS[:2]))
        if kind is nn.Linear:
            module = nn.Linear(draw(st.integers(1, 4)), draw(st.integers(1, 4)), bias=draw(st.booleans()))
            if modules and draw(st.integers(0, 4)) == 0:
                donor = draw(st.sampled_from([m for m in modules if isinstance(m, nn.Linear)] or [module]))
                if donor.weight.shape == module.weight.shape:
                    module.weight = donor.weight  # a tied weight
        elif kind is nn.ReLU:
            module = nn.ReLU()
        elif kind is nn.Sequential:
            module = nn.Sequential(*[build(depth + 1) for _ in range(draw(st.integers(0, 3)))])
        else:
            module = Pair(build(depth + 1), build(depth + 1))
        modules.append(module)
        pool.append(module)
        return module

    model = nn.Sequential(*[build(0) for _ in range(draw(st.integers(0, 4)))])
    replaced = draw(st.lists(st.sampled_from([nn.Sequential, Pair, nn.Linear]), max_size=2, unique=True))
    return model, replaced


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(random_models())
def test_entries_match_the_public_walk(cn, fresh_config, drawn):
    model, replaced = drawn
    fresh_config.modules_to_replace = replaced
    assert strip(cn.get_module_entries(model)) == strip(ref_entries(model))


# ---------------------------------------------------------------------------
# Parent ids and de-duplication
# ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "module_id, parent",
    [(".a", None), (".a.b.c", ".a.b"), (".encoder.layers.0", ".encoder.layers"), ("", None), ("a", None),
     ("x.a.b", ".a"), ("a.b", None), (".é.ß.∂", ".é.ß"), ("..", "."), ("...", "..")],
)
def test_parent_module_id(cn, module_id, parent):
    assert cn.get_parent_module_id(module_id) == parent == ref_parent(module_id)


def test_parent_module_id_of_a_non_text_raises(cn):
    with pytest.raises(AttributeError):
        cn.get_parent_module_id(3)


@pytest.mark.parametrize(
    "values, expected",
    [(["b", "a", "b", "c", "a"], ["b", "a", "c"]), ([1, 1.0, True, 2], [1, 2]), ((x for x in "abca"), list("abc")),
     ([], [])],
)
def test_dedupe_list(cn, values, expected):
    assert cn.dedupe_list(values) == expected


def test_dedupe_list_rejects_unhashable_values(cn):
    with pytest.raises(TypeError, match="unhashable"):
        cn.dedupe_list(["a", ["b"]])


# ---------------------------------------------------------------------------
# Normalisation and resolution
# ---------------------------------------------------------------------------


def test_normalize_removes_duplicates_and_conflicts_in_place_order(cn, monkeypatch):
    pc = Recorder([".a", ".b", ".a"], [".c", ".b", ".c"], ["Linear"], ["ReLU", "Linear"])
    monkeypatch.setattr(GNV, "pc", pc)
    originals = [pc.lists[name] for name in pc.NAMES]
    assert cn.normalize_selection_conflicts() is None
    assert [pc.lists[name] for name in pc.NAMES] == [[".a", ".b"], [".c"], ["Linear"], ["ReLU"]]
    assert pc.calls == [
        "get_module_ids_to_dendrify", "get_module_ids_to_track", "get_module_names_to_dendrify",
        "get_module_names_to_track", "set_module_ids_to_dendrify", "set_module_ids_to_track",
        "set_module_names_to_dendrify", "set_module_names_to_track",
    ]
    # The getters' lists were not edited in place.
    assert originals[0] == [".a", ".b", ".a"] and originals[3] == ["ReLU", "Linear"]


def test_normalize_stops_at_a_failing_getter(cn, monkeypatch):
    pc = Recorder([], [], [], [], fail_on="get_module_names_to_dendrify")
    monkeypatch.setattr(GNV, "pc", pc)
    with pytest.raises(RuntimeError):
        cn.normalize_selection_conflicts()
    assert not any(call.startswith("set_") for call in pc.calls)


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(*[st.lists(st.sampled_from(["a", "b", "c", "d", "e"]), max_size=8) for _ in range(4)])
def test_normalized_lists_are_disjoint_and_keep_first_seen_order(cn, fresh_config, ids_d, ids_t, names_d, names_t):
    set_rules(ids_d, ids_t, names_d, names_t)
    cn.normalize_selection_conflicts()
    got = rules()
    assert got[0] == ref_dedupe(ids_d) and got[2] == ref_dedupe(names_d)
    assert got[1] == [v for v in ref_dedupe(ids_t) if v not in ids_d]
    assert got[3] == [v for v in ref_dedupe(names_t) if v not in names_d]
    assert not set(got[0]) & set(got[1]) and not set(got[2]) & set(got[3])


class Loose(str):
    """Text of a class of its own that equals any text with the same letters in any case."""

    def __eq__(self, other):
        return str.__eq__(self.lower(), str(other).lower())

    def __ne__(self, other):
        return not self.__eq__(other)

    __hash__ = str.__hash__


# Rule lists holding values that are not plain text: each rule must compare,
# hash, sort and write them back exactly as the interpreted definitions do.
ODD_RULES = {
    "text_of_its_own_class": ([Loose(".A"), ".b"], [".a", ".B"], [Loose("LINEAR")], ["Linear", "ReLU"]),
    "numbers_and_bools": ([1, True, 1.0, ".a"], [2, ".a"], ["Linear", 0], [False, "ReLU"]),
    "tuples_do_not_sort_with_text": ([".a"], [], ["Linear", ("tuple",)], ["ReLU"]),
    "unhashable_value": ([".a", [".b"]], [".c"], ["Linear"], []),
    "none_values": ([None, ".a"], [None], [None], ["Linear"]),
    "not_a_list": ((".a", ".b", ".a"), {".c"}, ("Linear",), ["ReLU"]),
}


@pytest.mark.parametrize("lists", list(ODD_RULES.values()), ids=list(ODD_RULES))
def test_rule_lists_of_other_values_like_the_interpreter(cn, lists):
    import baseline

    entries = [full_entry(".a"), full_entry(".a.b", type_name="ReLU"), full_entry(".c", type_name="Conv")]
    outcomes = {}
    for name, module in (("native", cn), ("reference", baseline)):
        set_rules(*[list(values) if isinstance(values, list) else values for values in lists])
        normalized = outcome(module.normalize_selection_conflicts)
        outcomes[name] = [
            normalized,
            rules() if normalized[0] == "value" else None,
            outcome(module.get_id_mode, ".a"),
            outcome(module.get_name_mode, "linear"),
            outcome(module.resolve_entry_modes, entries),
            outcome(module.type_rule_entries, entries),
        ]
    assert outcomes["native"] == outcomes["reference"]


@pytest.mark.parametrize("lists", list(ODD_RULES.values()), ids=list(ODD_RULES))
def test_rule_edits_with_other_values_like_the_interpreter(cn, lists):
    import baseline

    def edits(set_id, set_name, clear):
        results = []
        for call in (lambda: set_id(".a", "dendrified"), lambda: set_id(".b", "tracked"),
                     lambda: set_name("Linear", "tracked"), lambda: clear({"id": ".c", "type_name": "ReLU"}),
                     lambda: clear({"id": ".a", "type_name": "Linear"})):
            results.append((outcome(call), rules()))
        return results

    set_rules(*lists)
    got = edits(cn.set_module_id_mode, cn.set_module_name_mode, cn.clear_module_mode)
    set_rules(*lists)
    want = edits(reference_set_mode(True), reference_set_mode(False), reference_clear)
    assert got == want


def reference_set_mode(by_id):
    """`set_module_id_mode` / `set_module_name_mode` as the rule editing defines them."""
    import baseline

    getters = ("get_module_ids_to_dendrify", "get_module_ids_to_track") if by_id else (
        "get_module_names_to_dendrify", "get_module_names_to_track")

    def set_mode(key, mode):
        pc = GNV.pc
        dendrify = baseline.dedupe_list(getattr(pc, getters[0])())
        track = baseline.dedupe_list(getattr(pc, getters[1])())
        if mode == "dendrified":
            if key in dendrify:
                dendrify = [v for v in dendrify if v != key]
            else:
                dendrify, track = dendrify + [key], [v for v in track if v != key]
        elif mode == "tracked":
            if key in track:
                track = [v for v in track if v != key]
            else:
                track, dendrify = track + [key], [v for v in dendrify if v != key]
        getattr(pc, "set" + getters[0][3:])(dendrify)
        getattr(pc, "set" + getters[1][3:])(track)

    return set_mode


def reference_clear(entry):
    """`clear_module_mode` as the rule editing defines it."""
    pc = GNV.pc
    module_id, type_name = entry["id"], entry["type_name"]
    ids_d = [v for v in pc.get_module_ids_to_dendrify() if v != module_id]
    ids_t = [v for v in pc.get_module_ids_to_track() if v != module_id]
    if module_id in pc.get_module_ids_to_dendrify() or module_id in pc.get_module_ids_to_track():
        pc.set_module_ids_to_dendrify(ids_d)
        pc.set_module_ids_to_track(ids_t)
        return "cleared " + module_id
    if type_name in pc.get_module_names_to_dendrify() or type_name in pc.get_module_names_to_track():
        pc.set_module_names_to_dendrify([v for v in pc.get_module_names_to_dendrify() if v != type_name])
        pc.set_module_names_to_track([v for v in pc.get_module_names_to_track() if v != type_name])
        return "cleared the " + type_name + " type rule"
    return "nothing to clear on this module"


def test_mode_queries_fetch_track_list_only_when_needed(cn, monkeypatch):
    pc = Recorder([".a"], [".a", ".b"], ["X"], ["Y"])
    monkeypatch.setattr(GNV, "pc", pc)
    assert cn.get_id_mode(".a") == "dendrified"
    assert pc.calls == ["get_module_ids_to_dendrify"]
    assert [cn.get_id_mode(".b"), cn.get_id_mode(".z")] == ["tracked", None]
    assert [cn.get_name_mode("X"), cn.get_name_mode("Y"), cn.get_name_mode("Z")] == ["dendrified", "tracked", None]


def entry(module_id, type_name="Linear"):
    return {"id": module_id, "type_name": type_name}


@pytest.mark.parametrize(
    "entries, lists, wanted",
    [
        # An id rule beats a type rule on the class.
        ([entry(".a")], ([], [".a"], ["Linear"], []), {".a": ("tracked", "id", ".a", None)}),
        # An inherited mode beats the child's own id rule, which is kept as "overridden".
        ([entry(".p", "Seq"), entry(".p.c")], ([".p.c"], [".p"], [], []),
         {".p": ("tracked", "id", ".p", None),
          ".p.c": ("tracked", "inherited", ".p", {"mode": "dendrified", "source": "id"})}),
        # A child rule equal to the inherited mode is still reported.
        ([entry(".p", "Seq"), entry(".p.c")], ([".p", ".p.c"], [], [], []),
         {".p.c": ("dendrified", "inherited", ".p", {"mode": "dendrified", "source": "id"})}),
        # Three levels: the grandchild's origin is the top module.
        ([entry(".a", "S"), entry(".a.b", "S"), entry(".a.b.c")], ([], [], ["Linear"], ["S"]),
         {".a.b.c": ("tracked", "inherited", ".a", {"mode": "dendrified", "source": "type"})}),
        # No rule anywhere; a rule on an id no entry has changes nothing.
        ([entry(".a"), entry(".a.b")], ([".zz"], [], [], []),
         {".a": (None, None, ".a", None), ".a.b": (None, None, ".a.b", None)}),
        # Dendrify wins when a value is in both lists, even without normalisation.
        ([entry(".a")], ([".a"], [".a"], [], []), {".a": ("dendrified", "id", ".a", None)}),
        # A parent id that belongs to no entry: no parent record.
        ([entry(".x.y")], ([], [], [], []), {".x.y": (None, None, ".x.y", None)}),
    ],
)
def test_resolution_cases(cn, entries, lists, wanted):
    set_rules(*lists)
    resolved = cn.resolve_entry_modes(entries)
    assert list(resolved) == [e["id"] for e in entries]
    assert all(list(record) == RECORD_KEYS for record in resolved.values())
    for module_id, (eff, source, origin, overridden) in wanted.items():
        assert resolved[module_id] == {"eff": eff, "source": source, "origin_id": origin, "overridden": overridden}


def test_resolution_of_entries_out_of_order_and_odd_ids(cn):
    set_rules(ids_d=[".a", "q.a"], ids_t=[])
    entries = [entry(".a.b"), entry(".a"), entry(".a.c"), entry("q.a.z"), entry(".a.b.d"), entry(".a"),
               entry("w")]
    assert cn.resolve_entry_modes(entries) == ref_resolve(entries)


def test_resolution_reads_each_rule_list_once(cn, monkeypatch):
    pc = Recorder([], [], [], [])
    monkeypatch.setattr(GNV, "pc", pc)
    cn.resolve_entry_modes([entry(".a"), entry(".b"), entry(".b.c")])
    assert sorted(pc.calls) == sorted(f"get_{name}" for name in Recorder.NAMES)


def test_resolution_with_rule_values_that_are_not_plain_text(cn):
    class Loose(str):
        def __eq__(self, other):
            return str.__eq__(self.lower(), str(other).lower())

        __hash__ = str.__hash__

    set_rules(ids_d=[Loose(".A")], names_t=[("tuple",), "Linear"])
    resolved = cn.resolve_entry_modes([entry(".a"), entry(".b")])
    assert resolved[".a"]["eff"] == "dendrified" and resolved[".b"]["eff"] == "tracked"


def test_missing_keys_propagate(cn):
    with pytest.raises(KeyError):
        cn.resolve_entry_modes([{"type_name": "X"}])
    with pytest.raises(KeyError):
        cn.resolve_entry_modes([{"id": ".a"}])


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(random_models(), st.data())
def test_resolution_matches_rules_and_subtrees_share_a_mode(cn, fresh_config, drawn, data):
    model, replaced = drawn
    fresh_config.modules_to_replace = replaced
    entries = cn.get_module_entries(model)
    ids = [e["id"] for e in entries] + [".nope"]
    names = ["Linear", "ReLU", "Sequential", "Pair"]
    set_rules(*[data.draw(st.lists(st.sampled_from(pool), max_size=4)) for pool in (ids, ids, names, names)])
    if data.draw(st.booleans()):
        cn.normalize_selection_conflicts()
    resolved = cn.resolve_entry_modes(entries)
    assert resolved == ref_resolve(entries)
    for record_id, record in resolved.items():
        if record["eff"] is None:
            continue
        for below_id, below in resolved.items():
            if below_id.startswith(record_id + "."):
                assert below["eff"] == record["eff"] and below["source"] == "inherited"
    assert cn.build_budget_line(entries, resolved) == ref_budget(entries, resolved)


# ---------------------------------------------------------------------------
# Rule editing
# ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "start, module_id, mode, after",
    [
        (([".b"], [".a", ".c"]), ".a", "dendrified", ([".b", ".a"], [".c"])),  # moved over
        (([".a", ".b"], [".c"]), ".a", "dendrified", ([".b"], [".c"])),  # toggled off, track untouched
        (([".a", ".b", ".a"], []), ".a", "dendrified", ([".b"], [])),  # duplicates go in one toggle
        (([".a"], [".b"]), ".a", "tracked", ([], [".b", ".a"])),
        (([], [".a", ".a"]), ".a", "tracked", ([], [])),
        (([".a", ".a"], [".b"]), ".a", "other", ([".a"], [".b"])),  # only de-duplication
    ],
)
def test_set_module_id_mode(cn, start, module_id, mode, after):
    set_rules(*start)
    before = rules()
    assert cn.set_module_id_mode(module_id, mode) is None
    assert rules()[:2] == after
    assert before[:2] == tuple(map(list, start))  # the old lists were left alone


def test_set_module_name_mode_uses_the_type_lists(cn):
    set_rules(names_d=["ReLU"], names_t=["Linear"])
    cn.set_module_name_mode("Linear", "dendrified")
    assert rules() == ([], [], ["ReLU", "Linear"], [])
    cn.set_module_name_mode(module_type_name="Linear", mode="dendrified")
    assert rules() == ([], [], ["ReLU"], [])


def test_set_module_id_mode_writes_both_lists_in_order(cn, monkeypatch):
    pc = Recorder([], [], [], [])
    monkeypatch.setattr(GNV, "pc", pc)
    cn.set_module_id_mode(".a", "tracked")
    assert pc.calls == ["get_module_ids_to_dendrify", "get_module_ids_to_track", "set_module_ids_to_dendrify",
                        "set_module_ids_to_track"]


def test_clear_module_mode_messages(cn):
    set_rules(ids_d=[".a", ".b"], ids_t=[".a"], names_t=["Linear"])
    target = {"id": ".a", "type_name": "Linear"}
    assert cn.clear_module_mode(target) == "cleared .a"
    assert rules() == ([".b"], [], [], ["Linear"])
    assert cn.clear_module_mode(target) == "cleared the Linear type rule"
    assert rules() == ([".b"], [], [], [])
    assert cn.clear_module_mode(target) == "nothing to clear on this module"


def test_type_rule_entries(cn):
    entries = [
        {"type_name": "Linear", "in_replaced": False},
        {"type_name": "Linear", "in_replaced": True},
        {"type_name": "Attn", "in_replaced": False},  # a replaced root itself counts
        {"type_name": "ReLU", "in_replaced": False},
    ]
    set_rules(names_d=["Linear", "Attn", "Gone"], names_t=["ReLU", "Conv"])
    assert cn.type_rule_entries(entries) == [
        ("Attn", "dendrified", 1), ("Gone", "dendrified", 0), ("Linear", "dendrified", 1),
        ("Conv", "tracked", 0), ("ReLU", "tracked", 1),
    ]


def test_unset_module_entries(cn):
    def e(module_id, params, root=False, inside=False):
        return {"id": module_id, "direct_param_count": params, "is_replaced_root": root, "in_replaced": inside}

    entries = [e(".box", 0), e(".box.lin", 5), e(".done", 3), e(".root", 4, root=True), e(".root.x", 2, inside=True)]
    resolved = {".box": {"eff": None}, ".box.lin": {"eff": None}, ".done": {"eff": "tracked"}}
    got = cn.unset_module_entries(entries, resolved)
    assert got == [entries[1]] and got[0] is entries[1]
    with pytest.raises(KeyError):
        cn.unset_module_entries([e(".missing", 1)], resolved)


# ---------------------------------------------------------------------------
# Counts and the budget line
# ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "value, text",
    [(0, "0"), (999, "999"), (1000, "1K"), (1530, "1.5K"), (1050, "1.1K"), (1250, "1.2K"), (999949, "999.9K"),
     (999950, "1000K"), (999999, "1000K"), (1000000, "1M"), (2500000, "2.5M"), (999999999, "1000M"),
     (1000000000, "1B"), (1200000000, "1.2B"), (10**20, "100000000000B"), (-5000, "-5000")],
)
def test_format_human_count(cn, value, text):
    assert cn.format_human_count(value) == text == ref_human(value)


@pytest.mark.parametrize("value", [True, 1e3, 12.5, 2**70, 2**63 - 1, -(2**63), float("inf"), float("nan")])
def test_format_human_count_of_other_numbers(cn, value):
    assert cn.format_human_count(value) == ref_human(value)


@settings(max_examples=3000, deadline=None)
@given(st.one_of(st.integers(0, 10**13), st.integers(0, 10**7).map(lambda k: k * 50),
                 st.integers(0, 10**6).map(lambda k: k * 50000 + 25000), st.integers(-(2**63), 2**63 - 1)))
def test_format_human_count_rounds_like_the_interpreter(value):
    from neuvora import configure_neuvora as cn

    assert cn.format_human_count(value) == ref_human(value)


def test_budget_line_with_nothing_dendrified_and_without_parameters(cn):
    model = nn.Sequential(nn.Linear(2, 2), nn.ReLU())
    entries = cn.get_module_entries(model)
    line = cn.build_budget_line(entries, cn.resolve_entry_modes(entries))
    assert line == "Dendrification budget:  +0 params per dendrite cycle  \u00b7  model 6  (+0.0% / cycle)"
    entries = cn.get_module_entries(nn.Sequential(nn.ReLU()))
    line = cn.build_budget_line(entries, cn.resolve_entry_modes(entries))
    assert line.endswith("+0 params per dendrite cycle  \u00b7  model 0  (+0.0% / cycle)")


def test_budget_line_counts_own_parameters_and_whole_shares(cn):
    model = nn.Sequential(nn.Linear(2, 2), nn.Sequential(nn.Linear(1, 3)))  # 6 + 6
    set_rules(ids_d=[".1"])  # a container: its child adds through the inherited mode
    entries = cn.get_module_entries(model)
    assert cn.build_budget_line(entries, cn.resolve_entry_modes(entries)).endswith("(+50.0% / cycle)")


def test_budget_line_needs_a_record_per_entry(cn):
    entries = cn.get_module_entries(nn.Sequential(nn.Linear(1, 1)))
    with pytest.raises(KeyError):
        cn.build_budget_line(entries, {})


def test_budget_line_with_large_counts(cn):
    model = nn.Sequential(nn.Linear(50000, 50000, device="meta"), nn.Linear(40000, 1, device="meta"))
    set_rules(ids_d=[".1"])
    entries = cn.get_module_entries(model)
    resolved = cn.resolve_entry_modes(entries)
    assert cn.build_budget_line(entries, resolved) == ref_budget(entries, resolved)
    assert "model 2.5B" in cn.build_budget_line(entries, resolved)


@pytest.mark.parametrize(
    "name, params",
    [("get_module_entries", ["model"]), ("get_parent_module_id", ["module_id"]), ("dedupe_list", ["values"]),
     ("normalize_selection_conflicts", []), ("get_id_mode", ["module_id"]),
     ("get_name_mode", ["module_type_name"]), ("resolve_entry_modes", ["entries"]),
     ("set_module_id_mode", ["module_id", "mode"]), ("set_module_name_mode", ["module_type_name", "mode"]),
     ("clear_module_mode", ["entry"]), ("type_rule_entries", ["entries"]),
     ("unset_module_entries", ["entries", "resolved"]), ("format_human_count", ["value"]),
     ("build_budget_line", ["entries", "resolved"])],
)
def test_signatures(cn, name, params):
    function = getattr(cn, name)
    count = len(params)
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes exactly {count} positional arguments? \({count + 1} given\)$"):
        function(*range(count + 1))


def outcome(function, *args):
    """What a call returns, or the type and argument of what it raises."""
    try:
        return ("value", function(*args))
    except Exception as error:  # noqa: BLE001 - compared, not handled
        return ("raises", type(error), error.args)


def full_entry(module_id, **changes):
    entry = {"id": module_id, "name": module_id[1:], "type_name": "Linear", "module": nn.Linear(1, 1), "depth": 0,
             "direct_param_count": 2, "tree_param_count": 2, "is_replaced_root": False, "replaced_root": None,
             "in_replaced": False}
    entry.update(changes)
    return entry


def without(entry, *keys):
    return {key: value for key, value in entry.items() if key not in keys}


class Flag:
    """A truth value that is not a bool."""

    def __init__(self, value):
        self.value = value

    def __bool__(self):
        return self.value


class Fresh(Mapping):
    """An entry that hands out a new copy of each of its texts at every read."""

    def __init__(self, data):
        self.data = data

    def __getitem__(self, key):
        value = self.data[key]
        return "".join(list(value)) if isinstance(value, str) else value

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


# Entry lists the rules must read exactly as the interpreted definitions do:
# missing keys where a rule would (or would not) read them, values of other types.
ODD_ENTRIES = {
    "in_replaced_skips_the_rest": [full_entry(".a"), without(full_entry(".b", in_replaced=True), "is_replaced_root",
                                                             "direct_param_count")],
    "missing_count": [full_entry(".a"), without(full_entry(".b"), "direct_param_count")],
    "missing_type_name": [full_entry(".a"), without(full_entry(".a.b"), "type_name")],
    "missing_module": [without(full_entry(".a"), "module")],
    "missing_in_replaced": [without(full_entry(".a"), "in_replaced")],
    "other_truth_values": [full_entry(".a", in_replaced=Flag(False), is_replaced_root=0, direct_param_count=2.5),
                           full_entry(".b", in_replaced=Flag(True), replaced_root=".x")],
    "no_parameters_of_its_own": [full_entry(".a", direct_param_count=0), full_entry(".a.b", direct_param_count=-1)],
    "duplicate_ids": [full_entry(".a"), full_entry(".a.b"), full_entry(".a"), full_entry(".a.c")],
    "another_mapping": [Fresh(full_entry(".a")), Fresh(full_entry(".a.b", type_name="ReLU")),
                        Fresh(full_entry(".c", type_name="Conv")), Fresh(full_entry(".c.d", type_name="ReLU"))],
}


@pytest.mark.parametrize("entries", list(ODD_ENTRIES.values()), ids=list(ODD_ENTRIES))
def test_rules_read_entries_like_the_interpreter(cn, entries):
    import baseline

    set_rules(ids_d=[".a.b"], ids_t=[".a"], names_d=["Linear"], names_t=["ReLU"])
    resolved = outcome(cn.resolve_entry_modes, entries)
    assert resolved == outcome(baseline.resolve_entry_modes, entries)
    records = resolved[1] if resolved[0] == "value" else {e["id"]: {"eff": None} for e in entries if "id" in e}
    assert outcome(cn.unset_module_entries, entries, records) == outcome(baseline.unset_module_entries, entries, records)
    assert outcome(cn.type_rule_entries, entries) == outcome(baseline.type_rule_entries, entries)
    if all("module" in e for e in entries):
        assert outcome(cn.build_budget_line, entries, records) == outcome(baseline.build_budget_line, entries, records)
    records = {key: {"eff": None, "source": None, "origin_id": key, "overridden": None, **record}
               for key, record in records.items()}
    for visible in (entries, entries[::-1]):
        assert outcome(cn.render_targets_lines, entries, visible, 0, records, {}) == outcome(
            baseline.render_targets_lines, entries, visible, 0, records, {})


def test_rules_follow_changes_between_calls_on_the_same_list(cn):
    import baseline

    entries = cn.get_module_entries(nn.Sequential(nn.Linear(2, 2), nn.Sequential(nn.ReLU(), nn.Linear(1, 1))))
    for lists in [([".0"], [], [], []), ([], [".1"], ["Linear"], []), ([], [], [], ["Linear", "ReLU"])]:
        set_rules(*lists)
        resolved = cn.resolve_entry_modes(entries)
        assert resolved == baseline.resolve_entry_modes(entries)
        assert cn.unset_module_entries(entries, resolved) == baseline.unset_module_entries(entries, resolved)
        assert cn.type_rule_entries(entries) == baseline.type_rule_entries(entries)
        assert cn.build_budget_line(entries, resolved) == baseline.build_budget_line(entries, resolved)
    entries[1]["module"].weight = nn.Parameter(torch.zeros(40))  # the model changed between two calls
    entries.append(dict(entries[0], id=".extra"))
    resolved = cn.resolve_entry_modes(entries)
    assert resolved == baseline.resolve_entry_modes(entries)
    assert cn.build_budget_line(entries, resolved) == baseline.build_budget_line(entries, resolved)
