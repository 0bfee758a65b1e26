#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer
# into its own virtual environment and runs the whole test suite under it.
# Any sanitizer report fails the run.
#
#   bash scripts/sanitize_tests.sh [extra pytest arguments]
#
# Environment:
#   PYTHON          interpreter to build for (default: python3)
#   SANITIZE_VENV   virtual environment to use (default: build/asan-venv)
#   SANITIZE_SKIP_BUILD=1   reuse the installed build
#   SANITIZE_LOG_DIR        where sanitizer reports are written (default: build/asan-logs)
set -u -o pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${PYTHON:-python3}"
VENV="${SANITIZE_VENV:-$ROOT/build/asan-venv}"
LOG_DIR="${SANITIZE_LOG_DIR:-$ROOT/build/asan-logs}"

say() { printf 'sanitize_tests: %s\n' "$*"; }
fail() {
  say "FAIL: $*"
  exit 1
}

command -v g++ >/dev/null || fail "g++ not found (the sanitizer runtimes come from it)"
LIBASAN="$(g++ -print-file-name=libasan.so)"
LIBUBSAN="$(g++ -print-file-name=libubsan.so)"
[ -e "$LIBASAN" ] || fail "libasan.so not found ($LIBASAN)"
[ -e "$LIBUBSAN" ] || fail "libubsan.so not found ($LIBUBSAN)"

if [ ! -x "$VENV/bin/python" ]; then
  say "creating $VENV"
  "$PYTHON" -m venv --system-site-packages "$VENV" || fail "could not create $VENV"
fi
PY="$VENV/bin/python"

if [ "${SANITIZE_SKIP_BUILD:-0}" != 1 ]; then
  say "installing build and test requirements"
  "$PY" -m pip install -q --disable-pip-version-check \
    "scikit-build-core>=0.10" cmake ninja "pytest>=7" "hypothesis>=6" "django>=4.2" ||
    fail "could not install requirements"
  say "building the sanitizer build (build/asan)"
  (cd "$ROOT" && "$PY" -m pip install -q --disable-pip-version-check --no-build-isolation --force-reinstall --no-deps \
    -Ccmake.define.MERVANTA_SANITIZE=ON -Ccmake.build-type=Debug -Cbuild-dir=build/asan .) ||
    fail "sanitizer build failed"
fi

# The interpreter is not instrumented: the runtimes are preloaded, leak
# detection is off (the interpreter keeps its allocations until exit), and
# PYTHONMALLOC=malloc routes Python objects through the checked allocator so a
# reference released once too often is caught as a use after free.
rm -rf "$LOG_DIR"
mkdir -p "$LOG_DIR"
export LD_PRELOAD="$LIBASAN $LIBUBSAN"
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:halt_on_error=1:abort_on_error=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=0:log_path=$LOG_DIR/asan:log_exe_name=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$LOG_DIR/ubsan:log_exe_name=1"
export PYTHONMALLOC=malloc
export PYTHONFAULTHANDLER=1
export MERVANTA_SANITIZED=1

"$PY" -c "import mervanta._core as c; assert c.dumps([1]) == '[1]'" 2>&1 || fail "the sanitizer build does not import"
"$PY" - <<'PY' || fail "the installed extension is not the sanitizer build"
import mervanta._core as core, subprocess
out = subprocess.run(["ldd", core.__file__], capture_output=True, text=True).stdout
assert "libasan" in out, out
PY

RUN_DIR="$(mktemp -d)"
trap 'rm -rf "$RUN_DIR"' EXIT
say "running the test suite under ASan+UBSan"
start=$(date +%s)
(cd "$RUN_DIR" && "$PY" -m pytest "$ROOT/tests" -q -p no:cacheprovider "$@") 2>&1 | tee "$RUN_DIR/pytest.log"
status=${PIPESTATUS[0]}
elapsed=$(($(date +%s) - start))

reports=$(find "$LOG_DIR" -type f | wc -l)
if [ "$reports" -gt 0 ]; then
  for f in "$LOG_DIR"/*; do
    say "sanitizer report $f:"
    cat "$f"
  done
fi
if grep -qE "runtime error:|ERROR: AddressSanitizer|ERROR: LeakSanitizer" "$RUN_DIR/pytest.log"; then
  reports=$((reports + 1))
fi
summary=$(grep -E "(passed|failed|error)" "$RUN_DIR/pytest.log" | tail -1)

if [ "$reports" -gt 0 ]; then
  fail "$reports sanitizer report(s); pytest: $summary (${elapsed}s)"
fi
if [ "$status" -ne 0 ]; then
  fail "pytest exited with $status: $summary (${elapsed}s)"
fi
say "PASS: no sanitizer reports; pytest: $summary (${elapsed}s)"
