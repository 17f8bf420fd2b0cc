# The everyday commands:
#   make demo       install what is needed, build, and show the kqu tool at work
#   make test       install what is needed, build (Release, warnings as errors), run every
#                   test, check an installed copy from a consumer's side, run the tests
#                   again under AddressSanitizer and UndefinedBehaviorSanitizer, fuzz
#                   briefly; prints each stage's time at the end (scripts/test-all)
#   make fuzz       a longer fuzzing run (KQU_FUZZ_SECONDS, default 600, shared by all targets)
#   make coverage  build an instrumented tree, run every test but the `large` ones,
#                  and print line and branch coverage of kqutility/
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
COV_BUILD  ?= build-coverage
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
export BUILD ASAN_BUILD FUZZ_BUILD JOBS CMAKE_ARGS

.PHONY: all deps configure build test test-asan consumer-test coverage demo bench fuzz clean

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

# -O0 keeps every line its own so the figures mean what they say; the `large` tests
# only repeat paths the others reach, at many times the cost under instrumentation.
# Absolute profile paths let gcov find the sources when a compiler launcher such as
# ccache has made the command lines relative.
coverage: deps
	cmake -S . -B $(COV_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKQU_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="--coverage -fprofile-abs-path" -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g" \
	  -DCMAKE_EXE_LINKER_FLAGS="--coverage" -DCMAKE_SHARED_LINKER_FLAGS="--coverage" $(CMAKE_ARGS)
	cmake --build $(COV_BUILD) -j $(JOBS)
	find $(COV_BUILD) -name '*.gcda' -delete
	cd $(COV_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 1800 -LE large
	gcovr --root . --filter 'kqutility/' --object-directory $(COV_BUILD) \
	  --exclude-unreachable-branches --exclude-throw-branches --print-summary \
	  --txt $(COV_BUILD)/coverage.txt $(COV_BUILD)

# Builds only the tool (its log in $(BUILD)/demo-build.log), then shows it at work.
demo: deps
	@scripts/demo $(BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	@KQU_FUZZ_SECONDS=$${KQU_FUZZ_SECONDS:-600} scripts/run-fuzz

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(COV_BUILD)
