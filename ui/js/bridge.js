// The one way the page reaches the native side: one request, exactly one reply, never a push.
// In WebView2 the envelope goes through window.chrome.webview; elsewhere it is POSTed to the
// loopback stand-in at the relative URL "bridge", so the per-run token in the path carries over.

export class RackError extends Error {
  constructor(message) {
    super(message);
    this.name = 'RackError';
  }
}

let nextId = 1;
const waiting = new Map();
const webview = globalThis.chrome && globalThis.chrome.webview;

if (webview) {
  webview.addEventListener('message', (event) => {
    const reply = typeof event.data === 'string' ? safeParse(event.data) : event.data;
    if (!reply || typeof reply !== 'object' || !waiting.has(reply.id)) {
      return;
    }
    const settle = waiting.get(reply.id);
    waiting.delete(reply.id);
    settle(reply);
  });
}

function safeParse(text) {
  try {
    return JSON.parse(text);
  } catch {
    return null;
  }
}

// Whether file choices open a native dialog; without one the page passes a typed path instead.
export const hasNativeDialogs = Boolean(webview);

// A reply lost on the way would hold every later edit; a reply that comes after this fails
// nobody, because its id is no longer waited for. Requests that open a file dialog wait for the
// user as long as it takes.
const replyMilliseconds = 10000;
const dialogMethods = new Set(['pickAudio', 'pickRecording', 'pickPlugin', 'pickPluginFolder', 'saveProject', 'loadProject']);

function postThroughWebView(envelope) {
  return new Promise((resolve, reject) => {
    const timer = dialogMethods.has(envelope.method)
      ? null
      : setTimeout(() => {
          waiting.delete(envelope.id);
          reject(new RackError('The rack did not answer within 10 seconds; try again.'));
        }, replyMilliseconds);
    waiting.set(envelope.id, (reply) => {
      clearTimeout(timer);
      resolve(reply);
    });
    webview.postMessage(envelope);
  });
}

async function postOverHttp(envelope) {
  const response = await fetch('bridge', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(envelope),
    cache: 'no-store',
  });
  if (!response.ok) {
    throw new RackError(`The rack did not answer (HTTP ${response.status}).`);
  }
  const reply = safeParse(await response.text());
  if (!reply || typeof reply !== 'object') {
    throw new RackError('The rack sent a reply the page cannot read.');
  }
  return reply;
}

// Sends one command and resolves with its result; a refusal rejects with the rack's own text.
export async function callRack(method, params = {}) {
  const envelope = { id: nextId++, method, params };
  let reply;
  try {
    reply = webview ? await postThroughWebView(envelope) : await postOverHttp(envelope);
  } catch (error) {
    throw error instanceof RackError ? error : new RackError('The rack is not reachable.');
  }
  if (reply.ok === true) {
    return reply.result;
  }
  throw new RackError(typeof reply.error === 'string' && reply.error ? reply.error : 'The rack refused the request.');
}
