#!/usr/bin/env bash
# Tapwick on a virtual X desktop that this test starts itself (Xvfb, the trayer tray host, the
# dunst notification daemon, inside dbus-run-session): the tray icon appears, a click opens the
# popover fully on screen, each screen and the App Info window are captured to PNG files, and a
# received message reaches the notification daemon as one Notify call with its text escaped.
# Usage: desktop_test.sh APP BACKEND FIXTURE OUTPUT_FOLDER   (run by CTest as tapwick.desktop)
set -euo pipefail
app=$1 backend=$2 fixture=$3 out=$4
source "$(dirname "$0")/../../scripts/lib/desktop.sh"
rm -rf "$out"
mkdir -p "$out"
screen_width=1280 screen_height=800

fail() {
  echo "desktop test: $*" >&2
  echo "--- app log:" >&2
  cat "$out/app.log" >&2 2>/dev/null || true
  exit 1
}
trap desktop_stop EXIT

desktop_start_xvfb "$out/xvfb.log" || fail "no X server"
desktop_start_tray "$out/trayer.log" || fail "no tray host"
desktop_start_notifications "$out/dunst.log" || fail "no notification daemon"
dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'" \
  >"$out/notify.log" 2>&1 &
desktop_pids+=($!)

"$backend" --memory --port 0 >"$out/backend.out" 2>&1 &
desktop_pids+=($!)
desktop_wait_for "grep -q '^anon key:' '$out/backend.out'" 20 || fail "the backend did not start"
url=$(sed -n 's/^url: //p' "$out/backend.out")
key=$(sed -n 's/^anon key: //p' "$out/backend.out")
alice="alice-$$@example.com" bob="bob-$$@example.com"
"$fixture" "$url" "$key" users "$alice" "$bob" || fail "could not create the users"

export XDG_CONFIG_HOME="$out/config" XDG_DATA_HOME="$out/data" XDG_RUNTIME_DIR="$out/runtime"
export TAPWICK_PROJECT_URL="$url" TAPWICK_ANON_KEY="$key" ASAN_OPTIONS=detect_leaks=0
# Under ThreadSanitizer, what system libraries do among their own threads is not ours to judge.
export TSAN_OPTIONS="${TSAN_OPTIONS:-} suppressions=$(dirname "$0")/system_libraries.tsan.supp"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
"$app" >"$out/app.log" 2>&1 &
desktop_pids+=($!)

popover_is() { desktop_window_size_is '^Tapwick$' "$1" "$2"; }

# Captures the window at "X Y WIDTH HEIGHT" to $1 and checks its size and that it is not blank.
capture() {
  local file=$1 x=$2 y=$3 width=$4 height=$5
  import -window root -crop "${width}x${height}+${x}+${y}" +repage "$out/$file" ||
    fail "could not capture $file"
  local shape
  shape=$(identify -format '%w %h %[fx:standard_deviation>0.02]' "$out/$file")
  [ "$shape" = "$width $height 1" ] || fail "$file is '$shape', not a ${width}x${height} picture"
}

# The tray icon: a small window of ours docked in the tray host along the top edge.
desktop_wait_for "desktop_tray_icon tapwick" 20 || fail "the tray icon did not appear in the tray"
icon=$(desktop_tray_icon tapwick)

# A left click opens the popover; after the loading screen it shows the sign-in form.
xdotool mousemove $icon click 1
desktop_wait_for "popover_is 400 260" 20 || fail "the sign-in popover did not open"
read -r x y width height < <(desktop_window_geometry '^Tapwick$' 100)
[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + width)) -le $screen_width ] &&
  [ $((y + height)) -le $screen_height ] ||
  fail "the popover at $x,$y ${width}x$height is off screen"
capture signin.png $x $y $width $height

# Signing in (focus starts in "Email") shows the pairing screen.
desktop_sign_in "$alice" "correct horse"
desktop_wait_for "popover_is 400 550" 20 || fail "signing in did not show the pairing screen"
capture pairing.png $(desktop_window_geometry '^Tapwick$' 100)

# Bob pairs with Alice; Alice's app learns of it while polling and shows the messaging screen.
"$fixture" "$url" "$key" pair "$bob" "$alice" || fail "could not pair the users"
desktop_wait_for "popover_is 500 400" 20 || fail "pairing did not show the messaging screen"
capture messaging.png $(desktop_window_geometry '^Tapwick$' 100)

# A message with markup arrives as one notification whose text is escaped, so it shows as typed.
notifies() { grep -c 'member=Notify' "$out/notify.log" || true; }
"$fixture" "$url" "$key" send "$bob" "<b>bold</b> & co" || fail "could not send"
desktop_wait_for '[ "$(notifies)" -ge 1 ]' 20 || fail "no notification reached the daemon"
grep -q '^   string "Tapwick"$' "$out/notify.log" || fail "the notification is not titled Tapwick"
grep -q '^   string "&lt;b&gt;bold&lt;/b&gt; &amp; co$' "$out/notify.log" ||
  fail "the notification body is not the escaped message"
grep -q '^Sent at: [0-9][0-9] [A-Z][a-z][a-z] [0-9]\{4\}, [0-9][0-9]:[0-9][0-9]"$' \
  "$out/notify.log" || fail "the notification body does not end in the send time"
# A second message makes the second call: the first was not shown again meanwhile.
"$fixture" "$url" "$key" send "$bob" "second" || fail "could not send"
desktop_wait_for '[ "$(notifies)" -ge 2 ]' 20 || fail "the second message made no notification"
[ "$(notifies)" = 2 ] || fail "$(notifies) notifications for two messages"

# A right click opens the menu; its first item opens the App Info window.
xdotool key Escape
desktop_wait_for "! desktop_window_geometry '^Tapwick$' 100" 10 || fail "the popover did not close"
xdotool mousemove $icon click 3
visible_windows() { xdotool search --onlyvisible --classname '^tapwick$' 2>/dev/null | wc -l; }
desktop_wait_for '[ "$(visible_windows)" -ge 2 ]' 10 || fail "the right click opened no menu"
xdotool key Down Return
desktop_wait_for "desktop_window_geometry '^App Info$' 200" 20 ||
  fail "the App Info window did not open"
capture appinfo.png $(desktop_window_geometry '^App Info$' 200)
echo "desktop test: passed; screenshots in $out"
