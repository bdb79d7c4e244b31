# The two set-up commands of the README: `make run` and `make test`.
# Both install missing Debian packages first, then configure and build: `make run` only the
# program, `make test` everything (tests, benchmarks, fuzzers, the skin generator).
PRESET ?= release
BUILD  := build/$(PRESET)
ARGS   ?=

.PHONY: all deps configure build run test bench format format-check clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

run: configure
	@cmake --build --preset $(PRESET) --target wobblestar
	@tools/run.sh $(BUILD)/src/wobblestar $(ARGS)

test: build
	@ctest --preset $(PRESET) -j2

bench: configure
	@cmake --build --preset $(PRESET) --target benchmarks
	@tools/run-benchmarks.sh $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails, naming the files, when any source is not as clang-format would write it.
format-check:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf build
