// The module types a user can add, with the configuration fields each one reads. A field's value
// is what the rack runs when the configuration leaves its key out; runs(configuration) stands in
// for it where that follows other keys.
// Field kinds: count (integer), number, boolean, list (comma-separated integers), text, path, choice.

const channels = { key: 'channels', label: 'Channels', kind: 'count', min: 1, max: 64, value: 2 };
const offset = { key: 'offset', label: 'First host channel', kind: 'count', min: 0, max: 4096, value: 0 };

// The rack runs one strip where "strips" is missing.
export function faderStripCount(configuration) {
  return Number.isInteger(configuration.strips) ? configuration.strips : 1;
}

// A fader bank without channel entries runs every strip stereo.
function stripChannels(configuration) {
  const channels = configuration.channels;
  return Array.isArray(channels) && channels.length > 0 ? channels : new Array(faderStripCount(configuration)).fill(2);
}

export const moduleTypes = [
  { type: 'input', label: 'Audio input', fields: [channels, offset] },
  { type: 'output', label: 'Audio output', fields: [channels, offset] },
  {
    type: 'fader-bank',
    label: 'Fader bank',
    fields: [
      { key: 'strips', label: 'Strips', kind: 'count', min: 1, max: 64, value: 1 },
      { key: 'channels', label: 'Channels per strip (1 or 2 each)', kind: 'list', runs: stripChannels },
    ],
  },
  {
    type: 'matrix',
    label: 'Matrix',
    fields: [
      { key: 'inputChannels', label: 'Input channels', kind: 'count', min: 1, max: 64, value: 2 },
      { key: 'outputChannels', label: 'Output channels', kind: 'count', min: 1, max: 64, value: 2 },
      { key: 'mapping', label: 'Source channel per output (-1 silent, empty for straight)', kind: 'list', value: [], optional: true },
    ],
  },
  {
    type: 'summing',
    label: 'Summing',
    fields: [channels, { key: 'inputs', label: 'Inputs', kind: 'count', min: 1, max: 64, value: 2 }],
  },
  {
    type: 'distributor',
    label: 'Distributor',
    fields: [channels, { key: 'outputs', label: 'Outputs', kind: 'count', min: 1, max: 64, value: 2 }],
  },
  { type: 'breakout', label: 'Breakout', fields: [channels] },
  {
    type: 'player',
    label: 'WAV player',
    fields: [
      { key: 'path', label: 'WAV file', kind: 'path', picker: 'pickAudio', required: true },
      channels,
      { key: 'followTransport', label: 'Follow transport', kind: 'boolean', value: true },
    ],
  },
  {
    type: 'recorder',
    label: 'WAV recorder',
    fields: [
      { key: 'path', label: 'Recording destination', kind: 'path', picker: 'pickRecording', optional: true },
      channels,
      { key: 'armed', label: 'Armed', kind: 'boolean', value: false },
      { key: 'followTransport', label: 'Follow transport', kind: 'boolean', value: false },
      { key: 'silenceSeconds', label: 'Tail silence (s)', kind: 'number', min: 0.01, max: 10, value: 0.5 },
      { key: 'maxTailSeconds', label: 'Longest tail (s)', kind: 'number', min: 0.01, max: 3600, value: 30 },
      { key: 'silenceDb', label: 'Silence threshold (dB)', kind: 'number', min: -120, max: -6, value: -80 },
    ],
  },
  {
    type: 'vst3',
    label: 'VST3 plug-in',
    plugin: true,
    fields: [
      { key: 'path', label: 'VST3 module or bundle', kind: 'path', picker: 'pickPlugin', folderPicker: 'pickPluginFolder', required: true },
      { key: 'classId', label: 'Class', kind: 'text', optional: true },
      { key: 'precision', label: 'Precision', kind: 'choice', choices: ['auto', 'float64'], value: 'auto' },
    ],
  },
  {
    type: 'clap',
    label: 'CLAP plug-in',
    plugin: true,
    fields: [
      { key: 'path', label: 'CLAP file', kind: 'path', picker: 'pickPlugin', required: true },
      { key: 'pluginId', label: 'Plug-in', kind: 'text', optional: true },
    ],
  },
];

const aliases = { faders: 'fader-bank', 'digital-summing': 'summing' };

// The value the rack runs for the field of this configuration.
export function runningValue(field, configuration) {
  if (field.runs) return field.runs(configuration);
  return configuration[field.key] !== undefined ? configuration[field.key] : field.value;
}

export function moduleType(type) {
  const name = aliases[type] || type;
  return moduleTypes.find((entry) => entry.type === name) || null;
}

export function typeLabel(type) {
  const entry = moduleType(type);
  return entry ? entry.label : type;
}

// A fader's range in dB: the rack clamps a gain to it.
export const minimumGainDb = -80;
export const maximumGainDb = 12;

export function isFaderBank(type) {
  return type === 'fader-bank' || type === 'faders';
}

export function isHosted(type) {
  return type === 'vst3' || type === 'clap';
}
