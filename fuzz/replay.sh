#!/usr/bin/env bash
# The sanitizer step: the C++ unit tests, then the seed corpus and every saved
# reproducer, under the sanitizers. A failed test, a crash, a leak or an
# undefined-behaviour report fails the step.
source "$(dirname "${BASH_SOURCE[0]}")/build.sh"
shopt -s nullglob
ctest --test-dir "$FUZZ_BUILD" --output-on-failure
inputs=("$FUZZ_BUILD"/seeds/* "$ROOT"/fuzz/reproducers/*)
"$FUZZER" "${inputs[@]}" >"$FUZZ_BUILD/replay.log" 2>&1 || { tail -n 40 "$FUZZ_BUILD/replay.log"; exit 1; }
echo "replayed ${#inputs[@]} inputs"
