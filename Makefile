# Entry points for people and CI. `make test` and `make run` install what is
# missing from Debian, build into build/ and then test or start the programs.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PACKAGES := build-essential cmake qt6-base-dev zlib1g-dev qt6-translations-l10n xvfb xauth lintian \
            fonts-ipafont-gothic fonts-ipafont-mincho libxcb1-dev \
            qt6-websockets-dev chromium chromium-driver python3-selenium \
            nodejs npm libqrencode-dev libzbar-dev

.PHONY: deps build test run clean

deps: page-tools
	@./tools/install-deps.sh $(PACKAGES)

# The page's lint and format tools come from npm, at the versions
# package-lock.json names; once installed they run offline.
.PHONY: page-tools
page-tools:
	@./tools/install-deps.sh nodejs npm
	@$(MAKE) --no-print-directory node_modules/.package-lock.json

node_modules/.package-lock.json: package.json package-lock.json
	npm ci --no-audit --no-fund

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

# Sanitizer build: AddressSanitizer + UndefinedBehaviorSanitizer over the whole suite.
ASAN_DIR ?= build-asan
.PHONY: test-asan fuzz fuzz-smoke
test-asan: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DSKETORA_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang); each runs FUZZ_SECONDS (default 60), or, when
# FUZZ_RUNS is set, that many executions whatever the time.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
fuzz: deps
	@./tools/install-deps.sh clang libclang-rt-14-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKETORA_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers
	./tools/run-fuzzers.sh $(FUZZ_DIR)/bin $(FUZZ_SECONDS) tests/fuzz/corpus $(FUZZ_RUNS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=5

# Installs both programs, the image library, menu entries, icons and the
# service unit under PREFIX (DESTDIR works as usual).
PREFIX ?= /usr/local
.PHONY: install
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# Debian packages sketora and sketora-server into build/.
.PHONY: package package-test
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# Builds the packages into a scratch folder, unpacks them and starts both
# programs from there (the same test runs within `make test`).
package-test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest -R '^packaging_' --output-on-failure

# The screenshots of the user guide in README.md, taken from the real programs
# in a virtual X display: a relay server on ports the system chooses, two
# clients drawing and talking through it.
.PHONY: screenshots
screenshots: build
	xvfb-run -a -s "-screen 0 1280x1024x24" $(BUILD_DIR)/bin/sketora-shots docs/screenshots
	SKETORA_SCREENSHOTS=$(CURDIR)/docs/screenshots SKETORA_BIN_DIR=$(CURDIR)/$(BUILD_DIR)/bin \
	  /usr/bin/python3 tests/web/browser_test.py PageTest.test_desktop_and_page_draw_and_talk

# One code style: the committed .clang-format over every C++ file git tracks,
# the committed .prettierrc.json over the page's JavaScript and its tests.
# `make format` rewrites them in place; `make format-check` (run by CI) fails
# and names the files that differ, and also runs the page's linter (ESLint,
# eslint.config.js).
.PHONY: format format-check lint
format: page-tools
	@./tools/install-deps.sh clang-format
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
	npm run --silent format

format-check: page-tools
	@./tools/install-deps.sh clang-format
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
	@npm run --silent format-check
	@npm run --silent lint

lint: page-tools
	@npm run --silent lint
