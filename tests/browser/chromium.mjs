// What every browser script here starts with: headless Chromium with nothing of its
// own on the network, and the web app's sign-in form filled and sent.
import { chromium } from "playwright-core";

export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
}

// Opens the app at base and signs in; resolves once the file view is there.
export async function signIn(page, base, user, password) {
  await page.goto(base + "/app/");
  await page.fill("#user", user);
  await page.fill("#password", password);
  await Promise.all([page.waitForURL(base + "/app/"), page.click("button")]);
}
