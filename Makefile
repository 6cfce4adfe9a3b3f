# The two commands a newcomer needs: `make run` and `make test`.
# PRESET picks the CMake preset: dev (default), ci (warnings are errors), asan, tsan.
PRESET ?= dev
BUILD  := build/$(PRESET)

.PHONY: all deps build test run clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET)

test: build
	@ctest --preset $(PRESET)

run: build
	@scripts/run-unit.sh $(BUILD)

clean:
	rm -rf build
