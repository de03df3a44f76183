# Wraps CMake: `make demo` builds and runs the tool against the simulated
# device library; `make test` builds and runs every test through ctest.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60

.PHONY: all build demo test sanitize memcheck fuzz bench install package clean

all: build

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	bash tools/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-*
