// Wires the rack's page together: the model, the patch drawing, the panels and the keyboard.

import { addModulePanel } from './add-module-panel.js';
import { DevicePanel } from './device-panel.js';
import { ModulePanel } from './module-panel.js';
import { PatchModel } from './patch-model.js';
import { panelLayout } from './panel-layout.js';
import { PatchView } from './patch-view.js';
import { projectPanel } from './project-panel.js';
import { TransportBar } from './transport-bar.js';

const model = new PatchModel();
const notice = document.getElementById('edit-notice');
const view = new PatchView(model, document.getElementById('patch-scroller'), notice);
const transport = new TransportBar(document.getElementById('transport'), model);
const modulePanel = new ModulePanel(document.getElementById('module-panel'), model, view);
addModulePanel(document.getElementById('add-module'), model, view);
new DevicePanel(document.getElementById('device-panel'), model);
projectPanel(document.getElementById('project-panel'), model);

panelLayout(
  document.querySelector('main.workspace'),
  document.getElementById('side-panels'),
  document.getElementById('panel-resizer'),
  document.getElementById('panel-toggle'),
  () => view.hideNotice(),
);

notice.querySelector('.notice-dismiss').addEventListener('click', () => view.hideNotice());

// lead: what did not happen, in plain words, said before the rack's own text.
async function attemptEdit(action, at, lead) {
  view.hideNotice();
  try {
    await action();
  } catch (error) {
    view.showNotice(lead, error.message, at);
  }
}

function travel(direction) {
  attemptEdit(() => (direction === 'undo' ? model.undo() : model.redo()), null, direction === 'undo' ? 'Not undone.' : 'Not redone.');
}

const undoButton = document.getElementById('undo');
const redoButton = document.getElementById('redo');
undoButton.addEventListener('click', () => travel('undo'));
redoButton.addEventListener('click', () => travel('redo'));
model.addEventListener('history', () => {
  undoButton.disabled = model.done.length === 0;
  redoButton.disabled = model.undone.length === 0;
});

// A removal asks for no confirmation: the notice offers the way back.
model.addEventListener('removed', (event) => {
  const { ids, cables, at } = event.detail;
  const cableWords = cables === 0 ? '' : ` and ${cables} cable${cables === 1 ? '' : 's'}`;
  view.showNotice(`Removed ${ids.join(', ')}${cableWords} —`, '', at, { label: 'Undo', run: () => travel('undo') });
});

view.addEventListener('wire', (event) => {
  const wire = event.detail;
  attemptEdit(() => (wire.kind === 'audio' ? model.connect(wire.from, wire.output, wire.to, wire.input) : model.connectEvents(wire.from, wire.to)), wire.at, 'Not connected.');
});

view.addEventListener('open', () => modulePanel.focusControls());

view.addEventListener('moved', (event) => {
  const { id, from, to } = event.detail;
  attemptEdit(() => model.commitMove(id, from, to), to, 'Not moved.');
});

// On a module box Delete removes the module the keyboard is on; elsewhere, the selection.
function deleteSelection(target) {
  const focused = target instanceof Element ? target.closest('svg.patch g.module') : null;
  const selection = view.selection;
  const id = focused ? focused.dataset.node : selection && selection.kind === 'module' ? selection.id : null;
  if (id !== null) {
    attemptEdit(() => model.removeModules([id]), model.position(id), 'Not removed.');
  } else if (selection) {
    const disconnect = () => (selection.type === 'audio' ? model.disconnect(selection.cable) : model.disconnectEvents(selection.cable));
    attemptEdit(disconnect, view.cableMiddle(selection.type, selection.cable), 'Not disconnected.');
  }
}

// Fields that take typed text keep their keys; a checkbox, a slider or a button does not type.
const untypedInputs = new Set(['checkbox', 'radio', 'range', 'button', 'submit', 'reset', 'color', 'file']);

function typingInto(target) {
  if (target instanceof HTMLInputElement) return !untypedInputs.has(target.type);
  return target instanceof HTMLTextAreaElement || target instanceof HTMLSelectElement || (target instanceof HTMLElement && target.isContentEditable);
}

document.addEventListener('keydown', (event) => {
  if (event.defaultPrevented || event.altKey || event.metaKey || typingInto(event.target)) return;
  const key = event.key.toLowerCase();
  if (event.ctrlKey) {
    if (key === 'z' || key === 'y') {
      event.preventDefault();
      travel(key === 'y' || event.shiftKey ? 'redo' : 'undo');
    }
    return;
  }
  if (event.key === 'Delete' || event.key === 'Backspace') {
    event.preventDefault();
    deleteSelection(event.target);
  } else if (event.key === ' ') {
    // Also on a button: the key would press it again (a second take after Record).
    event.preventDefault();
    if (!event.repeat) transport.togglePlay();
  } else if (event.key === 'Enter' && event.target instanceof HTMLInputElement && event.target.type === 'checkbox') {
    // Space plays, so Enter toggles a checkbox.
    event.preventDefault();
    event.target.click();
  }
});

document.getElementById('zoom-in').addEventListener('click', () => view.setZoom(view.zoom * 1.25));
document.getElementById('zoom-out').addEventListener('click', () => view.setZoom(view.zoom / 1.25));
document.getElementById('zoom-fit').addEventListener('click', () => view.zoomToFit());
const zoomReadout = document.getElementById('zoom-level');
view.addEventListener('zoom', () => {
  zoomReadout.textContent = `${Math.round(view.zoom * 100)}%`;
});

model.refresh().catch(() => model.setReachable(false));
model.startPolling();

