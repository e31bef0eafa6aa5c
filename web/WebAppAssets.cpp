// The stylesheet and the script of the web client, served from the binary so a
// page needs nothing from anywhere else.
#include "web/WebAppPages.h"

namespace corvel {

const std::string_view kAppStyleSheet = R"css(*{box-sizing:border-box}
html{font-family:system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;font-size:16px;color:#1d2330;background:#f5f6f8}
body{margin:0}
[hidden]{display:none!important}
a{color:#1a56b8}
:focus-visible{outline:3px solid #e07b00;outline-offset:2px}
button{font:inherit;padding:.35rem .8rem;border:1px solid #1a56b8;border-radius:6px;background:#1a56b8;color:#fff;cursor:pointer;min-height:2.2rem}
button:hover{background:#14448f}
input{font:inherit;padding:.3rem .5rem;border:1px solid #9aa3b5;border-radius:6px;min-height:2.2rem;max-width:100%}
.bar{display:flex;gap:.8rem;align-items:center;padding:.6rem 1rem;background:#1d2330;color:#fff;flex-wrap:wrap}
.bar .brand{font-weight:700;flex:1}
.bar form{margin:0}
.bar button{background:transparent;border-color:#fff}
main{padding:1rem;max-width:72rem;margin:0 auto}
.crumbs ol{list-style:none;display:flex;flex-wrap:wrap;padding:0;margin:0 0 1rem;gap:.3rem}
.crumbs li+li::before{content:"/";margin-right:.3rem;color:#778}
.crumbs li{overflow-wrap:anywhere}
.tools{display:flex;flex-wrap:wrap;align-items:flex-start;gap:1rem;margin-bottom:1rem;padding:.8rem;background:#fff;border-radius:8px}
.tools form{display:flex;flex-wrap:wrap;gap:.4rem;align-items:center}
.upload{display:flex;flex-wrap:wrap;gap:.6rem;align-items:center;flex:1 1 20rem}
.pick{display:inline-flex;flex-direction:column;font-size:.9rem}
.drop{margin:0;padding:.6rem 1rem;border:2px dashed #9aa3b5;border-radius:8px;color:#556}
.drop.over{border-color:#1a56b8;background:#eaf1ff}
#progress{list-style:none;padding:0;margin:0;width:100%}
#progress li{display:flex;gap:.5rem;align-items:center;font-size:.9rem;overflow-wrap:anywhere}
#progress progress{flex:0 0 8rem}
#progress .failed{color:#b00020}
table.files{width:100%;border-collapse:collapse;background:#fff;border-radius:8px}
.files th,.files td{text-align:left;padding:.45rem .5rem;border-bottom:1px solid #e3e6ec;vertical-align:top}
.files th a{text-decoration:none;color:inherit}
.files td.n{overflow-wrap:anywhere;width:50%}
.files td.n a{display:inline-flex;gap:.4rem;align-items:center}
.files td.s{white-space:nowrap}
.files td.a form,.files td.a details{display:inline-block;margin:0 .3rem .3rem 0}
.files td.a summary{cursor:pointer;color:#1a56b8}
.files td.a button{padding:.2rem .6rem;min-height:1.9rem}
.icon{width:1.1rem;height:1.1rem;flex:none}
.empty{color:#667}
.error{color:#b00020;font-weight:600}
.note{color:#556}
.login main{max-width:22rem;margin-top:10vh}
.bar a.links{color:#fff}
.whole{display:flex;flex-wrap:wrap;gap:.6rem 1.2rem;align-items:center;margin:0 0 1rem}
.whole form{margin:0}
.files td.n input[type=checkbox]{margin:0 .3rem 0 0;vertical-align:middle}
details.share form{display:flex;flex-direction:column;gap:.4rem;margin-top:.4rem;padding:.6rem;background:#fff;border:1px solid #e3e6ec;border-radius:8px;max-width:18rem}
details.share label{display:flex;flex-direction:column;font-size:.9rem;gap:.15rem}
details.share label.check{flex-direction:row;gap:.4rem;align-items:flex-start}
details.share summary{cursor:pointer;color:#1a56b8}
.card{background:#fff;border-radius:8px;padding:1rem;max-width:40rem;overflow-wrap:anywhere}
.card h1{font-size:1.3rem;margin-top:0}
a.button{display:inline-block;padding:.45rem 1rem;border-radius:6px;background:#1a56b8;color:#fff;text-decoration:none}
input.link{width:100%;font-family:ui-monospace,monospace;font-size:.9rem}
.visit .signin{max-width:22rem;margin:10vh auto 0}
.visit .signin h1{font-size:1.2rem;margin:0 0 .4rem}
.links code{font-size:.9rem}
.signin{display:flex;flex-direction:column;gap:.4rem;background:#fff;padding:1rem;border-radius:8px}
.signin button{margin-top:.6rem}
@media (max-width:560px){.files .d{display:none}.files td.n{width:auto;min-width:9rem;overflow-wrap:normal;word-break:normal}.files td.n .label{overflow-wrap:anywhere}.files td.a{width:6.5rem}main{padding:.6rem}.files td.a details.share[open] form{position:absolute;left:.6rem;right:.6rem;max-width:none;z-index:1;box-shadow:0 4px 16px rgba(0,0,0,.25)}}
)css";

// Uploads in chunks of kChunk bytes, each a PUT with its offset. A broken
// connection costs only what was in flight: the server keeps what arrived, and the
// next try asks how much that is and goes on from there. Each chunk ends with the
// socket's buffers drained before the next one starts: with 8 MiB chunks that wait
// took a fifth of a 1 GiB upload, with 64 MiB a fortieth. The server writes beside
// the final name and moves the file there only with the last chunk; a file of that
// name is replaced only after the user agreed.
const std::string_view kAppScript = R"js("use strict";
(function () {
  const body = document.body;
  const csrf = body.dataset.csrf || "";
  const folder = body.dataset.folder || "";
  // On a drop box's page: its link. Files go there by name, each under an id of
  // its own, and the visitor sees nothing of the folder.
  const dropBox = body.dataset.dropbox || "";
  const kChunk = 64 * 1024 * 1024;
  const kTries = 5;

  for (const form of document.querySelectorAll("form.delete")) {
    form.addEventListener("submit", (event) => {
      const question = form.dataset.question || "Delete " + form.dataset.name + "?";
      if (!window.confirm(question)) event.preventDefault();
    });
  }
  for (const field of document.querySelectorAll("input.link")) {
    field.addEventListener("focus", () => field.select());
  }

  const upload = document.getElementById("upload");
  if (!upload) return;
  upload.hidden = false;
  // The plain form stays for pages without the script; with it, the pickers do more.
  for (const form of document.querySelectorAll("form.sendform")) form.hidden = true;
  const list = document.getElementById("progress");
  const join = (a, b) => (a ? a + "/" + b : b);

  function post(action, fields) {
    const data = new URLSearchParams(fields);
    data.set("csrf", csrf);
    return fetch(action, { method: "POST", body: data, headers: { "X-CSRF-Token": csrf }, redirect: "manual" });
  }

  function newId() {
    const bytes = new Uint8Array(16);
    window.crypto.getRandomValues(bytes);
    return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
  }

  async function status(path, id) {
    const url = dropBox ? dropBox + "/upload?upload=" + id : "/app/upload?path=" + encodeURIComponent(path);
    const response = await fetch(url, { headers: { "X-CSRF-Token": csrf } });
    if (!response.ok) throw new Error((await response.json()).error || response.statusText);
    return response.json();
  }

  function sendChunk(path, id, blob, offset, last, total, replace, bar) {
    return new Promise((resolve, reject) => {
      let url = dropBox
        ? dropBox + "/upload?upload=" + id + "&name=" + encodeURIComponent(path) + "&offset=" + offset
        : "/app/upload?path=" + encodeURIComponent(path) + "&offset=" + offset;
      if (last) url += "&done=1&total=" + total + (replace ? "&replace=1" : "");
      const request = new XMLHttpRequest();
      request.open("PUT", url);
      request.setRequestHeader("X-CSRF-Token", csrf);
      request.upload.onprogress = (e) => { if (total > 0) bar.value = (offset + e.loaded) / total; };
      request.onload = () => {
        let answer = {};
        try { answer = JSON.parse(request.responseText); } catch (e) { answer = {}; }
        if (request.status === 200) resolve(answer);
        else reject(Object.assign(new Error(answer.error || request.statusText), { final: request.status !== 0 && request.status !== 500 }));
      };
      request.onerror = () => reject(new Error("the connection broke"));
      request.send(blob);
    });
  }

  const madeFolders = new Set();
  async function ensureFolders(path) {
    const names = path.split("/").slice(0, -1);
    let parent = folder;
    for (const name of names) {
      const here = join(parent, name);
      if (!madeFolders.has(here)) {
        const response = await post("/app/mkdir", { path: parent, name: name });
        // 303: made; 409: there already. Anything else is said by the upload itself.
        if (response.type !== "opaqueredirect" && response.status !== 409 && !response.ok)
          throw new Error("the folder " + here + " could not be made");
        madeFolders.add(here);
      }
      parent = here;
    }
  }

  async function uploadOne(file, relative) {
    const path = dropBox ? file.name : join(folder, relative);
    const id = dropBox ? newId() : "";
    const item = document.createElement("li");
    const bar = document.createElement("progress");
    bar.max = 1; bar.value = 0;
    const label = document.createElement("span");
    label.textContent = relative;
    item.append(bar, label);
    list.append(item);
    try {
      if (!dropBox) await ensureFolders(relative);
      let state = dropBox ? { received: 0 } : await status(path, id);
      let replace = false;
      let answer = {};
      if (state.exists) {
        if (!window.confirm(relative + " exists. Replace it?")) { label.textContent = relative + ": skipped"; return; }
        replace = true;
      }
      let offset = Math.min(state.received || 0, file.size);
      let tries = 0;
      for (;;) {
        const end = Math.min(offset + kChunk, file.size);
        const last = end === file.size;
        try {
          answer = await sendChunk(path, id, file.slice(offset, end), offset, last, file.size, replace, bar);
          tries = 0;
          offset = end;
          if (last) break;
        } catch (error) {
          if (error.final || ++tries >= kTries) throw error;
          state = await status(path, id);  // resume where the stored part ends
          offset = Math.min(state.received || 0, file.size);
        }
      }
      bar.value = 1;
      if (!dropBox) label.textContent = relative + ": done";
      else label.textContent = relative + ": sent" + (answer.name && answer.name !== file.name ? " as " + answer.name : "");
    } catch (error) {
      item.classList.add("failed");
      label.textContent = relative + ": " + error.message;
    }
  }

  async function uploadAll(pairs) {
    for (const [file, relative] of pairs) await uploadOne(file, relative);
    if (!dropBox && !list.querySelector(".failed")) window.location.reload();
  }

  document.getElementById("pickFiles").addEventListener("change", (e) => {
    uploadAll([...e.target.files].map((f) => [f, f.name]));
  });
  const pickFolder = document.getElementById("pickFolder");
  if (pickFolder) {
    pickFolder.addEventListener("change", (e) => {
      uploadAll([...e.target.files].map((f) => [f, f.webkitRelativePath || f.name]));
    });
  }

  function readEntry(entry, prefix, out) {
    return new Promise((resolve) => {
      if (entry.isFile) {
        entry.file((f) => { out.push([f, prefix + f.name]); resolve(); }, () => resolve());
      } else if (entry.isDirectory) {
        const reader = entry.createReader();
        const all = [];
        const more = () => reader.readEntries(async (batch) => {
          if (batch.length === 0) {
            for (const child of all) await readEntry(child, prefix + entry.name + "/", out);
            resolve();
          } else { all.push(...batch); more(); }
        }, () => resolve());
        more();
      } else resolve();
    });
  }

  const drop = document.getElementById("drop");
  drop.addEventListener("dragover", (e) => { e.preventDefault(); drop.classList.add("over"); });
  drop.addEventListener("dragleave", () => drop.classList.remove("over"));
  drop.addEventListener("drop", async (e) => {
    e.preventDefault();
    drop.classList.remove("over");
    const out = [];
    const entries = [...e.dataTransfer.items].map((i) => i.webkitGetAsEntry && i.webkitGetAsEntry()).filter(Boolean);
    if (entries.length) { for (const entry of entries) await readEntry(entry, "", out); }
    else out.push(...[...e.dataTransfer.files].map((f) => [f, f.name]));
    uploadAll(out);
  });
  drop.addEventListener("keydown", (e) => {
    if (e.key === "Enter" || e.key === " ") { e.preventDefault(); document.getElementById("pickFiles").click(); }
  });
})();
)js";

}  // namespace corvel
