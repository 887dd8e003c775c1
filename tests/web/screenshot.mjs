// Takes the README's picture of the search page: the sample site indexed with quarry-cli, its
// search page served on 127.0.0.1 and shown in headless Chromium with a query typed.
// Usage: node tests/web/screenshot.mjs OUT.png [QUERY]   (tools/screenshot-search runs it)
import { cpSync, mkdirSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { cli, hasCliCommand, launch, repo, scratch, serve } from "./harness.mjs";

const [out, query = "the guide"] = process.argv.slice(2);
const work = scratch("screenshot");
try {
  cpSync(join(repo, "tests/data/site"), join(work, "site"), { recursive: true, verbatimSymlinks: true });
  const run = (args) => {
    const result = cli(args, work);
    if (result.status !== 0) throw new Error(`quarry-cli ${args[0]}: ${result.stderr}`);
  };
  mkdirSync(join(work, "site/_search"));
  run(["index", "--no-progress", "-q", "--db", "site/_search", "site"]);
  if (hasCliCommand("web")) {
    run(["web", "--db", "site/_search", "--site-root", "site/"]);
  } else {
    cpSync(join(repo, "web"), join(work, "site/_search"), { recursive: true });
    writeFileSync(join(work, "site/_search/quarry-search.json"), JSON.stringify(
      { generator: "quarry-cli web", version: 1, index: "./", siteRoot: "../", strip: ["site/"] }));
  }
  const server = await serve(join(work, "site"));
  const browser = await launch();
  try {
    const page = await browser.newPage({ viewport: { width: 800, height: 680 } });
    await page.goto(`${server.origin}/_search/search.html`);
    await page.waitForSelector("[data-quarry-search][data-state=ready]");
    await page.type(".qs-input", query);
    // The results as they rest: with their excerpts and headings, which come once typing stops.
    await page.waitForFunction((typed) => document.querySelector("[data-quarry-search]")?.dataset.detailed === typed, query);
    await page.keyboard.press("ArrowDown");
    await page.screenshot({ path: out });
  } finally {
    await browser.close();
    server.close();
  }
  console.log(`Wrote ${out}`);
} finally {
  rmSync(work, { recursive: true, force: true });
}
