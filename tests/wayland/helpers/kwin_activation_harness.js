// Runs the window-activation script we hand KWin against a stand-in
// workspace of two windows and one mapped later, and prints the caption of
// the window it made active (or "none").
//   node kwin_activation_harness.js <script> 5|6     (KWin's major version)
"use strict";
const fs = require("fs");
const vm = require("vm");

const [scriptPath, version] = process.argv.slice(2);
const windows = [
    { internalId: "{8d1a3c52-0d5e-4c1c-9a53-6f0c2b1e7d10}", windowId: 0, caption: "wayland" },
    { internalId: "{1f2e3d4c-5b6a-4798-8a9b-0c1d2e3f4a5b}", windowId: 4194310, caption: "x11" },
];
// A window mapped after the script ran, announced as KWin announces it.
const late = { internalId: "{2a3b4c5d-6e7f-4081-9293-a4b5c6d7e8f9}", windowId: 0, caption: "late" };
const handlers = [];
const added = {
    connect: (handler) => handlers.push(handler),
    disconnect: (handler) => handlers.splice(handlers.indexOf(handler), 1),
};
const workspace = version === "5"
    ? { clientList: () => windows, activeClient: null, clientAdded: added }
    : { windowList: () => windows, activeWindow: null, windowAdded: added };

vm.runInNewContext(fs.readFileSync(scriptPath, "utf8"), { workspace });
for (const handler of handlers.slice()) handler(late);
const active = version === "5" ? workspace.activeClient : workspace.activeWindow;
console.log(active ? active.caption : "none");
// Once found, the script listens no more.
if (active && handlers.length) process.exit(3);
