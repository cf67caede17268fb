// The control driven from a page in headless Chromium, for scripts/bench: one call's round trip
// page -> extension -> host -> page, and a download started from the page against the same
// download by `qsft download`. Not a test.
//
// usage: node browser_bench.mjs BIN_DIR ROOT FILE ROUNDS [CALLS]
//
// BIN_DIR holds qsft, qsft-browser-host and qsft-devserver; ROOT/FILE is the file to download
// (served by a development server this script starts on ROOT). Prints one line per round and a
// last line of key=value fields: roundtrip_median_ms, page_s and cli_s (the medians), ratio
// (the median of the per-round ratios page/cli). Everything else lives in a temporary folder.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {driverOrSkip, run, startDevServer} from '../browser/tests/harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '..');
const [binArg, rootArg, file, roundsArg, callsArg] = process.argv.slice(2);
if (!binArg || !rootArg || !file || !roundsArg) {
  console.error('usage: node browser_bench.mjs BIN_DIR ROOT FILE ROUNDS [CALLS]');
  process.exit(2);
}
const binDir = path.resolve(binArg);
const root = path.resolve(rootArg);
const rounds = Number(roundsArg);
const calls = Number(callsArg || 1000);
const CHROMIUM = process.env.QSFT_CHROMIUM || '/usr/bin/chromium';
const {chromium} = driverOrSkip('playwright-core', CHROMIUM);

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[s.length >> 1] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'qsft-browser-bench-'));
const env = {
  ...process.env,
  HOME: path.join(scratch, 'home'),
  XDG_CONFIG_HOME: path.join(scratch, 'config'),
  XDG_DATA_HOME: path.join(scratch, 'data'),
};
const profile = path.join(scratch, 'profile');
const pageDir = path.join(root, 'static/bench');
for (const d of [env.HOME, profile, pageDir]) fs.mkdirSync(d, {recursive: true});
fs.copyFileSync(path.join(repo, 'browser/tests/page.html'), path.join(pageDir, 'page.html'));

let server;
let context;
try {
  const policy = path.join(scratch, 'policy.reg');
  fs.writeFileSync(policy, 'Windows Registry Editor Version 5.00\n\n' +
      '[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\n' +
      '"1"="dms.localhost"\n');
  run(path.join(binDir, 'qsft'), ['reg', 'import', policy], env);
  run(path.join(binDir, 'qsft'), ['register', '--browser', 'chromium', '--user-data-dir', profile], env);
  const dev = startDevServer(binDir, ['--root', root, '--port', '0', '--exit-after', '3600'], env);
  server = dev.server;
  const port = await dev.port;
  const extension = path.join(repo, 'browser/extension');
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM, headless: false, env, ignoreDefaultArgs: ['--disable-extensions'],
    args: ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           `--disable-extensions-except=${extension}`, `--load-extension=${extension}`],
    timeout: 30000,
  });
  const page = await context.newPage();
  await page.goto(`http://dms.localhost:${port}/static/bench/page.html`);
  await page.evaluate(async () => {
    window.ctl = await window.QSWebFileTransfer.fromElement(document.getElementById('transfer'));
    if (!(await window.ctl.ChooseWorkDir())) throw new Error('no working directory');
    window.workDir = await window.ctl.get('UserWorkDir');
  });
  const workDir = await page.evaluate(() => window.workDir);

  // One call's round trip, timed in the page, after a warm-up.
  const roundTrip = await page.evaluate(async (n) => {
    for (let i = 0; i < 50; i++) await window.ctl.get('User');
    const times = [];
    for (let i = 0; i < n; i++) {
      const t = performance.now();
      await window.ctl.get('User');
      times.push(performance.now() - t);
    }
    times.sort((a, b) => a - b);
    return times[times.length >> 1];
  }, calls);
  console.log(`round trip of one call: median ${roundTrip.toFixed(3)} ms over ${calls} calls`);

  // The download from the page: from the call that starts it to the poll that sees it end, the
  // page polling every 20 ms as a progress bar would. The command line: the process's run.
  const url = `http://dms.localhost:${port}/download?file=${encodeURIComponent(file)}`;
  const pageTimes = [];
  const cliTimes = [];
  const ratios = [];
  for (let r = 0; r < rounds; r++) {
    const t = {};
    for (const who of r % 2 === 0 ? ['page', 'cli'] : ['cli', 'page']) {
      if (who === 'page') {
        const target = workDir + '/' + file;
        const done = await page.evaluate(async ({url, target}) => {
          const start = performance.now();
          const ticket = await window.ctl.StartFileDownload(url, target);
          for (;;) {
            const s = await window.ctl.GetTransferStatus(ticket);
            if (/^(10|-1)\|/.test(s)) return {s, seconds: (performance.now() - start) / 1000};
            await new Promise((resolve) => setTimeout(resolve, 20));
          }
        }, {url, target});
        if (!done.s.startsWith('10|')) throw new Error('the page download ended as ' + done.s);
        t.page = done.seconds;
        fs.rmSync(target, {force: true});
      } else {
        const target = path.join(scratch, 'cli', file);
        const start = process.hrtime.bigint();
        run(path.join(binDir, 'qsft'), ['download', '--quiet', url, target], env);
        t.cli = Number(process.hrtime.bigint() - start) / 1e9;
        fs.rmSync(target, {force: true});
      }
    }
    pageTimes.push(t.page);
    cliTimes.push(t.cli);
    ratios.push(t.page / t.cli);
    console.log(`  round ${r + 1}: page ${t.page.toFixed(3)} s, qsft download ${t.cli.toFixed(3)} s, ` +
                `ratio ${ratios[ratios.length - 1].toFixed(3)}`);
  }
  console.log(`roundtrip_median_ms=${roundTrip.toFixed(3)} page_s=${median(pageTimes).toFixed(3)} ` +
              `cli_s=${median(cliTimes).toFixed(3)} ratio=${median(ratios).toFixed(3)}`);
} catch (e) {
  console.error('browser bench: ' + (e && e.stack ? e.stack : e));
  process.exitCode = 1;
} finally {
  if (context) await context.close().catch(() => {});
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(scratch, {recursive: true, force: true});
  fs.rmSync(pageDir, {recursive: true, force: true});
}
