// An in-memory rack that answers the page's envelope the way the native side does: the twelve
// commands, the view's own pickers and project methods, and the same refusal texts. Audio is
// simulated by the clock: levels and counters move while the "device" runs.

import fs from 'node:fs';
import path from 'node:path';
import { createModule, pluginEntries } from './modules.mjs';

const product = 'VELKAPHON RACK';
const version = '0.1.0-beta.3';

function fail(message) {
  throw new Error(message);
}

function clone(value) {
  return JSON.parse(JSON.stringify(value));
}

function isObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

function keyError(key) {
  return `[json.exception.out_of_range.403] key '${key}' not found`;
}

function member(object, key) {
  if (!isObject(object)) fail('[json.exception.type_error.304] cannot use at() with ' + (Array.isArray(object) ? 'array' : typeof object));
  if (!(key in object)) fail(keyError(key));
  return object[key];
}

function text(object, key) {
  const value = member(object, key);
  if (typeof value !== 'string') fail(`[json.exception.type_error.302] type must be string, but is ${value === null ? 'null' : typeof value}`);
  return value;
}

export function defaultGraph() {
  return {
    schema: 1,
    nodes: [
      { id: 'input', type: 'input', configuration: { channels: 2, offset: 0 } },
      { id: 'faders', type: 'fader-bank', configuration: { strips: 1, channels: [2], gainsDb: [0] } },
      { id: 'output', type: 'output', configuration: { channels: 2, offset: 0 } },
    ],
    cables: [
      { from: 'input', output: 'out', to: 'faders', input: 'in0' },
      { from: 'faders', output: 'out0', to: 'output', input: 'in' },
    ],
    eventCables: [],
  };
}

export function defaultLayout() {
  return { input: { x: 45, y: 60 }, faders: { x: 380, y: 60 }, output: { x: 735, y: 60 } };
}

const simulatedDevices = [
  {
    id: 'simulated-interface',
    name: 'Simulated Interface',
    inputs: [{ id: '{0.0.1.00000000}.{simulated-capture}', name: 'Line In (Simulated Interface)', channels: 2, rate: 48000 }],
    outputs: [{ id: '{0.0.0.00000000}.{simulated-render}', name: 'Speakers (Simulated Interface)', channels: 2, rate: 48000 }],
  },
];

function readGraph(value) {
  if (!isObject(value)) fail('Unsupported rack project schema');
  const schema = value.schema === undefined ? 0 : Math.trunc(value.schema);
  if (schema !== 1) fail('Unsupported rack project schema');
  const nodes = member(value, 'nodes');
  const cables = member(value, 'cables');
  const eventCables = value.eventCables === undefined ? [] : value.eventCables;
  if (!Array.isArray(nodes) || !Array.isArray(cables) || !Array.isArray(eventCables) || nodes.length > 128 || cables.length > 4096 || eventCables.length > 4096) {
    fail('Rack graph exceeds documented capacity');
  }
  return {
    schema: 1,
    nodes: nodes.map((node) => ({ id: text(node, 'id'), type: text(node, 'type'), configuration: 'configuration' in node ? clone(node.configuration) : {} })),
    cables: cables.map((cable) => ({ from: text(cable, 'from'), output: text(cable, 'output'), to: text(cable, 'to'), input: text(cable, 'input') })),
    eventCables: eventCables.map((cable) => ({ from: text(cable, 'from'), to: text(cable, 'to') })),
  };
}

// Checks a patch the way the compiler does and returns its modules keyed by node id.
function compileGraph(graph) {
  const modules = new Map();
  for (const node of graph.nodes) {
    const idBytes = Buffer.byteLength(node.id);
    if (idBytes < 1 || idBytes > 128 || node.id.includes('\0') || modules.has(node.id) || !(node.configuration === null || isObject(node.configuration))) {
      fail('Invalid or duplicate stable node ID');
    }
    if (node.configuration === null) node.configuration = {};
    modules.set(node.id, createModule(node));
  }
  const fed = new Set();
  const edges = new Map(graph.nodes.map((node) => [node.id, new Set()]));
  for (const cable of graph.cables) {
    for (const id of [cable.from, cable.to]) if (!modules.has(id)) fail(`Cable references missing node: ${id}`);
    const source = modules.get(cable.from).outputs.find((port) => port.id === cable.output);
    if (!source) fail(`Cable references missing port: ${cable.output}`);
    const destination = modules.get(cable.to).inputs.find((port) => port.id === cable.input);
    if (!destination) fail(`Cable references missing port: ${cable.input}`);
    if (source.channels !== destination.channels) fail('Cable channel widths differ; use a Breakout/Matrix module');
    const key = `${cable.to}\n${cable.input}`;
    if (fed.has(key)) fail('Multiple sources on one port; use an explicit Summing module');
    fed.add(key);
    edges.get(cable.from).add(cable.to);
  }
  const eventPairs = new Set();
  for (const cable of graph.eventCables) {
    for (const id of [cable.from, cable.to]) if (!modules.has(id)) fail(`Cable references missing node: ${id}`);
    const key = `${cable.from}\n${cable.to}`;
    if (eventPairs.has(key)) fail('Duplicate event cable');
    eventPairs.add(key);
    edges.get(cable.from).add(cable.to);
  }
  const claimed = new Set();
  for (const node of graph.nodes.filter((entry) => entry.type === 'output')) {
    const offset = node.configuration.offset ?? 0;
    for (let channel = 0; channel < (node.configuration.channels ?? 2); channel += 1) {
      if (claimed.has(offset + channel)) fail('Output modules overlap host channels; use explicit Summing');
      claimed.add(offset + channel);
    }
  }
  const incoming = new Map(graph.nodes.map((node) => [node.id, 0]));
  for (const targets of edges.values()) for (const target of targets) incoming.set(target, incoming.get(target) + 1);
  const queue = [...incoming].filter(([, count]) => count === 0).map(([id]) => id);
  let ordered = 0;
  while (queue.length > 0) {
    const id = queue.shift();
    ordered += 1;
    for (const target of edges.get(id)) {
      incoming.set(target, incoming.get(target) - 1);
      if (incoming.get(target) === 0) queue.push(target);
    }
  }
  if (ordered < graph.nodes.length) fail('Feedback cycles require an explicit delayed-feedback implementation; cycles are rejected');
  return modules;
}

function browseCheck(kind, current) {
  if (current === '') fail('No file or folder was selected.');
  let chosen = path.resolve(current);
  const isFile = (candidate) => fs.existsSync(candidate) && fs.statSync(candidate).isFile();
  const isFolder = (candidate) => fs.existsSync(candidate) && fs.statSync(candidate).isDirectory();
  if (kind === 'folder' || kind === 'bundle') {
    if (!isFolder(chosen)) fail('Choose an existing folder.');
    if (kind === 'bundle') {
      if (path.extname(chosen).toLowerCase() !== '.vst3') fail('Choose a complete .vst3 bundle folder, not an ordinary folder.');
      if (!isFile(path.join(chosen, 'Contents', 'x86_64-win', path.basename(chosen)))) fail('This VST3 bundle has no Windows x64 module in Contents/x86_64-win.');
    }
    return chosen;
  }
  if (kind === 'plugin') {
    if (!['.vst3', '.clap'].includes(path.extname(chosen).toLowerCase())) fail('Choose a .vst3 or .clap Windows x64 plugin file.');
    if (!isFile(chosen)) fail('The selected file does not exist.');
    return chosen;
  }
  const expected = kind === 'openProject' || kind === 'saveProject' ? '.vkrack' : '.wav';
  const saving = kind === 'recording' || kind === 'saveProject';
  if (saving && path.extname(chosen) === '') chosen += expected;
  if (path.extname(chosen).toLowerCase() !== expected) fail(expected === '.wav' ? 'Choose a file with the .wav extension.' : 'Choose a project with the .vkrack extension.');
  if (!saving) {
    if (!isFile(chosen)) fail('The selected file does not exist.');
    return chosen;
  }
  if (!isFolder(path.dirname(chosen))) fail('Choose an existing destination folder.');
  if (isFolder(chosen)) fail('The destination is a folder; choose a filename.');
  if (kind === 'recording' && fs.existsSync(chosen)) {
    const extension = path.extname(chosen);
    const stem = chosen.slice(0, -extension.length);
    for (let take = 1; take < 100000; take += 1) {
      if (!fs.existsSync(`${stem}-take${take}${extension}`)) return `${stem}-take${take}${extension}`;
    }
    fail('No free recording take name was found. Choose another destination.');
  }
  return chosen;
}

const pickers = { pickAudio: 'audio', pickRecording: 'recording', pickPlugin: 'plugin', pickPluginFolder: 'bundle', pickFolder: 'folder' };

export class StandInRack {
  constructor({ pluginMode = false } = {}) {
    this.pluginMode = pluginMode;
    this.sampleRate = 48000;
    this.running = false;
    this.playing = false;
    this.recording = false;
    this.startedAt = 0;
    this.blockFrames = 0;
    this.lastError = '';
    this.projectPath = '';
    this.layout = defaultLayout();
    this.compile(defaultGraph());
  }

  compile(definition) {
    const graph = clone(definition);
    const modules = compileGraph(graph);
    for (const module of this.modules ? this.modules.values() : []) if (module.stop) module.stop();
    this.graph = graph;
    this.modules = modules;
    this.ports = {};
    for (const node of graph.nodes) {
      const module = modules.get(node.id);
      const entry = { inputs: module.inputs, outputs: module.outputs };
      if (node.type === 'player') entry.waveform = module.waveform;
      if (module.hosted) {
        entry.eventInput = module.hosted.eventInput;
        entry.eventOutput = module.hosted.eventOutput;
        entry.parameters = module.hosted.parameters.map((parameter) => ({ ...parameter }));
      }
      this.ports[node.id] = entry;
    }
  }

  // A level that moves while audio runs, so meters have something to show.
  signalLevel() {
    if (!this.running) return 0;
    return 0.35 + 0.3 * Math.abs(Math.sin((Date.now() - this.startedAt) / 700));
  }

  callbacks() {
    return this.running ? Math.floor(((Date.now() - this.startedAt) / 1000) * (this.sampleRate / 4096)) : 0;
  }

  moduleStatus(id) {
    return this.modules.get(id).status(this);
  }

  status() {
    const media = {};
    const parameters = {};
    const peaks = [];
    for (const node of this.graph.nodes) {
      const module = this.modules.get(node.id);
      let peak = this.signalLevel();
      if (node.type === 'player') {
        media[node.id] = module.status(this).status;
        peak = media[node.id].playing ? this.signalLevel() : 0;
      }
      if (node.type === 'recorder') media[node.id] = module.status(this).status;
      if (module.hosted) parameters[node.id] = module.hosted.parameters.map(({ id, value }) => ({ id, value }));
      peaks.push(peak);
    }
    const recorders = this.graph.nodes.filter((node) => node.type === 'recorder').map((node) => media[node.id]);
    const anyRecording = recorders.some((entry) => entry.recording === true);
    if (recorders.length > 0 && !anyRecording && recorders.every((entry) => entry.finalized && entry.hasDestination)) this.recording = false;
    const status = {
      running: this.running,
      playing: this.playing,
      recording: anyRecording,
      recordingRequested: this.recording,
      pluginMode: this.pluginMode,
      latencyFrames: 0,
      sampleRate: this.sampleRate,
      callbacks: this.callbacks(),
      peaks,
      media,
      parameters,
      error: this.lastError,
    };
    if (!this.pluginMode) {
      status.device = {
        running: this.running,
        blockFrames: this.running ? this.blockFrames : 0,
        periodFrames: this.running ? 480 : 0,
        latencyMs: this.running ? 10 + (this.blockFrames * 1000) / this.sampleRate : null,
        xruns: 0,
        maxCallbackMs: this.running ? 0.42 : 0,
        queueMs: this.running ? 10 : 0,
        error: '',
      };
    }
    return status;
  }

  state() {
    return { project: { product, version, graph: clone(this.graph), layout: clone(this.layout) }, ports: clone(this.ports), status: this.status() };
  }

  projectDocument() {
    for (const node of this.graph.nodes) {
      const { status, ...merged } = this.moduleStatus(node.id);
      node.configuration = { ...node.configuration, ...merged };
      if (node.type === 'recorder') node.configuration.armed = false;
    }
    return { product, version, graph: clone(this.graph), layout: clone(this.layout) };
  }

  refuseWhileRecording(message) {
    for (const node of this.graph.nodes.filter((entry) => entry.type === 'recorder')) {
      const { status } = this.moduleStatus(node.id);
      if (status.recording || status.finalizing) fail(message);
    }
  }

  restoreProject(document) {
    this.refuseWhileRecording('Stop recording before opening another rack project.');
    if (!isObject(document) || document.product !== product) fail('This is not a VELKAPHON RACK project.');
    const graph = readGraph(member(document, 'graph'));
    for (const node of graph.nodes.filter((entry) => entry.type === 'recorder')) {
      node.configuration.armed = false;
      delete node.configuration.status;
    }
    this.compile(graph);
    this.layout = isObject(document.layout) ? clone(document.layout) : {};
  }

  stop() {
    this.running = false;
    this.playing = false;
    this.recording = false;
    for (const module of this.modules.values()) if (module.stop) module.stop();
    for (const node of this.graph.nodes.filter((entry) => entry.type === 'recorder')) node.configuration.armed = false;
  }

  start(params) {
    if (this.pluginMode) fail('Your DAW controls audio. Rack uses the DAW ports.');
    if (this.running) return;
    if (!isObject(params)) fail('[json.exception.type_error.304] cannot use at() with ' + typeof params);
    const inputId = params.inputId ?? '';
    const outputId = text(params, 'outputId');
    const blockFrames = params.blockFrames ?? 128;
    const sampleRate = params.sampleRate ?? 0;
    if (outputId === '') fail('Choose an output on your audio interface.');
    if (blockFrames < 16 || blockFrames > 4096 || (sampleRate !== 0 && (sampleRate < 8000 || sampleRate > 192000))) {
      fail('Choose a valid sample rate (Automatic or 8-192 kHz) and a block from 16 to 4096 frames.');
    }
    const output = simulatedDevices.flatMap((device) => device.outputs).find((port) => port.id === outputId);
    if (!output) fail('The selected output is unavailable. Find devices and choose an available output.');
    if (inputId !== '' && !simulatedDevices.some((device) => device.inputs.some((port) => port.id === inputId))) {
      fail('The selected input is unavailable. Find devices and choose an available input.');
    }
    if (sampleRate !== 0 && sampleRate !== output.rate) {
      fail(`Audio output "${output.name}" uses ${output.rate} Hz in Windows shared mode, but RACK requests ${sampleRate} Hz. Choose Automatic sample rate or match RACK to ${output.rate} Hz in Advanced setup.`);
    }
    this.sampleRate = output.rate;
    this.blockFrames = blockFrames;
    this.playing = false;
    this.recording = false;
    this.running = true;
    this.startedAt = Date.now();
    this.lastError = '';
  }

  tellAll(type, value) {
    for (const node of this.graph.nodes.filter((entry) => entry.type === type)) this.modules.get(node.id).setControl(0, value, this);
  }

  parameter(params) {
    const node = text(params, 'node');
    const index = member(params, 'parameter');
    let value = member(params, 'value');
    if (typeof value !== 'number') fail(`[json.exception.type_error.302] type must be number, but is ${typeof value}`);
    if (!Number.isFinite(value) || !this.modules.has(node)) fail('Invalid module parameter.');
    const definition = this.graph.nodes.find((entry) => entry.id === node);
    const configuration = definition.configuration;
    if (definition.type === 'fader-bank') {
      if (index >= 2 * (configuration.strips ?? 1)) fail('Strip parameter out of range.');
      value = index % 2 === 1 ? (value > 0.5 ? 1 : 0) : Math.min(12, Math.max(-80, value));
      const key = index % 2 === 1 ? 'mutes' : 'gainsDb';
      const strip = Math.floor(index / 2);
      if (!Array.isArray(configuration[key])) configuration[key] = [];
      while (configuration[key].length <= strip) configuration[key].push(key === 'mutes' ? false : 0);
      configuration[key][strip] = key === 'mutes' ? value > 0.5 : value;
    } else if (definition.type === 'vst3' || definition.type === 'clap') {
      if (!Array.isArray(configuration.parameters)) configuration.parameters = [];
      const entry = configuration.parameters.find((item) => (item.id ?? 4294967295) === index);
      if (entry) entry.value = value;
      else configuration.parameters.push({ id: index, value });
    }
    const module = this.modules.get(node);
    if (module.setControl) module.setControl(index, value, this);
    return {};
  }

  command(method, params) {
    switch (method) {
      case 'state':
        return this.state();
      case 'status':
        return this.status();
      case 'devices':
        return this.pluginMode ? [] : clone(simulatedDevices);
      case 'inspect':
        return pluginEntries(text(params, 'path'));
      case 'start':
        this.start(params);
        return this.status();
      case 'stop':
        this.stop();
        return this.status();
      case 'play':
        this.playing = params.playing ?? true;
        this.tellAll('player', this.playing ? 1 : 0);
        return this.status();
      case 'record': {
        const recording = params.recording ?? true;
        if (recording) {
          const graph = clone(this.graph);
          const recorders = graph.nodes.filter((node) => node.type === 'recorder');
          if (recorders.length === 0) fail('Add a Recorder and choose an output file first.');
          for (const node of recorders) Object.assign(node.configuration, { armed: true, followTransport: true });
          this.compile(graph);
        }
        this.recording = recording;
        this.tellAll('recorder', recording ? 1 : 0);
        return this.status();
      }
      case 'parameter':
        return this.parameter(params);
      case 'layout':
        if (!isObject(params) || Buffer.byteLength(JSON.stringify(params)) > 65536) fail('Invalid rack layout.');
        this.layout = clone(params);
        return {};
      case 'graph':
        this.refuseWhileRecording('Stop recording before changing cables or modules.');
        this.compile(readGraph(params));
        this.lastError = '';
        return this.state();
      case 'restore':
        this.restoreProject(params);
        return this.state();
      default:
        fail(`Unknown rack command: ${method}`);
    }
  }

  // The view's own methods, then the dispatcher: what the page bridge routes.
  route(request) {
    const method = text(request, 'method');
    const params = 'params' in request ? request.params : {};
    const current = (fallback = '') => (isObject(params) && typeof params.current === 'string' ? params.current : fallback);
    if (method in pickers) return { path: browseCheck(pickers[method], current()), cancelled: false };
    if (method === 'saveProject') {
      const chosen = browseCheck('saveProject', current(this.projectPath));
      fs.writeFileSync(chosen, JSON.stringify(this.projectDocument(), null, 4));
      this.projectPath = chosen;
      return { path: chosen, cancelled: false };
    }
    if (method === 'loadProject') {
      const chosen = browseCheck('openProject', current(this.projectPath));
      this.restoreProject(JSON.parse(fs.readFileSync(chosen, 'utf8')));
      this.projectPath = chosen;
      return this.command('state', {});
    }
    if (method === 'editor') {
      const node = text(params, 'node');
      const definition = this.graph.nodes.find((entry) => entry.id === node);
      if (!definition) fail('Select an existing plugin.');
      if (definition.type !== 'vst3' && definition.type !== 'clap') fail('Built-in controls are on the module panel.');
      return {};
    }
    return this.command(method, params);
  }

  // One envelope in, one reply out, as the page bridge answers it.
  answer(messageText) {
    let request;
    try {
      request = JSON.parse(messageText);
    } catch (error) {
      return { ok: false, error: `[json.exception.parse_error.101] parse error: ${error.message}` };
    }
    const reply = {};
    try {
      if (isObject(request)) {
        const id = request.id ?? 0;
        if (typeof id !== 'number' && typeof id !== 'boolean') fail('[json.exception.type_error.302] type must be number, but is ' + typeof id);
        reply.id = Math.trunc(Number(id));
      }
      reply.result = this.route(request);
      reply.ok = true;
    } catch (error) {
      delete reply.result;
      reply.ok = false;
      reply.error = error.message;
    }
    return reply;
  }
}
