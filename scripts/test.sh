#!/usr/bin/env bash
# Set-up, build, and every test: once as built, once more under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/build.sh build
(cd build && ctest --output-on-failure -j 2)

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
bash scripts/build.sh build-sanitize -DPORTAL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-sanitize && ctest --output-on-failure -j 2)
