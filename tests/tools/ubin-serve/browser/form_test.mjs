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
//       find        the free-text box listing results, a pick keeping the typed house number
//       jpostal     from a page of another origin: jquery.jpostal and yubinbango-core reading
//                   their data here, a fetch with a preflight, refused to an origin not allowed
//       openapi     /openapi.json passes an OpenAPI validator and describes the live replies
// Exit 0 when every check passed, 1 when one failed, 77 when the part cannot run yet
// (the server's /healthz does not offer what it needs).
import { spawn } from 'node:child_process';
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

const ADDRESS = ['prefecture', 'city', 'town', 'street', 'office'];
const NO_ADDRESS = { prefecture: '', city: '', town: '', street: '', office: '' };

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

  // After a good code each of these must leave no address of the code before.
  const changes = [
    { name: 'unknown', then: async () => typeCode(page, '9999999'), status: /見つかりません/, fields: NO_ADDRESS },
    { name: 'eight-digits', then: async () => page.locator('#zipcode').pressSequentially('8'), status: /7桁/,
      fields: NO_ADDRESS },
    { name: 'several-towns', then: async () => typeCode(page, '7315143'), status: /2 件/,
      fields: { prefecture: '広島県', city: '広島市佐伯区', town: '', street: '', office: '' } },
    { name: 'cleared', then: async () => typeCode(page, ''), status: /^$/, fields: NO_ADDRESS },
  ];
  for (const change of changes) {
    await check(`after 7300014, the ${change.name} case leaves only what the new code says`, async () => {
      await typeCode(page, '7300014');
      await waitForTown(page, '上幟町');
      await change.then();
      await waitForStatus(page, change.status);
      await page.waitForFunction(() => !/検索しています/.test(document.getElementById('zip-status').textContent));
      assert.deepEqual(await fieldValues(page, ADDRESS), change.fields);
      await screenshot(page, options, `form-${change.name}`);
    });
  }

  await check('a building\'s code puts the building, not 地階・階層不明, in 会社名・建物名', async () => {
    await typeCode(page, '1006890');
    await waitForTown(page, '大手町');
    assert.deepEqual(await fieldValues(page, ADDRESS),
      { prefecture: '東京都', city: '千代田区', town: '大手町', street: '', office: 'ＪＡビル' });
  });

  await check('what the user typed into 番地 stays when the code changes', async () => {
    await page.fill('#street', '1-2-3');
    await typeCode(page, '9999999');
    await waitForStatus(page, /見つかりません/);
    assert.deepEqual(await fieldValues(page, ADDRESS), { ...NO_ADDRESS, street: '1-2-3' });
    await page.fill('#street', '');
  });

  await check('the form links the page for web developers', async () => {
    const href = await page.getAttribute('a[href="docs"]', 'href');
    const reply = await fetch(new URL(href, base));
    assert.equal(reply.status, 200);
    assert.match(await reply.text(), /jpostal/);
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
  await page.goto(base);
  await page.waitForFunction(() => document.getElementById('prefecture').options.length === 48, null, { timeout: 10000 });
  await check('the office code 100-8111 fills 町域 千代田, 番地 １－１ and 会社名 宮内庁', async () => {
    await typeCode(page, '100-8111');
    await page.waitForFunction(() => document.getElementById('office').value !== '', null, { timeout: 10000 });
    assert.deepEqual(await fieldValues(page, ADDRESS),
      { prefecture: '東京都', city: '千代田区', town: '千代田', street: '１－１', office: '宮内庁' });
    await screenshot(page, options, 'form-office');
  });
  await check('an area code after the office empties 番地 and 会社名', async () => {
    await typeCode(page, '1000001');
    await page.waitForFunction(() => document.getElementById('office').value === '', null, { timeout: 10000 });
    await waitForTown(page, '千代田');
    assert.deepEqual(await fieldValues(page, ADDRESS), { ...NO_ADDRESS, prefecture: '東京都', city: '千代田区', town: '千代田' });
  });
  await yubinbangoPage(page, base, options);
  await check('yubinbango-core: the office code 1008950 gives 13 東京都 千代田区 霞が関 １丁目２－１', async () => {
    assert.deepEqual(await lookUp(page, '1008950'),
      { region_id: 13, region: '東京都', locality: '千代田区', street: '霞が関', extended: '１丁目２－１' });
  });
}

async function findPart(page, base, options) {
  await page.goto(base);
  await check('typing ぎんざ in the free-text box lists 銀座', async () => {
    await page.locator('#find').pressSequentially('ぎんざ', { delay: 50 });
    await page.waitForSelector('#find-results button', { timeout: 10000 });
    const listed = await page.locator('#find-results button').allTextContents();
    assert.ok(listed.some((text) => text.includes('銀座')), listed.join('\n'));
  });
  await check('picking 永田町 for 千代田区永田町1-7-1 keeps the typed house number in 番地', async () => {
    await page.fill('#find', '千代田区永田町1-7-1 国会ビル');
    await page.waitForFunction(() => [...document.querySelectorAll('#find-results button')]
      .some((b) => /永田町$/.test(b.textContent)), null, { timeout: 10000 });
    await page.locator('#find-results button', { hasText: /永田町$/ }).first().click();
    await waitForTown(page, '永田町');
    assert.deepEqual(await fieldValues(page, ADDRESS),
      { prefecture: '東京都', city: '千代田区', town: '永田町', street: '1-7-1 国会ビル', office: '' });
    await screenshot(page, options, 'find-house-number');
  });
}

// --- another origin --------------------------------------------------------------------------------

// A shop's site on another port (another origin): its own page, with jQuery, jquery.jpostal and
// yubinbango-core served from its own folder as such sites do. Resolves with its port.
function startShopSite(options) {
  const files = {
    '/jquery.js': path.join(options.modules, 'node_modules', 'jquery', 'dist', 'jquery.min.js'),
    '/jquery.jpostal.js': path.join(options.modules, 'jquery-jpostal', 'jquery.jpostal.js'),
    '/yubinbango-core.js': path.join(options.modules, 'yubinbango-core', 'yubinbango-core.js'),
  };
  const page = `<!doctype html><html lang="ja"><head><meta charset="utf-8"><title>shop</title>
<script src="jquery.js"></script><script src="jquery.jpostal.js"></script><script src="yubinbango-core.js"></script>
</head><body><form>
<input id="zip"><input id="pref"><input id="city"><input id="town"><input id="street"><input id="company">
</form></body></html>`;
  const server = http.createServer((request, response) => {
    const file = files[request.url];
    if (request.url === '/') {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end(page);
    } else if (file) {
      response.writeHead(200, { 'Content-Type': 'text/javascript; charset=utf-8' });
      response.end(fs.readFileSync(file));
    } else {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ server, port: server.address().port })));
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
  await check('the same fetch from an origin not allowed fails', async () => {
    await page.goto(`http://localhost:${shop.port}/`);
    const reply = await preflighted(new URL('api/search?zipcode=7300015', base).href);
    assert.ok(reply.error, JSON.stringify(reply));
  });
}

// --- the description ------------------------------------------------------------------------------

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
  openapi: { run: openapiPart, noBrowser: true },
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
  const shop = part.shop ? await startShopSite(options) : null;
  // The shop's origin may read the replies; the same site named localhost may not.
  const { child, base } = await startServer(options,
    shop ? ['--allow-origin', `http://127.0.0.1:${shop.port}`] : []);
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
