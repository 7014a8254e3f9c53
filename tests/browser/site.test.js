// Walks the news site in Debian's headless Chromium as a reader would, and
// checks what a reader would see: lists, paging, thumbnails that really
// load, attachment and upload bytes, mail arriving in the mailbox.
//   node site.test.js BASE_URL SITE_FOLDER SAMPLES_FOLDER SCREENSHOT_FOLDER
'use strict';

const fs = require('fs');
const path = require('path');
const { args, addresses, check, open, follow, shot, run } = require('./harness');

const [base, siteFolder, samples, shots] = args('site.test.js', 'BASE_URL', 'SITE_FOLDER', 'SAMPLES_FOLDER',
  'SCREENSHOT_FOLDER');
const url = addresses(base);

// Every <img class="thumb"> decoded by the browser: complete with a width.
async function thumbnailsLoaded(page) {
  return page.$$eval('img.thumb', (imgs) => imgs.map((i) => i.complete && i.naturalWidth > 0));
}

async function uploadFile(page, file) {
  await open(page, url('upload.asp'));
  const input = await page.$('input[type=file]');
  await input.uploadFile(path.join(samples, file));
  await follow(page, 'input[type=submit]');
  return page.$eval('main', (m) => m.innerText);
}

// The walk, in the order a reader would go.
run(shots, async (page) => {
  {
    // Groups, a group, older articles.
    await open(page, base);
    const groups = await page.$$eval('a.group', (as) => as.map((a) => a.textContent));
    check('groups page lists the demo groups', groups.includes('demo.big') && groups.includes('demo.pictures'),
      groups.join(' '));
    await shot(page, 'groups');
    await follow(page, 'a.group[href="group.asp?g=demo%2Ebig"]');
    let rows = await page.$$('a.article');
    check('group page shows 100 articles', rows.length === 100, `${rows.length} rows`);
    let note = await page.$eval('p.note', (p) => p.textContent);
    check('group page starts with the newest', note.includes('51 to 150'), note);
    await shot(page, 'group');
    await follow(page, 'a.older');
    note = await page.$eval('p.note', (p) => p.textContent);
    rows = await page.$$('a.article');
    check('older page shows 1 to 50', note.includes('1 to 50') && rows.length === 50, note);
    await shot(page, 'group-older');

    // Emoticons in subjects are pictures the browser can decode.
    await open(page, url('group.asp?g=demo.talk'));
    const smilies = await page.$$eval("img[src^='/images/smile']", (imgs) => imgs.map((i) => i.complete && i.naturalWidth === 16));
    check('emoticons in subjects load', smilies.length >= 3 && smilies.every(Boolean), JSON.stringify(smilies));
    await shot(page, 'group-talk');

    // An article with a MIME picture: thumbnail, then the attachment itself.
    await open(page, url('group.asp?g=demo.pictures'));
    await follow(page, 'a.article[href$="n=1"]');
    let loaded = await thumbnailsLoaded(page);
    check('MIME picture thumbnail loads', loaded.length === 1 && loaded.every(Boolean), JSON.stringify(loaded));
    await shot(page, 'article-mime');
    const href = await page.$eval('a.attachment', (a) => a.href);
    const response = await open(page, href);
    const bytes = await response.buffer();
    check('attachment bytes are the posted picture', bytes.equals(fs.readFileSync(path.join(samples, 'sunset.png'))),
      `${bytes.length} bytes`);

    // An article with a uuencoded picture.
    await open(page, url('group.asp?g=demo.binaries'));
    await follow(page, 'a.article[href$="n=1"]');
    loaded = await thumbnailsLoaded(page);
    check('uuencoded picture thumbnail loads', loaded.length === 1 && loaded.every(Boolean), JSON.stringify(loaded));
    await shot(page, 'article-uuencoded');

    // Uploads through the real form: the browser builds the multipart body.
    let text = await uploadFile(page, 'photo.png');
    const saved = path.join(siteFolder, 'www', 'uploads', 'photo.png');
    check('uploaded picture saved byte for byte',
      fs.existsSync(saved) && fs.readFileSync(saved).equals(fs.readFileSync(path.join(samples, 'photo.png'))), text);
    loaded = await thumbnailsLoaded(page);
    check('uploaded picture thumbnail loads', loaded.length === 1 && loaded.every(Boolean), text);
    await shot(page, 'upload');
    text = await uploadFile(page, 'notapicture.jpg');
    check('non-picture named .jpg is refused as a picture', text.includes('No thumbnail: not a picture'), text);
    text = await uploadFile(page, 'huge.png');
    check('30000 x 30000 picture is refused', text.includes('too large'), text);
    text = await uploadFile(page, 'empty.png');
    check('empty upload is reported', text.includes('is empty (0 bytes)'), text);

    // Send an article by mail and find it in the mailbox.
    const to = `browser-${Date.now()}@example.invalid`;
    await open(page, url('article.asp?g=demo.talk&n=1'));
    await follow(page, 'a.mail');
    await page.$eval('input[name=to]', (i) => { i.value = ''; });
    await page.type('input[name=to]', to);
    await follow(page, 'input[type=submit]');
    text = await page.$eval('main', (m) => m.innerText);
    check('mail is sent', text.includes('Sent'), text);
    await follow(page, 'a[href="mailbox.asp"]');
    text = await page.$eval('main', (m) => m.innerText);
    check('mail arrives in the mailbox', text.includes('To: ' + to) && text.includes('Hello everybody'), text);
    await shot(page, 'mailbox');

    // A page fetched with MyHttp.
    await open(page, url('fetch.asp'));
    text = await page.$eval('span.title', (s) => s.textContent);
    check('fetch page shows the title', text === 'Welcome to the Quillnet demo', text);
    await shot(page, 'fetch');

    // Hostile input gets a message, and the site keeps serving.
    await open(page, url('group.asp?g=..%5C..%5Cwindows'));
    text = await page.$eval('main', (m) => m.innerText);
    check('hostile group name gets a message', text.includes('not a newsgroup name'), text);
    await open(page, url('article.asp?g=demo.talk&n=1;DROP'));
    text = await page.$eval('main', (m) => m.innerText);
    check('article number that is not a number gets a message', text.includes('must be a number'), text);
    await shot(page, 'hostile');
    await open(page, base);
    check('site still serving', (await page.$$('a.group')).length > 0);
  }
});
