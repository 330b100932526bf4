# One-command set-up for a fresh Debian machine: `make run` and `make test`
# install whatever is missing, build, and go.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES    = cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libcurl4-openssl-dev \
              unixodbc-dev libsqliteodbc odbc-mdbtools odbc-postgresql postgresql chromium \
              python3-dbfread python3-dbf libdbd-xbase-perl

.PHONY: all deps build run test test-sanitize bench clean

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
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/demo.sh $(BUILD)/lumbra

test: build
	tools/check-layers.sh
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DLUMBRA_SANITIZE=ON -DLUMBRA_BENCH=OFF >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	tools/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
