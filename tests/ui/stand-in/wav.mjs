// Reads the format and the 512-bucket overview of a 16-bit, 24-bit or float WAV file.

import fs from 'node:fs';

function sampleReader(view, format, bits) {
  if (format === 3 && bits === 32) return (offset) => view.getFloat32(offset, true);
  if (format === 1 && bits === 16) return (offset) => view.getInt16(offset, true) / 32768;
  if (format === 1 && bits === 24) return (offset) => ((view.getUint8(offset + 2) << 24) | (view.getUint8(offset + 1) << 16) | (view.getUint8(offset) << 8)) / 2147483648;
  throw new Error('Unsupported WAV encoding/layout');
}

export function readWav(path) {
  let bytes;
  try {
    bytes = fs.readFileSync(path);
  } catch {
    throw new Error('Cannot open WAV file');
  }
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const tag = (offset) => bytes.toString('latin1', offset, offset + 4);
  if (bytes.length < 12 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE') throw new Error('Only RIFF WAV supported');
  let format = null;
  let data = null;
  for (let offset = 12; offset + 8 <= bytes.length; ) {
    const size = view.getUint32(offset + 4, true);
    if (offset + 8 + size > bytes.length) throw new Error('Truncated WAV chunk');
    if (tag(offset) === 'fmt ') {
      let code = view.getUint16(offset + 8, true);
      if (code === 0xfffe && size >= 40) code = view.getUint16(offset + 32, true);
      format = { code, channels: view.getUint16(offset + 10, true), sampleRate: view.getUint32(offset + 12, true), bits: view.getUint16(offset + 22, true) };
    } else if (tag(offset) === 'data') {
      data = { offset: offset + 8, size };
    }
    offset += 8 + size + (size % 2);
  }
  if (!format || !data || format.channels === 0 || format.sampleRate === 0) throw new Error('Invalid WAV format');
  const read = sampleReader(view, format.code, format.bits);
  const frameBytes = (format.bits / 8) * format.channels;
  const frames = Math.floor(data.size / frameBytes);
  const waveform = [];
  for (let bucket = 0; bucket < 512; bucket += 1) {
    const start = Math.floor((frames * bucket) / 512);
    const end = Math.min(frames, Math.max(start + 1, Math.floor((frames * (bucket + 1)) / 512)));
    let peak = 0;
    for (let frame = start; frame < end; frame += 1) {
      for (let channel = 0; channel < format.channels; channel += 1) {
        peak = Math.max(peak, Math.abs(read(data.offset + frame * frameBytes + (channel * format.bits) / 8)));
      }
    }
    waveform.push(Math.min(1, peak));
  }
  return { channels: format.channels, sampleRate: format.sampleRate, frames, waveform };
}
