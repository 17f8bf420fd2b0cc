# The everyday commands:
#   make demo       install what is needed, build, and show the kqu tool at work
#   make test       install what is needed, build (Release, warnings as errors), run every
#                   test, check an installed copy from a consumer's side, run the tests
#                   again under AddressSanitizer and UndefinedBehaviorSanitizer, fuzz
#                   briefly; prints each stage's time at the end (scripts/test-all)
#   make fuzz       a longer fuzzing run (KQU_FUZZ_SECONDS, default 600, shared by all targets)
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
export BUILD ASAN_BUILD FUZZ_BUILD JOBS CMAKE_ARGS

.PHONY: all deps configure build test test-asan consumer-test demo bench fuzz clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKQU_WERROR=ON $(CMAKE_ARGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test:
	@scripts/test-all

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKQU_SANITIZE=ON -DKQU_WERROR=ON -DKQU_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1800 -LE large

consumer-test: build
	@scripts/consumer-test $(BUILD)

demo: build
	@scripts/demo $(BUILD)/kqu

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	@KQU_FUZZ_SECONDS=$${KQU_FUZZ_SECONDS:-600} scripts/run-fuzz

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
