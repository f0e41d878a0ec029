'use strict';
// What the page makes of the right-clicked page: the list, the footer, the frame, the background, and
// nothing left of the old content.
const { skipUnlessChromium, openHarness } = require('./harness');

skipUnlessChromium();

const assert = require('node:assert/strict');
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
