# Trackmarshal build front end.
#   make            build everything (program, simulator, tests, benchmarks)
#   make test       build, then run every test (ctest)
#   make demo       build tmx and the simulator only, then run tmx against the
#                   bundled simulated LFS server
#   make bench      build, then run the benchmarks
#   make load       build, then measure tmx's CPU use with eight busy simulated servers
#                   (LOAD_ARGS="--seconds 60 --max-percent 1" passes options on)
#   make wincheck   compile the Windows side of the OS layer with MinGW (if installed)
#   SAN=address     address + undefined behaviour sanitizer build (own build folder)
#   SAN=thread      thread sanitizer build (own build folder)

SAN ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_DIR ?= build$(if $(SAN),-$(SAN),)
CMAKE_FLAGS ?=

.PHONY: all build configure test demo bench load wincheck clean

all: build

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DTMX_SANITIZE=$(SAN) $(CMAKE_FLAGS)

configure: $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Only what the demo runs: tests and benchmarks are not built for it.
demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tmx lfs-sim
	sh tools/demo.sh $(BUILD_DIR)

bench: build
	$(BUILD_DIR)/tmx_bench --benchmark_min_time=0.5

load: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tmx tmx-load
	$(BUILD_DIR)/tmx-load --tmx $(BUILD_DIR)/tmx $(LOAD_ARGS)

wincheck:
	sh tools/wincheck.sh

clean:
	rm -rf build build-address build-thread demo-run
