// The news site in every language, in Debian's headless Chromium: the
// international demo articles (demo.intl, INTL_ARTICLES of
// tests/site/site_data.py) must show their exact Unicode text in the group
// list, on the article page and in a mail sent from the site as the
// mailbox shows it, and the fetch page must give the exact titles of a
// UTF-8 and a Latin-1 page.
//   node intl.test.js BASE_URL SCREENSHOT_FOLDER
'use strict';

const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { args, addresses, check, open, follow, shot, run } = require('./harness');

const [base, shots] = args('intl.test.js', 'BASE_URL', 'SCREENSHOT_FOLDER');
const url = addresses(base);
// What a reader must see of each article, from the file that posts them.
const shown = JSON.parse(execFileSync('/usr/bin/python3', ['-c',
  'import json, sys; sys.path.insert(0, sys.argv[1]); import site_data; print(json.dumps(site_data.INTL_SHOWN))',
  path.join(__dirname, '..', 'site')], { encoding: 'utf8' }));

const textOf = (page, selector) => page.$eval(selector, (e) => e.innerText);

run(shots, async (page) => {
  // The group list: every subject and sender exactly, newest first.
  await open(page, url('group.asp?g=demo.intl'));
  const rows = await page.$$eval('table.articles tr', (trs) =>
    trs.slice(1).map((tr) => [...tr.cells].map((td) => td.innerText)));
  const byNumber = new Map(rows.map((cells) => [Number(cells[0]), cells]));
  check('group lists every international article', byNumber.size === shown.length, JSON.stringify(rows));
  shown.forEach(([subject, from], i) => {
    const cells = byNumber.get(i + 1) || [];
    check(`group subject of ${i + 1}`, cells[1] === subject, `${cells[1]} instead of ${subject}`);
    check(`group sender of ${i + 1}`, cells[2] === from, `${cells[2]} instead of ${from}`);
  });
  await shot(page, 'intl-group');

  // Each article page: headers and text.
  for (const [i, [subject, from, line]] of shown.entries()) {
    await open(page, url(`article.asp?g=demo.intl&n=${i + 1}`));
    const s = await textOf(page, 'td.subject');
    const f = await textOf(page, 'td.from');
    const body = await textOf(page, 'pre.body');
    check(`article ${i + 1} subject`, s === subject, `${s} instead of ${subject}`);
    check(`article ${i + 1} sender`, f === from, `${f} instead of ${from}`);
    check(`article ${i + 1} text`, body.split('\n').includes(line), body);
    check(`article ${i + 1} title`, (await page.title()).startsWith(subject), await page.title());
  }
  await open(page, url('article.asp?g=demo.intl&n=1'));
  await shot(page, 'intl-article');

  // Each article mailed from the site, as the mailbox decodes it.
  const to = `intl-${Date.now()}@example.invalid`;
  const numbers = shown.map((_, i) => i + 1);
  for (const n of numbers) {
    await open(page, url(`mail.asp?g=demo.intl&n=${n}`));
    await page.$eval('input[name=to]', (input) => { input.value = ''; });
    await page.type('input[name=to]', to);
    await follow(page, 'input[type=submit]');
    check(`article ${n} is mailed`, (await textOf(page, 'main')).includes('Sent'), await textOf(page, 'main'));
  }
  await open(page, url('mailbox.asp'));
  const messages = await page.$$eval('pre.message', (ps) => ps.map((p) => p.innerText));
  for (const n of numbers) {
    const [subject, , line] = shown[n - 1];
    const mail = messages.find((m) => m.includes('To: ' + to) && m.includes('Subject: Fwd: ' + subject));
    check(`mailbox shows the mail of article ${n} decoded`, mail && mail.split(/\r?\n/).includes(line),
      messages.filter((m) => m.includes(to)).join('\n----\n'));
  }
  await shot(page, 'intl-mailbox');

  // The fetch page: a UTF-8 page and a Latin-1 page that says so only in
  // its meta tag.
  for (const [file, title] of [['welcome-utf8.html', 'Добро пожаловать — καλημέρα ☕'],
    ['welcome-latin1.html', 'Bienvenue à la démo, café crème']]) {
    await open(page, url('fetch.asp'));  // its address field holds the site's own welcome page
    const address = new URL(file, await page.$eval('input[name=url]', (i) => i.value)).href;
    await open(page, url('fetch.asp?url=' + encodeURIComponent(address)));
    const got = await textOf(page, 'span.title');
    check(`fetch page shows the title of ${file}`, got === title, `${got} instead of ${title}`);
  }
  await shot(page, 'intl-fetch');
});
