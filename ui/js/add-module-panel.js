// Adds one module of any type with its configuration, as one "graph" command.

import { configurationForm } from './config-form.js';
import { element, labelled, showMessage } from './html.js';
import { moduleTypes, moduleType, runningValue } from './module-types.js';
import { moduleWidth } from './patch-geometry.js';

function defaultConfiguration(typeEntry) {
  const configuration = {};
  for (const field of typeEntry.fields) {
    const value = runningValue(field, configuration);
    if (value !== undefined && !(Array.isArray(value) && value.length === 0)) configuration[field.key] = value;
  }
  return configuration;
}

export function addModulePanel(container, model, view) {
  const typeSelect = element('select', {}, moduleTypes.map((entry) => element('option', { value: entry.type }, entry.label)));
  const nameInput = element('input', { type: 'text', spellcheck: 'false', autocomplete: 'off' });
  const fields = element('div');
  const message = element('p', { className: 'form-error', role: 'alert', hidden: true });
  const addButton = element('button', { type: 'submit', className: 'primary' }, 'Add module');
  let form = null;

  function rebuild() {
    const entry = moduleType(typeSelect.value);
    form = configurationForm(entry, defaultConfiguration(entry));
    fields.replaceChildren(form.element);
    nameInput.placeholder = model.uniqueId(entry.type);
    message.hidden = true;
  }

  async function add(event) {
    event.preventDefault();
    const type = typeSelect.value;
    addButton.disabled = true;
    try {
      const configuration = await form.read(message);
      if (!configuration) return;
      const id = nameInput.value.trim() || model.uniqueId(type);
      const centre = view.visibleCentre();
      await model.addModule(id, type, configuration, { x: centre.x - moduleWidth / 2, y: centre.y - 100 });
      nameInput.value = '';
      nameInput.placeholder = model.uniqueId(type);
      // The new module's box and its controls come into view, the keyboard on its first field.
      view.reveal(id);
      view.open(id);
    } catch (error) {
      showMessage(message, `Could not add the ${moduleType(type).plugin ? 'plug-in' : 'module'}. ${error.message}`);
    } finally {
      addButton.disabled = false;
    }
  }

  typeSelect.addEventListener('change', rebuild);
  model.addEventListener('patch', () => {
    nameInput.placeholder = model.uniqueId(typeSelect.value);
  });
  const formElement = element(
    'form',
    { className: 'add-module', onsubmit: add },
    labelled('Module type', typeSelect),
    labelled('Name', nameInput, 'Leave empty for the next free name.'),
    fields,
    addButton,
    message,
  );
  container.append(formElement);
  rebuild();
}
