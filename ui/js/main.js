// Wires the rack's page together: the model, the patch drawing, the panels and the keyboard.

import { addModulePanel } from './add-module-panel.js';
import { DevicePanel } from './device-panel.js';
import { ModulePanel } from './module-panel.js';
import { PatchModel } from './patch-model.js';
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

notice.querySelector('button').addEventListener('click', () => view.hideNotice());

async function attemptEdit(action, at) {
  view.hideNotice();
  try {
    await action();
  } catch (error) {
    view.showNotice(error.message, at);
  }
}

view.addEventListener('wire', (event) => {
  const wire = event.detail;
  attemptEdit(() => (wire.kind === 'audio' ? model.connect(wire.from, wire.output, wire.to, wire.input) : model.connectEvents(wire.from, wire.to)), wire.at);
});

view.addEventListener('open', () => modulePanel.focusControls());

view.addEventListener('moved', (event) => {
  attemptEdit(() => model.saveLayout(), model.position(event.detail.id));
});

function deleteSelection() {
  const selection = view.selection;
  if (!selection) return;
  const at = selection.kind === 'module' ? model.position(selection.id) : view.cableMiddle(selection.type, selection.cable);
  if (selection.kind === 'module') {
    attemptEdit(() => model.removeModules([selection.id]), at);
  } else if (selection.type === 'audio') {
    attemptEdit(() => model.disconnect(selection.cable), at);
  } else {
    attemptEdit(() => model.disconnectEvents(selection.cable), at);
  }
}

function typingInto(target) {
  return target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement || target instanceof HTMLSelectElement || (target && target.isContentEditable);
}

document.addEventListener('keydown', (event) => {
  if (event.defaultPrevented || event.altKey || event.ctrlKey || event.metaKey || typingInto(event.target)) return;
  if (event.key === 'Delete') {
    event.preventDefault();
    deleteSelection();
  } else if (event.key === ' ' && !(event.target instanceof HTMLButtonElement) && !(event.target instanceof HTMLElement && event.target.tagName === 'SUMMARY')) {
    event.preventDefault();
    transport.togglePlay();
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

