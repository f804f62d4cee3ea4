// Time travel and saved searches in Debian's Chromium, on lun --headless
// over a scratch home: the side-by-side comparison of two versions of a
// document, the deleted files a user can still find and read, and a saved
// search that fires when a matching file appears (badge, list, notice).
// Screenshots go to --out.
//
//   node history_watch_test.mjs --bin BUILD/bin --out DIR
import fs from 'node:fs';
import path from 'node:path';
import {
  browserSession, Checks, countIn, makeScratch, parseArgs, request, runIsolated, searchUrl,
  waitFor, waitForCount,
} from './lun_fixture.mjs';

const NOTES_V1 = 'versionword 第一行\nkeep one\nold line & stays <b>\nkeep two\n';
const NOTES_V2 = 'versionword 第一行\nkeep one\nkeep two\nnewword <script>alert(1)</script>\n';
const FILES = {
  'notes.txt': NOTES_V1,
  'ghost.txt': 'ghostword 这个文件会被删除\n',
  'alive.txt': 'ghostword 这个文件还在\n',
};

async function main() {
  const nested = runIsolated(import.meta.url);
  if (nested !== null) return nested;
  const args = parseArgs(process.argv.slice(2));
  const out = args.out || '.';
  fs.mkdirSync(out, { recursive: true });
  const checks = new Checks('web_ui_history_watch');
  // Records of deleted files stay (their text readable) when real-time
  // deletion is off.
  const scratch = makeScratch('lun-history-', FILES, { '实时文件删除': 'FALSE' });
  return browserSession(checks, args.bin, scratch, [['versionword', 1], ['ghostword', 2]], async (page, lun) => {

    await checks.scenario('two versions of a document side by side', async () => {
      // A new version: an mtime apart from the first, so it is a change.
      const notes = path.join(scratch.docs, 'notes.txt');
      fs.writeFileSync(notes, NOTES_V2);
      const later = new Date(Date.now() + 5000);
      fs.utimesSync(notes, later, later);
      checks.ok(await waitForCount(lun, 'newword', 1, 60000), 'the new version is indexed');
      await page.goto(searchUrl(lun, 'versionword'));
      await Promise.all([page.waitForNavigation(), page.click('.hit .actions a:text-is("历史版本")')]);
      checks.equal(await page.textContent('#count'), '2', 'the history lists two versions');
      await page.screenshot({ path: path.join(out, 'history_versions.png'), fullPage: true });
      // The snapshot of the replaced version shows its own text.
      await Promise.all([page.waitForNavigation(), page.click('#versions tbody tr:nth-child(2) a:text-is("内容快照")')]);
      checks.ok((await page.textContent('body')).includes('old line & stays <b>'), 'the replaced version can be read');
      await page.goBack();
      await Promise.all([page.waitForNavigation(), page.click('#comparebtn')]);
      checks.equal(await page.textContent('#removed'), '1', 'one line removed');
      checks.equal(await page.textContent('#added'), '1', 'one line added');
      checks.equal((await page.locator('table.diff td.del').allTextContents()).join('|'),
        'old line & stays <b>', 'the removed line is marked, its markup shown as text');
      checks.equal((await page.locator('table.diff td.add').allTextContents()).join('|'),
        'newword <script>alert(1)</script>', 'the added line is marked');
      checks.equal(await page.locator('table.diff td b, table.diff td script').count(), 0,
        'no markup of the texts reaches the page');
      checks.ok((await page.textContent('table.diff thead')).includes('旧版本'), 'the columns are named');
      await page.screenshot({ path: path.join(out, 'version_diff.png'), fullPage: true });
      // The link of the older row compares the same pair.
      await page.goBack();
      await Promise.all([page.waitForNavigation(), page.click('a.diffnext')]);
      checks.equal(await page.textContent('#added'), '1', 'the row link compares with the next version');
      // A bad record number gets a message, not an error.
      await page.goto(`${lun.base}Diff.shl?IDCODE=${lun.code}&RecordA=999999&RecordB=x`);
      checks.ok((await page.textContent('.msg')).includes('找不到要比较的版本'), 'bad record numbers are explained');
    });

    await checks.scenario('deleted files can be found and read', async () => {
      fs.rmSync(path.join(scratch.docs, 'ghost.txt'));
      // The result page looks at the disk: the row is marked at once.
      await page.goto(searchUrl(lun, 'ghostword'));
      checks.equal(await page.textContent('#count'), '2', 'the record of the deleted file stays');
      checks.equal(await page.locator('.hit.gone').count(), 1, 'one row is marked deleted');
      await Promise.all([page.waitForNavigation(), page.click('a.deletedlink')]);
      const names = (await page.locator('#deleted .name').allTextContents()).map((t) => t.trim());
      checks.equal(JSON.stringify(names), '["ghost.txt"]', 'the deleted-files view lists only the gone file');
      await page.screenshot({ path: path.join(out, 'deleted_files.png'), fullPage: true });
      await Promise.all([page.waitForNavigation(), page.click('#deleted a.snapshot')]);
      checks.ok((await page.textContent('body')).includes('这个文件会被删除'), 'its text can be read');
      await page.goto(`${lun.base}Deleted.shl?IDCODE=${lun.code}`);
      checks.equal(await page.locator('#deleted .hit').count(), 1, 'without words: every deleted file');
      await page.goto(`${lun.base}Deleted.shl?IDCODE=${lun.code}&SearchText=versionword`);
      checks.ok((await page.textContent('.msg')).includes('没有找到已删除的文件'), 'a live file is not listed');
    });

    await checks.scenario('a saved search fires when a matching file appears', async () => {
      await page.goto(searchUrl(lun, 'watchword'));
      checks.ok((await page.textContent('.msg')).includes('没有找到'), 'nothing matches yet');
      await page.fill('#savesearch input[name=Name]', '监视 watchword');
      await page.screenshot({ path: path.join(out, 'save_search_form.png'), fullPage: true });
      await Promise.all([page.waitForNavigation(), page.click('#savesearch button')]);
      checks.ok((await page.textContent('.msg')).includes('搜索已保存'), 'the search is saved');
      checks.equal((await page.locator('#watches .watch .name').allTextContents()).join('|'), '监视 watchword',
        'the list shows it');
      checks.equal(await page.locator('#watchbadge').count(), 0, 'no badge before a hit');
      fs.writeFileSync(path.join(scratch.docs, 'fresh.txt'), 'a new file with watchword inside\n');
      const badge = await waitFor(async () => {
        await page.goto(`${lun.base}home.shl?IDCODE=${lun.code}`);
        return (await page.locator('#watchbadge').count()) === 1;
      }, 90000, 'the saved-search badge');
      checks.ok(badge, 'the badge appears on the pages');
      checks.equal(await page.textContent('#watchbadge'), '1', 'it counts one new hit');
      checks.ok(await waitFor(async () => lun.log().includes('已保存的搜索有新结果'), 30000, 'the notice'),
        'a notice announces the hit');
      checks.ok(lun.log().includes('“监视 watchword”：1 个新文件，如 fresh.txt'), 'the notice names the file');
      await page.screenshot({ path: path.join(out, 'saved_search_badge.png'), fullPage: true });
      await Promise.all([page.waitForNavigation(), page.click('#watchbadge')]);
      checks.equal((await page.locator('.newhits a').allTextContents()).join('|'), 'fresh.txt',
        'the saved-search page lists the new hit');
      await page.screenshot({ path: path.join(out, 'saved_searches.png'), fullPage: true });
      await Promise.all([page.waitForNavigation(), page.click('.newhits a')]);
      checks.ok((await page.textContent('body')).includes('a new file with watchword inside'), 'the hit opens');
      await page.goto(`${lun.base}SavedSearch.shl?IDCODE=${lun.code}`);
      checks.equal(await page.locator('.newhits').count(), 0, 'seen hits are not shown again');
      checks.equal(await page.locator('#watchbadge').count(), 0, 'and the badge is gone');
      // The link of the search runs it again.
      await Promise.all([page.waitForNavigation(), page.click('#watches .name')]);
      checks.equal(await page.textContent('#count'), '1', 'the saved search runs from its link');
      // Saving needs the form token; deleting works from the list.
      const forged = await request(`${lun.base}SavedSearch.shl?IDCODE=${lun.code}`, {
        body: { action: 'save', Name: 'forged', Query: '[文档]:文本内容=x', Link: '' },
      });
      checks.ok(forged.body.includes('请求无效') && !forged.body.includes('forged'), 'a post without the token is refused');
      await page.goto(`${lun.base}SavedSearch.shl?IDCODE=${lun.code}`);
      page.once('dialog', (dialog) => dialog.accept());
      await Promise.all([page.waitForNavigation(), page.click('#watches button.link')]);
      checks.ok((await page.textContent('.msg')).includes('搜索已删除'), 'the search is deleted');
      checks.equal(await page.locator('#watches').count(), 0, 'the list is empty');
      checks.equal(countIn((await request(searchUrl(lun, 'watchword'))).body), 1, 'the file itself stays found');
    });
  });
}

process.exitCode = await main();
