# `make` builds the release program build/vorb; `make demo` builds it and runs
# it on the bundled corpus; `make test` builds and runs every test. Only `make test` needs the test-only packages (GoogleTest, libdivsufsort).
BUILD      ?= build
JOBS       ?= 2
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all vorb test demo setup setup-tests clean install sanitize tsan fuzz

all: vorb

setup:
	@scripts/setup.sh

setup-tests:
	@scripts/setup.sh --tests

$(BUILD)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

vorb: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

test: setup-tests $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DVORB_BUILD_TESTS=ON
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# Packs, lists, tests and unpacks the bundled corpus folder, compares every
# file and prints sizes and speeds.
demo: vorb
	VORB=$(BUILD)/vorb scripts/demo.sh

# Unit and end-to-end tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	.ci/sanitize.sh

# The threaded tests under ThreadSanitizer.
tsan:
	.ci/tsan.sh

# Each fuzz target for a bounded time (VORB_FUZZ_SECONDS, default 60).
fuzz:
	.ci/fuzz.sh

# Installs the program, man page, header, libvorb (static and shared),
# vorb.pc and the CMake package under $(PREFIX); DESTDIR stages it.
install: vorb
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-tsan
