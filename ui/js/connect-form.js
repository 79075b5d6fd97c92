// The panel's row that joins one of a module's outputs to an input of another module. It offers
// only the inputs a cable from the chosen output can reach; an input that already takes a cable
// names it, and connecting there replaces that cable in one edit, as an input takes one cable.

import { element, labelled } from './html.js';
import { sameCable } from './patch-model.js';

export function channelWords(channels) {
  const count = Number(channels);
  return count === 1 ? 'mono' : count === 2 ? 'stereo' : `${count} channels`;
}

// The module and every module whose sound or events reach it: a cable from it into any of them
// would send the signal round in a loop.
function feedingModules(graph, id) {
  const found = new Set([id]);
  const waiting = [id];
  const cables = [...graph.cables, ...graph.eventCables];
  while (waiting.length > 0) {
    const current = waiting.pop();
    for (const cable of cables) {
      if (cable.to === current && !found.has(cable.from)) {
        found.add(cable.from);
        waiting.push(cable.from);
      }
    }
  }
  return found;
}

// The inputs of other modules that a cable from the output can go to, each with the cable that
// feeds it now (or null): same width, no loop, and not already fed by this very output.
export function cableTargets(model, from, output) {
  const source = model.nodePorts(from).outputs.find((port) => port.id === output);
  if (!source) return [];
  const feeding = feedingModules(model.graph, from);
  const targets = [];
  for (const node of model.graph.nodes) {
    if (feeding.has(node.id)) continue;
    for (const port of model.nodePorts(node.id).inputs) {
      if (Number(port.channels) !== Number(source.channels)) continue;
      const held = model.graph.cables.find((cable) => cable.to === node.id && cable.input === port.id) || null;
      if (held && sameCable(held, { from, output, to: node.id, input: port.id })) continue;
      targets.push({ node: node.id, port, held });
    }
  }
  return targets;
}

// attempt(action, lead): runs the edit and shows a refusal after the lead's plain words.
export function connectRow(model, node, attempt) {
  const outputs = model.nodePorts(node.id).outputs;
  const source = element('select', { 'data-key': 'connect-from' }, outputs.map((port) => element('option', { value: port.id }, `${port.name || port.id} · ${channelWords(port.channels)}`)));
  const target = element('select', { 'data-key': 'connect-to' });
  const button = element('button', { type: 'button', 'data-key': 'connect' });
  const hint = element('p', { className: 'hint connect-hint' });
  let targets = [];

  const jack = (id, side, port) => `${id} · ${model.portName(id, side, port)}`;
  const chosen = () => targets[Number(target.value)];
  const describe = () => {
    const entry = chosen();
    button.disabled = !entry;
    button.textContent = entry && entry.held ? 'Replace cable' : 'Connect';
    if (!entry) hint.textContent = `No input can take this output: the others have another number of channels, or would send the sound back into ${node.id}.`;
    else if (entry.held) hint.textContent = `An input takes one cable: this one takes the place of the cable from ${jack(entry.held.from, 'outputs', entry.held.output)}.`;
    else hint.textContent = '';
    hint.hidden = hint.textContent === '';
  };
  const offer = () => {
    targets = cableTargets(model, node.id, source.value);
    target.replaceChildren(
      ...targets.map((entry, index) => {
        const now = entry.held ? ` · now from ${jack(entry.held.from, 'outputs', entry.held.output)}` : '';
        return element('option', { value: index }, `${jack(entry.node, 'inputs', entry.port.id)}${now}`);
      }),
    );
    describe();
  };
  const connect = () => {
    const entry = chosen();
    if (!entry) return;
    const cable = { from: node.id, output: source.value, to: entry.node, input: entry.port.id };
    if (entry.held) attempt(() => model.replaceCable(entry.held, cable), 'Could not replace the cable.');
    else attempt(() => model.connect(cable.from, cable.output, cable.to, cable.input), 'Could not connect.');
  };
  source.addEventListener('change', offer);
  target.addEventListener('change', describe);
  button.addEventListener('click', connect);
  offer();
  return [element('div', { className: 'connect-row' }, labelled('From output', source), labelled('To input', target), button), hint];
}
