// A patch at the rack's limits, 128 modules and 4096 cables, is drawn whole and stays usable.

import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { callBridge, launchBrowser, openRackPage, poll, recordRequests, screenshotPath, startRack } from './harness.mjs';
import { moduleBox } from './page-helpers.mjs';

// One mono input feeds 127 summing modules; input i of module k takes the output of module
// (k - 1 - i) mod k, always an earlier one, so the patch has no cycle and every input one source.
function largePatch() {
  const nodes = [{ id: 'source', type: 'input', configuration: { channels: 1 } }];
  const cables = [];
  for (let k = 1; k < 128; k += 1) {
    const inputs = k <= 32 ? 33 : 32;
    nodes.push({ id: `mix${k}`, type: 'summing', configuration: { channels: 1, inputs } });
    for (let i = 0; i < inputs; i += 1) {
      const from = (k - 1 - i + k * 64) % k;
      cables.push({ from: from === 0 ? 'source' : `mix${from}`, output: 'out', to: `mix${k}`, input: `in${i}` });
    }
  }
  const layout = {};
  nodes.forEach((node, index) => {
    layout[node.id] = { x: 40 + (index % 22) * 330, y: 40 + Math.floor(index / 22) * 1120 };
  });
  return { graph: { schema: 1, nodes, cables, eventCables: [] }, layout };
}

describe('large patch', () => {
  let browser;
  let rack;
  before(async () => {
    browser = await launchBrowser();
    rack = await startRack();
  });
  after(async () => {
    await browser.close();
    await rack.close();
  });

  it('draws 128 modules and 4096 cables, zooms to fit, and still polls, moves and edits', async () => {
    const { graph, layout } = largePatch();
    assert.equal(graph.cables.length, 4096);
    await callBridge(rack, 'graph', graph);
    await callBridge(rack, 'layout', layout);
    const { page, errors } = await openRackPage(browser, rack);
    await poll(async () => (await page.locator('svg.patch g.module').count()) === 128);
    assert.equal(await page.locator('svg.patch g.cable').count(), 4096);
    const missing = await page.locator('svg.patch g.cable path.wire').evaluateAll((paths) => paths.filter((path) => !path.getAttribute('d')).length);
    assert.equal(missing, 0, 'every cable found both of its jacks');

    await page.getByRole('button', { name: 'Fit' }).click();
    const outside = await page.evaluate(() => {
      const view = document.getElementById('patch-scroller').getBoundingClientRect();
      return [...document.querySelectorAll('svg.patch g.module rect.body')]
        .map((rect) => rect.getBoundingClientRect())
        .filter((box) => box.left < view.left || box.right > view.left + document.getElementById('patch-scroller').clientWidth || box.top < view.top || box.bottom > view.top + document.getElementById('patch-scroller').clientHeight).length;
    });
    assert.equal(outside, 0, 'every box lies in the visible patch');
    await page.screenshot({ path: screenshotPath('large-patch') });

    const requests = recordRequests(page);
    await poll(() => requests.filter((request) => request.method === 'status').length >= 3);
    const title = moduleBox(page, 'mix127').locator('text.title');
    await title.scrollIntoViewIfNeeded();
    const start = await title.boundingBox();
    await page.mouse.move(start.x + start.width / 2, start.y + start.height / 2);
    await page.mouse.down();
    await page.mouse.move(start.x + 30, start.y + 30, { steps: 5 });
    await page.mouse.up();
    const saved = await poll(() => requests.find((request) => request.method === 'layout'));
    assert.equal(Object.keys(saved.params).length, 128);
    assert.ok(saved.params.mix127.x > layout.mix127.x);

    // A patch edit at the limits: one cable less, as one "graph" command.
    const wire = page.locator('svg.patch g.cable[aria-label="mix126 out to mix127 in0"] path.hit');
    await wire.scrollIntoViewIfNeeded();
    const box = await wire.boundingBox();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await page.keyboard.press('Delete');
    await poll(async () => (await page.locator('svg.patch g.cable').count()) === 4095, { timeout: 15000 });
    const edit = requests.find((request) => request.method === 'graph');
    assert.equal(edit.params.cables.length, 4095);
    assert.equal((await callBridge(rack, 'state')).project.graph.cables.length, 4095);
    assert.deepEqual(errors, []);
  });
});
