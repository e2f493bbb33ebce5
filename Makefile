BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
MAKEFLAGS += --no-print-directory

.PHONY: all program run install package test bench sanitize screenshots format clean

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

# The component and logic tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
SANITIZE_TESTS ?= test_common test_codec test_exchange test_serial test_net test_debugchannel
sanitize:
	@bash scripts/install-deps.sh run test
	@cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)-sanitize -j$(JOBS) --target $(SANITIZE_TESTS)
	@set -e; for t in $(SANITIZE_TESTS); do echo "== $$t"; \
	  QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 ./$(BUILD)-sanitize/tests/$$t --gtest_brief=1; done

# --- Helpers -----------------------------------------------------------------

screenshots: program
	@cmake --build $(BUILD) -j$(JOBS) --target kestrune_screenshot
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/tools/screenshot/kestrune_screenshot docs

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize
