// The page's own interface to the file-transfer control: window.QSWebFileTransfer.
//
// Runs in the page's world at document start. Requests travel by window messages to the relay
// content script of this same frame, which hands them to the extension's service worker; the
// service worker adds what the browser knows about this frame and passes them to the host.
(() => {
  'use strict';
  if (window.QSWebFileTransfer) return;

  // --- members, from the interface description (browser/tools/page-interface.mjs) ---
  // [name, kind], by dispatch number.
  const MEMBERS = [
    ["Url", "property"],  // 0
    ["UserWorkDir", "property"],  // 1
    ["DeleteFile", "method"],  // 2
    ["Open", "method"],  // 3
    ["DatasourceName", "property"],  // 4
    ["selectExportDir", "method"],  // 5
    ["User", "property"],  // 6
    ["FileExist", "method"],  // 7
    ["chooseWorkDirWrapper", "method"],  // 8
    ["changeWorkDirWrapper", "method"],  // 9
    ["checkWorkDirWrapper", "method"],  // 10
    ["selectFiles", "method"],  // 11
    ["selectDownloadDir", "method"],  // 12
    ["FileChanged", "method"],  // 13
    ["UpdateFileTime", "method"],  // 14
    ["GetFileSizes", "method"],  // 15
    ["StartFileUpload", "method"],  // 16
    ["StartFileDownload", "method"],  // 17
    ["GetTransferStatus", "method"],  // 19
    ["CancelTransfer", "method"],  // 20
    ["selectFilesInFolder", "method"],  // 29
    ["selectFile", "method"],  // 31
    ["SetLanguage", "method"],  // 32
    ["locateFile", "method"],  // 33
    ["FinishOperation", "method"],  // 34
    ["GetOperationScope", "method"],  // 35
    ["SetOperationScope", "method"],  // 36
    ["FolderExist", "method"],  // 37
  ];
  // --- end of members ---
  // Every member by its name in lower case: script names are matched whatever their case.
  const BY_NAME = new Map(MEMBERS.map(([name, kind]) => [name.toLowerCase(), {name, kind}]));

  const TO_RELAY = 'qsft-page-request';
  const FROM_RELAY = 'qsft-relay-answer';
  const E_FAIL = -2147467259;  // 0x80004005
  const pending = new Map();   // request id -> {resolve, reject}
  const controls = new Set();  // live control states
  let nextId = 1;
  let nextControl = 1;

  function failure(code, message) {
    const e = new Error(message);
    e.code = code | 0;  // signed 32-bit, as script hosts show it
    return e;
  }

  function send(request) {
    const id = nextId++;
    return new Promise((resolve, reject) => {
      pending.set(id, {resolve, reject});
      window.postMessage({channel: TO_RELAY, request: {...request, id}}, window.location.origin === 'null' ? '*' : window.location.origin);
    });
  }

  window.addEventListener('message', (event) => {
    // Only the relay of this frame answers; other frames can post to this window too.
    if (event.source !== window || !event.data || event.data.channel !== FROM_RELAY) return;
    const {answer, hostGone, unanswered} = event.data;
    if (hostGone) {
      // The host process ended: its controls are gone with it. The service worker has answered
      // the requests it had passed on; requests sent since then go to the next host. Only when
      // the relay lost the service worker will nothing answer the pending ones.
      for (const state of controls) state.gone = true;
      controls.clear();
      if (unanswered) {
        for (const {reject} of pending.values()) {
          reject(failure(E_FAIL, 'the control host has ended; this control is gone, create a new one'));
        }
        pending.clear();
      }
      return;
    }
    if (!answer || !pending.has(answer.id)) return;
    const {resolve, reject} = pending.get(answer.id);
    pending.delete(answer.id);
    if (answer.error) reject(failure(answer.error.code, answer.error.message));
    else resolve(answer.result === undefined ? null : answer.result);
  });

  // Script values as the host takes them: null, numbers, booleans, strings, arrays of strings.
  const toValue = (v) => (v === undefined ? null : v);

  function makeControl(name) {
    const state = {name, gone: false, destroyed: false};
    controls.add(state);
    const op = (request) => {
      if (state.destroyed) return Promise.reject(failure(E_FAIL, 'the control has been destroyed'));
      if (state.gone) {
        return Promise.reject(failure(E_FAIL, 'the control host has ended; this control is gone, create a new one'));
      }
      return send({...request, control: name});
    };
    const api = {
      get: (prop) => op({op: 'get', name: String(prop)}),
      put: (prop, value) => op({op: 'put', name: String(prop), value: toValue(value)}),
      call: (method, ...args) => op({op: 'call', name: String(method), args: args.map(toValue)}),
      destroy: () => {
        const p = op({op: 'destroy'});
        state.destroyed = true;
        controls.delete(state);
        return p;
      },
    };
    // The members of the interface description, each a method that returns a Promise, under
    // its name in any letter case; a property's method reads it without an argument and writes
    // it with one. Other names go to the control as they are: its method table knows a few
    // entries by a second name, and answers "Unknown name." for the rest.
    const own = (key) => Object.prototype.hasOwnProperty.call(api, key);
    const member = (key) => {
      const m = BY_NAME.get(key.toLowerCase());
      if (m && m.kind === 'property') {
        return (...args) => (args.length === 0 ? api.get(m.name) : api.put(m.name, args[0]));
      }
      return (...args) => op({op: 'call', name: m ? m.name : key, args: args.map(toValue)});
    };
    return new Proxy(api, {
      get(target, key) {
        if (typeof key !== 'string') return undefined;
        if (own(key)) return target[key];
        if (key === 'then' || key === 'toJSON') return undefined;  // not a thenable
        return member(key);
      },
      has(target, key) {
        return typeof key === 'string' && (own(key) || BY_NAME.has(key.toLowerCase()));
      },
      ownKeys(target) {
        return [...Reflect.ownKeys(target), ...MEMBERS.map(([name]) => name).filter((n) => !own(n))];
      },
      getOwnPropertyDescriptor(target, key) {
        if (typeof key !== 'string' || own(key)) return Reflect.getOwnPropertyDescriptor(target, key);
        const m = BY_NAME.get(key.toLowerCase());
        return m && m.name === key ? {value: member(key), writable: false, enumerable: true, configurable: true} : undefined;
      },
      set() { return false; },
      defineProperty() { return false; },
      deleteProperty() { return false; },
    });
  }

  async function create(props, options) {
    const request = {op: 'create'};
    if (props !== undefined && props !== null) {
      if (typeof props !== 'object') throw failure(-2147024809, 'props must be an object');
      request.props = {};
      for (const [k, v] of Object.entries(props)) request.props[k] = toValue(v);
    }
    if (options && options.class !== undefined) request.class = String(options.class);
    const name = 'c' + nextControl++;
    await send({...request, control: name});
    return makeControl(name);
  }

  function fromElement(el) {
    if (!(el instanceof HTMLObjectElement)) {
      return Promise.reject(failure(-2147024809, 'fromElement takes an <object> element'));
    }
    const classid = el.getAttribute('classid') || '';
    const match = /^clsid:(.+)$/i.exec(classid.trim());
    if (!match) return Promise.reject(failure(-2147221164, 'the element has no classid="clsid:..."'));
    const props = {};
    for (const param of el.querySelectorAll(':scope > param')) {
      const n = param.getAttribute('name');
      if (n) props[n] = param.getAttribute('value') ?? '';
    }
    return create(props, {class: match[1]});
  }

  Object.defineProperty(window, 'QSWebFileTransfer', {
    value: Object.freeze({create, fromElement}),
    enumerable: false, configurable: false, writable: false,
  });
})();
