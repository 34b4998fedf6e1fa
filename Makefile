# Thin wrapper around CMake so that a fresh Debian machine needs only
# `make run` or `make test`.

BUILD      ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

PACKAGES := cmake g++ make pkg-config qt6-base-dev libicu-dev libgtest-dev \
            libgmock-dev libbenchmark-dev fonts-dejavu-core desktop-file-utils \
            appstream dpkg-dev libglib2.0-bin
SANITIZE_PACKAGES := clang libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build run test bench clean package sanitize-deps sanitize fuzz soak

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

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/bin/vrindel

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# A Debian package is always a Release build: vrindel_2.1_<arch>.deb in $(BUILD).
package: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && cpack -G DEB

# Generates the catalogues on first use (in $(BUILD)/bench-data) and prints
# a table of every operation at 10,000, 100,000 and 1,000,000 records.
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
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DVRINDEL_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && QT_QPA_PLATFORM=offscreen $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS on a copy of its seed corpus; a
# crash, a leak or a failed check stops the run with the input kept.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := zoznam options

fuzz: sanitize-deps
	CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRINDEL_FUZZ=ON \
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
	rm -rf $(BUILD)
