# Velmora: `make run` and `make test` on a fresh Debian 12 machine.

BUILD ?= build
SAN_BUILD ?= build-san
JOBS ?= $(shell nproc)
# qt6-wayland makes Velmora a native client of a Wayland session; sway, wtype,
# grim and wl-clipboard run the Wayland end-to-end test.
DEPS := build-essential cmake pkg-config qt6-base-dev qt6-wayland libmpv-dev \
        libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libavdevice-dev libgtest-dev libgmock-dev \
        ffmpeg xvfb xauth xdg-utils desktop-file-utils file \
        clang libclang-rt-14-dev libx11-dev libxext-dev libxtst-dev \
        sway wtype grim wl-clipboard
BENCH_DEPS := mpv imagemagick
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

PREFIX ?= /usr/local
SHOT_DEPS := xdotool imagemagick

.PHONY: deps build run test test-san bench soak soak-delay clean format install deb screenshot

# $(call install-missing,PACKAGES): installs those of the Debian packages
# that are missing, and nothing when all are there.
define install-missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install-missing,$(DEPS))

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

# Starts Velmora on the demo video (under Xvfb when there is no display).
run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD)/bin/velmora $(BUILD)/bin/demo.mp4; \
	else \
	  echo "No display: starting Velmora under Xvfb"; \
	  xvfb-run -a -s "-screen 0 1280x1024x24" $(BUILD)/bin/velmora $(BUILD)/bin/demo.mp4; \
	fi

# The suite, then the suite again built with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang; with short fuzzer runs).
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)
	$(MAKE) test-san

test-san: deps
	CC=clang CXX=clang++ cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
	cmake --build $(SAN_BUILD) -j$(JOBS)
	cd $(SAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

bench-deps: deps
	$(call install-missing,$(BENCH_DEPS))

bench: bench-deps build
	bench/run-all $(BUILD)

# Ten minutes of the real program playing and reviewing; by hand, not in CI.
soak: build
	$(call install-missing,$(SHOT_DEPS))
	bench/soak $(BUILD) 600

# A live stream played 10 s behind live for ten minutes (SOAK_SECONDS=180
# for three): the lag every minute, its largest deviation from the delay,
# frames shown twice and stalls.  By hand, not in CI.
SOAK_SECONDS ?= 600
soak-delay: build
	$(BUILD)/bench/bench_delay $(BUILD)/media/numbered.mp4 $(SOAK_SECONDS) 10

# Installs Velmora under $(PREFIX): the program folder $(PREFIX)/lib/velmora,
# the launcher $(PREFIX)/bin/velmora, the desktop entry and the icons.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the same layout under /usr: $(BUILD)/velmora_*.deb.
deb: build
	cd $(BUILD) && cpack -G DEB

# Remakes doc/review.png, the README's picture of the main window in review.
screenshot: build
	$(call install-missing,$(SHOT_DEPS))
	tools/make-screenshot $(BUILD) doc/review.png

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
