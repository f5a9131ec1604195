// Shared pieces of the browser tests: Debian's chromium through playwright-core, sign-in, the
// demo database read with the sqlite3 command, the axe-core scan and the screenshots.
//
// The runner (run.sh) starts heliqd on a demo installation and passes:
//   HELIQ_WEB_URL   the host's address, e.g. http://127.0.0.1:18931
//   HELIQ_WEB_DB    the demo installation's SQLite system database
//   HELIQ_WEB_SHOTS the folder the screenshots go to (docs/web of the checkout)
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';

const require = createRequire(import.meta.url);
const axeSource = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

export const baseUrl = process.env.HELIQ_WEB_URL ?? 'http://127.0.0.1:8080';
const database = process.env.HELIQ_WEB_DB;
const shots = process.env.HELIQ_WEB_SHOTS;
export const password = 'heliq-demo';

export const desktop = { width: 1280, height: 860 };
export const phone = { width: 390, height: 844 };

export async function launch() {
  return chromium.launch({
    executablePath: process.env.HELIQ_CHROMIUM ?? '/usr/bin/chromium',
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
}

// A new browser context (own cookies and storage) with a page that fails the test on any
// script error of the pages or anything their security policy refused.
export async function person(browser) {
  const context = await browser.newContext({ baseURL: baseUrl, viewport: desktop, locale: 'en-US' });
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(String(error)));
  // A resource the page's Content-Security-Policy refused is a fault of the pages too.
  page.on('console', (message) => {
    if (message.type() === 'error' && /Content Security Policy/i.test(message.text())) {
      page.errors.push(message.text());
    }
  });
  return page;
}

export async function signIn(page, login) {
  await page.goto('/signin');
  await page.getByLabel('Login').fill(login);
  await page.getByLabel('Password').fill(password);
  await page.getByRole('button', { name: 'Sign in', exact: true }).click();
  await page.waitForURL((url) => !url.pathname.startsWith('/signin'));
}

// Rows of a query on the demo database, as objects. Values are inlined by the test itself
// (numbers it read from the pages), never from outside.
export function rows(sql) {
  assert.ok(database, 'HELIQ_WEB_DB names the demo database');
  const out = execFileSync('sqlite3', ['-json', database, sql], { encoding: 'utf8' });
  return out.trim() ? JSON.parse(out) : [];
}

export function one(sql) {
  const found = rows(sql);
  assert.equal(found.length, 1, `one row for ${sql}, got ${JSON.stringify(found)}`);
  return found[0];
}

// No serious or critical accessibility violation on the page as it is now.
export async function scan(page, name) {
  // Evaluated by the debugger protocol, not as a page script: the pages' policy allows no inline
  // script, and the scan must not need one.
  await page.evaluate(axeSource);
  const result = await page.evaluate(async () => {
    // eslint-disable-next-line no-undef
    const answer = await axe.run(document, { resultTypes: ['violations'] });
    return answer.violations.map((v) => ({
      id: v.id,
      impact: v.impact,
      help: v.help,
      nodes: v.nodes.map((n) => n.target.join(' ')).slice(0, 3),
    }));
  });
  const bad = result.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  assert.deepEqual(bad, [], `accessibility of ${name}`);
}

// The page at desktop and phone width into <shots>/<name>-desktop.png and -phone.png, each
// after an axe scan at that width.
export async function capture(page, name) {
  for (const [width, size] of [['desktop', desktop], ['phone', phone]]) {
    await page.setViewportSize(size);
    await page.evaluate(() => document.fonts.ready);
    await scan(page, `${name} (${width})`);
    if (shots) {
      mkdirSync(shots, { recursive: true });
      await page.screenshot({ path: `${shots}/${name}-${width}.png`, fullPage: true, animations: 'disabled' });
    }
  }
  await page.setViewportSize(desktop);
  assert.deepEqual(page.errors, [], `script errors on ${name}`);
}

// The number in a "/requests/<n>" address.
export function requestIdOf(page) {
  const match = /\/requests\/(\d+)$/.exec(new URL(page.url()).pathname);
  assert.ok(match, `a request page, not ${page.url()}`);
  return Number(match[1]);
}

// Files and registers a request through the API with the signed-in customer's own session (the
// cookie and the CSRF token the pages keep), as the "file a request" page does; its number.
export async function fileRequest(page, description) {
  const csrf = await page.evaluate(() => localStorage.getItem('heliq.csrf'));
  const headers = { 'X-CSRF-Token': csrf };
  const fields = {
    CENTER: 1,
    Q_DESC: description,
    Q_TEXT: description,
    Q_PRODUCTCAT: 1,
    PRODUCTID: 1,
    Q_CATEGORY: 1,
  };
  const made = await page.request.post('/api/v1/requests', { data: fields, headers });
  assert.equal(made.status(), 201);
  const { Q_ID } = await made.json();
  const registered = await page.request.post(
    '/api/v1/HlqServiceRequestMTS.Question/RegisterQuestion',
    { data: { i_dictDetails: { Q_ID, ...fields } }, headers },
  );
  assert.equal(registered.status(), 200);
  return Q_ID;
}
