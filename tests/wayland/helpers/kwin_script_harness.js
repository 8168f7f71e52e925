// Runs the script we hand KWin the way KWin's scripting would, against a
// stand-in workspace, and prints each callDBus call as a JSON line: the
// active window at start, a window without a desktop file (as XWayland ones
// often are), then no active window.
//   node kwin_script_harness.js <script> 5|6     (KWin's major version)
"use strict";
const fs = require("fs");
const vm = require("vm");

const [scriptPath, version] = process.argv.slice(2);
const handlers = [];
const signal = { connect: (handler) => handlers.push(handler) };
const first = {
    internalId: "{8d1a3c52-0d5e-4c1c-9a53-6f0c2b1e7d10}",
    pid: 4242,
    desktopFileName: "org.kde.kate",
    resourceClass: "kate",
    resourceName: "kate",
    caption: "notes.txt — Kate",
};
const second = {
    internalId: "{1f2e3d4c-5b6a-4798-8a9b-0c1d2e3f4a5b}",
    pid: 5151,
    resourceClass: "XTerm",
    resourceName: "xterm",
    caption: "xterm",
};
const workspace = version === "5"
    ? { clientActivated: signal, activeClient: first }
    : { windowActivated: signal, activeWindow: first };
const callDBus = (...args) => console.log(JSON.stringify(args));

vm.runInNewContext(fs.readFileSync(scriptPath, "utf8"), { workspace, callDBus });
for (const handler of handlers) handler(second);
for (const handler of handlers) handler(null);
