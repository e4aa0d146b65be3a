# Front door: make deps | build | test | bench | demo
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test bench demo clean

all: build

deps:
	@bash tools/install-deps.sh

$(BUILD_DIR)/build.ninja:
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

configure: $(BUILD_DIR)/build.ninja

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Where a private sound server can run, a test that needs one fails rather than skips without it.
test: deps build
	@require=$$(bash tools/test-sound-server.sh) && cd $(BUILD_DIR) && \
	ORLEA_REQUIRE_SOUND_SERVER=$$require ctest --output-on-failure -j $(JOBS) --timeout 600

bench: deps build
	@cmake --build $(BUILD_DIR) --target benchmarks -j $(JOBS)
	@for b in $(BUILD_DIR)/bin/bench_*; do echo "== $$(basename $$b)"; $$b --benchmark_min_time=0.05 || exit 1; done

# The window when a display exists, otherwise one whole call without a window.
demo: deps build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then $(BUILD_DIR)/bin/orlea; \
	else $(BUILD_DIR)/bin/orlea --demo --call-once; fi

clean:
	@rm -rf $(BUILD_DIR)
