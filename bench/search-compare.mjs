// Quarry's search against a peer static-site search tool (Pagefind 1.x), side by side in one run,
// on the documentation sites that bench/make-sites.sh copies: build time and peak memory, bytes
// a visitor downloads, time to the first result on a slow link, and how often the wanted page of
// bench/relevance/SITE.tsv comes first. Figures are from this machine at this moment: compare
// runs on an idle machine.
//
// Usage: node bench/search-compare.mjs [--sites postgresql,openjdk,rust] [--queries N]
//          [--no-throttle] [--peer /work/peer] [--cli QUARRY-CLI] [--site-folder /work/sites]
//          [--engines quarry,peer] [--skip-build] [--out FILE.json]
// Needs: the sites (bench/make-sites.sh), quarry-cli (default: build/rel/src/cli/quarry-cli of this
// tree), the peer installed with `npm install pagefind@^1` in the --peer folder (outside this
// repository), `npm ci` in tests/web (playwright-core) and Debian's chromium.
//
// For each site: both engines are built into the site's folder (Quarry's _search/, the peer's
// pagefind/), the folder is served by `quarry-cli serve`, and every query is typed, one key per
// 150 ms, into each engine's search page in a fresh browser context (cold cache), once on an
// emulated 20 Mbit/s, 40 ms link and once without throttling. Bytes are what the DevTools
// protocol reports as received (encodedDataLength), from opening the page.
import { spawn, spawnSync } from "node:child_process";
import { existsSync, lstatSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { parseArgs } from "node:util";
import { gzipSync } from "node:zlib";

const repo = resolve(dirname(fileURLToPath(import.meta.url)), "..");
const { values: options } = parseArgs({
  options: {
    sites: { type: "string", default: "postgresql,openjdk,rust" },
    "site-folder": { type: "string", default: "/work/sites" },
    queries: { type: "string" },
    "no-throttle": { type: "boolean", default: false },
    peer: { type: "string", default: "/work/peer" },
    cli: { type: "string", default: join(repo, "build/rel/src/cli/quarry-cli") },
    engines: { type: "string", default: "quarry,peer" },
    "skip-build": { type: "boolean", default: false },
    out: { type: "string" },
    "quarry-page": { type: "string", default: "/_search/search.html" },
    "quarry-input": { type: "string", default: "[data-quarry-search] input" },
    "quarry-results": { type: "string", default: ".qs-result a[href]" },
    "peer-input": { type: "string", default: ".pagefind-ui__search-input" },
    "peer-results": { type: "string", default: ".pagefind-ui__result-link[href]" },
    "three-words": { type: "string" },
    help: { type: "boolean", short: "h", default: false },
  },
});
if (options.help) {
  console.log(readFileSync(fileURLToPath(import.meta.url), "utf8").split("\nimport ")[0]);
  process.exit(0);
}

const KEY_DELAY_MS = 150;
const STABLE_MS = 1000; // results unchanged this long, and no request in flight: settled
const NO_ANSWER_MS = 6000; // the same while it cannot be told whether the page has answered
const SETTLE_CAP_MS = 40000; // after the last keystroke
const THROTTLE = { offline: false, latency: 40, downloadThroughput: 20e6 / 8, uploadThroughput: 20e6 / 8 };
// A three-word query per site for the in-page query time (its pieces loaded first).
const THREE_WORDS = {
  postgresql: "create index concurrently", openjdk: "thread pool executor", rust: "iterator map filter",
};
const MARK = "search-compare: generated"; // in the pages this script writes into a site
const cliPath = resolve(options.cli);
const engines = options.engines.split(",").filter(Boolean);
const throttles = options["no-throttle"] ? [false] : [true, false];
const { chromium } = createRequire(join(repo, "tests/web/package.json"))("playwright-core");

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const median = (values) => {
  if (values.length === 0) return null;
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};
const max = (values) => (values.length === 0 ? null : Math.max(...values));

// ---------------------------------------------------------------------------------------------
// Query sets

function readQueries(site) {
  const file = join(repo, "bench/relevance", `${site}.tsv`);
  const rows = [];
  for (const line of readFileSync(file, "utf8").split("\n")) {
    if (line.trim() === "" || line.startsWith("#")) continue;
    const [query, wanted, note] = line.split("\t");
    if (!query || !wanted) throw new Error(`${file}: a row without query or wanted page: ${line}`);
    rows.push({ query, wanted: wanted.split(" ").filter(Boolean), note });
  }
  const limit = options.queries ? Number(options.queries) : rows.length;
  return rows.slice(0, limit);
}

// ---------------------------------------------------------------------------------------------
// Building

// Runs command under /usr/bin/time -v; returns wall seconds and peak RSS (MB) of the command
// and its children.
function timed(command, args, cwd) {
  const started = performance.now();
  const run = spawnSync("/usr/bin/time", ["-v", command, ...args], { cwd, maxBuffer: 1 << 26 });
  const wall = (performance.now() - started) / 1000;
  const stderr = run.stderr.toString();
  if (run.status !== 0) {
    throw new Error(`${command} ${args.join(" ")} (in ${cwd}) failed:\n${stderr.slice(-3000)}`);
  }
  const rss = Number(stderr.match(/Maximum resident set size \(kbytes\): (\d+)/)?.[1] ?? NaN) / 1024;
  return { command: [command, ...args].join(" "), cwd, wallS: wall, peakRssMb: rss, stdout: run.stdout.toString() };
}

function removeOwn(path) {
  if (!existsSync(path)) return;
  const text = readFileSync(path, "utf8");
  if (!text.includes(MARK)) throw new Error(`${path} exists and was not written by this script`);
  rmSync(path);
}

// Removes what an earlier run built into the site: the folders the two engines write, and the
// pages this script writes. Only below the site copies, never below /usr.
function clean(siteDir) {
  if (siteDir.startsWith("/usr/")) throw new Error(`${siteDir}: use a copy (bench/make-sites.sh)`);
  for (const name of ["_search", "pagefind"]) {
    const path = join(siteDir, name);
    if (!existsSync(path)) continue;
    if (!lstatSync(path).isDirectory()) throw new Error(`${path} is not a folder: not removed`);
    rmSync(path, { recursive: true });
  }
  for (const name of ["peer-search.html", "quarry-embed.html"]) removeOwn(join(siteDir, name));
}

let siteOption = null;
function quarryHasSiteOption() {
  siteOption ??= /(^|[\s,])--site[\s=]/m.test(spawnSync(cliPath, ["web", "--help"]).stdout.toString());
  return siteOption;
}

// Where Quarry's index of a site is: with `web --site` outside the site, in a folder of this
// script's own; in the two-step form in the site's _search folder.
function siteDatabase(name) {
  return quarryHasSiteOption() ? join(tmpdir(), "search-compare-db", name)
    : join(resolve(options["site-folder"]), name, "_search");
}

function buildQuarry(name, siteFolder) {
  if (quarryHasSiteOption()) {
    const db = siteDatabase(name);
    rmSync(db, { recursive: true, force: true });
    mkdirSync(db, { recursive: true });
    const web = timed(cliPath, ["web", "--site", name, "--db", db], siteFolder);
    return { steps: [web], wallS: web.wallS, peakRssMb: web.peakRssMb, form: "web --site" };
  }
  const index = timed(cliPath, ["index", "--no-progress", "-q", name, "--db", `${name}/_search`],
    siteFolder);
  const web = timed(cliPath, ["web", "--db", `${name}/_search`, "--site-root", name], siteFolder);
  return {
    steps: [index, web], wallS: index.wallS + web.wallS,
    peakRssMb: Math.max(index.peakRssMb, web.peakRssMb), form: "index + web",
  };
}

function peerCommand() {
  const bin = join(resolve(options.peer), "node_modules/.bin/pagefind");
  if (!existsSync(bin)) throw new Error(`${bin} not found: npm install pagefind@^1 in ${options.peer}`);
  return bin;
}

function buildPeer(siteDir, siteFolder) {
  const run = timed(peerCommand(), ["--site", siteDir], siteFolder);
  const pages = Number(run.stdout.match(/Indexed (\d+) pages?/)?.[1]) || null;
  return { steps: [run], wallS: run.wallS, peakRssMb: run.peakRssMb, pages };
}

function peerVersion() {
  try {
    return JSON.parse(readFileSync(join(resolve(options.peer),
      "node_modules/pagefind/package.json"), "utf8")).version;
  } catch {
    return "unknown";
  }
}

// The peer's default UI, as its documentation shows it. `quarry-cli serve` sends no
// Content-Security-Policy, so the documented inline script runs.
const PEER_PAGE = `<!doctype html>
<!-- ${MARK}: the peer's default search UI -->
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Search</title>
<link href="/pagefind/pagefind-ui.css" rel="stylesheet">
<script src="/pagefind/pagefind-ui.js"></script>
</head>
<body>
<div id="search"></div>
<script>
    window.addEventListener('DOMContentLoaded', (event) => {
        new PagefindUI({ element: "#search" });
    });
</script>
</body>
</html>
`;

// A site page with Quarry's search box embedded as the README shows it.
const QUARRY_EMBED_PAGE = `<!doctype html>
<!-- ${MARK}: a page of the site with Quarry's search box -->
<html lang="en">
<head>
<meta charset="utf-8">
<title>A page with a search box</title>
</head>
<body>
<header><div data-quarry-search data-settings="/_search/quarry-search.json"></div></header>
<main><p>Some page of the site.</p></main>
<script type="module" src="/_search/quarry-search.js"></script>
</body>
</html>
`;

// ---------------------------------------------------------------------------------------------
// Serving

function serve(siteDir) {
  const child = spawn(cliPath, ["serve", siteDir, "--port", "0"], { stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  return new Promise((done, fail) => {
    const timer = setTimeout(() => fail(new Error(`quarry-cli serve printed no URL: ${output}`)), 10000);
    const read = (chunk) => {
      output += chunk;
      const match = output.match(/http:\/\/127\.0\.0\.1:\d+/);
      if (match) {
        clearTimeout(timer);
        done({ origin: match[0], close: () => child.kill() });
      }
    };
    child.stdout.on("data", read);
    child.stderr.on("data", read);
    child.on("exit", (code) => fail(new Error(`quarry-cli serve ended (${code}): ${output}`)));
  });
}

// ---------------------------------------------------------------------------------------------
// The browser

// Debian's Chromium, headless; playwright-core gives each launch a fresh profile folder, and each
// context below has its own empty cache.
function launch() {
  return chromium.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
}

// Watches the result links matching results, the text of the engine's status line (status) and
// the query the page says is on screen (the attribute shown = [selector, name], null while the
// page has none): every change is logged with the page's clock, and every keydown too (capture
// phase, before the page's own handlers).
function pageProbe({ results, status, shown }) {
  const bench = { log: [], keys: [] };
  window.__bench = bench;
  let last = null;
  const check = () => {
    const links = [...document.querySelectorAll(results)].map((a) => a.href);
    const note = (status && document.querySelector(status)?.textContent?.trim()) || "";
    const query = shown ? document.querySelector(shown[0])?.getAttribute(shown[1]) ?? null : null;
    const key = JSON.stringify([links, note, query]);
    if (key === last) return;
    last = key;
    const t = performance.now();
    bench.log.push({ t, links, note, query });
    window.__benchSeen?.(t);
  };
  addEventListener("keydown", () => bench.keys.push(performance.now()), true);
  new MutationObserver(check).observe(document, {
    subtree: true, childList: true, characterData: true, attributes: true,
    attributeFilter: ["href", "hidden", "class", ...(shown ? [shown[1]] : [])],
  });
}

// A fresh context and page with the network counted (and throttled when asked). Requests are
// counted through playwright-core, which reads the DevTools protocol's encodedDataLength for the
// page and its dedicated workers alike (a page-level DevTools session sees no request a worker
// makes). A worker's own script is reported with an empty body; since `quarry-cli serve` never
// compresses, its Content-Length is the body's size on the wire and is counted instead.
async function openProbed(browser, throttled, probe) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const workers = [];
  page.on("worker", (worker) => workers.push(worker.url()));
  const cdp = await context.newCDPSession(page);
  if (throttled) {
    await cdp.send("Network.enable");
    await cdp.send("Network.emulateNetworkConditions", THROTTLE);
  }
  let started = 0;
  const finished = []; // promises of { url, bytes, type, status, failed }, in order of finishing
  const sizeOf = async (request, failed) => {
    const response = failed ? null : await request.response().catch(() => null);
    const sizes = await request.sizes().catch(() => null);
    let body = sizes?.responseBodySize ?? 0;
    const headers = sizes?.responseHeadersSize ?? 0;
    const length = Number(response?.headers()["content-length"] ?? 0);
    if (body === 0 && response?.status() === 200 && !response.headers()["content-encoding"]) body = length;
    return {
      url: request.url(), bytes: headers + body, headers, type: response?.headers()["content-type"] ?? "",
      status: response?.status() ?? 0, failed: failed ? request.failure()?.errorText ?? "failed" : undefined,
    };
  };
  context.on("request", () => ++started);
  context.on("requestfinished", (request) => finished.push(sizeOf(request, false)));
  context.on("requestfailed", (request) => finished.push(sizeOf(request, true)));
  const net = {
    inFlight: () => started - finished.length,
    mark: () => finished.length,
    requests: () => Promise.all(finished),
  };
  const seen = [];
  if (probe) {
    await context.exposeBinding("__benchSeen", (_source, t) => seen.push({ t, mark: net.mark() }));
    await context.addInitScript(pageProbe, probe);
  }
  return { context, page, net, seen, workers };
}

// Waits until nothing is in flight and the result list has not changed for STABLE_MS, at least
// minMs after since (page clock), at most until capMs after it. answered({ note, after }) says
// whether the page shows the answer: true; false when it shows it has not answered yet (wait on,
// up to capMs); null when it cannot tell, and then the list must stay unchanged for NO_ANSWER_MS,
// as an engine may compute for more than a second with nothing in flight.
async function settle(page, net, since, minMs, capMs, answered) {
  let quietSince = null;
  for (;;) {
    const state = await page.evaluate((from) => {
      const last = window.__bench?.log.at(-1);
      return {
        now: performance.now(), changed: last?.t ?? 0, note: last?.note ?? "", query: last?.query ?? null,
        after: (last?.t ?? 0) >= from,
      };
    }, since);
    if (state.now - since > capMs) return false;
    const answer = answered(state);
    const wait = answer === true ? STABLE_MS : answer === false ? Infinity : NO_ANSWER_MS;
    const quiet = net.inFlight() === 0 && state.now - state.changed >= wait && state.now - since >= minMs;
    if (quiet) {
      quietSince ??= state.now;
      if (state.now - quietSince >= 200) return true;
    } else {
      quietSince = null;
    }
    await sleep(100);
  }
}

// Path below the site root of a result link, without #fragment; folders as their index.html.
function sitePath(href, origin) {
  const url = new URL(href);
  if (url.origin !== origin) return href;
  let path = decodeURIComponent(url.pathname).replace(/^\/+/, "");
  if (path === "" || path.endsWith("/")) path += "index.html";
  return path;
}

function distinctPaths(links, origin) {
  const paths = [];
  for (const link of links) {
    const path = sitePath(link, origin);
    if (!paths.includes(path)) paths.push(path);
  }
  return paths;
}

// The requests that failed or that the server refused (status 400 and above).
const refused = (requests) => requests.filter((r) => r.failed || r.status >= 400)
  .map((r) => `${r.url}: ${r.failed ?? r.status}`);

// What a response would weigh from a host that gzips text (HTML, CSS, JavaScript, JSON, SVG),
// as most do: its headers plus its file gzipped. `quarry-cli serve` sends every file as it is.
const gzipCache = new Map();
function gzippedText(request, origin, siteDir) {
  const url = new URL(request.url);
  if (url.origin !== origin || request.status !== 200 ||
      !/^(text\/|application\/(json|javascript)|image\/svg)/.test(request.type)) return request.bytes;
  const file = join(siteDir, decodeURIComponent(url.pathname));
  if (!gzipCache.has(file)) {
    try {
      gzipCache.set(file, gzipSync(readFileSync(file), { level: 6 }).length);
    } catch {
      gzipCache.set(file, null);
    }
  }
  const body = gzipCache.get(file);
  return body === null ? request.bytes : request.headers + body;
}

// answers(entry, query): whether the page says the list answers query (true), says it does not
// yet (false), or cannot tell (null): then it is taken to answer once the list changes after the
// last keystroke. Quarry's page names the query on screen in data-shown (the three-file page of
// before had no such mark, and searched the box's text synchronously after a short pause).
const ENGINES = {
  quarry: {
    label: "Quarry",
    page: () => options["quarry-page"],
    input: () => options["quarry-input"],
    results: () => options["quarry-results"],
    status: ".qs-status",
    shown: ["[data-quarry-search]", "data-shown"],
    answers: (entry, query) => (entry.query === null ? null : entry.query === query),
  },
  peer: {
    label: "peer",
    page: () => "/peer-search.html",
    input: () => options["peer-input"],
    results: () => options["peer-results"],
    // "N results for QUERY" or "No results for QUERY" once searched; "Searching for QUERY..." before.
    status: ".pagefind-ui__message",
    answers: (entry, query) => entry.note.includes(query.trim()) && !/^searching/i.test(entry.note),
    // The peer's UI shows five results, then a button for more: pressed for ranks 6 to 10.
    more: ".pagefind-ui__button",
  },
};

// One query typed into one engine's page in a fresh context.
// The result list is judged in the first of the runs (judge): only there is the peer's button for
// more results pressed.
async function measureQuery(browser, origin, siteDir, engine, row, throttled, judge) {
  const spec = ENGINES[engine];
  const { context, page, net, seen, workers } = await openProbed(browser, throttled,
    { results: spec.results(), status: spec.status, shown: spec.shown });
  const answers = (entry) => spec.answers(entry, row.query) ?? (entry.after || null);
  try {
    await page.goto(origin + spec.page(), { waitUntil: "commit" });
    const input = page.locator(spec.input()).first();
    await input.waitFor({ state: "visible", timeout: 60000 });
    await input.focus();
    await page.keyboard.type(row.query, { delay: KEY_DELAY_MS });
    const markAtKey = net.mark();
    const keys = await page.evaluate(() => window.__bench.keys);
    const lastKey = keys.at(-1);
    const settled = await settle(page, net, lastKey, STABLE_MS, SETTLE_CAP_MS, answers);
    const log = await page.evaluate(() => window.__bench.log);
    const markSettled = net.mark();
    const final = log.at(-1)?.links ?? [];
    // The first result shown for the whole query after the completing keystroke; when the list
    // shown at that keystroke was already the final one and never changed after it, that moment
    // counts.
    const after = log.find((entry) => entry.t >= lastKey && entry.links.length > 0 &&
      answers({ ...entry, after: true }));
    const before = [...log].reverse().find((entry) => entry.t < lastKey);
    let firstMs = null;
    let markFirst = null;
    if (after) {
      firstMs = after.t - lastKey;
      markFirst = seen.find((s) => s.t === after.t)?.mark ?? null;
    } else if (before && before.links.length > 0) {
      firstMs = 0;
      markFirst = markAtKey;
    }
    // The moment the settled list was first shown after the keystroke (an engine may first show
    // the answer to an earlier prefix).
    const same = (entry) => entry.t >= lastKey && entry.links.join("\n") === final.join("\n");
    const settledEntry = log.find((entry) => same(entry) && answers({ ...entry, after: true })) ??
      log.find(same);
    const finalMs = final.length === 0 ? null : settledEntry ? settledEntry.t - lastKey : firstMs;
    let links = final;
    if (judge && spec.more && final.length > 0 && final.length < 10) {
      const more = page.locator(spec.more).first();
      if (await more.isVisible().catch(() => false)) {
        await more.click();
        const clicked = await page.evaluate(() => performance.now());
        await settle(page, net, clicked, STABLE_MS, 15000, (state) => state.after || null);
        links = (await page.evaluate(() => window.__bench.log.at(-1)?.links)) ?? final;
      }
    }
    const requests = await net.requests();
    const paths = distinctPaths(links, origin);
    const found = paths.slice(0, 10).findIndex((p) => row.wanted.includes(p));
    const upTo = (mark) => (mark === null ? null : {
      bytes: requests.slice(0, mark).reduce((total, r) => total + r.bytes, 0),
      gzipText: requests.slice(0, mark).reduce((total, r) => total + gzippedText(r, origin, siteDir), 0),
    });
    // What came before the first result, request by request: where its bytes go.
    const toFirst = markFirst === null ? null : requests.slice(0, markFirst).map((r) => ({
      path: r.url.startsWith(origin) ? new URL(r.url).pathname : r.url, bytes: r.bytes,
      gzipText: gzippedText(r, origin, siteDir),
    }));
    return {
      throttled, settled, firstMs, finalMs, toFirst, bytesToFirst: upTo(markFirst)?.bytes ?? null,
      gzipToFirst: upTo(markFirst)?.gzipText ?? null, totalBytes: upTo(markSettled).bytes,
      requests: markSettled, failed: refused(requests),
      workers, rank: found < 0 ? null : found + 1, top: paths.slice(0, 10), shown: paths.length,
    };
  } finally {
    await context.close();
  }
}

// Bytes of a page view with the engine's search box and no search (20 Mbit/s, 40 ms), once
// nothing has been in flight for 1.5 s.
async function measureIdleView(browser, origin, siteDir, path) {
  const { context, page, net } = await openProbed(browser, true, null);
  try {
    await page.goto(origin + path, { waitUntil: "load" });
    let quiet = 0;
    for (let waited = 0; waited < 30000 && quiet < 1500; waited += 100) {
      quiet = net.inFlight() === 0 ? quiet + 100 : 0;
      await sleep(100);
    }
    const requests = await net.requests();
    return {
      bytes: requests.reduce((total, r) => total + r.bytes, 0),
      gzipText: requests.reduce((total, r) => total + gzippedText(r, origin, siteDir), 0),
      requests: requests.map((r) => ({ url: r.url, bytes: r.bytes })),
      failed: refused(requests),
    };
  } finally {
    await context.close();
  }
}

// Quarry's in-page query time through the module's API (openSearch() on the settings file, or
// open() on the folder of the three files), after a first search has loaded what the query
// needs. Skipped with a note when the module exports neither.
async function measureQueryTime(browser, origin, words) {
  const { context, page } = await openProbed(browser, false, null);
  try {
    await page.goto(origin + "/quarry-embed.html", { waitUntil: "load" });
    return await page.evaluate(async (query) => {
      const module = await import("/_search/quarry-search.js");
      let index;
      if (typeof module.openSearch === "function") index = await module.openSearch("/_search/quarry-search.json");
      else if (typeof module.open === "function") index = await module.open("/_search/");
      else return { skipped: "the module exports neither openSearch() nor open()" };
      if (typeof index?.search !== "function") return { skipped: "the search has no search()" };
      let started = performance.now();
      let results = await index.search(query);
      const firstMs = performance.now() - started;
      // The browser's clock counts in steps of 0.1 ms here: each round times 20 searches.
      const times = [];
      for (let round = 0; round < 9; ++round) {
        started = performance.now();
        for (let i = 0; i < 20; ++i) results = await index.search(query);
        times.push((performance.now() - started) / 20);
      }
      times.sort((a, b) => a - b);
      const count = Array.isArray(results) ? results.length : results?.pages?.length;
      return { query, firstMs, medianMs: times[4], maxMs: times[8], results: count };
    }, words);
  } catch (error) {
    return { skipped: error.message.split("\n")[0] };
  } finally {
    await context.close();
  }
}

// ---------------------------------------------------------------------------------------------
// Summaries and output

function summarise(runs, rows) {
  const pick = (throttled, key) => runs.filter((r) => r.throttled === throttled && r[key] !== null)
    .map((r) => r[key]);
  const judged = runs.filter((r) => r.throttled === runs[0]?.throttled);
  const ranks = judged.map((r) => r.rank);
  const stats = (values) => ({ median: median(values), max: max(values), n: values.length });
  return {
    queries: rows.length,
    bytesToFirst: stats(pick(throttles[0], "bytesToFirst")),
    gzipToFirst: stats(pick(throttles[0], "gzipToFirst")),
    totalBytes: stats(pick(throttles[0], "totalBytes")),
    firstMsThrottled: stats(pick(true, "firstMs")),
    firstMsUnthrottled: stats(pick(false, "firstMs")),
    finalMsThrottled: stats(pick(true, "finalMs")),
    finalMsUnthrottled: stats(pick(false, "finalMs")),
    noResult: judged.filter((r) => r.firstMs === null).length,
    unsettled: runs.filter((r) => !r.settled).length,
    success1: ranks.filter((r) => r === 1).length,
    success5: ranks.filter((r) => r !== null && r <= 5).length,
    mrr10: ranks.reduce((sum, r) => sum + (r !== null && r <= 10 ? 1 / r : 0), 0) / Math.max(1, ranks.length),
  };
}

const mb = (bytes) => (bytes === null || bytes === undefined ? "–" : `${(bytes / 1e6).toFixed(2)} MB`);
const kB = (bytes) => (bytes === null || bytes === undefined ? "–" : `${(bytes / 1e3).toFixed(1)} kB`);
const msText = (value) => (value === null || value === undefined ? "–" : `${Math.round(value)} ms`);
const pair = (stat, format) => `${format(stat.median)} / ${format(stat.max)}`;

function printSite(result) {
  const cols = engines.map((e) => result.engines[e]);
  const lines = [];
  const row = (label, values) => lines.push(`  ${label.padEnd(50)}${values.map((v) => String(v).padEnd(26)).join("")}`);
  lines.push(`\n${result.site}: ${result.pages ?? "?"} pages, ${result.queries.length} queries`);
  row("", engines.map((e) => ENGINES[e].label + (e === "peer" ? ` ${result.peerVersion}` : "")));
  row("build wall", cols.map((c) => (c.build ? `${c.build.wallS.toFixed(2)} s` : "–")));
  row("pages indexed", cols.map((c, i) => (engines[i] === "peer" ? c.build?.pages : result.pages) ?? "–"));
  row("build peak RSS", cols.map((c) => (c.build ? `${c.build.peakRssMb.toFixed(0)} MB` : "–")));
  const net = throttles[0] ? "20 Mbit/s" : "no throttle";
  row(`bytes to first result, median / max (${net})`, cols.map((c) => pair(c.summary.bytesToFirst, mb)));
  row("  the same from a host that gzips text", cols.map((c) => pair(c.summary.gzipToFirst, mb)));
  row("bytes once settled, median / max", cols.map((c) => pair(c.summary.totalBytes, mb)));
  if (throttles.includes(true)) {
    row("first result, median / max (20 Mbit/s, 40 ms)", cols.map((c) => pair(c.summary.firstMsThrottled, msText)));
  }
  row("first result, median / max (no throttle)", cols.map((c) => pair(c.summary.firstMsUnthrottled, msText)));
  if (throttles.includes(true)) {
    row("settled results shown (20 Mbit/s, 40 ms)", cols.map((c) => pair(c.summary.finalMsThrottled, msText)));
  }
  row("settled results shown (no throttle)", cols.map((c) => pair(c.summary.finalMsUnthrottled, msText)));
  row("queries with no result shown", cols.map((c) => c.summary.noResult));
  row(`runs not settled within ${SETTLE_CAP_MS / 1000} s`, cols.map((c) => c.summary.unsettled));
  row("page view with the box, no search", cols.map((c) => kB(c.idleView?.bytes)));
  row("  the same from a host that gzips text", cols.map((c) => kB(c.idleView?.gzipText)));
  row("query time, 3 words, loaded", cols.map((c) => (c.queryTime ? (c.queryTime.skipped ? "skipped"
    : `${c.queryTime.medianMs.toFixed(3)} ms`) : "–")));
  row("success@1", cols.map((c) => `${c.summary.success1} / ${c.summary.queries}`));
  row("success@5", cols.map((c) => `${c.summary.success5} / ${c.summary.queries}`));
  row("MRR@10", cols.map((c) => c.summary.mrr10.toFixed(3)));
  for (const engine of engines) {
    const { runs, idleView } = result.engines[engine];
    const bad = new Set([...runs.flatMap((r) => r.failed), ...(idleView?.failed ?? [])]
      .map((text) => text.replace(/^https?:\/\/[^/]+/, "")));
    if (bad.size > 0) lines.push(`  ${ENGINES[engine].label}: failed or refused: ${[...bad].join(", ")}`);
  }
  lines.push("  per query: rank of the wanted page (– not in the top 10) and first result" +
    (throttles.length > 1 ? " (20 Mbit/s, then without throttling)" : ""));
  result.queries.forEach((q, i) => {
    const cells = engines.map((e) => {
      const runs = result.engines[e].runs.filter((r) => r.query === i);
      const rank = runs[0]?.rank ?? "–";
      return `${ENGINES[e].label} ${String(rank).padStart(2)} ${runs.map((r) => msText(r.firstMs)).join(" ")}`;
    });
    lines.push(`    ${q.query.padEnd(28)}${cells.map((c) => c.padEnd(34)).join("")}`);
  });
  console.log(lines.join("\n"));
}

// ---------------------------------------------------------------------------------------------

async function runSite(browser, name) {
  const siteFolder = resolve(options["site-folder"]);
  const siteDir = join(siteFolder, name);
  if (!existsSync(siteDir)) throw new Error(`${siteDir} is missing: run bench/make-sites.sh`);
  const rows = readQueries(name);
  const result = { site: name, siteDir, queries: rows, peerVersion: peerVersion(), engines: {} };
  for (const engine of engines) result.engines[engine] = { runs: [] };

  if (!options["skip-build"]) {
    clean(siteDir);
    // The peer first, so that neither indexes the other's search page.
    if (engines.includes("peer")) result.engines.peer.build = buildPeer(siteDir, siteFolder);
    if (engines.includes("quarry")) result.engines.quarry.build = buildQuarry(name, siteFolder);
  } else {
    for (const name of ["peer-search.html", "quarry-embed.html"]) removeOwn(join(siteDir, name));
  }
  writeFileSync(join(siteDir, "peer-search.html"), PEER_PAGE);
  writeFileSync(join(siteDir, "quarry-embed.html"), QUARRY_EMBED_PAGE);
  if (engines.includes("quarry")) {
    const info = spawnSync(cliPath, ["info", "--db", siteDatabase(name)]).stdout.toString();
    result.pages = Number(info.match(/Pages:\s*([\d,]+)/)?.[1].replace(/,/g, "")) || null;
  }

  const server = await serve(siteDir);
  try {
    for (const [i, row] of rows.entries()) {
      for (const engine of engines) {
        for (const throttled of throttles) {
          const run = await measureQuery(browser, server.origin, siteDir, engine, row, throttled,
            throttled === throttles[0]);
          run.query = i;
          result.engines[engine].runs.push(run);
        }
      }
      const ranks = engines.map((e) => `${ENGINES[e].label} ${result.engines[e].runs.at(-1).rank ?? "–"}`);
      process.stderr.write(`  ${name} ${i + 1}/${rows.length} ${row.query}: ${ranks.join(", ")}\n`);
    }
    if (engines.includes("quarry")) {
      result.engines.quarry.idleView = await measureIdleView(browser, server.origin, siteDir, "/quarry-embed.html");
      result.engines.quarry.queryTime = await measureQueryTime(browser, server.origin,
        options["three-words"] ?? THREE_WORDS[name] ?? rows[0].query);
    }
    if (engines.includes("peer")) {
      result.engines.peer.idleView = await measureIdleView(browser, server.origin, siteDir, "/peer-search.html");
    }
  } finally {
    server.close();
  }
  for (const engine of engines) {
    result.engines[engine].summary = summarise(result.engines[engine].runs, rows);
  }
  return result;
}

async function main() {
  if (!existsSync(cliPath)) throw new Error(`${cliPath} not found: build quarry-cli or give --cli`);
  const started = performance.now();
  const stamp = new Date().toISOString().replace(/[:.]/g, "-").slice(0, 19);
  const out = options.out ?? join(tmpdir(), `search-compare-${stamp}.json`);
  const commit = spawnSync("git", ["-C", repo, "rev-parse", "--short", "HEAD"]).stdout.toString().trim();
  const report = {
    started: new Date().toISOString(), commit, cli: cliPath, peer: resolve(options.peer),
    throttle: THROTTLE, keyDelayMs: KEY_DELAY_MS, sites: [],
  };
  console.log(`search-compare: quarry-cli ${cliPath} (tree ${commit}), peer ${resolve(options.peer)}`);
  const browser = await launch();
  try {
    for (const name of options.sites.split(",").filter(Boolean)) {
      const siteStarted = performance.now();
      const result = await runSite(browser, name);
      result.seconds = (performance.now() - siteStarted) / 1000;
      report.sites.push(result);
      printSite(result);
      console.log(`  (${result.seconds.toFixed(0)} s for this site)`);
      writeFileSync(out, JSON.stringify(report, null, 1));
    }
  } finally {
    await browser.close();
  }
  report.seconds = (performance.now() - started) / 1000;
  writeFileSync(out, JSON.stringify(report, null, 1));
  console.log(`\nwhole run: ${(report.seconds / 60).toFixed(1)} min; results in ${out}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
