// End to end in headless Chromium: the extension, the native host and the development server.
//
// usage: node e2e_chromium.mjs BIN_DIR     (BIN_DIR holds qsft, qsft-browser-host, qsft-devserver)
//
// Exits 0 when every step behaved, 1 on a failure, 77 when Chromium or playwright-core is not
// installed (scripts/install-deps installs both). Everything lives in a fresh temporary folder:
// the browser profile, the settings store, the working directory, the served files. The page
// is reached as http://dms.localhost:PORT (the site lock's list allows that name; names under
// "localhost" reach 127.0.0.1 in the browser and in the host's HTTP client alike) and as
// later pages of other origins.
import {spawn, spawnSync} from 'node:child_process';
import {createRequire} from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const binDir = path.resolve(process.argv[2] || '');
const CHROMIUM = process.env.QSFT_CHROMIUM || '/usr/bin/chromium';
const SKIP = 77;
const STEP_MS = 20000;

let chromium;
try {
  chromium = createRequire(import.meta.url)('playwright-core').chromium;
} catch (e) {
  console.log('SKIP: playwright-core is not installed in browser/tests (scripts/install-deps)');
  process.exit(SKIP);
}
if (!fs.existsSync(CHROMIUM)) {
  console.log(`SKIP: ${CHROMIUM} is not installed (scripts/install-deps)`);
  process.exit(SKIP);
}

function expect(condition, what) {
  if (!condition) throw new Error(what);
}

function run(program, args, env) {
  const r = spawnSync(program, args, {env, encoding: 'utf8'});
  expect(r.status === 0, `${path.basename(program)} ${args.join(' ')}: ${r.stderr}`);
  return r.stdout;
}

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qsft-browser-'));
const env = {
  ...process.env,
  HOME: path.join(scratch, 'home'),
  XDG_CONFIG_HOME: path.join(scratch, 'config'),
  XDG_DATA_HOME: path.join(scratch, 'data'),
  TMPDIR: scratch,
};
const root = path.join(scratch, 'root');
const profile = path.join(scratch, 'profile');
for (const d of [env.HOME, root, path.join(root, 'static/app'), profile]) fs.mkdirSync(d, {recursive: true});
const DOCUMENT = 'contract.bin';
const SIZE = 3 * 1024 * 1024 + 17;
const bytes = Buffer.alloc(SIZE);
for (let i = 0; i < SIZE; i++) bytes[i] = (i * 31 + (i >> 11)) & 0xff;
fs.writeFileSync(path.join(root, DOCUMENT), bytes);
fs.copyFileSync(path.join(here, 'page.html'), path.join(root, 'static/app/page.html'));

let server;
let context;
const started = Date.now();
try {
  // The site lock allows one name; the host manifest sits in the fresh profile.
  const policy = path.join(scratch, 'policy.reg');
  fs.writeFileSync(policy, 'Windows Registry Editor Version 5.00\n\n' +
      '[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\n' +
      '"1"="dms.localhost"\n\n' +
      '[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\ZoneLock]\n' +
      '"TrustedZoneDisabled"=dword:00000001\n');
  run(path.join(binDir, 'qsft'), ['reg', 'import', policy], env);
  run(path.join(binDir, 'qsft'), ['register', '--browser', 'chromium', '--user-data-dir', profile], env);

  server = spawn(path.join(binDir, 'qsft-devserver'), ['--root', root, '--port', '0', '--exit-after', '120'],
                 {env, stdio: ['ignore', 'pipe', 'inherit']});
  const port = await new Promise((resolve, reject) => {
    let out = '';
    server.stdout.on('data', (d) => {
      out += d;
      const m = /listening on http:\/\/127\.0\.0\.1:(\d+)/.exec(out);
      if (m) resolve(m[1]);
    });
    server.on('exit', () => reject(new Error('the development server ended: ' + out)));
  });
  const origin = `http://dms.localhost:${port}`;

  const extension = path.resolve(here, '../extension');
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: false,  // the flag below selects the new headless mode, which loads extensions
    env,
    ignoreDefaultArgs: ['--disable-extensions'],
    args: [
      '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      `--disable-extensions-except=${extension}`, `--load-extension=${extension}`,
    ],
    timeout: STEP_MS,
  });
  context.setDefaultTimeout(STEP_MS);

  const page = await context.newPage();
  await page.goto(`${origin}/static/app/page.html`);
  const result = await page.evaluate(async ({DOCUMENT}) => {
    const log = [];
    const api = window.QSWebFileTransfer;
    if (!api) return {error: 'no window.QSWebFileTransfer'};
    const poll = async (ctl, ticket) => {
      for (let i = 0; i < 400; i++) {
        const s = await ctl.GetTransferStatus(ticket);
        if (s.startsWith('10|') || s.startsWith('-1|')) return s;
        await new Promise((r) => setTimeout(r, 50));
      }
      return 'stuck';
    };
    // By programmatic name, with the page's property bag.
    const ctl = await api.create({Url: location.origin + '/', DatasourceName: 'Archive', User: 'jdoe',
      UserWorkDir: '%LocalAppData%/Quillstone/WebWorkDir/%Datasource%/%User%'},
      {class: 'QSFILETRANSFER.QSWebFileTransferCtrl.2.2'});
    log.push(['chooseWorkDir', await ctl.ChooseWorkDir()]);
    const workDir = await ctl.get('userworkdir');
    const target = workDir + '/' + DOCUMENT;
    const ticket = await ctl.StartFileDownload('/download?file=' + DOCUMENT, target);
    const down = await poll(ctl, ticket);
    const upTicket = await ctl.call('StartFileUpload', '/upload', true, target, 1024 * 1024);
    const up = await poll(ctl, upTicket);
    let unknown;
    try { await ctl.NoSuchEntry(); } catch (e) { unknown = [e.code, e.message]; }
    // From the page's <object> element and its <param> children.
    const fromEl = await api.fromElement(document.getElementById('transfer'));
    const user = await fromEl.get('User');
    await fromEl.destroy();
    let afterDestroy;
    try { await fromEl.get('User'); } catch (e) { afterDestroy = e.message; }
    return {workDir, target, ticket, down, up, unknown, user, afterDestroy, log};
  }, {DOCUMENT});
  console.log(JSON.stringify(result));
  expect(!result.error, result.error);
  expect(result.down === `10|${SIZE}|`, 'the download ended as ' + result.down);
  expect(Buffer.compare(fs.readFileSync(result.target), bytes) === 0, 'the downloaded bytes differ');
  expect(!fs.existsSync(result.target + '.!incomplete'), 'a temporary file was left');
  expect(/^10\|/.test(result.up), 'the upload ended as ' + result.up);
  expect(result.unknown && result.unknown[0] === -2147352570, 'an unknown name: ' + result.unknown);
  expect(result.user === 'jdoe', 'fromElement did not take the <param> values: ' + result.user);
  expect(/destroyed/.test(result.afterDestroy || ''), 'a destroyed control still answered');

  console.log(`PASS (${((Date.now() - started) / 1000).toFixed(1)} s)`);
  await context.close();
  context = null;
  process.exitCode = 0;
} catch (e) {
  console.error('FAIL: ' + (e && e.stack ? e.stack : e));
  process.exitCode = 1;
} finally {
  if (context) await context.close().catch(() => {});
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(scratch, {recursive: true, force: true});
}
