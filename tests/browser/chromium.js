// What every browser test here shares: Debian's headless Chromium through
// puppeteer-core (one page at a desktop size), a line per check, and an
// exit status that says whether all of them held.
'use strict';

const fs = require('fs');
const puppeteer = require('puppeteer-core');

async function openBrowser(shots) {
  fs.mkdirSync(shots, { recursive: true });
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    // Chromium's own sandbox cannot start as root (CI runs as root).
    args: process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [],
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 1100, height: 800 });
  return { browser, page };
}

let failures = 0;

function check(name, condition, detail) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${name}${condition ? '' : ': ' + (detail || '')}`);
  if (!condition) failures++;
}

// Runs the test's main and exits 0 only when it finished and every check held.
function run(main) {
  main().then(() => {
    console.log(failures ? `${failures} checks failed` : 'ALL TESTS PASSED');
    process.exit(failures ? 1 : 0);
  }, (error) => {
    console.error('FAIL', error);
    process.exit(1);
  });
}

module.exports = { openBrowser, check, run };
