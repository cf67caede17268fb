// End to end in headless Firefox ESR over WebDriver BiDi: the same extension, the native host
// and the development server.
//
// usage: node e2e_firefox.mjs BIN_DIR     (BIN_DIR holds qsft, qsft-browser-host, qsft-devserver)
//
// Exits 0 when every step behaved, 1 on a failure, 77 when Firefox ESR or puppeteer-core is
// not installed (scripts/install-deps installs both). The browser gets a private HOME, where
// Firefox looks for the user's host manifests; the extension is installed as a temporary add-on.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {driverOrSkip, expect, run, startDevServer} from './harness.mjs';
import {checkScopeHandoff, dialogsUnavailable, findHost} from './scope_handoff.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const binDir = path.resolve(process.argv[2] || '');
const extension = path.resolve(process.argv[3] || path.join(here, '../extension'));
const FIREFOX = process.env.QSFT_FIREFOX || '/usr/bin/firefox-esr';

const puppeteer = driverOrSkip('puppeteer-core', FIREFOX);

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qsft-firefox-'));
const env = {
  ...process.env,
  QSFT_E2E_RUN: scratch,  // marks the host this run's browser starts
  HOME: path.join(scratch, 'home'),
  XDG_CONFIG_HOME: path.join(scratch, 'config'),
  XDG_DATA_HOME: path.join(scratch, 'data'),
  TMPDIR: scratch,
};
const root = path.join(scratch, 'root');
for (const d of [env.HOME, path.join(root, 'static/app')]) fs.mkdirSync(d, {recursive: true});
const SIZE = 2 * 1024 * 1024 + 5;
const bytes = Buffer.alloc(SIZE);
for (let i = 0; i < SIZE; i++) bytes[i] = (i * 7 + (i >> 9)) & 0xff;
fs.writeFileSync(path.join(root, 'contract.bin'), bytes);
fs.copyFileSync(path.join(here, 'page.html'), path.join(root, 'static/app/page.html'));

let server;
let browser;
const started = Date.now();
try {
  const policy = path.join(scratch, 'policy.reg');
  fs.writeFileSync(policy, 'Windows Registry Editor Version 5.00\n\n' +
      '[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\n' +
      '"1"="dms.localhost"\n');
  run(path.join(binDir, 'qsft'), ['reg', 'import', policy], env);
  run(path.join(binDir, 'qsft'), ['register', '--browser', 'firefox'], env);

  const dev = startDevServer(binDir, ['--root', root, '--port', '0', '--exit-after', '120',
                                      '--fault', 'query=file=contract.bin,set-cookie=visit=v1; Path=/; HttpOnly,times=always'],
                             env);
  server = dev.server;
  const port = await dev.port;

  browser = await puppeteer.launch({
    browser: 'firefox', protocol: 'webDriverBiDi', executablePath: FIREFOX, headless: true, env,
    extraPrefsFirefox: {'network.proxy.allow_hijacking_localhost': false},
    timeout: 30000,
  });
  await browser.installExtension(extension);
  const page = await browser.newPage();
  page.setDefaultTimeout(20000);
  await page.goto(`http://dms.localhost:${port}/static/app/page.html`);
  await page.waitForFunction(() => !!window.QSWebFileTransfer);
  const result = await page.evaluate(async () => {
    const poll = async (ctl, ticket) => {
      for (let i = 0; i < 400; i++) {
        const s = await ctl.GetTransferStatus(ticket);
        if (/^(10|-1)\|/.test(s)) return s;
        await new Promise((r) => setTimeout(r, 50));
      }
      return 'stuck';
    };
    const ctl = await window.QSWebFileTransfer.fromElement(document.getElementById('transfer'));
    await ctl.ChooseWorkDir();
    const target = (await ctl.get('UserWorkDir')) + '/contract.bin';
    const down = await poll(ctl, await ctl.StartFileDownload('/download?file=contract.bin', target));
    const up = await poll(ctl, await ctl.StartFileUpload('/upload', true, target, 512 * 1024));
    let unknown;
    try { await ctl.NoSuchEntry(); } catch (e) { unknown = e.code; }
    return {target, down, up, unknown};
  });
  console.log(JSON.stringify(result));
  expect(result.down === `10|${SIZE}|`, 'the download ended as ' + result.down);
  expect(Buffer.compare(fs.readFileSync(result.target), bytes) === 0, 'the downloaded bytes differ');
  expect(/^10\|/.test(result.up), 'the upload ended as ' + result.up);
  expect(result.unknown === -2147352570, 'an unknown name: ' + result.unknown);
  // The cookie that the server set in the download's answer is now the browser's.
  const visit = (await page.cookies()).filter((c) => c.name === 'visit');
  expect(visit.length === 1 && visit[0].value === 'v1' && visit[0].httpOnly,
         'the server\'s cookie in the browser: ' + JSON.stringify(visit));

  // A file picked in one tab reaches another tab only through the operation scope handed over.
  const whyNoDialogs = dialogsUnavailable();
  if (whyNoDialogs) {
    console.log('scope hand-over between tabs not checked: ' + whyNoDialogs);
  } else {
    const picked = path.join(scratch, 'picked', 'notes.txt');
    fs.mkdirSync(path.dirname(picked));
    fs.writeFileSync(picked, bytes.subarray(0, 3000));
    const handoff = await checkScopeHandoff({
      openPage: async () => {
        const p = await browser.newPage();
        p.setDefaultTimeout(20000);
        await p.goto(`http://dms.localhost:${port}/static/app/page.html`);
        await p.waitForFunction(() => !!window.QSWebFileTransfer);
        return p;
      },
      hostPid: () => findHost(path.join(binDir, 'qsft-browser-host'), `QSFT_E2E_RUN=${scratch}`),
      file: picked, size: 3000,
    });
    console.log('scope hand-over: ' + JSON.stringify(handoff));
  }
  console.log(`PASS (${((Date.now() - started) / 1000).toFixed(1)} s)`);
  process.exitCode = 0;
} catch (e) {
  console.error('FAIL: ' + (e && e.stack ? e.stack : e));
  process.exitCode = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(scratch, {recursive: true, force: true});
}
