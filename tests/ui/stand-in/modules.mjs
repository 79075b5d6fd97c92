// Ports and status of the stand-in rack's modules, made by the same rules and with the same
// refusal texts as the rack's module factory, as far as the page's flows reach them.

import fs from 'node:fs';
import { readWav } from './wav.mjs';

const port = (id, channels, name = id) => ({ id, name, channels });

function fail(message) {
  throw new Error(message);
}

function readCount(configuration, key, fallback, maximum) {
  if (!(key in configuration)) return fallback;
  const value = configuration[key];
  if (typeof value !== 'number') fail(`[json.exception.type_error.302] type must be number, but is ${typeof value}`);
  const count = Math.trunc(value);
  if (count < 1 || count > maximum) fail(`${key} is outside supported capacity`);
  return count;
}

function readOffset(configuration) {
  const value = configuration.offset ?? 0;
  if (typeof value !== 'number' || value < 0) fail('[json.exception.type_error.302] type must be number');
  if (value > 4096) fail('Host channel offset exceeds capacity');
  return Math.trunc(value);
}

function indexed(prefix, count, channels) {
  return Array.from({ length: count }, (_, index) => port(`${prefix}${index}`, channels));
}

function mediaChannels(configuration) {
  const value = configuration.channels ?? 2;
  if (!Number.isInteger(value) || value < 1 || value > 64) fail('Media channels must be 1..64');
  return value;
}

function requirePath(configuration) {
  if (!('path' in configuration)) fail("[json.exception.out_of_range.403] key 'path' not found");
  if (typeof configuration.path !== 'string') fail('[json.exception.type_error.302] type must be string');
  return configuration.path;
}

function faderBank(configuration) {
  const strips = readCount(configuration, 'strips', 1, 64);
  const channels = configuration.channels ?? [];
  const gains = configuration.gainsDb ?? [];
  const mutes = configuration.mutes ?? [];
  if (!Array.isArray(channels) || (channels.length > 0 && channels.length !== strips) || !Array.isArray(gains) || !Array.isArray(mutes) || gains.length > strips || mutes.length > strips) {
    fail('Fader bank configuration arrays are invalid');
  }
  const inputs = [];
  const outputs = [];
  const gainsDb = [];
  const muted = [];
  for (let strip = 0; strip < strips; strip += 1) {
    const count = channels.length > 0 ? Math.trunc(channels[strip]) : 2;
    if (count !== 1 && count !== 2) fail('Each fader strip must be mono or stereo');
    inputs.push(port(`in${strip}`, count));
    outputs.push(port(`out${strip}`, count));
    const gain = strip < gains.length ? gains[strip] : 0;
    if (!Number.isFinite(gain) || gain < -80 || gain > 12) fail('Fader gain outside -80..12 dB');
    gainsDb.push(gain);
    muted.push(strip < mutes.length ? mutes[strip] === true : false);
  }
  return {
    inputs,
    outputs,
    setControl(index, value) {
      const strip = Math.floor(index / 2);
      if (strip >= strips || !Number.isFinite(value)) return;
      if (index % 2 === 1) muted[strip] = value >= 0.5;
      else gainsDb[strip] = Math.min(12, Math.max(-80, value));
    },
    status: (rack) => ({ ...configuration, gainsDb: [...gainsDb], mutes: [...muted], peaks: gainsDb.map((_, s) => (muted[s] ? 0 : rack.signalLevel())) }),
  };
}

function builtin(type, configuration) {
  if (type === 'fader-bank' || type === 'faders') return faderBank(configuration);
  const channels = readCount(configuration, 'channels', 2, 64);
  let inputs = [];
  let outputs = [];
  switch (type) {
    case 'input':
      readOffset(configuration);
      outputs = [port('out', channels)];
      break;
    case 'output':
      readOffset(configuration);
      inputs = [port('in', channels)];
      break;
    case 'summing':
    case 'digital-summing':
      inputs = indexed('in', readCount(configuration, 'inputs', 2, 64), channels);
      outputs = [port('out', channels)];
      break;
    case 'distributor':
      inputs = [port('in', channels)];
      outputs = indexed('out', readCount(configuration, 'outputs', 2, 64), channels);
      break;
    case 'breakout':
      inputs = [port('in', channels)];
      outputs = indexed('out', channels, 1);
      break;
    case 'matrix': {
      const inputChannels = readCount(configuration, 'inputChannels', 2, 64);
      const outputChannels = readCount(configuration, 'outputChannels', 2, 64);
      if ('mapping' in configuration) {
        const mapping = configuration.mapping;
        if (!Array.isArray(mapping) || mapping.length !== outputChannels) fail('Matrix mapping must contain one index per output channel');
        if (mapping.some((entry) => entry < -1 || entry >= inputChannels)) fail('Matrix source channel is outside input bus');
      }
      inputs = [port('in', inputChannels)];
      outputs = [port('out', outputChannels)];
      break;
    }
    default:
      return null;
  }
  return { inputs, outputs, status: () => ({ ...configuration }) };
}

function player(configuration) {
  const channels = mediaChannels(configuration);
  const path = requirePath(configuration);
  const clip = readWav(path);
  const state = { playing: false, startedAt: 0, endSample: -1 };
  return {
    inputs: [],
    outputs: [port('out', channels, 'File audio')],
    waveform: clip.waveform,
    player: state,
    setControl(index, value, rack) {
      if (index !== 0 || !rack.running) return;
      if (value > 0.5) Object.assign(state, { playing: clip.frames > 0, startedAt: Date.now(), endSample: clip.frames > 0 ? -1 : 0 });
      else state.playing = false;
    },
    stop() {
      state.playing = false;
    },
    status(rack) {
      if (state.playing && (Date.now() - state.startedAt) / 1000 >= clip.frames / clip.sampleRate) {
        state.playing = false;
        state.endSample = Math.round((clip.frames / clip.sampleRate) * rack.sampleRate);
      }
      return {
        ...configuration,
        waveform: clip.waveform,
        sourceSampleRate: clip.sampleRate,
        sourceChannels: clip.channels,
        sourceFrames: clip.frames,
        status: { playing: state.playing, frames: clip.frames, endSample: state.endSample },
      };
    },
  };
}

// An armed recorder takes its configured file, or the first free take name beside it.
function chooseTake(path) {
  if (!fs.existsSync(path)) return path;
  const slash = path.lastIndexOf('/');
  const folder = path.slice(0, slash + 1);
  const name = path.slice(slash + 1);
  const dot = name.lastIndexOf('.');
  const stem = dot > 0 ? name.slice(0, dot) : name;
  for (let take = 1; take < 100000; take += 1) {
    const candidate = `${folder}${stem}-take${take}.wav`;
    if (!fs.existsSync(candidate)) return candidate;
  }
  fail('Destination exists; choose a new file');
}

function recorder(configuration) {
  const channels = mediaChannels(configuration);
  const armed = configuration.armed === true;
  const take = { ready: false, capturing: false, finalized: true, hasDestination: false, startedAt: 0, seconds: 0 };
  if (armed) {
    configuration.path = chooseTake(requirePath(configuration));
    Object.assign(take, { ready: true, finalized: false, hasDestination: true });
  }
  const finish = () => {
    if (take.capturing) take.seconds = (Date.now() - take.startedAt) / 1000;
    Object.assign(take, { capturing: false, ready: false, finalized: true });
  };
  return {
    inputs: [port('in', channels, 'Record audio')],
    outputs: [port('out', channels, 'Monitor thru')],
    recorder: take,
    setControl(index, value, rack) {
      if (index !== 0) return;
      if (value > 0.5 && take.ready && !take.capturing && rack.running) Object.assign(take, { capturing: true, startedAt: Date.now() });
      else if (value <= 0.5) finish();
    },
    stop() {
      finish();
      configuration.armed = false;
    },
    status(rack) {
      const seconds = take.capturing ? (Date.now() - take.startedAt) / 1000 : take.seconds;
      const level = take.capturing ? rack.signalLevel() : 0;
      const peaks = Array.from({ length: channels }, () => level);
      return {
        ...configuration,
        status: {
          ready: take.ready, recording: take.capturing, tail: false, finalizing: false, finalized: take.finalized,
          hasDestination: take.hasDestination, failed: false, frames: Math.round(seconds * rack.sampleRate),
          acceptedFrames: Math.round(seconds * rack.sampleRate), seconds, sampleRate: rack.sampleRate, channels,
          droppedFrames: 0, levelL: level, rmsL: level / 2, clipL: false, levelR: channels > 1 ? level : 0,
          rmsR: channels > 1 ? level / 2 : 0, clipR: false, clip: false, inputPeaks: peaks,
          inputRms: peaks.map((value) => value / 2), inputClips: peaks.map(() => false), invalidSamples: 0,
          meterGeneration: 0, meterSnapshotCoherent: true,
        },
      };
    },
  };
}

// Plug-in files are not loaded here: any existing file or folder with the right extension
// stands for a stereo effect with two parameters.
function hosted(type, configuration) {
  const path = requirePath(configuration);
  const extension = type === 'vst3' ? '.vst3' : '.clap';
  if (!path.toLowerCase().endsWith(extension) || !fs.existsSync(path)) fail(type === 'vst3' ? 'VST3 module file does not exist.' : 'Cannot load CLAP module; Windows error 2');
  const parameters = [
    { id: 0, name: 'Drive', unit: 'dB', value: 0.5, readOnly: false },
    { id: 1, name: 'Output meter', unit: '', value: 0, readOnly: true },
  ];
  for (const saved of Array.isArray(configuration.parameters) ? configuration.parameters : []) {
    const target = parameters.find((parameter) => parameter.id === saved.id);
    if (target) target.value = saved.value;
  }
  return {
    inputs: [port('0', 2, 'Stereo In')],
    outputs: [port('0', 2, 'Stereo Out')],
    hosted: { eventInput: true, eventOutput: false, parameters },
    setControl(index, value) {
      const target = parameters.find((parameter) => parameter.id === index);
      if (target) target.value = value;
    },
    status: () => ({ ...configuration, parameters: parameters.map(({ id, value }) => ({ id, value })) }),
  };
}

export function createModule(node) {
  const configuration = node.configuration === null ? {} : node.configuration;
  if (node.type === 'player') return player(configuration);
  if (node.type === 'recorder') return recorder(configuration);
  if (node.type === 'vst3' || node.type === 'clap') return hosted(node.type, configuration);
  const module = builtin(node.type, configuration);
  if (!module) fail(`Unknown module type: ${node.type}`);
  return module;
}

export function pluginEntries(path) {
  const lower = path.toLowerCase();
  if (!lower.endsWith('.vst3') && !lower.endsWith('.clap')) fail('Choose a Windows x64 VST3 or CLAP plugin. VST2/AU/AAX are not supported in this release.');
  if (!fs.existsSync(path)) fail(lower.endsWith('.vst3') ? 'VST3 module file does not exist.' : 'Cannot load CLAP module; Windows error 2');
  if (lower.endsWith('.vst3')) return [{ name: 'Stand-in Drive', classId: '000102030405060708090A0B0C0D0E0F', format: 'VST3', path }];
  return [{ name: 'Stand-in Drive', pluginId: 'com.example.drive', format: 'CLAP', path }];
}
