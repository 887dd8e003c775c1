// A small writer of the search bundle (doc/search-bundle.md, doc/ranking.md) for the page's tests:
// pages given as their word streams, titles, headings, URLs and texts become a manifest and its
// pieces, so that the reader can be tried on bundles of any shape (shards of a few keys, prefix
// pieces, stems) and on damaged ones. Test code: quarry-cli web writes the real bundles.
import { mkdirSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { gzipSync } from "node:zlib";
import { contentHash } from "../../web/quarry-search-bundle.js";
import { keyOf, runsOf } from "../../web/quarry-search-query.js";
import { trimWord } from "../../web/quarry-search-text.js";

const K1 = 1.2;
const B = 0.75;
const BT = 0.5;
const WT = 6;
const WH = 2.5;
const WU = 2;

const utf8 = (text) => Buffer.from(text, "utf8");
const cmp = (a, b) => Buffer.compare(utf8(a), utf8(b));
const lower = (w) => w.replace(/[A-Z]+/g, (c) => c.toLowerCase());
const trim = (w) => Buffer.from(trimWord(utf8(w))).toString("utf8");

// The terms of a stored word: the word and its runs of two code points or more.
export const termsOf = (word) => [...new Set([word, ...runsOf(word)])];

// Bytes: varints, byte strings, postings.
class Out {
  parts = [];
  varint(n) {
    const b = [];
    do {
      b.push((n % 128) | (n >= 128 ? 128 : 0));
      n = Math.floor(n / 128);
    } while (n > 0);
    this.parts.push(Buffer.from(b));
    return this;
  }
  raw(bytes) {
    this.parts.push(Buffer.from(bytes));
    return this;
  }
  text(t) {
    const b = utf8(t);
    return this.varint(b.length).raw(b);
  }
  body(out) {
    const b = out.bytes();
    return this.varint(b.length).raw(b);
  }
  postings(list, each) {
    this.varint(list.length);
    let last = 0;
    for (const [i, p] of list.entries()) {
      this.varint(i === 0 ? p.page : p.page - last);
      last = p.page;
      each(p);
    }
    return this;
  }
  bytes() {
    return Buffer.concat(this.parts);
  }
}

const manifestKey = (key) => [...utf8(key)].map((b) =>
  b < 0x21 || b > 0x7e || b === 0x25 ? "%" + b.toString(16).toUpperCase().padStart(2, "0") : String.fromCharCode(b)).join("");

/**
 * pages: [{ words, title, headings: [[anchor, text]], url, text }] (null: not in the bundle);
 * options: keysPerShard, prefixesPerPiece, directorySize, stems ({ key: stem }), plain (pieces
 * not compressed). Returns { manifest, files: Map(name -> Buffer) }, the pieces under quarry-bundle/.
 */
export function writeBundle(pages, { keysPerShard = 4, prefixesPerPiece = 3, directorySize = 4, stems = {}, plain = false } = {}) {
  const files = new Map();
  const store = (kind, content) => {
    const hash = contentHash(new Uint8Array(content));
    files.set(`quarry-bundle/${kind}-${hash}.gz`, plain ? content : gzipSync(content));
    return hash;
  };
  const entered = pages.filter(Boolean);
  const N = entered.length;
  const titleWords = (p) => p.title.split(/\s+/).map((w) => lower(trim(w))).filter(Boolean);
  const avg = (f) => Math.max(1, entered.reduce((n, p) => n + f(p), 0) / N);
  const avglen = avg((p) => p.words.length);
  const avgtlen = avg((p) => titleWords(p).length);

  // form -> page -> { count, fields, positions }
  const forms = new Map();
  const at = (form, page) => {
    if (!forms.has(form)) forms.set(form, new Map());
    const byPage = forms.get(form);
    if (!byPage.has(page)) byPage.set(page, { count: 0, fields: 0, positions: [] });
    return byPage.get(page);
  };
  pages.forEach((p, page) => {
    if (!p) return;
    p.words.forEach((w, position) => {
      for (const t of termsOf(w)) {
        const o = at(t, page);
        o.count++;
        o.positions.push(position);
      }
    });
    for (const t of titleWords(p).flatMap(termsOf)) at(t, page).fields |= 1;
    for (const [, h] of p.headings) for (const w of h.split(/\s+/)) for (const t of termsOf(lower(trim(w)))) if (t) at(t, page).fields |= 2;
    for (const run of runsOf(decodeURI(p.url).replace(/\.html?$/, ""))) at(lower(run), page).fields |= 4;
  });
  const impact = (form, page) => {
    const o = forms.get(form).get(page);
    const p = pages[page];
    const b = 1 - B + (B * p.words.length) / avglen;
    const bt = 1 - BT + (BT * titleWords(p).length) / avgtlen;
    const tf = (o.fields & 1 ? WT / bt : 0) + (o.fields & 2 ? WH : 0) + (o.fields & 4 ? WU : 0) + o.count / b;
    const df = forms.get(form).size;
    const idf = Math.log(1 + (N - df + 0.5) / (df + 0.5));
    return Math.max(1, Math.round(idf * tf * (K1 + 1) / (K1 + tf) * 256));
  };
  const keys = new Map();
  for (const form of forms.keys()) {
    const key = keyOf(form);
    if (!keys.has(key)) keys.set(key, []);
    keys.get(key).push(form);
  }
  const pagesOfKey = (key) => new Set(keys.get(key).flatMap((f) => [...forms.get(f).keys()])).size;
  const best = (formList) => {
    const m = new Map();
    for (const f of formList) for (const page of forms.get(f).keys()) m.set(page, Math.max(m.get(page) ?? 0, impact(f, page)));
    return [...m].sort((a, b) => a[0] - b[0]).map(([page, value]) => ({ page, value }));
  };
  const groups = new Map();
  for (const [key, stem] of Object.entries(stems)) if (keys.has(key)) groups.set(stem, [...(groups.get(stem) ?? []), key]);

  // Entries (text, kind) in order, cut into shards.
  const entries = [...[...keys.keys()].map((k) => [k, 0]), ...[...groups.keys()].map((s) => [s, 1])]
    .sort((a, b) => cmp(a[0], b[0]) || a[1] - b[1]);
  const shards = [];
  for (let i = 0; i < entries.length; i += keysPerShard) shards.push(entries.slice(i, i + keysPerShard));
  const first = shards.map((s, i) => (i === 0 ? "" : s[0][0]));
  const shardHashes = { keys: "", positions: "" };
  shards.forEach((shard, number) => {
    const piece = new Out().raw(utf8("QSBs")).varint(1).varint(number).varint(shard.length);
    const pos = new Out().raw(utf8("QSBp")).varint(1).varint(number).varint(shard.filter((e) => e[1] === 0).length);
    let previous = "";
    for (const [text, kind] of shard) {
      let shared = 0;
      const a = utf8(previous);
      const b = utf8(text);
      while (shared < a.length && shared < b.length && a[shared] === b[shared]) ++shared;
      piece.varint(kind).varint(shared).varint(b.length - shared).raw(b.subarray(shared));
      previous = text;
      const body = new Out();
      const positions = new Out();
      if (kind === 0) {
        body.varint(pagesOfKey(text)).varint(keys.get(text).length);
        for (const form of keys.get(text).sort(cmp)) {
          body.text(form === text ? "" : form);
          const list = [...forms.get(form)].sort((x, y) => x[0] - y[0]).map(([page, o]) => ({ page, o }));
          body.postings(list, ({ page, o }) => body.varint(o.count * 32 + o.fields).varint(impact(form, page)));
          for (const { o } of list) o.positions.forEach((p, i) => positions.varint(i === 0 ? p : p - o.positions[i - 1]));
        }
        const own = stems[text] !== undefined ? [stems[text]] : [];
        body.varint(own.length);
        for (const s of own) body.text(s);
        pos.body(positions);
      } else {
        body.varint(groups.get(text).length);
        for (const m of groups.get(text)) body.text(m);
        body.postings(best(groups.get(text).flatMap((k) => keys.get(k))), (p) => body.varint(p.value));
      }
      piece.body(body);
    }
    shardHashes.keys += store("s", piece.bytes());
    shardHashes.positions += store("p", pos.bytes());
  });

  // Prefixes whose keys may reach over more than one shard.
  const lastAtMost = (list, key) => list.reduce((found, f, i) => (cmp(f, key) <= 0 ? i : found), 0);
  const prefixes = new Map();
  for (const key of keys.keys()) {
    const cps = [...key];
    for (let n = 1; n <= cps.length; ++n) {
      const p = cps.slice(0, n).join("");
      const one = lastAtMost(first, p);
      const reach = first.reduce((found, f, i) => (cmp(f, p) <= 0 || f.startsWith(p) ? i : found), 0);
      if (one !== reach) prefixes.set(p, true);
    }
  }
  const prefixList = [...prefixes.keys()].sort(cmp);
  const prefixFirst = [];
  let prefixHashes = "";
  for (let i = 0; i < prefixList.length; i += prefixesPerPiece) {
    const chunk = prefixList.slice(i, i + prefixesPerPiece);
    prefixFirst.push(i === 0 ? "" : chunk[0]);
    const piece = new Out().raw(utf8("QSBx")).varint(1).varint(chunk.length);
    let previous = "";
    for (const p of chunk) {
      let shared = 0;
      const a = utf8(previous);
      const b = utf8(p);
      while (shared < a.length && shared < b.length && a[shared] === b[shared]) ++shared;
      piece.varint(shared).varint(b.length - shared).raw(b.subarray(shared));
      previous = p;
      const list = [...keys.keys()].filter((k) => k.startsWith(p))
        .sort((x, y) => pagesOfKey(y) - pagesOfKey(x) || cmp(x, y)).slice(0, 50);
      const body = new Out().varint(list.length);
      for (const k of list) body.text(k).varint(pagesOfKey(k));
      body.postings(best(list.flatMap((k) => keys.get(k))), (e) => body.varint(e.value));
      piece.body(body);
    }
    prefixHashes += store("x", piece.bytes());
  }

  let directoryHashes = "";
  for (let k = 0; k * directorySize < pages.length; ++k) {
    const list = pages.slice(k * directorySize, (k + 1) * directorySize).map((p) => {
      if (!p) return null;
      const fragment = { title: p.title, url: p.url, headings: p.headings, text: p.text };
      return [store("f", utf8(JSON.stringify(fragment))), p.title, p.url];
    });
    directoryHashes += store("d", utf8(JSON.stringify(list)));
  }
  const manifest = {
    generator: "quarry-cli web", version: 2, siteRoot: "../",
    bundle: {
      format: 1, folder: "quarry-bundle/", source: "0000000000000000", pages: pages.length, entered: N, lang: "en",
      shards: { first: first.map(manifestKey), ...shardHashes },
      prefixes: { first: prefixFirst.map(manifestKey), hashes: prefixHashes },
      directory: { size: directorySize, hashes: directoryHashes },
    },
  };
  return { manifest, files };
}

/**
 * A page for writeBundle from its text: the word stream cut at white space, trimmed and
 * ASCII-lowercased as the index stores words.
 */
export function page(url, title, text, headings = []) {
  const words = text.split(/\s+/).map((w) => lower(trim(w))).filter(Boolean);
  return { url, title, headings, text, words };
}

// A small site of six page numbers (3 is not in the bundle) for the reader's tests.
export function sampleSite() {
  return [
    page("docs/install.html", "Installing Quarry", "How to install Quarry on Debian. Run the installer and " +
      "check the configuration file.", [["debian", "Install on Debian"], ["", "Other systems"]]),
    page("docs/configuration.html", "Configuration", "The configuration file holds every setting. Each " +
      "setting has a default value.", [["top", "Configuration"], ["settings", "Settings reference"]]),
    page("blog/caf%C3%A9.html", "Café au lait", "A note about the Café near the office. Coffee and tea."),
    null,
    page("notes/indexes.html", "Notes", "Indexing builds indexes; an index holds words. pg_dump writes a dump."),
    page("stra%C3%9Fe.html", "Die Straße", "Die Straße ist lang. Strasse ohne Eszett."),
  ];
}

// Writes a bundle of pages into folder (the manifest and quarry-bundle/).
export function writeBundleFolder(folder, pages, options) {
  const { manifest, files } = writeBundle(pages, options);
  mkdirSync(join(folder, "quarry-bundle"), { recursive: true });
  for (const [name, bytes] of files) writeFileSync(join(folder, name), bytes);
  writeFileSync(join(folder, "quarry-search.json"), JSON.stringify(manifest));
  return { manifest, files };
}
