// Sign-in: registered users and staff with login and password, prospects with their e-mail
// address and PIN. The password never goes into a draft.
import { useState } from 'preact/hooks';
import { signIn, type Me } from '../api';
import { useDraft } from '../draft';
import { useT } from '../i18n';
import { ActionResult, Field, useAction } from '../ui';

export function SignInPage({ expired, onSignedIn }: { expired: boolean; onSignedIn: (me: Me) => void }) {
  const t = useT();
  const [draft, update] = useDraft('signin', { login: '', email: '', prospect: false });
  const [secret, setSecret] = useState('');
  const action = useAction();

  const submit = async (event: Event) => {
    event.preventDefault();
    let me: Me | null = null;
    await action.run(async (step) => {
      step(t('signingIn'));
      me = await signIn(
        draft.prospect ? { email: draft.email, pin: secret } : { login: draft.login, password: secret },
      );
      return t('done');
    });
    if (me) onSignedIn(me);
  };

  return (
    <section class="narrow">
      <h1>{t('signIn')}</h1>
      {expired && (
        <p class="message warn" role="alert">
          {t('sessionEnded')}
        </p>
      )}
      <form onSubmit={submit} class="card">
        {draft.prospect ? (
          <>
            <Field id="signin-email" label={t('email')}>
              <input id="signin-email" type="email" autoComplete="email" required value={draft.email}
                onInput={(e) => update({ email: e.currentTarget.value })} />
            </Field>
            <Field id="signin-pin" label={t('pin')}>
              <input id="signin-pin" type="password" inputMode="numeric" autoComplete="one-time-code"
                required value={secret} onInput={(e) => setSecret(e.currentTarget.value)} />
            </Field>
          </>
        ) : (
          <>
            <Field id="signin-login" label={t('login')}>
              <input id="signin-login" autoComplete="username" required value={draft.login}
                onInput={(e) => update({ login: e.currentTarget.value })} />
            </Field>
            <Field id="signin-password" label={t('password')}>
              <input id="signin-password" type="password" autoComplete="current-password" required
                value={secret} onInput={(e) => setSecret(e.currentTarget.value)} />
            </Field>
          </>
        )}
        <div class="buttons">
          <button type="submit" class="primary" disabled={action.busy}>
            {t('signIn')}
          </button>
          <button type="button" class="link" onClick={() => { setSecret(''); update({ prospect: !draft.prospect }); }}>
            {draft.prospect ? t('asUser') : t('asProspect')}
          </button>
        </div>
        <ActionResult state={action.state.kind === 'done' ? { kind: 'idle' } : action.state} />
      </form>
    </section>
  );
}
