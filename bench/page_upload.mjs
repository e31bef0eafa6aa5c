// Times the web page's own upload of one file in headless Chromium: sign in, pick
// the file, and wait until the page lists it under its name (the page reloads once
// every file is done). Prints the seconds from the pick to the listing.
// Usage: node bench/page_upload.mjs BASE USER PASSWORD FILE TOTAL_SECONDS
// playwright-core comes from tests/browser/node_modules (scripts/test.sh installs it).
import { basename } from "node:path";
import { launchChromium, signIn } from "../tests/browser/chromium.mjs";

const [base, user, password, file, totalSeconds] = process.argv.slice(2);
const TOTAL_MS = Number(totalSeconds) * 1000;
const browser = await launchChromium();
const deadline = setTimeout(() => { browser.close().finally(() => process.exit(3)); }, TOTAL_MS);
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(TOTAL_MS);
  await signIn(page, base, user, password);
  const started = Date.now();
  await page.setInputFiles("#pickFiles", file);
  await page.waitForSelector(`tr[data-name="${basename(file)}"]`);
  console.log(((Date.now() - started) / 1000).toFixed(3));
} finally {
  clearTimeout(deadline);
  await browser.close();
}
