// The page's model of the patch without a browser: its edit queue and its history of steps,
// against a stand-in rack that answers as the rack does and can refuse or hold a reply.

import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { PatchModel } from '../../ui/js/patch-model.js';

const defaultGraph = () => ({
  schema: 1,
  nodes: [
    { id: 'input', type: 'input', configuration: { channels: 2 } },
    { id: 'faders', type: 'fader-bank', configuration: { strips: 1, channels: [2] } },
    { id: 'output', type: 'output', configuration: { channels: 2 } },
  ],
  cables: [
    { from: 'input', output: 'out', to: 'faders', input: 'in0' },
    { from: 'faders', output: 'out0', to: 'output', input: 'in' },
  ],
  eventCables: [],
});

const stereo = (id) => [{ id, name: id, channels: 2 }];
const portsOf = { input: { inputs: [], outputs: stereo('out') }, 'fader-bank': { inputs: stereo('in0'), outputs: stereo('out0') }, output: { inputs: stereo('in'), outputs: [] } };

// refuse: method -> error text; hold: method -> the answer to the next such request waits until
// release().
function standInRack() {
  const rack = {
    graph: defaultGraph(),
    layout: { input: { x: 45, y: 60 }, faders: { x: 380, y: 60 }, output: { x: 735, y: 60 } },
    calls: [],
    refuse: {},
    held: null,
  };
  const state = () => {
    const ports = {};
    for (const node of rack.graph.nodes) ports[node.id] = portsOf[node.type] || { inputs: stereo('in'), outputs: stereo('out') };
    return structuredClone({ project: { graph: rack.graph, layout: rack.layout }, ports, status: {} });
  };
  const answer = (method, params) => {
    if (rack.refuse[method]) throw new Error(rack.refuse[method]);
    if (method === 'graph') {
      rack.graph = structuredClone(params);
      rack.layout = Object.fromEntries(Object.entries(rack.layout).filter(([id]) => rack.graph.nodes.some((node) => node.id === id)));
      return state();
    }
    if (method === 'layout') rack.layout = structuredClone(params);
    if (method === 'loadProject') {
      rack.graph = { ...defaultGraph(), nodes: [{ id: 'loaded', type: 'output', configuration: {} }], cables: [] };
      rack.layout = { loaded: { x: 0, y: 0 } };
    }
    if (method === 'parameter') {
      const node = rack.graph.nodes.find((entry) => entry.id === params.node);
      node.configuration.gainsDb = [params.value];
    }
    if (method === 'play') rack.playing = params.playing;
    if (method === 'status' || method === 'play') return { playing: rack.playing === true };
    return state();
  };
  // A held reply is made at once and delivered late, as a reply held up on its way.
  rack.call = async (method, params) => {
    rack.calls.push(method);
    const reply = answer(method, params);
    if (rack.hold === method) {
      rack.hold = null;
      await new Promise((resolve) => {
        rack.release = resolve;
      });
    }
    return reply;
  };
  return rack;
}

async function loadedModel() {
  const rack = standInRack();
  const model = new PatchModel(rack.call);
  await model.refresh();
  return { rack, model };
}

const documents = (rack) => structuredClone({ graph: rack.graph, layout: rack.layout });

describe('patch model history', () => {
  const edits = {
    add: (model) => model.addModule('split', 'breakout', { channels: 2 }, { x: 380, y: 300 }),
    remove: (model) => model.removeModules(['faders']),
    connect: (model) => model.connect('input', 'out', 'output', 'in'),
    disconnect: (model) => model.disconnect({ from: 'faders', output: 'out0', to: 'output', input: 'in' }),
    'connect events': (model) => model.connectEvents('input', 'output'),
    move: (model) => model.commitMove('faders', { x: 380, y: 60 }, { x: 400, y: 500 }),
    configure: (model) => model.setConfiguration('output', { channels: 4 }),
  };
  for (const [kind, edit] of Object.entries(edits)) {
    it(`undoes and redoes ${kind} with the rack's "graph" and "layout" documents`, async () => {
      const { rack, model } = await loadedModel();
      const before = documents(rack);
      await edit(model);
      const after = documents(rack);
      assert.notDeepEqual(after, before);
      assert.equal(model.unsavedEdits, true);

      await model.undo();
      assert.deepEqual(documents(rack), before);
      assert.deepEqual(model.snapshot(), before);
      assert.equal(model.unsavedEdits, false);
      rack.calls = [];
      await model.redo();
      assert.deepEqual(documents(rack), after);
      assert.deepEqual(rack.calls.includes('graph'), kind !== 'move', 'a move is taken back by "layout" alone');
      assert.deepEqual([model.done.length, model.undone.length], [1, 0]);
    });
  }

  it('makes one step of a fader gesture and takes it back by "parameter" without a rebuild', async () => {
    const { rack, model } = await loadedModel();
    await Promise.all([-3, -6, -9].map((value) => model.setParameter('faders', 0, value)));
    await model.settleParameters();
    await model.setParameter('faders', 0, -20);
    await model.settleParameters();
    assert.deepEqual(model.done.map((step) => [step.before, step.after]), [[0, -9], [-9, -20]]);
    rack.calls = [];
    await model.undo();
    await model.undo();
    assert.deepEqual(rack.graph.nodes[1].configuration.gainsDb, [0]);
    assert.deepEqual(rack.calls.filter((method) => method !== 'state'), ['parameter', 'parameter']);
    await model.redo();
    assert.deepEqual(rack.graph.nodes[1].configuration.gainsDb, [-9]);
  });

  it('leaves the history as it was when the rack refuses an edit, an undo or a redo', async () => {
    const { rack, model } = await loadedModel();
    await model.connect('input', 'out', 'output', 'in');
    const after = documents(rack);
    rack.refuse.graph = 'Stop recording before changing cables or modules.';
    await assert.rejects(model.disconnect(rack.graph.cables[0]), /Stop recording/);
    await assert.rejects(model.undo(), /Stop recording/);
    assert.deepEqual([model.done.length, model.undone.length], [1, 0]);
    assert.deepEqual(documents(rack), after);
    delete rack.refuse.graph;
    await model.undo();
    rack.refuse.graph = 'Stop recording before changing cables or modules.';
    await assert.rejects(model.redo(), /Stop recording/);
    assert.deepEqual([model.done.length, model.undone.length], [0, 1]);
  });

  it('clears what was undone when a new edit is made, and does nothing past either end', async () => {
    const { model } = await loadedModel();
    assert.equal(await model.undo(), null);
    await model.connect('input', 'out', 'output', 'in');
    await model.undo();
    await model.setConfiguration('output', { channels: 4 });
    assert.equal(await model.redo(), null);
    assert.deepEqual([model.done.length, model.undone.length], [1, 0]);
  });

  it('places new modules in free space: three added at one spot overlap nothing', async () => {
    const { model } = await loadedModel();
    for (const id of ['a', 'b', 'c']) await model.addModule(id, 'breakout', {}, { x: 380, y: 60 });
    const boxes = model.graph.nodes.map((node) => ({ id: node.id, ...model.position(node.id), ...model.boxSize(node.id) }));
    for (const one of boxes) {
      for (const other of boxes) {
        const apart = one.x + one.width <= other.x || other.x + other.width <= one.x || one.y + one.height <= other.y || other.y + other.height <= one.y;
        assert.ok(one === other || apart, `${one.id} and ${other.id} overlap`);
      }
    }
    assert.ok(Math.hypot(model.position('a').x - 380, model.position('a').y - 60) < 300, 'the first lands near the wanted spot');
  });
});

describe('patch model edit queue', () => {
  it('opens a project only after the edit before it, and builds the edit after it from the project', async () => {
    const { rack, model } = await loadedModel();
    rack.hold = 'graph';
    const first = model.connect('input', 'out', 'output', 'in');
    const opened = model.openProject({});
    const next = model.connect('loaded', 'out', 'loaded', 'in');
    await Promise.resolve();
    assert.deepEqual(rack.calls.slice(1), ['graph'], 'nothing else goes while an edit waits for its answer');
    rack.release();
    await Promise.all([first, opened, next]);
    assert.deepEqual(rack.calls.slice(1), ['graph', 'loadProject', 'graph']);
    assert.deepEqual(rack.graph.nodes.map((node) => node.id), ['loaded']);
    assert.deepEqual([model.done.length, model.unsavedEdits], [1, true]);
  });

  it('drops a poll answer sent before a transport command and answered after it', async () => {
    const { rack, model } = await loadedModel();
    rack.hold = 'status';
    const poll = model.poll();
    await model.play(true);
    rack.release();
    await poll;
    assert.equal(model.status.playing, true);
  });

  it('keeps a value set after a "state" answer left over that answer, even behind a newer one', async () => {
    const { rack, model } = await loadedModel();
    rack.hold = 'state';
    const stale = model.refresh();
    await model.setParameter('faders', 0, -6);
    await model.refresh();
    rack.release();
    await stale;
    assert.equal(model.parameterValue('faders', 0), -6);
  });

  it('says an opened file that does not parse is not a rack project, with the rack\'s words after it', async () => {
    const { rack, model } = await loadedModel();
    rack.refuse.loadProject = '[json.exception.parse_error.101] parse error at line 1, column 1: syntax error';
    await assert.rejects(model.openProject({}), { message: `This file is not a rack project (${rack.refuse.loadProject})` });
    await model.connect('input', 'out', 'output', 'in');
  });
});
