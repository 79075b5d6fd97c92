// Saves and opens ".vkrack" projects through the view's "saveProject" and "loadProject".

import { callRack, hasNativeDialogs } from './bridge.js';
import { element, labelled } from './html.js';

export function projectPanel(container, model) {
  const input = element('input', { type: 'text', className: 'path', spellcheck: 'false', autocomplete: 'off', placeholder: 'project.vkrack' });
  const message = element('p', { className: 'form-error', role: 'alert', hidden: true });
  const done = element('p', { className: 'form-note', role: 'status' });

  // An empty field leaves the start at the project saved or opened last.
  function params() {
    return input.value.trim() === '' ? {} : { current: input.value };
  }

  async function run(action) {
    message.hidden = true;
    done.textContent = '';
    try {
      await action();
    } catch (error) {
      message.textContent = error.message;
      message.hidden = false;
    }
  }

  const save = () =>
    run(async () => {
      const result = await callRack('saveProject', params());
      if (result.cancelled) return;
      input.value = result.path;
      done.textContent = `Saved ${result.path}`;
    });

  const open = () =>
    run(async () => {
      const path = input.value;
      const result = await callRack('loadProject', params());
      if (result && result.cancelled === true && !result.project) return;
      model.applyState(result);
      done.textContent = path ? `Opened ${path}` : 'Project opened';
    });

  container.append(
    labelled(hasNativeDialogs ? 'Project file (where the dialog starts)' : 'Project file', input),
    element('div', { className: 'path-buttons' },
      element('button', { type: 'button', onclick: save }, 'Save project'),
      element('button', { type: 'button', onclick: open }, 'Open project')),
    message,
    done,
  );
}
