// The extension's background: one connection to the native host for the whole browser, shared
// by the pages' ports. Each request of a page is passed on with the identity the browser
// reports for the page's frame (never what the page says about itself); the answers go back to
// the port that asked. When a page's port closes (navigation, reload, tab or iframe gone) the
// host releases that document's controls. When the host exits, every page learns that its
// controls are gone, and the next request starts a new host.
'use strict';
const api = globalThis.browser ?? globalThis.chrome;
const HOST_NAME = 'com.tarnholt.quillstone.filetransfer';
const PASSED = ['op', 'control', 'name', 'dispid', 'args', 'value', 'props', 'class'];
const PAGE_OPS = new Set(['create', 'call', 'get', 'put', 'destroy']);
// The calls that open requests; they carry the browser's cookies for the page's host, so the
// server sees the same logged-in user as in the page.
const NETWORK_CALLS = new Set(['startfiledownload', 'startfileupload', 'setlanguage']);

let host = null;            // the native port
let nextHostId = 1;
const waiting = new Map();  // host request id -> {port, id, url, created}
// Per page port, the names of its controls on the running host, and of those that ended with an
// earlier host: a call on one of those fails here, whatever the next host would say.
const live = new Map();
const gone = new Map();
const namesOf = (map, port) => map.get(port) ?? map.set(port, new Set()).get(port);
const HOST_ENDED = 'the control host has ended; this control is gone, create a new one';
const pagePorts = new Map();  // page port -> its sender identity
let nextPagePort = 1;

function senderOf(port) {
  const s = port.sender || {};
  return {
    url: s.url ?? null,
    origin: s.origin ?? null,
    tab: s.tab ? s.tab.id : null,
    frame: s.frameId ?? null,
    document: s.documentId ?? null,
    port: nextPagePort++,
  };
}

function connectHost() {
  host = api.runtime.connectNative(HOST_NAME);
  host.onMessage.addListener((answer) => {
    const w = waiting.get(answer.id);
    if (!w) return;
    waiting.delete(answer.id);
    if (w.created && !answer.error && pagePorts.has(w.port)) namesOf(live, w.port).add(w.created);
    const {cookies, ...rest} = answer;
    // Cookies that the server set go into the browser before the page hears the answer, so its
    // own next request carries them.
    deliver(async () => {
      if (Array.isArray(cookies)) await storeCookies(cookies, w.url).catch((e) => console.warn('file transfer host:', e));
      if (!pagePorts.has(w.port)) return;  // the page went away meanwhile
      try {
        w.port.postMessage({answer: {...rest, id: w.id}});
      } catch (e) { /* the page's port closed */ }
    });
  });
  host.onDisconnect.addListener(() => {
    const why = (api.runtime.lastError && api.runtime.lastError.message) || 'the host ended';
    host = null;
    const unanswered = [...waiting.values()];
    waiting.clear();
    for (const [port, names] of live) for (const name of names) namesOf(gone, port).add(name);
    live.clear();
    // After the answers the host gave before it ended.
    deliver(() => {
      for (const w of unanswered) {
        try {
          w.port.postMessage({answer: {id: w.id, error: {code: -2147467259, message: 'the control host has ended: ' + why}}});
        } catch (e) { /* gone */ }
      }
      for (const port of pagePorts.keys()) {
        try { port.postMessage({hostGone: true}); } catch (e) { /* gone */ }
      }
    });
  });
}

function toHost(message) {
  if (!host) connectHost();
  host.postMessage(message);
}

// Every cookie the browser would send to the page's host (HttpOnly ones included); the host
// keeps only those of that host.
async function cookiesFor(url) {
  const {hostname} = new URL(url);
  const seen = new Map();
  const lists = await Promise.all([api.cookies.getAll({domain: hostname}), api.cookies.getAll({url})]);
  for (const c of lists.flat()) seen.set(`${c.name}\t${c.domain}\t${c.path}`, c);
  return [...seen.values()].map((c) => ({
    name: c.name, value: c.value, domain: c.domain, hostOnly: c.hostOnly, path: c.path,
    secure: c.secure, httpOnly: c.httpOnly, session: c.session, expirationDate: c.expirationDate,
  }));
}

// Whether the browser keeps `cookie` for `hostname`: host-only for that very host, or a domain
// cookie of the host or of a domain above it.
function belongsTo(cookie, hostname) {
  const domain = String(cookie.domain || '').toLowerCase().replace(/^\./, '');
  return domain !== '' && (domain === hostname || (!cookie.hostOnly && hostname.endsWith('.' + domain)));
}

// Stores the cookies that the server set in a transfer's answers (or removes those it
// removed), for the page's own host only, whatever the host reports.
async function storeCookies(cookies, pageUrl) {
  const page = new URL(pageUrl);
  const hostname = page.hostname.toLowerCase();
  await Promise.all(cookies.filter((c) => c && typeof c.name === 'string' && belongsTo(c, hostname)).map((c) => {
    const path = typeof c.path === 'string' && c.path.startsWith('/') ? c.path : '/';
    const url = `${page.protocol}//${page.host}${path}`;
    if (c.removed) return api.cookies.remove({url, name: c.name});
    const details = {url, name: c.name, value: String(c.value ?? ''), path, secure: !!c.secure, httpOnly: !!c.httpOnly};
    if (!c.hostOnly) details.domain = c.domain;
    if (typeof c.expirationDate === 'number') details.expirationDate = c.expirationDate;
    return api.cookies.set(details);
  }));
}

// Answers reach the pages in the order the host gave them, also when one waits for cookies.
let delivered = Promise.resolve();
function deliver(task) {
  delivered = delivered.then(task).catch((e) => console.warn('file transfer host:', e));
}

// Requests reach the host in the order the pages sent them, also when one waits for cookies.
let queue = Promise.resolve();
function enqueue(task) {
  queue = queue.then(task).catch((e) => console.warn('file transfer host:', e));
}

api.runtime.onConnect.addListener((port) => {
  if (port.name !== 'qsft-page' || !port.sender || !port.sender.url) return;
  pagePorts.set(port, senderOf(port));
  port.onMessage.addListener((request) => {
    const sender = pagePorts.get(port);
    if (!sender || !request || typeof request !== 'object') return;
    if (!PAGE_OPS.has(request.op)) {
      port.postMessage({answer: {id: request.id, error: {code: -2147024809, message: 'unknown op'}}});
      return;
    }
    if (request.op !== 'create' && gone.get(port)?.has(request.control) && !live.get(port)?.has(request.control)) {
      deliver(() => port.postMessage({answer: {id: request.id, error: {code: -2147467259, message: HOST_ENDED}}}));
      return;
    }
    if (request.op === 'destroy') live.get(port)?.delete(request.control);
    const message = {id: nextHostId++, sender};
    for (const key of PASSED) if (key in request) message[key] = request[key];
    waiting.set(message.id, {port, id: request.id, url: sender.url,
                             created: request.op === 'create' ? request.control : null});
    const network = request.op === 'call' && NETWORK_CALLS.has(String(request.name).toLowerCase());
    enqueue(async () => {
      if (network) message.cookies = await cookiesFor(sender.url).catch(() => []);
      // A host that ended before its end was heard of refuses the message as a port that is
      // gone: it has ended. Only a host started for this message cannot be started.
      const running = host !== null;
      try {
        toHost(message);
      } catch (e) {
        waiting.delete(message.id);
        const why = (running ? 'the control host has ended: ' : 'the control host cannot be started: ') + e.message;
        port.postMessage({answer: {id: request.id, error: {code: -2147467259, message: why}}});
      }
    });
  });
  port.onDisconnect.addListener(() => {
    const sender = pagePorts.get(port);
    pagePorts.delete(port);
    live.delete(port);
    gone.delete(port);
    // Only a host that knows this document's controls needs to hear of it.
    enqueue(() => {
      if (sender && host) host.postMessage({id: nextHostId++, op: 'release', sender});
    });
  });
});
