# One-step set-up: every target creates the environment when it is missing.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
DEPS   := $(VENV)/.deps-installed

.PHONY: build test demo bench fuzz format clean screenshots

$(DEPS): requirements-dev.txt
	test -x $(PY) || $(PYTHON) -m venv --system-site-packages $(VENV)
	$(PY) -m pip install --quiet --disable-pip-version-check -r requirements-dev.txt
	touch $(DEPS)

# Installs the package (both extension modules) into the environment; CMake
# builds incrementally under build/.
build: $(DEPS)
	$(PY) -m pip install --quiet --disable-pip-version-check --no-build-isolation --no-deps .

test: build
	$(PY) -m pytest -q

# The configurator on the built-in demo model, in this terminal. Files it saves
# go under demo-run/.
demo: build
	mkdir -p demo-run
	cd demo-run && ../$(PY) -m neuvora.demo

# Recaptures the plain-text screens in README.md from a real session on the demo.
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
	rm -rf build demo-run
