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

# Each run is timed by bash: wall-clock seconds, and CPU seconds (user + system) of all its
# processes, which stay meaningful when other work shares the machine.
TIMEFORMAT='%R %U %S'

# Warm the page cache so that both runs read from memory.
xargs -0 cat -- <"$work/files" >/dev/null

{ time xargs -0 cat -- <"$work/files" | LC_ALL=C wc -w >"$work/wc.out"; } 2>"$work/wc.time"

mkdir "$work/db"
{ time "$cli" index --no-progress --db "$work/db" "$site" >"$work/index.out"; } 2>"$work/index.time"

indexed=$(sed -n 's/^Indexed \([0-9]*\) pages.*/\1/p' "$work/index.out")
words=$(sed -n 's/^Words: //p' "$work/index.out")

read -r wc_real wc_user wc_sys <"$work/wc.time"
read -r qc_real qc_user qc_sys < <(tail -n 1 "$work/index.time")

awk -v site="$site" -v pages="$pages" -v indexed="$indexed" -v bytes="$bytes" \
  -v words="$words" -v wcw="$(cat "$work/wc.out")" \
  -v wr="$wc_real" -v wc="$(awk -v u="$wc_user" -v s="$wc_sys" 'BEGIN { print u + s }')" \
  -v qr="$qc_real" -v qc="$(awk -v u="$qc_user" -v s="$qc_sys" 'BEGIN { print u + s }')" '
  BEGIN {
    mb = bytes / 1048576
    printf "site:            %s\n", site
    printf "page files:      %d (%d indexed), %.1f MB\n", pages, indexed, mb
    printf "distinct words:  %s\n", words
    printf "                 wall s    cpu s    MB/s (cpu)   ms/MB (cpu)\n"
    printf "cat | wc -w:     %7.3f  %7.3f  %9.1f  %11.1f   (%s words)\n", wr, wc, mb / wc, 1000 * wc / mb, wcw
    printf "quarry-cli:      %7.3f  %7.3f  %9.1f  %11.1f\n", qr, qc, mb / qc, 1000 * qc / mb
    printf "ratio:           %7.2f  %7.2f\n", qr / wr, qc / wc
  }'
