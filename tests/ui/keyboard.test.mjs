// The page by keyboard and from a stage: every control is a tab stop with a visible focus at any
// zoom, Tab moves through the modules without selecting them, Enter or space selects, Delete
// removes, space elsewhere toggles play, and no text is too small to read.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { callBridge, pageFixture, makeWav, openRackPage, poll, recordRequests, scratchFolder } from './harness.mjs';
import { countColour, moduleBox } from './page-helpers.mjs';

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
    await page.waitForFunction(() => document.activeElement.dataset.node === 'faders');

    const edits = requests.filter((request) => request.method === 'graph');
    assert.equal(edits.length, 1);
    assert.deepEqual(edits[0].params.nodes.map((node) => node.id), ['input', 'faders']);
    assert.deepEqual(edits[0].params.cables, [{ from: 'input', output: 'out', to: 'faders', input: 'in0' }]);
    const state = await callBridge(fixture.rack, 'state');
    assert.deepEqual(state.project.graph.nodes.map((node) => node.id), ['input', 'faders']);
    assert.equal(await page.locator('svg.patch g.cable').count(), 1);
  });

  it('removes a selected cable with Backspace, as a laptop has no Delete key', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const wire = page.locator('svg.patch g.cable[aria-label="input out to faders in0"] path.hit');
    const box = await wire.boundingBox();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await page.keyboard.press('Backspace');
    await poll(async () => (await page.locator('svg.patch g.cable').count()) === 1);
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.cables, [{ from: 'faders', output: 'out0', to: 'output', input: 'in' }]);
  });

  it('moves through the modules by Tab without selecting them; space selects one, Enter selects and opens another', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    const selected = () => page.locator('svg.patch [aria-selected="true"]').evaluateAll((options) => options.map((option) => option.dataset.node));
    await tabTo(page, 'module:output');
    await page.keyboard.press('Tab');
    assert.deepEqual(await selected(), []);
    assert.equal(await page.locator('#module-panel').textContent(), 'Select a module or a cable in the patch.');

    await moduleBox(page, 'faders').focus();
    await page.keyboard.press(' ');
    await page.locator('#module-panel h3', { hasText: 'faders' }).waitFor();
    assert.deepEqual(await selected(), ['faders']);
    await page.keyboard.press('Tab');
    assert.equal((await focusedElement(page)).name, 'module:output');
    assert.deepEqual(await selected(), ['faders'], 'the panel stays with the module chosen');
    await page.keyboard.press('Enter');
    await page.locator('#module-panel h3', { hasText: 'output' }).waitFor();
    assert.deepEqual(await selected(), ['output']);
    assert.equal(requests.filter((request) => request.method === 'play').length, 0, 'space on a module does not play');
  });

  it('opens the controls of the focused module with Enter, past the modules after it', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await page.locator('#module-section summary').click();
    await tabTo(page, 'module:faders');
    await page.keyboard.press('Enter');
    // The panel takes the keyboard once it is drawn: wait for that, not for a fixed moment.
    await page.waitForFunction(() => document.activeElement.getAttribute('aria-label') === 'Strip 1 gain');
    await page.locator('#module-panel h3', { hasText: 'faders' }).waitFor();
    await page.keyboard.press('Home');
    await poll(() => requests.some((request) => request.method === 'parameter'));
    assert.deepEqual(requests.find((request) => request.method === 'parameter').params, { node: 'faders', parameter: 0, value: -80 });

    // The output's panel holds Disconnect buttons: Enter lands on its first field instead.
    await moduleBox(page, 'output').focus();
    await page.keyboard.press('Enter');
    await page.locator('#module-panel h3', { hasText: 'output' }).waitFor();
    await page.waitForFunction(() => document.activeElement.labels?.[0]?.textContent === 'Channels');
  });

  it('keeps the keyboard on the control that made an edit when the panel is drawn again', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const focusedControl = () => page.evaluate(() => {
      const active = document.activeElement;
      return active.labels && active.labels.length > 0 ? `${active.labels[0].textContent}=${active.value}` : active.textContent;
    });
    const edited = () => page.waitForResponse((response) => JSON.parse(response.request().postData()).method === 'graph');
    await tabTo(page, 'module:faders');
    await page.keyboard.press('Enter');
    await tabTo(page, 'button:Apply configuration');
    let answered = edited();
    await page.keyboard.press('Enter');
    await answered;
    await poll(async () => (await page.locator('#module-panel h3').count()) === 1);
    assert.equal(await focusedControl(), 'Apply configuration');

    await page.locator('#module-panel').getByLabel('Strips').focus();
    await page.keyboard.press('ArrowUp');
    answered = edited();
    await page.keyboard.press('Enter');
    await answered;
    await page.locator('#module-panel').getByLabel('Strip 2 gain').waitFor();
    assert.equal(await focusedControl(), 'Strips=2');
  });

  it('toggles play with space wherever the focus is, but not on a module box or while typing in a field', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await tabTo(page, 'button:zoom-fit');
    await page.keyboard.press(' ');
    await page.locator('button.transport.play[aria-pressed="true"]').waitFor();
    assert.equal((await callBridge(fixture.rack, 'status')).playing, true);
    // On a pressed button space plays too, and never presses the button again.
    await page.getByRole('button', { name: 'Record', exact: true }).click();
    await page.locator('.rack-error', { hasText: 'Add a Recorder' }).waitFor();
    await page.keyboard.press(' ');
    await page.locator('button.transport.play[aria-pressed="false"]').waitFor();
    assert.equal(requests.filter((request) => request.method === 'record').length, 1);
    // On a checkbox space plays and Enter ticks it.
    await moduleBox(page, 'faders').locator('text.title').click();
    const mute = page.getByLabel('Strip 1 mute');
    await mute.focus();
    await page.keyboard.press(' ');
    await page.locator('button.transport.play[aria-pressed="true"]').waitFor();
    assert.equal(await mute.isChecked(), false);
    await page.keyboard.press('Enter');
    assert.equal(await mute.isChecked(), true);
    await page.keyboard.press(' ');
    await page.locator('button.transport.play[aria-pressed="false"]').waitFor();

    await page.getByLabel('Name', { exact: true }).focus();
    await page.keyboard.type('a b');
    assert.equal(await page.getByLabel('Name', { exact: true }).inputValue(), 'a b');
    assert.deepEqual(requests.filter((request) => request.method === 'play').map((request) => request.params), [true, false, true, false].map((playing) => ({ playing })));
    assert.equal(await moduleBox(page, 'faders').count(), 1);
  });

  it('draws a focused module with a full-width ring also when a large patch is zoomed to fit', async () => {
    await callBridge(fixture.rack, 'layout', { input: { x: 45, y: 60 }, faders: { x: 380, y: 60 }, output: { x: 6000, y: 3000 } });
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await page.getByRole('button', { name: 'Fit' }).click();
    assert.ok(parseInt(await page.locator('#zoom-level').textContent(), 10) < 20, 'the patch is drawn small');
    await tabTo(page, 'module:faders');
    const box = await moduleBox(page, 'faders').locator('rect.body').boundingBox();
    const clip = { x: box.x - 4, y: box.y - 4, width: box.width + 8, height: box.height + 8 };
    const ring = await countColour(page, clip, [255, 212, 59]);
    // At the least one solid pixel all round the box; a ring that shrinks with the zoom has none.
    assert.ok(ring >= 2 * (box.width + box.height), `${ring} focus pixels around a ${box.width.toFixed(0)} x ${box.height.toFixed(0)} box`);
  });

  it('sets no text on the page smaller than 16 px, in the patch and in every module panel', async () => {
    const folder = scratchFolder();
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.push({ id: 'deck', type: 'player', configuration: { path: await makeWav(`${folder}/song.wav`, 0.5) } });
    graph.nodes.push({ id: 'take', type: 'recorder', configuration: {} });
    await callBridge(fixture.rack, 'graph', graph);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const tooSmall = () =>
      page.evaluate(() => {
        const found = [];
        const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
        for (let text = walker.nextNode(); text; text = walker.nextNode()) {
          const element = text.parentElement;
          if (text.textContent.trim() === '' || element.getClientRects().length === 0) continue;
          const size = parseFloat(getComputedStyle(element).fontSize);
          if (size < 16) found.push(`${element.getAttribute('class') || element.tagName}: "${text.textContent.trim().slice(0, 24)}" ${size}px`);
        }
        return [...new Set(found)];
      });
    const small = await tooSmall();
    for (const id of ['faders', 'deck', 'take']) {
      await moduleBox(page, id).locator('text.title').click();
      await page.locator('#module-panel h3', { hasText: id }).waitFor();
      small.push(...(await tooSmall()));
    }
    assert.deepEqual([...new Set(small)], []);
  });
});
