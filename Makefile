# Thin wrapper around CMake so that a fresh Debian machine needs only
# `make run` or `make test`.

BUILD      ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# Warnings are errors in every build made here (and so in CI); a plain
# `cmake -S . -B dir` leaves them warnings.
WERROR     ?= ON
PREFIX     ?= /usr/local
DIST       ?= dist

# What building and running the two programs needs (`make run`), then what
# the tests and benchmarks add (`make test`): a virtual display with a window
# manager, the desktop data's validators, FAT and exFAT for removable media, the
# shells whose completion is checked, and Syncthing for a catalogue that two
# computers share (python3 drives it; ip brings up the loopback of the test's
# network namespace); gettext compiles vrindel-cli's translations, po4a the
# manual pages' (installed by `make install`), and locales lets a test make a
# Slovak locale. vrindel-cli writes and reads workbooks with libxlsxwriter,
# libzip and expat, and a test takes one through LibreOffice Calc.
RUN_PACKAGES := cmake g++ make pkg-config qt6-base-dev libicu-dev libcli11-dev nlohmann-json3-dev libfmt-dev gettext po4a \
                libacl1-dev libattr1-dev libxcb1-dev fonts-dejavu-core qt6-translations-l10n \
                libxlsxwriter-dev libzip-dev libexpat1-dev libblkid-dev
TEST_PACKAGES := libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils appstream \
                 libglib2.0-bin man-db shared-mime-info xvfb openbox x11-utils xdotool \
                 fusefat dosfstools exfat-fuse exfatprogs \
                 bash-completion zsh fish locales \
                 syncthing python3 iproute2 libreoffice-calc-nogui
PACKAGES := $(RUN_PACKAGES) $(TEST_PACKAGES)
SANITIZE_PACKAGES := clang libclang-rt-14-dev
# What builds and checks a Debian package; the package's own build
# dependencies come from debian/control.
PACKAGE_TOOLS := build-essential debhelper devscripts equivs lintian

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps run-deps build programs run test check install bench clean package package-deps \
        sanitize-deps sanitize fuzz soak

all: build

# Quiet when everything is already there; installs only what is missing.
deps:
	@missing=""; for p in $(PACKAGES) $(EXTRA_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

run-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(RUN_PACKAGES)"

# Configured again when this file or one of its options changes, so that
# they reach a build folder that already exists. The whole tree (tests and
# benchmarks too) is configured once their packages are there; `make run`
# alone configures the programs only, and a later `make test` configures the
# rest.
CONFIG_NAME := $(BUILD)/.configured-$(BUILD_TYPE)-werror-$(WERROR)
CONFIGURED := $(CONFIG_NAME)-all
CONFIGURED_PROGRAMS := $(CONFIG_NAME)-programs
RUN_CONFIGURED := $(or $(wildcard $(CONFIGURED)),$(CONFIGURED_PROGRAMS))

$(CONFIGURED): Makefile | deps
	@rm -f $(BUILD)/.configured-*
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVRINDEL_WERROR=$(WERROR) \
	  -DVRINDEL_BUILD_TESTS=ON -DVRINDEL_BUILD_BENCH=ON
	@touch $@

$(CONFIGURED_PROGRAMS): Makefile | run-deps
	@rm -f $(BUILD)/.configured-*
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVRINDEL_WERROR=$(WERROR) \
	  -DVRINDEL_BUILD_TESTS=OFF -DVRINDEL_BUILD_BENCH=OFF
	@touch $@

build: deps $(CONFIGURED)
	cmake --build $(BUILD) -j $(JOBS)

# vrindel and vrindel-cli only.
programs: run-deps $(RUN_CONFIGURED)
	cmake --build $(BUILD) -j $(JOBS) --target vrindel vrindel-cli

run: programs
	./$(BUILD)/bin/vrindel

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

check: test

# make install [PREFIX=/usr/local] [DESTDIR=/staging/root]
install: programs
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# --- Debian package ---------------------------------------------------------

# The package is built by debian/rules (debhelper) from a copy of this tree
# in $(PKG_STAGE), so that the build leaves nothing here; the .debs, the
# .buildinfo and the .changes end up in $(DIST), and lintian checks the .debs.
PKG_STAGE := $(BUILD)/debian-package
PKG_SOURCE := $(PKG_STAGE)/vrindel
# lintian advises against root; as root (CI) it runs as nobody, in a folder
# of its own with copies of the .debs, since nobody may not enter the tree
# when it lies in a private folder (a clone under /root).
LINTIAN := $(if $(SUDO),,setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp) lintian

package-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGE_TOOLS)"

package: package-deps
	rm -rf $(PKG_STAGE) && mkdir -p $(PKG_SOURCE)
	tar -c --exclude-vcs --exclude-vcs-ignores --exclude=./$(BUILD) --exclude=./$(DIST) . | \
	  tar -x -C $(PKG_SOURCE)
	@cd $(PKG_SOURCE) && dpkg-checkbuilddeps 2>/dev/null || { \
	  echo "Installing the build dependencies of debian/control"; \
	  $(SUDO) mk-build-deps --install --remove \
	    --tool 'env DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-install-recommends' debian/control; }
	cd $(PKG_SOURCE) && dpkg-buildpackage -us -uc -b
	mkdir -p $(DIST)
	cp $(PKG_STAGE)/*.deb $(PKG_STAGE)/*.buildinfo $(PKG_STAGE)/*.changes $(DIST)/
	@lint=$$(mktemp -d) && chmod 755 "$$lint" && cp $(PKG_STAGE)/*.deb "$$lint"/ && chmod 644 "$$lint"/*.deb && \
	  cd "$$lint" && echo "lintian --info --pedantic --fail-on error,warning" *.deb && \
	  $(LINTIAN) --info --pedantic --fail-on error,warning *.deb; \
	  status=$$?; cd / && rm -rf "$$lint"; exit $$status
	@ls -1 $(DIST)/*.deb

# Generates the catalogues on first use (in $(BUILD)/bench-data) and prints
# a table of every operation at 10,000, 100,000 and 1,000,000 records.
bench: BUILD_TYPE = Release
bench: build
	cd $(BUILD) && for b in bin/*_bench; do QT_QPA_PLATFORM=offscreen ./$$b || exit 1; done

# --- Robustness: sanitizers, fuzzing, a long randomized run ---------------------

sanitize-deps:
	@$(MAKE) --no-print-directory deps EXTRA_PACKAGES="$(SANITIZE_PACKAGES)"

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# in a build of its own. Any finding, a leak included, fails the run.
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
SANITIZE_ENV := \
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

sanitize: sanitize-deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DVRINDEL_BUILD_BENCH=OFF -DVRINDEL_WERROR=$(WERROR) \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && QT_QPA_PLATFORM=offscreen $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS on a copy of its seed corpus; a
# crash, a leak or a failed check stops the run with the input kept.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := zoznam options import journal workbook

fuzz: sanitize-deps
	CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRINDEL_FUZZ=ON -DVRINDEL_WERROR=$(WERROR) \
	  -DVRINDEL_BUILD_APP=OFF -DVRINDEL_BUILD_TESTS=OFF -DVRINDEL_BUILD_BENCH=OFF
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@mkdir -p $(BUILD)-fuzz/artifacts; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD)-fuzz/corpus/$$t && cp tests/fuzz/corpus/$$t/* $(BUILD)-fuzz/corpus/$$t/ || exit 1; \
	  log=$(BUILD)-fuzz/fuzz_$$t.log; \
	  if ! $(BUILD)-fuzz/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	      -artifact_prefix=$(BUILD)-fuzz/artifacts/$$t- $(BUILD)-fuzz/corpus/$$t >$$log 2>&1; then \
	    tail -n 60 $$log; echo "fuzz_$$t failed; its input is in $(BUILD)-fuzz/artifacts/"; exit 1; \
	  fi; \
	  echo "fuzz_$$t: $$(grep -m1 '^Done ' $$log), corpus $$(ls $(BUILD)-fuzz/corpus/$$t | wc -l) files"; \
	done

# The randomized window test at length: SOAK_ACTIONS actions from SOAK_SEED
# (a new seed each run unless given; the seed is printed); then the compiled
# collation tables against ICU on SOAK_COLLATION_PAIRS random pairs of texts.
SOAK_ACTIONS ?= 1000000
SOAK_COLLATION_PAIRS ?= 3000000
SOAK_SEED ?=

soak: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen VRINDEL_MODEL_ACTIONS=$(SOAK_ACTIONS) VRINDEL_MODEL_SEED=$(SOAK_SEED) \
	  ./bin/robustness_window randomModel
	cd $(BUILD) && VRINDEL_COLLATION_SAMPLES=$(SOAK_COLLATION_PAIRS) VRINDEL_COLLATION_SEED=$(SOAK_SEED) \
	  ./bin/catalogue_tests --gtest_filter=CollationAgainstIcu.RandomTexts

clean:
	rm -rf $(BUILD) $(DIST)
