// quarry web: generated file; quarry-cli web replaces it
//
// Quarry site search: reads the three index files that Quarry writes (doc/index-format.md) in the
// browser and answers queries the way `quarry-cli search` does, and mounts a search box on every
// element marked `data-quarry-search`. One module, no dependencies, no build step.
//
// Engine (runs the same in Node and in the browser, on bytes):
//   const index = await open(baseUrl);   // baseUrl: folder of the three files
//   index.search("install guide");       // [{ page, path, url, title }] in page order
// Widget: <div data-quarry-search data-settings="…/quarry-search.json"></div> and this module.

export const WORD_FILE = "qrywDb.dat";
export const PAGE_FILE = "qryfDb.dat";
export const TITLE_FILE = "qryiDb.dat";
export const SETTINGS_FILE = "quarry-search.json";

const HEADER_SIZE = 32;
const MAX_WORD_BYTES = 511;
const MAGIC = [0x51, 0x52, 0x30, 0x31]; // "QR01"

// ---------------------------------------------------------------------------------------------
// Bytes to text

const utf8 = new TextDecoder("utf-8", { fatal: true });

// Latin-1 by code point (not TextDecoder's "latin1", which is windows-1252).
function latin1(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += 4096) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 4096));
  }
  return text;
}

// The text of a title or path for display: UTF-8 when the bytes are valid UTF-8, else Latin-1.
export function displayText(bytes) {
  try {
    return utf8.decode(bytes);
  } catch {
    return latin1(bytes);
  }
}

// ---------------------------------------------------------------------------------------------
// Decoding the three files (doc/index-format.md, "Reading damaged files")

// The 32-byte header; missing bytes of a short file read as zero.
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

// The strings of a page or title file as byte views, split at each NUL of the payload.
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

// The page numbers of record r, each once, in the order they are stored.
export function pagesOf(table, r) {
  const view = new DataView(table.bytes.buffer, table.bytes.byteOffset, table.bytes.byteLength);
  const seen = new Set();
  for (let i = 0; i < table.pageCount[r]; ++i) seen.add(view.getInt32(table.pageStart[r] + 4 * i, true));
  return [...seen];
}

// ---------------------------------------------------------------------------------------------
// Cleaning a query word: the indexer's trim rule, on bytes

const LETTER_MARK_NUMBER = /^[\p{L}\p{M}\p{N}]$/u;

// The code point of the well-formed UTF-8 sequence bytes[start, start + length), or -1.
function decodeSequence(bytes, start, length) {
  const b0 = bytes[start];
  let need;
  let cp;
  let low = 0x80;
  let high = 0xbf;
  if (b0 >= 0xc2 && b0 <= 0xdf) {
    need = 2;
    cp = b0 & 0x1f;
  } else if (b0 >= 0xe0 && b0 <= 0xef) {
    need = 3;
    cp = b0 & 0x0f;
    if (b0 === 0xe0) low = 0xa0;
    if (b0 === 0xed) high = 0x9f;
  } else if (b0 >= 0xf0 && b0 <= 0xf4) {
    need = 4;
    cp = b0 & 0x07;
    if (b0 === 0xf0) low = 0x90;
    if (b0 === 0xf4) high = 0x8f;
  } else {
    return -1;
  }
  if (need !== length) return -1;
  for (let i = 1; i < need; ++i) {
    const b = bytes[start + i];
    if (b < low || b > high) return -1;
    low = 0x80;
    high = 0xbf;
    cp = (cp << 6) | (b & 0x3f);
  }
  return cp;
}

// The length of the well-formed UTF-8 sequence that starts at bytes[start] within end, or 0.
function sequenceAt(bytes, start, end) {
  const b0 = bytes[start];
  const need = b0 < 0x80 ? 1 : b0 >= 0xf0 ? 4 : b0 >= 0xe0 ? 3 : 2;
  if (need === 1) return 1;
  if (start + need > end) return 0;
  return decodeSequence(bytes, start, need) >= 0 ? need : 0;
}

// The length of the well-formed UTF-8 sequence that ends at bytes[end - 1] from begin on, or 0.
function sequenceBefore(bytes, begin, end) {
  let lead = end - 1;
  while (lead > begin && end - lead < 4 && (bytes[lead] & 0xc0) === 0x80) --lead;
  const length = end - lead;
  return decodeSequence(bytes, lead, length) >= 0 ? length : 0;
}

function isLetterMarkNumber(cp) {
  return LETTER_MARK_NUMBER.test(String.fromCodePoint(cp));
}

function isAsciiBlank(b) {
  return b > 0 && b < 0x21;
}

// A byte 0x80-0xFF at the end is blank unless it ends a well-formed letter, mark or number.
function blankAtEnd(bytes, begin, end) {
  const b = bytes[end - 1];
  if (b < 0x80) return isAsciiBlank(b);
  const length = sequenceBefore(bytes, begin, end);
  return length === 0 || !isLetterMarkNumber(decodeSequence(bytes, end - length, length));
}

// A byte 0x80-0xFF at the start is blank unless it begins a well-formed letter, mark or number.
function blankAtStart(bytes, begin, end) {
  const b = bytes[begin];
  if (b < 0x80) return isAsciiBlank(b);
  const length = sequenceAt(bytes, begin, end);
  return length === 0 || !isLetterMarkNumber(decodeSequence(bytes, begin, length));
}

const OPENING = new Set([0x28, 0x5b, 0x7b]); // ( [ {
const CLOSING = new Set([0x29, 0x2a, 0x2c, 0x2e, 0x3a, 0x3b, 0x5d, 0x7d]); // ) * , . : ; ] }

// Is bytes[begin, end) one character: one byte, or one well-formed UTF-8 sequence?
function isOneCharacter(bytes, begin, end) {
  return end - begin === 1 || (end > begin && sequenceAt(bytes, begin, end) === end - begin);
}

// Trims one word (bytes) as the indexer does before it stores a word: at most 511 bytes, blanks
// off both ends, one opening bracket, the closing marks with the non-ASCII blanks among them,
// and a word of one character becomes empty unless `keepSingle` (prefix words).
export function trimWord(word, keepSingle = false) {
  let end = Math.min(word.length, MAX_WORD_BYTES);
  let begin = 0;
  while (end - begin > 1 && blankAtEnd(word, begin, end)) --end;
  while (begin < end && blankAtStart(word, begin, end)) ++begin;
  if (begin < end && OPENING.has(word[begin])) ++begin;
  while (end > begin &&
         (CLOSING.has(word[end - 1]) || (word[end - 1] >= 0x80 && blankAtEnd(word, begin, end)))) {
    --end;
  }
  if (!keepSingle && isOneCharacter(word, begin, end)) return word.subarray(0, 0);
  return word.subarray(begin, end);
}

// ---------------------------------------------------------------------------------------------
// The search fold: each code point to its simple lowercase mapping, no normalisation

const foldCache = new Map();

// The fold of one code point: the first code point of its toLowerCase(), which is the simple
// lowercase mapping (only U+0130 lowers to two code points, and its simple mapping is `i`).
export function foldCodePoint(cp) {
  if (cp < 0x80) return cp >= 0x41 && cp <= 0x5a ? cp + 0x20 : cp;
  let folded = foldCache.get(cp);
  if (folded === undefined) {
    folded = String.fromCodePoint(cp).toLowerCase().codePointAt(0);
    foldCache.set(cp, folded);
  }
  return folded;
}

// Writes the UTF-8 bytes of cp at out[at]; returns the index after them.
function encodeCodePoint(cp, out, at) {
  if (cp < 0x80) {
    out[at++] = cp;
  } else if (cp < 0x800) {
    out[at++] = 0xc0 | (cp >> 6);
    out[at++] = 0x80 | (cp & 0x3f);
  } else if (cp < 0x10000) {
    out[at++] = 0xe0 | (cp >> 12);
    out[at++] = 0x80 | ((cp >> 6) & 0x3f);
    out[at++] = 0x80 | (cp & 0x3f);
  } else {
    out[at++] = 0xf0 | (cp >> 18);
    out[at++] = 0x80 | ((cp >> 12) & 0x3f);
    out[at++] = 0x80 | ((cp >> 6) & 0x3f);
    out[at++] = 0x80 | (cp & 0x3f);
  }
  return at;
}

// Writes the fold of bytes[start, end) at out[at] (room for 2 * (end - start) bytes needed:
// a folded code point takes at most 3/2 of its bytes); returns the index after it.
function foldInto(bytes, start, end, out, at) {
  for (let i = start; i < end;) {
    const b = bytes[i];
    if (b < 0x80) {
      out[at++] = b >= 0x41 && b <= 0x5a ? b + 0x20 : b;
      ++i;
      continue;
    }
    const length = sequenceAt(bytes, i, end);
    if (length === 0) {
      out[at++] = b;
      ++i;
      continue;
    }
    const cp = decodeSequence(bytes, i, length);
    const folded = foldCodePoint(cp);
    if (folded === cp) {
      for (let k = 0; k < length; ++k) out[at++] = bytes[i + k];
    } else {
      at = encodeCodePoint(folded, out, at);
    }
    i += length;
  }
  return at;
}

// The fold of a word's bytes: every well-formed UTF-8 sequence folded; other bytes stay.
export function foldBytes(bytes, start = 0, end = bytes.length) {
  const out = new Uint8Array(2 * (end - start));
  return out.slice(0, foldInto(bytes, start, end, out, 0));
}

// ---------------------------------------------------------------------------------------------
// The query

const encoder = new TextEncoder();

// The words of a query: the pieces between runs of white space, none empty. White space is
// ASCII's and the Unicode spaces (U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000): where the indexer cuts a page's words.
export function queryWords(query) {
  return query.split(/\p{White_Space}+/u).filter((word) => word !== "");
}

// The terms of a query: its words (queryWords) as UTF-8 bytes, each trimmed and folded; a word
// ending in `*` is a prefix (the `*`s go, the single-character rule does not apply). Empty terms
// and a bare `*` are left out. Each term: { key: folded bytes, prefix, text: key as text }.
export function queryTerms(query) {
  const terms = [];
  for (const word of queryWords(query)) {
    let piece = encoder.encode(word);
    let stars = piece.length;
    while (stars > 0 && piece[stars - 1] === 0x2a) --stars;
    const prefix = stars < piece.length;
    piece = trimWord(piece.subarray(0, stars), prefix);
    if (piece.length === 0) continue;
    const key = foldBytes(piece);
    terms.push({ key, prefix, text: displayText(key) });
  }
  return terms;
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

  // The URL (a string) of the page stored under path (bytes), or null when it gets no link.
  linkFor(pathBytes) {
    return this.place(pathBytes)?.url ?? null;
  }

  // { url, rest }: the link of the page stored under path (bytes) and the part of its path
  // below the site root (bytes as a string of code units 0-255); null when it gets no link.
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

  // The result of page number page: { page, path, url, title } (title: "" when there is none).
  result(page) {
    return { page, path: this.paths[page], url: this.urlOf(page), title: this.titles[page] ?? "" };
  }

  // The pages that hold every word of query, in page-number order, as results.
  search(query) {
    return this.pagesFor(queryTerms(query)).map((page) => this.result(page));
  }
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

// Builds the index from the bytes of the three files. Options: siteRoot, strip (see LinkMaker).
// Throws an Error with a message for the reader when a file is not an index file at all.
export function buildIndex(wordBytes, pageBytes, titleBytes, options = {}) {
  const files = [[WORD_FILE, wordBytes], [PAGE_FILE, pageBytes], [TITLE_FILE, titleBytes]];
  for (const [name, bytes] of files) {
    if (bytes.length < HEADER_SIZE || !readHeader(bytes).magic) {
      throw new Error(`The search index is damaged: ${name} is not an index file.`);
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
    throw new Error(`The search index could not be loaded: ${name} (network error).`);
  }
  if (!response.ok) {
    throw new Error(`The search index could not be loaded: ${name} (HTTP ${response.status}).`);
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
export async function loadSettings(url) {
  const where = new URL(url, globalThis.location?.href ?? here);
  const name = decodeURIComponent(where.pathname.split("/").pop());
  let settings;
  try {
    const response = await fetch(where, { credentials: "same-origin" });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    settings = await response.json();
  } catch (error) {
    throw new Error(`The search settings could not be loaded: ${name} (${error.message}).`);
  }
  const valid = settings && settings.generator === "quarry-cli web" && settings.version === 1 &&
    typeof settings.index === "string" && typeof settings.siteRoot === "string" &&
    Array.isArray(settings.strip) && settings.strip.every((s) => typeof s === "string");
  if (!valid) throw new Error(`The search settings are not valid: ${name}.`);
  return {
    index: folderUrl(settings.index, where).href,
    siteRoot: folderUrl(settings.siteRoot, where).href,
    strip: settings.strip,
  };
}

// ---------------------------------------------------------------------------------------------
// The widget

const FIRST_RESULTS = 50;
const MORE_RESULTS = 100;
const DEBOUNCE_MS = 80;
let widgetCount = 0;
const opened = new Map(); // settings (JSON) -> promise of the index, shared by the widgets

function element(tag, attributes = {}, text) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// Appends text to parent with the query's words marked: whole words, or word starts for prefix
// terms, compared by their fold.
function appendMarked(parent, text, terms) {
  const folded = [];
  const offsets = [];
  let position = 0;
  for (const ch of text) {
    const f = String.fromCodePoint(foldCodePoint(ch.codePointAt(0)));
    offsets.push(position);
    folded.push(f);
    position += ch.length;
  }
  offsets.push(position);
  const foldedText = folded.join("");
  // Code point index of every UTF-16 index of foldedText (folding keeps the code point count).
  const start = [];
  for (let i = 0, at = 0; i < folded.length; at += folded[i].length, ++i) start[at] = i;
  start[foldedText.length] = folded.length;
  const isWordChar = (i) => i >= 0 && i < folded.length && LETTER_MARK_NUMBER.test(folded[i]);
  const marks = [];
  for (const term of terms) {
    for (let at = foldedText.indexOf(term.text); at >= 0; at = foldedText.indexOf(term.text, at + 1)) {
      const from = start[at];
      const to = start[at + term.text.length];
      if (from === undefined || to === undefined) continue;
      if (isWordChar(from - 1) || (!term.prefix && isWordChar(to))) continue;
      marks.push([from, to]);
    }
  }
  marks.sort((a, b) => a[0] - b[0] || b[1] - a[1]);
  let done = 0;
  for (const [from, to] of marks) {
    if (from < done) continue;
    if (from > done) parent.append(text.slice(offsets[done], offsets[from]));
    parent.append(element("mark", {}, text.slice(offsets[from], offsets[to])));
    done = to;
  }
  if (done < folded.length) parent.append(text.slice(offsets[done]));
}

class Widget {
  constructor(root) {
    this.root = root;
    this.id = `quarry-search-${++widgetCount}`;
    this.ownsHistory = widgetCount === 1;
    this.index = null;
    this.results = [];
    this.shown = 0;
    this.active = -1;
    this.timer = 0;
    this.lastQuery = null;
    this.build();
  }

  build() {
    const id = this.id;
    this.root.classList.add("quarry-search");
    this.form = element("form", { role: "search", class: "qs-form", action: "" });
    const label = element("label", { for: `${id}-input`, class: "qs-label" }, "Search this site");
    this.input = element("input", {
      type: "search", id: `${id}-input`, name: "q", class: "qs-input", autocomplete: "off",
      spellcheck: "false", role: "combobox", "aria-expanded": "false",
      "aria-controls": `${id}-results`, "aria-autocomplete": "list",
      "aria-describedby": `${id}-help`,
    });
    const help = element("p", { id: `${id}-help`, class: "qs-help" },
      "Pages holding every word are listed. End a word with * to find every word that begins " +
      "with it (instal*).");
    this.status = element("p", { class: "qs-status", role: "status", "aria-live": "polite" });
    this.notice = element("p", { class: "qs-notice", role: "alert", hidden: "" });
    this.list = element("ul", {
      id: `${id}-results`, class: "qs-results", role: "listbox", "aria-label": "Results",
    });
    this.more = element("button", { type: "button", class: "qs-more", hidden: "" });
    this.form.append(label, this.input, help);
    this.root.replaceChildren(this.form, this.status, this.notice, this.list, this.more);

    this.input.addEventListener("input", () => this.schedule());
    this.input.addEventListener("keydown", (event) => this.onKey(event));
    this.form.addEventListener("submit", (event) => {
      event.preventDefault();
      if (this.active >= 0) this.follow(this.active);
      else this.run(true);
    });
    this.more.addEventListener("click", () => {
      const first = this.shown;
      this.showMore();
      this.setActive(first);
      this.input.focus();
    });
    this.list.addEventListener("mousemove", (event) => {
      const option = event.target.closest?.("[role=option]");
      if (option) this.setActive(Number(option.dataset.index), false);
    });
    if (this.ownsHistory) {
      window.addEventListener("popstate", () => {
        this.input.value = this.queryFromAddress();
        this.run(false);
      });
    }
    this.input.value = this.queryFromAddress();
  }

  queryFromAddress() {
    return this.ownsHistory ? new URLSearchParams(location.search).get("q") ?? "" : "";
  }

  async load(settingsUrl) {
    this.setStatus("Loading the search index…");
    try {
      const settings = await loadSettings(settingsUrl);
      const key = JSON.stringify(settings);
      if (!opened.has(key)) opened.set(key, open(settings.index, settings));
      this.index = await opened.get(key);
      if (this.index.problems.length > 0) {
        this.showNotice("Some of the search index could not be read (it may be being updated): " +
          "some results may be missing. Try again in a moment.");
      }
      this.root.dataset.state = "ready";
      mark("ready");
      this.run(false);
    } catch (error) {
      this.setStatus("");
      this.showNotice(`Search is not available. ${error.message}`);
      this.input.setAttribute("aria-invalid", "true");
      this.root.dataset.state = "error";
    }
  }

  setStatus(text) {
    if (this.status.textContent !== text) this.status.textContent = text;
  }

  showNotice(text) {
    this.notice.textContent = text;
    this.notice.hidden = text === "";
  }

  schedule() {
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.run(false), DEBOUNCE_MS);
  }

  // Searches for the box's text; push adds an entry to the history (Enter), else it is replaced.
  run(push) {
    clearTimeout(this.timer);
    const query = this.input.value;
    if (this.ownsHistory) this.remember(query, push);
    if (!this.index) return;
    if (query === this.lastQuery) return;
    this.lastQuery = query;
    const terms = queryTerms(query);
    this.terms = terms;
    this.results = this.index.pagesFor(terms);
    this.list.replaceChildren();
    this.shown = 0;
    this.active = -1;
    this.input.removeAttribute("aria-activedescendant");
    this.showMore();
    this.input.setAttribute("aria-expanded", String(this.results.length > 0));
    const count = this.results.length;
    if (count > 0) mark("results");
    if (query.trim() === "") this.setStatus("");
    else if (terms.length === 0) this.setStatus("Nothing to search for: type a word of two letters or more.");
    else if (count === 0) this.setStatus("No pages found.");
    else this.setStatus(count === 1 ? "1 page found." : `${count.toLocaleString("en")} pages found.`);
  }

  remember(query, push) {
    const url = new URL(location.href);
    if (query === "") url.searchParams.delete("q");
    else url.searchParams.set("q", query);
    if (url.href === location.href) return;
    if (push) history.pushState(null, "", url);
    else history.replaceState(null, "", url);
  }

  showMore() {
    const end = Math.min(this.results.length, this.shown + (this.shown === 0 ? FIRST_RESULTS : MORE_RESULTS));
    const items = [];
    for (let i = this.shown; i < end; ++i) items.push(this.item(i));
    this.list.append(...items);
    this.shown = end;
    const left = this.results.length - end;
    this.more.hidden = left === 0;
    this.more.textContent = left === 0 ? "" :
      `Show ${Math.min(left, MORE_RESULTS)} more (${left.toLocaleString("en")} left)`;
  }

  item(i) {
    const result = this.index.result(this.results[i]);
    const li = element("li", {
      id: `${this.id}-r${i}`, role: "option", "aria-selected": "false", class: "qs-result",
      "data-index": String(i),
    });
    const title = element("span", { class: "qs-title" });
    appendMarked(title, result.title || result.path, this.terms);
    if (result.url) {
      const link = element("a", { href: result.url, class: "qs-link", tabindex: "-1" });
      link.append(title);
      li.append(link);
    } else {
      li.append(title);
      li.classList.add("qs-unlinked");
    }
    li.append(element("span", { class: "qs-path" }, this.index.shownPath(this.results[i])));
    return li;
  }

  setActive(i, scroll = true) {
    if (this.active >= 0) this.list.children[this.active]?.setAttribute("aria-selected", "false");
    this.active = i;
    if (i < 0) {
      this.input.removeAttribute("aria-activedescendant");
      return;
    }
    const option = this.list.children[i];
    option.setAttribute("aria-selected", "true");
    this.input.setAttribute("aria-activedescendant", option.id);
    if (scroll) option.scrollIntoView({ block: "nearest" });
  }

  follow(i) {
    const link = this.list.children[i]?.querySelector("a");
    if (link) link.click();
  }

  onKey(event) {
    if (event.isComposing) return;
    switch (event.key) {
      case "ArrowDown":
        if (this.active + 1 >= this.shown && this.shown < this.results.length) this.showMore();
        if (this.active + 1 < this.shown) this.setActive(this.active + 1);
        break;
      case "ArrowUp":
        this.setActive(Math.max(-1, this.active - 1));
        break;
      case "Home":
      case "End":
        if (this.active < 0) return;
        this.setActive(event.key === "Home" ? 0 : this.shown - 1);
        break;
      case "Escape":
        this.input.value = "";
        this.run(false);
        break;
      default:
        return;
    }
    event.preventDefault();
  }
}

// Mounts the search widget on root; settingsUrl defaults to root's data-settings, else the
// settings file beside this module.
export function mount(root, settingsUrl = root.dataset.settings || new URL(SETTINGS_FILE, here).href) {
  const widget = new Widget(root);
  widget.load(settingsUrl);
  return widget;
}

function addStyleSheet() {
  const href = new URL("quarry-search.css", here).href;
  const links = document.querySelectorAll('link[rel~="stylesheet"]');
  if ([...links].some((link) => link.href === href)) return;
  document.head.append(element("link", { rel: "stylesheet", href }));
}

if (typeof document !== "undefined") {
  mark("start");
  const roots = document.querySelectorAll("[data-quarry-search]");
  if (roots.length > 0) addStyleSheet();
  for (const root of roots) mount(root);
}
