# Thin wrapper over CMake. `make run` and `make test` install what they need first.
BUILD      ?= build
ASAN_BUILD ?= build/asan
CMAKE_ARGS ?=
CTEST_ARGS ?= --output-on-failure -j2

FUZZ_BUILD   ?= build/fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= $(patsubst tests/fuzz/fuzz_%.cpp,%,$(wildcard tests/fuzz/fuzz_*.cpp))

.PHONY: setup configure build run test test-fast test-asan bench fuzz clean

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

# libFuzzer runs (clang): each target for FUZZ_SECONDS, new inputs kept in $(FUZZ_BUILD)/corpus.
fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DPT_FUZZ=ON -DPT_BENCH=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzzers
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts/$$t && \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS)s" && \
	  $(FUZZ_BUILD)/tests/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t/ \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t || exit 1; \
	done

clean:
	rm -rf $(BUILD)
