// The smallest relay that does the job, on Node's ws package: rooms by the
// "room" query item, binary messages forwarded to the other members.
// Used only as the yardstick of relay_bench.sh.
'use strict';
const { WebSocketServer } = require('ws');

const port = Number(process.argv[2] || 0);
const rooms = new Map();
const server = new WebSocketServer({ host: '127.0.0.1', port, maxPayload: 1048576 });

server.on('listening', () => {
  console.error(`node-relay: listening on 127.0.0.1:${server.address().port}`);
});
server.on('connection', (socket, request) => {
  const room = new URL(request.url, 'http://relay').searchParams.get('room');
  if (!room) {
    socket.close(1008);
    return;
  }
  let members = rooms.get(room);
  if (!members) rooms.set(room, (members = new Set()));
  members.add(socket);
  socket.on('message', (data, isBinary) => {
    if (!isBinary) return;
    for (const other of members) {
      if (other !== socket && other.readyState === 1) other.send(data, { binary: true });
    }
  });
  socket.on('close', () => {
    members.delete(socket);
    if (members.size === 0) rooms.delete(room);
  });
});
