// The demo page in Chromium with the extension: the page's whole flow through
// window.QSWebFileTransfer, against the development server on 127.0.0.1.
//
// usage: node demo_browser.mjs BIN_DIR ARTIFACT_DIR [--window]
//
// The page runs the flow by itself (its "#run" mode; the server breaks the download midway
// once), the script waits for its verdict, keeps a screenshot as ARTIFACT_DIR/demo-browser.png
// and exits 0 when every step behaved, 1 otherwise. Headless, unless --window: then the window
// stays open for a person to go on trying (pick files, download the others) and the script
// ends when it is closed. Everything (profile, settings,
// working directory, served files) lives in a fresh temporary folder that is removed at the
// end; the server and the browser never outlive the script.
import {createRequire} from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {run, startDevServer} from '../browser/tests/harness.mjs';

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const binDir = path.resolve(process.argv[2] || 'build/bin');
const artifacts = path.resolve(process.argv[3] || 'build/artifacts');
const windowed = process.argv.includes('--window');
const CHROMIUM = process.env.QSFT_CHROMIUM || '/usr/bin/chromium';
const FLOW_MS = 60000;
const MIB = 1024 * 1024;

const {chromium} = createRequire(path.join(repo, 'browser/tests/package.json'))('playwright-core');

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qsft-demo-browser-'));
const env = {
  ...process.env,
  HOME: path.join(scratch, 'home'),
  XDG_CONFIG_HOME: path.join(scratch, 'config'),
  XDG_DATA_HOME: path.join(scratch, 'data'),
  TMPDIR: scratch,
};
const root = path.join(scratch, 'root');
const profile = path.join(scratch, 'profile');
const pageDir = path.join(root, 'static/demo');
for (const d of [env.HOME, pageDir, profile]) fs.mkdirSync(d, {recursive: true});

// A few documents for the server, and the list the page shows.
const documents = [
  ['contract.pdf', Buffer.alloc(8 * MIB, 'contract ')],
  ['minutes.txt', Buffer.from('Minutes of the board meeting.\n'.repeat(40))],
  ['offer.odt', Buffer.from('PK\x03\x04 an offer, as far as this demo is concerned\n'.repeat(200))],
];
for (const [name, bytes] of documents) fs.writeFileSync(path.join(root, name), bytes);
fs.writeFileSync(path.join(pageDir, 'documents.json'),
                 JSON.stringify(documents.map(([name, bytes]) => ({name, size: bytes.length}))));
for (const f of fs.readdirSync(path.join(repo, 'browser/demo'))) {
  fs.copyFileSync(path.join(repo, 'browser/demo', f), path.join(pageDir, f));
}

let server;
let context;
const started = Date.now();
const end = async () => {
  if (context) await context.close().catch(() => {});
  context = null;
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(scratch, {recursive: true, force: true});
};
process.on('SIGINT', () => end().then(() => process.exit(130)));

try {
  // The site lock allows the one name the page is reached by; the host manifest sits in the
  // fresh profile, naming the qsft-browser-host of BIN_DIR.
  const policy = path.join(scratch, 'policy.reg');
  fs.writeFileSync(policy, 'Windows Registry Editor Version 5.00\n\n' +
      '[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\n' +
      '"1"="dms.localhost"\n\n' +
      '[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\ZoneLock]\n' +
      '"TrustedZoneDisabled"=dword:00000001\n');
  run(path.join(binDir, 'qsft'), ['reg', 'import', policy], env);
  run(path.join(binDir, 'qsft'), ['register', '--browser', 'chromium', '--user-data-dir', profile], env);

  // The server breaks the first download midway, once; the control resumes it.
  const dev = startDevServer(binDir, ['--root', root, '--port', '0', '--exit-after', windowed ? '3600' : '120',
                                      '--fault', `break-after=${3 * MIB},times=1,path=/download`, '--log'],
                             env, 'pipe');
  server = dev.server;
  let requestLog = '';  // one line per request, on the server's standard error
  server.stderr.on('data', (d) => { requestLog += d; });
  const port = await dev.port;
  // Names below "localhost" reach 127.0.0.1 in the browser and in the host alike.
  const address = `http://dms.localhost:${port}/static/demo/index.html`;

  const extension = path.join(repo, 'browser/extension');
  const args = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync',
                `--disable-extensions-except=${extension}`, `--load-extension=${extension}`];
  if (!windowed) args.unshift('--headless=new');  // the new headless mode loads extensions
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM, headless: false, env, args,
    ignoreDefaultArgs: ['--disable-extensions'],
    viewport: windowed ? null : {width: 1000, height: 900},
  });
  const page = context.pages()[0] || await context.newPage();

  await page.goto(address + '#run');
  if (windowed) console.log(`demo: ${address} is open in Chromium; close the window to end.`);
  await page.waitForFunction(() => document.body.dataset.result, null, {timeout: FLOW_MS});
  const result = await page.evaluate(() => document.body.dataset.result);
  console.log(await page.evaluate(() => document.getElementById('log').innerText));
  fs.mkdirSync(artifacts, {recursive: true});
  const shot = path.join(artifacts, 'demo-browser.png');
  await page.screenshot({path: shot, fullPage: true});
  console.log(`screenshot: ${shot}`);
  if (result !== 'passed') throw new Error(result);
  const saved = path.join(env.XDG_DATA_HOME, 'Quillstone/WebWorkDir/Archive/jdoe', documents[0][0]);
  if (!fs.readFileSync(saved).equals(documents[0][1])) throw new Error('the downloaded bytes differ');
  const requests = requestLog.split('\n').filter((l) => /^conn=\d+ (GET \/download|POST)/.test(l));
  console.log("The server's log:\n  " + requests.join('\n  '));
  if (!requests.some((l) => /resumeAt=/.test(l))) throw new Error('the broken download was not resumed');
  const took = ((Date.now() - started) / 1000).toFixed(1);
  console.log(`demo: every step behaved as expected in the browser (${took} s).`);
  if (windowed) {
    await new Promise((resolve) => context.on('close', resolve));
    context = null;
  }
  process.exitCode = 0;
} catch (e) {
  console.error('demo: FAILED: ' + (e && e.message ? e.message : e));
  process.exitCode = 1;
} finally {
  await end();
}
