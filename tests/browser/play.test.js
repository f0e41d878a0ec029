'use strict';
// Clicking a name plays the movie: its exact address loads into the frame playarea, and the list stays.
const { skipUnlessChromium, openHarness, STAND_IN_MOVIE } = require('./harness');

skipUnlessChromium();

const assert = require('node:assert/strict');
const { test, before, after } = require('node:test');
const texts = require('./page_texts');

let harness;
const pageBytes = texts.readPage();
before(async () => { harness = await openHarness(); });
after(async () => { if (harness) await harness.close(); });

// Clicks each link in turn on one rewritten page, and checks the frame, the request and the list.
async function assertPlays(sample, indices) {
  const before = await sample.view();
  for (const index of indices) {
    const link = before.anchors[index];
    const seen = harness.requests.length;
    const { frameUrl, pageUrl } = await sample.clickLink(index);
    assert.equal(frameUrl, link.href, `frame address after clicking ${JSON.stringify(link.attributes.href)}`);
    assert.equal(pageUrl, before.url, 'the page holding the list was not navigated');
    const url = new URL(frameUrl);
    assert.ok(harness.requests.slice(seen).includes(url.pathname + url.search),
      `the server was asked for ${url.pathname}${url.search}, got ${harness.requests.slice(seen)}`);
    const shown = await sample.page.frame({ name: 'playarea' }).evaluate(() => document.body.textContent);
    assert.equal(shown, STAND_IN_MOVIE.toString('latin1'), 'the frame holds the stand-in movie');
    assert.deepEqual((await sample.view()).anchors, before.anchors, 'the list stays as it was');
  }
}

test('movies with absolute, relative, backslashed and non-ASCII addresses play in the frame', async () => {
  const sample = await harness.runPage({ pageBytes, sampleUrl: '/samples/movies.html' });
  // absolute, relative, rooted, backslashes, the same movie again, blanks and Chinese in path and query
  await assertPlays(sample, [0, 1, 2, 5, 7, 9]);
  await sample.close();
});

test('addresses with blanks, quotes, angle brackets and ampersands play at exactly that address', async () => {
  const sample = await harness.openSample('/samples/empty.html');
  await sample.addObjects([
    'movies/a movie with blanks.swf',
    'movies/x" onclick="window.injected=1" y=".swf',
    "movies/it's <b>bold</b>.swf",
    'movies/a&b.swf?x=1&amp;y=<2>',
  ]);
  await sample.pick(pageBytes);
  await assertPlays(sample, [0, 1, 2, 3]);
  assert.equal(await sample.page.evaluate(() => window.injected), undefined, 'injected script ran');
  await sample.close();
});
