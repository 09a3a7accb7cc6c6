#!/bin/bash
# Opens two scenes of zelk-mail at once in real windows (run inside an X
# display; the window test starts it under xvfb-run and dbus-run-session) and
# leaves its findings in OUTDIR for the test to judge:
#   windows        how many windows titled "Mail" appeared
#   <scene>.png    each window captured      <scene>.geometry  its size
#   <scene>.exit   each program's exit status after SIGTERM
set -u
out="$1"
program="$2"
shift 2
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 GTK_A11Y=none GSK_RENDERER=cairo

declare -A pids
for scene in "$@"; do
    "$program" --scene "$scene" > "$out/$scene.out" 2>&1 &
    pids[$scene]=$!
    # The first window is up before the second program starts, so the
    # second really meets a running copy.
    for _ in $(seq 1 100); do
        n=$(xdotool search --onlyvisible --name "^Mail$" 2>/dev/null | wc -l)
        [ "$n" -ge "${#pids[@]}" ] && break
        sleep 0.1
    done
done
sleep 1.5
xdotool search --onlyvisible --name "^Mail$" 2>/dev/null | wc -l > "$out/windows"
for scene in "$@"; do
    pid=${pids[$scene]}
    wid=$(xdotool search --all --onlyvisible --pid "$pid" --name "^Mail$" 2>/dev/null | head -1)
    if [ -n "$wid" ]; then
        xdotool getwindowgeometry --shell "$wid" > "$out/$scene.geometry"
        import -window "$wid" "$out/$scene.png"
    fi
done
for scene in "$@"; do
    pid=${pids[$scene]}
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    echo $? > "$out/$scene.exit"
done
