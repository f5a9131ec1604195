// The supervisor's overview of his centre, read only: counts by status, the engineers' queue
// sizes and experience, and the overdue requests with when the escalation last mailed about each.
import { useState } from 'preact/hooks';
import { call, query, type Me } from '../api';
import { useT } from '../i18n';
import { centresOf } from '../roles';
import type { RequestList } from '../types';
import { ErrorText, Field, formatDate, Loading, Pager, useLoad, usePager, useStatusName } from '../ui';
import { centreEngineers } from './dispatch';
import { RequestTable } from './lists';

export function SupervisePage({ me }: { me: Me }) {
  const t = useT();
  const statusName = useStatusName();
  const centres = centresOf(me);
  const [centre, setCentre] = useState(centres[0]);
  const pager = usePager();
  const counts = useLoad(
    () => call<{ counts: Record<string, number> }>('/api/v1/requests/counts' + query({ centre })),
    [centre],
  );
  const engineers = useLoad(() => centreEngineers(centre), [centre]);
  const overdue = useLoad(
    () =>
      call<RequestList>(
        '/api/v1/requests' + query({ centre, overdue: 1, sort: 'deadline', limit: 20, cursor: pager.cursor }),
      ),
    [centre, pager.cursor],
  );

  return (
    <section>
      <h1>{t('supervise')}</h1>
      {centres.length > 1 && (
        <Field id="supervise-centre" label={t('centre')}>
          <select id="supervise-centre" value={String(centre)}
            onChange={(e) => { pager.reset(); setCentre(Number(e.currentTarget.value)); }}>
            {centres.map((c) => (
              <option value={String(c)}>{c === 2 ? t('supportCentre') : t('callCentre')}</option>
            ))}
          </select>
        </Field>
      )}
      <div class="columns">
        <div>
          <h2>{t('counts')}</h2>
          {counts.error ? <ErrorText error={counts.error} /> : null}
          {counts.data && (
            <table class="list compact">
              <caption class="visually-hidden">{t('counts')}</caption>
              <thead>
                <tr>
                  <th scope="col">{t('status')}</th>
                  <th scope="col" class="number">{t('number')}</th>
                </tr>
              </thead>
              <tbody>
                {Object.entries(counts.data.counts).map(([status, count]) => (
                  <tr>
                    <td>{statusName(Number(status))}</td>
                    <td class="number">{count}</td>
                  </tr>
                ))}
              </tbody>
            </table>
          )}
        </div>
        <div>
          <h2>{t('engineers')}</h2>
          {engineers.error ? <ErrorText error={engineers.error} /> : null}
          {engineers.data && (
            <table class="list compact">
              <caption class="visually-hidden">{t('engineers')}</caption>
              <thead>
                <tr>
                  <th scope="col">{t('engineer')}</th>
                  <th scope="col" class="number">{t('queueSize')}</th>
                  <th scope="col" class="number">{t('experience')}</th>
                </tr>
              </thead>
              <tbody>
                {engineers.data.map((engineer) => (
                  <tr>
                    <td>{[engineer.FirstName, engineer.LastName].filter(Boolean).join(' ') || engineer.Login}</td>
                    <td class="number">{engineer.QUEUESIZE ?? 0}</td>
                    <td class="number">{engineer.EXPERIENCE ?? 0}</td>
                  </tr>
                ))}
              </tbody>
            </table>
          )}
        </div>
      </div>
      <h2>{t('overdueRequests')}</h2>
      {overdue.error ? <ErrorText error={overdue.error} /> : null}
      {overdue.loading && !overdue.data ? <Loading /> : null}
      {overdue.data && (
        <RequestTable
          rows={overdue.data.requests}
          caption={t('overdueRequests')}
          extraHead={
            <>
              <th scope="col">{t('engineer')}</th>
              <th scope="col">{t('escalated')}</th>
            </>
          }
          extraCells={(row) => (
            <>
              <td data-label={t('engineer')}>{row.D_DIRECT_TO || t('unassigned')}</td>
              <td data-label={t('escalated')}>{row.ESCALATED ? formatDate(row.ESCALATED) : t('never')}</td>
            </>
          )}
        />
      )}
      <Pager pager={pager} nextCursor={overdue.data?.next_cursor} />
    </section>
  );
}
