#!/usr/bin/env bash
# Tapwick at rest: the app signed in and polling on a virtual desktop for 30 s; prints its CPU
# share over that time and its peak resident memory (goal: < 1% CPU, < 60 MB).
# Usage: bench/idle.sh [BUILD_FOLDER] [SECONDS]   (default build/release, 30)
# Builds tapwick_app, the stand-in backend and the fixture there when needed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build/release}
seconds=${2:-30}

if [ "${IDLE_IN_SESSION:-}" != 1 ]; then
  bash scripts/setup >&2
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVODUZAZI_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target tapwick_app local_backend_server tapwick_desktop_fixture >&2
  IDLE_IN_SESSION=1 exec dbus-run-session -- bash "$0" "$build" "$seconds"
fi

source scripts/lib/desktop.sh
out=$(mktemp -d)
trap 'desktop_stop; rm -rf "$out"' EXIT
desktop_start_xvfb "$out/xvfb.log"
desktop_start_tray "$out/trayer.log"
desktop_start_notifications "$out/dunst.log"
"$build/local_backend/voduzazi-local-backend" --memory --port 0 >"$out/backend.out" 2>&1 &
desktop_pids+=($!)
desktop_wait_for "grep -q '^anon key:' '$out/backend.out'" 20
url=$(sed -n 's/^url: //p' "$out/backend.out")
key=$(sed -n 's/^anon key: //p' "$out/backend.out")
email="idle-$$@example.com"
"$build/tapwick/tapwick_desktop_fixture" "$url" "$key" users "$email"

export XDG_CONFIG_HOME="$out/config" XDG_DATA_HOME="$out/data" XDG_RUNTIME_DIR="$out/runtime"
export TAPWICK_PROJECT_URL="$url" TAPWICK_ANON_KEY="$key"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
"$build/tapwick/tapwick" >"$out/app.log" 2>&1 &
app=$!
desktop_pids+=($app)
desktop_wait_for "desktop_tray_icon tapwick" 20
xdotool mousemove $(desktop_tray_icon tapwick) click 1
popover_is() { desktop_window_size_is '^Tapwick$' "$1" "$2"; }
desktop_wait_for "popover_is 400 260" 20
desktop_sign_in "$email" "correct horse"
desktop_wait_for "popover_is 400 550" 20
xdotool key Escape

# CPU ticks (user + system) of the app, from /proc.
ticks() { awk '{ print $14 + $15 }' "/proc/$app/stat"; }
hz=$(getconf CLK_TCK)
start_ticks=$(ticks)
start=$(date +%s.%N)
sleep "$seconds"
end_ticks=$(ticks)
end=$(date +%s.%N)
peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$app/status")
awk -v t=$((end_ticks - start_ticks)) -v hz="$hz" -v s="$start" -v e="$end" \
  -v kb="$peak_kb" 'BEGIN {
  cpu = 100 * t / hz / (e - s)
  printf "idle for %.1f s, signed in and polling\n", e - s
  printf "CPU share: %.2f%% (goal < 1%%)\n", cpu
  printf "peak resident memory: %.1f MB (goal < 60 MB)\n", kb / 1024
  printf "ratio cpu/goal: %.3f  memory/goal: %.3f\n", cpu / 1, kb / 1024 / 60
}'
