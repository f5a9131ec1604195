// The table of requests that the staff pages share: number, description, status, the reminder's
// start (waiting since), the deadline (overdue ones marked in words, not by colour alone).
import type { ComponentChildren } from 'preact';
import { useT } from '../i18n';
import type { RequestRow } from '../types';
import { formatDate, parseDate, StatusText } from '../ui';

export function isOverdue(row: RequestRow, now: number): boolean {
  const deadline = parseDate(row.DEADLINE);
  return deadline !== null && deadline < now;
}

export function RequestTable({
  rows,
  caption,
  extraHead,
  extraCells,
  leadHead,
  leadCells,
}: {
  rows: RequestRow[];
  caption: string;
  extraHead?: ComponentChildren;
  extraCells?: (row: RequestRow) => ComponentChildren;
  leadHead?: ComponentChildren;
  leadCells?: (row: RequestRow) => ComponentChildren;
}) {
  const t = useT();
  const now = Date.now();
  if (rows.length === 0) return <p>{t('nothingFound')}</p>;
  return (
    <table class="list">
      <caption class="visually-hidden">{caption}</caption>
      <thead>
        <tr>
          {leadHead}
          <th scope="col">{t('number')}</th>
          <th scope="col">{t('description')}</th>
          <th scope="col">{t('status')}</th>
          <th scope="col">{t('waitingSince')}</th>
          <th scope="col">{t('deadline')}</th>
          {extraHead}
        </tr>
      </thead>
      <tbody>
        {rows.map((row) => {
          const overdue = isOverdue(row, now);
          return (
            <tr class={overdue ? 'overdue' : undefined}>
              {leadCells?.(row)}
              <td data-label={t('number')}>
                <a href={`/requests/${row.Q_ID}`}>{row.Q_ID}</a>
              </td>
              <td data-label={t('description')}>{row.Q_DESC}</td>
              <td data-label={t('status')}>
                <StatusText status={row.Q_STATUS} />
              </td>
              <td data-label={t('waitingSince')}>{formatDate(row.T1_DATE ?? row.REGISTEREDDATE)}</td>
              <td data-label={t('deadline')}>
                {formatDate(row.DEADLINE)}
                {overdue && <span class="badge overdue-badge">{t('overdue')}</span>}
              </td>
              {extraCells?.(row)}
            </tr>
          );
        })}
      </tbody>
    </table>
  );
}
