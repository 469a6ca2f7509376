// The live page: asks for the access token when the meter wants one (kept in
// this browser's localStorage, sent in the Authorization header and as the
// WebSocket's first message, never in a URL), then draws the frames the
// meter pushes. Every text from the meter goes in through textContent.
'use strict';
(() => {
  const $ = (id) => document.getElementById(id);
  const KEY = 'tarvolin.token';
  const decoder = new TextDecoder();
  let token = localStorage.getItem(KEY) || '';
  let info = null;
  let levels = null;
  let socket = null;
  let retries = 0;
  let drawPending = false;
  let cells = [];
  let mask = null;

  function setConnection(text, live) {
    $('connection').textContent = text;
    $('connection').classList.toggle('live', !!live);
  }

  function showLogin(message) {
    $('meter').hidden = true;
    $('login').hidden = false;
    $('login-message').textContent = message;
    $('token').focus();
  }

  async function check() {
    const headers = token ? { Authorization: 'Bearer ' + token } : {};
    let reply;
    try {
      reply = await fetch('/status', { headers, cache: 'no-store', credentials: 'omit' });
    } catch (e) {
      setConnection('meter unreachable');
      setTimeout(check, 2000);
      return;
    }
    if (reply.status === 401) {
      setConnection('access token needed');
      showLogin(token ? 'That token was refused.' : '');
      return;
    }
    if (!reply.ok) {
      setTimeout(check, 1000);
      return;
    }
    $('login').hidden = true;
    $('meter').hidden = false;
    connect();
  }

  $('login').addEventListener('submit', (e) => {
    e.preventDefault();
    token = $('token').value.trim();
    $('token').value = '';
    localStorage.setItem(KEY, token);
    check();
  });

  function connect() {
    if (socket) return;
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    socket = new WebSocket(scheme + '//' + location.host + '/live');
    socket.binaryType = 'arraybuffer';
    socket.onopen = () => {
      socket.send(JSON.stringify({ token }));
      sendVisibility();
      setConnection('live', true);
      retries = 0;
    };
    socket.onmessage = (e) => {
      const m = JSON.parse(typeof e.data === 'string' ? e.data : decoder.decode(e.data));
      if (m.type === 'info') {
        info = m;
        showInfo();
      } else if (m.type === 'levels') {
        levels = m;
        showLevels();
      }
      requestDraw();
    };
    socket.onclose = () => {
      socket = null;
      setConnection('reconnecting');
      setTimeout(check, Math.min(5000, 500 * ++retries));
    };
  }

  // The meter sends nothing while this tab is hidden.
  function sendVisibility() {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify({ hidden: document.hidden }));
    if (!document.hidden) requestDraw();
  }
  document.addEventListener('visibilitychange', sendVisibility);

  function shown() {
    return info ? info.strips.slice(0, Math.max(1, info.channels)) : [];
  }

  function showInfo() {
    $('standard').textContent = info.standard;
    const strips = shown();
    const grid = $('strips');
    if (cells.length !== strips.length) {
      grid.replaceChildren();
      cells = strips.map(() => {
        const cell = document.createElement('div');
        cell.className = 'strip';
        const label = document.createElement('span');
        label.className = 'label';
        const value = document.createElement('span');
        value.className = 'value';
        cell.append(label, value);
        grid.append(cell);
        return { cell, label, value };
      });
      grid.style.gridTemplateColumns = 'repeat(' + strips.length + ', minmax(0, 1fr))';
    }
    strips.forEach((s, i) => {
      cells[i].label.textContent = s.label;
      cells[i].label.style.color = s.label_colour === '#000000' ? '' : s.label_colour;  // black: unset
      cells[i].cell.dataset.strip = s.strip;
    });
    const recorders = $('recorders');
    recorders.replaceChildren(...info.recorders.map((r) => {
      const li = document.createElement('li');
      li.className = r.state.replace(/ /g, '-');
      li.textContent = r.recorder + ': ' + r.device + ' (' + r.state + ')';
      return li;
    }));
    const log = $('log');
    log.replaceChildren(...info.log.map((line) => {
      const li = document.createElement('li');
      li.textContent = line;
      return li;
    }));
    mask = null;
  }

  function showLevels() {
    const strips = shown();
    strips.forEach((s, i) => {
      const live = levels.strips[i];
      if (!live || !cells[i]) return;
      const db = live[2];
      cells[i].value.textContent = db === null ? '-inf' : db.toFixed(1);
      cells[i].cell.dataset.level = db === null ? '' : String(db);
      cells[i].cell.dataset.state = live[3];
      cells[i].cell.className = 'strip ' + live[3];
    });
    const c = levels.correlation;
    $('correlation').hidden = !c;
    if (c) {
      const v = c.value === null ? '--' : (c.value > 0 ? '+' : '') + c.value.toFixed(2);
      $('correlation').textContent = 'Correlation, pair ' + c.pair + ': ' + v;
    }
    const l = levels.loudness;
    $('loudness').hidden = !l;
    if (l) {
      const f = (v) => (v === null ? '--' : v.toFixed(1));
      $('loudness').textContent = 'Loudness: M ' + f(l.momentary) + ', S ' + f(l.short_term) + ', I ' +
        f(l.integrated) + ' LUFS, LRA ' + f(l.range) + ' LU';
    }
  }

  function requestDraw() {
    if (drawPending || document.hidden) return;
    drawPending = true;
    requestAnimationFrame(() => {
      drawPending = false;
      draw();
    });
  }
  window.addEventListener('resize', () => {
    mask = null;
    requestDraw();
  });

  // Geometry of the bars in device pixels.
  function layout(canvas) {
    const ratio = window.devicePixelRatio || 1;
    const w = Math.round(canvas.clientWidth * ratio);
    const h = Math.round(canvas.clientHeight * ratio);
    if (canvas.width !== w || canvas.height !== h) {
      canvas.width = w;
      canvas.height = h;
      mask = null;
    }
    const scale = parseFloat(getComputedStyle(document.documentElement).getPropertyValue('--scale')) * ratio;
    const n = Math.max(1, shown().length);
    const top = Math.round(6 * ratio);
    return { ratio, w, h, scale, n, column: (w - scale) / n, top, height: h - 2 * top };
  }

  // The gaps between segments, drawn once per size over all bars.
  function buildMask(g, strips) {
    const m = document.createElement('canvas');
    m.width = g.w;
    m.height = g.h;
    const c = m.getContext('2d');
    c.fillStyle = '#000';
    strips.forEach((s, i) => {
      const step = g.height / Math.max(1, s.segments);
      if (step < 3) return;
      const x = Math.round(g.scale + i * g.column + g.column * 0.2);
      const bw = Math.max(1, Math.round(g.column * 0.6));
      for (let k = 1; k < s.segments; ++k) c.fillRect(x, Math.round(g.top + k * step), bw, 1);
    });
    return m;
  }

  function draw() {
    const canvas = $('canvas');
    if (!info || canvas.clientWidth === 0) return;
    const g = layout(canvas);
    const c = canvas.getContext('2d');
    const strips = shown();
    c.fillStyle = '#000';
    c.fillRect(0, 0, g.w, g.h);

    c.fillStyle = '#fffbf0';
    c.font = Math.round(10 * g.ratio) + 'px sans-serif';
    c.textAlign = 'right';
    c.textBaseline = 'middle';
    let last = -1e9;
    for (const [text, y] of info.scale) {
      const py = g.top + y * g.height;
      if (py - last < 11 * g.ratio) continue;
      c.fillText(text, g.scale - 4 * g.ratio, py);
      last = py;
    }

    strips.forEach((s, i) => {
      const live = levels ? levels.strips[i] : null;
      const segments = Math.max(1, s.segments);
      const step = g.height / segments;
      const x = Math.round(g.scale + i * g.column + g.column * 0.2);
      const bw = Math.max(1, Math.round(g.column * 0.6));
      if (live && live[3] === 'alarm') {
        c.fillStyle = '#c00000';
        c.fillRect(Math.round(g.scale + i * g.column), 0, Math.ceil(g.column), g.h);
      }
      const bar = live ? live[0] : 0;
      const peak = live ? live[1] : 0;
      const zone = (k) => (k > s.zones[1] ? 2 : k > s.zones[0] ? 1 : 0);
      // Segments a ... b (1 = bottom) in their zones' colours.
      const range = (a, b, colours) => {
        let k = a;
        while (k <= b) {
          const z = zone(k);
          const end = Math.min(b, z === 0 ? s.zones[0] : z === 1 ? s.zones[1] : segments);
          c.fillStyle = colours[z];
          const y0 = g.top + g.height - end * step;
          c.fillRect(x, Math.round(y0), bw, Math.round(g.top + g.height - (k - 1) * step) - Math.round(y0));
          k = Math.max(end, k) + 1;
        }
      };
      range(bar + 1, segments, s.off);
      range(1, bar, s.on);
      if (peak > bar) range(peak, peak, s.on);
    });
    if (!mask) mask = buildMask(g, strips);
    c.drawImage(mask, 0, 0);
  }

  check();
})();
