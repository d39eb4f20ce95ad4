"""Screens as snapshot text (syrupy keeps them under tests/__snapshots__/).

    assert plain(lines) == snapshot(name="help")     # what the terminal shows
    assert styled(lines) == snapshot(name="help styled")

A screen is a list of lines or one text. ``plain`` drops the colour codes.
``styled`` keeps every character and shows each colour code as a tag, so a
colour that changes shows in the diff as a changed tag:

    ⟨#00A5A5⟩  ESC [38;2;0;165;165m  (24-bit foreground colour)
    ⟨dim⟩      ESC [90m
    ⟨inverse⟩  ESC [7m
    ⟨/⟩        ESC [0m
    ⟨sgr N⟩    any other ESC [Nm

and any other control character as its control picture (␛ for a bare ESC, so
ESC [2J reads ␛[2J). Both forms are exact: two screens with the same text are
the same screen.

``python -m pytest tests/test_x.py --snapshot-update`` writes the snapshots
afresh; review the diff before committing it.
"""

from __future__ import annotations

import re

SGR = re.compile(r"\x1b\[([0-9;]*)m")
TRUE_COLOR = re.compile(r"38;2;(\d{1,3});(\d{1,3});(\d{1,3})")
NAMED = {"0": "/", "90": "dim", "7": "inverse"}


def _text(screen):
    return screen if isinstance(screen, str) else "\n".join(screen)


def plain(screen):
    """The screen as the terminal shows it: colour codes removed."""
    return SGR.sub("", _text(screen))


def _tag(match):
    code = match.group(1)
    colour = TRUE_COLOR.fullmatch(code)
    if colour:
        return "⟨#" + "".join(f"{int(part):02X}" for part in colour.groups()) + "⟩"
    return "⟨" + NAMED.get(code, "sgr " + code) + "⟩"


def _picture(character):
    code = ord(character)
    if code == 0x7F:
        return "\u2421"
    if code < 0x20 and character != "\n":
        return chr(0x2400 + code)
    return character


def styled(screen):
    """The screen's exact text with its colour codes as tags."""
    return "".join(_picture(c) for c in SGR.sub(_tag, _text(screen)))
