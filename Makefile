# Sonitor: `make run` and `make check` are all a fresh Debian machine needs.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

SANITIZER_ENV = ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1 \
                UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build run check test asan bench fuzz format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DSONITOR_WERROR=ON $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Starts the editor on a sound the project makes itself. Without a display
# the command-line demo runs instead.
DEMO_SOUND = $(BUILD)/demo/welcome.wav

$(DEMO_SOUND): scripts/make-demo-sound | build
	@mkdir -p $(dir $@)
	@scripts/make-demo-sound $(BUILD) $@

run: build $(DEMO_SOUND)
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
	    $(BUILD)/bin/sonitor $(DEMO_SOUND); \
	else \
	    echo "run: no display; running the command-line demo instead (the editor needs X11 or Wayland)"; \
	    $(BUILD)/bin/sonitor-cli demo; \
	fi

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# The whole suite, then the core tests again under AddressSanitizer and
# UBSan, stopping at the first error.
check: test asan

asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DSONITOR_SANITIZE=ON -DSONITOR_CORE_ONLY=ON \
	    -DSONITOR_BUILD_BENCH=OFF -DSONITOR_WERROR=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest -j $(JOBS) --output-on-failure --stop-on-failure

bench: build
	bench/run-clip-io $(BUILD)
	$(BUILD)/bin/clip_bench
	$(BUILD)/bin/stream_bench
	bench/run-resample $(BUILD)
	bench/run-wav $(BUILD)
	bench/run-mp3 $(BUILD)
	bench/run-convert $(BUILD)
	bench/run-edit $(BUILD)
	bench/run-effects $(BUILD)
	bench/run-speed $(BUILD)
	bench/run-batch $(BUILD)
	$(BUILD)/bin/player_bench
	$(BUILD)/bin/wave_bench
	bench/run-editor $(BUILD)

# Fuzzes every parser for FUZZ_SECONDS each with libFuzzer (clang), starting
# from the committed corpora; new inputs go to $(FUZZ_BUILD)/corpus-*.
fuzz: deps
	@CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DSONITOR_FUZZ=ON -DSONITOR_CORE_ONLY=ON \
	    -DSONITOR_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for t in wav aiff au raw gsm mp3 tags; do \
	    mkdir -p $(FUZZ_BUILD)/corpus-$$t && \
	    $(FUZZ_BUILD)/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -max_len=65536 \
	        $(FUZZ_BUILD)/corpus-$$t fuzz/corpus/fuzz_$$t || exit 1; \
	done

format:
	@find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
