#!/usr/bin/env bash
# The floors of src/: each folder may use only the folders below it.
#   1 common  2 kb  3 recognition  4 learning  5 player  6 control  7 app
# tools/, bench/, fuzz/ and tests/ stand above every floor and may use any.
# Usage: tools/check-layers.sh [BUILD_DIR]   (default build; the symbol check reads its objects)
# Include level: every #include "..." of the tree, resolved to a file, mapped to its floor; an
# include from a lower floor to a higher one, or two folders including each other, is a finding.
# Symbol level: every undefined orv:: symbol of a floor's objects must be defined on the same
# or a lower floor (this also catches a local `extern` re-declaration no include line shows).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
floors="common kb recognition learning player control app"

floor_of() {  # path relative to the top -> floor number (8 = above every floor), or nothing
  case $1 in
    src/common/*) echo 1 ;; src/kb/*) echo 2 ;; src/recognition/*) echo 3 ;;
    src/learning/*) echo 4 ;; src/player/*) echo 5 ;; src/control/*) echo 6 ;;
    src/app/*) echo 7 ;; tools/*|bench/*|fuzz/*|tests/*) echo 8 ;;
  esac
}
folder_of() { local d=${1#src/}; d=${d%%/*}; [ "${1#src/}" != "$1" ] && echo "$d" || echo "${1%%/*}"; }

findings=0
files=0
includes=0
declare -A edge
while IFS= read -r f; do
  files=$((files + 1))
  from=$(floor_of "$f")
  while IFS= read -r inc; do
    [ -n "$inc" ] || continue
    # Resolve as the compiler does: beside the file, then src/, then tests/ (the tests' own root).
    target=""
    for base in "$(dirname "$f")" src tests; do
      if [ -f "$base/$inc" ]; then target=$(realpath -m --relative-to=. "$base/$inc"); break; fi
    done
    if [ -z "$target" ]; then
      echo "unresolved: $f includes \"$inc\""
      findings=$((findings + 1))
      continue
    fi
    includes=$((includes + 1))
    to=$(floor_of "$target")
    [ -n "$to" ] || continue
    if [ "$from" -lt 8 ] && [ "$to" -gt "$from" ]; then
      echo "climbs: $f (floor $from) includes $target (floor $to)"
      findings=$((findings + 1))
    fi
    a=$(folder_of "$f"); b=$(folder_of "$target")
    [ "$a" != "$b" ] && edge["$a>$b"]=1
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f")
done < <(git ls-files -co --exclude-standard -- src tools bench fuzz tests |
         grep -E '\.(h|hpp|cpp|cc|inc)$' | while read -r p; do [ -f "$p" ] && echo "$p"; done)
for e in "${!edge[@]}"; do
  a=${e%%>*}; b=${e#*>}
  if [ -n "${edge[$b>$a]:-}" ] && [[ "$a" < "$b" ]]; then
    echo "mutual: $a and $b include each other"
    findings=$((findings + 1))
  fi
done

# Symbol level, from the floors' objects (src/<floor>/ is the library orvante_<floor>).
objroot="$build/CMakeFiles"
symbols=0
if [ ! -d "$objroot/orvante_common.dir/src" ]; then
  echo "no floor objects in $objroot: build first (cmake --build $build)"
  findings=$((findings + 1))
else
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  n=0
  for fl in $floors; do
    n=$((n + 1))
    objdir="$objroot/orvante_$fl.dir/src"
    [ -d "$objdir/$fl" ] || continue
    # Objects of sources that still exist (a moved file leaves its old object behind).
    objects() { find "$objdir/$fl" -name '*.o' | while read -r o; do
      [ -f "src/${o#$objdir/}" ] || [ -f "src/$(dirname "${o#$objdir/}")/$(basename "$o" .o)" ] && echo "$o"; done; }
    objects | while read -r o; do
      nm -C --defined-only "$o" | awk -v n="$n" '$2 ~ /^[TDBRVWtu]$/ { $1 = ""; $2 = ""; sub(/^ +/, ""); if ($0 ~ /^orv::/) print n "\t" $0 }'
    done >> "$tmp/defined"
    objects | while read -r o; do
      nm -C --undefined-only "$o" | awk -v n="$n" -v o="${o#$objdir/}" '{ $1 = ""; sub(/^ +/, ""); if ($0 ~ /^orv::/) print n "\t" o "\t" $0 }'
    done >> "$tmp/undefined"
  done
  touch "$tmp/defined" "$tmp/undefined"
  symbols=$(wc -l < "$tmp/undefined")
  # Lowest floor defining each symbol; a use below it climbs, a use of nothing is unresolved.
  out=$(awk -F'\t' 'NR == FNR { if (!($2 in low) || $1 < low[$2]) low[$2] = $1; next }
    { if (!($3 in low)) print "undefined: " $2 " uses " $3 " (defined on no floor)";
      else if (low[$3] > $1) print "climbs: " $2 " (floor " $1 ") uses " $3 " (floor " low[$3] ")" }' \
    "$tmp/defined" "$tmp/undefined")
  if [ -n "$out" ]; then
    echo "$out"
    findings=$((findings + $(echo "$out" | wc -l)))
  fi
fi

echo "check-layers: $files files, $includes includes, $symbols undefined symbols examined; $findings findings"
if [ "$files" -eq 0 ] || [ "$includes" -eq 0 ] || [ "$symbols" -eq 0 ]; then
  echo "check-layers: nothing examined"
  exit 1
fi
[ "$findings" -eq 0 ]
