'use strict';
// The Node binding against the built library (TANDRELO_MDNS_LIBRARY), inside
// the network namespace of scripts/test-bindings.sh: real queries over UDP,
// a python3-zeroconf peer for the browser, and every refusal as MdnsError.
const test = require('node:test');
const assert = require('node:assert/strict');
const dgram = require('node:dgram');
const path = require('node:path');
const { spawn } = require('node:child_process');
const readline = require('node:readline');
const mdns = require('..');

const PEER = path.join(__dirname, '..', '..', '..', 'tests', 'peers', 'zeroconf_announce.py');
const PEER_PYTHON = process.env.TANDRELO_PEER_PYTHON || '/usr/bin/python3';

test.afterEach(() => {
  new mdns.Browser().stop();
  new mdns.Responder().stop();
  new mdns.Responder().clearServices();
  new mdns.Browser().clear();
});

function freeUdpPort() {
  return new Promise((resolve) => {
    const s = dgram.createSocket('udp4');
    s.bind(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

function query(id, name, rrtype) {
  const labels = name.split('.').map((l) => Buffer.concat([Buffer.from([Buffer.byteLength(l)]),
                                                            Buffer.from(l)]));
  const header = Buffer.alloc(12);
  header.writeUInt16BE(id, 0);
  header.writeUInt16BE(1, 4);
  const tail = Buffer.alloc(5);
  tail.writeUInt16BE(rrtype, 1);
  tail.writeUInt16BE(1, 3);
  return Buffer.concat([header, ...labels, tail]);
}

// Sends one query to 127.0.0.1:port and resolves with the reply of that id.
function ask(port, id, name, rrtype) {
  return new Promise((resolve, reject) => {
    const s = dgram.createSocket('udp4');
    const timer = setTimeout(() => { s.close(); reject(new Error('no reply')); }, 3000);
    s.on('message', (msg) => {
      if (msg.readUInt16BE(0) !== id) return;
      clearTimeout(timer);
      s.close();
      resolve(msg);
    });
    s.bind(0, '127.0.0.1', () => s.send(query(id, name, rrtype), port, '127.0.0.1'));
  });
}

async function until(check, seconds = 15) {
  const deadline = Date.now() + seconds * 1000;
  for (;;) {
    const value = check();
    if (value || Date.now() > deadline) return value;
    await new Promise((r) => setTimeout(r, 100));
  }
}

test('the responder answers a real query and counts it', async () => {
  const port = await freeUdpPort();
  const responder = new mdns.Responder({
    hostname: 'nodehost', address: '10.4.5.6', port,
    services: [{ type: '_http._tcp', name: 'Node Web', port: 8080, txt: { path: '/', on: true } }],
  }).start();
  assert.equal(responder.running, true);
  const reply = await ask(port, 0x4242, 'nodehost.local', 1);
  assert.equal(reply.readUInt16BE(2), 0x8400);
  assert.ok(reply.readUInt16BE(6) >= 1, 'an answer');
  // The A record's address is the reply's last four bytes.
  assert.deepEqual([...reply.subarray(reply.length - 4)], [10, 4, 5, 6]);
  const stats = responder.stats();
  assert.deepEqual(
    [stats.running, stats.port, stats.queries, stats.answers, stats.hostname, stats.addr],
    [1, port, 1, 1, 'nodehost', '10.4.5.6']);
  assert.deepEqual(stats.services,
                   [{ type: '_http._tcp', name: 'Node Web', port: 8080, txt: { path: '/', on: 'true' } }]);
  responder.stop();
  assert.equal(responder.running, false);
});

test('refused calls throw MdnsError with the function, code and message', async () => {
  const cases = [
    [() => new mdns.Responder({ port: 70000 }).start(), 'mdns_start', -1, 'Invalid port specified'],
    [() => new mdns.Responder().addService('', 'x', 1), 'mdns_add_service', -1,
     "Service type cannot be empty (e.g. '_http._tcp')"],
    [() => new mdns.Responder().addService('_x._tcp', 'x', 0), 'mdns_add_service', -1,
     'Port must be between 1 and 65535'],
    [() => new mdns.Responder().setHostname('a.b'), 'mdns_set_hostname', -1,
     'Hostname label cannot contain dots (provide label without .local)'],
    [() => new mdns.Responder().setAddress('300.1.1.1'), 'mdns_set_addr', -1,
     'Invalid IPv4 address format'],
    [() => new mdns.Responder().setInterface('10.99.0.1'), 'mdns_set_interface', -1,
     'Interface 10.99.0.1 is not an active non-loopback adapter'],
  ];
  for (const [call, fn, code, message] of cases) {
    assert.throws(call, (error) => {
      assert.ok(error instanceof mdns.MdnsError);
      assert.deepEqual([error.function, error.code, error.message], [fn, code, message]);
      return true;
    });
    assert.equal(mdns.lastError(), message);
  }
  const port = await freeUdpPort();
  new mdns.Responder({ port }).start();
  assert.throws(() => new mdns.Responder({ port }).start(),
                { function: 'mdns_start', code: mdns.ERR_ALREADY_RUNNING,
                  message: 'mDNS responder is already running' });
});

test('bad arguments are refused before they reach the library', () => {
  const before = mdns.lastError();
  const cases = [
    () => new mdns.Responder().setHostname('a\0b'),
    () => new mdns.Responder().addService('_x._tcp', 'n\0', 1),
    () => new mdns.Responder().addService('_x._tcp', 'n', 1, { k: 'a\0b' }),
    () => new mdns.Responder().addService('_x._tcp', 'n', 1, { k: 'say "hi"' }),
    () => new mdns.Responder().addService('_x._tcp', 'n', 1.5),
    () => new mdns.Responder().addService('_x._tcp', 'n', '80'),
    () => new mdns.Responder().setAddress(127),
    () => new mdns.Responder({ port: 2 ** 40 }).start(),
  ];
  for (const call of cases) assert.throws(call, TypeError);
  assert.equal(mdns.lastError(), before);
  assert.equal(mdns.stats().services_count, 0);
  assert.equal(mdns.stats().running, 0);
});

// The peer registers once the browser runs; it stays until its input closes.
function startPeer(args) {
  const peer = spawn(PEER_PYTHON, [PEER, ...args], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: peer.stdout });
  const first = new Promise((resolve) => lines.once('line', resolve));
  const exited = new Promise((resolve) => peer.on('exit', resolve));
  return { peer, first, exited };
}

test('the browser caches a python3-zeroconf peer', async (t) => {
  const browser = new mdns.Browser().start();
  assert.equal(browser.running, true);
  const { peer, first, exited } = startPeer(
    ['Node Zc', '_tandrelo-node._tcp', '8125', 'nodezc', '127.0.0.1', 'k=v', 'path=/x']);
  t.after(async () => { peer.stdin.end(); await exited; });
  const line = await first;
  if (line.startsWith('skipped')) { t.skip(line); return; }
  assert.equal(line, 'registered');

  const instance = 'Node Zc._tandrelo-node._tcp.local';
  const find = (records, name, rrtype) =>
    records.find((r) => r.name === name && r.rrtype === rrtype) || {};
  const complete = (records) =>
    find(records, '_tandrelo-node._tcp.local', 12).target === instance &&
    find(records, instance, 33).port === 8125 &&
    find(records, instance, 33).target === 'nodezc.local' &&
    find(records, 'nodezc.local', 1).ip === '127.0.0.1' &&
    (find(records, instance, 16).txt || '').split(';').sort().join(';') === 'k=v;path=/x';
  const records = await until(() => { const r = browser.results(); return complete(r) && r; });
  assert.ok(records, JSON.stringify(browser.results()));
  assert.equal(mdns.stats().browse_count, records.length);

  browser.clear();
  assert.deepEqual(browser.results(), []);
  browser.stop();
  assert.equal(browser.running, false);
});
