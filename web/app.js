// The address form of ubin-serve's page. Filling it from the postal code, the choice among the
// towns of a code and the suggestions of the free-text box are ubin-forms.js's, as on any
// shop's form; this file adds the area lists (/v1/areas): prefectures, then the cities of the
// prefecture and the towns of the city, a town chosen giving its postal code. Every URL is
// relative, so the page works under any prefix.
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

  // --- the area lists ---------------------------------------------------------------------------

  // The towns of the city shown, by the text the town list offers: a town's code, or the codes
  // of its sub-areas (一ツ橋 １丁目, 一ツ橋 ２丁目) each under its own text.
  let townCodes = new Map();

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
    townCodes = new Map();
    if (!prefecture || !city) return;
    const { status, body } = await getJson(
      `v1/areas/${encodeURIComponent(prefecture)}/${encodeURIComponent(city)}`);
    if (status !== 200 || city !== $('city').value.trim()) return;
    for (const town of body.towns) {
      if (town.postal_code) {
        townCodes.set(town.name, town.postal_code);
      } else {
        for (const area of town.sub_areas) townCodes.set(`${town.name} ${area.name}`, area.postal_code);
      }
    }
    for (const name of townCodes.keys()) list.append(new Option(name));
  }

  const prefecturesLoaded = getJson('v1/areas').then(({ body }) => {
    const select = $('prefecture');
    for (const p of (body && body.prefectures) || []) select.add(new Option(p.name, p.name));
  }).catch(() => {});

  // --- the form ---------------------------------------------------------------------------------

  // The free-text box says when the server cannot search texts (a directory without its index).
  const canFind = getJson('healthz').then(({ body }) => Boolean(body && body.capabilities && body.capabilities.find))
    .catch(() => false);

  prefecturesLoaded.then(async () => {
    const form = window.UbinForms.attach($('address-form'), { fields: { search: $('find') } });
    $('address-form').addEventListener('ubin:fill', async () => {
      await loadCities();
      await loadTowns();
    });
    // The person's own choices; a fill's events come from the script (not trusted) and the
    // lists follow it above.
    $('prefecture').addEventListener('change', (event) => {
      if (!event.isTrusted) return;
      loadCities();
      loadTowns();
    });
    $('city').addEventListener('change', (event) => event.isTrusted && loadTowns());
    $('town').addEventListener('change', (event) => {
      const code = event.isTrusted && townCodes.get($('town').value);
      if (code) form.setPostalCode(code);
    });
    if (!(await canFind)) {
      $('find').disabled = true;
      $('find-status').textContent = 'このサーバーでは住所からの検索（/v1/find）がまだ使えません。郵便番号からの入力は使えます。';
    }
  });
})();
