// A loopback HTTP server in the shape of the rack's own stand-in: the page folder under a random
// per-run token, and the envelope POSTed to "bridge" beside it, answered by the in-memory rack.

import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { StandInRack } from './rack.mjs';

const contentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
};

export async function startStandInServer({ uiFolder, pluginMode = false }) {
  const rack = new StandInRack({ pluginMode });
  const token = crypto.randomBytes(16).toString('hex');
  const root = path.resolve(uiFolder);

  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    const prefix = `/${token}/`;
    if (!url.pathname.startsWith(prefix)) {
      response.writeHead(404).end();
      return;
    }
    const rest = decodeURIComponent(url.pathname.slice(prefix.length));
    if (rest === 'bridge') {
      if (request.method !== 'POST') {
        response.writeHead(405).end();
        return;
      }
      const chunks = [];
      request.on('data', (chunk) => chunks.push(chunk));
      request.on('end', () => {
        const reply = JSON.stringify(rack.answer(Buffer.concat(chunks).toString('utf8')));
        response.writeHead(200, { 'Content-Type': 'application/json; charset=utf-8', 'Cache-Control': 'no-store' }).end(reply);
      });
      return;
    }
    const file = path.resolve(root, rest === '' ? 'index.html' : rest);
    if (request.method !== 'GET' || !file.startsWith(root + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': contentTypes[path.extname(file)] || 'application/octet-stream', 'Cache-Control': 'no-store' });
    fs.createReadStream(file).pipe(response);
  });

  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const base = `http://127.0.0.1:${server.address().port}/${token}/`;
  return {
    pageUrl: `${base}index.html`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}
