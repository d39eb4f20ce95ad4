"""Type stubs for the native configurator module ``neuvora.configure_neuvora``.

Names that begin with "_" and are declared as TypedDicts, type aliases or type
variables exist only for type checkers; every other name is a live attribute of
the built module.
"""

import os as _os
import types
from collections.abc import Iterable, Sequence
from re import Pattern
from typing import Any, Literal, TypeAlias, TypedDict, TypeVar

from torch.nn import Module as _TorchModule

_T = TypeVar("_T")

# ---------------------------------------------------------------------------
# Shared shapes
# ---------------------------------------------------------------------------

_Mode: TypeAlias = Literal["dendrified", "tracked"]

class _ModuleEntry(TypedDict):
    """One submodule of the model, as built by `get_module_entries`."""

    id: str
    name: str
    type_name: str
    module: _TorchModule
    depth: int
    direct_param_count: int
    tree_param_count: int
    is_replaced_root: bool
    replaced_root: str | None
    in_replaced: bool

class _OverriddenRule(TypedDict):
    mode: _Mode
    source: Literal["id", "type"]

class _ResolvedRecord(TypedDict):
    """The effective mode of one module and where it came from."""

    eff: _Mode | None
    source: Literal["inherited", "id", "type"] | None
    origin_id: str
    overridden: _OverriddenRule | None

_Resolved: TypeAlias = dict[str, _ResolvedRecord]
_TypeRule: TypeAlias = tuple[str, _Mode, int]

class _DescriptionRecord(TypedDict):
    """The setting metadata read from the settings descriptions file."""

    buckets: dict[str, str]
    bucket_order: list[str]
    settings: dict[str, str]
    setting_labels: dict[str, str]
    setting_to_bucket: dict[str, str]
    settings_by_bucket: dict[str, list[str]]

class _BucketRow(TypedDict):
    type: Literal["bucket"]
    bucket: str
    is_expanded: Any
    count: int

class _SettingRow(TypedDict):
    type: Literal["setting"]
    bucket: str
    name: str
    value: Any

class _DividerRow(TypedDict):
    type: Literal["divider"]
    bucket: str

_RunItem: TypeAlias = _BucketRow | _SettingRow | _DividerRow

class _OverrideScope(TypedDict):
    kind: Literal["id", "type"]
    scope_key: str

# Setting name -> value, for one scope key.
_ScopeValues: TypeAlias = dict[str, Any]
# Scope key (a module id or a class name) -> its values.
_ModuleSettings: TypeAlias = dict[str, dict[str, Any]]

class _ScalarEditorState(TypedDict):
    kind: Literal["scalar"]
    setting_name: str
    sample_value: int | float
    input_buffer: str
    cursor_index: int
    scope_key: str | None

class _ListEditorState(TypedDict):
    kind: Literal["list"]
    setting_name: str
    values: list[Any]
    selected_index: int
    sample_type: Any
    typing_active: bool
    edit_index: int | None
    input_buffer: str
    cursor_index: int
    scope_key: str | None

_EditorState: TypeAlias = _ScalarEditorState | _ListEditorState

# Header lines, body lines, footer lines and the body range to keep in view.
_ScreenParts: TypeAlias = tuple[list[str], list[str], list[str], tuple[int, int]]

# ---------------------------------------------------------------------------
# Module globals (read at the time of use; callers may replace them)
# ---------------------------------------------------------------------------


sys: types.ModuleType
shutil: types.ModuleType
json: types.ModuleType
os: types.ModuleType
select: types.ModuleType
re: types.ModuleType
termios: types.ModuleType | None
tty: types.ModuleType | None
GNV: types.ModuleType
torch: types.ModuleType | None

# ---------------------------------------------------------------------------
# Constants
# ---------------------------------------------------------------------------

COLOR_DENDRIFY: str
COLOR_TRACK: str
COLOR_ATTENTION: str
COLOR_ACCENT: str
HR: str
ANSI_ESCAPE_RE: Pattern[str]

DESCRIPTION_FILE_NAME: str
DESCRIPTION_CACHE: _DescriptionRecord | None
LABEL_IMPACTFUL: str
LABEL_SUPPORTING: str

RUNTIME_ONLY_CONFIG_KEYS: set[str]
SWITCH_MODE_NAMES: list[str]
FORWARD_FUNCTION_NAMES: list[str]

CUSTOMIZABLE_SETTING_NAMES: list[str]

MODE_VERB: dict[str, str]

# ---------------------------------------------------------------------------
# Session entry
# ---------------------------------------------------------------------------

def set_dendrification_targets(model: _TorchModule) -> None: ...
def _move(index: int, delta: int, length: int) -> int: ...

# ---------------------------------------------------------------------------
# Inline value editors
# ---------------------------------------------------------------------------

def _new_scalar_editor(setting_name: str, value: int | float, scope_key: str | None) -> _ScalarEditorState: ...
def _new_list_editor(setting_name: str, value: Iterable[Any], scope_key: str | None) -> _ListEditorState: ...
def _render_editor_frame(state: _EditorState) -> None: ...
def _format_list_editor_line(state: _ListEditorState) -> str: ...
def _persist_edited_value(state: _EditorState, module_settings_overrides: _ModuleSettings, value: Any) -> str: ...
def _handle_scalar_editor(
    state: _ScalarEditorState, key: str, module_settings_overrides: _ModuleSettings
) -> tuple[bool, str]: ...
def _handle_list_editor(
    state: _ListEditorState, key: str, module_settings_overrides: _ModuleSettings
) -> tuple[bool, str]: ...

# ---------------------------------------------------------------------------
# Target model
# ---------------------------------------------------------------------------

def get_module_entries(model: _TorchModule) -> list[_ModuleEntry]: ...
def get_parent_module_id(module_id: str) -> str | None: ...
def dedupe_list(values: Iterable[_T]) -> list[_T]: ...
def normalize_selection_conflicts() -> None: ...
def get_id_mode(module_id: str) -> _Mode | None: ...
def get_name_mode(module_type_name: str) -> _Mode | None: ...
def resolve_entry_modes(entries: list[_ModuleEntry]) -> _Resolved: ...
def set_module_id_mode(module_id: str, mode: str) -> None: ...
def set_module_name_mode(module_type_name: str, mode: str) -> None: ...
def clear_module_mode(entry: _ModuleEntry) -> str: ...
def type_rule_entries(entries: list[_ModuleEntry]) -> list[_TypeRule]: ...
def unset_module_entries(entries: list[_ModuleEntry], resolved: _Resolved) -> list[_ModuleEntry]: ...
def format_human_count(value: int) -> str: ...
def build_budget_line(entries: list[_ModuleEntry], resolved: _Resolved) -> str: ...

# ---------------------------------------------------------------------------
# The target plan (neuvora.plan)
# ---------------------------------------------------------------------------

# An opaque handle of one plan.
_PlanHandle: TypeAlias = object
_PlanFacts: TypeAlias = tuple[
    list[str],
    list[tuple[list[str], list[_Mode | None]]],
    list[str],
    list[tuple[str, _Mode, int, list[tuple[str, int]]]],
    tuple[int, int, float],
    bool,
    int,
]
_PlanRow: TypeAlias = tuple[str, str, _Mode | None, str | None, int, int, bool, bool, str | None, bool]
_PlanViewRow: TypeAlias = tuple[int, str, str, str, int, int, str, str | None, str, str, str]

def _build_target_plan(model: _TorchModule) -> tuple[_PlanHandle, _PlanFacts]: ...
def _target_plan_rows(plan: _PlanHandle) -> list[_PlanRow]: ...
def _format_target_plan(
    plan: _PlanHandle, width: int = 100, depth: int | None = None, fold: bool = True, color: bool = False
) -> str: ...
def _target_plan_view(
    plan: _PlanHandle, width: int = 100, depth: int | None = None, fold: bool = True
) -> tuple[list[tuple[str, str]], list[_PlanViewRow]]: ...
def _target_plan_problems(plan: _PlanHandle) -> list[str]: ...
def _without_color(text: object) -> str: ...

# ---------------------------------------------------------------------------
# Terminal layer
# ---------------------------------------------------------------------------

def read_single_key() -> str: ...
def is_up_key(key: str) -> bool: ...
def is_down_key(key: str) -> bool: ...
def is_left_key(key: str) -> bool: ...
def is_right_key(key: str) -> bool: ...
def is_page_up_key(key: str) -> bool: ...
def is_page_down_key(key: str) -> bool: ...
def is_delete_key(key: str) -> bool: ...
def is_enter_key(key: str) -> bool: ...
def is_tab_key(key: str) -> bool: ...
def is_select_key(key: str) -> bool: ...
def enter_alternate_screen() -> None: ...
def exit_alternate_screen() -> None: ...
def require_interactive_session() -> None: ...
def _distributed_rank() -> int: ...
def _ansi(text: object, code: object) -> str: ...
def color_text(text: object, hex_color: str) -> str: ...
def make_color_square(hex_color: str) -> str: ...
def dim(text: object) -> str: ...
def make_inverted_text(text: object) -> str: ...
def strip_ansi(text: str) -> str: ...
def get_color_hex_for_mode(mode: str | None) -> str: ...
def terminal_size() -> _os.terminal_size: ...
def get_visual_line_count(lines: Sequence[str], terminal_columns: int) -> int: ...
def wrap_ansi_line_on_words(line: str, terminal_columns: int) -> list[str]: ...
def wrap_screen_text_for_terminal(screen_text: str) -> str: ...
def render_text_with_cursor(text: str, cursor_index: int) -> str: ...
def compose_scrolling_screen(
    header_lines: Sequence[str],
    body_lines: Sequence[str],
    footer_lines: Sequence[str],
    window_start: int,
    focus: tuple[int, int] | None = None,
) -> tuple[str, int]: ...

# ---------------------------------------------------------------------------
# Screens and overlays
# ---------------------------------------------------------------------------

def render_tab_bar(active_screen: str) -> str: ...
def mode_verb(mode: str | None) -> str: ...
def make_block(mode: str | None) -> str: ...
def make_target_marker(entry: _ModuleEntry, record: _ResolvedRecord) -> tuple[str, str]: ...
def render_targets_lines(
    entries: list[_ModuleEntry],
    visible_entries: list[_ModuleEntry],
    selected_index: int,
    resolved: _Resolved,
    expanded_replaced: dict[str, Any],
) -> _ScreenParts: ...
def build_run_items(expanded_buckets: dict[str, Any]) -> list[_RunItem]: ...
def render_run_settings_lines(
    items: list[_RunItem], selected_index: int, describe_name: str | None
) -> _ScreenParts: ...
def render_static_overlay(lines: list[str]) -> str: ...
def render_help_overlay() -> list[str]: ...
def render_legend_overlay() -> list[str]: ...
def render_quit_overlay() -> list[str]: ...
def render_type_rules_overlay(entries: list[_ModuleEntry]) -> list[str]: ...
def render_overrides_overlay(
    scope: _OverrideScope,
    ov_selected_index: int,
    module_settings_overrides: _ModuleSettings,
    existing_module_settings: _ModuleSettings,
    describe_name: str | None,
) -> list[str]: ...
def render_save_overlay(
    entries: list[_ModuleEntry], resolved: _Resolved, save_selected_index: int, config_target_path: Any
) -> list[str]: ...

# ---------------------------------------------------------------------------
# Run settings data
# ---------------------------------------------------------------------------

def load_description_data() -> _DescriptionRecord: ...
def _normalize_label(label_text: object) -> str: ...
def get_setting_label(setting_name: str) -> str: ...
def get_setting_description(setting_name: str) -> str: ...
def get_bucket_description(bucket_name: str) -> str: ...
def get_global_setting_value(setting_name: str) -> Any: ...
def get_all_global_parameters() -> dict[str, Any]: ...
def format_setting_value(value: object) -> str: ...
def format_run_setting_value(setting_name: str, value: object) -> str: ...
def _switch_mode_values() -> list[Any]: ...
def get_enum_options(setting_name: str) -> list[Any] | None: ...
def cycle_enum_setting(setting_name: str, current_value: object) -> tuple[bool, str]: ...
def apply_setting_value(setting_name: str, value: object) -> tuple[bool, str]: ...
def parse_value_from_text(text: str, sample_value: object) -> Any: ...

# ---------------------------------------------------------------------------
# Overrides and configuration persistence
# ---------------------------------------------------------------------------

def load_existing_module_settings() -> _ModuleSettings: ...
def get_scope_values(
    scope_key: str, module_settings_overrides: _ModuleSettings, existing_module_settings: _ModuleSettings
) -> _ScopeValues: ...
def set_module_scoped_value(
    module_settings_overrides: _ModuleSettings, scope_key: str, setting_name: str, value: object
) -> None: ...
# In-session removal: the setting reads as absent in the scope and saving
# deletes it from the scope in each file (an emptied scope goes too).
def remove_module_scoped_value(
    module_settings_overrides: _ModuleSettings, scope_key: str, setting_name: str
) -> None: ...

# The value `remove_module_scoped_value` stores for a removed setting.
REMOVED_OVERRIDE: object

def get_override_scope_for_entry(
    entry: _ModuleEntry, resolved: _Resolved
) -> tuple[_OverrideScope, None] | tuple[None, str]: ...
def persist_module_settings_updates(
    module_settings_overrides: _ModuleSettings, overwrite_config_file: bool = False
) -> None: ...

# The suggested path as text, or the configuration object's own configuration
# file value unchanged when one is set.
def _config_target_path() -> Any: ...
