# Wraps CMake: `make demo` builds and runs the tool against the simulated
# device library; `make test` builds and runs every test through ctest.
#
# Each kind of build has its own folder, configured with its own options
# only, so that one never leaves an option behind for another:
#   build/           make build, test, demo, memcheck, install
#   build-deb/       make package (dpkg-buildpackage, from a copy of the tree)
#   build-sanitize/  make sanitize
#   build-bench/     make bench
#   build-fuzz/      make fuzz (tools/fuzz.sh)
JOBS ?= $(shell nproc)
# The end-to-end tests mostly wait (for a slow simulated call, a signal's
# time limit): ctest runs three of them a processor.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 3 )))
WERROR ?= OFF
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60
# Every option is given each time, so that a folder's cache keeps none.
OPTIONS = -DTOLVARINE_WERROR=$(WERROR) -DTOLVARINE_SANITIZE=OFF -DTOLVARINE_FUZZ=OFF -DTOLVARINE_BENCH=OFF
# Ninja where it is installed: one line of progress instead of make's. A
# folder keeps the generator it was first configured with.
GENERATOR = $(if $(wildcard $(1)/CMakeCache.txt),,$(if $(shell command -v ninja 2>/dev/null),-G Ninja))
# Make's own "Entering directory" lines say nothing here.
MAKEFLAGS += --no-print-directory

.PHONY: all build demo test sanitize memcheck fuzz bench install package clean

all: build

build:
	cmake -S . -B build $(call GENERATOR,build) $(OPTIONS)
	cmake --build build -j $(JOBS)

# The examples on the first screen: the build's lines go to build/build.log,
# shown only when the build fails; a terminal sees the build's progress on
# one line.
demo:
	@echo "Building TolvarineCli and the simulated device library (build/build.log)..."
	@bash tools/build_progress.sh JOBS=$(JOBS) WERROR=$(WERROR)
	@bash tools/demo.sh build

test: build
	cd build && ctest --output-on-failure -j $(TEST_JOBS)

# Everything built with AddressSanitizer and UBSan, the whole suite run
# there; with clang, so that its warnings are heard too (the other builds
# use g++).
sanitize:
	cmake -S . -B build-sanitize $(call GENERATOR,build-sanitize) $(OPTIONS) -DTOLVARINE_SANITIZE=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The end-to-end tests with the tool under valgrind's memcheck. An error
# fails the run with status 99; valgrind's reports go to build/memcheck/,
# so that the tests still see the tool's own standard error (and can close it).
memcheck: build
	rm -rf build/memcheck && mkdir -p build/memcheck
	cd build && TOLVARINE_TEST_WRAPPER="valgrind --quiet --error-exitcode=99 \
	  --leak-check=full --errors-for-leak-kinds=definite,indirect \
	  --log-file=$(CURDIR)/build/memcheck/%p.log \
	  --suppressions=$(CURDIR)/tools/valgrind.supp" \
	  ctest -L e2e --output-on-failure -j $(JOBS)

# libFuzzer targets (clang), each run for FUZZ_SECONDS from its seed corpus.
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash tools/fuzz.sh

# Micro-benchmarks and whole-process comparisons, each figure with its target.
bench:
	cmake -S . -B build-bench $(call GENERATOR,build-bench) $(OPTIONS) -DTOLVARINE_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build build-bench -j $(JOBS)
	bash tools/bench.sh build-bench

# make install [PREFIX=/usr/local] [DESTDIR=...]
install: build
	DESTDIR=$(DESTDIR) cmake --install build --prefix $(PREFIX)

# The Debian source package and its binary packages (tool, simulator, and
# their -dbgsym) in build-deb/; tools/check_package.sh checks them.
package:
	bash tools/build_deb.sh build-deb

clean:
	rm -rf build build-*
