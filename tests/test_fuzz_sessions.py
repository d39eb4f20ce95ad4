"""Whole configurator sessions driven by long random key sequences.

Each case runs sessions on one model in one terminal until its key budget is
spent. Keys are drawn from every kind the key reader can return (letters,
digits, control bytes, escape sequences complete and cut, Latin-1 bytes) mixed
with the keys that open each overlay and editor, search text, Home and End,
undo, redo and the next-module key, and the terminal of one case is resized
while the session waits (it must draw the same screen again, as if no key
came). Before each key is handed over, what the previous key left behind is
checked: the frame it drew (known screen, footer hint, one selected row, no
wider and no taller than the terminal, no raw control characters),
the rule lists of ``GNV.pc`` (normalised, on targetable modules only) and, when
a session ends, how it ended. A session that ends (a save, "q" then "y", Ctrl-C
at the end of the budget) is followed by a fresh one on the same configuration.

The budget and the seed come from the environment, so that ``make fuzz`` can
run a long search and a failure can be replayed:

    NVX_FUZZ_KEYS=200000 NVX_FUZZ_SEED=random .venv/bin/python -m pytest -q -s tests/test_fuzz_sessions.py
    NVX_FUZZ_KEYS=<as reported> NVX_FUZZ_SEED=<as reported> \\
        .venv/bin/python -m pytest -q tests/test_fuzz_sessions.py -k "demo and 100x30"

``NVX_FUZZ_KEYS`` is the number of keys of each case. A failure names the seed,
the budget, the model, the terminal, the last keys and the frames around them.
"""

from __future__ import annotations

import builtins
import contextlib
import io
import json
import os
import random
import re
import signal
import time
import types

import pytest
from torch import nn

from neuvora import globals_neuvora as GNV
from scripted import CLEAR, SGR, ScriptedSession

DEFAULT_KEYS = 10000
KEYS = int(os.environ.get("NVX_FUZZ_KEYS") or DEFAULT_KEYS)
_SEED_TEXT = os.environ.get("NVX_FUZZ_SEED") or "20240611"
SEED = random.SystemRandom().randrange(10**9) if _SEED_TEXT == "random" else int(_SEED_TEXT)

# How often a key that would end the session (quit's "y", choosing a start
# option of the save overlay) is let through; otherwise another key is sent.
END_RATE = 0.08
# How often the terminal of the "resizing" case changes size before a key, and
# how often such a change reaches the waiting session as a signal (it then draws
# again without a key) rather than showing only with the next key.
RESIZE_RATE = 0.08
RESIZE_SIGNAL_RATE = 0.5

INVERTED = "\x1b[7m"
TAB_BAR = "[ Targets │ Run settings ]"
# Hints as flat text (runs of white space collapsed, as after wrapping).
TARGETS_HINT = "p/t dendrify·track this module P/T whole type x clear h legend ↑↓/jk move s start"
RUN_HINT = "→ expand · ← collapse Enter edit h describe ↑↓/jk move Tab switch panel s start"
OVERRIDES_HINT = "Enter edit · h describe · ↑↓/jk move · Esc / x close"
SAVE_HINT = "↑↓/jk move · Enter choose · Esc / x back to editing"
SCALAR_HINT = "Enter save · Esc cancel"
LIST_HINT = "←/→ move · Enter edit/select · Backspace/Delete remove · Esc cancel"
CANCELLED = "Configuration cancelled — training did not start."
SELECT_KEYS = ("\r", "\n", " ")
PAGE_KEYS = ("\x1b[5~", "\x1b[6~", "\x1b[5;5~", "\x1b[6;2~")

# Anything besides a style code that would act on the terminal.
RAW_CONTROL = re.compile("[\x00-\x09\x0b-\x1f\x7f-\x9f]")
SETTING_NAMES = sorted(GNV.NVXConfig._RUN_SETTINGS, key=len, reverse=True)
DESCRIBED = re.compile(r"(?<!\S)(?:%s) — " % "|".join(SETTING_NAMES))

# -- keys --------------------------------------------------------------------------------

LETTERS = [chr(c) for c in range(ord("a"), ord("z") + 1)] + [chr(c) for c in range(ord("A"), ord("Z") + 1)]
DIGITS = list("0123456789") + [".", "-", "e", "+", ","]
# Ctrl-C never comes back as a key: the reader raises KeyboardInterrupt for it.
CONTROL = [chr(c) for c in range(32) if c != 3] + ["\x7f"]
ESCAPES = [
    *("\x1b[" + c for c in "ABCD"),
    *("\x1bO" + c for c in "ABCD"),
    *("\x1b[1;%d%s" % (m, c) for m in (2, 3, 5) for c in "ABCD"),
    "\x1b[H", "\x1b[F", "\x1bOH", "\x1bOF", "\x1b[1~", "\x1b[4~", "\x1b[7~", "\x1b[8~",
    "\x1b[2~", "\x1b[3~", "\x1b[5~", "\x1b[6~", "\x1b[3;2~", "\x1b[5;5~", "\x1b[6;2~",
    "\x1b[15~", "\x1bOP", "\x1b[Z",
    # Cut and unusual sequences, as the reader returns them at a pause or at the end of input.
    "\x1b", "\x1b\x1b", "\x1b[", "\x1b[2", "\x1b[1;", "\x1b[5", "\x1bO", "\x1bO1;5C", "\x1bx", "\x1bxA",
    "\x1b\xe9", "\x1b[\xd7\xe9", "",
]
LATIN1 = [chr(c) for c in range(128, 256)]
EDITING = ["\r", "\n", "\x1b", "\x7f", "\x08", "\x1b[3~", "\x1b[C", "\x1b[D", " ", "\t"]
MOVES = ["j", "k", "\x1b[A", "\x1b[B", "\x1b[5~", "\x1b[6~", "\x1b[C", "\x1b[D", "\x1bOA", "\x1bOB"]
HOME_END = ["\x1b[H", "\x1b[F", "\x1bOH", "\x1bOF", "\x1b[1~", "\x1b[4~", "\x1b[7~", "\x1b[8~"]
OPENERS = ["?", "h", "y", "q", "s", "S", "\r", "\t", "\x1b", "x", "/"]
# Undo, redo and the next module that needs a mode.
EDITING_TARGETS = ["u", "u", "\x12", "!", "!"]
# What a search types: pieces of module ids and class names, and other text.
TEXT = list("abcdefghijklmnopqrstuvwxyz.0123456789_ ") + list("LSMCNqs?pj/") + ["\xe9", "\xc4"]

# Keys that do something on each screen, drawn more often there.
BY_KIND = {
    "targets": MOVES * 2 + HOME_END + list("pPtTxxyh?q//nnN") + ["\r", "\t", "\x1b[C", "\x1b[D"] + EDITING_TARGETS,
    "search": TEXT * 2 + ["\x7f", "\x08", "\r", "\x1b", "\x1b[A", "\t"],
    "typerules": MOVES + HOME_END + list("pPtTxyys?q") + ["\x1b", "\r", "\t"],
    "run": MOVES * 2 + HOME_END + ["\r"] * 6 + list("hh?q") + ["\t", "\x1b"],
    "overrides": MOVES + HOME_END + ["\r"] * 4 + list("hxs?q") + ["\x1b", "\t", "\x7f", "\x1b[3~"],
    "help": ["?", "\x1b", "q", "j", "k"] + HOME_END[:2] + list(PAGE_KEYS[:2]),
    "legend": ["h", "\x1b", "?", "j", "k"] + HOME_END[:2] + list(PAGE_KEYS[:2]),
    "quit": ["n", "N", "\x1b", "y", "q", "j", "k"] + HOME_END[:2],
    "save": MOVES + HOME_END + ["\r", "\x1b", "x", "s", "q"],
    "scalar": DIGITS * 2 + EDITING * 2 + ["\x1b[H", "\x1b[F", "a", "\xe9"],
    "list": DIGITS + EDITING * 3 + ["\x1b[A", "\x1b[B", "a", "\xe9"],
}


def draw_key(rng, kind):
    roll = rng.random()
    if roll < 0.40:
        return rng.choice(BY_KIND.get(kind, OPENERS))
    if roll < 0.55:
        return rng.choice(OPENERS)
    return rng.choice(rng.choice([LETTERS, DIGITS, CONTROL, ESCAPES, ESCAPES, LATIN1, EDITING, MOVES, TEXT]))


# -- models --------------------------------------------------------------------------------


class Holder(nn.Module):
    """A container that owns no parameters, nor do its children."""

    def __init__(self):
        super().__init__()
        self.act = nn.ReLU()
        self.empty = nn.Sequential()
        self.nothing = nn.Identity()


class Gate(nn.Module):
    """Owns a parameter itself and has children."""

    def __init__(self):
        super().__init__()
        self.scale = nn.Parameter(nn.Linear(1, 3).weight.detach().clone())
        self.proj = nn.Linear(3, 3)
        self.inner = nn.Sequential(nn.Sequential(nn.Linear(3, 3), nn.Dropout()), Holder())


class Fused(nn.Module):
    """Listed in modules_to_replace by the "replaced" model; holds a replaced module itself."""

    def __init__(self):
        super().__init__()
        self.left = nn.Linear(4, 4)
        self.right = nn.Sequential(nn.Linear(4, 4), nn.Tanh())
        self.attn = nn.MultiheadAttention(4, 1)


def demo_model():
    from neuvora.demo import build_demo_model

    return build_demo_model()


def tied_model():
    """Head and embedding share one weight; the model holds a parameter itself."""
    from neuvora.demo import build_tied_demo_model

    return build_tied_demo_model()


def tiny_model():
    return nn.Sequential(nn.Linear(3, 2))


def nested_model():
    return nn.Sequential(
        Holder(),
        nn.Sequential(nn.Sequential(nn.Sequential(nn.Linear(2, 3)), nn.ReLU()), Holder()),
        Gate(),
        nn.Sequential(),
        nn.Linear(3, 1),
    )


def replaced_model():
    GNV.pc.modules_to_replace = [nn.MultiheadAttention, Fused]
    return nn.Sequential(
        nn.Linear(4, 4),
        nn.MultiheadAttention(4, 2),
        Fused(),
        nn.Sequential(Fused(), nn.LayerNorm(4)),
        nn.Linear(4, 2),
    )


def wide_deep_model():
    """About 400 modules: 60 small blocks side by side and a chain 40 deep."""
    blocks = [
        nn.Sequential(nn.Linear(2, 2), nn.ReLU(), nn.Sequential(nn.LayerNorm(2), nn.Dropout())) for _ in range(60)
    ]
    deep = nn.Linear(2, 2)
    for _ in range(40):
        deep = nn.Sequential(deep, nn.Identity())
    return nn.Sequential(nn.Sequential(*blocks), deep, nn.Linear(2, 2))


MODELS = {
    "demo": demo_model,
    "tied": tied_model,
    "tiny": tiny_model,
    "nested": nested_model,
    "replaced": replaced_model,
    "wide-deep": wide_deep_model,
}

# The sizes each case's terminal takes; "resizing" changes between keys.
TERMINALS = {
    "100x30": [(100, 30)],
    "50x14": [(50, 14)],
    "resizing": [(100, 30), (80, 24), (50, 14), (120, 40), (30, 8), (200, 60), (64, 18)],
}


def roomy(lines):
    # Below this the screens' hints may give way to the selected row.
    return lines >= 12


# A bucket, setting or divider row of the Run settings screen (its title may give way).
RUN_ROW = re.compile(r"^(?:(?:> |  )(?:[▸▾] |  [A-Za-z_]\w* = )|     ─ rarely changed ─)")
MORE_ABOVE = "^^^^ more above ^^^^"
MORE_BELOW = "^^^^ more below ^^^^".replace("^", "v")


# -- checks ---------------------------------------------------------------------------------


def flat(text):
    return " ".join(text.split())


def classify(lines, previous=None):
    """The kind of one plain frame, from its title lines; a page scrolled past
    its title is still the page it was."""
    stripped = [line.strip() for line in lines]
    if stripped[0] == MORE_ABOVE:
        # The save and overrides overlays follow their selection, so they may
        # open scrolled; the other pages open at their top.
        if save_pointer_rows(lines):
            return "save"
        if any(line.endswith(("(overridden here)", "(from run settings)")) for line in stripped):
            return "overrides"
        if previous in ("help", "legend", "quit", "save", "overrides"):
            return previous
    head = flat("\n".join(lines[:8]))  # titles may be wrapped
    if head.startswith(TAB_BAR):
        if "? help Overrides — " in head:
            return "overrides"
        if "? help Run settings — run-wide configuration" in head or any(RUN_ROW.match(line) for line in lines):
            return "run"
        if any(line.startswith("┌─ Type rules") for line in stripped):
            return "typerules"
        if search_prompt(lines) is not None:
            return "search"
        return "targets"
    if lines[0].startswith("  Edit "):
        return "list" if LIST_HINT in flat("\n".join(lines)) else "scalar"
    if stripped[1:2] == ["Keys"]:
        return "help"
    if stripped[1:2] == ["Targets legend"]:
        return "legend"
    if stripped[1:2] == ["Save configuration"]:
        return "save"
    if "Quit without configuring?" in stripped[:6]:
        return "quit"
    return "unknown"


def screen_of(kind):
    """The screen a frame kind belongs to: the Targets screen with an open search
    prompt or type-rules block (which a short terminal may not show) is the Targets screen."""
    return "targets" if kind in ("search", "typerules") else kind


def search_prompt(lines):
    """The search prompt at the bottom of the Targets screen (rows joined), or None."""
    for at in range(len(lines) - 1, max(-1, len(lines) - 5), -1):
        if lines[at].startswith("  /"):  # rows it wraps onto lose the indent
            return flat("\n".join(lines[at:]))
    return None


def pointer_rows(lines):
    return [line for line in lines if line.startswith("> ")]


def save_pointer_rows(lines):
    # A row wider than the terminal is wrapped without its indentation.
    return [line for line in lines if line.lstrip(" ").startswith("▸ ")]


def check_frame(styled, columns, rows, divider_ok=False, previous=None):
    """Checks one drawn frame; returns its kind and plain lines.

    ``divider_ok``: the Run settings selection may sit on a divider (no row
    selected) because a page key put it there."""
    plain = SGR.sub("", styled)
    lines = plain.rstrip("\n").split("\n")
    kind = classify(lines, previous)
    assert kind != "unknown", "a frame of no known screen"
    for line in lines:
        assert len(line) <= columns, f"a row of {len(line)} columns in a terminal of {columns}: {line!r}"
        raw = RAW_CONTROL.search(line)
        assert raw is None, f"a raw control character {raw.group()!r} on the screen: {line!r}"
    # The line end after the frame moves the cursor to the row below it.
    assert len(lines) < rows, f"a frame of {len(lines)} rows in a terminal of {rows}"
    text = flat(plain)
    # A page cut off at the bottom says so; its closing lines are further down.
    cut = lines[-1].strip() == MORE_BELOW
    if kind in ("targets", "typerules", "search"):
        assert TARGETS_HINT in text or not roomy(rows), "the Targets hint is missing"
        assert len(pointer_rows(lines)) == 1, "not exactly one selected module row"
        if kind == "typerules":
            assert "y or Esc to close" in text
        if kind == "search":
            prompt = search_prompt(lines)
            assert "no module matches" in prompt or "match " in prompt or "type part of" in prompt, prompt
    elif kind in ("run", "overrides"):
        hint = RUN_HINT if kind == "run" else OVERRIDES_HINT
        footer = plain.rsplit("──", 1)[-1] if kind == "run" else plain
        shown = hint in text or DESCRIBED.search(flat(footer)) or cut or not roomy(rows)
        assert shown, "the footer shows neither the hint nor a described setting"
        selected = len(pointer_rows(lines))
        assert selected == 1 or (selected == 0 and kind == "run" and divider_ok), "not exactly one selected row"
    elif kind == "help":
        assert "? or Esc to close" in text or cut
    elif kind == "legend":
        assert "h or Esc to close" in text or cut
    elif kind == "quit":
        assert "[y] quit [n] keep configuring" in text or cut
    elif kind == "save":
        assert SAVE_HINT in text or cut
        assert len(save_pointer_rows(lines)) == 1, "not exactly one save option selected"
    else:
        assert (LIST_HINT if kind == "list" else SCALAR_HINT) in text
        # Lines: title, blank, the value, blank, hint. A value wider than the
        # terminal is wrapped, which drops its indentation.
        wrapped = lines[2:].index("") > 1 or not lines[2].startswith("  ")
        if wrapped:
            # Word wrapping drops a style code that stands before the first
            # character of a continuation row, so a wrapped entry may lose its
            # highlight.
            assert styled.count(INVERTED) <= 1, "more than one inverted cell"
        else:
            assert styled.count(INVERTED) == 1, "not exactly one inverted cell (cursor or selected entry)"
    return kind, lines


def rule_lists():
    pc = GNV.pc
    return {
        "ids_d": list(pc.get_module_ids_to_dendrify()),
        "ids_t": list(pc.get_module_ids_to_track()),
        "names_d": list(pc.get_module_names_to_dendrify()),
        "names_t": list(pc.get_module_names_to_track()),
    }


def check_rule_lists(cn, allowed_ids, allowed_names):
    lists = rule_lists()
    for name, values in lists.items():
        assert len(values) == len(set(values)), f"duplicates in {name}: {lists}"
    assert not set(lists["ids_d"]) & set(lists["ids_t"]), f"an id both dendrified and tracked: {lists}"
    assert not set(lists["names_d"]) & set(lists["names_t"]), f"a type both dendrified and tracked: {lists}"
    assert set(lists["ids_d"]) | set(lists["ids_t"]) <= allowed_ids, f"an id rule on no targetable module: {lists}"
    assert set(lists["names_d"]) | set(lists["names_t"]) <= allowed_names, f"a type rule on no module class: {lists}"
    cn.normalize_selection_conflicts()
    assert rule_lists() == lists, f"normalising changed the lists: {lists} -> {rule_lists()}"


# -- driver ------------------------------------------------------------------------------------


class FuzzSession(ScriptedSession):
    """A scripted session whose keys are drawn one at a time, each after checking the last one's result."""

    def __init__(self, cn, monkeypatch, fuzz):
        super().__init__(cn, monkeypatch, [])
        self.fuzz = fuzz
        monkeypatch.setattr(cn, "shutil", types.SimpleNamespace(get_terminal_size=lambda fallback=(120, 40): fuzz.size))
        self.buffer = io.StringIO()
        self.kind = None
        self.frame_lines = []
        self.failing_frame = None
        self.on_divider = False
        self.before_resize = None  # (screen kind, rule lists) when a resize signal was sent

    def run(self, model):
        with contextlib.redirect_stdout(self.buffer):
            return self.cn.set_dendrification_targets(model)

    def check_last_key(self):
        fuzz = self.fuzz
        # Only what the last key printed is kept.
        chunk = self.buffer.getvalue()
        self.buffer.seek(0)
        self.buffer.truncate()
        assert chunk.startswith(CLEAR), f"the key drew no new frame: {chunk[:80]!r}"
        # PgUp/PgDn on the Run settings screen may stop on a divider (they do
        # not skip it), which selects no row until a key moves on, overlays and
        # the other screen in between.
        divider_ok = self.on_divider or (self.kind == "run" and fuzz.keys[-1] in PAGE_KEYS)
        for styled in chunk.split(CLEAR)[1:]:
            self.failing_frame = SGR.sub("", styled)
            self.kind, self.frame_lines = check_frame(styled, *fuzz.size, divider_ok, self.kind)
            self.failing_frame = None
            fuzz.seen[self.kind] = fuzz.seen.get(self.kind, 0) + 1
            if self.kind == "run":
                self.on_divider = not pointer_rows(self.frame_lines)
        check_rule_lists(self.cn, fuzz.allowed_ids, fuzz.allowed_names)
        if self.before_resize is not None:
            # A resize is not a key: the same screen is drawn again, nothing changed.
            # (The kind of a frame is told apart only where the terminal has room.)
            kind_before, lists_before, roomy_before = self.before_resize
            assert rule_lists() == lists_before, "a resize changed the rules"
            if roomy_before and roomy(fuzz.size.lines):
                assert screen_of(self.kind) == kind_before, "a resize acted like a key"
            self.before_resize = None

    def _next_key(self):
        fuzz = self.fuzz
        fuzz.guard(self.check_last_key)
        if fuzz.spent >= fuzz.budget:
            fuzz.push(KeyboardInterrupt)
            raise KeyboardInterrupt
        rng = fuzz.rng
        if len(fuzz.sizes) > 1 and rng.random() < RESIZE_RATE:
            previous_size = fuzz.size
            fuzz.size = os.terminal_size(rng.choice(fuzz.sizes))
            fuzz.keys.append(("resize", *fuzz.size))
            if rng.random() < RESIZE_SIGNAL_RATE:
                # The terminal tells the session, which is waiting right here for a key.
                self.before_resize = (screen_of(self.kind), rule_lists(), roomy(previous_size.lines))
                fuzz.resize_signals += 1
                os.kill(os.getpid(), signal.SIGWINCH)
                raise AssertionError("the resize signal did not end the wait for a key")
        key = draw_key(rng, self.kind)
        if self.ends_session(key) and rng.random() > END_RATE:
            key = rng.choice(["j", "k", "\x1b[A", "\x1b[B", "x"] if self.kind == "save" else ["n", "\x1b"])
        fuzz.push(key)
        return key

    def ends_session(self, key):
        if self.kind == "quit":
            return key in ("y", "Y")
        if self.kind == "save" and key in SELECT_KEYS:
            selected = save_pointer_rows(self.frame_lines)
            return bool(selected) and "Keep editing" not in selected[0]
        return False


class Fuzz:
    """Sessions on one model and terminal until the key budget is spent."""

    def __init__(self, cn, monkeypatch, label, terminal, budget):
        self.cn, self.monkeypatch = cn, monkeypatch
        self.label, self.terminal, self.budget = label, terminal, budget
        self.model = MODELS[label]()
        self.sizes = TERMINALS[terminal]
        self.size = os.terminal_size(self.sizes[0])
        self.rng = random.Random(f"{SEED}/{label}/{terminal}")
        self.keys = []
        self.spent = 0
        self.sessions = 0
        self.saves = 0
        self.resize_signals = 0
        self.seen = {}
        self.session = None
        entries = cn.get_module_entries(self.model)
        self.allowed_ids = {e["id"] for e in entries if not e["in_replaced"] and not e["is_replaced_root"]}
        self.allowed_names = {e["type_name"] for e in entries}

    def push(self, key):
        self.keys.append(key)
        self.spent += 1

    def replay_text(self, problem):
        tail = self.keys[-30:]
        text = (
            f"{problem}\n  replay: NVX_FUZZ_SEED={SEED} NVX_FUZZ_KEYS={self.budget}, model {self.label}, "
            f"terminal {self.terminal} (now {self.size.columns}x{self.size.lines}), session {self.sessions}, "
            f"key {self.spent}\n  last {len(tail)} keys: {tail!r}"
        )
        if self.session is not None:
            text += "\n  frame before the last key:\n" + "\n".join(self.session.frame_lines)
            if self.session.failing_frame is not None:
                text += "\n  frame that failed:\n" + self.session.failing_frame
        return text

    def guard(self, check, *args):
        try:
            check(*args)
        except AssertionError as failure:
            raise AssertionError(self.replay_text(str(failure))) from None

    def run(self):
        while self.spent < self.budget:
            self.sessions += 1
            session = self.session = FuzzSession(self.cn, self.monkeypatch, self)
            try:
                result = session.run(self.model)
            except SystemExit as exited:
                self.guard(self.check_cancelled, exited, session)
                continue
            except AssertionError:
                raise
            except BaseException as error:  # noqa: BLE001 - anything else escaping is a fault
                raise AssertionError(self.replay_text(f"the session raised {error!r}")) from error
            self.guard(self.check_saved, result, session)

    def check_cancelled(self, exited, session):
        assert exited.code == 0, f"the session exited with {exited.code!r}"
        last = self.keys[-1] if self.keys else None
        asked = last is KeyboardInterrupt or (session.kind == "quit" and last in ("y", "Y"))
        assert asked, "the session quit by itself"
        assert session.events[-1] == "exit", "the terminal was not restored"
        assert CANCELLED in session.buffer.getvalue()

    def check_saved(self, result, session):
        self.saves += 1
        assert result is None, f"the session returned {result!r}"
        assert session.events[-1] == "exit", "the terminal was not restored"
        assert session.kind == "save" and self.keys[-1] in SELECT_KEYS, "the session ended without a save"
        assert GNV.pc.get_configuration_confirmed() is True
        with open(GNV.pc.get_run_config_path(), encoding="utf-8") as handle:
            saved = json.load(handle)
        written = {short: saved[name] for short, name in zip(rule_lists(), GNV.RULE_LIST_NAMES)}
        assert written == rule_lists(), "the run configuration does not hold the rule lists"


@pytest.mark.slow
@pytest.mark.parametrize("terminal", list(TERMINALS))
@pytest.mark.parametrize("label", list(MODELS))
def test_random_key_sessions_keep_every_invariant(cn, monkeypatch, label, terminal):
    asked = []
    # The save-as-default question gets a file inside the test's directory (the working directory).
    monkeypatch.setattr(builtins, "input", lambda prompt="": asked.append(prompt) or "saved/default_config.json")
    fuzz = Fuzz(cn, monkeypatch, label, terminal, KEYS)
    started = time.perf_counter()
    fuzz.run()
    elapsed = time.perf_counter() - started
    print(
        f"\nfuzz {label} {terminal}: {fuzz.spent} keys, {fuzz.sessions} sessions ({fuzz.saves} saved, "
        f"{len(asked)} asked for a file, {fuzz.resize_signals} resize signals), {elapsed:.2f} s, "
        f"{fuzz.spent / elapsed:.0f} keys/s, seed {SEED}\n"
        f"  frames: {dict(sorted(fuzz.seen.items()))}"
    )
    if KEYS >= DEFAULT_KEYS:
        # The keys reach every screen and overlay (else the search went nowhere).
        wanted = {"targets", "typerules", "run", "help", "legend", "quit", "save", "scalar", "overrides"}
        assert wanted <= set(fuzz.seen), fuzz.replay_text(f"screens never reached: {wanted - set(fuzz.seen)}")
