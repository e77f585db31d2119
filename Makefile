# Developer entry points. `make demo` and `make test` work on a fresh Debian machine as root:
# they create a virtualenv, install what is needed and run. `make demo` (and `make install`)
# installs only what running quorl needs: requirements.txt, and with apt-get, announced, only
# what is missing of BUILD_PACKAGES. `make test` adds requirements-dev.txt and, with apt-get,
# announced, SYSTEM_PACKAGES.

PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python
# Each virtualenv keeps its own CMake build folder, so rebuilds are incremental and several
# virtualenvs can build side by side.
BUILD_DIR ?= build/$(notdir $(VENV))
PYTEST_ARGS ?=
CMAKE_ARGS ?=
ASAN_VENV ?= .venv-asan

# Debian packages building quorl needs, each only where it is missing: a C++ compiler, Python's
# headers and venv module (a pyenv or python.org Python has both).
BUILD_PACKAGES := $(if $(shell command -v c++ 2>/dev/null),,g++) \
  $(if $(shell $(PYTHON) -c "import os, sysconfig; \
    print(os.path.exists(sysconfig.get_paths()['include'] + '/Python.h') or '')" 2>/dev/null),,python3-dev) \
  $(if $(shell $(PYTHON) -c "import ensurepip; print(1)" 2>/dev/null),,python3-venv)
BUILD_PACKAGES := $(strip $(BUILD_PACKAGES))

# Debian packages the tests use (make test, make cpp-test): GoogleTest for the C++ core, poppler for rendering checks,
# Chromium for the review page (driven by Playwright, whose own browser download is not used),
# Tesseract and its simplified Chinese data for the OCR of scanned patents.
SYSTEM_PACKAGES := libgtest-dev poppler-utils fonts-noto-cjk chromium tesseract-ocr \
  tesseract-ocr-chi-sim
SYSTEM_STAMP := build/.system-packages

.PHONY: all install run-deps deps system-deps test pytest cpp-test demo sample asan-test bench fuzz-setup fuzz fuzz-ci format clean

all: install

$(PY):
	$(call apt_ensure,$(BUILD_PACKAGES))
	$(PYTHON) -m venv $(VENV)

# A virtualenv made when quorl required the full pymupdf holds it and its add-ons; pymupdf-lite
# installs the same files, so both go and pymupdf-lite comes back alone (from Python 3.11 on,
# which pymupdf-lite needs; before it the full pymupdf 1.x is the dependency).
$(VENV)/.run-deps: requirements.txt | $(PY)
	$(PY) -m pip install -q --upgrade pip
	if $(PY) -c 'import sys; sys.exit(sys.version_info < (3, 11))' && \
	  $(PY) -m pip show -q pymupdf 2>/dev/null; then \
	  $(PY) -m pip uninstall -q -y pymupdf pymupdf-layout pymupdf4llm onnxruntime pymupdf-lite; fi
	$(PY) -m pip install -q -r requirements.txt
	touch $@

# The development tools on top (tests, type checks, benchmarks, the Dask cluster extra).
$(VENV)/.deps: requirements-dev.txt $(VENV)/.run-deps
	$(PY) -m pip install -q -r requirements-dev.txt
	touch $@

run-deps: $(VENV)/.run-deps

deps: $(VENV)/.deps

# Installs the Debian packages given that are missing; a machine without apt-get or root is left
# as it is.
apt_ensure = @missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ] && command -v apt-get >/dev/null && [ "$$(id -u)" = 0 ]; then \
	  echo "make: installing Debian packages with apt-get:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	elif [ -n "$$missing" ]; then \
	  echo "make: not installed (no apt-get or not root), install them yourself:$$missing"; \
	fi

$(SYSTEM_STAMP): Makefile
	mkdir -p build
	$(call apt_ensure,$(SYSTEM_PACKAGES))
	touch $@

system-deps: $(SYSTEM_STAMP)

install: run-deps
	$(PY) -m pip install -q --no-build-isolation --no-deps \
	  -Cbuild-dir=$(BUILD_DIR) $(foreach a,$(CMAKE_ARGS),-Ccmake.define.$(a)) .

# C++ tests first, so the Python test runner's summary is the last line printed.
test: system-deps deps install cpp-test pytest

pytest: deps install
	$(PY) -m pytest -q $(PYTEST_ARGS)

cpp-test: system-deps deps
	$(VENV)/bin/cmake -S . -B build/cpp-tests -G Ninja -DQUORL_CPP_TESTS=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja >/dev/null
	$(VENV)/bin/cmake --build build/cpp-tests
	cd build/cpp-tests && $(abspath $(VENV))/bin/ctest --output-on-failure

# Marks the sample patent of examples/ (see README.md for what lands in demo-out/).
demo: install
	rm -rf demo-out
	$(VENV)/bin/quorl-mark examples/sample.html examples/sample.pdf examples/sample-marks.json \
	  -o demo-out/sample-marked.pdf --marks-out demo-out/sample-marks-pdf.json \
	  --diff-view demo-out/diff --preview demo-out/preview --review demo-out/review

# Regenerates the sample patent of examples/ with the project's test-patent generator.
sample: install
	$(PY) examples/make_sample.py

# The module built with AddressSanitizer and UndefinedBehaviorSanitizer, the Python tests run
# against it. The interpreter is not instrumented, so the runtime is preloaded. The preload
# reaches every process a test starts, so the tests that time child processes (batch marking,
# its Dask mode and the child pool) or drive Chromium are left to make test; the C++ they reach is
# exercised by the other tests.
ASAN_SKIP := $(foreach f,$(wildcard tests/test_batch*.py) tests/test_children.py \
  tests/test_review.py tests/test_w3c_browser.py,--ignore=$(f))
asan-test:
	$(MAKE) deps install VENV=$(ASAN_VENV) CMAKE_ARGS="QUORL_SANITIZE=ON CMAKE_BUILD_TYPE=RelWithDebInfo"
	LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $(ASAN_VENV)/bin/python -m pytest -q -p no:cacheprovider $(ASAN_SKIP) $(PYTEST_ARGS)

# Every bench/bench_*.py prints its own table; cdifflib and cydifflib are for comparison only.
bench: deps install
	$(PY) -m pip install -q cdifflib cydifflib
	for script in bench/bench_*.py; do $(PY) $$script || exit 1; done

# Runs each atheris harness of fuzz/ for FUZZ_SECONDS, one after the other; a crash, a sanitizer
# report, SystemError or a wrong result stops it, leaving the input in build/fuzz-crash-*. Corpora
# grow in build/fuzz-corpus/, so later runs start where earlier ones stopped; fuzz/seeds.py adds
# real patents' text to them. The module is built by Debian's clang with libFuzzer's coverage
# counters, ASan and UBSan, so the fuzzer steers by the C++ branches too. atheris comes as the
# wheel; the runtime it would build from source (ASan and libFuzzer in one library, preloaded
# into the interpreter) is linked here from the same clang's compiler-rt archives, leaving out
# ASan's preinit object, which a shared library cannot hold. Each log (build/fuzz-NAME.log) shows
# the coverage (cov:) and features (ft:) growing; the last lines are printed.
FUZZ_SECONDS ?= 120
# How long each harness runs, and the folder its corpus grows in (one subfolder a harness).
FUZZ_LIMIT ?= -max_total_time=$(FUZZ_SECONDS)
FUZZ_CORPUS ?= build/fuzz-corpus
FUZZ_VENV ?= .venv-fuzz
FUZZ_HARNESSES ?= $(wildcard fuzz/fuzz_*.py)
FUZZ_LLVM := 14
FUZZ_PY := $(FUZZ_VENV)/bin/python
FUZZ_RUNTIME := build/fuzz/asan_with_fuzzer.so
# The instrumented module loads only with the runtime preloaded.
FUZZ_ENV = LD_PRELOAD=$(abspath $(FUZZ_RUNTIME)) ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

$(FUZZ_RUNTIME):
	rt=$$(clang-$(FUZZ_LLVM) -print-resource-dir)/lib/linux; \
	rm -rf build/fuzz/asan-objects && mkdir -p build/fuzz/asan-objects && \
	(cd build/fuzz/asan-objects && ar x $$rt/libclang_rt.asan-x86_64.a && rm -f asan_preinit.cpp.o) && \
	clang++-$(FUZZ_LLVM) -shared -o $@ build/fuzz/asan-objects/*.o -Wl,--whole-archive \
	  $$rt/libclang_rt.asan_cxx-x86_64.a $$rt/libclang_rt.fuzzer_no_main-x86_64.a \
	  -Wl,--no-whole-archive -lpthread -ldl -lrt -lm

fuzz-setup:
	$(call apt_ensure,clang-$(FUZZ_LLVM) libclang-rt-$(FUZZ_LLVM)-dev)
	$(MAKE) deps VENV=$(FUZZ_VENV)
	$(FUZZ_PY) -m pip install -q atheris
	$(MAKE) $(FUZZ_RUNTIME)
	$(MAKE) install VENV=$(FUZZ_VENV) CMAKE_ARGS="QUORL_FUZZ=ON CMAKE_BUILD_TYPE=RelWithDebInfo \
	  CMAKE_CXX_COMPILER=clang++-$(FUZZ_LLVM)"
	PYTHONPATH=fuzz $(FUZZ_ENV) $(FUZZ_PY) fuzz/seeds.py $(FUZZ_CORPUS)

fuzz: fuzz-setup
	for harness in $(FUZZ_HARNESSES); do \
	  name=$$(basename $$harness .py); mkdir -p $(FUZZ_CORPUS)/$$name; \
	  echo "== $$name ($(FUZZ_LIMIT))"; \
	  $(FUZZ_ENV) $(FUZZ_WRAP) $(FUZZ_PY) $$harness $(FUZZ_LIMIT) -timeout=60 -rss_limit_mb=4096 \
	    -print_final_stats=1 -artifact_prefix=build/fuzz-crash-$$name- $(FUZZ_CORPUS)/$$name \
	    >build/fuzz-$$name.log 2>&1; status=$$?; \
	  grep -m1 -e 'INITED' build/fuzz-$$name.log; \
	  grep -v -e '^#[0-9]' -e '^INFO' -e '^WARNING: Failed' build/fuzz-$$name.log | tail -30; \
	  grep -e '^#[0-9]' build/fuzz-$$name.log | tail -1; \
	  [ $$status = 0 ] || exit 1; \
	done

# The short pass CI runs: each harness FUZZ_CI_RUNS inputs from a fixed -seed, starting from the
# seeds alone in a fresh corpus, steering by the C++ coverage (the Python's takes minutes to
# instrument), with Python's hashing fixed and, where the system allows it, without address
# randomisation (addresses steer hash tables, and so the coverage); so every pass of one commit
# runs the same inputs. Any crash, sanitizer report or wrong result fails it.
FUZZ_CI_RUNS ?= 2000
FUZZ_CI_WRAP := $(shell setarch $$(uname -m) -R true >/dev/null 2>&1 && echo setarch $$(uname -m) -R)
fuzz-ci:
	rm -rf build/fuzz-ci-corpus
	FUZZ_PYTHON_COVERAGE=0 PYTHONHASHSEED=0 $(MAKE) fuzz FUZZ_CORPUS=build/fuzz-ci-corpus \
	  FUZZ_LIMIT="-runs=$(FUZZ_CI_RUNS) -seed=1" FUZZ_WRAP="$(FUZZ_CI_WRAP)"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build $(VENV) $(ASAN_VENV) demo-out
