// Modem status page: fetches the status CGI every 5 s and shows the daemon's snapshot.
// Values from the router are only ever set as text (textContent), never parsed as markup.
(function () {
  "use strict";

  const API = "/cgi-bin/modem-status-api";
  const FETCH_MS = 5000;        // one fetch every 5 s
  const FETCH_TIMEOUT_MS = 4000;
  const STALL_MS = 15000;       // the daemon rewrites the snapshot every 5 s: 3 missed writes
  const DEFAULT_CYCLE_S = 15;   // the daemon's default poll period, until one is measured
  const STALE_CYCLES = 3;       // values older than this many status cycles are greyed
  const CHART_POINTS = 720;     // one hour of readings at one per 5 s
  const ENABLE_CMD = "uci set zel.api.status=enabled; uci commit zel";

  // Signal grades. A reading at or above a threshold gets that grade; below the last, "Poor".
  //   RSRP dBm: Excellent >= -80,  Good >= -90,  Fair >= -100, Poor below
  //   RSRQ dB:  Excellent >= -10,  Good >= -15,  Fair >= -20,  Poor below
  //   SINR dB:  Excellent >= 20,   Good >= 13,   Fair >= 0,    Poor below
  //   RSSI dBm: Excellent >= -65,  Good >= -75,  Fair >= -85,  Poor below
  const GRADES = {
    rsrp: [-80, -90, -100],
    rsrq: [-10, -15, -20],
    sinr: [20, 13, 0],
    rssi: [-65, -75, -85],
  };
  const GRADE_WORDS = ["Excellent", "Good", "Fair", "Poor"];

  function grade(kind, value) {
    const steps = GRADES[kind];
    for (let i = 0; i < steps.length; i++) {
      if (value >= steps[i]) return GRADE_WORDS[i];
    }
    return GRADE_WORDS[3];
  }

  // ---- formatting -------------------------------------------------------------------------

  function num(text) {
    const n = Number(text);
    return text !== "" && Number.isFinite(n) ? n : null;
  }
  function fixed(digits) {
    return (v) => (num(v) === null ? v : num(v).toFixed(digits));
  }
  const asIs = (v) => v;

  function bytes(v) {
    let n = num(v);
    if (n === null) return v;
    const units = ["B", "kB", "MB", "GB", "TB"];
    let u = 0;
    while (n >= 1000 && u < units.length - 1) {
      n /= 1000;
      u++;
    }
    return (u === 0 ? String(n) : n.toFixed(1)) + " " + units[u];
  }
  function rate(bytesPerSecond) {
    return bytes(String(Math.round(bytesPerSecond))) + "/s";
  }
  function duration(seconds) {
    const s = Math.max(0, Math.round(seconds));
    if (s < 120) return s + " s";
    if (s < 7200) return Math.floor(s / 60) + " min";
    if (s < 172800) return Math.floor(s / 3600) + " h";
    return Math.floor(s / 86400) + " d";
  }
  function uptime(v) {
    const s = num(v);
    if (s === null) return v;
    const d = Math.floor(s / 86400);
    const hms = [Math.floor(s / 3600) % 24, Math.floor(s / 60) % 60, s % 60]
      .map((x) => String(x).padStart(2, "0")).join(":");
    return (d > 0 ? d + " d " : "") + hms;
  }
  function cellId(v) {
    const n = num(v);
    return n === null ? v : v + " (" + n.toString(16).toUpperCase() + ")";
  }
  function clock(epochSeconds) {
    return new Date(epochSeconds * 1000).toLocaleTimeString();
  }

  // ---- what the page shows --------------------------------------------------------------
  // A row shows one status value. once: read once at start-up, so its age is shown but never
  // greyed. grade: the grading table used. counter: a byte counter with a rate.

  const SECTIONS = [
    { title: "Connection", rows: [
      { name: "Connection_s", label: "State" },
      { name: "HnName_s", label: "Operator" },
      { name: "ScMode_s", label: "Technology" },
      { name: "ScFb_i", label: "Band", unit: "", prefix: "B" },
      { name: "Qmi_CaBand_i", label: "Aggregated band", prefix: "B" },
      { name: "ScDlb_f", label: "Bandwidth down", unit: "MHz", fmt: fixed(0) },
      { name: "ScId_i", label: "Cell", fmt: cellId },
      { name: "ScPId_i", label: "Physical cell" },
      { name: "ScEarfcn_i", label: "EARFCN" },
      { name: "ScTac_i", label: "Tracking area" },
      { name: "ScMcc_i", label: "MCC" },
      { name: "ScMnc_i", label: "MNC" },
      { name: "Apn_s", label: "APN" },
      { name: "PdpIpAddr_s", label: "WAN address" },
      { name: "QmiTxPwr_f", label: "TX power", unit: "dBm", fmt: fixed(1) },
    ] },
    { title: "Signal", chart: true, rows: [
      { name: "ScRsrp_i", label: "RSRP", unit: "dBm", grade: "rsrp" },
      { name: "ScRsrq_i", label: "RSRQ", unit: "dB", grade: "rsrq" },
      { name: "ScSinr_f", label: "SINR", unit: "dB", grade: "sinr", fmt: fixed(1) },
      { name: "ScRssi_i", label: "RSSI", unit: "dBm", grade: "rssi" },
      { name: "SignalPercent_s", label: "Signal" },
    ] },
    { title: "Traffic (wwan0)", rows: [
      { name: "WWanRxBytes_i", label: "Received", fmt: bytes, counter: true },
      { name: "WWanTxBytes_i", label: "Sent", fmt: bytes, counter: true },
      { name: "WWanRxPkts_i", label: "Packets received" },
      { name: "WWanTxPkts_i", label: "Packets sent" },
    ] },
    { title: "Modem temperatures", rows: [
      { name: "TXO_i", label: "Oscillator", unit: "°C" },
      { name: "TCT_i", label: "Case", unit: "°C" },
      { name: "TPA1_i", label: "Power amplifier", unit: "°C" },
      { name: "TS0_i", label: "Sensor 0", unit: "°C" },
      { name: "TS1_i", label: "Sensor 1", unit: "°C" },
      { name: "TS2_i", label: "Sensor 2", unit: "°C" },
      { name: "TS3_i", label: "Sensor 3", unit: "°C" },
      { name: "TS4_i", label: "Sensor 4", unit: "°C" },
    ] },
    { title: "Position", rows: [
      { name: "Lat_f", label: "Latitude", unit: "°", fmt: fixed(6) },
      { name: "Lon_f", label: "Longitude", unit: "°", fmt: fixed(6) },
      { name: "Alt_f", label: "Altitude", unit: "m", fmt: fixed(1) },
      { name: "GeoHash_s", label: "Geohash" },
    ] },
    { title: "Identity", secret: true, rows: [
      { name: "IMEI_s", label: "IMEI" },
      { name: "ICCID_s", label: "ICCID", once: true },
      { name: "IMSI_s", label: "IMSI", once: true },
      { name: "PhoneNumber_s", label: "Phone number" },
    ] },
    { title: "Router", rows: [
      { name: "Sn_s", label: "Serial number", once: true },
      { name: "SwVersion_s", label: "Software", once: true },
      { name: "ModemSwVersion_s", label: "Modem firmware", once: true },
      { name: "LanIpAddr_s", label: "LAN address" },
      { name: "UpTime_i", label: "Uptime", fmt: uptime },
    ] },
  ];

  // ---- DOM helpers --------------------------------------------------------------------------

  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  const rowsByName = {};
  let identityShown = false;

  function buildPage() {
    const main = document.getElementById("sections");
    for (const section of SECTIONS) {
      const box = el("section", "card");
      box.appendChild(el("h2", "", section.title));
      const list = el("dl");
      for (const row of section.rows) {
        const dt = el("dt", "", row.label);
        const dd = el("dd");
        const value = el("span", "v");
        value.dataset.name = row.name;
        dd.appendChild(value);
        const parts = { row: row, dt: dt, dd: dd, value: value, secret: !!section.secret };
        if (row.grade) parts.grade = dd.appendChild(el("span", "grade"));
        if (row.counter) parts.rate = dd.appendChild(el("span", "rate"));
        parts.age = dd.appendChild(el("span", "age"));
        list.append(dt, dd);
        rowsByName[row.name] = parts;
      }
      if (section.chart) box.appendChild(chart.build());
      if (section.secret) {
        const button = el("button", "reveal", "Show identity");
        button.type = "button";
        button.setAttribute("aria-expanded", "false");
        button.addEventListener("click", () => {
          identityShown = !identityShown;
          button.textContent = identityShown ? "Hide identity" : "Show identity";
          button.setAttribute("aria-expanded", String(identityShown));
          list.hidden = !identityShown;
          render();
        });
        list.hidden = true;
        box.appendChild(button);
      }
      box.appendChild(list);
      main.appendChild(box);
    }
  }

  // ---- chart of RSRP and SINR ------------------------------------------------------------

  const SVG = "http://www.w3.org/2000/svg";
  const chart = {
    points: [],     // {t, rsrp, sinr}, oldest first, at most CHART_POINTS
    lastT: null,
    W: 400, H: 170, PAD_L: 36, PAD_R: 28, PAD_Y: 10,
    RSRP: [-140, -44], SINR: [-20, 30],

    node(tag, attrs, text) {
      const e = document.createElementNS(SVG, tag);
      for (const k in attrs) e.setAttribute(k, attrs[k]);
      if (text !== undefined) e.textContent = text;
      return e;
    },

    build() {
      const fig = el("figure", "chart");
      this.svg = this.node("svg", { viewBox: "0 0 " + this.W + " " + this.H, role: "img",
                                    "aria-label": "RSRP and SINR since the page was opened" });
      this.svg.dataset.points = "0";
      // Axes: RSRP scale on the left, SINR on the right.
      for (const r of [-140, -110, -80, -50]) {
        const y = this.y(r, this.RSRP);
        this.svg.append(this.node("line", { x1: this.PAD_L, x2: this.W - this.PAD_R, y1: y, y2: y,
                                            class: "grid" }),
                        this.node("text", { x: this.PAD_L - 4, y: y + 4, class: "axis rsrp-axis",
                                            "text-anchor": "end" }, String(r)));
      }
      for (const s of [-20, 0, 20]) {
        this.svg.append(this.node("text", { x: this.W - this.PAD_R + 4, y: this.y(s, this.SINR) + 4,
                                            class: "axis sinr-axis" }, String(s)));
      }
      this.rsrpLine = this.svg.appendChild(this.node("polyline", { class: "rsrp", points: "" }));
      this.sinrLine = this.svg.appendChild(this.node("polyline", { class: "sinr", points: "" }));
      const caption = el("figcaption");
      caption.append(el("span", "key-rsrp", "── RSRP dBm (left scale)"), " ",
                     el("span", "key-sinr", "- - SINR dB (right scale)"));
      this.span = el("span", "chart-span");
      caption.append(" ", this.span);
      fig.append(this.svg, caption);
      return fig;
    },

    y(v, range) {
      const f = (Math.min(Math.max(v, range[0]), range[1]) - range[0]) / (range[1] - range[0]);
      return +(this.H - this.PAD_Y - f * (this.H - 2 * this.PAD_Y)).toFixed(1);
    },

    // Adds a reading taken at router time t unless it was charted already.
    add(t, rsrp, sinr) {
      if (t === this.lastT || (rsrp === null && sinr === null)) return;
      this.lastT = t;
      this.points.push({ t: t, rsrp: rsrp, sinr: sinr });
      if (this.points.length > CHART_POINTS) this.points.shift();
      this.draw();
    },

    draw() {
      const p = this.points;
      const t0 = p[0].t, span = Math.max(p[p.length - 1].t - t0, 1);
      const x = (t) => +(this.PAD_L + (t - t0) / span * (this.W - this.PAD_L - this.PAD_R)).toFixed(1);
      const line = (key, range) => p.filter((q) => q[key] !== null)
        .map((q) => x(q.t) + "," + this.y(q[key], range)).join(" ");
      this.rsrpLine.setAttribute("points", line("rsrp", this.RSRP));
      this.sinrLine.setAttribute("points", line("sinr", this.SINR));
      this.svg.dataset.points = String(p.length);
      this.span.textContent = p.length + " readings since " + clock(t0);
    },
  };

  // ---- state kept between fetches ----------------------------------------------------------

  let fetches = 0;
  let snapshot = null;        // {time, byName}
  let timeSeenAt = 0;         // browser ms when the snapshot time last advanced
  let routerAtSeen = 0;       // the snapshot time then
  const cycleSteps = [];      // recent advances of StatusTime_i in seconds
  let lastStatusTime = null;
  const counters = {};        // name -> {value, t, rate}

  function routerNow() {
    return routerAtSeen + (Date.now() - timeSeenAt) / 1000;
  }
  function cycleSeconds() {
    return cycleSteps.length ? Math.min.apply(null, cycleSteps) : DEFAULT_CYCLE_S;
  }

  // Takes in a snapshot document; returns the state it puts the page in.
  function accept(doc) {
    if (typeof doc.status === "string") return "disabled";
    if (!Array.isArray(doc.status) || !(doc.time > 0) || doc.status.length === 0) return "empty";
    const byName = {};
    for (const e of doc.status) {
      if (e && typeof e.name === "string") {
        byName[e.name] = { value: String(e.value), lastUpdate: Number(e.lastUpdate) };
      }
    }
    if (!snapshot || doc.time !== snapshot.time) {
      timeSeenAt = Date.now();
      routerAtSeen = doc.time;
    }
    snapshot = { time: doc.time, byName: byName };

    const st = byName.StatusTime_i && num(byName.StatusTime_i.value);
    if (st !== null && st !== undefined) {
      if (lastStatusTime !== null && st > lastStatusTime) {
        cycleSteps.push(st - lastStatusTime);
        if (cycleSteps.length > 12) cycleSteps.shift();
      }
      lastStatusTime = st;
    }
    for (const name in rowsByName) {
      if (rowsByName[name].row.counter && byName[name]) trackCounter(name, byName[name]);
    }
    const rsrp = byName.ScRsrp_i, sinr = byName.ScSinr_f;
    const fresh = (e) => (e && e.lastUpdate > 0 ? num(e.value) : null);
    const t = Math.max(rsrp ? rsrp.lastUpdate : 0, sinr ? sinr.lastUpdate : 0);
    if (t > 0) chart.add(t, fresh(rsrp), fresh(sinr));
    return Date.now() - timeSeenAt > STALL_MS ? "stalled" : "ok";
  }

  // Rate of a byte counter between two readings with different times.
  function trackCounter(name, entry) {
    const v = num(entry.value), t = entry.lastUpdate;
    const prev = counters[name];
    if (v === null || t <= 0) return;
    if (!prev) {
      counters[name] = { value: v, t: t, rate: null };
    } else if (t > prev.t) {
      const r = v >= prev.value ? (v - prev.value) / (t - prev.t) : null;  // null: counter reset
      counters[name] = { value: v, t: t, rate: r };
    }
  }

  // ---- rendering -----------------------------------------------------------------------------

  function render() {
    const now = routerNow();
    const staleAfter = STALE_CYCLES * cycleSeconds();
    for (const name in rowsByName) {
      const r = rowsByName[name];
      const e = snapshot && snapshot.byName[name];
      const hide = r.secret && !identityShown;
      r.dd.classList.toggle("missing", !e);
      if (!e || hide) {
        r.value.textContent = hide ? "" : "—";
        if (r.grade) setGrade(r.grade, null);
        if (r.rate) r.rate.textContent = "";
        r.age.textContent = "";
        r.dd.classList.remove("stale");
        continue;
      }
      const row = r.row;
      const unit = row.unit ? " " + row.unit : "";
      r.value.textContent = (row.prefix || "") + (row.fmt || asIs)(e.value) + unit;
      if (r.grade) setGrade(r.grade, num(e.value) === null ? null : grade(row.grade, num(e.value)));
      if (r.rate) {
        const c = counters[name];
        r.rate.textContent = c && c.rate !== null ? rate(c.rate) : "";
      }
      let stale;
      if (e.lastUpdate < 0) {
        r.age.textContent = "expired";
        stale = true;
      } else {
        const age = now - e.lastUpdate;
        r.age.textContent = duration(age) + " ago";
        r.age.title = "updated " + new Date(e.lastUpdate * 1000).toLocaleString();
        stale = !row.once && age > staleAfter;
      }
      r.dd.classList.toggle("stale", stale);
      r.dt.classList.toggle("stale", stale);
    }
    if (snapshot) {
      document.getElementById("snapshot-time").textContent =
        "Status of " + clock(snapshot.time) + " (router clock)";
    }
    document.getElementById("cycle-note").textContent =
      "Status cycle: " + (cycleSteps.length ? "about " + cycleSeconds() + " s" :
                          "not measured yet, assumed " + DEFAULT_CYCLE_S + " s") +
      ". Values older than " + STALE_CYCLES + " cycles (" + staleAfter + " s) are greyed.";
  }

  function setGrade(span, word) {
    span.textContent = word || "";
    span.className = "grade" + (word ? " g-" + word.toLowerCase() : "");
  }

  function showState(state, detail) {
    const box = document.getElementById("state");
    box.dataset.state = state;
    document.body.dataset.state = state;
    box.textContent = "";
    switch (state) {
      case "ok":
        box.textContent = "Live: updated every 5 s.";
        break;
      case "disabled":
        box.append("The status API is disabled on this router. Enable it with ",
                   el("code", "", ENABLE_CMD), " and this page will show the status.");
        break;
      case "empty":
        box.textContent = "No status yet: the status daemon (modem-statusd) has not written a " +
          "snapshot. This page keeps asking every 5 s.";
        break;
      case "stalled":
        box.textContent = "The status stopped at " + clock(snapshot.time) + " (" +
          duration(routerNow() - snapshot.time) + " ago): the status daemon (modem-statusd) " +
          "is not running. The values below are the last ones received.";
        break;
      case "invalid":
        box.textContent = "The status service sent a document that is not valid JSON (" +
          detail + "). Retrying every 5 s.";
        break;
      default:
        box.textContent = "Cannot reach the status service (" + detail + "). Retrying every 5 s.";
    }
  }

  // ---- fetching -------------------------------------------------------------------------------

  async function fetchOnce() {
    const abort = new AbortController();
    const timer = setTimeout(() => abort.abort(), FETCH_TIMEOUT_MS);
    try {
      const response = await fetch(API, { cache: "no-store", signal: abort.signal });
      if (!response.ok) return ["unreachable", "HTTP " + response.status];
      const text = await response.text();
      let doc;
      try {
        doc = JSON.parse(text);
      } catch (err) {
        return ["invalid", err.message];
      }
      if (!doc || typeof doc !== "object") return ["invalid", "not an object"];
      return [accept(doc)];
    } catch (err) {
      return ["unreachable", err.name === "AbortError" ? "no answer within 4 s" : "network error"];
    } finally {
      clearTimeout(timer);
    }
  }

  async function tick() {
    const [state, detail] = await fetchOnce();
    fetches++;
    document.body.dataset.fetches = String(fetches);
    showState(state, detail);
    render();
    setTimeout(tick, FETCH_MS);
  }

  buildPage();
  tick();
})();
