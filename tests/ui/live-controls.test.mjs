// Playing with the rack: faders send "parameter", the page polls "status" and survives failed
// polls, meters follow the peaks, and the transport buttons send their commands.

import assert from 'node:assert/strict';
import path from 'node:path';
import { describe, it } from 'node:test';
import { callBridge, pageFixture, makeWav, openRackPage, poll, recordRequests, scratchFolder } from './harness.mjs';
import { moduleBox } from './page-helpers.mjs';

async function selectModule(page, id) {
  await moduleBox(page, id).locator('text.title').click();
  await page.locator('#module-panel h3', { hasText: id }).waitFor();
}

async function startSimulatedAudio(page) {
  await page.getByRole('button', { name: 'Find devices' }).click();
  await page.getByRole('button', { name: 'Start audio' }).click();
  await page.locator('[data-readout="audio"]', { hasText: 'Audio running' }).waitFor();
}

describe('live controls', () => {
  const fixture = pageFixture();

  it('sends fader gain and mute as "parameter" and the rack stores them in the patch', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'faders');
    const requests = recordRequests(page);
    const gain = page.getByLabel('Strip 1 gain');
    await gain.focus();
    await page.keyboard.press('End');
    await poll(() => requests.some((request) => request.method === 'parameter' && request.params.value === 12));
    await page.keyboard.press('ArrowLeft');
    await page.locator('#module-panel .gain-readout', { hasText: '11.5 dB' }).waitFor();
    await page.getByLabel('Mute').check();

    await poll(() => requests.some((request) => request.method === 'parameter' && request.params.parameter === 1));
    const sent = requests.filter((request) => request.method === 'parameter').map((request) => request.params);
    assert.deepEqual(sent.at(0), { node: 'faders', parameter: 0, value: 12 });
    assert.deepEqual(sent.at(-1), { node: 'faders', parameter: 1, value: 1 });
    const configuration = await poll(async () => {
      const node = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((entry) => entry.id === 'faders');
      return node.configuration.mutes ? node.configuration : null;
    });
    assert.deepEqual(configuration.gainsDb, [11.5]);
    assert.deepEqual(configuration.mutes, [true]);
    await page.locator('#module-panel .gain-readout', { hasText: '11.5 dB' }).waitFor();
    assert.equal(await page.getByLabel('Mute').isChecked(), true, 'the panel shows what the rack stored');
  });

  it('keeps the newest fader value when each "state" answer comes back after the next key: twelve presses from 0 dB end at -6 dB', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'faders');
    const requests = recordRequests(page);
    // The rack answers "state" at once; the page gets the answer only when the test hands it on.
    const held = [];
    await page.route('**/bridge', async (route) => {
      if (JSON.parse(route.request().postData()).method !== 'state') return route.continue();
      const response = await route.fetch();
      held.push(() => route.fulfill({ response }));
    });
    // Hands one held answer to the page and waits until the page has drawn the panel from it.
    const deliver = async (fulfill) => {
      await page.evaluate(() => {
        window.panelDrawn = new Promise((resolve) => {
          new MutationObserver((_, observer) => {
            observer.disconnect();
            resolve();
          }).observe(document.getElementById('module-panel'), { childList: true });
        });
      });
      await fulfill();
      await page.evaluate(() => window.panelDrawn);
    };
    await page.getByLabel('Strip 1 gain').focus();
    for (let press = 1; press <= 12; press += 1) {
      await page.keyboard.press('ArrowLeft');
      // The rack took this press's value and the page asked for "state": now the answer to the
      // press before, which left before this value, comes back.
      await poll(() => held.length === press);
      if (press > 1) await deliver(held[press - 2]);
    }
    await deliver(held[11]);
    const sent = requests.filter((request) => request.method === 'parameter').map((request) => request.params.value);
    assert.deepEqual(sent, Array.from({ length: 12 }, (_, index) => -0.5 * (index + 1)));
    const shown = async () => [await page.getByLabel('Strip 1 gain').inputValue(), await page.locator('#module-panel .gain-readout').textContent(), await page.getByLabel('Strip 1 dB').inputValue()];
    assert.deepEqual(await shown(), ['-6', '-6.0 dB', '-6']);
    const stored = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((node) => node.id === 'faders');
    assert.deepEqual(stored.configuration.gainsDb, [-6]);
    const polls = () => requests.filter((request) => request.method === 'status').length;
    const before = polls();
    await poll(() => polls() >= before + 3);
    assert.deepEqual(await shown(), ['-6', '-6.0 dB', '-6'], 'the value stays where the keys left it');
  });

  it('takes a gain typed in dB and refuses one off the fader\'s scale', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'faders');
    const typed = page.getByLabel('Strip 1 dB');
    await typed.fill('13');
    await typed.press('Enter');
    await page.locator('#module-panel .form-error', { hasText: 'Type a gain in dB from -80 to 12.' }).waitFor();
    await typed.fill('-7.5');
    await typed.press('Enter');
    await page.locator('#module-panel .gain-readout', { hasText: '-7.5 dB' }).waitFor();
    await poll(async () => (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((node) => node.id === 'faders').configuration.gainsDb?.[0] === -7.5);
    assert.equal(await page.locator('#module-panel .form-error:visible').count(), 0);
  });

  it('says the rack is not reachable, and no longer that audio runs or plays, once the rack has exited', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await startSimulatedAudio(page);
    await page.getByRole('button', { name: 'Play', exact: true }).click();
    await page.locator('button.transport.play[aria-pressed="true"]').waitFor();
    await fixture.rack.close();
    await page.locator('.connection', { hasText: 'Rack not answering – retrying' }).waitFor();
    await page.locator('[data-readout="audio"]', { hasText: 'Rack not reachable' }).waitFor();
    assert.equal(await page.locator('.top-bar', { hasText: 'Audio running' }).count(), 0);
    assert.equal(await page.locator('button.transport.play').getAttribute('aria-pressed'), 'false');
    assert.equal(await page.locator('#device-panel', { hasText: 'Running' }).count(), 0);
  });

  it('polls "status" about every 100 ms, one request at a time, and logs no error', async () => {
    const { page, consoleErrors } = await openRackPage(fixture.browser, fixture.rack);
    // A load on the machine can only stretch the gaps, so only their lower bound is checked, on
    // the browser's own clock: events reach the test late and bunched under load.
    const sent = [];
    // Only requests seen starting count: a poll already in flight when the listeners attach
    // must not take the count below zero, and a failed poll closes its request too.
    const inFlight = new Set();
    let mostOpen = 0;
    const isStatus = (request) => request.url().endsWith('/bridge') && JSON.parse(request.postData()).method === 'status';
    page.on('request', (request) => {
      if (!isStatus(request)) return;
      inFlight.add(request);
      mostOpen = Math.max(mostOpen, inFlight.size);
    });
    const close = (request) => {
      if (!inFlight.delete(request)) return;
      sent.push(request.timing().startTime);
    };
    page.on('requestfinished', close);
    page.on('requestfailed', close);
    await poll(() => sent.length >= 8, { timeout: 20000 });
    assert.deepEqual(consoleErrors, []);
    assert.equal(mostOpen, 1);
    for (let index = 1; index < sent.length; index += 1) {
      assert.ok(sent[index] - sent[index - 1] >= 80, `poll ${index} came ${sent[index] - sent[index - 1]} ms after the one before`);
    }
  });

  it('keeps working through failed polls and shows the patch the rack holds once it answers again', async () => {
    const { page, errors } = await openRackPage(fixture.browser, fixture.rack);
    let refused = 0;
    await page.route('**/bridge', async (route) => {
      const method = JSON.parse(route.request().postData()).method;
      if (method !== 'status') return route.continue();
      refused += 1;
      if (refused % 2 === 0) return route.abort();
      return route.fulfill({ status: 500, body: '' });
    });
    const warning = page.locator('.connection');
    await warning.waitFor({ state: 'visible' });
    await page.locator('[data-readout="audio"]', { hasText: 'Rack not reachable' }).waitFor();
    await poll(() => refused >= 5);

    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.push({ id: 'late', type: 'summing', configuration: {} });
    await callBridge(fixture.rack, 'graph', graph);
    await page.unroute('**/bridge');

    await warning.waitFor({ state: 'hidden' });
    await page.locator('[data-readout="audio"]', { hasText: 'Audio stopped' }).waitFor();
    await moduleBox(page, 'late').waitFor();
    assert.equal(await page.locator('svg.patch g.module').count(), 4);
    assert.deepEqual(errors, []);
  });

  it('shows an error reply to a poll as a lost answer and recovers from it', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await page.route('**/bridge', async (route) => {
      const request = JSON.parse(route.request().postData());
      if (request.method !== 'status') return route.continue();
      return route.fulfill({ status: 200, contentType: 'application/json', body: JSON.stringify({ id: request.id, ok: false, error: 'busy' }) });
    });
    await page.locator('.connection').waitFor({ state: 'visible' });
    await page.unroute('**/bridge');
    await page.locator('.connection').waitFor({ state: 'hidden' });
  });

  it('lights the box meters, their hold marks, the master meter and each fader strip\'s own meter while a player plays', async () => {
    const folder = scratchFolder();
    // Long enough to outlast the test: a strip that falls silent must have been muted.
    const song = await makeWav(path.join(folder, 'song.wav'), 30);
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.push({ id: 'player', type: 'player', configuration: { path: song } });
    graph.nodes.find((node) => node.id === 'faders').configuration = { strips: 2 };
    graph.cables = [
      { from: 'player', output: 'out', to: 'faders', input: 'in0' },
      { from: 'player', output: 'out', to: 'faders', input: 'in1' },
      { from: 'faders', output: 'out0', to: 'output', input: 'in' },
    ];
    await callBridge(fixture.rack, 'graph', graph);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await startSimulatedAudio(page);
    const requests = recordRequests(page);
    await page.getByRole('button', { name: 'Play', exact: true }).click();
    await poll(() => requests.some((request) => request.method === 'play' && request.params.playing === true));
    await page.locator('button.transport.play.active').waitFor();

    const meter = moduleBox(page, 'player').locator('rect.meter');
    await poll(async () => Number(await meter.getAttribute('width')) > 0);
    assert.deepEqual(await moduleBox(page, 'player').locator('text.meter-scale').allTextContents(), ['−40', '−20', '−10', '0']);
    const [bar, hold] = await moduleBox(page, 'player').evaluate((group) => {
      const end = (selector) => {
        const box = group.querySelector(selector).getBBox();
        return { x: box.x, width: box.width };
      };
      return [end('rect.meter'), end('rect.peak-hold')];
    });
    assert.ok(hold.x + hold.width >= bar.x + bar.width - 0.5, 'the hold mark stands at the highest level or above');
    await page.waitForFunction(() => Number(document.querySelector('.master-meter').getAttribute('aria-valuenow')) > -60);
    assert.match(await page.locator('.master-readout').textContent(), /^-?\d+\.\d dBFS$/);
    await selectModule(page, 'player');
    await page.locator('#module-panel .player-state', { hasText: 'Playing' }).waitFor();
    const status = await callBridge(fixture.rack, 'status');
    const index = graph.nodes.findIndex((node) => node.id === 'player');
    assert.ok(status.peaks[index] > 0, 'the rack reports a level for the player');

    await selectModule(page, 'faders');
    const strip = (number) => page.getByRole('meter', { name: `Strip ${number} level` });
    await page.waitForFunction(() => [...document.querySelectorAll('#module-panel .strip-meter')].every((meter) => Number(meter.getAttribute('aria-valuenow')) > -60));
    const scaleMarks = page.locator('#module-panel .strip').first().locator('.meter-scale span');
    assert.deepEqual(await scaleMarks.allTextContents(), ['−40', '−20', '−10', '0']);
    const track = await strip(1).locator('.meter-track').boundingBox();
    const zero = await scaleMarks.last().boundingBox();
    assert.ok(Math.abs(zero.x + zero.width - (track.x + track.width)) <= 1, 'the 0 dB mark ends where the track ends');
    await strip(1).locator('.hold').waitFor();
    assert.match(await strip(1).locator('.readout').textContent(), /^-?\d+\.\d dBFS$/);

    // Muting strip 2 silences its meter while strip 1 goes on playing.
    await page.getByLabel('Strip 2 mute').check();
    await page.waitForFunction(() => {
      const [first, second] = [...document.querySelectorAll('#module-panel .strip-meter')].map((meter) => Number(meter.getAttribute('aria-valuenow')));
      return second === -60 && first > -60;
    });
    await poll(async () => (await callBridge(fixture.rack, 'status')).media.faders.peaks[1] === 0);
  });

  it('keeps the marks of a fader strip\'s scale apart and under its track in an 800×600 window', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await page.setViewportSize({ width: 800, height: 600 });
    await selectModule(page, 'faders');
    const marks = await page.locator('#module-panel .meter-scale span').evaluateAll((spans) =>
      spans.map((span) => ({ text: span.textContent, left: span.getBoundingClientRect().left, right: span.getBoundingClientRect().right })),
    );
    assert.deepEqual(marks.map((mark) => mark.text), ['−40', '−20', '−10', '0']);
    for (let index = 1; index < marks.length; index += 1) {
      assert.ok(marks[index].left >= marks[index - 1].right + 4, `${marks[index - 1].text} and ${marks[index].text} run together`);
    }
    const track = await page.getByRole('meter', { name: 'Strip 1 level' }).locator('.meter-track').boundingBox();
    assert.ok(marks[0].left >= track.x && marks.at(-1).right <= track.x + track.width + 1, 'the scale lies under the track');
  });

  it('shows the rack\'s sample rate, latency and callback count from the status', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await startSimulatedAudio(page);
    const readout = (name) => page.locator(`[data-readout="${name}"]`).textContent();
    const shown = await poll(async () => {
      const count = parseInt(await readout('callbacks'), 10);
      return count > 0 ? count : null;
    });
    const status = await callBridge(fixture.rack, 'status');
    assert.ok(shown <= status.callbacks, `${shown} callbacks shown, ${status.callbacks} counted`);
    assert.equal(await readout('rate'), `${status.sampleRate} Hz`);
    assert.equal(await readout('latency'), `Patch latency ${status.latencyFrames} frames (${((status.latencyFrames * 1000) / status.sampleRate).toFixed(1)} ms)`);
  });

  it('sends play, stop and record, and shows a refused record in the rack\'s words', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await page.getByRole('button', { name: 'Record', exact: true }).click();
    await page.locator('.rack-error', { hasText: 'Add a Recorder and choose an output file first.' }).waitFor();
    assert.equal((await callBridge(fixture.rack, 'status')).recordingRequested, false);

    await page.getByRole('button', { name: 'Play', exact: true }).click();
    await page.locator('button.transport.play[aria-pressed="true"]').waitFor();
    assert.equal((await callBridge(fixture.rack, 'status')).playing, true);
    await page.getByRole('button', { name: 'Stop', exact: true }).click();
    await page.locator('button.transport.play[aria-pressed="false"]').waitFor();
    assert.equal((await callBridge(fixture.rack, 'status')).playing, false);
    const transport = requests.filter((request) => ['play', 'record'].includes(request.method)).map((request) => [request.method, request.params]);
    assert.deepEqual(transport, [['record', { recording: true }], ['play', { playing: true }], ['play', { playing: false }]]);
  });

  it('names each mute after its strip and sends it with that strip\'s index', async () => {
    const graph = (await callBridge(fixture.rack, 'state')).project.graph;
    graph.nodes.find((node) => node.id === 'faders').configuration = { strips: 2, channels: [2, 1] };
    await callBridge(fixture.rack, 'graph', graph);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'faders');
    const requests = recordRequests(page);
    await page.getByLabel('Strip 2 mute').check();
    await poll(() => requests.some((request) => request.method === 'parameter'));
    assert.deepEqual(requests.find((request) => request.method === 'parameter').params, { node: 'faders', parameter: 3, value: 1 });
    const configuration = await poll(async () => {
      const node = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((entry) => entry.id === 'faders');
      return node.configuration.mutes ? node.configuration : null;
    });
    assert.deepEqual(configuration.mutes, [false, true]);
    assert.equal(await page.getByLabel('Strip 1 mute').isChecked(), false);
  });

  it('keeps the rack\'s own error in view beside a refused transport command', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const devices = page.locator('#device-section');
    await devices.getByRole('button', { name: 'Find devices' }).click();
    await devices.getByLabel('Sample rate').selectOption('44100');
    await devices.getByRole('button', { name: 'Start audio' }).click();
    await devices.locator('.form-error').waitFor({ state: 'visible' });
    const rackError = (await callBridge(fixture.rack, 'status')).error;
    assert.match(rackError, /44100 Hz/);
    const line = page.locator('.rack-error');
    await line.filter({ hasText: rackError }).waitFor();

    await page.getByRole('button', { name: 'Record', exact: true }).click();
    await line.filter({ hasText: 'Add a Recorder and choose an output file first.' }).waitFor();
    assert.ok((await line.textContent()).includes(rackError), 'the rack\'s error is still shown');

    const shown = await line.locator('span').first().elementHandle();
    const requests = recordRequests(page);
    const polls = () => requests.filter((request) => request.method === 'status').length;
    const before = polls();
    await poll(() => polls() >= before + 3);
    assert.equal(await shown.evaluate((span) => span.isConnected), true, 'the alert is not written again at every poll');
  });
});
