// The operation scope handed from one tab to another, shared by the browser end-to-end tests.
//
// In the first tab the user picks a file in the host's file picker (the desktop's dialog, which
// the test answers with key presses as a user would); the page publishes the scope with
// GetOperationScope. A second tab of the same site cannot upload that file until it adopts the
// scope with SetOperationScope; a third tab that presents the same identifier again gets
// nothing, because a published scope is taken once.
import {spawn, spawnSync} from 'node:child_process';
import fs from 'node:fs';

// Why the desktop's dialogs cannot be answered here, or '' when they can.
export function dialogsUnavailable() {
  if (!process.env.DISPLAY) return 'no display (scripts/with-display gives one)';
  // GLib hands memory between its threads through primitives ThreadSanitizer cannot see, so a
  // dialog in a host built with it ends in race reports inside GLib.
  if (process.env.QSFT_SANITIZE === 'thread') return 'the host is built with ThreadSanitizer';
  for (const tool of ['xdotool', 'flock']) {
    if (spawnSync('sh', ['-c', `command -v ${tool}`]).status !== 0) return `${tool} is not installed`;
  }
  return '';
}

// The pid of the running native host whose environment holds `marker` (NAME=VALUE), or 0.
export function findHost(program, marker) {
  const exe = fs.realpathSync(program);
  for (const pid of fs.readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      if (fs.readlinkSync(`/proc/${pid}/exe`) !== exe) continue;
      if (fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0').includes(marker)) return Number(pid);
    } catch (e) { /* ended meanwhile */ }
  }
  return 0;
}

// Waits (bounded) for a visible window of process `pid` and answers it as a user would, with
// xdotool commands (["key ctrl+l", "type /a/file", "key Return"]); typed text is the last word
// of its command. Keyboard focus is one per display, so this takes the same lock as the dialog
// tests of the native code.
export function answerWindow(pid, actions) {
  const lock = `/tmp/qsft-dialog-tests-${process.env.DISPLAY}.lock`;
  let script = `
    w=''
    for i in $(seq 1 300); do
      w=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1)
      [ -n "$w" ] && break
      sleep 0.1
    done
    [ -n "$w" ] || { echo "no window of the host appeared" >&2; exit 3; }`;
  const args = [];
  for (const action of actions) {
    const [verb, ...rest] = action.split(' ');
    args.push(rest.join(' '));
    const n = args.length + 1;
    script += verb === 'type' ? `\n    xdotool windowfocus --sync "$w" type --delay 10 "$${n}" || exit 4`
                              : `\n    xdotool windowfocus --sync "$w" key --clearmodifiers "$${n}" || exit 4`;
  }
  return new Promise((resolve, reject) => {
    const child = spawn('flock', ['-w', '60', lock, 'sh', '-c', script, 'sh', String(pid), ...args],
                        {stdio: ['ignore', 'ignore', 'pipe']});
    let err = '';
    child.stderr.on('data', (d) => { err += d; });
    child.on('error', reject);
    child.on('exit', (code) => (code === 0 ? resolve() : reject(new Error(`answering the host's window: ${code} ${err}`))));
  });
}

// Page code, run in the first tab: picks a file and publishes the scope.
export async function pickAndPublish() {
  const ctl = await window.QSWebFileTransfer.fromElement(document.getElementById('transfer'));
  window.scopeOwner = ctl;  // kept alive: its published scope lives with it
  const picked = await ctl.SelectFile();
  return {picked, scope: await ctl.GetOperationScope()};
}

// Page code: uploads `picked` with the control `window.handoff` (made on first use) and gives
// the end state, or "refused CODE".
export async function uploadPicked(picked) {
  window.handoff ??= await window.QSWebFileTransfer.fromElement(document.getElementById('transfer'));
  const ctl = window.handoff;
  let ticket;
  try {
    ticket = await ctl.StartFileUpload('/upload', true, picked, 64 * 1024);
  } catch (e) {
    return 'refused ' + e.code;
  }
  if (typeof ticket !== 'number' || ticket <= 0) return 'refused ' + JSON.stringify(ticket);
  for (let i = 0; i < 400; i++) {
    const s = await ctl.GetTransferStatus(ticket);
    if (/^(10|-1)\|/.test(s)) return s;
    await new Promise((r) => setTimeout(r, 50));
  }
  return 'stuck';
}

// Page code: adopts the published scope.
export async function adopt(scope) {
  window.handoff ??= await window.QSWebFileTransfer.fromElement(document.getElementById('transfer'));
  await window.handoff.SetOperationScope(scope);
}

// `promise`, or a failure naming `what` after `ms`.
function bounded(promise, what, ms = 60000) {
  let timer;
  const late = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error(what + ' did not end within ' + ms / 1000 + ' s')), ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// The whole hand-over; `openPage()` opens a new tab of the allowed site and resolves to it.
// A file outside every granted scope makes the host ask the user; the test says No. Throws when
// a step misbehaves.
export async function checkScopeHandoff({openPage, hostPid, file, size}) {
  const pid = hostPid();
  const first = await openPage();
  const [published] = await bounded(
      Promise.all([first.evaluate(pickAndPublish), answerWindow(pid, ['key ctrl+l', `type ${file}`, 'key Return'])]),
      'picking a file');
  if (published.picked !== file) throw new Error('the picker returned ' + published.picked);
  if (!/^\{?[0-9A-Fa-f-]{36}\}?$/.test(published.scope || '')) throw new Error('no scope identifier: ' + published.scope);

  const refusedUpload = async (tab, what) => {
    const [state] = await bounded(Promise.all([tab.evaluate(uploadPicked, file), answerWindow(pid, ['key Escape'])]), what);
    if (/^10\|/.test(state)) throw new Error(what + ' uploaded a file picked in another tab: ' + state);
    return state;
  };
  const second = await openPage();
  const before = await refusedUpload(second, 'a tab without the scope');
  await bounded(second.evaluate(adopt, published.scope), 'adopting the scope');
  const after = await bounded(second.evaluate(uploadPicked, file), 'the upload with the adopted scope');
  if (!after.startsWith(`10|${size}|`)) throw new Error('the upload with the adopted scope: ' + after);

  // A published scope is taken once: presenting its identifier again grants nothing.
  const third = await openPage();
  await bounded(third.evaluate(adopt, published.scope), 'adopting the scope again');
  const again = await refusedUpload(third, 'a tab that adopted a taken scope');
  for (const p of [first, second, third]) await p.close();
  return {before, after, again};
}
