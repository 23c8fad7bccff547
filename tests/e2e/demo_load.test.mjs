// The demo under load: 100 upgrade pages and 20 configuration restores of
// two different documents at once.  Every request is answered (the page,
// or the restore's refusal with its cause), nothing is written to the
// error log, and every configuration file is what one of the two
// documents makes of it, never a mixture.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { auth, startAppliance } from './harness.mjs';

const configDir = '/etc/sysconfig/.firewall';

function restore(appliance, document) {
  return appliance.curl([
    '-u', auth('admin'), '-H', 'Expect:',
    '-F', `config=@${document};filename=backup.xml;type=application/xml`,
    `${appliance.url}/cgi-bin/config.cgi?q=restore`,
  ]);
}

// The configuration files as the last restore left them.  Some modules
// give an imported record the time of its import as identifier (14 digits,
// which the document does not carry): those are left out.
function configFiles(appliance) {
  const dir = appliance.file(configDir);
  return new Map(
    fs.readdirSync(dir, { withFileTypes: true })
      .filter((entry) => entry.isFile())
      .map((entry) => [entry.name, fs.readFileSync(path.join(dir, entry.name), 'latin1').replace(/\b\d{14}\b/g, 'ID')]),
  );
}

async function restored(appliance, document) {
  const answer = await restore(appliance, document);
  assert.equal(answer.status, 200);
  assert.match(answer.body, /<td id="restored">/, answer.body);
  return configFiles(appliance);
}

test('100 upgrade pages and 20 restores at once: all answered, error log clean, no file mixed', { timeout: 300_000 }, async (t) => {
  const appliance = await startAppliance({ sampleConfig: true });
  t.after(() => appliance.stop());

  // The second document gives every record another name: a module file
  // that mixed the two would hold both names, or the one in the other's
  // place.
  const backup = await appliance.curl(['-u', auth('admin'), `${appliance.url}/cgi-bin/config.cgi?q=backup`]);
  assert.equal(backup.status, 200);
  const first = path.join(appliance.work, 'first.xml');
  const second = path.join(appliance.work, 'second.xml');
  fs.writeFileSync(first, backup.body);
  fs.writeFileSync(second, backup.body.replace(/(<(?:user_)?name value="[^"]+)"/g, (_, name) => `${name}2"`));
  const expected = [await restored(appliance, second), await restored(appliance, first)];
  assert.ok([...expected[0]].some(([name, text]) => expected[1].get(name) !== text), 'the documents differ');

  const logged = appliance.errorLog().length;
  const pages = Array.from({ length: 100 }, () =>
    appliance.curl(['-u', auth('admin'), `${appliance.url}/cgi-bin/upgrade.cgi?q=0`]));
  const restores = Array.from({ length: 20 }, (_, i) => restore(appliance, i % 2 ? first : second));
  for (const page of await Promise.all(pages)) {
    assert.equal(page.status, 200);
    assert.match(page.body, /<form name="upgrade" method="post" enctype="multipart\/form-data">/);
  }
  for (const answer of await Promise.all(restores)) {
    assert.equal(answer.status, 200);
    assert.match(answer.body, /<td id="restored">|<td id="refused">The configuration was refused, nothing was changed: \S[^<]*<\/td>/, answer.body);
  }
  assert.equal(appliance.errorLog().slice(logged), '');

  const files = configFiles(appliance);
  for (const name of new Set([...files.keys(), ...expected[0].keys(), ...expected[1].keys()])) {
    assert.ok(expected.some((document) => document.get(name) === files.get(name)), `${name} is one document's:\n${files.get(name)}`);
  }
});
