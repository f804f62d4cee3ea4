// The search features of the result pages in Debian's Chromium, on lun
// --headless over a scratch home: OR in the search box, "相同文件" by
// content, whole-word ranking with "全词匹配", and search as you type with
// the keys and the preview pane. Screenshots go to --out.
//
//   node search_features_test.mjs --bin BUILD/bin --out DIR
import fs from 'node:fs';
import path from 'node:path';
import {
  browserSession, Checks, makeScratch, parseArgs, runIsolated, searchUrl,
} from './lun_fixture.mjs';


const FILES = {
  'apple.txt': 'fruitword apple\n',
  'banana.txt': 'fruitword banana\n',
  'cherry.txt': 'fruitword cherry\n',
  'copy one.txt': 'samecontent of two copies\n',
  'copy two.txt': 'samecontent of two copies\n',
  // "port" three times inside longer words: the heavier hit by weight.
  'rank_inside.txt': 'rankword: supported portable report\n',
  'rank_whole.txt': 'rankword: the port is open\n',
  'rank_cjk.txt': 'rankword 使用port端口\n',
};
// Same name and size, different content, in two folders.
const TWINS = { 'one/twin.txt': 'twinword aaaa\n', 'two/twin.txt': 'twinword bbbb\n' };

async function search(page, text) {
  await page.fill('input[name=SearchText]', text);
  await Promise.all([page.waitForNavigation(), page.click('.searchbox button')]);
  return (await page.locator('#count').count()) ? page.textContent('#count') : '0';
}

const hitNames = async (page) =>
  (await page.locator('.hit .name').allTextContents()).map((t) => t.trim());

async function main() {
  const nested = runIsolated(import.meta.url);
  if (nested !== null) return nested;
  const args = parseArgs(process.argv.slice(2));
  const out = args.out || '.';
  fs.mkdirSync(out, { recursive: true });
  const checks = new Checks('web_ui_search_features');
  const scratch = makeScratch('lun-features-', FILES);
  for (const [name, content] of Object.entries(TWINS)) {
    fs.mkdirSync(path.dirname(path.join(scratch.docs, name)), { recursive: true });
    fs.writeFileSync(path.join(scratch.docs, name), content);
  }
  return browserSession(checks, args.bin, scratch, [['fruitword', 3], ['twinword', 2], ['rankword', 3]], async (page, lun) => {

    await checks.scenario('OR in the search box', async () => {
      await page.goto(`${lun.base}home.shl?IDCODE=${lun.code}`);
      await page.fill('input[name=SearchText]', 'apple OR banana');
      await Promise.all([page.waitForNavigation(), page.click('.searchbox button')]);
      checks.equal(await page.textContent('#count'), '2', '"apple OR banana" finds both files');
      checks.equal(JSON.stringify((await hitNames(page)).sort()), '["apple.txt","banana.txt"]',
        'the rows are the union');
      checks.equal(await page.locator('.snippet font').count(), 2, 'each row marks its word');
      await page.screenshot({ path: path.join(out, 'or_results.png'), fullPage: true });
      checks.equal(await search(page, 'apple | cherry'), '2', '"|" unites');
      checks.equal(await search(page, 'fruitword (apple 或 cherry)'), '2', '"或" with a group');
      checks.equal(await search(page, 'fruitword -(apple OR banana)'), '1', 'a group left out');
      checks.ok((await hitNames(page))[0] === 'cherry.txt', 'what is left is cherry.txt');
      checks.equal(await search(page, 'apple banana'), '0', 'blanks still mean AND');
      checks.equal(await page.inputValue('input[name=SearchText]'), 'apple banana',
        'the box keeps what was typed');
    });

    await checks.scenario('the search tips explain OR', async () => {
      await page.goto(`${lun.base}jiqiao.shl`);
      const tips = await page.textContent('.tips');
      checks.ok(tips.includes('OR') && tips.includes('或') && tips.includes('|'), 'OR, | and 或 are explained');
      checks.ok(tips.includes('全词匹配'), '全词匹配 is explained');
    });

    await checks.scenario('相同文件 compares the content', async () => {
      await page.goto(searchUrl(lun, 'samecontent'));
      await Promise.all([page.waitForNavigation(), page.click('.hit .actions a:text-is("相同文件")')]);
      checks.equal(await page.textContent('#count'), '2', 'two files with the same bytes, named apart');
      checks.ok((await page.textContent('.filehead .meta')).includes('MD5'), 'the page says it compares by MD5');
      const names = await page.locator('#same tbody td:first-child').allTextContents();
      checks.ok(names.some((n) => n.includes('copy one.txt')) && names.some((n) => n.includes('copy two.txt')),
        'both copies are listed');
      await page.screenshot({ path: path.join(out, 'same_by_content.png'), fullPage: true });
      await page.goto(searchUrl(lun, 'twinword'));
      checks.equal(await page.textContent('#count'), '2', 'two files named twin.txt');
      await Promise.all([page.waitForNavigation(), page.click('.hit .actions a:text-is("相同文件")')]);
      checks.equal(await page.textContent('#count'), '1',
        'same name and size but other bytes: only the file itself');
    });

    await checks.scenario('whole words rank first; 全词匹配 keeps only them', async () => {
      await page.goto(searchUrl(lun, 'port'));
      checks.equal(await page.textContent('#count'), '3', 'substring search finds all three');
      const names = await hitNames(page);
      checks.equal(names[2], 'rank_inside.txt', 'the hit inside longer words ranks last');
      checks.ok(names.slice(0, 2).sort().join() === 'rank_cjk.txt,rank_whole.txt',
        'the whole-word hits rank first (also between Chinese characters)');
      await page.screenshot({ path: path.join(out, 'whole_word_ranking.png'), fullPage: true });
      await page.check('.searchbox input[name=Whole]');
      await Promise.all([page.waitForNavigation(), page.click('.searchbox button')]);
      checks.equal(await page.textContent('#count'), '2', '全词匹配 drops the hit inside words');
      checks.ok(await page.isChecked('.searchbox input[name=Whole]'), 'the box stays ticked');
      checks.ok(!(await hitNames(page)).includes('rank_inside.txt'), 'rank_inside.txt is gone');
      await page.screenshot({ path: path.join(out, 'whole_word_only.png'), fullPage: true });
      // The tabs and the sort links keep the choice.
      await Promise.all([page.waitForNavigation(), page.click('a.sortkey:text-is("文件名")')]);
      checks.equal(await page.textContent('#count'), '2', 'sorting keeps 全词匹配');
      // Chinese terms are unaffected.
      checks.equal(await search(page, '端口'), '1', 'a Chinese term with 全词匹配');
    });

    await checks.scenario('全词匹配 in the advanced search', async () => {
      await page.goto(`${lun.base}Advanced.shl?IDCODE=${lun.code}`);
      await page.fill('#Content', 'port');
      await page.check('#Whole');
      await page.screenshot({ path: path.join(out, 'advanced_whole_word.png'), fullPage: true });
      await Promise.all([page.waitForNavigation(), page.click('#advanced button[type=submit]')]);
      checks.equal(await page.textContent('#count'), '2', 'only the whole-word hits');
    });

    await checks.scenario('search as you type, keys and the preview pane', async () => {
      await page.goto(`${lun.base}home.shl?IDCODE=${lun.code}`);
      // Typed, never submitted: the results come under the box.
      await page.type('input[name=SearchText]', 'fruitword', { delay: 30 });
      await page.waitForFunction(() => document.querySelectorAll('#live li.hit').length === 3);
      checks.ok(page.url().includes('SearchText=fruitword'), 'the address follows the typing');
      await page.type('input[name=SearchText]', ' cherry', { delay: 30 });
      await page.waitForFunction(() => document.querySelectorAll('#live li.hit').length === 1);
      checks.equal(JSON.stringify(await hitNames(page)), '["cherry.txt"]', 'the list narrows while typing');

      await page.type('input[name=SearchText]', ' OR apple', { delay: 30 });
      await page.waitForFunction(() => document.querySelectorAll('#live li.hit').length === 2);
      // Down from the box selects the first hit and previews it.
      await page.keyboard.press('ArrowDown');
      await page.waitForSelector('#preview pre.doc');
      const first = (await hitNames(page))[0];
      checks.ok((await page.textContent('li.hit.selected .name')).trim() === first, 'the first hit is selected');
      checks.ok((await page.textContent('#preview pre.doc')).includes(first.replace('.txt', '')),
        'the preview shows its text');
      checks.ok(await page.locator('#preview pre.doc font').count() > 0, 'with the keywords marked');
      await page.keyboard.press('ArrowDown');
      const second = (await hitNames(page))[1];
      await page.waitForFunction((word) => document.querySelector('#preview pre.doc') &&
        document.querySelector('#preview pre.doc').textContent.includes(word), second.replace('.txt', ''));
      checks.ok((await page.textContent('li.hit.selected .name')).trim() === second, 'Down moves on');
      await page.screenshot({ path: path.join(out, 'live_preview.png'), fullPage: false });

      // Enter opens the selected hit as its name link would.
      await page.route('**/Open.shl*', (route) => route.fulfill({
        contentType: 'text/html', body: '<div class="msg"><strong>已打开</strong></div>' }));
      const opened = page.waitForRequest((r) => r.url().includes('Open.shl'));
      await page.keyboard.press('Enter');
      checks.ok((await opened).url().includes('open'), 'Enter asks to open the file');
      await page.unroute('**/Open.shl*');

      // "/" goes back to the box.
      await page.keyboard.press('/');
      checks.equal(await page.evaluate(() => document.activeElement.name), 'SearchText', '"/" focuses the box');
    });
  });
}

process.exitCode = await main();
