#!/usr/bin/env bash
# Times `quarry-cli index DIR` against `wc -w` over the same page files, in the same run, and
# prints both times, the indexer's throughput and the ratio of the two.
# Usage: bench/index-site.sh DIR [QUARRY_CLI]
#   QUARRY_CLI defaults to build/release/src/cli/quarry-cli, built (Release) when missing.
set -euo pipefail

if (($# < 1)) || [[ ! -d $1 ]]; then
  echo "usage: $0 DIR [QUARRY_CLI]" >&2
  exit 2
fi
site=$1
root="$(cd "$(dirname "$0")/.." && pwd)"
cli=${2:-$root/build/release/src/cli/quarry-cli}
if [[ ! -x $cli ]]; then
  cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUARRY_BUILD_TESTS=OFF -DQUARRY_BUILD_APP=OFF >/dev/null
  cmake --build "$root/build/release" --target quarry-cli >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pages the indexer takes: *.htm and *.html in any case, links to folders not followed.
find "$site" \( -type f -o -type l \) \( -iname '*.htm' -o -iname '*.html' \) -print0 \
  >"$work/files"
pages=$(tr -cd '\0' <"$work/files" | wc -c)
bytes=$(xargs -0 cat -- <"$work/files" | wc -c)

now() { date +%s.%N; }

# Warm the page cache so that both runs read from memory.
xargs -0 cat -- <"$work/files" >/dev/null

start=$(now)
xargs -0 cat -- <"$work/files" | wc -w >"$work/wc.out"
wc_seconds=$(awk -v a="$(now)" -v b="$start" 'BEGIN { print a - b }')

mkdir "$work/db"
start=$(now)
"$cli" index --no-progress --db "$work/db" "$site" >"$work/index.out"
index_seconds=$(awk -v a="$(now)" -v b="$start" 'BEGIN { print a - b }')

indexed=$(sed -n 's/^Indexed \([0-9]*\) pages.*/\1/p' "$work/index.out")
words=$(sed -n 's/^Words: //p' "$work/index.out")

awk -v site="$site" -v pages="$pages" -v indexed="$indexed" -v bytes="$bytes" \
  -v words="$words" -v wcs="$wc_seconds" -v wcw="$(cat "$work/wc.out")" -v qs="$index_seconds" '
  BEGIN {
    mb = bytes / 1048576
    printf "site:            %s\n", site
    printf "page files:      %d (%d indexed), %.1f MB\n", pages, indexed, mb
    printf "distinct words:  %s\n", words
    printf "wc -w:           %.3f s (%s words), %.1f MB/s\n", wcs, wcw, mb / wcs
    printf "quarry-cli:      %.3f s, %.1f MB/s, %.1f ms/MB\n", qs, mb / qs, 1000 * qs / mb
    printf "ratio:           %.2f\n", qs / wcs
  }'
