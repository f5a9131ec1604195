// A prospect, known only by his e-mail address: made by the prospect operation, which keeps his
// PIN in his row; he signs in with address and PIN, sees his own requests and not another's.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { capture, fileRequest, launch, one, person } from './helpers.mjs';

let browser;
before(async () => {
  browser = await launch();
});
after(async () => {
  await browser?.close();
});

// A new prospect through the operation (a call without credentials counts as the API token's,
// as a front office would make him) and the PIN it gave him.
async function newProspect(page, email) {
  const made = await page.request.post('/api/v1/HlqServiceRequestMTS.Prospect/CreateNewProspect', {
    data: { i_sEmailID: email, i_sContactInfo: 'web test', i_sPendingQuestions: '' },
  });
  assert.equal(made.status(), 200, await made.text());
  return String(one(`SELECT PIN FROM PROSPECT WHERE EMAILID = '${email}'`).PIN);
}

async function signInProspect(page, email, pin, shot) {
  await page.goto('/signin');
  await page.getByRole('button', { name: 'Sign in with e-mail address and PIN' }).click();
  await page.getByLabel('E-mail address').fill(email);
  await page.getByLabel('PIN').fill(pin);
  if (shot) await capture(page, shot);
  await page.getByRole('button', { name: 'Sign in', exact: true }).click();
  await page.waitForURL((url) => !url.pathname.startsWith('/signin'));
}

test('a prospect signs in with e-mail and PIN, works on his request and cannot open another', async () => {
  const other = await person(browser);
  const otherPin = await newProspect(other, 'ben.prospect@example.com');
  await signInProspect(other, 'ben.prospect@example.com', otherPin);
  const othersId = await fileRequest(other, 'Ben asks about prices');
  await other.context().close();

  const page = await person(browser);
  const pin = await newProspect(page, 'anna.prospect@example.com');
  assert.match(pin, /^\d{4,5}$/);
  await signInProspect(page, 'anna.prospect@example.com', pin, 'signin-prospect');
  const me = await (await page.request.get('/api/v1/me')).json();
  assert.deepEqual([me.prospect, me.email], [true, 'anna.prospect@example.com']);
  const id = await fileRequest(page, 'Anna asks about delivery times');
  assert.deepEqual(
    one(`SELECT EMAILID, Q_STATUS FROM QUESTIONS WHERE Q_ID = ${id}`),
    { EMAILID: 'anna.prospect@example.com', Q_STATUS: 5 },
  );

  await page.goto('/requests');
  await page.getByRole('heading', { name: 'My requests' }).waitFor();
  await page.getByRole('link', { name: String(id), exact: true }).waitFor();
  assert.equal(await page.getByRole('link', { name: String(othersId), exact: true }).count(), 0);
  await capture(page, 'my-requests-prospect');

  await page.getByRole('link', { name: String(id), exact: true }).click();
  await page.getByRole('heading', { name: `Request no. ${id}: Anna asks about delivery times` }).waitFor();
  await page.getByLabel('Text').fill('Delivery to Hamburg, please.');
  await page.getByRole('button', { name: 'Add text' }).click();
  await page.getByRole('status').filter({ hasText: 'Done: Add text' }).waitFor();
  assert.equal(
    one(`SELECT T_NAME FROM TRANSACTIONS WHERE Q_ID = ${id} AND T_STATUS = '10'`).T_NAME,
    'anna.prospect@example.com',
  );
  await capture(page, 'request-prospect');

  // Another's request reads as unknown, and an action on it is refused with nothing written.
  const logged = one(`SELECT COUNT(*) AS n FROM TRANSACTIONS WHERE Q_ID = ${othersId}`).n;
  await page.goto(`/requests/${othersId}`);
  await page.getByRole('heading', { name: 'Request not found' }).waitFor();
  assert.doesNotMatch(await page.locator('main').textContent(), /Ben asks about prices/);
  assert.equal((await page.request.get(`/api/v1/requests/${othersId}`)).status(), 404);
  const csrf = await page.evaluate(() => localStorage.getItem('heliq.csrf'));
  const refused = await page.request.post('/api/v1/HlqServiceRequestMTS.Question/AddtoQuestion', {
    headers: { 'X-CSRF-Token': csrf },
    data: { i_dictDetails: { Q_ID: othersId, Q_TEXT1: 'Not mine', T_COMMENT: '', USERCOMMENT: '' } },
  });
  assert.equal(refused.status(), 403);
  assert.equal(one(`SELECT COUNT(*) AS n FROM TRANSACTIONS WHERE Q_ID = ${othersId}`).n, logged);
  assert.doesNotMatch(one(`SELECT Q_TEXT FROM QUESTIONS WHERE Q_ID = ${othersId}`).Q_TEXT, /Not mine/);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});
