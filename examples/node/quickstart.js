const mdns = require('tandrelo-mdns');

const responder = new mdns.Responder({
  hostname: 'kitchen',
  services: [{ type: '_http._tcp', name: 'Kitchen Web', port: 8080, txt: { path: '/' } }],
}).start();
const browser = new mdns.Browser().start();   // rides on the responder's socket
console.log('announcing kitchen.local, browsing for 5 s');

const seen = new Set();
const timer = setInterval(() => {
  for (const record of browser.results()) {   // the browse report, parsed
    if (record.rrtype === 33 && !seen.has(record.name)) {
      seen.add(record.name);
      console.log('service', record.name, 'on', record.target, 'port', record.port);
    }
  }
}, 500);

setTimeout(() => {
  clearInterval(timer);
  browser.stop();
  responder.stop();
  try {
    new mdns.Responder({ port: 70000 }).start();
  } catch (error) {
    console.log(error.function, error.code, error.message);
    // mdns_start -1 Invalid port specified
  }
}, 5000);
