#!/usr/bin/env bash
# The player's own memory on a fixed run: content of 60 frames 320x240 JPEG, the demo's recorded
# camera (320x240 PNG), headless, camera on for 600 cycles; with "kb", a full knowledge base
# (51,200 records, orvante-kb-probe write). Prints the peak resident set of /usr/bin/time -v
# and the peak private memory (RssAnon) sampled from /proc every 100 ms, in MB (1024 kB).
# The read-ahead frame cache is a budget of its own on top: off here unless ORVANTE_FRAME_CACHE_MB
# is given.
# Usage: tools/measure-memory.sh BUILD_DIR [kb]
set -eu
B=$(realpath "$1"); WITH_KB=${2:-}
OUT=$(mktemp -d /tmp/orvante-memory.XXXXXX)
SECTION=/orvante-memory-$$
trap '[ -n "${KEEP:-}" ] || rm -rf "$OUT"; rm -f "/dev/shm$SECTION" "/dev/shm$SECTION.alive"' EXIT
"$B/orvante-make-demo" "$OUT/demo" 60 >/dev/null
mogrify -resize '320x240!' "$OUT"/demo/S001/*.jpg
if [ "$WITH_KB" = kb ]; then "$B/orvante-kb-probe" write "$OUT/demo/work" >/dev/null; fi
printf '1 q\n601 ESC\n602 ESC\n' > "$OUT/script.txt"

cd "$OUT/demo/work"
ORVANTE_FRAME_CACHE_MB=${ORVANTE_FRAME_CACHE_MB:-0} \
ORVANTE_HEADLESS=1 ORVANTE_SCRIPT="$OUT/script.txt" ORVANTE_CAMERA="$OUT/demo/camera/motion_%04d.png" \
  ORVANTE_SHM_NAME=$SECTION /usr/bin/time -v -o "$OUT/time.txt" "$B/orvante" >"$OUT/out.txt" 2>&1 &
TIME_PID=$!
peak=0
while kill -0 "$TIME_PID" 2>/dev/null; do
  child=$(cat "/proc/$TIME_PID/task/$TIME_PID/children" 2>/dev/null || true)
  for p in $child; do
    kb=$(awk '/^RssAnon:/ {print $2}' "/proc/$p/status" 2>/dev/null || true)
    if [ -n "$kb" ] && [ "$kb" -gt "$peak" ]; then peak=$kb; fi
  done
  sleep 0.1
done
wait "$TIME_PID" || { echo "the player failed:"; tail -n 20 "$OUT/out.txt"; exit 1; }
rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$OUT/time.txt")
awk -v r="$rss" -v a="$peak" -v k="${WITH_KB:-none}" \
  'BEGIN { printf "knowledge base %s: peak RSS %.1f MB (time -v), peak private %.1f MB (RssAnon)\n", k, r / 1024, a / 1024 }'
