// The page's picture of the rack: the patch, its layout and ports as the rack last reported them,
// and the latest status. Every patch edit is one "graph" command built from that picture; the
// picture changes only from the rack's answers, so a refused edit leaves it as reported.

import { callRack } from './bridge.js';
import { isFaderBank, isHosted } from './module-types.js';

const pollMilliseconds = 100;
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

export class PatchModel extends EventTarget {
  constructor() {
    super();
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
    // The last "start" settings this page sent, and the name of their output device.
    this.audioSettings = null;
    this.audioDeviceName = '';
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
    this.applyState(await callRack('state'));
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
      await callRack('layout', layout);
    } catch (error) {
      await this.refresh().catch(() => {});
      throw error;
    }
    this.layout = layout;
  }

  // --- patch edits -------------------------------------------------------------------------

  // Runs edits one after another, each built from the patch the rack reported last. A refusal
  // re-reads "state", so the page shows what the rack runs, and rejects with the rack's text.
  edit(change, layoutChange) {
    const run = async () => {
      const graph = clone(this.graph);
      change(graph);
      let state;
      try {
        state = await callRack('graph', graph);
      } catch (error) {
        await this.refresh().catch(() => {});
        throw error;
      }
      const previousLayout = this.layout;
      this.applyState(state);
      if (layoutChange) {
        this.layout = { ...previousLayout, ...this.layout };
        layoutChange(this.layout);
        this.dispatchEvent(new Event('patch'));
        await this.saveLayout();
      }
      return state;
    };
    const result = this.editQueue.then(run, run);
    this.editQueue = result.catch(() => {});
    return result;
  }

  uniqueId(base) {
    const taken = new Set(this.graph.nodes.map((node) => node.id));
    for (let n = 1; ; n += 1) {
      const id = `${base}${n}`;
      if (!taken.has(id)) return id;
    }
  }

  addModule(id, type, configuration, position) {
    return this.edit(
      (graph) => graph.nodes.push({ id, type, configuration }),
      (layout) => {
        layout[id] = { x: Math.round(position.x), y: Math.round(position.y) };
      },
    );
  }

  setConfiguration(id, configuration) {
    return this.edit((graph) => {
      const node = graph.nodes.find((entry) => entry.id === id);
      if (node) node.configuration = configuration;
    });
  }

  removeModules(ids) {
    const doomed = new Set(ids);
    return this.edit(
      (graph) => {
        graph.nodes = graph.nodes.filter((node) => !doomed.has(node.id));
        graph.cables = graph.cables.filter((cable) => !doomed.has(cable.from) && !doomed.has(cable.to));
        graph.eventCables = graph.eventCables.filter((cable) => !doomed.has(cable.from) && !doomed.has(cable.to));
      },
      (layout) => {
        for (const id of doomed) delete layout[id];
      },
    );
  }

  connect(from, output, to, input) {
    return this.edit((graph) => graph.cables.push({ from, output, to, input }));
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
  setParameter(node, parameter, value) {
    this.mirrorParameter(node, parameter, value);
    this.pendingParameters.set(`${parameter} ${node}`, { node, parameter, value });
    if (!this.parameterFlight) {
      this.parameterFlight = this.flushParameters().finally(() => {
        this.parameterFlight = null;
      });
    }
    return this.parameterFlight;
  }

  async flushParameters() {
    while (this.pendingParameters.size > 0) {
      const [key, change] = this.pendingParameters.entries().next().value;
      this.pendingParameters.delete(key);
      try {
        await callRack('parameter', change);
      } catch (error) {
        this.pendingParameters.clear();
        await this.refresh().catch(() => {});
        throw error;
      }
    }
  }

  // Reads "state" once every change sent so far has been answered.
  async settleParameters() {
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
    this.applyStatus(await callRack('play', { playing }));
  }

  // Arming recompiles the patch and stopping disarms the recorders: both change the patch.
  async record(recording) {
    this.applyStatus(await callRack('record', { recording }));
    await this.refresh();
  }

  async stopAudio() {
    this.applyStatus(await callRack('stop'));
    await this.refresh();
  }

  // Starts audio, or restarts it when it runs with other settings than the page last sent (the
  // rack itself keeps running unchanged on a second "start"). Answers "started", "restarted" or
  // "unchanged".
  async startAudio(settings, deviceName) {
    const running = isObject(this.status) && isObject(this.status.device) && this.status.device.running === true;
    if (running && this.audioSettings !== null && sameAudioSettings(this.audioSettings, settings)) return 'unchanged';
    if (running) await callRack('stop');
    this.applyStatus(await callRack('start', settings));
    this.audioSettings = { ...settings };
    this.audioDeviceName = deviceName;
    await this.refresh();
    return running ? 'restarted' : 'started';
  }

  // Stop, then start again with the last settings: the way back from a failed device.
  async restartAudio() {
    if (this.audioSettings === null) throw new Error('Choose the audio devices and press Start audio first.');
    await callRack('stop');
    this.applyStatus(await callRack('start', this.audioSettings));
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
      const status = await callRack('status');
      const recovered = this.failedPolls > 0 || !this.loaded;
      this.failedPolls = 0;
      this.setReachable(true);
      if (recovered) {
        await this.refresh();
      } else {
        this.applyStatus(status);
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
