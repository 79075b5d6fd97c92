// Small helpers for building markup and elements from text that may hold anything.

export function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (character) => `&#${character.charCodeAt(0)};`);
}

// Creates an element with attributes (on* keys become listeners) and children.
export function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (key.startsWith('on') && typeof value === 'function') {
      node.addEventListener(key.slice(2), value);
    } else if (key === 'className') {
      node.className = value;
    } else if (key === 'value') {
      node.value = value;
    } else if (key === 'checked') {
      node.checked = Boolean(value);
    } else {
      node.setAttribute(key, value === true ? '' : String(value));
    }
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

let uniqueCounter = 0;

export function uniqueElementId(prefix) {
  uniqueCounter += 1;
  return `${prefix}-${uniqueCounter}`;
}

// A labelled control: the label names the control for screen readers and for tests.
export function labelled(labelText, control, hint) {
  if (!control.id) control.id = uniqueElementId('field');
  return element('div', { className: 'field' }, element('label', { for: control.id }, labelText), control, hint ? element('span', { className: 'hint' }, hint) : null);
}

// Shows text on a message line and hides the other message lines of its form: one current
// message per form, replaced on the next try.
export function showMessage(line, text) {
  const form = line.closest('form');
  if (form) for (const other of form.querySelectorAll('.form-error')) other.hidden = true;
  line.textContent = text;
  line.hidden = false;
}

export function formatNumber(value, digits = 1) {
  return Number.isFinite(value) ? value.toFixed(digits) : '–';
}
