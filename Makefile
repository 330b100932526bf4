# One-command set-up for a fresh Debian machine: `make run` and `make test`
# install whatever is missing, build, and go.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
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

.PHONY: all deps build run test test-sanitize fuzz bench clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
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
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
