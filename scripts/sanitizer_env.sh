# Shared by sanitize_tests.sh and fuzz_smoke.sh (source it, don't run it):
# building the extension with AddressSanitizer and UndefinedBehaviorSanitizer
# into its own virtual environment, and the environment to run it in.

SANITIZER_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SANITIZE_VENV="${SANITIZE_VENV:-$SANITIZER_ROOT/build/asan-venv}"
SANITIZE_LOG_DIR="${SANITIZE_LOG_DIR:-$SANITIZER_ROOT/build/asan-logs}"

# sanitizer_build PYTHON: creates the venv if needed and installs the
# sanitizer build into it; returns non-zero on failure.
sanitizer_build() {
  local python="$1"
  command -v g++ >/dev/null || { echo "g++ not found (the sanitizer runtimes come from it)"; return 1; }
  if [ ! -x "$SANITIZE_VENV/bin/python" ]; then
    "$python" -m venv --system-site-packages "$SANITIZE_VENV" || return 1
  fi
  "$SANITIZE_VENV/bin/python" -m pip install -q --disable-pip-version-check \
    "scikit-build-core>=0.10" cmake ninja "pytest>=7" "hypothesis>=6" "django>=4.2" || return 1
  (cd "$SANITIZER_ROOT" && "$SANITIZE_VENV/bin/python" -m pip install -q --disable-pip-version-check \
    --no-build-isolation --force-reinstall --no-deps \
    -Ccmake.define.MERVANTA_SANITIZE=ON -Ccmake.build-type=Debug -Cbuild-dir=build/asan .)
}

# sanitizer_env: exports the run-time settings. The interpreter is not
# instrumented: the runtimes are preloaded and leak detection is off (the
# interpreter keeps allocations until exit). PYTHONMALLOC=malloc routes Python
# objects through the checked allocator, so a reference released once too
# often shows up as a use after free. Failed allocations return null as
# they do without the sanitizer (huge chunk sizes must raise, not abort).
sanitizer_env() {
  local libasan libubsan
  libasan="$(g++ -print-file-name=libasan.so)"
  libubsan="$(g++ -print-file-name=libubsan.so)"
  mkdir -p "$SANITIZE_LOG_DIR"
  export LD_PRELOAD="$libasan $libubsan"
  export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:halt_on_error=1:abort_on_error=1:strict_string_checks=1:check_initialization_order=1:log_path=$SANITIZE_LOG_DIR/asan:log_exe_name=1"
  export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$SANITIZE_LOG_DIR/ubsan:log_exe_name=1"
  export PYTHONMALLOC=malloc
  export PYTHONFAULTHANDLER=1
  export MERVANTA_SANITIZED=1
}

# sanitizer_reports: prints every error report written so far and returns
# their number. Warnings alone (a refused huge allocation, which the module
# turns into MemoryError) are counted but are no failure.
sanitizer_reports() {
  local count=0 warnings=0 report
  for report in "$SANITIZE_LOG_DIR"/*; do
    [ -f "$report" ] || continue
    if grep -qE "ERROR: |runtime error:" "$report"; then
      echo "--- sanitizer report $report"
      cat "$report"
      count=$((count + 1))
    else
      warnings=$((warnings + $(grep -c "WARNING" "$report")))
    fi
  done
  [ "$warnings" -eq 0 ] || echo "sanitizer warnings (no errors): $warnings"
  return $((count > 255 ? 255 : count))
}
