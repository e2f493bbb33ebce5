BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench sanitize screenshots format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/kestrune

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 120

bench: build
	@set -e; for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; QT_QPA_PLATFORM=offscreen "$$b"; done

# The component and logic tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
SANITIZE_TESTS ?= test_common test_codec test_exchange test_serial test_net test_debugchannel
sanitize: deps
	@cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)-sanitize -j$(JOBS) --target $(SANITIZE_TESTS)
	@set -e; for t in $(SANITIZE_TESTS); do echo "== $$t"; \
	  QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 ./$(BUILD)-sanitize/tests/$$t --gtest_brief=1; done

screenshots: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/tools/screenshot/kestrune_screenshot docs

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
