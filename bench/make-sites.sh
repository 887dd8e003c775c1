#!/usr/bin/env bash
# Copies the three Debian documentation sites the search benchmarks use into a folder of their
# own (default /work/sites), so that indexers and search tools can write into them without
# touching /usr/share/doc. `cp -a` keeps the sites' own symbolic links as they are.
# A site already copied is left alone (remove its folder to copy it afresh).
# Usage: bench/make-sites.sh [DEST]
#   Needs the Debian packages postgresql-doc-15, openjdk-17-doc and rust-doc.
set -euo pipefail

dest=${1:-/work/sites}
declare -A sources=(
  [postgresql]=/usr/share/doc/postgresql-doc-15/html
  [openjdk]=/usr/share/doc/openjdk-17-jre-headless/api
  [rust]=/usr/share/doc/rust-doc/html
)

mkdir -p "$dest"
for name in postgresql openjdk rust; do
  source=${sources[$name]}
  if [[ ! -d $source ]]; then
    echo "$name: $source is missing (apt-get install ${source#/usr/share/doc/}; see above)" >&2
    exit 1
  fi
  if [[ -e $dest/$name ]]; then
    echo "$name: $dest/$name exists, kept"
    continue
  fi
  # Copy into a temporary name first, so an interrupted copy is never taken for a finished one.
  rm -rf "$dest/.$name.partial"
  cp -a "$source/." "$dest/.$name.partial"
  mv "$dest/.$name.partial" "$dest/$name"
  echo "$name: $(find "$dest/$name" -iname '*.htm*' | wc -l) pages in $dest/$name"
done
