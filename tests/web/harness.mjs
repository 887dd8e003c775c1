// What the browser tests and the benchmark share: finding quarry-cli, serving a folder on
// 127.0.0.1, and launching Debian's Chromium through playwright-core.
import { spawn, spawnSync } from "node:child_process";
import { existsSync, mkdtempSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { extname, join, resolve, sep } from "node:path";
import { createReadStream, statSync } from "node:fs";
import { chromium } from "playwright-core";

export const repo = resolve(new URL("../..", import.meta.url).pathname);

// quarry-cli: $QUARRY_CLI, else the first build of it in the usual build folders.
export function findCli() {
  const candidates = [process.env.QUARRY_CLI && resolve(process.env.QUARRY_CLI),
    ...["test", "dev", "release"].map((b) => join(repo, "build", b, "src/cli/quarry-cli"))];
  const found = candidates.find((c) => c && existsSync(c));
  if (!found) throw new Error("quarry-cli not found: build it or set QUARRY_CLI");
  return found;
}

// Runs quarry-cli with args in cwd; returns { status, stdout (Buffer), stderr }.
export function cli(args, cwd) {
  const run = spawnSync(findCli(), args, { cwd, maxBuffer: 1 << 28 });
  if (run.error) throw run.error;
  return { status: run.status, stdout: run.stdout, stderr: run.stderr.toString() };
}

export function hasCliCommand(name) {
  return cli(["--help"], repo).stdout.toString().includes(`  ${name}`);
}

const TYPES = {
  ".html": "text/html; charset=utf-8", ".htm": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8", ".mjs": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8", ".json": "application/json",
  ".dat": "application/octet-stream",
};

// Serves folder on 127.0.0.1 with a small static server that answers with Last-Modified and
// revalidates (304), so that a browser's cache is warm on the next visit: the benchmark's server.
// Returns { origin, close() }.
export async function serveCached(folder) {
  const root = resolve(folder);
  const server = createServer((request, response) => {
    let path;
    try {
      path = resolve(root, "." + decodeURIComponent(new URL(request.url, "http://x").pathname));
    } catch {
      path = "";
    }
    if (path !== root && !path.startsWith(root + sep)) return response.writeHead(403).end();
    let stat;
    try {
      stat = statSync(path);
      if (stat.isDirectory()) {
        path = join(path, "index.html");
        stat = statSync(path);
      }
    } catch {
      return response.writeHead(404).end("not found");
    }
    const modified = stat.mtime.toUTCString();
    if (request.headers["if-modified-since"] === modified) return response.writeHead(304).end();
    response.writeHead(200, {
      "content-type": TYPES[extname(path).toLowerCase()] ?? "application/octet-stream",
      "content-length": stat.size,
      "last-modified": modified,
      "cache-control": "no-cache",
    });
    createReadStream(path).pipe(response);
  });
  await new Promise((done) => server.listen(0, "127.0.0.1", done));
  return { origin: `http://127.0.0.1:${server.address().port}`, close: () => server.close() };
}

// Serves folder on 127.0.0.1 with `quarry-cli serve --port 0`. Returns { origin, close() }.
export async function serve(folder) {
  const child = spawn(findCli(), ["serve", folder, "--port", "0"], { stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  const origin = await new Promise((done, fail) => {
    const timer = setTimeout(() => fail(new Error(`quarry-cli serve printed no URL: ${output}`)), 10000);
    const read = (chunk) => {
      output += chunk;
      const match = output.match(/http:\/\/127\.0\.0\.1:\d+/);
      if (match) {
        clearTimeout(timer);
        done(match[0]);
      }
    };
    child.stdout.on("data", read);
    child.stderr.on("data", read);
    child.on("exit", () => fail(new Error(`quarry-cli serve ended: ${output}`)));
  });
  return { origin, close: () => child.kill() };
}

// Debian's Chromium, headless, with a fresh profile (playwright-core makes one per launch).
export function launch() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
}

export function scratch(name) {
  return mkdtempSync(join(tmpdir(), `quarry-${name}-`));
}
