// The pages that explain the index, in Debian's Chromium on lun --headless
// over a scratch home: the diagnosis page on each reason a file is or is
// not found and its "index now" button, the status page (documents per
// category, roots, the files indexed by name only, pause and resume through
// its buttons), and the root address that leads the local user to the home
// page. Screenshots go to --out.
//
//   node diagnosis_status_test.mjs --bin BUILD/bin --out DIR
import fs from 'node:fs';
import path from 'node:path';
import {
  browserSession, Checks, makeScratch, parseArgs, runIsolated, waitForCount,
} from './lun_fixture.mjs';

const WORD = 'diagword';
const FILES = {
  'found.txt': `${WORD} 找得到的文件\n`,
  'other.txt': `${WORD} 另一个文件\n`,
  // A document of a chosen type whose bytes are not one: no text comes out.
  'broken.docx': 'this is not a zip archive at all',
  // A picture's bytes: neither a chosen type nor text by its content.
  'photo.jpg': Buffer.concat([Buffer.from([0xff, 0xd8, 0xff, 0xe0, 0, 0x10]), Buffer.from('JFIF\0'),
    Buffer.from(Array.from({ length: 256 }, (_, i) => i))]),
};
// Chromium resolves this name to lun's address: a visit that names another
// host than this machine.
const FOREIGN_HOST = 'search.example';

function page_url(lun, name, extra = '') {
  return `${lun.base}${name}?IDCODE=${lun.code}${extra}`;
}

// Runs the diagnosis of `file` through the page's own form.
async function diagnose(page, file) {
  await page.fill('input[name=path]', file);
  await Promise.all([page.waitForNavigation(), page.click('.searchbox button')]);
  const row = async (key) => {
    const cell = page.locator(`#d-${key} td`);
    return (await cell.count()) ? (await cell.textContent()).trim() : null;
  };
  return {
    verdict: (await page.locator('#verdict').count()) ? await page.textContent('#verdict') : null,
    scope: await row('scope'),
    records: await row('records'),
    textChars: await row('text_chars'),
    textStart: await row('text_start'),
    extraction: await row('extraction'),
    canIndex: (await page.locator('#indexnow').count()) === 1,
  };
}

async function main() {
  const nested = runIsolated(import.meta.url);
  if (nested !== null) return nested;
  const args = parseArgs(process.argv.slice(2));
  const out = args.out || '.';
  fs.mkdirSync(out, { recursive: true });
  const checks = new Checks('web_ui_diagnosis_status');
  // The second root is lun's own temporary directory (TMPDIR of startLun),
  // which lun never scans even when it is chosen.
  const scratch = makeScratch('lun-diagnosis-', FILES);
  const docs = scratch.docs;
  const tmp = path.join(scratch.root, 'tmp');
  const big = path.join(docs, 'big.txt');
  fs.writeFileSync(big, '');
  fs.truncateSync(big, 21 * 1024 * 1024);  // over the 20 MiB limit: indexed by name only
  for (const dir of [path.join(docs, 'private'), path.join(docs, '.hidden'), tmp]) fs.mkdirSync(dir);
  const files = {
    forbidden: path.join(docs, 'private', 'secret.txt'),
    excluded: path.join(docs, '.hidden', 'note.txt'),
    temporary: path.join(tmp, 'scratch.txt'),
    outside: path.join(scratch.root, 'outside.txt'),
  };
  for (const file of Object.values(files)) fs.writeFileSync(file, `${WORD} 不该被索引\n`);
  fs.writeFileSync(path.join(scratch.home, 'Setting'), fs.readFileSync(path.join(scratch.home, 'Setting'), 'utf8')
    .replace(`允许扫描=|${docs}|`, `允许扫描=|${docs}|${tmp}|`)
    .replace('文档类型=|TXT|HTM|HTML|', `文档类型=|TXT|HTM|HTML|DOCX|\r\n禁止扫描=|${path.join(docs, 'private')}|`));

  return browserSession(checks, args.bin, scratch, [[WORD, 2], ['big.txt', 1]], async (page, lun) => {

    await checks.scenario('the root address leads the local user to the home page', async () => {
      await page.goto(`http://127.0.0.1:${lun.port}/`);
      checks.equal(page.url(), page_url(lun, 'home.shl'), 'redirected to the home page with this start\'s code');
      checks.equal(await page.locator('input[name=SearchText]').count(), 1, 'the search box is there');
      await page.goto(`http://${FOREIGN_HOST}:${lun.port}/`);
      checks.equal(page.url(), `http://${FOREIGN_HOST}:${lun.port}/`, 'another host name is not redirected');
      const text = await page.textContent('body');
      checks.ok(text.includes('lun --open') && !text.includes(lun.code), 'it is told how to open the search, without the code');
    });

    await checks.scenario('the diagnosis page on each reason', async () => {
      await page.goto(page_url(lun, 'home.shl'));
      await Promise.all([page.waitForNavigation(), page.click('main a:text-is("索引诊断")')]);
      checks.equal(await page.textContent('h2'), '索引诊断', 'the home page links the diagnosis');
      const cases = [
        { what: 'an indexed file', file: path.join(docs, 'found.txt'), verdict: 'in_scope',
          scope: '在索引范围内', records: '1 条', canIndex: true, textStart: '找得到的文件' },
        { what: 'a file outside every root', file: files.outside, verdict: 'not_under_root',
          scope: docs, records: '没有', canIndex: false },
        { what: 'a file under a forbidden path', file: files.forbidden, verdict: 'forbidden_path',
          scope: path.join(docs, 'private'), records: '没有', canIndex: false },
        { what: 'an excluded name', file: files.excluded, verdict: 'excluded_name',
          scope: '“.hidden”', records: '没有', canIndex: false },
        { what: 'a type not chosen', file: path.join(docs, 'photo.jpg'), verdict: 'type_not_chosen',
          scope: 'JPG', records: '没有', canIndex: false },
        { what: 'a file over the size limit', file: big, verdict: 'over_size_limit',
          scope: '超过', records: '1 条', canIndex: true, extraction: '文件太大' },
        { what: 'a file in the temporary directory', file: files.temporary, verdict: 'temporary_directory',
          scope: tmp, records: '没有', canIndex: false },
        { what: 'a document whose text could not be extracted', file: path.join(docs, 'broken.docx'),
          verdict: 'in_scope', scope: '在索引范围内', records: '1 条', canIndex: true,
          textChars: '0 个字符', extraction: '记录中没有文字' },
        { what: 'a path that does not exist', file: path.join(docs, 'nothing.txt'), verdict: 'missing',
          scope: '不存在', records: '没有', canIndex: false },
      ];
      for (const c of cases) {
        const got = await diagnose(page, c.file);
        checks.equal(got.verdict, c.verdict, `${c.what}: the verdict`);
        checks.ok(got.scope && got.scope.includes(c.scope), `${c.what}: the reason names "${c.scope}"`, got.scope);
        checks.equal(got.records, c.records, `${c.what}: its records`);
        checks.equal(got.canIndex, c.canIndex, `${c.what}: the "index now" button ${c.canIndex ? 'is' : 'is not'} offered`);
        if (c.textStart) checks.ok((got.textStart || '').includes(c.textStart), `${c.what}: the start of its text`, got.textStart);
        if (c.textChars) checks.equal(got.textChars, c.textChars, `${c.what}: the extracted characters`);
        if (c.extraction) checks.ok((got.extraction || '').includes(c.extraction), `${c.what}: the extraction note`, got.extraction);
        checks.equal(await page.inputValue('input[name=path]'), c.file, `${c.what}: the box keeps the path`);
        if (c.verdict === 'type_not_chosen') await page.screenshot({ path: path.join(out, 'diagnosis_type.png'), fullPage: true });
      }
      // A name with markup is shown as text.
      const odd = path.join(docs, '<b>odd</b>.txt');
      const got = await diagnose(page, odd);
      checks.equal(got.verdict, 'missing', 'a path with markup is diagnosed');
      checks.equal(await page.locator('#diagnosis b').count(), 0, 'its markup does not reach the page');
    });

    await checks.scenario('"index now" reads the file again', async () => {
      const file = path.join(docs, 'found.txt');
      fs.writeFileSync(file, 'nowword 改过的内容\n');
      await page.goto(page_url(lun, 'Diagnose.shl', `&path=${encodeURIComponent(file)}`));
      await page.screenshot({ path: path.join(out, 'diagnosis_indexed.png'), fullPage: true });
      await Promise.all([page.waitForNavigation(), page.click('#indexnow')]);
      checks.ok((await page.textContent('.msg')).includes('已重新索引'), 'the page says it was indexed');
      checks.ok((await page.textContent('#d-text_start td')).includes('nowword'), 'the new text is shown');
      checks.equal((await page.textContent('#d-records td')).trim(), '1 条', 'one record still');
      checks.equal(await page.inputValue('input[name=path]'), file, 'the box keeps the path');
      checks.ok(await waitForCount(lun, 'nowword', 1, 30000), 'the new text is found');
    });

    await checks.scenario('the results page leads to the diagnosis', async () => {
      await page.goto(page_url(lun, 'Search.shl', `&SearchText=${encodeURIComponent('无此文字')}`));
      await Promise.all([page.waitForNavigation(), page.click('#diagnose a')]);
      checks.equal(await page.textContent('h2'), '索引诊断', 'the link opens the diagnosis');
    });

    await checks.scenario('the status page', async () => {
      await page.goto(page_url(lun, 'home.shl'));
      await Promise.all([page.waitForNavigation(), page.click('main a:text-is("索引状态")')]);
      checks.equal(await page.textContent('h2'), '索引状态', 'the home page links the status');
      checks.equal(await page.textContent('.topbar nav a.active'), '索引状态', 'and so does the top bar');
      const categories = Object.fromEntries(await page.locator('#categories tbody tr').evaluateAll(
        (rows) => rows.map((r) => [r.cells[0].textContent, r.cells[1].textContent])));
      // found.txt, other.txt, broken.docx and big.txt.
      checks.equal(categories['文档'], '4', 'documents are counted in their category');
      checks.equal(categories['图像'], '0', 'an empty category shows 0');
      checks.equal(await page.textContent('#total'), '4', 'the total');
      const roots = await page.locator('#roots tbody td:first-child').allTextContents();
      checks.equal(JSON.stringify(roots), JSON.stringify([docs, tmp]), 'both roots are listed');
      const skipped = page.locator('#skipped details.skip', { hasText: '超过 20 MiB' });
      checks.equal(await skipped.count(), 1, 'the file over the limit is counted by its reason');
      await skipped.locator('summary').click();
      checks.ok(await skipped.locator('li', { hasText: big }).isVisible(), 'opening the reason lists the file');
      checks.ok(Number(await page.textContent('#watched')) >= 1, 'the watched folders are counted');
      await page.screenshot({ path: path.join(out, 'status.png'), fullPage: true });
      checks.equal(await page.locator('main a[href*="Diagnose.shl"]').count(), 1, 'it links the diagnosis');

      await Promise.all([page.waitForNavigation(), page.click('#pause')]);
      checks.ok((await page.textContent('.msg')).includes('索引已暂停'), 'pause: the page says so');
      checks.ok((await page.textContent('#state')).includes('已暂停'), 'pause: the state shows it');
      checks.equal(await page.locator('#pause').count(), 0, 'pause: its button gives way');
      await page.screenshot({ path: path.join(out, 'status_paused.png'), fullPage: true });
      // A file that appears while indexing is paused is read after resuming.
      fs.writeFileSync(path.join(docs, 'later.txt'), 'pauseword 暂停时写的文件\n');
      await Promise.all([page.waitForNavigation(), page.click('#resume')]);
      checks.ok((await page.textContent('.msg')).includes('索引已继续'), 'resume: the page says so');
      checks.ok((await page.textContent('#state')).includes('正在运行'), 'resume: the state shows it');
      checks.ok(await waitForCount(lun, 'pauseword', 1, 60000), 'resume: the file written meanwhile is indexed');

      // Re-indexing asks first; declined, nothing happens.
      await page.goto(page_url(lun, 'Status.shl'));
      page.once('dialog', (dialog) => dialog.dismiss());
      await page.click('#reindex');
      checks.equal(await page.locator('.msg').count(), 0, 're-index: declining does nothing');
      page.once('dialog', (dialog) => dialog.accept());
      await Promise.all([page.waitForNavigation(), page.click('#reindex')]);
      checks.ok((await page.textContent('.msg')).includes('正在重新索引'), 're-index: the page says so');
      checks.ok(await waitForCount(lun, WORD, 1, 60000), 'the index still answers after re-indexing');
    });
  }, { extraArgs: [`--host-resolver-rules=MAP ${FOREIGN_HOST} 127.0.0.1`] });
}

process.exitCode = await main();
