# shellcheck shell=bash
# The dialog probe's reports (tests/wine/dialog_probe.cpp), read by the Wine
# scripts: one report file per look, in $WORK. Source it after report.sh.
#
#   probe_run NAME COMMAND...   # runs the probe, report in $WORK/NAME.txt
#   expect NAME LINE            # the report holds LINE exactly
#   refuse NAME PATTERN         # no line of the report matches PATTERN

# At most 120 s: the probe bounds its own waits well inside that. Wine's
# line ends are dropped; a failed probe shows what it said.
probe_run() {
  local name=$1 status=0
  shift
  timeout 120 "$@" >"$WORK/$name.txt" 2>"$WORK/$name.err" || status=$?
  tr -d '\r' <"$WORK/$name.txt" >"$WORK/$name.tmp" && mv "$WORK/$name.tmp" "$WORK/$name.txt"
  ((status == 0)) || { cat "$WORK/$name.txt" "$WORK/$name.err" >&2; fail "$name: the probe failed ($status)"; }
}

expect() {
  grep -Fxq -- "$2" "$WORK/$1.txt" || { cat "$WORK/$1.txt" >&2; fail "$1: expected \"$2\""; }
  checks=$((${checks:-0} + 1))
}

refuse() {
  if grep -Eq -- "$2" "$WORK/$1.txt"; then
    cat "$WORK/$1.txt" >&2
    fail "$1: unexpected \"$(grep -E -- "$2" "$WORK/$1.txt" | head -1)\""
  fi
  checks=$((${checks:-0} + 1))
}
