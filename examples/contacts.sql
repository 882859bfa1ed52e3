-- The database of examples/06-merge-from-filemaker.qcs, made with
--   sqlite3 examples/contacts.sqlite < examples/contacts.sql
-- FileMaker Pro serves its first table: the columns are the fields, the rows the records in
-- rowid order. A JSON array of texts is a repeating field.
CREATE TABLE members(First TEXT, Last TEXT, Email TEXT, Book TEXT, Phones TEXT);
INSERT INTO members VALUES
  ('Ann', 'Smith', 'ann@example.com', 'Emma', '["555-0101", "555-0102"]'),
  ('Bob', 'Jones', 'bob@example.com', 'Middlemarch', '["555-0103"]'),
  ('Chloé', 'Martin', 'chloe@example.com', 'Persuasion', '[]'),
  ('Dan', 'Brown', 'dan@example.com', 'The Moonstone', '["555-0104"]'),
  ('Eva', 'Sjöberg', 'eva@example.com', 'Cranford', '["555-0105", "", "555-0106"]'),
  ('Femi', 'Adeyemi', 'femi@example.com', 'North and South', NULL),
  ('Greta', 'Lind', 'greta@example.com', 'Villette', '["555-0107"]'),
  ('Hugo', 'Lefèvre', 'hugo@example.com', 'Shirley', NULL),
  ('Ines', 'Costa', 'ines@example.com', 'Sense and Sensibility', '["555-0108"]'),
  ('Jonas', 'Berg', 'jonas@example.com', 'Adam Bede', NULL),
  ('Kira', 'Novak', 'kira@example.com', 'Wives and Daughters', '["555-0109"]'),
  ('Leo', 'Marsh', 'leo@example.com', 'Silas Marner', NULL);
