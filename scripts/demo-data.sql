-- Demo database of a small wholesale grocer in Central Java: its products, its customers and
-- three months of sales. The sales lines are generated from a counter, so the database is the
-- same on every machine and every run (the end-to-end test relies on that).
PRAGMA foreign_keys = ON;

CREATE TABLE products (
  code       TEXT PRIMARY KEY,
  name       TEXT NOT NULL,
  category   TEXT NOT NULL,
  unit       TEXT NOT NULL,
  unit_price INTEGER NOT NULL
);

CREATE TABLE customers (
  id    INTEGER PRIMARY KEY,
  name  TEXT NOT NULL,
  city  TEXT NOT NULL,
  phone TEXT
);

CREATE TABLE sales (
  id           INTEGER PRIMARY KEY,
  invoice      TEXT NOT NULL,
  sale_date    TEXT NOT NULL,
  customer_id  INTEGER NOT NULL REFERENCES customers(id),
  product_code TEXT NOT NULL REFERENCES products(code),
  qty          INTEGER NOT NULL,
  unit_price   INTEGER NOT NULL
);

INSERT INTO products (code, name, category, unit, unit_price) VALUES
  ('P001', 'Beras Pandan Wangi 5 kg', 'Sembako', 'karung', 78000),
  ('P002', 'Minyak Goreng Sawit 2 L', 'Sembako', 'pouch', 34500),
  ('P003', 'Gula Pasir 1 kg', 'Sembako', 'kg', 17500),
  ('P004', 'Tepung Terigu 1 kg', 'Sembako', 'kg', 13000),
  ('P005', 'Telur Ayam Ras 1 kg', 'Sembako', 'kg', 28000),
  ('P006', 'Kecap Manis 520 ml', 'Bumbu', 'botol', 23500),
  ('P007', 'Sambal Bawang 340 ml', 'Bumbu', 'botol', 16000),
  ('P008', 'Garam Beryodium 250 g', 'Bumbu', 'bungkus', 3500),
  ('P009', 'Kopi Bubuk Robusta 200 g', 'Minuman', 'bungkus', 27000),
  ('P010', 'Teh Celup Melati isi 25', 'Minuman', 'kotak', 8500),
  ('P011', 'Air Mineral 600 ml (dus 24)', 'Minuman', 'dus', 52000),
  ('P012', 'Susu Kental Manis 370 g', 'Minuman', 'kaleng', 12500),
  ('P013', 'Mi Instan Goreng (dus 40)', 'Makanan', 'dus', 118000),
  ('P014', 'Sarden Saus Tomat 425 g', 'Makanan', 'kaleng', 24000),
  ('P015', 'Kerupuk Udang 500 g', 'Makanan', 'bungkus', 32000),
  ('P016', 'Sabun Mandi Batang 85 g', 'Kebersihan', 'batang', 4500),
  ('P017', 'Deterjen Bubuk 800 g', 'Kebersihan', 'bungkus', 22000),
  ('P018', 'Sampo Sachet (renceng 12)', 'Kebersihan', 'renceng', 11000),
  ('P019', 'Pasta Gigi 190 g', 'Kebersihan', 'tube', 14500),
  ('P020', 'Isi Ulang LPG 3 kg', 'Rumah Tangga', 'tabung', 22000),
  ('P021', 'Korek Api Kayu (pak 10)', 'Rumah Tangga', 'pak', 6000),
  ('P022', 'Paket Sembako Keluarga', 'Paket', 'paket', 150000);

-- One customer's name carries markup characters and quotes, as names typed into a shop system
-- sometimes do: pages and downloads must show it as the text it is.
INSERT INTO customers (id, name, city, phone) VALUES
  (1, 'Warung Bu Sri', 'Yogyakarta', '0812-2731-0045'),
  (2, 'Toko Makmur Jaya', 'Semarang', '024-7601-233'),
  (3, 'Kedai Pak Darto', 'Surakarta', '0813-9022-4410'),
  (4, 'Warung Makan Sederhana', 'Klaten', '0857-2661-0981'),
  (5, 'Koperasi Karyawan Sejahtera', 'Sleman', '0274-868-112'),
  (6, 'Toko Berkah Abadi', 'Magelang', '0821-3340-7789'),
  (7, 'Minimarket Sinar Pagi', 'Bantul', '0274-367-540'),
  (8, 'Rumah Makan Padang Salero', 'Yogyakarta', '0811-2950-318'),
  (9, 'Toko Kelontong Ibu Ani', 'Surakarta', NULL),
  (10, 'UD Sumber Rezeki', 'Boyolali', '0276-321-077'),
  (11, 'Warung Kopi Mbah Karto', 'Gunungkidul', '0878-3912-5520'),
  (12, 'Catering Dapur Bunda', 'Sleman', '0819-0405-6632'),
  (13, 'Toko Tiga Saudara', 'Kulon Progo', '0274-773-901'),
  (14, 'Kantin SMA Negeri 3', 'Yogyakarta', NULL),
  (15, 'Pondok Pesantren Al-Hikmah', 'Magelang', '0293-788-415'),
  (16, 'Toko <b>Promo</b> "Hemat" & Co', 'Semarang', '0822-4188-3016'),
  (17, 'Angkringan Lik Man', 'Yogyakarta', '0896-7310-2248'),
  (18, 'Toko Roti Enak', 'Surakarta', '0271-714-260'),
  (19, 'Ibu Endang Purwanti', 'Bantul', NULL),
  (20, 'CV Maju Bersama', 'Klaten', '0272-325-118');

-- 330 sales lines on 110 invoices of three lines each, spread over September to November 2026.
-- Customers and products are picked by fixed strides so that some sell far more than others.
INSERT INTO sales (invoice, sale_date, customer_id, product_code, qty, unit_price)
WITH RECURSIVE line(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM line WHERE i < 329),
picked AS (
  SELECT i,
         i / 3 AS inv,
         printf('P%03d', 1 + ((i * 7 + (i / 3) * 5) % 23) % 22) AS code
  FROM line
)
SELECT printf('INV-2026-%04d', 1 + inv),
       date('2026-09-01', printf('+%d days', (inv * 91) / 110)),
       1 + ((inv * 13) % 29) % 20,
       code,
       1 + ((i * 5 + inv) % 9) * (CASE WHEN code IN ('P008', 'P016', 'P021') THEN 3 ELSE 1 END),
       (SELECT unit_price FROM products WHERE products.code = picked.code)
FROM picked
ORDER BY i;

-- Sales lines with their customer and product spelled out: short queries for the editor.
CREATE VIEW sales_detail AS
SELECT s.id, s.invoice, s.sale_date,
       s.customer_id, c.name AS customer, c.city,
       s.product_code, p.name AS product, p.category,
       s.qty, s.unit_price, s.qty * s.unit_price AS amount
FROM sales s
JOIN customers c ON c.id = s.customer_id
JOIN products p ON p.code = s.product_code;
