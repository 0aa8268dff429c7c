// The page of `qk42rt serve` in a real headless Chromium: live flows appear, a setpoint set
// through the form (giving the token when the server asks for it) reaches the instrument.
//   node page_test.mjs URL SCREENSHOT TOKEN
// Prints one "ok"/"FAIL" line per check; exits 1 when any failed.
import { chromium } from "playwright-core";

const [url, screenshot, token] = process.argv.slice(2);
let failures = 0;
function check(ok, what) {
  console.log((ok ? "ok   " : "FAIL ") + what);
  if (!ok) failures++;
}

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  // No network beyond loopback: Chromium's own background connections are switched off.
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
try {
  const page = await browser.newPage({ viewport: { width: 1100, height: 900 } });
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  await page.goto(url);

  const row = (channel) => page.locator(`#instrument-1 tr[data-channel="${channel}"]`);
  await row(1).locator(".flow").filter({ hasText: "12.5" }).waitFor({ timeout: 15000 });
  check(true, "channel 1 shows its live flow 12.5");
  check(await page.locator("#line").textContent() === "line: up", "the line shows as up");
  check(await page.locator("#instrument-1 .chart canvas").count() === 8, "a chart for each of the eight channels");
  check(await row(1).locator(".on").isChecked(), "channel 1 shows as on");

  await row(2).locator(".new-setpoint").fill("33.5");
  await row(2).locator("button").click();
  await page.locator("#token-form").waitFor({ state: "visible", timeout: 10000 });
  check(true, "the server asked for its token");
  await page.locator("#token").fill(token);
  await page.locator("#token-form button").click();
  await row(2).locator(".setpoint").filter({ hasText: "33.5" }).waitFor({ timeout: 10000 });
  check(true, "the new setpoint 33.5 shows in channel 2's row");

  await row(3).locator(".on").check();
  await page.waitForTimeout(500);
  check(await page.locator("#last-error").textContent() === "", "switching channel 3 on is answered without an error");

  await page.waitForTimeout(1500);  // a few more points in the charts
  await page.screenshot({ path: screenshot, fullPage: true });
  check(errors.length === 0, "no script errors" + (errors.length ? ": " + errors.join("; ") : ""));
} catch (error) {
  check(false, String(error));
} finally {
  await browser.close();
}
process.exit(failures ? 1 : 0);
