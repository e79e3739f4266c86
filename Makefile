# Convenience front end over CMake. The build lives in build/ (build-asan/ for `make sanitize`).
PREFIX ?= /usr/local
JOBS ?= 2
BUILD_DIR := build
ASAN_DIR := build-asan

.PHONY: all build check demo install deb bench sanitize clean deps

all: build

# Configure (first time) and build.
build: deps
	cmake -S . -B $(BUILD_DIR)
	cmake --build $(BUILD_DIR) -j$(JOBS)

# Missing Debian packages only.
deps:
	bash scripts/deps.sh

# Packages, build, every test, manual page lint; then every test again under the sanitizers.
check:
	JOBS=$(JOBS) bash scripts/check.sh $(BUILD_DIR)

# Run the manager with a few clients: nested in Xephyr on a usable $$DISPLAY, otherwise in a
# headless Xvfb, writing a screenshot.
demo:
	BUILD_DIR=$(BUILD_DIR) bash scripts/demo.sh

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package, built from a copy of the tree and checked with lintian; the .deb (with the
# debug symbols package, .buildinfo and .changes) goes to $(BUILD_DIR)/deb/.
deb:
	bash scripts/deps.sh package
	JOBS=$(JOBS) bash scripts/deb.sh $(BUILD_DIR)/deb

bench:
	bash bench/run.sh

# AddressSanitizer (leaks included) and UBSan build in its own directory, with every test.
sanitize:
	JOBS=$(JOBS) bash scripts/check.sh $(ASAN_DIR) -DTAVREL_SANITIZE=ON -DTAVREL_BENCH=OFF

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
