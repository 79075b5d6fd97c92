// Hosted plug-ins from the page, against the project's real test plug-ins: a file is checked by
// the view's pickers and listed by "inspect", the chosen class is added with one "graph"
// command, and the module panel shows the rack's parameters and opens the plug-in's editor.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, describe, it } from 'node:test';
import { callBridge, pageFixture, openRackPage, poll, recordRequests, scratchFolder, testPlugins } from './harness.mjs';
import { moduleBox, portLabels } from './page-helpers.mjs';

// The VST3 test plug-in appends what it is asked to do to this file; every rack of the suite
// inherits it.
const folder = scratchFolder();
const pluginLog = path.join(folder, 'vst3.log');
process.env.VELKAPHON_TEST_VST3_LOG = pluginLog;

const vst3Class = (index) => `564B54455354565354000000000000${index.toString(16).toUpperCase().padStart(2, '0')}`;
const vst3Gain = vst3Class(0);
const vst3Latency = vst3Class(1);
const vst3NoController = vst3Class(4);

function addForm(page) {
  return page.locator('form.add-module');
}

async function chooseType(page, type) {
  await page.getByLabel('Module type').selectOption(type);
}

async function classOptions(form) {
  return form.getByLabel('Plug-in class').locator('option').evaluateAll((options) => options.map((option) => ({ value: option.value, text: option.textContent })));
}

// What the class list should hold for the entries "inspect" answered.
function listedEntries(entries, idKey) {
  return entries.map((entry) => ({ value: entry[idKey], text: `${entry.name} (${entry.format})` }));
}

// Lists the classes again and waits until the list the rack answered replaced the old one.
async function showClassesAgain(form) {
  const list = form.getByLabel('Plug-in class');
  await list.evaluate((select) => {
    for (const option of select.options) option.dataset.before = '';
  });
  await form.getByRole('button', { name: 'Show classes' }).click();
  await poll(() => list.evaluate((select) => select.options.length > 0 && !('before' in select.options[0].dataset)));
}

// Adds what the form describes under a name; answers the node that its one "graph" command sent.
async function addFromForm(page, requests, name) {
  const form = addForm(page);
  await form.getByLabel('Name', { exact: true }).fill(name);
  await form.getByRole('button', { name: 'Add module' }).click();
  await moduleBox(page, name).waitFor();
  const edits = requests.filter((request) => request.method === 'graph');
  assert.equal(edits.length, 1);
  return edits[0].params.nodes.at(-1);
}

async function addPlugins(rack, nodes) {
  const graph = (await callBridge(rack, 'state')).project.graph;
  await callBridge(rack, 'graph', { ...graph, nodes: [...graph.nodes, ...nodes] });
}

async function selectModule(page, id) {
  await moduleBox(page, id).locator('text.title').click();
  await page.locator('#module-panel h3', { hasText: id }).waitFor();
}

function pluginSection(page) {
  return page.locator('#module-panel section.panel-section', { has: page.locator('h4', { hasText: 'Plug-in' }) });
}

async function liveValue(rack, node, id) {
  const entry = (await callBridge(rack, 'status')).parameters[node].find((parameter) => parameter.id === id);
  return entry.value;
}

describe('hosted plug-ins', () => {
  const fixture = pageFixture();
  after(() => {
    fs.rmSync(folder, { recursive: true, force: true });
  });

  it('checks a typed CLAP path with "pickPlugin" and lists the plug-ins "inspect" reports, as the rack names them', async () => {
    const { page, errors } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await chooseType(page, 'clap');
    const form = addForm(page);
    assert.equal(await form.getByLabel('Plug-in', { exact: true }).isHidden(), true, 'the raw id field stays hidden');
    await form.getByLabel('CLAP file').fill(testPlugins.clap);
    await form.getByRole('button', { name: 'Use path' }).click();

    const entries = await callBridge(fixture.rack, 'inspect', { path: testPlugins.clap });
    await poll(async () => (await classOptions(form)).length === entries.length);
    assert.deepEqual(await classOptions(form), listedEntries(entries, 'pluginId'));
    assert.ok(entries.some((entry) => entry.name.includes('\uFFFD')), 'a name that was not UTF-8 is shown as the rack replaced it');
    assert.deepEqual(requests.map((request) => request.method).filter((method) => method !== 'status'), ['pickPlugin', 'inspect']);
    assert.deepEqual(requests.find((request) => request.method === 'pickPlugin').params, { current: testPlugins.clap });
    assert.deepEqual(requests.find((request) => request.method === 'inspect').params, { path: testPlugins.clap });
    assert.equal(await form.getByLabel('Plug-in class').inputValue(), 'velkaphon.test.gain', 'the first plug-in is chosen');

    await form.getByLabel('Plug-in class').selectOption({ label: 'Test Editor (CLAP)' });
    assert.deepEqual(await addFromForm(page, requests, 'editor'), { id: 'editor', type: 'clap', configuration: { path: testPlugins.clap, pluginId: 'velkaphon.test.gui' } });
    assert.deepEqual(await portLabels(page, 'editor'), { inputs: ['Main In · 2'], outputs: ['Main Out · 2'] });
    assert.deepEqual(errors, []);
  });

  it('takes a VST3 bundle as a folder, keeps the chosen class when the classes are listed again, and adds it with its ports', async () => {
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await chooseType(page, 'vst3');
    const form = addForm(page);
    const pathField = form.locator('.path-field');
    await form.getByLabel('VST3 module or bundle').fill(testPlugins.vst3);
    await form.getByRole('button', { name: 'Use path' }).click();
    await pathField.locator('.form-error', { hasText: 'The selected file does not exist.' }).waitFor();
    assert.equal(requests.filter((request) => request.method === 'inspect').length, 0, 'a refused path is not inspected');

    await form.getByRole('button', { name: 'Bundle folder…' }).click();
    const entries = await callBridge(fixture.rack, 'inspect', { path: testPlugins.vst3 });
    await poll(async () => (await classOptions(form)).length === entries.length);
    assert.equal(await pathField.locator('.form-error').isHidden(), true);
    assert.deepEqual(requests.find((request) => request.method === 'pickPluginFolder').params, { current: testPlugins.vst3 });
    assert.deepEqual(await classOptions(form), listedEntries(entries, 'classId'));
    assert.equal(entries[0].name, 'Test Gain');
    assert.equal(entries[0].classId, vst3Gain);

    await form.getByLabel('Plug-in class').selectOption({ label: 'Test Latency (VST3)' });
    await showClassesAgain(form);
    assert.equal(requests.filter((request) => request.method === 'inspect').length, 2);
    assert.deepEqual(await classOptions(form), listedEntries(entries, 'classId'));
    assert.equal(await form.getByLabel('Plug-in class').inputValue(), vst3Latency);

    await form.getByLabel('Plug-in class').selectOption({ label: 'Test Gain (VST3)' });
    assert.deepEqual(await addFromForm(page, requests, 'gain'), { id: 'gain', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3Gain, precision: 'auto' } });
    assert.deepEqual(await portLabels(page, 'gain'), { inputs: ['Audio In 0 · 2'], outputs: ['Audio Out 0 · 2'] });
    await page.locator('#module-panel h3', { hasText: 'gain' }).waitFor();
  });

  it('shows the class a module runs in its configuration, also when its id is written in lower case', async () => {
    await addPlugins(fixture.rack, [{ id: 'latency', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3Latency.toLowerCase() } }]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'latency');
    const requests = recordRequests(page);
    const form = page.locator('#module-panel form', { has: page.getByRole('button', { name: 'Apply configuration' }) });
    await showClassesAgain(form);
    assert.equal(await form.getByLabel('Plug-in class').inputValue(), vst3Latency);
    await form.getByLabel('Precision').selectOption('float64');
    await form.getByRole('button', { name: 'Apply configuration' }).click();
    await poll(() => requests.some((request) => request.method === 'graph'));
    const sent = requests.find((request) => request.method === 'graph').params.nodes.find((node) => node.id === 'latency');
    assert.equal(sent.configuration.classId, vst3Latency.toLowerCase(), 'the class stays as the patch names it');
    assert.equal(sent.configuration.precision, 'float64');
  });

  it('lists the parameters the rack reports; moving one sends "parameter" and the rack reports the new value', async () => {
    await addPlugins(fixture.rack, [{ id: 'gain', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3Gain } }]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'gain');
    const section = pluginSection(page);
    const reported = (await callBridge(fixture.rack, 'state')).ports.gain.parameters;
    assert.deepEqual(await section.locator('.parameter > span').allTextContents(), reported.map((parameter) => parameter.name + (parameter.unit ? ` (${parameter.unit})` : '')));
    assert.deepEqual(await section.locator('.parameter > span').allTextContents(), ['Gain (x)', 'Meter']);
    assert.deepEqual(await section.locator('.parameter output').allTextContents(), ['0.500', '0.500']);
    assert.equal(await section.getByLabel('Meter').isDisabled(), true, 'a read-only parameter cannot be moved');

    const requests = recordRequests(page);
    const gain = section.getByLabel('Gain');
    await gain.focus();
    await page.keyboard.press('End');
    await page.keyboard.press('ArrowLeft');
    await poll(async () => (await liveValue(fixture.rack, 'gain', 1000)) === 0.999);
    const sent = requests.filter((request) => request.method === 'parameter').map((request) => request.params);
    assert.deepEqual(sent.at(0), { node: 'gain', parameter: 1000, value: 1 });
    assert.deepEqual(sent.at(-1), { node: 'gain', parameter: 1000, value: 0.999 });
    assert.equal(await liveValue(fixture.rack, 'gain', 1001), 0.5, 'the other parameter is left alone');
    const node = (await callBridge(fixture.rack, 'state')).project.graph.nodes.find((entry) => entry.id === 'gain');
    assert.deepEqual(node.configuration.parameters, [{ id: 1000, value: 0.999 }]);

    // A change the page did not make shows once the page has polled it.
    await gain.blur();
    await callBridge(fixture.rack, 'parameter', { node: 'gain', parameter: 1000, value: 0.25 });
    await section.locator('.parameter output').first().filter({ hasText: '0.250' }).waitFor();
    assert.equal(await gain.inputValue(), '0.25');
  });

  it('sets a CLAP parameter by its own id in its own units, and the rack reports it', async () => {
    await addPlugins(fixture.rack, [{ id: 'level', type: 'clap', configuration: { path: testPlugins.clap, pluginId: 'velkaphon.test.gain' } }]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'level');
    const section = pluginSection(page);
    assert.deepEqual(await section.locator('.parameter > span').allTextContents(), ['Gain']);
    assert.deepEqual(await section.locator('.parameter output').allTextContents(), ['1.000']);

    // The test gain runs 0..2 in its own units: the page passes a typed value as it stands.
    const requests = recordRequests(page);
    const gain = section.getByLabel('Gain');
    await gain.fill('1.75');
    await gain.press('Enter');
    await poll(async () => (await liveValue(fixture.rack, 'level', 100)) === 1.75);
    await gain.fill('');
    await gain.press('Tab');
    await gain.fill('0');
    await gain.press('Enter');
    await poll(async () => (await liveValue(fixture.rack, 'level', 100)) === 0);
    assert.deepEqual(requests.filter((request) => request.method === 'parameter').map((request) => request.params), [
      { node: 'level', parameter: 100, value: 1.75 },
      { node: 'level', parameter: 100, value: 0 },
    ]);
    await section.locator('.parameter output', { hasText: '0.000' }).waitFor();
  });

  it('keeps thousands of parameters in place between polls and updates only the one the rack moved', async () => {
    await addPlugins(fixture.rack, [{ id: 'many', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3Class(10) } }]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'many');
    const section = pluginSection(page);
    assert.equal(await section.locator('input[type=range]').count(), 4096);
    await page.evaluate(() => {
      window.changedReadouts = [];
      new MutationObserver((records) => {
        for (const record of records) window.changedReadouts.push(record.target.closest('.parameter').querySelector('input').dataset.key);
      }).observe(document.querySelector('#module-panel .parameters'), { childList: true, subtree: true, characterData: true });
    });
    let polls = 0;
    page.on('requestfinished', (request) => {
      if (request.url().endsWith('/bridge') && JSON.parse(request.postData()).method === 'status') polls += 1;
    });
    await poll(() => polls >= 3);
    assert.deepEqual(await page.evaluate(() => window.changedReadouts), [], 'polls that bring the same values change nothing');

    await callBridge(fixture.rack, 'parameter', { node: 'many', parameter: 1000 + 4095, value: 0.125 });
    await section.locator('.parameter', { has: page.getByLabel('Parameter 4095') }).locator('output', { hasText: '0.125' }).waitFor();
    assert.equal(await section.getByLabel('Parameter 4095').inputValue(), '0.125');
    assert.deepEqual([...new Set(await page.evaluate(() => window.changedReadouts))], ['parameter-5095']);
  });

  it('restarts a plug-in that asks for new latency after a parameter change and says which one', async () => {
    await addPlugins(fixture.rack, [{ id: 'restarts', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3Class(8) } }]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'restarts');
    const rackError = page.locator('#transport .rack-error');
    assert.equal(await rackError.isHidden(), true);
    await pluginSection(page).getByLabel('Gain').focus();
    await page.keyboard.press('End');
    const restarted = 'Plugin restarts asked for new ports or latency and was restarted.';
    await rackError.filter({ hasText: restarted }).waitFor();
    const status = await callBridge(fixture.rack, 'status');
    assert.equal(status.error, restarted);
    assert.equal(status.parameters.restarts[0].value, 1, 'the restarted plug-in keeps the value that moved its latency');
  });

  it('says so when a plug-in shows no parameters', async () => {
    await addPlugins(fixture.rack, [{ id: 'bare', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3NoController } }]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    await selectModule(page, 'bare');
    await pluginSection(page).locator('.empty', { hasText: 'This plug-in shows no parameters.' }).waitFor();
    assert.equal(await pluginSection(page).locator('input[type=range]').count(), 0);
  });

  it('opens the editor of a class that has one and shows the rack\'s refusal for a class without', async () => {
    await addPlugins(fixture.rack, [
      { id: 'gain', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3Gain } },
      { id: 'latency', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3Latency } },
      { id: 'bare', type: 'vst3', configuration: { path: testPlugins.vst3, classId: vst3NoController } },
      { id: 'screen', type: 'clap', configuration: { path: testPlugins.clap, pluginId: 'velkaphon.test.gui' } },
      { id: 'level', type: 'clap', configuration: { path: testPlugins.clap, pluginId: 'velkaphon.test.gain' } },
    ]);
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const openEditor = async (id) => {
      await selectModule(page, id);
      const answer = page.waitForResponse((response) => response.url().endsWith('/bridge') && JSON.parse(response.request().postData()).method === 'editor');
      await pluginSection(page).getByRole('button', { name: 'Open plug-in editor' }).click();
      const reply = await (await answer).json();
      assert.deepEqual(JSON.parse((await answer).request().postData()).params, { node: id });
      return reply;
    };
    const refusal = () => pluginSection(page).locator('.form-error');

    fs.writeFileSync(pluginLog, '');
    assert.equal((await openEditor('gain')).ok, true);
    assert.equal(await refusal().isHidden(), true);
    const lines = fs.readFileSync(pluginLog, 'utf8').split('\n');
    assert.ok(lines.includes('view attached'), 'the plug-in attached its view to the editor window');
    assert.ok(lines.includes('view size 320x200'));

    assert.equal((await openEditor('latency')).ok, false);
    await refusal().filter({ hasText: 'Plugin has no native editor; use parameters.' }).waitFor();
    assert.ok(fs.readFileSync(pluginLog, 'utf8').split('\n').includes('view removed'), 'the open editor closed first');

    assert.equal((await openEditor('bare')).ok, false);
    await refusal().filter({ hasText: 'Plugin has no controller/editor.' }).waitFor();

    assert.equal((await openEditor('screen')).ok, true);
    assert.equal(await refusal().isHidden(), true);

    assert.equal((await openEditor('level')).ok, false);
    await refusal().filter({ hasText: 'Plugin has no embedded Windows editor; use parameters.' }).waitFor();
  });

  it('shows the rack\'s refusal of a file that is not a plug-in beside its field and adds nothing', async () => {
    const notes = path.join(folder, 'notes.txt');
    fs.writeFileSync(notes, 'not a plug-in');
    const fake = path.join(folder, 'fake.clap');
    fs.writeFileSync(fake, 'not a plug-in either');
    const { page } = await openRackPage(fixture.browser, fixture.rack);
    const requests = recordRequests(page);
    await chooseType(page, 'clap');
    const form = addForm(page);
    const pathField = form.locator('.path-field');
    await form.getByLabel('CLAP file').fill(notes);
    await form.getByRole('button', { name: 'Use path' }).click();
    await pathField.locator('.form-error', { hasText: 'Could not use this file. Choose a .vst3 or .clap Windows x64 plugin file.' }).waitFor();
    await form.getByRole('button', { name: 'Show classes' }).click();
    await form.locator('.plugin-classes .form-error', { hasText: 'Choose a Windows x64 VST3 or CLAP plugin. VST2/AU/AAX are not supported in this release.' }).waitFor();

    // A file with the right name passes the picker; loading it is what fails.
    await form.getByLabel('CLAP file').fill(fake);
    await form.getByRole('button', { name: 'Use path' }).click();
    await form.locator('.plugin-classes .form-error', { hasText: /^Could not list the classes in this file\. Cannot load CLAP module; / }).waitFor();
    assert.equal(await pathField.locator('.form-error').isHidden(), true);
    await form.getByRole('button', { name: 'Add module' }).click();
    await form.locator(':scope > .form-error', { hasText: /^Could not add the plug-in\. Cannot load CLAP module; / }).waitFor();
    assert.equal(await form.locator('.form-error:visible').count(), 1, 'one current message in the form');

    assert.equal(requests.filter((request) => request.method === 'graph').length, 1);
    assert.deepEqual((await callBridge(fixture.rack, 'state')).project.graph.nodes.map((node) => node.id), ['input', 'faders', 'output']);
    assert.equal(await page.locator('svg.patch g.module').count(), 3);
  });
});
