#!/usr/bin/env bash
# Start-up of the configurator's window beside a bare QMainWindow, both built
# here (Release) and started alternately on one virtual X display (Xvfb):
#   - time from the start of the process to the first drawing in its window,
#     the window being mapped on the way (median of the runs);
#   - resident memory (VmRSS) once the window has stood for a moment (median).
# Targets: at most 1.10 times the bare window's time, at most 8 MB more
# memory. A missed target is reported; with ORDAN_BENCH_STRICT=1 it also
# makes the script exit 1.
#   scripts/bench-startup.sh [RUNS]     (default 15)
# The build goes to build-bench/ (or $ORDAN_BENCH_BUILD_DIR). With
# ORDAN_BENCH_ALSO=/path/to/another/ordan-configurator (an older build, say)
# that program is timed in the same runs too, for a before and after.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORDAN_BENCH_BUILD_DIR:-$repo/build-bench}
runs=${1:-15}
settle_ms=1500 # how long a window stands before its memory is read

"$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target ordan-configurator -j "$(nproc)" >/dev/null

work=$(mktemp -d)
xvfb_pid=''
bus_pid=''
cleanup() {
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    [[ -n $bus_pid ]] && kill "$bus_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The bare window: what any Qt widget program costs to show a window of the
# same size.
cat >"$work/bare.cpp" <<'CPP'
#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.setFixedSize(550, 600);
    window.show();
    return application.exec();
}
CPP

# The watcher: starts a program and reports, in milliseconds from just
# before the start, when its first top-level window was mapped and when the
# program first drew into it (X DAMAGE), then its resident memory in kB after
# the settling time. Every window is watched from its creation, so an early
# drawing is not missed.
cat >"$work/watch.c" <<'C'
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static long rss_kb(pid_t pid)
{
    char path[64], line[256];
    long kb = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    fclose(f);
    return kb;
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const int settle = atoi(argv[1]);
    Display *display = XOpenDisplay(NULL);
    int damage_event, damage_error;
    if (!display || !XDamageQueryExtension(display, &damage_event, &damage_error))
        return 3;
    Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = now_ms();
    pid_t pid = fork();
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    Window mapped = 0;
    double map_ms = -1, draw_ms = -1;
    struct pollfd x = {ConnectionNumber(display), POLLIN, 0};
    while (draw_ms < 0 && now_ms() - start < 30000) {
        if (!XPending(display)) {
            poll(&x, 1, 100);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == CreateNotify && !event.xcreatewindow.override_redirect) {
            XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty);
        } else if (event.type == MapNotify && !mapped && !event.xmap.override_redirect) {
            mapped = event.xmap.window;
            map_ms = now_ms() - start;
        } else if (event.type == damage_event + XDamageNotify && mapped &&
                   ((XDamageNotifyEvent *)&event)->drawable == mapped) {
            draw_ms = now_ms() - start;
        }
    }
    usleep(settle * 1000);
    printf("%.1f %.1f %ld\n", map_ms, draw_ms, rss_kb(pid));
    kill(pid, SIGTERM);
    waitpid(pid, NULL, 0);
    return draw_ms < 0;
}
C

flags=$(pkg-config --cflags --libs Qt5Widgets)
# shellcheck disable=SC2086 # the flags are words
g++ -std=c++17 -O3 -DNDEBUG -fPIC "$work/bare.cpp" -o "$work/bare-window" $flags
gcc -O2 "$work/watch.c" -o "$work/watch" -lX11 -lXdamage

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
export DISPLAY=:$(head -n 1 "$work/display")
export QT_QPA_PLATFORM=xcb
# A desktop has a session bus, which a window with a menu bar asks about a
# global menu; without one, libdbus tries to launch a bus for each start.
if [[ -z ${DBUS_SESSION_BUS_ADDRESS:-} ]] && command -v dbus-daemon >/dev/null; then
    dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$work/bus"
    DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
    export DBUS_SESSION_BUS_ADDRESS
    bus_pid=$(sed -n 2p "$work/bus")
fi

configurator=$build/ordan-configurator
# One start of each to warm the file cache, not counted.
"$work/watch" 0 "$work/bare-window" >/dev/null
"$work/watch" 0 "$configurator" >/dev/null
also=${ORDAN_BENCH_ALSO:-}
for ((i = 0; i < runs; ++i)); do
    "$work/watch" "$settle_ms" "$work/bare-window" >>"$work/bare.txt"
    "$work/watch" "$settle_ms" "$configurator" >>"$work/configurator.txt"
    if [[ -n $also ]]; then
        "$work/watch" "$settle_ms" "$also" >>"$work/also.txt"
    fi
done

median() { # column file
    awk -v c="$1" '{print $c}' "$2" | sort -n | awk '{v[NR]=$1} END {
        if (NR % 2) print v[(NR+1)/2]; else printf "%.1f\n", (v[NR/2]+v[NR/2+1])/2 }'
}
bare_draw=$(median 2 "$work/bare.txt")
conf_draw=$(median 2 "$work/configurator.txt")
bare_map=$(median 1 "$work/bare.txt")
conf_map=$(median 1 "$work/configurator.txt")
bare_rss=$(median 3 "$work/bare.txt")
conf_rss=$(median 3 "$work/configurator.txt")

if [[ -n $also ]]; then
    awk -v runs="$runs" -v bd="$bare_draw" -v ad="$(median 2 "$work/also.txt")" \
        -v am="$(median 1 "$work/also.txt")" -v br="$bare_rss" -v ar="$(median 3 "$work/also.txt")" \
        -v name="$also" 'BEGIN {
        printf "also timed: %s\n  mapped %.1fms, drawn %.1fms, resident %.1f MB: %.2fx, %+.1f MB\n",
            name, am, ad, ar / 1024, ad / bd, (ar - br) / 1024 }'
fi
awk -v runs="$runs" -v bd="$bare_draw" -v cd="$conf_draw" -v bm="$bare_map" -v cm="$conf_map" \
    -v br="$bare_rss" -v cr="$conf_rss" 'BEGIN {
    ratio = cd / bd; extra = (cr - br) / 1024
    printf "start-up to a drawn window, median of %d runs (Xvfb)\n", runs
    printf "  %-22s %8s %8s %10s\n", "", "mapped", "drawn", "resident"
    printf "  %-22s %6.1fms %6.1fms %7.1f MB\n", "bare QMainWindow", bm, bd, br / 1024
    printf "  %-22s %6.1fms %6.1fms %7.1f MB\n", "ordan-configurator", cm, cd, cr / 1024
    printf "  ratio %.2fx (target <= 1.10x: %s), memory %+.1f MB (target <= +8 MB: %s)\n", ratio,
        ratio <= 1.10 ? "met" : "MISSED", extra, extra <= 8 ? "met" : "MISSED"
    exit !(ratio <= 1.10 && extra <= 8)
}' || [[ ${ORDAN_BENCH_STRICT:-0} != 1 ]]
