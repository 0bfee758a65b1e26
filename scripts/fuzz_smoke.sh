#!/usr/bin/env bash
# Runs the fuzz harnesses of fuzz/ with atheris: a short smoke run for CI
# (30 s per harness by default), or a long run by hand, optionally on the
# sanitizer build.
#
#   bash scripts/fuzz_smoke.sh                          # CI smoke
#   FUZZ_SECONDS=1800 bash scripts/fuzz_smoke.sh --sanitize loads
#   bash scripts/fuzz_smoke.sh dumps -- -jobs=2 -dict=...   # extra libFuzzer options after --
#
# Targets: loads, dumps (default: both). Environment: PYTHON (interpreter to
# build for, default python3), FUZZ_SECONDS (per harness, default 30),
# FUZZ_VENV (default build/fuzz-venv). Crashes are written to
# build/fuzz-artifacts/<target>/ and the growing corpus to build/fuzz-corpus/<target>/.
set -u -o pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/sanitizer_env.sh
source "$ROOT/scripts/sanitizer_env.sh"
SECONDS_EACH="${FUZZ_SECONDS:-30}"
SANITIZE=0
TARGETS=()
EXTRA=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) SANITIZE=1 ;;
    --) shift; EXTRA=("$@"); break ;;
    *) TARGETS+=("$1") ;;
  esac
  shift
done
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(loads dumps)

say() { printf 'fuzz_smoke: %s\n' "$*"; }
fail() {
  say "FAIL: $*"
  exit 1
}

if [ "$SANITIZE" = 1 ]; then
  say "building the sanitizer build"
  sanitizer_build "${PYTHON:-python3}" || fail "sanitizer build failed"
  PY="$SANITIZE_VENV/bin/python"
else
  VENV="${FUZZ_VENV:-$ROOT/build/fuzz-venv}"
  if [ ! -x "$VENV/bin/python" ]; then
    "${PYTHON:-python3}" -m venv --system-site-packages "$VENV" || fail "could not create $VENV"
  fi
  PY="$VENV/bin/python"
  "$PY" -m pip install -q --disable-pip-version-check "scikit-build-core>=0.10" cmake ninja "pytest>=7" \
    "hypothesis>=6" || fail "could not install the build requirements"
  say "building the extension"
  (cd "$ROOT" && "$PY" -m pip install -q --disable-pip-version-check --no-build-isolation --force-reinstall \
    --no-deps .) || fail "build failed"
fi
if ! "$PY" -c "import atheris" 2>/dev/null; then
  "$PY" -m pip install -q --disable-pip-version-check atheris 2>/dev/null ||
    { say "SKIP: atheris does not install for $("$PY" -V 2>&1) on this platform"; exit 0; }
fi

if [ "$SANITIZE" = 1 ]; then
  rm -rf "$SANITIZE_LOG_DIR"
  sanitizer_env
fi

RUN_DIR="$(mktemp -d)"
trap 'rm -rf "$RUN_DIR"' EXIT
failed=0
summary=()
for target in "${TARGETS[@]}"; do
  harness="$ROOT/fuzz/fuzz_$target.py"
  [ -f "$harness" ] || fail "no harness $harness"
  say "fuzzing $target for ${SECONDS_EACH}s"
  log="$RUN_DIR/$target.log"
  # -rss_limit_mb: the interpreter and the sanitizer's shadow memory need room.
  (cd "$ROOT/fuzz" && "$PY" "$harness" -max_total_time="$SECONDS_EACH" -rss_limit_mb=4096 -timeout=60 \
    -print_final_stats=1 ${EXTRA[@]+"${EXTRA[@]}"}) >"$log" 2>&1
  status=$?
  runs=$(grep -oE "Done [0-9]+ runs in [0-9]+ second" "$log" | tail -1)
  if grep -q "is not implemented yet" "$log"; then
    summary+=("$target: skipped (not implemented yet)")
  elif [ "$status" -ne 0 ] || [ -z "$runs" ]; then
    tail -60 "$log"
    summary+=("$target: FAILED (exit $status)")
    failed=1
  else
    summary+=("$target: ${runs%% second}s, no findings")
  fi
done

if [ "$SANITIZE" = 1 ]; then
  sanitizer_reports || { summary+=("sanitizer reports written"); failed=1; }
fi
line=$(printf '%s; ' "${summary[@]}")
line="${line%; }"
[ "$failed" = 0 ] || fail "$line"
say "PASS: $line"
