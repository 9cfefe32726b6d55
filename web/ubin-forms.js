/*! ubin-forms 1.0.0: fills a web form's address from its postal code, with suggestions as an
 * address is typed, from a ubin-serve server. No dependencies; MIT licence. */
// A classic script: <script src=".../ubin-forms.js"> fills every form whose fields carry
// data-ubin="postal", "prefecture", "city" ... (UbinForms.attach for fields found by other
// selectors). ubin-forms.mjs offers the same as an ES module.
(function (global) {
  'use strict';

  const VERSION = '1.0.0';

  // The parts of an address in the order they are written, and the fields that take them.
  const PARTS = ['prefecture', 'city', 'town', 'street', 'building'];
  const ROLES = ['postal', 'postal3', 'postal4', ...PARTS, 'address', 'company', 'kana', 'company-kana', 'search',
    'status'];
  const MAX_QUERY = 256; // what the server takes, in characters
  // Suggestions from this many characters on (3 digits: a code's beginning); one character says
  // too little to list anything useful, and costs the server the most.
  const MIN_QUERY = 2;
  const MIN_DIGITS = 3;
  const FILTER_FROM = 6; // a list this long or longer gets a filter
  const CACHE_SIZE = 64;

  const MESSAGES = {
    searching: '住所を探しています…',
    notFound: (code) => `〒${code} の住所は見つかりません。郵便番号をお確かめください。`,
    tooManyDigits: '郵便番号は7桁です。',
    several: (code, count, area) => `〒${code}（${area}）の町域は ${count} 件あります。選んでください。`,
    listKeys: '下矢印キーで一覧に移れます。',
    filled: (code, address) => `〒${code} ${address}`,
    filter: '町域名・よみで絞り込み',
    filterCount: (shown, count) => `${count} 件中 ${shown} 件`,
    noMatch: '当てはまる町域がありません。',
    suggestions: (count) => `候補が ${count} 件あります。上下の矢印キーで選べます。`,
    corrected: (typed, name) => `「${typed}」は見つかりません。もしかして: ${name}`,
    nothingFound: (typed) => `「${typed}」に当たる住所は見つかりません。`,
    nearNames: (typed, names) => `「${typed}」は見つかりません。近い名前: ${names.join('、')}`,
    tooLong: `長すぎます。住所は${MAX_QUERY}文字までで入力してください。`,
    refused: 'この入力では住所を探せません。',
    unreachable: '住所のサーバーにつながりません。住所を入力してください。',
    serverError: '住所のサーバーがエラーを返しました。住所を入力してください。',
  };

  // --- text ---------------------------------------------------------------------------------------

  // The digits of a postal code as people write it: full-width digits, 〒, hyphens, dashes and
  // blanks of any width.
  function postalDigits(text) {
    return String(text || '').normalize('NFKC').replace(/[^0-9]/g, '');
  }

  function formatCode(digits) {
    return digits.length === 7 ? `${digits.slice(0, 3)}-${digits.slice(3)}` : digits;
  }

  // Text as a filter compares it: NFKC (half-width kana full-width, full-width letters ASCII),
  // katakana as hiragana, lower case, no blanks.
  function foldText(text) {
    return String(text || '')
      .normalize('NFKC')
      .replace(/[\u30a1-\u30f6]/g, (c) => String.fromCharCode(c.charCodeAt(0) - 0x60))
      .toLowerCase()
      .replace(/\s+/g, '');
  }

  // What was typed after a town, split into the house number and what follows it (a building,
  // a room): 6-10-1 六本木ヒルズ森タワー 32F, 1丁目2番3号 ○○ビル, 五丁目3-1. A text that does
  // not begin with a number is all street.
  const NUMBER = /^(?:[0-9０-９]+|[一二三四五六七八九十百〇]+(?=丁目|番|号|[-－‐−ー―]))(?:丁目|番地|番|号|[-－‐−ー―の]|[0-9０-９]+|[一二三四五六七八九十百〇]+(?=丁目|番|号))*/;

  function splitRest(rest) {
    const text = String(rest || '').trim();
    const number = NUMBER.exec(text);
    if (!number) return { street: text, building: '' };
    return { street: number[0], building: text.slice(number[0].length).replace(/^[\s、,]+/, '') };
  }

  // --- the server ---------------------------------------------------------------------------------

  // Replies kept by URL, the oldest dropped first: a code typed again costs no request.
  const replies = new Map();

  async function getJson(url, signal) {
    if (replies.has(url)) return replies.get(url);
    const response = await fetch(url, { signal, credentials: 'omit', headers: { Accept: 'application/json' } });
    let body = null;
    try {
      body = await response.json();
    } catch (e) {
      body = null;
    }
    const reply = { status: response.status, body };
    if (response.status === 200) {
      replies.set(url, reply);
      if (replies.size > CACHE_SIZE) replies.delete(replies.keys().next().value);
    }
    return reply;
  }

  // An address as every part of this script reads it, from a /v1/suggest result.
  function fromSuggest(r) {
    return {
      postalCode: r.postal_code,
      prefecture: r.prefecture,
      prefectureCode: r.prefecture_code,
      city: r.city,
      town: r.town,
      street: r.street || '',
      building: r.building || '',
      company: r.company || '',
      kana: `${r.prefecture_kana}${r.city_kana}${r.town_kana}`,
      companyKana: r.company_kana || '',
      label: r.label,
      townKana: r.town_kana,
      rest: r.rest || '',
    };
  }

  // The same from an /api/search result, for a server without the search index (/v1/suggest
  // answers 404 there): an office's town, street part and name stay together in the town.
  function fromApiSearch(r) {
    const kana = (text) => String(text || '').normalize('NFKC');
    return {
      postalCode: r.zipcode,
      prefecture: r.address1,
      prefectureCode: Number(r.prefcode),
      city: r.address2,
      town: r.address3,
      street: '',
      building: '',
      company: '',
      kana: kana(r.kana1 + r.kana2 + r.kana3),
      companyKana: '',
      label: r.address1 + r.address2 + r.address3,
      townKana: kana(r.kana3),
      rest: '',
    };
  }

  // The addresses of a code, each once; empty when it has none. Throws on a failure.
  async function addressesOf(server, digits, signal) {
    const reply = await getJson(`${server}v1/suggest?q=${digits}&limit=100`, signal);
    if (reply.status === 200 && reply.body) {
      return reply.body.match === 'postal' ? reply.body.results.filter((r) => r.postal_code === digits).map(fromSuggest) : [];
    }
    if (reply.status !== 404) throw new ServerError(reply.status);
    const old = await getJson(`${server}api/search?zipcode=${digits}&limit=100`, signal);
    if (old.status !== 200 || !old.body) throw new ServerError(old.status);
    return (old.body.results || []).map(fromApiSearch);
  }

  class ServerError extends Error {
    constructor(status) {
      super(`status ${status}`);
      this.status = status;
    }
  }

  // --- styles -------------------------------------------------------------------------------------

  const STYLE = `
.ubin-panel{position:absolute;z-index:1000;box-sizing:border-box;min-width:16em;max-width:min(32em,calc(100vw - 16px));
 background:#fff;color:#1d1f23;border:1px solid #9aa1ab;border-radius:4px;box-shadow:0 4px 12px rgba(0,0,0,.15);
 padding:.35em;font-size:.95em;line-height:1.5;text-align:left}
.ubin-panel[hidden]{display:none}
.ubin-title{margin:0 0 .3em;font-size:.9em;color:#3a3f47}
.ubin-title.ubin-error{color:#b3261e}
.ubin-filter{box-sizing:border-box;width:100%;margin:0 0 .3em;padding:.3em .45em;font:inherit;border:1px solid #b9bec7;border-radius:3px}
.ubin-list{list-style:none;margin:0;padding:0;max-height:15em;overflow-y:auto;overscroll-behavior:contain}
.ubin-list:empty{display:none}
.ubin-option{padding:.3em .45em;border-radius:3px;cursor:pointer}
.ubin-option[aria-selected="true"],.ubin-option:hover{background:#dfe9f8}
.ubin-option .ubin-sub{display:block;font-size:.8em;color:#5b616b}
.ubin-count{margin:.2em 0 0;font-size:.8em;color:#5b616b}
.ubin-hidden{position:absolute!important;width:1px;height:1px;margin:-1px;padding:0;overflow:hidden;clip:rect(0 0 0 0);border:0;white-space:nowrap}
`;

  function addStyle(doc) {
    if (doc.getElementById('ubin-forms-style')) return;
    const style = doc.createElement('style');
    style.id = 'ubin-forms-style';
    style.textContent = STYLE;
    (doc.head || doc.documentElement).append(style);
  }

  let nextId = 0;
  const newId = (what) => `ubin-${what}-${(nextId += 1)}`;

  // What the script adds goes after the field, or after the <label> that holds it: inside a
  // label its text would become part of the field's name.
  function putAfter(field, element) {
    (field.closest('label') || field).after(element);
  }

  // --- a list under a field -----------------------------------------------------------------------

  // A panel under `anchor`: a title, a filter once the list is long, and a listbox. The field
  // that owns it (`owner`, a combobox) moves through the options with the arrow keys and picks
  // with Enter while it keeps the focus; the filter does the same. Escape closes it.
  class Panel {
    constructor(owner, anchor, signal) {
      const doc = owner.ownerDocument;
      this.owner = owner;
      this.anchor = anchor;
      this.items = [];
      this.shown = [];
      this.active = -1;
      this.onPick = null;
      this.element = doc.createElement('div');
      this.element.className = 'ubin-panel';
      this.element.hidden = true;
      this.title = doc.createElement('p');
      this.title.className = 'ubin-title';
      this.title.id = newId('title');
      this.filter = doc.createElement('input');
      this.filter.type = 'text';
      this.filter.className = 'ubin-filter';
      this.filter.autocomplete = 'off';
      this.filter.setAttribute('role', 'combobox');
      this.filter.setAttribute('aria-autocomplete', 'list');
      this.filter.setAttribute('aria-expanded', 'true');
      this.filter.setAttribute('aria-labelledby', this.title.id);
      this.list = doc.createElement('ul');
      this.list.className = 'ubin-list';
      this.list.id = newId('list');
      this.list.setAttribute('role', 'listbox');
      this.list.setAttribute('aria-labelledby', this.title.id);
      this.filter.setAttribute('aria-controls', this.list.id);
      this.count = doc.createElement('p');
      this.count.className = 'ubin-count';
      this.count.setAttribute('aria-live', 'polite');
      this.element.append(this.title, this.filter, this.list, this.count);
      putAfter(anchor, this.element);

      owner.setAttribute('role', 'combobox');
      owner.setAttribute('aria-autocomplete', owner.getAttribute('aria-autocomplete') || 'none');
      owner.setAttribute('aria-expanded', 'false');
      owner.setAttribute('aria-controls', this.list.id);

      const keys = (event) => this.key(event);
      owner.addEventListener('keydown', keys, { signal });
      this.filter.addEventListener('keydown', keys, { signal });
      this.filter.addEventListener('input', () => this.applyFilter(), { signal });
      // A press on an option keeps the focus where it is; the click picks.
      this.list.addEventListener('mousedown', (event) => event.preventDefault(), { signal });
      this.list.addEventListener('click', (event) => {
        const option = event.target.closest('[role="option"]');
        if (option) this.pick(Number(option.dataset.index));
      }, { signal });
      // Out of sight when the person goes elsewhere (a click, Tab), so it covers no other field;
      // back when they return to the field.
      doc.addEventListener('mousedown', (event) => {
        if (!this.isOpen() || this.element.contains(event.target) || event.target === owner) return;
        this.hide();
      }, { signal });
      const left = () => setTimeout(() => {
        const now = doc.activeElement;
        if (this.isOpen() && now !== owner && !this.element.contains(now) && doc.hasFocus()) this.hide();
      }, 0);
      for (const field of [owner, this.filter, this.list]) field.addEventListener('blur', left, { signal });
      owner.addEventListener('focus', () => {
        if (!this.isOpen() && this.title.textContent) this.show();
      }, { signal });
      const win = doc.defaultView;
      if (win) win.addEventListener('resize', () => this.isOpen() && this.place(), { signal });
    }

    isOpen() {
      return !this.element.hidden;
    }

    // Just under the anchor, wherever the box the panel is placed in lies.
    place() {
      const a = this.anchor.getBoundingClientRect();
      const doc = this.element.ownerDocument;
      const win = doc.defaultView;
      const parent = this.element.offsetParent;
      let left = a.left + win.scrollX;
      let top = a.bottom + win.scrollY;
      if (parent && !(parent === doc.body && win.getComputedStyle(parent).position === 'static')) {
        const p = parent.getBoundingClientRect();
        left = a.left - p.left - parent.clientLeft + parent.scrollLeft;
        top = a.bottom - p.top - parent.clientTop + parent.scrollTop;
      }
      this.element.style.left = `${left}px`;
      this.element.style.top = `${top + 2}px`;
      this.element.style.minWidth = `${Math.max(a.width, 200)}px`;
    }

    // A message alone (an error, nothing found), no list.
    message(text, isError) {
      this.items = [];
      this.render(text, isError);
    }

    // `items`: [{label, sub, filterText, value}]; `onPick(value)` when one is chosen.
    offer(title, items, onPick, withFilter) {
      this.items = items;
      this.onPick = onPick;
      this.filter.value = '';
      this.useFilter = Boolean(withFilter) && items.length >= FILTER_FROM;
      this.render(title, false);
    }

    render(title, isError) {
      this.title.textContent = title;
      this.title.classList.toggle('ubin-error', Boolean(isError));
      this.filter.hidden = !this.useFilter || this.items.length === 0;
      if (!this.filter.hidden) this.filter.placeholder = MESSAGES.filter;
      this.show();
      this.applyFilter();
    }

    show() {
      this.element.hidden = false;
      this.owner.setAttribute('aria-expanded', String(this.items.length > 0));
      this.place();
    }

    hide() {
      this.element.hidden = true;
      this.owner.setAttribute('aria-expanded', 'false');
    }

    applyFilter() {
      const wanted = this.filter.hidden ? '' : foldText(this.filter.value);
      this.shown = this.items
        .map((item, index) => ({ item, index }))
        .filter(({ item }) => !wanted || item.filterText.includes(wanted));
      const doc = this.list.ownerDocument;
      const options = this.shown.map(({ item, index }, at) => {
        const li = doc.createElement('li');
        li.className = 'ubin-option';
        li.id = `${this.list.id}-${at}`;
        li.setAttribute('role', 'option');
        li.setAttribute('aria-selected', 'false');
        li.dataset.index = String(index);
        li.append(item.label);
        if (item.sub) {
          const sub = doc.createElement('span');
          sub.className = 'ubin-sub';
          sub.textContent = item.sub;
          li.append(sub);
        }
        return li;
      });
      this.list.replaceChildren(...options);
      this.count.textContent = this.filter.hidden ? ''
        : this.shown.length ? MESSAGES.filterCount(this.shown.length, this.items.length) : MESSAGES.noMatch;
      this.setActive(wanted && this.shown.length ? 0 : -1);
    }

    setActive(at) {
      this.active = at;
      const options = this.list.children;
      for (let i = 0; i < options.length; i += 1) options[i].setAttribute('aria-selected', String(i === at));
      const id = at >= 0 && options[at] ? options[at].id : '';
      for (const field of [this.owner, this.filter]) {
        if (id) field.setAttribute('aria-activedescendant', id);
        else field.removeAttribute('aria-activedescendant');
      }
      if (id) options[at].scrollIntoView({ block: 'nearest' });
    }

    key(event) {
      if (!this.isOpen() || event.isComposing) return;
      const fromOwner = event.currentTarget === this.owner;
      const count = this.shown.length;
      switch (event.key) {
        case 'ArrowDown':
        case 'ArrowUp':
          if (!count) return;
          event.preventDefault();
          // From the field, a list with a filter is entered through the filter.
          if (fromOwner && !this.filter.hidden) {
            this.filter.focus();
            this.setActive(0);
            return;
          }
          this.setActive(event.key === 'ArrowDown' ? (this.active + 1) % count
            : this.active <= 0 ? count - 1 : this.active - 1);
          return;
        case 'Home':
        case 'End':
          if (fromOwner || !count) return;
          event.preventDefault();
          this.setActive(event.key === 'Home' ? 0 : count - 1);
          return;
        case 'Enter':
          if (this.active < 0 && !(count === 1 && !fromOwner)) return;
          event.preventDefault();
          this.pick(this.shown[Math.max(this.active, 0)].index);
          return;
        case 'Escape':
          event.preventDefault();
          this.close();
          this.owner.focus();
          return;
        default:
      }
    }

    pick(index) {
      const item = this.items[index];
      const onPick = this.onPick;
      this.close();
      if (item && onPick) onPick(item.value);
    }

    close() {
      const hadFocus = this.element.contains(this.element.ownerDocument.activeElement);
      this.element.hidden = true;
      this.title.textContent = '';
      this.items = [];
      this.shown = [];
      this.list.replaceChildren();
      this.owner.setAttribute('aria-expanded', 'false');
      this.owner.removeAttribute('aria-activedescendant');
      if (hadFocus) this.owner.focus();
    }

    remove() {
      this.element.remove();
      for (const name of ['aria-expanded', 'aria-controls', 'aria-activedescendant', 'aria-autocomplete', 'role']) {
        this.owner.removeAttribute(name);
      }
    }
  }

  // --- a form -------------------------------------------------------------------------------------

  // The server's base URL from the element's data-ubin-server, then the options, then the
  // script's own place.
  function serverOf(root, options) {
    const given = (root.getAttribute && root.getAttribute('data-ubin-server')) || options.server || scriptServer
      || '';
    const base = new URL(given || './', root.ownerDocument.baseURI).href;
    return base.endsWith('/') ? base : `${base}/`;
  }

  // The fields of a form by role: data-ubin="ROLE" (several roles apart by blanks), and the
  // selectors or elements of options.fields.
  function findFields(root, given) {
    const fields = {};
    for (const role of ROLES) {
      const wanted = given && given[role];
      let found = [];
      if (wanted) {
        found = typeof wanted === 'string' ? [...root.querySelectorAll(wanted)] : [].concat(wanted);
      } else {
        found = [...root.querySelectorAll(`[data-ubin~="${role}"]`)];
      }
      if (found.length) fields[role] = found[0];
    }
    return fields;
  }

  function isSelect(element) {
    return element.tagName === 'SELECT';
  }

  // The value a field shows; for a <select>, '' while its default option is chosen.
  function valueOf(element) {
    if (isSelect(element)) {
      const options = [...element.options];
      const preset = Math.max(options.findIndex((o) => o.defaultSelected), 0);
      return element.selectedIndex < 0 || element.selectedIndex === preset ? '' : element.value;
    }
    return element.value;
  }

  // The option of a prefecture <select> for a prefecture: by its name (value or text), else by
  // its number (13, 01, JP-13).
  function prefectureOption(select, name, code) {
    const options = [...select.options];
    return options.find((o) => o.value === name || o.text.trim() === name)
      || options.find((o) => /^(?:JP-?)?\d{1,2}$/i.test(o.value) && Number(o.value.replace(/\D/g, '')) === code);
  }

  class Form {
    constructor(root, options) {
      this.root = root;
      this.options = options;
      this.doc = root.ownerDocument;
      this.server = serverOf(root, options);
      this.fields = findFields(root, options.fields);
      this.controller = new AbortController();
      this.wrote = new Map(); // field -> what this script last wrote there and still owns
      this.lookedUp = '';
      this.serial = 0;
      this.suggestSerial = 0;
      this.composing = false;
      this.writing = false;
      this.timer = 0;
      this.suggestTimer = 0;
      addStyle(this.doc);
      this.listen();
    }

    get signal() {
      return this.controller.signal;
    }

    postalFields() {
      const f = this.fields;
      if (f.postal) return [f.postal];
      return f.postal3 && f.postal4 ? [f.postal3, f.postal4] : [];
    }

    listen() {
      const signal = this.signal;
      const postal = this.postalFields();
      if (postal.length) {
        const last = postal[postal.length - 1];
        this.postalPanel = new Panel(last, last, signal);
        this.status = this.fields.status || this.hiddenStatus(last);
        for (const field of postal) {
          field.addEventListener('input', (event) => this.postalTyped(event), { signal });
          field.addEventListener('paste', (event) => this.postalPasted(event, field), { signal });
          this.watchComposition(field, () => this.postalTyped());
        }
      }
      const typed = this.fields.search || this.fields.address;
      if (typed && !isSelect(typed)) {
        this.suggestField = typed;
        this.suggestPanel = new Panel(typed, typed, signal);
        typed.setAttribute('aria-autocomplete', 'list');
        this.suggestStatus = this.fields.status && !postal.length ? this.fields.status : this.hiddenStatus(typed);
        typed.addEventListener('input', (event) => this.addressTyped(event), { signal });
        this.watchComposition(typed, () => this.addressTyped());
      }
    }

    // A live region that screen readers read and eyes do not see, beside the field.
    hiddenStatus(field) {
      const status = this.doc.createElement('span');
      status.className = 'ubin-hidden';
      status.setAttribute('role', 'status');
      status.setAttribute('aria-live', 'polite');
      putAfter(field, status);
      this.created = (this.created || []).concat(status);
      return status;
    }

    // No request while an input method is composing: the text is not the person's yet.
    watchComposition(field, done) {
      const signal = this.signal;
      field.addEventListener('compositionstart', () => {
        this.composing = true;
      }, { signal });
      field.addEventListener('compositionend', () => {
        this.composing = false;
        done();
      }, { signal });
    }

    say(status, text, isError) {
      if (!status) return;
      status.textContent = text;
      status.classList.toggle('ubin-error', Boolean(isError));
    }

    emit(name, detail) {
      this.root.dispatchEvent(new CustomEvent(`ubin:${name}`, { bubbles: true, detail }));
      const handler = this.options[`on${name[0].toUpperCase()}${name.slice(1)}`];
      if (typeof handler === 'function') handler(detail);
    }

    // --- from the postal code ---

    postalDigits() {
      return this.postalFields().map((f) => postalDigits(f.value)).join('');
    }

    postalTyped(event) {
      if (this.writing || this.composing || (event && event.isComposing)) return;
      clearTimeout(this.timer);
      const digits = this.postalDigits();
      if (digits === this.lookedUp) return;
      if (digits.length !== 7) {
        // Not a code (yet): the address of the one before goes, and a request on its way with it.
        this.serial += 1;
        if (this.lookedUp) this.clearOwned();
        this.lookedUp = '';
        this.postalPanel.close();
        const tooMany = digits.length > 7;
        this.say(this.status, tooMany ? MESSAGES.tooManyDigits : '', tooMany);
        if (tooMany && !this.fields.status) this.postalPanel.message(MESSAGES.tooManyDigits, true);
        return;
      }
      // A paste and the events of a framework come together: one request for them.
      this.timer = setTimeout(() => this.lookUp(digits), this.options.postalDelay ?? 60);
    }

    // A code pasted with 〒, blanks or dashes fits a short field; into the first of a 3+4 pair
    // it fills both.
    postalPasted(event, field) {
      const text = event.clipboardData && event.clipboardData.getData('text');
      const digits = postalDigits(text);
      if (digits.length !== 7) return;
      event.preventDefault();
      const postal = this.postalFields();
      if (postal.length === 2) {
        this.set(postal[0], digits.slice(0, 3));
        this.set(postal[1], digits.slice(3));
      } else {
        this.set(field, field.maxLength > 0 && field.maxLength < 8 ? digits : formatCode(digits));
      }
      this.postalTyped();
    }

    async lookUp(digits) {
      this.serial += 1;
      const serial = this.serial;
      if (this.abort) this.abort.abort();
      this.abort = new AbortController();
      this.lookedUp = digits;
      this.postalPanel.close();
      if (this.fields.status) this.say(this.status, MESSAGES.searching);
      let addresses;
      try {
        addresses = await addressesOf(this.server, digits, this.abort.signal);
      } catch (e) {
        if (serial !== this.serial || (e && e.name === 'AbortError')) return;
        const text = e instanceof ServerError ? MESSAGES.serverError : MESSAGES.unreachable;
        this.say(this.status, text, true);
        if (!this.fields.status) this.postalPanel.message(text, true);
        this.emit('error', { postalCode: digits, error: e });
        return;
      }
      if (serial !== this.serial) return; // another code was typed meanwhile
      this.showAddresses(digits, addresses);
    }

    showAddresses(digits, addresses) {
      const code = formatCode(digits);
      if (!addresses.length) {
        this.clearOwned();
        this.say(this.status, MESSAGES.notFound(code), true);
        if (!this.fields.status) this.postalPanel.message(MESSAGES.notFound(code), true);
        this.emit('notfound', { postalCode: digits });
        return;
      }
      if (addresses.length === 1) {
        this.fill(addresses[0]);
        this.say(this.status, MESSAGES.filled(code, addresses[0].label));
        this.emit('fill', { postalCode: digits, address: addresses[0], from: 'postal' });
        return;
      }
      // Several towns: what they share now, the town when one is chosen.
      const same = (key) => addresses.every((a) => a[key] === addresses[0][key]);
      const first = addresses[0];
      const shared = {
        postalCode: digits,
        prefecture: same('prefecture') ? first.prefecture : '',
        prefectureCode: same('prefecture') ? first.prefectureCode : 0,
        city: same('prefecture') && same('city') ? first.city : '',
      };
      this.fill({ ...shared, town: '', street: '', building: '', company: '', kana: '', companyKana: '' });
      const area = `${shared.prefecture}${shared.city}`;
      const title = MESSAGES.several(code, addresses.length, area || [...new Set(addresses.map((a) => a.prefecture))].join('・'));
      this.say(this.status, `${title}${MESSAGES.listKeys}`);
      // Each option names what differs: the town where the city is shared.
      const items = addresses.map((a) => {
        const label = shared.city ? a.label.slice(area.length) || a.label : a.label;
        return { label, sub: a.townKana, filterText: foldText(`${a.label}${a.townKana}${a.company}`), value: a };
      });
      this.postalPanel.offer(title, items, (a) => {
        this.fill(a, { explicit: true });
        this.say(this.status, MESSAGES.filled(code, a.label));
        this.emit('fill', { postalCode: digits, address: a, from: 'choice' });
        this.focusAfterFill();
      }, true);
      this.emit('choice', { postalCode: digits, addresses });
    }

    // After a town is picked, the next field the person fills: the street, else the building.
    focusAfterFill() {
      const next = ['street', 'building', 'address'].map((r) => this.fields[r]).find((f) => f && !isSelect(f));
      (next || this.postalFields()[0] || this.root).focus();
    }

    // --- writing the fields ---

    // The field a part of the address goes to: its own (a <select> takes the prefecture alone),
    // else the nearest text field of a part before it (the town after the city), else the
    // whole-address field, else the nearest text field of a part after it.
    fieldOf(part) {
      const f = this.fields;
      const own = f[part];
      if (own && (!isSelect(own) || part === 'prefecture')) return own;
      const text = (role) => (f[role] && !isSelect(f[role]) ? f[role] : null);
      const at = PARTS.indexOf(part);
      const before = PARTS.slice(0, at).reverse().map(text).find(Boolean);
      const after = PARTS.slice(at + 1).map(text).find(Boolean);
      return before || text('address') || after || null;
    }

    // What each field is to hold for an address: [{part, text, owned}] by field. `typed` is what
    // the person typed after the town ({street, building}): written, but theirs, not this
    // script's.
    targets(address, typed) {
      const f = this.fields;
      const value = {
        prefecture: address.prefecture || '',
        city: address.city || '',
        town: address.town || '',
        street: address.street || (typed && typed.street) || '',
        building: (typed && typed.building) || address.building || '',
      };
      const owned = {
        prefecture: true,
        city: true,
        town: true,
        street: Boolean(address.street) || !(typed && typed.street),
        building: !(typed && typed.building),
      };
      // An office's name goes with the building where the form has no field for it.
      if (!f.company && address.company) value.building = [value.building, address.company].filter(Boolean).join(' ');
      const slots = new Map();
      const put = (field, part, text, mine) => {
        if (!field) return;
        if (!slots.has(field)) slots.set(field, []);
        slots.get(field).push({ part, text, owned: mine });
      };
      for (const part of PARTS) put(this.fieldOf(part), part, value[part], owned[part]);
      put(f.company, 'company', address.company || '', true);
      put(f.kana, 'kana', address.kana || '', true);
      put(f['company-kana'], 'company-kana', address.companyKana || '', true);
      return slots;
    }

    // Writes an address. A field is written when it is empty, or holds what this script wrote
    // there and the person has not changed. A field the person changed after a fill keeps their
    // text while the new address gives it the value the fill gave it, and takes the new value
    // when that differs (a town typed over 千代田 was a town of that code, not of the new one).
    // What the person typed into a field never filled is never touched. `explicit`: the person
    // chose this address (a town from the list, a suggestion), and every field with something to
    // say for it is written.
    fill(address, { typed, explicit } = {}) {
      const slots = this.targets(address, typed);
      for (const [field, parts] of slots) {
        if (isSelect(field)) {
          this.fillSelect(field, address, explicit);
          continue;
        }
        const sep = (part) => (part === 'building' || part === 'company' ? ' ' : '');
        let text = '';
        let ownedText = '';
        let ownedWhole = true;
        for (const p of parts) {
          if (!p.text) continue;
          const piece = (text ? sep(p.part) : '') + p.text;
          text += piece;
          if (p.owned && ownedWhole) ownedText += piece;
          else ownedWhole = false;
        }
        this.write(field, text, ownedText, explicit);
      }
      this.setPostal(address.postalCode);
    }

    // `text` to the field, of which its first `owned` characters are this script's.
    write(field, text, owned, explicit) {
      const current = field.value;
      const wrote = this.wrote.get(field);
      let next = null;
      if (current === '' || (wrote !== undefined && current === wrote) || (explicit && text)) {
        next = text;
      } else if (wrote) {
        if (field === this.fields.address && current.startsWith(wrote)) {
          // The whole-address field with the house number typed after the fill: that stays.
          next = text + current.slice(wrote.length);
        } else if (wrote !== owned) {
          next = text;
        }
      }
      if (next === null) return;
      this.set(field, next);
      if (owned) this.wrote.set(field, owned);
      else this.wrote.delete(field);
    }

    fillSelect(select, address, explicit) {
      const option = address.prefecture ? prefectureOption(select, address.prefecture, address.prefectureCode) : null;
      const current = valueOf(select);
      const wrote = this.wrote.get(select);
      const mine = current === '' || current === wrote;
      if (!mine && !(option && (explicit || (wrote && option.value !== wrote)))) return;
      if (!option) {
        if (mine && current !== '') this.setSelect(select, select.options[0] ? select.options[0].value : '');
        return;
      }
      this.setSelect(select, option.value);
      this.wrote.set(select, option.value);
    }

    setSelect(select, value) {
      if (select.value === value) return;
      this.set(select, value);
    }

    // The postal field after a fill from elsewhere (a suggestion picked): the code, looked up
    // already.
    setPostal(digits) {
      if (!digits || digits.length !== 7) return;
      const postal = this.postalFields();
      if (!postal.length || this.postalDigits() === digits) {
        this.lookedUp = this.postalDigits();
        return;
      }
      if (postal.length === 2) {
        this.set(postal[0], digits.slice(0, 3));
        this.set(postal[1], digits.slice(3));
      } else {
        const short = postal[0].maxLength > 0 && postal[0].maxLength < 8;
        this.set(postal[0], short ? digits : formatCode(digits));
      }
      this.lookedUp = digits;
      this.postalPanel.close();
    }

    // Sets a value as typing would, so that frameworks listening for input and change see it;
    // this script's own listeners pass it by.
    set(field, value) {
      this.writing = true;
      try {
        const proto = Object.getPrototypeOf(field);
        const setter = Object.getOwnPropertyDescriptor(proto, 'value');
        if (setter && setter.set) setter.set.call(field, value);
        else field.value = value;
        field.dispatchEvent(new Event('input', { bubbles: true }));
        field.dispatchEvent(new Event('change', { bubbles: true }));
      } finally {
        this.writing = false;
      }
    }

    // Empties every field that still holds what this script wrote there.
    clearOwned() {
      for (const [field, wrote] of this.wrote) {
        if (!field.isConnected) continue;
        if (isSelect(field)) {
          if (field.value === wrote) this.setSelect(field, field.options[0] ? field.options[0].value : '');
        } else if (field.value === wrote) {
          this.set(field, '');
        } else if (field === this.fields.address && field.value.startsWith(wrote)) {
          this.set(field, field.value.slice(wrote.length).trim());
        } else {
          continue;
        }
      }
      this.wrote.clear();
    }

    // --- suggestions as an address is typed ---

    addressTyped(event) {
      if (this.writing || this.composing || (event && event.isComposing)) return;
      clearTimeout(this.suggestTimer);
      this.suggestSerial += 1;
      const field = this.suggestField;
      const query = field.value.trim();
      const wrote = this.wrote.get(field);
      // After a fill from the code the person goes on with the house number: nothing to offer.
      const short = [...query].length < (/^[0-9０-９〒\s-]+$/.test(query) ? MIN_DIGITS : MIN_QUERY);
      if (short || (wrote && field.value.startsWith(wrote))) {
        this.suggestPanel.close();
        this.say(this.suggestStatus, '');
        return;
      }
      if ([...query].length > MAX_QUERY) {
        this.suggestPanel.message(MESSAGES.tooLong, true);
        this.say(this.suggestStatus, MESSAGES.tooLong, true);
        return;
      }
      const serial = this.suggestSerial;
      this.suggestTimer = setTimeout(() => this.suggest(query, serial), this.options.suggestDelay ?? 200);
    }

    async suggest(query, serial) {
      if (this.suggestAbort) this.suggestAbort.abort();
      this.suggestAbort = new AbortController();
      let reply;
      try {
        const limit = this.options.suggestions || 10;
        reply = await getJson(`${this.server}v1/suggest?q=${encodeURIComponent(query)}&limit=${limit}`,
          this.suggestAbort.signal);
      } catch (e) {
        if (serial !== this.suggestSerial || (e && e.name === 'AbortError')) return;
        this.suggestPanel.message(MESSAGES.unreachable, true);
        this.say(this.suggestStatus, MESSAGES.unreachable, true);
        return;
      }
      if (serial !== this.suggestSerial) return; // the person typed on meanwhile
      const body = reply.body;
      if (reply.status !== 200 || !body) {
        const text = reply.status === 400 ? MESSAGES.refused : MESSAGES.serverError;
        if (reply.status === 404) {
          this.suggestPanel.close();
          return; // a server without the search index: no suggestions, the form still works
        }
        this.suggestPanel.message(text, true);
        this.say(this.suggestStatus, text, true);
        return;
      }
      this.showSuggestions(query, body);
    }

    showSuggestions(query, body) {
      const addresses = body.results.map(fromSuggest);
      if (!addresses.length) {
        const text = body.hint
          || (body.suggestions && body.suggestions.length ? MESSAGES.nearNames(query, body.suggestions)
            : MESSAGES.nothingFound(query));
        this.suggestPanel.message(text, true);
        this.say(this.suggestStatus, text, true);
        return;
      }
      const title = body.corrected ? MESSAGES.corrected(query, body.corrected) : MESSAGES.suggestions(addresses.length);
      const items = addresses.map((a) => ({
        label: a.label,
        sub: `〒${formatCode(a.postalCode)}`,
        filterText: foldText(a.label),
        value: a,
      }));
      this.suggestPanel.offer(title, items, (a) => this.suggestionPicked(a), false);
      this.say(this.suggestStatus, title);
    }

    suggestionPicked(address) {
      // What the person typed after the town stays theirs: the house number to the street, what
      // follows it to the building (an office has its own street).
      this.serial += 1; // a lookup of the code typed before is not wanted now
      const field = this.suggestField;
      const searchOnly = field === this.fields.search;
      this.fill(address, { typed: address.company ? null : splitRest(address.rest), explicit: true });
      this.say(this.status, MESSAGES.filled(formatCode(address.postalCode), address.label));
      this.say(this.suggestStatus, MESSAGES.filled(formatCode(address.postalCode), address.label));
      this.emit('fill', { postalCode: address.postalCode, address, from: 'suggestion' });
      if (searchOnly || field !== this.fields.address) this.focusAfterFill();
      else field.focus();
    }

    // --- the public side ---

    // Looks a code up as if typed into the postal field.
    setPostalCode(code) {
      const digits = postalDigits(code);
      if (digits.length !== 7) return;
      const postal = this.postalFields();
      if (postal.length === 2) {
        this.set(postal[0], digits.slice(0, 3));
        this.set(postal[1], digits.slice(3));
      } else if (postal.length) {
        this.set(postal[0], formatCode(digits));
      }
      this.lookUp(digits);
    }

    detach() {
      this.controller.abort();
      clearTimeout(this.timer);
      clearTimeout(this.suggestTimer);
      if (this.abort) this.abort.abort();
      if (this.suggestAbort) this.suggestAbort.abort();
      if (this.postalPanel) this.postalPanel.remove();
      if (this.suggestPanel) this.suggestPanel.remove();
      for (const element of this.created || []) element.remove();
      attached.delete(this.root);
    }
  }

  // --- attaching ----------------------------------------------------------------------------------

  const attached = new WeakMap();

  // Fills the form (or any element) `root` from the fields inside it. Attaching a root again
  // replaces its earlier attachment.
  function attach(root, options) {
    if (!root || !root.querySelectorAll) throw new TypeError('UbinForms.attach: a form or an element is needed');
    const before = attached.get(root);
    if (before) before.detach();
    const form = new Form(root, options || {});
    attached.set(root, form);
    return {
      get fields() {
        return { ...form.fields };
      },
      setPostalCode: (code) => form.setPostalCode(code),
      detach: () => form.detach(),
    };
  }

  // Every element marked data-ubin-form, and every form that holds a field marked data-ubin.
  function attachAll(doc, options) {
    const d = doc || global.document;
    const roots = new Set(d.querySelectorAll('[data-ubin-form]'));
    for (const field of d.querySelectorAll('[data-ubin]')) {
      if (field.closest('[data-ubin-form]')) continue;
      roots.add(field.form || field.closest('form') || d.body);
    }
    return [...roots].filter((root) => !attached.has(root)).map((root) => attach(root, options));
  }

  // The server, from the script element that loaded this file: its data-ubin-server, else its
  // own folder (the script served by ubin-serve). None when loaded as a module.
  const script = global.document && global.document.currentScript;
  let scriptServer = '';
  if (script) {
    scriptServer = script.getAttribute('data-ubin-server') || new URL('./', script.src || global.location.href).href;
  }

  const api = { version: VERSION, attach, attachAll, postalDigits, splitRest, messages: MESSAGES };
  global.UbinForms = api;
  if (typeof module === 'object' && module && module.exports) module.exports = api;

  // Loaded by a <script> element, it attaches by itself unless told not to (data-ubin-auto="off").
  if (script && script.getAttribute('data-ubin-auto') !== 'off') {
    const doc = global.document;
    if (doc.readyState === 'loading') doc.addEventListener('DOMContentLoaded', () => attachAll(doc), { once: true });
    else attachAll(doc);
  }
})(typeof globalThis !== 'undefined' ? globalThis : this);
