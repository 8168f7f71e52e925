// Runs the window-activation script we hand KWin against a stand-in
// workspace of two windows, and prints the caption of the window it made
// active (or "none").
//   node kwin_activation_harness.js <script> 5|6     (KWin's major version)
"use strict";
const fs = require("fs");
const vm = require("vm");

const [scriptPath, version] = process.argv.slice(2);
const windows = [
    { internalId: "{8d1a3c52-0d5e-4c1c-9a53-6f0c2b1e7d10}", windowId: 0, caption: "wayland" },
    { internalId: "{1f2e3d4c-5b6a-4798-8a9b-0c1d2e3f4a5b}", windowId: 4194310, caption: "x11" },
];
let active = null;
const workspace = version === "5"
    ? { clientList: () => windows, activeClient: null }
    : { windowList: () => windows, activeWindow: null };

vm.runInNewContext(fs.readFileSync(scriptPath, "utf8"), { workspace });
active = version === "5" ? workspace.activeClient : workspace.activeWindow;
console.log(active ? active.caption : "none");
