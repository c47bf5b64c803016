# Set-up, build and checks. `make demo` and `make test` do everything from a fresh machine:
# a virtual environment with CPython 3.13, a headless raylib in the user's cache (or the one
# named by TAVORO_RAYLIB_PREFIX), and an in-tree build of the modules.

VENV := .venv
PY := $(VENV)/bin/python
BUILD := build/dev
export PATH := $(CURDIR)/$(VENV)/bin:$(PATH)

.PHONY: demo test build wheel clean sanitize fuzz bench

demo: build
	PYTHONPATH=src $(PY) examples/demo.py

test: build
	@scripts/install-test-services.sh
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

# The modules (raylib as it is) built with AddressSanitizer and UndefinedBehaviorSanitizer into a
# tree of their own, and the whole suite run on them: any report fails the run. The interpreter is
# not instrumented, so its allocations go through malloc where the sanitizer sees them, and leak
# detection is off (the interpreter keeps much of what it allocates until exit).
ASAN_BUILD := build/asan
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
sanitize: $(VENV)/.ready
	@mkdir -p $(ASAN_BUILD) && prefix=$${TAVORO_RAYLIB_PREFIX:-$$(scripts/build-raylib.sh)} && \
	if [ ! -f $(ASAN_BUILD)/build.ninja ] || ! grep -qs "RAYLIB_PREFIX:PATH=$$prefix$$" $(ASAN_BUILD)/CMakeCache.txt; then \
		cmake -S . -B $(ASAN_BUILD) -G Ninja -DPython_EXECUTABLE=$(CURDIR)/$(PY) \
			-DRAYLIB_PREFIX=$$prefix -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVORO_TEST_MODULES=ON \
			-DTAVORO_OUTPUT_ROOT=$(CURDIR)/$(ASAN_BUILD)/pkg "-DCMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" \
			"-DCMAKE_MODULE_LINKER_FLAGS=$(SANITIZE_FLAGS)" \
			"-DCMAKE_SHARED_LINKER_FLAGS=$(SANITIZE_FLAGS)" >/dev/null; \
	fi
	cmake --build $(ASAN_BUILD) -j 2
	@rm -f $(ASAN_BUILD)/report.*
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	PYTHONMALLOC=malloc TAVORO_MODULE_TREE=$(ASAN_BUILD)/pkg \
	ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1:log_path=$(CURDIR)/$(ASAN_BUILD)/report \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(CURDIR)/$(ASAN_BUILD)/report \
		$(PY) -m pytest -q -p no:cacheprovider tests; status=$$?; \
	for report in $(ASAN_BUILD)/report.*; do [ -f "$$report" ] && cat "$$report" && status=1; done; \
	exit $$status

# A long property-based run (the default run of the suite tries few examples per property).
fuzz: build
	TAVORO_FUZZ_EXAMPLES=$${TAVORO_FUZZ_EXAMPLES:-5000} $(PY) -m pytest -q tests/test_fuzz.py

# Times tavoro against its peers on the same operations and writes the table to
# bench/results.md; the peers (bench/requirements.txt) go into the virtual environment on first use.
bench: build $(VENV)/.bench-ready
	PYTHONPATH=src PYGAME_HIDE_SUPPORT_PROMPT=1 $(PY) bench/peers.py

$(VENV)/.bench-ready: bench/requirements.txt $(VENV)/.ready
	$(PY) -m pip install --quiet --disable-pip-version-check -r bench/requirements.txt
	touch $@

# A wheel as users get it, with the modules built against the same raylib.
wheel: $(VENV)/.ready
	TAVORO_RAYLIB_PREFIX=$${TAVORO_RAYLIB_PREFIX:-$$(scripts/build-raylib.sh)} \
		$(PY) -m pip wheel --no-build-isolation --no-deps -w dist .

clean:
	rm -rf build dist
	find src tests -name '*.so' -delete
