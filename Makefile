BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
MAKEFLAGS += --no-print-directory

.PHONY: all program run install package test bench sanitize fuzz screenshots format clean

all: program

# --- The program: only its own packages and targets -------------------------

# A first configure leaves the tests out, so a fresh clone needs none of their
# packages; a build folder that `make test` configured keeps them.
program:
	@bash scripts/install-deps.sh run
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DKESTRUNE_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target kestrune

# RUN_WITH wraps the program, e.g. `make run RUN_WITH="timeout 5"` in CI.
run: program
	$(RUN_WITH) ./$(BUILD)/kestrune

install: program
	cmake --install $(BUILD) --prefix $(PREFIX)

package: program
	@bash scripts/install-deps.sh package
	cd $(BUILD) && cpack -G DEB

# --- Tests and benchmarks ----------------------------------------------------

CONFIGURE_TESTS = cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DKESTRUNE_BUILD_TESTS=ON >/dev/null

test:
	@bash scripts/install-deps.sh run test
	@$(CONFIGURE_TESTS)
	@cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 120

bench:
	@bash scripts/install-deps.sh run test bench
	@$(CONFIGURE_TESTS)
	@cmake --build $(BUILD) -j$(JOBS) --target benchmarks
	@set -e; for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; QT_QPA_PLATFORM=offscreen "$$b"; done

# The whole suite, window tests included, built with AddressSanitizer and
# UndefinedBehaviorSanitizer and run through ctest. Tests that measure the
# process's memory run apart with ASan's quarantine off, which would count as growth.
SANITIZE_MEMORY_TESTS ?= LosslessRelayTest
SANITIZE_ENV = QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
sanitize:
	@bash scripts/install-deps.sh run test
	@cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON \
	  -DKESTRUNE_BUILD_TESTS=ON -DKESTRUNE_BUILD_BENCHMARKS=OFF >/dev/null
	@cmake --build $(BUILD)-sanitize -j$(JOBS)
	cd $(BUILD)-sanitize && $(SANITIZE_ENV) ASAN_OPTIONS=detect_leaks=0 \
	  ctest --output-on-failure -j$(JOBS) --timeout 600 -E '$(SANITIZE_MEMORY_TESTS)'
	cd $(BUILD)-sanitize && $(SANITIZE_ENV) ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=0:thread_local_quarantine_size_kb=0:redzone=16 \
	  ctest --output-on-failure -j$(JOBS) --timeout 600 -R '$(SANITIZE_MEMORY_TESTS)'

# The tests of the threaded parts (the serial reader and writer, the remote-port
# connect helper, the debug channel) built with ThreadSanitizer in $(BUILD)-tsan.
# Qt is not built with it: tests/tsan.supp names the reports that lie inside Qt.
.PHONY: tsan
TSAN_TARGETS = test_serial test_debugchannel
TSAN_TESTS ?= ^(Comm|RemotePort|Cases/RemotePort|DebugChannel|DebugWindowLaunch|StandIn)
TSAN_ENV = QT_QPA_PLATFORM=offscreen \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp"
tsan:
	@bash scripts/install-deps.sh run test
	@cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_TSAN=ON \
	  -DKESTRUNE_BUILD_TESTS=ON -DKESTRUNE_BUILD_BENCHMARKS=OFF >/dev/null
	@cmake --build $(BUILD)-tsan -j$(JOBS) --target $(TSAN_TARGETS)
	cd $(BUILD)-tsan && $(TSAN_ENV) ctest --output-on-failure -j$(JOBS) --timeout 600 -R '$(TSAN_TESTS)'

# Each fuzz target for FUZZ_SECONDS, built with clang in $(BUILD)-fuzz.
FUZZ_SECONDS ?= 30
fuzz:
	@bash scripts/install-deps.sh fuzz
	@bash fuzz/run.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

# --- Helpers -----------------------------------------------------------------

screenshots: program
	@cmake --build $(BUILD) -j$(JOBS) --target kestrune_screenshot
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/tools/screenshot/kestrune_screenshot docs

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize
	rm -rf $(BUILD)-tsan
