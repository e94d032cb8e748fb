# Shell functions for a desktop without a screen: Xvfb, a tray host and a notification daemon.
# Sourced by scripts/run and the desktop test. Every wait is bounded; a failure says what failed.
# Callers run inside dbus-run-session (the notification daemon needs a session bus) and call
# desktop_stop on exit.

desktop_pids=()

# Waits up to $2 seconds (default 10) for the command $1 to succeed.
desktop_wait_for() {
  local condition=$1 limit=${2:-10} waited=0
  until eval "$condition" >/dev/null 2>&1; do
    if [ "$waited" -ge $((limit * 10)) ]; then return 1; fi
    sleep 0.1
    waited=$((waited + 1))
  done
}

# Starts Xvfb on a free display (1280x800) and exports DISPLAY. Another server starting at the
# same moment may take the display Xvfb chose; then it gives up, and this tries again.
desktop_start_xvfb() {
  local log=$1 attempt
  for attempt in 1 2 3; do
    if desktop_try_xvfb "$log"; then return 0; fi
  done
  echo "desktop: Xvfb did not start (see $log)" >&2
  return 1
}

desktop_try_xvfb() {
  local log=$1 fifo number pid
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >>"$log" 2>&1 &
  pid=$!
  if ! read -r -t 10 number <"$fifo"; then
    rm -f "$fifo"
    kill "$pid" 2>/dev/null || true
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$number"
  if desktop_wait_for "kill -0 $pid && xdotool getdisplaygeometry" 5 && kill -0 "$pid"; then
    desktop_pids+=($pid)
    return 0
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return 1
}

# Starts the tray host along the top edge and waits for its window.
desktop_start_tray() {
  local log=$1
  trayer --edge top --align right --widthtype pixel --width 200 --height 24 \
    --transparent false --tint 0x404040 --SetDockType true >"$log" 2>&1 &
  desktop_pids+=($!)
  if ! desktop_wait_for "xdotool search --classname trayer" 10; then
    echo "desktop: the tray host (trayer) did not start (see $log)" >&2
    return 1
  fi
}

# Starts the notification daemon and waits until it owns the notification bus name.
desktop_start_notifications() {
  local log=$1
  dunst >"$log" 2>&1 &
  desktop_pids+=($!)
  if ! desktop_wait_for "dbus-send --session --print-reply --dest=org.freedesktop.DBus \
      /org/freedesktop/DBus org.freedesktop.DBus.GetNameOwner \
      string:org.freedesktop.Notifications" 10; then
    echo "desktop: the notification daemon (dunst) did not start (see $log)" >&2
    return 1
  fi
}

# Prints "X Y WIDTH HEIGHT" of the first visible window named $1 whose width is at least $2.
desktop_window_geometry() {
  local id
  for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    if [ "$WIDTH" -ge "$2" ]; then
      echo "$X $Y $WIDTH $HEIGHT"
      return 0
    fi
  done
  return 1
}

# Whether the visible window named $1 (at least 100 wide) is $2 by $3.
desktop_window_size_is() {
  [ "$(desktop_window_geometry "$1" 100 | cut -d' ' -f3-)" = "$2 $3" ]
}

# Prints the centre "X Y" of the tray icon of the windows of class $1 docked along the top edge;
# with a process id $2, only that process's icon.
desktop_tray_icon() {
  local id
  for id in $(xdotool search ${2:+--all --pid "$2"} --classname "^$1\$" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    if [ "$WIDTH" -le 64 ] && [ "$Y" -lt 24 ] && [ "$X" -gt 0 ]; then
      echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"
      return 0
    fi
  done
  return 1
}

# Signs in through the open popover's form (focus starts in "Email").
desktop_sign_in() {
  xdotool type --delay 5 "$1"
  xdotool key Tab
  xdotool type --delay 5 "$2"
  xdotool key Tab space
}

desktop_stop() {
  local pid
  for pid in "${desktop_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${desktop_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  desktop_pids=()
}
