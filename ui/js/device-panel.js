// Audio devices of the standalone program: choose ports, block, rate and exclusive mode, start
// and stop, and watch the device status. In the plug-in the host owns audio and this panel says so.

import { callRack } from './bridge.js';
import { element, formatNumber, labelled } from './html.js';
import { deviceFailure } from './patch-model.js';

const blockSizes = [16, 32, 64, 128, 256, 512, 1024, 2048, 4096];
const sampleRates = [0, 44100, 48000, 88200, 96000, 176400, 192000];

function portLabel(device, port) {
  return `${device.name} – ${port.name} (${port.channels} ch, ${port.rate} Hz)`;
}

export class DevicePanel {
  constructor(container, model) {
    this.model = model;
    this.container = container;
    this.inputSelect = element('select', {}, element('option', { value: '' }, 'No input (output only)'));
    this.outputSelect = element('select', {});
    this.blockSelect = element('select', {}, blockSizes.map((size) => element('option', { value: size, selected: size === 128 }, `${size} frames`)));
    this.rateSelect = element('select', {}, sampleRates.map((rate) => element('option', { value: rate }, rate === 0 ? 'Automatic' : `${rate} Hz`)));
    this.exclusive = element('input', { type: 'checkbox' });
    this.message = element('p', { className: 'form-error', role: 'alert', hidden: true });
    this.notice = element('p', { className: 'form-notice', role: 'status', hidden: true });
    this.deviceStatus = element('dl', { className: 'device-status' });
    this.hostNote = element('p', { className: 'host-note', hidden: true }, 'Your DAW controls audio. Rack uses the DAW ports.');
    // Hidden until the rack says it is the standalone program, so the plug-in never offers them.
    this.controls = element(
      'div',
      { className: 'device-controls', hidden: true },
      element('button', { type: 'button', onclick: () => this.findDevices() }, 'Find devices'),
      labelled('Input', this.inputSelect),
      labelled('Output', this.outputSelect),
      labelled('Block size', this.blockSelect),
      labelled('Sample rate', this.rateSelect),
      labelled('Exclusive mode', this.exclusive),
      element('div', { className: 'device-buttons' },
        element('button', { type: 'button', className: 'primary', onclick: () => this.start() }, 'Start audio'),
        element('button', { type: 'button', onclick: () => this.stop() }, 'Stop audio')),
      this.message,
      this.notice,
      this.deviceStatus,
    );
    container.append(this.hostNote, this.controls);
    this.devicesAsked = false;
    model.addEventListener('status', () => this.update());
    model.addEventListener('connection', () => this.update());
  }

  async findDevices() {
    this.devicesAsked = true;
    this.showError('');
    let devices;
    try {
      devices = await callRack('devices');
    } catch (error) {
      this.showError(`Could not list the audio devices. ${error.message}`);
      return;
    }
    const keepInput = this.inputSelect.value;
    const keepOutput = this.outputSelect.value;
    const inputs = [element('option', { value: '' }, 'No input (output only)')];
    const outputs = [];
    for (const device of Array.isArray(devices) ? devices : []) {
      for (const port of device.inputs || []) inputs.push(element('option', { value: port.id }, portLabel(device, port)));
      for (const port of device.outputs || []) outputs.push(element('option', { value: port.id }, portLabel(device, port)));
    }
    if (outputs.length === 0) outputs.push(element('option', { value: '' }, 'No audio output found'));
    this.inputSelect.replaceChildren(...inputs);
    this.outputSelect.replaceChildren(...outputs);
    if ([...this.inputSelect.options].some((option) => option.value === keepInput)) this.inputSelect.value = keepInput;
    if ([...this.outputSelect.options].some((option) => option.value === keepOutput)) this.outputSelect.value = keepOutput;
  }

  async start() {
    this.showError('');
    this.showNotice('');
    const output = this.outputSelect.selectedOptions[0];
    try {
      const outcome = await this.model.startAudio({
        inputId: this.inputSelect.value,
        outputId: this.outputSelect.value,
        blockFrames: Number(this.blockSelect.value),
        sampleRate: Number(this.rateSelect.value),
        exclusive: this.exclusive.checked,
      }, output ? output.textContent : '');
      if (outcome === 'restarted') this.showNotice('Audio restarted with the new settings.');
    } catch (error) {
      this.showError(`Could not start audio. ${error.message}`);
    }
  }

  async stop() {
    this.showError('');
    try {
      await this.model.stopAudio();
    } catch (error) {
      this.showError(`Could not stop audio. ${error.message}`);
    }
  }

  showNotice(text) {
    this.notice.textContent = text;
    this.notice.hidden = text === '';
  }

  showError(text) {
    this.message.textContent = text;
    this.message.hidden = text === '';
  }

  update() {
    const status = this.model.status || {};
    const standalone = status.pluginMode !== true && status.device && typeof status.device === 'object';
    this.hostNote.hidden = status.pluginMode !== true;
    this.controls.hidden = !standalone;
    if (!standalone) return;
    if (!this.devicesAsked) this.findDevices();
    const device = status.device;
    const rows = [
      ['Device', this.model.reachable ? (device.running === true ? 'Running' : 'Stopped') : 'Rack not reachable'],
      ['Block', `${Number(device.blockFrames) || 0} frames`],
      ['Period', `${Number(device.periodFrames) || 0} frames`],
      ['Device latency', Number.isFinite(device.latencyMs) ? `${formatNumber(device.latencyMs)} ms` : '–'],
      ['Xruns', `${Number(device.xruns) || 0}`],
      ['Longest callback', `${formatNumber(Number(device.maxCallbackMs) || 0, 2)} ms`],
      ['Queue', `${formatNumber(Number(device.queueMs) || 0)} ms`],
    ];
    const failure = deviceFailure(device, this.model.audioDeviceName);
    if (failure) rows.push(['Device error', failure]);
    else if (device.error) rows.push(['Device error', device.error]);
    this.deviceStatus.replaceChildren(...rows.flatMap(([term, value]) => [element('dt', {}, term), element('dd', { className: term === 'Device error' ? 'alarm' : '' }, value)]));
  }
}
