# shellcheck shell=bash
# An X display of the script's own. Xvfb picks a free display number itself
# and writes it once it accepts connections (-displayfd), so two scripts
# started at once never pick the same one, and the wait is for that line,
# not for a time. Source it:
#
#   xvfb_start LOG_FILE    # exports DISPLAY, or fails the script saying why
#   xvfb_end               # ends that Xvfb; safe to call twice
#
# The display takes local clients without a cookie, as Xvfb does without
# -auth; -nolisten tcp keeps it to this machine.

xvfb_pid=

xvfb_start() {
  local log=${1:?usage: xvfb_start LOG_FILE} fifo number=
  command -v Xvfb >/dev/null || { echo "Xvfb is missing: run scripts/setup" >&2; exit 1; }
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>"$log" &
  xvfb_pid=$!
  # Ends with the number, or at once with nothing when Xvfb exits first.
  read -r -t 20 number < "$fifo" || true
  rm -f "$fifo"
  if [[ ! $number =~ ^[0-9]+$ ]]; then
    cat "$log" >&2
    echo "Xvfb gave no display number within 20 s" >&2
    xvfb_end
    exit 1
  fi
  export DISPLAY=:$number
}

xvfb_end() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}
