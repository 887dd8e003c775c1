// quarry web: generated file; quarry-cli web replaces it
//
// The three index files that Quarry writes (doc/index-format.md), read in the browser: decoding,
// links made from stored paths, and search: the pages `quarry-cli search` finds, ordered by the
// query's words in their titles and paths (doc/ranking.md, "Without a bundle").
//   const index = await open(baseUrl);   // baseUrl: folder of the three files
//   index.search("install guide");       // [{ page, path, url, title }]

import { ENTITIES } from "./quarry-search-entities.js";
import { foldCodePoint, foldInto, queryTerms } from "./quarry-search-query.js";
import { displayText, latin1, SearchError } from "./quarry-search-text.js";

/**
 * The records of a word file (see decodeWords).
 * @typedef {{ bytes: Uint8Array, length: number, wordStart: Int32Array, wordLength: Int32Array,
 *   pageStart: Int32Array, pageCount: Int32Array, minPage: number, maxPage: number,
 *   damaged: boolean }} WordTable
 * @typedef {{ siteRoot?: string, strip?: string[], windows?: boolean }} LinkOptions
 * @typedef {{ page: number, path: string, url: string | null, title: string }} LegacyResult
 * @typedef {import("./quarry-search-query.js").Term} Term
 */

export const WORD_FILE = "qrywDb.dat";
export const PAGE_FILE = "qryfDb.dat";
export const TITLE_FILE = "qryiDb.dat";
export const SETTINGS_FILE = "quarry-search.json";

const HEADER_SIZE = 32;
const MAGIC = [0x51, 0x52, 0x30, 0x31]; // "QR01"
const utf8 = new TextDecoder("utf-8", { fatal: true });

// ---------------------------------------------------------------------------------------------
// Decoding the three files (doc/index-format.md, "Reading damaged files")

/**
 * The 32-byte header; missing bytes of a short file read as zero.
 * @param {Uint8Array} bytes
 * @returns {{ magic: boolean, count: number, total: number }}
 */
export function readHeader(bytes) {
  const head = new Uint8Array(HEADER_SIZE);
  head.set(bytes.subarray(0, HEADER_SIZE));
  const view = new DataView(head.buffer);
  return {
    magic: MAGIC.every((b, i) => head[i] === b),
    count: view.getInt32(4, true),
    total: view.getInt32(8, true),
  };
}

/**
 * The strings of a page or title file as byte views, split at each NUL of the payload.
 * @param {Uint8Array} bytes
 * @returns {Uint8Array[]}
 */
export function decodeTexts(bytes) {
  const { count, total } = readHeader(bytes);
  if (count <= 0 || total < HEADER_SIZE) return [];
  const end = Math.min(bytes.length, total);
  const texts = [];
  let start = HEADER_SIZE;
  while (start < end) {
    let nul = bytes.indexOf(0, start);
    if (nul < 0 || nul >= end) nul = end;
    texts.push(bytes.subarray(start, nul));
    start = nul + 1;
  }
  return texts;
}

// The strings of a page or title file as display text. Decodes the payload in one go when it is
// valid UTF-8 (then every string is), string by string otherwise.
function decodeDisplayTexts(bytes) {
  const texts = decodeTexts(bytes);
  if (texts.length === 0) return { raw: texts, text: [] };
  const first = texts[0].byteOffset - bytes.byteOffset;
  const last = texts[texts.length - 1];
  try {
    const whole = utf8.decode(bytes.subarray(first, last.byteOffset - bytes.byteOffset + last.length));
    const text = whole.split("\0");
    if (text.length === texts.length) return { raw: texts, text };
  } catch {
    // Not valid UTF-8 as a whole: decided string by string below.
  }
  return { raw: texts, text: texts.map(displayText) };
}

// The records of a word file, as offsets into its bytes (no copies). For record r:
// word bytes [wordStart[r], wordStart[r] + wordLength[r]), pageCount[r] little-endian int32 page
// numbers from pageStart[r] (duplicates included; see pagesOf). minPage and maxPage bound every
// page number; `damaged` is set when a record was skipped or reading ended early.
/**
 * @param {Uint8Array} bytes
 * @returns {WordTable}
 */
export function decodeWords(bytes) {
  const { count } = readHeader(bytes);
  const empty = new Int32Array(0);
  const table = { bytes, length: 0, wordStart: empty, wordLength: empty, pageStart: empty,
    pageCount: empty, minPage: 0, maxPage: -1, damaged: false };
  if (count <= 0) return table;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const size = bytes.length;
  // A record that is kept takes at least 13 bytes: that bounds the tables by the file's length.
  const capacity = Math.max(0, Math.min(count, Math.floor((size - HEADER_SIZE) / 13)));
  const wordStart = new Int32Array(capacity);
  const wordLength = new Int32Array(capacity);
  const pageStart = new Int32Array(capacity);
  const pageCount = new Int32Array(capacity);
  let minPage = 0x7fffffff;
  let maxPage = -0x80000000;
  let n = 0;
  let position = HEADER_SIZE;
  let read = 0;
  for (; read < count; ++read) {
    if (size - position < 4) break;
    const length = view.getUint32(position, true);
    const body = position + 4;
    if (size - body < length) break;
    position = body + length;
    let nul = body;
    while (nul < position && bytes[nul] !== 0) ++nul;
    if (position - nul < 5) {
      table.damaged = true;
      continue;
    }
    const claimed = view.getInt32(nul + 1, true);
    const fitting = (position - nul - 5) >>> 2;
    const pages = Math.min(claimed, fitting);
    if (claimed !== fitting) table.damaged = true;
    if (pages <= 0) continue;
    wordStart[n] = body;
    wordLength[n] = nul - body;
    pageStart[n] = nul + 5;
    pageCount[n] = pages;
    ++n;
    for (let at = nul + 5, stop = at + 4 * pages; at < stop; at += 4) {
      const page = view.getInt32(at, true);
      if (page < minPage) minPage = page;
      if (page > maxPage) maxPage = page;
    }
  }
  if (read < count) table.damaged = true;
  table.length = n;
  table.wordStart = wordStart.subarray(0, n);
  table.wordLength = wordLength.subarray(0, n);
  table.pageStart = pageStart.subarray(0, n);
  table.pageCount = pageCount.subarray(0, n);
  if (n > 0) {
    table.minPage = minPage;
    table.maxPage = maxPage;
  }
  return table;
}

/**
 * The page numbers of record r, each once, in the order they are stored.
 * @param {WordTable} table
 * @param {number} r
 * @returns {number[]}
 */
export function pagesOf(table, r) {
  const view = new DataView(table.bytes.buffer, table.bytes.byteOffset, table.bytes.byteLength);
  const seen = new Set();
  for (let i = 0; i < table.pageCount[r]; ++i) seen.add(view.getInt32(table.pageStart[r] + 4 * i, true));
  return [...seen];
}

// ---------------------------------------------------------------------------------------------
// Links: a stored path to the URL of its page

function percentDecode(text) {
  return text.replace(/%([0-9A-Fa-f]{2})/g, (_, hex) => String.fromCharCode(parseInt(hex, 16)));
}

const RESERVED = /[^A-Za-z0-9\-._~/]/;
const HEX = Array.from({ length: 256 }, (_, b) => "%" + b.toString(16).toUpperCase().padStart(2, "0"));

// Every byte except unreserved characters and `/` as %XX.
function percentEncode(byteText) {
  if (!RESERVED.test(byteText)) return byteText;
  return byteText.replace(/[^A-Za-z0-9\-._~/]/g, (c) => HEX[c.charCodeAt(0)]);
}

const UNNORMAL = /\/\/|(^|\/)\.\.?(\/|$)/;

// `./` components dropped, `//` collapsed, `\` as `/` for an index made on Windows; null when the
// path holds a `..` component.
function normalisePath(byteText, windows) {
  const text = windows ? byteText.replace(/\\/g, "/") : byteText;
  if (!UNNORMAL.test(text)) return text.endsWith("/") ? text.slice(0, -1) || "/" : text;
  const parts = text.split("/").filter((part) => part !== "" && part !== ".");
  if (parts.includes("..")) return null;
  return (text.startsWith("/") ? "/" : "") + parts.join("/");
}

// Was the index made on Windows? Its paths then start with a drive letter or `\\`.
function madeOnWindows(paths) {
  return paths.some((p) => {
    const head = latin1(p.subarray(0, 3));
    return /^[A-Za-z]:[\\/]/.test(head) || head.startsWith("\\\\");
  });
}

// Maps stored paths to links. Options: siteRoot (absolute URL of the site's root folder),
// strip (percent-encoded prefixes, each ending in `/`), windows (treat `\` as `/`).
export class LinkMaker {
  /** @param {LinkOptions} options */
  constructor({ siteRoot, strip = [], windows = false }) {
    this.siteRoot = siteRoot ? new URL(siteRoot) : null;
    if (this.siteRoot && !/^https?:$/.test(this.siteRoot.protocol)) this.siteRoot = null;
    if (this.siteRoot) {
      this.siteRoot.search = "";
      this.siteRoot.hash = "";
      if (!this.siteRoot.pathname.endsWith("/")) this.siteRoot.pathname += "/";
    }
    this.windows = windows;
    this.strip = strip.map((prefix) => {
      const path = normalisePath(percentDecode(String(prefix)), windows) ?? "\0";
      return path === "" || path.endsWith("/") ? path : path + "/";
    });
  }

  /**
   * The URL of the page stored under path (bytes), or null when it gets no link.
   * @param {Uint8Array} pathBytes
   * @returns {string | null}
   */
  linkFor(pathBytes) {
    return this.place(pathBytes)?.url ?? null;
  }

  // { url, rest }: the link of the page stored under path (bytes) and the part of its path
  // below the site root (bytes as a string of code units 0-255); null when it gets no link.
  /**
   * @param {Uint8Array} pathBytes
   * @returns {{ url: string, rest: string } | null}
   */
  place(pathBytes) {
    if (!this.siteRoot) return null;
    const path = normalisePath(latin1(pathBytes), this.windows);
    if (path === null || path === "" || path === "/") return null;
    let rest = path;
    if (this.strip.length > 0) {
      const prefix = this.strip.find((p) => (p === "" ? !path.startsWith("/") : path.startsWith(p)));
      if (prefix === undefined) return null;
      rest = path.slice(prefix.length);
      if (rest === "") return null;
    }
    // The same as new URL(encoded, siteRoot): encoded holds only unreserved bytes, `/` and %XX
    // (never %2E), no `.` or `..` component and no `//`, so nothing in it is resolved further.
    const encoded = percentEncode(rest);
    const url = encoded.startsWith("/") ? this.siteRoot.origin + encoded : this.siteRoot.href + encoded;
    return { url, rest };
  }
}

// ---------------------------------------------------------------------------------------------
// The index in memory

const FNV_OFFSET = 0x811c9dc5;
const FNV_PRIME = 0x01000193;

function hashBytes(bytes, start, end) {
  let h = FNV_OFFSET;
  for (let i = start; i < end; ++i) h = Math.imul(h ^ bytes[i], FNV_PRIME);
  return h >>> 0;
}

// The decoded index and its search. Build it with buildIndex() or open().
export class SearchIndex {
  constructor(table, paths, titles, links, problems) {
    this.table = table;
    this.pathBytes = paths.raw;
    this.paths = paths.text;
    this.titles = titles.text;
    this.links = links;
    this.places = new Array(paths.raw.length);
    this.problems = problems;
    this.buildKeys();
  }

  get pages() {
    return this.paths.length;
  }

  get words() {
    return this.table.length;
  }

  // The folded key of every word, all in one buffer (keys, keyStart, keyLength), and a hash
  // table over them: open addressing, record number + 1 per slot.
  buildKeys() {
    const t = this.table;
    const n = t.length;
    const bytes = t.bytes;
    let total = 0;
    for (let r = 0; r < n; ++r) total += t.wordLength[r];
    let keys = new Uint8Array(total + 1024);
    const keyStart = new Int32Array(n);
    const keyLength = new Int32Array(n);
    let size = 2;
    while (size < 2 * n) size <<= 1;
    const slots = new Int32Array(size);
    const mask = size - 1;
    let out = 0;
    for (let r = 0; r < n; ++r) {
      const start = t.wordStart[r];
      const end = start + t.wordLength[r];
      if (keys.length - out < 2 * (end - start)) {
        const grown = new Uint8Array(2 * keys.length + 2 * (end - start));
        grown.set(keys.subarray(0, out));
        keys = grown;
      }
      let at = out;
      let h = FNV_OFFSET;
      for (let i = start; i < end; ++i) {
        const b = bytes[i];
        if (b >= 0x80 || (b >= 0x41 && b <= 0x5a)) {
          at = foldInto(bytes, start, end, keys, out);
          h = hashBytes(keys, out, at);
          break;
        }
        keys[at++] = b;
        h = Math.imul(h ^ b, FNV_PRIME);
      }
      keyStart[r] = out;
      keyLength[r] = at - out;
      out = at;
      let slot = (h >>> 0) & mask;
      while (slots[slot] !== 0) slot = (slot + 1) & mask;
      slots[slot] = r + 1;
    }
    this.keys = keys;
    this.keyStart = keyStart;
    this.keyLength = keyLength;
    this.slots = slots;
  }

  // The records whose folded word equals key (bytes).
  exact(key) {
    const found = [];
    const mask = this.slots.length - 1;
    let slot = hashBytes(key, 0, key.length) & mask;
    for (let r; (r = this.slots[slot]) !== 0; slot = (slot + 1) & mask) {
      if (this.keyLength[r - 1] === key.length && this.startsWith(r - 1, key)) found.push(r - 1);
    }
    return found;
  }

  // The records whose folded word begins with key (bytes).
  prefixed(key) {
    const found = [];
    const { keys, keyStart, keyLength } = this;
    const length = key.length;
    const first = key[0];
    next: for (let r = 0, n = this.table.length; r < n; ++r) {
      if (keyLength[r] < length) continue;
      const start = keyStart[r];
      if (keys[start] !== first) continue;
      for (let i = 1; i < length; ++i) if (keys[start + i] !== key[i]) continue next;
      found.push(r);
    }
    return found;
  }

  startsWith(r, key) {
    const keys = this.keys;
    const start = this.keyStart[r];
    for (let i = 0; i < key.length; ++i) if (keys[start + i] !== key[i]) return false;
    return true;
  }

  // The page numbers (ascending) of the pages that hold every term; numbers outside the page
  // file are left out. The term with the fewest page numbers goes first; each later one only
  // keeps the pages still in the running and stops once it has found them all.
  pagesFor(terms) {
    if (terms.length === 0) return [];
    const t = this.table;
    const matched = [];
    for (const term of terms) {
      const records = term.prefix ? this.prefixed(term.key) : this.exact(term.key);
      if (records.length === 0) return [];
      let cost = 0;
      for (const r of records) cost += t.pageCount[r];
      matched.push({ records, cost });
    }
    matched.sort((a, b) => a.cost - b.cost);
    const pages = this.pages;
    const hits = terms.length < 255 ? new Uint8Array(pages) : new Uint32Array(pages);
    const view = new DataView(t.bytes.buffer, t.bytes.byteOffset, t.bytes.byteLength);
    let running = pages;
    for (let k = 0; k < matched.length && running > 0; ++k) {
      let kept = 0;
      scan: for (const r of matched[k].records) {
        for (let at = t.pageStart[r], stop = at + 4 * t.pageCount[r]; at < stop; at += 4) {
          const page = view.getInt32(at, true);
          if (page >= 0 && page < pages && hits[page] === k) {
            hits[page] = k + 1;
            if (++kept === running) break scan;
          }
        }
      }
      running = kept;
    }
    const found = [];
    if (running === 0) return found;
    for (let page = 0; page < pages; ++page) if (hits[page] === matched.length) found.push(page);
    return found;
  }

  // { url, rest } of page number page (see LinkMaker.place), or null for no link.
  placeOf(page) {
    let place = this.places[page];
    if (place === undefined) {
      place = this.links ? this.links.place(this.pathBytes[page]) : null;
      this.places[page] = place;
    }
    return place;
  }

  // The link of page number page, or null.
  urlOf(page) {
    return this.placeOf(page)?.url ?? null;
  }

  // The path to show for page number page: the part below the site root when it has a link.
  shownPath(page) {
    const place = this.placeOf(page);
    if (!place) return this.paths[page];
    return displayText(Uint8Array.from(place.rest, (c) => c.charCodeAt(0)));
  }

  /**
   * The result of page number page; its title as a reader sees it (character references
   * decoded, white space collapsed), "" when there is none.
   * @param {number} page
   * @returns {LegacyResult}
   */
  result(page) {
    return { page, path: this.paths[page], url: this.urlOf(page), title: readableTitle(this.titles[page] ?? "") };
  }

  /**
   * pages (numbers) ordered as ranking.md says for the three files: by how many of the terms
   * occur in the title (more first), then how many in the path, then by page number.
   * @param {number[]} pages
   * @param {Term[]} terms
   * @returns {number[]}
   */
  rank(pages, terms) {
    const count = (text) => {
      const words = wordsOf(text);
      let n = 0;
      for (const term of terms) {
        if (term.prefix ? words.some((w) => w.startsWith(term.text)) : words.includes(term.text)) ++n;
      }
      return n;
    };
    const order = pages.map((page) => ({
      page, title: count(readableTitle(this.titles[page] ?? "")), path: count(this.shownPath(page)),
    }));
    order.sort((a, b) => b.title - a.title || b.path - a.path || a.page - b.page);
    return order.map((entry) => entry.page);
  }

  /**
   * The terms of query.
   * @param {string} query
   */
  termsOf(query) {
    return queryTerms(query);
  }

  /**
   * The pages that hold every word of query, ranked (see rank), as results.
   * @param {string} query
   * @returns {LegacyResult[]}
   */
  search(query) {
    const terms = queryTerms(query);
    return this.rank(this.pagesFor(terms), terms).map((page) => this.result(page));
  }
}

/**
 * The function that tells which of terms a word of a title or path matches (by its simple
 * fold), or -1.
 * @param {Term[]} terms
 * @returns {(word: string) => number}
 */
export function termMatcher(terms) {
  return (word) => {
    let folded = "";
    for (const ch of word) folded += String.fromCodePoint(foldCodePoint(ch.codePointAt(0)));
    return terms.findIndex((t) => (t.prefix ? folded.startsWith(t.text) : folded === t.text));
  };
}

const REFERENCE = /&(?:#([0-9]{1,7})|#[xX]([0-9a-fA-F]{1,6})|([A-Za-z][A-Za-z0-9]{0,9}));/g;

/**
 * text with its character references decoded: numeric ones and the HTML 4.01 names; references
 * to no character, or to a control or surrogate code point, stay as written.
 * @param {string} text
 * @returns {string}
 */
export function decodeReferences(text) {
  if (!text.includes("&")) return text;
  return text.replace(REFERENCE, (whole, decimal, hex, name) => {
    const cp = name ? ENTITIES.get(name) : parseInt(decimal ?? hex, decimal ? 10 : 16);
    const control = cp < 0x20 || (cp >= 0x7f && cp < 0xa0);
    if (cp === undefined || control || (cp >= 0xd800 && cp < 0xe000) || cp > 0x10ffff) return whole;
    return String.fromCodePoint(cp);
  });
}

// A stored title as a reader sees it: references decoded, white space collapsed and trimmed.
function readableTitle(title) {
  return decodeReferences(title).replace(/[\s\u0085]+/gu, " ").trim();
}

// The words of a title or path for ranking, folded: its pieces between white space and `/`,
// without what is not a letter, mark or number at their ends, and each run of letters, marks
// and numbers in them.
function wordsOf(text) {
  let folded = "";
  for (const ch of text) folded += String.fromCodePoint(foldCodePoint(ch.codePointAt(0)));
  const words = [];
  for (const piece of folded.split(/[\s/]+/u)) {
    const word = piece.replace(/^[^\p{L}\p{M}\p{N}]+|[^\p{L}\p{M}\p{N}]+$/gu, "");
    if (word) words.push(word);
  }
  return words.concat(folded.match(/[\p{L}\p{M}\p{N}]+/gu) ?? []);
}

// Do the three files disagree or look damaged? Lists the problems, none for a sound index.
function findProblems(files, table, paths, titles) {
  const problems = [];
  for (const [name, bytes] of files) {
    const { count, total } = readHeader(bytes);
    const empty = count === 0 && (total === 0 || total === HEADER_SIZE);
    if (!empty && total !== bytes.length) problems.push(`${name}: size differs from its header`);
  }
  if (table.damaged) problems.push(`${WORD_FILE}: damaged records`);
  if (titles.length !== paths.length) problems.push("page and title files differ in length");
  if (table.minPage < 0 || table.maxPage >= paths.length) {
    problems.push("page numbers beyond the page file");
  }
  return problems;
}

/**
 * Builds the index from the bytes of the three files. Options: siteRoot, strip (see LinkMaker).
 * Throws an Error with a message for the reader when a file is not an index file at all.
 * @param {Uint8Array} wordBytes
 * @param {Uint8Array} pageBytes
 * @param {Uint8Array} titleBytes
 * @param {LinkOptions} [options]
 * @returns {SearchIndex}
 */
export function buildIndex(wordBytes, pageBytes, titleBytes, options = {}) {
  /** @type {[string, Uint8Array][]} */
  const files = [[WORD_FILE, wordBytes], [PAGE_FILE, pageBytes], [TITLE_FILE, titleBytes]];
  for (const [name, bytes] of files) {
    if (bytes.length < HEADER_SIZE || !readHeader(bytes).magic) {
      throw new SearchError("notIndex", name);
    }
  }
  const table = decodeWords(wordBytes);
  const paths = decodeDisplayTexts(pageBytes);
  const titles = decodeDisplayTexts(titleBytes);
  const problems = findProblems(files, table, paths.raw, titles.raw);
  const windows = options.windows ?? madeOnWindows(paths.raw);
  const links = options.siteRoot ? new LinkMaker({ ...options, windows }) : null;
  return new SearchIndex(table, paths, titles, links, problems);
}

// ---------------------------------------------------------------------------------------------
// Fetching

const here = import.meta.url;

function folderUrl(url, base) {
  const folder = new URL(url, base);
  if (!folder.pathname.endsWith("/")) folder.pathname += "/";
  return folder;
}

async function fetchBytes(url, cache) {
  const name = decodeURIComponent(url.pathname.split("/").pop());
  let response;
  try {
    response = await fetch(url, { cache, credentials: "same-origin" });
  } catch {
    throw new SearchError("unloadable", `${name} (network error)`);
  }
  if (!response.ok) {
    throw new SearchError("unloadable", `${name} (HTTP ${response.status})`);
  }
  return new Uint8Array(await response.arrayBuffer());
}

async function fetchIndex(base, options, cache) {
  const [words, pages, titles] = await Promise.all(
    [WORD_FILE, PAGE_FILE, TITLE_FILE].map((name) => fetchBytes(new URL(name, base), cache)));
  mark("fetched");
  return buildIndex(words, pages, titles, options);
}

// Marks a step in the page's performance timeline (read by bench/search-page.mjs).
function mark(step) {
  globalThis.performance?.mark?.(`quarry-search:${step}`);
}

// Fetches and decodes the three files from the folder baseUrl (default: this module's folder).
// When the files disagree (as when fetched during a save), fetches them once more past the HTTP
// cache; what is still wrong then is listed in index.problems. Options: siteRoot (URL of the
// site's root) and strip (see LinkMaker); without a siteRoot they are taken from the settings
// file in baseUrl when there is one, else results get no links. Rejects with an Error whose
// message is meant for the reader.
/**
 * @param {string | URL} [baseUrl]
 * @param {LinkOptions} [options]
 * @returns {Promise<SearchIndex>}
 */
export async function open(baseUrl = new URL("./", here), options = {}) {
  const base = folderUrl(baseUrl, globalThis.location?.href ?? here);
  let given = options;
  if (!given.siteRoot) {
    given = await loadSettings(new URL(SETTINGS_FILE, base)).then(
      (found) => ({ strip: found.strip, ...options, siteRoot: found.siteRoot }), () => options);
  }
  const siteRoot = given.siteRoot ? new URL(given.siteRoot, base).href : undefined;
  const settings = { ...given, siteRoot };
  const index = await fetchIndex(base, settings, "default");
  if (index.problems.length === 0) return index;
  return fetchIndex(base, settings, "reload");
}

// Reads the settings file that `quarry-cli web` writes and returns { index, siteRoot, strip }
// with both URLs made absolute against the settings file's own URL.
/**
 * @param {string | URL} url
 * @returns {Promise<{ index: string, siteRoot: string, strip: string[] }>}
 */
export async function loadSettings(url) {
  const where = new URL(url, globalThis.location?.href ?? here);
  const name = decodeURIComponent(where.pathname.split("/").pop());
  let settings;
  try {
    const response = await fetch(where, { credentials: "same-origin" });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    settings = await response.json();
  } catch (error) {
    throw new SearchError("noSettings", `${name} (${error.message})`);
  }
  return readSettings(settings, where);
}

/**
 * The settings of a page that reads the three files (a settings file of version 1), with both
 * URLs made absolute against where, the settings file's URL.
 * @param {any} settings
 * @param {URL} where
 * @returns {{ index: string, siteRoot: string, strip: string[] }}
 */
export function readSettings(settings, where) {
  const name = decodeURIComponent(where.pathname.split("/").pop());
  const valid = settings && settings.generator === "quarry-cli web" && settings.version === 1 &&
    typeof settings.index === "string" && typeof settings.siteRoot === "string" &&
    Array.isArray(settings.strip) && settings.strip.every((s) => typeof s === "string");
  if (!valid) throw new SearchError("badSettings", name);
  return {
    index: folderUrl(settings.index, where).href,
    siteRoot: folderUrl(settings.siteRoot, where).href,
    strip: settings.strip,
  };
}

