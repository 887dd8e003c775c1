// The relevance of a search bundle, quickly: the page's own engine (web/) run under Node on the
// bundle's files, for the queries of a relevance set, as the page searches them while they are
// typed (the last word also a prefix). Prints success@1, success@5 and MRR@10, and with
// --verbose each query's rank and first results. No browser, no network: for checking a ranking
// change in seconds; bench/search-compare.mjs is the measure beside the peer.
// Usage: node bench/relevance.mjs SEARCH_FOLDER QUERIES.tsv [--verbose] [--exact]
//   SEARCH_FOLDER: the folder of quarry-search.json (e.g. /work/sites/rust/_search)
//   --exact: search as quarry-cli search --bundle does (no prefix while typing)
import { existsSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { openSearch } from "../web/quarry-search-engine.js";

const [folder, queriesFile, ...flags] = process.argv.slice(2);
if (!folder || !queriesFile) {
  console.error("usage: node bench/relevance.mjs SEARCH_FOLDER QUERIES.tsv [--verbose] [--exact]");
  process.exit(2);
}
const verbose = flags.includes("--verbose");
const typing = !flags.includes("--exact");

// The bundle's files, as a host would serve them below http://site.invalid/_search/.
const ORIGIN = "http://site.invalid";
globalThis.fetch = async (url) => {
  const path = new URL(url).pathname;
  const file = join(folder, decodeURIComponent(path.replace(/^\/_search\//, "")));
  return existsSync(file) ? new Response(readFileSync(file)) : new Response("", { status: 404 });
};

const search = await openSearch(`${ORIGIN}/_search/quarry-search.json`);
const rows = readFileSync(queriesFile, "utf8").split("\n")
  .filter((line) => line.trim() !== "" && !line.startsWith("#"))
  .map((line) => line.split("\t"));
let at1 = 0;
let at5 = 0;
let mrr = 0;
for (const [query, wanted] of rows) {
  const want = new Set(wanted.split(" ").filter(Boolean));
  const found = await search.search(query, { typing });
  const items = await search.items(found, 0, 10);
  const paths = items.map((item) => decodeURIComponent(new URL(item.url).pathname.replace(/^\//, "")));
  const rank = paths.findIndex((path) => want.has(path.split("#")[0])) + 1;
  if (rank === 1) ++at1;
  if (rank >= 1 && rank <= 5) ++at5;
  if (rank >= 1) mrr += 1 / rank;
  if (verbose) {
    console.log(`${rank || "-"}\t${query}\t${paths.slice(0, 3).join("  ")}`);
  }
}
const n = rows.length;
console.log(`success@1 ${at1}/${n}  success@5 ${at5}/${n}  MRR@10 ${(mrr / n).toFixed(3)}`);
