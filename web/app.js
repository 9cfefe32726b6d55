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

  // The fields a lookup fills, and what it put there: a new lookup empties each one still
  // holding the page's value, so the form never shows the address of another code. What the
  // user typed into a field is theirs and stays.
  const filledIds = ['prefecture', 'city', 'town', 'street', 'office'];
  let filled = {};

  function clearFilled() {
    for (const id of filledIds) {
      if (filled[id] && $(id).value === filled[id]) $(id).value = '';
    }
    filled = {};
  }

  function fill(values) {
    for (const id of filledIds) {
      if (values[id] === undefined) continue;
      $(id).value = values[id];
      filled[id] = values[id];
    }
  }

  // An address as the form shows it: 町域 the town proper, 番地 an office's street part,
  // 会社名・建物名 the office's name or the building of a town's entry.
  function formAddress(r) {
    // A building's code names its floor; 地階・階層不明 (the basement, or a floor not known) is
    // no floor to write.
    const floor = r.floor && r.floor !== '地階・階層不明' ? r.floor : '';
    const building = r.building ? `${r.building}${floor}` : '';
    return {
      zipcode: r.postal_code,
      prefecture: r.prefecture,
      city: r.city,
      town: r.town,
      street: r.street || '',
      office: r.office || building,
    };
  }

  // The same shape from an /api/search result, for a server without /v1/find (an office's
  // name then stays in its town).
  function apiSearchAddress(r) {
    return { zipcode: r.zipcode, prefecture: r.address1, city: r.address2, town: r.address3, street: '', office: '' };
  }

  function addressText(a) {
    return `${a.prefecture}${a.city}${a.town}${a.street}${a.office ? ` ${a.office}` : ''}`;
  }

  async function fillAddress(address) {
    await prefecturesLoaded;
    const prefectureChanged = $('prefecture').value !== address.prefecture;
    clearFilled();
    fill(address);
    showStatus('zip-status', `${formatCode(address.zipcode)} ${addressText(address)}`);
    $(address.street ? 'office' : 'street').focus();
    if (prefectureChanged) await loadCities();
    await loadTowns();
  }

  // What every address of a code has in common: the prefecture, and the city when they share it.
  async function fillShared(addresses) {
    await prefecturesLoaded;
    const prefecture = addresses.every((a) => a.prefecture === addresses[0].prefecture) ? addresses[0].prefecture : '';
    const city = prefecture && addresses.every((a) => a.city === addresses[0].city) ? addresses[0].city : '';
    clearFilled();
    fill({ prefecture, city });
    if (prefecture) await loadCities();
    if (city) await loadTowns();
  }

  let canFind = null; // set from /healthz: whether /v1/find answers

  // The addresses of a code, each once: from /v1/find (town, street and office apart) when the
  // server offers it, else from /api/search. Null when the code has none.
  async function addressesOf(digits) {
    if (await canFind) {
      const { status, body } = await getJson(`v1/find?q=${digits}&limit=100`);
      if (status !== 200 || !body) throw new Error((body && body.message) || 'サーバーがエラーを返しました。');
      if (body.match !== 'postal') return null; // not a code the directory holds
      const seen = new Set();
      const list = body.results.map(formAddress).filter((a) => {
        const key = addressText(a);
        return !seen.has(key) && seen.add(key);
      });
      return list.length ? list : null;
    }
    const { body } = await getJson(`api/search?zipcode=${digits}&limit=100`);
    if (!body || body.status !== 200) throw new Error((body && body.message) || 'サーバーがエラーを返しました。');
    return body.results && body.results.map(apiSearchAddress);
  }

  async function postalCodeTyped() {
    const digits = postalDigits($('zipcode').value);
    if (digits.length !== 7 || !/^\d{7}$/.test(digits)) {
      // Not a code (yet): the address of the one before goes.
      if (lookedUp) clearFilled();
      lookedUp = '';
      hideChoice();
      showStatus('zip-status', digits.length > 7 ? '郵便番号は7桁です。' : '', digits.length > 7);
      return;
    }
    if (digits === lookedUp) return;
    lookedUp = digits;
    clearFilled();
    hideChoice();
    showStatus('zip-status', '検索しています…');
    let addresses;
    try {
      addresses = await addressesOf(digits);
    } catch (e) {
      if (digits === lookedUp) showStatus('zip-status', e instanceof TypeError ? 'サーバーにつながりません。' : e.message, true);
      return;
    }
    if (digits !== lookedUp) return; // another code was typed meanwhile
    if (!addresses) {
      showStatus('zip-status', `${formatCode(digits)} の住所は見つかりません。`, true);
      return;
    }
    if (addresses.length === 1) {
      await fillAddress(addresses[0]);
      return;
    }
    showStatus('zip-status', `${formatCode(digits)} の町域は ${addresses.length} 件あります。`);
    await fillShared(addresses);
    if (digits !== lookedUp) return;
    offerChoice('この郵便番号には町域が複数あります。選んでください。',
      addresses.map((a) => ({ label: addressText(a), choose: () => fillAddress(a) })));
  }

  // --- free text --------------------------------------------------------------------------------

  const findDelayMs = 250;
  let findTimer = 0;
  let findSerial = 0;

  // The query's text after the town's name, as typed; else what the server found left over
  // after the part it matched.
  function typedAfterTown(query, town, rest) {
    const at = town ? query.lastIndexOf(town) : -1;
    if (at >= 0) return query.slice(at + town.length).trim();
    return (rest || '').trim();
  }

  function showFindResults(query, reply) {
    const results = reply.results;
    const list = $('find-results');
    list.replaceChildren();
    for (const r of results) {
      const button = document.createElement('button');
      button.type = 'button';
      const code = document.createElement('span');
      code.className = 'code';
      code.textContent = formatCode(r.postal_code);
      const address = formAddress(r);
      button.append(code, addressText(address));
      button.addEventListener('click', () => {
        // What the user typed after the town (the house number, a building) goes to 番地,
        // unless the result is an office with its own street part.
        if (!address.street) address.street = typedAfterTown(query, r.town, reply.rest);
        setPostalCode(r.postal_code);
        hideChoice();
        fillAddress(address);
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
    showFindResults(query, reply.body);
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

  canFind = getJson('healthz').then(({ body }) => {
    const find = Boolean(body && body.capabilities && body.capabilities.find);
    if (!find) {
      $('find').disabled = true;
      showStatus('find-status', 'このサーバーでは住所からの検索（/v1/find）がまだ使えません。郵便番号からの入力は使えます。');
    }
    return find;
  }).catch(() => false);

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
