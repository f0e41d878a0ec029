'use strict';
// What the movie-list page must write, in the page's own words, for the tests to compare against.

const fs = require('fs');
const path = require('path');

const PAGE_FILE = process.env.CLIPINDEX_PAGE || path.join(__dirname, '..', '..', 'resources', 'clipindex.htm');

const OPENING = "<table height=100% width=100% cellspacing=0 cellpadding=18 style='font-family:宋体;font-size:9pt;'><tr><td width=28%>";
const FOOTER_LABEL = '<br><br>相关下载：<br>';
const DOWNLOAD = { href: 'https://ruffle.rs/', text: 'Flash 播放器（Ruffle）' };
const CLOSING = '</td><td bgcolor=#666666><iframe name=playarea frameborder=no scrolling=no height=100% width=100%></iframe></td></tr></table>';
const BACKGROUND = 'rgb(136, 238, 238)'; // #88eeee

function escapeHtml(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

// The name a movie is listed under: what follows its last forward slash.
function movieName(address) {
  return address.slice(address.lastIndexOf('/') + 1);
}

// The whole markup of the rewritten body for these movie addresses (in the order of the page's objects).
// Parsed by the browser, it must give the very same body as the page's own markup.
function expectedMarkup(addresses) {
  const links = addresses.map((address) =>
    `<a href="${escapeHtml(address)}" target=playarea>${escapeHtml(movieName(address))}</a><br>`);
  return OPENING + links.join('') + FOOTER_LABEL + `<a href=${DOWNLOAD.href}>${DOWNLOAD.text}</a>` + CLOSING;
}

function readPage() {
  return fs.readFileSync(PAGE_FILE);
}

module.exports = {
  PAGE_FILE, OPENING, FOOTER_LABEL, DOWNLOAD, CLOSING, BACKGROUND, movieName, expectedMarkup, readPage,
};
