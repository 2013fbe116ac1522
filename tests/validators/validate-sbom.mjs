// Validates CycloneDX JSON files against the schema of the version each
// declares, with the CycloneDX library's strict JSON validator.
//
//   node validate-sbom.mjs FILE...
import { readFile } from 'node:fs/promises';

import { Validation } from '@cyclonedx/cyclonedx-library';

let failed = false;
for (const path of process.argv.slice(2)) {
  const text = await readFile(path, 'utf8');
  const { specVersion } = JSON.parse(text);
  let errors;
  try {
    // Throws for a version the library has no schema of.
    errors = await new Validation.JsonStrictValidator(specVersion).validate(text);
  } catch (error) {
    errors = `CycloneDX ${specVersion}: ${error.message}`;
  }
  if (errors !== null) {
    console.error(`${path}: ${JSON.stringify(errors, null, 2)}`);
    failed = true;
  } else {
    console.log(`${path}: valid CycloneDX ${specVersion}`);
  }
}
process.exitCode = failed ? 1 : 0;
