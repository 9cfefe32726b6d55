// The text helpers of ubin-forms.js, without a browser: the digits of a postal code as people
// write it, and what was typed after a town split into house number and building.
//
//   node script_test.mjs UBIN_FORMS_JS
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const forms = createRequire(import.meta.url)(process.argv[2]);
let failed = 0;

function table(name, cases, run) {
  for (const [input, expected] of cases) {
    try {
      assert.deepEqual(run(input), expected);
      console.log(`ok - ${name}: ${JSON.stringify(input)}`);
    } catch (e) {
      failed += 1;
      console.log(`not ok - ${name}: ${JSON.stringify(input)}\n  ${e.message.split('\n').join('\n  ')}`);
    }
  }
}

table('postalDigits', [
  ['〒 100 - 8111', '1008111'],
  ['１００－８１１１', '1008111'],
  ['100ー8111', '1008111'],
  ['〒100‐8111', '1008111'],
  ['730', '730'],
  ['', ''],
], forms.postalDigits);

table('splitRest', [
  // A building named after its town stays whole after the number.
  ['6-10-1 六本木ヒルズ森タワー 32F', { street: '6-10-1', building: '六本木ヒルズ森タワー 32F' }],
  ['１－７－１　国会ビル', { street: '１－７－１', building: '国会ビル' }],
  ['1丁目2番3号 ○○ビル', { street: '1丁目2番3号', building: '○○ビル' }],
  ['3番地の5 コーポ山田101', { street: '3番地の5', building: 'コーポ山田101' }],
  ['1-2-3ハイツ201', { street: '1-2-3', building: 'ハイツ201' }],
  ['五丁目3-1', { street: '五丁目3-1', building: '' }],
  // A kanji numeral that is no number: the text is all street.
  ['六本木ヒルズ', { street: '六本木ヒルズ', building: '' }],
  ['国会ビル', { street: '国会ビル', building: '' }],
  ['', { street: '', building: '' }],
], forms.splitRest);

console.log(failed ? `${failed} failed` : 'all passed');
process.exit(failed ? 1 : 0);
