// File choices go through the view's pickers with the typed path as "current"; projects are
// saved and opened through "saveProject" and "loadProject".

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, it } from 'node:test';
import { callBridge, pageFixture, makeWav, openRackPage, poll, recordRequests, scratchFolderPerTest } from './harness.mjs';
import { moduleBox } from './page-helpers.mjs';

async function chooseType(page, type) {
  await page.getByLabel('Module type').selectOption(type);
}

describe('files and projects', () => {
  const fixture = pageFixture();
  const scratch = scratchFolderPerTest();

  it('adds a player whose file was checked by "pickAudio" with the typed path, and shows its waveform', async () => {
    const song = await makeWav(path.join(scratch.path, 'song.wav'), 1);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await chooseType(page, 'player');
    const form = page.locator('form.add-module');
    await form.getByLabel('WAV file').fill(song);
    await form.getByRole('button', { name: 'Use path' }).click();
    await poll(() => requests.some((request) => request.method === 'pickAudio'));
    assert.deepEqual(requests.find((request) => request.method === 'pickAudio').params, { current: song });
    await form.getByLabel('Name', { exact: true }).fill('deck');
    await form.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'deck').waitFor();

    const node = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((entry) => entry.id === 'deck');
    assert.equal(node.type, 'player');
    assert.equal(node.configuration.path, song);
    await page.locator('#module-panel .file', { hasText: song }).waitFor();
    const lit = await page.locator('#module-panel canvas.waveform').evaluate((canvas) => {
      const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let count = 0;
      for (let index = 0; index < pixels.length; index += 4) if (pixels[index + 1] > 150) count += 1;
      return count;
    });
    assert.ok(lit > 1000, 'the waveform is drawn');
  });

  it('shows a refused file choice under its field, also when the typed path is added, and adds nothing', async () => {
    fs.writeFileSync(path.join(scratch.path, 'notes.txt'), 'not audio');
    fs.writeFileSync(path.join(scratch.path, 'notes.wav'), 'not audio');
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await chooseType(page, 'player');
    const form = page.locator('form.add-module');
    const refusal = form.locator('.path-field .form-error', { hasText: 'Choose a file with the .wav extension.' });
    await form.getByLabel('WAV file').fill(path.join(scratch.path, 'notes.txt'));
    await form.getByRole('button', { name: 'Use path' }).click();
    await refusal.waitFor();

    const checked = page.waitForResponse((response) => response.url().endsWith('/bridge') && JSON.parse(response.request().postData()).method === 'pickAudio');
    await form.getByRole('button', { name: 'Add module' }).click();
    await checked;
    await refusal.waitFor();
    assert.deepEqual(requests.map((request) => request.method).filter((method) => method !== 'status'), ['pickAudio', 'pickAudio']);

    // A file the picker takes is still the rack's to read.
    await form.getByLabel('WAV file').fill(path.join(scratch.path, 'notes.wav'));
    await form.getByRole('button', { name: 'Add module' }).click();
    await form.locator('.form-error', { hasText: /Cannot open WAV file|Only RIFF WAV supported/ }).waitFor();
    assert.equal(requests.filter((request) => request.method === 'graph').length, 1);
    assert.equal((await callBridge(fixture.rack, 'state')).project.graph.nodes.length, 3);
  });

  it('adds a recorder with a typed destination only as "pickRecording" answers it, and keeps it on later edits', async () => {
    await makeWav(path.join(scratch.path, 'take.wav'), 0.1);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await chooseType(page, 'recorder');
    const form = page.locator('form.add-module');
    await form.getByLabel('Recording destination').fill(path.join(scratch.path, 'take.wav'));
    await form.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'recorder1').waitFor();

    const methods = requests.map((request) => request.method).filter((method) => ['pickRecording', 'graph'].includes(method));
    assert.deepEqual(methods, ['pickRecording', 'graph']);
    assert.deepEqual(requests.find((request) => request.method === 'pickRecording').params, { current: path.join(scratch.path, 'take.wav') });
    const take = path.join(scratch.path, 'take-take1.wav');
    assert.equal(requests.find((request) => request.method === 'graph').params.nodes.at(-1).configuration.path, take);

    const panel = page.locator('#module-panel');
    await panel.locator('.file', { hasText: 'take-take1.wav' }).waitFor();
    await panel.getByLabel('Channels').fill('1');
    await panel.getByRole('button', { name: 'Apply configuration' }).click();
    await poll(() => requests.filter((request) => request.method === 'graph').length === 2);
    const edit = requests.filter((request) => request.method === 'graph')[1].params.nodes.at(-1).configuration;
    assert.deepEqual([edit.channels, edit.path], [1, take]);
    assert.equal(requests.filter((request) => request.method === 'pickRecording').length, 1, 'an unchanged destination is not asked again');
  });

  it('gives a recorder a new take name when its destination exists', async () => {
    await makeWav(path.join(scratch.path, 'take.wav'), 0.1);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await chooseType(page, 'recorder');
    const form = page.locator('form.add-module');
    await form.getByLabel('Recording destination').fill(path.join(scratch.path, 'take.wav'));
    await form.getByRole('button', { name: 'Use path' }).click();
    await poll(async () => (await form.getByLabel('Recording destination').inputValue()) === path.join(scratch.path, 'take-take1.wav'));
    // Values the rack would clamp are refused in the form, one message at a time.
    for (const [label, value, text] of [['Tail silence (s)', '-5', 'Tail silence (s) must be between 0.01 and 10.'], ['Silence threshold (dB)', '20', 'Silence threshold (dB) must be between -120 and -6.']]) {
      await form.getByLabel(label).fill(value);
      await form.getByRole('button', { name: 'Add module' }).click();
      await form.locator('.form-error', { hasText: text }).waitFor();
      assert.equal(await form.locator('.form-error:visible').count(), 1);
      await form.getByLabel(label).fill(label.startsWith('Tail') ? '0.5' : '-80');
    }
    await form.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'recorder1').waitFor();
    await page.locator('#module-panel .file', { hasText: 'take-take1.wav' }).waitFor();
    await page.locator('#module-panel .armed', { hasText: 'Not armed' }).waitFor();
  });

  it('saves a project, and opening it again brings back the saved patch and layout', async () => {
    const project = path.join(scratch.path, 'set.vkrack');
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const panel = page.locator('#project-section');
    await panel.getByLabel('Project file').fill(project);
    await panel.getByRole('button', { name: 'Save project' }).click();
    await panel.locator('.form-note', { hasText: `Saved ${project}` }).waitFor();
    const saved = JSON.parse(fs.readFileSync(project, 'utf8'));
    assert.equal(saved.product, 'VELKAPHON RACK');
    assert.deepEqual(saved.layout.faders, { x: 380, y: 60 });

    await chooseType(page, 'summing');
    await page.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'summing1').waitFor();
    await callBridge(fixture.rack, 'layout', { input: { x: 45, y: 500 }, faders: { x: 380, y: 500 }, output: { x: 735, y: 500 }, summing1: { x: 10, y: 10 } });

    const asked = new Promise((resolve) => {
      page.once('dialog', (dialog) => resolve(dialog.accept().then(() => dialog.message())));
    });
    await panel.getByRole('button', { name: 'Open project' }).click();
    assert.equal(await asked, 'Open another project? The changes to this patch since it was last saved will be lost.');
    await moduleBox(page, 'summing1').waitFor({ state: 'detached' });
    assert.deepEqual(await page.locator('svg.patch g.module').evaluateAll((groups) => groups.map((group) => group.dataset.node)), ['input', 'faders', 'output']);
    assert.equal(await moduleBox(page, 'faders').getAttribute('transform'), 'translate(380,60)');
    const state = await callBridge(fixture.rack, 'state');
    assert.deepEqual(state.project.layout, saved.layout);
  });

  it('shows a refused project file in plain words, one message at a time, and keeps the patch', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const panel = page.locator('#project-section');
    const garbage = path.join(scratch.path, 'notes.vkrack');
    fs.writeFileSync(garbage, 'not json');
    const refusals = [
      [path.join(scratch.path, 'missing.vkrack'), /^Could not open the project\. The selected file does not exist\.$/],
      [garbage, /^Could not open the project\. This file is not a rack project \(.*parse_error.*\)$/],
      ['', /^Could not save the project\. Type the project file's path first\.$/, 'Save project'],
    ];
    for (const [file, text, button = 'Open project'] of refusals) {
      await panel.getByLabel('Project file').fill(file);
      await panel.getByRole('button', { name: button }).click();
      await panel.locator('.form-error', { hasText: text }).waitFor();
      assert.equal(await panel.locator('.form-error:visible').count(), 1);
    }
    assert.equal(await page.locator('svg.patch g.module').count(), 3);
  });

  it('shows the rack\'s refusal of an editor for a built-in module', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const answer = await page.evaluate(async () => {
      const { callRack } = await import('./js/bridge.js');
      try {
        await callRack('editor', { node: 'faders' });
        return 'accepted';
      } catch (error) {
        return error.message;
      }
    });
    assert.equal(answer, 'Built-in controls are on the module panel.');
  });
});
