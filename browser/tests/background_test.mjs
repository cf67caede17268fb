// The extension's background (bg.js) without a browser: its browser API is a small stand-in that
// records what goes to the native host and to the pages, so that the ways a host can fail are
// played out exactly, one step at a time. Run: node background_test.mjs
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import {fileURLToPath} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const source = fs.readFileSync(path.join(here, '..', 'extension', 'bg.js'), 'utf8');

function event() {
  const listeners = [];
  return {addListener: (f) => listeners.push(f), fire: (...args) => listeners.forEach((f) => f(...args))};
}

// A native port: `dead` makes it refuse messages as a port whose host has gone.
function nativePort(name) {
  return {
    name, sent: [], dead: false, onMessage: event(), onDisconnect: event(),
    postMessage(message) {
      if (this.dead) throw new Error('Attempting to use a disconnected port object');
      this.sent.push(JSON.parse(JSON.stringify(message)));
    },
  };
}

// Loads bg.js with a browser whose connectNative throws `refuse` when given.
function background({refuse} = {}) {
  const natives = [];
  const api = {
    runtime: {
      lastError: null,
      onConnect: event(),
      connectNative(name) {
        if (refuse) throw new Error(refuse);
        natives.push(nativePort(name));
        return natives.at(-1);
      },
    },
    cookies: {getAll: async () => [], set: async () => {}, remove: async () => {}},
  };
  vm.runInNewContext(source, {chrome: api, console, URL});
  return {api, natives};
}

function openPage(api) {
  const page = {
    name: 'qsft-page', answers: [], onMessage: event(), onDisconnect: event(),
    sender: {url: 'https://dms.example/app/page.html', origin: 'https://dms.example', tab: {id: 1}, frameId: 0, documentId: 'd1'},
    // As structured clones: plain objects of this realm.
    postMessage(message) { this.answers.push(JSON.parse(JSON.stringify(message))); },
  };
  api.runtime.onConnect.fire(page);
  return page;
}

// Lets the background's promise chains run to their end.
const settle = async () => { for (let i = 0; i < 10; i++) await new Promise((r) => setImmediate(r)); };

async function send(page, request) {
  const before = page.answers.length;
  page.onMessage.fire(request);
  await settle();
  return page.answers.slice(before);
}

// A host that ended before the background heard of it: a call sent meanwhile says that the
// host has ended, never that it cannot be started; once the end is heard the page learns of it,
// the ended control stays gone and the next create starts a new host.
{
  const {api, natives} = background();
  const page = openPage(api);
  page.onMessage.fire({op: 'create', id: 1, control: 'c1', class: 'control'});
  await settle();
  assert.equal(natives.length, 1);
  natives[0].onMessage.fire({id: natives[0].sent[0].id, result: true});
  await settle();
  assert.deepEqual(page.answers, [{answer: {id: 1, result: true}}]);

  natives[0].dead = true;
  const [unnoticed] = await send(page, {op: 'call', id: 2, control: 'c1', name: 'GetTransferStatus', args: []});
  assert.equal(unnoticed.answer.id, 2);
  assert.match(unnoticed.answer.error.message, /^the control host has ended/);

  natives[0].onDisconnect.fire();
  await settle();
  assert.deepEqual(page.answers.at(-1), {hostGone: true});
  const [gone] = await send(page, {op: 'call', id: 3, control: 'c1', name: 'GetTransferStatus', args: []});
  assert.match(gone.answer.error.message, /^the control host has ended/);
  page.onMessage.fire({op: 'create', id: 4, control: 'c2', class: 'control'});
  await settle();
  assert.equal(natives.length, 2, 'no new host for the create after the end');
  assert.equal(natives[1].sent[0].op, 'create');
}

// A host that cannot be started says so.
{
  const {api} = background({refuse: 'Specified native messaging host not found.'});
  const page = openPage(api);
  const [answer] = await send(page, {op: 'create', id: 1, control: 'c1', class: 'control'});
  assert.equal(answer.answer.error.message,
               'the control host cannot be started: Specified native messaging host not found.');
}

console.log('PASS');
