// The demo page's script: one control, created through the extension's page API, and the
// flow a page of the web client runs with it. With "#run" in the address the page runs the
// whole flow by itself (choose the working directory, download the first document, check it
// back in) and sets document.body.dataset.result to "passed" or "failed: ..." at the end.
'use strict';

const CHUNK_SIZE = 1024 * 1024;
const POLL_MS = 100;
const $ = (id) => document.getElementById(id);
let control = null;
let workDir = null;
let downloaded = null;  // {name, path, size} of the last finished download

function log(text, cls) {
  const line = document.createElement('div');
  line.textContent = text;
  if (cls) line.className = cls;
  $('log').append(line);
  $('log').scrollTop = $('log').scrollHeight;
}

// Calls an entry of the control's method table and logs the call and its answer.
async function call(name, ...args) {
  const shown = args.map((a) => JSON.stringify(a)).join(', ');
  try {
    const result = await control.call(name, ...args);
    log(`${name}(${shown}) → ${JSON.stringify(result)}`);
    return result;
  } catch (e) {
    log(`${name}(${shown}) refused: ${e.message} (${e.code})`, 'bad');
    throw e;
  }
}

function human(n) {
  return n >= 1024 * 1024 ? (n / 1024 / 1024).toFixed(1) + ' MiB' : n + ' bytes';
}

// Polls a transfer until it ends, showing its progress; the status is "state|bytes|text".
async function follow(ticket, size, bar, label) {
  for (;;) {
    const status = await control.GetTransferStatus(ticket);
    const [state, done] = status.split('|');
    const text = status.slice(state.length + done.length + 2);
    bar.max = size || 1;
    bar.value = Math.min(Number(done), bar.max);
    label.textContent = `${human(Number(done))} of ${human(size)}`;
    if (state === '10' || state === '-1') {
      log(`GetTransferStatus(${ticket}) → ${JSON.stringify(status)}`, state === '10' ? 'ok' : 'bad');
      label.textContent += state === '10' ? ', done' : ', failed';
      return {ok: state === '10', done: Number(done), text};
    }
    await new Promise((r) => setTimeout(r, POLL_MS));
  }
}

function row(table, cells) {
  const tr = document.createElement('tr');
  for (const c of cells) {
    const td = document.createElement('td');
    td.append(c);
    tr.append(td);
  }
  table.append(tr);
  return tr;
}

function span(cls, text = '') {
  const s = document.createElement('span');
  s.className = cls;
  s.textContent = text;
  return s;
}

async function chooseWorkDir() {
  const ok = await call('ChooseWorkDir');
  workDir = await control.get('UserWorkDir');
  $('workdir').textContent = ok ? workDir : 'not chosen';
  return ok;
}

async function download(doc, bar, label) {
  if (!workDir && !(await chooseWorkDir())) throw new Error('no working directory');
  const path = workDir + '/' + doc.name;
  const ticket = await call('StartFileDownload', '/download?file=' + encodeURIComponent(doc.name), path);
  if (typeof ticket !== 'number') throw new Error('the download did not start: ' + ticket);
  const end = await follow(ticket, doc.size, bar, label);
  if (!end.ok) throw new Error('the download failed: ' + end.text);
  downloaded = {name: doc.name, path, size: doc.size};
  $('checkin').disabled = false;
  return end;
}

// Uploads files in chunks, the first of the batch with first=true; shows the server's answer.
async function upload(files) {
  const sizes = await call('GetFileSizes', files.map((f) => f.path));
  const results = [];
  for (let i = 0; i < files.length; i++) {
    const bar = document.createElement('progress');
    const label = span('');
    const answer = span('answer');
    row($('uploads'), [span('path', files[i].path), bar, label, answer]);
    const size = Array.isArray(sizes) ? Number(sizes[i]) : files[i].size;
    const ticket = await call('StartFileUpload', '/upload', i === 0, files[i].path, CHUNK_SIZE);
    if (typeof ticket !== 'number') throw new Error('the upload did not start: ' + ticket);
    const end = await follow(ticket, size, bar, label);
    answer.textContent = 'server: ' + end.text;
    answer.className = 'answer ' + (end.ok ? 'ok' : 'bad');
    results.push(end);
  }
  return results;
}

async function pickAndUpload() {
  const picked = await call('SelectFiles');
  const files = (Array.isArray(picked) ? picked : []).map((path) => ({path}));
  if (files.length === 0) {
    log('no files picked');
    return [];
  }
  return upload(files);
}

async function loadDocuments() {
  const docs = await (await fetch('documents.json')).json();
  for (const doc of docs) {
    const bar = document.createElement('progress');
    bar.value = 0;
    const label = span('');
    const button = document.createElement('button');
    button.textContent = 'Download';
    button.addEventListener('click', () => download(doc, bar, label).catch((e) => log(e.message, 'bad')));
    row($('documents'), [doc.name, human(doc.size), button, bar, label]).dataset.name = doc.name;
    doc.bar = bar;
    doc.label = label;
  }
  return docs;
}

async function runAll(docs) {
  try {
    if (!(await chooseWorkDir())) throw new Error('ChooseWorkDir did not succeed');
    const doc = docs[0];
    await download(doc, doc.bar, doc.label);
    const [end] = await upload([downloaded]);
    if (!end.ok) throw new Error('the check-in failed: ' + end.text);
    if (!/^OK /.test(end.text)) throw new Error('the server answered ' + end.text);
    document.body.dataset.result = 'passed';
    log('every step behaved as expected', 'ok');
  } catch (e) {
    document.body.dataset.result = 'failed: ' + e.message;
    log('failed: ' + e.message, 'bad');
  }
}

async function main() {
  const docs = await loadDocuments();
  // The extension's page API arrives at document start; without it there is nothing to drive.
  if (!window.QSWebFileTransfer) {
    $('api').textContent = 'The extension is not installed in this browser.';
    document.body.dataset.result = 'failed: no window.QSWebFileTransfer';
    return;
  }
  try {
    control = await QSWebFileTransfer.create(
        {Url: location.origin + '/', DatasourceName: 'Archive', User: 'jdoe',
         UserWorkDir: '%LocalAppData%/Quillstone/WebWorkDir/%Datasource%/%User%'},
        {class: 'QSFILETRANSFER.QSWebFileTransferCtrl.2.2'});
  } catch (e) {
    $('api').textContent = `The control refused this page: ${e.message} (${e.code}).`;
    document.body.dataset.result = 'failed: create: ' + e.message;
    return;
  }
  $('api').textContent = 'The control is ready.';
  $('api').className = 'ok';
  log('QSWebFileTransfer.create(...) → a control for ' + location.origin);
  $('choose').addEventListener('click', () => chooseWorkDir().catch((e) => log(e.message, 'bad')));
  $('pick').addEventListener('click', () => pickAndUpload().catch((e) => log(e.message, 'bad')));
  $('checkin').addEventListener('click', () => upload([downloaded]).catch((e) => log(e.message, 'bad')));
  if (location.hash === '#run') await runAll(docs);
}

main().catch((e) => {
  log('failed: ' + e.message, 'bad');
  document.body.dataset.result = 'failed: ' + e.message;
});
