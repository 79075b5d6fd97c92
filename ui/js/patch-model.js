// The page's picture of the rack: the patch, its layout and ports as the rack last reported them,
// and the latest status. Every patch edit is one "graph" command built from that picture; the
// picture changes only from the rack's answers, so a refused edit leaves it as reported. The
// edits the rack took are kept as steps to undo and redo.

import { callRack } from './bridge.js';
import { isFaderBank, isHosted } from './module-types.js';
import { freePlace, moduleBox } from './patch-geometry.js';

const pollMilliseconds = 100;
const historyLength = 100;
const autoColumnWidth = 335;
const autoRowHeight = 260;

function clone(value) {
  return value === undefined ? undefined : JSON.parse(JSON.stringify(value));
}

function emptyGraph() {
  return { schema: 1, nodes: [], cables: [], eventCables: [] };
}

function isObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
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

function sameJson(left, right) {
  return JSON.stringify(left) === JSON.stringify(right);
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
    this.failedPolls = 0;
    this.editQueue = Promise.resolve();
    this.pendingParameters = new Map();
    this.parameterFlight = null;
    this.pollTimer = null;
    this.polling = false;
    this.transportCommands = 0;
    // The last "start" settings this page sent, and the name of their output device.
    this.audioSettings = null;
    this.audioDeviceName = '';
    // Steps taken and undone, newest last; a step holds the graph and layout documents before and
    // after it, or for a control the value before and after one gesture.
    this.done = [];
    this.undone = [];
    this.gestureStep = null;
    // The newest step the project file holds (null: none), to tell unsaved edits.
    this.savedStep = null;
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
    this.placeUnplacedNodes();
    this.loaded = true;
    this.dispatchEvent(new Event('patch'));
    this.applyStatus(state.status);
  }

  applyStatus(status) {
    if (!isObject(status)) {
      return;
    }
    this.status = status;
    this.dispatchEvent(new Event('status'));
  }

  async refresh() {
    this.applyState(await this.call('state'));
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
      return await this.call('graph', graph);
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
      this.addStep(step);
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
      this.addStep({ kind: 'patch', before, after: this.snapshot() });
    });
  }

  // --- history -----------------------------------------------------------------------------

  addStep(step) {
    this.done.push(step);
    if (this.done.length > historyLength) this.done.shift();
    this.undone = [];
    this.dispatchEvent(new Event('history'));
  }

  get unsavedEdits() {
    return (this.done.at(-1) || null) !== this.savedStep;
  }

  markSaved() {
    this.savedStep = this.done.at(-1) || null;
  }

  // Both answer the step taken back or again, or null when there is none. A step the rack
  // refuses stays where it was.
  undo() {
    return this.travel(this.done, this.undone, 'before');
  }

  redo() {
    return this.travel(this.undone, this.done, 'after');
  }

  travel(from, to, side) {
    this.gestureStep = null;
    return this.queue(async () => {
      const step = from.at(-1);
      if (!step) return null;
      if (step.kind === 'parameter') {
        // After every value of the gesture, or a late one would land over the undone value.
        while (this.parameterFlight) await this.parameterFlight.catch(() => {});
        await this.call('parameter', { node: step.node, parameter: step.parameter, value: step[side] });
        await this.refresh();
      } else {
        const target = step[side];
        // A move alone changes no graph, so it rebuilds nothing.
        if (!sameJson(step.before.graph, step.after.graph)) this.applyState(await this.sendGraph(target.graph));
        this.layout = clone(target.layout);
        this.dispatchEvent(new Event('patch'));
        await this.saveLayout();
      }
      from.pop();
      to.push(step);
      this.dispatchEvent(new Event('history'));
      return step;
    });
  }

  // Opens a project in the queue, so no edit waiting there is built from the patch it replaces.
  // The steps before it belong to another patch and are dropped.
  openProject(params) {
    return this.queue(async () => {
      let result;
      try {
        result = await this.call('loadProject', params);
      } catch (error) {
        if (/json\.exception\.parse_error/.test(error.message)) throw new Error(`This file is not a rack project (${error.message})`);
        throw error;
      }
      if (result && result.cancelled === true && !result.project) return null;
      this.applyState(result);
      this.done = [];
      this.undone = [];
      this.savedStep = null;
      this.dispatchEvent(new Event('history'));
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
      graph.cables = graph.cables.filter((entry) => !(entry.from === old.from && entry.output === old.output && entry.to === old.to && entry.input === old.input));
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
      const index = graph.cables.findIndex(
        (entry) => entry.from === cable.from && entry.output === cable.output && entry.to === cable.to && entry.input === cable.input,
      );
      if (index >= 0) graph.cables.splice(index, 1);
    });
  }

  disconnectEvents(cable) {
    return this.edit((graph) => {
      const index = graph.eventCables.findIndex((entry) => entry.from === cable.from && entry.to === cable.to);
      if (index >= 0) graph.eventCables.splice(index, 1);
    });
  }

  // --- live values -------------------------------------------------------------------------

  // Values sent while a change is on its way are folded into one: the latest per control wins.
  // The values of one gesture (until settleParameters) make one step.
  setParameter(node, parameter, value) {
    this.recordParameter(node, parameter, value);
    this.mirrorParameter(node, parameter, value);
    this.pendingParameters.set(`${parameter} ${node}`, { node, parameter, value });
    if (!this.parameterFlight) {
      this.parameterFlight = this.flushParameters().finally(() => {
        this.parameterFlight = null;
      });
    }
    return this.parameterFlight;
  }

  recordParameter(node, parameter, value) {
    const open = this.gestureStep;
    if (open && open.node === node && open.parameter === parameter && this.done.at(-1) === open) {
      open.after = value;
      return;
    }
    this.gestureStep = { kind: 'parameter', node, parameter, before: this.parameterValue(node, parameter), after: value };
    this.addStep(this.gestureStep);
  }

  // The value a control holds as the patch stores it.
  parameterValue(id, parameter) {
    const node = this.node(id);
    const configuration = node && isObject(node.configuration) ? node.configuration : {};
    if (node && isFaderBank(node.type)) {
      const strip = Math.floor(parameter / 2);
      if (parameter % 2 === 1) return Array.isArray(configuration.mutes) && configuration.mutes[strip] === true ? 1 : 0;
      const gain = Array.isArray(configuration.gainsDb) ? Number(configuration.gainsDb[strip]) : 0;
      return Number.isFinite(gain) ? gain : 0;
    }
    const stored = Array.isArray(configuration.parameters) ? configuration.parameters.find((item) => isObject(item) && item.id === parameter) : null;
    const reported = [...this.liveParameters(id), ...this.nodePorts(id).parameters].find((item) => isObject(item) && item.id === parameter);
    const value = Number((stored || reported || {}).value);
    return Number.isFinite(value) ? value : 0;
  }

  async flushParameters() {
    while (this.pendingParameters.size > 0) {
      const [key, change] = this.pendingParameters.entries().next().value;
      this.pendingParameters.delete(key);
      try {
        await this.call('parameter', change);
      } catch (error) {
        this.pendingParameters.clear();
        if (this.gestureStep && this.done.at(-1) === this.gestureStep) {
          this.done.pop();
          this.dispatchEvent(new Event('history'));
        }
        this.gestureStep = null;
        await this.refresh().catch(() => {});
        throw error;
      }
    }
  }

  // Reads "state" once every change sent so far has been answered.
  async settleParameters() {
    this.gestureStep = null;
    while (this.parameterFlight) await this.parameterFlight.catch(() => {});
    await this.refresh();
  }

  // Mirrors what the rack stores in the node's configuration, so the controls stay where the
  // user put them until the next "state" arrives.
  mirrorParameter(id, parameter, value) {
    const node = this.node(id);
    if (!node || !isObject(node.configuration)) return;
    const configuration = node.configuration;
    if (isFaderBank(node.type)) {
      const key = parameter % 2 === 1 ? 'mutes' : 'gainsDb';
      const strip = Math.floor(parameter / 2);
      if (!Array.isArray(configuration[key])) configuration[key] = [];
      while (configuration[key].length <= strip) configuration[key].push(key === 'mutes' ? false : 0);
      configuration[key][strip] = key === 'mutes' ? value > 0.5 : Math.min(12, Math.max(-80, value));
    } else if (isHosted(node.type)) {
      if (!Array.isArray(configuration.parameters)) configuration.parameters = [];
      const entry = configuration.parameters.find((item) => isObject(item) && item.id === parameter);
      if (entry) entry.value = value;
      else configuration.parameters.push({ id: parameter, value });
    }
  }

  // --- transport and devices ---------------------------------------------------------------

  async play(playing) {
    this.transportCommands += 1;
    this.applyStatus(await this.call('play', { playing }));
  }

  // Arming recompiles the patch and stopping disarms the recorders: both change the patch.
  async record(recording) {
    this.transportCommands += 1;
    this.applyStatus(await this.call('record', { recording }));
    await this.refresh();
  }

  async stopAudio() {
    this.transportCommands += 1;
    this.applyStatus(await this.call('stop'));
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
    this.applyStatus(await this.call('start', settings));
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
    this.applyStatus(await this.call('start', this.audioSettings));
    await this.refresh();
  }

  // --- polling -----------------------------------------------------------------------------

  startPolling() {
    document.addEventListener('visibilitychange', () => this.schedulePoll());
    this.schedulePoll();
  }

  schedulePoll() {
    if (this.pollTimer !== null || document.visibilityState !== 'visible') return;
    this.pollTimer = setTimeout(() => {
      this.pollTimer = null;
      this.poll().finally(() => this.schedulePoll());
    }, pollMilliseconds);
  }

  async poll() {
    if (this.polling) return;
    this.polling = true;
    try {
      // A poll sent before a transport command may be answered after it: its older state would
      // undo the command on screen, and the next toggle would read it.
      const commands = this.transportCommands;
      const status = await this.call('status');
      const recovered = this.failedPolls > 0 || !this.loaded;
      this.failedPolls = 0;
      this.setReachable(true);
      if (recovered) {
        await this.refresh();
      } else {
        if (commands === this.transportCommands) this.applyStatus(status);
      }
    } catch {
      this.failedPolls += 1;
      this.setReachable(false);
    } finally {
      this.polling = false;
    }
  }

  setReachable(reachable) {
    if (this.reachable === reachable) return;
    this.reachable = reachable;
    this.dispatchEvent(new Event('connection'));
  }
}
