// The engineer's queue: his requests, most urgent deadline first, page by page.
import { call, query, type Me } from '../api';
import { useT } from '../i18n';
import type { RequestList } from '../types';
import { ErrorText, Loading, Pager, useLoad, usePager } from '../ui';
import { RequestTable } from './lists';

export function QueuePage({ me }: { me: Me }) {
  const t = useT();
  const pager = usePager();
  const list = useLoad(
    () =>
      call<RequestList>(
        '/api/v1/requests' + query({ engineer: me.login, sort: 'deadline', limit: 20, cursor: pager.cursor }),
      ),
    [pager.cursor],
  );
  return (
    <section>
      <h1>{t('queue')}</h1>
      {list.error ? <ErrorText error={list.error} /> : null}
      {list.loading && !list.data ? <Loading /> : null}
      {list.data && <RequestTable rows={list.data.requests} caption={t('queue')} />}
      <Pager pager={pager} nextCursor={list.data?.next_cursor} />
    </section>
  );
}
