// End to end in headless Chromium: the extension, the native host and the development server.
//
// usage: node e2e_chromium.mjs BIN_DIR     (BIN_DIR holds qsft, qsft-browser-host, qsft-devserver)
//
// Exits 0 when every step behaved, 1 on a failure, 77 when Chromium or playwright-core is not
// installed (scripts/install-deps installs both). Everything lives in a fresh temporary folder:
// the browser profile, the settings store, the working directory, the served files. The page
// is reached as http://dms.localhost:PORT (the site lock's list allows that name; names under
// "localhost" reach 127.0.0.1 in the browser and in the host's HTTP client alike) and as
// http://other.localhost:PORT (not allowed), as a page and as an iframe in an allowed page.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {driverOrSkip, expect, run, startDevServer} from './harness.mjs';
import {checkScopeHandoff, dialogsUnavailable, findHost as findHostWith} from './scope_handoff.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const binDir = path.resolve(process.argv[2] || '');
const CHROMIUM = process.env.QSFT_CHROMIUM || '/usr/bin/chromium';
const STEP_MS = 20000;

const {chromium} = driverOrSkip('playwright-core', CHROMIUM);

async function waitFor(condition, what, ms = 5000) {
  const end = Date.now() + ms;
  while (!condition()) {
    expect(Date.now() < end, what);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// The pid of the host that this run's browser started (it inherits QSFT_E2E_RUN), or 0.
const findHost = () => findHostWith(path.join(binDir, 'qsft-browser-host'), `QSFT_E2E_RUN=${scratch}`);

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qsft-browser-'));
const env = {
  ...process.env,
  QSFT_E2E_RUN: scratch,  // marks the host this run's browser starts
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

  // slow.bin stalls after its first 64 KiB, for the tab closed in the middle of a download.
  fs.writeFileSync(path.join(root, 'slow.bin'), bytes.subarray(0, 1024 * 1024));
  // private.bin needs the session cookie of a logged-in user.
  fs.writeFileSync(path.join(root, 'private.bin'), bytes.subarray(0, 4096));
  const dev = startDevServer(binDir, ['--root', root, '--port', '0', '--exit-after', '120',
                                      '--fault', 'query=slow.bin,stall=65536,stall-ms=20000',
                                      '--fault', 'query=file=private.bin,without-cookie=session=s3cret,status=403,times=always',
                                      '--fault', `query=file=${DOCUMENT},set-cookie=visit=v1; Path=/; HttpOnly,times=always`],
                             env);
  server = dev.server;
  const port = await dev.port;
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
    // The members of the interface description, in any letter case; a property as a method.
    const members = Object.keys(fromEl);
    const asMembers = [await fromEl.user(), await fromEl.CHOOSEWORKDIRWRAPPER(), 'selectfiles' in fromEl, 'NoSuchEntry' in fromEl];
    await fromEl.destroy();
    let afterDestroy;
    try { await fromEl.get('User'); } catch (e) { afterDestroy = e.message; }
    return {workDir, target, ticket, down, up, unknown, user, afterDestroy, log, members, asMembers};
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
  expect(result.members.length === 32 && result.members.includes('StartFileDownload') && result.members.includes('destroy'),
         'the control\'s members: ' + result.members);
  expect(JSON.stringify(result.asMembers) === '["jdoe",true,true,false]', 'members by name: ' + JSON.stringify(result.asMembers));
  // The cookie that the server set in the download's answer is now the browser's, for the
  // page's host only, HttpOnly as the server said.
  const visit = (await context.cookies()).filter((c) => c.name === 'visit');
  expect(visit.length === 1 && visit[0].value === 'v1' && visit[0].domain === 'dms.localhost' && visit[0].httpOnly,
         'the server\'s cookie in the browser: ' + JSON.stringify(visit));
  expect(!(await page.evaluate(() => document.cookie)).includes('visit'), 'an HttpOnly cookie reached the page');

  // A page of another origin is refused at create, and so is an iframe of that origin inside
  // an allowed page: the frame's own address counts, not the tab's.
  const refusedCreate = async (where) => where.evaluate(async () => {
    try {
      await window.QSWebFileTransfer.create({});
      return 'created';
    } catch (e) {
      return e.code;
    }
  });
  const other = await context.newPage();
  await other.goto(`http://other.localhost:${port}/static/app/page.html`);
  expect(await refusedCreate(other) === -2147467259, 'a page of another origin got a control');
  await other.close();
  await page.evaluate((src) => new Promise((resolve) => {
    const frame = document.createElement('iframe');
    frame.onload = resolve;
    frame.src = src;
    document.body.appendChild(frame);
  }), `http://other.localhost:${port}/static/app/page.html`);
  const frame = page.frames().find((f) => f.url().startsWith('http://other.localhost'));
  expect(frame, 'the iframe did not load');
  expect(await refusedCreate(frame) === -2147467259, 'an iframe of another origin got a control');
  expect(await refusedCreate(page) === 'created', 'the allowed page itself was refused');

  // One call's round trip page -> extension -> host -> page, measured (not judged).
  const roundTrip = await page.evaluate(async () => {
    const ctl = await window.QSWebFileTransfer.create({User: 'u'});
    const times = [];
    for (let i = 0; i < 200; i++) {
      const t = performance.now();
      await ctl.get('User');
      times.push(performance.now() - t);
    }
    await ctl.destroy();
    times.sort((a, b) => a - b);
    return times[times.length >> 1];
  });
  console.log(`round trip of one call: median ${roundTrip.toFixed(2)} ms over 200 calls`);

  // The server wants a session cookie: refused before the login, served after it. The cookie
  // is HttpOnly, so only the browser (never the page's script) can hand it over.
  const privateDownload = () => page.evaluate(async () => {
    const ctl = await window.QSWebFileTransfer.fromElement(document.getElementById('transfer'));
    await ctl.ChooseWorkDir();
    const ticket = await ctl.StartFileDownload('/download?file=private.bin', (await ctl.get('UserWorkDir')) + '/private.bin');
    for (let i = 0; i < 200; i++) {
      const s = await ctl.GetTransferStatus(ticket);
      if (/^(10|-1)\|/.test(s)) { await ctl.destroy(); return s; }
      await new Promise((r) => setTimeout(r, 50));
    }
    return 'stuck';
  });
  const beforeLogin = await privateDownload();
  expect(/^-1\|/.test(beforeLogin), 'a download without the session cookie: ' + beforeLogin);
  await context.addCookies([
    {name: 'session', value: 's3cret', domain: 'dms.localhost', path: '/', httpOnly: true},
    {name: 'session', value: 'not-for-you', domain: 'other.localhost', path: '/'},
  ]);
  const afterLogin = await privateDownload();
  expect(afterLogin === '10|4096|', 'a download with the session cookie: ' + afterLogin);

  // A tab closed in the middle of a download: its controls are destroyed and the transfer's
  // temporary file goes with them.
  const closing = await context.newPage();
  await closing.goto(`${origin}/static/app/page.html`);
  const partial = await closing.evaluate(async () => {
    const ctl = await window.QSWebFileTransfer.fromElement(document.getElementById('transfer'));
    await ctl.ChooseWorkDir();
    const target = (await ctl.get('UserWorkDir')) + '/slow.bin';
    const ticket = await ctl.StartFileDownload('/download?file=slow.bin', target);
    // The blocks are counted as they arrive: wait for all that come before the stall.
    let s = '';
    for (let i = 0; i < 200; i++) {
      s = await ctl.GetTransferStatus(ticket);
      if (!/^[12]\|\d+\|/.test(s) || /^\d+\|65536\|/.test(s)) break;
      await new Promise((r) => setTimeout(r, 50));
    }
    return {target, s};
  });
  expect(/^\d+\|65536\|/.test(partial.s), 'the slow download: ' + partial.s);
  expect(fs.existsSync(partial.target + '.!incomplete'), 'no temporary file during the download');
  await closing.close();
  await waitFor(() => !fs.existsSync(partial.target + '.!incomplete'), 'the temporary file is left after the tab closed');
  expect(!fs.existsSync(partial.target), 'a partial download took the final name');

  // A file picked in one tab reaches another tab only through the operation scope handed over.
  const whyNoDialogs = dialogsUnavailable();
  if (whyNoDialogs) {
    console.log('scope hand-over between tabs not checked: ' + whyNoDialogs);
  } else {
    const picked = path.join(scratch, 'picked', 'notes.txt');
    fs.mkdirSync(path.dirname(picked));
    fs.writeFileSync(picked, bytes.subarray(0, 5000));
    const handoff = await checkScopeHandoff({
      openPage: async () => {
        const p = await context.newPage();
        await p.goto(`${origin}/static/app/page.html`);
        return p;
      },
      hostPid: findHost, file: picked, size: 5000,
    });
    console.log('scope hand-over: ' + JSON.stringify(handoff));
  }

  // The host ends (a crash, say): the old controls reject with a clear error, and the next
  // create starts a new host.
  await page.evaluate(async () => { window.beforeCrash = await window.QSWebFileTransfer.create({}); });
  const hostPid = findHost();
  expect(hostPid, 'no qsft-browser-host of this run');
  process.kill(hostPid, 'SIGKILL');
  const afterCrash = await page.evaluate(async () => {
    let old = '';
    for (let i = 0; i < 100 && !old; i++) {
      try { await window.beforeCrash.get('User'); } catch (e) { old = e.message; }
      if (!old) await new Promise((r) => setTimeout(r, 50));
    }
    const ctl = await window.QSWebFileTransfer.create({User: 'again'});
    return [old, await ctl.get('User')];
  });
  expect(/host has ended/.test(afterCrash[0]), 'a control of the ended host: ' + afterCrash[0]);
  expect(afterCrash[1] === 'again', 'no new control after the host ended: ' + afterCrash[1]);
  expect(findHost() && findHost() !== hostPid, 'no new host after the crash');

  // Closing the browser closes the host's input; the host ends by itself.
  await context.close();
  context = null;
  const closed = Date.now();
  await waitFor(() => !findHost(), 'the host still runs after the browser closed');
  console.log(`host ended ${Date.now() - closed} ms after the browser closed`);
  console.log(`PASS (${((Date.now() - started) / 1000).toFixed(1)} s)`);
  process.exitCode = 0;
} catch (e) {
  console.error('FAIL: ' + (e && e.stack ? e.stack : e));
  process.exitCode = 1;
} finally {
  if (context) await context.close().catch(() => {});
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(scratch, {recursive: true, force: true});
}
