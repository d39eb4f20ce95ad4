"""The settings descriptions file: the record it gives, its caching, its
failure modes and the label / help-text lookups."""

from __future__ import annotations

import json
import types

import pytest
from hypothesis import given, strategies as st

RECORD_KEYS = ["buckets", "bucket_order", "settings", "setting_labels", "setting_to_bucket", "settings_by_bucket"]


@pytest.fixture
def descriptions(cn, monkeypatch, tmp_path):
    """Points the module at a fake location in tmp_path and empties the cache.

    Returns a writer that stores any value as JSON."""
    monkeypatch.setattr(cn, "__file__", str(tmp_path / "pkg" / "configure_neuvora.so"))
    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)
    (tmp_path / "pkg").mkdir()
    path = tmp_path / "pkg" / "configuration_descriptions.json"

    def write(content):
        path.write_text(json.dumps(content))
        return path

    write.path = path
    return write


def reference_label(value):
    if not isinstance(value, str):
        return "supporting"
    words = " ".join(value.split()).lower()
    return "impactful" if words in ("impactful", "impactful hyperparameters") else "supporting"


def test_constants_and_docstrings(cn):
    assert cn.DESCRIPTION_FILE_NAME == "configuration_descriptions.json"
    assert (cn.LABEL_IMPACTFUL, cn.LABEL_SUPPORTING) == ("impactful", "supporting")
    assert cn.load_description_data.__doc__ == "Load bucket and setting metadata from local JSON."
    assert cn._normalize_label.__doc__ == "Normalize a label to one of the two tiers: impactful / supporting."
    assert cn.get_setting_label.__doc__ == "Get the tier (impactful / supporting) for one setting."
    assert cn.get_setting_description.__doc__ == "Help text for one setting."
    assert cn.get_bucket_description.__doc__ is None


def test_missing_file_gives_empty_record_and_fallbacks(cn, descriptions):
    record = cn.load_description_data()
    assert list(record) == RECORD_KEYS
    assert all(not value for value in record.values())
    assert record["bucket_order"] == []
    assert cn.get_setting_description("lr") == "No description available for lr."
    assert cn.get_setting_description(7) == "No description available for 7."
    assert cn.get_setting_label("lr") == "supporting"
    assert cn.get_bucket_description("Anything") == "No description available."


def test_every_bucket_and_setting_shape(cn, descriptions):
    descriptions(
        {
            "version": 3,
            "buckets": {
                "A": {
                    "description": "Bucket A.",
                    "settings": {
                        "a1": {"description": "First.", "label": "  IMPACTFUL   Hyperparameters "},
                        "a2": "Second, as a string.",
                        "a3": 5,
                        "a4": {"description": "No label."},
                        "a5": {"label": "impactful"},
                        "a6": None,
                    },
                },
                "B": "Only a help text.",
                "C": 12,
                "D": {},
                "E": {"description": "Empty settings.", "settings": {}},
            },
        }
    )
    record = cn.load_description_data()
    assert list(record) == RECORD_KEYS
    assert record == {
        "buckets": {"A": "Bucket A.", "B": "Only a help text.", "D": "", "E": "Empty settings."},
        "bucket_order": ["A", "B", "C", "D", "E"],
        "settings": {"a1": "First.", "a2": "Second, as a string.", "a4": "No label.", "a5": ""},
        "setting_labels": {"a1": "impactful", "a2": "supporting", "a4": "supporting", "a5": "impactful"},
        "setting_to_bucket": {f"a{i}": "A" for i in range(1, 7)},
        "settings_by_bucket": {"A": ["a1", "a2", "a3", "a4", "a5", "a6"], "D": [], "E": []},
    }
    assert list(record["settings_by_bucket"]["A"]) == ["a1", "a2", "a3", "a4", "a5", "a6"]
    assert cn.get_setting_label("a1") == "impactful"
    assert cn.get_setting_label("a3") == "supporting"
    assert cn.get_setting_description("a3") == "No description available for a3."
    assert cn.get_setting_description("a5") == ""  # empty, not the fallback
    assert cn.get_bucket_description("D") == ""
    assert cn.get_bucket_description("C") == "No description available."
    assert cn.get_bucket_description("B") == "Only a help text."


def test_setting_listed_twice_takes_later_bucket(cn, descriptions):
    descriptions(
        {
            "buckets": {
                "First": {"settings": {"x": {"description": "one", "label": "impactful"}, "y": "why"}},
                "Second": {"settings": {"x": "two"}},
            }
        }
    )
    record = cn.load_description_data()
    assert record["settings_by_bucket"] == {"First": ["x", "y"], "Second": ["x"]}
    assert record["setting_to_bucket"] == {"x": "Second", "y": "First"}
    assert record["settings"]["x"] == "two"
    assert cn.get_setting_label("x") == "supporting"


def test_record_is_cached_until_reset(cn, descriptions):
    descriptions({"buckets": {"A": {"settings": {"a": "old"}}}})
    first = cn.load_description_data()
    descriptions({"buckets": {"B": {"settings": {"b": "new"}}}})
    assert cn.load_description_data() is first
    assert cn.DESCRIPTION_CACHE is first
    cn.DESCRIPTION_CACHE = None
    assert cn.load_description_data()["bucket_order"] == ["B"]


@pytest.mark.parametrize("text", ["{not json", "", '{"buckets": {"A": ', "\xff\xfe"])
def test_malformed_file_is_empty_and_cached_as_such(cn, descriptions, text):
    descriptions.path.write_bytes(text.encode("latin-1"))
    record = cn.load_description_data()
    assert all(not value for value in record.values())
    descriptions({"buckets": {"A": {"settings": {"a": "now valid"}}}})
    assert cn.load_description_data() is record


def test_directory_in_place_of_file_counts_as_empty(cn, descriptions):
    descriptions.path.mkdir()
    assert cn.load_description_data()["bucket_order"] == []


def python_attribute_error(obj, name):
    try:
        getattr(obj, name)
    except AttributeError as error:
        return str(error)
    raise AssertionError("no error")


@pytest.mark.parametrize(
    "content, culprit, attribute",
    [
        ([], [], "get"),
        (None, None, "get"),
        ("text", "text", "get"),
        ({"buckets": None}, None, "items"),
        ({"buckets": [1, 2]}, [], "items"),
        ({"buckets": {"A": {"settings": None}}}, None, "items"),
        ({"buckets": {"A": {"settings": ["x"]}}}, [], "items"),
        ({"buckets": {"A": {"settings": "x"}}}, "x", "items"),
    ],
)
def test_wrong_shape_raises_attribute_error_and_caches_nothing(cn, descriptions, content, culprit, attribute):
    descriptions(content)
    with pytest.raises(AttributeError) as caught:
        cn.load_description_data()
    assert str(caught.value) == python_attribute_error(culprit, attribute)
    assert cn.DESCRIPTION_CACHE is None
    descriptions({"buckets": {}})
    assert cn.load_description_data()["bucket_order"] == []


def test_reads_through_module_open_and_json(cn, descriptions, monkeypatch):
    descriptions({"buckets": {"A": "from disk"}})
    opened = []
    real_open = open

    def fake_open(*args, **kwargs):
        opened.append((args, kwargs))
        handle = real_open(*args, **kwargs)
        opened.append(handle)
        return handle

    monkeypatch.setattr(cn, "open", fake_open, raising=False)
    monkeypatch.setattr(cn, "json", types.SimpleNamespace(load=lambda handle: {"buckets": {"Z": json.load(handle)["buckets"]["A"]}}))
    record = cn.load_description_data()
    assert opened[0] == ((str(descriptions.path), "r"), {})
    assert opened[1].closed
    assert record["buckets"] == {"Z": "from disk"}


def test_parse_interrupt_propagates_and_closes(cn, descriptions, monkeypatch):
    descriptions({"buckets": {}})

    def interrupted(handle):
        interrupted.handle = handle
        raise KeyboardInterrupt

    monkeypatch.setattr(cn, "json", types.SimpleNamespace(load=interrupted))
    with pytest.raises(KeyboardInterrupt):
        cn.load_description_data()
    assert interrupted.handle.closed
    assert cn.DESCRIPTION_CACHE is None


def test_lookups_go_through_module_loader(cn, monkeypatch):
    record = {
        "buckets": {"B": "bee"},
        "bucket_order": ["B"],
        "settings": {"s": "ess"},
        "setting_labels": {"s": " Impactful "},
        "setting_to_bucket": {"s": "B"},
        "settings_by_bucket": {"B": ["s"]},
    }
    monkeypatch.setattr(cn, "load_description_data", lambda: record)
    assert cn.get_setting_label("s") == "impactful"
    assert cn.get_setting_description(setting_name="s") == "ess"
    assert cn.get_bucket_description(bucket_name="B") == "bee"


@pytest.mark.parametrize(
    "label",
    [
        "impactful",
        "Impactful",
        "  IMPACTFUL\t",
        "impactful hyperparameters",
        "Impactful   Hyperparameters",
        "impactful\n\thyperparameters ",
        "impactful\u3000hyperparameters",
        "\x1cimpactful\x85",
        "impactful settings",
        "impactfulhyperparameters",
        "high",
        "",
        "   ",
        "\u0130mpactful",
        "impactful hyperparameters hyperparameters",
        None,
        1,
        ["impactful"],
        b"impactful",
    ],
)
def test_normalize_label(cn, label):
    assert cn._normalize_label(label) == reference_label(label)
    assert cn._normalize_label(label_text=label) == reference_label(label)


@given(st.text(alphabet=st.sampled_from(list("impactfulhyerIMPACTFULHYER \t\n\u3000\u2028\u0130\u212a")), max_size=30))
def test_normalize_label_matches_interpreter(label):
    from neuvora import configure_neuvora as cn

    assert cn._normalize_label(label) == reference_label(label)


def test_every_separator_the_interpreter_splits_on(cn):
    # White space is told apart by the configurator itself: it must be the interpreter's, code point by code point.
    for code in range(0x3001):
        for label in ("impactful" + chr(code) + "hyperparameters", chr(code) + "Impactful" + chr(code)):
            assert cn._normalize_label(label) == reference_label(label), hex(code)


def test_shipped_file_lists_real_settings_of_every_kind(cn, monkeypatch):
    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)
    record = cn.load_description_data()
    names = [name for bucket in record["bucket_order"] for name in record["settings_by_bucket"].get(bucket, [])]
    assert {"switch_mode", "nvx_forward_function"} <= set(names)
    values = [cn.get_global_setting_value(name) for name in names if name != "config_file"]
    assert "<unavailable>" not in values
    kinds = {type(value) for value in values}
    assert {bool, int, float, list, str} <= kinds
    assert any(cn.get_setting_label(name) == "impactful" for name in names)
    assert any(cn.get_setting_label(name) == "supporting" for name in names)
