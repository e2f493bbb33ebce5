BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench screenshots format clean

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
	@set -e; for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] || continue; echo "== $$b"; QT_QPA_PLATFORM=offscreen "$$b"; done

screenshots: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/tools/screenshot/kestrune_screenshot docs

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
