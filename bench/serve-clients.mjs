// What misbehaving clients cost `quarry-cli serve`: each case runs against a fresh server on
// 127.0.0.1 serving a small scratch site, and prints the answer's status, the time taken and the
// server's peak resident memory (VmHWM) and its resident memory after the case (VmRSS).
//
// Usage: node bench/serve-clients.mjs QUARRY_CLI [CASE...]
//   CASE: header-flood, unread-body, huge-put, slow-clients, burst, ranges, dotfiles-and-host
//   (default all). huge-put runs the server under a 1.5 GB address-space limit (prlimit).
// Targets: no case holds the server over 64 MB; a GET sent while 16 clients each send a byte
// every 2 s is answered within 1 s; every connection of a burst of 200 within 1 s.
import { spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { connect } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";

const [cli, ...wanted] = process.argv.slice(2);
if (!cli) {
  console.error("usage: node bench/serve-clients.mjs QUARRY_CLI [CASE...]");
  process.exit(2);
}

const site = mkdtempSync(join(tmpdir(), "serve-clients-"));
writeFileSync(join(site, "index.html"), "<p>home</p>");
writeFileSync(join(site, "file22.txt"), "0123456789abcdefghijkl");
writeFileSync(join(site, "big.dat"), Buffer.alloc(1 << 20));
writeFileSync(join(site, ".env"), "api_token=SECRET123");
mkdirSync(join(site, ".git"));
writeFileSync(join(site, ".git", "config"), "[core]");

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const mb = (kib) => `${(kib / 1024).toFixed(0)} MB`;

function memory(pid) {
  try {
    const status = readFileSync(`/proc/${pid}/status`, "utf8");
    const field = (name) => Number(new RegExp(`${name}:\\s+(\\d+)`).exec(status)[1]);
    return { peak: field("VmHWM"), now: field("VmRSS") };
  } catch {
    return { peak: NaN, now: NaN };
  }
}

async function startServer(limit) {
  const args = ["serve", site, "--port", "0"];
  const child = limit
    ? spawn("prlimit", [`--as=${limit}`, cli, ...args], { stdio: ["ignore", "pipe", "pipe"] })
    : spawn(cli, args, { stdio: ["ignore", "pipe", "pipe"] });
  let stderr = "";
  child.stderr.on("data", (chunk) => (stderr += chunk));
  const exited = new Promise((resolve) => child.on("exit", (code, signal) => resolve(signal ?? code)));
  const port = await new Promise((resolve, reject) => {
    let out = "";
    child.stdout.on("data", (chunk) => {
      out += chunk;
      const match = /:(\d+)\//.exec(out);
      if (match) resolve(Number(match[1]));
    });
    child.on("exit", () => reject(new Error(`the server ended: ${stderr}`)));
  });
  return { child, port, exited, stderr: () => stderr };
}

// Sends request (a string or Buffer), then reads until the server closes or ms pass. Returns
// the bytes received, whether the server closed, and how long it took.
function exchange(port, request, ms = 10000) {
  return new Promise((resolve) => {
    const started = performance.now();
    const socket = connect(port, "127.0.0.1");
    const chunks = [];
    let done = false;
    const finish = (closed) => {
      if (done) return;
      done = true;
      socket.destroy();
      resolve({ bytes: Buffer.concat(chunks), closed, ms: performance.now() - started });
    };
    socket.on("connect", () => socket.write(request));
    socket.on("data", (chunk) => chunks.push(chunk));
    socket.on("end", () => finish(true));
    socket.on("error", () => finish(true));
    setTimeout(() => finish(false), ms);
  });
}

const status = (answer) => answer.bytes.toString("latin1", 9, 12) || "none";
const get = (port, path, headers = "Host: 127.0.0.1\r\n") =>
  exchange(port, `GET ${path} HTTP/1.1\r\n${headers}Connection: close\r\n\r\n`);

// Writes size bytes made by piece() to a fresh connection as fast as the server takes them;
// stops at the first refused write. Returns the bytes taken and the time.
function flood(port, head, piece, size) {
  return new Promise((resolve) => {
    const started = performance.now();
    const socket = connect(port, "127.0.0.1");
    let sent = 0;
    let answer = "";
    const finish = () => {
      socket.destroy();
      resolve({ sent, ms: performance.now() - started, answer: answer.slice(9, 12) || "none" });
    };
    socket.on("data", (chunk) => (answer += chunk.toString("latin1")));
    socket.on("error", finish);
    socket.on("close", finish);
    const pump = () => {
      while (sent < size) {
        const chunk = piece();
        sent += chunk.length;
        if (!socket.write(chunk)) return socket.once("drain", pump);
      }
      socket.end();
    };
    socket.on("connect", () => {
      socket.write(head);
      pump();
    });
  });
}

const cases = {
  async "header-flood"(server) {
    const line = Buffer.from(`X-Flood: ${"a".repeat(990)}\r\n`);
    const result = await flood(server.port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n", () => line, 256 << 20);
    await sleep(1000);
    const after = await get(server.port, "/index.html");
    return `${mb(result.sent / 1024)} of header lines taken in ${result.ms.toFixed(0)} ms; a GET after: ${status(after)}`;
  },
  async "unread-body"(server) {
    const inner = "GET /file22.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const smuggled = await exchange(
      server.port, `PUT / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: ${inner.length}\r\n\r\n${inner}`, 3000);
    const answers = (smuggled.bytes.toString("latin1").match(/HTTP\/1\.1 \d\d\d/g) ?? []).join(", ");
    const body = Buffer.alloc(1 << 20, "a");
    const result = await flood(server.port,
      `PUT / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: ${300 << 20}\r\n\r\n`, () => body, 300 << 20);
    return `a body holding a GET: answered ${answers}; a 300 MB body: ${mb(result.sent / 1024)} taken in ${result.ms.toFixed(0)} ms`;
  },
  async "huge-put"(server) {
    const body = Buffer.alloc(1 << 20, "a");
    const result = await flood(server.port,
      `PUT / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: ${1200 << 20}\r\n\r\n`, () => body, 1200 << 20);
    await sleep(500);
    const after = await get(server.port, "/index.html");
    return `1.2 GB PUT: ${mb(result.sent / 1024)} taken in ${result.ms.toFixed(0)} ms; a GET after: ${status(after)}`;
  },
  async "slow-clients"(server) {
    const lines = [];
    for (const count of [8, 16]) {
      const slow = Array.from({ length: count }, () => connect(server.port, "127.0.0.1"));
      const request = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n";
      let sent = 0;
      const timer = setInterval(() => {
        sent += 1;
        for (const socket of slow) if (!socket.destroyed) socket.write(request[sent % request.length]);
      }, 2000);
      for (const socket of slow) {
        socket.on("error", () => {});
        socket.write(request[0]);
      }
      await sleep(3000);
      const answer = await get(server.port, "/index.html");
      clearInterval(timer);
      for (const socket of slow) socket.destroy();
      lines.push(`${count} slow: a GET took ${answer.ms.toFixed(0)} ms (${status(answer)})`);
      await sleep(12000);  // let every slow connection end before the next round
    }
    return lines.join("; ");
  },
  async burst(server) {
    const answers = await Promise.all(Array.from({ length: 200 }, () => get(server.port, "/index.html")));
    const times = answers.map((answer) => answer.ms).sort((a, b) => a - b);
    const ok = answers.filter((answer) => status(answer) === "200").length;
    const late = times.filter((ms) => ms > 1000).length;
    return `200 at once: ${ok} answered 200, ${late} took over 1 s, slowest ${times.at(-1).toFixed(0)} ms`;
  },
  async ranges(server) {
    const ask = async (path, range) => {
      const answer = await exchange(server.port,
        `GET ${path} HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: ${range}\r\nConnection: close\r\n\r\n`, 2000);
      const head = answer.bytes.toString("latin1").split("\r\n\r\n")[0];
      const length = /Content-Length: (\d+)/i.exec(head)?.[1] ?? "?";
      const contentRange = /Content-Range: ([^\r]*)/i.exec(head)?.[1] ?? "";
      return `${range.slice(0, 24)}${range.length > 24 ? "…" : ""} → ${status(answer)} ${contentRange} (${length} bytes)`;
    };
    return [
      await ask("/file22.txt", "bytes=100-200"),
      await ask("/file22.txt", "bytes=0-1,5-6"),
      await ask("/file22.txt", "bytes=5-2"),
      await ask("/big.dat", `bytes=${Array(800).fill("0-1048575").join(",")}`),
    ].join("; ");
  },
  async "dotfiles-and-host"(server) {
    const rows = [
      ["/.env", "Host: 127.0.0.1\r\n"],
      ["/.git/config", "Host: 127.0.0.1\r\n"],
      ["/index.html", "Host: rebound.example\r\n"],
      ["/index.html", ""],
    ];
    const out = [];
    for (const [path, host] of rows) {
      out.push(`${path} ${host.trim() || "no Host"} → ${status(await get(server.port, path, host))}`);
    }
    return out.join("; ");
  },
};

for (const name of wanted.length ? wanted : Object.keys(cases)) {
  const server = await startServer(name === "huge-put" ? 1610612736 : undefined);
  const pid = server.child.pid;  // prlimit execs the server in its own process
  const started = performance.now();
  let result;
  try {
    result = await cases[name](server);
  } catch (error) {
    result = `error: ${error.message}`;
  }
  const { peak, now } = memory(pid);
  const alive = server.child.exitCode === null && server.child.signalCode === null;
  console.log(`${name}: ${result}; ${((performance.now() - started) / 1000).toFixed(1)} s; ` +
    (alive ? `server peak ${mb(peak)}, resident after ${mb(now)}`
      : `server ended (${await server.exited}): ${server.stderr().trim().split("\n").at(-1)}`));
  server.child.kill("SIGTERM");
  await server.exited;
}
rmSync(site, { recursive: true, force: true });
