// Draws the patch as module boxes and cables in one SVG, and turns pointer gestures into edits:
// drag a box to move it, click to select; cables are drawn by PatchWiring. The boxes are the
// options of a listbox: the keyboard moves through them without selecting, Enter or space selects.
// A status update only touches the meters; the whole drawing is rebuilt only when the patch changes.

import { escapeHtml } from './html.js';
import { PeakHold, cablePath, dbFraction, meterFraction, meterMarks, moduleBox, moduleWidth, peakText, portLabel, portY } from './patch-geometry.js';
import { typeLabel } from './module-types.js';
import { sameCable } from './patch-model.js';
import { PatchWiring, jackOf, pastDragThreshold } from './patch-wiring.js';

const svgNamespace = 'http://www.w3.org/2000/svg';
const minimumZoom = 0.05;
const maximumZoom = 2;

export class PatchView extends EventTarget {
  constructor(model, scroller, notice) {
    super();
    this.model = model;
    this.scroller = scroller;
    this.notice = notice;
    this.zoom = 1;
    this.selection = null;
    this.boxes = new Map();
    this.cablesByNode = new Map();
    this.holds = new Map();
    this.gesture = null;
    this.wiring = new PatchWiring(this);

    this.svg = document.createElementNS(svgNamespace, 'svg');
    this.svg.setAttribute('class', 'patch');
    this.svg.setAttribute('role', 'listbox');
    this.svg.setAttribute('aria-label', 'Patch');
    this.scroller.append(this.svg);

    model.addEventListener('patch', () => this.render());
    model.addEventListener('status', () => this.updateMeters());
    this.svg.addEventListener('pointerdown', (event) => this.onPointerDown(event));
    this.svg.addEventListener('pointermove', (event) => this.onPointerMove(event));
    this.svg.addEventListener('pointerup', (event) => this.onPointerUp(event));
    this.svg.addEventListener('pointercancel', () => this.cancelGesture());
    this.svg.addEventListener('keydown', (event) => this.onKeyDown(event));
    this.scroller.addEventListener('wheel', (event) => this.onWheel(event), { passive: false });
  }

  // --- drawing -----------------------------------------------------------------------------

  render() {
    const model = this.model;
    // Redrawing replaces every box: the keyboard stays on the module it was on or, when that
    // module went, on the one after it (or before it, for the last), not on the page's body.
    const focused = document.activeElement && this.svg.contains(document.activeElement) ? document.activeElement.closest('g.module') : null;
    const keyboardOn = focused ? [focused, focused.nextElementSibling, focused.previousElementSibling].filter(Boolean).map((group) => group.dataset.node) : [];
    this.boxes.clear();
    this.cablesByNode.clear();
    let right = 900;
    let bottom = 600;
    const moduleMarkup = [];
    for (const node of model.graph.nodes) {
      const ports = model.nodePorts(node.id);
      const eventIn = model.hasEventInput(node.id);
      const eventOut = model.hasEventOutput(node.id);
      const box = moduleBox(ports.inputs, ports.outputs, eventIn || eventOut);
      const { x, y } = model.position(node.id);
      this.boxes.set(node.id, { x, y, box, ports, eventIn, eventOut });
      right = Math.max(right, x + box.width + 200);
      bottom = Math.max(bottom, y + box.height + 200);
      moduleMarkup.push(this.moduleMarkup(node, x, y, box, ports, eventIn, eventOut));
    }
    const cableMarkup = [];
    model.graph.cables.forEach((cable, index) => {
      const d = this.wirePath('audio', cable);
      if (d) cableMarkup.push(this.cableMarkup('audio', index, d, `${cable.from} ${cable.output} to ${cable.to} ${cable.input}`));
    });
    model.graph.eventCables.forEach((cable, index) => {
      const d = this.wirePath('event', cable);
      if (d) cableMarkup.push(this.cableMarkup('event', index, d, `events ${cable.from} to ${cable.to}`));
    });
    this.contentWidth = right;
    this.contentHeight = bottom;
    this.svg.innerHTML =
      `<g class="zoom" transform="scale(${this.zoom})">` +
      `<rect class="background" width="${right}" height="${bottom}"></rect>` +
      `<g class="cables">${cableMarkup.join('')}</g>` +
      `<g class="modules">${moduleMarkup.join('')}</g>` +
      `<path class="wire-preview" d=""></path></g>`;
    this.sizeToContent();
    this.indexCables();
    const stillDrawn = keyboardOn.find((id) => this.moduleElement(id) !== null);
    if (stillDrawn !== undefined) this.focusModule(stillDrawn);
    this.restoreSelection();
    this.wiring.redraw();
    this.updateMeters();
    // The first patch shown fits the window where it can still be read.
    if (!this.fitted && this.boxes.size > 0) {
      this.fitted = true;
      const bounds = this.boxBounds();
      if (bounds.x + bounds.width > this.scroller.clientWidth || bounds.y + bounds.height > this.scroller.clientHeight) this.zoomToFit(0.6);
    }
  }

  moduleMarkup(node, x, y, box, ports, eventIn, eventOut) {
    const id = escapeHtml(node.id);
    const parts = [
      `<g class="module" data-node="${id}" tabindex="0" role="option" aria-selected="false" aria-label="Module ${id}, ${escapeHtml(typeLabel(node.type))}" transform="translate(${x},${y})">`,
      `<rect class="body" width="${box.width}" height="${box.height}" rx="10"></rect>`,
      `<path class="header" d="M0,10 a10,10 0 0 1 10,-10 h${box.width - 20} a10,10 0 0 1 10,10 v${box.headerHeight - 10} h-${box.width} z"></path>`,
      `<text class="title" x="14" y="22">${id}</text>`,
      `<text class="subtitle" x="14" y="40">${escapeHtml(typeLabel(node.type))}</text>`,
    ];
    ports.inputs.forEach((port, index) => parts.push(this.portMarkup('input', port, 0, portY(index))));
    ports.outputs.forEach((port, index) => parts.push(this.portMarkup('output', port, box.width, portY(index + box.outputOffset))));
    if (eventIn) parts.push(this.eventJackMarkup('event-input', 0, box.eventY));
    if (eventOut) parts.push(this.eventJackMarkup('event-output', box.width, box.eventY));
    const span = box.width - 28;
    const scaleY = box.meterY + box.meterHeight;
    const marks = meterMarks.map((db) => {
      const x = (14 + span * dbFraction(db)).toFixed(1);
      return `<path class="meter-mark" d="M${x},${scaleY} v5"></path><text class="meter-scale" x="${x}" y="${scaleY + 20}" text-anchor="${db === 0 ? 'end' : 'middle'}">${db === 0 ? '0' : `−${-db}`}</text>`;
    });
    parts.push(
      `<rect class="meter-back" x="14" y="${box.meterY}" width="${span}" height="${box.meterHeight}" rx="3"></rect>`,
      `<rect class="meter" x="14" y="${box.meterY}" width="0" height="${box.meterHeight}" rx="3"><title></title></rect>`,
      `<rect class="peak-hold" x="14" y="${box.meterY}" width="3" height="${box.meterHeight}"></rect>`,
      ...marks,
      '</g>',
    );
    return parts.join('');
  }

  portMarkup(kind, port, x, y) {
    const id = escapeHtml(port.id);
    const label = escapeHtml(portLabel(port));
    const textX = kind === 'input' ? 16 : -16;
    const anchor = kind === 'input' ? 'start' : 'end';
    return (
      `<g class="port ${kind}" data-kind="${kind}" data-port="${id}" data-channels="${Number(port.channels) || 0}">` +
      `<circle cx="${x}" cy="${y}" r="9"></circle>` +
      `<text x="${x + textX}" y="${y + 6}" text-anchor="${anchor}">${label}</text></g>`
    );
  }

  eventJackMarkup(kind, x, y) {
    const textX = kind === 'event-input' ? 16 : -16;
    const anchor = kind === 'event-input' ? 'start' : 'end';
    return (
      `<g class="port ${kind}" data-kind="${kind}">` +
      `<path d="M${x},${y - 9} l9,9 l-9,9 l-9,-9 z"></path>` +
      `<text x="${x + textX}" y="${y + 6}" text-anchor="${anchor}">events</text></g>`
    );
  }

  cableMarkup(kind, index, d, label) {
    return (
      `<g class="cable ${kind}" data-kind="${kind}" data-index="${index}" aria-label="${escapeHtml(label)}">` +
      `<path class="hit" d="${d}"></path><path class="wire" d="${d}"></path></g>`
    );
  }

  jackPoint(id, kind, portId) {
    const entry = this.boxes.get(id);
    if (!entry) return null;
    if (kind === 'event-input') return entry.eventIn ? { x: entry.x, y: entry.y + entry.box.eventY } : null;
    if (kind === 'event-output') return entry.eventOut ? { x: entry.x + entry.box.width, y: entry.y + entry.box.eventY } : null;
    const list = kind === 'input' ? entry.ports.inputs : entry.ports.outputs;
    const index = list.findIndex((port) => port.id === portId);
    if (index < 0) return null;
    const row = kind === 'input' ? index : index + entry.box.outputOffset;
    return { x: entry.x + (kind === 'input' ? 0 : entry.box.width), y: entry.y + portY(row) };
  }

  // The two jacks a cable joins (kind audio or event), or null when one of them is not drawn.
  cableEnds(kind, cable) {
    const start = kind === 'audio' ? this.jackPoint(cable.from, 'output', cable.output) : this.jackPoint(cable.from, 'event-output');
    const end = kind === 'audio' ? this.jackPoint(cable.to, 'input', cable.input) : this.jackPoint(cable.to, 'event-input');
    return start && end ? { start, end } : null;
  }

  wirePath(kind, cable) {
    const ends = this.cableEnds(kind, cable);
    return ends ? cablePath(ends.start.x, ends.start.y, ends.end.x, ends.end.y) : null;
  }

  // The middle of a drawn cable, where a message about it goes.
  cableMiddle(kind, cable) {
    const ends = this.cableEnds(kind, cable);
    return ends ? { x: (ends.start.x + ends.end.x) / 2, y: (ends.start.y + ends.end.y) / 2 } : null;
  }

  indexCables() {
    const add = (id, entry) => {
      if (!this.cablesByNode.has(id)) this.cablesByNode.set(id, []);
      this.cablesByNode.get(id).push(entry);
    };
    for (const group of this.svg.querySelectorAll('g.cable')) {
      const kind = group.dataset.kind;
      const cable = (kind === 'audio' ? this.model.graph.cables : this.model.graph.eventCables)[Number(group.dataset.index)];
      const entry = { group, kind, cable };
      add(cable.from, entry);
      if (cable.to !== cable.from) add(cable.to, entry);
    }
  }

  sizeToContent() {
    this.svg.setAttribute('width', Math.ceil(this.contentWidth * this.zoom));
    this.svg.setAttribute('height', Math.ceil(this.contentHeight * this.zoom));
  }

  moduleElement(id) {
    for (const group of this.svg.querySelectorAll('g.module')) {
      if (group.dataset.node === id) return group;
    }
    return null;
  }

  // Each box's bar follows its node's peak; the hold mark keeps the highest of the last updates.
  updateMeters() {
    const span = moduleWidth - 28;
    for (const group of this.svg.querySelectorAll('g.module')) {
      const id = group.dataset.node;
      const peak = this.model.peak(id);
      if (!this.holds.has(id)) this.holds.set(id, new PeakHold());
      const held = this.holds.get(id).update(peak);
      const meter = group.querySelector('rect.meter');
      meter.setAttribute('width', (span * meterFraction(peak)).toFixed(1));
      meter.classList.toggle('clipping', peak >= 1);
      meter.firstChild.textContent = `Level ${peakText(peak)}`;
      const hold = group.querySelector('rect.peak-hold');
      hold.setAttribute('x', (14 + Math.max(0, span * meterFraction(held) - 3)).toFixed(1));
      hold.classList.toggle('lit', held > 0);
      hold.classList.toggle('clipping', held >= 1);
    }
  }

  // --- zoom and scroll ---------------------------------------------------------------------

  setZoom(zoom, anchor) {
    const next = Math.min(maximumZoom, Math.max(minimumZoom, zoom));
    const point = anchor || { x: this.scroller.clientWidth / 2, y: this.scroller.clientHeight / 2 };
    const contentX = (this.scroller.scrollLeft + point.x) / this.zoom;
    const contentY = (this.scroller.scrollTop + point.y) / this.zoom;
    this.zoom = next;
    const layer = this.svg.querySelector('g.zoom');
    if (layer) layer.setAttribute('transform', `scale(${next})`);
    this.sizeToContent();
    this.scroller.scrollLeft = contentX * next - point.x;
    this.scroller.scrollTop = contentY * next - point.y;
    this.dispatchEvent(new Event('zoom'));
  }

  // Where the boxes lie, with room for their jacks around them.
  boxBounds() {
    const margin = 30;
    const entries = [...this.boxes.values()];
    if (entries.length === 0) return { x: 0, y: 0, width: this.contentWidth, height: this.contentHeight };
    const left = Math.min(...entries.map((entry) => entry.x));
    const top = Math.min(...entries.map((entry) => entry.y));
    const right = Math.max(...entries.map((entry) => entry.x + entry.box.width));
    const bottom = Math.max(...entries.map((entry) => entry.y + entry.box.height));
    return { x: Math.max(0, left - margin), y: Math.max(0, top - margin), width: right - left + 2 * margin, height: bottom - top + 2 * margin };
  }

  // Shows every box in the visible part of the patch area, at most at full size and, when
  // smallest is given, at least at that size.
  zoomToFit(smallest = minimumZoom) {
    const bounds = this.boxBounds();
    const widthShare = this.scroller.clientWidth / Math.max(1, bounds.width);
    const heightShare = this.scroller.clientHeight / Math.max(1, bounds.height);
    this.setZoom(Math.max(smallest, Math.min(widthShare, heightShare, 1)));
    this.scroller.scrollLeft = bounds.x * this.zoom;
    this.scroller.scrollTop = bounds.y * this.zoom;
  }

  onWheel(event) {
    if (!event.ctrlKey) return;
    event.preventDefault();
    const bounds = this.scroller.getBoundingClientRect();
    this.setZoom(this.zoom * (event.deltaY < 0 ? 1.1 : 1 / 1.1), { x: event.clientX - bounds.left, y: event.clientY - bounds.top });
  }

  contentPoint(event) {
    const bounds = this.svg.getBoundingClientRect();
    return { x: (event.clientX - bounds.left) / this.zoom, y: (event.clientY - bounds.top) / this.zoom };
  }

  // --- selection ---------------------------------------------------------------------------

  select(selection) {
    this.selection = selection;
    for (const marked of this.svg.querySelectorAll('.selected')) marked.classList.remove('selected');
    for (const marked of this.svg.querySelectorAll('g.module[aria-selected="true"]')) marked.setAttribute('aria-selected', 'false');
    if (selection && selection.kind === 'module') {
      const group = this.moduleElement(selection.id);
      if (group) {
        group.classList.add('selected');
        group.setAttribute('aria-selected', 'true');
      }
    } else if (selection && selection.kind === 'cable') {
      const group = this.cableElement(selection);
      if (group) group.classList.add('selected');
    }
    this.dispatchEvent(new Event('select'));
  }

  cableElement(selection) {
    const list = this.cablesByNode.get(selection.cable.from) || [];
    const found = list.find((entry) => entry.kind === selection.type && sameCable(entry.cable, selection.cable));
    return found ? found.group : null;
  }

  restoreSelection() {
    const selection = this.selection;
    if (!selection) return;
    const stillThere =
      selection.kind === 'module'
        ? this.model.node(selection.id) !== null
        : (selection.type === 'audio' ? this.model.graph.cables : this.model.graph.eventCables).some((cable) => sameCable(cable, selection.cable));
    this.select(stillThere ? selection : null);
  }

  // Space selects the focused module; Enter selects it and opens its controls. Tab only moves the
  // keyboard, so passing a module on the way to the panel leaves the panel as it was.
  onKeyDown(event) {
    const group = (event.key === 'Enter' || event.key === ' ') && event.target.closest ? event.target.closest('g.module') : null;
    if (!group) return;
    event.preventDefault();
    if (event.key === 'Enter') this.open(group.dataset.node);
    else this.select({ kind: 'module', id: group.dataset.node });
  }

  // Selects the module and asks for its controls to take the keyboard.
  open(id) {
    this.select({ kind: 'module', id });
    this.dispatchEvent(new CustomEvent('open', { detail: { id } }));
  }

  focusModule(id) {
    const group = this.moduleElement(id);
    if (group) group.focus();
  }

  // Scrolls the patch so the module's box shows whole where it can.
  reveal(id) {
    const group = this.moduleElement(id);
    if (group) group.scrollIntoView({ block: 'nearest', inline: 'nearest' });
  }

  // The middle of the patch area's visible part, in content coordinates.
  visibleCentre() {
    return {
      x: (this.scroller.scrollLeft + this.scroller.clientWidth / 2) / this.zoom,
      y: (this.scroller.scrollTop + this.scroller.clientHeight / 2) / this.zoom,
    };
  }

  // --- gestures ----------------------------------------------------------------------------

  onPointerDown(event) {
    if (event.button !== 0) return;
    const port = event.target.closest('g.port');
    const module = event.target.closest('g.module');
    const cable = event.target.closest('g.cable');
    const start = this.contentPoint(event);
    if (port && module) {
      event.preventDefault();
      this.wiring.begin(jackOf(port), start);
      this.svg.setPointerCapture(event.pointerId);
      return;
    }
    // A click away from the jacks lets go of a cable held after a click.
    this.wiring.cancel();
    if (module) {
      const { x, y } = this.model.position(module.dataset.node);
      this.gesture = { kind: 'move', id: module.dataset.node, group: module, start, origin: { x, y }, moved: false };
      this.svg.setPointerCapture(event.pointerId);
    } else if (cable) {
      const type = cable.dataset.kind;
      const list = type === 'audio' ? this.model.graph.cables : this.model.graph.eventCables;
      this.select({ kind: 'cable', type, cable: list[Number(cable.dataset.index)] });
    } else {
      this.select(null);
    }
  }

  onPointerMove(event) {
    const point = this.contentPoint(event);
    this.wiring.follow(point);
    const gesture = this.gesture;
    if (!gesture) return;
    if (!gesture.moved && !pastDragThreshold(gesture.start, point, this.zoom)) return;
    gesture.moved = true;
    const dx = point.x - gesture.start.x;
    const dy = point.y - gesture.start.y;
    this.placeModule(gesture.id, Math.max(0, gesture.origin.x + dx), Math.max(0, gesture.origin.y + dy));
  }

  onPointerUp(event) {
    if (this.wiring.press) {
      const target = document.elementFromPoint(event.clientX, event.clientY);
      const port = target && target.closest ? target.closest('g.port') : null;
      this.wiring.release(port && port.closest('g.module') ? jackOf(port) : null, this.contentPoint(event));
      return;
    }
    const gesture = this.gesture;
    this.gesture = null;
    if (!gesture) return;
    if (gesture.moved) {
      const to = this.model.freePlace(gesture.id, this.model.position(gesture.id));
      this.placeModule(gesture.id, to.x, to.y);
      this.dispatchEvent(new CustomEvent('moved', { detail: { id: gesture.id, from: gesture.origin, to } }));
    } else {
      this.select({ kind: 'module', id: gesture.id });
      gesture.group.focus({ preventScroll: true });
    }
  }

  cancelGesture() {
    if (this.gesture && this.gesture.moved) {
      this.placeModule(this.gesture.id, this.gesture.origin.x, this.gesture.origin.y);
    }
    this.gesture = null;
    this.wiring.cancel();
  }

  placeModule(id, x, y) {
    const entry = this.boxes.get(id);
    const group = this.moduleElement(id);
    if (!entry || !group) return;
    entry.x = x;
    entry.y = y;
    this.model.moveModule(id, x, y);
    group.setAttribute('transform', `translate(${Math.round(x)},${Math.round(y)})`);
    for (const { group: cableGroup, kind, cable } of this.cablesByNode.get(id) || []) {
      const d = this.wirePath(kind, cable);
      for (const path of cableGroup.querySelectorAll('path')) path.setAttribute('d', d);
    }
    if (x + entry.box.width + 200 > this.contentWidth || y + entry.box.height + 200 > this.contentHeight) {
      this.contentWidth = Math.max(this.contentWidth, x + entry.box.width + 200);
      this.contentHeight = Math.max(this.contentHeight, y + entry.box.height + 200);
      const background = this.svg.querySelector('rect.background');
      background.setAttribute('width', this.contentWidth);
      background.setAttribute('height', this.contentHeight);
      this.sizeToContent();
    }
  }

  // --- notices -----------------------------------------------------------------------------

  // Shows a message beside the place of the edit, in content coordinates, or at the top of the
  // visible patch: lead in plain words, then detail (the rack's own text); action
  // ({ label, run }) adds a button to it.
  showNotice(lead, detail, at, action) {
    const point = at || { x: this.scroller.scrollLeft / this.zoom + 20, y: this.scroller.scrollTop / this.zoom + 20 };
    this.notice.querySelector('.notice-lead').textContent = lead;
    this.notice.querySelector('.notice-detail').textContent = detail;
    const button = this.notice.querySelector('.notice-action');
    button.hidden = !action;
    button.textContent = action ? action.label : '';
    button.onclick = action ? () => action.run() : null;
    this.notice.classList.toggle('info', Boolean(action));
    // Kept inside the visible patch area, so a message is never cut off by the panel.
    const left = Math.round(point.x * this.zoom) + 12;
    const top = Math.round(point.y * this.zoom) + 12;
    this.notice.hidden = false;
    const maxLeft = this.scroller.scrollLeft + this.scroller.clientWidth - this.notice.offsetWidth - 8;
    const maxTop = this.scroller.scrollTop + this.scroller.clientHeight - this.notice.offsetHeight - 8;
    this.notice.style.left = `${Math.max(this.scroller.scrollLeft + 8, Math.min(left, maxLeft))}px`;
    this.notice.style.top = `${Math.max(this.scroller.scrollTop + 8, Math.min(top, maxTop))}px`;
  }

  hideNotice() {
    this.notice.hidden = true;
  }
}
