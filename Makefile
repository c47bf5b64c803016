# Set-up, build and checks. `make demo` and `make test` do everything from a fresh machine:
# a virtual environment with CPython 3.13, a headless raylib in the user's cache (or the one
# named by TAVORO_RAYLIB_PREFIX), and an in-tree build of the modules.

VENV := .venv
PY := $(VENV)/bin/python
BUILD := build/dev
export PATH := $(CURDIR)/$(VENV)/bin:$(PATH)

.PHONY: demo test build wheel clean

demo: build
	PYTHONPATH=src $(PY) examples/demo.py

test: build
	$(PY) -m pytest -q tests

$(VENV)/.ready: requirements.txt scripts/find-python.sh
	test -x $(PY) || $$(scripts/find-python.sh) -m venv $(VENV)
	$(PY) -m pip install --quiet --disable-pip-version-check -r requirements.txt
	touch $@

# Configures once; afterwards ninja rebuilds only what changed (and reconfigures by itself when
# CMakeLists.txt changes).
build: $(VENV)/.ready
	@mkdir -p $(BUILD) && prefix=$${TAVORO_RAYLIB_PREFIX:-$$(scripts/build-raylib.sh)} && \
	if [ ! -f $(BUILD)/build.ninja ] || ! grep -qs "RAYLIB_PREFIX:PATH=$$prefix$$" $(BUILD)/CMakeCache.txt; then \
		flock $(BUILD)/.lock cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(CURDIR)/$(PY) \
			-DRAYLIB_PREFIX=$$prefix -DTAVORO_IN_TREE=ON -DTAVORO_TEST_MODULES=ON >/dev/null; \
	fi
	flock $(BUILD)/.lock cmake --build $(BUILD) -- -k 0

# A wheel as users get it, with the modules built against the same raylib.
wheel: $(VENV)/.ready
	TAVORO_RAYLIB_PREFIX=$${TAVORO_RAYLIB_PREFIX:-$$(scripts/build-raylib.sh)} \
		$(PY) -m pip wheel --no-build-isolation --no-deps -w dist .

clean:
	rm -rf build dist
	find src tests -name '*.so' -delete
