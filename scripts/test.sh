#!/usr/bin/env bash
# Runs the whole test suite: the C++ unit tests (plain, then under the
# sanitizers with the fuzz corpus replayed), then the Python suite on
# CPython 3.9 and on the default python3. Installs what it needs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
# Open Babel reads our cube files back; Chromium opens the viewer's pages.
need_debs openbabel
need_debs chromium chromium-driver || echo "Chromium could not be installed: the browser test will skip"

# The environments first: the fuzz corpus is made from the tests' tables.
venvs=()
while read -r py; do
  extra=(plotly)  # the viewer, on every interpreter (pure Python)
  # The test-side peers: the formatted-checkpoint readers that cross-check our
  # files, PySCF for values on points, GoodVibes for the
  # quasi-harmonic thermochemistry, matplotlib for the spectrum plot, qcelemental for
  # QCSchema (PySCF brings h5py), and mypy; pyarrow, h5py and the readers of the
  # dataset's table (pandas, polars, Dask); Selenium to drive Chromium over the
  # viewer's pages, Pillow to read its screenshots.
  if "$py" -c 'import sys; sys.exit(sys.version_info < (3, 10))'; then
    extra+=(qc-iodata cclib mypy pyscf goodvibes matplotlib qcelemental
            pyarrow h5py pandas polars "dask[distributed,dataframe]" selenium pillow)
  else
    extra+=(pyarrow h5py pandas)  # wheels exist for 3.9
  fi
  venvs+=("$(make_venv "$py" "${extra[@]}")")
done < <(interpreters)

echo "== C++ unit tests"
cmake -S . -B build/cpp -DVEXMORA_BUILD_TESTS=ON -DVEXMORA_BUILD_MODULE=OFF \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/cpp -j2 >/dev/null
ctest --test-dir build/cpp --output-on-failure

echo "== Sanitizer build (clang, ASan, UBSan): C++ unit tests and fuzz replay"
PYTHON="${venvs[-1]}" bash fuzz/replay.sh

status=0
for vpy in "${venvs[@]}"; do
  echo "== Python tests on $("$vpy" --version)"
  (cd "$ROOT" && "$vpy" -m pytest -q -p no:cacheprovider tests) || status=1
done
exit "$status"
