# Sourced by the shell tests: check DESCRIPTION COMMAND... runs the command
# with its output appended to $work/checks.log, says PASS or FAIL with the
# description, and counts the failures in `failures`.
failures=0
check() {
  local what=$1
  shift
  if "$@" >>"$work/checks.log" 2>&1; then
    echo "PASS: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}
