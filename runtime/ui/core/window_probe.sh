#!/bin/bash
# Drives the demo program in a real window; run inside an X display (the
# window test starts it under xvfb-run and dbus-run-session). Leaves its
# findings in OUTDIR for the test to judge:
#   typed.png      the screen after typing      resized.png  after a resize
#   events.log     what reached the application  idle_ticks   CPU ticks in 3 s idle
#   exit_status    the demo's exit status after SIGTERM
#   web.png, web_events.log, web_exit_status   the web scene (see below)
set -u
out="$1"
demo="$2"
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 GTK_A11Y=none GSK_RENDERER=cairo
export ZELK_DEMO_EVENT_LOG="$out/events.log"
: > "$out/events.log"

"$demo" --scene wide > "$out/demo.out" 2>&1 &
pid=$!
wid=$(timeout 15 xdotool search --sync --name "^Toolkit demo$" | head -1)
if [ -z "$wid" ]; then
    echo "no window appeared" > "$out/failure"
    kill "$pid" 2>/dev/null
    exit 0
fi
echo "$wid" > "$out/window_id"
# Wait for the first frame and the initial turns.
sleep 1

xdotool type --delay 40 "hello"
xdotool key Return
# Select all, copy, go to the end and paste: the text doubles through the
# desktop clipboard.
xdotool key ctrl+a ctrl+c End ctrl+v
sleep 0.8
import -window root "$out/typed.png"

# Idle: no timers, no redraws.
sleep 1
t1=$(awk '{print $14+$15}' "/proc/$pid/stat")
sleep 3
t2=$(awk '{print $14+$15}' "/proc/$pid/stat")
echo $((t2 - t1)) > "$out/idle_ticks"

# A press in the message list's second row, then a drag across the search
# field (its release must arrive even though the pointer moved).
xdotool mousemove 400 170 click 1
sleep 0.3
xdotool mousemove 300 28 mousedown 1 mousemove 360 28 mousemove 420 29 mousemove 500 28 mouseup 1
sleep 0.3
xdotool windowsize "$wid" 560 800
sleep 0.8
import -window root "$out/resized.png"

kill -TERM "$pid"
wait "$pid"
echo $? > "$out/exit_status"

# With "web" as third argument: the demo's web scene, where a web page fills
# the rectangle (632, 240) to (932, 390) of the window.
if [ "${3:-}" = web ]; then
    export ZELK_DEMO_EVENT_LOG="$out/web_events.log"
    : > "$out/web_events.log"
    "$demo" --scene web > "$out/web_demo.out" 2>&1 &
    pid=$!
    for _ in $(seq 1 75); do
        grep -q "^web:load finished" "$out/web_events.log" && break
        sleep 0.2
    done
    # Web content reaches the screen a little after the load finishes.
    sleep 1.2
    import -window root "$out/web.png"
    kill -TERM "$pid"
    wait "$pid"
    echo $? > "$out/web_exit_status"
fi
