// A file choice: a path field and a button that asks the view's picker. With a native dialog the
// field's text is where the dialog starts; without one the rack checks the typed path as if it had
// been chosen. Either way the answer's path lands in the field.

import { callRack, hasNativeDialogs } from './bridge.js';
import { element, labelled, showMessage } from './html.js';

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

  // The path the rack has seen: the one the field started with, or the picker's last answer.
  let accepted = initial;
  async function choose(method) {
    message.hidden = true;
    try {
      const result = await callRack(method, { current: input.value });
      if (result && result.cancelled) return false;
      input.value = result.path;
      accepted = result.path;
      field.dispatchEvent(new CustomEvent('chosen', { detail: { path: result.path } }));
      return true;
    } catch (error) {
      showMessage(message, `Could not use this file. ${error.message}`);
      return false;
    }
  }

  return {
    element: field,
    input,
    // The field's path once a picker has answered for it: a typed path goes to the first picker
    // as "current" and its answer replaces it. Null when the picker refused (the refusal is
    // shown under the field) or its dialog was cancelled.
    async confirmed() {
      if (input.value === '' || input.value === accepted) return input.value;
      return (await choose(pickers[0].method)) ? input.value : null;
    },
  };
}
