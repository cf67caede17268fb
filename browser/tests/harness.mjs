// What the browser tests, the browser bench and the browser demo share: the check for the browser
// and its npm driver, the development server with the port it listens on, and the small helpers
// that judge each step.
import {spawn, spawnSync} from 'node:child_process';
import {createRequire} from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

// The exit status that tells CTest a test was skipped.
export const SKIP = 77;

export function expect(condition, what) {
  if (!condition) throw new Error(what);
}

// The npm driver `pkg` (from this folder's node_modules), once it and the browser at
// `browserPath` are both installed; otherwise says what is missing and exits with SKIP.
export function driverOrSkip(pkg, browserPath) {
  let driver;
  try {
    driver = createRequire(import.meta.url)(pkg);
  } catch (e) {
    console.log(`SKIP: ${pkg} is not installed in browser/tests (scripts/install-deps)`);
    process.exit(SKIP);
  }
  if (!fs.existsSync(browserPath)) {
    console.log(`SKIP: ${browserPath} is not installed (scripts/install-deps)`);
    process.exit(SKIP);
  }
  return driver;
}

// Runs `program` to its end; throws with its standard error unless it exits 0. Returns its
// standard output.
export function run(program, args, env) {
  const r = spawnSync(program, args, {env, encoding: 'utf8'});
  expect(r.status === 0, `${path.basename(program)} ${args.join(' ')}: ${r.stderr}`);
  return r.stdout;
}

// Starts BIN_DIR/qsft-devserver with `args`; its standard error goes to `stderr` (a stdio
// setting). `port` resolves with the port it listens on, and rejects if it ends before that.
export function startDevServer(binDir, args, env, stderr = 'inherit') {
  const server = spawn(path.join(binDir, 'qsft-devserver'), args, {env, stdio: ['ignore', 'pipe', stderr]});
  const port = new Promise((resolve, reject) => {
    let out = '';
    server.stdout.on('data', (d) => {
      out += d;
      const m = /listening on http:\/\/127\.0\.0\.1:(\d+)/.exec(out);
      if (m) resolve(m[1]);
    });
    server.on('exit', () => reject(new Error('the development server ended: ' + out)));
  });
  return {server, port};
}
