# Shared set-up of the two commands: Debian packages and one virtual
# environment per interpreter. Sourced, not run; safe to repeat.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

source "$ROOT/scripts/debs.sh"
need_debs g++ cmake make libeigen3-dev libgtest-dev

# The target interpreter (CPython 3.9) where the machine has it, then python3.
interpreters() {
  local py39
  py39="$(ls /root/.pyenv/versions/3.9.*/bin/python3.9 2>/dev/null | sort -V | tail -n 1 || true)"
  [ -n "$py39" ] && echo "$py39"
  command -v python3
}

# make_venv PYTHON [EXTRA PACKAGES...]: prints the venv's python after
# installing the build tools, the test tools and Vexmora itself into it.
make_venv() {
  local py="$1"; shift
  local ver
  ver="$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
  local venv="$ROOT/.venv-$ver"
  if [ ! -x "$venv/bin/python" ]; then
    "$py" -m venv "$venv" >&2
  fi
  "$venv/bin/python" -m pip install -q --disable-pip-version-check \
    "numpy>=1.7" "tqdm>=4" "pytest>=7" "hypothesis>=6" "scikit-build-core>=0.10" "pybind11>=3.0,<4" cmake ninja "$@" >&2
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation \
    --force-reinstall --no-deps "$ROOT" >&2
  echo "$venv/bin/python"
}
