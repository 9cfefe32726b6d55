// The page and the yubinbango-core package in a real browser: Debian's chromium, headless,
// driven by playwright-core, loading everything from a ubin-serve started here on a free
// loopback port over the sample directory.
//
//   node form_test.mjs PART --serve EXE --data DIR --web DIR --modules DIR --artifacts DIR
//
// PART: form        the address form: 7 digits fill the fields, a choice for several towns,
//                   a new code, an unknown one or too many digits empty what the last filled,
//                   the free-text box says when /v1/find is absent; screenshots of each step
//       yubinbango  the real yubinbango-core pointed at /yubinbango
//       offices     yubinbango-core and the form on an office's code (needs offices)
//       find        the free-text box's suggestions, a pick keeping the typed house number and
//                   building, もしかして, the hint for symbols, a query too long
//       jpostal     from a page of another origin: jquery.jpostal and yubinbango-core reading
//                   their data here, a fetch with a preflight, jQuery 4's getJSON with
//                   callback=?, refused to an origin not allowed
//       shops       ubin-forms (from its npm package) on three shops' forms of another origin:
//                   separate fields, one whole-address field, a 3+4 code in an iframe
//       openapi     /openapi.json passes an OpenAPI validator and describes the live replies
//       report      the HTML report of `ubin find --batch --report FILE.html` (needs --ubin EXE):
//                   opened from its file, it draws a bar for every figure and fetches nothing
// Exit 0 when every check passed, 1 when one failed, 77 when the part cannot run yet
// (the server's /healthz does not offer what it needs).
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
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
function startServer(options, extraArgs = []) {
  const child = spawn(options.serve,
    ['--data', options.data, '--web', options.web, '--listen', '127.0.0.1:0', ...extraArgs],
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

async function fieldValues(page, ids = ['prefecture', 'city', 'town']) {
  return page.evaluate((names) => Object.fromEntries(names.map((id) => [id, document.getElementById(id).value])), ids);
}

const ADDRESS = ['prefecture', 'city', 'town', 'street', 'building', 'company'];
const NO_ADDRESS = { prefecture: '', city: '', town: '', street: '', building: '', company: '' };

async function waitForStatus(page, pattern) {
  await page.waitForFunction((source) => new RegExp(source).test(document.getElementById('zip-status').textContent),
    pattern.source, { timeout: 10000 });
}

// A step's screenshot, kept with the test's artifacts.
async function screenshot(page, options, name) {
  fs.mkdirSync(options.artifacts, { recursive: true });
  const file = path.join(options.artifacts, `ubin-serve-${name}.png`);
  await page.screenshot({ path: file, fullPage: true });
  assert.ok(fs.statSync(file).size > 1000, `${file} is nearly empty`);
}

// The whole code typed at once, as a paste does: one lookup.
async function typeCode(page, code) {
  await page.fill('#zipcode', code);
}

async function waitForTown(page, town) {
  await page.waitForFunction((t) => document.getElementById('town').value === t, town, { timeout: 10000 });
}

// The list the forms script shows under a field (the panel holding the listbox the field's
// aria-controls names), and its options' texts (without the reading or code shown under each).
async function panelSelector(frame, field) {
  const list = await frame.getAttribute(field, 'aria-controls');
  assert.ok(list, `${field} controls no list`);
  return `.ubin-panel:has(> #${list})`;
}

async function panelOf(frame, field) {
  return frame.locator(await panelSelector(frame, field));
}

async function optionTexts(frame, field) {
  return frame.locator(`${await panelSelector(frame, field)} [role="option"]`).evaluateAll(
    (options) => options.map((o) => o.firstChild.textContent));
}

async function waitForOptions(frame, field, count) {
  const panel = await panelSelector(frame, field);
  await frame.waitForFunction(([p, n]) => {
    const options = document.querySelectorAll(`${p}:not([hidden]) [role="option"]`);
    return n === undefined ? options.length > 0 : options.length === n;
  }, [panel, count], { timeout: 10000 });
}

// The title of the list under a field once it says what `pattern` matches.
async function panelTitle(frame, field, pattern) {
  const panel = await panelSelector(frame, field);
  await frame.waitForFunction(([p, source]) => {
    const element = document.querySelector(p);
    return element && !element.hidden && new RegExp(source).test(element.querySelector('.ubin-title').textContent);
  }, [panel, pattern.source], { timeout: 10000 });
  return frame.locator(`${panel} .ubin-title`).textContent();
}

async function formPart(page, base, options) {
  await page.goto(base);
  await page.waitForFunction(() => document.getElementById('prefecture').options.length === 48, null, { timeout: 10000 });
  await page.waitForFunction(() => document.getElementById('zipcode').getAttribute('role') === 'combobox');

  await check('typing 7300014 fills 広島県 / 広島市中区 / 上幟町', async () => {
    await page.locator('#zipcode').pressSequentially('7300014', { delay: 30 });
    await waitForTown(page, '上幟町');
    assert.deepEqual(await fieldValues(page), { prefecture: '広島県', city: '広島市中区', town: '上幟町' });
    assert.match(await page.textContent('#zip-status'), /〒730-0014 広島県広島市中区上幟町/);
  });

  await check('the screenshot of the filled form is saved', async () => {
    await screenshot(page, options, 'form');
  });

  await check('full-width digits with a hyphen offer the two towns of 731-5143 in a list', async () => {
    await page.fill('#zipcode', '');
    await page.locator('#zipcode').pressSequentially('７３１－５１４３', { delay: 30 });
    await waitForOptions(page, '#zipcode', 2);
    assert.deepEqual(await optionTexts(page, '#zipcode'), ['三宅', '三宅町']);
    assert.equal(await page.getAttribute('#zipcode', 'aria-expanded'), 'true');
    await page.locator(`${await panelSelector(page, '#zipcode')} [role="option"]`).nth(1).click();
    await waitForTown(page, '三宅町');
    assert.deepEqual(await fieldValues(page), { prefecture: '広島県', city: '広島市佐伯区', town: '三宅町' });
    assert.equal(await (await panelOf(page, '#zipcode')).isHidden(), true);
  });

  // After a good code each of these must leave no address of the code before.
  const changes = [
    { name: 'unknown', then: async () => typeCode(page, '9999999'), status: /見つかりません/, fields: NO_ADDRESS },
    { name: 'eight-digits', then: async () => page.locator('#zipcode').pressSequentially('8'), status: /7桁/,
      fields: NO_ADDRESS },
    { name: 'several-towns', then: async () => typeCode(page, '7315143'), status: /2 件/,
      fields: { ...NO_ADDRESS, prefecture: '広島県', city: '広島市佐伯区' } },
    { name: 'cleared', then: async () => typeCode(page, ''), status: /^$/, fields: NO_ADDRESS },
  ];
  for (const change of changes) {
    await check(`after 7300014, the ${change.name} case leaves only what the new code says`, async () => {
      await typeCode(page, '7300014');
      await waitForTown(page, '上幟町');
      await change.then();
      await waitForStatus(page, change.status);
      await page.waitForFunction(() => !/探しています/.test(document.getElementById('zip-status').textContent));
      assert.deepEqual(await fieldValues(page, ADDRESS), change.fields);
      await screenshot(page, options, `form-${change.name}`);
    });
  }

  await check('a building\'s code puts the building, not 地階・階層不明, in 建物名', async () => {
    await typeCode(page, '1006890');
    await waitForTown(page, '大手町');
    assert.deepEqual(await fieldValues(page, ADDRESS),
      { ...NO_ADDRESS, prefecture: '東京都', city: '千代田区', town: '大手町', building: 'ＪＡビル' });
  });

  await check('what the user typed into 番地 stays when the code changes', async () => {
    await page.fill('#street', '1-2-3');
    await typeCode(page, '9999999');
    await waitForStatus(page, /見つかりません/);
    assert.deepEqual(await fieldValues(page, ADDRESS), { ...NO_ADDRESS, street: '1-2-3' });
    await page.fill('#street', '');
  });

  await check('a 町域 edited after 1000001 does not stay beside the 愛知県 清須市 of 4520961', async () => {
    await typeCode(page, '1000001');
    await waitForTown(page, '千代田');
    await page.fill('#town', '千代田（皇居）');
    await typeCode(page, '4520961');
    await waitForOptions(page, '#zipcode', 66);
    assert.deepEqual(await fieldValues(page), { prefecture: '愛知県', city: '清須市', town: '' });
  });

  await check('the 66 towns of 4520961: a list with a filter that fits the screen, picked from the keyboard', async () => {
    assert.equal(await page.locator(`${await panelSelector(page, '#zipcode')} .ubin-filter`).isVisible(), true);
    const height = await (await panelOf(page, '#zipcode')).evaluate((p) => p.getBoundingClientRect().height);
    assert.ok(height < 450, `the list is ${height}px tall`);
    const first = await optionTexts(page, '#zipcode');
    assert.equal(first.filter((t) => /愛知県|清須市/.test(t)).length, 0, 'each option repeats the city');
    await screenshot(page, options, 'form-66-towns');
    await page.focus('#zipcode');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.type('みやしげ');
    await waitForOptions(page, '#zipcode', 2);
    assert.deepEqual(await optionTexts(page, '#zipcode'), ['春日宮重', '春日宮重町']);
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Enter');
    await waitForTown(page, '春日宮重町');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'street');
  });

  await check('〒 100 - 8111 put in whole is not cut short and fills 宮内庁', async () => {
    await page.fill('#zipcode', '');
    await page.focus('#zipcode');
    await page.keyboard.insertText('〒 100 - 8111');
    await page.waitForFunction(() => document.getElementById('company').value === '宮内庁', null, { timeout: 10000 });
    assert.equal(await page.inputValue('#zipcode'), '〒 100 - 8111');
    assert.deepEqual(await fieldValues(page, ADDRESS),
      { prefecture: '東京都', city: '千代田区', town: '千代田', street: '１－１', building: '', company: '宮内庁' });
  });

  await check('the form links the page for web developers', async () => {
    const href = await page.getAttribute('a[href="docs"]', 'href');
    const reply = await fetch(new URL(href, base));
    assert.equal(reply.status, 200);
    assert.match(await reply.text(), /ubin-forms/);
  });

  await check('the free-text box says /v1/find is not offered, or offers suggestions', async () => {
    const health = await (await fetch(new URL('healthz', base))).json();
    if (!health.capabilities.find) {
      await page.waitForFunction(() => document.getElementById('find').disabled, null, { timeout: 10000 });
      assert.match(await page.textContent('#find-status'), /\/v1\/find/);
    } else {
      assert.equal(await page.isDisabled('#find'), false);
      assert.equal(await page.getAttribute('#find', 'role'), 'combobox');
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
  await page.goto(base);
  await page.waitForFunction(() => document.getElementById('prefecture').options.length === 48, null, { timeout: 10000 });
  await check('the office code 100-8111 fills 町域 千代田, 番地 １－１ and 会社名 宮内庁', async () => {
    await typeCode(page, '100-8111');
    await page.waitForFunction(() => document.getElementById('company').value !== '', null, { timeout: 10000 });
    assert.deepEqual(await fieldValues(page, ADDRESS),
      { ...NO_ADDRESS, prefecture: '東京都', city: '千代田区', town: '千代田', street: '１－１', company: '宮内庁' });
    await screenshot(page, options, 'form-office');
  });
  await check('an area code after the office empties 番地 and 会社名', async () => {
    await typeCode(page, '1000001');
    await page.waitForFunction(() => document.getElementById('company').value === '', null, { timeout: 10000 });
    await waitForTown(page, '千代田');
    assert.deepEqual(await fieldValues(page, ADDRESS), { ...NO_ADDRESS, prefecture: '東京都', city: '千代田区', town: '千代田' });
  });
  await yubinbangoPage(page, base, options);
  await check('yubinbango-core: the office code 1008950 gives 13 東京都 千代田区 霞が関 １丁目２－１', async () => {
    assert.deepEqual(await lookUp(page, '1008950'),
      { region_id: 13, region: '東京都', locality: '千代田区', street: '霞が関', extended: '１丁目２－１' });
  });
}

// A query typed into the page's free-text box, and the suggestions' list or message under it.
async function typeQuery(page, text) {
  await page.fill('#find', text);
}

async function findPart(page, base, options) {
  await page.goto(base);
  await page.waitForFunction(() => document.getElementById('find').getAttribute('role') === 'combobox', null,
    { timeout: 10000 });
  const asked = [];
  page.on('request', (r) => r.url().includes('v1/suggest') && asked.push(decodeURIComponent(r.url())));

  await check('typing ぎんざ in the free-text box lists 銀座', async () => {
    await page.locator('#find').pressSequentially('ぎんざ', { delay: 50 });
    await waitForOptions(page, '#find');
    const listed = await optionTexts(page, '#find');
    assert.ok(listed.some((text) => text.includes('銀座')), listed.join('\n'));
  });

  await check('picking 永田町 for 千代田区永田町1-7-1 国会ビル keeps the house number and the building', async () => {
    await typeQuery(page, '千代田区永田町1-7-1 国会ビル');
    const listed = `${await panelSelector(page, '#find')} [role="option"]`;
    await page.waitForFunction((o) => [...document.querySelectorAll(o)]
      .some((option) => /永田町（次のビルを除く）$/.test(option.firstChild.textContent)), listed, { timeout: 10000 });
    await page.locator(listed, { hasText: /永田町（次のビルを除く）/ }).first().click();
    await waitForTown(page, '永田町');
    assert.deepEqual(await fieldValues(page, ADDRESS),
      { ...NO_ADDRESS, prefecture: '東京都', city: '千代田区', town: '永田町', street: '1-7-1', building: '国会ビル' });
    await screenshot(page, options, 'find-house-number');
  });

  await check('a pick of 六本木ヒルズ森タワー 32F keeps 6-10-1 whole: the town is not cut at the building\'s 六本木',
    async () => {
      await page.fill('#street', '');
      await page.fill('#building', '');
      await typeQuery(page, '東京都港区六本木6-10-1 六本木ヒルズ森タワー 32F');
      await waitForOptions(page, '#find');
      assert.match((await optionTexts(page, '#find'))[0], /六本木ヒルズ森タワー３２階/);
      await page.focus('#find');
      await page.keyboard.press('ArrowDown');
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => document.getElementById('zipcode').value === '106-6132', null, { timeout: 10000 });
      assert.deepEqual(await fieldValues(page, ADDRESS),
        { ...NO_ADDRESS, prefecture: '東京都', city: '港区', town: '六本木', street: '6-10-1',
          building: '六本木ヒルズ森タワー 32F' });
    });

  await check('銀坐 shows what the server offers for it (もしかして 銀座), not 0 results', async () => {
    await typeQuery(page, '銀坐');
    await panelTitle(page, '#find', /もしかして: 銀座/);
    await waitForOptions(page, '#find');
    assert.ok((await optionTexts(page, '#find')).some((t) => t.endsWith('銀座')));
  });

  await check('!!! shows the server\'s hint', async () => {
    await typeQuery(page, '!!!');
    await panelTitle(page, '#find', /記号だけ/);
  });

  await check('a query too long gets a message for people, and no request; nor does one character', async () => {
    const before = asked.length;
    await typeQuery(page, '東京都千代田区'.repeat(40));
    const title = await panelTitle(page, '#find', /長すぎます/);
    assert.doesNotMatch(title, /パラメータ/);
    await typeQuery(page, 'ぎ');
    await new Promise((resolve) => setTimeout(resolve, 400));
    assert.equal(asked.length, before, asked.slice(before).join('\n'));
    assert.equal(await (await panelOf(page, '#find')).isHidden(), true);
  });
}

// --- another origin --------------------------------------------------------------------------------

// A shop's site on another port (another origin): its own pages, with jQuery, jquery.jpostal,
// yubinbango-core and ubin-forms (installed from its npm package) served from its own folder as
// such sites do. Resolves with its port; `site.base` is set to the server's URL once it runs, and
// the pages name it.
function startShopSite(options) {
  const forms = path.join(options.modules, 'shop', 'node_modules', 'ubin-forms');
  const files = {
    '/jquery.js': path.join(options.modules, 'node_modules', 'jquery', 'dist', 'jquery.min.js'),
    '/jquery4.js': path.join(options.modules, 'node_modules', 'jquery4', 'dist', 'jquery.min.js'),
    '/jquery.jpostal.js': path.join(options.modules, 'jquery-jpostal', 'jquery.jpostal.js'),
    '/yubinbango-core.js': path.join(options.modules, 'yubinbango-core', 'yubinbango-core.js'),
    '/ubin-forms.js': path.join(forms, 'ubin-forms.js'),
    '/ubin-forms.mjs': path.join(forms, 'ubin-forms.mjs'),
  };
  const site = { base: '' };
  const pages = {
    '/': () => `<!doctype html><html lang="ja"><head><meta charset="utf-8"><title>shop</title>
<script src="jquery.js"></script><script src="jquery.jpostal.js"></script><script src="yubinbango-core.js"></script>
</head><body><form>
<input id="zip"><input id="pref"><input id="city"><input id="town"><input id="street"><input id="company">
</form></body></html>`,
    ...shopForms(() => site.base),
  };
  const server = http.createServer((request, response) => {
    const url = request.url.split('?')[0];
    const file = files[url];
    if (pages[url]) {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end(pages[url]());
    } else if (file) {
      response.writeHead(200, { 'Content-Type': 'text/javascript; charset=utf-8' });
      response.end(fs.readFileSync(file));
    } else {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ server, port: server.address().port, site })));
}

const PREFECTURES = ['北海道', '青森県', '岩手県', '宮城県', '秋田県', '山形県', '福島県', '茨城県', '栃木県', '群馬県',
  '埼玉県', '千葉県', '東京都', '神奈川県', '新潟県', '富山県', '石川県', '福井県', '山梨県', '長野県', '岐阜県', '静岡県',
  '愛知県', '三重県', '滋賀県', '京都府', '大阪府', '兵庫県', '奈良県', '和歌山県', '鳥取県', '島根県', '岡山県', '広島県',
  '山口県', '徳島県', '香川県', '愛媛県', '高知県', '福岡県', '佐賀県', '長崎県', '熊本県', '大分県', '宮崎県', '鹿児島県',
  '沖縄県'];

// Three forms as shops write them.
//  - separate.html: one field for each part, the prefecture a <select> whose options are
//    numbered and named short (東京, 愛知), marked with data attributes; the classic script.
//  - whole.html: the code and the whole address in one field each, found by the shop's own
//    classes; the ES module.
//  - pair.html: a 3+4 code in an iframe, the prefecture a <select> by name, town joined to the
//    city's field.
function shopForms(base) {
  const short = (name) => (name === '北海道' ? name : name.replace(/[都府県]$/, ''));
  const numbered = PREFECTURES.map((name, i) => `<option value="${String(i + 1).padStart(2, '0')}">${short(name)}</option>`).join('');
  const named = PREFECTURES.map((name) => `<option>${name}</option>`).join('');
  const head = (title) => `<!doctype html><html lang="ja"><head><meta charset="utf-8"><title>${title}</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>body{font-family:sans-serif;margin:1rem} label{display:block;margin:.4rem 0} input,select{font-size:1rem}</style>`;
  return {
    '/separate.html': () => `${head('お届け先')}
<script src="ubin-forms.js" data-ubin-server="${base()}"></script></head><body>
<form id="order" action="/order" method="post">
<label>郵便番号 <input name="zip" id="zip" data-ubin="postal" maxlength="8" autocomplete="postal-code"></label>
<label>都道府県 <select name="pref" id="pref" data-ubin="prefecture"><option value="">選択してください</option>${numbered}</select></label>
<label>市区町村 <input name="city" id="city" data-ubin="city"></label>
<label>町名 <input name="town" id="town" data-ubin="town"></label>
<label>番地 <input name="street" id="street" data-ubin="street"></label>
<label>建物名・部屋番号 <input name="building" id="building" data-ubin="building"></label>
<label>会社名 <input name="company" id="company" data-ubin="company"></label>
<label>住所フリガナ <input name="kana" id="kana" data-ubin="kana"></label>
<button>注文する</button>
</form></body></html>`,
    '/whole.html': () => `${head('ご住所')}</head><body>
<form class="checkout">
<label>〒 <input class="js-zip" id="zip" name="zip"></label>
<label>ご住所 <input class="js-address" id="address" name="address" size="60"></label>
<label>会社名 <input class="js-company" id="company" name="company"></label>
</form>
<script type="module">
import { attach } from './ubin-forms.mjs';
window.shopForm = attach(document.querySelector('.checkout'), {
  server: ${JSON.stringify(base())},
  fields: { postal: '.js-zip', address: '.js-address', company: '.js-company' },
});
</script></body></html>`,
    '/pair.html': () => `${head('会員登録')}</head><body><h1>会員登録</h1>
<iframe id="frame" src="pair-frame.html" title="ご住所" width="640" height="420"></iframe></body></html>`,
    '/pair-frame.html': () => `${head('ご住所')}
<script src="ubin-forms.js" data-ubin-server="${base()}" defer></script></head><body>
<div data-ubin-form>
<label>郵便番号 <input id="zip1" name="zip1" size="3" maxlength="3" data-ubin="postal3"> -
<input id="zip2" name="zip2" size="4" maxlength="4" data-ubin="postal4"></label>
<label>都道府県 <select id="pref" name="pref" data-ubin="prefecture"><option value="">--</option>${named}</select></label>
<label>市区町村・町名 <input id="city" name="city" data-ubin="city"></label>
<label>番地・建物名 <input id="street" name="street" data-ubin="street"></label>
</div></body></html>`,
  };
}

async function jpostalPart(page, base, options, server, shop) {
  const shopOrigin = `http://127.0.0.1:${shop.port}`;
  await page.goto(`${shopOrigin}/`);
  await page.evaluate((data) => {
    window.jQuery('#zip').jpostal({
      url: { http: data, https: data },
      postcode: ['#zip'],
      address: { '#pref': '%3', '#city': '%4', '#town': '%5', '#street': '%6', '#company': '%7' },
    });
  }, new URL('jpostal/', base).href);
  const shopFields = () => page.evaluate(() => Object.fromEntries(
    ['pref', 'city', 'town', 'street', 'company'].map((id) => [id, document.getElementById(id).value])));

  const typed = [
    { code: '7300014', fields: { pref: '広島県', city: '広島市中区', town: '上幟町', street: '', company: '' } },
    { code: '1008111', fields: { pref: '東京都', city: '千代田区', town: '千代田', street: '１－１', company: '宮内庁' },
      needs: 'offices' },
    // Three digits: the prefix's record, with only what its towns share.
    { code: '731', fields: { pref: '広島県', city: '', town: '', street: '', company: '' } },
    // A prefix without codes: an empty file, so the plug-in empties the fields.
    { code: '0000000', fields: { pref: '', city: '', town: '', street: '', company: '' } },
  ];
  const health = await (await fetch(new URL('healthz', base))).json();
  for (const t of typed) {
    if (t.needs && !health.capabilities[t.needs]) continue;
    await check(`jquery.jpostal, unchanged, fills ${t.code} from this server`, async () => {
      await page.fill('#zip', '');
      await page.locator('#zip').pressSequentially(t.code, { delay: 20 });
      await page.waitForFunction((want) => document.getElementById('pref').value === want.pref &&
        document.getElementById('town').value === want.town, t.fields, { timeout: 10000 });
      assert.deepEqual(await shopFields(), t.fields);
    });
  }
  await screenshot(page, options, 'jpostal-shop');
  await check('jquery.jpostal read its data from this server', async () => {
    await new Promise((resolve) => setTimeout(resolve, 200));
    assert.ok(server.log.some((line) => line.startsWith('GET /jpostal/730.json 200 ')), server.log.join('\n'));
  });

  await check('yubinbango-core on the shop\'s page reads its data from this server', async () => {
    await page.evaluate((url) => {
      Object.defineProperty(window.YubinBango.Core.prototype, 'URL', { get: () => url, set: () => {} });
    }, new URL('yubinbango', base).href.replace(/\/$/, ''));
    assert.deepEqual(await lookUp(page, '7300014'),
      { region_id: 34, region: '広島県', locality: '広島市中区', street: '上幟町', extended: '' });
  });

  // A header of its own makes the browser ask first (OPTIONS); the origin is allowed.
  const preflighted = (url) => page.evaluate(async (u) => {
    try {
      const reply = await fetch(u, { headers: { 'X-Shop-Request': '1' } });
      return { status: reply.status, edition: reply.headers.get('X-Ubin-Edition'), body: await reply.json() };
    } catch (e) {
      return { error: String(e) };
    }
  }, url);
  await check('a fetch with its own header, preflighted, reads /api/search from the shop\'s origin', async () => {
    const reply = await preflighted(new URL('api/search?zipcode=7300014', base).href);
    assert.equal(reply.status, 200, JSON.stringify(reply));
    assert.equal(reply.body.results[0].address3, '上幟町');
    assert.match(reply.edition, /^(\d{4}-\d{2}|unknown)$/);
    assert.ok(server.log.some((line) => line.startsWith('OPTIONS /api/search 204 ')), server.log.join('\n'));
  });
  await check('jQuery 4\'s $.getJSON with callback=? reads /api/search from the shop\'s origin', async () => {
    await page.addScriptTag({ url: `${shopOrigin}/jquery4.js` });
    const reply = await page.evaluate((url) => new Promise((resolve) => {
      const $ = window.jQuery;
      $.getJSON(`${url}&callback=?`).done((body) => resolve({ version: $.fn.jquery, body }))
        .fail((xhr, status) => resolve({ version: $.fn.jquery, status }));
    }), new URL('api/search?zipcode=7300014', base).href);
    assert.match(reply.version, /^4\./);
    assert.equal(reply.body && reply.body.results[0].address3, '上幟町', JSON.stringify(reply));
  });
  await check('the same fetch from an origin not allowed fails', async () => {
    await page.goto(`http://localhost:${shop.port}/`);
    const reply = await preflighted(new URL('api/search?zipcode=7300015', base).href);
    assert.ok(reply.error, JSON.stringify(reply));
  });
}

// --- the forms script on shops' forms ---------------------------------------------------------------

// A paste as the browser sends it (the script puts the text in itself).
async function paste(frame, selector, text) {
  await frame.locator(selector).evaluate((element, t) => {
    element.focus();
    const data = new DataTransfer();
    data.setData('text/plain', t);
    element.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
  }, text);
}

function valuesOf(frame, ids) {
  return frame.evaluate((names) => Object.fromEntries(names.map((id) => [id, document.getElementById(id).value])), ids);
}

async function waitForValue(frame, id, value) {
  await frame.waitForFunction(([i, v]) => document.getElementById(i).value === v, [id, value], { timeout: 10000 });
}

const SEPARATE = ['pref', 'city', 'town', 'street', 'building', 'company', 'kana'];
const NOTHING = { pref: '', city: '', town: '', street: '', building: '', company: '', kana: '' };

async function separateForm(page, base, origin, options) {
  await page.goto(`${origin}/separate.html`);
  await page.waitForFunction(() => document.getElementById('zip').getAttribute('role') === 'combobox', null,
    { timeout: 10000 });

  await check('separate fields: 7300014 typed fills each part, the <select> by its number, the reading', async () => {
    await page.locator('#zip').pressSequentially('7300014', { delay: 20 });
    await waitForValue(page, 'town', '上幟町');
    assert.deepEqual(await valuesOf(page, SEPARATE),
      { ...NOTHING, pref: '34', city: '広島市中区', town: '上幟町', kana: 'ヒロシマケンヒロシマシナカクカミノボリチョウ' });
  });

  await check('separate fields: a code corrected (1000001 to 1000014) shows the corrected town', async () => {
    await page.fill('#zip', '');
    await page.locator('#zip').pressSequentially('1000001', { delay: 20 });
    await waitForValue(page, 'town', '千代田');
    await page.keyboard.press('Backspace');
    await page.keyboard.press('Backspace');
    await page.keyboard.type('14');
    await waitForValue(page, 'town', '永田町');
    assert.deepEqual(await valuesOf(page, ['pref', 'city', 'town']), { pref: '13', city: '千代田区', town: '永田町' });
  });

  await check('separate fields: 4520961 lists its 66 towns; filtered and picked from the keyboard', async () => {
    await page.fill('#zip', '4520961');
    await waitForOptions(page, '#zip', 66);
    assert.equal(await page.getAttribute('#zip', 'aria-expanded'), 'true');
    const list = await page.getAttribute('#zip', 'aria-controls');
    assert.equal(await page.getAttribute(`#${list}`, 'role'), 'listbox');
    // Named by its label alone: the list is not inside the label.
    assert.equal(await page.getByRole('combobox', { name: '郵便番号', exact: true }).count(), 1);
    assert.match(await page.getByRole('listbox').getAttribute('aria-labelledby'), /^ubin-title-/);
    assert.deepEqual(await valuesOf(page, ['pref', 'city', 'town']), { pref: '23', city: '清須市', town: '' });
    await page.focus('#zip');
    await page.keyboard.press('ArrowDown');
    assert.equal(await page.evaluate(() => document.activeElement.className), 'ubin-filter');
    await page.keyboard.type('夢');
    await waitForOptions(page, '#zip', 1);
    const active = await page.evaluate(() => document.activeElement.getAttribute('aria-activedescendant'));
    assert.equal(await page.getAttribute(`#${active}`, 'aria-selected'), 'true');
    await screenshot(page, options, 'shop-separate-filter');
    await page.keyboard.press('Enter');
    await waitForValue(page, 'town', '春日夢の森');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'street');
    assert.equal(await page.getAttribute('#zip', 'aria-expanded'), 'false');
  });

  await check('separate fields: the business code 1008111 fills the company and its street', async () => {
    await page.fill('#zip', '1008111');
    await waitForValue(page, 'company', '宮内庁');
    assert.deepEqual(await valuesOf(page, SEPARATE),
      { ...NOTHING, pref: '13', city: '千代田区', town: '千代田', street: '１－１', company: '宮内庁', kana: 'トウキョウトチヨダク' });
  });

  await check('separate fields: an unknown code says so under the field and empties what the code before filled',
    async () => {
      await page.fill('#zip', '9999999');
      await panelTitle(page, '#zip', /〒999-9999 の住所は見つかりません/);
      assert.deepEqual(await valuesOf(page, SEPARATE), NOTHING);
    });

  await check('separate fields: an edit after a fill stays when a new code names the same town', async () => {
    await page.fill('#zip', '1000001');
    await waitForValue(page, 'town', '千代田');
    await page.fill('#town', '千代田（皇居）');
    await page.fill('#street', '1-1');
    await page.fill('#zip', '1008111');
    await waitForValue(page, 'company', '宮内庁');
    assert.deepEqual(await valuesOf(page, ['city', 'town', 'street', 'company']),
      { city: '千代田区', town: '千代田（皇居）', street: '1-1', company: '宮内庁' });
    await page.fill('#town', '');
    await page.fill('#street', '');
  });

  await check('separate fields: 〒 730 - 0014 pasted fits the 8-character field and fills it', async () => {
    await page.fill('#zip', '');
    await paste(page, '#zip', '〒 730 - 0014');
    await waitForValue(page, 'town', '上幟町');
    assert.equal(await page.inputValue('#zip'), '730-0014');
  });

  await check('separate fields: a late reply for the code before does not overwrite the next one', async () => {
    const slow = (url) => url.href.includes('v1/suggest') && url.searchParams.get('q') === '1000002';
    let asked;
    const held = new Promise((resolve) => {
      asked = resolve;
    });
    await page.route(slow, async (route) => {
      asked();
      await new Promise((resolve) => setTimeout(resolve, 1500));
      await route.continue().catch(() => {});
    });
    await page.fill('#zip', '1000002');
    await Promise.race([held, new Promise((resolve, reject) => setTimeout(() => reject(new Error('not asked')), 5000))]);
    await page.fill('#zip', '7300014');
    await waitForValue(page, 'town', '上幟町');
    await new Promise((resolve) => setTimeout(resolve, 1800));
    assert.deepEqual(await valuesOf(page, ['pref', 'city', 'town']), { pref: '34', city: '広島市中区', town: '上幟町' });
    await page.unroute(slow);
  });
  await screenshot(page, options, 'shop-separate');
}

async function wholeForm(page, base, origin, options) {
  await page.goto(`${origin}/whole.html`);
  await page.waitForFunction(() => document.getElementById('address').getAttribute('role') === 'combobox', null,
    { timeout: 10000 });
  const asked = [];
  page.on('request', (r) => r.url().includes('v1/suggest') && asked.push(new URL(r.url()).searchParams.get('q')));

  await check('whole address: 1040061 fills it; the house number typed after it stays when the code changes',
    async () => {
      await page.fill('#zip', '1040061');
      await waitForValue(page, 'address', '東京都中央区銀座');
      await page.locator('#address').press('End');
      await page.locator('#address').pressSequentially('4-1-2', { delay: 20 });
      await new Promise((resolve) => setTimeout(resolve, 400));
      assert.equal(await (await panelOf(page, '#address')).isHidden(), true, 'suggestions offered while the number is typed');
      await page.fill('#zip', '1000001');
      await waitForValue(page, 'address', '東京都千代田区千代田4-1-2');
    });

  await check('whole address: suggestions as it is typed; a pick from the keyboard keeps the house number', async () => {
    await page.fill('#zip', '');
    await page.fill('#address', '');
    await page.fill('#address', '東京都港区六本木6-10-1 六本木ヒルズ森タワー 32F');
    await waitForOptions(page, '#address');
    assert.match((await optionTexts(page, '#address'))[0], /六本木ヒルズ森タワー３２階/);
    await screenshot(page, options, 'shop-whole-suggestions');
    await page.focus('#address');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Enter');
    await waitForValue(page, 'zip', '106-6132');
    assert.equal(await page.inputValue('#address'), '東京都港区六本木6-10-1 六本木ヒルズ森タワー 32F');
  });

  await check('whole address: no request while an input method composes, one for what it gives', async () => {
    await page.fill('#zip', '');
    await page.fill('#address', '');
    await page.focus('#address');
    const before = asked.length;
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Input.imeSetComposition', { text: 'ぎん', selectionStart: 2, selectionEnd: 2 });
    await cdp.send('Input.imeSetComposition', { text: 'ぎんざ', selectionStart: 3, selectionEnd: 3 });
    await new Promise((resolve) => setTimeout(resolve, 500));
    assert.deepEqual(asked.slice(before), []);
    await cdp.send('Input.insertText', { text: 'ぎんざ' });
    await waitForOptions(page, '#address');
    assert.deepEqual(asked.slice(before), ['ぎんざ']);
    assert.ok((await optionTexts(page, '#address')).some((t) => t.endsWith('銀座')));
    await cdp.detach();
  });

  await check('whole address: the business code 1008111 gives the company its own field', async () => {
    await page.keyboard.press('Escape');
    await page.fill('#address', '');
    await page.fill('#zip', '1008111');
    await waitForValue(page, 'company', '宮内庁');
    assert.equal(await page.inputValue('#address'), '東京都千代田区千代田１－１');
  });
}

async function pairForm(page, base, origin, options) {
  await page.goto(`${origin}/pair.html`);
  await page.waitForFunction(() => {
    const frame = document.getElementById('frame').contentDocument;
    return frame && frame.getElementById('zip2') && frame.getElementById('zip2').getAttribute('role') === 'combobox';
  }, null, { timeout: 10000 });
  const frame = page.frame({ url: /pair-frame\.html/ });
  const PAIR = ['zip1', 'zip2', 'pref', 'city', 'street'];

  await check('3+4 in an iframe: 730 and 0014 fill the <select> by name and the town after the city', async () => {
    await frame.locator('#zip1').pressSequentially('730', { delay: 20 });
    await frame.locator('#zip2').pressSequentially('0014', { delay: 20 });
    await waitForValue(frame, 'city', '広島市中区上幟町');
    assert.deepEqual(await valuesOf(frame, PAIR),
      { zip1: '730', zip2: '0014', pref: '広島県', city: '広島市中区上幟町', street: '' });
  });

  await check('3+4 in an iframe: the two towns of 7315143 picked from the keyboard', async () => {
    await frame.fill('#zip1', '731');
    await frame.fill('#zip2', '5143');
    await waitForOptions(frame, '#zip2', 2);
    await frame.focus('#zip2');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Enter');
    await waitForValue(frame, 'city', '広島市佐伯区三宅町');
    await screenshot(page, options, 'shop-pair');
  });

  await check('3+4 in an iframe: a whole code pasted into the first box fills both and the address', async () => {
    await frame.fill('#zip1', '');
    await frame.fill('#zip2', '');
    await paste(frame, '#zip1', '100-8111');
    await waitForValue(frame, 'city', '千代田区千代田');
    assert.deepEqual(await valuesOf(frame, PAIR),
      { zip1: '100', zip2: '8111', pref: '東京都', city: '千代田区千代田', street: '１－１ 宮内庁' });
  });
}

async function shopsPart(page, base, options, server, shop) {
  const origin = `http://127.0.0.1:${shop.port}`;
  await separateForm(page, base, origin, options);
  await wholeForm(page, base, origin, options);
  await pairForm(page, base, origin, options);
  await check('the shops\' pages read ubin-forms from the package installed in their site', async () => {
    const script = await (await fetch(`${origin}/ubin-forms.js`)).text();
    assert.equal(script, fs.readFileSync(path.join(options.web, 'ubin-forms.js'), 'utf8'));
  });
}

// --- the description ------------------------------------------------------------------------------

// A customer list through `ubin find --batch` with --report FILE.html, the page opened from its
// file: every table's rows carry a bar as wide as their share, the figures the page shows are
// those it was written with, and nothing is fetched from anywhere.
async function reportPart(page, base, options) {
  assert.ok(options.ubin, 'the report part needs --ubin EXE');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ubin-report-'));
  const list = ['id,name,address,code',
    '1,"山田\n太郎",東京都千代田区永田町1-7-1 101号室,100-0014',
    '2,"佐藤, 花子",広島市中区上幟町8-1 上幟ビル3F,7300015',
    '3,,広島県広島市中区存在しない町1,',
    '4,,広島県広島市中区存在しない町2-3,',
    '5,x,千代田区丸の内2-7-2 JPタワー30階,1007030',
    '6,y,ぎんざ,',
    '7,z,広島県広島市中区<img src=x onerror=alert(1)>町,'];
  fs.writeFileSync(path.join(dir, 'list.csv'), list.join('\r\n') + '\r\n');
  const html = path.join(dir, 'report.html');
  const run = spawnSync(options.ubin, ['find', '--data', options.data, '--batch', '--column', 'address', '--header',
    '--code-column', 'code', '--report', html, path.join(dir, 'list.csv')], { encoding: 'utf8' });
  await check('ubin find --batch --report writes the page', async () => {
    assert.ok(run.status === 0 || run.status === 1, run.stderr);
    assert.ok(fs.existsSync(html), run.stderr);
  });
  const requests = [];
  page.on('request', (r) => requests.push(r.url()));
  const dialogs = [];
  page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });
  await page.goto(`file://${html}`);
  await check('the summary gives the rows, those with a code and those to review', async () => {
    const summary = await page.$eval('#summary', (p) => ({ ...p.dataset, text: p.textContent }));
    assert.equal(summary.rows, '7');
    assert.match(summary.text, new RegExp(`${summary.found}（`));
    assert.match(summary.text, new RegExp(`要確認 ${summary.review} 行`));
  });
  for (const id of ['levels', 'confidence', 'reasons', 'towns']) {
    await check(`#${id}: each row shows its count and a bar as wide as its share`, async () => {
      const rows = await page.$$eval(`#${id} tbody tr`, (trs) => trs.map((tr) => ({
        rows: Number(tr.dataset.rows),
        shown: tr.querySelector('td.n').textContent,
        bar: tr.querySelector('td.bar span').getBoundingClientRect().width,
        cell: (() => {
          const td = tr.querySelector('td.bar');
          const style = getComputedStyle(td);
          return td.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
        })(),
        visible: getComputedStyle(tr.querySelector('td.bar span')).backgroundColor,
      })));
      assert.ok(rows.length > 0, `#${id} has no rows`);
      for (const r of rows) {
        assert.equal(r.shown, String(r.rows));
        assert.ok(r.bar > 0 && r.visible !== 'rgba(0, 0, 0, 0)', `a row of ${r.rows} draws no bar`);
        // 7 rows in all: a bar is its share of the cell, within a pixel.
        assert.ok(Math.abs(r.bar - (r.cell * r.rows) / 7) <= 1.5, `bar ${r.bar} of ${r.cell} for ${r.rows} of 7`);
      }
    });
  }
  await check('the towns not found are listed, the most rows first, markup as text', async () => {
    const towns = await page.$$eval('#towns tbody tr', (trs) => trs.map((tr) => [tr.dataset.key, Number(tr.dataset.rows)]));
    assert.deepEqual(towns[0], ['広島県広島市中区 存在しない町', 2]);
    assert.ok(towns.some(([key]) => key.includes('<img')), JSON.stringify(towns));
    assert.equal(await page.$$eval('img', (imgs) => imgs.length), 0);
  });
  await check('the code that disagreed is listed with its row', async () => {
    const rows = await page.$$eval('#mismatches tbody tr', (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
    assert.deepEqual(rows.map((r) => r.slice(0, 3)), [['3', '730-0015', '730-0014']]);
  });
  await check('the page fetched nothing and ran nothing', async () => {
    assert.deepEqual(requests.filter((u) => !u.startsWith('file://')), []);
    assert.deepEqual(dialogs, []);
  });
  await screenshot(page, options, 'batch-report');
  fs.rmSync(dir, { recursive: true, force: true });
}

async function openapiPart(page, base, options) {
  const require = createRequire(path.join(options.modules, 'package.json'));
  const SwaggerParser = require('@apidevtools/swagger-parser');
  const Ajv2020 = require('ajv/dist/2020').default;
  const api = await (await fetch(new URL('openapi.json', base))).json();

  await check('/openapi.json passes the OpenAPI validator', async () => {
    await SwaggerParser.validate(structuredClone(api));
    assert.equal(api.openapi, '3.1.0');
  });

  // Each reply's body against the schema the description gives for its path and status.
  const ajv = new Ajv2020({ strict: false, allErrors: true });
  ajv.addSchema(api, 'api');
  const replies = [
    ['api/search?zipcode=7300014', '/api/search'],
    ['api/search?zipcode=9999999', '/api/search'],
    ['api/search?zipcode=12', '/api/search'],
    ['v1/areas', '/v1/areas'],
    ['v1/areas/34', '/v1/areas/{prefecture}'],
    ['v1/areas/99', '/v1/areas/{prefecture}'],
    ['v1/areas/13/13101', '/v1/areas/{prefecture}/{city}'],
    ['v1/find?q=' + encodeURIComponent('千代田区永田町1-7-1'), '/v1/find'],
    ['v1/find?q=1008111', '/v1/find'],
    ['v1/find?q=' + encodeURIComponent('どこにもない'), '/v1/find'],
    ['v1/find', '/v1/find'],
    ['v1/suggest?q=' + encodeURIComponent('東京都港区六本木6-10-1 六本木ヒルズ森タワー 32F'), '/v1/suggest'],
    ['v1/suggest?q=1008111', '/v1/suggest'],
    ['v1/suggest?q=' + encodeURIComponent('銀坐'), '/v1/suggest'],
    ['v1/suggest?q=!!!', '/v1/suggest'],
    ['v1/suggest?q=a&limit=0', '/v1/suggest'],
    ['healthz', '/healthz'],
  ];
  for (const [url, route] of replies) {
    await check(`the reply of /${url} is as /openapi.json describes it`, async () => {
      const reply = await fetch(new URL(url, base));
      const described = api.paths[route].get.responses[String(reply.status)];
      assert.ok(described, `${route} does not describe status ${reply.status}`);
      const response = described.$ref ? api.components.responses[described.$ref.split('/').pop()] : described;
      const schema = response.content['application/json'].schema;
      const validate = ajv.compile(schema.$ref ? { $ref: `api${schema.$ref}` } : schema);
      const body = await reply.json();
      assert.ok(validate(body), JSON.stringify(validate.errors));
    });
  }
}

// --- run ------------------------------------------------------------------------------------------

const PARTS = {
  form: { run: formPart },
  yubinbango: { run: yubinbangoPart },
  offices: { run: officesPart, needs: 'offices' },
  find: { run: findPart, needs: 'find' },
  jpostal: { run: jpostalPart, shop: true },
  shops: { run: shopsPart, shop: true, needs: 'find' },
  openapi: { run: openapiPart, noBrowser: true },
  report: { run: reportPart, noServer: true },
};

// The part in headless chromium; 0 when every check passed.
async function runInBrowser(part, base, options, child, shop) {
  const require = createRequire(path.join(options.modules, 'package.json'));
  const { chromium } = require('playwright-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'ubin-chromium-'));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
    viewport: { width: 900, height: 700 },
  });
  try {
    const page = await browser.newPage();
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(e.message));
    await part.run(page, base, options, child, shop);
    await check('the page raised no script error', async () => assert.deepEqual(pageErrors, []));
  } finally {
    await browser.close();
  }
  return results.failed === 0 ? 0 : 1;
}

async function main() {
  const options = parseArgs(process.argv.slice(2));
  const part = PARTS[options.part];
  if (!part) throw new Error(`unknown part ${options.part}`);
  if (part.noServer) {
    const status = await runInBrowser(part, null, options, null, null);
    console.log(`${results.passed} passed, ${results.failed} failed`);
    return status;
  }
  const shop = part.shop ? await startShopSite(options) : null;
  // The shop's origin may read the replies; the same site named localhost may not.
  const { child, base } = await startServer(options,
    shop ? ['--allow-origin', `http://127.0.0.1:${shop.port}`] : []);
  if (shop) shop.site.base = base;
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
    if (part.noBrowser) {
      await part.run(null, base, options, child);
      status = results.failed === 0 ? 0 : 1;
    } else {
      status = await runInBrowser(part, base, options, child, shop);
    }
  } finally {
    if (shop) shop.server.close();
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
