// Writes "PASSED FAILED" for the test cases of a run (suites not counted) to the file named by
// RACK_PAGE_COUNTS, for scripts/test to add to its total.

import fs from 'node:fs';
import path from 'node:path';

export default async function* countReporter(source) {
  let passed = 0;
  let failed = 0;
  for await (const event of source) {
    const suite = event.data && event.data.details && event.data.details.type === 'suite';
    if (event.type === 'test:pass' && !suite && !event.data.skip && !event.data.todo) passed += 1;
    if (event.type === 'test:fail' && !suite) failed += 1;
    if (event.type === 'test:fail' && suite && event.data.details.error && event.data.details.error.failureType === 'hookFailed') failed += 1;
  }
  const file = process.env.RACK_PAGE_COUNTS;
  if (file) {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, `${passed} ${failed}\n`);
  }
  yield `page tests: ${passed} passed, ${failed} failed\n`;
}
