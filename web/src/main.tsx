// The application shell: who is signed in, his language's texts, the menu of his roles and the
// page of the current path. A session that ends sends him to sign-in with the path to come back
// to; the forms keep their drafts meanwhile.
import { render } from 'preact';
import { useEffect, useState } from 'preact/hooks';
import { onSessionEnded, signOut, whoAmI, type Me } from './api';
import { loadTexts, TextsContext, useT, type Texts } from './i18n';
import { navigate, onLinkClick, useLocation } from './router';
import { ErrorText, Loading } from './ui';
import { SignInPage } from './pages/signin';
import { NewRequestPage, MyRequestsPage } from './pages/customer';
import { RequestPage } from './pages/request';
import { QueuePage } from './pages/queue';
import { DispatchPage } from './pages/dispatch';
import { SupervisePage } from './pages/supervise';
import { FaqPage } from './pages/faq';
import { homeOf, isStaff, hasRole } from './roles';
import { L } from './labels';
import { lookups, StatusContext, statusNames, type StatusNames } from './lookups';
import './style.css';

function localeOfBrowser(): number {
  return navigator.language.toLowerCase().startsWith('de') ? 1031 : 1033;
}

function Menu({ me, onSignOut }: { me: Me; onSignOut: () => void }) {
  const t = useT();
  const path = useLocation();
  const item = (href: string, label: string) => (
    <li>
      <a href={href} aria-current={path.split('?')[0] === href ? 'page' : undefined}>
        {label}
      </a>
    </li>
  );
  return (
    <header class="top">
      <a class="brand" href="/">
        {t('appName')}
      </a>
      <nav aria-label={t('mainMenu')}>
        <ul>
          {!isStaff(me) && item('/new', t('newRequest'))}
          {!isStaff(me) && item('/requests', t('myRequests'))}
          {(hasRole(me, 'cce') || hasRole(me, 'sce')) && item('/queue', t('queue'))}
          {hasRole(me, 'dispatcher') && item('/dispatch', t('dispatch'))}
          {hasRole(me, 'supervisor') && item('/supervise', t('supervise'))}
          {item('/faq', t('faq'))}
        </ul>
      </nav>
      <div class="who">
        <span>
          {t('signedInAs')} {me.display_name || me.login}
        </span>
        <button type="button" onClick={onSignOut}>
          {t('signOut')}
        </button>
      </div>
    </header>
  );
}

function Page({ me, path }: { me: Me; path: string }) {
  const t = useT();
  const route = path.split('?')[0];
  const request = /^\/requests\/(\d+)$/.exec(route);
  if (request) return <RequestPage me={me} id={Number(request[1])} />;
  switch (route) {
    case '/new':
      return <NewRequestPage me={me} />;
    case '/requests':
      return <MyRequestsPage me={me} />;
    case '/queue':
      return <QueuePage me={me} />;
    case '/dispatch':
      return <DispatchPage me={me} />;
    case '/supervise':
      return <SupervisePage me={me} />;
    case '/faq':
      return <FaqPage />;
    default:
      return (
        <section>
          <h1>{t('pageNotFound')}</h1>
        </section>
      );
  }
}

function App() {
  const path = useLocation();
  const [me, setMe] = useState<Me | null | undefined>(undefined);
  const [texts, setTexts] = useState<Texts>({});
  const [statuses, setStatuses] = useState<StatusNames>(new Map());
  const [failure, setFailure] = useState<unknown>(null);
  const [expired, setExpired] = useState(false);

  const applyLocale = (locale: number) =>
    loadTexts(locale).then(setTexts, () => undefined);

  useEffect(() => {
    whoAmI().then(
      (who) => {
        setMe(who);
        applyLocale(who ? who.locale : localeOfBrowser());
      },
      (error) => setFailure(error),
    );
    return onSessionEnded(() => {
      setMe(null);
      setExpired(true);
    });
  }, []);

  const route = path.split('?')[0];
  useEffect(() => {
    if (me === null && route !== '/signin') {
      navigate(`/signin?next=${encodeURIComponent(path)}`, true);
    } else if (me && (route === '/' || route === '/signin')) {
      const next = new URLSearchParams(location.search).get('next');
      navigate(next && next.startsWith('/') && !next.startsWith('//') ? next : homeOf(me), true);
    }
  }, [me, path]);

  useEffect(() => {
    if (me) lookups().then((found) => setStatuses(statusNames(found)), () => undefined);
  }, [me]);

  useEffect(() => {
    document.documentElement.lang = me?.locale === 1031 ? 'de' : 'en';
  }, [me]);

  const signedIn = (who: Me) => {
    setExpired(false);
    setMe(who);
    applyLocale(who.locale);
  };
  const leave = async () => {
    try {
      await signOut();
    } finally {
      Object.keys(sessionStorage)
        .filter((key) => key.startsWith('heliq.draft.'))
        .forEach((key) => sessionStorage.removeItem(key));
      setExpired(false);
      setMe(null);
    }
  };

  let body;
  if (failure) body = <ErrorText error={failure} />;
  else if (me === undefined) body = <Loading />;
  else if (me === null || route === '/signin') body = <SignInPage expired={expired} onSignedIn={signedIn} />;
  else body = <Page me={me} path={path} />;

  return (
    <TextsContext.Provider value={texts}>
      <StatusContext.Provider value={statuses}>
        <div onClick={onLinkClick}>
          <SkipLink />
          {me ? (
            <Menu me={me} onSignOut={leave} />
          ) : (
            <header class="top">
              <span class="brand">{texts[L.appName] ?? L.appName}</span>
            </header>
          )}
          <main id="main" tabIndex={-1}>
            {body}
          </main>
        </div>
      </StatusContext.Provider>
    </TextsContext.Provider>
  );
}

function SkipLink() {
  const t = useT();
  return (
    <a class="skip" href="#main" onClick={(event) => {
      event.preventDefault();
      document.getElementById('main')?.focus();
    }}>
      {t('skip')}
    </a>
  );
}

render(<App />, document.getElementById('app')!);
