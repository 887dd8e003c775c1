// quarry web: generated file; quarry-cli web replaces it
//
// One face for the widget over the two kinds of index a page may have: the search bundle named
// by a manifest (version 2), or the three index files named by a settings file (version 1; their
// reader, quarry-search-legacy.js, is imported only for such a page).
//   const search = await openSearch(manifestUrl);
//   const found = await search.search("install guide", { typing: true });
//   const items = await search.items(found, 0, 10);   // what the first ten results show

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
 * @typedef {{ page: number, url: string | null, title: Segment[], path: string,
 *   excerpt: Excerpt | null, headings: { url: string, text: Segment[] }[] }} Item
 * @typedef {{ kind: string, lang: string, problems: string[],
 *   search(query: string, options?: { typing?: boolean }): Promise<Found>,
 *   items(found: Found, from: number, to: number): Promise<Item[]> }} Search
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
  }

  // Runs work; a piece that is missing or damaged makes it fetch the manifest once more: when
  // that names other pieces, the index changed under the page.
  async guarded(work) {
    try {
      return await work();
    } catch (error) {
      if (!(error instanceof PieceError)) throw error;
      let again = null;
      try {
        again = await fetchManifest(this.manifestUrl);
      } catch {
        // Unreachable now: taken as changed.
      }
      if (JSON.stringify(again?.bundle) !== JSON.stringify(this.manifest.bundle)) throw new SearchError("changed");
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

  /** @type {Search["items"]} */
  items(found, from, to) {
    return this.guarded(() => Promise.all(found.pages.slice(from, to).map(async (page) => {
      const entry = await this.bundle.directoryEntry(page);
      if (!entry) throw new PieceError(`page ${page} is not in the directory`);
      const [hash, title, url] = entry;
      const fragment = await this.bundle.fragment(hash);
      const link = this.bundle.link(url);
      const headings = [];
      for (const [anchor, text] of Array.isArray(fragment.headings) ? fragment.headings : []) {
        if (headings.length >= HEADINGS_SHOWN || !link || !anchor || !matchesText(text, found.mark)) continue;
        const target = new URL(link);
        target.hash = anchor;
        headings.push({ url: target.href, text: markText(text, found.mark) });
      }
      const text = typeof fragment.text === "string" ? fragment.text : "";
      return {
        page, url: link, title: markText(String(fragment.title ?? title), found.mark), path: shownUrl(url),
        excerpt: text ? excerpt(text, found.mark) : null, headings,
      };
    })));
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
