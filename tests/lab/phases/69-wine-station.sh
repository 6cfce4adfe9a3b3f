#!/usr/bin/env bash
# tolvane-cli.exe --station under Wine: three units served at once, each session as a
# one-unit session, each record true to its unit; a unit taken out mid-session leaves the
# other two sessions untouched.
. "$LAB_ROOT/tests/lab/lib.sh"
cli_exe=$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe
[ "$LAB_UDEVD" = 1 ] || lab_skip "Wine sees later arrivals only with the udev daemon"

# What Wine offers, as the tool lists it: the slot is the plug-and-play location, else the
# interface path.
where() {
  wine_run "$cli_exe" --list --json >"$LAB_TMP/list.json" 2>/dev/null || return 1
  python3 - "$LAB_TMP/list.json" "$@" <<'PY'
import json, sys
units = {u["product"]: u for u in map(json.loads, open(sys.argv[1]))}
for product in sys.argv[2:]:
    if product not in units:
        sys.exit(f"Wine offers no {product} yet")
    print(product, units[product]["location"] or units[product]["path"], units[product]["path"], sep="\t")
PY
}

station_place where
lab_step "the reference: a plain session with one unit"
station_reference "$WINE" "$cli_exe"
lab_step "three units, one station run"
station_all_served "$WINE" "$cli_exe"
lab_step "three units, one taken out mid-session"
station_removal "$WINE" "$cli_exe"
station_stop
lab_step "every session as the reference's, every record true to its unit"
