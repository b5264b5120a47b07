#!/usr/bin/env bash
# Non-blank lines that are not # or // comments: tests (tests/, fuzz/) against code
# (the core, the package and its stubs, the build files, scripts, benchmarks,
# the example's maker and the tools).
set -euo pipefail
cd "$(dirname "$0")/.."
count() { cat "$@" 2>/dev/null | grep -Ev '^\s*($|#|//)' | wc -l; }
tests=$(count $(find tests fuzz -type f \( -name '*.py' -o -name '*.cpp' -o -name '*.h' -o -name '*.sh' \) 2>/dev/null))
code=$(count Vexmora_/*.cpp Vexmora_/*.h Vexmora_/*/*.pyi libvexmora/*.cpp libvexmora/*.h $(find src -name "*.py" -o -name "*.pyi") scripts/* bench/* examples/*.py tools/*.py tools/*.sh \
  CMakeLists.txt pyproject.toml .ci/run)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d, code %d, tests/code %.1f %%\n", t, c, 100 * t / c }'
