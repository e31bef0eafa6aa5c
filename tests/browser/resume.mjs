// A large upload in headless Chromium, cut half-way and resumed: the user picks the
// file, the page is closed once the stored part holds half of it (the connection of
// the chunk in flight breaks with it), a new page picks the same file again, and the
// script goes on from where the stored part ends. Prints one JSON line with what it
// saw. Every wait is bounded.
// Usage: node resume.mjs BASE USER PASSWORD FILE PART_PATH TOTAL_SECONDS
import { launchChromium, signIn } from "./chromium.mjs";
import { statSync } from "node:fs";

const [base, user, password, file, partPath, totalSeconds] = process.argv.slice(2);
const TOTAL_MS = Number(totalSeconds) * 1000;
const size = statSync(file).size;
const browser = await launchChromium();
const deadline = setTimeout(() => { browser.close().finally(() => process.exit(3)); }, TOTAL_MS);
const result = {};
const started = Date.now();
const partSize = () => { try { return statSync(partPath).size; } catch { return -1; } };
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

try {
  const context = await browser.newContext();
  let page = await context.newPage();
  page.setDefaultTimeout(TOTAL_MS);
  await signIn(page, base, user, password);
  await page.setInputFiles("#pickFiles", file);
  while (partSize() < size / 2) await sleep(20);
  await page.close();  // the tab goes, and the chunk in flight with it
  await sleep(500);
  result.cutAt = partSize();

  page = await context.newPage();
  page.setDefaultTimeout(TOTAL_MS);
  await page.goto(base + "/app/");
  const resumed = page.waitForRequest((r) => r.method() === "PUT");
  await page.setInputFiles("#pickFiles", file);
  result.resumedFrom = Number(new URL((await resumed).url()).searchParams.get("offset"));
  // With every file done the page reloads, listing the file under its name.
  await page.waitForSelector('tr[data-name="big.bin"]');
  result.seconds = (Date.now() - started) / 1000;
} finally {
  clearTimeout(deadline);
  await browser.close();
}
console.log(JSON.stringify(result));
