# Targets for a store's IT person; see README.md.
BUILD := build
CMAKE_FLAGS ?=

.PHONY: all deps configure test demo clean

all: configure
	cmake --build $(BUILD)

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

test: all
	cd $(BUILD) && ctest --output-on-failure

demo: configure
	cmake --build $(BUILD) --target srv_lumbrio lumbrio-db lumbrio-check
	@app/packaging/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
