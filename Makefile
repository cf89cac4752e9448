# The README's commands. Each one installs what is missing, configures and
# builds before it runs, so they work on a fresh Debian 12 machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
CTEST_JOBS ?= 2
# Our own checks treat warnings as errors; plain builds do not.
WERROR    ?= -DZARN_WERROR=OFF

.PHONY: all deps build build-asan check check-plain check-asan demo install package package-check bench clean

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZARN_SANITIZE=ON $(WERROR)
	cmake --build $(ASAN_BUILD) -j $(JOBS)

check-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(CTEST_JOBS)

check-asan: build-asan
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(CTEST_JOBS)

# The whole suite, on a plain build and on a sanitizer build.
check: WERROR = -DZARN_WERROR=ON
check: check-plain check-asan

demo: build
	bash scripts/demo.sh $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the plain build (build/pmirlo-tessel_<version>_amd64.deb).
package: build
	cmake --build $(BUILD) --target package

# Installs the package with apt-get, runs it from /usr/bin and removes it.
# Not part of check.
package-check: build
	bash scripts/package-check.sh $(BUILD)

bench: deps
	cmake -S . -B build-perf -DCMAKE_BUILD_TYPE=Release -DZARN_BUILD_PERF=ON
	cmake --build build-perf -j $(JOBS)
	bash perf/run_all.sh build-perf

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-perf

.PHONY: fuzz stress

# Fuzzing of the command-line parsers with libFuzzer, 60 s per harness
# (FUZZ_SECONDS to change it). Not part of check.
fuzz: deps
	bash tests/fuzz/run_fuzz.sh build-fuzz

# 200 randomized comparisons at 2 to 5 processes, each checked against the
# one-process run (STRESS_RUNS to change the count). Not part of check.
stress: build
	bash tests/stress/run_stress.sh $(BUILD)
