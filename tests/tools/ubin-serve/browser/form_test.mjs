// The page and the yubinbango-core package in a real browser: Debian's chromium, headless,
// driven by playwright-core, loading everything from a ubin-serve started here on a free
// loopback port over the sample directory.
//
//   node form_test.mjs PART --serve EXE --data DIR --web DIR --modules DIR --artifacts DIR
//
// PART: form        the address form: 7 digits fill the fields, a choice for several towns,
//                   the free-text box says when /v1/find is absent; a screenshot of the form
//       yubinbango  the real yubinbango-core pointed at /yubinbango
//       offices     yubinbango-core on an office's code (needs offices in the engine)
//       find        the free-text box listing results (needs /v1/find)
// Exit 0 when every check passed, 1 when one failed, 77 when the part cannot run yet
// (the server's /healthz does not offer what it needs).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import assert from 'node:assert/strict';

const SKIP = 77;

function parseArgs(argv) {
  const options = { part: argv[0] };
  for (let i = 1; i < argv.length; i += 2) options[argv[i].replace(/^--/, '')] = argv[i + 1];
  for (const name of ['part', 'serve', 'data', 'web', 'modules', 'artifacts']) {
    if (!options[name]) throw new Error(`missing ${name === 'part' ? 'PART' : '--' + name}`);
  }
  return options;
}

// ubin-serve on a free port; resolves with the process and its base URL.
function startServer(options) {
  const child = spawn(options.serve, ['--data', options.data, '--web', options.web, '--listen', '127.0.0.1:0'],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  child.log = [];
  return new Promise((resolve, reject) => {
    let pending = '';
    const timer = setTimeout(() => reject(new Error('ubin-serve did not start')), 20000);
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => {
      pending += text;
      const lines = pending.split('\n');
      pending = lines.pop();
      for (const line of lines) {
        child.log.push(line);
        const m = /listening on (http:\/\/[^ ]+\/)/.exec(line);
        if (m) {
          clearTimeout(timer);
          resolve({ child, base: m[1] });
        }
      }
    });
    child.on('exit', (code) => reject(new Error(`ubin-serve ended with ${code}: ${child.log.join('\n')}`)));
  });
}

function stopServer(child) {
  return new Promise((resolve) => {
    child.removeAllListeners('exit');
    child.on('exit', (code, signal) => resolve({ code, signal }));
    child.kill('SIGTERM');
  });
}

const results = { passed: 0, failed: 0 };

async function check(name, body) {
  try {
    await body();
    results.passed += 1;
    console.log(`ok - ${name}`);
  } catch (e) {
    results.failed += 1;
    console.log(`not ok - ${name}\n  ${String(e.message || e).split('\n').join('\n  ')}`);
  }
}

// --- the parts ------------------------------------------------------------------------------------

async function fieldValues(page) {
  return page.evaluate(() => ({
    prefecture: document.getElementById('prefecture').value,
    city: document.getElementById('city').value,
    town: document.getElementById('town').value,
  }));
}

async function waitForTown(page, town) {
  await page.waitForFunction((t) => document.getElementById('town').value === t, town, { timeout: 10000 });
}

async function formPart(page, base, options) {
  await page.goto(base);
  await page.waitForFunction(() => document.getElementById('prefecture').options.length === 48, null, { timeout: 10000 });

  await check('typing 7300014 fills 広島県 / 広島市中区 / 上幟町', async () => {
    await page.locator('#zipcode').pressSequentially('7300014', { delay: 30 });
    await waitForTown(page, '上幟町');
    assert.deepEqual(await fieldValues(page), { prefecture: '広島県', city: '広島市中区', town: '上幟町' });
    assert.match(await page.textContent('#zip-status'), /〒730-0014 広島県広島市中区上幟町/);
  });

  await check('the screenshot of the filled form is saved', async () => {
    fs.mkdirSync(options.artifacts, { recursive: true });
    const file = path.join(options.artifacts, 'ubin-serve-form.png');
    await page.screenshot({ path: file, fullPage: true });
    assert.ok(fs.statSync(file).size > 1000, `${file} is nearly empty`);
  });

  await check('full-width digits with a hyphen offer the two towns of 731-5143', async () => {
    await page.fill('#zipcode', '');
    await page.locator('#zipcode').pressSequentially('７３１－５１４３', { delay: 30 });
    await page.waitForSelector('#town-choice:not([hidden]) button', { timeout: 10000 });
    const choices = await page.locator('#town-options button').allTextContents();
    assert.deepEqual(choices, ['広島県広島市佐伯区三宅', '広島県広島市佐伯区三宅町']);
    await page.locator('#town-options button').nth(1).click();
    await waitForTown(page, '三宅町');
    assert.deepEqual(await fieldValues(page), { prefecture: '広島県', city: '広島市佐伯区', town: '三宅町' });
    assert.equal(await page.isHidden('#town-choice'), true);
  });

  await check('a code the directory does not hold says so and fills nothing', async () => {
    await page.fill('#zipcode', '');
    await page.evaluate(() => { for (const id of ['city', 'town']) document.getElementById(id).value = ''; });
    await page.locator('#zipcode').pressSequentially('9999999', { delay: 30 });
    await page.waitForFunction(() => /見つかりません/.test(document.getElementById('zip-status').textContent), null,
      { timeout: 10000 });
    assert.equal((await fieldValues(page)).town, '');
  });

  await check('the free-text box says /v1/find is not offered, or lists what it finds', async () => {
    const health = await (await fetch(new URL('healthz', base))).json();
    if (!health.capabilities.find) {
      await page.waitForFunction(() => document.getElementById('find').disabled, null, { timeout: 10000 });
      assert.match(await page.textContent('#find-status'), /\/v1\/find/);
    } else {
      assert.equal(await page.isDisabled('#find'), false);
    }
  });
}

// yubinbango-core as a site that hosts the data itself uses it: the package's own file, its
// data URL pointed at this server.
async function yubinbangoPage(page, base, options) {
  await page.goto(base);
  await page.addScriptTag({ path: path.join(options.modules, 'yubinbango-core', 'yubinbango-core.js') });
  await page.evaluate((url) => {
    Object.defineProperty(window.YubinBango.Core.prototype, 'URL', { get: () => url, set: () => {} });
  }, new URL('yubinbango', base).href.replace(/\/$/, ''));
}

function lookUp(page, code) {
  return page.evaluate((c) => new Promise((resolve, reject) => {
    setTimeout(() => reject(new Error(`no answer for ${c}`)), 10000);
    new window.YubinBango.Core(c, resolve);
  }), code);
}

const EMPTY = { region_id: '', region: '', locality: '', street: '', extended: '' };

async function yubinbangoPart(page, base, options, server) {
  await yubinbangoPage(page, base, options);
  await check('yubinbango-core: 7300014 gives 34 広島県 広島市中区 上幟町', async () => {
    assert.deepEqual(await lookUp(page, '7300014'),
      { region_id: 34, region: '広島県', locality: '広島市中区', street: '上幟町', extended: '' });
  });
  await check('yubinbango-core: full-width ７３１５１４３ gives the first of its towns', async () => {
    assert.deepEqual(await lookUp(page, '７３１５１４３'),
      { region_id: 34, region: '広島県', locality: '広島市佐伯区', street: '三宅', extended: '' });
  });
  await check('yubinbango-core: 9999999 gives empty fields', async () => {
    assert.deepEqual(await lookUp(page, '9999999'), EMPTY);
  });
  await check('yubinbango-core: 10089500 gives empty fields', async () => {
    assert.deepEqual(await lookUp(page, '10089500'), EMPTY);
  });
  await check('yubinbango-core read its data from this server', async () => {
    await new Promise((resolve) => setTimeout(resolve, 200)); // the log line follows the reply
    assert.ok(server.log.some((line) => line.startsWith('GET /yubinbango/730.js 200 ')), server.log.join('\n'));
  });
}

async function officesPart(page, base, options) {
  await yubinbangoPage(page, base, options);
  await check('yubinbango-core: the office code 1008950 gives 13 東京都 千代田区 霞が関 １丁目２－１', async () => {
    assert.deepEqual(await lookUp(page, '1008950'),
      { region_id: 13, region: '東京都', locality: '千代田区', street: '霞が関', extended: '１丁目２－１' });
  });
}

async function findPart(page, base) {
  await page.goto(base);
  await check('typing ぎんざ in the free-text box lists 銀座', async () => {
    await page.locator('#find').pressSequentially('ぎんざ', { delay: 50 });
    await page.waitForSelector('#find-results button', { timeout: 10000 });
    const listed = await page.locator('#find-results button').allTextContents();
    assert.ok(listed.some((text) => text.includes('銀座')), listed.join('\n'));
  });
}

// --- run ------------------------------------------------------------------------------------------

const PARTS = {
  form: { run: formPart },
  yubinbango: { run: yubinbangoPart },
  offices: { run: officesPart, needs: 'offices' },
  find: { run: findPart, needs: 'find' },
};

async function main() {
  const options = parseArgs(process.argv.slice(2));
  const part = PARTS[options.part];
  if (!part) throw new Error(`unknown part ${options.part}`);
  const { child, base } = await startServer(options);
  let browser = null;
  let status = 1;
  try {
    if (part.needs) {
      const health = await (await fetch(new URL('healthz', base))).json();
      if (!health.capabilities[part.needs]) {
        console.log(`SKIPPED: the server does not offer ${part.needs} yet (/healthz capabilities.${part.needs} is false)`);
        status = SKIP;
        return SKIP;
      }
    }
    const require = createRequire(path.join(options.modules, 'package.json'));
    const { chromium } = require('playwright-core');
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'ubin-chromium-'));
    browser = await chromium.launchPersistentContext(profile, {
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync'],
      viewport: { width: 900, height: 700 },
    });
    const page = await browser.newPage();
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(e.message));
    await part.run(page, base, options, child);
    await check('the page raised no script error', async () => assert.deepEqual(pageErrors, []));
    status = results.failed === 0 ? 0 : 1;
  } finally {
    if (browser) await browser.close();
    const end = await stopServer(child);
    if (status !== SKIP) {
      await check('ubin-serve ends with status 0 on SIGTERM', async () => assert.deepEqual(end, { code: 0, signal: null }));
      status = results.failed === 0 ? 0 : 1;
    }
    if (status !== SKIP) console.log(`${results.passed} passed, ${results.failed} failed`);
  }
  return status;
}

main().then((status) => process.exit(status), (e) => {
  console.log(`not ok - ${e.stack || e}`);
  process.exit(1);
});
