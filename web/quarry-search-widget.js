// quarry web: generated file; quarry-cli web replaces it
//
// The search box's DOM: results as a listbox under a combobox (WAI-ARIA), counts in a live
// region, keyboard, `?q=` and the back button, its texts in the page's language. The entry
// module (quarry-search.js) builds the label and the input and hands them over here when the
// box is first used. Page text enters the DOM only as text nodes and attributes.
//
// A result shows as soon as its title and link are known; its excerpt and its headings (their
// fragment) are fetched only once the box's text has rested for REST_MS, or at once when the
// visitor asked for it (Enter, `?q=`, the back button, more results), and are filled in where
// the result stands. A search while typing that needs a prefix piece (a short prefix, mostly
// typed on the way to a longer word) waits as long before fetching it and the key piece the
// prefix falls in. The root's data-shown names the query whose results are on screen,
// data-detailed the one whose results are on screen in full.

import { openSearch } from "./quarry-search-engine.js";
import { ERROR_TEXTS } from "./quarry-search-text.js";

/**
 * @typedef {import("./quarry-search-engine.js").Search} Search
 * @typedef {import("./quarry-search-engine.js").Found} Found
 * @typedef {import("./quarry-search-engine.js").Item} Item
 * @typedef {import("./quarry-search-excerpt.js").Segment} Segment
 * @typedef {string | Record<string, string>} Text  plural texts by Intl.PluralRules category
 */

/** The box's texts in English; quarry-search-lang-LANG.json holds the same names. */
export const TEXTS = {
  title: "Search",
  label: "Search this site",
  help: "Pages holding every word are listed. \"Two words\" in quotes stand together; " +
    "a word ending in * finds every word that begins with it.",
  loading: "Loading the search index…",
  results: "Results",
  found: {"one": "{count} page found.", "other": "{count} pages found."},
  none: "No pages found.",
  nothing: "Nothing to search for: type a word of two letters or more.",
  corrected: "Showing results for {query}.",
  more: {"one": "Show {count} more ({left} left)", "other": "Show {count} more ({left} left)"},
  unavailable: "Search is not available. {reason}",
  partial: "Some of the search index could not be read (it may be being updated): " +
    "some results may be missing. Try again in a moment.",
  ...ERROR_TEXTS,
};

/** The languages that have a translation file beside this module. */
export const LANGUAGES = ["en", "de", "fr", "es", "pt", "it", "nl", "pl", "ru", "uk", "ja", "zh", "ko"];

const here = import.meta.url;
const FIRST_RESULTS = { bundle: 10, files: 50 };
const MORE_RESULTS = { bundle: 10, files: 100 };
const DEBOUNCE_MS = 80;
// The box's text rests when it has not changed this long: longer than most pauses between two
// keys of a word (about 240 ms on average for an average typist). The titles are on screen by
// then; only excerpts and the results of short prefixes wait. A space is no sign that the query
// is complete: it mostly comes before the next word.
const REST_MS = 300;
const searches = new Map(); // manifest URL -> promise of its search, shared by the boxes
const translations = new Map(); // language -> promise of its texts

/**
 * @param {string} tag
 * @param {Record<string, string>} [attributes]
 * @param {string} [text]
 * @returns {HTMLElement}
 */
function element(tag, attributes = {}, text) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// Marks a step in the page's performance timeline (read by bench/search-page.mjs).
function mark(step) {
  globalThis.performance?.mark?.(`quarry-search:${step}`);
}

/**
 * @param {Element} parent
 * @param {Segment[]} segments
 */
function appendSegments(parent, segments) {
  for (const { text, mark: marked } of segments) parent.append(marked ? element("mark", {}, text) : text);
}

/** @param {import("./quarry-search-excerpt.js").Excerpt} excerpt */
function excerptElement(excerpt) {
  const text = element("p", { class: "qs-excerpt" });
  if (excerpt.before) text.append("… ");
  appendSegments(text, excerpt.segments);
  if (excerpt.after) text.append(" …");
  return text;
}

/**
 * The texts of language lang: its translation file over the English ones. A language without a
 * file, or a file that cannot be had, gives English.
 * @param {string} lang
 * @returns {Promise<Record<string, Text>>}
 */
export function loadTexts(lang) {
  if (!LANGUAGES.includes(lang) || lang === "en") return Promise.resolve(TEXTS);
  let texts = translations.get(lang);
  if (!texts) {
    texts = fetch(new URL(`quarry-search-lang-${lang}.json`, here), { credentials: "same-origin" })
      .then((r) => (r.ok ? r.json() : {}))
      .catch(() => ({}))
      .then((json) => {
        const merged = { ...TEXTS };
        for (const name of Object.keys(TEXTS)) if (json?.[name]) merged[name] = json[name];
        return merged;
      });
    translations.set(lang, texts);
  }
  return texts;
}

class Widget {
  /** @param {import("./quarry-search.js").Box} box */
  constructor(box) {
    this.root = box.root;
    this.id = box.id;
    this.ownsHistory = box.ownsHistory;
    this.form = box.form;
    this.label = box.label;
    this.input = box.input;
    this.lang = box.lang;
    /** @type {Search | null} */
    this.search = null;
    /** @type {Record<string, Text>} */
    this.texts = TEXTS;
    /** @type {Found | null} */
    this.found = null;
    /** @type {HTMLElement[]} the listbox's options in DOM order */
    this.options = [];
    /** @type {HTMLElement | null} the active option */
    this.current = null;
    this.madeOptions = 0; // for the options' ids
    this.shown = 0;
    this.timer = 0;
    this.lastQuery = null;
    this.generation = 0;
    /** @type {{ option: HTMLElement, page: number }[]} results on screen without their details */
    this.waiting = [];
    this.detailsTimer = 0;
    this.hurry = false; // the visitor asked for this search: what it needs is fetched at once
    /** @type {(() => void) | null} checks at once whether the search may fetch (rested()) */
    this.wake = null;
    this.restTimer = 0;
    /** @type {Promise<unknown>[]} the details being fetched for the results on screen */
    this.fills = [];
    this.changed = 0; // when the box's text last changed (performance.now())
    this.typed = false;
    /** @type {{ query: string, found: Found } | null} the results on screen */
    this.result = null;
    this.build();
  }

  /**
   * The text name in the box's language (a site's data-text-NAME attribute first), with
   * {placeholders} filled in; count chooses the plural form.
   * @param {string} name
   * @param {Record<string, string | number>} [values]
   * @returns {string}
   */
  text(name, values = {}) {
    const own = this.root.dataset[`text${name[0].toUpperCase()}${name.slice(1)}`];
    let text = own ?? this.texts[name] ?? TEXTS[name];
    if (typeof text === "object") {
      const category = new Intl.PluralRules(this.lang || "en").select(Number(values.count ?? 0));
      text = text[category] ?? text.other;
    }
    return String(text).replace(/\{(\w+)\}/g, (whole, key) => {
      const value = values[key];
      if (value === undefined) return whole;
      return typeof value === "number" ? value.toLocaleString(this.lang || "en") : value;
    });
  }

  build() {
    const id = this.id;
    this.input.setAttribute("aria-describedby", `${id}-help`);
    this.help = element("p", { id: `${id}-help`, class: "qs-help" });
    this.status = element("p", { class: "qs-status", role: "status", "aria-live": "polite" });
    this.notice = element("p", { class: "qs-notice", role: "alert", hidden: "" });
    this.list = element("ul", { id: `${id}-results`, class: "qs-results", role: "listbox" });
    this.more = element("button", { type: "button", class: "qs-more", hidden: "" });
    this.form.append(this.help);
    this.root.append(this.status, this.notice, this.list, this.more);
    this.showTexts();

    this.input.addEventListener("input", () => this.schedule());
    this.input.addEventListener("keydown", (event) => this.onKey(event));
    this.form.addEventListener("submit", (event) => {
      event.preventDefault();
      if (this.active >= 0) this.follow(this.active);
      else this.run(true);
    });
    this.more.addEventListener("click", async () => {
      const first = this.options.length;
      await this.showMore();
      this.askDetails(true);
      this.setActive(first);
      this.input.focus();
    });
    this.list.addEventListener("mousemove", (event) => {
      const option = /** @type {HTMLElement} */ (event.target).closest?.("[role=option]");
      if (option) this.setActive(this.options.indexOf(/** @type {HTMLElement} */ (option)), false);
    });
    if (this.ownsHistory) {
      window.addEventListener("popstate", () => {
        this.input.value = new URLSearchParams(location.search).get("q") ?? "";
        this.run(false);
      });
    }
  }

  // The texts that do not change with the results; on search.html (data-quarry-page) also the
  // page's title, heading and language.
  showTexts() {
    if (this.root.hasAttribute("data-quarry-page")) {
      document.title = this.text("title");
      const heading = document.querySelector("h1");
      if (heading) heading.textContent = this.text("title");
      document.documentElement.lang = LANGUAGES.includes(this.lang) ? this.lang : "en";
    }
    this.label.textContent = this.text("label");
    this.help.textContent = this.text("help");
    this.list.setAttribute("aria-label", this.text("results"));
  }

  // Opens the search and runs the first one; the box's texts come beside it, not before it.
  async load(settingsUrl) {
    this.setStatus(this.text("loading"));
    let texts = loadTexts(this.lang);
    try {
      if (!searches.has(settingsUrl)) searches.set(settingsUrl, openSearch(settingsUrl));
      this.search = await searches.get(settingsUrl);
    } catch (error) {
      searches.delete(settingsUrl);
      this.useTexts(await texts);
      this.fail(error);
      return;
    }
    if (!this.lang && this.search.lang) {
      // A page without a language: the site's, as most of its pages declare it.
      this.lang = this.search.lang;
      texts = loadTexts(this.lang);
    }
    this.root.dataset.state = "ready";
    mark("ready");
    this.setStatus("");
    this.run(false, !this.typed);
    this.useTexts(await texts);
  }

  /** @param {Record<string, Text>} texts */
  useTexts(texts) {
    this.texts = texts;
    this.showTexts();
    if (this.search?.problems.length > 0) this.showNotice(this.text("partial"));
    this.showStatus();
  }

  fail(error) {
    this.setStatus("");
    const reason = error?.code ? this.text(error.code, { detail: error.detail }) : String(error?.message ?? error);
    this.showNotice(error?.code === "changed" ? reason : this.text("unavailable", { reason }));
    this.input.setAttribute("aria-invalid", "true");
    this.root.dataset.state = "error";
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
    clearTimeout(this.detailsTimer);
    this.changed = performance.now();
    this.typed = true;
    this.timer = setTimeout(() => this.run(false, false), DEBOUNCE_MS);
  }

  // Searches for the box's text; push adds an entry to the history (Enter), else it is replaced.
  // now: the visitor asked for this search (not a text being typed): details come at once.
  async run(push, now = true) {
    clearTimeout(this.timer);
    const query = this.input.value;
    if (this.ownsHistory) this.remember(query, push);
    if (!this.search) return;
    if (query === this.lastQuery) {
      this.hurry ||= now;
      this.wake?.();
      this.askDetails(this.hurry);
      return;
    }
    this.lastQuery = query;
    this.hurry = now;
    const generation = ++this.generation;
    this.wake?.();
    let found;
    try {
      found = await this.search.search(query, { typing: true, waitForPrefix: () => this.rested(generation) });
      if (generation !== this.generation) return;
      this.found = found;
      this.clear();
      await this.showMore();
    } catch (error) {
      if (generation === this.generation) this.fail(error);
      return;
    }
    if (generation !== this.generation) return;
    const count = found.pages.length;
    this.input.setAttribute("aria-expanded", String(count > 0));
    if (count > 0) mark("results");
    this.result = { query, found };
    this.showStatus();
    this.root.dataset.shown = query;
    if (this.waiting.length === 0) this.root.dataset.detailed = query;
    this.askDetails(this.hurry);
  }

  // The status line of the results on screen.
  showStatus() {
    if (!this.result) return;
    const { query, found } = this.result;
    const count = found.pages.length;
    let status = "";
    if (query.trim() === "") status = "";
    else if (found.terms === 0) status = this.text("nothing");
    else if (count === 0) status = this.text("none");
    else status = this.text("found", { count });
    if (found.corrected && count > 0) status = `${this.text("corrected", { query: found.corrected })} ${status}`;
    this.setStatus(status);
    this.showMoreButton();
  }

  clear() {
    this.list.replaceChildren();
    this.options = [];
    this.current = null;
    this.shown = 0;
    this.waiting = [];
    this.fills = [];
    clearTimeout(this.detailsTimer);
    this.input.removeAttribute("aria-activedescendant");
  }

  remember(query, push) {
    const url = new URL(location.href);
    if (query === "") url.searchParams.delete("q");
    else url.searchParams.set("q", query);
    if (url.href === location.href) return;
    if (push) history.pushState(null, "", url);
    else history.replaceState(null, "", url);
  }

  // Fetches the details of the results on screen that have none yet: at once when now, else
  // once the box's text has rested.
  askDetails(now) {
    clearTimeout(this.detailsTimer);
    if (this.waiting.length === 0) return;
    const wait = now ? 0 : Math.max(0, this.changed + REST_MS - performance.now());
    this.detailsTimer = setTimeout(() => this.fillDetails(), wait);
  }

  // Resolves once the box's text has rested, at once when the visitor asked for the search;
  // rejects when a newer search has begun.
  rested(generation) {
    return new Promise((resolve, reject) => {
      const check = () => {
        clearTimeout(this.restTimer);
        const left = this.changed + REST_MS - performance.now();
        if (generation !== this.generation) reject(new Error("a newer search has begun"));
        else if (this.hurry || left <= 0) resolve(undefined);
        else {
          this.restTimer = setTimeout(check, left);
          return;
        }
        if (this.wake === check) this.wake = null;
      };
      this.wake = check;
      check();
    });
  }

  async fillDetails() {
    const { found, generation, fills } = this;
    const query = this.root.dataset.shown;
    const waiting = this.waiting;
    this.waiting = [];
    const done = Promise.all(waiting.map(async ({ option, page }) => {
      let details;
      try {
        details = await this.search.itemDetails(found, page);
      } catch (error) {
        if (generation === this.generation) this.fail(error);
        return;
      }
      if (generation === this.generation && details) this.fill(option, details);
    }));
    fills.push(done);
    await Promise.all(fills);
    if (generation === this.generation && this.waiting.length === 0) this.root.dataset.detailed = query;
  }

  // Shows the next results: their titles and links, their details where they have them.
  async showMore() {
    const found = this.found;
    if (!found) return;
    const kind = this.search.kind;
    const end = Math.min(found.pages.length, this.shown + (this.shown === 0 ? FIRST_RESULTS[kind] : MORE_RESULTS[kind]));
    const from = this.shown;
    this.shown = end;
    const items = await this.search.listItems(found, from, end);
    if (found !== this.found) return;
    for (const item of items) {
      const option = this.append(item);
      if (kind === "bundle") this.waiting.push({ option, page: item.page });
    }
    this.showMoreButton();
  }

  showMoreButton() {
    const found = this.found;
    if (!found || !this.search) return;
    const left = found.pages.length - this.shown;
    this.more.hidden = left === 0;
    this.more.textContent = left === 0 ? "" :
      this.text("more", { count: Math.min(left, MORE_RESULTS[this.search.kind]), left });
  }

  // A new option of the listbox (not yet in it).
  option(attributes, className) {
    return element("li", {
      id: `${this.id}-r${++this.madeOptions}`, role: "option", "aria-selected": "false", class: className,
      ...attributes,
    });
  }

  /**
   * Appends a result to the listbox.
   * @param {Item} item
   * @returns {HTMLElement} its option
   */
  append(item) {
    const li = this.option({ "data-page": String(item.page) }, "qs-result");
    const title = element("span", { class: "qs-title" });
    appendSegments(title, item.title);
    if (item.url) {
      const link = element("a", { href: item.url, class: "qs-link", tabindex: "-1" });
      link.append(title);
      li.append(link);
    } else {
      li.append(title);
      li.classList.add("qs-unlinked");
    }
    if (item.excerpt) li.append(excerptElement(item.excerpt));
    li.append(element("span", { class: "qs-path" }, item.path));
    this.list.append(li);
    this.options.push(li);
    this.addHeadings(li, item.headings);
    return li;
  }

  /**
   * Fills in a result's details where it stands.
   * @param {HTMLElement} option the result's option
   * @param {import("./quarry-search-engine.js").Details} details
   */
  fill(option, { title, excerpt, headings }) {
    const shown = option.querySelector(".qs-title");
    if (shown.textContent !== title.map((s) => s.text).join("")) {
      shown.replaceChildren();
      appendSegments(shown, title);
    }
    if (excerpt) option.querySelector(".qs-path").before(excerptElement(excerpt));
    this.addHeadings(option, headings);
  }

  /**
   * Puts a result's headings right after it, as options of their own; the active option stays
   * the one it was.
   * @param {HTMLElement} option the result's option
   * @param {Item["headings"]} headings
   */
  addHeadings(option, headings) {
    if (headings.length === 0) return;
    const subs = headings.map((heading) => {
      const sub = this.option({}, "qs-subresult");
      const link = element("a", { href: heading.url, class: "qs-link qs-heading", tabindex: "-1" });
      appendSegments(link, heading.text);
      sub.append(link);
      return sub;
    });
    option.after(...subs);
    this.options.splice(this.options.indexOf(option) + 1, 0, ...subs);
  }

  // The active option's place in the options, or -1.
  get active() {
    return this.current ? this.options.indexOf(this.current) : -1;
  }

  setActive(i, scroll = true) {
    if (i >= this.options.length) return;
    this.current?.setAttribute("aria-selected", "false");
    this.current = i < 0 ? null : this.options[i];
    if (!this.current) {
      this.input.removeAttribute("aria-activedescendant");
      return;
    }
    const option = this.current;
    option.setAttribute("aria-selected", "true");
    this.input.setAttribute("aria-activedescendant", option.id);
    if (scroll) option.scrollIntoView({ block: "nearest" });
  }

  follow(i) {
    const link = this.options[i]?.querySelector("a");
    if (link) link.click();
  }

  async onKey(event) {
    if (event.isComposing) return;
    switch (event.key) {
      case "ArrowDown":
        event.preventDefault();
        if (this.active + 1 >= this.options.length && this.shown < (this.found?.pages.length ?? 0)) {
          await this.showMore();
          this.askDetails(true);
        }
        if (this.active + 1 < this.options.length) this.setActive(this.active + 1);
        return;
      case "ArrowUp":
        this.setActive(Math.max(-1, this.active - 1));
        break;
      case "Home":
      case "End":
        if (this.active < 0) return;
        this.setActive(event.key === "Home" ? 0 : this.options.length - 1);
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

/**
 * Takes over a box the entry module built and loads its search.
 * @param {import("./quarry-search.js").Box} box
 * @returns {Widget}
 */
export function start(box) {
  const widget = new Widget(box);
  widget.load(box.settingsUrl);
  return widget;
}
