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

# wait_window TITLE [SECONDS]: prints the id of a visible window named
# exactly TITLE on $DISPLAY, within SECONDS (60: a GTK program under
# AddressSanitizer on a loaded machine starts slowly); else names the
# windows that are visible and fails.
wait_window() {
  local id deadline=$((SECONDS + ${2:-60}))
  while ((SECONDS < deadline)); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
    if [[ -n $id ]]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  echo "no window \"$1\" within ${2:-60} s; visible:" >&2
  xdotool search --onlyvisible --name . 2>/dev/null | while read -r id; do
    echo "  $id \"$(xdotool getwindowname "$id" 2>/dev/null)\"" >&2
  done
  return 1
}
