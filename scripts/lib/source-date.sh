# shellcheck shell=bash
# The one date a build of this tree carries (package dates, the MSI's
# stopped clock, the signing time), so that the same tree builds the same
# bytes. Needs report.sh for `fail`.
#
#   when=$(source_date "$HERE")

# source_date DIR: SOURCE_DATE_EPOCH where the builder sets it, as
# reproducible-build tools do, else the time of DIR's last commit. Outside a
# git checkout with neither, the clock would date every build differently,
# so that is refused.
source_date() {
  if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is not a count of seconds: $SOURCE_DATE_EPOCH"
    printf '%s\n' "$SOURCE_DATE_EPOCH"
  else
    git -C "$1" log -1 --format=%ct 2>/dev/null ||
      fail "$1 is not in a git checkout: set SOURCE_DATE_EPOCH to date the build"
  fi
}
