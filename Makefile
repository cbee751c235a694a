# `make` builds the release program build/vorb; `make test` builds and runs every test.
BUILD      ?= build
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all vorb test setup clean install sanitize

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
sanitize: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORB_SANITIZE=address,undefined
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

install: vorb
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-asan
