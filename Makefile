# Two commands do everything on a fresh Debian 12 machine (as root):
#   make run   - install what is missing, build, run the agent (and host) in an X session
#   make run-wayland - the same scripted demo in a headless sway session (Wayland, wlroots)
#   make test  - install what is missing, build, run every test (plus a sanitizer build)
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build run run-wayland test test-unit test-asan test-fuzz bench clean

all: build

deps:
	scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPILVO_WERROR=ON $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-demo.sh $(BUILD)

run-wayland: build
	scripts/with-sway-session.sh scripts/demo-wayland-session.sh $(abspath $(BUILD))

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan
	$(MAKE) test-fuzz

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPILVO_WERROR=ON \
	  -DPILVO_SANITIZE=ON -DPILVO_BENCH=OFF -DPILVO_GUI=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS) -L unit

test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPILVO_FUZZ=ON -DPILVO_BENCH=OFF -DPILVO_GUI=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz
	cd $(FUZZ_BUILD) && ctest --output-on-failure -L fuzz

bench: build
	scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
