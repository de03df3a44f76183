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

# Everything built with AddressSanitizer and UBSan in its own folder, and the
# whole test suite run there.
sanitize:
	cmake -S . -B build-sanitize -DTOLVARINE_SANITIZE=ON -DTOLVARINE_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The end-to-end tests with the tool under valgrind's memcheck. An error
# fails the run with status 99; valgrind's reports go to memcheck/ in the
# build folder, so that the tests still see the tool's own standard error
# (and can close it).
memcheck: build
	rm -rf $(BUILD)/memcheck && mkdir -p $(BUILD)/memcheck
	cd $(BUILD) && TOLVARINE_TEST_WRAPPER="valgrind --quiet --error-exitcode=99 \
	  --leak-check=full --errors-for-leak-kinds=definite,indirect \
	  --log-file=$(abspath $(BUILD))/memcheck/%p.log \
	  --suppressions=$(CURDIR)/tools/valgrind.supp" \
	  ctest -L e2e --output-on-failure -j $(JOBS)

# libFuzzer targets (clang), each run for FUZZ_SECONDS from its seed corpus.
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash tools/fuzz.sh

# Micro-benchmarks and whole-process comparisons, each figure with its target.
bench:
	cmake -S . -B $(BUILD) -DTOLVARINE_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	bash tools/bench.sh $(BUILD)

# make install [PREFIX=/usr/local] [DESTDIR=...]
install: build
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)

# A Debian package (.deb) in the build folder.
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) build-*
