#!/usr/bin/env bash
# Times `quarry-cli index DIR` against `cat | wc -w` over the same page files, in the same run:
# the indexer with one reading thread (--jobs 1) and with one per hardware thread (the default).
# Prints wall-clock and CPU seconds, throughput, the ratios to wc and the indexer's peak RSS.
# Each command runs REPEAT times (default 3) and the best wall and CPU time is kept, since other
# work on the machine only ever adds time.
# Usage: bench/index-site.sh DIR [QUARRY_CLI]
#   QUARRY_CLI defaults to build/bench-release/src/cli/quarry-cli, built (Release) when missing.
set -euo pipefail

if (($# < 1)) || [[ ! -d $1 ]]; then
  echo "usage: $0 DIR [QUARRY_CLI]" >&2
  exit 2
fi
site=$1
repeat=${REPEAT:-3}
root="$(cd "$(dirname "$0")/.." && pwd)"
cli=${2:-$root/build/bench-release/src/cli/quarry-cli}
if [[ ! -x $cli ]]; then
  cmake -S "$root" -B "$root/build/bench-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUARRY_BUILD_TESTS=OFF -DQUARRY_BUILD_APP=OFF >/dev/null
  cmake --build "$root/build/bench-release" --target quarry-cli >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pages the indexer takes: *.htm and *.html in any case, links to folders not followed.
find "$site" \( -type f -o -type l \) \( -iname '*.htm' -o -iname '*.html' \) -print0 \
  >"$work/files"
pages=$(tr -cd '\0' <"$work/files" | wc -c)
bytes=$(xargs -0 cat -- <"$work/files" | wc -c)
threads=$(nproc)

# Warm the page cache so that every run reads from memory.
xargs -0 cat -- <"$work/files" >/dev/null

# Runs "$@" REPEAT times under GNU time; prints the best "wall cpu" and the largest peak RSS
# (KB). CPU is user + system seconds of all the command's processes.
best() {
  local w c r bw="" bc="" br=0
  for ((i = 0; i < repeat; i++)); do
    /usr/bin/time -f '%e %U %S %M' -o "$work/t" "$@" >"$work/out"
    read -r w u s r <"$work/t"
    c=$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')
    bw=$(awk -v a="$w" -v b="${bw:-$w}" 'BEGIN { print (a < b ? a : b) }')
    bc=$(awk -v a="$c" -v b="${bc:-$c}" 'BEGIN { print (a < b ? a : b) }')
    ((r > br)) && br=$r
  done
  echo "$bw $bc $br"
}

read -r wc_wall wc_cpu _ < <(best sh -c \
  'xargs -0 cat -- <"$1" | LC_ALL=C.UTF-8 wc -w' sh "$work/files")
wc_words=$(cat "$work/out")
mkdir "$work/db"
read -r q1_wall q1_cpu q1_rss < <(best "$cli" index --no-progress --jobs 1 --db "$work/db" "$site")
read -r qn_wall qn_cpu qn_rss < <(best "$cli" index --no-progress --db "$work/db" "$site")
indexed=$(sed -n 's/^Indexed \([0-9]*\) pages.*/\1/p' "$work/out")
words=$(sed -n 's/^Words: //p' "$work/out")

awk -v site="$site" -v pages="$pages" -v indexed="$indexed" -v bytes="$bytes" -v words="$words" \
  -v wcw="$wc_words" -v n="$threads" -v repeat="$repeat" \
  -v ww="$wc_wall" -v wc="$wc_cpu" \
  -v q1w="$q1_wall" -v q1c="$q1_cpu" -v q1r="$q1_rss" \
  -v qnw="$qn_wall" -v qnc="$qn_cpu" -v qnr="$qn_rss" '
  function row(name, w, c, r) {
    printf "%-22s %7.3f %7.3f %8.1f %7.2f %7.2f %8s\n", name, w, c, mb / c, w / ww, c / wc,
           r == "" ? "" : sprintf("%.0f", r / 1024)
  }
  BEGIN {
    mb = bytes / 1048576
    printf "site:            %s\n", site
    printf "page files:      %d (%d indexed), %.1f MB, %s words (wc -w)\n", pages, indexed, mb, wcw
    printf "distinct words:  %s\n", words
    printf "best of %d runs; ratios to cat | wc -w\n", repeat
    printf "%-22s %7s %7s %8s %7s %7s %8s\n", "", "wall s", "cpu s", "MB/cpu s", "wall x", "cpu x", "RSS MB"
    row("cat | wc -w", ww, wc, "")
    row("quarry-cli --jobs 1", q1w, q1c, q1r)
    row("quarry-cli --jobs " n, qnw, qnc, qnr)
  }'
