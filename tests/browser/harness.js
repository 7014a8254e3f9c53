// What the browser tests share: checks that print "ok" or "FAIL" lines, a
// click that waits for the page it opens, screenshots, and a run in Debian's
// headless Chromium that ends the process with "ALL TESTS PASSED" (exit 0)
// or the number of failed checks (exit 1).
'use strict';

const fs = require('fs');
const path = require('path');
const puppeteer = require('puppeteer-core');

let failures = 0;
let shots = '.';

function check(name, condition, detail) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${name}${condition ? '' : ': ' + (detail || '')}`);
  if (!condition) failures++;
}

async function open(page, address) {
  return page.goto(address, { waitUntil: 'load' });
}

async function follow(page, selector) {
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click(selector)]);
}

async function shot(page, name) {
  await page.screenshot({ path: path.join(shots, name + '.png'), fullPage: true });
}

// The test's command-line arguments, one for each name; with one missing,
// the usage line and exit 2.
function args(script, ...names) {
  const values = process.argv.slice(2, 2 + names.length);
  if (values.length < names.length || values.some((v) => !v)) {
    console.error(`usage: node ${script} ${names.join(' ')}`);
    process.exit(2);
  }
  return values;
}

// A function that makes addresses relative to `base` (or to another base).
function addresses(base) {
  return (p, b = base) => new URL(p, b).href;
}

// Calls body(page) with a fresh page of a new browser, screenshots going to
// `folder`, and exits with the outcome.
function run(folder, body) {
  shots = folder;
  const main = async () => {
    fs.mkdirSync(shots, { recursive: true });
    const browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [],
    });
    try {
      const page = await browser.newPage();
      await page.setViewport({ width: 1100, height: 800 });
      await body(page);
    } finally {
      await browser.close();
    }
  };
  main().then(() => {
    console.log(failures ? `${failures} checks failed` : 'ALL TESTS PASSED');
    process.exit(failures ? 1 : 0);
  }, (error) => {
    console.error('FAIL', error);
    process.exit(1);
  });
}

module.exports = { args, addresses, check, open, follow, shot, run };
