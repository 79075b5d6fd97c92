// Play, stop and record, the master meter, and the rack's own readouts: latency, sample rate,
// callbacks, errors.

import { element, formatNumber } from './html.js';
import { PeakHold, meterFraction, peakText } from './patch-geometry.js';
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
    this.masterBar = element('div', { className: 'bar' });
    this.masterHold = element('div', { className: 'hold' });
    this.masterReadout = element('span', { className: 'master-readout' });
    this.masterMeter = element('div', { className: 'master-meter', role: 'meter', 'aria-label': 'Master level', 'aria-valuemin': -60, 'aria-valuemax': 0 },
      element('span', {}, 'Master'), element('div', { className: 'meter-track' }, this.masterBar, this.masterHold), this.masterReadout);
    this.masterPeak = new PeakHold();
    container.append(
      element('div', { className: 'transport-buttons' }, this.playButton, this.stopButton, this.recordButton),
      this.masterMeter,
      element('div', { className: 'readouts' }, ...Object.values(this.readouts), this.restartButton),
      this.connection,
      this.error,
    );
    model.addEventListener('status', () => this.update());
    model.addEventListener('connection', () => this.update());
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

  // While the rack does not answer, its last status says nothing of what it does now.
  update() {
    const reachable = this.model.reachable;
    this.connection.hidden = reachable;
    const status = reachable ? this.model.status || {} : {};
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
    this.readouts.audio.textContent = reachable ? failure || (running ? 'Audio running' : 'Audio stopped') : 'Rack not reachable';
    this.readouts.audio.classList.toggle('on', running);
    this.readouts.audio.classList.toggle('failed', failure !== null);
    this.restartButton.hidden = failure === null;
    this.updateMaster(reachable);
    for (const key of ['latency', 'rate', 'callbacks']) this.readouts[key].hidden = !reachable;
    this.readouts.latency.textContent = `Patch latency ${latency} frames${rate > 0 ? ` (${formatNumber((latency * 1000) / rate)} ms)` : ''}`;
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

  // The loudest of the output modules, with its hold mark; nothing while the rack does not answer.
  updateMaster(reachable) {
    if (!reachable) this.masterPeak = new PeakHold();
    const outputs = reachable ? this.model.graph.nodes.filter((node) => node.type === 'output') : [];
    const peak = Math.max(0, ...outputs.map((node) => this.model.peak(node.id)));
    const held = this.masterPeak.update(peak);
    this.masterBar.style.width = `${(meterFraction(peak) * 100).toFixed(1)}%`;
    this.masterBar.classList.toggle('clipping', peak >= 1);
    this.masterHold.style.left = `calc(${(meterFraction(held) * 100).toFixed(1)}% - 3px)`;
    this.masterHold.hidden = !(held > 0);
    this.masterReadout.textContent = peakText(held);
    this.masterMeter.setAttribute('aria-valuenow', peak > 0 ? Math.max(-60, 20 * Math.log10(peak)).toFixed(1) : '-60');
  }
}
