# make setup | build | test | demo | doctor | sanitize | fuzz | bench | wheel | bm3d-proto
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
BUILD := build
JOBS ?= $(shell nproc)
APT_PACKAGES := ocl-icd-libopencl1 pocl-opencl-icd clinfo libtbb12 libtbbmalloc2
export PYTHONPATH := $(CURDIR)/python
# pocl compiles kernels on first use; keep its cache inside the tree when HOME is read-only.
export POCL_CACHE_DIR ?= $(CURDIR)/build/pocl-cache

.PHONY: setup apt build test test-cpp test-python demo doctor sanitize sanitize-plugins fuzz bench wheel clean \
	bm3d-proto

setup: apt $(VENV)/.stamp

apt:
	@missing=""; for p in $(APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing >/dev/null; \
	fi

# The package is installed as a plain path entry to python/ (see scripts/dev-install), only where
# .venv is this tree's own: trees that share another's .venv by symlink import through PYTHONPATH.
$(VENV)/.stamp: requirements/runtime.txt requirements/dev.txt scripts/dev-install
	@test -x $(PY) || "$$(scripts/find-python)" -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements/dev.txt
	@test -L $(VENV) || $(PY) scripts/dev-install
	touch $@

$(BUILD)/build.ninja: $(VENV)/.stamp CMakeLists.txt
	$(VENV)/bin/cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja -DPython_EXECUTABLE=$(CURDIR)/$(PY)

build: setup $(BUILD)/build.ninja
	$(VENV)/bin/cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ../$(VENV)/bin/ctest --output-on-failure -j $(JOBS)
	$(PY) -m pytest -q tests/python
	$(PY) tests/fuzz/driver.py --seconds 20 --jobs $(JOBS)

# Sample clips, degraded, restored with each preset and a plain BM3D pass; figures in demo/.
demo: build
	$(PY) -m orvo.demo --out demo

doctor: build
	$(PY) -m orvo doctor

# C++ kernel tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: setup
	$(VENV)/bin/cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=ON -DORVO_KERNEL_TESTS_ONLY=ON \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja -DPython_EXECUTABLE=$(CURDIR)/$(PY)
	$(VENV)/bin/cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ../$(VENV)/bin/ctest --output-on-failure -j $(JOBS)

# Our plugins themselves under ASan and UBSan, in build-asan-plugins/plugins (never the package's copies).
sanitize-plugins: setup
	$(VENV)/bin/cmake -S . -B build-asan-plugins -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=ON -DORVO_PLUGINS_ONLY=ON \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja -DPython_EXECUTABLE=$(CURDIR)/$(PY)
	$(VENV)/bin/cmake --build build-asan-plugins -j $(JOBS)

# Random formats, sizes, samples and arguments through every plugin function, against the sanitizer build.
FUZZ_SECONDS ?= 180
FUZZ_JOBS ?= $(JOBS)
fuzz: sanitize-plugins
	$(PY) tests/fuzz/driver.py --plugins build-asan-plugins/plugins --seconds $(FUZZ_SECONDS) --jobs $(FUZZ_JOBS)

bench: build
	$(PY) bench/plugins.py

# Built from the tracked files only, so in-place build outputs never reach the wheel.
wheel: setup
	rm -rf build/wheel-src && mkdir -p build/wheel-src
	git ls-files -z | xargs -0 cp --parents -t build/wheel-src
	$(PY) -m pip wheel --no-deps -w dist build/wheel-src

# Stand-alone BM3D study (bench/bm3d_proto/README.md); not part of build or test.
bm3d-proto:
	$(MAKE) -C bench/bm3d_proto OUT=$(CURDIR)/$(BUILD)/bm3d_proto

clean:
	rm -rf $(BUILD) build-asan build-asan-plugins dist python/orvo/*.so python/orvo/plugins/*.so
