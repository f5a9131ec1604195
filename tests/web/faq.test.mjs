// The road to the FAQ: a request dispatched automatically, answered, accepted, marked and
// published; the entry is then found by the FAQ page's search.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { capture, launch, one, person, requestIdOf, rows, signIn } from './helpers.mjs';

let browser;
before(async () => {
  browser = await launch();
});
after(async () => {
  await browser?.close();
});

async function done(page, action) {
  await page.getByRole('status').filter({ hasText: `Done: ${action}` }).waitFor();
}

test('an answered request published to the FAQ and found by its search', async () => {
  const customer = await person(browser);
  const dispatcher = await person(browser);
  const engineer = await person(browser);
  const title = 'Toner streaks on the quarterly reports';

  await signIn(customer, 'cust1');
  await customer.goto('/new');
  await customer.getByLabel('Short description').fill(title);
  await customer.getByLabel('Text').fill('Grey toner streaks run down every printed page.');
  await customer.getByLabel('Product category').selectOption('1');
  await customer.getByLabel('Category', { exact: true }).selectOption('1');
  await customer.getByRole('button', { name: 'File the request' }).click();
  await customer.waitForURL(/\/requests\/\d+$/);
  const id = requestIdOf(customer);

  // Automatic dispatch: the demo rules hand printer requests of partner 1000 to cce1.
  await signIn(dispatcher, 'dispatch1');
  await dispatcher.getByRole('checkbox', { name: `Select request ${id}` }).check();
  await dispatcher.getByRole('button', { name: 'Dispatch automatically' }).click();
  await done(dispatcher, 'Dispatch automatically');
  assert.deepEqual(one(`SELECT Q_STATUS, D_DIRECT_TO FROM QUESTIONS WHERE Q_ID = ${id}`), {
    Q_STATUS: 15,
    D_DIRECT_TO: 'cce1',
  });

  await signIn(engineer, 'cce1');
  await engineer.goto(`/requests/${id}`);
  await engineer.getByRole('button', { name: 'Take in hand' }).click();
  await done(engineer, 'Take in hand');
  await engineer.getByLabel('Solution').fill('Replace the toner cartridge; the drum wiper is worn.');
  await engineer.getByRole('button', { name: 'Answer' }).click();
  await done(engineer, 'Answer');

  await customer.reload();
  await customer.getByRole('button', { name: 'Accept the answer' }).click();
  await done(customer, 'Accept the answer');

  await engineer.reload();
  await engineer.getByRole('button', { name: 'Mark for the FAQ' }).click();
  await done(engineer, 'Mark for the FAQ');
  assert.equal(one(`SELECT Q_STATUS FROM QUESTIONS WHERE Q_ID = ${id}`).Q_STATUS, 170);
  await engineer.getByLabel('Published for').selectOption('0');
  await engineer.getByRole('button', { name: 'Publish to the FAQ' }).click();
  await done(engineer, 'Publish to the FAQ');
  await engineer.locator('.facts').getByText('Archived').waitFor();
  assert.equal(one(`SELECT Q_STATUS FROM QUESTIONHISTORY WHERE Q_ID = ${id}`).Q_STATUS, 175);
  const entry = one(`SELECT FAQ_TITLE, FAQ_ANSWER FROM FAQLIST WHERE FAQ_TITLE = '${title}'`);
  assert.equal(entry.FAQ_ANSWER, 'Replace the toner cartridge; the drum wiper is worn.');

  // Anybody signed in finds it; a search that matches nothing says so.
  await customer.getByRole('link', { name: 'FAQ' }).click();
  await customer.getByLabel('Search').fill('drum wiper');
  await customer.getByRole('button', { name: 'Search' }).click();
  await customer.getByText(title).click();
  await customer.getByText('Replace the toner cartridge; the drum wiper is worn.').waitFor();
  await capture(customer, 'faq');
  await customer.getByLabel('Search').fill('no entry has this zebra word');
  await customer.getByRole('button', { name: 'Search' }).click();
  await customer.getByText('Nothing found.').waitFor();
  assert.equal(rows(`SELECT FAQ_ID FROM FAQLIST WHERE FAQ_TITLE = '${title}'`).length, 1);
  for (const page of [customer, dispatcher, engineer]) await page.context().close();
});
