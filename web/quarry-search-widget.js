// quarry web: generated file; quarry-cli web replaces it
//
// The search box's DOM: results as a listbox under a combobox (WAI-ARIA), counts in a live
// region, keyboard, `?q=` and the back button. The entry module (quarry-search.js) builds the
// label and the input and hands them over here when the box is first used.

import { loadSettings, open } from "./quarry-search-legacy.js";
import { foldCodePoint } from "./quarry-search-query.js";
import { LETTER_MARK_NUMBER } from "./quarry-search-text.js";

const FIRST_RESULTS = 50;
const MORE_RESULTS = 100;
const DEBOUNCE_MS = 80;
const opened = new Map(); // settings (JSON) -> promise of the index, shared by the widgets

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
  /** @param {import("./quarry-search.js").Box} box */
  constructor(box) {
    this.root = box.root;
    this.id = box.id;
    this.ownsHistory = box.ownsHistory;
    this.form = box.form;
    this.input = box.input;
    this.index = null;
    this.results = [];
    this.terms = [];
    this.shown = 0;
    this.active = -1;
    this.timer = 0;
    this.lastQuery = null;
    this.build();
  }

  build() {
    const id = this.id;
    this.input.setAttribute("aria-describedby", `${id}-help`);
    const help = element("p", { id: `${id}-help`, class: "qs-help" },
      "Pages holding every word are listed. End a word with * to find every word that begins " +
      "with it (instal*).");
    this.status = element("p", { class: "qs-status", role: "status", "aria-live": "polite" });
    this.notice = element("p", { class: "qs-notice", role: "alert", hidden: "" });
    this.list = element("ul", {
      id: `${id}-results`, class: "qs-results", role: "listbox", "aria-label": "Results",
    });
    this.more = element("button", { type: "button", class: "qs-more", hidden: "" });
    this.form.append(help);
    this.root.append(this.status, this.notice, this.list, this.more);

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
      const option = /** @type {HTMLElement} */ (event.target).closest?.("[role=option]");
      if (option) this.setActive(Number(/** @type {HTMLElement} */ (option).dataset.index), false);
    });
    if (this.ownsHistory) {
      window.addEventListener("popstate", () => {
        this.input.value = new URLSearchParams(location.search).get("q") ?? "";
        this.run(false);
      });
    }
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
    const terms = this.index.termsOf(query);
    this.terms = terms;
    this.results = this.index.rank(this.index.pagesFor(terms), terms);
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
