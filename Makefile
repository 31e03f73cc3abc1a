# Tarnwell: the everyday commands. `make demo` and `make test` do all the set-up
# a fresh Debian machine needs.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: all setup build build-asan test test-fast demo images fuzz deb deb-check clean

all: build

setup:
	bash scripts/setup.sh

# Line tables only (-g1): stack traces and sanitizer reports keep their lines,
# and the builds take a fraction less time than with full debug information.
$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1" -DTARNWELL_SANITIZE=ON

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Every suite, in the normal build and again under ASan and UBSan, then a
# short run of every fuzz target (a crash, a hang or a 2 GiB allocation fails).
FUZZ_SMOKE_SECONDS ?= 10
test: build build-asan
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	JOBS=$(JOBS) FUZZ_MAX_SEEDS=4 bash scripts/fuzz.sh $(FUZZ_SMOKE_SECONDS)

test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The Debian packages tarnwell and tarnwell-gui, into $(BUILD)/packages/.
deb: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build $(BUILD) -j $(JOBS)
	rm -f $(BUILD)/packages/*.deb
	cd $(BUILD) && cpack -G DEB

# What CI asks of the packages: their files (dpkg-deb -c) and no lintian errors.
deb-check: deb
	bash packaging/check-deb.sh $(BUILD)/packages

# Every libFuzzer target for FUZZ_SECONDS each (clang; see scripts/fuzz.sh).
FUZZ_SECONDS ?= 20
fuzz: setup
	JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)

# Recovers the bundled memory-card image into demo-output/.
demo: build
	bash scripts/demo.sh $(BUILD)/tarnwell

# Remakes the committed test images with the real tools (needs the set-up packages).
images: setup
	bash tests/images/make-images.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz demo-output
