// The page of `qk42rt serve` in a real headless Chromium, against the servers that
// tests/server/browser_test.cpp starts:
//   one-line   line1, address 1 with channel 1 on at 12.5: live flows appear, a setpoint set
//              through the form (giving the token when the server asks for it) and a channel
//              switched on;
//   two-lines  bench (addresses 1 and 2, address 1's channel 1 at 12.5) and rig (address 1,
//              channel 1 at 27.25): both lines with their instruments, each reading on its own
//              line's instrument, a setpoint set on rig's address 1 channel 2.
// In both, every chart's time axis while it holds its first readings spans ten minutes up to
// the newest one and is labelled in clock times.
//   node page_test.mjs SCENARIO URL SCREENSHOT TOKEN
// Prints one "ok"/"FAIL" line per check; exits 1 when any failed.
import { chromium } from "playwright-core";

const [scenario, url, screenshot, token] = process.argv.slice(2);
let failures = 0;
function check(ok, what) {
  console.log((ok ? "ok   " : "FAIL ") + what);
  if (!ok) failures++;
}

const row = (page, line, address, channel) =>
  page.locator(`section[data-line="${line}"] section[data-address="${address}"] tr[data-channel="${channel}"]`);

// Sets a setpoint through the row's form; the server asks for its token, the first write of
// the page's session.
async function setSetpoint(page, row, value) {
  await row.locator(".new-setpoint").fill(String(value));
  await row.locator("button").click();
  await page.locator("#token-form").waitFor({ state: "visible", timeout: 10000 });
  check(true, "the server asked for its token");
  await page.locator("#token").fill(token);
  await page.locator("#token-form button").click();
  await row.locator(".setpoint").filter({ hasText: String(value) }).waitFor({ timeout: 10000 });
}

// Runs in the page once its charts exist and before any reading reached them: records every
// x axis of up to three readings as it is drawn (its scale, its newest reading, its labels).
function watchFirstAxes() {
  window.firstAxes = [];
  for (const line of state.lines.values()) {
    for (const instrument of line.instruments.values()) {
      for (const [channel, chart] of instrument.charts) {
        const axis = chart.plot.axes[0];
        const labelsOf = axis.values;
        axis.values = (plot, ...rest) => {
          const labels = labelsOf(plot, ...rest);
          const times = plot.data[0];
          if (times.length >= 1 && times.length <= 3) {
            window.firstAxes.push({
              chart: `${line.name} address ${instrument.address} channel ${channel}`,
              readings: times.length, newest: times[times.length - 1],
              min: plot.scales.x.min, max: plot.scales.x.max,
              labels: labels.filter((label) => label !== null).map(String),
            });
          }
          return labels;
        };
      }
    }
  }
}

function checkFirstAxes(axes) {
  const single = axes.filter((a) => a.readings === 1).length;
  check(axes.length > 0, `charts drawn with their first readings (${axes.length} axes, ${single} of one reading)`);
  const clock = /^\d{1,2}:\d\d/;
  const wrong = axes.filter((a) => Math.abs(a.max - a.min - 600) > 1e-6 || a.newest < a.min || a.newest > a.max ||
    !a.labels.length || !a.labels.every((label) => clock.test(label)));
  check(wrong.length === 0,
    "with 1 to 3 readings each time axis spans the ten minutes up to the newest, in clock times" +
    (wrong.length ? ": " + JSON.stringify(wrong[0]) : ""));
}

async function oneLine(page) {
  const channel = (c) => row(page, "line1", 1, c);
  await channel(1).locator(".flow").filter({ hasText: "12.5" }).waitFor({ timeout: 15000 });
  check(true, "channel 1 shows its live flow 12.5");
  const line = page.locator('section[data-line="line1"]');
  check(await line.locator(".name").textContent() === "line1", "the line shows its name");
  check(await line.locator(".state").textContent() === "line: up", "the line shows as up");
  check(await line.locator(".chart canvas").count() === 8, "a chart for each of the eight channels");
  check(await channel(1).locator(".on").isChecked(), "channel 1 shows as on");

  await setSetpoint(page, channel(2), 33.5);
  check(true, "the new setpoint 33.5 shows in channel 2's row");

  await channel(3).locator(".on").check();
  await page.waitForTimeout(500);
  check(await page.locator("#last-error").textContent() === "", "switching channel 3 on is answered without an error");
}

// The flows that a chart holds.
function flowsOf(page, line, address, channel) {
  return page.evaluate(([l, a, c]) => state.lines.get(l).instruments.get(a).charts.get(c).data[1],
    [line, address, channel]);
}

async function twoLines(page) {
  await row(page, "rig", 1, 1).locator(".flow").filter({ hasText: "27.25" }).waitFor({ timeout: 15000 });
  await row(page, "bench", 1, 1).locator(".flow").filter({ hasText: "12.5" }).waitFor({ timeout: 15000 });
  check(true, "each line's address 1 shows its own live flow (bench 12.5, rig 27.25)");
  const names = await page.locator("section.line .name").allTextContents();
  check(JSON.stringify(names) === '["bench","rig"]', "both lines show, in the server's order: " + names.join(", "));
  for (const line of ["bench", "rig"]) {
    const section = page.locator(`section[data-line="${line}"]`);
    check((await section.locator(".device").textContent()).startsWith("/dev/pts/"), `${line} shows its device`);
    check(await section.locator(".state").textContent() === "line: up", `${line} shows as up`);
  }
  const addresses = (line) => page.locator(`section[data-line="${line}"] section.instrument`)
    .evaluateAll((sections) => sections.map((s) => s.dataset.address).join(","));
  check(await addresses("bench") === "1,2", "bench shows its instruments 1 and 2");
  check(await addresses("rig") === "1", "rig shows its instrument 1");

  // A few more readings of each line.
  await page.waitForFunction(() => [...state.lines.values()].every((line) =>
    line.instruments.get(1).charts.get(1).data[0].length >= 4), null, { timeout: 10000 });
  const bench = await flowsOf(page, "bench", 1, 1);
  const rig = await flowsOf(page, "rig", 1, 1);
  check(bench.length > 1 && bench.every((f) => f === 12.5), "bench's chart holds bench's readings only: " + bench);
  check(rig.length > 1 && rig.every((f) => f === 27.25), "rig's chart holds rig's readings only: " + rig);
  check(await row(page, "bench", 1, 1).locator(".flow").textContent() === "12.5", "bench's row still shows 12.5");

  await setSetpoint(page, row(page, "rig", 1, 2), 33.5);
  check(true, "the new setpoint 33.5 shows in rig's channel 2 row");
  await page.waitForTimeout(500);
  check(await row(page, "bench", 1, 2).locator(".setpoint").textContent() === "20", "bench's channel 2 keeps 20");
  check(await page.locator("#last-error").textContent() === "", "no error shows");
}

const scenarios = { "one-line": oneLine, "two-lines": twoLines };
if (!scenarios[scenario]) {
  console.log("FAIL unknown scenario " + scenario);
  process.exit(1);
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
  // The page asks for its event stream once every chart exists; the stream waits until the
  // charts are watched, so that their first readings are seen.
  let streamAsked;
  const asked = new Promise((resolve) => (streamAsked = resolve));
  let releaseStream;
  const released = new Promise((resolve) => (releaseStream = resolve));
  await page.route("**/api/v1/events", async (route) => {
    streamAsked();
    await released;
    await route.continue();
  });
  await page.goto(url);
  await asked;
  await page.evaluate(watchFirstAxes);
  releaseStream();

  await scenarios[scenario](page);

  await page.waitForTimeout(1500);  // a few more points in the charts
  checkFirstAxes(await page.evaluate(() => window.firstAxes));
  await page.screenshot({ path: screenshot, fullPage: true });
  check(errors.length === 0, "no script errors" + (errors.length ? ": " + errors.join("; ") : ""));
} catch (error) {
  check(false, String(error));
} finally {
  await browser.close();
}
process.exit(failures ? 1 : 0);
