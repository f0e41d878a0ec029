'use strict';
// Clicking a name plays the movie: its exact address loads into the frame playarea, the player there
// fetches the movie from that address and plays it, and the list stays.
const { skipUnlessChromium, openHarness } = require('./harness');

skipUnlessChromium();

const assert = require('node:assert/strict');
const { test, before, after } = require('node:test');
const texts = require('./page_texts');
const { movieFor } = require('./movies');

let harness;
const pageBytes = texts.readPage();
before(async () => { harness = await openHarness(); });
after(async () => { if (harness) await harness.close(); });

// Addresses that break markup they are pasted into unescaped, added to a page without movies.
const ADDED = [
  'movies/a movie with blanks.swf',
  'movies/x" onclick="window.injected=1" y=".swf',
  "movies/it's <b>bold</b>.swf",
  'movies/a&b.swf?x=1&amp;y=<2>',
];

// Clicks each link in turn on one rewritten page, and checks the frame and the list: the frame asked for
// the link's very address. The last movie is also played: the player fetched it from that address and
// Ruffle counts the frames it was made with; with watch, pictures of the frame some hundreds of ms apart
// differ as well. (The frames clicked through start no player.)
async function assertPlays(sample, indices, { watch = false } = {}) {
  const before = await sample.view();
  for (const [n, index] of indices.entries()) {
    const link = before.anchors[index];
    const seen = harness.requests.length;
    const { frameUrl, pageUrl } = await sample.clickLink(index);
    assert.equal(frameUrl, link.href, `frame address after clicking ${JSON.stringify(link.attributes.href)}`);
    assert.equal(pageUrl, before.url, 'the page holding the list was not navigated');
    const url = new URL(frameUrl);
    const address = url.pathname + url.search;
    const asked = (request) => request.url === address && request.dest === 'iframe';
    assert.ok(harness.requests.slice(seen).some(asked),
      `the frame asked for ${address}; the server was asked ${JSON.stringify(harness.requests.slice(seen))}`);

    if (n === indices.length - 1) {
      const metadata = await sample.playMovie();
      const fetched = harness.requests.slice(seen).find((request) => request.url === address && request.frames);
      assert.ok(fetched, `the player fetched the movie at ${address}; the server was asked ${
        JSON.stringify(harness.requests.slice(seen))}`);
      assert.equal(metadata.numFrames, fetched.frames, `frames Ruffle counts in the movie at ${address}`);
      if (watch) {
        const { moving, changes } = await sample.watchMovie();
        assert.ok(moving, `the movie at ${address} stands still: ${changes}`);
      }
    }
    assert.deepEqual((await sample.view()).anchors, before.anchors, 'the list stays as it was');
  }
}

test('movies with absolute, relative, backslashed and non-ASCII addresses play in the frame', async () => {
  const sample = await harness.runPage({ pageBytes, sampleUrl: '/samples/movies.html' });
  // absolute, relative, rooted, backslashes, the same movie again, blanks and Chinese in path and query
  await assertPlays(sample, [0, 1, 2, 5, 7, 9], { watch: true });
  await sample.close();
});

test('addresses with blanks, quotes, angle brackets and ampersands play at exactly that address', async () => {
  const sample = await harness.openSample('/samples/empty.html');
  await sample.addObjects(ADDED);
  await sample.pick(pageBytes);
  await assertPlays(sample, [0, 1, 2, 3]);
  assert.equal(await sample.evaluate('reading window.injected', () => window.injected), undefined,
    'injected script ran');
  await sample.close();
});

// Ruffle's frame count tells which movie a player loaded only while no two movies that can be clicked
// have the same count: the pages whose movies the tests and the road play, with the addresses added.
test('every movie the tests and the road play has a frame count of its own', async () => {
  const owners = new Map(); // frame count -> the path of the movie that has it
  for (const [sampleUrl, added] of [['/samples/movies.html', []], ['/samples/collection.html', []],
    ['/samples/empty.html', ADDED]]) {
    const sample = await harness.openSample(sampleUrl);
    await sample.addObjects(added);
    await sample.pick(pageBytes);
    for (const link of (await sample.view()).anchors) {
      const { pathname } = new URL(link.href);
      if (link.attributes.target !== 'playarea' || !pathname.toLowerCase().endsWith('.swf')) continue;
      const { frames } = movieFor(pathname);
      const owner = owners.get(frames) || pathname;
      assert.equal(owner, pathname, `${owner} and ${pathname} (on ${sampleUrl}) both have ${frames} frames: `
        + 'give one a count of its own in movies.js');
      owners.set(frames, pathname);
    }
    await sample.close();
  }
});
