// The published FAQ entries, newest first, searchable in title, question, answer and keywords.
import { useState } from 'preact/hooks';
import { call, query } from '../api';
import { useT } from '../i18n';
import { ErrorText, Field, formatDate, Loading, useLoad } from '../ui';

interface FaqEntry {
  FAQ_ID: number;
  FAQ_TITLE: string | null;
  FAQ_QUESTION: string | null;
  FAQ_ANSWER: string | null;
  FAQ_DATE: string | null;
  FAQ_LINK: string | null;
}

export function FaqPage() {
  const t = useT();
  const [search, setSearch] = useState('');
  const [q, setQ] = useState('');
  const list = useLoad(() => call<{ faq: FaqEntry[] }>('/api/v1/faq' + query({ q, limit: 100 })), [q]);
  return (
    <section>
      <h1>{t('faq')}</h1>
      <form class="filters" role="search" onSubmit={(e) => { e.preventDefault(); setQ(search.trim()); }}>
        <Field id="faq-q" label={t('search')}>
          <input id="faq-q" type="search" value={search} onInput={(e) => setSearch(e.currentTarget.value)} />
        </Field>
        <button type="submit">{t('search')}</button>
      </form>
      {list.error ? <ErrorText error={list.error} /> : null}
      {list.loading && !list.data ? <Loading /> : null}
      {list.data && list.data.faq.length === 0 && <p>{t('nothingFound')}</p>}
      <div class="faq">
        {list.data?.faq.map((entry) => (
          <details class="card">
            <summary>
              {entry.FAQ_TITLE} <span class="meta">{formatDate(entry.FAQ_DATE)}</span>
            </summary>
            <h2 class="small">{t('question')}</h2>
            <p class="text">{entry.FAQ_QUESTION}</p>
            <h2 class="small">{t('solution')}</h2>
            <p class="text">{entry.FAQ_ANSWER}</p>
            {entry.FAQ_LINK && (
              <p>
                {t('link')}: <a href={entry.FAQ_LINK} rel="noreferrer" target="_blank">{entry.FAQ_LINK}</a>
              </p>
            )}
          </details>
        ))}
      </div>
    </section>
  );
}
