// Times the web page's own upload of one file in headless Chromium: sign in, pick
// the file, and wait until the page lists it under its name (the page reloads once
// every file is done). Prints the seconds from the pick to the listing.
// Usage: node bench/page_upload.mjs BASE USER PASSWORD FILE TOTAL_SECONDS
// playwright-core comes from tests/browser (scripts/test.sh and bench/webapp.sh install it).
import { createRequire } from "node:module";
import { basename, dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const { chromium } = createRequire(join(here, "..", "tests", "browser", "package.json"))("playwright-core");
const [base, user, password, file, totalSeconds] = process.argv.slice(2);
const TOTAL_MS = Number(totalSeconds) * 1000;
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
const deadline = setTimeout(() => { browser.close().finally(() => process.exit(3)); }, TOTAL_MS);
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(TOTAL_MS);
  await page.goto(base + "/app/");
  await page.fill("#user", user);
  await page.fill("#password", password);
  await Promise.all([page.waitForURL(base + "/app/"), page.click("button")]);
  const started = Date.now();
  await page.setInputFiles("#pickFiles", file);
  await page.waitForSelector(`tr[data-name="${basename(file)}"]`);
  console.log(((Date.now() - started) / 1000).toFixed(3));
} finally {
  clearTimeout(deadline);
  await browser.close();
}
