# Entry points for people and CI. `make test` and `make run` install what is
# missing from Debian, build into build/ and then test or start the programs.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PACKAGES := build-essential cmake qt6-base-dev qt6-translations-l10n xvfb xauth \
            fonts-ipafont-gothic fonts-ipafont-mincho libxcb1-dev

.PHONY: deps build test run clean

deps:
	@./tools/install-deps.sh $(PACKAGES)

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

run: build
	@./tools/run-local.sh $(BUILD_DIR)/bin

clean:
	rm -rf $(BUILD_DIR)
