# The two set-up commands: `make run` and `make test`. Both install what is missing first.
PRESET ?= dev
BUILD  := build/$(PRESET)
JOBS   ?= $(shell nproc)

BUILD_DEPS := g++ cmake ninja-build pkg-config ccache libssl-dev openssl libasio-dev \
	libavahi-client-dev nlohmann-json3-dev libicu-dev libcanberra-dev \
	qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-translations-l10n libgl-dev libgtest-dev libgmock-dev clang-format
TEST_DEPS  := avahi-daemon avahi-utils dbus iproute2 xvfb xauth procps
# Only for looking at the interface: fonts for the Japanese and Thai screenshots, ImageMagick to compare them.
SCREENSHOT_DEPS := xvfb xauth fonts-noto-cjk fonts-thai-tlwg imagemagick

FUZZ_DEPS  := clang libclang-rt-14-dev

# Seconds each fuzz target runs, and how many run at once. CI keeps them short; run `make fuzz
# FUZZ_SECONDS=600` for a longer search.
FUZZ_SECONDS ?= 60
FUZZ_PARALLEL ?= 2
CI_FUZZ_SECONDS ?= 60

.PHONY: all deps test-deps configure build run test sanitize fuzz screenshots format bench clean

all: build

deps:
	@tools/install-deps.sh $(BUILD_DEPS)

test-deps:
	@tools/install-deps.sh $(BUILD_DEPS) $(TEST_DEPS)

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/app/quobblefin

# The suites, then the sanitizer builds, then a short fuzz run of every target.
test: test-deps configure
	@tools/install-deps.sh $(FUZZ_DEPS)
	@cmake --build $(BUILD) -j $(JOBS)
	@tests/support/run-tests.sh $(BUILD)
	@tests/support/run-sanitizers.sh
	@tests/support/run-fuzz.sh $(CI_FUZZ_SECONDS) $(FUZZ_PARALLEL)

sanitize: test-deps
	@tests/support/run-sanitizers.sh

fuzz: deps
	@tools/install-deps.sh $(FUZZ_DEPS)
	@tests/support/run-fuzz.sh $(FUZZ_SECONDS) $(FUZZ_PARALLEL)

screenshots: deps configure
	@tools/install-deps.sh $(SCREENSHOT_DEPS)
	@cmake --build $(BUILD) -j $(JOBS) --target screenshot_scenes
	@tools/screenshots.sh $(BUILD)

bench: deps
	@bench/run.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
