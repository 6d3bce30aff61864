# The two set-up commands of the README: `make test` and `make demo`.
# Each installs what is missing, fetches expat, builds and runs under Wine.
BUILD ?= build
NATIVE ?= $(BUILD)-native
JOBS  ?= 2
ROOT  := $(CURDIR)
# Warnings are errors unless asked otherwise (WERROR=OFF).
WERROR ?= ON
# Seconds each fuzz harness runs: briefly in `make test`, longer in `make fuzz`.
FUZZ_SECONDS ?= 600

.PHONY: all deps configure build native test demo dist bench fuzz clean

all: build

deps:
	@bash scripts/bootstrap.sh

$(BUILD)/CMakeCache.txt: | deps
	@expat=$$(bash scripts/fetch-expat.sh) && \
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DEXPAT_SOURCE_DIR="$$expat" -DTZR_WERROR=$(WERROR)

configure: $(BUILD)/CMakeCache.txt

build: deps configure
	cmake --build $(BUILD) -j$(JOBS)

# The pure parsers natively with clang, under address and undefined-behaviour
# sanitizers, with their fuzz harnesses.
$(NATIVE)/CMakeCache.txt: | deps
	@expat=$$(bash scripts/fetch-expat.sh) && \
	cmake -S . -B $(NATIVE) -DTZR_NATIVE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEXPAT_SOURCE_DIR="$$expat" -DTZR_WERROR=$(WERROR)

native: deps $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j$(JOBS)

test: build native
	cd $(BUILD) && ctest --output-on-failure --timeout 600
	cd $(NATIVE) && ctest --output-on-failure

demo: build
	bash demo/run-demo.sh $(BUILD)

# A release into dist/: the archive, its checksums, the licences (scripts/dist.sh).
# Signed with SIGN_CERT and SIGN_KEY, or SIGN_PKCS12; SIGN_PASS_FILE and
# SIGN_TIMESTAMP when given.
dist: build
	SIGN_CERT='$(SIGN_CERT)' SIGN_KEY='$(SIGN_KEY)' SIGN_PKCS12='$(SIGN_PKCS12)' \
	SIGN_PASS_FILE='$(SIGN_PASS_FILE)' SIGN_TIMESTAMP='$(SIGN_TIMESTAMP)' \
	bash scripts/dist.sh $(BUILD) $(ROOT)/dist

# Benchmarks, by hand only (never part of `make test`).
bench: build
	bash tools/bench/run-flash-bench.sh $(BUILD)
	bash scripts/wineserver.sh start $(BUILD) && \
	TZR_WORKDIR=$(abspath $(BUILD))/wineprefix/drive_c/tzr-bench \
	bash scripts/wine-run.sh $(BUILD) $(abspath $(BUILD))/tests/bench/xml_bench.exe && \
	bash scripts/wine-run.sh $(BUILD) $(abspath $(BUILD))/tests/bench/device_bench.exe; \
	rc=$$?; bash scripts/wineserver.sh stop $(BUILD); exit $$rc

fuzz: native
	cd $(NATIVE) && TZR_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --output-on-failure -R '^fuzz\.' --timeout 0

clean:
	rm -rf $(BUILD) $(NATIVE) dist
