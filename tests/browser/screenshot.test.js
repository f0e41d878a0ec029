'use strict';
// A picture of a rewritten sample page, saved under the build folder as browser/page.png.
const { skipUnlessChromium, openHarness } = require('./harness');

skipUnlessChromium();

const assert = require('node:assert/strict');
const path = require('node:path');
const { test, before, after } = require('node:test');
const texts = require('./page_texts');

const buildDir = process.env.CLIPINDEX_BUILD_DIR || path.join(__dirname, '..', '..', 'build', 'host');
const pictureFile = path.join(buildDir, 'browser', 'page.png');
const viewport = { width: 960, height: 540 };

let harness;
before(async () => { harness = await openHarness(); });
after(async () => { if (harness) await harness.close(); });

test('the rewritten page fills the window: the list on the left, the frame on the right', async () => {
  const sample = await harness.runPage({ pageBytes: texts.readPage(), sampleUrl: '/samples/movies.html', viewport });
  // The list takes the left 28 % of the table, the frame the rest at full height.
  const layout = await sample.evaluate('measuring the layout', () => {
    const box = (element) => element.getBoundingClientRect().toJSON();
    return {
      frame: box(document.querySelector('iframe')),
      list: box(document.querySelector('td')),
      inList: document.elementFromPoint(innerWidth * 0.1, innerHeight / 2).closest('td') === document.querySelector('td'),
      atRight: document.elementFromPoint(innerWidth * 0.7, innerHeight / 2).localName,
    };
  });
  assert.ok(layout.inList, 'the list cell (or a link in it) is at the left');
  assert.equal(layout.atRight, 'iframe', 'the frame is at the right');
  assert.ok(layout.frame.left >= layout.list.right, `the frame starts after the list: ${JSON.stringify(layout)}`);
  assert.ok(layout.frame.height > viewport.height * 0.75, `the frame's height: ${layout.frame.height}`);

  // The saved picture shows the rewritten page: its light cyan under the list, the grey cell around the frame.
  const png = await sample.screenshot(pictureFile);
  const [list, frameCell] = await sample.evaluate('reading the picture\'s pixels', async ({ data, points }) => {
    const image = new Image();
    image.src = `data:image/png;base64,${data}`;
    await image.decode();
    const canvas = Object.assign(document.createElement('canvas'), { width: image.width, height: image.height });
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    return points.map(([x, y]) => `rgb(${context.getImageData(x, y, 1, 1).data.slice(0, 3).join(', ')})`);
  }, { data: png.toString('base64'), points: [[4, viewport.height - 4], [layout.frame.left - 4, viewport.height / 2]] });
  assert.equal(list, texts.BACKGROUND, 'the picture under the list');
  assert.equal(frameCell, 'rgb(102, 102, 102)', 'the picture beside the frame');
  console.log(`# picture: ${pictureFile}`);
  await sample.close();
});
