// quarry web: generated file; quarry-cli web replaces it
//
// What a result shows of its page's text: the query's words marked in a title or heading, and
// the passage of about 30 words that holds the most query terms. Pure functions on strings; the
// widget turns the segments into text nodes and <mark> elements.

import { displayText, encoder, trimWord } from "./quarry-search-text.js";

/**
 * A piece of text, marked when it is a query word.
 * @typedef {{ text: string, mark: boolean }} Segment
 * @typedef {((word: string) => number) & { pieces?: [string, number][] }} Matcher  the query term
 *   a word matches, or -1; pieces: the pairs of characters of the query's Chinese, Japanese or
 *   Korean words, with their terms, marked wherever they stand in a word
 * @typedef {{ segments: Segment[], before: boolean, after: boolean }} Excerpt
 *   before, after: text of the page was left out before or after the passage
 */

export const EXCERPT_WORDS = 30;
const CONTEXT_WORDS = 5;
const WORD = /[^\s\u0085\u00a0\u1680\u2000-\u200a\u2028\u2029\u202f\u205f\u3000]+/gu;
const RUN = /[\p{L}\p{M}\p{N}]+/gu;
const ALL_RUN = /^[\p{L}\p{M}\p{N}]+$/u;

// Where a word (no white space) matches: [start, end, term] ranges in it, the term of the
// first. The word's term as a query would cut it (trimmed; its one run), else its runs.
function matchesIn(word, match) {
  if (ALL_RUN.test(word)) {
    const term = match(word);
    return term < 0 ? piecesIn(word, match.pieces ?? []) : [[0, word.length, term]];
  }
  const bytes = encoder.encode(word);
  const trimmed = trimWord(bytes);
  const begin = displayText(bytes.subarray(0, trimmed.byteOffset - bytes.byteOffset)).length;
  const whole = displayText(trimmed);
  const wholeTerm = whole.length > 0 ? match(whole) : -1;
  if (wholeTerm >= 0) return [[begin, begin + whole.length, wholeTerm]];
  const found = [];
  for (const run of word.matchAll(RUN)) {
    if ([...run[0]].length < 2) continue;
    const term = match(run[0]);
    if (term >= 0) found.push([run.index, run.index + run[0].length, term]);
  }
  return found.length > 0 ? found : piecesIn(word, match.pieces ?? []);
}

// Where the pieces stand in word, overlapping ones joined: [start, end, term] ranges.
function piecesIn(word, pieces) {
  const at = [];
  for (const [piece, term] of pieces) {
    for (let i = word.indexOf(piece); i >= 0; i = word.indexOf(piece, i + 1)) at.push([i, i + piece.length, term]);
  }
  at.sort((a, b) => a[0] - b[0]);
  const joined = [];
  for (const range of at) {
    const last = joined[joined.length - 1];
    if (last && range[0] < last[1]) last[1] = Math.max(last[1], range[1]);
    else joined.push(range);
  }
  return joined;
}

// The words of text with their offsets and matches.
function wordsOf(text, match) {
  const cache = new Map();
  const words = [];
  for (const found of text.matchAll(WORD)) {
    let ranges = cache.get(found[0]);
    if (ranges === undefined) {
      ranges = matchesIn(found[0], match);
      cache.set(found[0], ranges);
    }
    words.push({ start: found.index, end: found.index + found[0].length, ranges });
  }
  return words;
}

// Segments of text[from, to) with the ranges of words marked.
function segmentsOf(text, words, from, to) {
  /** @type {Segment[]} */
  const segments = [];
  const start = words[from]?.start ?? 0;
  const end = words[to - 1]?.end ?? text.length;
  let done = start;
  for (let i = from; i < to; ++i) {
    for (const [a, b] of words[i].ranges) {
      if (words[i].start + a > done) segments.push({ text: text.slice(done, words[i].start + a), mark: false });
      segments.push({ text: text.slice(words[i].start + a, words[i].start + b), mark: true });
      done = words[i].start + b;
    }
  }
  if (end > done) segments.push({ text: text.slice(done, end), mark: false });
  return segments;
}

/**
 * text as segments, the words that match marked.
 * @param {string} text
 * @param {Matcher} match
 * @returns {Segment[]}
 */
export function markText(text, match) {
  const words = wordsOf(text, match);
  const segments = segmentsOf(text, words, 0, words.length);
  if (words.length > 0) {
    if (words[0].start > 0) segments.unshift({ text: text.slice(0, words[0].start), mark: false });
    const last = words[words.length - 1].end;
    if (last < text.length) segments.push({ text: text.slice(last), mark: false });
  }
  return segments;
}

/**
 * Does text hold a word that matches?
 * @param {string} text
 * @param {Matcher} match
 * @returns {boolean}
 */
export function matchesText(text, match) {
  return wordsOf(text, match).some((w) => w.ranges.length > 0);
}

/**
 * The passage of `size` words of text that holds the most query terms (then the most matching
 * words; the first such), starting a few words before its first match, with the matches marked.
 * Without any match, the text's first words.
 * @param {string} text
 * @param {Matcher} match
 * @param {number} [size]
 * @returns {Excerpt}
 */
export function excerpt(text, match, size = EXCERPT_WORDS) {
  const words = wordsOf(text, match);
  let best = 0;
  let bestTerms = 0;
  let bestHits = 0;
  const tried = new Set();
  words.forEach((word, i) => {
    if (word.ranges.length === 0) return;
    const start = Math.max(0, Math.min(i - CONTEXT_WORDS, words.length - size));
    if (tried.has(start)) return;
    tried.add(start);
    const terms = new Set();
    let hits = 0;
    for (let k = start; k < Math.min(words.length, start + size); ++k) {
      for (const range of words[k].ranges) terms.add(range[2]);
      hits += words[k].ranges.length;
    }
    if (terms.size > bestTerms || (terms.size === bestTerms && hits > bestHits)) {
      best = start;
      bestTerms = terms.size;
      bestHits = hits;
    }
  });
  const end = Math.min(words.length, best + size);
  return { segments: segmentsOf(text, words, best, end), before: best > 0, after: end < words.length };
}
