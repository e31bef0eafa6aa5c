// Drives the web client (/app/) in headless Chromium as its user would: signs in on
// the form, uploads three files and a folder with the pickers, replaces a file
// after agreeing, makes, renames and deletes a folder, uses the page by keyboard
// and at phone width, then does the basic actions again with JavaScript off (an
// upload with the plain form among them), and
// visits another site's pages that post forms to every action. Prints one JSON
// line with what it saw. Every wait is bounded.
// Usage: node app.mjs BASE ATTACKER_BASE USER PASSWORD FILES_DIR FOLDER_DIR REPLACEMENT [SHOT_PREFIX]
import { launchChromium, signIn } from "./chromium.mjs";
import { readdirSync } from "node:fs";
import { join } from "node:path";

const [base, attacker, user, password, filesDir, folderDir, replacement, shots] = process.argv.slice(2);
const STEP_MS = 15000;
const TOTAL_MS = 150000;
const browser = await launchChromium();
const deadline = setTimeout(() => { browser.close().finally(() => process.exit(3)); }, TOTAL_MS);
const result = { outside: [] };

const row = (name) => `tr[data-name="${name}"]`;

try {
  const context = await browser.newContext({ viewport: { width: 1000, height: 700 } });
  const page = await context.newPage();
  page.setDefaultTimeout(STEP_MS);
  // Only this server is ever asked for anything.
  page.on("request", (r) => {
    if (!r.url().startsWith(base) && !r.url().startsWith(attacker)) result.outside.push(r.url());
  });
  await signIn(page, base, user, password);
  result.signedIn = await page.isVisible(".crumbs");
  result.plainFormHidden = !(await page.isVisible("form.sendform"));  // the script's pickers replace it
  result.cookies = (await context.cookies()).map((c) => ({ name: c.name, httpOnly: c.httpOnly, sameSite: c.sameSite }));

  // Three files, then a folder with a subfolder, each with the pickers.
  const files = readdirSync(filesDir).sort().map((n) => join(filesDir, n));
  await page.setInputFiles("#pickFiles", files);
  await page.waitForSelector(row("three.txt"));
  await page.setInputFiles("#pickFolder", folderDir);
  await page.waitForSelector(row("tree"));
  await page.click(`${row("tree")} a`);
  await page.waitForSelector(row("inner"));
  result.treeText = await page.innerText("table.files");
  await page.click(".crumbs a");  // Home
  await page.waitForSelector(row("three.txt"));

  // Replacing asks first; agreed, the file is replaced.
  page.once("dialog", (dialog) => { result.replaceQuestion = dialog.message(); dialog.accept(); });
  await Promise.all([page.waitForNavigation(), page.setInputFiles("#pickFiles", replacement)]);
  await page.waitForSelector(row("one.txt"));

  // A new folder by keyboard: the field, its name, Enter.
  await page.focus("#newFolder");
  await page.keyboard.type("Projekt Ä");
  await Promise.all([page.waitForNavigation(), page.keyboard.press("Enter")]);
  await page.waitForSelector(row("Projekt Ä"));
  // Keyboard focus is visible.
  await page.keyboard.press("Tab");
  result.focusOutline = await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle);
  // Rename, then delete after the question.
  await page.click(`${row("Projekt Ä")} summary`);
  await page.fill(`${row("Projekt Ä")} input[name="name"]`, "Renamed");
  await Promise.all([page.waitForNavigation(), page.click(`${row("Projekt Ä")} .rename button`)]);
  await page.waitForSelector(row("Renamed"));
  page.once("dialog", (dialog) => { result.deleteQuestion = dialog.message(); dialog.accept(); });
  await Promise.all([page.waitForNavigation(), page.click(`${row("Renamed")} .delete button`)]);
  result.afterDelete = await page.innerText("table.files");

  // Sorting by size puts the largest file last, and again first.
  await Promise.all([page.waitForNavigation(), page.click('th.s a')]);
  result.bySize = await page.$$eval("tbody tr[data-kind=file]", (rows) => rows.map((r) => r.dataset.name));
  await Promise.all([page.waitForNavigation(), page.click('th.s a')]);
  result.bySizeDown = await page.$$eval("tbody tr[data-kind=file]", (rows) => rows.map((r) => r.dataset.name));

  if (shots) await page.screenshot({ path: shots + "-desktop.png" });

  // At phone width nothing runs off the side.
  await page.setViewportSize({ width: 360, height: 740 });
  await page.goto(base + "/app/");
  result.phoneOverflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  if (shots) await page.screenshot({ path: shots + "-phone.png", fullPage: true });
  // An open Share form lies over the list at that width instead of widening it.
  await page.click(`${row("one.txt")} details.share summary`);
  result.phoneShareOverflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);

  // Another site's forms, with the user signed in here.
  result.attacks = {};
  for (const name of ["mkdir", "rename", "delete", "logout", "login", "upload"]) {
    const answered = page.waitForResponse((r) => r.url().startsWith(base + "/app/"), { timeout: STEP_MS });
    await page.goto(attacker + "/" + name + ".html", { waitUntil: "commit" });
    const response = await answered;
    await page.waitForLoadState("load");
    result.attacks[name] = response.status();
  }
  await page.goto(base + "/app/");
  result.stillSignedIn = await page.isVisible(".crumbs");

  // With JavaScript off the forms still work: sign in, new folder, delete it.
  const plain = await browser.newContext({ javaScriptEnabled: false });
  const noScript = await plain.newPage();
  noScript.setDefaultTimeout(STEP_MS);
  await signIn(noScript, base, user, password);
  // The plain upload form: one file, then the page again.
  await noScript.setInputFiles('form.sendform input[name="files"]', join(folderDir, "top.bin"));
  await Promise.all([noScript.waitForNavigation(), noScript.click("form.sendform button")]);
  result.noScriptUploaded = await noScript.isVisible(row("top.bin"));
  await noScript.fill("#newFolder", "plain");
  await Promise.all([noScript.waitForNavigation(), noScript.click(".mkdir button")]);
  result.noScriptMade = await noScript.isVisible(row("plain"));
  await Promise.all([noScript.waitForNavigation(), noScript.click(`${row("plain")} .delete button`)]);
  result.noScriptRemoved = !(await noScript.isVisible(row("plain")));
  await Promise.all([noScript.waitForNavigation(), noScript.click(".bar button")]);
  result.noScriptSignedOut = noScript.url();
} finally {
  clearTimeout(deadline);
  await browser.close();
}
console.log(JSON.stringify(result));
