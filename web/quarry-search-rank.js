// quarry web: generated file; quarry-cli web replaces it
//
// Search over a bundle (doc/ranking.md): each query term's matches (exact and folded forms of its
// key, its stem groups, the keys it begins), the pages holding every term and every phrase, their
// scores added in query order, a word without any match corrected to the nearest key of its
// shard.

import { byteString } from "./quarry-search-bundle.js";
import { cutQuery, foldBytes, keyOf } from "./quarry-search-query.js";
import { displayText, encoder } from "./quarry-search-text.js";

/**
 * @typedef {import("./quarry-search-bundle.js").Bundle} Bundle
 * @typedef {import("./quarry-search-bundle.js").Postings} Postings
 * @typedef {import("./quarry-search-query.js").QueryTerm} QueryTerm
 * @typedef {{ f: number, postings: Postings }} Match
 * @typedef {{ term: QueryTerm, slot: number, key: string, matches: Match[], keys: string[],
 *   members: string[], prefixKeys: string[] }} Resolved
 *   key: the term's key as a byte string; keys: [key] when it is a key of the bundle; members:
 *   the keys of its stem groups; prefixKeys: the keys it begins (a prefix); slot: its place in
 *   its phrase
 * @typedef {{ pages: number[], scores: Float64Array, terms: Resolved[], corrected: string | null,
 *   mark: import("./quarry-search-excerpt.js").Matcher }} Answer
 *   mark: the number of the query term a word of the text matches, or -1
 */

export const EXACT = 1;
export const FOLDED = 0.8;
export const STEM = 0.6;
export const PREFIX = 0.5;
// A prefix of a word that is a key itself: the word as typed is most likely meant whole.
export const PREFIX_OF_KEY = 0.2;
export const TIE = 1e-9;
const PREFIX_KEYS = 50;

const bytesOf = (byteText) => Uint8Array.from(byteText, (c) => c.charCodeAt(0));
const foldedString = (bytes) => String.fromCharCode(...foldBytes(bytes));

// The matches of a term in the bundle, in the order exact forms, folded forms, stems, prefix.
// wait: see searchBundle. A prefix that needs a prefix piece not at hand waits before its key's
// piece is fetched too (while the visitor types on, the shard a short prefix falls in is mostly
// not the one of the word it becomes); the two are then fetched side by side.
async function resolve(bundle, term, slot, wait) {
  const key = byteString(term.key);
  if (term.prefix && wait && bundle.prefixPieceMissing(key)) await wait();
  const spanning = term.prefix ? bundle.prefixEntry(key) : null;
  spanning?.catch(() => {}); // awaited below, unless the key piece fails first
  const piece = await bundle.keyPiece(bundle.shardOf(key));
  const entry = piece.keys.get(key);
  /** @type {Resolved} */
  const resolved = { term, slot, key, matches: [], keys: [], members: [], prefixKeys: [] };
  if (entry) {
    const exact = foldedString(encoder.encode(term.text));
    const folded = [];
    for (const { form, postings } of entry.forms) {
      if (foldedString(bytesOf(form)) === exact) resolved.matches.push({ f: EXACT, postings });
      else folded.push({ f: FOLDED, postings });
    }
    resolved.matches.push(...folded);
    resolved.keys.push(key);
    for (const stem of entry.stems) {
      const group = (await bundle.keyPiece(bundle.shardOf(stem))).stems.get(stem);
      if (!group) continue;
      resolved.matches.push({ f: STEM, postings: group.postings });
      resolved.members.push(...group.members);
    }
  }
  if (term.prefix) {
    const f = entry && entry.forms.length > 0 ? PREFIX_OF_KEY : PREFIX;
    const entries = await spanning;
    if (entries) {
      if (entries.keys.length > 0) resolved.matches.push({ f, postings: entries.postings });
      for (const k of entries.keys) resolved.prefixKeys.push(k.key);
    } else {
      const keys = piece.order.filter((e) => e.key.startsWith(key))
        .sort((a, b) => b.pages - a.pages || (a.key < b.key ? -1 : a.key > b.key ? 1 : 0))
        .slice(0, PREFIX_KEYS);
      if (keys.length > 0) resolved.matches.push({ f, postings: highest(keys.flatMap((e) => e.forms)) });
      for (const k of keys) resolved.prefixKeys.push(k.key);
    }
  }
  return resolved;
}

// Postings of the highest impact per page over forms.
function highest(forms) {
  const best = new Map();
  for (const { postings } of forms) {
    for (let i = 0; i < postings.pages.length; ++i) {
      const page = postings.pages[i];
      if (!(best.get(page) >= postings.values[i])) best.set(page, postings.values[i]);
    }
  }
  const pages = Int32Array.from([...best.keys()].sort((a, b) => a - b));
  return { pages, values: Int32Array.from(pages, (p) => best.get(p)), fields: null, counts: null };
}

/**
 * The optimal-string-alignment distance of two code point arrays, or limit + 1 when it is more.
 * @param {number[]} a
 * @param {number[]} b
 * @param {number} limit
 * @returns {number}
 */
export function editDistance(a, b, limit) {
  if (Math.abs(a.length - b.length) > limit) return limit + 1;
  let before = null;
  let previous = Array.from({ length: b.length + 1 }, (_, j) => j);
  let previousLeast = 0;
  for (let i = 1; i <= a.length; ++i) {
    const row = [i];
    let least = i;
    for (let j = 1; j <= b.length; ++j) {
      const cost = a[i - 1] === b[j - 1] ? 0 : 1;
      let d = Math.min(previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost);
      if (i > 1 && j > 1 && a[i - 1] === b[j - 2] && a[i - 2] === b[j - 1]) d = Math.min(d, before[j - 2] + 1);
      row.push(d);
      least = Math.min(least, d);
    }
    // A transposition reaches back two rows, so both must be past the limit.
    if (least > limit && previousLeast > limit) return limit + 1;
    previousLeast = least;
    before = previous;
    previous = row;
  }
  return Math.min(previous[b.length], limit + 1);
}

const codePoints = (text) => Array.from(text, (c) => c.codePointAt(0));

/**
 * The key of the shard that key (a byte string) falls in nearest to it: within one edit (two for
 * keys of eight code points or more), fewest edits, then most pages, then byte order; null when
 * none is.
 * @param {Bundle} bundle
 * @param {string} key
 * @returns {Promise<string | null>}
 */
export async function correction(bundle, key) {
  const wanted = codePoints(displayText(bytesOf(key)));
  const limit = wanted.length >= 8 ? 2 : 1;
  if (wanted.length < 3) return null;
  const piece = await bundle.keyPiece(bundle.shardOf(key));
  let best = null;
  let bestEdits = limit + 1;
  for (const entry of piece.order) {
    const edits = editDistance(wanted, codePoints(displayText(bytesOf(entry.key))), limit);
    if (edits > limit || edits === 0) continue;
    if (edits < bestEdits || (edits === bestEdits && entry.pages > best.pages)) {
      best = entry;
      bestEdits = edits;
    }
  }
  return best ? best.key : null;
}

// Per page, the best value of a term's matches: f × impact / 256, the first highest kept; and
// the pages that only its stem groups match.
function bestPerPage(resolved) {
  const best = new Map();
  const direct = new Set();
  for (const { f, postings } of resolved.matches) {
    for (let i = 0; i < postings.pages.length; ++i) {
      const value = (f * postings.values[i]) / 256;
      const page = postings.pages[i];
      if (f !== STEM) direct.add(page);
      if (!(best.get(page) >= value)) best.set(page, value);
    }
  }
  const stemOnly = new Set([...best.keys()].filter((page) => !direct.has(page)));
  return { best, stemOnly };
}

// The positions on page of the forms of keys (byte strings), merged.
async function positionsOn(bundle, keys, page) {
  const all = [];
  for (const key of keys) {
    const shard = bundle.shardOf(key);
    const entry = (await bundle.keyPiece(shard)).keys.get(key);
    if (!entry) continue;
    const positions = await bundle.positionPiece(shard);
    entry.forms.forEach(({ postings }, f) => {
      const at = search(postings.pages, page);
      if (at >= 0) all.push(...positions[entry.index][f][at]);
    });
  }
  return new Set(all);
}

function search(sorted, value) {
  let low = 0;
  let high = sorted.length - 1;
  while (low <= high) {
    const middle = (low + high) >> 1;
    if (sorted[middle] === value) return middle;
    if (sorted[middle] < value) low = middle + 1;
    else high = middle - 1;
  }
  return -1;
}

// Does page hold the phrase whose terms (by slot) are given at consecutive positions?
async function holdsPhrase(bundle, terms, page) {
  const slots = [];
  for (const t of terms) {
    const positions = await positionsOn(bundle, [...t.keys, ...(t.term.prefix ? t.prefixKeys : [])], page);
    slots[t.slot] = slots[t.slot] ? new Set([...slots[t.slot]].filter((p) => positions.has(p))) : positions;
  }
  for (const start of slots[0] ?? []) {
    if (slots.every((set, i) => set?.has(start + i))) return true;
  }
  return false;
}

/**
 * Searches the bundle for query. typing: the box's text as it is typed (its last word is also a
 * prefix). waitForPrefix: awaited before the pieces of a prefix that needs a prefix piece not at
 * hand are fetched (those serve short prefixes, which a visitor mostly types on the way to a
 * longer word); when it rejects, so does the search.
 * Pages come ordered by score, highest first; scores within 1e-9 tie and the lower page number
 * goes first.
 * @param {Bundle} bundle
 * @param {string} query
 * @param {{ typing?: boolean, waitForPrefix?: () => Promise<unknown> }} [options]
 * @returns {Promise<Answer>}
 */
export async function searchBundle(bundle, query, { typing = false, waitForPrefix } = {}) {
  const cut = cutQuery(query, { typing });
  const slotOf = new Map();
  /** @type {Resolved[]} */
  const terms = [];
  let corrected = false;
  const shown = [];
  let nextPhrase = Math.max(-1, ...cut.map((t) => t.phrase)) + 1;
  for (const term of cut) {
    const slot = term.phrase < 0 ? 0 : (slotOf.get(term.phrase) ?? -1) + 1;
    if (term.phrase >= 0) slotOf.set(term.phrase, slot);
    if (term.cjk) {
      // Its pieces at one position: in the phrase it stands in, else as a phrase of its own.
      const phrase = term.phrase >= 0 ? term.phrase : nextPhrase++;
      for (const piece of term.runs) {
        terms.push(await resolve(bundle, { ...term, text: piece, key: keyOf(piece), runs: [], phrase }, slot, waitForPrefix));
      }
      shown.push(term.text);
      continue;
    }
    let resolved = await resolve(bundle, term, slot, waitForPrefix);
    if (resolved.matches.length === 0 && term.runs.length > 0) {
      // A whole word that is no key: its runs, each a term at the word's place.
      const runs = term.runs.map((run, i) => ({ ...term, text: run, key: keyOf(run), runs: [],
        prefix: term.prefix && i === term.runs.length - 1 }));
      for (const run of runs) terms.push(await resolve(bundle, run, slot, waitForPrefix));
      shown.push(term.text);
      continue;
    }
    if (resolved.matches.length === 0) {
      const better = await correction(bundle, resolved.key);
      if (better !== null) {
        const text = displayText(bytesOf(better));
        resolved = await resolve(bundle, { ...term, text, key: text, prefix: false, typed: false, runs: [] }, slot);
        corrected = true;
      }
    }
    shown.push(resolved.term.text);
    terms.push(resolved);
  }
  const mark = marker(terms);
  const empty = { pages: [], scores: new Float64Array(0), terms, corrected: corrected ? shown.join(" ") : null, mark };
  if (terms.length === 0) return empty;

  const perTerm = terms.map(bestPerPage);
  const best = perTerm.map((t) => t.best);
  let candidates = [...best[0].keys()];
  for (const map of best.slice(1)) candidates = candidates.filter((page) => map.has(page));
  const phrases = new Map();
  for (const t of terms) if (t.term.phrase >= 0) phrases.set(t.term.phrase, [...(phrases.get(t.term.phrase) ?? []), t]);
  for (const phrase of phrases.values()) {
    const kept = [];
    for (const page of candidates) if (await holdsPhrase(bundle, phrase, page)) kept.push(page);
    candidates = kept;
  }
  const scored = candidates.map((page) => {
    let score = 0;
    for (const map of best) score += map.get(page);
    return { page, score, stemmed: perTerm.some((t) => t.stemOnly.has(page)) ? 1 : 0 };
  });
  // Pages that need a stem group for a term come after those that need none.
  scored.sort((a, b) => a.stemmed - b.stemmed ||
    (Math.abs(a.score - b.score) < TIE ? a.page - b.page : b.score - a.score));
  return { ...empty, pages: scored.map((s) => s.page), scores: Float64Array.from(scored, (s) => s.score) };
}

// The function that tells which term a word of a page's text matches: by its key, against the
// terms' keys, stem members and prefixes.
function marker(terms) {
  const keys = new Map();
  const prefixes = [];
  terms.forEach((t, i) => {
    const text = (byteText) => displayText(bytesOf(byteText));
    for (const k of [...t.keys, ...t.members, ...t.prefixKeys]) if (!keys.has(text(k))) keys.set(text(k), i);
    if (t.term.prefix) prefixes.push([t.term.key, i]);
    if (!keys.has(t.term.key)) keys.set(t.term.key, i);
  });
  const cache = new Map();
  /** @type {import("./quarry-search-excerpt.js").Matcher} */
  const match = (word) => {
    let found = cache.get(word);
    if (found === undefined) {
      const key = keyOf(word);
      found = keys.get(key) ?? prefixes.find(([p]) => key.startsWith(p))?.[1] ?? -1;
      cache.set(word, found);
    }
    return found;
  };
  /** @type {[string, number][]} */
  const pieces = [];
  terms.forEach((t, i) => {
    if (t.term.cjk) pieces.push([t.term.text, i]);
  });
  match.pieces = pieces;
  return match;
}
