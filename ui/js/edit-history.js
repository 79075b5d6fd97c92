// The edits the rack took, kept as steps to undo and redo. A step holds the graph and layout
// documents before and after it, or for a control the value before and after one gesture.

import { clone, sameJson } from './json-values.js';

const historyLength = 100;

export class EditHistory {
  // model: the PatchModel whose edits these are; it runs the steps and tells of changes.
  constructor(model) {
    this.model = model;
    // Steps taken and undone, newest last.
    this.done = [];
    this.undone = [];
    this.gestureStep = null;
    // The newest step the project file holds (null: none), to tell unsaved edits.
    this.savedStep = null;
  }

  addStep(step) {
    this.done.push(step);
    if (this.done.length > historyLength) this.done.shift();
    this.undone = [];
    this.changed();
  }

  changed() {
    this.model.dispatchEvent(new Event('history'));
  }

  get unsavedEdits() {
    return (this.done.at(-1) || null) !== this.savedStep;
  }

  markSaved() {
    this.savedStep = this.done.at(-1) || null;
  }

  // The steps before an opened project belong to another patch.
  clear() {
    this.done = [];
    this.undone = [];
    this.savedStep = null;
    this.changed();
  }

  // Both answer the step taken back or again, or null when there is none. A step the rack
  // refuses stays where it was.
  undo() {
    return this.travel(this.done, this.undone, 'before');
  }

  redo() {
    return this.travel(this.undone, this.done, 'after');
  }

  travel(from, to, side) {
    this.gestureStep = null;
    const model = this.model;
    return model.queue(async () => {
      const step = from.at(-1);
      if (!step) return null;
      if (step.kind === 'parameter') {
        // After every value of the gesture, or a late one would land over the undone value.
        await model.parameters.settled();
        await model.parameters.send({ node: step.node, parameter: step.parameter, value: step[side] });
        await model.refresh();
      } else {
        const target = step[side];
        // A move alone changes no graph, so it rebuilds nothing.
        if (!sameJson(step.before.graph, step.after.graph)) model.applyState(await model.sendGraph(target.graph));
        model.layout = clone(target.layout);
        model.dispatchEvent(new Event('patch'));
        await model.saveLayout();
      }
      from.pop();
      to.push(step);
      this.changed();
      return step;
    });
  }

  // The values of one gesture on one control make one step.
  recordParameter(node, parameter, value, before) {
    const open = this.gestureStep;
    if (open && open.node === node && open.parameter === parameter && this.done.at(-1) === open) {
      open.after = value;
      return;
    }
    this.gestureStep = { kind: 'parameter', node, parameter, before: before(), after: value };
    this.addStep(this.gestureStep);
  }

  // A refused value takes its gesture's step back out.
  dropGesture() {
    if (this.gestureStep && this.done.at(-1) === this.gestureStep) {
      this.done.pop();
      this.changed();
    }
    this.gestureStep = null;
  }

  endGesture() {
    this.gestureStep = null;
  }
}
