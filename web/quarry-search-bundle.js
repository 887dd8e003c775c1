// quarry web: generated file; quarry-cli web replaces it
//
// The search bundle (doc/search-bundle.md) in the browser: the manifest, its pieces fetched one
// by one (each checked against its content hash, inflated only when it is still gzip), and the
// pieces decoded. Keys are kept as byte strings: one UTF-16 unit per byte, so that `<` on them
// is the bundle's byte order.

import { encoder, latin1, SearchError } from "./quarry-search-text.js";

/**
 * @typedef {{ pages: Int32Array, values: Int32Array, fields: Uint8Array, counts: Int32Array }} Postings
 *   values: the impacts; fields and counts only for the postings of forms
 * @typedef {{ form: string, postings: Postings }} Form  form: a byte string ("" for the key)
 * @typedef {{ key: string, index: number, pages: number, forms: Form[], stems: string[] }} KeyEntry
 * @typedef {{ stem: string, members: string[], postings: Postings }} StemEntry
 * @typedef {{ shard: number, keys: Map<string, KeyEntry>, order: KeyEntry[],
 *   stems: Map<string, StemEntry> }} KeyPiece
 * @typedef {{ keys: { key: string, pages: number }[], postings: Postings }} PrefixEntry
 * @typedef {[string, string, string] | null} DirectoryEntry  [fragment hash, title, url]
 * @typedef {{ title: string, url: string, headings: [string, string][], text: string }} Fragment
 * @typedef {{ format: number, folder: string, source: string, pages: number, entered: number,
 *   lang: string, shards: { first: string[], keys: string, positions: string },
 *   prefixes: { first: string[], hashes: string }, directory: { size: number, hashes: string } }} BundleInfo
 */

// ---------------------------------------------------------------------------------------------
// The content hash: XXH32 with seed 0, then with seed 1, as 16 hex digits

const P1 = 0x9e3779b1;
const P2 = 0x85ebca77;
const P3 = 0xc2b2ae3d;
const P4 = 0x27d4eb2f;
const P5 = 0x165667b1;

const rotl = (x, r) => (x << r) | (x >>> (32 - r));
const round = (acc, lane) => Math.imul(rotl((acc + Math.imul(lane, P2)) | 0, 13), P1);
const u32 = (b, i) => b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (b[i + 3] << 24);

/**
 * XXH32 of bytes with seed.
 * @param {Uint8Array} b
 * @param {number} seed
 * @returns {number} unsigned
 */
export function xxh32(b, seed) {
  const n = b.length;
  let i = 0;
  let h;
  if (n >= 16) {
    let v1 = (seed + P1 + P2) | 0;
    let v2 = (seed + P2) | 0;
    let v3 = seed | 0;
    let v4 = (seed - P1) | 0;
    for (; i + 16 <= n; i += 16) {
      v1 = round(v1, u32(b, i));
      v2 = round(v2, u32(b, i + 4));
      v3 = round(v3, u32(b, i + 8));
      v4 = round(v4, u32(b, i + 12));
    }
    h = (rotl(v1, 1) + rotl(v2, 7) + rotl(v3, 12) + rotl(v4, 18)) | 0;
  } else {
    h = (seed + P5) | 0;
  }
  h = (h + n) | 0;
  for (; i + 4 <= n; i += 4) h = Math.imul(rotl((h + Math.imul(u32(b, i), P3)) | 0, 17), P4);
  for (; i < n; ++i) h = Math.imul(rotl((h + Math.imul(b[i], P5)) | 0, 11), P1);
  h = Math.imul(h ^ (h >>> 15), P2);
  h = Math.imul(h ^ (h >>> 13), P3);
  return (h ^ (h >>> 16)) >>> 0;
}

/**
 * The content hash of bytes: 16 lower-case hex digits.
 * @param {Uint8Array} bytes
 * @returns {string}
 */
export function contentHash(bytes) {
  const hex = (h) => h.toString(16).padStart(8, "0");
  return hex(xxh32(bytes, 0)) + hex(xxh32(bytes, 1));
}

// ---------------------------------------------------------------------------------------------
// Decoding pieces

/** A fault in a piece's bytes or a piece that cannot be had: the bundle changed or is damaged. */
export class PieceError extends Error {}

class Reader {
  /** @param {Uint8Array} bytes */
  constructor(bytes) {
    this.b = bytes;
    this.at = 0;
  }

  varint() {
    let value = 0;
    for (let shift = 0; shift < 35; shift += 7) {
      if (this.at >= this.b.length) throw new PieceError("a piece ends early");
      const byte = this.b[this.at++];
      value += (byte & 0x7f) * 2 ** shift;
      if (byte < 0x80) return value;
    }
    throw new PieceError("a number in a piece is too long");
  }

  // A varint length and that many bytes, as a byte string.
  text() {
    const length = this.varint();
    if (length > this.b.length - this.at) throw new PieceError("a piece ends early");
    const text = latin1(this.b.subarray(this.at, this.at + length));
    this.at += length;
    return text;
  }

  magic(kind) {
    const four = latin1(this.b.subarray(0, 4));
    this.at = 4;
    if (four !== `QSB${kind}` || this.varint() !== 1) throw new PieceError(`not a QSB${kind} piece of format 1`);
  }

  // Postings: count, then (page difference, `extra` varints...) per entry.
  postings(forms) {
    const n = this.varint();
    if (n > this.b.length - this.at) throw new PieceError("a piece ends early");
    const pages = new Int32Array(n);
    const values = new Int32Array(n);
    const fields = forms ? new Uint8Array(n) : null;
    const counts = forms ? new Int32Array(n) : null;
    let page = -1;
    for (let i = 0; i < n; ++i) {
      const step = this.varint();
      page = i === 0 ? step : page + step;
      if (i > 0 && step === 0) throw new PieceError("page numbers of a piece do not increase");
      pages[i] = page;
      if (forms) {
        const countFields = this.varint();
        counts[i] = Math.floor(countFields / 32);
        fields[i] = countFields % 32;
      }
      values[i] = this.varint();
    }
    return { pages, values, fields, counts };
  }
}

/**
 * Decodes a key piece (QSBs).
 * @param {Uint8Array} bytes
 * @returns {KeyPiece}
 */
export function decodeKeyPiece(bytes) {
  const r = new Reader(bytes);
  r.magic("s");
  const shard = r.varint();
  const count = r.varint();
  const keys = new Map();
  const stems = new Map();
  const order = [];
  let previous = "";
  for (let i = 0; i < count; ++i) {
    const kind = r.varint();
    const shared = r.varint();
    if (shared > previous.length) throw new PieceError("a key piece shares more than it has");
    const text = previous.slice(0, shared) + r.text();
    previous = text;
    const bodyLength = r.varint();
    const end = r.at + bodyLength;
    if (kind === 0) {
      const pages = r.varint();
      const formCount = r.varint();
      const forms = [];
      for (let f = 0; f < formCount; ++f) {
        const form = r.text();
        forms.push({ form: form || text, postings: r.postings(true) });
      }
      const stemCount = r.varint();
      const stemList = [];
      for (let s = 0; s < stemCount; ++s) stemList.push(r.text());
      const entry = { key: text, index: order.length, pages, forms, stems: stemList };
      keys.set(text, entry);
      order.push(entry);
    } else if (kind === 1) {
      const memberCount = r.varint();
      const members = [];
      for (let m = 0; m < memberCount; ++m) members.push(r.text());
      stems.set(text, { stem: text, members, postings: r.postings(false) });
    }
    if (r.at > end) throw new PieceError("an entry of a key piece runs past its length");
    r.at = end; // an entry of a kind not known here is skipped
  }
  return { shard, keys, order, stems };
}

/**
 * Decodes a position piece (QSBp) against its key piece: for each key of keys.order, for each
 * form, for each posting, the positions (ascending).
 * @param {Uint8Array} bytes
 * @param {KeyPiece} keys
 * @returns {Int32Array[][][]}
 */
export function decodePositionPiece(bytes, keys) {
  const r = new Reader(bytes);
  r.magic("p");
  const shard = r.varint();
  const count = r.varint();
  if (shard !== keys.shard || count !== keys.order.length) {
    throw new PieceError("a position piece does not belong to its key piece");
  }
  const all = [];
  for (const entry of keys.order) {
    const bodyLength = r.varint();
    const end = r.at + bodyLength;
    const perForm = [];
    for (const { postings } of entry.forms) {
      const perPosting = [];
      for (let p = 0; p < postings.pages.length; ++p) {
        const n = postings.counts[p];
        const positions = new Int32Array(n);
        let position = 0;
        for (let i = 0; i < n; ++i) {
          position = i === 0 ? r.varint() : position + r.varint();
          positions[i] = position;
        }
        perPosting.push(positions);
      }
      perForm.push(perPosting);
    }
    if (r.at > end) throw new PieceError("an entry of a position piece runs past its length");
    r.at = end;
    all.push(perForm);
  }
  return all;
}

/**
 * Decodes a prefix piece (QSBx).
 * @param {Uint8Array} bytes
 * @returns {Map<string, PrefixEntry>}
 */
export function decodePrefixPiece(bytes) {
  const r = new Reader(bytes);
  r.magic("x");
  const count = r.varint();
  const entries = new Map();
  let previous = "";
  for (let i = 0; i < count; ++i) {
    const shared = r.varint();
    if (shared > previous.length) throw new PieceError("a prefix piece shares more than it has");
    const prefix = previous.slice(0, shared) + r.text();
    previous = prefix;
    const bodyLength = r.varint();
    const end = r.at + bodyLength;
    const keyCount = r.varint();
    const keys = [];
    for (let k = 0; k < keyCount; ++k) keys.push({ key: r.text(), pages: r.varint() });
    entries.set(prefix, { keys, postings: r.postings(false) });
    if (r.at > end) throw new PieceError("an entry of a prefix piece runs past its length");
    r.at = end;
  }
  return entries;
}

// ---------------------------------------------------------------------------------------------
// Keys as byte strings

/**
 * The byte string of a text's UTF-8.
 * @param {string} text
 * @returns {string}
 */
export function byteString(text) {
  return latin1(encoder.encode(text));
}

/**
 * A key written in the manifest (every byte outside 0x21-0x7E, and `%`, as %XX) as a byte string.
 * @param {string} written
 * @returns {string}
 */
export function manifestKey(written) {
  return written.replace(/%([0-9A-Fa-f]{2})/g, (_, hex) => String.fromCharCode(parseInt(hex, 16)));
}

/**
 * The index of the last of the sorted byte strings firsts that is at most key (0 when none is).
 * @param {string[]} firsts
 * @param {string} key
 * @returns {number}
 */
export function lastAtMost(firsts, key) {
  let low = 0;
  let high = firsts.length - 1;
  while (low < high) {
    const middle = (low + high + 1) >> 1;
    if (firsts[middle] <= key) low = middle;
    else high = middle - 1;
  }
  return low;
}

// ---------------------------------------------------------------------------------------------
// The bundle

/**
 * Is bundle a bundle description this reader knows (format 1, sound fields)?
 * @param {any} bundle
 * @returns {boolean}
 */
function validBundle(bundle) {
  const hashes = (text, n) => typeof text === "string" && /^[0-9a-f]*$/.test(text) && text.length === 16 * n;
  const firsts = (list) => Array.isArray(list) && list.length > 0 && list.every((k) => typeof k === "string");
  return !!bundle && bundle.format === 1 && typeof bundle.folder === "string" &&
    Number.isInteger(bundle.pages) && Number.isInteger(bundle.entered) &&
    firsts(bundle.shards?.first) && hashes(bundle.shards.keys, bundle.shards.first.length) &&
    hashes(bundle.shards.positions, bundle.shards.first.length) &&
    Array.isArray(bundle.prefixes?.first) && hashes(bundle.prefixes.hashes, bundle.prefixes.first.length) &&
    Number.isInteger(bundle.directory?.size) && bundle.directory.size > 0 &&
    hashes(bundle.directory.hashes, Math.ceil(bundle.pages / bundle.directory.size));
}

const gzipped = (b) => b.length >= 2 && b[0] === 0x1f && b[1] === 0x8b;

/**
 * Inflates bytes when they start with the gzip magic; else they are taken as they are (a host
 * may have decoded them already).
 * @param {Uint8Array} bytes
 * @returns {Promise<Uint8Array>}
 */
export async function inflate(bytes) {
  if (!gzipped(bytes)) return bytes;
  const stream = new Blob([/** @type {BlobPart} */ (bytes)]).stream().pipeThrough(new DecompressionStream("gzip"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

/** The bundle of one manifest: its pieces fetched once each and kept. */
export class Bundle {
  /**
   * @param {string} manifestUrl the manifest's absolute URL
   * @param {BundleInfo} info the manifest's `bundle`
   * @param {string} siteRoot the manifest's `siteRoot`
   */
  constructor(manifestUrl, info, siteRoot) {
    this.info = info;
    this.folder = new URL(info.folder.endsWith("/") ? info.folder : info.folder + "/", manifestUrl);
    this.siteRoot = new URL(siteRoot, manifestUrl);
    if (!this.siteRoot.pathname.endsWith("/")) this.siteRoot.pathname += "/";
    this.shardFirst = info.shards.first.map(manifestKey);
    this.prefixFirst = info.prefixes.first.map(manifestKey);
    /** @type {Map<string, Promise<any>>} */
    this.pieces = new Map();
    this.fetched = 0;
  }

  // The hash of entry i of a run of 16-digit hashes.
  static hashAt(hashes, i) {
    return hashes.slice(16 * i, 16 * i + 16);
  }

  /**
   * The bytes of piece KIND-HASH.gz, checked; rejects with a PieceError when it is missing or
   * does not match its hash.
   * @param {string} kind
   * @param {string} hash
   * @returns {Promise<Uint8Array>}
   */
  async bytes(kind, hash) {
    const name = `${kind}-${hash}.gz`;
    let response;
    try {
      response = await fetch(new URL(name, this.folder), { credentials: "same-origin" });
    } catch {
      throw new PieceError(`${name} (network error)`);
    }
    if (!response.ok) throw new PieceError(`${name} (HTTP ${response.status})`);
    ++this.fetched;
    let bytes;
    try {
      bytes = await inflate(new Uint8Array(await response.arrayBuffer()));
    } catch {
      throw new PieceError(`${name} (cannot be inflated)`);
    }
    if (contentHash(bytes) !== hash) throw new PieceError(`${name} (does not match its name)`);
    return bytes;
  }

  // A piece, decoded by decode, fetched once.
  piece(kind, hash, decode) {
    const id = `${kind}-${hash}`;
    let promise = this.pieces.get(id);
    if (!promise) {
      promise = this.bytes(kind, hash).then(decode);
      promise.catch(() => this.pieces.delete(id));
      this.pieces.set(id, promise);
    }
    return promise;
  }

  /**
   * The shard a key (byte string) belongs to.
   * @param {string} key
   */
  shardOf(key) {
    return lastAtMost(this.shardFirst, key);
  }

  /**
   * The key piece of shard i.
   * @param {number} i
   * @returns {Promise<KeyPiece>}
   */
  keyPiece(i) {
    return this.piece("s", Bundle.hashAt(this.info.shards.keys, i), (b) => {
      const piece = decodeKeyPiece(b);
      if (piece.shard !== i) throw new PieceError(`the key piece of shard ${i} says it is ${piece.shard}`);
      return piece;
    });
  }

  /**
   * The positions of shard i (see decodePositionPiece).
   * @param {number} i
   * @returns {Promise<Int32Array[][][]>}
   */
  async positionPiece(i) {
    const keys = await this.keyPiece(i);
    return this.piece("p", Bundle.hashAt(this.info.shards.positions, i), (b) => decodePositionPiece(b, keys));
  }

  /**
   * The entry of a prefix (byte string) in the prefix pieces, or null when it needs none: when
   * all keys that begin with it lie in the one shard it falls in.
   * @param {string} prefix
   * @returns {Promise<PrefixEntry | null>}
   */
  async prefixEntry(prefix) {
    const hash = this.prefixPieceOf(prefix);
    if (hash === null) return null;
    const entries = await this.piece("x", hash, decodePrefixPiece);
    return entries.get(prefix) ?? { keys: [], postings: { pages: new Int32Array(0), values: new Int32Array(0), fields: null, counts: null } };
  }

  /**
   * Does prefix (a byte string) need a prefix piece that is not at hand?
   * @param {string} prefix
   */
  prefixPieceMissing(prefix) {
    const hash = this.prefixPieceOf(prefix);
    return hash !== null && !this.pieces.has(`x-${hash}`);
  }

  // The hash of the prefix piece that prefix needs, or null.
  prefixPieceOf(prefix) {
    if (!this.prefixSpansShards(prefix) || this.prefixFirst.length === 0) return null;
    return Bundle.hashAt(this.info.prefixes.hashes, lastAtMost(this.prefixFirst, prefix));
  }

  /**
   * May the keys that begin with prefix reach over more than one shard?
   * @param {string} prefix
   */
  prefixSpansShards(prefix) {
    const first = this.shardOf(prefix);
    let last = first;
    for (let i = first + 1; i < this.shardFirst.length && this.shardFirst[i].startsWith(prefix); ++i) last = i;
    return last !== first;
  }

  /**
   * The directory entry of page number page.
   * @param {number} page
   * @returns {Promise<DirectoryEntry>}
   */
  async directoryEntry(page) {
    const size = this.info.directory.size;
    const k = Math.floor(page / size);
    const list = await this.piece("d", Bundle.hashAt(this.info.directory.hashes, k), (b) => {
      const json = JSON.parse(new TextDecoder().decode(b));
      if (!Array.isArray(json)) throw new PieceError("a directory piece is not a list");
      return json;
    });
    const entry = list[page - k * size];
    return Array.isArray(entry) && entry.length >= 3 ? /** @type {DirectoryEntry} */ (entry) : null;
  }

  /**
   * The fragment of hash.
   * @param {string} hash
   * @returns {Promise<Fragment>}
   */
  fragment(hash) {
    return this.piece("f", hash, (b) => {
      const json = JSON.parse(new TextDecoder().decode(b));
      if (!json || typeof json !== "object") throw new PieceError("a fragment is not an object");
      return json;
    });
  }

  /**
   * The link of a URL relative to the site root, or null when it is not http(s).
   * @param {string} url
   * @returns {string | null}
   */
  link(url) {
    try {
      const made = new URL(url, this.siteRoot);
      return /^https?:$/.test(made.protocol) ? made.href : null;
    } catch {
      return null;
    }
  }
}

/**
 * The manifest at url, fetched past the HTTP cache's freshness (`no-cache`).
 * @param {string | URL} url
 * @returns {Promise<any>}
 */
export async function fetchManifest(url) {
  const name = decodeURIComponent(new URL(url).pathname.split("/").pop());
  let manifest;
  try {
    const response = await fetch(url, { cache: "no-cache", credentials: "same-origin" });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    manifest = await response.json();
  } catch (error) {
    throw new SearchError("noSettings", `${name} (${error.message})`);
  }
  if (!manifest || manifest.generator !== "quarry-cli web" || typeof manifest.version !== "number") {
    throw new SearchError("badSettings", name);
  }
  if (manifest.version === 2 && (typeof manifest.siteRoot !== "string" || !validBundle(manifest.bundle))) {
    throw new SearchError("badSettings", name);
  }
  return manifest;
}
