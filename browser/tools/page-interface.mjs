// Writes the control's members into the page API (browser/extension/page_api.js) from the
// interface description that the build writes (build/bin/QSFileTransferLib.json), or checks
// that they agree.
//
// usage: node page-interface.mjs --write|--check DESCRIPTION.json [PAGE_API.js]
//
// The members live between the two marker lines in page_api.js. --check exits 1 and says what
// differs when the page API lists other members than the description.
import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const [mode, descriptionFile, pageApiFile = path.join(here, '../extension/page_api.js')] = process.argv.slice(2);
const BEGIN = '  // --- members, from the interface description (browser/tools/page-interface.mjs) ---';
const END = '  // --- end of members ---';

if (!['--write', '--check'].includes(mode) || !descriptionFile) {
  console.error('usage: node page-interface.mjs --write|--check DESCRIPTION.json [PAGE_API.js]');
  process.exit(2);
}

const description = JSON.parse(fs.readFileSync(descriptionFile, 'utf8'));
const dispatch = (description.interfaces || []).find((i) => i.kind === 'dispatch');
if (!dispatch) {
  console.error(`${descriptionFile}: no dispatch interface`);
  process.exit(1);
}
const members = [...dispatch.members].sort((a, b) => a.dispid - b.dispid);
const lines = [BEGIN, '  // [name, kind], by dispatch number.', '  const MEMBERS = ['];
for (const m of members) lines.push(`    [${JSON.stringify(m.name)}, ${JSON.stringify(m.kind)}],  // ${m.dispid}`);
lines.push('  ];', END);
const block = lines.join('\n');

const source = fs.readFileSync(pageApiFile, 'utf8');
const start = source.indexOf(BEGIN);
const end = source.indexOf(END);
if (start < 0 || end < start) {
  console.error(`${pageApiFile}: the member markers are missing`);
  process.exit(1);
}
const current = source.slice(start, end + END.length);
if (mode === '--write') {
  if (current !== block) fs.writeFileSync(pageApiFile, source.slice(0, start) + block + source.slice(end + END.length));
  process.exit(0);
}
if (current !== block) {
  const have = current.split('\n');
  const want = block.split('\n');
  for (let i = 0; i < Math.max(have.length, want.length); i++) {
    if (have[i] !== want[i]) {
      console.error(`the page API's members differ from the interface description at line ${i + 1}:\n` +
                    `  page API:    ${have[i] ?? '(none)'}\n  description: ${want[i] ?? '(none)'}\n` +
                    'run: node browser/tools/page-interface.mjs --write ' + descriptionFile);
      break;
    }
  }
  process.exit(1);
}
console.log(`the page API lists the ${members.length} members of the interface description`);
