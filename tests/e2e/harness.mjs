// What the end-to-end tests share: a fresh demo appliance root served by the
// demo's own lighttpd configuration (demo/serve) on a free port of
// 127.0.0.1, firmware images made with tools/make-image, and curl.  Every
// wait is bounded; stop() ends the server's process group and removes the
// root with its shared memory.
import { execFile, execFileSync, spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const sourceDir = path.resolve(import.meta.dirname, '../..');
export const buildDir = process.env.BUILD_DIR ?? path.join(sourceDir, 'build');
export const screenshotDir = path.join(buildDir, 'e2e', 'screenshots');

export const accounts = { admin: 'admin', viewer: 'viewer' };

const serverStartTimeout = 120_000; // the first start also installs jQuery from npm
const serverStopTimeout = 10_000;

// Servers still running when this process ends (a test cut short) go with it.
const running = new Set();
process.on('exit', () => {
  for (const server of running) {
    try {
      process.kill(-server.pid, 'SIGKILL');
    } catch {
      // the group is gone already
    }
  }
});
for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => process.exit(1));

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.on('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

function authorization(user) {
  return 'Basic ' + Buffer.from(`${user}:${accounts[user]}`).toString('base64');
}

// Resolves with the exit code, or null when the process is still running
// after ms milliseconds.
function exited(child, ms) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve(child.exitCode);
  return new Promise((resolve) => {
    const timer = setTimeout(() => resolve(null), ms);
    child.once('exit', (code) => {
      clearTimeout(timer);
      resolve(code);
    });
  });
}

async function stopGroup(child) {
  const signal = (name) => {
    try {
      process.kill(-child.pid, name);
    } catch {
      // the group is gone already
    }
  };
  signal('SIGTERM');
  if ((await exited(child, serverStopTimeout)) === null) {
    signal('SIGKILL');
    await exited(child, serverStopTimeout);
  }
  running.delete(child);
}

export class Appliance {
  constructor(work, root, port, server, errors) {
    this.work = work;
    this.root = root;
    this.port = port;
    this.server = server;
    this.errors = errors;
    this.url = `http://127.0.0.1:${port}`;
  }

  // What lighttpd wrote to its error log (its standard error, where the
  // CGIs' own standard error and their deaths go too) so far.
  errorLog() {
    return this.errors.text;
  }

  file(appliancePath) {
    return path.join(this.root, appliancePath);
  }

  read(appliancePath) {
    const file = this.file(appliancePath);
    return fs.existsSync(file) ? fs.readFileSync(file) : Buffer.alloc(0);
  }

  text(appliancePath) {
    return this.read(appliancePath).toString('utf8');
  }

  // A firmware image of the demo product; sections maps tokens such as
  // "1.kernel" to their bytes, rootfs (optional) the bytes of a root file
  // system that carries the image's system information.  Returns its path.
  makeImage(name, { version, productId = '101003', sections = {}, rootfs }) {
    const args = ['--version', version, '--product-id', productId, '-o', path.join(this.work, name)];
    const files = { ...sections, ...(rootfs ? { rootfs } : {}) };
    for (const [token, bytes] of Object.entries(files)) {
      const file = path.join(this.work, `${name}.${token}`);
      fs.writeFileSync(file, bytes);
      args.push(...(token === 'rootfs' ? ['--rootfs', file] : ['--section', `${token}=${file}`]));
    }
    execFileSync(path.join(sourceDir, 'tools/make-image'), args, {
      env: { ...process.env, BUILD_DIR: buildDir },
      stdio: ['ignore', 'inherit', 'inherit'],
      timeout: 30_000,
    });
    return path.join(this.work, name);
  }

  // Runs curl against the server; resolves with the status code and body.
  curl(args) {
    return new Promise((resolve, reject) => {
      execFile(
        'curl',
        ['-sS', '--max-time', '60', '-o', '-', '-w', '\n%{http_code}', ...args],
        { encoding: 'buffer', maxBuffer: 64 << 20, timeout: 90_000 },
        (error, stdout, stderr) => {
          if (error) return reject(new Error(`curl ${args.join(' ')}: ${error.message}\n${stderr}`));
          const cut = stdout.lastIndexOf(0x0a);
          resolve({
            status: Number(stdout.subarray(cut + 1).toString()),
            body: stdout.subarray(0, cut).toString('utf8'),
          });
        },
      );
    });
  }

  async stop() {
    if (this.server) await stopGroup(this.server);
    this.server = null;
    execFileSync(path.join(sourceDir, 'tools/make-root'), ['--remove', this.root], {
      env: { ...process.env, BUILD_DIR: buildDir },
      stdio: ['ignore', 'ignore', 'inherit'],
      timeout: 30_000,
    });
    fs.rmSync(this.work, { recursive: true, force: true });
  }
}

async function answers(url) {
  try {
    const response = await fetch(`${url}/my_style.css`, {
      headers: { authorization: authorization('admin') },
      signal: AbortSignal.timeout(2_000),
    });
    await response.arrayBuffer();
    return response.status === 200;
  } catch {
    return false;
  }
}

// A fresh demo appliance behind lighttpd, the CGIs without sleeps.
//   rebootInterval: the last reboot interval, which sizes the count-down
//   files: appliance path -> content, written into the root before serving
//   sampleConfig: the root holds the demo's sample configuration
export async function startAppliance({ rebootInterval, files = {}, sampleConfig = false } = {}) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'webadmin-e2e-'));
  const root = path.join(work, 'root');
  const env = { ...process.env, BUILD_DIR: buildDir };
  if (rebootInterval !== undefined) env.APPLIANCE_REBOOT_INTERVAL = String(rebootInterval);
  try {
    execFileSync(path.join(sourceDir, 'tools/make-root'), [root, ...(sampleConfig ? ['--sample-config'] : [])], {
      env,
      stdio: ['ignore', 'inherit', 'inherit'],
      timeout: 30_000,
    });
    // The server runs what is installed into the root, as on the appliance.
    execFileSync('cmake', ['--install', buildDir, '--prefix', '/usr'], {
      env: { ...env, DESTDIR: root },
      stdio: ['ignore', 'ignore', 'inherit'],
      timeout: 30_000,
    });
    for (const [appliancePath, content] of Object.entries(files)) {
      fs.writeFileSync(path.join(root, appliancePath), content);
    }
    // Another program may take the free port before lighttpd binds it: try again.
    for (let attempt = 0; attempt < 5; attempt++) {
      const port = await freePort();
      const server = spawn(path.join(sourceDir, 'demo/serve'), ['--root', root, '--port', String(port), '--no-sleep'], {
        env,
        detached: true,
        stdio: ['ignore', 'inherit', 'pipe'],
      });
      running.add(server);
      const errors = { text: '' };
      server.stderr.on('data', (chunk) => {
        errors.text += chunk;
        process.stderr.write(chunk);
      });
      const appliance = new Appliance(work, root, port, server, errors);
      const deadline = Date.now() + serverStartTimeout;
      while (Date.now() < deadline && server.exitCode === null && server.signalCode === null) {
        if (await answers(appliance.url)) return appliance;
        await sleep(100);
      }
      await stopGroup(server);
    }
    throw new Error('lighttpd did not come up');
  } catch (error) {
    execFileSync(path.join(sourceDir, 'tools/make-root'), ['--remove', root], { env, stdio: 'ignore' });
    fs.rmSync(work, { recursive: true, force: true });
    throw error;
  }
}

export function randomBytes(count) {
  return crypto.randomBytes(count);
}

// The -u argument of curl for an account.
export function auth(user) {
  return `${user}:${accounts[user]}`;
}
