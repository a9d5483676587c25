# Thin wrapper over the CMake presets: `make demo`, `make test`.
.PHONY: all deps build demo test test-dev test-asan fuzz bench clean

FUZZ_SECONDS ?= 20

all: build

deps:
	scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev

demo: build
	scripts/demo

test: deps test-dev test-asan fuzz

test-dev:
	cmake --preset dev
	cmake --build --preset dev
	ctest --preset dev

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Each libFuzzer target runs for a bounded time.
fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz
	scripts/run-fuzz build/fuzz $(FUZZ_SECONDS)

bench: deps
	cmake --preset release
	cmake --build --preset release
	scripts/run-bench build/release

clean:
	rm -rf build
