# One-command set-up for a fresh Debian machine: `make run` and `make test`
# install whatever is missing, build, and go.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
WIN64      ?= build-win64
WIN32      ?= build-win32
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# ON in the project's CI (.ci/run): warnings are errors there only.
WERROR     ?= OFF
# The fuzz build (clang), how long `make fuzz` runs each target, and which
# targets (empty: all of fuzz/*_fuzz.cc).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 5
FUZZ_TARGETS ?=
PACKAGES    = cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libcurl4-openssl-dev \
              unixodbc-dev libsqliteodbc odbc-mdbtools odbc-postgresql postgresql chromium \
              python3-dbfread python3-dbf libdbd-xbase-perl clang libclang-rt-dev
# The Windows programs: mingw-w64's posix compilers, GoogleTest's sources for
# the cross-built tests, Wine to run them, zip's work done by cmake.
WIN_PACKAGES = cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
WINE_PACKAGES = wine64
# The installer of `make dist`.
DIST_PACKAGES = nsis
VERSION     = $(shell grep -m1 '^project' CMakeLists.txt | grep -o 'VERSION [0-9.]*' | cut -d' ' -f2)
DIST        = lumbra-$(VERSION)-windows
NSIS        = makensis -INPUTCHARSET UTF8 -V2 -DVERSION=$(VERSION) \
              -DEXE64=$(abspath $(WIN64))/$(DIST)/lumbra.exe -DEXE32=$(abspath $(WIN64))/$(DIST)/lumbra32.exe \
              -DREADME=$(CURDIR)/README.md

.PHONY: all deps install-missing build run test test-sanitize fuzz bench clean windows test-windows dist

all: build

deps:
	@$(MAKE) --no-print-directory install-missing PKGS="$(PACKAGES)"

install-missing:
	@missing=""; \
	for p in $(PKGS); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi; \
	  $$sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRA_WERROR=$(WERROR) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/demo.sh $(BUILD)/lumbra

test: build
	tools/check-layers.sh
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DLUMBRA_SANITIZE=ON -DLUMBRA_BENCH=OFF \
	  -DLUMBRA_WERROR=$(WERROR) >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# libFuzzer targets of fuzz/, built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, each run FUZZ_SECONDS from its seed corpus.
fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRA_FUZZ=ON \
	  -DLUMBRA_BENCH=OFF -DLUMBRA_WERROR=$(WERROR) >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target lumbra_fuzzers
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: build
	tools/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(WIN64) $(WIN32)

# --- Windows ------------------------------------------------------------------
# Both programs, cross-compiled: $(WIN64)/lumbra.exe and $(WIN32)/lumbra.exe,
# each checked to import only Windows' own DLLs.
windows:
	@$(MAKE) --no-print-directory install-missing PKGS="$(WIN_PACKAGES)"
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DLUMBRA_WERROR=$(WERROR) >/dev/null
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DLUMBRA_WERROR=$(WERROR) >/dev/null
	cmake --build $(WIN64) -j $(JOBS) --target lumbra
	cmake --build $(WIN32) -j $(JOBS) --target lumbra

# The tests of both builds under Wine; the 32-bit ones only where wine32 is
# installed (Debian: dpkg --add-architecture i386, then wine32:i386), and
# elsewhere only the 32-bit program is built.
test-windows: windows
	@$(MAKE) --no-print-directory install-missing PKGS="$(WINE_PACKAGES)"
	cmake --build $(WIN64) -j $(JOBS)
	tools/wine-test.sh $(WIN64) -j $(JOBS)
	@if [ -x /usr/lib/wine/wine ]; then \
	  cmake --build $(WIN32) -j $(JOBS) && tools/wine-test.sh $(WIN32) -j $(JOBS); \
	else echo "wine32 is not installed: the 32-bit program was built, its tests were not run"; fi
	@$(MAKE) --no-print-directory dist
	@# The installer is a 32-bit program; without wine32 the same script is
	@# tested built for amd64.
	@if [ -x /usr/lib/wine/wine ]; then tools/installer-test.sh lumbra-setup.exe $(WIN64); else \
	  $(NSIS) -DTARGET=amd64-unicode -DOUTFILE=$(abspath $(WIN64))/lumbra-setup-amd64.exe packaging/lumbra-setup.nsi && \
	  tools/installer-test.sh $(WIN64)/lumbra-setup-amd64.exe $(WIN64); fi

# The release archive: both programs (the 32-bit one as lumbra32.exe), the
# README and a sample Lumbra.ini, in $(DIST).zip, to be unzipped into the
# installation folder; and the installer lumbra-setup.exe
# (packaging/lumbra-setup.nsi).
dist: windows
	rm -rf $(WIN64)/$(DIST) $(DIST).zip
	mkdir -p $(WIN64)/$(DIST)
	x86_64-w64-mingw32-strip -o $(WIN64)/$(DIST)/lumbra.exe $(WIN64)/lumbra.exe
	i686-w64-mingw32-strip -o $(WIN64)/$(DIST)/lumbra32.exe $(WIN32)/lumbra.exe
	cp README.md packaging/Lumbra.ini $(WIN64)/$(DIST)/
	cd $(WIN64)/$(DIST) && cmake -E tar cf ../../$(DIST).zip --format=zip \
	  lumbra.exe lumbra32.exe README.md Lumbra.ini
	@echo "$(DIST).zip"
	@$(MAKE) --no-print-directory install-missing PKGS="$(DIST_PACKAGES)"
	$(NSIS) -DOUTFILE=$(CURDIR)/lumbra-setup.exe packaging/lumbra-setup.nsi
	@echo "lumbra-setup.exe"
