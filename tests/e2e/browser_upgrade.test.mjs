// The upgrade road as an administrator drives it in a real browser:
// headless Chromium (Debian's, through playwright-core) logs in at the
// demo's lighttpd, chooses an image, clicks Apply, accepts the
// confirmation and follows the pages to the start page after the
// count-down.  A screenshot of every stage goes to build/e2e/screenshots/.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { accounts, randomBytes, screenshotDir, sourceDir, startAppliance } from './harness.mjs';

const e2eDir = path.join(sourceDir, 'tests/e2e');
if (!fs.existsSync(path.join(e2eDir, 'node_modules/playwright-core'))) {
  execFileSync('npm', ['ci', '--no-audit', '--no-fund', '--loglevel=error'], {
    cwd: e2eDir,
    stdio: ['ignore', 'inherit', 'inherit'],
    timeout: 300_000,
  });
}
const { chromium } = await import('playwright-core');

const chromiumFlags = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];
const step = 30_000; // the longest wait for any one page event

fs.mkdirSync(screenshotDir, { recursive: true });

// A browser with a new empty profile, logged in as user; closed and its
// profile removed when the test ends.
async function browserFor(t, user) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'webadmin-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: chromiumFlags,
    httpCredentials: { username: user, password: accounts[user] },
    acceptDownloads: true,
    viewport: { width: 820, height: 560 },
    timeout: step,
  });
  t.after(async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  });
  context.setDefaultTimeout(step);
  const page = context.pages()[0] ?? (await context.newPage());
  return page;
}

// The upgrade form, opened as an administrator does: from the start page's link.
async function openForm(page) {
  await page.click('a:has-text("Upgrade the firmware")');
  await page.waitForSelector('input[name=img]');
}

// The answer to the lock-down request q=3 as the page's script receives it.
// The script posts the form, and so navigates away, the moment that answer
// is in, too soon to read the body from the network afterwards: a listener
// added to the page's own request reports status and text to the test.
// Set up before the form is loaded; returns the function that waits for
// the answer.
async function watchLockDown(page) {
  let report;
  const answer = new Promise((resolve) => {
    report = resolve;
  });
  await page.exposeBinding('reportLockDown', (_source, status, text) => report([status, text]));
  await page.addInitScript(() => {
    const open = XMLHttpRequest.prototype.open;
    XMLHttpRequest.prototype.open = function (method, url, ...rest) {
      if (/[?&]q=3$/.test(url)) {
        this.addEventListener('load', () => window.reportLockDown(this.status, this.responseText));
      }
      return open.call(this, method, url, ...rest);
    };
  });
  return () => Promise.race([answer, new Promise((resolve) => setTimeout(() => resolve('no answer'), step))]);
}

function shot(page, name) {
  return page.screenshot({ path: path.join(screenshotDir, name) });
}

// An image whose root file system carries its system information, as a
// real one does: after the restart the appliance runs version 2.1.6.
function demoImage(appliance, name, kernel, rootfs) {
  return appliance.makeImage(name, { version: '2.1.6', sections: { '1.kernel': kernel }, rootfs });
}

test('an administrator upgrades and is brought to the start page after the count-down', { timeout: 240_000 }, async (t) => {
  // The last write took 180 seconds; the last restart none, so the count-down is 30 seconds.
  const appliance = await startAppliance({
    rebootInterval: 0,
    files: { '/etc/sysconfig/.firewall/upgrade_info.conf': '1000 1180\n' },
  });
  t.after(() => appliance.stop());
  const kernel = randomBytes(65_536);
  const rootfs = randomBytes(131_072);
  const image = demoImage(appliance, 'Demo_WA1000_020106.img', kernel, rootfs);
  const page = await browserFor(t, 'admin');

  // The administration pages live in a frame; the end of the count-down must replace the whole window.
  const consoleUrl = `${appliance.url}/console.html`;
  await page.route(consoleUrl, (route) =>
    route.fulfill({
      contentType: 'text/html',
      body: '<html><body style="margin:0"><iframe name="main" src="/cgi-bin/index.cgi" ' +
        'style="border:0;width:100%;height:100vh"></iframe></body></html>',
    }),
  );
  const lockDownAnswer = await watchLockDown(page);
  await page.goto(consoleUrl);
  const main = page.frame({ name: 'main' });
  await openForm(main);
  assert.ok((await main.textContent('body')).includes('v2.01.05'));
  await shot(page, 'admin-1-form.png');

  const road = [];
  const dialogs = [];
  page.on('dialog', (dialog) => {
    dialogs.push([dialog.type(), dialog.message()]);
    dialog.accept();
  });
  page.on('response', (response) => {
    if (response.url() === `${appliance.url}/cgi-bin/upgrade.cgi?q=3`) road.push(`q=3 answered ${response.status()}`);
  });
  page.on('request', (request) => {
    if (request.method() === 'POST') road.push('post');
  });
  const posted = page.waitForRequest((r) => r.method() === 'POST');

  await main.setInputFiles('input[name=img]', image);
  await main.click('button:has-text("Apply")');
  assert.deepEqual(await lockDownAnswer(), [200, '1']);
  const post = await posted;
  assert.deepEqual(dialogs, [['confirm', 'The appliance restarts after the upgrade. Do not switch it off. Continue?']]);
  assert.equal(post.url(), `${appliance.url}/cgi-bin/upgrade.cgi?MULTI_LANG=eng`);
  assert.match(post.headers()['content-type'], /^multipart\/form-data; boundary=/);

  // The reboot page: its fragments, the progress bar sized by the last write, the count-down.
  await main.waitForSelector('#timer');
  const log = await main.textContent('#sys_reboot_log');
  assert.ok(log.includes('The firmware image is valid and is being written.'));
  assert.ok(log.includes('Demo WA1000 is restarting'));
  assert.equal(await main.$eval('progress#wp', (bar) => bar.max), 180);
  // The write is over: the bar is hidden again.
  assert.equal(await main.$eval('progress#wp', (bar) => getComputedStyle(bar).display), 'none');
  const first = Number(await main.textContent('#timer'));
  assert.ok(first > 0 && first <= 30, `count-down starts at ${first}`);
  await shot(page, 'admin-2-reboot-page.png');
  await main.waitForFunction((start) => Number(document.getElementById('timer').textContent) < start - 1, first);
  assert.notEqual(await main.textContent('#start_flag'), '');
  await shot(page, 'admin-3-count-down.png');

  // After the count-down the start page answers, and the top window loads
  // it: the appliance came back on the new firmware.
  await page.waitForURL(`${appliance.url}/cgi-bin/index.cgi`, { timeout: 60_000 });
  const start = await page.textContent('#events');
  assert.ok(start.includes('Firmware upgraded (v2.01.5 ==> v2.01.6)'));
  assert.equal(await page.textContent('#version'), 'v2.01.06');
  await shot(page, 'admin-4-start-page.png');
  await openForm(page);
  assert.ok((await page.textContent('body')).includes('v2.01.06'));

  // The browser's post wrote the flash, after the lock-down was answered.
  assert.deepEqual(road, ['q=3 answered 200', 'post']);
  assert.ok(appliance.read('/dev/mtdblock1').equals(kernel));
  assert.ok(appliance.read('/dev/mtdblock2').includes(rootfs));
});

test('the configuration is backed up, restored edited, refused broken; a viewer sees neither', { timeout: 240_000 }, async (t) => {
  const appliance = await startAppliance({ sampleConfig: true });
  t.after(() => appliance.stop());
  const page = await browserFor(t, 'admin');
  await page.goto(`${appliance.url}/`);
  const count = async (module) =>
    page.$eval('#configuration', (table, name) => {
      const row = [...table.rows].find((r) => r.cells[0].textContent === name);
      return row ? Number(row.cells[1].textContent) : 0;
    }, module);
  assert.equal(await count('permit_ip'), 2);
  await shot(page, 'config-1-start-page.png');

  // The back-up: one document, named after the model and the date.
  const download = page.waitForEvent('download');
  await page.click('#backup');
  const backup = await download;
  assert.match(backup.suggestedFilename(), /^WA1000_\d{8}\.xml$/);
  const document = fs.readFileSync(await backup.path(), 'utf8');
  assert.ok(document.startsWith('<?xml version="1.0" encoding="utf-8"?>\n<configuration>\n'));

  // An edited back-up restored: a third permitted host.
  const edited = path.join(appliance.work, 'edited.xml');
  fs.writeFileSync(edited, document.replace('</_function>\n<_function value="mapped_ip"',
    '<_entry><name value="helpdesk" /><ipv_mode value="IPv4" /><ipaddr value="198.51.100.99" />' +
    '<netmask value="255.255.255.255" /></_entry></_function>\n<_function value="mapped_ip"'));
  await page.setInputFiles('#restore input[name=config]', edited);
  await page.click('#restore input[type=submit]');
  await page.waitForSelector('#restored');
  assert.ok((await page.textContent('body')).includes('permit_ip: 3 entries'));
  await shot(page, 'config-2-restored.png');
  await page.click('a:has-text("Back to the start page")');
  assert.equal(await count('permit_ip'), 3);
  assert.ok(appliance.text('/etc/sysconfig/.firewall/permit_ip.conf').includes('"helpdesk"'));

  // A broken document is refused, and nothing changes.
  const files = fs.readdirSync(appliance.file('/etc/sysconfig/.firewall')).sort();
  const before = files.map((f) => appliance.text(`/etc/sysconfig/.firewall/${f}`));
  const broken = path.join(appliance.work, 'broken.xml');
  fs.writeFileSync(broken, document.slice(0, document.length / 2));
  await page.setInputFiles('#restore input[name=config]', broken);
  await page.click('#restore input[type=submit]');
  await page.waitForSelector('#refused');
  assert.ok((await page.textContent('#refused')).includes('not well-formed'));
  await shot(page, 'config-3-refused.png');
  assert.deepEqual(files.map((f) => appliance.text(`/etc/sysconfig/.firewall/${f}`)), before);

  // The viewer sees neither, and the page itself refuses the viewer.
  const viewer = await browserFor(t, 'viewer');
  await viewer.goto(`${appliance.url}/`);
  assert.equal(await viewer.$('#backup'), null);
  assert.equal(await viewer.$('#restore'), null);
  const refused = await viewer.goto(`${appliance.url}/cgi-bin/config.cgi?q=backup`);
  assert.equal(refused.status(), 403);
  await shot(viewer, 'config-4-viewer.png');
});

test('an image with a wrong trailer is refused with the message page', { timeout: 240_000 }, async (t) => {
  const appliance = await startAppliance();
  t.after(() => appliance.stop());
  const good = demoImage(appliance, 'good.img', randomBytes(8192), randomBytes(16_384));
  const bytes = fs.readFileSync(good);
  const digit = bytes.length - 33; // first digit of the MD5 trailer
  bytes[digit] = bytes[digit] === 0x30 ? 0x31 : 0x30;
  const image = path.join(appliance.work, 'Demo_WA1000_020106.img');
  fs.writeFileSync(image, bytes);
  const page = await browserFor(t, 'admin');

  page.on('dialog', (dialog) => dialog.accept());
  const lockDownAnswer = await watchLockDown(page);
  await page.goto(`${appliance.url}/`);
  await openForm(page);
  await page.setInputFiles('input[name=img]', image);
  await page.click('button:has-text("Apply")');
  assert.deepEqual(await lockDownAnswer(), [200, '1']);
  await page.waitForSelector('text=The file is not a valid firmware image for this appliance.');
  assert.ok((await page.textContent('body')).includes('Please choose a correct firmware image.'));
  assert.equal(await page.$('#timer'), null);
  await shot(page, 'refused-1-message-page.png');

  assert.equal(appliance.read('/dev/mtdblock1').length, 0);
  assert.equal(appliance.read('/dev/mtdblock2').length, 0);
  assert.match(appliance.text('/var/log/eventlog'), /"upgrade" "[^"]*" "admin" "127\.0\.0\.1" 0 11 "\$\{EVENTLOG_FAILURE_STR\}"$/m);
  assert.ok(appliance.text('/commands.log').includes('/usr/bin/killall -CONT vavazUzo > /dev/null 2>&1\n'));
});

test('the view-only user: Apply only raises the privilege alert', { timeout: 240_000 }, async (t) => {
  const appliance = await startAppliance();
  t.after(() => appliance.stop());
  const image = demoImage(appliance, 'Demo_WA1000_020106.img', randomBytes(4096), randomBytes(4096));
  const page = await browserFor(t, 'viewer');

  await page.goto(`${appliance.url}/`);
  await openForm(page);
  assert.equal(await page.$eval('form[name=upgrade]', (form) => form.getAttribute('enctype')), null);
  await page.setInputFiles('input[name=img]', image);
  await shot(page, 'viewer-1-form.png');

  const sent = [];
  page.on('request', (request) => sent.push(request.url()));
  // The click returns only once its alert is answered.
  const alert = page.waitForEvent('dialog');
  const click = page.click('button:has-text("Apply")');
  const dialog = await alert;
  assert.equal(dialog.type(), 'alert');
  assert.equal(dialog.message(), 'You may view this page but not change it.');
  await dialog.accept();
  await click;
  assert.equal(await page.evaluate(() => typeof pre_upgrade), 'undefined');
  assert.deepEqual(sent, []);
  assert.equal(page.url(), `${appliance.url}/cgi-bin/upgrade.cgi?MULTI_LANG=eng`);
  await shot(page, 'viewer-2-after-apply.png');
  assert.equal(appliance.read('/dev/mtdblock1').length, 0);
  assert.ok(!appliance.text('/commands.log').includes('iptables-static'));
});
