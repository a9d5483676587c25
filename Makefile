# Thin wrapper over the CMake presets: `make demo`, `make test`, `make package`,
# `make windows`, `make windows-test`.
.PHONY: all deps build demo test test-dev test-asan fuzz test-package package wheel bench windows windows-package windows-test clean

FUZZ_SECONDS ?= 20
# The wheel is built with Debian's Python and its build, setuptools and wheel.
PYTHON ?= /usr/bin/python3

all: build

deps:
	scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev

demo: build
	scripts/demo

test: deps test-dev test-asan fuzz test-package

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

# The Debian packages land in build/; test-package validates and runs them
# (check-tango-package: veltra-tango installed with the programs' package, end
# to end with a Tango database).
package: deps
	cmake --preset package
	cmake --build --preset package
	cpack --preset package
	cpack --config build/package/CPackConfig-libveltra.cmake -B build
	cpack --config build/package/CPackConfig-tango.cmake -B build

# The wheel of the veltra Python package lands in build/, offline.
wheel: deps
	$(PYTHON) -m build --no-isolation --wheel --outdir build .

test-package: package wheel
	scripts/check-package
	VELTRA_SIM=$(CURDIR)/build/package/src/sim/veltra-sim scripts/check-libveltra-packages
	scripts/check-wheel
	scripts/check-tango-package

bench: deps
	cmake --preset release
	cmake --build --preset release
	scripts/run-bench build/release

# Windows x86_64, cross-built with MinGW-w64 against the prebuilt Qt for
# Windows (unpacked when missing); tests and the installer run under Wine.
windows: deps
	scripts/windows-qt
	cmake --preset windows
	cmake --build --preset windows

windows-package: windows
	cpack --preset windows

# The end-to-end test runs the Linux build's veltra-sim and veltractl beside
# the Windows programs.
windows-test: windows-package
	cmake --preset dev
	cmake --build --preset dev --target veltra-sim veltractl
	scripts/windows-test

clean:
	rm -rf build
