"""The screens shown in README.md are those a real session draws today."""

from __future__ import annotations

from pathlib import Path

import pytest

import screenshots

pytestmark = pytest.mark.e2e

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_screens_match_a_fresh_capture():
    blocks = screenshots.readme_blocks(README.read_text(encoding="utf-8"))
    assert sorted(blocks) == sorted(screenshots.SCREENS)
    shots = screenshots.capture()
    for name in screenshots.SCREENS:
        assert blocks[name] == shots[name], f"README screen {name!r} is stale: run `make screenshots`"


def test_rewrite_touches_only_the_screen_blocks():
    text = "intro\n<!-- screen:quit -->\n```text\nold\n```\n<!-- /screen -->\noutro <!-- screen:other -->\nkept\n<!-- /screen -->\n"
    updated = screenshots.rewrite_readme(text, {"quit": "new\n  screen"})
    assert updated == text.replace("old", "new\n  screen")
    assert screenshots.readme_blocks(updated) == {"quit": "new\n  screen", "other": None}
