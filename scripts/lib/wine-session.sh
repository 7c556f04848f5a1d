# shellcheck shell=bash
# A Wine session for scripts that run Windows programs: a fresh prefix and
# an X display of their own, torn down when the script exits. Source it:
#
#   source scripts/lib/wine-session.sh
#   wine_session_start WORK_DIR   # or fails the script, saying why
#   timeout 60 "$WINE64" 'C:\x\program.exe'   # PE32+ programs
#   timeout 60 "$WINE32" 'C:\x\program.exe'   # PE32 programs
#
# wine_session_start creates WORK_DIR, a new prefix WORK_DIR/prefix (64-bit,
# able to run 32-bit programs too) with Wine's crash dialog off and with
# title bars drawn by Wine (Decorated=N: there is no window manager), and
# starts Xvfb on a free display. It exports WINEPREFIX,
# DISPLAY, WINEDEBUG=-all and WINEDLLOVERRIDES="mscoree,mshtml=", and sets
# an EXIT trap that calls wine_session_end (a script with a trap of its own
# calls wine_session_end from it instead). Logs go to WORK_DIR/wineboot.log
# and WORK_DIR/xvfb.log.
#
# wine_session_end ends the prefix's Wine server and Xvfb; safe to call twice.
#
# wine_session_runs_32bit answers whether this machine runs 32-bit programs:
# some kernels refuse them outright (execve gives ENOEXEC), and no Wine
# set-up changes that. A stage that needs them asks, and where the answer
# is no it calls wine_session_skip WHAT, which prints the line
# "skipped: WHAT: REASON" that scripts/test gathers. BLADEPOST_ASSUME_NO_32BIT=1
# makes the answer no on any machine, so that the skipping itself is tested.
#
# WINE64, WINE32 and WINESERVER name the loaders and the server. Every run
# must be bounded by `timeout`: a PE32 program without 32-bit Wine, or one
# stuck in a dialog, must not hang the script. Note that a PE32 program
# started without 32-bit Wine exits 0 without running: check what a program
# did, never only its exit code.

source "$(dirname "${BASH_SOURCE[0]}")/kernel-32bit.sh"
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver64
# The answer of wine_session_runs_32bit, once known: "yes", or "no" and
# the reason in wine_session_no_32bit_reason.
wine_session_32bit=
wine_session_no_32bit_reason=

wine_session_fail() {
  printf '[wine-session] FAILED: %s\n' "$*" >&2
  exit 1
}

wine_session_end() {
  if [[ -n ${WINEPREFIX:-} ]]; then
    timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
  fi
  xvfb_end
}

wine_session_start() {
  local work=${1:?usage: wine_session_start WORK_DIR}
  [[ -x $WINE64 && -x $WINESERVER ]] || wine_session_fail "64-bit Wine is missing: run scripts/setup"
  if wine_session_runs_32bit && [[ ! -x $WINE32 ]]; then
    wine_session_fail "32-bit Wine (wine32:i386) is missing: run scripts/setup"
  fi
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$WINEPREFIX"
  trap wine_session_end EXIT

  xvfb_start "$work/xvfb.log"

  # A fresh prefix now and then fails to come up at the first try on a busy
  # machine (seen once in a whole test run, with nothing in the log): one more.
  local status=0
  timeout 180 "$WINE64" wineboot -i >"$work/wineboot.log" 2>&1 || status=$?
  if ((status != 0)); then
    # Said on a line of its own, which scripts/test counts and shows.
    printf 'retried: wineboot: it exited with %s before the prefix was made\n' "$status"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    timeout 180 "$WINE64" wineboot -i >>"$work/wineboot.log" 2>&1 ||
      { tail -20 "$work/wineboot.log" >&2; wine_session_fail "Wine could not create its prefix"; }
  fi
  # A crashing program must end, not wait for someone to close a dialog.
  timeout 60 "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD \
    /d 0 /f >>"$work/wineboot.log" 2>&1 || wine_session_fail "Wine could not change its registry"
  # Without a window manager Wine draws the title bars itself.
  timeout 60 "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
    >>"$work/wineboot.log" 2>&1 || wine_session_fail "Wine could not change its registry"
  if wine_session_runs_32bit && [[ ! -d $WINEPREFIX/drive_c/windows/syswow64 ]]; then
    wine_session_fail "the prefix cannot run 32-bit programs (no syswow64)"
  fi
}

wine_session_runs_32bit() {
  if [[ -z $wine_session_32bit ]]; then
    wine_session_ask_32bit
  fi
  [[ $wine_session_32bit == yes ]]
}

# Asks the kernel first: where it refuses 32-bit programs, no Wine set-up
# changes that (and the set-up installs no 32-bit Wine there). Where it runs
# them, the 32-bit loader must start: one that is missing, or that runs and
# fails, is a broken set-up and fails the script, unless the set-up said
# that the archive could not install it.
wine_session_ask_32bit() {
  if [[ ${BLADEPOST_ASSUME_NO_32BIT:-} == 1 ]]; then
    wine_session_32bit=no
    wine_session_no_32bit_reason="BLADEPOST_ASSUME_NO_32BIT=1 says this machine runs no 32-bit programs"
    return
  fi
  if ! kernel_runs_32bit; then
    wine_session_32bit=no
    wine_session_no_32bit_reason=$kernel_no_32bit_reason
    return
  fi
  if [[ ! -x $WINE32 && -f $wine32_unavailable_file ]]; then
    wine_session_32bit=no
    wine_session_no_32bit_reason="$(cat "$wine32_unavailable_file"), said scripts/setup"
    return
  fi
  [[ -x $WINE32 ]] || wine_session_fail "32-bit Wine (wine32:i386) is missing: run scripts/setup"
  local out status=0
  out=$(timeout 20 bash -c '"$0" --version' "$WINE32" 2>&1) || status=$?
  ((status == 0)) && [[ $out == wine-* ]] ||
    wine_session_fail "the 32-bit Wine loader $WINE32 failed ($status): $out"
  wine_session_32bit=yes
}

# wine_session_skip WHAT: says that WHAT was not run, and why.
wine_session_skip() {
  wine_session_runs_32bit && wine_session_fail "wine_session_skip $1 on a machine that runs 32-bit programs"
  printf 'skipped: %s: %s\n' "$1" "$wine_session_no_32bit_reason"
}
