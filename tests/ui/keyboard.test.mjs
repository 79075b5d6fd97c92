// The page by keyboard: every control is a tab stop with a visible focus, Delete removes the
// selection and space toggles play.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { callBridge, pageFixture, openRackPage, poll, recordRequests } from './harness.mjs';
import { moduleBox } from './page-helpers.mjs';

const focusColour = 'rgb(255, 212, 59)';

// Describes the focused element and whether its focus is drawn.
function focusedElement(page) {
  return page.evaluate(() => {
    const active = document.activeElement;
    const module = active.closest && active.closest('g.module');
    const style = getComputedStyle(active);
    const shown = module
      ? getComputedStyle(module.querySelector('rect.body')).stroke
      : style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2 ? style.outlineColor : 'none';
    const name = module ? `module:${module.dataset.node}` : `${active.tagName.toLowerCase()}:${active.id || active.textContent.trim().slice(0, 30)}`;
    return { name, shown, key: active.dataset.tabProbe || null };
  });
}

async function tabTo(page, name, limit = 80) {
  for (let step = 0; step < limit; step += 1) {
    await page.keyboard.press('Tab');
    if ((await focusedElement(page)).name === name) return;
  }
  throw new Error(`${name} is not reachable by Tab`);
}

describe('keyboard', () => {
  const fixture = pageFixture();

  it('reaches every visible control and every module by Tab, each with a visible focus', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const expected = await page.evaluate(() => {
      const controls = [...document.querySelectorAll('button, input, select, summary, g.module')].filter((element) => {
        const box = element.getBoundingClientRect();
        return box.width > 0 && box.height > 0 && !element.disabled;
      });
      controls.forEach((element, index) => {
        element.dataset.tabProbe = String(index);
      });
      return controls.length;
    });
    const seen = new Set();
    for (let step = 0; step < expected + 20 && seen.size < expected; step += 1) {
      await page.keyboard.press('Tab');
      const focused = await focusedElement(page);
      if (focused.key === null) continue;
      assert.equal(focused.shown, focusColour, `${focused.name} shows its focus`);
      seen.add(focused.key);
    }
    assert.equal(seen.size, expected);
  });

  it('removes the focused module with Delete, its cables with it, in one "graph" command', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await tabTo(page, 'module:output');
    await page.keyboard.press('Delete');
    await poll(async () => (await page.locator('svg.patch g.module').count()) === 2);

    const edits = requests.filter((request) => request.method === 'graph');
    assert.equal(edits.length, 1);
    assert.deepEqual(edits[0].params.nodes.map((node) => node.id), ['input', 'faders']);
    assert.deepEqual(edits[0].params.cables, [{ from: 'input', output: 'out', to: 'faders', input: 'in0' }]);
    const state = await callBridge(fixture.rack, 'state');
    assert.deepEqual(state.project.graph.nodes.map((node) => node.id), ['input', 'faders']);
    assert.equal(await page.locator('svg.patch g.cable').count(), 1);
  });

  it('removes a selected cable with Delete', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const wire = page.locator('svg.patch g.cable[aria-label="input out to faders in0"] path.hit');
    const box = await wire.boundingBox();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await page.keyboard.press('Delete');
    await poll(async () => (await page.locator('svg.patch g.cable').count()) === 1);
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.cables, [{ from: 'faders', output: 'out0', to: 'output', input: 'in' }]);
  });

  it('toggles play with space, but not while typing in a field', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await tabTo(page, 'module:faders');
    await page.keyboard.press(' ');
    await page.locator('button.transport.play[aria-pressed="true"]').waitFor();
    assert.equal((await callBridge(fixture.rack, 'status')).playing, true);
    await page.keyboard.press(' ');
    await page.locator('button.transport.play[aria-pressed="false"]').waitFor();

    await page.getByLabel('Name', { exact: true }).focus();
    await page.keyboard.type('a b');
    assert.equal(await page.getByLabel('Name', { exact: true }).inputValue(), 'a b');
    assert.deepEqual(requests.filter((request) => request.method === 'play').map((request) => request.params), [{ playing: true }, { playing: false }]);
    assert.equal(await moduleBox(page, 'faders').count(), 1);
  });
});
