// Small helpers for the plain JSON values the rack sends and takes.

export function clone(value) {
  return value === undefined ? undefined : JSON.parse(JSON.stringify(value));
}

export function isObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

export function sameJson(left, right) {
  return JSON.stringify(left) === JSON.stringify(right);
}
