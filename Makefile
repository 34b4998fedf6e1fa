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

.PHONY: all deps build run test bench clean package

all: build

# Quiet when everything is already there; installs only what is missing.
deps:
	@missing=""; for p in $(PACKAGES); do \
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

clean:
	rm -rf $(BUILD)
