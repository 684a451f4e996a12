# Entry points: `make test`, `make installer`, `make bench`, `make demo`, `make run`, `make screenshots`,
# `make sanitize`, `make fuzz`.
# Everything is cross-built with mingw-w64 for x86_64 and i686; tests run the x86_64 build under Wine.

BUILD   := build
# WERROR=ON|OFF sets the build trees' warnings-as-errors switch; unset, a tree keeps what it has.
WERROR  ?=
WERROR_FLAG = $(if $(WERROR),-DKORVEX_WERROR=$(WERROR))
JOBS    ?= $(shell nproc)
ARCHS   := x86_64 i686
CTEST_ARGS ?=

.PHONY: all deps build test installer bench bench-plot demo run screenshots prefix clean configure-x86_64 \
	configure-i686 build-session session-prefix soak sanitize fuzz native \
	$(ARCHS:%=build-%)

all: build

deps:
	@scripts/install-deps.sh

build: $(ARCHS:%=build-%)

# The x86_64 tree builds everything; the i686 tree builds the product and the shared cases as
# clients, which the x86_64 tree's tests run against the 64-bit server (and its clients against the
# 32-bit server).
configure-x86_64: deps
	@cmake --no-warn-unused-cli -S . -B $(BUILD)/x86_64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(WERROR_FLAG) \
	    -DKORVEX_TESTS=ON >/dev/null

build-x86_64: configure-x86_64
	@cmake --build $(BUILD)/x86_64 -j $(JOBS)

# What a session runs, and nothing else: the server, the proxy/stub, the simulator and the client,
# and the 32-bit client with its proxy/stub.
SESSION_TARGETS := KorvexOPCServer korvex_proxy scadasim korvex-opc
build-session: configure-x86_64 configure-i686
	@echo "Building the server, the proxy/stub, the simulator and the client (x86_64), the client and the proxy/stub (i686)..."
	@cmake --build $(BUILD)/x86_64 -j $(JOBS) --target $(SESSION_TARGETS)
	@cmake --build $(BUILD)/i686 -j $(JOBS) --target korvex_proxy korvex-opc

# A session's prefix: the test prefix when there is one made by the installed Wine, else a new one.
session-prefix: deps
	@tests/wine/prefix.sh --reuse

# The setup program (installer/), named with the project's version: the server, the client, the
# simulator and the OPC server list program of both architectures and both proxy/stubs.
VERSION := $(shell sed -n 's/.*project.KorvexOPCServer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
SETUP   := $(abspath $(BUILD))/KorvexOPCServer-$(VERSION)-setup.exe
SETUP_TARGETS := KorvexOPCServer korvex_proxy korvex-opc scadasim korvex_sample_plant KorvexServerList
installer: configure-x86_64 configure-i686
	@cmake --build $(BUILD)/x86_64 -j $(JOBS) --target $(SETUP_TARGETS)
	@cmake --build $(BUILD)/i686 -j $(JOBS) --target $(SETUP_TARGETS)
	@makensis -V2 -INPUTCHARSET UTF8 -DVERSION=$(VERSION) -DBIN64=$(abspath $(BUILD))/x86_64/bin -DBIN32=$(abspath $(BUILD))/i686/bin \
	    -DOUTFILE=$(SETUP) installer/KorvexOPCServer.nsi
	@echo "setup program: $(SETUP)"

configure-i686: deps
	@cmake --no-warn-unused-cli -S . -B $(BUILD)/i686 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(WERROR_FLAG) \
	    -DKORVEX_TESTS=ON -DKORVEX_CROSS_PROCESS_TESTS_ONLY=ON >/dev/null

build-i686: configure-i686
	@cmake --build $(BUILD)/i686 -j $(JOBS)

prefix: deps
	@tests/wine/prefix.sh

# Under load Wine now and then loses a new process or a cross-process call; a test that fails is run
# once more from a fresh wineserver, and both runs stay in the log.
test: build installer prefix
	@tests/wine/server.sh start
	@cd $(BUILD)/x86_64 && { ctest --output-on-failure $(CTEST_ARGS) || { \
	    echo "== The failed tests once more, from a fresh wineserver:"; \
	    $(CURDIR)/tests/wine/server.sh restart && ctest --rerun-failed --output-on-failure; }; }; rc=$$?; \
	    cd $(CURDIR) && tests/wine/server.sh stop; exit $$rc

# Timings at plant scale and end to end across processes (tools/bench); BENCH_ARGS picks sections
# and the in-process plant's shape. The report goes to the screen and build/bench/report.txt, every
# figure to build/bench/report.json. Reuses the test prefix when there is one. Never fails on a
# missed goal: it fails only when a section could not run.
BENCH_ARGS ?=
bench: configure-x86_64
	@cmake --build $(BUILD)/x86_64 -j $(JOBS) --target korvex_bench
	@tests/wine/prefix.sh --reuse
	@mkdir -p $(BUILD)/bench
	@tests/wine/server.sh start
	@{ tests/wine/run.sh $(BUILD)/x86_64/bin/korvex_bench.exe --json=$(CURDIR)/$(BUILD)/bench/report.json $(BENCH_ARGS); \
	    echo $$? >$(BUILD)/bench/exit-code; } | tr -d '\r' | tee $(BUILD)/bench/report.txt; \
	    tests/wine/server.sh stop; exit $$(cat $(BUILD)/bench/exit-code)

# The latency histogram and the changes-per-second curve of the last make bench, as PNG files.
bench-plot:
	@scripts/bench-plot.sh

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

# The parts that need no Windows API, built natively with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (tests/native): `sanitize` runs their unit test and every fuzz target
# over its corpus, `fuzz` fuzzes each target for FUZZ_SECONDS (default 60) from its corpus.
NATIVE := $(BUILD)/native
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := match_pattern plant_file rt_image runtime_message
native: deps
	@cmake --no-warn-unused-cli -S tests/native -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

sanitize: native
	@cd $(NATIVE) && ctest --output-on-failure

# New inputs the fuzzer finds go to build/native/corpus, not into the repository's seeds; a
# crashing input is left in build/native as crash-<target>-*.
fuzz: native
	@for t in $(FUZZ_TARGETS); do \
	    mkdir -p $(NATIVE)/corpus/$$t; log=$(NATIVE)/fuzz_$$t.log; \
	    $(NATIVE)/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$(NATIVE)/crash-$$t- \
	        $(NATIVE)/corpus/$$t tests/native/corpus/$$t >$$log 2>&1; rc=$$?; \
	    echo "fuzz_$$t, $(FUZZ_SECONDS) s: $$(grep -E '^#[0-9]+[[:space:]]+DONE' $$log | sed 's/ * *lim: [0-9]*//; s/ *rss:.*//')"; \
	    [ $$rc -eq 0 ] || { tail -n 40 $$log; exit 1; }; \
	done

clean:
	rm -rf $(BUILD)
