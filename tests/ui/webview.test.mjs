// Inside WebView2 the page talks through window.chrome.webview, not the loopback bridge. A
// stand-in for that object carries each envelope to the rack and posts the reply back as the
// view does: once per request, as a parsed object, and "status" replies late, so that other
// replies overtake them.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { pageFixture, poll } from './harness.mjs';

function installWebView() {
  const listeners = [];
  window.webViewSent = [];
  window.chrome = {
    webview: {
      addEventListener(type, listener) {
        if (type === 'message') listeners.push(listener);
      },
      postMessage(envelope) {
        window.webViewSent.push(envelope);
        const delay = envelope.method === 'status' ? 60 : 0;
        fetch('bridge', { method: 'POST', body: JSON.stringify(envelope) })
          .then((response) => response.json())
          .then((reply) => setTimeout(() => listeners.forEach((listener) => listener({ data: reply })), delay));
      },
    },
  };
}

describe('page in the web view', () => {
  const fixture = pageFixture();

  it('sends every request through the web view, matches replies by id and leaves file choices to dialogs', async () => {
    const page = await fixture.browser.context.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(error.message));
    await page.addInitScript(installWebView);
    await page.goto(fixture.rack.pageUrl);
    await page.locator('svg.patch g.module[data-node="faders"]').waitFor();

    const answers = await page.evaluate(async () => {
      const { callRack } = await import('./js/bridge.js');
      const [status, state] = await Promise.all([callRack('status'), callRack('state')]);
      return { statusHasPeaks: Array.isArray(status.peaks), statusHasProject: 'project' in status, stateNodes: state.project.graph.nodes.length };
    });
    assert.deepEqual(answers, { statusHasPeaks: true, statusHasProject: false, stateNodes: 3 });

    await page.getByLabel('Module type').selectOption('player');
    const form = page.locator('form.add-module');
    await form.getByLabel('WAV file').fill('/nowhere/song.wav');
    await form.getByRole('button', { name: 'Browse…' }).click();
    await page.locator('#project-section').getByLabel('Project file (where the dialog starts)').waitFor();
    await page.locator('#project-section').getByRole('button', { name: 'Save project' }).click();
    const sent = await poll(async () => {
      const envelopes = await page.evaluate(() => window.webViewSent.map(({ method, params }) => ({ method, params })));
      return envelopes.some((envelope) => envelope.method === 'saveProject') ? envelopes : null;
    });
    const picks = sent.filter((envelope) => ['pickAudio', 'saveProject'].includes(envelope.method));
    assert.deepEqual(picks, [
      { method: 'pickAudio', params: { current: '/nowhere/song.wav' } },
      { method: 'saveProject', params: {} },
    ]);
    assert.ok(sent.filter((envelope) => envelope.method === 'status').length >= 2, 'the page polls through the web view');
    assert.deepEqual(errors, []);
  });
});
