// A file choice: a path field and a button that asks the view's picker. With a native dialog the
// field's text is where the dialog starts; without one the rack checks the typed path as if it had
// been chosen. Either way the answer's path lands in the field.

import { callRack, hasNativeDialogs } from './bridge.js';
import { element, labelled } from './html.js';

// pickers: [{ method, label }]; the first is the main button.
export function pathField(labelText, pickers, initial = '') {
  const input = element('input', { type: 'text', className: 'path', value: initial, spellcheck: 'false', autocomplete: 'off' });
  const message = element('p', { className: 'form-error', role: 'alert', hidden: true });
  const buttons = pickers.map(({ method, label }) =>
    element('button', { type: 'button', onclick: () => choose(method) }, label || (hasNativeDialogs ? 'Browse…' : 'Use path')),
  );
  const field = labelled(labelText, input);
  field.classList.add('path-field');
  field.append(element('div', { className: 'path-buttons' }, buttons), message);

  let chosen = null;
  async function choose(method) {
    message.hidden = true;
    try {
      const result = await callRack(method, { current: input.value });
      if (result && result.cancelled) return;
      input.value = result.path;
      chosen = result.path;
      field.dispatchEvent(new CustomEvent('chosen', { detail: { path: result.path } }));
    } catch (error) {
      message.textContent = error.message;
      message.hidden = false;
    }
  }

  return {
    element: field,
    input,
    get value() {
      return input.value;
    },
    // The path the rack accepted last, when the field still shows it.
    get checkedPath() {
      return chosen !== null && chosen === input.value ? chosen : null;
    },
    showError(text) {
      message.textContent = text;
      message.hidden = false;
    },
  };
}
