// Drawing the patch the rack reports, and editing it: every edit is one "graph" command and a
// refusal leaves the patch as the rack has it.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import path from 'node:path';
import { callBridge, pageFixture, makeWav, openRackPage, poll, recordRequests, scratchFolder, screenshotPath, testPlugins } from './harness.mjs';
import { dragBetween, dragModule, jack, moduleBox, portLabels } from './page-helpers.mjs';

// Answers every request for the method as the rack answers a refusal; the rest reach the rack.
function refuse(page, method, error) {
  return page.route('**/bridge', (route) => {
    const request = JSON.parse(route.request().postData());
    if (request.method !== method) return route.continue();
    return route.fulfill({ status: 200, contentType: 'application/json', body: JSON.stringify({ id: request.id, ok: false, error }) });
  });
}

// How far a point lies from a box on the page (0 inside it).
function distance(box, point) {
  const dx = Math.max(box.x - point.x, 0, point.x - (box.x + box.width));
  const dy = Math.max(box.y - point.y, 0, point.y - (box.y + box.height));
  return Math.hypot(dx, dy);
}

// The default patch with a stereo breakout "split" below the faders; output at outputY.
async function withSplit(rack, outputY = 60) {
  const graph = (await callBridge(rack, 'state')).project.graph;
  graph.nodes.push({ id: 'split', type: 'breakout', configuration: { channels: 2 } });
  await callBridge(rack, 'graph', graph);
  await callBridge(rack, 'layout', { input: { x: 45, y: 60 }, faders: { x: 380, y: 60 }, output: { x: 735, y: outputY }, split: { x: 380, y: 300 } });
}

// Each module type with only the keys the rack cannot do without, and the values its form must
// show: what the rack runs, read from the ports it reports where they tell it, else the rack's
// own value for a missing key.
const sparseModules = (song) => [
  { type: 'input', configuration: {}, runs: ({ outputs }) => ({ channels: outputs[0].channels, offset: 0 }) },
  { type: 'output', configuration: {}, runs: ({ inputs }) => ({ channels: inputs[0].channels, offset: 0 }) },
  { type: 'fader-bank', configuration: {}, runs: ({ inputs }) => ({ strips: inputs.length, channels: inputs.map((port) => port.channels) }) },
  { type: 'matrix', configuration: {}, runs: ({ inputs, outputs }) => ({ inputChannels: inputs[0].channels, outputChannels: outputs[0].channels, mapping: [] }) },
  { type: 'summing', configuration: {}, runs: ({ inputs, outputs }) => ({ channels: outputs[0].channels, inputs: inputs.length }) },
  { type: 'distributor', configuration: {}, runs: ({ inputs, outputs }) => ({ channels: inputs[0].channels, outputs: outputs.length }) },
  { type: 'breakout', configuration: {}, runs: ({ outputs }) => ({ channels: outputs.length }) },
  { type: 'player', configuration: { path: song }, runs: ({ outputs }) => ({ path: song, channels: outputs[0].channels, followTransport: true }) },
  {
    type: 'recorder',
    configuration: {},
    runs: ({ inputs }) => ({ path: '', channels: inputs[0].channels, armed: false, followTransport: false, silenceSeconds: 0.5, maxTailSeconds: 30, silenceDb: -80 }),
  },
  { type: 'vst3', configuration: { path: testPlugins.vst3 }, runs: () => ({ path: testPlugins.vst3, classId: '', precision: 'auto' }) },
  { type: 'clap', configuration: { path: testPlugins.clap }, runs: () => ({ path: testPlugins.clap, pluginId: '' }) },
];

// A value as its form control holds it.
function controlValue(value) {
  if (typeof value === 'boolean') return value;
  return Array.isArray(value) ? value.join(', ') : String(value);
}

describe('patch editing', () => {
  const fixture = pageFixture();

  it('draws the default patch from "state": three modules at their layout, their ports and two cables', async () => {
    const { page, errors } = await openRackPage(fixture.browser, fixture.rack);
    const state = await callBridge(fixture.rack, 'state');
    const ids = await page.locator('svg.patch g.module').evaluateAll((groups) => groups.map((group) => group.dataset.node));
    assert.deepEqual(ids, state.project.graph.nodes.map((node) => node.id));
    assert.deepEqual(ids, ['input', 'faders', 'output']);
    for (const id of ids) {
      assert.equal(await moduleBox(page, id).getAttribute('transform'), `translate(${state.project.layout[id].x},${state.project.layout[id].y})`);
    }
    assert.deepEqual(await portLabels(page, 'input'), { inputs: [], outputs: ['out · 2'] });
    assert.deepEqual(await portLabels(page, 'faders'), { inputs: ['in0 · 2'], outputs: ['out0 · 2'] });
    assert.deepEqual(await portLabels(page, 'output'), { inputs: ['in · 2'], outputs: [] });
    const cables = await page.locator('svg.patch g.cable').evaluateAll((groups) => groups.map((group) => group.getAttribute('aria-label')));
    assert.deepEqual(cables, ['input out to faders in0', 'faders out0 to output in']);
    await page.screenshot({ path: screenshotPath('default-patch') });
    assert.deepEqual(errors, []);
  });

  it('adds a module with one "graph" command and saves its place with "layout"', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await page.getByLabel('Module type').selectOption('breakout');
    await page.getByLabel('Name', { exact: true }).fill('split');
    await page.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'split').waitFor();

    const edits = requests.filter((request) => request.method === 'graph');
    assert.equal(edits.length, 1);
    assert.deepEqual(edits[0].params.nodes.at(-1), { id: 'split', type: 'breakout', configuration: { channels: 2 } });
    assert.equal(edits[0].params.cables.length, 2);
    assert.deepEqual(await portLabels(page, 'split'), { inputs: ['in · 2'], outputs: ['out0 · 1', 'out1 · 1'] });
    // Its panel comes into view with the keyboard on its first field.
    await page.locator('#module-panel h3', { hasText: 'split' }).waitFor();
    await page.waitForFunction(() => {
      const active = document.activeElement;
      const panel = document.getElementById('side-panels').getBoundingClientRect();
      const box = active.getBoundingClientRect();
      return active.closest('#module-panel') && active.labels[0].textContent === 'Channels' && box.top >= panel.top && box.bottom <= panel.bottom;
    });

    await poll(() => requests.some((request) => request.method === 'layout'));
    const state = await poll(async () => {
      const answer = await callBridge(fixture.rack, 'state');
      return answer.project.layout.split ? answer : null;
    });
    assert.equal(await moduleBox(page, 'split').getAttribute('transform'), `translate(${state.project.layout.split.x},${state.project.layout.split.y})`);
    assert.ok(state.project.layout.input, 'the other modules keep their places');

    // A second one at the same spot lands beside the first, in view.
    await page.getByRole('button', { name: 'Add module' }).click();
    await moduleBox(page, 'breakout1').waitFor();
    const scroller = await page.locator('#patch-scroller').boundingBox();
    const boxes = await page.locator('svg.patch g.module rect.body').evaluateAll((rects) => rects.map((rect) => rect.getBoundingClientRect().toJSON()));
    for (const [index, box] of boxes.entries()) {
      for (const other of boxes.slice(index + 1)) {
        assert.ok(box.right <= other.left || other.right <= box.left || box.bottom <= other.top || other.bottom <= box.top, 'no box lies on another');
      }
    }
    const added = boxes.at(-1);
    assert.ok(added.left >= scroller.x && added.right <= scroller.x + scroller.width && added.top >= scroller.y && added.bottom <= scroller.y + scroller.height, 'the new box is in view');
  });

  it('connects a cable by dragging from an output to an input, as one "graph" command', async () => {
    await withSplit(fixture.rack);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await dragBetween(page, jack(page, 'input', 'output', 'out'), jack(page, 'split', 'input', 'in'));
    await poll(async () => (await page.locator('svg.patch g.cable').count()) === 3);

    const edits = requests.filter((request) => request.method === 'graph');
    assert.equal(edits.length, 1);
    assert.deepEqual(edits[0].params.cables.at(-1), { from: 'input', output: 'out', to: 'split', input: 'in' });
    const state = await callBridge(fixture.rack, 'state');
    assert.deepEqual(state.project.graph.cables.at(-1), { from: 'input', output: 'out', to: 'split', input: 'in' });
    assert.equal(await page.locator('svg.patch g.cable[aria-label="input out to split in"]').count(), 1);
  });

  it('connects by a click on an output and then on an input; Escape lets go, and a click alone is no error', async () => {
    await withSplit(fixture.rack);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    const held = (id, kind) => moduleBox(page, id).locator(`g.port.${kind}.wire-start`);
    const notice = page.locator('#edit-notice');
    // On the jack's label, as a newcomer may.
    await moduleBox(page, 'input').locator('g.port.output text').click();
    await held('input', 'output').waitFor();
    assert.equal(await notice.isHidden(), true, 'a click alone is no failed drag');
    await jack(page, 'split', 'input', 'in').click();
    await page.locator('svg.patch g.cable[aria-label="input out to split in"]').waitFor();
    assert.equal(await page.locator('svg.patch .wire-start').count(), 0);
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.cables.at(-1), { from: 'input', output: 'out', to: 'split', input: 'in' });

    // After Escape the next click starts a cable of its own instead of finishing the one let go.
    await jack(page, 'faders', 'output', 'out0').click();
    await held('faders', 'output').waitFor();
    await page.keyboard.press('Escape');
    await held('faders', 'output').waitFor({ state: 'detached' });
    await jack(page, 'split', 'input', 'in').click();
    await held('split', 'input').waitFor();
    await page.keyboard.press('Escape');
    await held('split', 'input').waitFor({ state: 'detached' });
    assert.equal(requests.filter((request) => request.method === 'graph').length, 1);
    assert.equal(await notice.isHidden(), true);
  });

  it('offers in the connect form only the inputs a cable can reach, and replaces the cable of a fed input in one step', async () => {
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.push({ id: 'split', type: 'breakout', configuration: { channels: 2 } }, { id: 'echo', type: 'fader-bank', configuration: {} });
    graph.cables.push({ from: 'faders', output: 'out0', to: 'echo', input: 'in0' });
    await callBridge(fixture.rack, 'graph', graph);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    const panel = page.locator('#module-panel');
    // split's outputs are mono: no input takes one.
    await moduleBox(page, 'split').locator('text.title').click();
    await panel.locator('h3', { hasText: 'split' }).waitFor();
    assert.equal(await panel.getByLabel('To input').locator('option').count(), 0);
    assert.equal(await panel.getByRole('button', { name: 'Connect' }).isDisabled(), true);
    await panel.locator('.connect-hint', { hasText: 'No input can take this output' }).waitFor();

    // Not echo's own input, not the faders that feed it; the output's input names its cable.
    await moduleBox(page, 'echo').locator('text.title').click();
    await panel.locator('h3', { hasText: 'echo' }).waitFor();
    assert.deepEqual(await panel.getByLabel('To input').locator('option').allTextContents(), ['output · in · now from faders · out0', 'split · in']);
    await panel.getByLabel('To input').selectOption({ label: 'output · in · now from faders · out0' });
    await panel.getByRole('button', { name: 'Replace cable' }).click();
    await page.locator('svg.patch g.cable[aria-label="echo out0 to output in"]').waitFor();
    assert.equal(requests.filter((request) => request.method === 'graph').length, 1);
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.cables, [...graph.cables.filter((cable) => cable.to !== 'output'), { from: 'echo', output: 'out0', to: 'output', input: 'in' }]);

    await page.getByRole('button', { name: 'Undo' }).click();
    await page.locator('#undo:disabled').waitFor();
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.cables, graph.cables);
  });

  it('connects an event cable by dragging between event jacks and draws it apart from the audio cables', async () => {
    const song = await makeWav(path.join(scratchFolder(), 'song.wav'), 0.5);
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.push({ id: 'deck', type: 'player', configuration: { path: song } }, { id: 'take', type: 'recorder', configuration: {} });
    graph.cables.push({ from: 'deck', output: 'out', to: 'take', input: 'in' });
    await callBridge(fixture.rack, 'graph', graph);
    await callBridge(fixture.rack, 'layout', { input: { x: 45, y: 60 }, faders: { x: 380, y: 60 }, output: { x: 735, y: 60 }, deck: { x: 45, y: 300 }, take: { x: 400, y: 300 } });
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await dragBetween(page, jack(page, 'take', 'event-input'), jack(page, 'deck', 'event-output'));
    await page.locator('svg.patch g.cable.event').waitFor();

    const edits = requests.filter((request) => request.method === 'graph');
    assert.equal(edits.length, 1);
    assert.deepEqual(edits[0].params.eventCables, [{ from: 'deck', to: 'take' }]);
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.eventCables, [{ from: 'deck', to: 'take' }]);
    assert.equal(await page.locator('svg.patch g.cable.event').getAttribute('aria-label'), 'events deck to take');
    assert.equal(await page.locator('svg.patch g.cable.audio').count(), 3);

    // The panel names the jacks as the boxes do, and sends no events of a module to itself.
    await moduleBox(page, 'deck').locator('text.title').click();
    const [output] = (await portLabels(page, 'deck')).outputs.map((label) => label.replace(/ · \d+$/, ''));
    const [input] = (await portLabels(page, 'take')).inputs.map((label) => label.replace(/ · \d+$/, ''));
    assert.notEqual(output, 'out');
    await page.locator('#module-panel ul.connections li', { hasText: `deck · ${output} → take · ${input}` }).waitFor();
    assert.deepEqual(await page.locator('#module-panel').getByLabel('Send events to').locator('option').allTextContents(), ['take']);
  });

  it('shows a refused edit beside the drop with the rack\'s words and keeps the patch as reported', async () => {
    await withSplit(fixture.rack, 300);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const target = jack(page, 'output', 'input', 'in');
    const drop = await target.boundingBox();
    await dragBetween(page, jack(page, 'split', 'output', 'out0'), target);

    const notice = page.locator('#edit-notice');
    await notice.waitFor({ state: 'visible' });
    assert.equal(await notice.locator('.notice-text').textContent(), 'Not connected. Cable channel widths differ; use a Breakout/Matrix module');
    const box = await notice.boundingBox();
    assert.ok(distance(box, drop) < 80, 'the message sits beside the drop');
    assert.ok(box.width > 250, 'the message is not squeezed to a word a line');
    // A drop on a jack of the wrong kind says so in place of the last message.
    await dragBetween(page, jack(page, 'faders', 'output', 'out0'), jack(page, 'input', 'output', 'out'));
    await notice.locator('.notice-detail', { hasText: 'A cable joins an output to an input' }).waitFor();

    const state = await callBridge(fixture.rack, 'state');
    assert.equal(state.project.graph.cables.length, 2);
    const drawn = await page.locator('svg.patch g.cable').evaluateAll((groups) => groups.map((group) => group.getAttribute('aria-label')));
    assert.deepEqual(drawn, state.project.graph.cables.map((cable) => `${cable.from} ${cable.output} to ${cable.to} ${cable.input}`));
  });

  it('saves a moved module with "layout" and shows it there after a reload', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    const title = moduleBox(page, 'faders').locator('text.title');
    const start = await title.boundingBox();
    await page.mouse.move(start.x + 5, start.y + 5);
    await page.mouse.down();
    await page.mouse.move(start.x + 55, start.y + 90, { steps: 5 });
    await page.mouse.move(start.x + 105, start.y + 180, { steps: 5 });
    await page.mouse.up();

    const layoutRequest = await poll(() => requests.find((request) => request.method === 'layout'));
    assert.deepEqual(layoutRequest.params.faders, { x: 480, y: 235 });
    assert.deepEqual(layoutRequest.params.input, { x: 45, y: 60 });
    assert.equal(requests.filter((request) => request.method === 'graph').length, 0, 'moving is no patch edit');
    const state = await poll(async () => {
      const answer = await callBridge(fixture.rack, 'state');
      return answer.project.layout.faders.x === 480 ? answer : null;
    });
    assert.deepEqual(state.project.layout.faders, { x: 480, y: 235 });

    await page.reload();
    await moduleBox(page, 'faders').waitFor();
    assert.equal(await moduleBox(page, 'faders').getAttribute('transform'), 'translate(480,235)');
    const path = await page.locator('svg.patch g.cable[aria-label="input out to faders in0"] path.wire').getAttribute('d');
    assert.match(path, /480\.0,308\.0$/, 'the cable follows the module');

    // A box dropped on another moves aside to the nearest free place.
    await dragModule(page, 'output', -690, 0);
    await poll(async () => (await callBridge(fixture.rack, 'state')).project.layout.output.x !== 735);
    const [input, output] = await Promise.all(['input', 'output'].map((id) => moduleBox(page, id).locator('rect.body').boundingBox()));
    const apart = input.x + input.width <= output.x || output.x + output.width <= input.x || input.y + input.height <= output.y || output.y + output.height <= input.y;
    assert.ok(apart, 'the dropped box lies on no other');
  });

  it('removes a module and its cables without asking, and Undo in the notice brings them back; Ctrl+Shift+Z removes them again', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const before = (await callBridge(fixture.rack, 'state')).project;
    await moduleBox(page, 'faders').focus();
    await page.keyboard.press('Delete');
    const notice = page.locator('#edit-notice');
    await notice.locator('.notice-lead', { hasText: 'Removed faders and 2 cables —' }).waitFor();
    await moduleBox(page, 'faders').waitFor({ state: 'detached' });
    await page.waitForFunction(() => document.activeElement.dataset.node === 'output');

    await notice.getByRole('button', { name: 'Undo' }).click();
    await moduleBox(page, 'faders').waitFor();
    await page.locator('#redo:enabled').waitFor();
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project, before);
    assert.equal(await page.locator('svg.patch g.cable').count(), 2);

    await page.keyboard.press('Control+Shift+Z');
    await moduleBox(page, 'faders').waitFor({ state: 'detached' });
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.cables, []);
  });

  it('takes a drawn cable back with Ctrl+Z and draws it again with Redo, and a fader move with Ctrl+Z through "parameter"', async () => {
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    await callBridge(fixture.rack, 'graph', { ...graph, cables: graph.cables.slice(0, 1) });
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    const added = page.locator('svg.patch g.cable[aria-label="faders out0 to output in"]');
    await dragBetween(page, jack(page, 'faders', 'output', 'out0'), jack(page, 'output', 'input', 'in'));
    await added.waitFor({ state: 'attached' });
    await page.keyboard.press('Control+z');
    await added.waitFor({ state: 'detached' });
    await page.getByRole('button', { name: 'Redo' }).click();
    await added.waitFor({ state: 'attached' });
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.cables.at(-1), { from: 'faders', output: 'out0', to: 'output', input: 'in' });

    await moduleBox(page, 'faders').locator('text.title').click();
    await page.getByLabel('Strip 1 gain').focus();
    await page.keyboard.press('End');
    await page.locator('#module-panel .gain-readout', { hasText: '12.0 dB' }).waitFor();
    await page.keyboard.press('Control+z');
    await page.locator('#module-panel .gain-readout', { hasText: '0.0 dB' }).waitFor();
    const sent = requests.filter((request) => request.method === 'parameter' || request.method === 'graph').map((request) => [request.method, request.params.value]);
    assert.deepEqual(sent.slice(-2), [['parameter', 12], ['parameter', 0]]);
    assert.equal((await callBridge(fixture.rack, 'state')).project.graph.nodes[1].configuration.gainsDb[0], 0);
  });

  it('keeps the toolbar, the panel and every box after Fit usable from 1920×1080 down to 800×600, none under another', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    for (const [width, height] of [[1920, 1080], [1400, 900], [1024, 700], [933, 600], [800, 600]]) {
      await page.setViewportSize({ width, height });
      await page.getByRole('button', { name: 'Fit' }).click();
      const measured = await page.evaluate(() => {
        const rect = (element) => element.getBoundingClientRect().toJSON();
        const scroller = document.getElementById('patch-scroller');
        return {
          patch: { ...rect(scroller), right: scroller.getBoundingClientRect().left + scroller.clientWidth, bottom: scroller.getBoundingClientRect().top + scroller.clientHeight },
          panel: rect(document.getElementById('side-panels')),
          controls: [...document.querySelectorAll('.patch-toolbar button, .top-bar button')].map(rect),
          boxes: [...scroller.querySelectorAll('g.module rect.body')].map(rect),
        };
      });
      const { patch, panel } = measured;
      const size = `${width}×${height}`;
      assert.ok(patch.right - patch.left >= 300 && patch.bottom - patch.top >= 250, `${size}: a patch area of ${patch.width}×${patch.height}`);
      assert.ok(patch.right <= panel.left && panel.right <= width && panel.width >= 250, `${size}: the panel beside the patch`);
      for (const control of measured.controls) assert.ok(control.right <= width && control.bottom <= height && (control.top >= patch.top ? control.right <= panel.left : true), `${size}: a button in view`);
      for (const box of measured.boxes) assert.ok(box.left >= patch.left && box.right <= patch.right && box.top >= patch.top && box.bottom <= patch.bottom, `${size}: a box in view`);
      await page.screenshot({ path: screenshotPath(`layout-${width}x${height}`) });
    }
  });

  it('hides and shows the side panel, and makes it wider with the arrow keys on its edge', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await page.setViewportSize({ width: 1400, height: 900 });
    const patchWidth = () => page.locator('#patch-scroller').evaluate((scroller) => scroller.clientWidth);
    const panelWidth = () => page.locator('#side-panels').evaluate((panel) => panel.offsetWidth);
    const [patch, panel] = [await patchWidth(), await panelWidth()];
    await page.getByRole('button', { name: 'Hide panel' }).click();
    await page.locator('#side-panels').waitFor({ state: 'hidden' });
    assert.ok((await patchWidth()) >= patch + panel, 'the patch takes the panel\'s place');
    await page.getByRole('button', { name: 'Show panel' }).click();
    await page.locator('#panel-resizer').focus();
    await page.keyboard.press('ArrowLeft');
    await page.keyboard.press('ArrowLeft');
    assert.equal(await panelWidth(), panel + 64);
    assert.equal(await patchWidth(), patch - 64);
  });

  it('removes a cable selected with the pointer from the patch', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const wire = page.locator('svg.patch g.cable[aria-label="faders out0 to output in"] path.hit');
    const box = await wire.boundingBox();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await page.getByRole('button', { name: 'Disconnect' }).click();
    await poll(async () => (await page.locator('svg.patch g.cable').count()) === 1);
    const state = await callBridge(fixture.rack, 'state');
    assert.deepEqual(state.project.graph.cables, [{ from: 'input', output: 'out', to: 'faders', input: 'in0' }]);
  });

  it('puts a moved module back where the rack keeps it when "layout" is refused, and says so beside it', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await refuse(page, 'layout', 'Invalid rack layout.');
    const title = moduleBox(page, 'faders').locator('text.title');
    const start = await title.boundingBox();
    const drop = { x: start.x + 105, y: start.y + 155 };
    await page.mouse.move(start.x + 5, start.y + 5);
    await page.mouse.down();
    await page.mouse.move(drop.x, drop.y, { steps: 8 });
    await page.mouse.up();

    const notice = page.locator('#edit-notice');
    await notice.waitFor({ state: 'visible' });
    assert.equal(await notice.locator('.notice-text').textContent(), 'Not moved. Invalid rack layout.');
    const box = await notice.boundingBox();
    assert.ok(distance(box, drop) < 80, 'the message sits where the module was dropped');
    await poll(async () => (await moduleBox(page, 'faders').getAttribute('transform')) === 'translate(380,60)');
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.layout.faders, { x: 380, y: 60 });
  });

  it('shows a refused cable removal beside the cable and keeps the cable', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await refuse(page, 'graph', 'Stop recording before changing cables or modules.');
    const wire = await page.locator('svg.patch g.cable[aria-label="faders out0 to output in"] path.hit').boundingBox();
    const middle = { x: wire.x + wire.width / 2, y: wire.y + wire.height / 2 };
    await page.mouse.click(middle.x, middle.y);
    await page.keyboard.press('Delete');

    const notice = page.locator('#edit-notice');
    await notice.waitFor({ state: 'visible' });
    assert.equal(await notice.locator('.notice-text').textContent(), 'Not disconnected. Stop recording before changing cables or modules.');
    const box = await notice.boundingBox();
    assert.ok(distance(box, middle) < 80, 'the message sits beside the cable');
    assert.equal(await page.locator('svg.patch g.cable').count(), 2);
    assert.equal((await callBridge(fixture.rack, 'state')).project.graph.cables.length, 2);
  });

  it('shows a refusal of a module panel edit under the control that asked for it, after the panel is redrawn', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await moduleBox(page, 'faders').locator('text.title').click();
    const panel = page.locator('#module-panel');
    await panel.getByLabel('Strips').fill('2');
    await panel.getByLabel('Channels per strip').fill('1, 3');
    await panel.getByRole('button', { name: 'Apply configuration' }).click();
    const configurationMessage = panel.locator('form .form-error', { hasText: 'Could not apply the configuration. Each fader strip must be mono or stereo' });
    await configurationMessage.waitFor();
    assert.equal((await callBridge(fixture.rack, 'state')).project.graph.nodes[1].configuration.strips, 1);
    assert.equal(await panel.getByLabel('Strips').inputValue(), '1', 'the panel shows the configuration the rack runs');

    await refuse(page, 'parameter', 'Control queue is full; try again.');
    await panel.getByLabel('Strip 1 mute').check();
    await panel.locator('.strip .form-error', { hasText: 'Could not change the mute. Control queue is full; try again.' }).waitFor();
    assert.equal(await panel.getByLabel('Strip 1 mute').isChecked(), false);
    assert.equal(await configurationMessage.count(), 0, 'a new attempt clears the earlier message');
  });

  it('shows in every form what the rack runs for the keys a configuration leaves out, and applies it unchanged as it was', async () => {
    const modules = sparseModules(await makeWav(path.join(scratchFolder(), 'song.wav'), 0.5));
    const nodes = modules.map(({ type, configuration }) => ({ id: `sparse-${type}`, type, configuration }));
    const { ports } = await callBridge(fixture.rack, 'graph', { schema: 1, nodes, cables: [], eventCables: [] });
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const panel = page.locator('#module-panel');
    for (const { type, runs } of modules) {
      const id = `sparse-${type}`;
      await moduleBox(page, id).locator('text.title').click();
      await panel.locator('h3', { hasText: id }).waitFor();
      const shown = await panel.locator('[data-key^="field-"]').evaluateAll((controls) =>
        Object.fromEntries(controls.map((control) => [control.dataset.key.slice('field-'.length), control.type === 'checkbox' ? control.checked : control.value])),
      );
      const expected = Object.fromEntries(Object.entries(runs(ports[id])).map(([key, value]) => [key, controlValue(value)]));
      assert.deepEqual(shown, expected, type);

      const before = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((node) => node.id === id).configuration;
      const answered = page.waitForResponse((response) => response.url().endsWith('/bridge') && JSON.parse(response.request().postData()).method === 'graph');
      await panel.getByRole('button', { name: 'Apply configuration' }).click();
      const edit = JSON.parse((await answered).request().postData());
      assert.deepEqual(edit.params.nodes.find((node) => node.id === id).configuration, before, type);
    }
  });
});
