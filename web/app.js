// The address form of ubin-serve's page: 7 digits fill the address (/api/search), the area
// lists offer cities and towns (/v1/areas), and the free-text box lists what /v1/find finds.
// Plain script, no build step; every URL is relative, so the page works under any prefix.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);

  async function getJson(url) {
    const response = await fetch(url, { headers: { Accept: 'application/json' } });
    let body = null;
    try {
      body = await response.json();
    } catch (e) {
      body = null;
    }
    return { status: response.status, body };
  }

  function showStatus(id, text, isError) {
    const element = $(id);
    element.textContent = text;
    element.classList.toggle('error', Boolean(isError));
  }

  function formatCode(code) {
    return code.length === 7 ? `〒${code.slice(0, 3)}-${code.slice(3)}` : code;
  }

  // Full-width digits count as digits; hyphens, dashes, blanks and 〒 are dropped.
  function postalDigits(text) {
    return text
      .replace(/[０-９]/g, (c) => String.fromCharCode(c.charCodeAt(0) - 0xfee0))
      .replace(/[-－−‐ー―〒\s]/g, '');
  }

  // --- the area lists ---------------------------------------------------------------------------

  const prefecturesLoaded = getJson('v1/areas').then(({ body }) => {
    const select = $('prefecture');
    for (const p of (body && body.prefectures) || []) {
      select.add(new Option(p.name, p.name));
    }
  });

  let towns = [];

  async function loadCities() {
    const prefecture = $('prefecture').value;
    const list = $('city-list');
    list.replaceChildren();
    if (!prefecture) return;
    const { body } = await getJson(`v1/areas/${encodeURIComponent(prefecture)}`);
    if (prefecture !== $('prefecture').value) return;
    for (const city of (body && body.cities) || []) list.append(new Option(city.name));
  }

  async function loadTowns() {
    const prefecture = $('prefecture').value;
    const city = $('city').value.trim();
    const list = $('town-list');
    list.replaceChildren();
    towns = [];
    if (!prefecture || !city) return;
    const { status, body } = await getJson(
      `v1/areas/${encodeURIComponent(prefecture)}/${encodeURIComponent(city)}`);
    if (status !== 200 || city !== $('city').value.trim()) return;
    towns = body.towns;
    for (const town of towns) list.append(new Option(town.name));
  }

  // A town chosen from the list gives its postal code, or a choice among its sub-areas.
  function townChosen() {
    const town = towns.find((t) => t.name === $('town').value);
    if (!town) return;
    if (town.postal_code) {
      setPostalCode(town.postal_code);
      hideChoice();
    } else {
      offerChoice('この町域は地区ごとに郵便番号が分かれています。選んでください。',
        town.sub_areas.map((area) => ({
          label: `${formatCode(area.postal_code)}  ${town.name} ${area.detail}`,
          choose: () => setPostalCode(area.postal_code),
        })));
    }
  }

  // --- from postal code to address --------------------------------------------------------------

  let lookedUp = '';

  function setPostalCode(code) {
    lookedUp = code;
    $('zipcode').value = `${code.slice(0, 3)}-${code.slice(3)}`;
  }

  function hideChoice() {
    $('town-choice').hidden = true;
    $('town-options').replaceChildren();
  }

  function offerChoice(title, items) {
    $('town-choice-title').textContent = title;
    const list = $('town-options');
    list.replaceChildren();
    for (const item of items) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = item.label;
      button.addEventListener('click', () => {
        item.choose();
        hideChoice();
      });
      const li = document.createElement('li');
      li.append(button);
      list.append(li);
    }
    $('town-choice').hidden = false;
  }

  async function fillAddress(result) {
    await prefecturesLoaded;
    const prefectureChanged = $('prefecture').value !== result.address1;
    $('prefecture').value = result.address1;
    $('city').value = result.address2;
    $('town').value = result.address3;
    showStatus('zip-status', `${formatCode(result.zipcode)} ${result.address1}${result.address2}${result.address3}`);
    $('street').focus();
    if (prefectureChanged) await loadCities();
    await loadTowns();
  }

  async function postalCodeTyped() {
    const digits = postalDigits($('zipcode').value);
    if (digits.length !== 7 || !/^\d{7}$/.test(digits)) {
      lookedUp = '';
      hideChoice();
      showStatus('zip-status', digits.length > 7 ? '郵便番号は7桁です。' : '');
      return;
    }
    if (digits === lookedUp) return;
    lookedUp = digits;
    showStatus('zip-status', '検索しています…');
    let reply;
    try {
      reply = await getJson(`api/search?zipcode=${digits}&limit=100`);
    } catch (e) {
      showStatus('zip-status', 'サーバーにつながりません。', true);
      return;
    }
    if (digits !== lookedUp) return; // another code was typed meanwhile
    const body = reply.body;
    if (!body || body.status !== 200) {
      showStatus('zip-status', (body && body.message) || 'サーバーがエラーを返しました。', true);
      return;
    }
    hideChoice();
    if (!body.results) {
      showStatus('zip-status', `${formatCode(digits)} の住所は見つかりません。`, true);
      return;
    }
    if (body.results.length === 1) {
      await fillAddress(body.results[0]);
      return;
    }
    showStatus('zip-status', `${formatCode(digits)} の町域は ${body.results.length} 件あります。`);
    offerChoice('この郵便番号には町域が複数あります。選んでください。',
      body.results.map((r) => ({
        label: `${r.address1}${r.address2}${r.address3}`,
        choose: () => fillAddress(r),
      })));
  }

  // --- free text --------------------------------------------------------------------------------

  const findDelayMs = 250;
  let findTimer = 0;
  let findSerial = 0;

  function showFindResults(results) {
    const list = $('find-results');
    list.replaceChildren();
    for (const r of results) {
      const button = document.createElement('button');
      button.type = 'button';
      const code = document.createElement('span');
      code.className = 'code';
      code.textContent = formatCode(r.postal_code);
      const office = r.office ? ` ${r.office}` : '';
      button.append(code, `${r.prefecture}${r.city}${r.town}${r.street || ''}${office}`);
      button.addEventListener('click', () => {
        setPostalCode(r.postal_code);
        hideChoice();
        fillAddress({ zipcode: r.postal_code, address1: r.prefecture, address2: r.city, address3: r.town });
        if (r.street) $('street').value = r.street;
      });
      const li = document.createElement('li');
      li.append(button);
      list.append(li);
    }
  }

  async function find(query, serial) {
    let reply;
    try {
      reply = await getJson(`v1/find?q=${encodeURIComponent(query)}&limit=20`);
    } catch (e) {
      reply = { status: 0, body: null };
    }
    if (serial !== findSerial) return; // a newer query is on its way
    if (reply.status === 404) {
      showStatus('find-status', 'このサーバーでは住所からの検索（/v1/find）がまだ使えません。', true);
      return;
    }
    if (reply.status !== 200 || !reply.body) {
      showStatus('find-status', (reply.body && reply.body.message) || '検索できませんでした。', true);
      return;
    }
    const { total, results } = reply.body;
    showStatus('find-status', total > results.length ? `${total} 件中 ${results.length} 件を表示しています。` : `${total} 件`);
    showFindResults(results);
  }

  function findTyped() {
    clearTimeout(findTimer);
    const query = $('find').value.trim();
    findSerial += 1;
    const serial = findSerial;
    if (!query) {
      showStatus('find-status', '');
      $('find-results').replaceChildren();
      return;
    }
    findTimer = setTimeout(() => find(query, serial), findDelayMs);
  }

  getJson('healthz').then(({ body }) => {
    if (body && body.capabilities && !body.capabilities.find) {
      $('find').disabled = true;
      showStatus('find-status', 'このサーバーでは住所からの検索（/v1/find）がまだ使えません。郵便番号からの入力は使えます。');
    }
  }).catch(() => {});

  $('zipcode').addEventListener('input', postalCodeTyped);
  $('prefecture').addEventListener('change', () => {
    loadCities();
    $('city').value = '';
    $('town').value = '';
  });
  $('city').addEventListener('change', loadTowns);
  $('town').addEventListener('change', townChosen);
  $('find').addEventListener('input', findTyped);
})();
