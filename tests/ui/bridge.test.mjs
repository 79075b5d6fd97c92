// The page's bridge in a stand-in for WebView2, without a browser: a reply that does not come
// within 10 s fails its request, and one that comes later is dropped, never given to another.

import assert from 'node:assert/strict';
import { it, mock } from 'node:test';

const posted = [];
let deliver = null;
globalThis.chrome = {
  webview: {
    addEventListener: (type, listener) => {
      deliver = (reply) => listener({ data: JSON.stringify(reply) });
    },
    postMessage: (envelope) => posted.push(envelope),
  },
};
mock.timers.enable({ apis: ['setTimeout'] });
const { callRack } = await import('../../ui/js/bridge.js');

it('fails a request unanswered for 10 s, ignores its late reply, and a file dialog waits', async () => {
  const lost = callRack('graph', {});
  const dialog = callRack('pickAudio', {});
  mock.timers.tick(9999);
  const next = callRack('status');
  mock.timers.tick(1);
  await assert.rejects(lost, { message: 'The rack did not answer within 10 seconds; try again.' });

  const [lostId, dialogId, nextId] = posted.map((envelope) => envelope.id);
  deliver({ id: lostId, ok: true, result: 'late' });
  deliver({ id: nextId, ok: true, result: 'status' });
  assert.equal(await next, 'status');
  mock.timers.tick(60000);
  deliver({ id: dialogId, ok: true, result: { path: 'a.wav' } });
  assert.deepEqual(await dialog, { path: 'a.wav' });
});
