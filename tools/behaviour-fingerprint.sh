#!/usr/bin/env bash
# Checksums of what the player makes of the demo, to show that a change kept behaviour: the
# replay traces and saved knowledge base of a teaching run and a play run (demo gesture
# recording), and the headless player's console on a scripted motion run (f_rate masked).
# Usage: tools/behaviour-fingerprint.sh BUILD_DIR OUT_DIR   (OUT_DIR is replaced; use the same
# OUT_DIR for both runs you compare: the console names the working directory)
set -eu
B=$(realpath "$1"); OUT=$2
rm -rf "$OUT"; mkdir -p "$OUT"; OUT=$(realpath "$OUT"); cd "$OUT"
"$B/orvante-make-demo" demo >/dev/null 2>&1
"$B/orvante-replay" --workdir demo/work --camera demo/gesture/sweep_%04d.png --learn 0 --passes 2 --save --trace teach.csv 2>teach.err
"$B/orvante-replay" --workdir demo/work --camera demo/gesture/sweep_%04d.png --trace play.csv 2>play.err
mv demo/work/HOLVA_data-*.dat .
printf '1 q\n150 ESC\n151 ESC\n' > demo/script.txt
(cd demo/work && ORVANTE_HEADLESS=1 ORVANTE_SCRIPT=../script.txt ORVANTE_CAMERA="$OUT/demo/camera/motion_%04d.png" \
   ORVANTE_SHM_NAME=/orvante-fingerprint-$$ "$B/orvante" > ../../motion.out 2>&1) || true
rm -f /dev/shm/orvante-fingerprint-$$ /dev/shm/orvante-fingerprint-$$.alive
sed -E 's/f_rate[^]]*\]/f_rate MASKED]/g' motion.out > motion.masked
md5sum teach.csv play.csv HOLVA_data-*.dat motion.masked
