// The live page of qk42rt serve: every served line, and under it every instrument's eight
// channels from the server's cache and event stream (no line traffic of their own), a chart per
// channel of the last ten minutes, and forms that set a setpoint or switch a channel on or off.
"use strict";

const HISTORY_SECONDS = 600;
// Lines by name, in the server's order; each holds its instruments by address.
const state = { token: sessionStorage.getItem("qk42-token") || "", lines: new Map() };

function headers(extra) {
  const h = Object.assign({}, extra || {});
  if (state.token) h.Authorization = "Bearer " + state.token;
  return h;
}

// Fetches JSON; on 401 asks for the token and tries once more.
async function api(path, options) {
  options = options || {};
  for (let attempt = 0; attempt < 2; attempt++) {
    const response = await fetch(path, Object.assign({}, options, { headers: headers(options.headers) }));
    if (response.status === 401 && attempt === 0) {
      await askForToken();
      continue;
    }
    const body = await response.json().catch(() => ({}));
    if (!response.ok) throw new Error(body.error || response.statusText);
    return body;
  }
  throw new Error("a valid token is needed");
}

// A path under the line's own root, so that a write reaches the line it was made on.
function linePath(line, rest) {
  return "/api/v1/lines/" + encodeURIComponent(line.name) + rest;
}

function askForToken() {
  const form = document.getElementById("token-form");
  form.hidden = false;
  return new Promise((resolve) => {
    form.onsubmit = (event) => {
      event.preventDefault();
      state.token = document.getElementById("token").value;
      sessionStorage.setItem("qk42-token", state.token);
      form.hidden = true;
      resolve();
    };
  });
}

function showError(text) {
  document.getElementById("last-error").textContent = text ? "last error: " + text : "";
}

function showLineState(line, up, reason) {
  line.state.className = "state " + (up ? "up" : "down");
  line.state.textContent = up ? "line: up" : "line: down" + (reason ? " (" + reason + ")" : "");
}

function showLine(line, up, reason) {
  showLineState(line, up, reason);
  if (!up && reason) showError(line.name + ": " + reason);
}

function formatFlow(value) {
  return value === null ? "invalid" : Number(value).toPrecision(6).replace(/\.?0+$/, "");
}

function addLine(summary) {
  const node = document.getElementById("line-template").content.cloneNode(true);
  const section = node.querySelector("section");
  section.dataset.line = summary.name;
  section.querySelector(".name").textContent = summary.name;
  section.querySelector(".device").textContent = summary.device;
  const line = { name: summary.name, section, state: section.querySelector(".state"), instruments: new Map() };
  showLine(line, summary.up, "");
  document.getElementById("lines").appendChild(node);
  state.lines.set(line.name, line);
  return line;
}

function addInstrument(line, info) {
  const node = document.getElementById("instrument-template").content.cloneNode(true);
  const section = node.querySelector("section");
  section.dataset.address = info.address;
  section.querySelector("h3").textContent = "Address " + info.address +
    (info.version ? " \u2014 version " + info.version + ", kind " + info.kind : "");
  const instrument = { address: info.address, onOff: 0, rows: new Map(), charts: new Map() };
  const body = section.querySelector("tbody");
  for (let channel = 1; channel <= 8; channel++) {
    const row = document.createElement("tr");
    row.dataset.channel = channel;
    row.innerHTML = '<td>' + channel + '</td><td class="flow">-</td><td class="setpoint">-</td>' +
      '<td class="status">-</td><td><input type="checkbox" class="on"></td>' +
      '<td><form class="setpoint-form"><input type="number" step="any" class="new-setpoint" required>' +
      ' <button type="submit">Set</button></form></td>';
    row.querySelector(".setpoint-form").onsubmit = (event) => {
      event.preventDefault();
      setSetpoint(line, instrument, channel, Number(row.querySelector(".new-setpoint").value));
    };
    row.querySelector(".on").onchange = (event) => switchChannel(line, instrument, channel, event.target.checked);
    body.appendChild(row);
    instrument.rows.set(channel, row);
    instrument.charts.set(channel, addChart(section.querySelector(".charts"), info.address, channel));
  }
  line.section.querySelector(".instruments").appendChild(node);
  line.instruments.set(info.address, instrument);
  return instrument;
}

// The time axis always spans the ten minutes up to the newest reading. Left to itself, uPlot
// widens the range of a single reading to a day counted in milliseconds, which in this chart's
// seconds is nearly three years: the first readings were drawn on an axis labelled in years.
function lastTenMinutes(plot, min, max) {
  const times = plot.data[0];
  if (!times.length) return [min, max];
  const newest = times[times.length - 1];
  return [newest - HISTORY_SECONDS, newest];
}

function addChart(parent, address, channel) {
  const box = document.createElement("div");
  box.className = "chart";
  box.innerHTML = "<h4>address " + address + ", channel " + channel + ": flow</h4>";
  parent.appendChild(box);
  const data = [[], []];
  const plot = new uPlot({
    width: 320, height: 140, legend: { show: false },
    scales: { x: { time: true, range: lastTenMinutes } },
    series: [{}, { label: "flow", stroke: "#1f6fb2", width: 1.5 }],
    axes: [{ space: 60 }, { size: 50 }],
  }, data, box);
  return { plot, data };
}

function showReading(line, event) {
  const instrument = line.instruments.get(event.address);
  if (!instrument) return;
  const row = instrument.rows.get(event.channel);
  if (!row) return;
  row.querySelector(".flow").textContent = formatFlow(event.flow);
  row.querySelector(".status").textContent = event.status;
  const chart = instrument.charts.get(event.channel);
  const time = Date.parse(event.time) / 1000;
  chart.data[0].push(time);
  chart.data[1].push(event.flow);
  while (chart.data[0].length && chart.data[0][0] < time - HISTORY_SECONDS) {
    chart.data[0].shift();
    chart.data[1].shift();
  }
  chart.plot.setData(chart.data);
}

function showSetpoint(line, address, channel, setpoint) {
  const instrument = line.instruments.get(address);
  const row = instrument && instrument.rows.get(channel);
  if (row) row.querySelector(".setpoint").textContent = formatFlow(setpoint);
}

function showOnOff(line, address, value) {
  const instrument = line.instruments.get(address);
  if (!instrument) return;
  instrument.onOff = value;
  for (const [channel, row] of instrument.rows) row.querySelector(".on").checked = (value >> (channel - 1)) & 1;
}

async function setSetpoint(line, instrument, channel, setpoint) {
  try {
    const path = "/instruments/" + instrument.address + "/channels/" + channel + "/setpoint";
    const answer = await api(linePath(line, path), {
      method: "PUT", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ setpoint }),
    });
    showSetpoint(line, instrument.address, channel, answer.setpoint);
    showError("");
  } catch (error) {
    showError(line.name + ": " + error.message);
  }
}

async function switchChannel(line, instrument, channel, on) {
  const bit = 1 << (channel - 1);
  const wanted = on ? instrument.onOff | bit : instrument.onOff & ~bit;
  try {
    const answer = await api(linePath(line, "/instruments/" + instrument.address + "/onoff"), {
      method: "PUT", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ state: wanted }),
    });
    showOnOff(line, instrument.address, answer.state);
    showError("");
  } catch (error) {
    showOnOff(line, instrument.address, instrument.onOff);
    showError(line.name + ": " + error.message);
  }
}

// Server-Sent Events of every line, read through fetch so that the token can go in a header.
async function followEvents() {
  for (;;) {
    try {
      const response = await fetch("/api/v1/events", { headers: headers() });
      if (response.status === 401) {
        await askForToken();
        continue;
      }
      const reader = response.body.getReader();
      const decoder = new TextDecoder();
      let buffer = "";
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        buffer += decoder.decode(value, { stream: true });
        let end;
        while ((end = buffer.indexOf("\n\n")) >= 0) {
          handleEvent(buffer.slice(0, end));
          buffer = buffer.slice(end + 2);
        }
      }
    } catch (error) {
      const reason = "the server cannot be reached";
      for (const line of state.lines.values()) showLineState(line, false, reason);
      showError(reason);
    }
    await new Promise((resolve) => setTimeout(resolve, 1000));
  }
}

function handleEvent(text) {
  let name = "message";
  let data = "";
  for (const part of text.split("\n")) {
    if (part.startsWith("event: ")) name = part.slice(7);
    else if (part.startsWith("data: ")) data += part.slice(6);
  }
  if (!data) return;
  const event = JSON.parse(data);
  const line = state.lines.get(event.line);
  if (!line) return;
  if (name === "reading") showReading(line, event);
  else if (name === "line") showLine(line, event.up, event.reason);
  else if (name === "setpoint") showSetpoint(line, event.address, event.channel, event.setpoint);
  else if (name === "onoff") showOnOff(line, event.address, event.state);
}

async function addInstruments(line) {
  const instruments = await api(linePath(line, "/instruments"));
  for (const info of instruments) {
    const instrument = addInstrument(line, info);
    // One look at the settings; from then on the event stream keeps the page current.
    const root = "/instruments/" + info.address;
    api(linePath(line, root + "/status")).then((rows) => {
      for (const row of rows) showSetpoint(line, info.address, row.channel, row.setpoint);
    }).catch((error) => showError(line.name + ": " + error.message));
    api(linePath(line, root + "/onoff")).then((answer) => showOnOff(line, instrument.address, answer.state))
      .catch((error) => showError(line.name + ": " + error.message));
  }
}

// The lines, asked for again every second until the server answers, so that a page opened
// while the server starts fills in once it is there.
async function start() {
  for (;;) {
    try {
      const lines = await api("/api/v1/lines");
      showError("");
      await Promise.all(lines.map(addLine).map((line) =>
        addInstruments(line).catch((error) => showError(line.name + ": " + error.message))));
      break;
    } catch (error) {
      showError(error.message);
    }
    await new Promise((resolve) => setTimeout(resolve, 1000));
  }
  followEvents();
}

start();
