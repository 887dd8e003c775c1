// quarry web: generated file; quarry-cli web replaces it
//
// Queries: keys (the search fold of the bundle), the simple case fold of the three index files,
// and a query cut into terms.

import { FOLD } from "./quarry-search-fold.js";
import { decodeSequence, displayText, encodeCodePoint, encoder, sequenceAt, trimWord, utf8Text } from "./quarry-search-text.js";

/**
 * A term of a query. key: its folded bytes; prefix: it matches every key that begins with it;
 * text: key as text.
 * @typedef {{ key: Uint8Array, prefix: boolean, text: string }} Term
 */

const foldCache = new Map();

/**
 * The simple fold of one code point: the first code point of its toLowerCase(), which is the
 * simple lowercase mapping (only U+0130 lowers to two code points, and its simple mapping is `i`).
 * @param {number} cp
 * @returns {number}
 */
export function foldCodePoint(cp) {
  if (cp < 0x80) return cp >= 0x41 && cp <= 0x5a ? cp + 0x20 : cp;
  let folded = foldCache.get(cp);
  if (folded === undefined) {
    folded = String.fromCodePoint(cp).toLowerCase().codePointAt(0);
    foldCache.set(cp, folded);
  }
  return folded;
}

/**
 * Writes the simple fold of bytes[start, end) at out[at] (room for 2 * (end - start) bytes
 * needed: a folded code point takes at most 3/2 of its bytes); returns the index after it.
 * @param {Uint8Array} bytes
 * @param {number} start
 * @param {number} end
 * @param {Uint8Array} out
 * @param {number} at
 * @returns {number}
 */
export function foldInto(bytes, start, end, out, at) {
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

/**
 * The simple fold of a word's bytes: every well-formed UTF-8 sequence folded; other bytes stay.
 * @param {Uint8Array} bytes
 * @param {number} [start]
 * @param {number} [end]
 * @returns {Uint8Array}
 */
export function foldBytes(bytes, start = 0, end = bytes.length) {
  const out = new Uint8Array(2 * (end - start));
  return out.slice(0, foldInto(bytes, start, end, out, 0));
}

// White space between query words: ASCII white space and the Unicode spaces the filter counts,
// which are Unicode's White_Space.
const SPACE = /\p{White_Space}/u;
const SPACES = /\p{White_Space}+/u;

/**
 * The words of a query: the pieces between runs of white space (SPACE: ASCII's, and U+0085,
 * U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000), none empty.
 * @param {string} query
 * @returns {string[]}
 */
export function queryWords(query) {
  return query.split(SPACES).filter((word) => word !== "");
}

/**
 * The terms of a query for the three index files: its words (queryWords) as UTF-8 bytes, each
 * trimmed and folded; a word ending in `*` is a prefix (the `*`s go, the single-character rule
 * does not apply). Empty terms and a bare `*` are left out.
 * @param {string} query
 * @returns {Term[]}
 */
export function queryTerms(query) {
  const terms = [];
  for (const word of queryWords(query)) {
    /** @type {Uint8Array} */
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
// Keys: NFKD, full case fold, the marks U+0300-U+036F removed, NFC (search-bundle.md, "Terms")

const MARKS = /[\u0300-\u036f]/g;

// The full case fold of text, code point by code point (toLowerCase on a whole string would
// apply the final-sigma rule; utf8proc's fold knows no context).
function caseFold(text) {
  let out = "";
  for (const ch of text) {
    const cp = ch.codePointAt(0);
    if (cp < 0x80) out += cp >= 0x41 && cp <= 0x5a ? String.fromCharCode(cp + 0x20) : ch;
    else out += FOLD.get(cp) ?? ch.toLowerCase();
  }
  return out;
}

/**
 * The key of a text: what utf8proc's NFKD with full case folding, the marks U+0300 to U+036F
 * dropped, then NFC make of it (tests/data/key-cases.tsv).
 * @param {string} text
 * @returns {string}
 */
export function keyOf(text) {
  // eslint-disable-next-line no-control-regex
  if (/^[\x00-\x7f]*$/.test(text)) return text.toLowerCase();
  return caseFold(caseFold(text.normalize("NFKD")).normalize("NFKD")).normalize("NFKD")
    .replace(MARKS, "").normalize("NFC");
}

/**
 * The key of a term's bytes: each well-formed UTF-8 part keyed alone; bytes that are not part of
 * a well-formed sequence stay as they are.
 * @param {Uint8Array} bytes
 * @returns {Uint8Array}
 */
export function keyBytes(bytes) {
  const whole = utf8Text(bytes);
  if (whole !== null) return encoder.encode(keyOf(whole));
  const parts = [];
  let start = 0;
  for (let i = 0; i <= bytes.length;) {
    const length = i < bytes.length ? sequenceAt(bytes, i, bytes.length) : 0;
    if (length > 0) {
      i += length;
      continue;
    }
    if (i > start) parts.push(encoder.encode(keyOf(utf8Text(bytes.subarray(start, i)))));
    if (i < bytes.length) parts.push(bytes.subarray(i, i + 1));
    start = ++i;
  }
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Cutting a query (search-bundle.md, "Queries"; tests/data/query-cases.tsv)

/**
 * A query word as the bundle is searched for it. text: the term (trimmed, ASCII-lowercased);
 * key: its key; prefix: it also matches the keys that begin with its key (`word*`, or the last
 * word while typing); typed: only the last word while typing made it a prefix; phrase: the
 * number of its phrase (the terms of one phrase stand at consecutive positions), -1 for none;
 * runs: what the whole word falls back to when it is no key (its runs of two code points or
 * more), else []; cjk: the word holds Chinese, Japanese or Korean and is searched by its runs
 * (then its pieces, cjkPieces) at one position, never as a prefix.
 * @typedef {{ text: string, key: string, prefix: boolean, typed: boolean, phrase: number,
 *   runs: string[], cjk: boolean }} QueryTerm
 */

const RUN = /[\p{L}\p{M}\p{N}]+/gu;

/**
 * The runs of letters, marks and numbers of text that have two code points or more.
 * @param {string} text
 * @returns {string[]}
 */
export function runsOf(text) {
  return (text.match(RUN) ?? []).filter((run) => run.length > 1 && [...run].length > 1);
}

const CJK = /[\p{Script=Han}\p{Script=Hiragana}\p{Script=Katakana}\p{Script=Hangul}]/u;
const JOINS = /[\p{Script=Common}\p{Script=Inherited}]/u;
const LETTER = /[\p{L}\p{M}]/u;

/**
 * The pieces a run of letters, marks and numbers holding Chinese, Japanese or Korean is searched
 * by (search-bundle.md, "Terms"; tests/data/cjk-cases.tsv), or null when it holds no code point
 * of Han, Hiragana, Katakana or Hangul. The run is cut where it passes between those scripts and
 * others (a letter or mark of Common or Inherited goes with the code point before it); a piece
 * of those scripts gives its overlapping pairs (one code point, itself), another piece of two
 * code points or more itself.
 * @param {string} run
 * @returns {string[] | null}
 */
export function cjkPieces(run) {
  const points = [...run];
  if (!points.some((c) => CJK.test(c))) return null;
  /** @type {boolean[]} */
  const cjk = [];
  for (const c of points) cjk.push(CJK.test(c) || (cjk.length > 0 && cjk[cjk.length - 1] && JOINS.test(c) && LETTER.test(c)));
  const pieces = [];
  for (let a = 0; a < points.length;) {
    let b = a + 1;
    while (b < points.length && cjk[b] === cjk[a]) ++b;
    if (!cjk[a]) {
      if (b - a >= 2) pieces.push(points.slice(a, b).join(""));
    } else if (b - a === 1) {
      pieces.push(points[a]);
    } else {
      for (let k = a; k + 1 < b; ++k) pieces.push(points[k] + points[k + 1]);
    }
    a = b;
  }
  return pieces;
}

// The term of a word: its one run when it has exactly one run of two code points or more and
// no other letter, mark or number; else the whole word. A word holding Chinese, Japanese or
// Korean falls back to the pieces of its runs, always.
function termOf(word) {
  const all = word.match(RUN) ?? [];
  const text = all.length === 1 && [...all[0]].length > 1 ? all[0] : word;
  if (CJK.test(text)) {
    const pieces = [];
    for (const run of all) pieces.push(...(cjkPieces(run) ?? ([...run].length > 1 ? [run] : [])));
    return { text, runs: pieces, cjk: true };
  }
  if (text !== word) return { text, runs: [], cjk: false };
  const runs = runsOf(word);
  return { text: word, runs: runs.length > 1 ? runs : [], cjk: false };
}

/**
 * The terms of a query. typing: the box's text as the visitor types it, whose last word is also
 * a prefix unless white space follows it or it is inside a phrase (at least two code points).
 * @param {string} query
 * @param {{ typing?: boolean }} [options]
 * @returns {QueryTerm[]}
 */
export function cutQuery(query, { typing = false } = {}) {
  /** @type {QueryTerm[]} */
  const terms = [];
  let phrase = -1;
  let phrases = 0;
  let word = "";
  let inPhrase = false;
  /** @type {QueryTerm | null} */
  let last = null; // the last term when nothing followed its word
  const finish = () => {
    if (word === "") return;
    let end = word.length;
    while (end > 0 && word[end - 1] === "*") --end;
    const explicit = end < word.length;
    const trimmed = displayText(trimWord(encoder.encode(word.slice(0, end)), explicit));
    word = "";
    const lowered = trimmed.replace(/[A-Z]+/g, (c) => c.toLowerCase());
    if (lowered === "") return;
    const { text, runs, cjk } = termOf(lowered);
    const term = { text, key: keyOf(text), prefix: explicit && !cjk, typed: false, phrase, runs, cjk };
    terms.push(term);
    last = term;
  };
  for (const ch of query) {
    if (ch === '"' || SPACE.test(ch)) {
      finish();
      last = null;
      if (ch === '"') {
        inPhrase = !inPhrase;
        phrase = inPhrase ? phrases++ : -1;
      }
    } else {
      word += ch;
    }
  }
  finish();
  // A phrase of one term is that term alone.
  const sizes = new Map();
  for (const term of terms) if (term.phrase >= 0) sizes.set(term.phrase, (sizes.get(term.phrase) ?? 0) + 1);
  for (const term of terms) if (sizes.get(term.phrase) === 1) term.phrase = -1;
  if (typing && last && !last.prefix && !last.cjk && last.phrase < 0 && [...last.text].length > 1) {
    last.prefix = true;
    last.typed = true;
  }
  return terms;
}
