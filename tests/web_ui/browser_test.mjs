// End-to-end test of the web UI in Debian's Chromium: lun --headless on a
// scratch home that indexes a small fixture folder, driven through the
// pages as a person would (search, tabs, paging, sorting, advanced search,
// content snapshot, history, log, settings), and as an attacker would: a
// page of another site whose name the browser resolves to 127.0.0.1 (DNS
// rebinding, made with Chromium's --host-resolver-rules) tries to search,
// download, read the form token and save settings. Screenshots of the home,
// result and snapshot pages go to --out.
//
//   node browser_test.mjs --bin BUILD/bin --out DIR
import fs from 'node:fs';
import path from 'node:path';
import {
  browserSession, Checks, FIXED_CODE, launchChromium, makeScratch, parseArgs, runIsolated,
  searchUrl, sleep, waitForCount,
} from './lun_fixture.mjs';


function fixtureFiles() {
  const files = {
    'report.txt': '年度报告：桌面搜索 alpha 的测试文档。\r\n第二行写着 beta，再说一次 alpha 和 beta。\r\n',
    'page.html': '<html><head><title>网页</title></head><body><p>pagingword 出现在网页中</p></body></html>',
    'big.txt': 'bigfile\n' + 'filler text for the size range test.\n'.repeat(600),
    '<b onclick=x>inject.txt': 'injectword in a file whose name is markup\n',
    'history.txt': 'historyword version one\n',
  };
  for (let i = 1; i <= 25; i++) {
    const n = String(i).padStart(2, '0');
    // note07 is the largest of the notes, for the size order.
    const filler = i === 7 ? 'x'.repeat(3000) : '';
    files[`note${n}.txt`] = `pagingword note ${n} ${filler}\n`;
  }
  return files;
}

async function main() {
  // In a network namespace of its own when possible, so that lun's fixed
  // crawl-service port cannot meet another lun of the machine.
  const nested = runIsolated(import.meta.url);
  if (nested !== null) return nested;
  const args = parseArgs(process.argv.slice(2));
  const out = args.out || '.';
  fs.mkdirSync(out, { recursive: true });
  const checks = new Checks('web_ui_browser');
  const scratch = makeScratch('lun-web-ui-', fixtureFiles());
  return browserSession(checks, args.bin, scratch, [['pagingword', 26], ['bigfile', 1]], async (page, lun) => {
    const home = `${lun.base}home.shl?IDCODE=${lun.code}`;

    await checks.scenario('search from the home page', async () => {
      await page.goto(home);
      checks.ok(Number(await page.textContent('#total')) >= 30, 'the index figures show the documents');
      await page.screenshot({ path: path.join(out, 'home.png'), fullPage: true });
      await page.fill('input[name=SearchText]', 'pagingword');
      await Promise.all([page.waitForNavigation(), page.click('.searchbox button')]);
      checks.equal(await page.textContent('#count'), '26', 'result count');
      checks.equal(await page.locator('.hit').count(), 10, 'ten rows on the first page');
      const marked = await page.locator('.snippet font').first().textContent();
      checks.equal(marked.toLowerCase(), 'pagingword', 'the keyword is marked in the snippet');
      checks.ok(/耗时/.test(await page.textContent('.summary')), 'the elapsed time is shown');
      await page.screenshot({ path: path.join(out, 'results.png'), fullPage: true });
    });

    await checks.scenario('paging', async () => {
      await Promise.all([page.waitForNavigation(), page.click('.pager a.next')]);
      checks.equal(await page.getAttribute('ol.results', 'start'), '11', 'page 2 starts at row 11');
      await Promise.all([page.waitForNavigation(), page.click('.pager a:text-is("3")')]);
      checks.equal(await page.locator('.hit').count(), 6, 'the last page holds the remaining six rows');
    });

    await checks.scenario('a category tab', async () => {
      await page.goto(searchUrl(lun, 'pagingword'));
      const tab = page.locator('.tabs a', { hasText: '网页' });
      checks.ok(/1/.test(await tab.textContent()), 'the tab 网页 counts one page');
      await Promise.all([page.waitForNavigation(), tab.click()]);
      checks.equal(await page.textContent('#count'), '1', 'the tab shows only its category');
      checks.ok((await page.textContent('.hit .name')).includes('page.html'), 'the web page is the row');
    });

    await checks.scenario('sorting', async () => {
      await page.goto(searchUrl(lun, 'pagingword'));
      await Promise.all([page.waitForNavigation(), page.click('a.sortkey:text-is("大小")')]);
      checks.ok((await page.locator('.hit .name').first().textContent()).includes('note07.txt'),
        'sorted by size, the largest note comes first');
      await Promise.all([page.waitForNavigation(), page.click('a.sortkey:text-is("文件名")')]);
      checks.ok((await page.locator('.hit .name').first().textContent()).includes('note01.txt'),
        'sorted by name, note01 comes first');
    });

    await checks.scenario('advanced search with a size range', async () => {
      await page.goto(`${lun.base}Advanced.shl?IDCODE=${lun.code}`);
      await page.fill('#SizeMin', '10');
      await Promise.all([page.waitForNavigation(), page.click('#advanced button[type=submit]')]);
      checks.equal(await page.textContent('#count'), '1', 'one file of 10 KB or more');
      checks.ok((await page.textContent('.hit .name')).includes('big.txt'), 'it is big.txt');
    });

    await checks.scenario('content snapshot with keyword anchors', async () => {
      await page.goto(searchUrl(lun, 'alpha beta'));
      checks.equal(await page.textContent('#count'), '1', 'the report is found by two words');
      await Promise.all([page.waitForNavigation(), page.click('.hit .actions a:text-is("内容快照")')]);
      checks.equal(await page.locator('#doc a[name^=A]').count(), 2, 'alpha occurs twice, each an anchor');
      checks.equal(await page.locator('#doc a[name^=B]').count(), 2, 'beta occurs twice, each an anchor');
      await page.click('#kwnav a[href="#B0"]');
      checks.ok(page.url().endsWith('#B0'), 'the navigation bar jumps to the first beta');
      await page.click('#doc a[name=B0]');
      checks.ok(page.url().endsWith('#B1'), 'a mark jumps to the next occurrence');
      await page.screenshot({ path: path.join(out, 'snapshot.png'), fullPage: true });
    });

    await checks.scenario('history after a file changed', async () => {
      const file = path.join(scratch.docs, 'history.txt');
      await sleep(1100);  // a later modification time than the first version
      fs.writeFileSync(file, 'historyword version two, longer than before\n');
      const changed = await waitForCount(lun, 'longer than before', 1, 60000);
      checks.ok(changed, 'the changed file is indexed again');
      await page.goto(searchUrl(lun, 'historyword'));
      await Promise.all([page.waitForNavigation(), page.click('.hit .actions a:text-is("历史版本")')]);
      checks.equal(await page.textContent('#count'), '2', 'two versions of history.txt');
      checks.equal(await page.locator('#versions tr.current').count(), 1, 'one of them is current');
      checks.ok((await page.locator('#versions tbody tr').first().textContent()).includes('当前版本'),
        'the newest version comes first');
    });

    await checks.scenario('HTML in a file name and in a query is shown as text', async () => {
      await page.goto(searchUrl(lun, 'injectword'));
      checks.ok((await page.textContent('.hit .name')).includes('<b onclick=x>inject.txt'),
        'the file name is shown with its brackets');
      checks.equal(await page.locator('.hit b[onclick]').count(), 0, 'no element was made from the name');
      await page.goto(searchUrl(lun, '<img src=x onerror="window.injected=1">'));
      checks.equal(await page.evaluate(() => window.injected), undefined, 'the query made no element');
      checks.equal(await page.inputValue('input[name=SearchText]'), '<img src=x onerror="window.injected=1">',
        'the search box shows the query as typed');
    });

    await checks.scenario('the log', async () => {
      await page.goto(`${lun.base}log.shl?IDCODE=${lun.code}`);
      const text = await page.textContent('#log');
      checks.ok(text.includes('搜索') && text.includes('injectword'), 'searches are logged');
      checks.ok(text.includes('<img src=x'), 'a logged query is shown as text');
    });

    await checks.scenario('settings saved and read back', async () => {
      await page.goto(`${lun.base}Setting.shl?IDCODE=${lun.code}`);
      await page.fill('#perpage', 'abc');
      await Promise.all([page.waitForNavigation(), page.click('#save')]);
      checks.ok(await page.isVisible('#errors'), 'a page size that is no number is refused');
      await page.fill('#perpage', '5');
      await Promise.all([page.waitForNavigation(), page.click('#save')]);
      checks.ok(await page.isVisible('#saved'), 'the settings are saved');
      await page.goto(`${lun.base}Setting.shl?IDCODE=${lun.code}`);
      checks.equal(await page.inputValue('#perpage'), '5', 'the page size reads back');
      await page.goto(searchUrl(lun, 'pagingword'));
      checks.equal(await page.locator('.hit').count(), 5, 'result pages use the new size');
    });

    await checks.scenario('a page of another site rebound to this machine gets nothing', async () => {
      await rebindingAttack(checks, scratch, lun);
      await page.goto(`${lun.base}Setting.shl?IDCODE=${lun.code}`);
      checks.ok(!(await page.isChecked('input[name=remotelogin]')), 'remote login is still off');
      checks.ok(!(await page.isChecked('input[name=remotedownload]')), 'remote download is still off');
      checks.equal(await page.inputValue('#perpage'), '5', 'the settings are as the user left them');
    });
  });
}

// What a page of another site can do once its host name resolves to
// 127.0.0.1: its first answer came from the attacker's server (here: a
// route of the browser), every later request of the page reaches lun as
// the same origin. It uses the fixed code, which is no secret.
async function rebindingAttack(checks, scratch, lun) {
  const hosts = ['127.attacker.test', '127.0.0.1.nip.io'];
  const rules = hosts.map((host) => `MAP ${host} 127.0.0.1`).join(', ');
  // The checks a browser may make on requests from a public page to a
  // loopback address are off: they do not cover every browser and version
  // (the page of a real attack gets through), and lun must refuse the
  // requests by itself. The first check below proves they reach lun.
  const browser = await launchChromium(path.join(scratch.root, 'attacker'), {
    extraArgs: [`--host-resolver-rules=${rules}`,
      '--disable-features=BlockInsecurePrivateNetworkRequests,PrivateNetworkAccessSendPreflights,'
      + 'PrivateNetworkAccessRespectPreflightResults,LocalNetworkAccessChecks'],
  });
  try {
    for (const host of hosts) {
      const evil = await browser.newPage();
      const origin = `http://${host}:${lun.port}`;
      await evil.route(`${origin}/evil.html`, (route) => route.fulfill({
        contentType: 'text/html', body: '<!DOCTYPE html><html><body>another site</body></html>',
      }));
      await evil.goto(`${origin}/evil.html`);
      const loot = await evil.evaluate(async (code) => {
        const get = async (url, init) => {
          try {
            const r = await fetch(url, init);
            return { status: r.status, disposition: r.headers.get('content-disposition'), text: await r.text() };
          } catch (error) {
            return { status: 0, disposition: null, text: String(error) };
          }
        };
        const out = { static: await get('/LUN/style.css') };
        out.search = await get(`/LUN/Search.shl?IDCODE=${code}&SearchText=alpha`);
        out.download = await get(`/LUN/Open.shl?IDCODE=${code}&RecordNO=0&Mode=down`);
        out.settings = await get(`/LUN/Setting.shl?IDCODE=${code}`);
        out.token = (out.settings.text.match(/name="token" value="([^"]+)"/) || [])[1] || '';
        const form = new URLSearchParams({
          token: out.token, perpage: '9', snippet: '150', port: location.port, remotelogin: '1',
          remotedownload: '1', password: 'owned', password2: 'owned', permit: '/',
        });
        out.save = await get(`/LUN/Setting.shl?IDCODE=${code}`, { method: 'POST', body: form });
        out.source = await get('/LUN/security.inc');
        return out;
      }, FIXED_CODE);
      checks.equal(loot.static.status, 200, `${host}: the page reaches lun under its own name`);
      checks.ok(!loot.search.text.includes('report.txt') && !loot.search.text.includes('class="hit'),
        `${host}: no search`);
      checks.ok(loot.download.disposition === null && !loot.download.text.includes('alpha'),
        `${host}: no download`);
      checks.equal(loot.token, '', `${host}: no form token`);
      checks.ok(!loot.save.text.includes('id="saved"'), `${host}: no settings saved`);
      checks.equal(loot.source.status, 404, `${host}: no page source`);
      await evil.close();
    }
  } finally {
    await browser.close();
  }
}

process.exitCode = await main();
