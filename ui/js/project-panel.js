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

  // lead: what did not happen, in plain words, said before the rack's own text.
  async function run(action, lead) {
    message.hidden = true;
    done.textContent = '';
    try {
      await action();
    } catch (error) {
      message.textContent = `${lead} ${error.message}`;
      message.hidden = false;
    }
  }

  const save = () =>
    run(async () => {
      const result = await callRack('saveProject', params());
      if (result.cancelled) {
        // Without a dialog nothing else would tell why nothing was saved.
        if (!hasNativeDialogs) throw new Error('Type the project file\'s path first.');
        return;
      }
      model.markSaved();
      input.value = result.path;
      done.textContent = `Saved ${result.path}`;
    }, 'Could not save the project.');

  const open = () =>
    run(async () => {
      if (model.unsavedEdits && !window.confirm('Open another project? The changes to this patch since it was last saved will be lost.')) return;
      const path = input.value;
      const result = await model.openProject(params());
      if (!result) return;
      done.textContent = path ? `Opened ${path}` : 'Project opened';
    }, 'Could not open the project.');

  container.append(
    labelled(hasNativeDialogs ? 'Project file (where the dialog starts)' : 'Project file', input),
    element('div', { className: 'path-buttons' },
      element('button', { type: 'button', onclick: save }, 'Save project'),
      element('button', { type: 'button', onclick: open }, 'Open project')),
    message,
    done,
  );
}
