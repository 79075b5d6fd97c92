// Live values on their way to the rack: fader gains and mutes and plug-in parameters, sent as
// "parameter" one at a time and mirrored in the patch the page shows.

import { isObject } from './json-values.js';
import { isFaderBank, isHosted } from './module-types.js';

export class ParameterChanges {
  // model: the PatchModel whose patch the values belong to.
  constructor(model) {
    this.model = model;
    this.pending = new Map();
    this.flight = null;
  }

  // Values sent while a change is on its way are folded into one: the latest per control wins.
  // The values of one gesture (until settle) make one step.
  set(node, parameter, value) {
    this.model.history.recordParameter(node, parameter, value, () => this.value(node, parameter));
    this.mirror(node, parameter, value);
    this.pending.set(`${parameter} ${node}`, { node, parameter, value });
    if (!this.flight) {
      this.flight = this.flush().finally(() => {
        this.flight = null;
      });
    }
    return this.flight;
  }

  // The value a control holds as the patch stores it.
  value(id, parameter) {
    const model = this.model;
    const node = model.node(id);
    const configuration = node && isObject(node.configuration) ? node.configuration : {};
    if (node && isFaderBank(node.type)) {
      const strip = Math.floor(parameter / 2);
      if (parameter % 2 === 1) return Array.isArray(configuration.mutes) && configuration.mutes[strip] === true ? 1 : 0;
      const gain = Array.isArray(configuration.gainsDb) ? Number(configuration.gainsDb[strip]) : 0;
      return Number.isFinite(gain) ? gain : 0;
    }
    const stored = Array.isArray(configuration.parameters) ? configuration.parameters.find((item) => isObject(item) && item.id === parameter) : null;
    const reported = [...model.liveParameters(id), ...model.nodePorts(id).parameters].find((item) => isObject(item) && item.id === parameter);
    const value = Number((stored || reported || {}).value);
    return Number.isFinite(value) ? value : 0;
  }

  async flush() {
    while (this.pending.size > 0) {
      const [key, change] = this.pending.entries().next().value;
      this.pending.delete(key);
      try {
        await this.model.call('parameter', change);
      } catch (error) {
        this.pending.clear();
        this.model.history.dropGesture();
        await this.model.refresh().catch(() => {});
        throw error;
      }
    }
  }

  // Resolves once every change sent so far has been answered.
  async settled() {
    while (this.flight) await this.flight.catch(() => {});
  }

  // Reads "state" once every change sent so far has been answered.
  async settle() {
    this.model.history.endGesture();
    await this.settled();
    await this.model.refresh();
  }

  // Mirrors what the rack stores in the node's configuration, so the controls stay where the
  // user put them until the next "state" arrives.
  mirror(id, parameter, value) {
    const node = this.model.node(id);
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
}
