'use strict';
// Random movie addresses through the page: each gives exactly one link to exactly that address, under
// the right name, and nothing else appears in the page. The seed is printed; rerun one with
//   CLIPINDEX_FUZZ_SEED=<seed> node tests/browser/fuzz.test.js
// Carriage returns and NUL characters are left out: the HTML parser itself rewrites them in any markup.
// Two pages a run, 300 addresses; CLIPINDEX_FUZZ_ROUNDS=40 gives a longer one.
const { skipUnlessChromium, openHarness } = require('./harness');

skipUnlessChromium();

const assert = require('node:assert/strict');
const { test, before, after } = require('node:test');
const texts = require('./page_texts');

const SEED = Number(process.env.CLIPINDEX_FUZZ_SEED || 20240917);
const ROUNDS = Number(process.env.CLIPINDEX_FUZZ_ROUNDS || 2);
const PER_ROUND = 150;

// A small seeded generator (mulberry32), so that a seed gives the same addresses on every machine.
function generator(seed) {
  let state = seed >>> 0;
  const next = () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = Math.imul(state ^ (state >>> 15), 1 | state);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const below = (n) => Math.floor(next() * n);
  return { next, below, pick: (list) => list[below(list.length)] };
}

const PIECES = [
  'a', 'Z', '7', '.', '-', '_', '/', '/', '//', '.swf', '?', '#', '=', ';', '%', '%20', '%zz', '\\',
  '&', '&amp;', '&lt;', '&#39;', '&#x22;', '&nbsp', '<', '>', '</a>', '<br>', '<!--', '-->', '<script>',
  '<img src=x onerror=window.injected=1>', '"', "'", '`', ' onclick=window.injected=1', ' target=_top',
  ' ', ' ', '\t', '\n', '\u00a0', '\u3000', '中', '文', '片头', 'é', '😀',
];

function randomAddress(random, origin) {
  const prefix = random.pick(['', '', 'movies/', '/', '../', `${origin}/movies/`, '?', '#', ' ']);
  const pieces = random.next() < 0.04 ? 500 + random.below(2500) : random.below(24);
  let address = prefix;
  for (let i = 0; i < pieces; i++) address += random.pick(PIECES);
  return address;
}

let harness;
const pageBytes = texts.readPage();
before(async () => { harness = await openHarness(); });
after(async () => { if (harness) await harness.close(); });

test(`random addresses, seed ${SEED}, ${ROUNDS} pages of ${PER_ROUND} objects`, async () => {
  console.log(`# fuzz seed ${SEED} (CLIPINDEX_FUZZ_SEED), ${ROUNDS * PER_ROUND} objects`);
  const random = generator(SEED);
  for (let round = 0; round < ROUNDS; round++) {
    // About one object in twenty has no Movie at all and must not be listed.
    const movies = Array.from({ length: PER_ROUND }, () =>
      (random.next() < 0.05 ? null : randomAddress(random, harness.origin)));
    const addresses = movies.filter((movie) => movie !== null);
    const where = `seed ${SEED}, page ${round}`;

    const sample = await harness.openSample('/samples/empty.html');
    await sample.addObjects(movies);
    const resolved = await sample.resolve(addresses);
    const head = () => document.head.innerHTML;
    const headBefore = await sample.evaluate(`${where}: reading the head`, head);
    await sample.pick(pageBytes);
    const view = await sample.view();

    const links = view.anchors.slice(0, -1);
    assert.equal(links.length, addresses.length, `${where}: number of links`);
    addresses.forEach((address, i) => {
      const link = links[i];
      const what = `${where}, movie ${i} ${JSON.stringify(address.slice(0, 200))}`;
      assert.equal(link.attributes.href, address, `${what}: href attribute`);
      assert.equal(link.href, resolved[i], `${what}: href as the browser resolves the address`);
      assert.equal(link.text, texts.movieName(address), `${what}: link text`);
      assert.deepEqual(Object.keys(link.attributes).sort(), ['href', 'target'], `${what}: attributes`);
    });

    // Only the list's own elements: the table, one link and line break per movie, the footer, the frame.
    const wantedTags = ['table', 'tbody', 'tr', 'td', ...addresses.flatMap(() => ['a', 'br']),
      'br', 'br', 'br', 'a', 'td', 'iframe'];
    assert.deepEqual(view.elements.map((e) => e.tag), wantedTags, `${where}: elements of the body`);
    assert.equal(view.bodyHTML, await sample.parseBody(texts.expectedMarkup(addresses)), `${where}: body`);
    assert.equal(await sample.evaluate(`${where}: reading the head`, head), headBefore, `${where}: head changed`);
    // Only the list's own elements and attributes are there (above): nothing is left that could run later.
    assert.equal(await sample.evaluate(`${where}: reading window.injected`, () => window.injected), undefined,
      `${where}: injected script ran`);
    assert.deepEqual(sample.errors, [], `${where}: errors in the page`);
    await sample.close();
  }
});
