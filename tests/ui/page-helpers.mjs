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

// Counts the pixels of a part of the page (a screenshot clip) that show the colour within the
// tolerance on each channel; the PNG is decoded by the page's own image decoder.
export async function countColour(page, clip, [red, green, blue], tolerance = 24) {
  const png = await page.screenshot({ clip });
  return page.evaluate(
    async ({ data, target, tolerance: within }) => {
      const image = new Image();
      image.src = `data:image/png;base64,${data}`;
      await image.decode();
      const canvas = document.createElement('canvas');
      canvas.width = image.width;
      canvas.height = image.height;
      const context = canvas.getContext('2d');
      context.drawImage(image, 0, 0);
      const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
      let count = 0;
      for (let index = 0; index < pixels.length; index += 4) {
        if (target.every((value, channel) => Math.abs(pixels[index + channel] - value) <= within)) count += 1;
      }
      return count;
    },
    { data: png.toString('base64'), target: [red, green, blue], tolerance },
  );
}
