// The page inside a DAW: the rack runs as the plug-in in a stand-in host that asks for stereo
// blocks at 44.1 kHz and about real time, with silent inputs and its transport rolling.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, it } from 'node:test';
import { callBridge, makeWav, openRackPage, pageFixture, poll, recordRequests, scratchFolderPerTest, screenshotPath } from './harness.mjs';
import { moduleBox } from './page-helpers.mjs';

const hostNote = 'Your DAW controls audio. Rack uses the DAW ports.';
const deviceButtons = ['Find devices', 'Start audio', 'Stop audio'];
const deviceFields = ['Input', 'Output', 'Block size', 'Sample rate', 'Exclusive mode'];

async function selectModule(page, id) {
  await moduleBox(page, id).locator('text.title').click();
  await page.locator('#module-panel h3', { hasText: id }).waitFor();
}

async function callbacksShown(page) {
  const text = await page.locator('[data-readout="callbacks"]').textContent();
  return Number(text.match(/^(\d+) callbacks$/)[1]);
}

async function assertNoDeviceControls(panel) {
  for (const name of deviceButtons) {
    assert.equal(await panel.getByRole('button', { name }).isVisible(), false, `no "${name}" button`);
  }
  for (const label of deviceFields) {
    assert.equal(await panel.getByLabel(label, { exact: true }).isVisible(), false, `no "${label}" choice`);
  }
}

async function addToPatch(rack, node, cables = []) {
  const graph = (await callBridge(rack, 'state')).project.graph;
  graph.nodes.push(node);
  graph.cables.push(...cables);
  await callBridge(rack, 'graph', graph);
  return graph.nodes.findIndex((entry) => entry.id === node.id);
}

describe('plug-in mode', () => {
  const fixture = pageFixture({ pluginMode: true });
  const scratch = scratchFolderPerTest();

  it('shows the DAW note in place of the device choices and never asks for devices', async () => {
    const status = await callBridge(fixture.rack, 'status');
    assert.equal(status.pluginMode, true);
    assert.equal('device' in status, false);
    await assert.rejects(callBridge(fixture.rack, 'start', { outputId: 'speakers' }), { message: hostNote });

    // From the page's first request on, so that none slips by before the page is drawn.
    const requests = [];
    const listen = (request) => {
      if (request.method() === 'POST' && request.url().endsWith('/bridge')) requests.push(JSON.parse(request.postData()));
    };
    fixture.browser.context.on('request', listen);
    const { page, errors } = await openRackPage(fixture.browser, fixture.rack);
    const panel = page.locator('#device-section');
    await panel.locator('.host-note').waitFor();
    assert.equal(await panel.locator('.host-note').textContent(), hostNote);
    await assertNoDeviceControls(panel);
    assert.equal(await panel.locator('.device-status dd').count(), 0);
    await poll(() => requests.filter((request) => request.method === 'status').length >= 5);
    await panel.screenshot({ path: screenshotPath('device-panel-plugin') });

    fixture.browser.context.off('request', listen);
    const asked = new Set(requests.map((request) => request.method));
    assert.equal(asked.has('state'), true);
    for (const method of ['devices', 'start', 'stop']) assert.equal(asked.has(method), false, `the page sent "${method}"`);
    assert.deepEqual(errors, []);
  });

  it('offers no device controls while the rack has not yet said which program it is', async () => {
    const page = await fixture.browser.context.newPage();
    const held = [];
    let answering = false;
    await page.route('**/bridge', (route) => (answering ? route.continue() : held.push(route)));
    await page.goto(fixture.rack.pageUrl);
    await poll(() => held.length > 0);
    const panel = page.locator('#device-section');
    await assertNoDeviceControls(panel);
    assert.equal(await panel.locator('.host-note').isVisible(), false);

    answering = true;
    for (const route of held) await route.continue();
    await panel.getByText(hostNote).waitFor();
    await assertNoDeviceControls(panel);
  });

  it('shows the host\'s sample rate, audio running and the host\'s callbacks rising', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await page.locator('[data-readout="rate"]', { hasText: '44100 Hz' }).waitFor();
    await page.locator('[data-readout="audio"].on', { hasText: 'Audio running' }).waitFor();
    assert.equal(await page.locator('[data-readout="latency"]').textContent(), 'Patch latency 0 frames (0.0 ms)');

    const first = await callbacksShown(page);
    const later = await poll(async () => {
      const shown = await callbacksShown(page);
      return shown > first + 10 ? shown : null;
    });
    const status = await callBridge(fixture.rack, 'status');
    assert.ok(status.callbacks >= later, `the rack counts ${status.callbacks}, the page showed ${later}`);
    assert.equal(status.sampleRate, 44100);
    assert.equal(status.running, true);
  });

  it('plays and stops the rack\'s transport while the host\'s audio runs on', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await page.getByRole('button', { name: 'Play', exact: true }).click();
    await page.locator('button.transport.play[aria-pressed="true"]').waitFor();
    assert.equal((await callBridge(fixture.rack, 'status')).playing, true);
    await page.getByRole('button', { name: 'Stop', exact: true }).click();
    await page.locator('button.transport.play[aria-pressed="false"]').waitFor();
    const status = await callBridge(fixture.rack, 'status');
    assert.equal(status.playing, false);
    assert.equal(status.running, true);
    assert.equal(await page.locator('[data-readout="audio"]').textContent(), 'Audio running');
    const sent = requests.filter((request) => ['play', 'record', 'stop'].includes(request.method)).map((request) => [request.method, request.params]);
    assert.deepEqual(sent, [['play', { playing: true }], ['play', { playing: false }]]);
  });

  it('starts a player with the host\'s transport before Play is pressed, and Stop stops it', async () => {
    const song = await makeWav(path.join(scratch.path, 'song.wav'), 5);
    const index = await addToPatch(fixture.rack, { id: 'deck', type: 'player', configuration: { path: song } });
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const meter = moduleBox(page, 'deck').locator('rect.meter');
    await poll(async () => Number(await meter.getAttribute('width')) > 0);
    await selectModule(page, 'deck');
    await page.locator('#module-panel .player-state', { hasText: 'Playing' }).waitFor();
    assert.equal(await page.locator('button.transport.play').getAttribute('aria-pressed'), 'false');
    const status = await callBridge(fixture.rack, 'status');
    assert.equal(status.playing, false);
    assert.ok(status.peaks[index] > 0, 'the rack reports a level for the player');

    await page.getByRole('button', { name: 'Stop', exact: true }).click();
    await page.locator('#module-panel .player-state', { hasText: /^Stopped/ }).waitFor();
    await poll(async () => (await callBridge(fixture.rack, 'status')).peaks[index] === 0);
  });

  it('mutes and unmutes a fader strip on the audio the host runs', async () => {
    const song = await makeWav(path.join(scratch.path, 'song.wav'), 5);
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.push({ id: 'deck', type: 'player', configuration: { path: song } });
    graph.cables = graph.cables.map((cable) => (cable.to === 'faders' ? { from: 'deck', output: 'out', to: 'faders', input: 'in0' } : cable));
    await callBridge(fixture.rack, 'graph', graph);
    const faders = graph.nodes.findIndex((node) => node.id === 'faders');
    const deck = graph.nodes.findIndex((node) => node.id === 'deck');
    const levels = async () => {
      const { peaks } = await callBridge(fixture.rack, 'status');
      return { deck: peaks[deck], faders: peaks[faders] };
    };
    await poll(async () => (await levels()).faders > 0);

    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await selectModule(page, 'faders');
    const mute = page.getByLabel('Mute');
    await mute.check();
    await poll(async () => {
      const now = await levels();
      return now.deck > 0 && now.faders === 0;
    });
    await poll(async () => Number(await moduleBox(page, 'faders').locator('rect.meter').getAttribute('width')) === 0);
    await mute.uncheck();
    await poll(async () => (await levels()).faders > 0);
    const sent = requests.filter((request) => request.method === 'parameter').map((request) => request.params);
    assert.deepEqual(sent, [
      { node: 'faders', parameter: 1, value: 1 },
      { node: 'faders', parameter: 1, value: 0 },
    ]);
    const stored = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((node) => node.id === 'faders');
    assert.deepEqual(stored.configuration.mutes, [false]);
  });

  it('records the host\'s silent input at the host\'s rate with Record and Stop', async () => {
    const take = path.join(scratch.path, 'take.wav');
    await addToPatch(fixture.rack, { id: 'tape', type: 'recorder', configuration: { path: take, channels: 2 } }, [{ from: 'input', output: 'out', to: 'tape', input: 'in' }]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'tape');
    await page.getByRole('button', { name: 'Record', exact: true }).click();
    await page.locator('#module-panel .recorder-state', { hasText: /^Recording$/ }).waitFor();
    await page.locator('#module-panel .armed', { hasText: /^Armed$/ }).waitFor();
    await poll(async () => (await callBridge(fixture.rack, 'status')).media.tape.frames > 44100 / 4);

    await page.getByRole('button', { name: 'Stop', exact: true }).click();
    await page.locator('#module-panel .recorder-state', { hasText: 'Take written' }).waitFor();
    await page.locator('button.transport.record[aria-pressed="false"]').waitFor();
    // The stored patch keeps "armed" until audio stops; the recorder itself has closed its take.
    await page.locator('#module-panel .armed', { hasText: /^Not armed$/ }).waitFor();

    const bytes = fs.readFileSync(take);
    assert.equal(bytes.toString('latin1', 0, 4), 'RIFF');
    assert.equal(bytes.readUInt16LE(20), 3, '32-bit float');
    assert.equal(bytes.readUInt16LE(22), 2, 'channels');
    assert.equal(bytes.readUInt32LE(24), 44100, 'the host\'s rate');
    assert.equal(bytes.readUInt16LE(34), 32);
    const dataBytes = bytes.readUInt32LE(40);
    assert.equal(dataBytes, bytes.length - 44);
    assert.ok(dataBytes >= (44100 / 4) * 8, `${dataBytes} bytes of audio`);
    const samples = new Float32Array(bytes.buffer.slice(bytes.byteOffset + 44, bytes.byteOffset + bytes.length));
    assert.equal(samples.every((sample) => sample === 0), true, 'the host\'s inputs were silent');
  });
});
