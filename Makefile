# sigbrid: make deps (once, as root), make demo, make test.
JOBS ?= $(shell nproc)
WINE64 ?= /usr/lib/wine/wine64
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps native windows asan tsan demo test bench fuzz mutate release clean

all: native windows

deps:
	sh scripts/install-deps.sh

build/Makefile: CMakeLists.txt
	cmake -S . -B build $(CMAKE_FLAGS) \
	  -DSIGBRID_WIN32_EXE=$(CURDIR)/build-win32/sigbrid.exe \
	  -DSIGBRID_WIN64_EXE=$(CURDIR)/build-win64/sigbrid.exe

native: build/Makefile
	cmake --build build -j $(JOBS)

windows:
	cmake -S . -B build-win32 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
	cmake --build build-win32 -j $(JOBS)
	cmake -S . -B build-win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
	cmake --build build-win64 -j $(JOBS)

asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSIGBRID_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)

# ThreadSanitizer: the program and the tests of the lists signed on threads.
tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGBRID_TSAN=ON
	cmake --build build-tsan -j $(JOBS) --target sigbrid capi_tests

demo: native
	sh scripts/demo.sh build

# Every build, then every test: native (with Wine and the product checks), the
# sanitizer build, and the lists signed on threads under ThreadSanitizer.
test: native windows asan tsan
	cd build && ctest --output-on-failure -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -R '^capi_threads$$'

# The Windows programs from the last commit, reproducibly, signed when a key is
# given: dist/sigbrid-<version>-win32.zip and -win64.zip.
release:
	JOBS=$(JOBS) sh scripts/release.sh $(CURDIR)/dist

# Speed figures of the Linux build, printed; not part of `make test`.
bench: native
	cmake --build build --target bench

# The libFuzzer targets, built with clang, each run for FUZZ_SECONDS.
FUZZ_SECONDS ?= 30
fuzz:
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DSIGBRID_TESTS=OFF -DSIGBRID_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	sh scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

# Seeded faults in the product code and how many the native tests find:
# make mutate MUTATE_FLAGS="--seed 7 --count 80 --compare old-report.json"
MUTATE_FLAGS ?=
mutate:
	python3 scripts/mutate.py $(MUTATE_FLAGS)

clean:
	rm -rf build build-win32 build-win64 build-asan build-tsan build-fuzz build-mutate dist
