// Form state kept in sessionStorage under a key: what the user typed survives a failed call, a
// session that ended (sign-in and back) and a reload of the tab. clear() after success.
import { useState } from 'preact/hooks';

export function useDraft<T extends object>(key: string, initial: T) {
  const storageKey = `heliq.draft.${key}`;
  const [value, setValue] = useState<T>(() => {
    const stored = sessionStorage.getItem(storageKey);
    if (!stored) return initial;
    try {
      return { ...initial, ...(JSON.parse(stored) as Partial<T>) };
    } catch {
      return initial;
    }
  });
  const update = (change: Partial<T>) => {
    setValue((previous) => {
      const next = { ...previous, ...change };
      sessionStorage.setItem(storageKey, JSON.stringify(next));
      return next;
    });
  };
  const clear = () => {
    sessionStorage.removeItem(storageKey);
    setValue(initial);
  };
  return [value, update, clear] as const;
}
