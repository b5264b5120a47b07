# Builds the sanitizer tree build/fuzz (the fuzz target and the C++ unit
# tests, clang with ASan and UBSan) and writes the seed corpus. Sourced by
# run.sh and replay.sh; safe to repeat.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FUZZ_BUILD="$ROOT/build/fuzz"

source "$ROOT/scripts/debs.sh"
need_debs clang-14 libclang-rt-14-dev libfuzzer-14-dev cmake make libeigen3-dev libgtest-dev

cmake -S "$ROOT" -B "$FUZZ_BUILD" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
  -DVEXMORA_FUZZ=ON -DVEXMORA_BUILD_TESTS=ON -DVEXMORA_BUILD_MODULE=OFF >/dev/null
cmake --build "$FUZZ_BUILD" -j2 >/dev/null
# The seeds come from the tests' tables: an interpreter the tests run in.
PYTHON="${PYTHON:-$(ls -d "$ROOT"/.venv-*/bin/python 2>/dev/null | sort -V | tail -n 1)}"
[ -x "$PYTHON" ] || { echo "fuzz: no test environment; run scripts/test.sh once, or set PYTHON" >&2; exit 1; }
rm -rf "$FUZZ_BUILD/seeds"
"$PYTHON" "$ROOT/fuzz/make_corpus.py" "$FUZZ_BUILD/seeds" >/dev/null
FUZZER="$FUZZ_BUILD/fuzz_reader"
