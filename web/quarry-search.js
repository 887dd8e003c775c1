// quarry web: generated file; quarry-cli web replaces it
//
// Quarry site search: the one module a page with a search box loads. It puts a box on every
// element marked `data-quarry-search` and adds the style sheet; nothing else is fetched or
// imported until a box is focused or typed into (or the address asks for a search with ?q=).
//   <div data-quarry-search data-settings="/_search/quarry-search.json"></div>
//   <script type="module" src="/_search/quarry-search.js"></script>
// Scripts: `await openSearch(manifestUrl)` gives the search the manifest names
// (quarry-search-engine.js); `await open(folder)` the three index files in folder.

const here = import.meta.url;
export const SETTINGS_FILE = "quarry-search.json";

// The box's label before its translations are loaded, by the page's language.
export const LABELS = {
  en: "Search this site",
  de: "Diese Website durchsuchen",
  fr: "Rechercher sur ce site",
  es: "Buscar en este sitio",
  pt: "Pesquisar neste site",
  it: "Cerca in questo sito",
  nl: "Doorzoek deze site",
  pl: "Szukaj w tej witrynie",
  ru: "Поиск по сайту",
  uk: "Пошук на сайті",
  ja: "サイト内検索",
  zh: "搜索本站",
  ko: "사이트 검색",
};

// The modules a started box imports, directly or through others: fetched side by side when it
// starts rather than one level of imports after the other (each level a round trip).
export const WIDGET_MODULES = ["widget", "engine", "text", "bundle", "rank", "excerpt", "query", "fold"];

let boxes = 0;
let preloaded = false;

/**
 * The primary language subtag (lower case) of the nearest `lang` around node, or "".
 * @param {Element} node
 * @returns {string}
 */
export function languageOf(node) {
  const lang = node.closest("[lang]")?.getAttribute("lang") ?? "";
  return lang.split("-")[0].toLowerCase();
}

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

/**
 * What the entry module hands the widget module for one box.
 * @typedef {{ root: HTMLElement, id: string, ownsHistory: boolean, settingsUrl: string,
 *   lang: string, form: HTMLFormElement, label: HTMLElement, input: HTMLInputElement }} Box
 */

/**
 * Puts a search box on root. It starts (imports the widget, which loads the search) when it is
 * first focused or typed into, or at once when `?q=` asks for a search. settingsUrl defaults to
 * root's data-settings, else the settings file beside this module.
 * @param {HTMLElement} root
 * @param {string} [settingsUrl]
 * @returns {() => Promise<unknown>} starts the box now; resolves to its widget
 */
export function mount(root, settingsUrl = root.dataset.settings || new URL(SETTINGS_FILE, here).href) {
  const id = `quarry-search-${++boxes}`;
  const ownsHistory = boxes === 1;
  root.classList.add("quarry-search");
  const form = /** @type {HTMLFormElement} */ (element("form", { role: "search", class: "qs-form", action: "" }));
  const lang = languageOf(root);
  const label = element("label", { for: `${id}-input`, class: "qs-label" },
    root.dataset.textLabel ?? LABELS[lang] ?? LABELS.en);
  const input = /** @type {HTMLInputElement} */ (element("input", {
    type: "search", id: `${id}-input`, name: "q", class: "qs-input", autocomplete: "off",
    spellcheck: "false", role: "combobox", "aria-expanded": "false",
    "aria-controls": `${id}-results`, "aria-autocomplete": "list",
  }));
  form.append(label, input);
  root.replaceChildren(form);
  const query = ownsHistory ? new URLSearchParams(location.search).get("q") : null;
  if (query !== null) input.value = query;
  const prevent = (/** @type {Event} */ event) => event.preventDefault();
  form.addEventListener("submit", prevent);

  /** @type {Promise<unknown> | undefined} */
  let started;
  const start = () => {
    preload();
    started ??= import("./quarry-search-widget.js").then((widget) => {
      form.removeEventListener("submit", prevent);
      return widget.start({ root, id, ownsHistory, settingsUrl, lang, form, label, input });
    });
    return started;
  };
  input.addEventListener("focus", start, { once: true });
  input.addEventListener("input", start, { once: true });
  if (query !== null) start();
  else if (root.hasAttribute("data-autofocus")) input.focus();
  return start;
}

/**
 * Opens the search the manifest (or settings file) at url names: `search(query)` finds pages,
 * `items(found, from, to)` gives what results show (quarry-search-engine.js).
 * @param {string | URL} [url]
 */
export async function openSearch(url = new URL(SETTINGS_FILE, here)) {
  return (await import("./quarry-search-engine.js")).openSearch(url);
}

/**
 * Opens the three index files in folder baseUrl (quarry-search-legacy.js).
 * @param {string | URL} [baseUrl]
 * @param {object} [options]
 */
export async function open(baseUrl = new URL("./", here), options = {}) {
  return (await import("./quarry-search-legacy.js")).open(baseUrl, options);
}

function preload() {
  if (preloaded) return;
  preloaded = true;
  for (const name of WIDGET_MODULES) {
    document.head.append(element("link", { rel: "modulepreload", href: new URL(`quarry-search-${name}.js`, here).href }));
  }
}

function addStyleSheet() {
  const href = new URL("quarry-search.css", here).href;
  const links = document.querySelectorAll('link[rel~="stylesheet"]');
  if ([...links].some((link) => /** @type {HTMLLinkElement} */ (link).href === href)) return;
  document.head.append(element("link", { rel: "stylesheet", href }));
}

if (typeof document !== "undefined") {
  globalThis.performance?.mark?.("quarry-search:start");
  const roots = document.querySelectorAll("[data-quarry-search]");
  if (roots.length > 0) addStyleSheet();
  for (const root of roots) mount(/** @type {HTMLElement} */ (root));
}
