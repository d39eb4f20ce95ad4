"""Per-module setting overrides: scope refusals, merging, loading the saved ones
and persisting the in-session ones without ever losing a user's file."""

from __future__ import annotations

import errno
import json
import os
import stat
import traceback

import pytest

from neuvora import globals_neuvora as GNV


def make_entry(module_id, type_name="Linear", replaced_root=None, is_root=False):
    return {
        "id": module_id,
        "name": module_id[1:],
        "type_name": type_name,
        "module": None,
        "depth": module_id.count(".") - 1,
        "direct_param_count": 4,
        "tree_param_count": 4,
        "is_replaced_root": is_root,
        "replaced_root": replaced_root,
        "in_replaced": replaced_root is not None,
    }


def record(eff, source, origin, overridden=None):
    return {"eff": eff, "source": source, "origin_id": origin, "overridden": overridden}


@pytest.fixture
def paths(fresh_config, tmp_path, monkeypatch):
    """Points the configuration file and the run configuration file at tmp files."""
    state = {"config": None, "run": None}
    monkeypatch.setattr(fresh_config, "get_config_file", lambda: state["config"])
    monkeypatch.setattr(fresh_config, "get_run_config_path", lambda: state["run"])
    return state


def write(path, document):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "w") as handle:
        if isinstance(document, str):
            handle.write(document)
        else:
            json.dump(document, handle, indent=2)


def read_text(path):
    with open(path) as handle:
        return handle.read()


def listing(directory):
    return sorted(os.listdir(directory))


# -- scopes ---------------------------------------------------------------------


REPLACED = "Overrides are not available inside a module that will be restructured."
NO_MODE = (
    "Overrides are only for dendrified modules. Dendrify this one first (p), or track it if you just want it "
    "monitored."
)
TRACKED = "Overrides are only for dendrified modules \u2014 this one is tracked."
INHERITS = (
    "This module inherits .encoder's mode. Open overrides on .encoder to change settings for the whole subtree."
)


@pytest.mark.parametrize(
    "entry, rec, expected",
    [
        (make_entry(".r.a", replaced_root=".r"), record("dendrified", "id", ".r.a"), (None, REPLACED)),
        (make_entry(".r", is_root=True), record("dendrified", "id", ".r"), (None, REPLACED)),
        (make_entry(".a"), record(None, None, ".a"), (None, NO_MODE)),
        (make_entry(".encoder.0"), record("dendrified", "inherited", ".encoder"), (None, INHERITS)),
        (make_entry(".encoder.0"), record("tracked", "inherited", ".encoder"), (None, INHERITS)),
        (make_entry(".a"), record("tracked", "id", ".a"), (None, TRACKED)),
        (make_entry(".a"), record("dendrified", "type", ".a"), ({"kind": "type", "scope_key": "Linear"}, None)),
        (make_entry(".a"), record("dendrified", "id", ".a"), ({"kind": "id", "scope_key": ".a"}, None)),
    ],
)
def test_override_scope_for_entry(cn, entry, rec, expected):
    result = cn.get_override_scope_for_entry(entry, {entry["id"]: rec})
    assert result == expected
    if result[0] is not None:
        assert list(result[0]) == ["kind", "scope_key"]


def test_override_scope_origin_is_formatted_as_text(cn):
    result = cn.get_override_scope_for_entry(make_entry(".a"), {".a": record("dendrified", "inherited", 7)})
    assert result[1] == "This module inherits 7's mode. Open overrides on 7 to change settings for the whole subtree."


def test_override_scope_missing_record(cn):
    with pytest.raises(KeyError):
        cn.get_override_scope_for_entry(make_entry(".a"), {})


def test_scope_values_merge(cn):
    saved = {".a": {"dendrite_learning_rate": 0.1, "dendrite_count": 3}}
    session = {".a": {"dendrite_learning_rate": 0.2}}
    merged = cn.get_scope_values(".a", session, saved)
    assert merged == {"dendrite_learning_rate": 0.2, "dendrite_count": 3}
    assert saved == {".a": {"dendrite_learning_rate": 0.1, "dendrite_count": 3}}
    assert session == {".a": {"dendrite_learning_rate": 0.2}}
    assert cn.get_scope_values("Linear", session, saved) == {}
    assert merged is not saved[".a"]


def test_set_module_scoped_value(cn):
    session = {}
    assert cn.set_module_scoped_value(session, "Linear", "dendrite_count", 2) is None
    cn.set_module_scoped_value(session, "Linear", "dendrite_count", 5)
    cn.set_module_scoped_value(session, "Linear", "use_skip_weights", False)
    assert session == {"Linear": {"dendrite_count": 5, "use_skip_weights": False}}


def test_removed_values_read_as_absent(cn):
    saved = {".a": {"dendrite_count": 3, "use_skip_weights": True}}
    session = {".a": {"dendrite_learning_rate": 0.2}}
    assert cn.remove_module_scoped_value(session, ".a", "dendrite_count") is None
    cn.remove_module_scoped_value(session, ".a", "dendrite_learning_rate")  # made in this session
    cn.remove_module_scoped_value(session, "Linear", "dendrite_count")
    assert cn.get_scope_values(".a", session, saved) == {"use_skip_weights": True}
    assert cn.get_scope_values("Linear", session, saved) == {}
    assert session[".a"]["dendrite_count"] is cn.REMOVED_OVERRIDE and repr(cn.REMOVED_OVERRIDE) == "<removed override>"
    cn.set_module_scoped_value(session, ".a", "dendrite_count", 4)  # set again after removing
    assert cn.get_scope_values(".a", session, saved)["dendrite_count"] == 4


def in_order(value):
    """Nested dicts as lists of (key, value) pairs, so that comparing them compares the order too."""
    return [(key, in_order(item)) for key, item in value.items()] if isinstance(value, dict) else value


def test_persist_removals_keep_the_rest_of_the_file(cn, paths, tmp_path):
    paths["run"] = str(tmp_path / "run.json")
    write(paths["run"], {
        "first": 1,
        "module_settings": {".a": {"x": 1, "y": 2}, ".b": {"x": 1}, "Conv1d": {"x": 2}, "Linear": {"x": 5}},
        "last": [1, 2],
    })
    session = {}
    cn.remove_module_scoped_value(session, ".a", "x")
    cn.remove_module_scoped_value(session, ".b", "x")  # its only value: the scope goes
    cn.remove_module_scoped_value(session, ".new", "x")  # nothing saved: no empty scope appears
    cn.set_module_scoped_value(session, "Linear", "z", 0)
    cn.persist_module_settings_updates(session)
    document = json.loads(read_text(paths["run"]))
    assert list(document) == ["first", "module_settings", "last"] and document["last"] == [1, 2]
    # Scopes and values keep the file's order (dicts compare equal in any order).
    assert in_order(document["module_settings"]) == [
        (".a", [("y", 2)]),
        ("Conv1d", [("x", 2)]),
        ("Linear", [("x", 5), ("z", 0)]),
    ]


@pytest.mark.parametrize(
    "removed, run_scopes, config_scopes",
    [
        # each file keeps its own order of the scopes left (a dict comparison would not see it)
        ([(".b", "x")], [".c", ".a"], [".a", ".c"]),
        ([(".a", "x"), (".c", "x")], [".b"], [".b"]),
        ([(".b", "y")], [".c", ".b", ".a"], [".a", ".b", ".c"]),  # not held: the scope stays
    ],
)
def test_persist_removals_keep_each_files_order(cn, paths, tmp_path, removed, run_scopes, config_scopes):
    paths["run"] = str(tmp_path / "run.json")
    paths["config"] = str(tmp_path / "cfg.json")
    write(paths["run"], {"module_settings": {".c": {"x": 3}, ".b": {"x": 2}, ".a": {"x": 1}}})
    write(paths["config"], {"module_settings": {".a": {"x": 1}, ".b": {"x": 2}, ".c": {"x": 3}}, "z": 0})
    session = {}
    for scope, name in removed:
        cn.remove_module_scoped_value(session, scope, name)
    cn.persist_module_settings_updates(session, overwrite_config_file=True)
    run = json.loads(read_text(paths["run"]))
    config = json.loads(read_text(paths["config"]))
    assert list(run["module_settings"]) == run_scopes
    assert list(config["module_settings"]) == config_scopes and list(config) == ["module_settings", "z"]


def test_customizable_names_and_docstrings(cn):
    assert cn.CUSTOMIZABLE_SETTING_NAMES == list(GNV.NVXConfig._CUSTOMIZABLE)
    assert cn.load_existing_module_settings.__doc__ == "Load existing module_settings from local config sources."
    assert cn.persist_module_settings_updates.__doc__ == (
        "Persist in-session module_settings updates to local config JSON files."
    )
    assert cn.get_scope_values.__doc__ == "Merged override values for one scope: saved data plus in-session edits."


# -- loading ----------------------------------------------------------------------


def test_load_config_file_then_run_file(cn, paths, tmp_path):
    paths["config"] = str(tmp_path / "cfg.json")
    paths["run"] = str(tmp_path / "run" / "run_config.json")
    write(paths["config"], {"module_settings": {"Linear": {"a": 1, "b": 2}, ".x": {"a": 0}, ".bad": [1]}})
    write(paths["run"], {"other": 1, "module_settings": {"Linear": {"a": 5}, ".y": {"c": 3}, ".x": "nope"}})
    loaded = cn.load_existing_module_settings()
    # The run file's scope wins whole; non-object members are ignored.
    assert loaded == {"Linear": {"a": 5}, ".x": {"a": 0}, ".y": {"c": 3}}
    assert list(loaded) == ["Linear", ".x", ".y"]


@pytest.mark.parametrize(
    "content",
    ["{not json", "[1, 2]", '{"module_settings": [1]}', '{"module_settings": null}', "", '"text"'],
)
def test_load_skips_malformed_files_silently(cn, paths, tmp_path, content):
    paths["config"] = str(tmp_path / "cfg.json")
    paths["run"] = str(tmp_path / "run.json")
    write(paths["config"], content)
    write(paths["run"], {"module_settings": {".a": {"k": 1}}})
    assert cn.load_existing_module_settings() == {".a": {"k": 1}}


def test_load_without_files(cn, paths, tmp_path):
    assert cn.load_existing_module_settings() == {}
    paths["run"] = str(tmp_path / "missing.json")
    paths["config"] = str(tmp_path)  # a directory: unreadable, skipped
    assert cn.load_existing_module_settings() == {}


def test_load_copies_scopes(cn, paths, tmp_path, monkeypatch):
    paths["run"] = str(tmp_path / "run.json")
    inner = {"k": 1}
    monkeypatch.setattr(cn, "json", type("J", (), {"load": staticmethod(lambda f: {"module_settings": {".a": inner}})}))
    write(paths["run"], "{}")
    loaded = cn.load_existing_module_settings()
    assert loaded == {".a": {"k": 1}} and loaded[".a"] is not inner


# -- persisting -----------------------------------------------------------------


def test_persist_nothing_without_overrides(cn, paths, tmp_path, monkeypatch):
    paths["run"] = str(tmp_path / "run.json")
    paths["config"] = str(tmp_path / "cfg.json")
    monkeypatch.setattr(cn, "open", lambda *a, **k: pytest.fail("no file may be opened"), raising=False)
    assert cn.persist_module_settings_updates({}, True) is None
    paths["run"] = None
    cn.persist_module_settings_updates({".a": {"k": 1}})
    assert listing(tmp_path) == []


def test_persist_creates_directories_and_file(cn, paths, tmp_path):
    paths["run"] = str(tmp_path / "deep" / "er" / "run.json")
    cn.persist_module_settings_updates({".a": {"name": "r\u00e9lu", "k": 1}})
    text = read_text(paths["run"])
    assert text == json.dumps({"module_settings": {".a": {"name": "r\u00e9lu", "k": 1}}}, indent=2)
    assert "\\u00e9" in text and not text.endswith("\n")
    assert listing(tmp_path / "deep" / "er") == ["run.json"]


def test_persist_with_a_name_near_the_length_limit(cn, paths, tmp_path):
    paths["run"] = str(tmp_path / ("n" * 250 + ".json"))
    write(paths["run"], {"module_settings": {}})
    cn.persist_module_settings_updates({".a": {"k": 1}})
    assert json.loads(read_text(paths["run"])) == {"module_settings": {".a": {"k": 1}}}
    assert len(listing(tmp_path)) == 1


def test_persist_merges_and_keeps_other_members_in_place(cn, paths, tmp_path):
    paths["run"] = str(tmp_path / "run.json")
    write(
        paths["run"],
        {
            "first": 1,
            "module_settings": {"Linear": {"a": 1, "b": 2}, ".old": {"z": 0}, ".bad": 3},
            "last": [1, 2],
        },
    )
    cn.persist_module_settings_updates({"Linear": {"a": 9, "c": 3}, ".bad": {"q": 1}, ".new": {"n": 1}})
    document = json.loads(read_text(paths["run"]))
    assert list(document) == ["first", "module_settings", "last"]
    assert document["module_settings"] == {
        "Linear": {"a": 9, "b": 2, "c": 3},
        ".old": {"z": 0},
        ".bad": {"q": 1},
        ".new": {"n": 1},
    }
    assert list(document["module_settings"]["Linear"]) == ["a", "b", "c"]


def test_persist_each_target_merges_with_its_own_content(cn, paths, tmp_path):
    paths["run"] = str(tmp_path / "run.json")
    paths["config"] = str(tmp_path / "cfg.json")
    write(paths["run"], {"module_settings": {".a": {"x": 1}}})
    write(paths["config"], {"module_settings": "broken", "keep": True})
    cn.persist_module_settings_updates({".a": {"y": 2}}, overwrite_config_file=False)
    assert json.loads(read_text(paths["config"])) == {"module_settings": "broken", "keep": True}
    cn.persist_module_settings_updates({".a": {"y": 2}}, overwrite_config_file=True)
    assert json.loads(read_text(paths["run"])) == {"module_settings": {".a": {"x": 1, "y": 2}}}
    assert json.loads(read_text(paths["config"])) == {"module_settings": {".a": {"y": 2}}, "keep": True}


def test_persist_same_path_written_once(cn, paths, tmp_path, monkeypatch):
    paths["run"] = paths["config"] = str(tmp_path / "one.json")
    writes = []
    real_replace = os.replace

    def counting_replace(src, dst):
        writes.append(dst)
        real_replace(src, dst)

    monkeypatch.setattr(os, "replace", counting_replace)
    cn.persist_module_settings_updates({".a": {"k": 1}}, True)
    assert writes == [paths["run"]]


def test_persist_keeps_permissions_and_symlinks(cn, paths, tmp_path):
    real = tmp_path / "real.json"
    write(str(real), {"module_settings": {}})
    os.chmod(real, 0o640)
    link = tmp_path / "link.json"
    os.symlink(real, link)
    paths["run"] = str(link)
    cn.persist_module_settings_updates({".a": {"k": 1}})
    assert os.path.islink(link)
    assert json.loads(read_text(str(real))) == {"module_settings": {".a": {"k": 1}}}
    assert stat.S_IMODE(os.stat(real).st_mode) == 0o640
    assert listing(tmp_path) == ["link.json", "real.json"]


# -- faults: the file is never lost or half-written -------------------------------


ORIGINAL = '{\n  "keep": "me",\n  "module_settings": {".a": {"x": 1}}\n}'


@pytest.fixture
def saved(paths, tmp_path):
    paths["run"] = str(tmp_path / "run.json")
    write(paths["run"], ORIGINAL)
    return paths["run"]


def test_value_json_cannot_represent(cn, saved, tmp_path):
    with pytest.raises(TypeError, match="not JSON serializable"):
        cn.persist_module_settings_updates({".a": {"fn": object()}})
    assert read_text(saved) == ORIGINAL
    assert listing(tmp_path) == ["run.json"]


def test_new_file_not_created_for_unrepresentable_value(cn, paths, tmp_path):
    paths["run"] = str(tmp_path / "sub" / "run.json")
    with pytest.raises(TypeError):
        cn.persist_module_settings_updates({".a": {"fn": {1, 2}}})
    assert not os.path.exists(paths["run"])


@pytest.mark.parametrize(
    "content, error, words",
    [
        ("{broken", ValueError, "not valid JSON"),
        ("", ValueError, "not valid JSON"),
        ("[1, 2]", AttributeError, "top level is a JSON list"),
        ('"text"', AttributeError, "top level is a JSON str"),
    ],
)
def test_unusable_existing_target_is_never_overwritten(cn, paths, tmp_path, content, error, words):
    paths["run"] = str(tmp_path / "run.json")
    paths["config"] = str(tmp_path / "cfg.json")
    write(paths["run"], content)
    with pytest.raises(error, match=words) as caught:
        cn.persist_module_settings_updates({".a": {"k": 1}}, True)
    # Whatever the content, a caller that catches ValueError sees the refusal.
    assert isinstance(caught.value, ValueError)
    assert paths["run"] in str(caught.value)
    assert read_text(paths["run"]) == content
    # Later targets are not processed.
    assert not os.path.exists(paths["config"])


def test_target_that_is_a_directory(cn, paths, tmp_path):
    target = tmp_path / "run.json"
    target.mkdir()
    (target / "inside").write_text("x")
    paths["run"] = str(target)
    with pytest.raises(IsADirectoryError) as caught:
        cn.persist_module_settings_updates({".a": {"k": 1}})
    assert caught.value.filename == str(target)
    assert listing(target) == ["inside"]


def test_unreadable_existing_target(cn, saved, monkeypatch):
    real_open = open

    def no_read(path, mode="r", *args, **kwargs):
        if path == saved and mode == "r":
            raise PermissionError(13, "Permission denied", path)
        return real_open(path, mode, *args, **kwargs)

    monkeypatch.setattr(cn, "open", no_read, raising=False)
    with pytest.raises(PermissionError):
        cn.persist_module_settings_updates({".a": {"k": 1}})
    assert read_text(saved) == ORIGINAL


class HalfWrittenFile:
    """A file whose write stops halfway through and then fails."""

    def __init__(self, handle):
        self.handle = handle

    def write(self, text):
        self.handle.write(text[: len(text) // 2])
        raise OSError(28, "No space left on device")

    def __getattr__(self, name):
        return getattr(self.handle, name)


@pytest.mark.parametrize("fault", ["write", "fsync", "replace", "open_temporary"])
def test_crash_while_writing_leaves_the_old_file(cn, saved, tmp_path, monkeypatch, fault):
    real_open = open

    def faulty_open(path, mode="r", *args, **kwargs):
        if mode != "r" and fault == "open_temporary":
            raise PermissionError(13, "Permission denied", path)
        handle = real_open(path, mode, *args, **kwargs)
        return HalfWrittenFile(handle) if mode != "r" and fault == "write" else handle

    def fail(*args, **kwargs):
        raise OSError(5, "Input/output error")

    monkeypatch.setattr(cn, "open", faulty_open, raising=False)
    if fault in ("fsync", "replace"):
        monkeypatch.setattr(os, fault, fail)
    with pytest.raises(OSError):
        cn.persist_module_settings_updates({".a": {"k": 1}})
    assert read_text(saved) == ORIGINAL
    assert listing(tmp_path) == ["run.json"]


# A path made read-only for the duration of `body`. For an ordinary user its
# permission bits do it. Root ignores permission bits, so for root the body runs
# in a forked child that binds the path read-only onto itself in a private
# mount namespace (the path then refuses writes with EROFS).
CLONE_NEWNS, MS_RDONLY, MS_REMOUNT, MS_BIND, MS_REC, MS_PRIVATE = 0x20000, 1, 32, 4096, 16384, 1 << 18
NO_NAMESPACE = 77


def mount_read_only(path):
    import ctypes

    libc = ctypes.CDLL(None, use_errno=True)

    def check(result):
        if result != 0:
            raise OSError(ctypes.get_errno(), "mount namespace")

    target = os.fsencode(path)
    check(libc.unshare(CLONE_NEWNS))
    check(libc.mount(b"none", b"/", None, MS_REC | MS_PRIVATE, None))
    check(libc.mount(target, target, None, MS_BIND, None))
    check(libc.mount(b"none", target, None, MS_REMOUNT | MS_BIND | MS_RDONLY, None))


def with_read_only(path, body):
    if os.geteuid() != 0:
        mode = os.stat(path).st_mode
        os.chmod(path, 0o555 if os.path.isdir(path) else 0o444)
        try:
            body(errno.EACCES)
        finally:
            os.chmod(path, mode)
        return
    pid = os.fork()
    if pid == 0:
        status = 1
        try:
            try:
                mount_read_only(path)
            except OSError:
                status = NO_NAMESPACE
                raise
            body(errno.EROFS)
            status = 0
        except BaseException:
            traceback.print_exc()
        finally:
            os._exit(status)
    _, wait_status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(wait_status) == NO_NAMESPACE:
        pytest.skip("root without the right to make a mount namespace")
    assert os.waitstatus_to_exitcode(wait_status) == 0


@pytest.mark.parametrize("existing", [True, False])
def test_read_only_directory(cn, paths, tmp_path, existing):
    folder = tmp_path / "ro"
    folder.mkdir()
    paths["run"] = str(folder / "run.json")
    if existing:
        write(paths["run"], ORIGINAL)

    def body(refusal):
        with pytest.raises(OSError) as caught:
            cn.persist_module_settings_updates({".a": {"k": 1}})
        # A file there is refused before anything is written; a new one fails to open.
        if existing:
            assert caught.type is PermissionError
        else:
            assert caught.value.errno == refusal
        assert listing(folder) == (["run.json"] if existing else [])
        if existing:
            assert read_text(paths["run"]) == ORIGINAL

    with_read_only(str(folder), body)


def test_read_only_file_is_not_replaced(cn, saved, tmp_path):
    def body(refusal):
        with pytest.raises(PermissionError):
            cn.persist_module_settings_updates({".a": {"k": 1}})
        assert read_text(saved) == ORIGINAL
        assert listing(tmp_path) == ["run.json"]

    with_read_only(saved, body)


def test_directory_that_cannot_be_created(cn, paths, tmp_path):
    (tmp_path / "file").write_text("x")
    paths["run"] = str(tmp_path / "file" / "run.json")
    with pytest.raises(OSError):
        cn.persist_module_settings_updates({".a": {"k": 1}})
    assert read_text(str(tmp_path / "file")) == "x"
