// The upgrade road over HTTP: curl, authenticated at the demo's lighttpd,
// sends what the upgrade form's script sends (the lock-down request, then
// the multipart post of the image), and the demo appliance's flash files,
// boot event log and start page show the upgrade.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { auth, randomBytes, startAppliance } from './harness.mjs';

const bootLog = '/etc/sysconfig/.firewall/eventlog';
// The upgrade page as the start page links it; its form posts back here.
const upgradePage = '/cgi-bin/upgrade.cgi?MULTI_LANG=eng';

// The form as a browser posts it: the file first, then the hidden fields.
function upload(appliance, user, image) {
  return appliance.curl([
    '-u', auth(user),
    '-H', 'Expect:',
    '-F', `img=@${image};filename=Demo_WA1000_020106.img;type=application/octet-stream`,
    '-F', 'q=1',
    '-F', 'menu=',
    '-F', 'MULTI_LANG=eng',
    `${appliance.url}${upgradePage}`,
  ]);
}

function demoImage(appliance, kernel, rootfs) {
  return appliance.makeImage('Demo_WA1000_020106.img', {
    version: '2.1.6',
    sections: { '1.kernel': kernel, '2.rootfs': rootfs },
  });
}

test('an administrator upgrades: flash written, reboot page, success in the boot log', { timeout: 300_000 }, async (t) => {
  const appliance = await startAppliance();
  t.after(() => appliance.stop());
  const kernel = randomBytes(70_001);
  const rootfs = randomBytes(150_017);
  const image = demoImage(appliance, kernel, rootfs);

  const form = await appliance.curl(['-u', auth('admin'), `${appliance.url}${upgradePage}`]);
  assert.equal(form.status, 200);
  assert.match(form.body, /<form name="upgrade" method="post" enctype="multipart\/form-data">/);
  assert.match(form.body, /<td>v2\.01\.05<\/td>/);

  const prepare = await appliance.curl(['-u', auth('admin'), `${appliance.url}/cgi-bin/upgrade.cgi?q=3`]);
  assert.equal(prepare.status, 200);
  assert.equal(prepare.body, '1');
  // The web server reports the browser's address and user to the CGI.
  assert.match(appliance.text('/commands.log'), /^\/sbin\/iptables-static -t mangle -I PREROUTING -s 127\.0\.0\.1 -j ACCEPT$/m);

  const reboot = await upload(appliance, 'admin', image);
  assert.equal(reboot.status, 200);
  assert.match(reboot.body, /<div id="sys_reboot_log">/);
  assert.ok(reboot.body.includes('The firmware image is valid and is being written.'));
  assert.ok(!reboot.body.includes('older firmware version'));
  assert.match(reboot.body, /<progress id="wp" max="360" value="0">/);
  assert.ok(reboot.body.includes('Reconnecting in'));
  assert.ok(!reboot.body.includes('not a valid firmware image'));

  assert.ok(appliance.read('/dev/mtdblock1').equals(kernel), 'section 1 is on /dev/mtdblock1');
  assert.ok(appliance.read('/dev/mtdblock2').equals(rootfs.subarray(16)), 'section 2 without its first 16 bytes is on /dev/mtdblock2');
  assert.match(
    appliance.text(bootLog),
    /^"0" "upgrade" "[^"]*" "admin" "127\.0\.0\.1" 0 11 "\$\{EVENTLOG_SUCCESS_STR\} \(v2\.01\.5 ==> v2\.01\.6\)"$/m,
  );
  const commands = appliance.text('/commands.log');
  assert.ok(commands.includes('/tmp/sync;/tmp/sleep 30;/tmp/reboot\n'));
  assert.ok(commands.endsWith('<reboot>\n'));
  // The duration of this write is stored for the next progress bar.
  assert.match(appliance.text('/etc/sysconfig/.firewall/upgrade_info.conf'), /^\d+ \d+\n$/);

  // What the count-down finally loads.
  const start = await appliance.curl(['-u', auth('admin'), `${appliance.url}/cgi-bin/index.cgi`]);
  assert.equal(start.status, 200);
  assert.ok(start.body.includes('<td>upgrade</td><td>admin</td><td>127.0.0.1</td><td>Firmware upgraded (v2.01.5 ==&gt; v2.01.6)</td>'));
});

test('the view-only user posts an image: the form comes back and nothing changes', { timeout: 300_000 }, async (t) => {
  const appliance = await startAppliance();
  t.after(() => appliance.stop());
  const image = demoImage(appliance, randomBytes(4096), randomBytes(8192));

  const form = await appliance.curl(['-u', auth('viewer'), `${appliance.url}${upgradePage}`]);
  assert.equal(form.status, 200);
  assert.match(form.body, /<form name="upgrade" method="post" >/);
  assert.ok(!form.body.includes('function pre_upgrade()'));

  const post = await upload(appliance, 'viewer', image);
  assert.equal(post.status, 200);
  assert.match(post.body, /<form name="upgrade" method="post" >/);
  assert.ok(!post.body.includes('sys_reboot_log'));
  assert.equal(appliance.read('/dev/mtdblock1').length, 0);
  assert.equal(appliance.read('/dev/mtdblock2').length, 0);
  assert.equal(appliance.text(bootLog), '');
  const commands = appliance.text('/commands.log');
  assert.ok(!commands.includes('busybox'));
  assert.ok(!commands.includes('<reboot>'));
});

test('requests without the right password never reach the CGI', { timeout: 300_000 }, async (t) => {
  const appliance = await startAppliance();
  t.after(() => appliance.stop());

  const anonymous = await appliance.curl([`${appliance.url}/cgi-bin/upgrade.cgi?q=3`]);
  assert.equal(anonymous.status, 401);
  const wrong = await appliance.curl(['-u', 'admin:viewer', `${appliance.url}/cgi-bin/upgrade.cgi?q=3`]);
  assert.equal(wrong.status, 401);
  const style = await appliance.curl([`${appliance.url}/my_style.css`]);
  assert.equal(style.status, 401);
  assert.equal(appliance.text('/commands.log'), '');

  const address = await appliance.curl(['-u', auth('viewer'), '-L', `${appliance.url}/`]);
  assert.equal(address.status, 200);
  assert.ok(address.body.includes('<title>Demo WA1000</title>'), 'the address alone leads to the start page');

  // The static files the pages refer to are there for a logged-in user.
  for (const file of ['/my_style.css', '/js/jquery.min.js', '/icons_eng/common_bt_ok_L.gif', '/icons_sch/common_bt_help_R.gif']) {
    const response = await appliance.curl(['-u', auth('viewer'), `${appliance.url}${file}`]);
    assert.equal(response.status, 200, file);
  }
});
