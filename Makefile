# The two commands of a newcomer: `make run` and `make test`.
.PHONY: run test build dist bench stress clean

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

# Fuzzing and load runs, about 45 minutes; not part of test. See README.
stress:
	sh scripts/stress.sh

clean:
	rm -rf build
