// Plays a logged-in user's headless Chromium visiting pages of another site that
// try to change the web password (an auto-submitted POST form, the same form on
// a page that sends no referrer, a script that follows a GET link, an image GET),
// then changes it through the real config.html form as the positive control.
// Prints one JSON line after the attacks, waits for a line on stdin (the caller
// checks the server in between), then prints one JSON line for the control.
// Usage: node csrf.mjs VICTIM_BASE ATTACKER_BASE USER PASSWORD NEW_PASSWORD
import { launchChromium } from "./chromium.mjs";
import { createInterface } from "node:readline";

const [victim, attacker, user, password, newPassword] = process.argv.slice(2);
const STEP_MS = 15000;    // longest wait for one page, response or click
const RESUME_MS = 60000;  // longest wait for the caller's go-ahead between the phases
const TOTAL_MS = 150000;  // the whole run; past it the browser is closed and we exit 3
const target = victim + "/update_password.html";

const browser = await launchChromium();
const deadline = setTimeout(() => { browser.close().finally(() => process.exit(3)); }, TOTAL_MS);

// Every request for update_password.html as it went over the wire, from the
// browser's own network events: each attempt (a 401 answered with credentials is
// a second attempt) with the headers really sent and the status that came back.
// Chromium drops some answers before the page sees them (an image that is HTML),
// so this is the only place their status shows.
const wire = new Map();
function wireEntry(id) {
  if (!wire.has(id)) wire.set(id, { url: "", method: "", sent: [], statuses: [], error: "" });
  return wire.get(id);
}
function header(headers, name) {
  const key = Object.keys(headers).find(k => k.toLowerCase() === name);
  return key === undefined ? null : headers[key];
}

async function watchWire(context, page) {
  const cdp = await context.newCDPSession(page);
  cdp.on("Network.requestWillBeSent", e => {
    const entry = wireEntry(e.requestId);
    entry.url = e.request.url;
    entry.method = e.request.method;
  });
  cdp.on("Network.requestWillBeSentExtraInfo", e => {
    wireEntry(e.requestId).sent.push({
      credentials: header(e.headers, "authorization") !== null,
      origin: header(e.headers, "origin") || "", referer: header(e.headers, "referer") || "",
    });
  });
  cdp.on("Network.responseReceivedExtraInfo", e => { wireEntry(e.requestId).statuses.push(e.statusCode); });
  cdp.on("Network.loadingFailed", e => { wireEntry(e.requestId).error = e.errorText; });
  await cdp.send("Network.enable");
}

function wireFor(method) {
  return [...wire.values()].filter(e => e.url.startsWith(target) && e.method === method);
}

// Waits, bounded, until a request for update_password.html has been answered
// or has failed, and returns its wire record.
async function settled(page, method, before) {
  for (let i = 0; i < STEP_MS / 50; i++) {
    const entries = wireFor(method).slice(before);
    const done = entries.find(e => e.error || e.statuses.length === e.sent.length && e.statuses.length > 0);
    if (done && (done.error || await page.evaluate(() => document.readyState) === "complete")) return done;
    await page.waitForTimeout(50);
  }
  throw new Error(`no ${method} of update_password.html finished within ${STEP_MS} ms`);
}

// Opens an attacker page whose script navigates the tab to update_password.html;
// returns the wire record and what the tab then showed.
async function navigatingAttack(page, path, method) {
  const before = wireFor(method).length;
  const answered = page.waitForResponse(r => r.url().startsWith(target) && r.request().method() === method,
                                        { timeout: STEP_MS });
  // The script leaves the page before its load event, so only the commit is awaited.
  await page.goto(attacker + path, { waitUntil: "commit" });
  const response = await answered;
  await page.waitForURL(u => u.href.startsWith(target), { timeout: STEP_MS });
  await page.waitForLoadState("load");
  return { ...(await settled(page, method, before)), body: await response.text(),
           pageText: await page.innerText("body") };
}

try {
  const context = await browser.newContext({ httpCredentials: { username: user, password } });
  const page = await context.newPage();
  page.setDefaultTimeout(STEP_MS);
  await watchWire(context, page);
  const attack = { phase: "attack" };
  const list = await page.goto(victim + "/list.html");
  attack.listStatus = list.status();
  attack.listText = await page.innerText("body");

  attack.post = await navigatingAttack(page, "/post.html", "POST");
  attack.postHidden = await navigatingAttack(page, "/post-hidden.html", "POST");
  attack.link = await navigatingAttack(page, "/link.html", "GET");
  const before = wireFor("GET").length;
  await page.goto(attacker + "/img.html", { waitUntil: "load" });
  attack.img = await settled(page, "GET", before);
  console.log(JSON.stringify(attack));

  if ((await nextLine()) === null) throw new Error("stdin closed before the control");
  const control = { phase: "control" };
  await page.goto(victim + "/config.html");
  await page.fill('input[name="new_pwd"]', newPassword);
  await page.fill('input[name="new_pwd_confirm"]', newPassword);
  const submitted = page.waitForResponse(r => r.url().startsWith(target) && r.request().method() === "POST",
                                         { timeout: STEP_MS });
  const postsBefore = wireFor("POST").length;
  await page.click('input[type="submit"]');
  const response = await submitted;
  await page.waitForLoadState("load");
  control.post = { ...(await settled(page, "POST", postsBefore)), body: await response.text(),
                   pageText: await page.innerText("body") };
  console.log(JSON.stringify(control));
} finally {
  clearTimeout(deadline);
  await browser.close();
}

function nextLine() {
  const lines = createInterface({ input: process.stdin });
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => { lines.close(); reject(new Error("no go-ahead on stdin")); }, RESUME_MS);
    lines.once("line", line => { clearTimeout(timer); resolve(line); lines.close(); process.stdin.destroy(); });
    lines.once("close", () => { clearTimeout(timer); resolve(null); });
  });
}
