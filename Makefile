# Thin front over the CMake presets. `make test` works on a fresh Debian 12
# machine as root: it installs what is missing, then builds and tests the
# native core, the Windows launcher under Wine, and the fuzz targets.
JOBS ?= 2

.PHONY: test demo bootstrap native win32 wine64 fuzz bench dist dist-check clean

test: bootstrap
	$(MAKE) native win32 wine64 fuzz

# The product once, end to end: a sample product made with wixl, packed with
# a throwaway key, installed by the launcher under Wine (scripts/demo; all of
# it in build/demo/). DEMO_LOCALE=de_DE.UTF-8 makes the Wine user German.
DEMO_LOCALE ?= en_US.UTF-8
demo: bootstrap
	JOBS=$(JOBS) DEMO_LOCALE=$(DEMO_LOCALE) ./scripts/demo

bootstrap:
	./scripts/bootstrap

native:
	cmake --preset native
	cmake --build --preset native -j$(JOBS)
	ctest --preset native

# Where this machine has no 32-bit Wine, its Wine tests run in an emulated
# guest (docs/ARCHITECTURE.md, "Test lanes"); --prepare builds the guest's
# image once, here rather than inside a test's timeout.
win32:
	cmake --preset win32
	cmake --build --preset win32 -j$(JOBS)
	./tests/guest/lane --prepare
	ctest --preset win32

# The same Windows sources for x86-64, under the host's 64-bit Wine as they
# are: the Windows-facing code's quick check, whichever lane the win32 tree's
# Wine tests take.
wine64:
	cmake --preset wine64
	cmake --build --preset wine64 -j$(JOBS)
	ctest --preset wine64

fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)
	ctest --preset fuzz

# The host benchmarks, then the launcher end to end under Wine in the Windows
# trees that run here (scripts/launcher-bench).
bench: bootstrap
	cmake --preset bench
	cmake --build --preset bench -j$(JOBS)
	./build/bench/bench/read_record_bench
	JOBS=$(JOBS) ./scripts/launcher-bench

# The release archive (scripts/dist): build/dist/msilaunch-VERSION.zip and
# .tar.gz, the same bytes for the same commit.
dist: bootstrap
	JOBS=$(JOBS) ./scripts/dist

# That claim checked (scripts/dist-check): the archive made twice from
# nothing, the second time under another home folder and another cache
# folder, whose libraries the bootstrap builds again; the two compared.
dist-check: bootstrap
	JOBS=$(JOBS) ./scripts/dist-check

clean:
	rm -rf build
