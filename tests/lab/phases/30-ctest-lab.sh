# The Linux build's tests that need /dev/uhid (CTest label "lab").
. "$LAB_ROOT/tests/lab/lib.sh"
[ -n "$(ctest --test-dir "$LAB_LINUX_BUILD" -N -L lab 2>/dev/null | grep 'Test *#')" ] || lab_skip "no tests labelled lab in $LAB_LINUX_BUILD"
ctest --test-dir "$LAB_LINUX_BUILD" -L lab --output-on-failure --timeout 300 2>&1 | tail -25
exit "${PIPESTATUS[0]}"
