# make run   installs what is missing, builds, and runs the server headless
# make test  installs what is missing, builds, and runs every test
# make fuzz  builds the fuzz targets with clang and runs each for FUZZ_SECONDS
# make bench builds and runs the micro-benchmarks

BUILD_DIR ?= build
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2

.PHONY: deps configure build run test fuzz bench clean

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	BUILD_DIR=$(BUILD_DIR) scripts/run-server $(ARGS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DRELAY_FUZZ=ON -DRELAY_TESTS=OFF -DRELAY_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_all
	scripts/run-fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

bench: build
	$(BUILD_DIR)/bin/bench_devlink

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_DIR)
