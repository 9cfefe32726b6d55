// ubin-forms as an ES module: import { attach } from 'ubin-forms'. The script itself
// (ubin-forms.js) runs once, as a classic script does; loaded this way it attaches to nothing
// by itself, so call attach() or attachAll().
import './ubin-forms.js';

const UbinForms = globalThis.UbinForms;

export const { version, attach, attachAll, postalDigits, splitRest, messages } = UbinForms;
export default UbinForms;
