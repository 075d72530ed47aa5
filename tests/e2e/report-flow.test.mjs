// A person's way through the web pages, in Debian's Chromium: log in with the company name and
// API key, queue a query in the editor, let the running agent carry it out on the demo database,
// read the report in the viewer and download it as CSV.
//
// run.sh starts the demo (service, agent, database) and passes its address and login:
//   TALLYFRAME_DEMO_URL, TALLYFRAME_DEMO_COMPANY, TALLYFRAME_DEMO_API_KEY
// TALLYFRAME_E2E_SCREENSHOTS, when set, is a folder for editor.png, viewer.png and
// viewer-chart.png.
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';

const baseUrl = requiredEnv('TALLYFRAME_DEMO_URL');
const company = requiredEnv('TALLYFRAME_DEMO_COMPANY');
const apiKey = requiredEnv('TALLYFRAME_DEMO_API_KEY');
const screenshotDir = process.env.TALLYFRAME_E2E_SCREENSHOTS || '';

const editorUrl = `${baseUrl}/api/ReportQ.php`;
const viewerUrl = `${baseUrl}/api/report.php`;

// Customers 3, 9 and 16 of the demo database: a plain row, one whose phone is NULL, and one whose
// name holds markup characters, quotes and an ampersand.
const query = `SELECT id, name AS pelanggan, city AS kota, phone AS telp
FROM customers
WHERE id IN (16, 3, 9)
ORDER BY id`;
const fileName = 'pelanggan_pilihan';
const title = 'Pelanggan pilihan & "promo"';
const markupName = 'Toko <b>Promo</b> "Hemat" & Co';
const expectedHeader = ['id', 'pelanggan', 'kota', 'telp'];
const expectedRows = [
  ['3', 'Kedai Pak Darto', 'Surakarta', '0813-9022-4410'],
  ['9', 'Toko Kelontong Ibu Ani', 'Surakarta', ''],
  ['16', markupName, 'Semarang', '0822-4188-3016'],
];
// UTF-8 with a byte-order mark, so that Excel on Windows reads it right.
const expectedCsv =
  '\uFEFFid,pelanggan,kota,telp\r\n' +
  '3,Kedai Pak Darto,Surakarta,0813-9022-4410\r\n' +
  '9,Toko Kelontong Ibu Ani,Surakarta,\r\n' +
  '16,"Toko <b>Promo</b> ""Hemat"" & Co",Semarang,0822-4188-3016\r\n';

// Without the background-networking flags Chromium keeps trying hosts that this machine cannot
// reach; a fresh profile keeps runs independent of each other.
const chromiumFlags = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--no-first-run',
  '--disable-quic',
];

let profileDir;
let context;
let page;
const pageErrors = [];

function requiredEnv(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set; start this test through tests/e2e/run.sh`);
  return value;
}

async function cellTexts(row, selector) {
  return row.locator(selector).allTextContents();
}

before(async () => {
  profileDir = mkdtempSync(join(tmpdir(), 'tallyframe-chromium-'));
  // A persistent context is how Playwright hands Chromium its own --user-data-dir.
  context = await chromium.launchPersistentContext(profileDir, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: chromiumFlags,
    viewport: { width: 1280, height: 800 },
    acceptDownloads: true,
    timeout: 20000,
  });
  context.setDefaultTimeout(10000);
  page = context.pages()[0] ?? (await context.newPage());
  page.on('pageerror', (error) => pageErrors.push(String(error)));
});

after(async () => {
  await context?.close();
  if (profileDir) rmSync(profileDir, { recursive: true, force: true });
});

test('a query queued in the editor comes back through the agent as a report', { timeout: 60000 }, async () => {
  // A wrong API key is refused and opens no session.
  await page.goto(editorUrl);
  await page.fill('#login-company', company);
  await page.fill('#login-apikey', apiKey + 'x');
  await page.click('#login-submit');
  await page.locator('#login-error').waitFor();
  assert.equal(await page.locator('#session-company').count(), 0);

  await page.fill('#login-company', company);
  await page.fill('#login-apikey', apiKey);
  await page.click('#login-submit');
  assert.equal(await page.locator('#session-company').textContent(), company);

  await page.fill('#queue-sql', query);
  await page.fill('#queue-file', fileName);
  await page.fill('#queue-title', title);
  await page.click('#queue-submit');
  const message = await page.locator('#queue-message').textContent();
  const urut = message.match(/Permintaan (\d+) masuk antrean/)?.[1];
  assert.ok(urut, `no sequence number in the editor's message: ${message}`);
  const request = page.locator(`#request-${urut}`);
  assert.equal(await request.locator('.col-file').textContent(), fileName);
  assert.equal(await request.locator('.col-title').textContent(), title);
  assert.equal(await request.locator('.col-sql').textContent(), query);

  // The agent polls twice a second; the editor shows the request done once it was flagged.
  const waitUntil = Date.now() + 30000;
  while ((await request.locator('.col-state').textContent()).trim() !== 'done') {
    assert.ok(Date.now() < waitUntil, `request ${urut} is still pending after 30 s`);
    await page.waitForTimeout(500);
    await page.goto(editorUrl);
  }

  // The viewer lists the demo's two sample reports and this one, which opens as a table.
  await page.goto(viewerUrl);
  const files = await page.locator('#reports tbody .col-file').allTextContents();
  for (const name of ['penjualan_per_produk', 'omzet_per_pelanggan', fileName])
    assert.ok(files.includes(name), `the viewer lists ${files.join(', ')}, not ${name}`);
  const listed = page.locator('#reports tbody tr').filter({
    has: page.locator('.col-urut', { hasText: new RegExp(`^${urut}$`) }),
  });
  assert.equal(await listed.count(), 1);
  await listed.locator('.col-title a').click();

  assert.equal(await page.locator('#report-title').textContent(), title);
  assert.equal(await page.locator('#report-file').textContent(), fileName);
  assert.equal((await page.locator('#report-rows').textContent()).trim(), String(expectedRows.length));
  const table = page.locator('#report-table');
  assert.deepEqual(await cellTexts(table, 'thead th:not(.rownum)'), expectedHeader);
  const rows = table.locator('tbody tr');
  assert.equal(await rows.count(), expectedRows.length);
  for (let i = 0; i < expectedRows.length; ++i)
    assert.deepEqual(await cellTexts(rows.nth(i), 'td:not(.rownum)'), expectedRows[i]);
  // Database text is shown as text: the name's <b> is visible, not a bold element.
  assert.equal(await table.locator('b').count(), 0);
  assert.equal(await rows.nth(2).locator('td').nth(2).innerText(), markupName);
  assert.match(await page.locator('#report-footer').textContent(), /^Query termutakhir pada: /);

  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#csv-link')]);
  assert.equal(download.suggestedFilename(), `${fileName}.csv`);
  assert.equal(readFileSync(await download.path(), 'utf8'), expectedCsv);

  assert.deepEqual(pageErrors, []);
});

// How many pixels of the canvas are drawn (neither transparent nor white).
async function drawnPixels(locator) {
  return locator.evaluate((canvas) => {
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    let drawn = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i + 3] > 0 && (data[i] < 240 || data[i + 1] < 240 || data[i + 2] < 240)) ++drawn;
    }
    return drawn;
  });
}

async function openDemoReport(name) {
  await page.goto(viewerUrl);
  await page.locator('#reports tbody tr', { hasText: name }).locator('.col-title a').click();
  await page.locator('#report-table').waitFor();
}

test('the editor shows the agent, refuses empty and forged requests', { timeout: 30000 }, async () => {
  await page.goto(editorUrl);
  // The agent polls twice a second, so it was seen a moment ago.
  const status = page.locator('#agent-status');
  assert.match(await status.textContent(), /^agent last seen \d+ s ago$/);
  assert.equal(await status.getAttribute('class'), 'agent online');

  const before = await page.locator('#requests tbody tr').count();
  await page.fill('#queue-sql', '   ');
  await page.fill('#queue-file', 'kosong');
  await page.click('#queue-submit');
  assert.match(await page.locator('#queue-message').textContent(), /SQL dan nama file harus diisi/);
  assert.equal(await page.locator('#requests tbody tr').count(), before);

  // A POST with the session's cookie but without the form's token, as another site would send.
  const forged = await page.request.post(editorUrl, {
    form: { action: 'queue', sql: 'SELECT 1', file: 'palsu', title: 'Palsu' },
    maxRedirects: 0,
  });
  assert.equal(forged.status(), 403);
  const foreign = await page.request.post(editorUrl, {
    form: { action: 'logout' },
    headers: { Origin: 'http://evil.example' },
    maxRedirects: 0,
  });
  assert.equal(foreign.status(), 403);
  await page.goto(editorUrl);
  assert.equal(await page.locator('#requests tbody tr').count(), before);
  assert.equal(await page.locator('#session-company').textContent(), company);

  // A query the database refuses: the agent flags it without a report, and the list, which
  // refreshes by itself while something waits, says so.
  await page.fill('#queue-sql', 'SELECT * FROM tabel_yang_tidak_ada');
  await page.fill('#queue-file', 'gagal');
  await page.fill('#queue-title', 'Gagal');
  await page.click('#queue-submit');
  const urut = (await page.locator('#queue-message').textContent()).match(/Permintaan (\d+)/)[1];
  await page
    .locator(`#request-${urut} .col-state`, { hasText: "ended without a report (see the agent's status line)" })
    .waitFor({ timeout: 15000 });
  assert.deepEqual(pageErrors, []);
});

test('a report reads as numbers, sorts, and draws a chart', { timeout: 30000 }, async () => {
  await openDemoReport('penjualan_per_produk');
  const table = page.locator('#report-table');
  // Numbers right-aligned with Indonesian thousands separators.
  const totalCell = table.locator('tbody tr').first().locator('td.num').last();
  assert.equal(await totalCell.evaluate((td) => getComputedStyle(td).textAlign), 'right');
  const raw = await totalCell.getAttribute('data-v');
  assert.ok(Number(raw) >= 1000, `a total of ${raw}`);
  assert.match(await totalCell.textContent(), /^\d{1,3}(\.\d{3})+(,\d+)?$/);

  // The chart is drawn in the page from the report.
  const canvas = page.locator('#chart-canvas');
  await canvas.waitFor();
  await page.waitForFunction(() => window.Chart && window.Chart.getChart('chart-canvas'));
  assert.ok((await drawnPixels(canvas)) > 2000, 'the chart canvas stays empty');
  assert.equal(await page.locator('#chart-label').inputValue(), '0');
  await page.selectOption('#chart-type', 'line');
  await page.check('#chart-values input[value="2"]');
  assert.equal(
    await page.evaluate(() => window.Chart.getChart('chart-canvas').data.datasets.length),
    2,
  );
  assert.ok((await drawnPixels(canvas)) > 2000);
  const [png] = await Promise.all([page.waitForEvent('download'), page.click('#chart-png')]);
  assert.equal(png.suggestedFilename(), 'penjualan_per_produk.png');
  assert.deepEqual([...readFileSync(await png.path()).subarray(0, 4)], [0x89, 0x50, 0x4e, 0x47]);

  // Sorting by the total column, both ways.
  const totals = async () =>
    (await table.locator('tbody tr').evaluateAll((rows) =>
      rows.map((row) => Number(row.querySelectorAll('td.num')[1].dataset.v)))).filter((n) => !Number.isNaN(n));
  await Promise.all([page.waitForURL(/dir=asc/), table.locator('thead th').nth(3).locator('a').click()]);
  const ascending = await totals();
  assert.ok(ascending.length > 3);
  assert.deepEqual(ascending, [...ascending].sort((a, b) => a - b));
  assert.equal(await table.locator('thead th').nth(3).getAttribute('aria-sort'), 'ascending');
  await Promise.all([page.waitForURL(/dir=desc/), table.locator('thead th').nth(3).locator('a').click()]);
  const descending = await totals();
  assert.deepEqual(descending, [...ascending].reverse());

  // The search keeps the sort and narrows the rows.
  const firstProduct = (await table.locator('tbody tr').first().locator('td').nth(1).textContent()).trim();
  await page.fill('#search', firstProduct);
  await Promise.all([page.waitForURL(/[?&]q=/), page.click('#search-submit')]);
  await page.locator('#search-count').waitFor();
  assert.ok((await table.locator('tbody tr').count()) >= 1);
  for (const name of await table.locator('tbody tr td:nth-child(2)').allTextContents())
    assert.ok(name.toLowerCase().includes(firstProduct.toLowerCase()), name);
  assert.equal(await table.locator('thead th').nth(3).getAttribute('aria-sort'), 'descending');
  assert.deepEqual(pageErrors, []);
});

test('screenshots', { skip: !screenshotDir, timeout: 30000 }, async () => {
  // The editor with a query ready to send, the viewer with one of the demo's reports and its chart.
  await page.goto(editorUrl);
  await page.fill('#queue-sql', 'SELECT customer, city, SUM(amount) AS total\nFROM sales_detail\nGROUP BY customer_id\nORDER BY total DESC');
  await page.fill('#queue-file', 'omzet_per_pelanggan');
  await page.fill('#queue-title', 'Omzet per pelanggan');
  await page.fill('#save-name', 'Omzet per pelanggan');
  await page.click('#save-submit');
  await page.locator('#saved').waitFor();
  await page.fill('#queue-sql', "SELECT invoice, sale_date, qty * unit_price AS total\nFROM sales\nWHERE sale_date >= '2026-11-01'\nORDER BY sale_date, invoice");
  await page.fill('#queue-file', 'penjualan_november');
  await page.fill('#queue-title', 'Penjualan November 2026');
  await page.fill('#save-name', 'Penjualan November');
  await page.screenshot({ path: join(screenshotDir, 'editor.png'), fullPage: true });
  // Tall enough for the chart and the report's 20 rows.
  await page.setViewportSize({ width: 1280, height: 1600 });
  await openDemoReport('omzet_per_pelanggan');
  await page.waitForFunction(() => window.Chart && window.Chart.getChart('chart-canvas'));
  await page.screenshot({ path: join(screenshotDir, 'viewer.png'), fullPage: true });
  await openDemoReport('penjualan_per_produk');
  await page.selectOption('#chart-type', 'line');
  await page.check('#chart-values input[value="2"]');
  await page.locator('#chart-panel').screenshot({ path: join(screenshotDir, 'viewer-chart.png') });
});
