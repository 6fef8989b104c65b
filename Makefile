# The two commands a newcomer needs on a fresh Debian machine:
#   make run   set up, build, start huesmith on the bundled sample animation
#   make test  set up, build, run every test (plain and sanitizer builds)
# Installing:
#   make install [PREFIX=/usr/local] [DESTDIR=]  the program and its data in
#                PREFIX/lib/huesmith, a link in PREFIX/bin; make uninstall
#   make deb     a Debian package of the same files, in the build folder

BUILD     ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS      ?= 2
SAMPLE    ?= sample_bg2.gif
PREFIX    ?= /usr/local
DESTDIR   ?=

# Debian packages the build, the tests, the demo and the fuzzers need.
PACKAGES = cmake make g++ clang libclang-rt-14-dev pkg-config \
           liballegro4-dev libgif-dev libgtest-dev libbenchmark-dev \
           xvfb xdotool x11-utils imagemagick python3-pil valgrind dpkg-dev \
           libspng-dev libpng-dev nlohmann-json3-dev

.PHONY: setup build run test test-plain test-asan bench fuzz clean install uninstall deb

setup:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: setup build
	@bash tools/run_sample.sh $(BUILD) $(SAMPLE)

test-plain: setup build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DHUESMITH_SANITIZE=ON
	# The data generator runs during the build; giflib's writer leaks a
	# colour map per local table, which is no fault of the program's.
	ASAN_OPTIONS=detect_leaks=0 cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -LE e2e

test: test-plain test-asan

bench: setup build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	$(BUILD)/bench/benchmarks

fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHUESMITH_FUZZ=ON
	ASAN_OPTIONS=detect_leaks=0 cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets data_files
	bash fuzz/run_all.sh $(FUZZ_BUILD)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# What install wrote: the link and the program's own folder.
uninstall:
	rm -f "$(DESTDIR)$(PREFIX)/bin/huesmith"
	rm -rf "$(DESTDIR)$(PREFIX)/lib/huesmith"

deb: setup build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
