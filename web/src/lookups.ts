// What the "file a request" form offers (GET /api/v1/lookups), fetched once per page load.
import { createContext } from 'preact';
import { call } from './api';

export interface Choice {
  id: number;
  label: string;
}
export interface ProductCategory extends Choice {
  categories: Choice[];
}
export interface Lookups {
  productcats: ProductCategory[];
  products: Choice[];
  priorities: Choice[];
  statuses: Choice[];
}

// The status names (I18NTEXT codes) by status number, empty until the lookups arrived.
export type StatusNames = Map<number, string>;
export const StatusContext = createContext<StatusNames>(new Map());

export function statusNames(found: Lookups): StatusNames {
  return new Map(found.statuses.map((status) => [status.id, status.label]));
}

let cached: Promise<Lookups> | null = null;

export function lookups(): Promise<Lookups> {
  if (!cached) {
    cached = call<Lookups>('/api/v1/lookups');
    cached.catch(() => {
      cached = null;
    });
  }
  return cached;
}
