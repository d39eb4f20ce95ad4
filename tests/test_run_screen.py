"""The Run settings screen: its run items and its exact lines."""

from __future__ import annotations

import json

import pytest
import torch

from neuvora import globals_neuvora as GNV
from screens import plain, styled

KEY_HINTS = "→ expand · ← collapse   Enter edit   h describe   ↑↓/jk move   Tab switch panel   s start"


class Config:
    DOING_SWITCH_EVERY_TIME = "every"
    DOING_HISTORY = "history"
    DOING_FIXED_SWITCH = "fixed"
    DOING_NO_SWITCH = "none"

    def __init__(self):
        self.values = {"a": True, "b": 3, "c": "text", "d": 0.5, "e": [1, 2], "f": False, "g": "g-value",
                       "switch_mode": "fixed", "nvx_forward_function": torch.tanh}
        self.reads = []

    def __getattr__(self, name):
        if name.startswith("get_") and name[4:] in self.values:
            def getter():
                self.reads.append(name[4:])
                return self.values[name[4:]]
            return getter
        if name == "get_broken":
            def broken():
                raise RuntimeError("cannot read")
            return broken
        raise AttributeError(name)


@pytest.fixture
def config(monkeypatch):
    pc = Config()
    monkeypatch.setattr(GNV, "pc", pc)
    return pc


@pytest.fixture
def descriptions(cn, monkeypatch, tmp_path):
    monkeypatch.setattr(cn, "__file__", str(tmp_path / "configure_neuvora.so"))
    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)
    buckets = {
        "Mixed": {"settings": {
            "a": {"description": "Flag a.", "label": "supporting"},
            "b": {"label": "Impactful"},
            "c": "Text c.",
            "d": {"label": "impactful hyperparameters"},
        }},
        "AllImpactful": {"settings": {"switch_mode": {"label": "impactful"}, "nvx_forward_function": {"label": "impactful"}}},
        "OnlyConfig": {"settings": {"config_file": "runtime only"}},
        "Text": "a bucket with only a help text",
        "Empty": {"settings": {}},
        "Support": {"settings": {"e": 7, "config_file": "runtime only", "broken": "unreadable"}},
    }
    (tmp_path / "configuration_descriptions.json").write_text(json.dumps({"buckets": buckets}))


def bucket(name, count, expanded=False):
    return {"type": "bucket", "bucket": name, "is_expanded": expanded, "count": count}


def setting(bucket_name, name, value):
    return {"type": "setting", "bucket": bucket_name, "name": name, "value": value}


def divider(bucket_name):
    return {"type": "divider", "bucket": bucket_name}


def test_docstrings(cn):
    assert cn.build_run_items.__doc__ == "Build the Run settings list: bucket rows, tier-sorted settings, dividers."
    assert cn.render_run_settings_lines.__doc__ == "Header + item body + footer for the Run settings screen."


def test_collapsed_buckets_only(cn, config, descriptions):
    items = cn.build_run_items({})
    assert items == [bucket("Mixed", 4), bucket("AllImpactful", 2), bucket("Support", 2)]
    assert [list(item) for item in items] == [["type", "bucket", "is_expanded", "count"]] * 3
    # Every setting is still read once, collapsed buckets included, config_file never.
    assert sorted(config.reads) == sorted(["a", "b", "c", "d", "switch_mode", "nvx_forward_function", "e"])


def test_expanded_buckets_sort_by_tier(cn, config, descriptions):
    items = cn.build_run_items({"Mixed": 1, "AllImpactful": True, "Support": "yes", "Unknown": True})
    assert items == [
        bucket("Mixed", 4, 1),
        setting("Mixed", "b", 3),
        setting("Mixed", "d", 0.5),
        divider("Mixed"),
        setting("Mixed", "a", True),
        setting("Mixed", "c", "text"),
        bucket("AllImpactful", 2, True),
        setting("AllImpactful", "switch_mode", "fixed"),
        setting("AllImpactful", "nvx_forward_function", torch.tanh),
        bucket("Support", 2, "yes"),
        setting("Support", "e", [1, 2]),
        setting("Support", "broken", "<unavailable>"),
    ]
    assert items[0]["is_expanded"] == 1 and type(items[0]["is_expanded"]) is int
    assert list(items[1]) == ["type", "bucket", "name", "value"]
    assert list(items[3]) == ["type", "bucket"]


def test_values_read_once_through_module(cn, config, descriptions, monkeypatch):
    calls = []

    def values():
        calls.append(1)
        return {"b": "B"}

    monkeypatch.setattr(cn, "get_all_global_parameters", values)
    items = cn.build_run_items({"Mixed": True})
    assert len(calls) == 1
    assert [item.get("value") for item in items[1:6]] == ["B", "<unavailable>", None, "<unavailable>", "<unavailable>"]


def test_empty_record_gives_empty_screen(cn, config, monkeypatch, tmp_path):
    monkeypatch.setattr(cn, "__file__", str(tmp_path / "configure_neuvora.so"))
    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)
    assert cn.build_run_items({}) == []
    header, body, footer, selected = cn.render_run_settings_lines([], 0, "")
    assert len(header) == 4 and body == [] and len(footer) == 2 and selected == (0, 1)


def test_rendered_lines(cn, config, descriptions, snapshot):
    items = cn.build_run_items({"Mixed": True, "AllImpactful": True, "Support": True})
    header, body, footer, selected = cn.render_run_settings_lines(items, 1, None)
    assert styled(header + ["…"] + body + ["…"] + footer) == snapshot
    assert header[0] == cn.render_tab_bar("run")
    assert plain(footer[1]) == KEY_HINTS
    assert selected == (1, 2)


def test_pointer_rows(cn, config, descriptions):
    items = cn.build_run_items({"Mixed": True})
    pointer = "⟨#E8EEEC⟩> ⟨/⟩"
    _, body, _, _ = cn.render_run_settings_lines(items, 0, "")
    assert styled(body[0]) == pointer + "⟨#D9A441⟩▾⟨/⟩ Mixed ⟨dim⟩(4)⟨/⟩"
    assert styled(body[-1]) == "  ⟨#D9A441⟩▸⟨/⟩ Support ⟨dim⟩(2)⟨/⟩"
    # A selected divider has no pointer; an index outside the list marks nothing.
    _, on_divider, _, selected = cn.render_run_settings_lines(items, 3, "")
    assert styled(on_divider[3]) == "     ⟨dim⟩─ rarely changed ─⟨/⟩"
    assert pointer not in styled(on_divider) and selected == (3, 4)
    _, outside, _, selected = cn.render_run_settings_lines(items, 99, "")
    assert pointer not in styled(outside) and selected == (99, 100)
    _, negative, _, _ = cn.render_run_settings_lines(items, -1, "")
    assert pointer not in styled(negative)


@pytest.mark.parametrize(
    "name, expected",
    [
        ("c", "c — Text c."),
        ("a", "a — Flag a."),
        ("b", "b — "),
        ("nope", "nope — No description available for nope."),
    ],
)
def test_describe_line(cn, config, descriptions, name, expected):
    _, _, footer, _ = cn.render_run_settings_lines(items=[], selected_index=0, describe_name=name)
    assert styled(footer) == "  " + "─" * 70 + "\n⟨dim⟩" + expected + "⟨/⟩"


def test_unknown_type_is_drawn_as_setting(cn, config):
    items = [{"type": "other", "name": "x", "value": 5}, {"type": "setting", "name": "y", "value": "z" * 150}]
    _, body, _, _ = cn.render_run_settings_lines(items, 5, "")
    assert body == ["    x = 5", "    y = " + "z" * 137 + "..."]


def test_shipped_settings_render_every_kind(cn, monkeypatch):
    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)
    record = cn.load_description_data()
    items = cn.build_run_items({name: True for name in record["bucket_order"]})
    _, body, _, _ = cn.render_run_settings_lines(items, 0, "")
    text = plain(body)
    assert "(Enter cycles)" in text and "(Enter toggles)" in text
    assert "switch_mode = DOING_HISTORY" in text and "nvx_forward_function = sigmoid" in text
    assert "config_file" not in text and "<unavailable>" not in text
    assert "rarely changed" in text


# -- against the interpreted baseline ------------------------------------------------


EXPANSIONS = [{}, {"Mixed": True}, {"Mixed": 1, "AllImpactful": "yes", "Support": True}, {"Mixed": 0, "Support": []}]


@pytest.mark.parametrize("expanded", EXPANSIONS)
@pytest.mark.parametrize("selected", [0, 2, 3, 7, -1])
def test_rows_and_lines_are_the_baselines(cn, config, descriptions, expanded, selected):
    import baseline

    items = cn.build_run_items(expanded)
    reference = baseline.build_run_items(cn.load_description_data(), expanded)
    assert items == reference
    assert [list(item) for item in items] == [list(item) for item in reference]
    assert cn.render_run_settings_lines(items, selected, "") == baseline.render_run_settings_lines(
        reference, selected, ""
    )


def test_shipped_settings_are_the_baselines(cn, monkeypatch):
    import baseline

    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)
    record = cn.load_description_data()
    expanded = {name: True for name in record["bucket_order"]}
    items = cn.build_run_items(expanded)
    assert items == baseline.build_run_items(record, expanded)
    for selected in range(len(items)):
        assert cn.render_run_settings_lines(items, selected, "") == baseline.render_run_settings_lines(
            items, selected, ""
        )


ROWS = [
    {"type": "bucket", "bucket": "B", "is_expanded": True, "count": 2},
    {"type": "setting", "bucket": "B", "name": "dendrite_count", "value": 3},
]


@pytest.mark.parametrize("selected, pointed", [(1.0, 1), (True, 1), (0, 0), (2, None)])
def test_selected_index_compared_as_the_interpreter_does(cn, selected, pointed):
    _, body, _, focus = cn.render_run_settings_lines(ROWS, selected, "")
    assert [line.startswith("\x1b[38;2;232;238;236m> ") for line in body] == [i == pointed for i in range(2)]
    assert focus == (selected, selected + 1) and type(focus[0]) is type(selected)


@pytest.mark.parametrize(
    "items, selected, describe, error",
    [
        (ROWS, None, "", TypeError),  # the range is computed last
        ([{"bucket": "B"}], 0, object(), KeyError),  # rows before the description
        ([{"type": "bucket", "bucket": "B", "is_expanded": 0}], 0, "", KeyError),
    ],
)
def test_malformed_rows_fail_as_the_interpreter_would(cn, items, selected, describe, error):
    with pytest.raises(error):
        cn.render_run_settings_lines(items, selected, describe)


def test_rows_of_any_iterable_and_names_that_are_not_text(cn):
    _, body, footer, _ = cn.render_run_settings_lines(iter(ROWS), 0, 5)
    assert plain(body) == "> ▾ B (2)\n    dendrite_count = 3"
    assert plain(footer[1]) == "5 — No description available for 5."
    _, body, _, _ = cn.render_run_settings_lines([{"type": "setting", "name": 5, "value": None}], 1, "")
    assert body == ["    5 = None"]
