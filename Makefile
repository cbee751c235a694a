# `make` builds the release program build/vorb; `make test` builds and runs every test.
BUILD      ?= build
JOBS       ?= 2
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all vorb test setup clean install sanitize fuzz

all: vorb

setup:
	@scripts/setup.sh

$(BUILD)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

vorb: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

test: vorb
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# Unit and end-to-end tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	scripts/ci_sanitize.sh

# Each fuzz target for a bounded time (VORB_FUZZ_SECONDS, default 60).
fuzz:
	scripts/ci_fuzz.sh

# Installs the program, man page, header, libvorb (static and shared),
# vorb.pc and the CMake package under $(PREFIX); DESTDIR stages it.
install: vorb
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-tsan
