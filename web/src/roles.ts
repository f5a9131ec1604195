// What the role names of GET /api/v1/me mean for the pages.
import type { Me } from './api';

export function hasRole(me: Me, role: string): boolean {
  return me.roles.includes(role) || me.roles.includes('administrator');
}

export function isEngineer(me: Me): boolean {
  return hasRole(me, 'cce') || hasRole(me, 'sce');
}

export function isStaff(me: Me): boolean {
  return isEngineer(me) || hasRole(me, 'dispatcher') || hasRole(me, 'supervisor');
}

// Each person's own work first: the dispatcher's queue, the supervisor's overview, the
// engineer's queue, a customer's requests.
export function homeOf(me: Me): string {
  if (hasRole(me, 'dispatcher')) return '/dispatch';
  if (hasRole(me, 'supervisor')) return '/supervise';
  if (isEngineer(me)) return '/queue';
  return '/requests';
}

// The centres a staff member works for (1 call centre, 2 support centre).
export function centresOf(me: Me): number[] {
  return me.centres.length > 0 ? me.centres : [1];
}
