// The page's picture of the rack: the patch, its layout and ports as the rack last reported them,
// and the latest status. Every patch edit is one "graph" command built from that picture; the
// picture changes only from the rack's answers, so a refused edit leaves it as reported. The
// edits the rack took are kept as steps to undo and redo (edit-history.js); live values go by
// parameter-changes.js and the status by status-poller.js.

import { callRack } from './bridge.js';
import { EditHistory } from './edit-history.js';
import { clone, isObject } from './json-values.js';
import { isHosted } from './module-types.js';
import { ParameterChanges } from './parameter-changes.js';
import { freePlace, moduleBox } from './patch-geometry.js';
import { StatusPoller } from './status-poller.js';

const autoColumnWidth = 335;
const autoRowHeight = 260;

function emptyGraph() {
  return { schema: 1, nodes: [], cables: [], eventCables: [] };
}

const audioSettingKeys = ['inputId', 'outputId', 'blockFrames', 'sampleRate', 'exclusive'];

function sameAudioSettings(left, right) {
  return audioSettingKeys.every((key) => left[key] === right[key]);
}

// The device's own state in words: null while it runs or was stopped on purpose, else the
// sentence that says it failed.
export function deviceFailure(device, deviceName) {
  if (!isObject(device) || device.running === true || typeof device.error !== 'string' || device.error === '') return null;
  return `The audio device stopped: ${deviceName || 'the output device'} (${device.error})`;
}

// Whether two cables join the same jacks; event cables have no ports, so their ends decide.
export function sameCable(a, b) {
  return a.from === b.from && a.to === b.to && a.output === b.output && a.input === b.input;
}

export class PatchModel extends EventTarget {
  // call: the way to the rack, callRack unless a test stands in for it.
  constructor(call = callRack) {
    super();
    this.call = call;
    this.graph = emptyGraph();
    this.layout = {};
    this.ports = {};
    this.status = null;
    this.loaded = false;
    this.reachable = true;
    this.editQueue = Promise.resolve();
    this.transportCommands = 0;
    // The last "start" settings this page sent, and the name of their output device.
    this.audioSettings = null;
    this.audioDeviceName = '';
    this.history = new EditHistory(this);
    this.parameters = new ParameterChanges(this);
    this.poller = new StatusPoller(this);
  }

  // --- what the rack reported ---------------------------------------------------------------

  applyState(state) {
    const project = isObject(state) && isObject(state.project) ? state.project : {};
    const graph = isObject(project.graph) ? project.graph : emptyGraph();
    this.graph = {
      schema: 1,
      nodes: Array.isArray(graph.nodes) ? graph.nodes : [],
      cables: Array.isArray(graph.cables) ? graph.cables : [],
      eventCables: Array.isArray(graph.eventCables) ? graph.eventCables : [],
    };
    this.layout = isObject(project.layout) ? project.layout : {};
    this.ports = isObject(state.ports) ? state.ports : {};
    this.nodeIndex = new Map(this.graph.nodes.map((node, index) => [node.id, index]));
    this.parameters.keepNewerInPatch(state);
    this.placeUnplacedNodes();
    this.loaded = true;
    this.dispatchEvent(new Event('patch'));
    this.applyStatus(state.status);
  }

  applyStatus(status) {
    if (!isObject(status)) {
      return;
    }
    this.parameters.keepNewerInStatus(status);
    this.status = status;
    this.dispatchEvent(new Event('status'));
  }

  async refresh() {
    this.applyState(await this.read('state'));
  }

  // Sends a command that answers with the rack's state or status: values set on this page after
  // it left stay over its answer.
  read(method, params) {
    return this.parameters.read(method, params);
  }

  node(id) {
    const index = this.nodeIndex ? this.nodeIndex.get(id) : undefined;
    return index === undefined ? null : this.graph.nodes[index];
  }

  nodePorts(id) {
    const ports = this.ports[id];
    return {
      inputs: ports && Array.isArray(ports.inputs) ? ports.inputs : [],
      outputs: ports && Array.isArray(ports.outputs) ? ports.outputs : [],
      waveform: ports && Array.isArray(ports.waveform) ? ports.waveform : null,
      parameters: ports && Array.isArray(ports.parameters) ? ports.parameters : [],
      eventInput: ports ? ports.eventInput : undefined,
      eventOutput: ports ? ports.eventOutput : undefined,
    };
  }

  // side: "inputs" or "outputs"; the name a port's jack shows.
  portName(id, side, portId) {
    const port = this.nodePorts(id)[side].find((entry) => entry.id === portId);
    return port && port.name ? port.name : portId;
  }

  // Event jacks: hosted plug-ins say whether they have them; players make and take events and
  // recorders take them. The other modules pass events on, so they show a jack only where the
  // patch already holds an event cable.
  hasEventInput(id) {
    const node = this.node(id);
    if (!node) return false;
    if (isHosted(node.type)) return this.nodePorts(id).eventInput === true;
    return node.type === 'player' || node.type === 'recorder' || this.graph.eventCables.some((cable) => cable.to === id);
  }

  hasEventOutput(id) {
    const node = this.node(id);
    if (!node) return false;
    if (isHosted(node.type)) return this.nodePorts(id).eventOutput === true;
    return node.type === 'player' || this.graph.eventCables.some((cable) => cable.from === id);
  }

  peak(id) {
    const index = this.nodeIndex ? this.nodeIndex.get(id) : undefined;
    const peaks = this.status && Array.isArray(this.status.peaks) ? this.status.peaks : [];
    const value = index === undefined ? 0 : Number(peaks[index]);
    return Number.isFinite(value) ? value : 0;
  }

  // The level of one fader strip (linear), from the fader bank's own strip peaks.
  stripPeak(id, strip) {
    const peaks = this.media(id).peaks;
    const value = Array.isArray(peaks) ? Number(peaks[strip]) : 0;
    return Number.isFinite(value) ? value : 0;
  }

  media(id) {
    const media = this.status && isObject(this.status.media) ? this.status.media[id] : null;
    return isObject(media) ? media : {};
  }

  liveParameters(id) {
    const parameters = this.status && isObject(this.status.parameters) ? this.status.parameters[id] : null;
    return Array.isArray(parameters) ? parameters : [];
  }

  // --- layout ------------------------------------------------------------------------------

  position(id) {
    const entry = this.layout[id];
    const x = isObject(entry) ? Number(entry.x) : NaN;
    const y = isObject(entry) ? Number(entry.y) : NaN;
    return { x: Number.isFinite(x) ? x : 0, y: Number.isFinite(y) ? y : 0 };
  }

  placeUnplacedNodes() {
    let slot = 0;
    for (const node of this.graph.nodes) {
      const entry = this.layout[node.id];
      if (isObject(entry) && Number.isFinite(Number(entry.x)) && Number.isFinite(Number(entry.y))) {
        continue;
      }
      const column = slot % 8;
      const row = Math.floor(slot / 8);
      this.layout[node.id] = { x: 45 + column * autoColumnWidth, y: 400 + row * autoRowHeight };
      slot += 1;
    }
  }

  boxSize(id) {
    const ports = this.nodePorts(id);
    const box = moduleBox(ports.inputs, ports.outputs, this.hasEventInput(id) || this.hasEventOutput(id));
    return { width: box.width, height: box.height };
  }

  // The free place nearest to wanted for the module's box, clear of every other box.
  freePlace(id, wanted) {
    const others = this.graph.nodes.filter((node) => node.id !== id).map((node) => ({ ...this.position(node.id), ...this.boxSize(node.id) }));
    return freePlace(others, this.boxSize(id), wanted);
  }

  moveModule(id, x, y) {
    this.layout[id] = { x: Math.round(x), y: Math.round(y) };
  }

  // The whole layout object is one command; only nodes of the patch are kept in it. A refusal
  // re-reads "state", so the modules go back to where the rack keeps them.
  async saveLayout() {
    const layout = {};
    for (const node of this.graph.nodes) {
      layout[node.id] = this.position(node.id);
    }
    try {
      await this.call('layout', layout);
    } catch (error) {
      await this.refresh().catch(() => {});
      throw error;
    }
    this.layout = layout;
  }

  // --- patch edits -------------------------------------------------------------------------

  // Runs edits, loads and steps of the history one after another, each built from the patch
  // the rack reported last.
  queue(run) {
    const result = this.editQueue.then(run, run);
    this.editQueue = result.catch(() => {});
    return result;
  }

  // A refusal re-reads "state", so the page shows what the rack runs, and rejects with the
  // rack's text.
  async sendGraph(graph) {
    try {
      return await this.read('graph', graph);
    } catch (error) {
      await this.refresh().catch(() => {});
      throw error;
    }
  }

  snapshot() {
    const layout = {};
    for (const node of this.graph.nodes) layout[node.id] = this.position(node.id);
    return { graph: clone(this.graph), layout };
  }

  edit(change, layoutChange) {
    return this.queue(async () => {
      const before = this.snapshot();
      const graph = clone(this.graph);
      change(graph);
      const state = await this.sendGraph(graph);
      const previousLayout = this.layout;
      this.applyState(state);
      const step = { kind: 'patch', before, after: this.snapshot() };
      this.history.addStep(step);
      if (layoutChange) {
        this.layout = { ...previousLayout, ...this.layout };
        layoutChange(this.layout);
        this.dispatchEvent(new Event('patch'));
        await this.saveLayout();
        step.after = this.snapshot();
      }
      return state;
    });
  }

  // A finished drag: the module went from one place to another.
  commitMove(id, from, to) {
    return this.queue(async () => {
      const before = this.snapshot();
      before.layout[id] = from;
      this.moveModule(id, to.x, to.y);
      await this.saveLayout();
      this.history.addStep({ kind: 'patch', before, after: this.snapshot() });
    });
  }

  // --- history -----------------------------------------------------------------------------

  get done() {
    return this.history.done;
  }

  get undone() {
    return this.history.undone;
  }

  get unsavedEdits() {
    return this.history.unsavedEdits;
  }

  markSaved() {
    this.history.markSaved();
  }

  undo() {
    return this.history.undo();
  }

  redo() {
    return this.history.redo();
  }

  // Opens a project in the queue, so no edit waiting there is built from the patch it replaces.
  // The steps before it belong to another patch and are dropped.
  openProject(params) {
    return this.queue(async () => {
      let result;
      try {
        result = await this.read('loadProject', params);
      } catch (error) {
        if (/json\.exception\.parse_error/.test(error.message)) throw new Error(`This file is not a rack project (${error.message})`);
        throw error;
      }
      if (result && result.cancelled === true && !result.project) return null;
      this.applyState(result);
      this.history.clear();
      return result;
    });
  }

  uniqueId(base) {
    const taken = new Set(this.graph.nodes.map((node) => node.id));
    for (let n = 1; ; n += 1) {
      const id = `${base}${n}`;
      if (!taken.has(id)) return id;
    }
  }

  // near: where the box's top-left corner should be, if that place is free.
  addModule(id, type, configuration, near) {
    return this.edit(
      (graph) => graph.nodes.push({ id, type, configuration }),
      (layout) => {
        layout[id] = this.freePlace(id, near);
      },
    );
  }

  setConfiguration(id, configuration) {
    return this.edit((graph) => {
      const node = graph.nodes.find((entry) => entry.id === id);
      if (node) node.configuration = configuration;
    });
  }

  // Tells who listens to "removed" which modules went and how many cables with them.
  async removeModules(ids) {
    const doomed = new Set(ids);
    const attached = (cable) => doomed.has(cable.from) || doomed.has(cable.to);
    const cables = this.graph.cables.filter(attached).length + this.graph.eventCables.filter(attached).length;
    const places = ids.map((id) => this.position(id));
    await this.edit(
      (graph) => {
        graph.nodes = graph.nodes.filter((node) => !doomed.has(node.id));
        graph.cables = graph.cables.filter((cable) => !doomed.has(cable.from) && !doomed.has(cable.to));
        graph.eventCables = graph.eventCables.filter((cable) => !doomed.has(cable.from) && !doomed.has(cable.to));
      },
      (layout) => {
        for (const id of doomed) delete layout[id];
      },
    );
    this.dispatchEvent(new CustomEvent('removed', { detail: { ids, cables, at: places[0] } }));
  }

  connect(from, output, to, input) {
    return this.edit((graph) => graph.cables.push({ from, output, to, input }));
  }

  // An input takes one cable: the one feeding it goes in the same edit, so one step undoes both.
  replaceCable(old, cable) {
    return this.edit((graph) => {
      graph.cables = graph.cables.filter((entry) => !sameCable(entry, old));
      graph.cables.push({ from: cable.from, output: cable.output, to: cable.to, input: cable.input });
    });
  }

  connectEvents(from, to) {
    return this.edit((graph) => graph.eventCables.push({ from, to }));
  }

  // Cables are named by their contents, not their index, so an edit queued behind another
  // still removes the cable the user meant.
  disconnect(cable) {
    return this.edit((graph) => {
      const index = graph.cables.findIndex((entry) => sameCable(entry, cable));
      if (index >= 0) graph.cables.splice(index, 1);
    });
  }

  disconnectEvents(cable) {
    return this.edit((graph) => {
      const index = graph.eventCables.findIndex((entry) => sameCable(entry, cable));
      if (index >= 0) graph.eventCables.splice(index, 1);
    });
  }

  // --- live values -------------------------------------------------------------------------

  setParameter(node, parameter, value) {
    return this.parameters.set(node, parameter, value);
  }

  parameterValue(id, parameter) {
    return this.parameters.value(id, parameter);
  }

  settleParameters() {
    return this.parameters.settle();
  }

  // --- transport and devices ---------------------------------------------------------------

  async play(playing) {
    this.transportCommands += 1;
    this.applyStatus(await this.read('play', { playing }));
  }

  // Arming recompiles the patch and stopping disarms the recorders: both change the patch.
  async record(recording) {
    this.transportCommands += 1;
    this.applyStatus(await this.read('record', { recording }));
    await this.refresh();
  }

  async stopAudio() {
    this.transportCommands += 1;
    this.applyStatus(await this.read('stop'));
    await this.refresh();
  }

  // Starts audio, or restarts it when it runs with other settings than the page last sent (the
  // rack itself keeps running unchanged on a second "start"). Answers "started", "restarted" or
  // "unchanged".
  async startAudio(settings, deviceName) {
    this.transportCommands += 1;
    const running = isObject(this.status) && isObject(this.status.device) && this.status.device.running === true;
    if (running && this.audioSettings !== null && sameAudioSettings(this.audioSettings, settings)) return 'unchanged';
    if (running) await this.call('stop');
    this.applyStatus(await this.read('start', settings));
    this.audioSettings = { ...settings };
    this.audioDeviceName = deviceName;
    await this.refresh();
    return running ? 'restarted' : 'started';
  }

  // Stop, then start again with the last settings: the way back from a failed device.
  async restartAudio() {
    if (this.audioSettings === null) throw new Error('Choose the audio devices and press Start audio first.');
    this.transportCommands += 1;
    await this.call('stop');
    this.applyStatus(await this.read('start', this.audioSettings));
    await this.refresh();
  }

  // --- polling -----------------------------------------------------------------------------

  startPolling() {
    this.poller.start();
  }

  poll() {
    return this.poller.poll();
  }

  setReachable(reachable) {
    if (this.reachable === reachable) return;
    this.reachable = reachable;
    this.dispatchEvent(new Event('connection'));
  }
}
