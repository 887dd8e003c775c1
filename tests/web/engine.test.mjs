// Fast tests of the search page's modules (web/quarry-search-*.js) under `node --test`: decoding
// the sample site's index and damaged files, cleaning and folding query words, links, search,
// reload.
import assert from "node:assert/strict";
import { cpSync, existsSync, readdirSync, readFileSync, rmSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";
import {
  buildIndex, decodeReferences, decodeTexts, decodeWords, LinkMaker, open, pagesOf,
} from "../../web/quarry-search-legacy.js";
import { cutQuery, foldBytes, keyBytes, queryTerms, queryWords } from "../../web/quarry-search-query.js";
import { displayText, trimWord } from "../../web/quarry-search-text.js";
import { contentHash } from "../../web/quarry-search-bundle.js";
import { editDistance } from "../../web/quarry-search-rank.js";
import { openSearch } from "../../web/quarry-search-engine.js";
import { excerpt } from "../../web/quarry-search-excerpt.js";
import { LANGUAGES, TEXTS } from "../../web/quarry-search-widget.js";
import { LABELS, WIDGET_MODULES } from "../../web/quarry-search.js";
import { page, sampleSite, writeBundle } from "./bundle-writer.mjs";
import { cli, repo, scratch } from "./harness.mjs";
import { gzipSync } from "node:zlib";

const data = new URL("../data/", import.meta.url);
// The sample site's index files, each as a view that does not start at its buffer's start.
const expected = (name) => {
  const file = readFileSync(new URL(`site-expected/${name}`, data));
  const buffer = new Uint8Array(file.length + 3);
  buffer.set(file, 3);
  return buffer.subarray(3);
};
const bytes = (text) => new TextEncoder().encode(text);
const text = (b) => displayText(b);

// A file of the index: header (magic, count, total size) and payload bytes.
function file(count, payload, total = 32 + payload.length) {
  const out = new Uint8Array(32 + payload.length);
  out.set([0x51, 0x52, 0x30, 0x31]);
  const view = new DataView(out.buffer);
  view.setInt32(4, count, true);
  view.setInt32(8, total, true);
  out.set(payload, 32);
  return out;
}
const int32 = (...values) => new Uint8Array(Int32Array.from(values).buffer);
const concat = (...parts) => Uint8Array.from(parts.flatMap((p) => [...p]));
// One word record: length, word, NUL, page count, pages (length computed unless given).
const record = (word, count, pages, length) => {
  const body = concat(bytes(word), [0], int32(count), int32(...pages));
  return concat(int32(length ?? body.length), body);
};
const words = (wordFile) => {
  const table = decodeWords(wordFile);
  return Array.from({ length: table.length }, (_, r) => {
    const start = table.wordStart[r];
    return [text(wordFile.subarray(start, start + table.wordLength[r])), pagesOf(table, r)];
  });
};

test("the sample site's index decodes to its pages, titles and words", () => {
  const paths = decodeTexts(expected("qryfDb.dat")).map(text);
  const titles = decodeTexts(expected("qryiDb.dat")).map(text);
  assert.equal(paths.length, 11);
  assert.deepEqual([paths[0], paths[6], paths[9]],
    ["site/_hidden.html", "site/docs/guide.html", "site/index.html"]);
  assert.deepEqual([titles[0], titles[3], titles[6]],
    ["hidden page", "site/blog/index.htm", "  the guide  "]);
  const list = words(expected("qrywDb.dat"));
  const map = new Map(list);
  assert.deepEqual(map.get("the"), [2, 3, 4, 5, 6, 7, 8, 9]);
  assert.deepEqual(map.get("words"), [5, 9]);
  assert.deepEqual(["prev", "cell", "don’t", "été"].map((w) => map.get(w)), [[10], [10], [10], [10]]);
  assert.ok(list.every(([, pages]) => pages.every((p) => p >= 0 && p < 11)));
  // Stored in descending byte order, each word once.
  const raw = list.map(([w]) => bytes(w));
  assert.ok(raw.every((w, i) => i === 0 || Buffer.compare(raw[i - 1], w) > 0));
});

test("damaged files are read as the format document says", () => {
  const rows = [
    // [what, word file, expected words]
    ["count 0 reads nothing", file(0, record("ab", 1, [1])), []],
    ["at most count records", file(1, concat(record("ab", 1, [1]), record("cd", 1, [2]))),
      [["ab", [1]]]],
    ["a length past the end ends reading",
      file(3, concat(record("ab", 1, [1]), record("cd", 1, [2], 99), record("ef", 1, [3]))),
      [["ab", [1]]]],
    ["a negative length ends reading", file(2, concat(record("ab", 1, [1], -1), record("cd", 1, [2]))), []],
    ["a body without NUL is skipped", file(2, concat(int32(3), bytes("abc"), record("cd", 1, [2]))),
      [["cd", [2]]]],
    ["no room for the page count is skipped",
      file(2, concat(int32(4), bytes("ab"), [0, 7], record("cd", 1, [2]))), [["cd", [2]]]],
    ["page count 0 or less is skipped",
      file(3, concat(record("ab", 0, []), record("cd", -2, [5]), record("ef", 1, [3]))), [["ef", [3]]]],
    ["only the page numbers that fit", file(1, record("ab", 9, [4, 5])), [["ab", [4, 5]]]],
    ["a count with no page that fits is skipped", file(1, record("ab", 2, [])), []],
    ["a repeated page is taken once", file(1, record("ab", 3, [6, 2, 6])), [["ab", [6, 2]]]],
    ["fewer than 4 bytes left ends reading", file(2, concat(record("ab", 1, [1]), [1, 0])), [["ab", [1]]]],
    ["a file shorter than its header", new Uint8Array([0x51, 0x52, 0x30]), []],
  ];
  for (const [what, wordFile, want] of rows) assert.deepEqual(words(wordFile), want, what);

  const texts = [
    ["strings split at NUL", file(2, bytes("a.htm\0b.htm\0")), ["a.htm", "b.htm"]],
    ["the payload decides the number", file(5, bytes("a\0\0b\0")), ["a", "", "b"]],
    ["a last string without NUL", file(1, bytes("a\0bc")), ["a", "bc"]],
    ["no more than the total size", file(2, bytes("ab\0cd\0"), 35), ["ab"]],
    ["no more than the file holds", file(2, bytes("ab\0c"), 99), ["ab", "c"]],
    ["count 0", file(0, bytes("ab\0")), []],
    ["total size below 32", file(1, bytes("ab\0"), 31), []],
    ["invalid UTF-8 shows as Latin-1", file(1, Uint8Array.of(0x63, 0x61, 0x66, 0xe9, 0)), ["café"]],
  ];
  for (const [what, textFile, want] of texts) assert.deepEqual(decodeTexts(textFile).map(text), want, what);
});

// Reads a shared table: lines "input TAB expected", `#` lines are comments; \xNN, \t, \\ escapes.
function table(name) {
  const unescape = (field) => Uint8Array.from(Buffer.from(field.replace(/\\(x[0-9a-fA-F]{2}|t|\\|.)/g,
    (_, e) => {
      if (e === "t") return "\t";
      if (e === "\\") return "\\";
      assert.equal(e[0], "x", `bad escape in ${name}: ${field}`);
      return String.fromCharCode(parseInt(e.slice(1), 16));
    }), "latin1"));
  return readFileSync(new URL(name, data)).toString("latin1").split("\n")
    .filter((line) => line !== "" && !line.startsWith("#")).map((line) => line.split("\t").map(unescape));
}

test("words are trimmed and folded as the shared tables say", () => {
  const trims = table("trim-cases.tsv");
  const folds = table("fold-cases.tsv");
  assert.ok(trims.length > 50 && folds.length > 20);
  trims.push([new Uint8Array(600).fill(0x61), new Uint8Array(511).fill(0x61)]);
  for (const [input, want] of trims) assert.deepEqual(trimWord(input), want, text(input));
  folds.push([Uint8Array.of(0x41, 0xc9, 0x42), Uint8Array.of(0x61, 0xc9, 0x62)]); // not UTF-8
  for (const [input, want] of folds) assert.deepEqual(foldBytes(input), want, text(input));
});

test("keys are made as the shared table says", () => {
  const rows = table("key-cases.tsv");
  assert.ok(rows.length > 40);
  for (const [input, want] of rows) assert.deepEqual(keyBytes(input), want, text(input));
});

test("queries are cut into terms as the shared table says", () => {
  const show = (terms) => {
    const out = [];
    for (const [i, t] of terms.entries()) {
      const opens = t.phrase >= 0 && terms[i - 1]?.phrase !== t.phrase;
      const closes = t.phrase >= 0 && terms[i + 1]?.phrase !== t.phrase;
      out.push(`${opens ? '"' : ""}${t.text}${t.prefix ? "*" : ""}${closes ? '"' : ""}`);
    }
    return out.join(" ");
  };
  const rows = table("query-cases.tsv");
  assert.ok(rows.length > 30);
  for (const [query, cut, typed = cut] of rows.map((r) => r.map(text))) {
    assert.equal(show(cutQuery(query)), cut ?? "", query);
    assert.equal(show(cutQuery(query, { typing: true })), typed ?? "", `${query} (typing)`);
  }
});

test("Chinese, Japanese and Korean words are searched by the shared table's pieces", () => {
  const rows = table("cjk-cases.tsv");
  assert.ok(rows.length > 10);
  for (const [input, want = new Uint8Array()] of rows) {
    const [term] = cutQuery(text(input), { typing: true });
    assert.equal(term.cjk ? term.runs.join(" ") : "", text(want), text(input));
    assert.ok(!(term.cjk && term.prefix), text(input));
  }
});

test("a query is cut into words at white space as the shared table says", () => {
  const utf8 = new TextDecoder("utf-8", { fatal: true });
  const rows = table("space-cases.tsv").filter(([input]) => {
    try {
      utf8.decode(input);
      return true;
    } catch {
      return false; // bytes of no character: a query typed into the page is always text
    }
  });
  assert.ok(rows.length > 30);
  for (const [input, want] of rows) {
    assert.deepEqual(bytes(queryWords(utf8.decode(input)).join(" ")), want, text(input));
  }
});

test("a query becomes folded terms, prefixes marked by a trailing star", () => {
  const rows = [
    ["Install  GUIDE", ["install", "guide"], [false, false]],
    ["j* *  ** (Doc.*", ["j", "doc"], [true, true]],
    ["a . ПРИВЕТ я", ["привет"], [false]],
    ["Install\u00a0GUIDE\u3000j*", ["install", "guide", "j"], [false, false, true]],
    ["", [], []],
  ];
  for (const [query, keys, prefixes] of rows) {
    const terms = queryTerms(query);
    assert.deepEqual(terms.map((t) => t.text), keys, query);
    assert.deepEqual(terms.map((t) => t.prefix), prefixes, query);
  }
});

test("stored paths become links below the site root as the shared table says, or none", () => {
  const root = "https://example.org/site/";
  const latin1 = (b) => Buffer.from(b).toString("latin1");
  const rows = table("link-cases.tsv");
  assert.ok(rows.length > 20);
  for (const [path, stripField, link, windows] of rows) {
    const strip = latin1(stripField).split(" ").map((prefix) => (prefix === '""' ? "" : prefix));
    const url = new LinkMaker({ siteRoot: root, strip, windows: latin1(windows ?? []) === "windows" })
      .linkFor(path);
    assert.equal(url, link.length ? root + latin1(link) : null, latin1(path));
    if (url) assert.equal(new URL(url).href, url, latin1(path)); // as the URL parser writes it
  }
  assert.equal(new LinkMaker({ siteRoot: "javascript:alert(1)//" }).linkFor(bytes("a.html")), null);
  // Without a strip list (quarry-cli web always writes one) every path gets a link.
  assert.equal(new LinkMaker({ siteRoot: root, strip: [] }).linkFor(bytes("docs/é.html")),
    "https://example.org/site/docs/%C3%A9.html");
  assert.equal(new LinkMaker({ siteRoot: root, strip: [] }).linkFor(bytes("/abs/a.html")),
    "https://example.org/abs/a.html");
});

test("search answers as quarry-cli search does on the sample site", () => {
  const index = buildIndex(expected("qrywDb.dat"), expected("qryfDb.dat"), expected("qryiDb.dat"),
    { siteRoot: "http://127.0.0.1/", strip: ["site/"] });
  assert.deepEqual([index.pages, index.words, index.problems], [11, 116, []]);
  const found = (query) => index.search(query).map((r) => r.page);
  for (const [query, pages = ""] of table("search-cases.tsv").map((row) => row.map(text))) {
    assert.deepEqual(found(query).sort((a, b) => a - b), pages.split(" ").filter(Boolean).map(Number), query);
  }
  assert.deepEqual(index.search("hidden")[0],
    { page: 0, path: "site/_hidden.html", url: "http://127.0.0.1/_hidden.html", title: "hidden page" });
  // Title and path matches first (6, 8), then page order (2, 7); the stored title "  the guide  ".
  assert.deepEqual(index.search("guide").map((r) => [r.page, r.title]),
    [[6, "the guide"], [8, "the guide"], [2, "a title that runs on"], [7, "documentation index"]]);
});

test("titles of the three files are shown with references decoded, ranked by title and path", () => {
  const rows = [
    ["(java se 17 &amp; jdk 17)", "(java se 17 & jdk 17)"],
    ["caf&eacute; &#8212; &#x1F600; &nbsp;x", "café — 😀 \u00a0x"],
    ["&check; &AMP; &#0; &#xD800; &#1114112; &#128; &amp", "&check; &AMP; &#0; &#xD800; &#1114112; &#128; &amp"],
  ];
  for (const [stored, shown] of rows) assert.equal(decodeReferences(stored), shown, stored);
  const paths = ["a/other.html", "b/guide.html", "c/x.html", "d/guide-install.html"];
  const titles = ["guide", "x", "install &amp; guide", "y"];
  const index = buildIndex(file(2, concat(record("install", 2, [2, 3]), record("guide", 4, [0, 1, 2, 3]))),
    file(4, bytes(paths.join("\0") + "\0")), file(4, bytes(titles.join("\0") + "\0")));
  assert.deepEqual(index.search("guide install").map((r) => r.page), [2, 3]);
  assert.deepEqual(index.search("guide").map((r) => r.page), [0, 2, 1, 3]);
  assert.deepEqual(index.search("gui*").map((r) => r.title), ["guide", "install & guide", "x", "y"]);
});

test("files that disagree are fetched once more past the cache", async (t) => {
  const good = [file(1, record("ab", 1, [0])), file(1, bytes("a.html\0")), file(1, bytes("a\0"))];
  const torn = [file(1, record("ab", 2, [0, 3])), good[1], good[2]];
  const names = ["qrywDb.dat", "qryfDb.dat", "qryiDb.dat"];
  for (const [what, first, second, problems] of [
    ["a torn read is fetched again", torn, good, 0],
    ["still torn: the bad numbers are left out", torn, torn, 1],
  ]) {
    const caches = [];
    t.mock.method(globalThis, "fetch", async (url, init) => {
      caches.push(init.cache);
      const set = init.cache === "reload" ? second : first;
      return new Response(set[names.indexOf(String(url).split("/").pop())]);
    });
    const index = await open("http://127.0.0.1/_search/", { siteRoot: "../" });
    assert.deepEqual(index.search("ab").map((r) => r.url), ["http://127.0.0.1/a.html"], what);
    assert.equal(index.problems.length, problems, what);
    assert.deepEqual(caches, ["default", "default", "default", "reload", "reload", "reload"], what);
    t.mock.restoreAll();
  }
  t.mock.method(globalThis, "fetch", async () => new Response("", { status: 404 }));
  await assert.rejects(open("http://127.0.0.1/_search/"), /could not be loaded: qrywDb.dat \(HTTP 404\)/);
  t.mock.method(globalThis, "fetch", async () => new Response("<!doctype html>"));
  await assert.rejects(open("http://127.0.0.1/_search/"), /damaged: qrywDb.dat is not an index file/);
});

test("the page's files carry the generated-file mark and no inline script or style", () => {
  const web = new URL("../../web/", import.meta.url);
  const cmake = readFileSync(new URL("../../src/CMakeLists.txt", import.meta.url), "utf8");
  const listed = cmake.match(/set\(QUARRY_WEB_FILES([^)]*)\)/)[1].trim().split(/\s+/);
  assert.deepEqual([...listed].sort(), readdirSync(web).sort(), "QUARRY_WEB_FILES lists web/");
  for (const name of listed) {
    const body = readFileSync(new URL(name, web), "utf8");
    assert.match(body.split("\n")[0], /quarry web: generated file/, name);
    if (name === "search.html") {
      assert.doesNotMatch(body, /<script(?![^>]*\ssrc=)|<style|\sstyle=|\son[a-z]+=/i, name);
    }
  }
  // A started box preloads exactly the modules the widget imports, directly or through others.
  const reached = new Set();
  const walk = (name) => {
    if (reached.has(name)) return;
    reached.add(name);
    const body = readFileSync(new URL(name, web), "utf8");
    for (const [, imported] of body.matchAll(/^import [^;]*? from "\.\/([\w-]+\.js)";/gm)) walk(imported);
  };
  walk("quarry-search-widget.js");
  assert.deepEqual(WIDGET_MODULES.map((n) => `quarry-search-${n}.js`).sort(), [...reached].sort());
});

// ---------------------------------------------------------------------------------------------
// The bundle, written by the small test writer (bundle-writer.mjs)

const SITE = sampleSite();
const STEMS = { index: "index", indexes: "index", indexing: "index" };

// Serves a written bundle to fetch at http://127.0.0.1/_search/; returns the URLs fetched.
function serveBundle(t, files, manifest, { again = manifest } = {}) {
  const fetched = [];
  t.mock.method(globalThis, "fetch", async (url) => {
    const path = new URL(url).pathname.replace("/_search/", "");
    fetched.push(path);
    if (path === "quarry-search.json") return Response.json(fetched.filter((p) => p === path).length > 1 ? again : manifest);
    return files.has(path) ? new Response(files.get(path)) : new Response("", { status: 404 });
  });
  return fetched;
}

const MANIFEST = "http://127.0.0.1/_search/quarry-search.json";

test("the content hash is XXH32 with seeds 0 and 1, as libxxhash gives it", () => {
  for (const [input, hash] of [["", "02cc5d050b2cb792"], ["abc", "32d153ffaa3da8ff"],
    ["0123456789abcdef", "c2c45b69f31fe1cf"], ["The quick brown fox jumps over the lazy dog!", "ad1ae39049f17e3b"]]) {
    assert.equal(contentHash(bytes(input)), hash, input);
  }
});

test("a bundle is searched and ranked alike however its shards and prefixes are cut", async (t) => {
  const rows = [
    // [query, pages in order, corrected]
    ["configuration", [1, 0]],
    ["CONFIGURATION file", [1, 0]],
    ["cafe", [2]],
    ["café", [2]],
    ["strasse", [5]],
    ["instal", [0]],
    ["instal ", [0], "install"],
    ["ind*", [4]],
    ["index", [4]],
    ["indexing", [4]],
    ['"default value"', [1]],
    ['"value default"', []],
    ['"configuration file"', [1, 0]],
    ["dump", [4]],
    ["pg_dump", [4]],
    ["pg-dump", [4]],
    ["configuraton", [1, 0], "configuration"],
    ["setting configuraton", [1], "setting configuration"],
    ["zzzz", []],
    ["the", [2, 0, 1]],
  ];
  const layouts = [
    ["small shards", { keysPerShard: 3, prefixesPerPiece: 2, directorySize: 2, stems: STEMS }],
    ["one shard", { keysPerShard: 10000, directorySize: 100, stems: STEMS }],
    ["host-decoded pieces", { keysPerShard: 5, stems: STEMS, plain: true }],
  ];
  for (const [layout, options] of layouts) {
    const { files, manifest } = writeBundle(SITE, options);
    serveBundle(t, files, manifest);
    const search = await openSearch(MANIFEST);
    for (const [query, pages, corrected = null] of rows) {
      const found = await search.search(query, { typing: true });
      assert.deepEqual(found.pages, pages, `${layout}: ${query}`);
      assert.equal(found.corrected, corrected, `${layout}: ${query}`);
    }
    t.mock.restoreAll();
  }
});

test("results show the title as written, a marked excerpt, matching headings and the path", async (t) => {
  const { files, manifest } = writeBundle(SITE, { keysPerShard: 3, stems: STEMS });
  const fetched = serveBundle(t, files, manifest);
  const search = await openSearch(MANIFEST);
  const show = (segments) => segments.map((s) => (s.mark ? `[${s.text}]` : s.text)).join("");
  const found = await search.search("install debian");
  const [listed] = await search.listItems(found, 0, 1);
  assert.deepEqual([show(listed.title), listed.path, listed.excerpt, listed.headings], ["Installing Quarry", "docs/install.html", null, []]);
  assert.ok(!fetched.some((p) => p.startsWith("quarry-bundle/f-")), "a list without its details needs no fragment");
  const [item] = await search.items(found, 0, 1);
  assert.equal(item.url, "http://127.0.0.1/docs/install.html");
  assert.equal(show(item.title), "Installing Quarry");
  assert.equal(show(item.excerpt.segments), "How to [install] Quarry on [Debian]. Run the installer and check the configuration file.");
  assert.deepEqual(item.headings.map((h) => [h.url, show(h.text)]),
    [["http://127.0.0.1/docs/install.html#debian", "[Install] on [Debian]"]]);
  // A heading that only repeats the result's title is not shown again below it.
  const [configuration] = await search.items(await search.search("configuration"), 0, 1);
  assert.deepEqual([configuration.path, configuration.headings], ["docs/configuration.html", []]);
  const [cafe] = await search.items(await search.search("cafe"), 0, 1);
  assert.deepEqual([show(cafe.title), cafe.path], ["[Café] au lait", "blog/café.html"]);
  // Only the pieces the query needed: no position piece without a phrase.
  assert.ok(!fetched.some((p) => p.startsWith("quarry-bundle/p-")), fetched.join(" "));
});

test("while typing, a prefix needing a prefix piece fetches nothing until the search may wait", async (t) => {
  const { files, manifest } = writeBundle(SITE, { keysPerShard: 3 });
  const fetched = serveBundle(t, files, manifest);
  const search = await openSearch(MANIFEST);
  const prefixPieces = () => fetched.filter((p) => p.startsWith("quarry-bundle/x-")).length;
  const newer = new Error("newer");
  await assert.rejects(search.search("in", { typing: true, waitForPrefix: () => Promise.reject(newer) }), newer);
  assert.deepEqual(fetched.filter((p) => /^quarry-bundle\/[sx]-/.test(p)), [], "nor the key piece it falls in");
  let waits = 0;
  const waitForPrefix = async () => void ++waits;
  const found = await search.search("in", { typing: true, waitForPrefix });
  assert.deepEqual([found.pages.length > 1, prefixPieces(), waits], [true, 1, 1]);
  assert.deepEqual((await search.search("in", { typing: true, waitForPrefix })).pages, found.pages);
  assert.equal(waits, 1, "a piece at hand is not waited for");
});

test("an excerpt is the passage holding the most query terms", () => {
  const text = Array.from({ length: 100 }, (_, i) => `w${i}`).join(" ").replace("w20", "alpha").replace("w70", "alpha beta");
  const match = (w) => ["alpha", "beta"].indexOf(w);
  const { segments, before, after } = excerpt(text, match, 10);
  assert.deepEqual([segments.map((s) => s.text).join(""), before, after], ["w65 w66 w67 w68 w69 alpha beta w71 w72 w73", true, true]);
});

test("a missing or damaged piece: the index changed, or is damaged", async (t) => {
  const { files, manifest } = writeBundle(SITE, { keysPerShard: 3 });
  const other = writeBundle(SITE.slice(0, 2), { keysPerShard: 3 }).manifest;
  const keys = [...files.keys()].filter((n) => n.startsWith("quarry-bundle/s-"));
  const rows = [
    ["missing, new manifest", (f) => keys.forEach((k) => f.delete(k)), other, "changed"],
    ["missing, same manifest", (f) => keys.forEach((k) => f.delete(k)), manifest, "damaged"],
    ["bad hash", (f) => keys.forEach((k) => f.set(k, gzipSync(Buffer.from("QSBs\x01\x00\x00")))), manifest, "damaged"],
  ];
  for (const [what, damage, again, code] of rows) {
    const damaged = new Map(files);
    damage(damaged);
    serveBundle(t, damaged, manifest, { again });
    const search = await openSearch(MANIFEST);
    await assert.rejects(search.search("configuration"), (e) => e.code === code, what);
    t.mock.restoreAll();
  }
  // Missing fragments of a list: one look at the manifest, not one per result.
  const fragments = new Map([...files].filter(([name]) => !name.startsWith("quarry-bundle/f-")));
  const fetched = serveBundle(t, fragments, manifest, { again: other });
  const search = await openSearch(MANIFEST);
  await assert.rejects(search.items(await search.search("the"), 0, 10), (e) => e.code === "changed");
  assert.equal(fetched.filter((p) => p === "quarry-search.json").length, 2);
});

test("every language file holds every text of the box, with the same placeholders", () => {
  const placeholders = (text) => JSON.stringify(Object.values(typeof text === "object" ? text : { text })
    .map((t) => t.match(/\{\w+\}/g)?.sort() ?? []).at(-1));
  for (const lang of LANGUAGES) {
    const json = JSON.parse(readFileSync(new URL(`../../web/quarry-search-lang-${lang}.json`, import.meta.url), "utf8"));
    const { "//": mark, ...texts } = json;
    assert.match(mark, /quarry web: generated file/, lang);
    assert.deepEqual(Object.keys(texts), Object.keys(TEXTS), lang);
    for (const [name, text] of Object.entries(texts)) {
      assert.equal(placeholders(text), placeholders(TEXTS[name]), `${lang}: ${name}`);
      if (typeof text === "object") assert.ok(text.other, `${lang}: ${name} has no "other" form`);
    }
    if (lang === "en") assert.deepEqual(texts, { ...TEXTS });
    assert.equal(texts.label, LABELS[lang], `${lang}: the entry module's label`);
  }
});

test("typos are measured in optimal-string-alignment edits on code points", async (t) => {
  const cps = (s) => Array.from(s, (c) => c.codePointAt(0));
  for (const [a, b, limit, want] of [
    ["configuraton", "configuration", 2, 1], ["setitng", "setting", 1, 1], ["ca", "abc", 2, 3],
    ["kitten", "sitting", 2, 3], ["straße", "strase", 1, 1], ["東京都", "東京", 1, 1], ["abc", "abc", 1, 0],
  ]) assert.equal(editDistance(cps(a), cps(b), limit), want, `${a} ${b}`);
  // Fewest edits, then most pages, then byte order; words of 8 or more code points get two.
  const pages = [
    page("a.html", "a", "cart cart card"), page("b.html", "b", "card care"), page("c.html", "c", "cars"),
    page("d.html", "d", "documentation"),
  ];
  const { files, manifest } = writeBundle(pages, { keysPerShard: 100 });
  serveBundle(t, files, manifest);
  const search = await openSearch(MANIFEST);
  for (const [query, corrected] of [["carx", "card"], ["cary", "card"], ["crat", "cart"],
    ["documnetaton", "documentation"], ["docmentaton", "documentation"], ["xyz", null], ["ab", null]]) {
    assert.equal((await search.search(query)).corrected, corrected, query);
  }
});

// The sample site's bundle as quarry-cli web writes it, when the quarry-cli at hand writes bundles.
const bundleCli = (() => {
  try {
    return cli(["web", "--help"], repo).stdout.toString().includes("--no-bundle");
  } catch {
    return false;
  }
})();

// Serves the bundle that quarry-cli web writes for a copy of the site tests/data/NAME; returns the
// search opened on it.
async function cliBundle(t, name) {
  const work = scratch("ranking");
  t.after(() => rmSync(work, { recursive: true, force: true }));
  cpSync(new URL(name, data).pathname, join(work, "site"), { recursive: true, verbatimSymlinks: true });
  const web = cli(["web", "-q", "--site", "site", "--db", "db"], work);
  assert.equal(web.status, 0, web.stderr);
  const folder = join(work, "site/_search");
  t.mock.method(globalThis, "fetch", async (url) => {
    const path = join(folder, decodeURIComponent(new URL(url).pathname.replace("/_search/", "")));
    return existsSync(path) ? new Response(readFileSync(path)) : new Response("", { status: 404 });
  });
  return openSearch(MANIFEST);
}

const rowsOf = (name) => readFileSync(new URL(name, data), "utf8").split("\n")
  .filter((line) => line !== "" && !line.startsWith("#")).map((line) => line.split("\t"));

test("the sample site's bundle ranks as the shared table says", { skip: !bundleCli && "quarry-cli writes no bundle" }, async (t) => {
  const search = await cliBundle(t, "site");
  const rows = rowsOf("ranking-cases.tsv");
  assert.ok(rows.length > 15);
  for (const [query, pages] of rows) {
    assert.deepEqual((await search.search(query)).pages, pages.split(" ").filter(Boolean).map(Number), query);
  }
});

test("the multilingual site's bundle answers as the shared table says", { skip: !bundleCli && "quarry-cli writes no bundle" }, async (t) => {
  const search = await cliBundle(t, "multilingual");
  for (const [query, urls] of rowsOf("multilingual-cases.tsv")) {
    const found = await search.search(query);
    const items = await search.items(found, 0, found.pages.length);
    assert.deepEqual(items.map((item) => decodeURI(item.url.replace("http://127.0.0.1/", ""))), urls.split(" ").filter(Boolean), query);
  }
});
