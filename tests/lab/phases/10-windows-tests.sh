# The unit tests of the Windows build, under Wine.
. "$LAB_ROOT/tests/lab/lib.sh"
wine_run "$LAB_WINDOWS_BUILD/tests/windows/windows_tests.exe" >"$LAB_OUT/windows_tests.log" 2>&1
rc=$?
tail -3 "$LAB_OUT/windows_tests.log"
[ $rc -eq 0 ] || lab_fail "windows_tests.exe exit $rc (log: $LAB_OUT/windows_tests.log)"
