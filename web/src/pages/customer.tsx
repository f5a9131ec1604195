// The customer's pages: file a request, and the list of his requests.
import { useContext, useState } from 'preact/hooks';
import { call, operation, query, type Me } from '../api';
import { useDraft } from '../draft';
import { useT } from '../i18n';
import { lookups, StatusContext } from '../lookups';
import { navigate } from '../router';
import type { RequestList } from '../types';
import { uploadFiles } from '../upload';
import {
  ActionResult,
  ErrorText,
  Field,
  formatDate,
  Loading,
  Pager,
  StatusText,
  useAction,
  useLoad,
  usePager,
  useStatusName,
} from '../ui';

const kCallCentre = 1;
// Published (175), closed and cancelled requests are archived: no active list holds them.
const kFirstArchived = 175;

// Filing is three calls: the request's row (status 0), its files, its registration. The draft
// remembers the row once made, so a retry after a failure goes on from there and never leaves
// a second row behind.
export function NewRequestPage({ me }: { me: Me }) {
  const t = useT();
  const [draft, update, clear] = useDraft('new', {
    desc: '',
    text: '',
    productcat: '',
    category: '',
    qid: 0,
    uploaded: [] as string[],
  });
  const [files, setFiles] = useState<File[]>([]);
  const choices = useLoad(lookups, []);
  const action = useAction();
  const productcat = choices.data?.productcats.find((p) => String(p.id) === draft.productcat);

  const submit = async (event: Event) => {
    event.preventDefault();
    let filed = 0;
    await action.run(async (step) => {
      const fields = {
        CENTER: kCallCentre,
        Q_DESC: draft.desc,
        Q_TEXT: draft.text,
        Q_PRODUCTCAT: Number(draft.productcat),
        PRODUCTID: Number(draft.productcat),
        Q_CATEGORY: Number(draft.category),
      };
      let qid = draft.qid;
      if (!qid) {
        step(t('creating'));
        qid = (await call<{ Q_ID: number }>('/api/v1/requests', { body: fields })).Q_ID;
        update({ qid });
      }
      const uploaded = [...draft.uploaded];
      await uploadFiles(
        qid,
        files.filter((file) => !uploaded.includes(file.name)),
        (file) => step(`${t('uploading')} ${file.name}`),
        (file) => {
          uploaded.push(file.name);
          update({ uploaded: [...uploaded] });
        },
      );
      step(t('registering'));
      await operation('HlqServiceRequestMTS.Question.RegisterQuestion', {
        i_dictDetails: { Q_ID: qid, ...fields, Q_ORIGINATOR: me.login },
      });
      filed = qid;
      return `${t('filed')} ${qid}`;
    });
    if (filed) {
      clear();
      setFiles([]);
      navigate(`/requests/${filed}`);
    }
  };

  return (
    <section class="narrow">
      <h1>{t('newRequest')}</h1>
      {choices.error ? <ErrorText error={choices.error} /> : null}
      <form class="card" onSubmit={submit}>
        <Field id="new-desc" label={t('description')}>
          <input id="new-desc" required maxLength={250} value={draft.desc}
            onInput={(e) => update({ desc: e.currentTarget.value })} />
        </Field>
        <Field id="new-text" label={t('text')}>
          <textarea id="new-text" required rows={6} value={draft.text}
            onInput={(e) => update({ text: e.currentTarget.value })} />
        </Field>
        <div class="row">
          <Field id="new-productcat" label={t('productCategory')}>
            <select id="new-productcat" required value={draft.productcat}
              onChange={(e) => update({ productcat: e.currentTarget.value, category: '' })}>
              <option value="">{t('choose')}</option>
              {choices.data?.productcats.map((p) => (
                <option value={String(p.id)}>{t.code(p.label)}</option>
              ))}
            </select>
          </Field>
          <Field id="new-category" label={t('category')}>
            <select id="new-category" required value={draft.category}
              onChange={(e) => update({ category: e.currentTarget.value })}>
              <option value="">{t('choose')}</option>
              {productcat?.categories.map((c) => (
                <option value={String(c.id)}>{t.code(c.label)}</option>
              ))}
            </select>
          </Field>
        </div>
        <Field id="new-files" label={t('attachments')}>
          <input id="new-files" type="file" multiple disabled={action.busy}
            onChange={(e) => setFiles(Array.from(e.currentTarget.files ?? []))} />
        </Field>
        {draft.uploaded.length > 0 && (
          <p class="hint">
            {t('attachments')}: {draft.uploaded.join(', ')}
          </p>
        )}
        <div class="buttons">
          <button type="submit" class="primary" disabled={action.busy}>
            {t('submit')}
          </button>
        </div>
        <ActionResult state={action.state} />
      </form>
    </section>
  );
}

export function MyRequestsPage({ me }: { me: Me }) {
  const t = useT();
  const statusName = useStatusName();
  const names = useContext(StatusContext);
  const [status, setStatus] = useState('');
  const [search, setSearch] = useState('');
  const [q, setQ] = useState('');
  const pager = usePager();
  const list = useLoad(
    () =>
      call<RequestList>(
        '/api/v1/requests' +
          (me.prospect
            ? query({ email: me.email })
            : query({ originator: me.login, status, q, sort: '-changed', limit: 20, cursor: pager.cursor })),
      ),
    [status, q, pager.cursor],
  );

  const applyFilter = (event: Event) => {
    event.preventDefault();
    pager.reset();
    setQ(search.trim().length >= 3 ? search.trim() : '');
  };

  return (
    <section>
      <h1>{t('myRequests')}</h1>
      {!me.prospect && (
        <form class="filters" onSubmit={applyFilter} role="search">
          <Field id="mine-status" label={t('status')}>
            <select id="mine-status" value={status} onChange={(e) => { pager.reset(); setStatus(e.currentTarget.value); }}>
              <option value="">{t('allStatuses')}</option>
              {[...names.keys()].filter((s) => s > 0 && s < kFirstArchived).map((s) => (
                <option value={String(s)}>{statusName(s)}</option>
              ))}
            </select>
          </Field>
          <Field id="mine-q" label={t('search')}>
            <input id="mine-q" type="search" minLength={3} value={search} onInput={(e) => setSearch(e.currentTarget.value)} />
          </Field>
          <button type="submit">{t('filter')}</button>
        </form>
      )}
      {list.error ? <ErrorText error={list.error} /> : null}
      {list.loading && !list.data ? <Loading /> : null}
      {list.data && list.data.requests.length === 0 && <p>{t('nothingFound')}</p>}
      {list.data && list.data.requests.length > 0 && (
        <table class="list">
          <thead>
            <tr>
              <th scope="col">{t('number')}</th>
              <th scope="col">{t('description')}</th>
              <th scope="col">{t('status')}</th>
              <th scope="col">{t('lastChange')}</th>
            </tr>
          </thead>
          <tbody>
            {list.data.requests.map((row) => (
              <tr>
                <td data-label={t('number')}>
                  <a href={`/requests/${row.Q_ID}`}>{row.Q_ID}</a>
                </td>
                <td data-label={t('description')}>{row.Q_DESC}</td>
                <td data-label={t('status')}>
                  <StatusText status={row.Q_STATUS} />
                </td>
                <td data-label={t('lastChange')}>{formatDate(row.LASTCHANGE)}</td>
              </tr>
            ))}
          </tbody>
        </table>
      )}
      {!me.prospect && <Pager pager={pager} nextCursor={list.data?.next_cursor} />}
    </section>
  );
}
