// Load client for relay_bench.sh.
//   node relay_load.js forward <port> <rooms> <seconds> <window> [relay-pid]
//     one sender and one receiver per room; each sender keeps <window> 1 KiB
//     messages in flight; prints the forwarded messages per second and, given
//     the relay's pid (or several, comma-separated), the share of one core
//     they used meanwhile.
//   node relay_load.js idle <port> <connections>
//     opens idle connections (10 per room), prints "ready", then waits.
'use strict';
const WebSocket = require('ws');
const crypto = require('crypto');

const [mode, portText, countText, secondsText, windowText, relayPid] = process.argv.slice(2);
const fs = require('fs');

// utime + stime of processes (comma-separated pids), in clock ticks (100 per
// second on Linux).
function cpuTicks(pids) {
  if (!pids) return 0;
  let ticks = 0;
  for (const pid of pids.split(',')) {
    const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
    ticks += Number(fields[11]) + Number(fields[12]);
  }
  return ticks;
}
const port = Number(portText);
const roomId = (i, kind = "bench") =>
  crypto.createHash("sha256").update(`${kind}-${i}`).digest("hex");
const url = (room, device) => `ws://127.0.0.1:${port}/?room=${room}&device=${device}`;

function open(room, device) {
  return new Promise((resolve, reject) => {
    const socket = new WebSocket(url(room, device));
    socket.once('open', () => resolve(socket));
    socket.once('error', reject);
  });
}

async function forward(rooms, seconds, window) {
  const payload = crypto.randomBytes(1024);
  const pairs = [];
  for (let i = 0; i < rooms; ++i) {
    const room = roomId(i);
    pairs.push({ sender: await open(room, 'A'), receiver: await open(room, 'B') });
  }
  let received = 0;
  let counting = false;
  for (const { sender, receiver } of pairs) {
    receiver.on('message', () => {
      if (counting) ++received;
      sender.send(payload, { binary: true });
    });
  }
  for (const { sender } of pairs) for (let i = 0; i < window; ++i) sender.send(payload, { binary: true });
  await new Promise((r) => setTimeout(r, 1000)); // warm-up
  counting = true;
  const start = process.hrtime.bigint();
  const ticksBefore = cpuTicks(relayPid);
  await new Promise((r) => setTimeout(r, seconds * 1000));
  counting = false;
  const ticks = cpuTicks(relayPid) - ticksBefore;
  const elapsed = Number(process.hrtime.bigint() - start) / 1e9;
  console.log(`${Math.round(received / elapsed)} ${Math.round(ticks / elapsed)}`);
  for (const { sender, receiver } of pairs) {
    sender.terminate();
    receiver.terminate();
  }
}

async function idle(count) {
  const sockets = [];
  for (let i = 0; i < count; ++i) sockets.push(await open(roomId(Math.floor(i / 10), "idle"), `D${i}`));
  console.log('ready');
  process.on('SIGTERM', () => process.exit(0));
  setInterval(() => {}, 1 << 30);
}

(mode === 'forward'
  ? forward(Number(countText), Number(secondsText), Number(windowText))
  : idle(Number(countText))
).catch((error) => {
  console.error(`relay_load: ${error.message}`);
  process.exit(1);
});
