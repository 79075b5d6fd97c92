// Finding the page's patch drawing and acting on it the way a user does.

export function moduleBox(page, id) {
  return page.locator(`svg.patch g.module[data-node="${id}"]`);
}

// kind: input, output, event-input, event-output
export function jack(page, id, kind, port) {
  const selector = port === undefined ? `g.port.${kind}` : `g.port.${kind}[data-port="${port}"]`;
  return moduleBox(page, id).locator(`${selector} ${kind.startsWith('event') ? 'path' : 'circle'}`);
}

export async function portLabels(page, id) {
  const texts = (kind) => moduleBox(page, id).locator(`g.port.${kind} text`).allTextContents();
  return { inputs: await texts('input'), outputs: await texts('output') };
}

export async function dragBetween(page, from, to) {
  const start = await from.boundingBox();
  const end = await to.boundingBox();
  await page.mouse.move(start.x + start.width / 2, start.y + start.height / 2);
  await page.mouse.down();
  await page.mouse.move((start.x + end.x) / 2, (start.y + end.y) / 2, { steps: 4 });
  await page.mouse.move(end.x + end.width / 2, end.y + end.height / 2, { steps: 4 });
  await page.mouse.up();
}

// Moves a module by its title, as a user drags it.
export async function dragModule(page, id, dx, dy) {
  const start = await moduleBox(page, id).locator('text.title').boundingBox();
  await page.mouse.move(start.x + 5, start.y + 5);
  await page.mouse.down();
  await page.mouse.move(start.x + 5 + dx / 2, start.y + 5 + dy / 2, { steps: 5 });
  await page.mouse.move(start.x + 5 + dx, start.y + 5 + dy, { steps: 5 });
  await page.mouse.up();
}
