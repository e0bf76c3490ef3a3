# Thin wrapper around CMake + Ninja. Every target bootstraps first, so each works on a fresh machine.
#   make demo    build and run the demo against the embedded simulator
#   make test    build and run the whole test suite
#   make bench   build and run the benchmarks (Release)
#   make fuzz    build the libFuzzer targets with clang and run each for FUZZ_SECONDS, JOBS at once
#   make screenshots  draw the graphical host's screenshots (offscreen) into docs/screenshots/
#   make package the Debian packages (marigold, and one per desktop host's extension that was
#                built) from an -O2 build with Debian's hardening flags, checked by lintian for
#                missing hardening (build-package/marigold*.deb)
#   make test-darktable  install darktable, then run the darktable storage's tests inside it
#   make tidy    clang-tidy on the C++ files changed since main (TIDY_BASE)
# Variables: BUILD (build folder), WERROR=ON, SANITIZE=ON (AddressSanitizer + UBSan).

BUILD ?= build
WERROR ?= OFF
SANITIZE ?= OFF
FUZZ_SECONDS ?= 20
BENCH_ARGS ?=
JOBS ?= $(shell nproc)
# Third-party libraries' deliberate once-per-process allocations, which LeakSanitizer would report in a
# SANITIZE=ON build; harmless otherwise. Children the tests start (darktable, the CLI) inherit it.
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/testing/lsan.supp:print_suppressions=0

.PHONY: all bootstrap configure build test test-darktable demo bench fuzz screenshots package format tidy clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DMARIGOLD_WERROR=$(WERROR) -DMARIGOLD_SANITIZE=$(SANITIZE) \
	  $(if $(filter ON,$(SANITIZE)),-DMARIGOLD_BENCH=OFF,) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

test-darktable: configure
	@scripts/bootstrap darktable
	@cmake --build $(BUILD) -j $(JOBS) --target darktable_storage_test
	@cd $(BUILD) && ctest --output-on-failure -R '[Dd]arktable' --timeout 600

demo: build
	@$(BUILD)/apps/marigold/marigold demo

bench: bootstrap
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARIGOLD_BENCH=ON \
	  -DMARIGOLD_WERROR=$(WERROR) >/dev/null
	@cmake --build build-bench -j $(JOBS) --target benchmarks
	@for b in build-bench/bench/*_bench; do echo "== $$b"; $$b $(BENCH_ARGS) || exit 1; done

fuzz: bootstrap
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DMARIGOLD_FUZZ=ON -DMARIGOLD_SANITIZE=ON \
	  -DMARIGOLD_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzzers
	@JOBS=$(JOBS) scripts/run-fuzzers build-fuzz/fuzz $(FUZZ_SECONDS)

screenshots: configure
	@cmake --build $(BUILD) -j $(JOBS) --target screenshots

package: bootstrap
	@cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARIGOLD_HARDENING=ON \
	  -DMARIGOLD_BUILD_TESTS=OFF -DMARIGOLD_BENCH=OFF -DMARIGOLD_WERROR=$(WERROR) \
	  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
	@cmake --build build-package -j $(JOBS)
	@cd build-package && cpack -G DEB >/dev/null
	@lintian --tags \
	  hardening-no-fortify-functions,hardening-no-bindnow,hardening-no-relro,hardening-no-pie \
	  build-package/marigold*.deb | tee build-package/lintian.txt
	@# A library whose every copy has a size known only at run time keeps the plain memcpy, which
	@# lintian reports as hardening-no-fortify-functions although it was built fortified.
	@! grep -v hardening-no-fortify-functions build-package/lintian.txt | grep hardening-
	@echo "packages: $$(ls build-package/marigold*.deb)"

format:
	@git ls-files '*.cc' '*.h' | xargs clang-format -i

TIDY_BASE ?= main
tidy: configure
	@BUILD=$(BUILD) scripts/tidy $(TIDY_BASE)

clean:
	@rm -rf build build-asan build-bench build-fuzz
