#!/usr/bin/env bash
# Checks the Debian package as a user would get it: unpacked into a temporary folder, every
# program has a manual page that renders cleanly, and the packaged player plays a generated
# content to the end. lintian must report no errors.
#   tools/check-package.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
deb=$(ls -t "$build"/orvante_*_amd64.deb | head -n1)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo "checking $deb ($(du -k "$deb" | cut -f1) KB)"
dpkg-deb -x "$deb" "$tmp/root"

status=0
for bin in "$tmp"/root/usr/bin/*; do
  name=$(basename "$bin")
  page="$tmp/root/usr/share/man/man1/$name.1.gz"
  if [ ! -f "$page" ]; then echo "missing manual page for $name"; status=1; continue; fi
  warnings=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null || true)
  if [ -n "$warnings" ]; then echo "manual page of $name: $warnings"; status=1; fi
done
for f in README.md copyright changelog.gz examples/orvante.service examples/orvante.desktop; do
  [ -f "$tmp/root/usr/share/doc/orvante/$f" ] || { echo "missing /usr/share/doc/orvante/$f"; status=1; }
done

"$tmp/root/usr/bin/orvante-make-demo" "$tmp/demo" 24 >/dev/null
printf '3 ESC\n3 ESC\n' > "$tmp/script"
set +e
(cd "$tmp/demo/work" && ORVANTE_HEADLESS=1 ORVANTE_SCRIPT="$tmp/script" \
   ORVANTE_SHM_NAME="/orvante-package-check-$$" timeout 60 "$tmp/root/usr/bin/orvante" \
   >"$tmp/out" 2>"$tmp/err")
rc=$?
set -e
rm -f "/dev/shm/orvante-package-check-$$" "/dev/shm/orvante-package-check-$$.alive"
if [ $rc -ne 0 ] || ! grep -q "Finished Reading ZAV Parameters" "$tmp/out"; then
  echo "packaged player ended with $rc"; tail -n 20 "$tmp/err"; status=1
fi

if ! command -v lintian >/dev/null; then
  # In CI a missing lintian would pass the package unchecked.
  if [ -n "${CI:-}" ]; then echo "lintian is not installed"; status=1; fi
else
  lintian --allow-root --tag-display-limit 0 "$deb" > "$tmp/lintian" 2>&1 || true
  cat "$tmp/lintian"
  if grep -q '^E:' "$tmp/lintian"; then echo "lintian reports errors"; status=1; fi
fi
[ $status -eq 0 ] && echo "package check passed"
exit $status
