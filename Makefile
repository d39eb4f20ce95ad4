# One-step set-up: every target creates the environment when it is missing.
# The environment sees none of the base interpreter's packages: everything the
# build and the tests need is in requirements-dev.txt.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
DEPS   := $(VENV)/.deps-installed
PIP    := $(PY) -m pip install --quiet --disable-pip-version-check

# Tests run in parallel (pytest-xdist), one worker per core by default; each
# worker collects the whole suite, so more workers cost more than they save.
TEST_WORKERS ?= auto
PYTEST := $(PY) -m pytest -q -n $(TEST_WORKERS) --dist worksteal

# The instrumented build: its own environment and build folder.
ASAN_VENV := .venv-asan
ASAN_PY   := $(ASAN_VENV)/bin/python
ASAN_DEPS := $(ASAN_VENV)/.deps-installed

.PHONY: build test test-fast test-matrix test-sanitize wheel demo bench fuzz format clean screenshots

# An environment that sees the base interpreter's packages is made again.
$(DEPS): requirements-dev.txt
	grep -qs "include-system-site-packages = false" $(VENV)/pyvenv.cfg || { rm -rf $(VENV) && $(PYTHON) -m venv $(VENV); }
	$(PIP) -r requirements-dev.txt
	touch $(DEPS)

# Installs the package (both extension modules) into the environment; CMake
# builds incrementally under build/.
build: $(DEPS)
	$(PIP) --no-build-isolation --no-deps .

test: build
	$(PYTEST)

# Everything but the pseudo-terminal sessions, the long random-key sessions,
# the type checker and the launcher (the tests marked "slow").
test-fast: build
	$(PYTEST) -m "not slow"

# The whole suite at both ends of the supported range (noxfile.py): "lowest",
# the oldest CPython and torch that pyproject.toml claims, and "newest", the
# newest CPython claimed with the newest torch pip installs. Each session has
# its own environment under .nox/ and build folder under build-nox/; the
# interpreters are taken from PATH or pyenv.
test-matrix: $(DEPS)
	TEST_WORKERS=$(TEST_WORKERS) $(PY) -m nox

# A wheel of the package under dist/, to install where torch already is.
wheel: $(DEPS)
	$(PY) -m pip wheel --quiet --disable-pip-version-check --no-build-isolation --no-deps --wheel-dir dist .

# The whole suite on extensions built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/, .venv-asan/). Child processes of the
# tests inherit the runtimes; every report, theirs included, is written under
# build-asan/reports/ and fails the run. The interpreter itself is not
# instrumented, so leak detection is off.
SANITIZER_RUNTIMES = $(shell $(CXX) -print-file-name=libasan.so) $(shell $(CXX) -print-file-name=libubsan.so)
REPORTS := $(CURDIR)/build-asan/reports

$(ASAN_DEPS): requirements-dev.txt
	test -x $(ASAN_PY) || $(PYTHON) -m venv $(ASAN_VENV)
	$(ASAN_PY) -m pip install --quiet --disable-pip-version-check -r requirements-dev.txt
	touch $(ASAN_DEPS)

test-sanitize: export NVX_SANITIZE = address,undefined
test-sanitize: $(ASAN_DEPS)
	$(ASAN_PY) -m pip install --quiet --disable-pip-version-check --no-build-isolation --no-deps .
	rm -rf $(REPORTS) && mkdir -p $(REPORTS)
	LD_PRELOAD="$(SANITIZER_RUNTIMES)" \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:log_path=$(REPORTS)/asan \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(REPORTS)/ubsan \
	$(ASAN_PY) -m pytest -q -n $(TEST_WORKERS) --dist worksteal; status=$$?; \
	if [ -n "$$(ls $(REPORTS))" ]; then cat $(REPORTS)/*; echo "sanitizer reports above"; exit 1; fi; \
	exit $$status

# The configurator on the built-in demo model, in this terminal. Files it saves
# go under demo-run/. Options of the demo: make demo DEMO_ARGS="--tied --reconfigure".
DEMO_ARGS ?=
demo: build
	mkdir -p demo-run
	cd demo-run && ../$(PY) -m neuvora.demo $(DEMO_ARGS)

# Recaptures the plain-text screens in README.md from a real session on the demo,
# and the target plan's outputs shown under "Without a terminal".
screenshots: build
	$(PY) tests/screenshots.py --write README.md

bench: build
	$(PY) bench/run.py
	$(PY) bench/bench_target_model.py
	$(PY) bench/bench_navigation.py

# Long random key sessions on several models and terminal sizes. A failure
# prints the seed and budget to replay it: make fuzz FUZZ_SEED=... FUZZ_KEYS=...
FUZZ_KEYS ?= 200000
FUZZ_SEED ?= random
fuzz: build
	NVX_FUZZ_KEYS=$(FUZZ_KEYS) NVX_FUZZ_SEED=$(FUZZ_SEED) $(PY) -m pytest -q -s tests/test_fuzz_sessions.py -k random_key_sessions

format: $(DEPS)
	$(VENV)/bin/clang-format -i $$(find native -name '*.cpp' -o -name '*.hpp')

clean:
	rm -rf build build-asan build-nox dist demo-run
