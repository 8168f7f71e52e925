# Entry points for people and CI. Each one first installs what is missing.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all bootstrap configure build run test bench package format clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

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
	rm -rf $(BUILD)
