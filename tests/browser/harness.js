'use strict';
// Plays the browser host of the movie-list page in Debian's headless chromium.
//
// Internet Explorer runs the page of a context-menu entry in a window of its own and hands its script
// the window of the page that was right-clicked as external.menuArguments. Here the right-clicked page is
// a sample page served from 127.0.0.1; picking the entry opens a blank window of the same origin, gives
// it that external, and writes the page text into it, so the page's markup is parsed and its script runs
// exactly as the bytes say. The bytes are read as code page 936, as a browser reads a page that declares
// no character set on a Chinese system.
//
// Chromium's own document.applets is always empty, so the sample document gets one that lists its
// <object> elements in document order (a live collection, as the browser's own is). Each object answers
// getAttribute as the host picked (pickInBrowser) does: by default Chromium's own, as users' IE does.
//
// Chromium plays no Flash either: Ruffle, a Flash player in WebAssembly, plays the plug-in's part. A
// frame sent to a movie address gets a small player page there, and the player's own request for that
// address gets the movie, a tiny SWF made from the address (movies.js).
//
//   const { openHarness } = require('./harness');
//   const harness = await openHarness();                  // server on 127.0.0.1 and chromium
//   const run = await harness.runPage({ pageBytes, sampleUrl: harness.url('/samples/movies.html'), host });
//   const view = await run.view();                        // links, frame, background, ...
//   const { frameUrl } = await run.clickLink(0);          // the first movie's address loads into the frame playarea
//   const { numFrames } = await run.playMovie();          // the player there plays it; what Ruffle reports of it
//   const { moving } = await run.watchMovie();            // its pictures move
//   await harness.close();
//
// Every wait of a run takes its time from one budget, which starts with chromium: their sum stays inside
// the CTest TIMEOUT of the test file (CMakeLists.txt passes the budget as CLIPINDEX_BROWSER_BUDGET_S), so a
// slow machine gets a failure that names the step it was at, rather than a kill.

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const CHROMIUM = '/usr/bin/chromium';
const SAMPLES_DIR = path.join(__dirname, 'samples');
const { movieFor } = require('./movies');
// The budget of a run's waits when CMakeLists.txt gives none (the road, whose node gets 120 s).
const BUDGET_S = Number(process.env.CLIPINDEX_BROWSER_BUDGET_S) || 90;
// Closing chromium comes after the budget, which may be spent by then: it has a bound of its own.
const CLOSE_MS = 15000;

// The page a frame gets at a movie address: a player that plays the movie at that very address, filling
// the frame, without its splash screen or unmute button. It starts only when the test calls play() in
// the frame, and play() resolves to what Ruffle reports of the movie once it has loaded it. A player
// that is loading or playing holds up its frame's next navigation by seconds on a busy machine, so a
// frame that a test only clicks through never starts one.
const PLAYER_PAGE = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>movie</title>
<style>html, body { margin: 0; height: 100%; overflow: hidden; background: #666666; }
ruffle-player { display: block; width: 100%; height: 100%; }</style>
<script>
window.RufflePlayer = { config: { autoplay: 'on', splashScreen: false, unmuteOverlay: 'hidden',
  contextMenu: 'off', preferredRenderer: 'canvas', polyfills: false, logLevel: 'error' } };
function play() {
  return new Promise((resolve, reject) => {
    window.addEventListener('error', (event) => reject(new Error(event.message)));
    const ruffle = Object.assign(document.createElement('script'), { src: '/ruffle/ruffle.js' });
    ruffle.onerror = () => reject(new Error('Ruffle could not be loaded from /ruffle/ruffle.js'));
    ruffle.onload = () => {
      const player = window.RufflePlayer.newest().createPlayer();
      player.addEventListener('loadedmetadata', () => resolve(player.ruffle().metadata));
      document.body.appendChild(player);
      player.ruffle().load({ url: location.href }).catch(reject);
    };
    document.head.appendChild(ruffle);
  });
}
</script>
</head><body></body></html>
`;
const RUFFLE_TYPES = { '.js': 'text/javascript', '.wasm': 'application/wasm' };

// Exits with CTest's skip code when the browser is truly not installed; anything else is a failure.
function skipUnlessChromium() {
  if (!fs.existsSync(CHROMIUM)) {
    console.log(`SKIP: ${CHROMIUM} is not installed (Debian package chromium; scripts/setup installs it)`);
    process.exit(77);
  }
}

// What a package of package.json gives (load), or an error that says how to install it.
function installed(name, load) {
  try {
    return load();
  } catch (error) {
    throw new Error(`${name} is missing: run scripts/setup at the repository root (${error.message})`);
  }
}

// Serves the sample pages under /samples/ (an .html sample may say {{ORIGIN}} for http://127.0.0.1:PORT),
// Ruffle's files under /ruffle/, and a movie at any path ending in .swf: the player page to a frame or
// window, the movie itself to the player. Every request is recorded, in order, as { url, dest }, and
// with the movie's frame count where a movie was sent.
function startServer(samplesDir) {
  const requests = [];
  const ruffle = installed('@ruffle-rs/ruffle', () => path.dirname(require.resolve('@ruffle-rs/ruffle')));
  const server = http.createServer((request, response) => {
    const dest = request.headers['sec-fetch-dest'] || '';
    const served = { url: request.url, dest };
    requests.push(served);
    const pathname = request.url.split(/[?#]/)[0];
    if (pathname.toLowerCase().endsWith('.swf')) {
      // One address, two answers: never let the cache hand the player page to the player as its movie.
      const headers = { Vary: 'Sec-Fetch-Dest', 'Cache-Control': 'no-store' };
      if (['document', 'iframe', 'frame'].includes(dest)) {
        response.writeHead(200, { ...headers, 'Content-Type': 'text/html; charset=utf-8' });
        response.end(PLAYER_PAGE);
      } else {
        const movie = movieFor(pathname);
        served.frames = movie.frames;
        response.writeHead(200, { ...headers, 'Content-Type': 'application/x-shockwave-flash' });
        response.end(movie.bytes);
      }
      return;
    }
    const ruffleFile = /^\/ruffle\/([\w.-]+)$/.exec(pathname);
    const ruffleType = ruffleFile && RUFFLE_TYPES[path.extname(ruffleFile[1])];
    if (ruffleType && fs.existsSync(path.join(ruffle, ruffleFile[1]))) {
      // Cached: the 14 MB of wasm are read once a run, not once a movie.
      response.writeHead(200, { 'Content-Type': ruffleType, 'Cache-Control': 'max-age=3600' });
      response.end(fs.readFileSync(path.join(ruffle, ruffleFile[1])));
      return;
    }
    const match = /^\/samples\/([\w.-]+\.html)$/.exec(pathname);
    const file = match && path.join(samplesDir, match[1]);
    if (!file || !fs.existsSync(file)) {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not found');
      return;
    }
    const origin = `http://127.0.0.1:${server.address().port}`;
    response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
    response.end(fs.readFileSync(file, 'utf8').split('{{ORIGIN}}').join(origin));
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      resolve({ server, requests, origin: `http://127.0.0.1:${server.address().port}` });
    });
  });
}

// Runs inside the sample page: the host's side of picking the menu entry, as one of two hosts. 'standards'
// is Chromium's own getAttribute, which takes content attributes only, as IE 8 and later do in a standards
// mode and any IE does without Flash Player. 'control' is a loaded Flash control in an old document mode,
// which answers getAttribute("Movie") (any case) with the movie attribute or else the movie param's value.
// Returns the page script's error, if any, the reads of document.embeds, the name of its window afterwards,
// and the time of the script's run and of the layout that it causes, measured here in the page.
function pickInBrowser({ pageText, host }) {
  const doc = document;
  const objects = doc.getElementsByTagName('object');
  Object.defineProperty(doc, 'applets', { configurable: true, get: () => objects });
  const ownGetAttribute = Element.prototype.getAttribute;
  Object.defineProperty(HTMLObjectElement.prototype, 'getAttribute', {
    configurable: true,
    writable: true,
    value: function getAttribute(name) {
      const own = ownGetAttribute.call(this, name);
      if (host === 'control' && own === null && String(name).toLowerCase() === 'movie') {
        for (const child of this.children) {
          if (child.localName === 'param' && (ownGetAttribute.call(child, 'name') || '').toLowerCase() === 'movie') {
            return ownGetAttribute.call(child, 'value') || '';
          }
        }
      }
      return own;
    },
  });
  // The page must not read the plug-in collection: count the reads.
  const embeds = Object.getOwnPropertyDescriptor(Document.prototype, 'embeds').get;
  let embedsReads = 0;
  Object.defineProperty(doc, 'embeds', {
    configurable: true,
    get: () => {
      embedsReads += 1;
      return embeds.call(doc);
    },
  });

  const menu = window.open('', 'clipindex_menu_page');
  if (!menu) return { error: 'the browser refused to open the window of the menu page' };
  let error = null;
  let started = null;
  try {
    // The script's run starts at its first use of the host's window (timed on this page's clock).
    menu.external = {
      get menuArguments() {
        if (started === null) started = performance.now();
        return window;
      },
    };
    menu.document.open();
    menu.onerror = (message, source, line) => { error = `${message} (line ${line})`; };
    menu.document.write(pageText); // the script runs here, as the parser reaches it
    const scriptDone = performance.now();
    menu.document.close();
    const layoutStart = performance.now();
    void doc.body.offsetHeight; // style and layout of the rewritten page, now rather than at the next frame
    const layoutDone = performance.now();
    return {
      error,
      embedsReads,
      menuWindowName: menu.name, // a top-level "name" in the script would have renamed its window
      scriptMs: started === null ? 0 : scriptDone - started,
      layoutMs: layoutDone - layoutStart,
    };
  } finally {
    menu.close();
  }
}

// Runs inside the sample page: what the rewritten page shows, as plain data.
function viewInBrowser() {
  const attributes = (element) => {
    const all = {};
    for (const attribute of element.attributes) all[attribute.name] = attribute.value;
    return all;
  };
  const body = document.body;
  const frame = body.querySelector('iframe');
  return {
    url: location.href,
    background: getComputedStyle(body).backgroundColor,
    bodyHTML: body.innerHTML,
    anchors: Array.from(body.getElementsByTagName('a'), (a) => ({
      href: a.href, text: a.textContent, attributes: attributes(a),
    })),
    elements: Array.from(body.getElementsByTagName('*'), (element) => ({
      tag: element.localName, attributes: attributes(element),
    })),
    frame: frame && { attributes: attributes(frame), cell: attributes(frame.parentElement) },
  };
}

// Waits for work(timeout), given what is left of the budget that ends at deadline, for at most that long.
// A failure says the step, and a wait that ran out says so.
async function within(deadline, step, work) {
  const timeout = Math.floor(deadline.end - Date.now());
  if (timeout <= 0) throw new Error(`${step}: the run's ${deadline.seconds} s for its waits were spent before it`);
  let timer;
  const late = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error(`not done in ${timeout} ms, what was left of the run's `
      + `${deadline.seconds} s for its waits`)), timeout);
  });
  try {
    return await Promise.race([work(timeout), late]);
  } catch (error) {
    throw new Error(`${step}: ${error.message}`);
  } finally {
    clearTimeout(timer);
  }
}

class SamplePage {
  constructor(page, deadline, idle) {
    this.page = page;
    this.deadline = deadline;
    this.idle = idle; // the harness's pages to reuse
    this.errors = []; // uncaught errors of the sample page itself
    this.onError = (error) => this.errors.push(error);
    page.on('pageerror', this.onError);
  }

  // A wait of this page's test: step names it in a failure.
  async wait(step, work) {
    return within(this.deadline, step, work);
  }

  // Runs fn(arg) in the sample page.
  async evaluate(step, fn, arg) {
    return this.wait(step, () => this.page.evaluate(fn, arg));
  }

  // The user picks the menu entry on this page: the page's bytes run against it, in the host given.
  async pick(pageBytes, host = 'standards') {
    const pageText = new TextDecoder('gbk', { fatal: true }).decode(pageBytes);
    const result = await this.evaluate(`picking the menu entry (${host})`, pickInBrowser, { pageText, host });
    if (result.error) throw new Error(`the page's script failed: ${result.error}`);
    return result;
  }

  async view() {
    return this.evaluate('reading the rewritten page', viewInBrowser);
  }

  // Adds Flash <object> elements at the end of the body, each with a movie param whose value is set
  // through the DOM so that any text arrives unchanged; an entry of null gives an object without one.
  async addObjects(movies) {
    await this.evaluate(`adding ${movies.length} objects`, (list) => {
      for (const movie of list) {
        const object = document.createElement('object');
        object.setAttribute('classid', 'clsid:D27CDB6E-AE6D-11cf-96B8-444553540000');
        if (movie !== null) {
          const param = document.createElement('param');
          param.setAttribute('name', 'movie');
          param.setAttribute('value', movie);
          object.appendChild(param);
        }
        document.body.appendChild(object);
      }
    }, movies);
  }

  // The browser's own resolution of each address as a link's href, made apart from the page.
  async resolve(addresses) {
    return this.evaluate(`resolving ${addresses.length} addresses`, (list) => list.map((address) => {
      const a = document.createElement('a');
      a.setAttribute('href', address);
      return a.href;
    }), addresses);
  }

  // Markup as this browser parses and writes it back in a body: two markups that give the same body
  // compare equal, however they quote and escape.
  async parseBody(markup) {
    return this.evaluate('parsing the expected markup', (text) => {
      const parsed = document.implementation.createHTMLDocument('');
      parsed.body.innerHTML = text;
      return parsed.body.innerHTML;
    }, markup);
  }

  // Clicks the link at index among the body's links, as a user does, and waits for the frame playarea to
  // load what it points to. Returns the frame's URL and the URL of the page that holds the list.
  async clickLink(index) {
    const link = this.page.locator('body a').nth(index);
    const href = await this.wait(`reading link ${index}`, (timeout) => link.getAttribute('href', { timeout }));
    const step = `clicking link ${index} (${JSON.stringify(href)})`;
    const navigated = (frame) => frame.name() === 'playarea' && frame.url() !== 'about:blank';
    await this.wait(`${step}: waiting for the frame playarea to navigate`, (timeout) => Promise.all([
      this.page.waitForEvent('framenavigated', { predicate: navigated, timeout }),
      link.click({ timeout }),
    ]));
    const frame = this.page.frame({ name: 'playarea' });
    await this.wait(`${step}: waiting for ${frame.url()} to load in the frame playarea`,
      (timeout) => frame.waitForLoadState('load', { timeout }));
    return { frameUrl: frame.url(), pageUrl: this.page.url() };
  }

  // Starts the player in the frame playarea and waits until it has loaded its movie; returns what Ruffle
  // reports of it (numFrames, width, height, frameRate, swfVersion, ...).
  async playMovie() {
    const frame = this.page.frame({ name: 'playarea' });
    return this.wait(`playing ${frame.url()}: waiting for Ruffle to load the movie`,
      () => frame.evaluate(() => window.play()));
  }

  // Watches the frame playarea play: pictures of it gapMs apart until two in a row differ from the one
  // before (the first change may be only the player's first drawing), or until timeout. Returns whether
  // it moved, and for each picture after the first whether it differed from the one before.
  async watchMovie({ gapMs = 300, timeout = 10000 } = {}) {
    const frame = this.page.locator('iframe[name=playarea]');
    const step = `watching ${this.page.frame({ name: 'playarea' }).url()} play`;
    return this.wait(step, async (left) => {
      const end = Date.now() + Math.min(timeout, left);
      const changes = [];
      const moving = () => changes.length >= 2 && changes.at(-1) && changes.at(-2);
      let last = await frame.screenshot({ timeout: left });
      while (!moving() && Date.now() < end) {
        // the sampling period of the watch: a few of the movie's frames (12 a second) between pictures
        await this.page.waitForTimeout(gapMs);
        const picture = await frame.screenshot({ timeout: left });
        changes.push(!picture.equals(last));
        last = picture;
      }
      return { moving: moving(), changes };
    });
  }

  async screenshot(file) {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    return this.wait(`taking the picture ${file}`, (timeout) => this.page.screenshot({ path: file, timeout }));
  }

  // Leaves the page blank for the next sample: a new page costs chromium half a second of work more.
  async close() {
    await this.wait(`closing the sample page ${this.page.url()}`, () => this.page.goto('about:blank'));
    this.page.off('pageerror', this.onError);
    this.idle.push(this.page);
  }
}

class Harness {
  constructor(served, context, userDataDir, deadline) {
    this.served = served;
    this.context = context;
    this.userDataDir = userDataDir;
    this.deadline = deadline;
    this.origin = served.origin;
    this.requests = served.requests;
    this.idle = []; // sample pages closed, to be opened again
  }

  url(pathname) {
    return this.origin + pathname;
  }

  // Opens a sample page (an address on the harness's server, or a path such as /samples/movies.html).
  async openSample(sampleUrl, { viewport = { width: 1024, height: 640 } } = {}) {
    const url = sampleUrl.startsWith('/') ? this.url(sampleUrl) : sampleUrl;
    return within(this.deadline, `opening ${url}`, async (timeout) => {
      const page = this.idle.pop() || await this.context.newPage();
      await page.setViewportSize(viewport);
      const sample = new SamplePage(page, this.deadline, this.idle);
      await page.goto(url, { timeout });
      return sample;
    });
  }

  // Opens the sample page and picks the menu entry on it once.
  async runPage({ pageBytes, sampleUrl, viewport, host }) {
    const sample = await this.openSample(sampleUrl, { viewport });
    sample.timing = await sample.pick(pageBytes, host);
    return sample;
  }

  // Closes chromium and the server. Chromium that does not close in time is killed with this process,
  // which playwright-core does on exit: a test file must end inside its TIMEOUT.
  async close() {
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(resolve, CLOSE_MS, 'late'); });
    const closed = await Promise.race([this.context.close(), late]).finally(() => clearTimeout(timer));
    if (closed === 'late') {
      console.error(`closing chromium: not done in ${CLOSE_MS} ms; exiting, which kills it`);
      process.exit(1);
    }
    await new Promise((resolve) => this.served.server.close(resolve));
    await removeProfile(this.userDataDir);
  }
}

// Chromium's helper processes may still write into its profile for a moment after it has closed; the
// retries wait without blocking, so that playwright-core can end them meanwhile.
function removeProfile(userDataDir) {
  return fs.promises.rm(userDataDir, { recursive: true, force: true, maxRetries: 5 });
}

// Starts the server on 127.0.0.1 and chromium, headless, with a fresh profile and nothing that reaches
// the network by itself. All waits of the run together take at most budgetS seconds from here.
async function openHarness({ samplesDir = SAMPLES_DIR, budgetS = BUDGET_S } = {}) {
  const deadline = { end: Date.now() + budgetS * 1000, seconds: budgetS };
  const { chromium } = installed('playwright-core', () => require('playwright-core'));
  const served = await startServer(samplesDir);
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'clipindex-chromium-'));
  let launching = null;
  try {
    const context = await within(deadline, 'starting chromium', (timeout) => {
      launching = chromium.launchPersistentContext(userDataDir, {
        executablePath: CHROMIUM,
        headless: true,
        timeout,
        args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
          '--disable-sync', '--no-first-run'],
      });
      return launching;
    });
    return new Harness(served, context, userDataDir, deadline);
  } catch (error) {
    served.server.close();
    // A chromium that comes up after all is closed, or this process would wait for it. Its profile goes as
    // far as it can: a chromium that is still being killed may write into it again.
    Promise.resolve(launching).then((late) => late && late.close(), () => {})
      .then(() => removeProfile(userDataDir)).catch(() => {});
    throw error;
  }
}

module.exports = { openHarness, skipUnlessChromium, CHROMIUM };
