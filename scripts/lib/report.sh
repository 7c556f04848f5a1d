# shellcheck shell=bash
# How a script reports: every line tagged with the script's name, failures
# on standard error, ending the script. Source it after naming the tag:
#
#   report_tag=wine-e2e
#   source "$ROOT/scripts/lib/report.sh"
#   say "what happens now"; ok "what held (counted in \$checks)"; fail "why"

say() { printf '[%s] %s\n' "$report_tag" "$*"; }
fail() { printf '[%s] FAILED: %s\n' "$report_tag" "$*" >&2; exit 1; }
ok() { checks=$((${checks:-0} + 1)); say "ok: $*"; }
