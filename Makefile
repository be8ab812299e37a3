# Two entry points for a newcomer: `make demo` and `make test`. Both create .venv with a
# CPython >= 3.12 (the machine's default python3 may be older) and install from the registries.

VENV   := .venv
PY     := $(VENV)/bin/python
PYTHON ?= $(shell for p in python3.13 python3.12 /root/.pyenv/versions/3.13*/bin/python3 /root/.pyenv/versions/3.12*/bin/python3; do \
            command -v $$p >/dev/null 2>&1 && $$p -c 'import sys; sys.exit(sys.version_info < (3, 12))' 2>/dev/null && { command -v $$p; break; }; done)
CORE_BUILD := build/core-tests

.PHONY: venv install demo test test-native test-python sanitize sanitized-module fuzz fuzz-sanitize \
        fuzz-files bench clean

$(PY):
	@test -n "$(PYTHON)" || { echo "need CPython >= 3.12 (set PYTHON=...)"; exit 1; }
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip

install: $(PY)
	$(PY) -m pip install --quiet ".[all,test]"

demo: install
	mkdir -p out
	$(VENV)/bin/strandify examples/letters.json -o out/letters.svg --png out/letters.png
	@echo "wrote out/letters.svg and out/letters.png"

test-native: $(PY)
	$(PY) -m pip install --quiet "cmake>=3.21" ninja
	$(VENV)/bin/cmake -S . -B $(CORE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DSTRANDIFY_BUILD_TESTS=ON -DSTRANDIFY_BUILD_MODULE=OFF -DPython_EXECUTABLE=$(abspath $(PY))
	$(VENV)/bin/cmake --build $(CORE_BUILD)
	$(CORE_BUILD)/core_tests

test-python: install
	$(PY) -m pytest -q

test: test-native test-python

# The whole suite under AddressSanitizer and UBSan (float-cast-overflow included).
SANITIZE_FLAGS := address,undefined,float-cast-overflow
SANITIZE_ENV   := UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)"

sanitize: sanitized-module
	$(VENV)/bin/cmake -S . -B build/asan-core -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DSTRANDIFY_BUILD_TESTS=ON -DSTRANDIFY_BUILD_MODULE=OFF -DPython_EXECUTABLE=$(abspath $(PY)) \
	  -DSTRANDIFY_SANITIZE=$(SANITIZE_FLAGS)
	$(VENV)/bin/cmake --build build/asan-core
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build/asan-core/core_tests
	ASAN_OPTIONS=detect_leaks=0 $(SANITIZE_ENV) $(PY) -m pytest -q -p no:cacheprovider
	$(PY) -m pip install --quiet --force-reinstall --no-deps ".[all,test]"

# The extension module built with the sanitizers, installed into .venv in place of the release one.
sanitized-module: $(PY)
	$(PY) -m pip install --quiet "cmake>=3.21" ninja scikit-build-core pip
	$(PY) -m pip install --quiet --no-build-isolation ".[all,test]" \
	  -Ccmake.build-type=Debug -Cbuild-dir=build/asan-module \
	  -Ccmake.define.STRANDIFY_SANITIZE=$(SANITIZE_FLAGS)

# The native fuzzer for as long as asked: make fuzz SECONDS=600 [SEED=7] [JOBS=2] [PROFILE=safe]
SECONDS ?= 300
SEED    ?= $(shell date +%s)
JOBS    ?= 2
PROFILE ?= full
FUZZ     = $(PY) tests/fuzz/fuzz_native.py --seed $(SEED) --seconds $(SECONDS) --jobs $(JOBS) \
  --profile $(PROFILE)

fuzz: install
	mkdir -p build
	$(FUZZ) --report build/fuzz-report.json

# The file fuzzer for as long as asked: mutated real files through every reader and the command
# line. make fuzz-files SECONDS=600 [SEED=7] [JOBS=2]
fuzz-files: install
	mkdir -p build
	$(PY) tests/fuzz/fuzz_files.py --seed $(SEED) --seconds $(SECONDS) --jobs $(JOBS) \
	  --report build/fuzz-files-report.json

# The same against the sanitizer build. A sanitizer reserves terabytes of address space, so the
# children get ASan's own allocation limits instead of an address-space limit.
fuzz-sanitize: sanitized-module
	mkdir -p build
	ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=3072:soft_rss_limit_mb=3072 \
	  $(SANITIZE_ENV) $(FUZZ) --memory-mb 0 --timeout 60 --report build/fuzz-sanitize-report.json; \
	  status=$$?; $(PY) -m pip install --quiet --force-reinstall --no-deps ".[all,test]"; exit $$status

bench: install
	$(PY) bench/bench_strandify.py

clean:
	rm -rf build out $(VENV)
