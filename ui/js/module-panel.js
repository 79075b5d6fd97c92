// The panel of the selected module or cable: live controls (fader strips, player, recorder,
// plug-in parameters), its connections, and its configuration. Status updates refresh the live
// readouts in place; the panel is rebuilt only when the selection or the patch changes.

import { callRack } from './bridge.js';
import { configurationForm } from './config-form.js';
import { connectRow } from './connect-form.js';
import { element, formatNumber, labelled } from './html.js';
import { faderStripCount, isFaderBank, isHosted, maximumGainDb, minimumGainDb, moduleType, typeLabel } from './module-types.js';
import { PeakHold, dbFraction, meterFraction, meterMarks, peakText } from './patch-geometry.js';

export class ModulePanel {
  constructor(container, model, view) {
    this.container = container;
    this.model = model;
    this.view = view;
    this.updaters = [];
    this.refusal = null;
    this.playStarted = new Map();
    // Recorders whose written take the page has read the patch for.
    this.writtenTakes = new Set();
    view.addEventListener('select', () => this.render());
    model.addEventListener('patch', () => this.render());
    model.addEventListener('status', () => this.update());
  }

  render() {
    const focusedKey = document.activeElement && this.container.contains(document.activeElement) ? document.activeElement.dataset.key : null;
    this.updaters = [];
    const selection = this.view.selection;
    let content;
    if (!selection) {
      content = [element('p', { className: 'empty' }, 'Select a module or a cable in the patch.')];
    } else if (selection.kind === 'cable') {
      content = this.cableContent(selection);
    } else {
      const node = this.model.node(selection.id);
      content = node ? this.moduleContent(node) : [];
    }
    this.container.replaceChildren(...content);
    if (focusedKey) {
      const again = this.container.querySelector(`[data-key="${CSS.escape(focusedKey)}"]`);
      if (again) again.focus();
    }
    this.showRefusal();
    this.update();
  }

  // Moves the keyboard to the first control of the selected module, opening the panel if needed
  // and showing it from its heading. Fields come before buttons, so a second Enter never lands on
  // one that removes something.
  focusControls() {
    const section = this.container.closest('details');
    if (section) section.open = true;
    this.container.scrollIntoView({ block: 'start' });
    const first = this.container.querySelector('input:enabled, select:enabled') || this.container.querySelector('button:enabled:not(.danger)');
    if (first) first.focus();
  }

  update() {
    for (const updater of this.updaters) updater();
  }

  // Runs an edit and shows a refusal beside the control that asked for it, the lead's plain words
  // before the rack's own text. A refused edit re-reads "state", which draws the panel anew, so
  // the refusal is kept by the name of its message line and shown again in every drawing for the
  // same selection.
  async attempt(action, messageElement, lead) {
    this.refusal = null;
    this.showRefusal();
    try {
      await action();
    } catch (error) {
      this.refuse(messageElement, `${lead} ${error.message}`);
    }
  }

  refuse(messageElement, text) {
    this.refusal = { selection: this.view.selection, line: messageElement.dataset.message, text };
    this.showRefusal();
  }

  showRefusal() {
    const refusal = this.refusal && this.refusal.selection === this.view.selection ? this.refusal : null;
    for (const line of this.container.querySelectorAll('[data-message]')) {
      const shown = refusal !== null && line.dataset.message === refusal.line;
      if (shown) line.textContent = refusal.text;
      line.hidden = !shown;
    }
  }

  cableContent(selection) {
    const { cable, type } = selection;
    const message = errorLine('cable');
    const text = type === 'audio' ? this.cableText(cable) : `Events ${cable.from} → ${cable.to}`;
    const disconnect = () => (type === 'audio' ? this.model.disconnect(cable) : this.model.disconnectEvents(cable));
    return [
      element('h3', {}, type === 'audio' ? 'Audio cable' : 'Event cable'),
      element('p', { className: 'cable-name' }, text),
      element('button', { type: 'button', className: 'danger', 'data-key': 'disconnect', onclick: () => this.attempt(disconnect, message, 'Could not disconnect the cable.') }, 'Disconnect'),
      message,
    ];
  }

  // Jacks by the names their boxes show.
  cableText(cable) {
    return `${cable.from} · ${this.model.portName(cable.from, 'outputs', cable.output)} → ${cable.to} · ${this.model.portName(cable.to, 'inputs', cable.input)}`;
  }

  moduleContent(node) {
    const message = errorLine('module');
    // The keyboard goes to the module's box first, so the patch hands it on to a neighbour.
    const removeModule = () => {
      this.view.focusModule(node.id);
      return this.model.removeModules([node.id]);
    };
    const remove = element('button', { type: 'button', className: 'danger', 'data-key': 'remove', onclick: () => this.attempt(removeModule, message, 'Could not remove the module.') }, 'Remove module');
    const parts = [element('h3', {}, node.id), element('p', { className: 'module-type' }, typeLabel(node.type)), this.levelMeter(node.id)];
    if (isFaderBank(node.type)) parts.push(this.faderStrips(node));
    if (node.type === 'player') parts.push(this.playerView(node));
    if (node.type === 'recorder') parts.push(this.recorderView(node));
    if (isHosted(node.type)) parts.push(this.pluginView(node));
    parts.push(this.configurationSection(node), this.connections(node), remove, message);
    return parts;
  }

  levelMeter(id) {
    const bar = element('div', { className: 'bar' });
    const readout = element('span', { className: 'readout' });
    this.updaters.push(() => {
      const peak = this.model.peak(id);
      bar.style.width = `${(meterFraction(peak) * 100).toFixed(1)}%`;
      bar.classList.toggle('clipping', peak >= 1);
      readout.textContent = peak > 0 ? `${formatNumber(20 * Math.log10(peak))} dBFS` : '−∞ dBFS';
    });
    return element('div', { className: 'level' }, element('span', { className: 'level-label' }, 'Level'), element('div', { className: 'meter-track' }, bar), readout);
  }

  // --- fader bank --------------------------------------------------------------------------

  faderStrips(node) {
    const configuration = node.configuration || {};
    const strips = faderStripCount(configuration);
    const list = element('div', { className: 'strips' });
    for (let strip = 0; strip < strips; strip += 1) {
      const gain = Array.isArray(configuration.gainsDb) && Number.isFinite(configuration.gainsDb[strip]) ? configuration.gainsDb[strip] : 0;
      const muted = Array.isArray(configuration.mutes) && configuration.mutes[strip] === true;
      const channels = Array.isArray(configuration.channels) && configuration.channels.length > 0 ? configuration.channels[strip] : 2;
      const readout = element('output', { className: 'gain-readout' }, `${formatNumber(gain)} dB`);
      const message = errorLine(`strip-${strip}`);
      const send = (index, value, lead) => this.attempt(() => this.model.setParameter(node.id, index, value), message, lead);
      const settle = () => this.model.settleParameters().catch(() => {});
      const showGain = (value) => {
        readout.textContent = `${formatNumber(value)} dB`;
        slider.value = value;
        typed.value = value;
      };
      const slider = element('input', {
        type: 'range', min: minimumGainDb, max: maximumGainDb, step: 0.5, value: gain, 'data-key': `gain-${strip}`, 'aria-label': `Strip ${strip + 1} gain`,
        oninput: (event) => {
          showGain(Number(event.target.value));
          send(2 * strip, Number(event.target.value), 'Could not move the fader.');
        },
        onchange: settle,
      });
      const typed = element('input', {
        type: 'number', min: minimumGainDb, max: maximumGainDb, step: 0.5, value: gain, 'data-key': `gain-db-${strip}`, 'aria-label': `Strip ${strip + 1} dB`,
        onchange: (event) => {
          const value = typedGain(event.target.value);
          if (value === null) {
            this.refuse(message, `Type a gain in dB from ${minimumGainDb} to ${maximumGainDb}.`);
            return;
          }
          showGain(value);
          send(2 * strip, value, 'Could not set the gain.').then(settle);
        },
      });
      const mute = element('input', {
        type: 'checkbox', checked: muted, 'data-key': `mute-${strip}`, 'aria-label': `Strip ${strip + 1} mute`,
        onchange: (event) => send(2 * strip + 1, event.target.checked ? 1 : 0, 'Could not change the mute.').then(settle),
      });
      list.append(
        element('div', { className: 'strip' },
          element('span', { className: 'strip-name' }, `Strip ${strip + 1} · ${channels === 1 ? 'mono' : 'stereo'}`),
          slider, readout,
          this.stripMeter(node.id, strip),
          element('div', { className: 'strip-controls' }, labelled('Mute', mute), labelled('Gain in dB', typed)),
          message),
      );
    }
    return section('Faders', list);
  }

  // The strip's own level after its gain and mute, on the boxes' dB scale with a hold mark.
  stripMeter(id, strip) {
    const bar = element('div', { className: 'bar' });
    const hold = element('div', { className: 'hold', hidden: true });
    const readout = element('span', { className: 'readout' }, peakText(0));
    const meter = element('div', { className: 'strip-meter', role: 'meter', 'aria-label': `Strip ${strip + 1} level`, 'aria-valuemin': -60, 'aria-valuemax': 0, 'aria-valuenow': -60 },
      element('div', { className: 'meter-track' }, bar, hold), readout);
    const scale = element('div', { className: 'meter-scale' });
    for (const db of meterMarks) {
      const mark = element('span', {}, db === 0 ? '0' : `−${-db}`);
      // Through the style object: the page's content policy refuses style attributes.
      mark.style.left = `${(dbFraction(db) * 100).toFixed(1)}%`;
      scale.append(mark);
    }
    const peakHold = new PeakHold();
    this.updaters.push(() => {
      const peak = this.model.stripPeak(id, strip);
      const held = peakHold.update(peak);
      bar.style.width = `${(meterFraction(peak) * 100).toFixed(1)}%`;
      bar.classList.toggle('clipping', peak >= 1);
      hold.style.left = `calc(${(meterFraction(held) * 100).toFixed(1)}% - 3px)`;
      hold.hidden = !(held > 0);
      hold.classList.toggle('clipping', held >= 1);
      readout.textContent = peakText(held);
      meter.setAttribute('aria-valuenow', peak > 0 ? Math.max(-60, 20 * Math.log10(peak)).toFixed(1) : '-60');
    });
    return element('div', { className: 'strip-level' }, meter, scale);
  }

  // --- player ------------------------------------------------------------------------------

  playerView(node) {
    const configuration = node.configuration || {};
    const ports = this.model.nodePorts(node.id);
    const canvas = element('canvas', { className: 'waveform', width: 512, height: 96, role: 'img', 'aria-label': `Waveform of ${configuration.path || 'no file'}` });
    drawWaveform(canvas, ports.waveform);
    const state = element('p', { className: 'player-state' });
    this.updaters.push(() => {
      const media = this.model.media(node.id);
      const frames = Number(media.frames) || 0;
      if (media.playing === true) {
        if (!this.playStarted.has(node.id)) this.playStarted.set(node.id, performance.now());
        const seconds = (performance.now() - this.playStarted.get(node.id)) / 1000;
        state.textContent = `Playing · ${clock(seconds)} since start · ${frames} frames in the file`;
      } else {
        this.playStarted.delete(node.id);
        const ended = Number.isFinite(media.endSample) && media.endSample >= 0;
        state.textContent = `${ended ? 'Ended' : 'Stopped'} · ${frames} frames in the file`;
      }
    });
    return section('Player', element('p', { className: 'file' }, configuration.path || 'No file'), canvas, state);
  }

  // --- recorder ----------------------------------------------------------------------------

  recorderView(node) {
    const configuration = node.configuration || {};
    const channels = Number.isInteger(configuration.channels) ? configuration.channels : 2;
    const take = element('p', { className: 'take' });
    const takeFile = element('p', { className: 'take-file', hidden: true });
    const flags = element('p', { className: 'recorder-state' });
    const meters = element('div', { className: 'input-meters' });
    const bars = [];
    for (let channel = 0; channel < Math.min(channels, 64); channel += 1) {
      const bar = element('div', { className: 'bar' });
      const clip = element('span', { className: 'clip-light' }, 'CLIP');
      bars.push({ bar, clip });
      meters.append(element('div', { className: 'input-meter' }, element('span', {}, `${channel + 1}`), element('div', { className: 'meter-track' }, bar), clip));
    }
    const counters = element('p', { className: 'recorder-counters' });
    const armed = element('p', { className: 'armed' });
    this.updaters.push(() => {
      const media = this.model.media(node.id);
      // Armed while the rack holds a take file open for it: "record" opens one, and the take's
      // end or "stop" closes it, whatever the stored patch still says.
      armed.textContent = media.ready === true ? 'Armed' : 'Not armed';
      const words = [];
      if (media.recording === true) words.push(media.tail === true ? 'Recording tail' : 'Recording');
      else if (media.finalizing === true) words.push('Finishing take');
      else if (media.ready === true) words.push('Ready');
      else if (media.finalized === true && media.hasDestination === true) words.push('Take written');
      else words.push('Idle');
      if (media.failed === true) words.push('FAILED');
      if (media.clip === true) words.push('CLIP');
      flags.textContent = words.join(' · ');
      flags.classList.toggle('alarm', media.failed === true || media.clip === true);
      take.textContent = `Take: ${formatNumber(Number(media.seconds) || 0)} s · ${Number(media.frames) || 0} frames written`;
      // The rack stores the file each take really went to, which may differ from the one chosen.
      const written = media.finalized === true && media.hasDestination === true;
      if (written && !this.writtenTakes.has(node.id)) {
        this.writtenTakes.add(node.id);
        this.model.refresh().catch(() => {});
      } else if (!written) {
        this.writtenTakes.delete(node.id);
      }
      const current = this.model.node(node.id);
      takeFile.textContent = `Take written: ${current && current.configuration ? current.configuration.path : ''}`;
      takeFile.hidden = !written;
      const peaks = Array.isArray(media.inputPeaks) ? media.inputPeaks : [];
      const clips = Array.isArray(media.inputClips) ? media.inputClips : [];
      bars.forEach(({ bar, clip }, channel) => {
        bar.style.width = `${(meterFraction(Number(peaks[channel]) || 0) * 100).toFixed(1)}%`;
        clip.classList.toggle('lit', clips[channel] === true);
      });
      const dropped = Number(media.droppedFrames) || 0;
      counters.textContent = `Dropped frames: ${dropped} · Invalid samples: ${Number(media.invalidSamples) || 0}`;
      counters.classList.toggle('alarm', dropped > 0);
    });
    return section(
      'Recorder',
      armed,
      element('p', { className: 'file' }, `Destination: ${configuration.path || 'none chosen'}`),
      flags, take, takeFile, meters, counters,
    );
  }

  // --- hosted plug-ins ---------------------------------------------------------------------

  pluginView(node) {
    const message = errorLine('plugin');
    const editorButton = element('button', { type: 'button', onclick: () => this.attempt(() => callRack('editor', { node: node.id }), message, 'Could not open the plug-in editor.') }, 'Open plug-in editor');
    const list = element('div', { className: 'parameters' });
    const controls = [];
    for (const parameter of this.model.nodePorts(node.id).parameters) {
      // shown: the value the control holds, whoever put it there.
      const control = { id: parameter.id, shown: Number(parameter.value) };
      const readout = element('output', {}, formatNumber(control.shown, 3));
      control.readout = readout;
      const send = (event) => {
        const value = Number(event.target.value);
        if (event.target.value === '' || !Number.isFinite(value)) return;
        control.shown = value;
        readout.textContent = formatNumber(control.shown, 3);
        this.attempt(() => this.model.setParameter(node.id, parameter.id, control.shown), message, 'Could not set the parameter.');
      };
      // VST3 values are normalized; a CLAP value lies in the plug-in's own range, which the rack
      // does not report, so it is typed.
      const shape = node.type === 'clap' ? { type: 'number', step: 'any', onchange: send } : { type: 'range', min: 0, max: 1, step: 0.001, oninput: send };
      control.slider = element('input', {
        ...shape, value: control.shown || 0, disabled: parameter.readOnly === true,
        'data-key': `parameter-${parameter.id}`, 'aria-label': parameter.name || `Parameter ${parameter.id}`,
      });
      controls.push(control);
      list.append(element('div', { className: 'parameter' }, element('span', {}, `${parameter.name || parameter.id}${parameter.unit ? ` (${parameter.unit})` : ''}`), control.slider, readout));
    }
    // A plug-in may have thousands of parameters: one lookup table per status, and only the
    // controls whose value moved are touched.
    this.updaters.push(() => {
      const live = new Map(this.model.liveParameters(node.id).map((entry) => [entry.id, Number(entry.value)]));
      for (const control of controls) {
        const value = live.get(control.id);
        if (value === undefined || value === control.shown || document.activeElement === control.slider) continue;
        control.slider.value = value;
        control.readout.textContent = formatNumber(value, 3);
        control.shown = value;
      }
    });
    if (list.childElementCount === 0) list.append(element('p', { className: 'empty' }, 'This plug-in shows no parameters.'));
    return section('Plug-in', editorButton, message, list);
  }

  // --- connections -------------------------------------------------------------------------

  connections(node) {
    const model = this.model;
    const message = errorLine('connections');
    const list = element('ul', { className: 'connections' });
    const item = (text, action) =>
      element('li', {}, element('span', {}, text), element('button', { type: 'button', onclick: () => this.attempt(action, message, 'Could not disconnect the cable.') }, 'Disconnect'));
    for (const cable of model.graph.cables) {
      if (cable.from === node.id || cable.to === node.id) {
        list.append(item(this.cableText(cable), () => model.disconnect(cable)));
      }
    }
    for (const cable of model.graph.eventCables) {
      if (cable.from === node.id || cable.to === node.id) {
        list.append(item(`Events ${cable.from} → ${cable.to}`, () => model.disconnectEvents(cable)));
      }
    }
    const parts = [list];
    if (model.nodePorts(node.id).outputs.length > 0) {
      parts.push(...connectRow(model, node, (action, lead) => this.attempt(action, message, lead)));
    }
    if (model.hasEventOutput(node.id)) {
      const receivers = model.graph.nodes.filter((other) => other.id !== node.id && model.hasEventInput(other.id));
      const target = element('select', { 'data-key': 'events-to' }, receivers.map((other) => element('option', { value: other.id }, other.id)));
      parts.push(element('div', { className: 'connect-row' }, labelled('Send events to', target),
        element('button', { type: 'button', 'data-key': 'connect-events', onclick: () => this.attempt(() => model.connectEvents(node.id, target.value), message, 'Could not connect the events.') }, 'Connect events')));
    }
    parts.push(message);
    return section('Connections', ...parts);
  }

  // --- configuration -----------------------------------------------------------------------

  configurationSection(node) {
    const typeEntry = moduleType(node.type);
    if (!typeEntry) return section('Configuration', element('pre', {}, JSON.stringify(node.configuration, null, 2)));
    const form = configurationForm(typeEntry, node.configuration || {});
    const message = errorLine('configuration');
    const apply = async (event) => {
      event.preventDefault();
      const configuration = await form.read(message);
      if (!configuration) return;
      this.attempt(() => this.model.setConfiguration(node.id, configuration), message, 'Could not apply the configuration.');
    };
    return section('Configuration', element('form', { onsubmit: apply }, form.element, element('button', { type: 'submit', 'data-key': 'apply' }, 'Apply configuration'), message));
  }
}

// A gain typed in dB, or null when it is not a number on the fader's scale.
function typedGain(text) {
  const value = text.trim() === '' ? NaN : Number(text);
  return Number.isFinite(value) && value >= minimumGainDb && value <= maximumGainDb ? value : null;
}

function section(title, ...children) {
  return element('section', { className: 'panel-section' }, element('h4', {}, title), ...children);
}

// name: which edit of the panel the line answers for, unique within one drawing of the panel.
function errorLine(name) {
  return element('p', { className: 'form-error', role: 'alert', hidden: true, 'data-message': name });
}

function clock(seconds) {
  const minutes = Math.floor(seconds / 60);
  return `${minutes}:${(seconds - minutes * 60).toFixed(1).padStart(4, '0')}`;
}

function drawWaveform(canvas, waveform) {
  const context = canvas.getContext('2d');
  const { width, height } = canvas;
  context.fillStyle = '#10161d';
  context.fillRect(0, 0, width, height);
  if (!waveform || waveform.length === 0) return;
  context.fillStyle = '#5fd0a8';
  const step = width / waveform.length;
  waveform.forEach((value, index) => {
    const level = Math.min(1, Math.max(0, Number(value) || 0)) * (height / 2 - 2);
    context.fillRect(index * step, height / 2 - level, Math.max(1, step), Math.max(1, level * 2));
  });
}
