// Sizes of a module box and where its jacks sit, shared by drawing and hit-testing.

export const moduleWidth = 250;
const headerHeight = 48;
const padding = 10;
const rowHeight = 30;
const eventRowHeight = 30;
const meterHeight = 12;
// The dB scale under a box's meter: its marks and the room their labels take.
export const meterMarks = [-40, -20, -10, 0];
const scaleHeight = 20;

const labelCharacters = 22;

export function portLabel(port) {
  return `${port.name || port.id} · ${Number(port.channels) || 0}`;
}

// Inputs and outputs share rows while their labels fit side by side; otherwise the outputs
// follow below the inputs.
export function moduleBox(inputs, outputs, hasEvents) {
  const longest = (list) => list.reduce((most, port) => Math.max(most, portLabel(port).length), 0);
  const stacked = inputs.length > 0 && outputs.length > 0 && longest(inputs) + longest(outputs) > labelCharacters;
  const outputOffset = stacked ? inputs.length : 0;
  const rows = Math.max(inputs.length, outputOffset + outputs.length, 1);
  const portsBottom = headerHeight + padding + rows * rowHeight;
  const eventY = portsBottom + eventRowHeight / 2;
  const meterY = portsBottom + (hasEvents ? eventRowHeight : 0) + padding / 2;
  return {
    width: moduleWidth,
    outputOffset,
    height: meterY + meterHeight + scaleHeight + padding,
    headerHeight,
    eventY,
    meterY,
    meterHeight,
  };
}

export function portY(index) {
  return headerHeight + padding + index * rowHeight + rowHeight / 2;
}

// A cable leaves an output to the right and enters an input from the left.
export function cablePath(x1, y1, x2, y2) {
  const reach = Math.max(40, Math.min(240, Math.abs(x2 - x1) / 2 + Math.abs(y2 - y1) / 6));
  return `M${x1.toFixed(1)},${y1.toFixed(1)} C${(x1 + reach).toFixed(1)},${y1.toFixed(1)} ${(x2 - reach).toFixed(1)},${y2.toFixed(1)} ${x2.toFixed(1)},${y2.toFixed(1)}`;
}

// Peak (linear) to the share of a meter that lights: -60 dBFS and below is dark, 0 dBFS is full.
export function meterFraction(peak) {
  if (!(peak > 0)) return 0;
  return dbFraction(20 * Math.log10(peak));
}

export function dbFraction(db) {
  return Math.min(1, Math.max(0, (db + 60) / 60));
}

export function peakText(peak) {
  return peak > 0 ? `${(20 * Math.log10(peak)).toFixed(1)} dBFS` : '−∞ dBFS';
}

// The highest peak of the last updates: it stands for a number of status updates (1.5 s at the
// page's poll rate), then follows the level down.
const holdUpdates = 15;

export class PeakHold {
  constructor() {
    this.value = 0;
    this.age = 0;
  }

  update(peak) {
    if (peak >= this.value || this.age >= holdUpdates) {
      this.value = peak;
      this.age = 0;
    } else {
      this.age += 1;
    }
    return this.value;
  }
}

// The place nearest to wanted, searched outwards on a grid, where a box of the size keeps a gap
// to every one of boxes ({ x, y, width, height }) and stays inside the patch's top-left corner.
export function freePlace(boxes, size, wanted, gap = 30) {
  const step = 20;
  const overlaps = (x, y) =>
    boxes.some((box) => x < box.x + box.width + gap && box.x < x + size.width + gap && y < box.y + box.height + gap && box.y < y + size.height + gap);
  const start = { x: Math.max(0, Math.round(wanted.x)), y: Math.max(0, Math.round(wanted.y)) };
  for (let ring = 0; ring <= 400; ring += 1) {
    let best = null;
    for (let dx = -ring; dx <= ring; dx += 1) {
      // Only the ring's edge: its inside was searched before.
      const dys = Math.abs(dx) === ring ? Array.from({ length: 2 * ring + 1 }, (_, index) => index - ring) : [-ring, ring];
      for (const dy of dys) {
        const x = start.x + dx * step;
        const y = start.y + dy * step;
        const distance = Math.hypot(dx, dy);
        if (x < 0 || y < 0 || (best && best.distance <= distance) || overlaps(x, y)) continue;
        best = { x, y, distance };
      }
    }
    if (best) return { x: best.x, y: best.y };
  }
  return start;
}
