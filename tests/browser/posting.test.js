// Posting on the news site in Debian's headless Chromium, as a reader does
// it: a new article from the group page, a reply from the article page and a
// reply to that, each read back from the server; the thread view; and the
// refusals of hostile or impossible input, after which nothing was posted.
//   node posting.test.js BASE_URL SCREENSHOT_FOLDER
'use strict';

const { args, addresses, check, follow, shot, run } = require('./harness');

const [base, shots] = args('posting.test.js', 'BASE_URL', 'SCREENSHOT_FOLDER');
const url = addresses(base);
const stamp = Date.now().toString(36);

const text = (page, selector) => page.$eval(selector, (e) => e.innerText);

// Sends the form as the browser would, with values no form control can
// hold (line breaks in a one-line field, megabytes of text).
async function postRaw(page, action, fields) {
  return page.evaluate(async (action, fields) => {
    const response = await fetch(action, { method: 'POST', body: new URLSearchParams(fields) });
    return response.text();
  }, action, fields);
}

// Subjects of the articles in the group's newest window.
async function subjects(page, group) {
  await page.goto(url(`group.asp?g=${group}`), { waitUntil: 'load' });
  return page.$$eval('a.article', (as) => as.map((a) => a.textContent));
}

run(shots, async (page) => {
  // A new article from the group page's form.
  await page.goto(url('group.asp?g=demo.talk'), { waitUntil: 'load' });
  await follow(page, 'a.new-article');
  const subject = `Posted from the form ${stamp}`;
  const body = 'First line\n.a line starting with a dot\n\nLast line';
  await page.$eval('input[name=from]', (i) => { i.value = 'Form Poster <form@example.invalid>'; });
  await page.type('input[name=subject]', subject);
  await page.type('textarea[name=body]', body);
  await shot(page, 'post-form');
  await follow(page, 'input[type=submit]');
  check('new article posted', (await page.$('p.posted')) !== null, await text(page, 'main'));
  check('read back: subject', (await text(page, 'td.subject')) === subject);
  check('read back: text', (await page.$eval('pre.body', (p) => p.textContent)) === body + '\n',
    JSON.stringify(await page.$eval('pre.body', (p) => p.textContent)));
  const topId = await text(page, 'td.message-id');
  check('read back: no references', (await text(page, 'td.references')) === '');
  await shot(page, 'posted');

  // A reply from the article page: "Re: " once, the text quoted, the
  // References set.
  await follow(page, 'a.article');
  await follow(page, 'a.reply');
  check('reply subject', (await text(page, 'span.subject')) === `Re: ${subject}`);
  const quoted = await page.$eval('textarea[name=body]', (t) => t.value);
  check('reply quotes the text', quoted.includes('> First line\n> .a line starting with a dot\n> \n> Last line'),
    JSON.stringify(quoted));
  await page.$eval('textarea[name=body]', (t) => { t.value += '\nI agree.'; });
  await follow(page, 'input[type=submit]');
  check('reply posted', (await page.$('p.posted')) !== null, await text(page, 'main'));
  check('reply references the article', (await text(page, 'td.references')) === topId);
  const replyId = await text(page, 'td.message-id');
  await follow(page, 'a.article');
  await follow(page, 'a.reply');
  check('second reply adds no second Re:', (await text(page, 'span.subject')) === `Re: ${subject}`);
  await follow(page, 'input[type=submit]');
  check('second reply references both', (await text(page, 'td.references')) === `${topId} ${replyId}`);

  // The thread view: the article, then its reply, then the reply to it,
  // each indented one step more.
  await page.goto(url('group.asp?g=demo.talk&sort=3'), { waitUntil: 'load' });
  const rows = await page.$$eval('a.article', (as) => as.map((a) => [a.textContent, a.parentElement.className]));
  const at = rows.findIndex(([s]) => s === subject);
  check('thread view: article, reply, reply to the reply',
    at >= 0 && rows[at + 1] && rows[at + 1][0] === `Re: ${subject}` && rows[at + 1][1] === 'depth-1' &&
    rows[at + 2] && rows[at + 2][1] === 'depth-2' && rows[at][1] === 'depth-0', JSON.stringify(rows.slice(at, at + 3)));
  await shot(page, 'thread-view');

  // Refusals: each gets its message, and nothing is posted.
  const before = await subjects(page, 'demo.talk');
  const action = url('post.asp?g=demo.talk');
  const good = { from: 'Hostile <h@example.invalid>', newsgroups: 'demo.talk', subject: `Hostile ${stamp}`, body: 'x' };
  let answer = await postRaw(page, action, { ...good, subject: 'Hi\r\nControl: cancel <x@y>' });
  check('header injection is refused', answer.includes('must each be one line'), answer);
  answer = await postRaw(page, action, { ...good, newsgroups: 'demo.talk\r\nApproved: yes' });
  check('injection through the groups is refused', answer.includes('must each be one line'), answer);
  answer = await postRaw(page, action, { ...good, newsgroups: 'demo.talk, not a group' });
  check('invalid groups are refused', answer.includes('group names separated by commas'), answer);
  answer = await postRaw(page, action, { ...good, body: 'y'.repeat(10 * 1024 * 1024) });
  check('a 10 MB text is refused', answer.includes('too long'), answer.slice(0, 400));
  answer = await postRaw(page, action, { ...good, body: 'z'.repeat(1200) });
  check('an overlong line is refused', answer.includes('longer than 998'), answer);
  answer = await postRaw(page, action, { ...good, from: '' });
  check('an empty sender is refused', answer.includes('name and mail address'), answer);
  const after = await subjects(page, 'demo.talk');
  check('nothing was posted', after.length === before.length && !after.some((s) => s.startsWith('Hostile')),
    `${before.length} then ${after.length}`);

  // The group that takes articles only after a login over TLS.
  await page.goto(url('post.asp?g=demo.secure'), { waitUntil: 'load' });
  await page.type('input[name=subject]', `Secure ${stamp}`);
  await page.type('textarea[name=body]', 'Will this go?');
  await follow(page, 'input[type=submit]');
  const refusal = await text(page, 'p.error');
  check('secure group: the form says why', refusal.includes('441') && refusal.includes('over TLS'), refusal);
  await shot(page, 'post-refused');
});
