#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer
# into its own virtual environment and runs the whole test suite under it.
# Any sanitizer report fails the run.
#
#   bash scripts/sanitize_tests.sh [extra pytest arguments]
#
# Environment: PYTHON (interpreter to build for, default python3),
# SANITIZE_VENV (default build/asan-venv), SANITIZE_SKIP_BUILD=1 (reuse the
# installed build), SANITIZE_LOG_DIR (default build/asan-logs).
set -u -o pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/sanitizer_env.sh
source "$ROOT/scripts/sanitizer_env.sh"

say() { printf 'sanitize_tests: %s\n' "$*"; }
fail() {
  say "FAIL: $*"
  exit 1
}

if [ "${SANITIZE_SKIP_BUILD:-0}" != 1 ]; then
  say "building the sanitizer build into $SANITIZE_VENV (build dir build/asan)"
  sanitizer_build "${PYTHON:-python3}" || fail "sanitizer build failed"
fi
PY="$SANITIZE_VENV/bin/python"

rm -rf "$SANITIZE_LOG_DIR"
sanitizer_env
"$PY" - <<'PY' 2>&1 || fail "the sanitizer build does not import, or is not the sanitizer build"
import subprocess
import mervanta._core as core
assert core.dumps([1]) == "[1]"
assert "libasan" in subprocess.run(["ldd", core.__file__], capture_output=True, text=True).stdout
PY

RUN_DIR="$(mktemp -d)"
trap 'rm -rf "$RUN_DIR"' EXIT
say "running the test suite under ASan+UBSan"
start=$(date +%s)
# From outside the repository, so the installed build is the one imported.
(cd "$RUN_DIR" && "$PY" -m pytest "$ROOT/tests" -q -p no:cacheprovider "$@") 2>&1 | tee "$RUN_DIR/pytest.log"
status=${PIPESTATUS[0]}
elapsed=$(($(date +%s) - start))

sanitizer_reports
reports=$?
if grep -qE "runtime error:|ERROR: AddressSanitizer|ERROR: LeakSanitizer" "$RUN_DIR/pytest.log"; then
  reports=$((reports + 1))
fi
summary=$(grep -E "[0-9]+ (passed|failed|errors?)" "$RUN_DIR/pytest.log" | tail -1)

[ "$reports" -eq 0 ] || fail "$reports sanitizer report(s); pytest: $summary (${elapsed}s)"
[ "$status" -eq 0 ] || fail "pytest exited with $status: $summary (${elapsed}s)"
say "PASS: no sanitizer reports; pytest: $summary (${elapsed}s)"
