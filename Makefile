BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench sanitize fuzz screenshots format clean

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

# The whole suite, window tests included, built with AddressSanitizer and
# UndefinedBehaviorSanitizer and run through ctest. Tests that measure the
# process's memory run apart with ASan's quarantine off, which would count as growth.
SANITIZE_MEMORY_TESTS ?= LosslessRelayTest
SANITIZE_ENV = QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
sanitize: deps
	@cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)-sanitize -j$(JOBS)
	cd $(BUILD)-sanitize && $(SANITIZE_ENV) ASAN_OPTIONS=detect_leaks=0 \
	  ctest --output-on-failure -j$(JOBS) --timeout 600 -E '$(SANITIZE_MEMORY_TESTS)'
	cd $(BUILD)-sanitize && $(SANITIZE_ENV) ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=0:thread_local_quarantine_size_kb=0:redzone=16 \
	  ctest --output-on-failure -j$(JOBS) --timeout 600 -R '$(SANITIZE_MEMORY_TESTS)'

# Each fuzz target for FUZZ_SECONDS, built with clang in $(BUILD)-fuzz.
FUZZ_SECONDS ?= 30
fuzz: deps
	@bash fuzz/run.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

screenshots: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/tools/screenshot/kestrune_screenshot docs

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
