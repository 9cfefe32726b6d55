// Type declarations of ubin-forms: the ES module (ubin-forms.mjs) and the global `UbinForms`
// that the classic script (ubin-forms.js) defines.

/** The roles of a form's fields, as data-ubin="ROLE" names them. */
export type FieldRole =
  | 'postal' // the postal code in one field
  | 'postal3' // the first 3 digits of a code split in two fields
  | 'postal4' // its last 4 digits
  | 'prefecture' // a text field, or a <select> whose options are named or numbered (13, 01, JP-13)
  | 'city'
  | 'town'
  | 'street' // the house number
  | 'building' // a building and a room
  | 'address' // the whole address in one field, with suggestions as it is typed
  | 'company' // an office's name, for the codes of offices
  | 'kana' // the reading of prefecture, city and town in full-width katakana
  | 'company-kana' // the reading of an office's name
  | 'search' // a field that only looks addresses up: a pick fills the others
  | 'status'; // where messages are written (else a list under the field shows them)

/** An address as the script fills it in. */
export interface Address {
  postalCode: string; // 7 digits
  prefecture: string;
  prefectureCode: number; // 1 to 47
  city: string;
  town: string; // empty for a city's catch-all entry
  street: string; // an office's street part; empty for areas
  building: string; // a building and its floor, for a building's own code
  company: string; // an office's name
  kana: string;
  companyKana: string;
  label: string; // the address as one line
  townKana: string;
  rest: string; // what was typed after the town, for a suggestion
}

export interface Options {
  /** The ubin-serve server's base URL; default: the form's data-ubin-server, then the script's. */
  server?: string;
  /** Fields by role: a CSS selector (the first match counts) or the element itself. */
  fields?: Partial<Record<FieldRole, string | Element>>;
  /** Milliseconds after the last keystroke before a lookup: 60 for a code, 200 for suggestions. */
  postalDelay?: number;
  suggestDelay?: number;
  /** Suggestions listed, 1 to 100 (default 10). */
  suggestions?: number;
  onFill?: (detail: FillDetail) => void;
  onChoice?: (detail: { postalCode: string; addresses: Address[] }) => void;
  onNotfound?: (detail: { postalCode: string }) => void;
  onError?: (detail: { postalCode: string; error: unknown }) => void;
}

export interface FillDetail {
  postalCode: string;
  address: Address;
  from: 'postal' | 'choice' | 'suggestion';
}

export interface AttachedForm {
  /** The fields found, by role. */
  readonly fields: Partial<Record<FieldRole, Element>>;
  /** Writes a code into the postal field(s) and fills the address from it. */
  setPostalCode(code: string): void;
  /** Removes the listeners and the lists this script added. */
  detach(): void;
}

/** Fills the form (or any element) from the fields inside it; attaching again replaces it. */
export function attach(root: Element, options?: Options): AttachedForm;
/** Attaches every [data-ubin-form] element and every form holding a [data-ubin] field. */
export function attachAll(document?: Document, options?: Options): AttachedForm[];
/** The digits of a postal code as people write it (〒, full-width digits, dashes, blanks). */
export function postalDigits(text: string): string;
/** What was typed after a town: its house number, and what follows it. */
export function splitRest(rest: string): { street: string; building: string };
/** The texts shown to the person; replace them to speak another language. */
export const messages: Record<string, string | ((...args: never[]) => string)>;
export const version: string;

declare const UbinForms: {
  version: typeof version;
  attach: typeof attach;
  attachAll: typeof attachAll;
  postalDigits: typeof postalDigits;
  splitRest: typeof splitRest;
  messages: typeof messages;
};
export default UbinForms;

declare global {
  interface Window {
    UbinForms: typeof UbinForms;
  }
  interface HTMLElementEventMap {
    'ubin:fill': CustomEvent<FillDetail>;
    'ubin:choice': CustomEvent<{ postalCode: string; addresses: Address[] }>;
    'ubin:notfound': CustomEvent<{ postalCode: string }>;
    'ubin:error': CustomEvent<{ postalCode: string; error: unknown }>;
  }
}
