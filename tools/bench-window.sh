#!/usr/bin/env bash
# Real-window benchmark of the frame display: the player in its Qt window on a virtual screen
# (Xvfb 1920x1080), with a recorded camera paced like a 30 or 60 frames per second webcam and a
# recorded motion that moves in every cycle and turns round after every LEG cycles (one still
# frame ends each leg). Contents with real detail: the OpenCV sample footage (vtest.avi),
# upscaled, with film grain, made into a content by orvante-init at JPEG quality 90, LEG + 1
# frames each (320x240, 1920x1080, 3840x2160). Every run starts with 1 s in which nobody moves,
# goes forward over the stretch once (the first pass), then back and forth over it (ROUNDS round
# trips, default 1), then nobody moves.
#
# Per size, pace and window mode, cache on (ORVANTE_FRAME_CACHE_MB unset: the default budget)
# and off (0) side by side ("on / off"):
#   fr/s 1st   frame changes per second on the first pass (cycles per second in brackets)
#   fr/s after frame changes per second after it, and as a share of the cycles per second
#   cache      share of the frame changes after the first pass served from the read-ahead cache
#   p99 ms     the slowest 1 % of the cycles' own times (the wait for the camera's next frame
#              left out), over all cycles with motion
#   RSS MB     peak resident set (VmHWM)
#   idle CPU   processor time of each read-ahead worker thread while nobody moves, in % of a
#              core (the largest of them; from /proc/PID/task/*/stat, 1 to 3 s after the motion)
# The figures come from the player's cycle log (ORVANTE_CYCLE_LOG). The load average of the
# machine is printed before and after each run: the machine may be shared.
#
# Usage: tools/bench-window.sh [--quick] [--priority] [--rounds N] [--sizes "320x240 ..."] [--paces "30 60"]
#                               [--modes "window full"] BUILD_DIR [OUT_DIR]
#   --quick   full screen only (half the time)
#   --priority  (root) the benchmark runs in a session of its own whose scheduling group gets
#             nice -20, so that other users' work on a shared machine takes less of the processor
#             from the player and its X server; the player's own threads keep their priorities
#             among themselves (the read-ahead workers lowest)
# Contents are kept in OUT_DIR (default /tmp/orvante-bench-window) for the next run.
set -eu
LEG=150            # cycles of motion between two turns; the contents have LEG + 1 frames
ROUNDS=1           # round trips over the stretch after the first pass
SIZES="320x240 1920x1080 3840x2160"
PACES="30 60"
MODES="window full"
ARGS=("$@")
while [ $# -gt 0 ]; do
  case $1 in
    --quick) MODES=full; shift ;;
    --priority) PRIORITY=1; shift ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --sizes) SIZES=$2; shift 2 ;;
    --paces) PACES=$2; shift 2 ;;
    --modes) MODES=$2; shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
if [ -n "${PRIORITY:-}" ] && [ -z "${BENCH_SESSION:-}" ]; then
  BENCH_SESSION=1 exec setsid -w "$0" "${ARGS[@]}"
fi
if [ -n "${PRIORITY:-}" ]; then echo -20 >/proc/self/autogroup || { echo "--priority needs root" >&2; exit 2; }; fi
B=$(realpath "$1"); OUT=${2:-/tmp/orvante-bench-window}
FOOTAGE=${FOOTAGE:-/usr/share/doc/opencv-doc/examples/data/vtest.avi}
mkdir -p "$OUT"; OUT=$(realpath "$OUT")
for tool in ffmpeg Xvfb; do command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 2; }; done
[ -r "$FOOTAGE" ] || { echo "needs real footage: $FOOTAGE (package opencv-doc), or FOOTAGE=video" >&2; exit 2; }

XVFB_PID=; PLAYER_PID=
cleanup() {
  [ -z "$PLAYER_PID" ] || kill "$PLAYER_PID" 2>/dev/null || true
  [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
  rm -f /dev/shm/orvante-bench-window-$$ /dev/shm/orvante-bench-window-$$.alive
}
trap cleanup EXIT

# ---- contents: footage upscaled with grain, through orvante-init at quality 90 -----------
make_content() {  # SIZE -> $OUT/SIZE (work, S001 of LEG + 1 frames, camera)
  local size=$1 w=${1%x*} h=${1#*x} dir=$OUT/$1
  [ "$(ls "$dir/S001" 2>/dev/null | grep -c '^clip_.*\.jpg$')" -eq $((LEG + 1)) ] && return 0
  rm -rf "$dir"
  "$B/orvante-make-demo" "$dir" 1 >/dev/null
  rm -f "$dir"/S001/*.jpg
  ffmpeg -v error -y -i "$FOOTAGE" -frames:v $((LEG + 1)) \
    -vf "scale=$w:$h:force_original_aspect_ratio=increase:flags=lanczos,crop=$w:$h,noise=alls=10:allf=t" \
    -c:v mjpeg -q:v 1 "$OUT/grain-$size.avi"
  "$B/orvante-init" --quality 90 "$dir" "$OUT/grain-$size.avi" >/dev/null
  rm -f "$OUT/grain-$size.avi"
  # The stretch as one content, played one frame per cycle of motion, without idle actions.
  (cd "$dir/work" && "$B/orvante-env" zav_env.dat MaxCount=$((LEG + 1)) VR_step=1.0 WrapFlag=0 PlayState=1 \
     KeyFrameMode=0 'KeyFrameNumber[0]=0' 'KeyFrameNumber[1]=0' 'KeyFrameNumber[2]=0' >/dev/null)
}

# ---- the recorded camera: the demo's walking figure -----------------------------------
# Frames 0..24 of the demo's camera walk (4 px a frame), 25..64 stand at the end of that walk
# (25 lowers the arms, then camera noise only). A leg plays the walk back and forth, ending on
# frame 24, then 25: LEG moves; the still frame 26 then ends the burst and turns the player
# round. Nobody moves for 1 s before the first leg (a visitor walks up to the installation: the
# read-ahead fills meanwhile) and after the last leg (4 s).
make_camera() {  # PACE -> $OUT/camera-PACE/cam_%05d.png
  local pace=$1 dir=$OUT/camera-$1 n=0 legs=$((1 + 2 * ROUNDS)) still=$((4 * $1)) i j p
  rm -rf "$dir"; mkdir -p "$dir"
  put() { ln -s "$OUT/camera-frames/motion_$(printf %04d "$1").png" "$dir/cam_$(printf %05d $n).png"; n=$((n + 1)); }
  mkdir -p "$OUT/camera-frames"; cp "$OUT/${SIZES%% *}/camera/"motion_00[0-6]?.png "$OUT/camera-frames/"
  for ((i = 0; i < $1; i++)); do put $((26 + i % 39)); done  # 1 s: the visitor walks up
  for ((i = 0; i < legs; i++)); do
    for ((j = LEG - 2; j >= 0; j--)); do p=$((j % 48)); [ $p -le 24 ] && put $((24 - p)) || put $((p - 24)); done
    put 25; put 26
  done
  for ((i = 0; i < still; i++)); do put $((26 + i % 39)); done
}
# ---- one run of the player -------------------------------------------------------------
ticks() {  # PID -> "tid utime+stime comm" of every thread of PID
  local t
  for t in /proc/$1/task/*; do
    [ -r "$t/stat" ] || continue
    awk -v tid="${t##*/}" -v comm="$(cat "$t/comm" 2>/dev/null)" '{ sub(/^.*\) /, ""); print tid, $12 + $13, comm }' "$t/stat"
  done
}
run_player() {  # SIZE PACE MODE CACHE(on|off) -> one line of figures
  local size=$1 pace=$2 mode=$3 cache=$4 dir=$OUT/$1 log=$OUT/cycles-$1-$2-$3-$4.log
  local motion=$((pace + (1 + 2 * ROUNDS) * (LEG + 1))) n t0 t1 a b rss
  rm -f "$log"
  (cd "$dir/work" && exec env ORVANTE_CAMERA="$OUT/camera-$pace/cam_%05d.png" ORVANTE_CAMERA_ON=1 ORVANTE_CAMERA_LOOP=0 \
     ORVANTE_CAMERA_FPS=$pace ORVANTE_CYCLE_LOG="$log" ORVANTE_SHM_NAME=/orvante-bench-window-$$ \
     $([ "$mode" = full ] && echo ORVANTE_FULLSCREEN=1) $([ "$cache" = off ] && echo ORVANTE_FRAME_CACHE_MB=0) \
     "$B/orvante" >"$OUT/console-$size-$pace-$mode-$cache.txt" 2>&1) &
  PLAYER_PID=$!
  # Nobody moves from cycle `motion` on: per-thread times from 1 s to 3 s after it.
  lines() { [ -r "$log" ] && wc -l <"$log" || echo 0; }
  until [ "$(lines)" -ge $((motion + pace)) ]; do
    kill -0 $PLAYER_PID 2>/dev/null || { echo "the player ended early:" >&2; tail -5 "$OUT/console-$size-$pace-$mode-$cache.txt" >&2; exit 1; }
    sleep 0.2
  done
  t0=$(date +%s.%N); a=$(ticks $PLAYER_PID)
  until [ "$(lines)" -ge $((motion + 3 * pace)) ]; do sleep 0.2; done
  t1=$(date +%s.%N); b=$(ticks $PLAYER_PID)
  rss=$(awk '/^VmHWM:/ { print $2 }' /proc/$PLAYER_PID/status)
  kill $PLAYER_PID; wait $PLAYER_PID 2>/dev/null || true; PLAYER_PID=
  local hz; hz=$(getconf CLK_TCK)
  idle=$(join <(echo "$a" | sort) <(echo "$b" | sort) | awk -v s="$(echo "$t1 - $t0" | bc)" -v hz="$hz" \
    '$3 == "orv-decode" { c = 100 * ($4 - $2) / hz / s; if (c > m) m = c; n++ } END { if (n) printf "%.1f", m; else printf "-" }')
  # Cycle log: cycle start_us own_us frame changes hits misses.
  awk -v motion="$motion" -v rss="$rss" -v idle="$idle" '
    function pct(a, n, p,   i, j, t) {  # p-th percentile of a[1..n] (insertion sort: n is small)
      for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
      return a[int(p * (n - 1)) + 1]
    }
    { c[NR] = $1; t[NR] = $2; own[NR] = $3; f[NR] = $4; ch[NR] = $5; hit[NR] = $6; mis[NR] = $7 }
    END {
      # First pass: from the first frame change up to the first change back to a frame shown before.
      for (i = 2; i <= NR && ch[i] == ch[i - 1]; i++) ; s = i - 1
      seen[f[s]] = 1
      for (i = s + 1; i <= NR; i++) { if (ch[i] > ch[i - 1]) { if (seen[f[i]]) break; seen[f[i]] = 1 } } e = i - 1
      for (i = NR; i > 1 && ch[i] == ch[i - 1]; i--) ; z = i  # the last change: the motion ends
      d1 = (t[e] - t[s]) / 1e6; d2 = (t[z] - t[e]) / 1e6
      fr1 = (ch[e] - ch[s]) / d1; cy1 = (e - s) / d1; fr2 = (ch[z] - ch[e]) / d2; cy2 = (z - e) / d2
      served = hit[z] - hit[e] + mis[z] - mis[e]
      for (i = s + 1; i <= z; i++) o[++n] = own[i] / 1000
      printf "%.1f %.1f %.1f %.1f %.1f %s %.1f %.0f %s\n", fr1, cy1, fr2, cy2, 100 * fr2 / cy2,
        (served > 0 ? sprintf("%.1f", 100 * (hit[z] - hit[e]) / served) : "-"), pct(o, n, 0.99), rss / 1024, idle
    }' "$log"
}

# ---- the table ---------------------------------------------------------------------------
if [ -z "${DISPLAY_BENCH:-}" ]; then
  exec 3>"$OUT/display.txt"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do [ -s "$OUT/display.txt" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$OUT/display.txt")
else
  export DISPLAY=$DISPLAY_BENCH
fi
for size in $SIZES; do make_content "$size"; done
for pace in $PACES; do make_camera "$pace"; done

echo "ORVANTE real-window benchmark: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, Xvfb 1920x1080, $(basename "$FOOTAGE") upscaled with grain, JPEG 90"
echo "stretch $((LEG + 1)) frames${PRIORITY:+, session at autogroup nice -20 (--priority)}, a turn every $((LEG + 1)) cycles, VR_step 1, $ROUNDS round trips after the first pass; cells: cache on / off"
printf '| size | fps | mode | fr/s 1st pass (cyc/s) | fr/s after (cyc/s) | fr/s after, %% of cyc/s | from cache after | p99 cycle ms | peak RSS MB | idle CPU per worker | load |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|\n'
for size in $SIZES; do
  for pace in $PACES; do
    for mode in $MODES; do
      load0=$(cut -d' ' -f1 /proc/loadavg)
      read -r a1 a2 a3 a4 a5 a6 a7 a8 a9 < <(run_player "$size" "$pace" "$mode" on)
      read -r b1 b2 b3 b4 b5 b6 b7 b8 b9 < <(run_player "$size" "$pace" "$mode" off)
      load1=$(cut -d' ' -f1 /proc/loadavg)
      printf '| %s | %s | %s | %s (%s) / %s (%s) | %s (%s) / %s (%s) | %s / %s | %s %% | %s / %s | %s / %s | %s %% | %s-%s |\n' \
        "$size" "$pace" "$mode" "$a1" "$a2" "$b1" "$b2" "$a3" "$a4" "$b3" "$b4" "$a5" "$b5" "$a6" "$a7" "$b7" \
        "$a8" "$b8" "$a9" "$load0" "$load1"
    done
  done
done
