# The two set-up commands of the README: `make run` and `make test`.
# Both install missing Debian packages first, then configure and build.
PRESET ?= release
BUILD  := build/$(PRESET)
ARGS   ?=

.PHONY: all deps configure build run test bench format clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

run: build
	@tools/run.sh $(BUILD)/src/wobblestar $(ARGS)

test: build
	@ctest --preset $(PRESET) -j2

bench: build
	@tools/run-benchmarks.sh $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
