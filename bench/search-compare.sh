#!/usr/bin/env bash
# Quarry's search side by side with the peer (Pagefind 1.x) on the three documentation sites:
# makes what bench/search-compare.mjs needs when it is missing (the site copies, a Release
# quarry-cli in build/rel, playwright-core in tests/web), then runs it with the arguments given.
# The peer is never installed here: install it outside this repository first,
#   mkdir -p /work/peer && cd /work/peer && npm install pagefind@^1
# Usage: bench/search-compare.sh [--sites postgresql,openjdk,rust] [--queries N] [--no-throttle]
#          [--peer DIR] [--cli QUARRY-CLI] [--out FILE.json] ...   (see bench/search-compare.mjs)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
args=("$@")
cli=$root/build/rel/src/cli/quarry-cli
sites=/work/sites
for ((i = 0; i < ${#args[@]}; ++i)); do
  case ${args[i]} in
    --cli) cli=${args[i + 1]} ;;
    --site-folder) sites=${args[i + 1]} ;;
  esac
done

if [[ ! -x $cli && $cli == "$root/build/rel/src/cli/quarry-cli" ]]; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_NOHASHDIR=true
  cmake -S "$root" -B "$root/build/rel" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARRY_BUILD_APP=OFF \
    -DQUARRY_BUILD_TESTS=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    >/dev/null
  cmake --build "$root/build/rel" -j2 --target quarry-cli >/dev/null
fi
"$root/bench/make-sites.sh" "$sites" >/dev/null
if [[ ! -d $root/tests/web/node_modules/playwright-core ]]; then
  (cd "$root/tests/web" && npm ci --no-audit --no-fund >/dev/null)
fi
exec node "$root/bench/search-compare.mjs" "${args[@]}"
