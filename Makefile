# The two set-up commands of the README: `make test` and `make demo`.
# Each installs what is missing, fetches expat, builds and runs under Wine.
BUILD ?= build
JOBS  ?= 2
ROOT  := $(CURDIR)

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@bash scripts/bootstrap.sh

$(BUILD)/CMakeCache.txt: | deps
	@expat=$$(bash scripts/fetch-expat.sh) && \
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DEXPAT_SOURCE_DIR="$$expat"

configure: $(BUILD)/CMakeCache.txt

build: deps configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure --timeout 600

demo: build
	bash demo/run-demo.sh $(BUILD)

# Benchmarks, by hand only (never part of `make test`).
bench: build
	bash tools/bench/run-flash-bench.sh $(BUILD)
	bash scripts/wineserver.sh start $(BUILD) && \
	TZR_WORKDIR=$(abspath $(BUILD))/wineprefix/drive_c/tzr-bench \
	bash scripts/wine-run.sh $(BUILD) $(abspath $(BUILD))/tests/bench/xml_bench.exe && \
	bash scripts/wine-run.sh $(BUILD) $(abspath $(BUILD))/tests/bench/device_bench.exe; \
	rc=$$?; bash scripts/wineserver.sh stop $(BUILD); exit $$rc

clean:
	rm -rf $(BUILD)
