"""Reading, showing, cycling, writing and parsing run setting values."""

from __future__ import annotations

import json
import math

import pytest
import torch
from hypothesis import given, strategies as st

from neuvora import globals_neuvora as GNV


class Plain:
    """A configuration object with a getter/setter pair, plain attributes and
    methods, and the four switch-mode values."""

    DOING_SWITCH_EVERY_TIME = 10
    DOING_HISTORY = 11
    DOING_FIXED_SWITCH = 12
    DOING_NO_SWITCH = 13

    def __init__(self):
        self._rate = 0.5
        self.width = 3
        self.set_calls = []

    def get_rate(self):
        return self._rate

    def set_rate(self, value):
        self.set_calls.append(value)
        self._rate = value

    def get_broken(self):
        raise KeyError("broken")

    def get_stop(self):
        raise KeyboardInterrupt

    def set_refused(self, value):
        raise ValueError(f"refused {value}")

    def method_setting(self):
        return "a method"


@pytest.fixture
def plain(monkeypatch):
    config = Plain()
    monkeypatch.setattr(GNV, "pc", config)
    return config


@pytest.fixture
def descriptions(cn, monkeypatch, tmp_path):
    monkeypatch.setattr(cn, "__file__", str(tmp_path / "configure_neuvora.so"))
    monkeypatch.setattr(cn, "DESCRIPTION_CACHE", None)

    def write(content):
        (tmp_path / "configuration_descriptions.json").write_text(json.dumps(content))

    return write


def test_constants(cn):
    assert cn.RUNTIME_ONLY_CONFIG_KEYS == {"config_file"}
    assert cn.SWITCH_MODE_NAMES == ["DOING_SWITCH_EVERY_TIME", "DOING_HISTORY", "DOING_FIXED_SWITCH", "DOING_NO_SWITCH"]
    assert cn.FORWARD_FUNCTION_NAMES == ["relu", "tanh", "sigmoid"]
    assert cn._switch_mode_values.__doc__ is None
    assert cn.parse_value_from_text.__doc__ == "Parse user text into the same type as a sample value where possible."


@pytest.mark.parametrize(
    "name, expected",
    [
        ("rate", 0.5),  # getter
        ("width", 3),  # plain attribute, no getter
        ("broken", "<unavailable>"),  # getter raises
        ("method_setting", "<unavailable>"),  # callable attribute, no getter
        ("missing", "<unavailable>"),
    ],
)
def test_get_global_setting_value(cn, plain, name, expected):
    assert cn.get_global_setting_value(name) == expected


def test_getter_interrupt_propagates(cn, plain):
    with pytest.raises(KeyboardInterrupt):
        cn.get_global_setting_value("stop")


@pytest.mark.parametrize(
    "name, value, expected, written",
    [
        ("rate", 0.25, (True, ""), ("_rate", 0.25)),
        ("width", 9, (True, ""), ("width", 9)),
        ("method_setting", 1, (False, "Setting method_setting is not editable."), None),
        ("missing", 1, (False, "Setting missing is not editable."), None),
    ],
)
def test_apply_setting_value(cn, plain, name, value, expected, written):
    result = cn.apply_setting_value(name, value)
    assert result == expected and type(result) is tuple
    if written:
        assert getattr(plain, written[0]) == written[1]
    assert not hasattr(plain, "missing")


def test_setter_error_propagates(cn, plain):
    with pytest.raises(ValueError, match="refused 3"):
        cn.apply_setting_value("refused", 3)


def test_all_parameters_follow_file_order_without_runtime_keys(cn, plain, descriptions, monkeypatch):
    descriptions(
        {
            "buckets": {
                "B": {"settings": {"width": "w", "config_file": "never read", "rate": "r"}},
                "Text": "no settings",
                "A": {"settings": {"missing": 1, "width": "again"}},
            }
        }
    )
    reads = []

    def read(name):
        reads.append(name)
        return name.upper()

    monkeypatch.setattr(cn, "get_global_setting_value", read)
    result = cn.get_all_global_parameters()
    assert list(result.items()) == [("width", "WIDTH"), ("rate", "RATE"), ("missing", "MISSING")]
    assert reads == ["width", "rate", "missing", "width"]


@pytest.mark.parametrize(
    "value, expected",
    [
        (None, "None"),
        (True, "True"),
        (3, "3"),
        (1e-4, "0.0001"),
        ([8, 16], "[8, 16]"),
        ("x" * 140, "x" * 140),
        ("x" * 141, "x" * 137 + "..."),
        ("é" * 200, "é" * 137 + "..."),
        (list(range(100)), str(list(range(100)))[:137] + "..."),
        ("", ""),
    ],
)
def test_format_setting_value(cn, value, expected):
    assert cn.format_setting_value(value) == expected


def test_format_callables_through_package_repr(cn, monkeypatch):
    seen = []
    monkeypatch.setattr(GNV, "callable_config_repr", lambda value: seen.append(value) or "r" * 150)
    assert cn.format_setting_value(torch.relu) == "r" * 137 + "..."
    assert cn.format_setting_value(Plain) == "r" * 137 + "..."
    assert seen == [torch.relu, Plain]


def test_format_callable_repr_error_propagates(cn, monkeypatch):
    def broken(value):
        raise RuntimeError("no repr")

    monkeypatch.setattr(GNV, "callable_config_repr", broken)
    with pytest.raises(RuntimeError, match="no repr"):
        cn.format_setting_value(len)


def test_format_run_setting_value(cn, plain):
    assert [cn.format_run_setting_value("switch_mode", v) for v in (10, 11, 12, 13)] == cn.SWITCH_MODE_NAMES
    assert cn.format_run_setting_value("switch_mode", 12.0) == "DOING_FIXED_SWITCH"
    assert cn.format_run_setting_value("switch_mode", "y" * 200) == "y" * 200  # not shortened
    assert cn.format_run_setting_value("switch_mode", 99) == "99"
    assert cn.format_run_setting_value("nvx_forward_function", torch.tanh) == "tanh"
    assert cn.format_run_setting_value("nvx_forward_function", "sigmoid") == "sigmoid"
    assert cn.format_run_setting_value("nvx_forward_function", torch.exp) == GNV.callable_config_repr(torch.exp)
    assert cn.format_run_setting_value("other", torch.tanh) == GNV.callable_config_repr(torch.tanh)
    assert cn.format_run_setting_value(setting_name="other", value="z" * 141) == "z" * 137 + "..."


def test_enum_options_are_fresh_lists(cn, plain):
    assert cn.get_enum_options("switch_mode") == [10, 11, 12, 13]
    options = cn.get_enum_options("nvx_forward_function")
    options.append("gelu")
    assert cn.get_enum_options("nvx_forward_function") == ["relu", "tanh", "sigmoid"]
    assert cn.FORWARD_FUNCTION_NAMES == ["relu", "tanh", "sigmoid"]
    assert cn.get_enum_options("save_name") is None
    plain.DOING_HISTORY = 42
    assert cn._switch_mode_values() == [10, 42, 12, 13]


@pytest.mark.parametrize(
    "current, expected",
    [
        (torch.relu, torch.tanh),
        (torch.tanh, torch.sigmoid),
        (torch.sigmoid, torch.relu),
        (torch.exp, torch.relu),
        ("tanh", torch.relu),  # a bare name has no __name__
        (None, torch.relu),
    ],
)
def test_cycle_forward_function(cn, current, expected):
    assert cn.cycle_enum_setting("nvx_forward_function", current) == (True, "")
    assert GNV.pc.get_nvx_forward_function() is expected


def test_cycle_forward_function_without_torch(cn, monkeypatch):
    monkeypatch.setattr(cn, "torch", None)
    assert cn.cycle_enum_setting("nvx_forward_function", torch.sigmoid) == (True, "")
    assert GNV.pc._nvx_forward_function == "relu"
    assert cn.cycle_enum_setting("nvx_forward_function", torch.relu) == (True, "")
    assert GNV.pc._nvx_forward_function == "tanh"


@pytest.mark.parametrize("current, expected", [(13, 10), (10, 11), (11, 12), (12, 13), ("other", 10)])
def test_cycle_switch_mode(cn, plain, current, expected):
    applied = []
    plain.set_switch_mode = applied.append  # the configuration object's setter
    assert cn.cycle_enum_setting(setting_name="switch_mode", current_value=current) == (True, "")
    assert applied == [expected]


def test_cycle_real_switch_mode(cn):
    pc = GNV.pc
    pc.set_switch_mode(pc.DOING_NO_SWITCH)
    assert cn.cycle_enum_setting("switch_mode", pc.get_switch_mode()) == (True, "")
    assert pc.get_switch_mode() == pc.DOING_SWITCH_EVERY_TIME


def test_cycle_other_setting_refused(cn):
    before = GNV.pc.get_dendrite_count()
    assert cn.cycle_enum_setting("dendrite_count", before) == (False, "dendrite_count is not an enum setting.")
    assert GNV.pc.get_dendrite_count() == before


@pytest.mark.parametrize(
    "text, expected",
    [(w, True) for w in ("1", "true", "t", "yes", "y", "on", " Yes ", "TRUE", "\tOn\n")]
    + [(w, False) for w in ("0", "false", "f", "no", "n", "off", "OFF", " No ")],
)
def test_parse_boolean(cn, text, expected):
    assert cn.parse_value_from_text(text, False) is expected
    assert cn.parse_value_from_text(text=text, sample_value=True) is expected


@pytest.mark.parametrize("text", ["maybe", "", "2", "yes please", "ye s", "tru"])
def test_parse_boolean_refused(cn, text):
    with pytest.raises(ValueError) as caught:
        cn.parse_value_from_text(text, True)
    assert str(caught.value) == "Expected boolean value (true/false)."


def python_parse(text, sample):
    if isinstance(sample, bool):
        raise AssertionError
    if isinstance(sample, int):
        return int(text.strip())
    if isinstance(sample, float):
        return float(text.strip())
    return text


def outcome(call):
    try:
        value = call()
    except ValueError as error:
        return ("error", str(error))
    return ("value", type(value), "nan" if isinstance(value, float) and math.isnan(value) else value)


NUMBER_TEXTS = [
    "42", " 42 ", "-7", "+7", "1_000", "1__000", "_1", "1_", "0", "00", "007", "-0", "4.5", "1e3", "1E-3",
    "inf", "-Infinity", "nan", "NaN", "+nan", " 3 ", "3", "", "   ", "abc", "0x1F", "٣", "１２", "1 2",
    ".5", "5.", "1_0.5_0", "1e1_0", "infinity", "in f", "\u20033\u2003", "--1", "0b1", "1j", "9" * 50,
]


@pytest.mark.parametrize("text", NUMBER_TEXTS)
@pytest.mark.parametrize("sample", [5, 2.5])
def test_parse_numbers_like_interpreter(cn, text, sample):
    assert outcome(lambda: cn.parse_value_from_text(text, sample)) == outcome(lambda: python_parse(text, sample))


def test_parse_number_subclasses(cn):
    class Count(int):
        pass

    class Rate(float):
        pass

    assert cn.parse_value_from_text("12", Count(1)) == 12
    assert cn.parse_value_from_text("1.5", Rate(1)) == 1.5


@given(st.text(alphabet=st.sampled_from(list("0123456789_+-.eEinfatyINFATY \t\u00a0٣")), max_size=12))
def test_parse_numbers_match_interpreter_fuzzed(text):
    from neuvora import configure_neuvora as cn

    for sample in (1, 1.0):
        assert outcome(lambda: cn.parse_value_from_text(text, sample)) == outcome(lambda: python_parse(text, sample))


@pytest.mark.parametrize("sample", ["text", None, [1, 2], {"a": 1}, torch.relu])
def test_parse_other_samples_return_text_unchanged(cn, sample):
    text = "  spaced out  "
    assert cn.parse_value_from_text(text, sample) is text
