// Live values on their way to the rack: fader gains and mutes and plug-in parameters, sent as
// "parameter" one at a time and mirrored in the patch the page shows. A value set here wins over
// every answer of the rack that left before the rack had taken it: a "state" or "status" read
// while a fader moves would otherwise put an earlier gain back on screen, and the next step of
// the fader would start from there.

import { isObject } from './json-values.js';
import { isFaderBank, isHosted, maximumGainDb, minimumGainDb } from './module-types.js';

export class ParameterChanges {
  // model: the PatchModel whose patch the values belong to.
  constructor(model) {
    this.model = model;
    this.pending = new Map();
    this.flight = null;
    // Per control, the newest value sent from here ({ change, answeredAt }): answeredAt counts
    // the rack's "parameter" answers, null while the value is on its way.
    this.sent = new Map();
    this.answers = 0;
    // What answers counted when each read of the rack left, by its answer; the counts of the
    // reads still on their way.
    this.readAt = new WeakMap();
    this.openReads = [];
  }

  // Values sent while a change is on its way are folded into one: the latest per control wins.
  // The values of one gesture (until settle) make one step.
  set(node, parameter, value) {
    this.model.history.recordParameter(node, parameter, value, () => this.value(node, parameter));
    this.mirror(node, parameter, value);
    const change = { node, parameter, value };
    this.pending.set(controlKey(change), change);
    this.sent.set(controlKey(change), { change, answeredAt: null });
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
        await this.send(change);
      } catch (error) {
        this.pending.clear();
        this.model.history.dropGesture();
        await this.model.refresh().catch(() => {});
        throw error;
      }
    }
  }

  // Sends one value now; the rack's answer counts it as taken. A value the rack refused, and
  // those not sent yet, no longer stand over its answers.
  async send(change) {
    const key = controlKey(change);
    // A newer value for the control waiting its turn stays the newest.
    if (!this.pending.has(key)) this.sent.set(key, { change, answeredAt: null });
    try {
      await this.model.call('parameter', change);
    } catch (error) {
      for (const [other, { answeredAt }] of this.sent) if (answeredAt === null) this.sent.delete(other);
      throw error;
    }
    this.answers += 1;
    const newest = this.sent.get(key);
    if (newest && newest.change === change) newest.answeredAt = this.answers;
  }

  // Sends a command that answers with the rack's state or its status, noting which values the
  // rack had taken when it left.
  async read(method, params) {
    const answers = this.answers;
    this.openReads.push(answers);
    try {
      const answer = await this.model.call(method, params);
      if (isObject(answer)) this.readAt.set(answer, answers);
      if (isObject(answer) && isObject(answer.status)) this.readAt.set(answer.status, answers);
      return answer;
    } finally {
      this.openReads.splice(this.openReads.indexOf(answers), 1);
    }
  }

  // The values sent from here that an answer may not hold yet. A value whose own answer came
  // before no read still on its way left is held by every later answer, and is forgotten.
  newerThan(answer) {
    const answers = this.readAt.has(answer) ? this.readAt.get(answer) : -1;
    const oldestRead = Math.min(this.answers, ...this.openReads);
    const newer = [];
    for (const [key, { change, answeredAt }] of this.sent) {
      if (answeredAt === null || answeredAt > answers) newer.push(change);
      else if (answeredAt <= oldestRead) this.sent.delete(key);
    }
    return newer;
  }

  // Puts the values sent from here back over a "state" answer that left before the rack took them.
  keepNewerInPatch(state) {
    for (const change of this.newerThan(state)) this.mirror(change.node, change.parameter, change.value);
  }

  // The same for the plug-ins' live values in a "status" answer.
  keepNewerInStatus(status) {
    if (!isObject(status.parameters)) return;
    for (const change of this.newerThan(status)) {
      const live = status.parameters[change.node];
      const entry = Array.isArray(live) ? live.find((item) => isObject(item) && item.id === change.parameter) : null;
      if (entry) entry.value = change.value;
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
      configuration[key][strip] = key === 'mutes' ? value > 0.5 : Math.min(maximumGainDb, Math.max(minimumGainDb, value));
    } else if (isHosted(node.type)) {
      if (!Array.isArray(configuration.parameters)) configuration.parameters = [];
      const entry = configuration.parameters.find((item) => isObject(item) && item.id === parameter);
      if (entry) entry.value = value;
      else configuration.parameters.push({ id: parameter, value });
    }
  }
}

function controlKey(change) {
  return `${change.parameter} ${change.node}`;
}
