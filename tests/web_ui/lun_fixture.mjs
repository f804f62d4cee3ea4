// What the web UI tests share: a scratch application home with a small
// fixture folder, a running `lun --headless` on a free port, plain HTTP
// requests (from a chosen source address), and a tiny check counter that
// ends with the "N passed, N failed" line.
import { spawn, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const FIXED_CODE = '20316842';

// A second address of the test's own network namespace, outside 127/8:
// requests from it come from "another computer".
export const REMOTE_ADDRESS = '10.213.7.1';
// A second such address: another remote computer.
export const OTHER_REMOTE_ADDRESS = '10.213.7.2';

// Runs the calling test script again inside a new network namespace (as
// root, with unshare -n) whose loopback interface also carries
// REMOTE_ADDRESS and OTHER_REMOTE_ADDRESS. lun and its crawl service then
// have the namespace's ports to themselves, and clients can come from
// non-loopback addresses. Returns the nested run's exit code; null when
// running nested already or when no namespace can be made (the caller then
// runs where it is).
export function runIsolated(scriptUrl) {
  if (process.env.LUN_WEB_UI_NETNS) return null;
  if (spawnSync('unshare', ['-n', 'true']).status !== 0) return null;
  const quoted = [process.execPath, new URL(scriptUrl).pathname, ...process.argv.slice(2)]
    .map((a) => `'${a.replace(/'/g, "'\\''")}'`).join(' ');
  const script = `ip link set lo up && ip addr add ${REMOTE_ADDRESS}/32 dev lo && ` +
                 `ip addr add ${OTHER_REMOTE_ADDRESS}/32 dev lo && exec ${quoted}`;
  const run = spawnSync('unshare', ['-n', 'sh', '-c', script], {
    stdio: 'inherit', env: { ...process.env, LUN_WEB_UI_NETNS: '1' },
  });
  return run.status;
}

// Whether this run is inside the namespace of runIsolated.
export const isolated = () => process.env.LUN_WEB_UI_NETNS === '1';

// Parses "--name value" arguments.
export function parseArgs(argv) {
  const args = {};
  for (let i = 0; i < argv.length; i += 2) args[argv[i].replace(/^--/, '')] = argv[i + 1];
  return args;
}

export class Checks {
  constructor(name) {
    this.name = name;
    this.passed = 0;
    this.failed = 0;
    this.skipped = 0;
  }
  ok(condition, what, detail = '') {
    if (condition) {
      this.passed++;
      console.log(`  ok   ${what}`);
    } else {
      this.failed++;
      console.log(`  FAIL ${what}${detail ? `: ${detail}` : ''}`);
    }
    return condition;
  }
  equal(actual, expected, what) {
    return this.ok(actual === expected, what, `got ${JSON.stringify(actual)}, want ${JSON.stringify(expected)}`);
  }
  skip(what, why) {
    this.skipped++;
    console.log(`  skip ${what}: ${why}`);
  }
  // Runs one scenario; an exception counts as a failure and the next one runs.
  async scenario(title, body) {
    console.log(`${this.name}: ${title}`);
    try {
      await body();
    } catch (error) {
      this.failed++;
      console.log(`  FAIL ${title} threw: ${error && error.stack ? error.stack : error}`);
    }
  }
  finish() {
    const skipped = this.skipped ? `, ${this.skipped} skipped` : '';
    console.log(`${this.name}: ${this.passed} passed, ${this.failed} failed${skipped}`);
    return this.failed === 0 && this.passed > 0 ? 0 : 1;
  }
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export async function freePort(host = '127.0.0.1') {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, host, () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The settings file of a new home: plain INI text in section "检索设置"
// (a file without the container header is read as INI as it is).
function settingsText(values) {
  const lines = ['[检索设置]', ...Object.entries(values).map(([k, v]) => `${k}=${v}`)];
  return lines.join('\r\n') + '\r\n';
}

// Makes a scratch directory with home/ (settings pre-seeded so that only
// docs/ is scanned) and docs/ holding `files` ({name: content}).
export function makeScratch(prefix, files, extraSettings = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  const home = path.join(root, 'home');
  const docs = path.join(root, 'docs');
  fs.mkdirSync(home, { mode: 0o700 });
  fs.mkdirSync(docs);
  for (const [name, content] of Object.entries(files)) {
    fs.writeFileSync(path.join(docs, name), content);
  }
  fs.writeFileSync(path.join(home, 'Setting'), settingsText({
    '允许扫描': `|${docs}|`,
    '文档类型': '|TXT|HTM|HTML|',
    'AutoStart': 'FALSE',
    '实时监控': 'TRUE',
    '实时文件删除': 'TRUE',
    ...extraSettings,
  }));
  return { root, home, docs };
}

// Starts lun --headless on the scratch home; resolves with its base URL
// and session code once it printed the address of the search page.
export async function startLun(binDir, scratch, port) {
  const lun = path.join(binDir, 'lun');
  if (!fs.existsSync(lun)) throw new Error(`${lun} is missing: build the lun target first`);
  const env = {
    ...process.env,
    HOME: scratch.root,
    XDG_CONFIG_HOME: path.join(scratch.root, 'config'),
    XDG_DATA_HOME: path.join(scratch.root, 'data'),
    XDG_CACHE_HOME: path.join(scratch.root, 'cache'),
    LUN_HOME: scratch.home,
    // lun never scans its temporary directory; the fixture lies in the
    // system's, so lun gets one of its own inside the scratch directory.
    TMPDIR: path.join(scratch.root, 'tmp'),
    // A crawl service of its own: another lun may run beside this one.
    LUN_CRAWL_PORT: String(await freePort()),
  };
  fs.mkdirSync(env.TMPDIR, { recursive: true });
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  const child = spawn(lun, ['--headless', '--home', scratch.home, '--port', String(port)], {
    env, stdio: ['ignore', 'pipe', 'pipe'],
  });
  let output = '';
  const url = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`lun printed no address:\n${output}`)), 60000);
    const onData = (chunk) => {
      output += chunk;
      const m = output.match(/(http:\/\/127\.0\.0\.1:\d+\/LUN\/)home\.shl\?IDCODE=([0-9A-Za-z-]+)/);
      if (m) {
        clearTimeout(timer);
        resolve({ base: m[1], code: m[2] });
      }
    };
    child.stdout.on('data', onData);
    child.stderr.on('data', (chunk) => { output += chunk; });
    child.once('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`lun ended (${code}) before it printed an address:\n${output}`));
    });
  });
  return { child, ...url, port, log: () => output };
}

// Ends lun with SIGTERM (its shutdown sequence). With `checks`, a memory
// error that the sanitizer build reported while the pages ran is a failure.
export async function stopLun(lun, checks = null) {
  if (!lun) return;
  if (lun.child.exitCode === null) {
    const ended = new Promise((resolve) => lun.child.once('exit', resolve));
    lun.child.kill('SIGTERM');
    const timer = setTimeout(() => lun.child.kill('SIGKILL'), 30000);
    await ended;
    clearTimeout(timer);
  }
  if (checks) {
    const report = lun.log().match(/ERROR: AddressSanitizer[^\n]*|runtime error:[^\n]*/);
    checks.ok(report === null, 'lun reported no memory error', report ? report[0] : '');
  }
}

// One HTTP request. `options`: method, headers, body (form fields as an
// object, sent url-encoded), localAddress, host. Resolves with
// {status, headers, body}.
export function request(url, options = {}) {
  const target = new URL(url);
  const body = options.body ? new URLSearchParams(options.body).toString() : null;
  const headers = { ...(options.headers || {}) };
  if (body !== null) {
    headers['Content-Type'] = 'application/x-www-form-urlencoded';
    headers['Content-Length'] = Buffer.byteLength(body);
  }
  return new Promise((resolve, reject) => {
    const req = http.request({
      host: options.host || target.hostname,
      port: target.port,
      path: target.pathname + target.search,
      method: options.method || (body !== null ? 'POST' : 'GET'),
      headers,
      localAddress: options.localAddress,
      setHost: !('Host' in headers),
      timeout: 60000,
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({
        status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks).toString('utf8'),
      }));
      res.on('error', reject);
    });
    req.on('timeout', () => req.destroy(new Error(`time-out: ${url}`)));
    req.on('error', reject);
    if (body !== null) req.write(body);
    req.end();
  });
}

// The number a result or listing page shows in its element id="count".
export function countIn(html) {
  const m = html.match(/id="count">(\d+)</);
  return m ? Number(m[1]) : -1;
}

// Polls `probe` until it returns true (at most `ms`); false on time-out.
export async function waitFor(probe, ms, what) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await probe()) return true;
    await sleep(500);
  }
  console.log(`  (gave up waiting for ${what})`);
  return false;
}

// Polls the result page of `text` until it shows `count` results. A page
// that does not answer "200 OK" ends the wait at once: the pages do not run.
export async function waitForCount(lun, text, count, ms) {
  return waitFor(async () => {
    const r = await request(searchUrl(lun, text));
    if (r.status !== 200) throw new Error(`the search page answered ${r.status}: ${r.body.slice(0, 200)}`);
    return countIn(r.body) === count;
  }, ms, `${count} results for "${text}"`);
}

export function searchUrl(lun, text, extra = '') {
  return `${lun.base}Search.shl?IDCODE=${lun.code}&SearchText=${encodeURIComponent(text)}${extra}`;
}

// Debian's Chromium (or $LUN_CHROMIUM), headless, through playwright-core
// (installed by scripts/install_deps.sh into node_modules/ here), with its
// profile in `profileDir`. `extraArgs` are added to the command line. Ends
// the process with a message when playwright-core is missing.
export async function launchChromium(profileDir, { extraArgs = [], viewport } = {}) {
  const require = createRequire(import.meta.url);
  let chromium;
  try {
    ({ chromium } = require('playwright-core'));
  } catch {
    console.log('playwright-core is missing: run scripts/install_deps.sh (npm ci in tests/web_ui)');
    process.exit(1);
  }
  return chromium.launchPersistentContext(profileDir, {
    executablePath: process.env.LUN_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      ...extraArgs],
    ...(viewport ? { viewport } : {}),
  });
}

// One browser session on a fresh lun: starts lun on `scratch`, waits until
// each [word, count] of `indexed` is found (the first may take the whole
// first scan), opens Chromium (with `options.extraArgs` on its command
// line) and runs body(page, lun). An exception is a
// failed check followed by lun's log. Ends lun and Chromium, removes the
// scratch folder and returns the checks' exit status.
export async function browserSession(checks, binDir, scratch, indexed, body, options = {}) {
  let lun = null;
  let browser = null;
  try {
    lun = await startLun(binDir, scratch, await freePort());
    let found = true;
    for (const [i, [word, count]] of indexed.entries()) {
      found = found && await waitForCount(lun, word, count, i === 0 ? 120000 : 60000);
    }
    if (!checks.ok(found, 'the fixture folder is indexed')) return checks.finish();
    browser = await launchChromium(path.join(scratch.root, 'profile'), {
      viewport: { width: 1100, height: 800 }, extraArgs: options.extraArgs,
    });
    await body(browser.pages()[0] || await browser.newPage(), lun);
  } catch (error) {
    checks.ok(false, 'the test ran to its end', error && error.stack ? error.stack : String(error));
    if (lun) console.log(lun.log());
  } finally {
    if (browser) await browser.close();
    await stopLun(lun, checks);
    fs.rmSync(scratch.root, { recursive: true, force: true });
  }
  return checks.finish();
}
