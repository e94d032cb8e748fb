#!/usr/bin/env bash
# Two Tapwick instances (Alice's and Bob's, each with its own XDG folders) on a virtual X desktop
# that this test starts itself (Xvfb, the trayer tray host, the dunst notification daemon, inside
# dbus-run-session). Everything a user does goes through the interface: clicks on the tray icons
# and on the widgets, typed text. Alice signs in and creates an invite code, Bob redeems it and
# sends a message, which reaches Alice's notification daemon as one Notify call with its text
# escaped. A second instance on Alice's folders refuses to start while hers runs. On every screen
# each text must show whole (the app's probe reports each widget's place, size hint and text,
# tests/tapwick/widget_probe.cpp); each screen is saved as a PNG.
# Usage: desktop_test.sh APP BACKEND FIXTURE OUTPUT_FOLDER   (run by CTest as tapwick.desktop)
set -euo pipefail
app=$1 backend=$2 fixture=$3 out=$4
source "$(dirname "$0")/../../scripts/lib/desktop.sh"
rm -rf "$out"
mkdir -p "$out"
screen_width=1280 screen_height=800

fail() {
  echo "desktop test: $*" >&2
  local user
  for user in alice bob; do
    echo "--- $user's app log:" >&2
    cat "$out/$user/app.log" >&2 2>/dev/null || true
  done
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
desktop_wait_for "grep -q '^service key:' '$out/backend.out'" 20 || fail "the backend did not start"
url=$(sed -n 's/^url: //p' "$out/backend.out")
key=$(sed -n 's/^anon key: //p' "$out/backend.out")
service_key=$(sed -n 's/^service key: //p' "$out/backend.out")
alice="alice-$$@example.com" bob="bob-$$@example.com"
"$fixture" "$url" "$key" users "$alice" "$bob" || fail "could not create the users"

export TAPWICK_PROJECT_URL="$url" TAPWICK_ANON_KEY="$key" ASAN_OPTIONS=detect_leaks=0
export XDG_RUNTIME_DIR="$out/runtime"
# Under ThreadSanitizer, what system libraries do among their own threads is not ours to judge.
export TSAN_OPTIONS="${TSAN_OPTIONS:-} suppressions=$(cd "$(dirname "$0")/../.." && pwd)/scripts/thread_sanitizer.supp"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"

# Starts one user's instance with folders of its own; sets ${user}_pid.
start_app() {
  local user=$1
  mkdir -p "$out/$user"
  XDG_CONFIG_HOME="$out/$user/config" XDG_DATA_HOME="$out/$user/data" \
    TAPWICK_PROBE_FILE="$out/$user/probe.json" "$app" >"$out/$user/app.log" 2>&1 &
  desktop_pids+=($!)
  printf -v "${user}_pid" '%s' $!
}
start_app alice
start_app bob
# Both icons docked, so that neither moves any more.
docked() { desktop_tray_icon tapwick "$alice_pid" && desktop_tray_icon tapwick "$bob_pid"; }
desktop_wait_for docked 20 || fail "the tray icons did not dock"

# What a user's probe last saw, filtered by the jq program $2.
probe() { jq -er "$2" "$out/$1/probe.json" 2>/dev/null; }
# The visible widget named $2 in $1's popover: "X Y W H HINT_W HINT_H WHOLE TEXT".
widget() {
  probe "$1" ".widgets[] | select(.window == \"popover\" and .name == \"$2\")
    | \"\(.x) \(.y) \(.w) \(.h) \(.hintW) \(.hintH) \(.whole) \(.text)\"" | head -1
}
shows() { [ -n "$(widget "$1" "$2")" ]; }
# The popover of $1: "X Y W H" while it is open.
popover() {
  probe "$1" '.windows[] | select(.name == "popover") | "\(.x) \(.y) \(.w) \(.h)"' | head -1
}
# Clicks the middle of $1's widget $2.
click() {
  local x y w h
  read -r x y w h _ < <(widget "$1" "$2") || fail "$1's popover shows no $2 to click"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}
# Fails unless every text in $1's window $2 shows whole.
all_whole() {
  local cut
  cut=$(probe "$1" ".widgets[] | select(.window == \"$2\" and .whole == false)
    | \"\(.class) \(.name) '\(.text)' \(.w)x\(.h), needs \(.hintW)x\(.hintH)\"" || true)
  [ -z "$cut" ] || fail "$3: these texts do not show whole in $1's $2:"$'\n'"$cut"
}
# Captures $1's popover (or the window named $3) to the file $2, checks its size and that it is
# not blank.
capture() {
  local user=$1 file=$2 window=${3:-popover} x y width height shape
  read -r x y width height < <(probe "$user" \
    ".windows[] | select(.name == \"$window\") | \"\(.x) \(.y) \(.w) \(.h)\"" | head -1) ||
    fail "no $window of $user's to capture"
  [ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + width)) -le $screen_width ] &&
    [ $((y + height)) -le $screen_height ] ||
    fail "$user's $window at $x,$y ${width}x$height is off screen"
  import -window root -crop "${width}x${height}+${x}+${y}" +repage "$out/$file" ||
    fail "could not capture $file"
  shape=$(identify -format '%w %h %[fx:standard_deviation>0.02]' "$out/$file")
  [ "$shape" = "$width $height 1" ] || fail "$file is '$shape', not a ${width}x${height} picture"
}
# Whether $1's popover is open and at least $2 by $3.
popover_at_least() {
  local w h
  read -r _ _ w h < <(popover "$1") && [ "$w" -ge "$2" ] && [ "$h" -ge "$3" ]
}
# Opens $1's popover with a left click on $1's tray icon, once the icon is docked. (A click just
# after the popover closed is taken for the closing click and ignored: then it clicks again.)
open_popover() {
  local pid_name="${1}_pid" icon attempt
  for attempt in 1 2 3; do
    icon=$(desktop_tray_icon tapwick "${!pid_name}") || fail "$1's tray icon is gone"
    xdotool mousemove $icon click 1
    if desktop_wait_for "popover $1" 5; then return 0; fi
  done
  fail "$1's popover did not open (clicked at $icon; Alice's icon at" \
    "$(desktop_tray_icon tapwick "$alice_pid"), Bob's at $(desktop_tray_icon tapwick "$bob_pid");" \
    "windows: $(probe "$1" '.windows')"
}
close_popover() {
  xdotool key Escape
  desktop_wait_for "! popover $1" 10 || fail "$1's popover did not close"
}

# The tray with both icons, drawn to show on its grey.
import -window root -crop 200x24+$((screen_width - 200))+0 +repage "$out/tray.png" ||
  fail "could not capture the tray"

# Alice: the sign-in form, in a popover at least the 400 x 260 it asks for.
open_popover alice
desktop_wait_for "shows alice email" 20 || fail "Alice's popover shows no sign-in form"
desktop_wait_for "popover_at_least alice 400 260" 5 || fail "the sign-in popover is too small"
all_whole alice popover "the sign-in form"
capture alice signin.png
desktop_sign_in "$alice" "correct horse"
desktop_wait_for "shows alice createInviteCode" 20 || fail "signing in did not show pairing"
desktop_wait_for "popover_at_least alice 400 550" 5 || fail "the pairing popover is too small"
all_whole alice popover "the pairing screen"
capture alice pairing.png

# "Create Invite Code": the code label shows the whole stored code.
click alice createInviteCode
desktop_wait_for "shows alice generatedCode" 20 || fail "no invite code appeared"
code=$("$fixture" "$url" "$key" invite-codes "$alice") || fail "could not read the stored codes"
[ "$(printf '%s\n' "$code" | wc -l)" = 1 ] || fail "one press stored codes '$code'"
read -r _ _ w _ hint_w _ whole shown < <(widget alice generatedCode) || fail "no code label"
[ "$whole" = true ] || fail "the code label is cut by its card"
[ "$shown" = "$code" ] || fail "the code label shows '$shown', the server stored '$code'"
[ "$w" -ge "$hint_w" ] || fail "the code label is $w wide, its text needs $hint_w"
shows alice copyCode || fail "no copy button beside the code"
all_whole alice popover "the pairing screen with a code"
capture alice pairing-code.png
close_popover alice

# Bob: signs in, tries a wrong code (the error moves no button), then redeems Alice's code.
open_popover bob
desktop_wait_for "shows bob email" 20 || fail "Bob's popover shows no sign-in form"
# The sign-up form (the right half of the tabs), then back to signing in.
read -r x y w h _ < <(widget bob tabs) || fail "no Sign In / Sign Up tabs"
xdotool mousemove $((x + w * 3 / 4)) $((y + h / 2)) click 1
desktop_wait_for "shows bob username" 10 || fail "the Sign Up tab shows no Username field"
all_whole bob popover "the sign-up form"
capture bob signup.png
xdotool mousemove $((x + w / 4)) $((y + h / 2)) click 1
desktop_wait_for "! shows bob username" 10 || fail "the Sign In tab still shows Username"
click bob email
desktop_sign_in "$bob" "correct horse"
desktop_wait_for "shows bob inviteCode" 20 || fail "signing in did not show Bob's pairing screen"
read -r _ connect_y _ < <(widget bob connect) || fail "no Connect button"
click bob inviteCode
xdotool type --delay 5 "00000000"
click bob connect
desktop_wait_for "shows bob error" 20 || fail "a wrong code showed no error"
read -r _ y _ < <(widget bob connect) || fail "no Connect button"
[ "$y" = "$connect_y" ] || fail "the error moved the Connect button from y $connect_y to $y"
all_whole bob popover "the pairing screen with an error"
capture bob pairing-error.png
click bob inviteCode
xdotool key ctrl+a
xdotool type --delay 5 "$code"
click bob connect
desktop_wait_for "shows bob send" 20 || fail "redeeming the code did not show Bob's messaging"
desktop_wait_for "[ \"\$(widget bob friendUsername | cut -d' ' -f8-)\" = 'Connected → ${alice%@*}' ]" 20 ||
  fail "Bob's messaging screen does not name Alice"
all_whole bob popover "the messaging screen"
capture bob messaging.png

# Bob sends a message with markup; the "Sent: " banner lies over the form and moves nothing.
read -r _ field_y _ < <(widget bob message) || fail "no message field"
click bob message
xdotool type --delay 5 "<b>bold</b> & co"
click bob send
desktop_wait_for "shows bob banner" 10 || fail "no 'Sent: ' banner"
[ "$(widget bob banner | cut -d' ' -f8-)" = "Sent: <b>bold</b> & co" ] ||
  fail "the banner reads '$(widget bob banner | cut -d' ' -f8-)'"
read -r _ y _ < <(widget bob message) || fail "no message field"
[ "$y" = "$field_y" ] || fail "the banner moved the message field from y $field_y to $y"
capture bob banner.png
close_popover bob

# It reaches Alice as one notification whose text is escaped, so that it shows as typed.
notifies() { grep -c 'member=Notify' "$out/notify.log" || true; }
desktop_wait_for '[ "$(notifies)" -ge 1 ]' 20 || fail "no notification reached the daemon"
grep -q '^   string "Tapwick"$' "$out/notify.log" || fail "the notification is not titled Tapwick"
grep -q '^   string "&lt;b&gt;bold&lt;/b&gt; &amp; co$' "$out/notify.log" ||
  fail "the notification body is not the escaped message"
grep -q '^Sent at: [0-9][0-9] [A-Z][a-z][a-z] [0-9]\{4\}, [0-9][0-9]:[0-9][0-9]"$' \
  "$out/notify.log" || fail "the notification body does not end in the send time"

# Alice's app learned of the pairing while polling: her popover opens on messaging. Bob's
# rename on the server shows when she opens it again.
open_popover alice
desktop_wait_for "[ \"\$(widget alice friendUsername | cut -d' ' -f8-)\" = 'Connected → ${bob%@*}' ]" 20 ||
  fail "Alice's messaging screen does not name Bob"
all_whole alice popover "Alice's messaging screen"
capture alice messaging.png
close_popover alice
"$fixture" "$url" "$service_key" rename "$bob" robert || fail "could not rename Bob"
open_popover alice
desktop_wait_for "[ \"\$(widget alice friendUsername | cut -d' ' -f8-)\" = 'Connected → robert' ]" 20 ||
  fail "reopening the popover still shows Bob's old name"
close_popover alice

# A second message makes the second call: the first was not shown again meanwhile.
"$fixture" "$url" "$key" send "$bob" "second" || fail "could not send"
desktop_wait_for '[ "$(notifies)" -ge 2 ]' 20 || fail "the second message made no notification"
[ "$(notifies)" = 2 ] || fail "$(notifies) notifications for two messages"

# A right click opens the menu; its first item opens the App Info window.
icon=$(desktop_tray_icon tapwick "$alice_pid")
xdotool mousemove $icon click 3
visible_windows() {
  xdotool search --all --onlyvisible --pid "$alice_pid" --classname '^tapwick$' 2>/dev/null | wc -l
}
desktop_wait_for '[ "$(visible_windows)" -ge 2 ]' 10 || fail "the right click opened no menu"
xdotool key Down Return
desktop_wait_for "probe alice '.windows[] | select(.name == \"appInfo\")'" 20 ||
  fail "the App Info window did not open"
all_whole alice appInfo "the App Info window"
capture alice appinfo.png appInfo

# A second instance on Alice's folders stops at once and says why; once hers is killed, a launch
# on them starts, since the lock went with the process.
status=0
said=$(XDG_CONFIG_HOME="$out/alice/config" XDG_DATA_HOME="$out/alice/data" timeout 10 "$app" \
  2>&1) || status=$?
[ "$status" = 1 ] || fail "a second instance on Alice's folders ended with status $status"
[ "$said" = "Tapwick is already running." ] || fail "the second instance said '$said'"
kill -KILL "$alice_pid"
wait "$alice_pid" 2>/dev/null || true
start_app alice
desktop_wait_for 'desktop_tray_icon tapwick "$alice_pid"' 20 ||
  fail "no instance started on Alice's folders after hers was killed"
echo "desktop test: passed; screenshots in $out"
