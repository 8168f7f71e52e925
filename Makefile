# Entry points for people and CI. Each one first installs what is missing.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 10
JOBS ?= $(shell nproc)
# Every build goes through ccache when there is one: the sanitizer and fuzzer
# builds compile everything a second and third time.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Paths inside the checkout count relative to the build folder, so every clone
# shares one cache.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1

.PHONY: all bootstrap configure build run test sanitize tsan fuzz bench package format clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DTINDREL_BUILD_TESTS=ON -DTINDREL_BUILD_BENCH=ON $(LAUNCHER) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only what running needs: the program and the relay, and the packages they
# build and run with. A build folder the tests configured keeps its tests.
# WAYLAND=1: the headless demo under sway instead of an X server.
RUN_SETS := run $(if $(filter-out 0,$(WAYLAND)),wayland)
run:
	@scripts/bootstrap $(RUN_SETS)
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -G Ninja \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINDREL_BUILD_TESTS=OFF -DTINDREL_BUILD_BENCH=OFF \
		$(LAUNCHER) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target tindrel tindrel-relay
	@WAYLAND="$(WAYLAND)" scripts/run

# Under CI (CI=true) the sanitizer, thread sanitizer and fuzzer runs belong to
# the tests too. The kde and gnome cases each drive one real compositor's
# focus, portal and XWayland together, and on a loaded machine a step of the
# compositor's may come later than a case waits: they run on their own
# afterwards, one desktop at a time, and a failed case gets two more tries
# (each one is logged).
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE '^(kde|gnome)$$' $(CTEST_ARGS)
	@cd $(BUILD) && ctest --output-on-failure -L '^kde$$' --repeat until-pass:3 $(CTEST_ARGS)
	@cd $(BUILD) && ctest --output-on-failure -L '^gnome$$' --repeat until-pass:3 $(CTEST_ARGS)
ifeq ($(CI),true)
	@$(MAKE) --no-print-directory sanitize tsan fuzz
endif

# The unit and gui tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: bootstrap
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Sanitize \
		-DTINDREL_BUILD_BENCH=OFF $(LAUNCHER) >/dev/null
	@cmake --build $(SANITIZE_BUILD) --target unit_gui_tests -j $(JOBS)
	@cd $(SANITIZE_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan.supp \
		ctest --output-on-failure -j $(JOBS) -L '^(unit|gui)$$'

# The unit and gui tests under ThreadSanitizer (tests/support/tsan.supp holds
# what Qt, which is not instrumented, reports of itself).
tsan: bootstrap
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Tsan \
		-DTINDREL_BUILD_BENCH=OFF $(LAUNCHER) >/dev/null
	@cmake --build $(TSAN_BUILD) --target unit_gui_tests -j $(JOBS)
	@cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L '^(unit|gui)$$'

# Every fuzzer for FUZZ_SECONDS over its seed corpus.
fuzz: bootstrap
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_C_COMPILER=clang-19 -DTINDREL_BUILD_FUZZERS=ON \
		-DTINDREL_BUILD_TESTS=OFF -DTINDREL_BUILD_BENCH=OFF $(LAUNCHER) >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzzers -j $(JOBS)
	@fuzz/run.sh $(FUZZ_BUILD)/fuzz $(FUZZ_SECONDS)

bench: build
	@cmake --build $(BUILD) --target benchmarks
	@for b in $(BUILD)/bench/*; do \
		if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" --benchmark_min_time=0.2 || exit 1; fi; \
	done

# Debian packages of Tindrel and of the relay, in $(BUILD).
package: build
	@cmake --build $(BUILD) --target package

format: configure
	@cmake --build $(BUILD) --target format

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
