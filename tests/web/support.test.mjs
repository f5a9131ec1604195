// A request that goes to the support centre: the call-centre engineer hands it on, which opens
// a back-office call; the support-centre dispatcher assigns it on his (German) page; the
// support-centre engineer reads the call in words on the request page.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { capture, fileRequest, launch, one, person, signIn } from './helpers.mjs';

let browser;
before(async () => {
  browser = await launch();
});
after(async () => {
  await browser?.close();
});

// The older back-office generation: its calls have a call type.
const kBackOfficeMk5 = 3;

test('the support-centre engineer sees the back-office call of his request in words', async () => {
  const customer = await person(browser);
  await signIn(customer, 'cust1');
  const id = await fileRequest(customer, 'Printer needs a new fuser unit');
  await customer.context().close();

  // cce1 hands it to the support centre with the printer it is about: the back office opens a
  // call with the partner's contract and the printer's warranty.
  const engineer = await person(browser);
  await signIn(engineer, 'cce1');
  const csrf = await engineer.evaluate(() => localStorage.getItem('heliq.csrf'));
  const handed = await engineer.request.post(
    '/api/v1/HlqServiceRequestMTS.Dispatch/AssignQuestionToSCQueue',
    {
      headers: { 'X-CSRF-Token': csrf },
      data: {
        i_oDictQDetails: {
          Q_ID: id,
          Q_PRODUCTCAT: 1,
          PRODUCTID: 1,
          Q_CATEGORY: 4,
          BP_NUMBER: '1000',
          Q_OBJECT: 'PRN4000',
          Q_OBJECTNR: '1',
          Q_DESC: 'Printer needs a new fuser unit',
          Q_TEXT: 'Printer needs a new fuser unit',
          T_COMMENT: '',
          USERCOMMENT: 'The fuser is burnt; needs a technician on site.',
          TIMESPENT: 10,
        },
        i_lBackend: kBackOfficeMk5,
      },
    },
  );
  assert.equal(handed.status(), 200, await handed.text());
  await engineer.context().close();
  const opened = one(`SELECT CENTER, Q_STATUS, Q_CALL, Q_CALLTYPE, LASTTRANSTIME FROM QUESTIONS WHERE Q_ID = ${id}`);
  assert.equal(opened.CENTER, 2);
  assert.equal(opened.Q_STATUS, 5);
  assert.match(opened.Q_CALL, /^C\d{7}$/);
  assert.match(opened.LASTTRANSTIME, /^\d{20}$/);

  // The support-centre dispatcher assigns it to sce1 on his page, which is in German.
  const dispatcher = await person(browser);
  await signIn(dispatcher, 'dispatch2');
  await dispatcher.getByRole('checkbox', { name: `Anfrage auswählen ${id}` }).check();
  await dispatcher.getByLabel('Techniker', { exact: true }).selectOption('sce1');
  await dispatcher.getByRole('button', { name: 'Ausgewählte Anfragen zuweisen' }).click();
  await dispatcher.getByRole('status').filter({ hasText: `Erledigt: Ausgewählte Anfragen zuweisen ${id}` }).waitFor();
  await dispatcher.context().close();
  const assigned = one(`SELECT CENTER, Q_STATUS, D_DIRECT_TO, Q_CALL, LASTTRANSTIME FROM QUESTIONS WHERE Q_ID = ${id}`);
  // Assigning keeps the call: its number and its stamp, which the next update must bring.
  assert.deepEqual(assigned, {
    CENTER: 2,
    Q_STATUS: 15,
    D_DIRECT_TO: 'sce1',
    Q_CALL: opened.Q_CALL,
    LASTTRANSTIME: opened.LASTTRANSTIME,
  });

  const sce = await person(browser);
  await signIn(sce, 'sce1');
  await sce.getByRole('link', { name: String(id), exact: true }).click();
  await sce.getByRole('heading', { name: 'Back-office call' }).waitFor();
  const detail = one(`SELECT CONTRACTDESC, WARRANTYDESC, WEXPIRYDATE FROM CALLDETAIL WHERE CALLNUMBER = '${opened.Q_CALL}'`);
  const stamp = opened.LASTTRANSTIME;
  const changed = `${stamp.slice(0, 4)}-${stamp.slice(4, 6)}-${stamp.slice(6, 8)} ${stamp.slice(8, 10)}:${stamp.slice(10, 12)}`;
  const facts = await sce.locator('dl.call').evaluate((list) =>
    [...list.querySelectorAll('dt')].map((term) => [term.textContent, term.nextElementSibling?.textContent]),
  );
  assert.deepEqual(facts, [
    ['Call number', opened.Q_CALL],
    ['Call type', 'ZS01'],
    ['Last change of the call', changed],
    ['Contract', 'SC-1000'],
    ['Contract description', detail.CONTRACTDESC],
    ['Warranty', 'WA-1'],
    ['Warranty description', detail.WARRANTYDESC],
    ['Warranty expires', String(detail.WEXPIRYDATE).slice(0, 10)],
  ]);
  assert.match(String(detail.WEXPIRYDATE), /^\d{4}-\d{2}-\d{2}/);
  assert.equal(await sce.getByText(/CALLNUMBER|WEXPIRYDATE|LASTTRANSTIME/).count(), 0);
  await sce.getByRole('button', { name: 'Take in hand' }).waitFor();
  await capture(sce, 'request-support-call');
  await sce.context().close();
});
