# Drives the CMake build. `make demo` runs the main job against a simulated
# chip; `make test` builds and runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
GENERATOR  ?= Ninja

.PHONY: all build test demo asan fuzz bench bench-quick install clean

all: build

build:
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

demo: build
	./examples/demo.sh $(BUILD)

asan:
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DROMWICK_SANITIZE=ON
	cmake --build $(ASAN_BUILD)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
