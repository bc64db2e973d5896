# Drives CMake and Ninja.
#   make        optimised build into build/, programs in build/bin/
#   make run    build the instrument and the chip program (not the tests),
#               then run the main job
#   make test   install what is missing, build the optimised, the sanitizer
#               (ASan + UBSan) and the thread-sanitizer configurations, run
#               every test of the first two and the cross-thread groups
#               under the third, then a short fuzz run of every target
#               (make test-fuzz)
#   make fuzz   the fuzz targets for longer (FUZZ_LONG_SECONDS each)
#   make bench  build and run the benchmarks
# JOBS sets the parallel compiles, tests and fuzz targets (default: cores).

JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
BUILD     := build
SANBUILD  := build-san
TSANBUILD := build-tsan
FUZZBUILD := build-fuzz
# Seconds each fuzz target runs in make test (a smoke run: every target
# starts from its seeds and runs a little) and in make fuzz.
FUZZ_SECONDS ?= 15
FUZZ_LONG_SECONDS ?= 600
CMAKE_GEN := -G Ninja

.PHONY: all build run test test-release test-san test-tsan test-fuzz fuzz bench deps clean

all: build

deps:
	@bash scripts/install-deps.sh

# Every configure step comes after the dependency installation (CMake looks
# for bison, GoogleTest, SDL, ...), also under make -j; order-only, so that
# a configured folder is not configured again.
$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

# The sanitizer configuration is Debug (assertions on) at -O1: AddressSanitizer's
# own advice for a usable speed; the checks are inserted before the
# optimiser runs, so they find what they find at -O0, and the tests (most of
# their time is the code under test) take a quarter of the time. The test
# files themselves stay at -O0 (tests/CMakeLists.txt): they compile in half
# the time.
$(SANBUILD)/build.ninja: | deps
	cmake -S . -B $(SANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	      -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
	      -DFLUVANE_SANITIZE=ON -DFLUVANE_BENCH=OFF

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# What the main job runs: the instrument with its drawn art, globe textures
# and help tune, and the chip program; not the tests.
RUN_TARGETS := fluvane fluvane_resources globe_resources tutorial_resource chip_program

run: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)
	@bash scripts/run.sh $(BUILD)

test: deps
	$(MAKE) test-release
	$(MAKE) test-san
	$(MAKE) test-tsan
	$(MAKE) test-fuzz

test-release: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

test-san: $(SANBUILD)/build.ninja
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest -j $(JOBS) --output-on-failure

# The cross-thread groups (the log, the integration store, the ring buffers,
# the engine bridge, posts and their aborts, user defaults, the statistics'
# snapshot, the Open Sound Control listeners and their flood, the
# instrument's breath shared by the audio and main threads, its statistics'
# upload copy, the tune reports from the audio thread, the globe's
# downloads and votes on its own and the shared thread, the recorder's
# queues, upload thread and skip, recording end to end and the recording
# controller's hand-overs, the on-the-fly listener beside a running machine,
# a silent machine asleep and woken, the remote audio client, the quit
# signals' watcher) once more under ThreadSanitizer.
TSAN_TESTS := ^(SharedVXLog|VXLogTest|IntegrationStore|RecordQueueTest|CBufferSimple|CBufferAdvance|XMutex|EventTest|VXChipBridgeTest|HttpClient|VXHttpPostHelper|UserDefaultsTest|StatsTest.TheUploadReadsALockedSnapshot|OscThreads|OscPorts|OscEventFlood|FluvaneGfxSharedBreath|FluvaneStatsTest.TheUploadCopy|FluvaneChipBridgeTest.TuneReports|FlameGlobeModel|FlameGlobeExit|FlameGlobeService|FluvaneVCRTest|FluvaneRecordingFlowTest|RecordingControllerTest|OtfListenerTest|OtfThreads|VMIdleTest|RemoteAudioClient|SignalWatcher)

$(TSANBUILD)/build.ninja: | deps
	cmake -S . -B $(TSANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	      -DFLUVANE_SANITIZE_THREAD=ON -DFLUVANE_BENCH=OFF

# The build runs the instrument's art tools, which draw through Mesa's
# software GL; its threads are outside what ThreadSanitizer can see, so the
# tools run with reports off. The tests below report as always.
test-tsan: $(TSANBUILD)/build.ninja
	TSAN_OPTIONS="report_bugs=0" cmake --build $(TSANBUILD) -j $(JOBS) \
	    --target chip_tests vxu_tests platform_tests classes_tests
	cd $(TSANBUILD) && TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/support/tsan.supp" \
	    ctest -j $(JOBS) --output-on-failure -R '$(TSAN_TESTS)'

# The engine's libFuzzer targets (clang, ASan + UBSan, engine libraries
# only), each run for FUZZ_SECONDS (make test) or FUZZ_LONG_SECONDS
# (make fuzz) from the test scripts and the seeds (scripts/fuzz.sh), JOBS
# targets at once.
$(FUZZBUILD)/build.ninja: | deps
	cmake -S . -B $(FUZZBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	      -DFLUVANE_FUZZ=ON -DFLUVANE_SANITIZE=ON -DFLUVANE_TESTS=OFF -DFLUVANE_BENCH=OFF

test-fuzz: $(FUZZBUILD)/build.ninja
	cmake --build $(FUZZBUILD) -j $(JOBS) --target fuzz_targets
	JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZBUILD) $(FUZZ_SECONDS)

fuzz: $(FUZZBUILD)/build.ninja
	cmake --build $(FUZZBUILD) -j $(JOBS) --target fuzz_targets
	JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZBUILD) $(FUZZ_LONG_SECONDS)

bench: build
	@bash scripts/install-deps.sh --bench
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done
	@bash bench/chip_programs.sh $(BUILD)
	@bash bench/instrument_frames.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SANBUILD) $(TSANBUILD) $(FUZZBUILD)
