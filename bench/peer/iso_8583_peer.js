const iso8583 = require('iso_8583');
const readline = require('readline');
const rl = readline.createInterface({input: process.stdin, crlfDelay: Infinity});
const out = [];
rl.on('line', (line) => {
  const r = new iso8583().getIsoJSON(Buffer.from(line, 'hex'), {lenHeader: false});
  out.push(JSON.stringify(r));
  if (out.length >= 1000) { process.stdout.write(out.join('\n') + '\n'); out.length = 0; }
});
rl.on('close', () => { if (out.length) process.stdout.write(out.join('\n') + '\n'); });
