// What every page test shares: a rack to talk to, a Chromium to show the page, and a place for
// screenshots. The rack comes from startRack alone: this machine's real rack program, built by the
// linux preset, with a per-user folder of its own, or with pluginMode the rack as the plug-in in a
// stand-in for a DAW, built beside the tests. RACK_PAGE_COMMAND (RACK_PLUGIN_PAGE_COMMAND for the
// plug-in) may name another command that starts a rack and prints the page's URL
// (http://127.0.0.1:PORT/TOKEN/index.html) on its output.

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, afterEach, before, beforeEach } from 'node:test';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repositoryRoot = path.resolve(here, '..', '..');

function startRackCommand(command) {
  return new Promise((resolve, reject) => {
    const child = spawn(command, { shell: true, stdio: ['ignore', 'pipe', 'inherit'], detached: true });
    let seen = '';
    const timer = setTimeout(() => reject(new Error(`No page URL from: ${command}`)), 30000);
    child.stdout.on('data', (chunk) => {
      seen += chunk.toString();
      const match = seen.match(/http:\/\/127\.0\.0\.1:\d+\/[^\s/]+\/index\.html/);
      if (match) {
        clearTimeout(timer);
        resolve({
          pageUrl: match[0],
          close: async () => {
            try {
              process.kill(-child.pid, 'SIGTERM');
            } catch {
              // already gone
            }
          },
        });
      }
    });
    child.on('exit', (code) => reject(new Error(`${command} ended with ${code} before it served the page`)));
  });
}

const rackProgram = path.join(repositoryRoot, 'build', 'linux', 'desktop', 'velkaphon-rack');
const pluginHostProgram = path.join(repositoryRoot, 'build', 'linux', 'tests', 'plugin', 'daw', 'velkaphon-daw-stand-in');

function rackCommand(pluginMode, fileSizeLimit) {
  const given = pluginMode ? process.env.RACK_PLUGIN_PAGE_COMMAND : process.env.RACK_PAGE_COMMAND;
  const command = given || `LOCALAPPDATA="$(mktemp -d)" exec '${pluginMode ? pluginHostProgram : rackProgram}'`;
  // A file-size limit stands in for a full disk: writes past it fail instead of ending the rack.
  return fileSizeLimit ? `trap '' XFSZ; ulimit -f ${fileSizeLimit}; ${command}` : command;
}

// The project's test plug-ins as the linux preset builds them: a VST3 bundle and a CLAP file.
export const testPlugins = {
  vst3: path.join(repositoryRoot, 'build', 'linux', 'test-plugins', 'VelkaphonTestVst.vst3'),
  clap: path.join(repositoryRoot, 'build', 'linux', 'tests', 'plugins', 'clap_test_plugin', 'velkaphon-clap-test.clap'),
};

// Starts a fresh rack with the default patch; the only place that knows which rack it is.
// fileSizeLimit, in the shell's ulimit blocks, caps every file the rack writes.
export async function startRack({ pluginMode = false, fileSizeLimit = 0 } = {}) {
  return startRackCommand(rackCommand(pluginMode, fileSizeLimit));
}

// Sends one envelope to the rack's bridge beside the page, as the page itself does.
export async function callBridge(rack, method, params = {}) {
  const response = await fetch(new URL('bridge', rack.pageUrl), {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ id: 1, method, params }),
  });
  const reply = await response.json();
  if (!reply.ok) throw new Error(reply.error);
  return reply.result;
}

export async function launchBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'rack-page-profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--no-first-run'],
    viewport: { width: 1600, height: 1000 },
  });
  return {
    context,
    close: async () => {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Opens the page and waits until it has drawn the patch the rack reported. Uncaught errors in
// the page, and the errors its console shows (a failed load among them), are collected so a
// test can insist there were none.
export async function openRackPage(browser, rack) {
  const page = await browser.context.newPage();
  const errors = [];
  const consoleErrors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') consoleErrors.push(message.text());
  });
  await page.goto(rack.pageUrl);
  await page.locator('svg.patch g.module').first().waitFor();
  return { page, errors, consoleErrors };
}

// Every bridge request the page sends, parsed, in order.
export function recordRequests(page) {
  const requests = [];
  page.on('request', (request) => {
    if (request.method() === 'POST' && request.url().endsWith('/bridge')) requests.push(JSON.parse(request.postData()));
  });
  return requests;
}

export function screenshotPath(name) {
  const folder = path.join(repositoryRoot, 'build', 'ui-screenshots');
  fs.mkdirSync(folder, { recursive: true });
  return path.join(folder, `${name}.png`);
}

export function scratchFolder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'rack-page-files-'));
}

// A fresh scratch folder for every test of the suite, removed after it: its path is scratch.path.
export function scratchFolderPerTest() {
  const scratch = {};
  beforeEach(() => {
    scratch.path = scratchFolder();
  });
  afterEach(() => {
    fs.rmSync(scratch.path, { recursive: true, force: true });
  });
  return scratch;
}

// A real WAV file made by sox, for the player.
export function makeWav(file, seconds = 1) {
  return new Promise((resolve, reject) => {
    const sox = spawn('sox', ['-n', '-r', '48000', '-c', '2', '-b', '16', file, 'synth', String(seconds), 'sine', '440', 'fade', '0', String(seconds), String(seconds / 2)]);
    sox.on('exit', (code) => (code === 0 ? resolve(file) : reject(new Error(`sox ended with ${code}`))));
  });
}

export async function poll(check, { timeout = 5000, interval = 50 } = {}) {
  const end = Date.now() + timeout;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error('Timed out waiting for a condition');
    await new Promise((resolve) => setTimeout(resolve, interval));
  }
}

// One Chromium for the suite and a fresh rack (startRack's options) for every test, torn down after it.
export function pageFixture(rackOptions) {
  const fixture = {};
  before(async () => {
    fixture.browser = await launchBrowser();
  });
  after(async () => {
    await fixture.browser.close();
  });
  beforeEach(async () => {
    fixture.rack = await startRack(rackOptions);
  });
  afterEach(async () => {
    await fixture.rack.close();
  });
  return fixture;
}
