// The texts of one language, loaded once per sign-in from GET /api/v1/texts, and the hook the
// pages translate with. A code without text shows as itself.
import { createContext } from 'preact';
import { useContext } from 'preact/hooks';
import { call } from './api';
import { L, type LabelKey } from './labels';

export type Texts = Record<string, string>;

export const TextsContext = createContext<Texts>({});

export async function loadTexts(locale: number): Promise<Texts> {
  const answer = await call<{ texts: Texts }>(`/api/v1/texts?locale=${locale}`);
  return answer.texts;
}

export interface Translate {
  (key: LabelKey): string;
  code: (code: string | null | undefined) => string;
}

export function useT(): Translate {
  const texts = useContext(TextsContext);
  const code = (value: string | null | undefined): string => {
    if (!value) return '';
    return texts[value] ?? value;
  };
  const t = ((key: LabelKey) => code(L[key])) as Translate;
  t.code = code;
  return t;
}

// A log comment may be a code ("HQLBL3554"), a code followed by a value ("HQLBL3554 cce1"), or
// free text; each code in it is replaced by its text.
export function translateComment(texts: Texts, comment: string | null | undefined): string {
  if (!comment) return '';
  return comment.replace(/HQLBL\d+/g, (code) => texts[code] ?? code);
}
