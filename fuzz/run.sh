#!/usr/bin/env bash
# fuzz/run.sh SECONDS [RUNS]: a fuzzing campaign on one core for that long (or
# that many executions, whichever comes first). New
# inputs accumulate in build/fuzz/corpus, so a later run goes on from there;
# crashes land in build/fuzz/findings. The real checkpoints of the shared test
# data, when present, join the seeds (read in place, never copied).
source "$(dirname "${BASH_SOURCE[0]}")/build.sh"
seconds="${1:?usage: fuzz/run.sh SECONDS [RUNS]}"
# A copy runs, so that a rebuild during a campaign leaves it alone.
cp "$FUZZER" "$FUZZ_BUILD/fuzz_reader.run"
mkdir -p "$FUZZ_BUILD/corpus" "$FUZZ_BUILD/findings"
extra=()
[ -d "$ROOT/../shared/testdata" ] && extra+=("$ROOT/../shared/testdata")
cd "$FUZZ_BUILD"
# libFuzzer keeps only files it can read as inputs: the testdata's texts are
# harmless seeds too.
"$FUZZ_BUILD/fuzz_reader.run" -dict="$ROOT/fuzz/chk.dict" -max_len="${MAX_LEN:-65536}" -timeout=20 \
  -rss_limit_mb=2048 -max_total_time="$seconds" -runs="${2:--1}" -print_final_stats=1 \
  -artifact_prefix="$FUZZ_BUILD/findings/" corpus seeds "$ROOT/fuzz/reproducers" "${extra[@]}" \
  2>&1 | tee "$FUZZ_BUILD/last-run.log" | grep -E -v '^#[0-9]+\s+(NEW|REDUCE)' || true
echo "== summary"
grep -E '^#[0-9]+\s+DONE|^Done|stat::number_of_executed_units|stat::average_exec_per_sec' \
  "$FUZZ_BUILD/last-run.log" || true
echo "corpus: $(ls corpus | wc -l) files; findings: $(ls findings | wc -l)"
