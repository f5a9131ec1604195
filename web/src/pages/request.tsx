// One request: its data, history in words, solution, files, back-office call, and the actions
// its state allows the caller. Each action is one operation call; its result shows under the
// buttons and the page reloads the request. What was typed stays in a draft per request until
// the action that used it succeeded.
import { useContext, useState } from 'preact/hooks';
import { ApiError, call, operation, type Me } from '../api';
import { useDraft } from '../draft';
import { TextsContext, translateComment, useT } from '../i18n';
import { logLabel, type LabelKey } from '../labels';
import { hasRole, isEngineer } from '../roles';
import type { BackOfficeCall, RequestDetails } from '../types';
import { uploadFiles } from '../upload';
import {
  ActionResult,
  ErrorText,
  Field,
  formatDate,
  formatDay,
  formatStamp,
  Loading,
  StatusText,
  useAction,
  useLoad,
} from '../ui';

const Q = 'HlqServiceRequestMTS.Question.';

const kRegistered = 5;
const kAssigned = 15;
const kInHand = 25;
const kWaiting = 30;
const kWaitingForCustomer = 35;
const kClarified = 40;
const kAnswered = 150;
const kReopened = 155;
const kConcluded = 160;
const kAccepted = 165;
const kToBePublished = 170;

type Details = RequestDetails['request'];

function attachmentHref(id: number, path: string): string {
  return `/api/v1/requests/${id}/attachments/${path.split('/').map(encodeURIComponent).join('/')}`;
}

export function RequestPage({ me, id }: { me: Me; id: number }) {
  const t = useT();
  const loaded = useLoad(() => call<RequestDetails>(`/api/v1/requests/${id}`), [id]);
  // One action at a time on the page; its result stays in view even when the action archived
  // the request and its buttons went away.
  const action = useAction();

  if (loaded.error instanceof ApiError && loaded.error.status === 404) {
    return (
      <section>
        <h1>{t('notFound')}</h1>
        <p>
          {t('requestNumber')} {id}
        </p>
      </section>
    );
  }
  if (loaded.error) return <ErrorText error={loaded.error} />;
  if (!loaded.data) return <Loading />;
  const details = loaded.data;
  const request = details.request;
  const mine = me.prospect ? request.EMAILID === me.email : request.Q_ORIGINATOR === me.login;
  const engineer =
    isEngineer(me) &&
    (request.D_DIRECT_TO?.toLowerCase() === me.login.toLowerCase() || !request.D_DIRECT_TO);
  const showSolution = details.archived || request.Q_STATUS >= kAnswered || engineer;

  return (
    <section>
      <h1>
        {t('requestNumber')} {request.Q_ID}: {request.Q_DESC}
      </h1>
      <dl class="facts card">
        <dt>{t('status')}</dt>
        <dd>
          <StatusText status={request.Q_STATUS} />
          {details.archived && <span class="badge">{t('archived')}</span>}
        </dd>
        <dt>{t('customer')}</dt>
        <dd>{request.Q_ORIGINATOR || request.EMAILID}</dd>
        <dt>{t('engineer')}</dt>
        <dd>{request.D_DIRECT_TO || t('unassigned')}</dd>
        <dt>{t('centre')}</dt>
        <dd>{request.CENTER === 2 ? t('supportCentre') : t('callCentre')}</dd>
        {request.DEADLINE && (
          <>
            <dt>{t('deadline')}</dt>
            <dd>{formatDate(request.DEADLINE)}</dd>
          </>
        )}
      </dl>
      <h2>{t('text')}</h2>
      <p class="text card">{request.Q_TEXT}</p>
      {showSolution && (request.A_TEXT || request.S_TEXT) && (
        <>
          <h2>{t('solution')}</h2>
          <div class="card solution">
            <p class="text">{request.A_TEXT || request.S_TEXT}</p>
            {(request.A_LINK || request.S_LINK) && (
              <p>
                {t('link')}: <a href={String(request.A_LINK || request.S_LINK)} rel="noreferrer" target="_blank">
                  {request.A_LINK || request.S_LINK}
                </a>
              </p>
            )}
          </div>
        </>
      )}
      {details.call && <CallFacts call={details.call} />}
      {details.attachments.length > 0 && (
        <>
          <h2>{t('attachments')}</h2>
          <ul class="files">
            {details.attachments.map((file) => (
              <li>
                <a href={attachmentHref(id, file.path)} download={file.name}>
                  {file.name}
                </a>{' '}
                ({file.bytes} {t('bytes')})
              </li>
            ))}
          </ul>
        </>
      )}
      {!details.archived && mine && (
        <CustomerActions me={me} request={request} reload={loaded.reload} action={action} />
      )}
      {!details.archived && engineer && (
        <EngineerActions request={request} reload={loaded.reload} action={action} />
      )}
      {!details.archived && hasRole(me, 'dispatcher') && !engineer && (
        <DispatcherActions request={request} reload={loaded.reload} action={action} />
      )}
      <ActionResult state={action.state} />
      <History details={details} />
    </section>
  );
}

// The back-office call in words; what the back office left empty (a call type of the newer
// generation, a call without contract or warranty) is left out.
function CallFacts({ call }: { call: BackOfficeCall }) {
  const t = useT();
  const facts: [LabelKey, string][] = [
    ['callNumber', call.CALLNUMBER],
    ['callType', call.Q_CALLTYPE ?? ''],
    ['serviceOrder', call.SERVICEORDER ?? ''],
    ['callChanged', formatStamp(call.LASTTRANSTIME)],
    ['contract', call.CONTRACT ?? ''],
    ['contractDescription', call.CONTRACTDESC ?? ''],
    ['warranty', call.WARRANTY ?? ''],
    ['warrantyDescription', call.WARRANTYDESC ?? ''],
    ['warrantyExpires', formatDay(call.WEXPIRYDATE)],
  ];
  return (
    <>
      <h2>{t('backOfficeCall')}</h2>
      <dl class="facts card call">
        {facts
          .filter(([, value]) => value.trim() !== '')
          .map(([label, value]) => (
            <>
              <dt>{t(label)}</dt>
              <dd>{value}</dd>
            </>
          ))}
      </dl>
    </>
  );
}

function History({ details }: { details: RequestDetails }) {
  const t = useT();
  const texts = useContext(TextsContext);
  return (
    <>
      <h2>{t('history')}</h2>
      <ol class="history">
        {details.transactions.map((row) => (
          <li>
            <strong>{t.code(logLabel(Number(row.T_STATUS)))}</strong>{' '}
            <span class="meta">
              {formatDate(row.T_DATE)} · {row.T_NAME}
              {row.TIMESPENT ? ` · ${row.TIMESPENT} ${t('minutes')}` : ''}
            </span>
            {row.T_COMMENT && <div>{translateComment(texts, row.T_COMMENT)}</div>}
            {row.USERCOMMENT && <div class="text">{row.USERCOMMENT}</div>}
          </li>
        ))}
      </ol>
    </>
  );
}

interface ActionsProps {
  request: Details;
  reload: () => void;
  action: ReturnType<typeof useAction>;
}

// A button that runs one operation with the request's number and the caller's words.
function useRequestAction({ request, reload, action }: ActionsProps) {
  const t = useT();
  const runOperation = async (
    label: LabelKey,
    name: string,
    details: Record<string, unknown>,
    before?: (step: (text: string) => void) => Promise<void>,
  ) => {
    const ok = await action.run(async (step) => {
      if (before) await before(step);
      step(`${t(label)} …`);
      await operation(Q + name, {
        i_dictDetails: { Q_ID: request.Q_ID, T_COMMENT: '', USERCOMMENT: '', ...details },
      });
      return `${t('done')}: ${t(label)}`;
    });
    if (ok) reload();
    return ok;
  };
  return { runOperation };
}

function CustomerActions({ me, ...props }: ActionsProps & { me: Me }) {
  const { request, action } = props;
  const t = useT();
  const [draft, update, clear] = useDraft(`customer.${request.Q_ID}`, { text: '' });
  const [files, setFiles] = useState<File[]>([]);
  const { runOperation } = useRequestAction(props);
  const status = request.Q_STATUS;
  const upload = async (step: (text: string) => void) => {
    await uploadFiles(request.Q_ID, files, (file) => step(`${t('uploading')} ${file.name}`));
  };
  const then = (ok: boolean) => {
    if (ok) {
      clear();
      setFiles([]);
    }
  };
  const customer = { CENTER: request.CENTER, PROSPECT: me.prospect, EMAILID: request.EMAILID ?? '' };

  return (
    <form class="card actions" onSubmit={(e) => e.preventDefault()} aria-labelledby="customer-actions">
      <h2 id="customer-actions">{t('actions')}</h2>
      <Field id="customer-text" label={status === kWaitingForCustomer ? t('yourAnswer') : t('text')}>
        <textarea id="customer-text" rows={4} value={draft.text} onInput={(e) => update({ text: e.currentTarget.value })} />
      </Field>
      <Field id="customer-files" label={t('attachments')}>
        <input id="customer-files" type="file" multiple onChange={(e) => setFiles(Array.from(e.currentTarget.files ?? []))} />
      </Field>
      <div class="buttons">
        {status === kWaitingForCustomer && (
          <button type="button" class="primary" disabled={action.busy || !draft.text.trim()}
            onClick={async () => then(await runOperation('answerClarification', 'customerClarifySR',
              { ...customer, USERCOMMENT: draft.text }, upload))}>
            {t('answerClarification')}
          </button>
        )}
        <button type="button" disabled={action.busy || !draft.text.trim()}
          onClick={async () => then(await runOperation('addText', 'AddtoQuestion',
            { ...customer, Q_TEXT1: draft.text }, upload))}>
          {t('addText')}
        </button>
        {status === kAnswered && (
          <>
            <button type="button" class="primary" disabled={action.busy}
              onClick={async () => then(await runOperation('accept', 'AcceptQuestion', { USERCOMMENT: draft.text }))}>
              {t('accept')}
            </button>
            <button type="button" disabled={action.busy}
              onClick={async () => then(await runOperation('conclude', 'ConcludeQuestion', { USERCOMMENT: draft.text }))}>
              {t('conclude')}
            </button>
          </>
        )}
        {(status === kAnswered || status === kConcluded || status === kAccepted) && (
          <button type="button" disabled={action.busy || !draft.text.trim()}
            onClick={async () => then(await runOperation('reopen', 'ReopenQuestion',
              { ...customer, Q_TEXT1: draft.text }, upload))}>
            {t('reopen')}
          </button>
        )}
        {status < kAnswered && (
          <button type="button" class="danger" disabled={action.busy}
            onClick={async () => then(await runOperation('cancel', 'customerCancelSR',
              { Q_STATUS: status, CENTER: request.CENTER, USERCOMMENT: draft.text }))}>
            {t('cancel')}
          </button>
        )}
      </div>
    </form>
  );
}

function EngineerActions(props: ActionsProps) {
  const { request, action } = props;
  const t = useT();
  const [draft, update, clear] = useDraft(`engineer.${request.Q_ID}`, {
    comment: '',
    solution: request.S_TEXT ?? '',
    link: request.S_LINK ?? '',
    minutes: '',
    publishFor: '0',
  });
  const { runOperation } = useRequestAction(props);
  const status = request.Q_STATUS;
  const working = status === kInHand || status === kClarified;
  const minutes = Number(draft.minutes) || 0;
  const classification = {
    Q_PRODUCTCAT: request.Q_PRODUCTCAT ?? 0,
    Q_CATEGORY: request.Q_CATEGORY ?? 0,
    PRODUCTID: request.PRODUCTID ?? request.Q_PRODUCTCAT ?? 0,
  };
  const step = async (label: LabelKey, name: string, details: Record<string, unknown>) => {
    if (await runOperation(label, name, details)) clear();
  };

  return (
    <form class="card actions" onSubmit={(e) => e.preventDefault()} aria-labelledby="engineer-actions">
      <h2 id="engineer-actions">{t('actions')}</h2>
      {[kRegistered, kAssigned, kClarified, kReopened].includes(status) && (
        <div class="buttons">
          <button type="button" class="primary" disabled={action.busy}
            onClick={() => step('takeInHand', 'TakeInHand', {})}>
            {t('takeInHand')}
          </button>
        </div>
      )}
      {(working || status === kWaiting) && (
        <>
          <Field id="engineer-comment" label={t('comment')}>
            <textarea id="engineer-comment" rows={3} value={draft.comment} onInput={(e) => update({ comment: e.currentTarget.value })} />
          </Field>
          <Field id="engineer-solution" label={t('solution')}>
            <textarea id="engineer-solution" rows={5} value={draft.solution} onInput={(e) => update({ solution: e.currentTarget.value })} />
          </Field>
          <div class="row">
            <Field id="engineer-link" label={t('link')}>
              <input id="engineer-link" type="url" value={draft.link} onInput={(e) => update({ link: e.currentTarget.value })} />
            </Field>
            <Field id="engineer-minutes" label={`${t('timeSpent')} (${t('minutes')})`}>
              <input id="engineer-minutes" type="number" min="0" step="1" inputMode="numeric" value={draft.minutes}
                onInput={(e) => update({ minutes: e.currentTarget.value })} />
            </Field>
          </div>
        </>
      )}
      <div class="buttons">
        {status === kWaiting && (
          <button type="button" class="primary" disabled={action.busy}
            onClick={() => step('resume', 'ClarifyQuestion', { USERCOMMENT: draft.comment, TIMESPENT: minutes })}>
            {t('resume')}
          </button>
        )}
        {working && (
          <>
            <button type="button" disabled={action.busy}
              onClick={() => runOperation('saveWork', 'SaveQuestion', {
                ...classification, S_TEXT: draft.solution, S_LINK: draft.link, TIMESPENT: minutes,
                USERCOMMENT: draft.comment,
              }).then((ok) => ok && update({ comment: '', minutes: '' }))}>
              {t('saveWork')}
            </button>
            <button type="button" disabled={action.busy}
              onClick={() => step('waitInternal', 'SetToWaiting', { WAITINGTYPE: 0, USERCOMMENT: draft.comment, TIMESPENT: minutes })}>
              {t('waitInternal')}
            </button>
            <button type="button" disabled={action.busy || !draft.comment.trim()}
              onClick={() => step('askCustomer', 'SetToWaiting', { WAITINGTYPE: 1, USERCOMMENT: draft.comment, TIMESPENT: minutes })}>
              {t('askCustomer')}
            </button>
            <button type="button" class="primary" disabled={action.busy || !draft.solution.trim()}
              onClick={() => step('answer', 'AnswerQuestion', {
                ...classification, S_TEXT: draft.solution, S_LINK: draft.link, A_TEXT: draft.solution,
                A_LINK: draft.link, TIMESPENT: minutes, USERCOMMENT: draft.comment,
              })}>
              {t('answer')}
            </button>
          </>
        )}
        {(status === kConcluded || status === kAccepted) && (
          <>
            <button type="button" class="primary" disabled={action.busy} onClick={() => step('close', 'CloseQuestion', {})}>
              {t('close')}
            </button>
            <button type="button" disabled={action.busy}
              onClick={() => step('toPublish', 'SetToToPublish', { ...classification, A_LINK: request.A_LINK ?? '' })}>
              {t('toPublish')}
            </button>
          </>
        )}
      </div>
      {status === kToBePublished && (
        <div class="row">
          <Field id="engineer-publish-for" label={t('publishFor')}>
            <select id="engineer-publish-for" value={draft.publishFor} onChange={(e) => update({ publishFor: e.currentTarget.value })}>
              <option value="0">{t('publishForAll')}</option>
              <option value="1">{t('publishForStaff')}</option>
            </select>
          </Field>
          <div class="buttons">
            <button type="button" class="primary" disabled={action.busy}
              onClick={() => step('publish', 'PublishQuestion', {
                Q_PRODUCTCAT: classification.Q_PRODUCTCAT, Q_CATEGORY: classification.Q_CATEGORY,
                P_PUBLISH_FOR: Number(draft.publishFor), Q_DESC: request.Q_DESC ?? '',
                Q_TEXT: request.Q_TEXT ?? '', A_TEXT: request.A_TEXT || request.S_TEXT || '',
                A_LINK: request.A_LINK ?? '',
              })}>
              {t('publish')}
            </button>
          </div>
        </div>
      )}
      {status < kAnswered && (
        <div class="buttons">
          <button type="button" class="danger" disabled={action.busy}
            onClick={() => step('cancel', 'CancelQuestion', { TIMESPENT: minutes, USERCOMMENT: draft.comment })}>
            {t('cancel')}
          </button>
        </div>
      )}
    </form>
  );
}

function DispatcherActions(props: ActionsProps) {
  const { request, action } = props;
  const t = useT();
  const { runOperation } = useRequestAction(props);
  const status = request.Q_STATUS;
  return (
    <div class="card actions">
      <h2>{t('actions')}</h2>
      <div class="buttons">
        {status === kRegistered && <a class="button" href={`/dispatch?request=${request.Q_ID}`}>{t('rankedList')}</a>}
        {(status === kConcluded || status === kAccepted) && (
          <button type="button" class="primary" disabled={action.busy} onClick={() => runOperation('close', 'CloseQuestion', {})}>
            {t('close')}
          </button>
        )}
        {status < kAnswered && (
          <button type="button" class="danger" disabled={action.busy} onClick={() => runOperation('cancel', 'CancelQuestion', {})}>
            {t('cancel')}
          </button>
        )}
      </div>
    </div>
  );
}
