// The search page in Debian's Chromium: the same answers as `quarry-cli search`, untrusted names,
// damaged and missing files, keyboard and ?q=, embedding, many results, a narrow viewport and the
// dark scheme, all under the page's strict Content-Security-Policy.
import assert from "node:assert/strict";
import { cpSync, mkdirSync, readFileSync, rmSync, truncateSync, statSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { page as sitePage, sampleSite, writeBundleFolder } from "./bundle-writer.mjs";
import { cli, hasCliCommand, launch, repo, scratch, serve } from "./harness.mjs";

const QUERIES = [
  "the guide", "THE Guide.", "guide", "(guide),", "résumé", "RÉSUMÉ", "привет", "ПРИВЕТ мир",
  "ελληνικά", "word”", "text step", "r*", "gui* the", "DOC*", "прив* Ελλ**", "*", "a", "nothing-here",
  "hostile",
];

let work;
let bundles; // does quarry-cli write search bundles?
let server;
let browser;

// Index files of pages page-0.html … with the given words: { word: [page numbers] }.
function writeIndex(folder, pages, words) {
  const file = (count, payload) => {
    const head = Buffer.alloc(32);
    head.write("QR01");
    head.writeInt32LE(count, 4);
    head.writeInt32LE(32 + payload.length, 8);
    return Buffer.concat([head, payload]);
  };
  const texts = (list) => file(list.length, Buffer.from(list.map((t) => t + "\0").join("")));
  const records = Object.entries(words).map(([word, numbers]) => {
    const body = Buffer.alloc(word.length + 5 + 4 * numbers.length);
    body.write(word);
    body.writeInt32LE(numbers.length, word.length + 1);
    numbers.forEach((n, i) => body.writeInt32LE(n, word.length + 5 + 4 * i));
    const length = Buffer.alloc(4);
    length.writeInt32LE(body.length);
    return Buffer.concat([length, body]);
  });
  const paths = Array.from({ length: pages }, (_, i) => `page-${i}.html`);
  writeFileSync(join(folder, "qrywDb.dat"), file(records.length, Buffer.concat(records)));
  writeFileSync(join(folder, "qryfDb.dat"), texts(paths));
  writeFileSync(join(folder, "qryiDb.dat"), texts(paths.map((p) => `title of ${p}`)));
}

// A copy of the search page's files (and settings) of _search in folder, with the index files
// given by make(folder).
function variant(name, make) {
  const folder = join(work, "site", name);
  cpSync(join(work, "site/_search"), folder, { recursive: true });
  make(folder);
  return folder;
}

before(async () => {
  work = scratch("page");
  const site = join(work, "site");
  // The links stay as they are, relative, so that they stay inside the copy.
  cpSync(join(repo, "tests/data/site"), site, { recursive: true, verbatimSymlinks: true });
  writeFileSync(join(site, "<img src=x onerror=alert(1)>.html"), "<html><body>hostile one</body></html>");
  writeFileSync(join(site, "javascript:alert(1).html"), "<html><body>hostile two</body></html>");
  writeFileSync(join(site, "мир.html"), "<html><head><title>Привет мир</title></head><body>" +
    "Быстрый поиск ПРИВЕТ. Résumé café naïve — Ελληνικά 中文搜索 word”</body></html>");
  mkdirSync(join(site, "_search"));
  const indexed = cli(["index", "--no-progress", "-q", "--db", "site/_search", "site"], work);
  assert.equal(indexed.status, 0, indexed.stderr);
  bundles = hasCliCommand("web") && cli(["web", "--help"], work).stdout.toString().includes("--no-bundle");
  if (hasCliCommand("web")) {
    // The three-file page here; a bundle of the same index in _real when quarry-cli writes one.
    const web = cli(["web", "--db", "site/_search", "--site-root", "site/", ...(bundles ? ["--no-bundle"] : [])], work);
    assert.equal(web.status, 0, web.stderr);
    if (bundles) {
      const real = cli(["web", "-q", "--db", "site/_search", "--site-root", "site/", "--out", "site/_real"], work);
      assert.equal(real.status, 0, real.stderr);
      // The multilingual site with its bundle, and a German page of it holding a box.
      cpSync(join(repo, "tests/data/multilingual"), join(site, "multilingual"), { recursive: true });
      mkdirSync(join(site, "multilingual/_search"));
      for (const args of [["index", "--no-progress", "-q", "--db", "site/multilingual/_search", "site/multilingual"],
        ["web", "-q", "--db", "site/multilingual/_search", "--site-root", "site/multilingual/"]]) {
        const run = cli(args, work);
        assert.equal(run.status, 0, run.stderr);
      }
      writeFileSync(join(site, "multilingual/de/suche.html"), '<!doctype html><html lang="de"><title>Suche</title>' +
        '<div data-quarry-search data-settings="/multilingual/_search/quarry-search.json"></div>' +
        '<script type="module" src="/multilingual/_search/quarry-search.js"></script></html>');
    }
  } else {
    for (const name of ["search.html", "quarry-search.js", "quarry-search.css"]) {
      cpSync(join(repo, "web", name), join(site, "_search", name));
    }
    writeFileSync(join(site, "_search/quarry-search.json"), JSON.stringify(
      { generator: "quarry-cli web", version: 1, index: "./", siteRoot: "../", strip: ["site/"] }));
  }
  variant("_missing", (f) => rmSync(join(f, "qrywDb.dat")));
  variant("_garbage", (f) => writeFileSync(join(f, "qryfDb.dat"), "<!doctype html><p>Not found"));
  variant("_torn", (f) => truncateSync(join(f, "qrywDb.dat"), statSync(join(f, "qrywDb.dat")).size - 200));
  variant("_many", (f) => {
    const all = Array.from({ length: 3000 }, (_, i) => i);
    writeIndex(f, 3000, { common: all, rare: [7] });
    writeFileSync(join(f, "quarry-search.json"), JSON.stringify(
      { generator: "quarry-cli web", version: 1, index: "./", siteRoot: "./", strip: [] }));
  });
  writeFileSync(join(site, "embed.html"), '<!doctype html><html lang="en"><title>Embedded</title>' +
    '<h1>My site</h1><div data-quarry-search data-settings="/_search/quarry-search.json"></div>' +
    '<script type="module" src="/_search/quarry-search.js"></script></html>');
  for (const name of ["_bundle", "_changing"]) {
    const folder = join(site, name);
    cpSync(join(repo, "web"), folder, { recursive: true });
    writeBundleFolder(folder, sampleSite(), { keysPerShard: 4, stems: { index: "index", indexes: "index" } });
  }
  cpSync(join(repo, "web"), join(site, "_sections"), { recursive: true });
  writeBundleFolder(join(site, "_sections"), [
    sitePage("a.html", "Alpha guide", "The guide to alpha.", [["one", "Guide one"], ["two", "Guide two"]]),
    sitePage("b.html", "Beta", "A guide to beta."),
    sitePage("c.html", "Gamma guide", "The guide to gamma.", [["three", "Guide three"], ["", "Guide four"]]),
  ], { keysPerShard: 4 });
  writeFileSync(join(site, "embed-de.html"), '<!doctype html><html lang="de-AT"><title>Eingebettet</title>' +
    '<div data-quarry-search data-settings="/_bundle/quarry-search.json" data-text-none="Nichts da."></div>' +
    '<script type="module" src="/_bundle/quarry-search.js"></script></html>');
  server = await serve(site);
  browser = await launch();
});

after(async () => {
  await browser?.close();
  server?.close();
  rmSync(work, { recursive: true, force: true });
});

// A fresh page; problems (console errors, CSP violations, dialogs, script errors) are collected
// and checked by done().
async function openPage(path, { idle, ...options } = {}) {
  const context = await browser.newContext(options);
  const page = await context.newPage();
  const problems = [];
  page.on("console", (m) => {
    const where = m.location().url ?? "";
    if (m.type() === "error" && !where.endsWith("/favicon.ico")) problems.push(`${m.text()} ${where}`);
  });
  page.on("pageerror", (e) => problems.push(String(e)));
  page.on("dialog", (d) => {
    problems.push(`dialog: ${d.message()}`);
    d.dismiss();
  });
  page.requests = [];
  page.on("request", (r) => page.requests.push(new URL(r.url()).pathname));
  await page.goto(server.origin + path);
  if (!idle) await page.waitForSelector("[data-quarry-search][data-state]");
  page.done = async (allowed = /^$/) => {
    await context.close();
    assert.deepEqual(problems.filter((p) => !allowed.test(p)), []);
  };
  return page;
}

const options = (page) => page.locator(".qs-result");
const status = (page) => page.locator(".qs-status");

async function type(page, query) {
  await page.fill(".qs-input", query);
  await page.waitForFunction((q) => new URLSearchParams(location.search).get("q") === (q || null), query);
}

test("the page answers as quarry-cli search does", async () => {
  const page = await openPage("/_search/search.html");
  const answers = await page.evaluate(async (queries) => {
    const { open } = await import("./quarry-search.js");
    const index = await open("./");
    return { links: index.search("hidden").map((r) => r.url),
      answers: queries.map((q) => index.search(q).map(({ page, path }) => [page, path])) };
  }, QUERIES).then(({ links, answers }) => {
    assert.deepEqual(links, [`${server.origin}/_hidden.html`]);
    return answers;
  });
  for (const [i, query] of QUERIES.entries()) {
    const run = cli(["search", "--db", "site/_search", "-z", query], work);
    const want = run.status === 2 ? [] : run.stdout.toString().split("\0").slice(0, -1)
      .map((line) => line.split("\t")).map(([n, path]) => [Number(n), path]);
    assert.deepEqual([...answers[i]].sort((a, b) => a[0] - b[0]), want, query);
  }
  for (const query of ["the guide", "gui* the", "nothing-here"]) {
    await type(page, query);
    const count = answers[QUERIES.indexOf(query)].length;
    await assert.doesNotReject(options(page).nth(count).waitFor({ state: "detached" }));
    assert.equal(await options(page).count(), count, query);
    assert.equal(await status(page).textContent(), count ? `${count} pages found.` : "No pages found.");
  }
  await page.done();
});

test("untrusted names stay text and relative links", async () => {
  const page = await openPage("/_search/search.html?q=hostile");
  await options(page).nth(1).waitFor();
  const items = await options(page).evaluateAll((nodes) =>
    nodes.map((n) => ({ text: n.querySelector(".qs-title").textContent, href: n.querySelector("a")?.href })));
  assert.deepEqual(items, [
    { text: "site/<img src=x onerror=alert(1)>.html", href: `${server.origin}/%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.html` },
    { text: "site/javascript:alert(1).html", href: `${server.origin}/javascript%3Aalert%281%29.html` },
  ]);
  assert.equal(await page.locator(".quarry-search img").count(), 0);
  await options(page).nth(1).locator("a").click();
  await page.waitForURL(`${server.origin}/javascript%3Aalert%281%29.html`);
  assert.match(await page.textContent("body"), /hostile two/);
  await page.done();
});

test("a missing, a garbled and a torn file each give a clear message", async () => {
  for (const [folder, message] of [
    ["_missing", /Search is not available\. The search index could not be loaded: qrywDb\.dat \(HTTP 404\)/],
    ["_garbage", /Search is not available\. The search index is damaged: qryfDb\.dat is not an index file/],
    ["_torn", /some results may be missing/],
  ]) {
    const page = await openPage(`/${folder}/search.html?q=guide`);
    const notice = page.locator(".qs-notice");
    assert.match(await notice.textContent(), message, folder);
    assert.ok(await notice.isVisible(), folder);
    if (folder === "_torn") assert.ok((await options(page).count()) > 0);
    await page.done(/404/);
  }
});

test("keyboard, ?q= and the back button", async () => {
  const page = await openPage("/_search/search.html?q=the+guide");
  assert.equal(await page.inputValue(".qs-input"), "the guide");
  await options(page).nth(3).waitFor();
  await page.focus(".qs-input");
  await page.keyboard.press("ArrowDown");
  await page.keyboard.press("ArrowDown");
  await page.keyboard.press("ArrowUp");
  const active = options(page).nth(0);
  assert.equal(await active.getAttribute("aria-selected"), "true");
  assert.equal(await page.getAttribute(".qs-input", "aria-activedescendant"), await active.getAttribute("id"));
  assert.notEqual(await active.evaluate((n) => getComputedStyle(n).outlineStyle), "none");
  const href = await active.locator("a").getAttribute("href");
  await page.keyboard.press("Enter");
  await page.waitForURL(href);
  await page.goBack();
  await page.waitForSelector("[data-quarry-search][data-state]");
  assert.equal(await page.inputValue(".qs-input"), "the guide");
  await options(page).nth(3).waitFor();
  await page.focus(".qs-input");
  await page.keyboard.press("Escape");
  assert.equal(await page.inputValue(".qs-input"), "");
  assert.equal(await options(page).count(), 0);
  await page.keyboard.type("text step");
  await page.waitForURL(/\?q=text\+step$/);
  assert.equal(await options(page).count(), 2);
  await page.done();
});

test("thousands of results come in pieces, by keyboard and by button", async () => {
  const page = await openPage("/_many/search.html?q=common");
  await options(page).nth(49).waitFor();
  assert.equal(await status(page).textContent(), "3,000 pages found.");
  assert.equal(await options(page).count(), 50);
  await page.focus(".qs-input");
  for (let i = 0; i < 51; ++i) await page.keyboard.press("ArrowDown");
  assert.equal(await options(page).count(), 150);
  assert.equal(await options(page).nth(50).getAttribute("aria-selected"), "true");
  await page.click(".qs-more");
  assert.equal(await options(page).count(), 250);
  assert.equal(await options(page).nth(150).getAttribute("aria-selected"), "true");
  await page.done();
});

test("the widget in a site's own page fetches nothing until it is used", async () => {
  const page = await openPage("/embed.html", { idle: true });
  await page.waitForLoadState("networkidle");
  assert.deepEqual(page.requests, ["/embed.html", "/_search/quarry-search.js", "/_search/quarry-search.css"]);
  assert.equal(await page.locator(".qs-label").textContent(), "Search this site");
  await type(page, "guide");
  await options(page).first().waitFor();
  assert.equal(await page.locator(".qs-input").evaluate((n) => getComputedStyle(n).borderRadius), "6px");
  await page.done();
});

test("readable at 360 pixels, in the light and the dark scheme", async () => {
  const page = await openPage("/_search/search.html?q=the", { viewport: { width: 360, height: 740 }, colorScheme: "dark" });
  await options(page).first().waitFor();
  const look = () => page.evaluate(() => ({
    scroll: document.documentElement.scrollWidth,
    input: document.querySelector(".qs-input").getBoundingClientRect().right,
    back: getComputedStyle(document.body).backgroundColor,
    link: getComputedStyle(document.querySelector(".qs-link")).color,
  }));
  const dark = await look();
  assert.ok(dark.scroll <= 360 && dark.input <= 360, JSON.stringify(dark));
  assert.equal(dark.back, "rgb(23, 24, 28)");
  assert.equal(dark.link, "rgb(138, 180, 248)");
  await page.emulateMedia({ colorScheme: "light" });
  const light = await look();
  assert.equal(light.back, "rgb(255, 255, 255)");
  assert.equal(light.link, "rgb(11, 87, 208)");
  await page.done();
});

test("a bundle: found while typing, ranked, marked, with sections; phrases and typos", async () => {
  const page = await openPage("/_bundle/search.html");
  await page.keyboard.type("instal", { delay: 20 });
  await page.waitForSelector('[data-detailed="instal"]');
  assert.deepEqual(await page.locator(".qs-result a[href]").evaluateAll((links) => links.map((a) => a.href)),
    [`${server.origin}/docs/install.html`]);
  assert.deepEqual(await page.locator(".qs-result mark").allTextContents(), ["Installing", "install", "installer"]);
  assert.equal(await page.locator(".qs-subresult a").getAttribute("href"), `${server.origin}/docs/install.html#debian`);
  assert.equal(await page.locator(".qs-subresult mark").textContent(), "Install");
  assert.equal(await status(page).textContent(), "1 page found.");
  for (const [query, want] of [
    ['"default value"', "1 page found."],
    ['"value default"', "No pages found."],
    ["configuraton", "Showing results for configuration. 2 pages found."],
  ]) {
    await page.fill(".qs-input", query);
    await page.waitForFunction((w) => document.querySelector(".qs-status").textContent === w, want);
  }
  await page.keyboard.press("ArrowDown");
  assert.equal(await options(page).first().getAttribute("aria-selected"), "true");
  await page.done();
});

test("results show before their fragments, fetched once the query rests; the listbox stays in order", async () => {
  const page = await openPage("/_sections/search.html");
  const held = [];
  await page.route("**/quarry-bundle/f-*.gz", (route) => held.push(route));
  await page.evaluate(() => {
    window["inputs"] = [];
    document.querySelector(".qs-input").addEventListener("input", () => window["inputs"].push(performance.now()));
  });
  await page.keyboard.type("guide", { delay: 100 });
  await page.waitForSelector('[data-shown="guide"]');
  assert.equal(await options(page).count(), 3);
  assert.equal(await page.locator(".qs-excerpt, .qs-subresult").count(), 0);
  while (held.length < 3) await page.waitForTimeout(20);
  await page.keyboard.press("ArrowDown");
  await page.keyboard.press("ArrowDown");
  const active = await options(page).nth(1).getAttribute("id");
  for (const route of held) await route.continue();
  await page.waitForSelector('[data-detailed="guide"]');
  assert.equal(await page.locator(".qs-excerpt").count(), 3);
  // The active option is the one it was; the headings stand after their page, in DOM order.
  assert.equal(await page.getAttribute(".qs-input", "aria-activedescendant"), active);
  assert.deepEqual(await page.locator("[aria-selected=true]").evaluateAll((n) => n.map((o) => o.id)), [active]);
  const list = await page.locator("[role=option]").evaluateAll((nodes) =>
    nodes.map((n) => [n.id, n.className, n.querySelector("a").getAttribute("href")]));
  assert.equal(list.length, 6);
  assert.equal(new Set(list.map(([id]) => id)).size, 6);
  let page0 = "";
  for (const [, kind, href] of list) {
    if (kind === "qs-result") page0 = href;
    else assert.ok(href.startsWith(`${page0}#`), `${href} after ${page0}`);
  }
  await page.keyboard.press("Home");
  const walked = [];
  for (let i = 0; i < 6; ++i) {
    walked.push(await page.getAttribute(".qs-input", "aria-activedescendant"));
    await page.keyboard.press("ArrowDown");
  }
  assert.deepEqual(walked, list.map(([id]) => id));
  // No fragment, and no prefix piece (for "gu" to "guid"), was asked for before the box's text
  // had rested for a while.
  const { inputs, pieces } = await page.evaluate(() => ({ inputs: window["inputs"],
    pieces: performance.getEntriesByType("resource").filter((e) => /\/[fx]-\w+\.gz$/.test(e.name))
      .map((e) => [e.name.split("/").pop()[0], e.startTime]) }));
  assert.equal(pieces.filter(([kind]) => kind === "f").length, 3);
  for (const [kind, at] of pieces) assert.ok(at - inputs.filter((t) => t <= at).at(-1) >= 290, `${kind} ${at} ${inputs}`);
  await page.done();
});

test("a bundle rebuilt under an open page asks for a reload", async () => {
  const page = await openPage("/_changing/search.html");
  const folder = join(work, "site/_changing");
  rmSync(join(folder, "quarry-bundle"), { recursive: true });
  writeBundleFolder(folder, sampleSite().slice(0, 2), { keysPerShard: 4 });
  await page.fill(".qs-input", "setting");
  const notice = page.locator(".qs-notice");
  await notice.waitFor();
  assert.equal(await notice.textContent(), "The search index changed; reload the page.");
  await page.done(/404/);
});

test("an embedded box speaks its page's language and fetches nothing until it is used", async () => {
  const page = await openPage("/embed-de.html", { idle: true });
  await page.waitForLoadState("networkidle");
  assert.deepEqual(page.requests, ["/embed-de.html", "/_bundle/quarry-search.js", "/_bundle/quarry-search.css"]);
  assert.equal(await page.locator(".qs-label").textContent(), "Diese Website durchsuchen");
  await page.focus(".qs-input");
  await page.keyboard.type("configuration ");
  await page.waitForFunction(() => document.querySelector(".qs-status")?.textContent === "2 Seiten gefunden.");
  assert.match(await page.locator(".qs-help").textContent(), /^Gefunden werden Seiten mit allen Wörtern/);
  assert.ok(page.requests.includes("/_bundle/quarry-search-lang-de.json"));
  assert.ok(!page.requests.some((r) => r.includes("/quarry-bundle/p-")), "no position piece without a phrase");
  assert.ok(!page.requests.some((r) => /legacy|entities/.test(r)), "no reader of the three files for a bundle");
  await page.fill(".qs-input", "qqqqqq");
  await page.waitForFunction(() => document.querySelector(".qs-status").textContent === "Nichts da.");
  await page.done();
});

test("the multilingual site: accents, word endings, Chinese and Japanese, typos, in the box's language", async (t) => {
  if (!bundles) return t.skip("quarry-cli writes no bundle");
  const page = await openPage("/multilingual/de/suche.html", { idle: true });
  await page.waitForSelector(".qs-input");
  assert.equal(await page.locator(".qs-label").textContent(), "Diese Website durchsuchen");
  for (const [query, want, found] of [
    ["strasse ", "2 Seiten gefunden.", "de/strasse.html index.html"],
    ["indexing ", "2 Seiten gefunden.", "index.html en/indexes.html"],
    ["東京都", "1 Seite gefunden.", "ja/tokyo.html"],
    ["检索", "1 Seite gefunden.", "zh/jiansuo.html"],
    ["configuraton ", "Ergebnisse für configuration. 1 Seite gefunden.", "index.html"],
  ]) {
    await page.fill(".qs-input", query);
    await page.waitForFunction(([q, w]) => document.querySelector("[data-quarry-search]").dataset.detailed === q &&
      document.querySelector(".qs-status")?.textContent === w, [query, want]);
    assert.deepEqual(await page.locator(".qs-result a[href]").evaluateAll((links) => links.map((a) => a.pathname)),
      found.split(" ").map((p) => `/multilingual/${p}`), query);
  }
  await page.fill(".qs-input", "東京都");
  await page.waitForSelector('[data-detailed="東京都"] .qs-excerpt mark');
  assert.deepEqual(await page.locator(".qs-result").first().locator(".qs-excerpt mark").allTextContents(), ["東京都", "東京都"]);
  await page.done();
});

test("the bundle quarry-cli writes for the sample site", async (t) => {
  if (!bundles) return t.skip("quarry-cli writes no bundle");
  const page = await openPage("/_real/search.html?q=reference");
  await page.waitForSelector('[data-detailed="reference"]');
  assert.deepEqual(await page.locator(".qs-result a[href]").evaluateAll((links) => links.map((a) => a.pathname)),
    ["/docs/api/reference.htm", "/blog/2024/post.Html", "/docs/INDEX.HTM"]);
  assert.equal(await page.locator(".qs-result .qs-title").first().textContent(), "API Reference");
  assert.deepEqual(await page.locator(".qs-result").first().locator(".qs-excerpt mark").allTextContents(),
    ["Reference", "reference"]);
  await page.done();
});
