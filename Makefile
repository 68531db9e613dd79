# The two commands of a newcomer: `make run` and `make test`.
.PHONY: run test build dist bench clean

run:
	sh scripts/run.sh

test:
	sh scripts/run-tests.sh

build:
	sh scripts/build.sh

dist:
	sh scripts/dist.sh

# Times velmora-cli beside tar, zstd, zip, unzip and 7zz; see README.
bench:
	sh scripts/bench.sh

clean:
	rm -rf build
