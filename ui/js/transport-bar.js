// Play, stop and record, and the rack's own readouts: latency, sample rate, callbacks, errors.

import { element, formatNumber } from './html.js';
import { deviceFailure } from './patch-model.js';

export class TransportBar {
  constructor(container, model) {
    this.model = model;
    this.playButton = element('button', { type: 'button', className: 'transport play', onclick: () => this.togglePlay() }, 'Play');
    this.stopButton = element('button', { type: 'button', className: 'transport stop', onclick: () => this.stop() }, 'Stop');
    this.recordButton = element('button', { type: 'button', className: 'transport record', onclick: () => this.toggleRecord() }, 'Record');
    this.readouts = {
      audio: element('span', { className: 'readout', 'data-readout': 'audio' }),
      latency: element('span', { className: 'readout', 'data-readout': 'latency' }),
      rate: element('span', { className: 'readout', 'data-readout': 'rate' }),
      callbacks: element('span', { className: 'readout', 'data-readout': 'callbacks' }),
    };
    this.restartButton = element('button', { type: 'button', className: 'restart', hidden: true, onclick: () => this.run(() => this.model.restartAudio()) }, 'Restart audio');
    this.connection = element('span', { className: 'connection', role: 'status', hidden: true }, 'Rack not answering – retrying');
    this.error = element('p', { className: 'rack-error', role: 'alert', hidden: true });
    container.append(
      element('div', { className: 'transport-buttons' }, this.playButton, this.stopButton, this.recordButton),
      element('div', { className: 'readouts' }, ...Object.values(this.readouts), this.restartButton),
      this.connection,
      this.error,
    );
    model.addEventListener('status', () => this.update());
    model.addEventListener('connection', () => {
      this.connection.hidden = model.reachable;
    });
    this.actionError = '';
  }

  async run(action) {
    this.actionError = '';
    try {
      await action();
    } catch (error) {
      this.actionError = error.message;
    }
    this.update();
  }

  togglePlay() {
    const playing = this.model.status ? this.model.status.playing === true : false;
    return this.run(() => this.model.play(!playing));
  }

  stop() {
    return this.run(async () => {
      await this.model.play(false);
      if (this.model.status && this.model.status.recordingRequested === true) await this.model.record(false);
    });
  }

  toggleRecord() {
    const requested = this.model.status ? this.model.status.recordingRequested === true : false;
    return this.run(() => this.model.record(!requested));
  }

  update() {
    const status = this.model.status || {};
    const rate = Number(status.sampleRate) || 0;
    const latency = Number(status.latencyFrames) || 0;
    this.playButton.classList.toggle('active', status.playing === true);
    this.playButton.setAttribute('aria-pressed', status.playing === true ? 'true' : 'false');
    this.recordButton.classList.toggle('active', status.recordingRequested === true);
    this.recordButton.classList.toggle('capturing', status.recording === true);
    this.recordButton.setAttribute('aria-pressed', status.recordingRequested === true ? 'true' : 'false');
    // The standalone program shows its device's own state; in a DAW the rack runs with the host.
    const device = status.device;
    const running = device && typeof device === 'object' ? device.running === true : status.running === true;
    const failure = deviceFailure(device, this.model.audioDeviceName);
    this.readouts.audio.textContent = failure || (running ? 'Audio running' : 'Audio stopped');
    this.readouts.audio.classList.toggle('on', running);
    this.readouts.audio.classList.toggle('failed', failure !== null);
    this.restartButton.hidden = failure === null;
    this.readouts.latency.textContent = `Latency ${latency} frames${rate > 0 ? ` (${formatNumber((latency * 1000) / rate)} ms)` : ''}`;
    this.readouts.rate.textContent = `${rate} Hz`;
    this.readouts.callbacks.textContent = `${Number(status.callbacks) || 0} callbacks`;
    // A refused button press does not hide what the rack itself reports, nor the other way round.
    const rackError = typeof status.error === 'string' ? status.error : '';
    const lines = [...new Set([this.actionError, rackError])].filter((line) => line !== '');
    // Rewritten only when it changes, so an alert is not announced again at every poll.
    const shown = [...this.error.children].map((line) => line.textContent);
    if (shown.join('\n') !== lines.join('\n')) this.error.replaceChildren(...lines.map((line) => element('span', {}, line)));
    this.error.hidden = lines.length === 0;
  }
}
