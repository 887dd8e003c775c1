// Speed of the search page that reads the three index files (quarry-cli web --no-bundle; the
// search bundle is measured beside the peer by bench/search-compare.mjs) in Chromium on real
// documentation sites served from 127.0.0.1 by a
// server that lets the browser revalidate its cache (so later visits have a warm cache):
// decode speed of the word file, navigation to first results (warm cache), time per query after
// loading, JS heap, and the bytes a visitor loads with and without gzip. Numbers in the output
// are from this machine at this moment: compare runs on an idle machine.
//
// Usage: node bench/search-page.mjs [SITE...]
//   SITE: a folder of HTML pages (default: the PostgreSQL 15 and OpenJDK 17 API documentation
//   that Debian installs, when present). Each is indexed with quarry-cli into a scratch folder.
//   Needs quarry-cli (built, or $QUARRY_CLI) and `npm ci` in tests/web.
// Targets: word file decoded at >= 100 MB/s, any query of up to three words in <= 5 ms after
// loading, first results on a site of ~1,000 pages in <= 300 ms.
import { cpSync, existsSync, mkdirSync, readFileSync, rmSync, statSync, symlinkSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { gzipSync } from "node:zlib";
import { cli, hasCliCommand, launch, repo, scratch, serveCached } from "../tests/web/harness.mjs";

const DEFAULT_SITES = [
  ["postgresql-doc-15", "/usr/share/doc/postgresql-doc-15/html"],
  ["openjdk-17-doc", "/usr/share/doc/openjdk-17-jre-headless/api"],
];
const QUERIES = [
  "the", "table", "select from where", "string value", "java util list", "get* set*", "a*", "s* t* c*",
  "create index concurrently", "zzzz", "the of and",
];
const RUNS = 7;
const WEB_FILES = ["search.html", "quarry-search.js", "quarry-search.css"];
const INDEX_FILES = ["qrywDb.dat", "qryfDb.dat", "qryiDb.dat"];

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const ms = (value) => `${value.toFixed(1)} ms`;
const kb = (bytes) => `${(bytes / 1024).toFixed(0)} KiB`;

// Indexes site into served/_search and puts the search page beside it; the site's pages are
// reached through a link so that result links resolve.
function prepare(site, served) {
  mkdirSync(join(served, "_search"), { recursive: true });
  const started = performance.now();
  const run = cli(["index", "--no-progress", "-q", "--db", join(served, "_search"), site], served);
  if (run.status !== 0) throw new Error(`quarry-cli index ${site}: ${run.stderr}`);
  const indexMs = performance.now() - started;
  if (hasCliCommand("web")) {
    const web = cli(["web", "--no-bundle", "--db", join(served, "_search"), "--site-root", site],
      served);
    if (web.status !== 0) throw new Error(`quarry-cli web: ${web.stderr}`);
  } else {
    for (const name of WEB_FILES) cpSync(join(repo, "web", name), join(served, "_search", name));
    writeFileSync(join(served, "_search/quarry-search.json"), JSON.stringify({
      generator: "quarry-cli web", version: 1, index: "./", siteRoot: "../site/",
      strip: [encodeURI(site.endsWith("/") ? site : site + "/")],
    }));
  }
  if (!existsSync(join(served, "site"))) symlinkSync(site, join(served, "site"));
  return indexMs;
}

function bytesSent(folder) {
  let raw = 0;
  let gzip = 0;
  for (const name of [...WEB_FILES, "quarry-search.json", ...INDEX_FILES]) {
    const data = readFileSync(join(folder, name));
    raw += data.length;
    gzip += gzipSync(data, { level: 6 }).length;
  }
  return { raw, gzip, words: statSync(join(folder, "qrywDb.dat")).size };
}

async function measure(browser, origin, label) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const url = `${origin}/_search/search.html?q=${encodeURIComponent(QUERIES[0])}`;
  const firstResults = [];
  for (let i = 0; i <= RUNS; ++i) {
    await page.goto(url);
    await page.waitForSelector("[data-quarry-search][data-state=ready] .qs-result");
    const marks = await page.evaluate(() => Object.fromEntries(["start", "fetched", "ready", "results"]
      .map((step) => [step, performance.getEntriesByName(`quarry-search:${step}`)[0]?.startTime])));
    if (i > 0) firstResults.push(marks); // the first load fills the HTTP cache
  }
  const engine = await page.evaluate(async ({ runs }) => {
    const q = await import("./quarry-search.js");
    const settings = await q.loadSettings("./quarry-search.json");
    const fetchBytes = async (name) =>
      new Uint8Array(await (await fetch(new URL(name, settings.index))).arrayBuffer());
    const [words, pages, titles] = await Promise.all(["qrywDb.dat", "qryfDb.dat", "qryiDb.dat"].map(fetchBytes));
    const decode = [];
    const build = [];
    let index;
    for (let i = 0; i < runs; ++i) {
      let t = performance.now();
      q.decodeWords(words);
      decode.push(performance.now() - t);
      t = performance.now();
      index = q.buildIndex(words, pages, titles, settings);
      build.push(performance.now() - t);
    }
    return { decode, build, pages: index.pages, words: index.words, bytes: words.length };
  }, { runs: RUNS });
  // Queries in a fresh page, away from the garbage of the builds above.
  await page.reload();
  await page.waitForSelector("[data-quarry-search][data-state=ready]");
  const client = await context.newCDPSession(page);
  await client.send("HeapProfiler.collectGarbage");
  const usage = await client.send("Runtime.getHeapUsage");
  const heap = usage.usedSize + (usage.backingStorageSize ?? 0);
  engine.perQuery = await page.evaluate(async ({ queries, runs }) => {
    const index = await (await import("./quarry-search.js")).open("./");
    return queries.map((query) => {
      const times = [];
      let count = 0;
      for (let i = 0; i < 3 * runs; ++i) {
        const t = performance.now();
        count = index.search(query).length;
        times.push(performance.now() - t);
      }
      times.sort((a, b) => a - b);
      return { query, count, min: times[0], median: times[times.length >> 1], max: times[times.length - 1] };
    });
  }, { queries: QUERIES, runs: RUNS });
  await context.close();
  return { label, firstResults, engine, heap };
}

const sites = process.argv.length > 2
  ? process.argv.slice(2).map((s) => [s, s])
  : DEFAULT_SITES.filter(([, s]) => existsSync(s));
if (sites.length === 0) throw new Error("no site to measure: give a folder of HTML pages");

const browser = await launch();
const work = scratch("bench");
try {
  for (const [label, site] of sites) {
    const served = join(work, label);
    const indexMs = prepare(site, served);
    const sent = bytesSent(join(served, "_search"));
    const server = await serveCached(served);
    let result;
    try {
      result = await measure(browser, server.origin, label);
    } finally {
      server.close();
    }
    const { engine } = result;
    const decode = median(engine.decode);
    console.log(`\n== ${label}: ${engine.pages} pages, ${engine.words} words (indexed in ${ms(indexMs)})`);
    const fastest = Math.min(...engine.decode);
    console.log(`word file ${kb(engine.bytes)}: decoded in ${ms(decode)} (median; best ${ms(fastest)}) = ` +
      `${(engine.bytes / 1e6 / (decode / 1000)).toFixed(0)} MB/s (target >= 100)`);
    console.log(`whole index built (decode, texts, folded keys, checks): ${ms(median(engine.build))}`);
    const step = (name) => median(result.firstResults.map((m) => m[name]));
    const best = Math.min(...result.firstResults.map((m) => m.results));
    console.log(`navigation to first results, warm cache: best ${ms(best)}, median ${ms(step("results"))} ` +
      `(module running ${ms(step("start"))}, files fetched ${ms(step("fetched"))}, ` +
      `index built ${ms(step("ready"))})`);
    console.log(`JS heap after loading (array buffers included): ${(result.heap / 1048576).toFixed(1)} MiB`);
    console.log(`bytes loaded: ${kb(sent.raw)}, gzip ${kb(sent.gzip)}`);
    console.log(`per query after loading (min / median / max of ${3 * RUNS}; results):`);
    const f = (t) => t.toFixed(1).padStart(6);
    for (const q of engine.perQuery) {
      console.log(`  ${q.query.padEnd(28)} ${f(q.min)} / ${f(q.median)} / ${f(q.max)} ms  ${q.count}`);
    }
  }
} finally {
  await browser.close();
  rmSync(work, { recursive: true, force: true });
}
