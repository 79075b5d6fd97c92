// Writes "PASSED FAILED" for the test cases of a run (suites not counted) to the file named by
// RACK_PAGE_COUNTS, and the names of the failed cases, one a line, to "failed" beside it, for
// scripts/test to add to its total and its list of failures.

import fs from 'node:fs';
import path from 'node:path';

export default async function* countReporter(source) {
  let passed = 0;
  const failedNames = [];
  for await (const event of source) {
    const suite = event.data && event.data.details && event.data.details.type === 'suite';
    const hookFailed = suite && event.data.details.error && event.data.details.error.failureType === 'hookFailed';
    if (event.type === 'test:pass' && !suite && !event.data.skip && !event.data.todo) passed += 1;
    if (event.type === 'test:fail' && (!suite || hookFailed)) {
      failedNames.push(`${path.basename(event.data.file ?? '')}: ${event.data.name}`);
    }
  }
  const file = process.env.RACK_PAGE_COUNTS;
  if (file) {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, `${passed} ${failedNames.length}\n`);
    fs.writeFileSync(path.join(path.dirname(file), 'failed'), failedNames.map((name) => `${name}\n`).join(''));
  }
  yield `page tests: ${passed} passed, ${failedNames.length} failed\n`;
}
