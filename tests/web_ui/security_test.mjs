// HTTP-level test of the pages' access rules (security.inc): session codes
// and loopback, the Host check, the form token and the origin of
// state-changing requests, page sources, another account of this machine,
// remote visitors (login, back-off, refusal, the log, downloads).
//
// Requests from another computer need a source address outside 127/8. The
// test makes one without touching the machine's network: it runs itself,
// with lun, inside a new network namespace (runIsolated); clients bound to
// REMOTE_ADDRESS there reach lun from a non-loopback address. Where no
// namespace can be made, the remote cases are reported as skipped.
//
//   node security_test.mjs --bin BUILD/bin
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import {
  Checks, FIXED_CODE, OTHER_REMOTE_ADDRESS, REMOTE_ADDRESS, countIn, freePort, isolated,
  makeScratch, parseArgs, request, runIsolated, searchUrl, startLun, stopLun, waitForCount,
} from './lun_fixture.mjs';

async function main() {
  const args = parseArgs(process.argv.slice(2));
  const nested = runIsolated(import.meta.url);
  if (nested !== null) return nested;
  const remote = isolated();

  const checks = new Checks('web_ui_security');
  const scratch = makeScratch('lun-web-sec-', {
    'secret.txt': 'secretword in a document\n',
  });
  let lun = null;
  try {
    lun = await startLun(args.bin, scratch, await freePort());
    const local = (page, query = '') => `${lun.base}${page}?IDCODE=${lun.code}${query}`;
    const indexed = await waitForCount(lun, 'secretword', 1, 120000);
    checks.ok(indexed, 'the fixture folder is indexed');
    const token = (await request(local('Setting.shl'))).body.match(/name="token" value="([^"]+)"/);
    checks.ok(token !== null, 'the settings form carries its token');
    const settingsForm = (extra) => ({
      token: token ? token[1] : '', perpage: '10', snippet: '150', port: '8484', permit: scratch.docs,
      type10: '1', monitor: '1', quickcontent: 'TRUE', ...extra,
    });

    await checks.scenario('the local user', async () => {
      const home = await request(local('home.shl'));
      checks.ok(home.body.includes('name="SearchText"'), 'the session code opens the home page');
      const fixed = await request(`${lun.base}home.shl?IDCODE=${FIXED_CODE}`);
      checks.ok(fixed.body.includes('name="SearchText"'), 'the fixed code opens it from loopback');
      const none = await request(`${lun.base}home.shl`);
      checks.ok(none.body.includes('需要会话代码') && !none.body.includes('name="SearchText"'),
        'without a session code: a hint, no search page');
      const wrong = await request(`${lun.base}Search.shl?IDCODE=nosuchcode&SearchText=secretword`);
      checks.ok(!wrong.body.includes('secret.txt'), 'a wrong code finds nothing');
      const index = await request(`${lun.base}?IDCODE=${lun.code}`);
      checks.equal(index.status, 302, 'the default document redirects');
      checks.ok((index.headers.location || '').includes(`home.shl?IDCODE=${lun.code}`), 'to home with the code');
    });

    await checks.scenario('the Host header must name this machine', async () => {
      for (const host of ['evil.example', '127.evil.example', '127.0.0.1.nip.io', '[::1]evil', 'localhost.evil.example']) {
        for (const code of [lun.code, FIXED_CODE]) {
          const rebound = await request(`${lun.base}Search.shl?IDCODE=${code}&SearchText=secretword`,
            { headers: { Host: `${host}:${lun.port}` } });
          checks.ok(!rebound.body.includes('secret.txt'), `${host} is another site (${code === FIXED_CODE ? 'fixed' : 'session'} code)`);
        }
      }
      const otherPort = await request(local('home.shl'), { headers: { Host: `127.0.0.1:${lun.port + 1}` } });
      checks.ok(!otherPort.body.includes('name="SearchText"'), 'another port is another site');
      const named = await request(local('home.shl'), { headers: { Host: `localhost:${lun.port}` } });
      checks.ok(named.body.includes('name="SearchText"'), 'localhost is');
      const encoded = await request(`${lun.base}home.shl?ID%43ODE=${lun.code}`);
      checks.ok(encoded.body.includes('name="SearchText"'), 'an encoded IDCODE is read like the plain one');
    });

    await checks.scenario('page sources are never sent', async () => {
      for (const target of ['security.inc', 'common.inc', 'security%2Einc', 'Security.INC']) {
        const r = await request(`${lun.base}${target}`);
        // 404 for the files there are; 400 for a spelling no file has.
        checks.ok(r.status >= 400 && !r.body.includes('FTS.'), `${target} is not served`, String(r.status));
      }
      const page = await request(`${lun.base}home.shl`);
      checks.ok(!page.body.includes('Admit('), 'a page is run, not sent');
    });

    await checks.scenario('another account of this machine', async () => {
      const probe = anotherAccount(`${lun.base}Setting.shl?IDCODE=${FIXED_CODE}`);
      if (probe === null) {
        checks.skip('another account of this machine', 'running as another user needs root');
        return;
      }
      checks.ok(probe.ok && !probe.body.includes('name="token"'), 'the fixed code gives it no form token',
        probe.body.slice(0, 200));
      const search = anotherAccount(`${lun.base}Search.shl?IDCODE=${lun.code}&SearchText=secretword`);
      checks.ok(search.ok && !search.body.includes('secret.txt'), 'nor does the session code give it a search');
    });

    await checks.scenario('requests of other sites change nothing', async () => {
      for (const headers of [{ Origin: 'http://evil.example' }, { 'Sec-Fetch-Site': 'cross-site' },
        { Origin: `http://127.0.0.1:${lun.port + 1}` }, { Origin: 'null' }]) {
        const r = await request(local('Setting.shl'), { headers, body: settingsForm({ perpage: '7' }) });
        checks.ok(r.body.includes('请求无效'), `refused with ${JSON.stringify(headers)}`);
      }
      const same = await request(local('Setting.shl'), {
        headers: { Origin: `http://127.0.0.1:${lun.port}`, 'Sec-Fetch-Site': 'same-origin' },
        body: settingsForm({ perpage: '10' }),
      });
      checks.ok(same.body.includes('id="saved"'), 'a form of this server is saved');
    });

    await checks.scenario('state-changing forms need their token', async () => {
      const forged = await request(local('Setting.shl'), { body: settingsForm({ token: '', perpage: '7' }) });
      checks.ok(forged.body.includes('请求无效'), 'a settings form without the token is refused');
      const fixedForged = await request(`${lun.base}Setting.shl?IDCODE=${FIXED_CODE}`,
        { body: settingsForm({ token: FIXED_CODE, perpage: '7' }) });
      checks.ok(fixedForged.body.includes('请求无效'), 'the fixed code is no token');
      const after = await request(local('Setting.shl'));
      checks.ok(after.body.includes('id="perpage" name="perpage" value="10"'), 'nothing was saved');
      const cleared = await request(local('log.shl'), { body: { action: 'clear' } });
      checks.ok(cleared.body.includes('请求无效') && countIn(cleared.body) > 0, 'the log is not cleared without it');
      const open = await request(local('Open.shl', '&RecordNO=0&Mode=open'));
      checks.ok(open.body.includes('请求无效'), 'opening a file needs the token');
      const saved = await request(local('Setting.shl'), { body: settingsForm({ perpage: '12' }) });
      checks.ok(saved.body.includes('id="saved"'), 'with the token the settings are saved');
    });

    await checks.scenario('HTML in a query is shown as text', async () => {
      const r = await request(searchUrl(lun, '<script>alert(1)</script>'));
      checks.ok(!r.body.includes('<script>alert(1)') && r.body.includes('&lt;script&gt;alert(1)'),
        'the query is HTML-encoded');
    });

    if (remote) {
      await remoteScenarios(checks, lun, local, settingsForm, token);
    } else {
      checks.skip('visitors from other computers', 'no network namespace could be made (needs root and unshare)');
    }
  } catch (error) {
    checks.ok(false, 'the test ran to its end', error && error.stack ? error.stack : String(error));
    if (lun) console.log(lun.log());
  } finally {
    await stopLun(lun, checks);
    fs.rmSync(scratch.root, { recursive: true, force: true });
  }
  return checks.finish();
}

// Requests from another computer's address (inside the namespace).
async function remoteScenarios(checks, lun, local, settingsForm, token) {
    const from = { localAddress: REMOTE_ADDRESS };
    const remoteUrl = (page, query = '') => `http://${REMOTE_ADDRESS}:${lun.port}/LUN/${page}${query}`;

    // While remote login is off the server closes a remote connection
    // without reading it: the client sees it end with no answer.
    const unanswered = (url) => request(url, from).then(
      (r) => ({ answered: true, body: r.body }), (e) => ({ answered: false, error: e.message }));
    await checks.scenario('remote access switched off', async () => {
      for (const code of [lun.code, FIXED_CODE]) {
        const r = await unanswered(remoteUrl('Search.shl', `?IDCODE=${code}&SearchText=secretword`));
        checks.equal(r.answered, false, `nothing for a remote request with ${code === FIXED_CODE ? 'the fixed' : 'the session'} code`);
      }
      const login = await unanswered(remoteUrl('login.shl'));
      checks.equal(login.answered, false, 'not even the login page');
    });

    await checks.scenario('remote login', async () => {
      const on = await request(local('Setting.shl'), {
        body: settingsForm({ remotelogin: '1', password: 'pw-123', password2: 'pw-123' }),
      });
      checks.ok(on.body.includes('id="saved"'), 'remote login is switched on with a password');
      const home = await request(remoteUrl('home.shl', `?IDCODE=${FIXED_CODE}`), from);
      checks.equal(home.status, 302, 'the fixed code from another computer gets the login page');
      checks.ok((home.headers.location || '').includes('login.shl'), 'by a redirect to login.shl');
      const bad = await request(remoteUrl('login.shl'), { ...from, body: { password: 'wrong' } });
      checks.ok(bad.body.includes('密码不正确') && !bad.headers['set-cookie'], 'a wrong password is refused');
      const good = await request(remoteUrl('login.shl'), { ...from, body: { password: 'pw-123' } });
      const cookie = (good.headers['set-cookie'] || []).map((c) => c.split(';')[0]).find((c) => c.startsWith('LUNAUTH='));
      checks.ok(cookie !== undefined && good.body.includes('登录成功'), 'the right password sets the login cookie');
      const withCookie = { ...from, headers: { Cookie: cookie || '' } };
      const search = await request(remoteUrl('Search.shl', '?SearchText=secretword'), withCookie);
      checks.equal(countIn(search.body), 1, 'a logged-in visitor can search');
      const settings = await request(remoteUrl('Setting.shl'), withCookie);
      checks.ok(!settings.body.includes('name="token"') && settings.body.includes('只限本机用户'),
        'settings stay with the local user');
      const elsewhere = await request(remoteUrl('Search.shl', '?SearchText=secretword'), {
        localAddress: OTHER_REMOTE_ADDRESS, headers: { Cookie: cookie || '' },
      });
      checks.equal(elsewhere.status, 302, 'the cookie is bound to the visitor\'s address');
      const forged = await request(remoteUrl('Search.shl', '?SearchText=secretword'),
        { ...from, headers: { Cookie: 'LUNAUTH=0000000000000000' } });
      checks.equal(countIn(forged.body), -1, 'a made-up cookie is no login');

      checks.ok(/HttpOnly/i.test(good.headers['set-cookie'][0]) && /SameSite=Strict/i.test(good.headers['set-cookie'][0]),
        'the login cookie is HttpOnly and SameSite=Strict');
      const log = await request(remoteUrl('log.shl'), withCookie);
      checks.ok(log.body.includes('只限本机用户') && !log.body.includes('id="log"'),
        'the activity log is for the local user only');

      const noDownload = await request(remoteUrl('Open.shl', '?RecordNO=0&Mode=down'), withCookie);
      checks.ok(noDownload.body.includes('不允许下载'), 'downloads need 远程下载');
      await request(local('Setting.shl'), {
        body: settingsForm({ remotelogin: '1', remotedownload: '1' }),
      });
      const found = await request(remoteUrl('Search.shl', '?SearchText=secretword+in+a+document'), withCookie);
      const record = found.body.match(/RecordNO=(\d+)&amp;Mode=down/);
      checks.ok(record !== null, 'with 远程下载 the results offer downloads');
      const download = await request(remoteUrl('Open.shl', `?RecordNO=${record ? record[1] : 0}&Mode=down`), withCookie);
      checks.equal(download.body, 'secretword in a document\n', 'the download is the file');
      checks.equal(download.headers['content-disposition'],
        'attachment; filename="secret.txt"; filename*=UTF-8\'\'secret.txt', 'its name is quoted and encoded');
      const open = await request(remoteUrl('Open.shl', `?RecordNO=0&Mode=open&token=${token ? token[1] : ''}`), withCookie);
      checks.ok(!open.body.includes('已打开'), 'a visitor cannot open files on the desktop');
    });

    // The waits themselves are checked with a clock of the test's own in
    // page_access_test.cpp; here only what does not depend on timing.
    await checks.scenario('password guessing', async () => {
      const guess = (password) => request(remoteUrl('login.shl'), { localAddress: OTHER_REMOTE_ADDRESS, body: { password } });
      for (let i = 0; i < 5; i++) {
        const r = await guess(`wrong-${i}`);
        checks.ok(!r.headers['set-cookie'], `wrong password ${i + 1} is refused`);
      }
      const log = await request(local('log.shl'));
      checks.ok((log.body.match(new RegExp(`${OTHER_REMOTE_ADDRESS.replaceAll('.', '\\.')}</td><td class="nowrap">登录</td><td class="wrap">失败`, 'g')) || []).length === 5,
        'every failure is in the log');
    });
}

// GETs `url` from a process of user "nobody"; null when this test cannot
// run one (not root).
function anotherAccount(url) {
  if (process.getuid() !== 0) return null;
  const script = `fetch(${JSON.stringify(url)}).then(async (r) => process.stdout.write(await r.text()),
    (e) => { process.stderr.write(String(e)); process.exit(1); });`;
  const run = spawnSync(process.execPath, ['-e', script], { uid: 65534, gid: 65534, encoding: 'utf8', timeout: 60000 });
  return { ok: run.status === 0, body: run.stdout || run.stderr || '' };
}

process.exitCode = await main();
