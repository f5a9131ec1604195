// The whole road of one request walked by three people in three browser contexts, checking
// each screen and the rows behind it; a customer who tries another's request by its address.
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

const attachment = {
  name: 'printer-log.txt',
  mimeType: 'text/plain',
  buffer: Buffer.from('E-204 paper jam at tray 2\n'),
};

// Reloads the request page and waits for the status the previous step led to.
async function expectStatus(page, text) {
  await page.reload();
  await page.locator('.facts .status').filter({ hasText: text }).waitFor();
}

async function done(page, action) {
  await page.getByRole('status').filter({ hasText: `Done: ${action}` }).waitFor();
}

test('a request from filing to the archive, by customer, dispatcher and engineer', async () => {
  const customer = await person(browser);
  const dispatcher = await person(browser);
  const engineer = await person(browser);

  // The customer files a request with a file; each person lands on his own work.
  await signIn(customer, 'cust1');
  assert.equal(new URL(customer.url()).pathname, '/requests');
  await customer.getByRole('link', { name: 'File a request' }).click();
  await customer.getByLabel('Short description').fill('Printer jams on every page');
  await customer.getByLabel('Text').fill('The printer on the second floor jams on every page since Monday.');
  await customer.getByLabel('Product category').selectOption('1');
  await customer.getByLabel('Category', { exact: true }).selectOption('1');
  await customer.getByLabel('Attachments').setInputFiles(attachment);
  await capture(customer, 'new-request');
  await customer.getByRole('button', { name: 'File the request' }).click();
  await customer.waitForURL(/\/requests\/\d+$/);
  const id = requestIdOf(customer);
  await customer.locator('.facts .status').filter({ hasText: 'Registered' }).waitFor();
  const link = customer.getByRole('link', { name: attachment.name });
  await link.waitFor();
  let row = one(`SELECT Q_STATUS, Q_ORIGINATOR, Q_PRODUCTCAT, Q_CATEGORY FROM QUESTIONS WHERE Q_ID = ${id}`);
  assert.deepEqual(row, { Q_STATUS: 5, Q_ORIGINATOR: 'cust1', Q_PRODUCTCAT: 1, Q_CATEGORY: 1 });
  // Registering moved the file from incoming/ into the folder of its log row; the link says where.
  const file = await customer.request.get(await link.getAttribute('href'));
  assert.equal(file.status(), 200);
  assert.equal(await file.text(), attachment.buffer.toString());
  await capture(customer, 'request-customer-filed');

  // His list shows it with its status; the filters narrow it down.
  await customer.getByRole('link', { name: 'My requests' }).click();
  const listed = customer.getByRole('row').filter({ has: customer.getByRole('link', { name: String(id), exact: true }) });
  await listed.getByText('Registered').waitFor();
  await customer.getByLabel('Status').selectOption({ label: 'Registered' });
  await listed.waitFor();
  await capture(customer, 'my-requests');
  await customer.getByLabel('Search').fill('zebra crossing');
  await customer.getByRole('button', { name: 'Filter' }).click();
  await customer.getByText('Nothing found.').waitFor();
  await customer.goto(`/requests/${id}`);

  // The dispatcher sees it waiting and assigns it from the ranked list.
  await signIn(dispatcher, 'dispatch1');
  assert.equal(new URL(dispatcher.url()).pathname, '/dispatch');
  await dispatcher.getByRole('link', { name: String(id), exact: true }).waitFor();
  await capture(dispatcher, 'dispatch');
  await dispatcher.getByRole('button', { name: `Engineers ${id}` }).click();
  const ranked = dispatcher.locator('form.ranked');
  await ranked.getByRole('radio', { name: /cce1/ }).waitFor();
  await capture(dispatcher, 'dispatch-ranked-list');
  await ranked.getByRole('radio', { name: /cce1/ }).check();
  await ranked.getByRole('button', { name: 'Assign' }).click();
  await dispatcher.locator('form.ranked').waitFor({ state: 'detached' });
  await dispatcher.getByRole('link', { name: String(id), exact: true }).waitFor({ state: 'detached' });
  row = one(`SELECT Q_STATUS, D_DIRECT_TO FROM QUESTIONS WHERE Q_ID = ${id}`);
  assert.deepEqual(row, { Q_STATUS: 15, D_DIRECT_TO: 'cce1' });

  // The engineer finds it in his queue, takes it in hand and asks the customer.
  await signIn(engineer, 'cce1');
  assert.equal(new URL(engineer.url()).pathname, '/queue');
  await engineer.getByRole('link', { name: String(id), exact: true }).waitFor();
  await capture(engineer, 'queue');
  await engineer.getByRole('link', { name: String(id), exact: true }).click();
  await engineer.getByRole('button', { name: 'Take in hand' }).click();
  await done(engineer, 'Take in hand');
  await engineer.locator('.facts .status').filter({ hasText: 'In hand' }).waitFor();
  assert.equal(one(`SELECT Q_STATUS FROM QUESTIONS WHERE Q_ID = ${id}`).Q_STATUS, 25);
  await engineer.getByLabel('Comment or question to the customer').fill('Which tray do you print from?');
  await engineer.getByLabel('Time spent (minutes)').fill('5');
  await capture(engineer, 'request-engineer');
  await engineer.getByRole('button', { name: 'Ask the customer' }).click();
  await done(engineer, 'Ask the customer');
  await engineer.locator('.facts .status').filter({ hasText: 'Waiting' }).waitFor();
  row = one(`SELECT Q_STATUS, TOTALTIMESPENT FROM QUESTIONS WHERE Q_ID = ${id}`);
  assert.deepEqual(row, { Q_STATUS: 35, TOTALTIMESPENT: 5 });

  // The customer reads the question and answers it.
  await expectStatus(customer, 'Waiting for customer');
  await customer.getByText('Which tray do you print from?').waitFor();
  await customer.getByLabel('Your answer').fill('From tray 2, the one for letterheads.');
  await capture(customer, 'request-customer-asked');
  await customer.getByRole('button', { name: 'Send the answer' }).click();
  await done(customer, 'Send the answer');
  await customer.locator('.facts .status').filter({ hasText: 'Clarified' }).waitFor();
  assert.equal(one(`SELECT Q_STATUS FROM QUESTIONS WHERE Q_ID = ${id}`).Q_STATUS, 40);
  assert.equal(
    one(`SELECT T_NAME, USERCOMMENT FROM TRANSACTIONS WHERE Q_ID = ${id} AND T_STATUS = '50'`).USERCOMMENT,
    'From tray 2, the one for letterheads.',
  );

  // The engineer answers with a solution and a link.
  await expectStatus(engineer, 'Clarified');
  await engineer.getByText('From tray 2, the one for letterheads.').waitFor();
  await engineer.getByLabel('Solution').fill('Tray 2 needs its guide set to the letterhead width.');
  await engineer.getByLabel('Link').fill('https://support.example.com/tray-guides');
  await engineer.getByLabel('Time spent (minutes)').fill('10');
  await engineer.getByRole('button', { name: 'Answer' }).click();
  await done(engineer, 'Answer');
  row = one(`SELECT Q_STATUS, A_TEXT, TOTALTIMESPENT FROM QUESTIONS WHERE Q_ID = ${id}`);
  assert.deepEqual(row, {
    Q_STATUS: 150,
    A_TEXT: 'Tray 2 needs its guide set to the letterhead width.',
    TOTALTIMESPENT: 15,
  });

  // The customer sees the solution and accepts it; the engineer closes it into the archive.
  await expectStatus(customer, 'Answered');
  await customer.getByText('Tray 2 needs its guide set to the letterhead width.').waitFor();
  await customer.getByRole('link', { name: 'https://support.example.com/tray-guides' }).waitFor();
  await capture(customer, 'request-customer-answered');
  await customer.getByRole('button', { name: 'Accept the answer' }).click();
  await done(customer, 'Accept the answer');
  assert.equal(one(`SELECT Q_STATUS FROM QUESTIONS WHERE Q_ID = ${id}`).Q_STATUS, 165);

  await expectStatus(engineer, 'Accepted');
  await engineer.getByRole('button', { name: 'Close' }).click();
  await done(engineer, 'Close');
  await engineer.locator('.facts').getByText('Archived').waitFor();
  assert.deepEqual(rows(`SELECT Q_ID FROM QUESTIONS WHERE Q_ID = ${id}`), []);
  assert.equal(one(`SELECT Q_STATUS FROM QUESTIONHISTORY WHERE Q_ID = ${id}`).Q_STATUS, 180);

  // The customer's page tells the whole history in words, in order.
  await customer.reload();
  await customer.locator('.facts').getByText('Archived').waitFor();
  const steps = await customer.locator('.history li strong').allTextContents();
  assert.deepEqual(steps, [
    'Filed and registered',
    'Assigned to an engineer',
    'Taken in hand',
    'Question to the customer',
    'Customer answered',
    'Answered',
    'Answer accepted',
    'Closed',
  ]);
  assert.deepEqual(
    rows(`SELECT T_STATUS, T_NAME FROM TRANSACTIONS WHERE Q_ID = ${id} ORDER BY T_ID`).map(
      (t) => `${t.T_STATUS} ${t.T_NAME}`,
    ),
    ['5 cust1', '15 dispatch1', '25 cce1', '35 cce1', '50 cust1', '150 cce1', '165 cust1', '180 cce1'],
  );
  await capture(customer, 'request-archived');
  for (const page of [customer, dispatcher, engineer]) await page.context().close();
});

test("another customer's request by its address shows not found and writes nothing", async () => {
  const owner = await person(browser);
  await signIn(owner, 'cust1');
  const id = one("SELECT MAX(Q_ID) AS id FROM QUESTIONHISTORY WHERE Q_ORIGINATOR = 'cust1'").id;
  assert.ok(id, 'the road test left an archived request of cust1');
  await owner.goto(`/requests/${id}`);
  await owner.locator('.facts').waitFor();
  await owner.context().close();

  const before = rows(`SELECT COUNT(*) AS n FROM TRANSACTIONS WHERE Q_ID = ${id}`);
  const other = await person(browser);
  await signIn(other, 'cust2');
  await other.goto(`/requests/${id}`);
  await other.getByRole('heading', { name: 'Request not found' }).waitFor();
  assert.equal(await other.getByRole('button', { name: /Accept|Reopen|Add text/ }).count(), 0);
  await capture(other, 'request-not-found');
  assert.deepEqual(rows(`SELECT COUNT(*) AS n FROM TRANSACTIONS WHERE Q_ID = ${id}`), before);
  await other.context().close();
});
