# Two entry points for a newcomer: `make demo` and `make test`. Both create .venv with a
# CPython >= 3.12 (the machine's default python3 may be older) and install from the registries.

VENV   := .venv
PY     := $(VENV)/bin/python
PYTHON ?= $(shell for p in python3.13 python3.12 /root/.pyenv/versions/3.13*/bin/python3 /root/.pyenv/versions/3.12*/bin/python3; do \
            command -v $$p >/dev/null 2>&1 && $$p -c 'import sys; sys.exit(sys.version_info < (3, 12))' 2>/dev/null && { command -v $$p; break; }; done)
CORE_BUILD := build/core-tests

.PHONY: venv install demo test test-native test-python sanitize bench clean

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
sanitize: $(PY)
	$(PY) -m pip install --quiet "cmake>=3.21" ninja scikit-build-core pip
	$(VENV)/bin/cmake -S . -B build/asan-core -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DSTRANDIFY_BUILD_TESTS=ON -DSTRANDIFY_BUILD_MODULE=OFF -DPython_EXECUTABLE=$(abspath $(PY)) \
	  -DSTRANDIFY_SANITIZE=address,undefined,float-cast-overflow
	$(VENV)/bin/cmake --build build/asan-core
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build/asan-core/core_tests
	$(PY) -m pip install --quiet --no-build-isolation ".[all,test]" \
	  -Ccmake.build-type=Debug -Cbuild-dir=build/asan-module \
	  -Ccmake.define.STRANDIFY_SANITIZE=address,undefined,float-cast-overflow
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)" \
	  $(PY) -m pytest -q -p no:cacheprovider
	$(PY) -m pip install --quiet --force-reinstall --no-deps ".[all,test]"

bench: install
	$(PY) bench/bench_strandify.py

clean:
	rm -rf build out $(VENV)
