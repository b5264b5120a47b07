#!/usr/bin/env bash
# The main job on the bundled example: convert examples/water.chk to a
# formatted checkpoint and a Gaussian input file in out/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
# The first interpreter listed; no pipe into head, whose early exit would
# fail the pipeline under pipefail.
py="$(interpreters)"
py="${py%%$'\n'*}"
vpy="$(make_venv "$py")"
mkdir -p out
"$(dirname "$vpy")/vexmora" examples/water.chk -o out/water.fchk --gjf out/water.gjf
