# The two everyday commands:
#   make demo   install what is needed, build the kqu tool, and show it at work
#   make test   install what is needed, build, run every test, then run them again
#               under AddressSanitizer and UndefinedBehaviorSanitizer
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-asan demo bench fuzz clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900
	$(MAKE) --no-print-directory test-asan
	@if [ -x scripts/run-fuzz ]; then scripts/run-fuzz; fi

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKQU_SANITIZE=ON -DKQU_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1800 -LE large

# Builds only the tool (its log in $(BUILD)/demo-build.log), then shows it at work.
demo: deps
	@scripts/demo $(BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
