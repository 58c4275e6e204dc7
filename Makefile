# Thin wrapper over CMake presets. `make demo` and `make test` work on a fresh Debian
# machine: both install missing packages first.
PRESET ?= default
BUILD_DIR := build/$(PRESET)

.PHONY: all deps configure build test demo install package asan tsan fuzz windows clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

test: build
	@ctest --preset $(PRESET)

# The demo needs the command and the three libraries only, not the tests and benchmarks.
demo: configure
	@cmake --build --preset $(PRESET) --target glimmerpane
	@$(BUILD_DIR)/bin/glimmerpane demo

# make install [PREFIX=/usr/local] [DESTDIR=...]: the command, the libraries beside it, the
# man page and the bash completion (packaging/CMakeLists.txt).
PREFIX ?= /usr/local
install: configure
	@cmake --build --preset $(PRESET) --target glimmerpane gp_man_page
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# make package: a Debian package in build/<preset>/ (installs under /usr).
package: configure
	@cmake --build --preset $(PRESET) --target glimmerpane gp_man_page
	@cd $(BUILD_DIR) && cpack -G DEB

asan:
	@$(MAKE) --no-print-directory test PRESET=asan

tsan:
	@$(MAKE) --no-print-directory test PRESET=tsan

# The fuzz targets (clang, libFuzzer, ASan+UBSan): replays every seed corpus, then fuzzes each
# target for FUZZ_SECONDS (default 60).
FUZZ_SECONDS ?= 60
fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/fuzz $(FUZZ_SECONDS)

# The Windows build: MinGW-w64 cross build (preset mingw), its suite run under Wine in a
# fresh WINEPREFIX inside build/mingw. install-deps adds the toolchain and Wine only here.
windows:
	@GP_WINDOWS=1 scripts/install-deps
	@cmake --preset mingw >/dev/null
	@cmake --build --preset mingw
	@scripts/windows-test

clean:
	rm -rf build
