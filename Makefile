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

# Debian packages. Building and running: the compiler and build tools, Qt 6
# with its SVG and Charts modules and Russian translations, a font with
# Cyrillic glyphs, the icon renderer, and PostgreSQL's client library (the
# central ledger is reached with it).
RUN_PACKAGES := g++ make cmake qt6-base-dev libgl-dev qt6-qpa-plugins qt6-svg-dev qt6-charts-dev \
            qt6-translations-l10n fonts-dejavu-core librsvg2-bin libpq-dev
# The tests and CI besides: a virtual display for screenshots, a PDF text
# reader, the Russian locale (a ledger server answering in Russian), the
# formatter the sources are checked with, a print server with a PDF queue,
# the PostgreSQL server the ledger's tests start, the package tools and
# validators (the install test builds and checks the Debian package).
TEST_PACKAGES := dpkg-dev file poppler-utils xvfb xauth locales clang-format \
            cups cups-client cups-bsd printer-driver-cups-pdf postgresql \
            desktop-file-utils appstream lintian
# The fuzz targets: clang and its sanitizer runtime.
FUZZ_PACKAGES := clang libclang-rt-14-dev

# Where `make run` keeps the price list, the journal and the running
# sessions: the installed program's folder, outside the build, so
# `make clean` never touches the records.
DATA_DIR ?= $(if $(XDG_DATA_HOME),$(XDG_DATA_HOME),$(HOME)/.local/share)/Bilmeko

.PHONY: all deps deps-run configure build run test test-sanitize fuzz valgrind bench package install clean

all: build

# Installs with `sudo apt-get` (no sudo as root) only what is missing.
define install_missing
@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
if [ -n "$$missing" ]; then \
  echo "Installing with sudo apt-get:$$missing"; \
  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
fi
endef

deps-run:
	$(call install_missing,$(RUN_PACKAGES))

deps: deps-run
	$(call install_missing,$(TEST_PACKAGES))
	@locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8' || { \
	  echo "Generating the ru_RU.UTF-8 locale with sudo locale-gen"; \
	  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ru_RU.UTF-8 UTF-8' | $(SUDO) tee -a /etc/locale.gen >/dev/null; \
	  $(SUDO) locale-gen; }

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps-run $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Only the program (and the sample price list a fresh data folder starts with).
run: configure
	cmake --build $(BUILD) -j$(JOBS) --target bilmeko bilmeko_sample_ini
	@echo "Папка данных: $(DATA_DIR)"
	$(BUILD)/bin/bilmeko --data-dir "$(DATA_DIR)"

test: deps build
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
	$(call install_missing,$(FUZZ_PACKAGES))
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
