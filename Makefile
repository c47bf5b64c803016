# Set-up, build and checks. `make demo` and `make test` do everything from a fresh machine:
# a virtual environment with CPython 3.13, a headless and a desktop raylib in the user's cache (or
# the ones named by TAVORO_RAYLIB_PREFIX and TAVORO_RAYLIB_DESKTOP_PREFIX), and an in-tree build
# of the modules.

# `make test PY=3.14` (or any target) works on another interpreter: a virtual environment and a
# build tree of its own, the modules built into that tree (not in place) and found through
# TAVORO_MODULE_TREE. An interpreter that the machine lacks is installed into the user's cache
# (scripts/install-python.sh).
PY_VERSION := $(or $(filter 3.%,$(PY)),3.13)
# The interpreters the package is built and tested for; `make wheel` makes one wheel for each
# (or for the one PY names).
PY_VERSIONS := 3.13 3.14 3.15
WHEEL_VERSIONS := $(if $(filter command line,$(origin PY)),$(PY_VERSION),$(PY_VERSIONS))
ifeq ($(PY_VERSION),3.13)
VENV := .venv
BUILD := build/dev
MODULES := src
TREE_FLAGS := -DTAVORO_IN_TREE=ON
else
VENV := .venv-$(PY_VERSION)
BUILD := build/py$(PY_VERSION)
MODULES := $(BUILD)/pkg
TREE_FLAGS := -DTAVORO_OUTPUT_ROOT=$(CURDIR)/$(MODULES)
export TAVORO_MODULE_TREE := $(CURDIR)/$(MODULES)
endif
override PY := $(VENV)/bin/python
export PATH := $(CURDIR)/$(VENV)/bin:$(PATH)

.PHONY: demo test test-tools build wheel wheel-one wheel-check clean sanitize fuzz bench bench-builds

demo: build $(VENV)/.demo-ready
	PYTHONPATH=$(MODULES) $(PY) examples/demo.py

test: build test-tools
	@scripts/install-test-services.sh
	$(PY) -m pytest -q tests

# The emulator the processor check is tested under (Debian's qemu-user), installed where it is
# missing and apt can install it; without it those tests skip.
test-tools:
	@command -v qemu-x86_64 >/dev/null || [ "$$(id -u)" != 0 ] || ! command -v apt-get >/dev/null || \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user \
		>/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
		apt-get install -y -qq --no-install-recommends qemu-user >/dev/null; }

# The environment, with the project installed in editable mode: a path file puts the module tree
# (src/ on 3.13) on its path, so `import tavoro` works from any folder and finds the modules each
# build leaves there.
$(VENV)/.ready: requirements.txt scripts/find-python.sh scripts/install-python.sh
	@test -x $(PY) || { python=$$(scripts/find-python.sh $(PY_VERSION)) && $$python -m venv $(VENV); }
	$(PY) -m pip install --quiet --disable-pip-version-check -r requirements.txt
	$(PY) -c 'import pathlib, sysconfig; pathlib.Path(sysconfig.get_path("purelib"), "tavoro.pth").write_text("$(CURDIR)/$(MODULES)\n")'
	touch $@

# Configures once; afterwards ninja rebuilds only what changed (and reconfigures by itself when
# CMakeLists.txt changes).
build: $(VENV)/.ready
	@mkdir -p $(BUILD) && prefix=$${TAVORO_RAYLIB_PREFIX:-$$(scripts/build-raylib.sh)} && \
	desktop=$${TAVORO_RAYLIB_DESKTOP_PREFIX:-$$(TAVORO_RAYLIB_PLATFORM=desktop scripts/build-raylib.sh || true)} && \
	if [ ! -f $(BUILD)/build.ninja ] || ! grep -qs "^RAYLIB_PREFIX:PATH=$$prefix$$" $(BUILD)/CMakeCache.txt || \
		! grep -qs "^RAYLIB_DESKTOP_PREFIX:PATH=$$desktop$$" $(BUILD)/CMakeCache.txt; then \
		flock $(BUILD)/.lock cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(CURDIR)/$(PY) \
			-DRAYLIB_PREFIX=$$prefix -DRAYLIB_DESKTOP_PREFIX=$$desktop $(TREE_FLAGS) -DTAVORO_TEST_MODULES=ON >/dev/null; \
	fi
	flock $(BUILD)/.lock cmake --build $(BUILD) -- -k 0

# The modules (raylib as it is) built with AddressSanitizer and UndefinedBehaviorSanitizer into a
# tree of their own, and the whole suite run on them: any report fails the run. The interpreter is
# not instrumented, so its allocations go through malloc where the sanitizer sees them, and leak
# detection is off (the interpreter keeps much of what it allocates until exit).
ASAN_BUILD := $(if $(filter 3.13,$(PY_VERSION)),build/asan,$(BUILD)/asan)
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
sanitize: $(VENV)/.ready
	@mkdir -p $(ASAN_BUILD) && prefix=$${TAVORO_RAYLIB_PREFIX:-$$(scripts/build-raylib.sh)} && \
	desktop=$${TAVORO_RAYLIB_DESKTOP_PREFIX:-$$(TAVORO_RAYLIB_PLATFORM=desktop scripts/build-raylib.sh || true)} && \
	if [ ! -f $(ASAN_BUILD)/build.ninja ] || ! grep -qs "^RAYLIB_PREFIX:PATH=$$prefix$$" $(ASAN_BUILD)/CMakeCache.txt || \
		! grep -qs "^RAYLIB_DESKTOP_PREFIX:PATH=$$desktop$$" $(ASAN_BUILD)/CMakeCache.txt; then \
		cmake -S . -B $(ASAN_BUILD) -G Ninja -DPython_EXECUTABLE=$(CURDIR)/$(PY) \
			-DRAYLIB_PREFIX=$$prefix -DRAYLIB_DESKTOP_PREFIX=$$desktop -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVORO_TEST_MODULES=ON \
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

# A long property-based run (the default run of the suite tries few examples per property), also of
# hostile drawing, then a long run of the audio file fuzzer.
fuzz: build
	TAVORO_FUZZ_EXAMPLES=$${TAVORO_FUZZ_EXAMPLES:-5000} $(PY) -m pytest -q tests/test_fuzz.py tests/test_draw_fuzz.py
	TAVORO_FILE_FUZZ_MUTANTS=$${TAVORO_FILE_FUZZ_MUTANTS:-2000} $(PY) -m pytest -q tests/test_file_fuzz.py
	TAVORO_IMAGE_FUZZ_MUTANTS=$${TAVORO_IMAGE_FUZZ_MUTANTS:-20000} $(PY) -m pytest -q tests/test_image_fuzz.py

# Times tavoro against its peers on the same operations and writes the tables to
# bench/results.md, bench/drawing.md and bench/pictures.md; the peers (bench/requirements.txt) go into the virtual
# environment on first use.
bench: build $(VENV)/.bench-ready
	PYTHONPATH=$(MODULES) PYGAME_HIDE_SUPPORT_PROMPT=1 $(PY) bench/peers.py
	PYTHONPATH=$(MODULES) $(PY) bench/drawing.py
	PYTHONPATH=$(MODULES) $(PY) bench/pictures.py

# The release wheel against the development build on the vector, rect and audio rows, the two
# taking turns in one run (bench/builds.py), written to bench/builds.md.
bench-builds: build $(VENV)/.bench-ready
	wheel=$$(PYTHON=$(PY) scripts/build-wheel.sh build/bench-wheel) && $(PY) bench/builds.py "$$wheel"

# Pillow, with which the demo draws its run; neither the build nor the tests need it.
$(VENV)/.demo-ready: examples/requirements.txt $(VENV)/.ready
	$(PY) -m pip install --quiet --disable-pip-version-check -r examples/requirements.txt
	touch $@

$(VENV)/.bench-ready: bench/requirements.txt $(VENV)/.ready
	$(PY) -m pip install --quiet --disable-pip-version-check -r bench/requirements.txt
	touch $@

# The wheels users get, in dist/: one for each interpreter and each architecture (x86_64 and
# aarch64, or the one ARCH names), each made by `wheel-one` in that interpreter's virtual
# environment with the release toolchain (scripts/build-wheel.sh: zig for glibc 2.17, raylib built
# the same way, which auditwheel copies into it), tagged manylinux2014.
WHEEL_ARCHS := $(or $(ARCH),x86_64 aarch64)
VERSION = $(shell sed -n 's/^version = "\(.*\)"/\1/p' pyproject.toml)
wheel:
	@for version in $(WHEEL_VERSIONS); do for arch in $(WHEEL_ARCHS); do \
		$(MAKE) --no-print-directory wheel-one PY=$$version ARCH=$$arch || exit 1; done; done

wheel-one: $(VENV)/.ready
	PYTHON=$(PY) TAVORO_TARGET_ARCH=$(or $(ARCH),x86_64) scripts/build-wheel.sh dist

# The wheels tested where users install them (scripts/wheel-check.sh): their symbols and ymm
# returns, the portable tests in a Debian 11 root and under qemu-aarch64.
wheel-check: wheel
	PYTHON=$(PY) scripts/wheel-check.sh $(foreach version,$(WHEEL_VERSIONS),$(foreach arch,$(WHEEL_ARCHS),\
		dist/tavoro-$(VERSION)-cp$(subst .,,$(version))-cp$(subst .,,$(version))-manylinux2014_$(arch).manylinux_2_17_$(arch).whl))

clean:
	rm -rf build dist
	find src tests -name '*.so' -delete
