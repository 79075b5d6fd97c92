// The configuration controls of one module type, showing what the rack runs. Keys the form does
// not show (fader gains, a plug-in's captured state), and those of fields left as shown, are kept
// from the configuration it started from, so applying an untouched form changes nothing.

import { callRack } from './bridge.js';
import { element, labelled, showMessage } from './html.js';
import { clone } from './json-values.js';
import { faderStripCount, runningValue } from './module-types.js';
import { pathField } from './path-field.js';

function listText(value) {
  return Array.isArray(value) ? value.join(', ') : '';
}

function parseList(text, label) {
  const trimmed = text.trim();
  if (trimmed === '') return [];
  return trimmed.split(/[\s,]+/).map((item) => {
    const number = Number(item);
    if (!Number.isInteger(number)) throw new Error(`${label}: "${item}" is not a whole number.`);
    return number;
  });
}

function fieldControl(field, value) {
  switch (field.kind) {
    case 'count':
      return element('input', { type: 'number', min: field.min, max: field.max, step: 1, value: value ?? '' });
    case 'number':
      return element('input', { type: 'number', step: 'any', value: value ?? '' });
    case 'boolean':
      return element('input', { type: 'checkbox', checked: value === true });
    case 'list':
      return element('input', { type: 'text', value: listText(value), spellcheck: 'false' });
    case 'choice':
      return element('select', {}, field.choices.map((choice) => element('option', { value: choice, selected: choice === value }, choice)));
    default:
      return element('input', { type: 'text', value: value ?? '', spellcheck: 'false' });
  }
}

function controlState(control) {
  return control.type === 'checkbox' ? control.checked : control.value;
}

function readControl(field, control) {
  switch (field.kind) {
    case 'count': {
      const number = Number(control.value);
      if (control.value.trim() === '' || !Number.isInteger(number)) throw new Error(`${field.label} must be a whole number.`);
      return number;
    }
    case 'number': {
      const number = Number(control.value);
      if (control.value.trim() === '' || !Number.isFinite(number)) throw new Error(`${field.label} must be a number.`);
      // The rack would clamp a value outside its range without a word.
      if (number < field.min || number > field.max) throw new Error(`${field.label} must be between ${field.min} and ${field.max}.`);
      return number;
    }
    case 'boolean':
      return control.checked;
    case 'list':
      return parseList(control.value, field.label);
    default:
      return control.value;
  }
}

// VST3 class ids are hexadecimal, so letter case does not tell them apart; CLAP ids are exact.
function sameClass(idKey, left, right) {
  return idKey === 'classId' ? String(left).toUpperCase() === String(right).toUpperCase() : left === right;
}

// Plug-in files list their classes through "inspect"; the user picks one of them.
function pluginClassPicker(typeEntry, pathInput, control, initial) {
  const idKey = typeEntry.type === 'vst3' ? 'classId' : 'pluginId';
  const list = element('select', { 'aria-label': 'Plug-in class' }, element('option', { value: initial || '' }, initial || 'First class in the file'));
  const message = element('p', { className: 'form-error', role: 'alert', hidden: true });
  list.addEventListener('change', () => {
    control.value = list.value;
  });
  async function inspect() {
    message.hidden = true;
    try {
      const entries = await callRack('inspect', { path: pathInput.value });
      list.replaceChildren(
        ...entries.map((entry) => element('option', { value: entry[idKey] || '', selected: sameClass(idKey, entry[idKey], control.value) }, `${entry.name} (${entry.format})`)),
      );
      if (!entries.some((entry) => sameClass(idKey, entry[idKey], control.value)) && entries.length > 0) {
        control.value = entries[0][idKey] || '';
      }
    } catch (error) {
      showMessage(message, `Could not list the classes in this file. ${error.message}`);
    }
  }
  const button = element('button', { type: 'button', onclick: inspect }, 'Show classes');
  return { element: element('div', { className: 'plugin-classes' }, labelled('Classes in the file', list), button, message), inspect };
}

export function configurationForm(typeEntry, configuration = {}) {
  const controls = [];
  const container = element('div', { className: 'config-fields' });
  let pathWidget = null;
  for (const field of typeEntry.fields) {
    if (field.kind === 'path') {
      const pickers = [{ method: field.picker }];
      if (field.folderPicker) pickers.push({ method: field.folderPicker, label: 'Bundle folder…' });
      pathWidget = pathField(field.label, pickers, configuration[field.key] ?? '');
      pathWidget.input.dataset.key = `field-${field.key}`;
      container.append(pathWidget.element);
      controls.push({ field, control: pathWidget.input, widget: pathWidget });
      continue;
    }
    const control = fieldControl(field, runningValue(field, configuration));
    // A panel drawn again puts the keyboard back on the control of the same key.
    control.dataset.key = `field-${field.key}`;
    controls.push({ field, control });
    container.append(labelled(field.label, control));
  }
  if (typeEntry.plugin && pathWidget) {
    const idKey = typeEntry.type === 'vst3' ? 'classId' : 'pluginId';
    const idControl = controls.find((entry) => entry.field.key === idKey).control;
    idControl.closest('.field').hidden = true;
    const picker = pluginClassPicker(typeEntry, pathWidget.input, idControl, configuration[idKey]);
    container.append(picker.element);
    pathWidget.element.addEventListener('chosen', () => picker.inspect());
  }

  const shown = controls.map(({ control }) => controlState(control));

  function read() {
    const result = clone(configuration || {});
    for (const [index, { field, control }] of controls.entries()) {
      // An empty required field is refused even untouched.
      if (!field.required && controlState(control) === shown[index]) continue;
      const value = readControl(field, control);
      const empty = (typeof value === 'string' && value === '') || (Array.isArray(value) && value.length === 0);
      if (empty && field.required) throw new Error(`Choose ${field.label.toLowerCase()} first.`);
      if (empty && (field.optional || field.required)) {
        delete result[field.key];
        continue;
      }
      result[field.key] = value;
    }
    if (typeEntry.type === 'fader-bank') fitFaderArrays(result);
    return result;
  }

  // Typed media paths go through their picker before they are used, as a chosen file would.
  // Plug-in paths stay as typed: they are checked when their classes are listed.
  async function confirmPaths() {
    for (const { widget } of controls) {
      if (widget && !typeEntry.plugin && (await widget.confirmed()) === null) return false;
    }
    return true;
  }

  // The configuration, or null after showing why the fields cannot make one.
  async function readShowingError(message) {
    message.hidden = true;
    try {
      return (await confirmPaths()) ? read() : null;
    } catch (error) {
      showMessage(message, error.message);
      return null;
    }
  }

  return { element: container, read: readShowingError };
}

// A fader bank needs one channel entry per strip, or none for all stereo, and at most one gain
// and mute per strip.
function fitFaderArrays(configuration) {
  const strips = faderStripCount(configuration);
  if (Array.isArray(configuration.channels) && configuration.channels.length > 0) {
    const channels = configuration.channels.slice(0, strips);
    while (channels.length < strips) channels.push(2);
    configuration.channels = channels;
  }
  for (const key of ['gainsDb', 'mutes']) {
    if (Array.isArray(configuration[key])) configuration[key] = configuration[key].slice(0, strips);
  }
}
