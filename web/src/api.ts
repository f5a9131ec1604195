// The pages' only way to the server: the public HTTP API of heliqd, same origin.
//
// The session travels in the HttpOnly cookie heliq_session; every call but a read must repeat
// the session's CSRF token (from the sign-in answer) in X-CSRF-Token. The token is kept in
// localStorage so that a reload or a second tab can still act; it is worthless without the
// cookie, which scripts cannot read.
//
// Every failure becomes an ApiError carrying the error's number and its description in words.
// A 401 on any call but the sign-in itself means the session ended: listeners registered with
// onSessionEnded learn it, and the pages send the user to sign-in (their drafts stay stored).

const kCsrfKey = 'heliq.csrf';

export interface Me {
  login: string;
  display_name: string;
  roles: string[];
  centres: number[];
  locale: number;
  email: string;
  prospect: boolean;
}

export class ApiError extends Error {
  readonly status: number;
  readonly number: number;
  constructor(status: number, number: number, description: string) {
    super(description);
    this.status = status;
    this.number = number;
  }
}

type Listener = () => void;
const sessionEndedListeners = new Set<Listener>();

// Calls `listener` whenever a call answers 401; returns the function that removes it.
export function onSessionEnded(listener: Listener): () => void {
  sessionEndedListeners.add(listener);
  return () => sessionEndedListeners.delete(listener);
}

export function forgetCsrf(): void {
  localStorage.removeItem(kCsrfKey);
}

// An operation's description is its composed report ("\r\nMETHOD: <source> caught: why"): the
// user reads only the why of the innermost report, without the source names.
export function plainDescription(description: string): string {
  const lines = description
    .split(/\r?\n/)
    .map((line) => line.trim())
    .filter((line) => line.length > 0);
  const last = lines.length > 0 ? lines[lines.length - 1] : '';
  const caught = last.lastIndexOf(' caught: ');
  const why = caught >= 0 ? last.slice(caught + ' caught: '.length) : last;
  return why.replace(/^METHOD:\s*/, '').trim();
}

async function errorOf(response: Response): Promise<ApiError> {
  let number = 0;
  let description = '';
  try {
    const body = await response.json();
    number = Number(body?.error?.number ?? 0);
    description = String(body?.error?.description ?? '');
  } catch {
    // Not JSON (a proxy's page, a cut connection): the status line is all there is.
  }
  return new ApiError(response.status, number, plainDescription(description) || response.statusText);
}

interface CallOptions {
  method?: string;
  body?: unknown;
  raw?: Blob;
  signIn?: boolean;
}

export async function call<T>(path: string, options: CallOptions = {}): Promise<T> {
  const method = options.method ?? (options.body === undefined && !options.raw ? 'GET' : 'POST');
  const headers: Record<string, string> = { Accept: 'application/json' };
  const csrf = localStorage.getItem(kCsrfKey);
  if (method !== 'GET' && csrf) headers['X-CSRF-Token'] = csrf;
  let body: BodyInit | undefined;
  if (options.raw) {
    body = options.raw;
    headers['Content-Type'] = 'application/octet-stream';
  } else if (options.body !== undefined) {
    body = JSON.stringify(options.body);
    headers['Content-Type'] = 'application/json';
  }
  let response: Response;
  try {
    response = await fetch(path, { method, headers, body, credentials: 'same-origin' });
  } catch {
    throw new ApiError(0, 0, '');
  }
  if (!response.ok) {
    const error = await errorOf(response);
    if (response.status === 401 && !options.signIn) {
      forgetCsrf();
      sessionEndedListeners.forEach((listener) => listener());
    }
    throw error;
  }
  if (response.status === 204) return undefined as T;
  return (await response.json()) as T;
}

// Runs one public operation: POST /api/v1/<class>/<operation> with named arguments.
export function operation<T = unknown>(
  name: string,
  args: Record<string, unknown>,
): Promise<{ result: T; byref: Record<string, unknown> }> {
  const dot = name.lastIndexOf('.');
  return call(`/api/v1/${name.slice(0, dot)}/${name.slice(dot + 1)}`, { body: args });
}

export async function signIn(credentials: Record<string, string>): Promise<Me> {
  const answer = await call<{ csrf: string }>('/api/v1/session', {
    body: credentials,
    signIn: true,
  });
  localStorage.setItem(kCsrfKey, answer.csrf);
  return call<Me>('/api/v1/me');
}

export async function signOut(): Promise<void> {
  try {
    await call('/api/v1/session', { method: 'DELETE', signIn: true });
  } finally {
    forgetCsrf();
  }
}

// The signed-in person, or null when the cookie holds no live session.
export async function whoAmI(): Promise<Me | null> {
  try {
    const me = await call<Me>('/api/v1/me', { signIn: true });
    // Without a token configured, a call without a session counts as the API token's: that is
    // nobody signed in, for the pages.
    if (!me.login || me.roles.includes('api-token')) return null;
    return localStorage.getItem(kCsrfKey) ? me : null;
  } catch (error) {
    if (error instanceof ApiError && error.status === 401) return null;
    throw error;
  }
}

export function query(params: Record<string, string | number | undefined | null>): string {
  const search = new URLSearchParams();
  for (const [key, value] of Object.entries(params)) {
    if (value !== undefined && value !== null && value !== '') search.set(key, String(value));
  }
  const text = search.toString();
  return text ? `?${text}` : '';
}
