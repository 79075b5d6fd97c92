// Draws cables between jacks: drag from one jack to another, or click one and then the other.
// Escape, or a click away from the jacks, lets go of a cable held after a click. The edit itself
// is asked for with a "wire" event on the view; the rack decides.

import { cablePath } from './patch-geometry.js';

// How far, in screen pixels, a pointer moves before a press becomes a drag.
const dragThreshold = 4;

// Whether the pointer has gone from start to point (content coordinates) far enough to drag.
export function pastDragThreshold(start, point, zoom) {
  return Math.hypot(point.x - start.x, point.y - start.y) * zoom >= dragThreshold;
}

const partners = { output: 'input', input: 'output', 'event-output': 'event-input', 'event-input': 'event-output' };

export class PatchWiring {
  constructor(view) {
    this.view = view;
    // The jack a cable is drawn from (node, jack kind, port, channels), or null.
    this.from = null;
    // The press on a jack while the button is down: where, the jack held before it, and whether
    // it has become a drag.
    this.press = null;
    document.addEventListener('keydown', (event) => {
      if (event.key === 'Escape' && this.from) {
        event.preventDefault();
        this.cancel();
      }
    });
  }

  get active() {
    return this.from !== null;
  }

  // A press on a jack starts a cable from it; a second click may finish the one held before.
  begin(jack, point) {
    this.press = { start: point, earlier: this.from, moved: false };
    this.from = jack;
    this.mark();
  }

  follow(point) {
    if (!this.from) return;
    const press = this.press;
    if (press && !press.moved) {
      if (!pastDragThreshold(press.start, point, this.view.zoom)) return;
      press.moved = true;
    }
    const origin = this.view.jackPoint(this.from.node, this.from.jack, this.from.port);
    const preview = this.view.svg.querySelector('path.wire-preview');
    if (!origin || !preview) return;
    const outward = this.from.jack === 'output' || this.from.jack === 'event-output';
    preview.setAttribute('d', outward ? cablePath(origin.x, origin.y, point.x, point.y) : cablePath(point.x, point.y, origin.x, origin.y));
  }

  // end: the jack under the pointer (or null); at: the release point in content coordinates.
  release(end, at) {
    const press = this.press;
    this.press = null;
    if (!press) return;
    const from = this.from;
    if (!press.moved) {
      // A click: it finishes the cable held before, lets go of it when it is the same jack, or
      // else holds a cable from this jack until the next click.
      const earlier = press.earlier;
      const request = earlier ? wireRequest(earlier, from) : null;
      if (earlier && sameJack(earlier, from)) this.cancel();
      else if (request) this.finish(request, at);
      return;
    }
    this.cancel();
    if (!end || sameJack(end, from)) return;
    const request = wireRequest(from, end);
    if (request) {
      this.finish(request, at);
    } else {
      this.view.hideNotice();
      this.view.showNotice('Not connected.', 'A cable joins an output to an input: audio jacks to audio jacks, event jacks to event jacks.', at);
    }
  }

  finish(request, at) {
    this.cancel();
    this.view.dispatchEvent(new CustomEvent('wire', { detail: { ...request, at } }));
  }

  cancel() {
    this.from = null;
    this.press = null;
    this.clear();
  }

  // After a redraw: the held cable keeps its marks while its jack is still drawn.
  redraw() {
    if (this.from && this.view.jackPoint(this.from.node, this.from.jack, this.from.port)) this.mark();
    else if (this.from) this.cancel();
  }

  clear() {
    const preview = this.view.svg.querySelector('path.wire-preview');
    if (preview) preview.setAttribute('d', '');
    for (const marked of this.view.svg.querySelectorAll('.compatible, .wire-start')) marked.classList.remove('compatible', 'wire-start');
  }

  // The jack held lights up, and so do the jacks of the matching kind and width as a hint; the
  // rack still decides, so a drop on any jack is sent.
  mark() {
    this.clear();
    const from = this.from;
    const wanted = partners[from.jack];
    for (const jack of this.view.svg.querySelectorAll('g.port')) {
      const kind = jack.dataset.kind;
      if (kind === from.jack && sameJack(jackOf(jack), from)) jack.classList.add('wire-start');
      if (kind === wanted && (wanted.startsWith('event') || Number(jack.dataset.channels) === from.channels)) jack.classList.add('compatible');
    }
  }
}

// The jack a port element of the drawing stands for.
export function jackOf(port) {
  const module = port.closest('g.module');
  return { node: module.dataset.node, jack: port.dataset.kind, port: port.dataset.port, channels: Number(port.dataset.channels) };
}

function sameJack(a, b) {
  return a.node === b.node && a.jack === b.jack && a.port === b.port;
}

// Orders the two ends of a drawn cable as from/to; null when the jacks cannot be joined.
function wireRequest(start, end) {
  if (partners[start.jack] !== end.jack) return null;
  const [from, to] = start.jack.endsWith('output') ? [start, end] : [end, start];
  return from.jack === 'output' ? { kind: 'audio', from: from.node, output: from.port, to: to.node, input: to.port } : { kind: 'event', from: from.node, to: to.node };
}
