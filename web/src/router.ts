// A path-based router over the History API: the host answers index.html for every page path,
// so a reload or a link from a mail lands on the same page.
import { useEffect, useState } from 'preact/hooks';

const listeners = new Set<() => void>();

export function navigate(path: string, replace = false): void {
  if (replace) history.replaceState(null, '', path);
  else history.pushState(null, '', path);
  listeners.forEach((listener) => listener());
}

window.addEventListener('popstate', () => listeners.forEach((listener) => listener()));

export function useLocation(): string {
  const [path, setPath] = useState(location.pathname + location.search);
  useEffect(() => {
    const update = () => setPath(location.pathname + location.search);
    listeners.add(update);
    return () => listeners.delete(update);
  }, []);
  return path;
}

// Links inside the pages navigate without a reload; a modified click keeps the browser's way.
export function onLinkClick(event: MouseEvent): void {
  const anchor = (event.target as HTMLElement).closest('a');
  if (!anchor || anchor.target || anchor.origin !== location.origin) return;
  if (event.button !== 0 || event.metaKey || event.ctrlKey || event.shiftKey || event.altKey) return;
  if (anchor.pathname.startsWith('/api/')) return;
  event.preventDefault();
  navigate(anchor.pathname + anchor.search);
}
