// What the "file a request" form offers (GET /api/v1/lookups), fetched once per page load.
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
