// quarry web: generated file; quarry-cli web replaces it
//
// Bytes and text for the search page: UTF-8 sequences on bytes, display text with a Latin-1
// fallback, and the indexer's trim rule for one word. Pure functions; the same in Node.

const MAX_WORD_BYTES = 511;
const utf8 = new TextDecoder("utf-8", { fatal: true });
export const encoder = new TextEncoder();

/**
 * Latin-1 by code point (not TextDecoder's "latin1", which is windows-1252).
 * @param {Uint8Array} bytes
 * @returns {string}
 */
export function latin1(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += 4096) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 4096));
  }
  return text;
}

/**
 * The text of a title or path for display: UTF-8 when the bytes are valid UTF-8, else Latin-1.
 * @param {Uint8Array} bytes
 * @returns {string}
 */
export function displayText(bytes) {
  try {
    return utf8.decode(bytes);
  } catch {
    return latin1(bytes);
  }
}

/**
 * The UTF-8 text of bytes, or null when they are not valid UTF-8.
 * @param {Uint8Array} bytes
 * @returns {string | null}
 */
export function utf8Text(bytes) {
  try {
    return utf8.decode(bytes);
  } catch {
    return null;
  }
}

/**
 * The code point of the well-formed UTF-8 sequence bytes[start, start + length), or -1.
 * @param {Uint8Array} bytes
 * @param {number} start
 * @param {number} length
 * @returns {number}
 */
export function decodeSequence(bytes, start, length) {
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

/**
 * The length of the well-formed UTF-8 sequence that starts at bytes[start] within end, or 0.
 * @param {Uint8Array} bytes
 * @param {number} start
 * @param {number} end
 * @returns {number}
 */
export function sequenceAt(bytes, start, end) {
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

export const LETTER_MARK_NUMBER = /^[\p{L}\p{M}\p{N}]$/u;

/**
 * Is code point cp of the general categories L, M or N?
 * @param {number} cp
 * @returns {boolean}
 */
export function isLetterMarkNumber(cp) {
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

/**
 * Trims one word (bytes) as the indexer does before it stores a word: at most 511 bytes, blanks
 * off both ends, one opening bracket, the closing marks with the non-ASCII blanks among them,
 * and a word of one character becomes empty unless `keepSingle` (prefix words).
 * @param {Uint8Array} word
 * @param {boolean} [keepSingle]
 * @returns {Uint8Array} a view into word
 */
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

/**
 * Writes the UTF-8 bytes of cp at out[at]; returns the index after them.
 * @param {number} cp
 * @param {Uint8Array} out
 * @param {number} at
 * @returns {number}
 */
export function encodeCodePoint(cp, out, at) {
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

/**
 * Compares two byte strings as unsigned bytes: negative, 0 or positive.
 * @param {Uint8Array} a
 * @param {Uint8Array} b
 * @returns {number}
 */
export function compareBytes(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; ++i) if (a[i] !== b[i]) return a[i] - b[i];
  return a.length - b.length;
}

/**
 * Does bytes begin with prefix?
 * @param {Uint8Array} bytes
 * @param {Uint8Array} prefix
 * @returns {boolean}
 */
export function startsWithBytes(bytes, prefix) {
  if (prefix.length > bytes.length) return false;
  for (let i = 0; i < prefix.length; ++i) if (bytes[i] !== prefix[i]) return false;
  return true;
}

/** The English text of each kind of SearchError; the box shows its own translation. */
export const ERROR_TEXTS = {
  unloadable: "The search index could not be loaded: {detail}.",
  notIndex: "The search index is damaged: {detail} is not an index file.",
  noSettings: "The search settings could not be loaded: {detail}.",
  badSettings: "The search settings are not valid: {detail}.",
  damaged: "The search index is damaged: {detail}.",
  changed: "The search index changed; reload the page.",
};

/** A search that cannot go on, for the reader: code names the text, detail fills it in. */
export class SearchError extends Error {
  /**
   * @param {keyof ERROR_TEXTS} code
   * @param {string} [detail]
   */
  constructor(code, detail = "") {
    super(ERROR_TEXTS[code].replace("{detail}", detail));
    this.code = code;
    this.detail = detail;
  }
}
