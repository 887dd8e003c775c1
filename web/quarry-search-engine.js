// quarry web: generated file; quarry-cli web replaces it
//
// One face for the widget over the two kinds of index a page may have: the search bundle named
// by a manifest (version 2), or the three index files named by a settings file (version 1; their
// reader, quarry-search-legacy.js, is imported only for such a page).
//   const search = await openSearch(manifestUrl);
//   const found = await search.search("install guide", { typing: true });
//   const items = await search.items(found, 0, 10);   // what the first ten results show
// A list that is shown at once takes two steps: listItems() gives titles and links from the
// bundle's directory, then itemDetails() each result's excerpt and headings from its fragment.

import { Bundle, fetchManifest, PieceError } from "./quarry-search-bundle.js";
import { excerpt, markText, matchesText } from "./quarry-search-excerpt.js";
import { searchBundle } from "./quarry-search-rank.js";
import { SearchError } from "./quarry-search-text.js";

/**
 * @typedef {import("./quarry-search-excerpt.js").Segment} Segment
 * @typedef {import("./quarry-search-excerpt.js").Excerpt} Excerpt
 * @typedef {{ pages: number[], terms: number, corrected: string | null,
 *   mark: (word: string) => number }} Found
 *   terms: how many terms the query had; corrected: the query as searched, when a word of it
 *   was corrected
 * @typedef {{ title: Segment[], excerpt: Excerpt | null,
 *   headings: { url: string, text: Segment[] }[] }} Details
 * @typedef {{ page: number, url: string | null, title: Segment[], path: string,
 *   excerpt: Excerpt | null, headings: { url: string, text: Segment[] }[] }} Item
 * @typedef {{ kind: string, lang: string, problems: string[],
 *   search(query: string, options?: SearchOptions): Promise<Found>,
 *   items(found: Found, from: number, to: number): Promise<Item[]>,
 *   listItems(found: Found, from: number, to: number): Promise<Item[]>,
 *   itemDetails(found: Found, page: number): Promise<Details | null> }} Search
 *   items: results as they show in full; listItems: the same without excerpts and headings
 *   where those need more to be fetched, itemDetails then gives them (null: nothing to add)
 * @typedef {{ typing?: boolean, waitForPrefix?: () => Promise<unknown> }} SearchOptions
 *   typing: the box's text as it is typed; waitForPrefix: see searchBundle (a bundle's search)
 */

const HEADINGS_SHOWN = 3;

// A URL below the site root for display: percent-decoded where that gives text.
function shownUrl(url) {
  try {
    return decodeURI(url);
  } catch {
    return url;
  }
}

/** The search of a bundle. */
class BundleSearch {
  /**
   * @param {URL} manifestUrl
   * @param {any} manifest
   */
  constructor(manifestUrl, manifest) {
    this.kind = "bundle";
    this.manifestUrl = manifestUrl;
    this.manifest = manifest;
    this.bundle = new Bundle(manifestUrl.href, manifest.bundle, manifest.siteRoot);
    this.lang = typeof manifest.bundle.lang === "string" ? manifest.bundle.lang : "";
    this.problems = [];
    /** @type {Promise<boolean> | undefined} */
    this.recheck = undefined;
  }

  // Runs work; a piece that is missing or damaged makes it fetch the manifest once more: when
  // that names other pieces, the index changed under the page. Faults that come together (the
  // fragments of one list) share one such fetch.
  async guarded(work) {
    try {
      return await work();
    } catch (error) {
      if (!(error instanceof PieceError)) throw error;
      this.recheck ??= fetchManifest(this.manifestUrl).catch(() => null).then((again) => {
        this.recheck = undefined;
        // Unreachable now: taken as changed.
        return JSON.stringify(again?.bundle) !== JSON.stringify(this.manifest.bundle);
      });
      if (await this.recheck) throw new SearchError("changed");
      throw new SearchError("damaged", error.message);
    }
  }

  /** @type {Search["search"]} */
  search(query, options) {
    return this.guarded(async () => {
      const answer = await searchBundle(this.bundle, query, options);
      return { pages: answer.pages, terms: answer.terms.length, corrected: answer.corrected, mark: answer.mark };
    });
  }

  /** @type {Search["listItems"]} */
  listItems(found, from, to) {
    return this.guarded(() => Promise.all(found.pages.slice(from, to).map(async (page) => {
      const [, title, url] = await this.entry(page);
      return {
        page, url: this.bundle.link(url), title: markText(title, found.mark), path: shownUrl(url),
        excerpt: null, headings: [],
      };
    })));
  }

  /** @type {Search["itemDetails"]} */
  itemDetails(found, page) {
    return this.guarded(async () => {
      const [hash, title, url] = await this.entry(page);
      const fragment = await this.bundle.fragment(hash);
      const link = this.bundle.link(url);
      const shownTitle = String(fragment.title ?? title);
      const headings = [];
      for (const [anchor, text] of Array.isArray(fragment.headings) ? fragment.headings : []) {
        if (headings.length >= HEADINGS_SHOWN || !link || !anchor || !matchesText(text, found.mark)) continue;
        if (text === shownTitle) continue;  // the result's own title says it already
        const target = new URL(link);
        target.hash = anchor;
        headings.push({ url: target.href, text: markText(text, found.mark) });
      }
      const text = typeof fragment.text === "string" ? fragment.text : "";
      return {
        title: markText(shownTitle, found.mark),
        excerpt: text ? excerpt(text, found.mark) : null, headings,
      };
    });
  }

  /** @type {Search["items"]} */
  async items(found, from, to) {
    const items = await this.listItems(found, from, to);
    const details = await Promise.all(items.map((item) => this.itemDetails(found, item.page)));
    return items.map((item, i) => ({ ...item, ...details[i] }));
  }

  /**
   * The directory entry of page; a page the directory does not hold means a damaged bundle.
   * @param {number} page
   * @returns {Promise<[string, string, string]>}
   */
  async entry(page) {
    const entry = await this.bundle.directoryEntry(page);
    if (!entry) throw new PieceError(`page ${page} is not in the directory`);
    return entry;
  }
}

/** The search of the three index files. */
class FileSearch {
  /**
   * @param {import("./quarry-search-legacy.js").SearchIndex} index
   * @param {typeof import("./quarry-search-legacy.js").termMatcher} termMatcher
   */
  constructor(index, termMatcher) {
    this.kind = "files";
    this.index = index;
    this.termMatcher = termMatcher;
    this.lang = "";
    this.problems = index.problems;
  }

  /** @type {Search["search"]} */
  async search(query) {
    const terms = this.index.termsOf(query);
    const pages = this.index.rank(this.index.pagesFor(terms), terms);
    return { pages, terms: terms.length, corrected: null, mark: this.termMatcher(terms) };
  }

  /** @type {Search["items"]} */
  async items(found, from, to) {
    return found.pages.slice(from, to).map((page) => {
      const result = this.index.result(page);
      return {
        page, url: result.url, title: markText(result.title || result.path, found.mark),
        path: this.index.shownPath(page), excerpt: null, headings: [],
      };
    });
  }

  /** @type {Search["listItems"]} */
  listItems(found, from, to) {
    return this.items(found, from, to);
  }

  /** @type {Search["itemDetails"]} */
  async itemDetails() {
    return null;
  }
}

/**
 * Opens the search that the manifest or settings file at url names.
 * @param {string | URL} url
 * @returns {Promise<Search>}
 */
export async function openSearch(url) {
  const where = new URL(url, globalThis.location?.href);
  const manifest = await fetchManifest(where);
  if (manifest.version === 2) return new BundleSearch(where, manifest);
  const { open, readSettings, termMatcher } = await import("./quarry-search-legacy.js");
  const settings = readSettings(manifest, where);
  return new FileSearch(await open(settings.index, settings), termMatcher);
}
