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
// <object> elements in document order (a live collection, as the browser's own is); an object that was
// given a movie param reports that movie as its Movie, as the Flash control does.
//
//   const { openHarness } = require('./harness');
//   const harness = await openHarness();                  // server on 127.0.0.1 and chromium
//   const run = await harness.runPage({ pageBytes, sampleUrl: harness.url('/samples/movies.html') });
//   const view = await run.view();                        // links, frame, background, ...
//   const { frameUrl } = await run.clickLink(0);          // the first movie plays in the frame playarea
//   await harness.close();

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const CHROMIUM = '/usr/bin/chromium';
const SAMPLES_DIR = path.join(__dirname, 'samples');
// A few bytes that begin like a movie file. Chromium plays no Flash and would turn a response of the
// movie type into a download, leaving the frame blank; served as text, the frame shows it at its address.
const STAND_IN_MOVIE = Buffer.from('FWS\x09 clipindex stand-in movie\n', 'latin1');

// Exits with CTest's skip code when the browser is truly not installed; anything else is a failure.
function skipUnlessChromium() {
  if (!fs.existsSync(CHROMIUM)) {
    console.log(`SKIP: ${CHROMIUM} is not installed (Debian package chromium; scripts/setup installs it)`);
    process.exit(77);
  }
}

function loadPlaywright() {
  try {
    return require('playwright-core');
  } catch (error) {
    throw new Error(`playwright-core is missing: run scripts/setup (npm ci) at the repository root (${error.message})`);
  }
}

// Serves the sample pages under /samples/ (an .html sample may say {{ORIGIN}} for http://127.0.0.1:PORT)
// and the stand-in movie at any path ending in .swf. Every request is recorded, in order.
function startServer(samplesDir) {
  const requests = [];
  const server = http.createServer((request, response) => {
    requests.push(request.url);
    const pathname = request.url.split(/[?#]/)[0];
    if (pathname.toLowerCase().endsWith('.swf')) {
      response.writeHead(200, { 'Content-Type': 'text/plain', 'X-Content-Type-Options': 'nosniff' });
      response.end(STAND_IN_MOVIE);
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

// Runs inside the sample page: the host's side of picking the menu entry. Returns the page script's
// error, if any, the reads of document.embeds, the name of its window afterwards, and the time of the
// script's run and of the layout that it causes, measured here in the page.
function pickInBrowser(pageText) {
  const doc = document;
  const objects = doc.getElementsByTagName('object');
  Object.defineProperty(doc, 'applets', { configurable: true, get: () => objects });
  // The Flash control answers for Movie (any case) the value of the object's movie param; an object
  // without one is left as it is.
  const ownGetAttribute = Element.prototype.getAttribute;
  Object.defineProperty(HTMLObjectElement.prototype, 'getAttribute', {
    configurable: true,
    writable: true,
    value: function getAttribute(name) {
      if (String(name).toLowerCase() === 'movie') {
        for (const child of this.children) {
          if (child.localName === 'param' && (ownGetAttribute.call(child, 'name') || '').toLowerCase() === 'movie') {
            return ownGetAttribute.call(child, 'value') || '';
          }
        }
      }
      return ownGetAttribute.call(this, name);
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

class SamplePage {
  constructor(page) {
    this.page = page;
    this.errors = []; // uncaught errors of the sample page itself
    page.on('pageerror', (error) => this.errors.push(error));
  }

  // The user picks the menu entry on this page: the page's bytes run against it.
  async pick(pageBytes) {
    const pageText = new TextDecoder('gbk', { fatal: true }).decode(pageBytes);
    const result = await this.page.evaluate(pickInBrowser, pageText);
    if (result.error) throw new Error(`the page's script failed: ${result.error}`);
    return result;
  }

  async view() {
    return this.page.evaluate(viewInBrowser);
  }

  // Adds Flash <object> elements at the end of the body, each with a movie param whose value is set
  // through the DOM so that any text arrives unchanged; an entry of null gives an object without one.
  async addObjects(movies) {
    await this.page.evaluate((list) => {
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
    return this.page.evaluate((list) => list.map((address) => {
      const a = document.createElement('a');
      a.setAttribute('href', address);
      return a.href;
    }), addresses);
  }

  // Markup as this browser parses and writes it back in a body: two markups that give the same body
  // compare equal, however they quote and escape.
  async parseBody(markup) {
    return this.page.evaluate((text) => {
      const parsed = document.implementation.createHTMLDocument('');
      parsed.body.innerHTML = text;
      return parsed.body.innerHTML;
    }, markup);
  }

  // Clicks the link at index among the body's links, as a user does, and waits for the frame playarea to
  // load. Returns the frame's URL and the URL of the page that holds the list.
  async clickLink(index) {
    const loaded = this.page.waitForEvent('framenavigated', {
      predicate: (frame) => frame.name() === 'playarea' && frame.url() !== 'about:blank', timeout: 5000,
    });
    await this.page.locator('body a').nth(index).click({ timeout: 5000 });
    try {
      await loaded;
    } catch (error) {
      throw new Error(`clicking link ${index} loaded nothing into the frame playarea: ${error.message}`);
    }
    const frame = this.page.frame({ name: 'playarea' });
    await frame.waitForLoadState('load');
    return { frameUrl: frame.url(), pageUrl: this.page.url() };
  }

  async screenshot(file) {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    return this.page.screenshot({ path: file });
  }

  async close() {
    await this.page.close();
  }
}

class Harness {
  constructor(served, context, userDataDir) {
    this.served = served;
    this.context = context;
    this.userDataDir = userDataDir;
    this.origin = served.origin;
    this.requests = served.requests;
  }

  url(pathname) {
    return this.origin + pathname;
  }

  // Opens a sample page (an address on the harness's server, or a path such as /samples/movies.html).
  async openSample(sampleUrl, { viewport = { width: 1024, height: 640 } } = {}) {
    const page = await this.context.newPage();
    await page.setViewportSize(viewport);
    const sample = new SamplePage(page);
    await page.goto(sampleUrl.startsWith('/') ? this.url(sampleUrl) : sampleUrl);
    return sample;
  }

  // Opens the sample page and picks the menu entry on it once.
  async runPage({ pageBytes, sampleUrl, viewport }) {
    const sample = await this.openSample(sampleUrl, { viewport });
    sample.timing = await sample.pick(pageBytes);
    return sample;
  }

  async close() {
    await this.context.close();
    await new Promise((resolve) => this.served.server.close(resolve));
    fs.rmSync(this.userDataDir, { recursive: true, force: true });
  }
}

// Starts the server on 127.0.0.1 and chromium, headless, with a fresh profile and nothing that reaches
// the network by itself.
async function openHarness({ samplesDir = SAMPLES_DIR } = {}) {
  const { chromium } = loadPlaywright();
  const served = await startServer(samplesDir);
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'clipindex-chromium-'));
  let context;
  try {
    context = await chromium.launchPersistentContext(userDataDir, {
      executablePath: CHROMIUM,
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
        '--disable-sync', '--no-first-run'],
    });
  } catch (error) {
    served.server.close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
    throw error;
  }
  return new Harness(served, context, userDataDir);
}

module.exports = { openHarness, skipUnlessChromium, CHROMIUM, STAND_IN_MOVIE };
