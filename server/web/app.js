// Small enhancements of the editor and the report viewer. Values read from the page are written
// back only through .value and .textContent; nothing is ever inserted as HTML text.
'use strict';

const idNumber = new Intl.NumberFormat('id-ID', { maximumFractionDigits: 2 });

// --- editor ------------------------------------------------------------------------------------

function agentStatusText(seconds) {
  if (seconds < 120) return `agent last seen ${seconds} s ago`;
  if (seconds < 7200) return `agent last seen ${Math.floor(seconds / 60)} min ago`;
  return `agent last seen ${Math.floor(seconds / 3600)} h ago`;
}

// The server tells how long ago the agent asked; the page counts on from there.
function tickAgentStatus() {
  const status = document.getElementById('agent-status');
  if (!status || status.dataset.seconds === undefined) return;
  if (!status.dataset.loadedAt) status.dataset.loadedAt = String(Date.now());
  const seconds =
    Number(status.dataset.seconds) + Math.floor((Date.now() - Number(status.dataset.loadedAt)) / 1000);
  status.textContent = agentStatusText(seconds);
  status.classList.toggle('online', seconds < 15);
  status.classList.toggle('offline', seconds >= 15);
}

// The request list and the agent's status come again from the server: often while a request
// waits, now and then otherwise. The same page is fetched and its parts taken over as nodes.
async function refreshEditor() {
  const box = document.getElementById('requests-box');
  try {
    const response = await fetch(window.location.pathname, { credentials: 'same-origin' });
    if (response.ok && !response.redirected) {
      const fresh = new DOMParser().parseFromString(await response.text(), 'text/html');
      for (const id of ['requests-box', 'no-requests', 'agent-status']) {
        const mine = document.getElementById(id);
        const theirs = fresh.getElementById(id);
        if (mine && theirs) mine.replaceWith(document.importNode(theirs, true));
      }
      tickAgentStatus();
    }
  } catch (error) {
    // The service is away for a moment; the next round tries again.
  }
  const pending = document.getElementById('requests-box')?.dataset.pending === '1';
  window.setTimeout(refreshEditor, pending || box === null ? 2000 : 10000);
}

function setUpEditor() {
  if (!document.getElementById('queue-form')) return;
  document.addEventListener('submit', (event) => {
    const form = event.target;
    if (form.classList.contains('delete-form') &&
        !window.confirm('Hapus permintaan ' + form.dataset.urut + '?')) {
      event.preventDefault();
    }
    if (form.classList.contains('unsave-form') && !window.confirm('Hapus query simpanan ini?')) {
      event.preventDefault();
    }
  });
  document.addEventListener('click', (event) => {
    const button = event.target.closest('button.reuse');
    if (!button) return;
    const sql = document.getElementById('queue-sql');
    sql.value = button.dataset.sql || '';
    document.getElementById('queue-file').value = button.dataset.file || '';
    document.getElementById('queue-title').value = button.dataset.title || '';
    if (button.dataset.name !== undefined) document.getElementById('save-name').value = button.dataset.name;
    sql.focus();
    sql.scrollIntoView({ block: 'center' });
  });
  tickAgentStatus();
  window.setInterval(tickAgentStatus, 1000);
  const pending = document.getElementById('requests-box')?.dataset.pending === '1';
  window.setTimeout(refreshEditor, pending ? 2000 : 10000);
}

// --- report chart ------------------------------------------------------------------------------

const palette = ['#0b6bcb', '#e07b00', '#1e7d45', '#b42318', '#6941c6', '#0e9384', '#c11574'];

// A PNG with a transparent background is unreadable in most viewers.
const whiteBackground = {
  id: 'whiteBackground',
  beforeDraw(chart) {
    const { ctx } = chart;
    ctx.save();
    ctx.globalCompositeOperation = 'destination-over';
    ctx.fillStyle = '#ffffff';
    ctx.fillRect(0, 0, chart.width, chart.height);
    ctx.restore();
  },
};

function setUpChart() {
  const panel = document.getElementById('chart-panel');
  const table = document.getElementById('report-table');
  if (!panel || !table) return;
  const headers = [...table.querySelectorAll('thead th:not(.rownum)')];
  const names = headers.map((th) => th.textContent.trim());
  const numberColumns = headers.flatMap((th, i) => (th.dataset.kind === 'number' ? [i] : []));
  const rows = [...table.querySelectorAll('tbody tr')];
  if (numberColumns.length === 0 || rows.length === 0 || typeof window.Chart !== 'function') {
    const note = document.createElement('p');
    note.id = 'chart-empty';
    note.className = 'muted';
    note.textContent = 'Laporan ini tidak punya kolom angka untuk grafik.';
    panel.replaceChildren(note);
    return;
  }

  const labelSelect = document.getElementById('chart-label');
  const values = document.getElementById('chart-values');
  const typeSelect = document.getElementById('chart-type');
  names.forEach((name, i) => labelSelect.add(new Option(name, String(i))));
  // Label: the first column that is not a number, else the first column.
  const firstText = headers.findIndex((th) => th.dataset.kind !== 'number');
  labelSelect.value = String(firstText >= 0 ? firstText : 0);
  const firstValue = numberColumns.find((i) => i !== Number(labelSelect.value)) ?? numberColumns[0];
  for (const i of numberColumns) {
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.value = String(i);
    box.id = `chart-value-${i}`;
    box.checked = i === firstValue;
    label.append(box, ' ', names[i]);
    values.append(label);
  }

  const cell = (row, i) => row.querySelectorAll('td:not(.rownum)')[i];
  const canvas = document.getElementById('chart-canvas');
  let chart = null;
  const draw = () => {
    const labelColumn = Number(labelSelect.value);
    const picked = [...values.querySelectorAll('input:checked')].map((box) => Number(box.value));
    const datasets = picked.map((column, n) => ({
      label: names[column],
      data: rows.map((row) => {
        const raw = cell(row, column)?.dataset.v ?? '';
        return raw === '' ? null : Number(raw.replace(',', '.'));
      }),
      backgroundColor: palette[n % palette.length],
      borderColor: palette[n % palette.length],
      borderWidth: 2,
      pointRadius: rows.length > 60 ? 0 : 3,
      tension: 0.2,
    }));
    const labels = rows.map((row) => (cell(row, labelColumn)?.textContent ?? '').trim());
    if (chart) chart.destroy();
    chart = new window.Chart(canvas, {
      type: typeSelect.value === 'line' ? 'line' : 'bar',
      data: { labels, datasets },
      options: {
        animation: false,
        responsive: true,
        // Long labels are drawn slanted and reach left of the first bar.
        layout: { padding: { left: 24, right: 8 } },
        maintainAspectRatio: false,
        plugins: {
          legend: { display: datasets.length > 1 || datasets.length === 0, position: 'bottom' },
          tooltip: { callbacks: { label: (c) => `${c.dataset.label}: ${idNumber.format(c.parsed.y)}` } },
        },
        scales: { y: { beginAtZero: true, ticks: { callback: (v) => idNumber.format(v) } } },
      },
      plugins: [whiteBackground],
    });
  };
  labelSelect.addEventListener('change', draw);
  typeSelect.addEventListener('change', draw);
  values.addEventListener('change', draw);
  document.getElementById('chart-png').addEventListener('click', () => {
    const link = document.createElement('a');
    link.href = chart.toBase64Image('image/png');
    link.download = `${panel.dataset.name || 'grafik'}.png`;
    link.click();
  });
  draw();
}

document.addEventListener('DOMContentLoaded', () => {
  setUpEditor();
  setUpChart();
});
