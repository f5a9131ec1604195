// Pieces every page uses: the result line of an action, the keyset pager, status text, dates.
import type { ComponentChildren } from 'preact';
import { useContext, useEffect, useState } from 'preact/hooks';
import { ApiError } from './api';
import { StatusContext } from './lookups';
import { useT } from './i18n';

// The words of a failure: the error's description; a cut connection has none and says so.
export function ErrorText({ error }: { error: unknown }) {
  const t = useT();
  let words: string;
  if (error instanceof ApiError) {
    words = error.message || (error.status === 0 ? t('errorNetwork') : String(error.status));
  } else {
    words = error instanceof Error ? error.message : String(error);
  }
  return (
    <p class="message error" role="alert">
      <strong>{t('error')}:</strong> {words}
    </p>
  );
}

export type ActionState =
  | { kind: 'idle' }
  | { kind: 'busy'; step: string }
  | { kind: 'done'; text: string }
  | { kind: 'failed'; error: unknown };

// Runs one action at a time and keeps its state for <ActionResult>. `work` reports its steps
// through `step`; its return value is the success text.
export function useAction() {
  const [state, setState] = useState<ActionState>({ kind: 'idle' });
  const run = async (work: (step: (text: string) => void) => Promise<string>) => {
    if (state.kind === 'busy') return false;
    setState({ kind: 'busy', step: '' });
    try {
      const text = await work((step) => setState({ kind: 'busy', step }));
      setState({ kind: 'done', text });
      return true;
    } catch (error) {
      setState({ kind: 'failed', error });
      return false;
    }
  };
  return { state, run, busy: state.kind === 'busy' };
}

export function ActionResult({ state }: { state: ActionState }) {
  const t = useT();
  return (
    <div aria-live="polite" class="result">
      {state.kind === 'busy' && (
        <p class="message busy" role="status">
          <span class="spinner" aria-hidden="true" /> {state.step || t('working')}
        </p>
      )}
      {state.kind === 'done' && (
        <p class="message ok" role="status">
          {state.text}
        </p>
      )}
      {state.kind === 'failed' && <ErrorText error={state.error} />}
    </div>
  );
}

// A status in words; its number where the lookups name none.
export function useStatusName(): (status: number) => string {
  const t = useT();
  const names = useContext(StatusContext);
  return (status) => t.code(names.get(status)) || String(status);
}

export function StatusText({ status }: { status: number }) {
  const name = useStatusName();
  return <span class={`status status-${status}`}>{name(status)}</span>;
}

// Dates travel as "YYYY-MM-DD hh:mm:ss" (the host's local time); shown without seconds.
export function formatDate(value: string | null | undefined): string {
  if (!value) return '';
  return value.replace('T', ' ').slice(0, 16);
}

// A day ("YYYY-MM-DD", or a date of the form above): the date alone, no time of day.
export function formatDay(value: string | null | undefined): string {
  return formatDate(value).slice(0, 10);
}

// A back-office stamp is "YYYYMMDDhhmmss" and a six-digit sequence: shown like a date. Anything
// else is shown as it came, so a stamp of another form is never hidden.
export function formatStamp(value: string | null | undefined): string {
  const parts = /^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})\d{2}\d*$/.exec(value ?? '');
  if (!parts) return value ?? '';
  const [, year, month, day, hour, minute] = parts;
  return `${year}-${month}-${day} ${hour}:${minute}`;
}

export function parseDate(value: string | null | undefined): number | null {
  if (!value) return null;
  const time = Date.parse(value.replace(' ', 'T'));
  return Number.isNaN(time) ? null : time;
}

// Keyset paging: the cursors of the pages seen so far, so "previous" goes back exactly.
export function usePager() {
  const [cursors, setCursors] = useState<string[]>(['']);
  const current = cursors[cursors.length - 1];
  return {
    cursor: current,
    page: cursors.length,
    next: (cursor: string) => setCursors([...cursors, cursor]),
    previous: () => setCursors(cursors.slice(0, -1)),
    reset: () => setCursors(['']),
  };
}

export function Pager({
  pager,
  nextCursor,
}: {
  pager: ReturnType<typeof usePager>;
  nextCursor: string | null | undefined;
}) {
  const t = useT();
  if (pager.page <= 1 && !nextCursor) return null;
  return (
    <nav class="pager" aria-label={`${t('previousPage')} / ${t('nextPage')}`}>
      <button type="button" disabled={pager.page <= 1} onClick={pager.previous}>
        {t('previousPage')}
      </button>
      <span>{pager.page}</span>
      <button type="button" disabled={!nextCursor} onClick={() => nextCursor && pager.next(nextCursor)}>
        {t('nextPage')}
      </button>
    </nav>
  );
}

export function Field({
  label,
  id,
  children,
}: {
  label: string;
  id: string;
  children: ComponentChildren;
}) {
  return (
    <div class="field">
      <label for={id}>{label}</label>
      {children}
    </div>
  );
}

export function Loading() {
  const t = useT();
  return (
    <p class="message busy" role="status">
      <span class="spinner" aria-hidden="true" /> {t('loading')}
    </p>
  );
}

// Loads what a page shows; reload() after an action. A newer load wins over a slower older one.
export function useLoad<T>(load: () => Promise<T>, deps: unknown[]) {
  const [state, setState] = useState<{ data?: T; error?: unknown; loading: boolean }>({
    loading: true,
  });
  const [generation, setGeneration] = useState(0);
  useEffect(() => {
    let current = true;
    setState((previous) => ({ ...previous, loading: true }));
    load().then(
      (data) => current && setState({ data, loading: false }),
      (error) => current && setState({ error, loading: false }),
    );
    return () => {
      current = false;
    };
  }, [...deps, generation]);
  return { ...state, reload: () => setGeneration((value) => value + 1) };
}
