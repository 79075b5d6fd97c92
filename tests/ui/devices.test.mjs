// The standalone rack's audio device panel: ports from "devices", the "start" settings and the
// device status. The plug-in build, where the host owns audio, is in plugin-mode.test.mjs.

import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { callBridge, launchBrowser, openRackPage, recordRequests, screenshotPath, startRack } from './harness.mjs';

describe('audio devices', () => {
  let browser;
  before(async () => {
    browser = await launchBrowser();
  });
  after(async () => {
    await browser.close();
  });

  it('lists the ports from "devices", starts with the chosen settings and shows the device status', async () => {
    const rack = await startRack();
    try {
      const { page } = await openRackPage(browser, rack);
      const devices = await callBridge(rack, 'devices');
      // Inputs and outputs may sit on one interface or on several.
      const output = devices.flatMap((device) => device.outputs)[0];
      const input = devices.flatMap((device) => device.inputs)[0];
      const panel = page.locator('#device-section');
      const requests = recordRequests(page);
      await panel.getByRole('button', { name: 'Find devices' }).click();
      await panel.getByLabel('Output').selectOption(output.id);
      await panel.getByLabel('Input').selectOption(input.id);
      await panel.getByLabel('Block size').selectOption('256');
      await panel.getByRole('button', { name: 'Start audio' }).click();
      await panel.locator('.device-status dd', { hasText: 'Running' }).waitFor();

      const start = requests.find((request) => request.method === 'start');
      assert.deepEqual(start.params, { inputId: input.id, outputId: output.id, blockFrames: 256, sampleRate: 0, exclusive: false });
      const device = (await callBridge(rack, 'status')).device;
      assert.equal(device.running, true);
      await panel.locator('.device-status dd', { hasText: `${device.blockFrames} frames` }).first().waitFor();
      if (device.latencyMs !== null) {
        await panel.locator('.device-status dd', { hasText: `${device.latencyMs.toFixed(1)} ms` }).first().waitFor();
      }
      await page.locator('[data-readout="audio"]', { hasText: 'Audio running' }).waitFor();
      await panel.screenshot({ path: screenshotPath('device-panel') });

      await panel.getByRole('button', { name: 'Stop audio' }).click();
      await panel.locator('.device-status dd', { hasText: 'Stopped' }).waitFor();
      assert.equal((await callBridge(rack, 'status')).running, false);
    } finally {
      await rack.close();
    }
  });

  it('shows a refused start in the rack\'s words and stays stopped', async () => {
    const rack = await startRack();
    try {
      const { page } = await openRackPage(browser, rack);
      const panel = page.locator('#device-section');
      await panel.getByRole('button', { name: 'Find devices' }).click();
      await panel.getByLabel('Sample rate').selectOption('44100');
      await panel.getByRole('button', { name: 'Start audio' }).click();
      const message = panel.locator('.form-error');
      await message.waitFor({ state: 'visible' });
      assert.match(await message.textContent(), /^Could not start audio\. .*uses 48000 Hz in Windows shared mode, but RACK requests 44100 Hz/);
      assert.equal((await callBridge(rack, 'status')).running, false);
    } finally {
      await rack.close();
    }
  });
  it('restarts only for new settings, and shows a failed device in the top bar with a working Restart', async () => {
    const rack = await startRack();
    try {
      const { page } = await openRackPage(browser, rack);
      const panel = page.locator('#device-section');
      await panel.getByRole('button', { name: 'Find devices' }).click();
      const outputName = await panel.getByLabel('Output').locator('option:checked').textContent();
      await panel.getByRole('button', { name: 'Start audio' }).click();
      await panel.locator('.device-status dd', { hasText: 'Running' }).waitFor();

      const requests = recordRequests(page);
      const audioRequests = () => requests.filter((request) => request.method === 'start' || request.method === 'stop');
      // The same settings again send nothing; other settings stop and start with them.
      await panel.getByRole('button', { name: 'Start audio' }).click();
      await panel.getByLabel('Block size').selectOption('256');
      await panel.getByRole('button', { name: 'Start audio' }).click();
      await panel.locator('.form-notice', { hasText: 'Audio restarted with the new settings.' }).waitFor();
      assert.deepEqual(audioRequests().map((request) => [request.method, request.params && request.params.blockFrames]), [['stop', undefined], ['start', 256]]);

      // The device fails while the rack still runs: the top bar and the panel say so in the same words.
      const sentence = `The audio device stopped: ${outputName} (HRESULT 0x800705b4)`;
      // The failure stays in every status reply until the page stops or starts audio, so a poll cannot
      // hide the Restart button before it is pressed.
      let deviceFailed = true;
      await page.route('**/bridge', async (route) => {
        const method = JSON.parse(route.request().postData()).method;
        if (method === 'stop' || method === 'start') deviceFailed = false;
        if (method !== 'status' || !deviceFailed) return route.continue();
        const response = await route.fetch();
        const reply = await response.json();
        reply.result.device = { ...reply.result.device, running: false, error: 'HRESULT 0x800705b4' };
        return route.fulfill({ response, json: reply });
      });
      await page.locator('[data-readout="audio"]', { hasText: sentence }).waitFor();
      await panel.locator('.device-status dd', { hasText: sentence }).waitFor();
      requests.length = 0;
      await page.getByRole('button', { name: 'Restart audio' }).click();
      await page.locator('[data-readout="audio"]', { hasText: 'Audio running' }).waitFor();
      await page.unroute('**/bridge');
      assert.deepEqual(audioRequests().map((request) => [request.method, request.params && request.params.blockFrames]), [['stop', undefined], ['start', 256]]);
      await page.getByRole('button', { name: 'Restart audio' }).waitFor({ state: 'hidden' });
    } finally {
      await rack.close();
    }
  });
});
