# The two set-up commands of the README: `make run` and `make test`.
# Both install missing Debian packages first, then configure and build: `make run` only the
# program, `make test` everything (tests, benchmarks, fuzzers, the skin generator).
PRESET ?= release
BUILD  := build/$(PRESET)
ARGS   ?=

.PHONY: all deps configure build run test sanitize bench format format-check clean

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

# The unit and driver tests under AddressSanitizer and UndefinedBehaviorSanitizer, building only
# what they need: the sanitizers slow every test several times over.
sanitize: deps
	@cmake --preset asan -DWOBBLESTAR_WERROR=ON >/dev/null
	@cmake --build --preset asan --target $$(ctest --test-dir build/asan -N -L '^(unit|driver)$$' | \
	    sed -n 's/^ *Test *#[0-9]*: //p')
	@ctest --preset asan -j2 -L '^(unit|driver)$$'

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
