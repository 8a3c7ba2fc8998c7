# Single entry for building, testing and the demo. Every target installs
# what is missing first, so each works on a fresh Debian 12 machine.
BUILD   ?= build
JOBS    ?= $(shell nproc)
# A unity build (each library and program compiled as a few large units)
# builds a fresh tree in about half the time; a change to one file
# recompiles the units of its batch.
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16

# A compiler cache, when the machine has one, keeps the rebuilds of the
# three build trees (normal, ThreadSanitizer, AddressSanitizer) cheap; CMake
# takes it from the environment when it first configures a tree.
ifneq ($(shell command -v ccache 2>/dev/null),)
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
export CMAKE_C_COMPILER_LAUNCHER ?= ccache
endif
# `make install` puts the program under PREFIX; DESTDIR stages it elsewhere.
PREFIX  ?= /usr/local
DESTDIR ?=

.PHONY: deps build test demo install package clean

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) > /dev/null

build: deps $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS)

# The whole suite as CI runs it: warnings are errors, every test must run
# (LP_REQUIRE_ALL=1 turns a missing tool's skip into a failure) and CTest
# must report no test skipped. Each step's time is printed at the end, also
# when a step fails.
test:
	@export LP_REQUIRE_ALL=1; times=""; \
	step() { \
	  step_name=$$1; shift; step_start=$$(date +%s); step_status=0; "$$@" || step_status=$$?; \
	  times="$$times$$(printf '  %-20s %5d s' "$$step_name" $$(($$(date +%s) - step_start)))\n"; \
	  return $$step_status; \
	}; \
	ctest_run() { \
	  { (cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900); echo $$? > $(BUILD)/ctest.status; } 2>&1 \
	    | tee $(BUILD)/ctest.log; \
	  if grep -q '(Skipped)' $(BUILD)/ctest.log; then echo "CTest skipped tests: every test must run"; return 1; fi; \
	  return $$(cat $(BUILD)/ctest.status); \
	}; \
	run_all() { \
	  step "dependencies" scripts/install-deps.sh && \
	  step "configure" cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DLP_WERROR=ON > /dev/null && \
	  step "build" cmake --build $(BUILD) -j $(JOBS) && \
	  step "tests" ctest_run && \
	  step "sanitizer tests" scripts/sanitizer-tests.sh; \
	}; \
	all_start=$$(date +%s); all_status=0; run_all || all_status=$$?; \
	printf 'Time of each step:\n%b  %-20s %5d s\n' "$$times" "all" $$(($$(date +%s) - all_start)); \
	exit $$all_status

demo: build
	@scripts/demo.sh $(BUILD)/bin/leafpress

# Without DESTDIR the desktop's caches are refreshed too, as a package's
# triggers would, so the menu entry and the project type show at once.
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)
	@if [ -z "$(DESTDIR)" ]; then \
	  if command -v update-mime-database >/dev/null; then update-mime-database $(PREFIX)/share/mime; fi; \
	  if command -v update-desktop-database >/dev/null; then update-desktop-database -q $(PREFIX)/share/applications; fi; \
	  if command -v gtk-update-icon-cache >/dev/null; then gtk-update-icon-cache -q -t $(PREFIX)/share/icons/hicolor; fi; \
	fi

# The Debian package in $(BUILD)/package, built in a tree of its own
# ($(BUILD)/deb) that holds no tests, benchmarks or fuzzers and builds only
# what the package installs, with Debian's build flags (hardening, fortified
# C library functions); lintian then may report nothing at all, pedantic
# hints included, but the tags data/debian/lintian-overrides explains.
DEB_BUILD  ?= $(BUILD)/deb
package: deps
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	  cmake -S . -B $(DEB_BUILD) $(CMAKE_FLAGS) -DLP_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
	    -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	    -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	    -DCMAKE_MODULE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" > /dev/null
	@cmake --build $(DEB_BUILD) -j $(JOBS) --target lp_package_files
	@rm -f $(BUILD)/package/*.deb
	@cd $(DEB_BUILD) && cpack -G DEB -B $(abspath $(BUILD))/package
	@lintian --pedantic --display-info --fail-on error,warning,info,pedantic $(BUILD)/package/*.deb

clean:
	rm -rf $(BUILD)
