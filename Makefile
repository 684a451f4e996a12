# Entry points: `make test`, `make bench`, `make demo`, `make run`, `make screenshots`.
# Everything is cross-built with mingw-w64 for x86_64 and i686; tests run the x86_64 build under Wine.

BUILD   := build
# WERROR=ON|OFF sets the build trees' warnings-as-errors switch; unset, a tree keeps what it has.
WERROR  ?=
WERROR_FLAG = $(if $(WERROR),-DKORVEX_WERROR=$(WERROR))
JOBS    ?= $(shell nproc)
ARCHS   := x86_64 i686
CTEST_ARGS ?=

.PHONY: all deps build test bench demo run screenshots prefix clean configure-x86_64 build-session session-prefix soak \
	$(ARCHS:%=build-%)

all: build

deps:
	@scripts/install-deps.sh

build: $(ARCHS:%=build-%)

# The x86_64 tree builds everything; the i686 tree builds the product only (no 32-bit Wine to run tests).
configure-x86_64: deps
	@cmake --no-warn-unused-cli -S . -B $(BUILD)/x86_64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(WERROR_FLAG) \
	    -DKORVEX_TESTS=ON >/dev/null

build-x86_64: configure-x86_64
	@cmake --build $(BUILD)/x86_64 -j $(JOBS)

# What a session runs, and nothing else: the server, the proxy/stub, the simulator and the client.
SESSION_TARGETS := KorvexOPCServer korvex_proxy scadasim korvex-opc
build-session: configure-x86_64
	@echo "Building the server, the proxy/stub, the simulator and the client (x86_64)..."
	@cmake --build $(BUILD)/x86_64 -j $(JOBS) --target $(SESSION_TARGETS)

# A session's prefix: the test prefix when there is one made by the installed Wine, else a new one.
session-prefix: deps
	@tests/wine/prefix.sh --reuse

build-i686: deps
	@cmake --no-warn-unused-cli -S . -B $(BUILD)/i686 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(WERROR_FLAG) \
	    -DKORVEX_TESTS=OFF >/dev/null
	@cmake --build $(BUILD)/i686 -j $(JOBS)

prefix: deps
	@tests/wine/prefix.sh

# Under load Wine now and then loses a new process or a cross-process call; a test that fails is run
# once more from a fresh wineserver, and both runs stay in the log.
test: build prefix
	@tests/wine/server.sh start
	@cd $(BUILD)/x86_64 && { ctest --output-on-failure $(CTEST_ARGS) || { \
	    echo "== The failed tests once more, from a fresh wineserver:"; \
	    $(CURDIR)/tests/wine/server.sh restart && ctest --rerun-failed --output-on-failure; }; }; rc=$$?; \
	    cd $(CURDIR) && tests/wine/server.sh stop; exit $$rc

# Timings at plant scale (tools/bench); BENCH_ARGS picks sections and the plant's shape. Reuses the
# test prefix when there is one.
BENCH_ARGS ?=
bench: build-x86_64
	@tests/wine/prefix.sh --reuse
	@tests/wine/run.sh $(BUILD)/x86_64/bin/korvex_bench.exe $(BENCH_ARGS)

# The command-line client against the simulator's sample plant and the server: a scripted session
# (demo), or both kept up for manual use until Ctrl-C (run).
demo: build-session session-prefix
	@scripts/demo.sh

run: build-session session-prefix
	@scripts/run.sh

# Clients that connect, work and leave for SOAK_SECONDS (default 120), and beside them the hostile
# client (SOAK_HOSTILE=0: not), while the server's memory is sampled; fails when it grows after the
# warm-up, a client call fails or the hostile client finds a fault.
soak: build-session session-prefix
	@cmake --build $(BUILD)/x86_64 -j $(JOBS) --target korvex-soak korvex-hostile
	@scripts/soak.sh

# The main window with two clients and the About box, drawn under Xvfb into build/screenshots/.
# Installs what only it needs (X server, grabber, fonts) itself, so that `make test` stays lean.
screenshots: build-x86_64
	@app/screenshots/take.sh

clean:
	rm -rf $(BUILD)
