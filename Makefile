# make run           : install what is missing, build, start the program
# make test          : install what is missing, build, run every test
# make test-sanitize : the test suite built with ASan + UBSan
# make fuzz          : every fuzz target for FUZZ_SECONDS
# make valgrind      : every test program under valgrind's memcheck
# make bench         : build and print the benchmark figures
# make package       : build, then the Debian package build/bilmeko_*.deb
# make install       : build, then install under PREFIX (DESTDIR honoured)

BUILD ?= build
JOBS  ?= $(shell nproc)
SUDO  := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian packages: compiler and build tools, Qt 6 with its SVG and Charts modules, a font
# with Cyrillic glyphs, the icon renderer and the package tools, and what the
# tests use (a virtual display for screenshots, a PDF text reader, a print
# server with a PDF queue, clang for the fuzz targets, the desktop entry and
# AppStream validators, lintian for the package), and PostgreSQL: the client
# library the central ledger is reached with, the server its tests start.
PACKAGES := g++ make cmake qt6-base-dev libgl-dev qt6-qpa-plugins qt6-svg-dev qt6-charts-dev qt6-translations-l10n \
            fonts-dejavu-core librsvg2-bin dpkg-dev file \
            poppler-utils xvfb xauth \
            cups cups-client cups-bsd printer-driver-cups-pdf \
            clang libclang-rt-14-dev desktop-file-utils appstream lintian \
            postgresql libpq-dev

.PHONY: all deps configure build run test test-sanitize fuzz valgrind bench package install clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	cd $(BUILD)/bin && ./bilmeko

test: build
	-@tools/start-printer.sh
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails.
SAN_ENV := QT_QPA_PLATFORM=offscreen \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

test-sanitize: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DBILMEKO_SANITIZE=ON
	cmake --build build-asan -j$(JOBS)
	-@tools/start-printer.sh
	cd build-asan && $(SAN_ENV) ctest --output-on-failure -j$(JOBS)

# libFuzzer targets (clang); each runs FUZZ_SECONDS from the seed corpus.
FUZZ_SECONDS ?= 30
fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBILMEKO_FUZZ=ON
	cmake --build build-fuzz -j$(JOBS) --target fuzzers
	tools/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# Every test program under valgrind's memcheck (slow; not part of CI).
valgrind: build
	tools/valgrind-tests.sh $(BUILD)

bench: build
	$(BUILD)/bin/bilmeko-bench

package: build
	cd $(BUILD) && cpack -G DEB

PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) build-dev build-asan build-fuzz
