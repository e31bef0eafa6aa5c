// Opens the web file browser in headless Chromium with credentials, follows a
// folder link and downloads a file. Prints one JSON line with what it saw.
// Usage: node browse.mjs BASE_URL USER PASSWORD FOLDER FILE [SCREENSHOT.png]
import { launchChromium } from "./chromium.mjs";

const [base, user, password, folder, file, screenshot] = process.argv.slice(2);
const browser = await launchChromium();
const result = {};
try {
  const context = await browser.newContext({
    httpCredentials: { username: user, password }, acceptDownloads: true,
    viewport: { width: 1000, height: 520 },
  });
  const page = await context.newPage();
  page.setDefaultTimeout(15000);
  const response = await page.goto(base + "/list.html");
  result.listStatus = response.status();
  result.title = await page.title();
  if (screenshot) await page.screenshot({ path: screenshot });
  await page.click(`a:has-text("${folder}")`);
  await page.waitForLoadState();
  result.folderUrl = page.url();
  result.folderText = await page.innerText("body");
  const [download] = await Promise.all([
    page.waitForEvent("download"),
    page.click(`a:has-text("${file}")`),
  ]);
  result.suggestedName = download.suggestedFilename();
  const stream = await download.createReadStream();
  const chunks = [];
  for await (const chunk of stream) chunks.push(chunk);
  result.downloadBase64 = Buffer.concat(chunks).toString("base64");
} finally {
  await browser.close();
}
console.log(JSON.stringify(result));
