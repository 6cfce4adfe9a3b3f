# The bench itself: uhid and the display are there.
. "$LAB_ROOT/tests/lab/lib.sh"
[ -c /dev/uhid ] || lab_fail "/dev/uhid is missing"
xdpyinfo >/dev/null || lab_fail "no display at $DISPLAY"
echo "kernel $(uname -r), $(nproc) CPUs, $(awk '/MemTotal/ {print int($2 / 1024)}' /proc/meminfo) MiB"
