// Checks the workflow that runs the self-test kit on hosted Windows
// runners: that it is valid for the workflow schema (action-validator), and
// what the schema cannot tell: that it starts on push, on pull requests and
// by hand, may only read the repository, pins every action by its commit
// with its version beside it, builds in the debian:12 container with the
// README's commands (and the guide's for the kit), runs the kit with
// /disposable on each Windows runner, and keeps the report whatever the
// outcome.
//
//   node check-workflow.mjs WORKFLOW README GUIDE
import { readFileSync } from 'node:fs';

import { validateWorkflow } from '@action-validator/core';
import yaml from 'js-yaml';
import MarkdownIt from 'markdown-it';

const runners = ['windows-11-arm', 'windows-2022', 'windows-2025'];
const events = ['pull_request', 'push', 'workflow_dispatch'];
const [workflowPath, readmePath, guidePath] = process.argv.slice(2);
const problems = [];

function check(holds, problem) {
  if (!holds) problems.push(problem);
}

// The commands of a shell script's lines, without comments and blanks.
function commands(script) {
  return script.split('\n').map((line) => line.replace(/(^|\s+)#.*$/, '').trim())
    .filter((line) => line !== '');
}

// The commands of the first sh block under HEADING in the Markdown file at
// PATH, before the next heading.
function shBlock(path, heading) {
  const tokens = new MarkdownIt().parse(readFileSync(path, 'utf8'), {});
  const start = tokens.findIndex((token, i) => token.type === 'heading_open' &&
    tokens[i + 1].content === heading);
  for (let i = start + 1; start >= 0 && i < tokens.length; i++) {
    if (tokens[i].type === 'heading_open') break;
    if (tokens[i].type === 'fence' && tokens[i].info.trim() === 'sh') {
      return commands(tokens[i].content);
    }
  }
  problems.push(`${path}: no sh block under "${heading}"`);
  return [];
}

// What the Debian job must run, in this order: the README's commands, but
// its clone, which the checkout stands for; then the guide's for the kit
// that the README's do not run already.
function buildCommands() {
  const readme = shBlock(readmePath, 'Build it yourself')
    .filter((command) => !/^(cd|git clone) /.test(command));
  const kit = shBlock(guidePath, 'Prove it on your own Windows')
    .filter((command) => !readme.includes(command));
  return [...readme, ...kit];
}

// The first of EXPECTED that ACTUAL does not run in EXPECTED's order.
function firstNotRun(expected, actual) {
  let at = 0;
  for (const command of expected) {
    at = actual.indexOf(command, at) + 1;
    if (at === 0) return command;
  }
  return null;
}

function checkBuildJob(jobs) {
  const [name, job] = Object.entries(jobs).find(([, each]) => each.container) ?? [];
  const image = job?.container?.image ?? job?.container;
  check(image === 'debian:12', `the build job's container is ${image}, not debian:12`);
  const run = (job?.steps ?? []).flatMap((step) => commands(step.run ?? ''));
  const missing = firstNotRun(buildCommands(), run);
  check(missing === null, `job ${name} does not run "${missing}" where the ` +
    `README and the guide have it (it runs: ${run.join('; ')})`);
}

function checkWindowsJob(jobs) {
  const [name, job] = Object.entries(jobs)
    .find(([, each]) => each.strategy?.matrix?.runner) ?? [];
  const listed = [...(job?.strategy?.matrix?.runner ?? [])].sort();
  check(listed.join() === runners.join(),
    `the Windows runners are ${listed.join(', ')}, not ${runners.join(', ')}`);
  check(job?.['runs-on'] === '${{ matrix.runner }}',
    `job ${name} does not run on \${{ matrix.runner }}`);
  const steps = job?.steps ?? [];
  check(steps.some((step) => step.shell === 'cmd' && commands(step.run ?? '')
    .some((line) => /(^|\s)selftest\.cmd \/disposable(\s|$)/.test(line))),
  `job ${name} has no cmd step that runs selftest.cmd /disposable`);
  check(steps.some((step) => step.uses?.startsWith('actions/upload-artifact@') &&
    /^(\$\{\{\s*)?always\(\)(\s*\}\})?$/.test(step.if ?? '') &&
    step.with?.name?.includes('${{ matrix.runner }}') &&
    ['selftest-report.txt', 'selftest-results.xml']
      .every((file) => step.with?.path?.includes(file))),
  `job ${name} does not upload selftest-report.txt and selftest-results.xml, ` +
    'as an artifact named after the runner, with if: always()');
}

// Every action is pinned by its full commit hash, with its version in a
// comment on the same line; no failure is let pass.
function checkSteps(text, jobs) {
  for (const [name, job] of Object.entries(jobs)) {
    check(job['continue-on-error'] === undefined, `job ${name} may fail unseen`);
    for (const step of job.steps ?? []) {
      check(step['continue-on-error'] === undefined,
        `a step of job ${name} may fail unseen`);
      if (step.uses === undefined) continue;
      check(/^[\w.-]+\/[\w./-]+@[0-9a-f]{40}$/.test(step.uses),
        `${step.uses} is not pinned by a full commit hash`);
      const line = text.split('\n').find((each) => each.includes(`uses: ${step.uses}`));
      check(/ # v\d+(\.\d+)*$/.test(line ?? ''), `${step.uses} has no "# vVERSION" beside it`);
    }
  }
}

function checkWorkflow(text) {
  const workflow = yaml.load(text);
  const on = workflow.on ?? [];
  const given = typeof on === 'string' ? [on] : Array.isArray(on) ? on : Object.keys(on);
  check(events.every((event) => given.includes(event)),
    `it starts on ${given.join(', ')}, not on each of ${events.join(', ')}`);
  check(JSON.stringify(workflow.permissions) === '{"contents":"read"}',
    `its permissions are ${JSON.stringify(workflow.permissions)}, not contents: read`);
  const jobs = workflow.jobs ?? {};
  checkBuildJob(jobs);
  checkWindowsJob(jobs);
  checkSteps(text, jobs);
}

const text = readFileSync(workflowPath, 'utf8');
const { errors } = validateWorkflow(text);
for (const error of errors) {
  problems.push(`workflow schema: ${JSON.stringify(error)}`);
}
if (errors.length === 0) {
  try {
    checkWorkflow(text);
  } catch (error) {
    problems.push(`cannot check it: ${error.message}`);
  }
}
for (const problem of problems) console.error(`${workflowPath}: ${problem}`);
if (problems.length === 0) {
  console.log(`${workflowPath}: valid for the workflow schema, and runs what it must`);
}
process.exitCode = problems.length === 0 ? 0 : 1;
