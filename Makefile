# Vellora: `make run` sets up, builds and starts the planner; `make test` sets up, builds and runs every test.
BUILD ?= build
BENCH_BUILD ?= build-bench
SANITIZE_BUILD ?= build-sanitize
# What a test run repeats: CI runs every test twice, so that one that passes only sometimes fails the run.
CTEST_FLAGS ?=
PREFIX ?= /usr/local
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench screenshots install package clean

all: build

deps:
	@scripts/install-deps
	@[ -f web/node_modules/.package-lock.json ] || (cd web && npm ci --no-audit --no-fund)

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/Vellora/vellora

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300 $(CTEST_FLAGS)

# Every suite built with the address (leaks included) and undefined-behaviour sanitizers, but those that need an X
# server or build and install the package: they are left to `make test`.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLORA_SANITIZE=address,undefined \
		$(SANITIZE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:verify_asan_link_order=0 \
		UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS) --timeout 600 -LE 'x11|package' $(CTEST_FLAGS)

bench: deps
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORA_BUILD_TESTS=OFF -DVELLORA_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	bench/run-all $(BENCH_BUILD)

# PNGs of the Today sheet and the Backlog in their typical states, light and dark, at the three text sizes, of
# the Settings page in light and dark, and of the planner's page (web-*.png) at a phone's and a desktop's size.
screenshots: build
	@rm -rf $(BUILD)/screenshots
	QT_QPA_PLATFORM=offscreen TZ=UTC LANG=en_US.UTF-8 $(BUILD)/tools/vellora_screenshots $(BUILD)/screenshots
	QT_QPA_PLATFORM=offscreen TZ=UTC LANG=en_US.UTF-8 $(BUILD)/tools/vellora_shell_screenshots $(BUILD)/screenshots
	@if [ -x $(BUILD)/tests/Web/web_fixture ]; then \
		TZ=UTC node web/screenshots.mjs $(BUILD)/Cloud/vellora-cloud $(BUILD)/tests/Web/web_fixture $(BUILD)/screenshots; \
	else echo "the page's screenshots need the build with the page (VELLORA_WEB_PAGE)"; fi

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package vellora_<version>_<arch>.deb, in $(BUILD); install it with apt-get install ./vellora_….deb.
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(SANITIZE_BUILD)
