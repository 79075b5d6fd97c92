// A take made through the page alone: a player and a recorder added and cabled from the default
// patch, the simulated device started, the file played and recorded, and the take on disk holding
// the player's file sample for sample.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, it } from 'node:test';
import { callBridge, makeWav, openRackPage, pageFixture, poll, recordRequests, scratchFolderPerTest } from './harness.mjs';
import { dragBetween, dragModule, jack, moduleBox } from './page-helpers.mjs';

// Interleaved samples of a PCM or float WAV file, scaled to -1..1 as the rack reads them.
function readWav(file) {
  const bytes = fs.readFileSync(file);
  assert.equal(bytes.toString('latin1', 0, 4), 'RIFF');
  assert.equal(bytes.toString('latin1', 8, 12), 'WAVE');
  let format = null;
  for (let offset = 12; offset + 8 <= bytes.length; ) {
    const id = bytes.toString('latin1', offset, offset + 4);
    const size = bytes.readUInt32LE(offset + 4);
    const body = offset + 8;
    if (id === 'fmt ') {
      format = { tag: bytes.readUInt16LE(body), channels: bytes.readUInt16LE(body + 2), rate: bytes.readUInt32LE(body + 4), bits: bytes.readUInt16LE(body + 14) };
      if (format.tag === 0xfffe) format.tag = bytes.readUInt16LE(body + 24);
    } else if (id === 'data') {
      const width = format.bits / 8;
      const count = Math.floor(Math.min(size, bytes.length - body) / width);
      const samples = new Float64Array(count);
      for (let index = 0; index < count; index += 1) {
        const at = body + index * width;
        if (format.tag === 3 && format.bits === 32) samples[index] = bytes.readFloatLE(at);
        else if (format.bits === 16) samples[index] = bytes.readInt16LE(at) / 32768;
        else if (format.bits === 24) samples[index] = bytes.readIntLE(at, 3) / 8388608;
        else if (format.bits === 32) samples[index] = bytes.readInt32LE(at) / 2147483648;
        else throw new Error(`unexpected WAV format ${format.tag}/${format.bits}`);
      }
      return { ...format, samples };
    }
    offset = body + size + (size % 2);
  }
  throw new Error(`${file} has no data chunk`);
}

function firstSoundingFrame(samples, channels) {
  const index = samples.findIndex((sample) => sample !== 0);
  return index < 0 ? -1 : Math.floor(index / channels);
}

async function addModuleThroughForm(page, type, fields) {
  const form = page.locator('form.add-module');
  await page.getByLabel('Module type').selectOption(type);
  for (const [label, value] of Object.entries(fields)) {
    await form.getByLabel(label).fill(value);
    await form.getByRole('button', { name: 'Use path' }).click();
  }
  return form;
}

describe('recording', () => {
  const fixture = pageFixture();
  const scratch = scratchFolderPerTest();

  it('records a player through a recorder, all from the page, and the take matches the file', async () => {
    const song = await makeWav(path.join(scratch.path, 'song.wav'), 1);
    const destination = path.join(scratch.path, 'take.wav');
    const { page, errors } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);

    let form = await addModuleThroughForm(page, 'player', { 'WAV file': song });
    await poll(() => requests.some((request) => request.method === 'pickAudio'));
    await form.getByLabel('Name', { exact: true }).fill('deck');
    await form.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'deck').waitFor();
    await dragModule(page, 'deck', 0, 260);

    form = await addModuleThroughForm(page, 'recorder', { 'Recording destination': destination });
    await poll(() => requests.some((request) => request.method === 'pickRecording'));
    await form.getByLabel('Name', { exact: true }).fill('tape');
    await form.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'tape').waitFor();
    await dragModule(page, 'tape', 340, 260);
    await poll(async () => {
      const layout = (await callBridge(fixture.rack, 'state')).project.layout;
      return layout.tape && layout.deck && layout.tape.x - layout.deck.x >= 300;
    });

    await dragBetween(page, jack(page, 'deck', 'output', 'out'), jack(page, 'tape', 'input', 'in'));
    await page.locator('svg.patch g.cable[aria-label="deck out to tape in"]').waitFor({ state: 'attached' });

    await page.getByRole('button', { name: 'Find devices' }).click();
    await page.getByRole('button', { name: 'Start audio' }).click();
    await page.locator('[data-readout="audio"]', { hasText: 'Audio running' }).waitFor();

    await page.getByRole('button', { name: 'Record', exact: true }).click();
    await page.locator('button.transport.record.capturing').waitFor();
    await page.getByRole('button', { name: 'Play', exact: true }).click();
    await page.locator('button.transport.play[aria-pressed="true"]').waitFor();
    // The player reaches the end of its one-second file on its own.
    await poll(async () => (await callBridge(fixture.rack, 'status')).media.deck.endSample >= 0, { timeout: 10000 });
    await page.getByRole('button', { name: 'Stop', exact: true }).click();
    await page.locator('button.transport.record[aria-pressed="false"]').waitFor();

    const status = await poll(async () => {
      const answer = await callBridge(fixture.rack, 'status');
      return answer.media.tape.finalized === true ? answer : null;
    });
    assert.equal(status.media.tape.droppedFrames, 0);
    const take = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((node) => node.id === 'tape').configuration.path;
    assert.ok(fs.existsSync(take), `the take ${take} is on disk`);
    await moduleBox(page, 'tape').locator('text.title').click();
    await page.locator('#module-panel .take-file', { hasText: `Take written: ${take}` }).waitFor();
    await page.locator('#module-panel .armed', { hasText: /^Not armed$/ }).waitFor();

    const original = readWav(song);
    const recorded = readWav(take);
    assert.equal(recorded.channels, original.channels);
    assert.equal(recorded.rate, original.rate);
    // Record was pressed before play, so the take opens with silence; from the song's first
    // sounding frame on, every sample is the file's.
    const lead = firstSoundingFrame(recorded.samples, 2) - firstSoundingFrame(original.samples, 2);
    assert.ok(lead >= 0, 'the song is in the take');
    const start = lead * 2;
    assert.ok(recorded.samples.length >= start + original.samples.length, 'the whole song is in the take');
    let mismatches = 0;
    for (let index = 0; index < original.samples.length; index += 1) {
      if (recorded.samples[start + index] !== original.samples[index]) mismatches += 1;
    }
    assert.equal(mismatches, 0);
    assert.ok(recorded.samples.subarray(0, start).every((sample) => sample === 0), 'silence before the song');
    assert.ok(recorded.samples.subarray(start + original.samples.length).every((sample) => sample === 0), 'silence after the song');
    assert.deepEqual(errors, []);
  });
});

describe('recording to a full disk', () => {
  const fixture = pageFixture({ fileSizeLimit: 256 });
  const scratch = scratchFolderPerTest();

  it('says on the page why the take stopped and what it keeps', async () => {
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.push({ id: 'tape', type: 'recorder', configuration: { path: path.join(scratch.path, 'take.wav') } });
    graph.cables.push({ from: 'input', output: 'out', to: 'tape', input: 'in' });
    await callBridge(fixture.rack, 'graph', graph);
    const { page, errors } = await openRackPage(fixture.browser, fixture.rack);

    await page.getByRole('button', { name: 'Find devices' }).click();
    await page.getByRole('button', { name: 'Start audio' }).click();
    await page.locator('[data-readout="audio"]', { hasText: 'Audio running' }).waitFor();
    await page.getByRole('button', { name: 'Record', exact: true }).click();

    const status = await poll(async () => {
      const answer = await callBridge(fixture.rack, 'status');
      return answer.media.tape.finalized === true && answer.media.tape.failed === true ? answer : null;
    }, { timeout: 10000 });
    const take = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((node) => node.id === 'tape').configuration.path;
    const seconds = (status.media.tape.frames / status.media.tape.sampleRate).toFixed(1);
    assert.match(status.error, /^Recording stopped: .+\. The take keeps the \d+\.\d s recorded: .+\.$/);
    assert.ok(status.error.endsWith(` keeps the ${seconds} s recorded: ${take}.`), status.error);
    assert.ok(status.media.tape.frames > 0, 'the take keeps what fit');
    await page.locator('#transport .rack-error', { hasText: status.error }).waitFor();
    assert.deepEqual(errors, []);
  });
});
