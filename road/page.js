'use strict';
// The browser part of the road: the page bytes that the res: address gave run on a sample page that
// embeds movies, in headless chromium as the browser host; the first movie is clicked and watched until
// it plays (Ruffle has loaded it and its frames move), and a picture of the rewritten page is saved.
// Prints what the page shows as one line of JSON.
//
// usage: node road/page.js PAGE_BYTES_FILE PICTURE.png
const fs = require('node:fs');
const { openHarness } = require('../tests/browser/harness');

async function main() {
  const [pageFile, pictureFile] = process.argv.slice(2);
  const harness = await openHarness();
  try {
    const sample = await harness.runPage({
      pageBytes: fs.readFileSync(pageFile),
      sampleUrl: '/samples/collection.html',
      viewport: { width: 960, height: 540 },
    });
    const view = await sample.view();
    const movies = view.anchors.filter((anchor) => anchor.attributes.target === 'playarea');
    if (movies.length === 0) throw new Error('the page listed no movie');
    const { frameUrl } = await sample.clickLink(0);
    const movie = await sample.playMovie();
    const { moving } = await sample.watchMovie();
    if (!moving) throw new Error(`the movie at ${frameUrl} loaded but stands still`);
    await sample.screenshot(pictureFile);
    console.log(JSON.stringify({
      sample: view.url,
      movies: movies.map((anchor) => ({ name: anchor.text, href: anchor.href })),
      frameUrl,
      movie: { width: movie.width, height: movie.height, frames: movie.numFrames, frameRate: movie.frameRate },
      background: view.background,
    }));
  } finally {
    await harness.close();
  }
}

main().catch((error) => {
  console.error(error.message);
  process.exit(1);
});
