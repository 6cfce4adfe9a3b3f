# The two commands a newcomer needs: `make run` and `make test`.
# PRESET picks the CMake preset: dev (default), ci (warnings are errors), asan, tsan.
PRESET ?= dev
BUILD  := build/$(PRESET)
# The builds' own makes, run from here, would otherwise announce every directory they enter.
MAKEFLAGS += --no-print-directory

.PHONY: all deps build test run windows windows-package windows-check lab-check clean package package-check fuzz

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET)

test: build
	@ctest --preset $(PRESET)

# Only the programs, not the tests.
run: deps
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET) --target tolvane tolvane-cli quillmark-sim
	@scripts/run-unit.sh $(BUILD)

# The Windows programs, cross-built with MinGW-w64: build/windows/src/ui/win32/tolvane.exe and
# build/windows/src/ui/console/tolvane-cli.exe.
windows:
	@scripts/install-deps.sh windows
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows

# The Windows downloads, in build/windows/package: tolvane-VERSION-win64.zip (the two programs,
# README.txt, LICENSE.txt) and tolvane-VERSION-win64-setup.exe (NSIS, packaging/windows).
windows-package: windows
	@packaging/windows/package.sh build/windows

# Runs the Windows build under Wine: its unit tests, tolvane-cli.exe --list, the window, and the
# installer's silent install and uninstall.
windows-check: windows-package
	@scripts/windows-smoke.sh build/windows

# The Debian package for Linux users, in a tree of its own built with Debian's hardening and
# optimisation flags: build/package/package/tolvane_VERSION_ARCH.deb.
DEB_FLAGS := DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package:
	@scripts/install-deps.sh package
	@cmake --preset package -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
	  -DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)" >/dev/null
	@cmake --build --preset package
	@cd build/package && cpack -G DEB >/dev/null
	@ls build/package/package/tolvane_*.deb

# The package as Debian's lintian judges it, every tag counted, and each manual page as man
# renders it: any message fails.
package-check: package
	@packaging/check.sh build/package

# The tree built with clang, and every libFuzzer target run from its seeds for FUZZ_SECONDS
# (default 60) each, two at a time. A crash's input is kept under build/clang/fuzz/artifacts.
fuzz:
	@scripts/install-deps.sh clang
	@cmake --preset clang >/dev/null
	@cmake --build --preset clang --target fuzz-targets
	@fuzz/run.sh build/clang

# The lab: one throwaway VM (qemu, Debian's kernel, uhid) that runs the Windows build's whole
# session under Wine against a kernel HID device, and the tests that need /dev/uhid.
# LAB_PHASES='6*' runs a subset of tests/lab/phases. See tests/lab/README.md.
lab-check: build windows
	@scripts/install-deps.sh lab
	@tests/lab/wine-prefix.sh build/lab/wineprefix
	@LAB_LINUX_BUILD=$(CURDIR)/$(BUILD) LAB_WINDOWS_BUILD=$(CURDIR)/build/windows \
	  LAB_WINEPREFIX=$(CURDIR)/build/lab/wineprefix \
	  tests/lab/run-in-vm.sh --overlay build/lab/wineprefix --overlay $(BUILD) -- tests/lab/run-phases.sh

clean:
	rm -rf build

# Figures of the tool against quillmark-sim beside the raw transport, from a Release build.
.PHONY: bench
bench:
	@scripts/install-deps.sh bench
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target tolvane-cli quillmark-sim bench-raw-client bench-window bench-rescan
	@python3 bench/bench.py build/release

# Whether the C++ sources follow .clang-format; shows the difference where they do not.
.PHONY: format-check
format-check:
	@scripts/install-deps.sh format
	@scripts/format-check.sh
