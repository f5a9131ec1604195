// The dispatcher's page: the centre's requests waiting for dispatch (most urgent first); each
// one dispatched automatically by the rules, or assigned by hand from its ranked engineer list;
// several at once to one engineer.
import { useState } from 'preact/hooks';
import { call, operation, query, type Me } from '../api';
import { useT } from '../i18n';
import { centresOf } from '../roles';
import type { RequestDetails, RequestList, RequestRow } from '../types';
import { ActionResult, ErrorText, Field, Loading, Pager, useAction, useLoad, usePager } from '../ui';
import { RequestTable } from './lists';

const D = 'HlqServiceRequestMTS.Dispatch.';
const kRegistered = 5;
const kSupportCentre = 2;

export interface CentreEngineer {
  Login: string;
  FirstName: string | null;
  LastName: string | null;
  QUEUESIZE: number | null;
  EXPERIENCE: number | null;
  Language: string | number | null;
}

interface RankedEngineer {
  Login: string;
  Sequence: number;
  FirstName: string | null;
  LastName: string | null;
  Language: string | number | null;
}

export function centreEngineers(centre: number) {
  return call<{ engineers: CentreEngineer[] }>(`/api/v1/centres/${centre}/engineers`).then(
    (answer) => answer.engineers,
  );
}

function fullName(engineer: { FirstName: string | null; LastName: string | null; Login: string }) {
  const name = [engineer.FirstName, engineer.LastName].filter(Boolean).join(' ');
  return name ? `${name} (${engineer.Login})` : engineer.Login;
}

async function assign(row: RequestRow, engineer: string) {
  const details = {
    Q_ID: row.Q_ID,
    D_DIRECT_TO: engineer,
    Q_PRODUCTCAT: row.Q_PRODUCTCAT ?? 0,
    PRODUCTID: row.PRODUCTID ?? row.Q_PRODUCTCAT ?? 0,
    Q_CATEGORY: row.Q_CATEGORY ?? 0,
    T_COMMENT: '',
    USERCOMMENT: '',
  };
  if (row.CENTER !== kSupportCentre) {
    return operation(D + 'assignQuestiontoCCE', { i_odictDetails: details });
  }
  // The assignment writes the stamp it brings onto the request, and the next update of the call
  // must bring the call's current one: without it the request would lose its stamp. List rows do
  // not carry it, so it comes from the request itself.
  const { call: backOffice } = await call<RequestDetails>(`/api/v1/requests/${row.Q_ID}`);
  const stamp = backOffice?.LASTTRANSTIME ? { LASTTRANSTIME: backOffice.LASTTRANSTIME } : {};
  // A hand-picked engineer opens no call, so the back-office generation is not used.
  return operation(D + 'assignQuestiontoSCE', {
    i_odictDetails: { ...details, ...stamp },
    i_oDictCallDetails: {},
    i_lBackend: 0,
    o_sError: '',
  });
}

function dispatchAutomatically(row: RequestRow, locale: number) {
  return operation(D + (row.CENTER === kSupportCentre ? 'DispatchAHDS' : 'DispatchHDS'), {
    i_sPCategory: String(row.Q_PRODUCTCAT ?? ''),
    i_sQCategory: String(row.Q_CATEGORY ?? ''),
    i_sUserId: row.Q_ORIGINATOR ?? '',
    i_lQID: row.Q_ID,
    i_sText: row.Q_DESC ?? '',
    i_bAutomatic: true,
    i_lLoginLocale: locale,
  });
}

export function DispatchPage({ me }: { me: Me }) {
  const t = useT();
  const centres = centresOf(me);
  const [centre, setCentre] = useState(centres[0]);
  const pager = usePager();
  const [selected, setSelected] = useState<number[]>([]);
  const [ranked, setRanked] = useState<number | null>(
    Number(new URLSearchParams(location.search).get('request')) || null,
  );
  const [bulkEngineer, setBulkEngineer] = useState('');
  const action = useAction();
  const list = useLoad(
    () =>
      call<RequestList>(
        '/api/v1/requests' +
          query({ status: kRegistered, centre, sort: 'deadline', limit: 20, cursor: pager.cursor }),
      ),
    [centre, pager.cursor],
  );
  const engineers = useLoad(() => centreEngineers(centre), [centre]);
  const rows = list.data?.requests ?? [];
  const chosen = rows.filter((row) => selected.includes(row.Q_ID));

  // One call per request, so a failure names the request it stopped at and leaves the rest.
  const forEach = (work: (row: RequestRow) => Promise<unknown>, label: string) =>
    action
      .run(async (step) => {
        for (const [index, row] of chosen.entries()) {
          step(`${label}: ${row.Q_ID} (${index + 1}/${chosen.length})`);
          await work(row);
        }
        return `${t('done')}: ${label} ${chosen.map((row) => row.Q_ID).join(', ')}`;
      })
      .then(() => {
        setSelected([]);
        list.reload();
      });

  const toggle = (id: number, on: boolean) =>
    setSelected(on ? [...selected, id] : selected.filter((other) => other !== id));

  return (
    <section>
      <h1>{t('dispatch')}</h1>
      {centres.length > 1 && (
        <Field id="dispatch-centre" label={t('centre')}>
          <select id="dispatch-centre" value={String(centre)}
            onChange={(e) => { pager.reset(); setSelected([]); setCentre(Number(e.currentTarget.value)); }}>
            {centres.map((c) => (
              <option value={String(c)}>{c === kSupportCentre ? t('supportCentre') : t('callCentre')}</option>
            ))}
          </select>
        </Field>
      )}
      {list.error ? <ErrorText error={list.error} /> : null}
      {list.loading && !list.data ? <Loading /> : null}
      {list.data && (
        <RequestTable
          rows={rows}
          caption={t('dispatch')}
          leadHead={<th scope="col">{t('select')}</th>}
          leadCells={(row) => (
            <td data-label={t('select')}>
              <input type="checkbox" aria-label={`${t('selectRequest')} ${row.Q_ID}`}
                checked={selected.includes(row.Q_ID)} onChange={(e) => toggle(row.Q_ID, e.currentTarget.checked)} />
            </td>
          )}
          extraHead={<th scope="col">{t('actions')}</th>}
          extraCells={(row) => (
            <td data-label={t('actions')}>
              <button type="button" aria-expanded={ranked === row.Q_ID}
                onClick={() => setRanked(ranked === row.Q_ID ? null : row.Q_ID)}>
                {t('rankedList')} {row.Q_ID}
              </button>
            </td>
          )}
        />
      )}
      <Pager pager={pager} nextCursor={list.data?.next_cursor} />
      <div class="card bulk">
        <div class="buttons">
          <button type="button" class="primary" disabled={action.busy || chosen.length === 0}
            onClick={() => forEach((row) => dispatchAutomatically(row, me.locale), t('dispatchAuto'))}>
            {t('dispatchAuto')}
          </button>
        </div>
        <div class="row">
          <Field id="bulk-engineer" label={t('engineer')}>
            <select id="bulk-engineer" value={bulkEngineer} onChange={(e) => setBulkEngineer(e.currentTarget.value)}>
              <option value="">{t('choose')}</option>
              {engineers.data?.map((engineer) => (
                <option value={engineer.Login}>{fullName(engineer)}</option>
              ))}
            </select>
          </Field>
          <div class="buttons">
            <button type="button" disabled={action.busy || chosen.length === 0 || !bulkEngineer}
              onClick={() => forEach((row) => assign(row, bulkEngineer), t('assignSelected'))}>
              {t('assignSelected')}
            </button>
          </div>
        </div>
        <ActionResult state={action.state} />
      </div>
      {ranked !== null && (
        <RankedList
          request={rows.find((row) => row.Q_ID === ranked)}
          id={ranked}
          centre={centre}
          engineers={engineers.data ?? []}
          onAssigned={() => { setRanked(null); list.reload(); }}
        />
      )}
    </section>
  );
}

function RankedList({
  request,
  id,
  centre,
  engineers,
  onAssigned,
}: {
  request: RequestRow | undefined;
  id: number;
  centre: number;
  engineers: CentreEngineer[];
  onAssigned: () => void;
}) {
  const t = useT();
  const [choice, setChoice] = useState('');
  const action = useAction();
  const ranking = useLoad(
    () => call<{ engineers: RankedEngineer[] }>('/api/v1/engineers' + query({ request: id, centre })),
    [id, centre],
  );
  const byLogin = new Map(engineers.map((engineer) => [engineer.Login.toLowerCase(), engineer]));

  const submit = async (event: Event) => {
    event.preventDefault();
    if (!request || !choice) return;
    const ok = await action.run(async (step) => {
      step(`${t('assign')} ${id} → ${choice}`);
      await assign(request, choice);
      return `${t('done')}: ${t('assign')} ${id} → ${choice}`;
    });
    if (ok) onAssigned();
  };

  return (
    <form class="card ranked" onSubmit={submit} aria-labelledby="ranked-title">
      <h2 id="ranked-title">
        {t('rankedList')}: {t('requestNumber')} {id}
      </h2>
      {ranking.error ? <ErrorText error={ranking.error} /> : null}
      {ranking.loading && !ranking.data ? <Loading /> : null}
      {ranking.data && ranking.data.engineers.length === 0 && <p>{t('nothingFound')}</p>}
      {ranking.data && ranking.data.engineers.length > 0 && (
        <table class="list">
          <caption class="visually-hidden">{t('rankedList')}</caption>
          <thead>
            <tr>
              <th scope="col">{t('select')}</th>
              <th scope="col">{t('score')}</th>
              <th scope="col">{t('engineer')}</th>
              <th scope="col">{t('queueSize')}</th>
              <th scope="col">{t('experience')}</th>
              <th scope="col">{t('language')}</th>
            </tr>
          </thead>
          <tbody>
            {ranking.data.engineers.map((engineer) => {
              const more = byLogin.get(engineer.Login.toLowerCase());
              return (
                <tr>
                  <td data-label={t('select')}>
                    <input type="radio" name="ranked-engineer" value={engineer.Login}
                      aria-label={fullName(engineer)} checked={choice === engineer.Login}
                      onChange={() => setChoice(engineer.Login)} />
                  </td>
                  <td data-label={t('score')}>{engineer.Sequence}</td>
                  <td data-label={t('engineer')}>{fullName(engineer)}</td>
                  <td data-label={t('queueSize')}>{more?.QUEUESIZE ?? ''}</td>
                  <td data-label={t('experience')}>{more?.EXPERIENCE ?? ''}</td>
                  <td data-label={t('language')}>{engineer.Language ?? more?.Language ?? ''}</td>
                </tr>
              );
            })}
          </tbody>
        </table>
      )}
      <div class="buttons">
        <button type="submit" class="primary" disabled={action.busy || !choice || !request}>
          {t('assign')}
        </button>
      </div>
      <ActionResult state={action.state} />
    </form>
  );
}
