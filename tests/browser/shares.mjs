// Drives the share links in headless Chromium: the owner makes a link to a file with
// a password, an expiry and a most number of downloads on the page; a visitor in
// another browser gives a wrong password, then the right one, and downloads the file;
// the owner makes a drop box, which a visitor sends files to with the pickers and,
// with JavaScript off, with the plain form; with JavaScript off the owner ticks two
// entries and downloads them as one zip; then revokes the file's link on the list.
// Prints one JSON line with what it saw. Every wait is bounded.
// Usage: node shares.mjs BASE USER PASSWORD EXPIRES DROP_FILE... -- OUT_DIR
import { launchChromium, signIn } from "./chromium.mjs";
import { join } from "node:path";

const args = process.argv.slice(2);
const [base, user, password, expires] = args;
const split = args.indexOf("--");
const dropFiles = args.slice(4, split);
const outDir = args[split + 1];
const STEP_MS = 15000;
const TOTAL_MS = 150000;
const browser = await launchChromium();
const deadline = setTimeout(() => { browser.close().finally(() => process.exit(3)); }, TOTAL_MS);
const result = { outside: [] };
const row = (name) => `tr[data-name="${name}"]`;


async function newPage(options = {}) {
  const context = await browser.newContext({ acceptDownloads: true, ...options });
  const page = await context.newPage();
  page.setDefaultTimeout(STEP_MS);
  page.on("request", (r) => { if (!r.url().startsWith(base)) result.outside.push(r.url()); });
  return page;
}

// Makes a link on the row's Share form and returns the link the page shows once.
async function makeLink(page, name, fields) {
  await page.click(`${row(name)} details.share summary`);
  const form = `${row(name)} form.shareform`;
  if (fields.dropBox) await page.check(`${form} input[name="kind"]`);
  if (fields.expires) await page.fill(`${form} input[name="expires"]`, fields.expires);
  if (fields.password) await page.fill(`${form} input[name="password"]`, fields.password);
  if (fields.max) await page.fill(`${form} input[name="max"]`, fields.max);
  await Promise.all([page.waitForNavigation(), page.click(`${form} button`)]);
  const link = await page.inputValue("#link");
  await page.goto(base + "/app/");
  return link;
}

try {
  const owner = await newPage();
  await signIn(owner, base, user, password);
  const fileLink = await makeLink(owner, "report.pdf", { password: "open sesame", expires, max: "3" });
  const dropLink = await makeLink(owner, "inbox", { dropBox: true });
  result.fileLink = fileLink;
  result.dropLink = dropLink;

  // A visitor: the password first, a wrong one, then the right one, then the file.
  const visitor = await newPage();
  await visitor.goto(fileLink);
  result.askedPassword = await visitor.isVisible("#password");
  await visitor.fill("#password", "wrong");
  await Promise.all([visitor.waitForNavigation(), visitor.click("form.signin button")]);
  result.wrongPassword = await visitor.innerText(".error");
  await visitor.fill("#password", "open sesame");
  await Promise.all([visitor.waitForNavigation(), visitor.click("form.signin button")]);
  result.filePage = await visitor.innerText("main");
  const [download] = await Promise.all([visitor.waitForEvent("download"), visitor.click("a.button")]);
  result.downloadName = download.suggestedFilename();
  await download.saveAs(join(outDir, "shared-download"));

  // A drop box: the pickers send the files; the folder stays unseen.
  const dropper = await newPage();
  await dropper.goto(dropLink);
  result.dropPage = await dropper.innerText("main");
  await dropper.setInputFiles("#pickFiles", dropFiles);
  for (const path of dropFiles) {
    const name = path.split("/").pop();
    await dropper.locator("#progress li", { hasText: name + ": sent" }).waitFor();
  }
  result.dropProgress = await dropper.innerText("#progress");
  // The same without JavaScript: the plain form.
  const plainDropper = await newPage({ javaScriptEnabled: false });
  await plainDropper.goto(dropLink);
  await plainDropper.setInputFiles('form.sendform input[name="files"]', dropFiles[0]);
  await Promise.all([plainDropper.waitForNavigation(), plainDropper.click("form.sendform button")]);
  result.plainDrop = await plainDropper.innerText("main");

  // Without JavaScript, two ticked entries come as one zip.
  const plainOwner = await newPage({ javaScriptEnabled: false });
  await signIn(plainOwner, base, user, password);
  await plainOwner.check(`${row("docs")} input[name="pick"]`);
  await plainOwner.check(`${row("report.pdf")} input[name="pick"]`);
  const [zip] = await Promise.all([plainOwner.waitForEvent("download"), plainOwner.click("#picked button")]);
  result.zipName = zip.suggestedFilename();
  await zip.saveAs(join(outDir, "selection.zip"));

  // The owner's list, and a revoke after the question.
  await Promise.all([owner.waitForNavigation(), owner.click("a.links")]);
  result.listed = await owner.$$eval("tbody tr[data-id]", (rows) => rows.length);
  owner.once("dialog", (dialog) => { result.revokeQuestion = dialog.message(); dialog.accept(); });
  await Promise.all([owner.waitForNavigation(), owner.click("tbody tr[data-id] .revoke button")]);
  result.listedAfter = await owner.$$eval("tbody tr[data-id]", (rows) => rows.length);
  const ended = await visitor.goto(fileLink);
  result.afterRevoke = ended.status();
} finally {
  clearTimeout(deadline);
  await browser.close();
}
console.log(JSON.stringify(result));
