'use strict';
// What the page makes of the right-clicked page: the list, the footer, the frame, the background, and
// nothing left of the old content; and a picture of it, saved under the build folder as browser/page.png.
const { skipUnlessChromium, openHarness } = require('./harness');

skipUnlessChromium();

const assert = require('node:assert/strict');
const path = require('node:path');
const { test, before, after } = require('node:test');
const texts = require('./page_texts');

let harness;
const pageBytes = texts.readPage();
// Each case in both hosts (harness.js): an old document mode's Flash control, and standards getAttribute.
const eachHost = (title, body) => ['control', 'standards'].forEach((host) =>
  test(`${title} (${host})`, () => body(host)));
before(async () => { harness = await openHarness(); });
after(async () => { if (harness) await harness.close(); });

// movies.html, object by object: [Movie (the attribute, else the movie param), name listed]; objects without
// either and the embed are left out, as the page must leave them out.
const sampleMovies = (origin) => [
  [`${origin}/movies/absolute.swf`, 'absolute.swf'],
  ['clips/relative.swf', 'relative.swf'],
  ['/movies/rooted.swf', 'rooted.swf'],
  ['noslash.swf', 'noslash.swf'],
  ['clips/folder/', ''],
  ['clips\\old\\backslash.swf', 'clips\\old\\backslash.swf'],
  ['clips/mixed\\part.swf', 'mixed\\part.swf'],
  ['clips/relative.swf', 'relative.swf'],
  ['', ''],
  ['clips/片头 动画.swf?第=1&b=2', '片头 动画.swf?第=1&b=2'],
  ['clips/UPPER.swf', 'UPPER.swf'],
  ['clips/attribute.swf', 'attribute.swf'],
  ['clips/outer.swf', 'outer.swf'],
  ['clips/say "hi".swf', 'say "hi".swf'],
];

// Addresses that break markup they are pasted into unescaped: [movie param, name listed].
const HOSTILE = [
  ['a movie with blanks.swf', 'a movie with blanks.swf'],
  ['x" onclick="window.injected=1" y=".swf', 'x" onclick="window.injected=1" y=".swf'],
  ["x' onmouseover='window.injected=1'.swf", "x' onmouseover='window.injected=1'.swf"],
  ['x onmouseover=window.injected=1 .swf', 'x onmouseover=window.injected=1 .swf'],
  ['"><img src=x onerror="window.injected=1">.swf', '"><img src=x onerror="window.injected=1">.swf'],
  ['clips/</a><b id=bold>bold</b>.swf', 'b>.swf'],
  ['<script>window.injected=1</script>.swf', 'script>.swf'],
  ['clips/a&b.swf?x=1&amp;y=2&lt;', 'a&b.swf?x=1&amp;y=2&lt;'],
  ['clips/<tag> & "quotes" \'too\'.swf', '<tag> & "quotes" \'too\'.swf'],
  ['clips/>', '>'],
];

// Checks everything the rewritten body must be, given the movies listed: [address, name, resolved href].
async function assertView(sample, listed) {
  const view = await sample.view();
  assert.equal(view.background, texts.BACKGROUND, 'background of the rewritten page');

  const links = view.anchors.slice(0, -1);
  assert.deepEqual(
    links.map((a) => [a.attributes.href, a.text, a.href]),
    listed,
    'the list: one link per movie, in order, with the address as given, the name, and the address resolved');
  for (const link of links) {
    assert.deepEqual(Object.keys(link.attributes).sort(), ['href', 'target'], `attributes of ${link.attributes.href}`);
    assert.equal(link.attributes.target, 'playarea');
  }

  const download = view.anchors[view.anchors.length - 1];
  assert.deepEqual(download && download.attributes, { href: texts.DOWNLOAD.href }, 'the download link has no target');
  assert.equal(download.text, texts.DOWNLOAD.text);

  assert.deepEqual(view.frame, {
    attributes: { name: 'playarea', frameborder: 'no', scrolling: 'no', height: '100%', width: '100%' },
    cell: { bgcolor: '#666666' },
  });

  // The whole body, texts and all, is what the page's own markup gives; nothing of the old page stays.
  const wanted = await sample.parseBody(texts.expectedMarkup(listed.map(([address]) => address)));
  assert.equal(view.bodyHTML, wanted);
  return view;
}

eachHost('lists each object with a Movie, in order, resolved against the page; skips the rest', async (host) => {
  const sample = await harness.runPage({ pageBytes, host, sampleUrl: '/samples/movies.html' });
  const base = harness.url('/samples/movies.html');
  const listed = sampleMovies(harness.origin).map(([address, name]) => [address, name, new URL(address, base).href]);
  const view = await assertView(sample, listed);
  assert.ok(!view.elements.some((e) => /^old-/.test(e.attributes.id || '')), 'old content is gone');
  assert.equal(sample.timing.embedsReads, 0, 'the plug-in collection (embeds) was read');
  assert.equal(sample.timing.menuWindowName, 'clipindex_menu_page', "the script renamed its own window");
  assert.deepEqual(sample.errors, []);
  await sample.close();
});

eachHost('a page without objects gets an empty list, the footer and the empty frame', async (host) => {
  const sample = await harness.runPage({ pageBytes, host, sampleUrl: '/samples/empty.html' });
  await assertView(sample, []);
  await sample.close();
});

eachHost('picking the entry again on the rewritten page builds the view afresh, with an empty list', async (host) => {
  const sample = await harness.runPage({ pageBytes, host, sampleUrl: '/samples/movies.html' });
  await sample.pick(pageBytes, host);
  await assertView(sample, []);
  await sample.close();
});

eachHost('hostile addresses give one working link each and inject no markup', async (host) => {
  const sample = await harness.openSample('/samples/empty.html');
  const addresses = HOSTILE.map(([address]) => address);
  await sample.addObjects(addresses);
  const resolved = await sample.resolve(addresses);
  await sample.pick(pageBytes, host);
  const view = await assertView(sample, HOSTILE.map(([address, name], i) => [address, name, resolved[i]]));

  const tags = view.elements.map((e) => e.tag).join(' ');
  const wantedTags = ['table', 'tbody', 'tr', 'td', ...HOSTILE.flatMap(() => ['a', 'br']),
    'br', 'br', 'br', 'a', 'td', 'iframe'].join(' ');
  assert.equal(tags, wantedTags, 'elements of the rewritten body');
  // The page writes the body once: an element or attribute that could run a handler later would have
  // failed the checks above, so a script run while the page wrote is all that is left to look for.
  assert.equal(await sample.evaluate('reading window.injected', () => window.injected), undefined,
    'injected script ran');
  await sample.close();
});

const buildDir = process.env.CLIPINDEX_BUILD_DIR || path.join(__dirname, '..', '..', 'build', 'host');
const pictureFile = path.join(buildDir, 'browser', 'page.png');
const viewport = { width: 960, height: 540 };

test('the rewritten page fills the window: the list on the left, the frame on the right', async () => {
  const sample = await harness.runPage({ pageBytes, sampleUrl: '/samples/movies.html', viewport });
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
