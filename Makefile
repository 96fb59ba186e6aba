# SPDX-License-Identifier: MIT
# Drives the CMake build. `make demo` runs the main job against a simulated
# chip; `make test` builds and runs every test; `make fuzz` runs each reader's
# fuzz target (the image readers', the SFDP parser's) for FUZZ_SECONDS;
# `make bench` compares a Release build with the tools users pick instead
# (bench/README.md), `make bench-quick` does it on 1 MiB inputs. `make e2e`
# runs the program, cross-compiled for armhf, against a flash model behind a
# real Linux spidev driver in QEMU (e2e/README.md). `make install` installs
# the build; `make package` builds the Debian package in a build of its own
# whose prefix is /usr.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
E2E_BUILD  ?= build-e2e
E2E_BOARDS ?= zynq sifive_u
PACKAGE_BUILD ?= build-package
FUZZ_OUT   ?= fuzz-out
FUZZ_SECONDS ?= 60
# Longer than a reader's piece of a line (2,047 characters), so that the
# fuzzers reach lines read in several pieces.
FUZZ_MAX_LEN ?= 10000
GENERATOR  ?= Ninja

.PHONY: all build test demo install asan fuzz bench bench-quick e2e package clean

all: build

build:
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

demo: build
	./examples/demo.sh $(BUILD)

# Under the prefix the build was configured with (/usr/local unless told).
install: build
	cmake --install $(BUILD)

asan:
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DROMWICK_SANITIZE=ON
	cmake --build $(ASAN_BUILD)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2

# New inputs the fuzzers find go to $(FUZZ_OUT)/<reader>/, crashes to
# $(FUZZ_OUT)/; the seed corpus in the source tree,
# <folder>/fuzz/corpus/<reader>, is only read.
FUZZ_READERS = image/ihex image/ghex flash/sfdp
fuzz:
	cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DROMWICK_TESTS=OFF -DROMWICK_FUZZ=ON
	cmake --build $(FUZZ_BUILD) --target $(foreach r,$(FUZZ_READERS),$(notdir $(r))_fuzz)
	for path in $(FUZZ_READERS); do \
	  reader=$${path#*/} && folder=$${path%/*} && \
	  mkdir -p $(FUZZ_OUT)/$$reader && \
	  $(FUZZ_BUILD)/$${reader}_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=$(FUZZ_MAX_LEN) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_OUT)/ $(FUZZ_OUT)/$$reader $$folder/fuzz/corpus/$$reader || exit 1; \
	done

bench:
	bench/run.sh --build $(BENCH_BUILD)

bench-quick:
	bench/run.sh --quick --build $(BENCH_BUILD)

# The host program only writes the reference text files, so only it is built.
# Every board runs even when one fails, so that one run tells of them all.
e2e:
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) --target romwick
	pids=; \
	for board in $(E2E_BOARDS); do \
	  e2e/run.sh $$board --build $(E2E_BUILD)/$$board --host-build $(BUILD) & pids="$$pids $$!"; \
	done; \
	status=0; \
	for pid in $$pids; do wait $$pid || status=1; done; \
	exit $$status

# The runtime folder compiled into the program is the one the package
# installs, under /usr; the tests are not part of it. It is built with the
# flags Debian builds its own packages with, hardening included.
# PACKAGE_MAINTAINER="Name <address>" names the package's maintainer.
BUILDFLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package:
	cmake -S . -B $(PACKAGE_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_INSTALL_PREFIX=/usr -DROMWICK_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS="$$($(BUILDFLAGS) CPPFLAGS) $$($(BUILDFLAGS) CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(BUILDFLAGS) LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$$($(BUILDFLAGS) LDFLAGS)" \
	  $(if $(PACKAGE_MAINTAINER),"-DROMWICK_PACKAGE_MAINTAINER=$(PACKAGE_MAINTAINER)")
	cmake --build $(PACKAGE_BUILD) --target package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) $(E2E_BUILD) $(PACKAGE_BUILD)
