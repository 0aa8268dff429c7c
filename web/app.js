// The live page of qk42rt serve: every served instrument's eight channels from the server's
// cache and event stream (no line traffic of their own), a chart per channel of the last ten
// minutes, and forms that set a setpoint or switch a channel on or off.
"use strict";

const HISTORY_SECONDS = 600;
const state = { token: sessionStorage.getItem("qk42-token") || "", instruments: new Map() };

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

function showLine(up, reason) {
  const line = document.getElementById("line");
  line.className = "line " + (up ? "up" : "down");
  line.textContent = up ? "line: up" : "line: down (" + reason + ")";
  if (!up && reason) showError(reason);
}

function formatFlow(value) {
  return value === null ? "invalid" : Number(value).toPrecision(6).replace(/\.?0+$/, "");
}

function addInstrument(info) {
  const node = document.getElementById("instrument-template").content.cloneNode(true);
  const section = node.querySelector("section");
  section.id = "instrument-" + info.address;
  section.querySelector("h2").textContent = "Address " + info.address +
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
      setSetpoint(instrument, channel, Number(row.querySelector(".new-setpoint").value));
    };
    row.querySelector(".on").onchange = (event) => switchChannel(instrument, channel, event.target.checked);
    body.appendChild(row);
    instrument.rows.set(channel, row);
    instrument.charts.set(channel, addChart(section.querySelector(".charts"), info.address, channel));
  }
  document.getElementById("instruments").appendChild(node);
  state.instruments.set(info.address, instrument);
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
  box.innerHTML = "<h3>address " + address + ", channel " + channel + ": flow</h3>";
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

function showReading(event) {
  const instrument = state.instruments.get(event.address);
  if (!instrument) return;
  const row = instrument.rows.get(event.channel);
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

function showSetpoint(address, channel, setpoint) {
  const instrument = state.instruments.get(address);
  if (instrument) instrument.rows.get(channel).querySelector(".setpoint").textContent = formatFlow(setpoint);
}

function showOnOff(address, value) {
  const instrument = state.instruments.get(address);
  if (!instrument) return;
  instrument.onOff = value;
  for (const [channel, row] of instrument.rows) row.querySelector(".on").checked = (value >> (channel - 1)) & 1;
}

async function setSetpoint(instrument, channel, setpoint) {
  try {
    const answer = await api("/api/v1/instruments/" + instrument.address + "/channels/" + channel + "/setpoint", {
      method: "PUT", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ setpoint }),
    });
    showSetpoint(instrument.address, channel, answer.setpoint);
    showError("");
  } catch (error) {
    showError(error.message);
  }
}

async function switchChannel(instrument, channel, on) {
  const bit = 1 << (channel - 1);
  const wanted = on ? instrument.onOff | bit : instrument.onOff & ~bit;
  try {
    const answer = await api("/api/v1/instruments/" + instrument.address + "/onoff", {
      method: "PUT", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ state: wanted }),
    });
    showOnOff(instrument.address, answer.state);
    showError("");
  } catch (error) {
    showOnOff(instrument.address, instrument.onOff);
    showError(error.message);
  }
}

// Server-Sent Events read through fetch, so that the token can go in a header.
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
      showLine(false, "the server cannot be reached");
    }
    await new Promise((resolve) => setTimeout(resolve, 1000));
  }
}

function handleEvent(text) {
  let name = "message";
  let data = "";
  for (const line of text.split("\n")) {
    if (line.startsWith("event: ")) name = line.slice(7);
    else if (line.startsWith("data: ")) data += line.slice(6);
  }
  if (!data) return;
  const event = JSON.parse(data);
  if (name === "reading") showReading(event);
  else if (name === "line") showLine(event.up, event.reason);
  else if (name === "setpoint") showSetpoint(event.address, event.channel, event.setpoint);
  else if (name === "onoff") showOnOff(event.address, event.state);
}

async function start() {
  try {
    const instruments = await api("/api/v1/instruments");
    for (const info of instruments) {
      const instrument = addInstrument(info);
      // One look at the settings; from then on the event stream keeps the page current.
      api("/api/v1/instruments/" + info.address + "/status").then((rows) => {
        for (const row of rows) showSetpoint(info.address, row.channel, row.setpoint);
      }).catch((error) => showError(error.message));
      api("/api/v1/instruments/" + info.address + "/onoff").then((answer) => showOnOff(instrument.address, answer.state))
        .catch((error) => showError(error.message));
    }
  } catch (error) {
    showError(error.message);
  }
  followEvents();
}

start();
