# Single entry for building, testing and the demo. Every target installs
# what is missing first, so each works on a fresh Debian 12 machine.
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: deps build test demo clean

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) > /dev/null

build: deps $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900
	@if [ -x scripts/sanitizer-tests.sh ]; then scripts/sanitizer-tests.sh; fi

demo: build
	@scripts/demo.sh $(BUILD)/bin/leafpress

clean:
	rm -rf $(BUILD)
