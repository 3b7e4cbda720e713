# Thin wrapper around CMake for the README commands.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: all build showcase test test-main test-asan install package vsix clean

all: build

build:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
	cmake --build $(BUILD) -j $(JOBS)

# Builds everything, then translates, assembles and runs the example programs.
showcase: build
	tools/showcase.sh $(BUILD)

# Every test, then the hosted tests once more under AddressSanitizer and UBSan.
test: test-main test-asan

test-main: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQW_SANITIZE=ON > /dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) -L hosted --output-on-failure -j $(JOBS)

# The toolchain in PREFIX/bin, lib/quillwright, share/quillwright and
# share/doc/quillwright (make install PREFIX=$HOME/.local).
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, $(BUILD)/quillwright_VERSION_amd64.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# The VS Code extension with its language client, editors/vscode/quillwright-VERSION.vsix
# (needs npm; CI does not build it).
vsix:
	cd editors/vscode && npm install --no-audit --no-fund && npx vsce package --allow-missing-repository --skip-license

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
