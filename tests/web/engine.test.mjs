// Fast tests of the search page's engine (web/quarry-search.js) under `node --test`: decoding the
// sample site's index and damaged files, cleaning and folding query words, links, search, reload.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";
import {
  buildIndex, decodeTexts, decodeWords, displayText, foldBytes, LinkMaker, open, pagesOf,
  queryTerms, trimWord,
} from "../../web/quarry-search.js";

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
  assert.equal(paths.length, 10);
  assert.deepEqual([paths[0], paths[6], paths[9]],
    ["site/_hidden.html", "site/docs/guide.html", "site/index.html"]);
  assert.deepEqual([titles[0], titles[3], titles[6]],
    ["hidden page", "site/blog/index.htm", "  the guide  "]);
  const list = words(expected("qrywDb.dat"));
  const map = new Map(list);
  assert.deepEqual(map.get("the"), [2, 3, 4, 5, 6, 7, 8, 9]);
  assert.deepEqual(map.get("words"), [5, 9]);
  assert.ok(list.every(([, pages]) => pages.every((p) => p >= 0 && p < 10)));
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

test("a query becomes folded terms, prefixes marked by a trailing star", () => {
  const rows = [
    ["Install  GUIDE", ["install", "guide"], [false, false]],
    ["j* *  ** (Doc.*", ["j", "doc"], [true, true]],
    ["a . ПРИВЕТ я", ["привет"], [false]],
    ["", [], []],
  ];
  for (const [query, keys, prefixes] of rows) {
    const terms = queryTerms(query);
    assert.deepEqual(terms.map((t) => t.text), keys, query);
    assert.deepEqual(terms.map((t) => t.prefix), prefixes, query);
  }
});

test("stored paths become links below the site root, or none", () => {
  const root = "https://example.org/site/";
  const rows = [
    // [path, strip, expected URL or null]
    ["public/a b.html", ["public/"], "https://example.org/site/a%20b.html"],
    ["./public//docs/./x.html", ["public/"], "https://example.org/site/docs/x.html"],
    ["public/javascript:alert(1).html", ["public/"], "https://example.org/site/javascript%3Aalert%281%29.html"],
    ["public/<img src=x onerror=alert(1)>.html", ["public/"],
      "https://example.org/site/%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.html"],
    ["public/q?x#y%41.html", ["public/"], "https://example.org/site/q%3Fx%23y%2541.html"],
    ["public-old/a.html", ["public/"], null],
    ["public/../secret.html", ["public/"], null],
    ["/home/u/public/a.html", ["public/", "/home/u/public/"], "https://example.org/site/a.html"],
    ["/home/u/%C3%A9/a.html", ["/home/u/%C3%A9/"], null],
    ["/home/u/é/a.html", ["/home/u/%C3%A9/"], "https://example.org/site/a.html"],
    ["docs/é.html", [], "https://example.org/site/docs/%C3%A9.html"],
    ["/abs/a.html", [], "https://example.org/abs/a.html"],
    ["public/", ["public/"], null],
  ];
  for (const [path, strip, want] of rows) {
    const url = new LinkMaker({ siteRoot: root, strip }).linkFor(bytes(path));
    assert.equal(url, want, path);
    if (url) assert.equal(new URL(url).href, url, path); // as the URL parser writes it
  }
  assert.equal(new LinkMaker({ siteRoot: "javascript:alert(1)//" }).linkFor(bytes("a.html")), null);
  assert.equal(new LinkMaker({ siteRoot: root, strip: ["C%3A/Users/u/public/"], windows: true })
    .linkFor(bytes("C:\\Users\\u\\public\\docs\\a.html")), "https://example.org/site/docs/a.html");
  assert.equal(new LinkMaker({ siteRoot: root, strip: [] }).linkFor(Uint8Array.of(0x78, 0xe9)),
    "https://example.org/site/x%E9");
});

test("search answers as quarry-cli search does on the sample site", () => {
  const index = buildIndex(expected("qrywDb.dat"), expected("qryfDb.dat"), expected("qryiDb.dat"),
    { siteRoot: "http://127.0.0.1/", strip: ["site/"] });
  assert.deepEqual([index.pages, index.words, index.problems], [10, 100, []]);
  const rows = [
    ["the guide", [2, 6, 7, 8]], ["THE Guide.", [2, 6, 7, 8]], ["r*", [2, 4, 5, 7, 9]],
    ["guide nothere", []], ["a", []], ["*", []], ["text step", [6, 8]],
  ];
  for (const [query, pages] of rows) assert.deepEqual(index.search(query).map((r) => r.page), pages, query);
  assert.deepEqual(index.search("hidden")[0],
    { page: 0, path: "site/_hidden.html", url: "http://127.0.0.1/_hidden.html", title: "hidden page" });
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
  for (const name of ["search.html", "quarry-search.js", "quarry-search.css"]) {
    const body = readFileSync(new URL(`../../web/${name}`, import.meta.url), "utf8");
    assert.match(body.split("\n")[0], /quarry web: generated file/, name);
    if (name === "search.html") {
      assert.doesNotMatch(body, /<script(?![^>]*\ssrc=)|<style|\sstyle=|\son[a-z]+=/i, name);
    }
  }
});
