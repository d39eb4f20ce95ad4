"""The supported range, tested: the whole suite on the lowest and on the newest
interpreter and torch that pyproject.toml claims (`make test-matrix`).

Each session has its own environment under .nox/ and its own build folder under
build-nox/, builds both extension modules with its own interpreter and installs
requirements-dev.txt with its own torch instead of that file's pin.
"""

from __future__ import annotations

import os
import re
import subprocess
from pathlib import Path

import nox
from packaging.requirements import Requirement
from packaging.specifiers import SpecifierSet
from packaging.version import Version

nox.options.sessions = ["lowest", "newest"]
nox.options.default_venv_backend = "venv"
# A missing interpreter fails its session; nothing is downloaded in its place.
nox.options.error_on_missing_interpreters = True
nox.options.download_python = "never"
# An environment left by an earlier run is updated rather than made again.
nox.options.reuse_venv = "yes"

ROOT = Path(__file__).resolve().parent
PROJECT = nox.project.load_toml(ROOT / "pyproject.toml")["project"]


def bound(specifiers: SpecifierSet, operator: str) -> Version:
    """The version of the first specifier with `operator`, e.g. 3.10 of ">=3.10,<3.14"."""
    return next(Version(specifier.version) for specifier in specifiers if specifier.operator == operator)


# The claims: requires-python ">=3.A,<3.B" gives 3.A and 3.(B-1); torch's lower bound the oldest torch.
PYTHON_FLOOR = bound(SpecifierSet(PROJECT["requires-python"]), ">=")
PYTHON_CEILING = bound(SpecifierSet(PROJECT["requires-python"]), "<")
LOWEST_PYTHON = f"{PYTHON_FLOOR.major}.{PYTHON_FLOOR.minor}"
NEWEST_PYTHON = f"{PYTHON_CEILING.major}.{PYTHON_CEILING.minor - 1}"
TORCH_RANGE = next(Requirement(dep) for dep in PROJECT["dependencies"] if Requirement(dep).name == "torch").specifier
OLDEST_TORCH = bound(TORCH_RANGE, ">=")

# The interpreter's version and whether it is a free-threaded build.
PROBE = "import sys, sysconfig; print('%d.%d' % sys.version_info[:2], bool(sysconfig.get_config_var('Py_GIL_DISABLED')))"

REPORT = "import sys, numpy, torch; print(f'CPython {sys.version.split()[0]}, torch {torch.__version__}, numpy {numpy.__version__}')"


def _is_interpreter(path: Path, version: str) -> bool:
    """Whether `path` runs and is CPython `version` with the global interpreter lock.

    A pyenv shim for a version that is installed but not selected is on PATH
    and fails when run: it is no interpreter here."""
    if not (path.is_file() and os.access(path, os.X_OK)):
        return False
    try:
        result = subprocess.run([path, "-c", PROBE], capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return result.returncode == 0 and result.stdout.split() == [version, "False"]


def _release(folder: Path) -> tuple[int, ...]:
    return tuple(int(part) for part in re.findall(r"\d+", folder.name))


def find_interpreter(version: str) -> str | None:
    """The first working `pythonX.Y` on PATH, else the newest pyenv install of `version`."""
    name = f"python{version}"
    candidates = [Path(folder) / name for folder in os.environ.get("PATH", "").split(os.pathsep) if folder]
    pyenv_versions = Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv")) / "versions"
    installs = sorted(pyenv_versions.glob(f"{version}.*"), key=_release, reverse=True)
    candidates += [install / "bin" / name for install in installs]
    return next((str(path) for path in candidates if _is_interpreter(path, version)), None)


def dev_requirements() -> list[str]:
    """requirements-dev.txt but torch, which each session chooses, and nox, which runs the sessions."""
    lines = (ROOT / "requirements-dev.txt").read_text(encoding="utf-8").splitlines()
    requirements = [line.split("#")[0].strip() for line in lines]
    return [line for line in requirements if line and Requirement(line).name not in ("torch", "nox")]


def run_suite(session: nox.Session, version: str, torch: list[str], *install_options: str) -> None:
    """Installs the requirements with `torch` (and the numpy it needs), builds into
    build-nox/<session>/ and runs the whole suite."""
    if not session.python:
        session.error(f"CPython {version} is not on PATH nor installed with pyenv: install it (for example `pyenv install {version}`)")
    # torch brings thousands of modules: compiling them all at install takes
    # longer than compiling the few the tests import when they import them.
    session.install("--no-compile", *install_options, *dev_requirements(), *torch)
    # Set for the whole session, so that the suite's own wheel build reuses the folder.
    session.env["SKBUILD_BUILD_DIR"] = f"build-nox/{session.name}/{{wheel_tag}}"
    session.install("--no-build-isolation", "--no-deps", ".")
    session.run("python", "-c", REPORT)
    workers = os.environ.get("TEST_WORKERS", "auto")
    session.run("python", "-m", "pytest", "-q", "-n", workers, "--dist", "worksteal", *session.posargs)


@nox.session(python=find_interpreter(LOWEST_PYTHON) or False)
def lowest(session: nox.Session) -> None:
    """The oldest CPython and torch claimed, with numpy 1 (torch before 2.3 was built against it)."""
    run_suite(session, LOWEST_PYTHON, [f"torch=={OLDEST_TORCH}", "numpy<2"])


@nox.session(python=find_interpreter(NEWEST_PYTHON) or False)
def newest(session: nox.Session) -> None:
    """The newest CPython claimed, with the newest torch and numpy pip installs here
    (a pip constraint of the machine may cap torch)."""
    run_suite(session, NEWEST_PYTHON, [f"torch{TORCH_RANGE}"], "--upgrade")
