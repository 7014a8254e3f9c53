// What the browser tests share: checks that count failures, page steps, and
// Debian's headless Chromium started and closed around a walk.
'use strict';

const puppeteer = require('puppeteer-core');

let failures = 0;

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

// Runs walk(page) in a fresh browser and ends the process with its verdict.
function run(walk) {
  (async () => {
    const browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [],
    });
    try {
      const page = await browser.newPage();
      await page.setViewport({ width: 1100, height: 800 });
      await walk(page);
    } finally {
      await browser.close();
    }
  })().then(() => {
    console.log(failures ? `${failures} checks failed` : 'ALL TESTS PASSED');
    process.exit(failures ? 1 : 0);
  }, (error) => {
    console.error('FAIL', error);
    process.exit(1);
  });
}

module.exports = { check, open, follow, run };
