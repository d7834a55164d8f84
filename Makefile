# Thin wrapper over CMake. `make run` and `make test` install what they need first.
BUILD      ?= build
ASAN_BUILD ?= build/asan
CMAKE_ARGS ?=
CTEST_ARGS ?= --output-on-failure -j2

.PHONY: setup configure build run test test-fast test-asan bench clean

setup:
	@./scripts/setup

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@./scripts/run-example

test: test-fast test-asan

test-fast: build
	cd $(BUILD) && ctest $(CTEST_ARGS)

test-asan: setup
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPT_SANITIZE=address,undefined $(CMAKE_ARGS) >/dev/null
	@cmake --build $(ASAN_BUILD)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest $(CTEST_ARGS)

bench: build
	@./scripts/run-bench $(BUILD)

clean:
	rm -rf $(BUILD)
