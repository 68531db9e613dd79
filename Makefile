# The two commands of a newcomer: `make run` and `make test`.
.PHONY: run test build clean

run:
	sh scripts/run.sh

test:
	sh scripts/run-tests.sh

build:
	sh scripts/build.sh

clean:
	rm -rf build
