// The side panel beside the patch: hidden and shown by a button, and made wider or narrower by
// dragging its edge or with the arrow keys on it, always leaving the patch a usable width.

const minimumPanel = 260;
const minimumPatch = 320;
const keyStep = 32;

export function panelLayout(workspace, panel, resizer, toggle, onChange) {
  function clampWidth(width) {
    const most = Math.max(minimumPanel, workspace.clientWidth - minimumPatch);
    return Math.round(Math.min(most, Math.max(minimumPanel, width)));
  }

  function setWidth(width) {
    const next = clampWidth(width);
    panel.style.width = `${next}px`;
    resizer.setAttribute('aria-valuenow', String(next));
    onChange();
  }

  function setOpen(open) {
    panel.hidden = !open;
    resizer.hidden = !open;
    toggle.textContent = open ? 'Hide panel' : 'Show panel';
    toggle.setAttribute('aria-expanded', open ? 'true' : 'false');
    onChange();
  }

  toggle.addEventListener('click', () => setOpen(panel.hidden));

  resizer.addEventListener('pointerdown', (event) => {
    if (event.button !== 0) return;
    event.preventDefault();
    resizer.setPointerCapture(event.pointerId);
    const startX = event.clientX;
    const startWidth = panel.offsetWidth;
    const move = (moved) => setWidth(startWidth + startX - moved.clientX);
    const end = () => {
      resizer.removeEventListener('pointermove', move);
      resizer.removeEventListener('pointerup', end);
      resizer.removeEventListener('pointercancel', end);
    };
    resizer.addEventListener('pointermove', move);
    resizer.addEventListener('pointerup', end);
    resizer.addEventListener('pointercancel', end);
  });

  resizer.addEventListener('keydown', (event) => {
    const change = { ArrowLeft: keyStep, ArrowRight: -keyStep }[event.key];
    if (change === undefined) return;
    event.preventDefault();
    setWidth(panel.offsetWidth + change);
  });

  // A window made narrower never leaves the panel wider than the patch allows.
  window.addEventListener('resize', () => {
    if (!panel.hidden && panel.style.width) setWidth(panel.offsetWidth);
  });
}
