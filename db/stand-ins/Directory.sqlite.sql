-- The embedded directory (application "Directory"), SQLite dialect: users with their
-- attributes, their roles, and the business partners. Loaded by heliq init into the
-- database of the [connections] entry "Directory".
--
-- Logins, mail addresses and engineer codes are looked up without regard to letter case
-- (COLLATE NOCASE). Users sign in with their own passwords, kept only as Argon2id hashes. Each
-- statement ends with a semicolon at the end of its line.

CREATE TABLE DIR_USER (
  LOGIN TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
  GIVENNAME TEXT,
  SURNAME TEXT,
  MAIL TEXT COLLATE NOCASE,
  LANGUAGEID TEXT,
  COUNTRY TEXT,
  BUSINESSPARTNERID TEXT,
  REGISTRATIONSET TEXT,
  ENGINEERCODE TEXT COLLATE NOCASE,
  -- Argon2id hash in libsodium's text form (crypto_pwhash_str); null: the user cannot sign in.
  PASSWORDHASH TEXT
);
-- The back office names engineers by their code: a change of engineer there is looked up here.
CREATE INDEX DIR_USER_ENGINEERCODE ON DIR_USER (ENGINEERCODE);

CREATE TABLE DIR_USER_ROLE (
  LOGIN TEXT COLLATE NOCASE NOT NULL REFERENCES DIR_USER (LOGIN) ON DELETE CASCADE,
  ROLE_ID INTEGER NOT NULL,
  PRIMARY KEY (LOGIN, ROLE_ID)
);
CREATE INDEX DIR_USER_ROLE_ROLE ON DIR_USER_ROLE (ROLE_ID, LOGIN);

CREATE TABLE DIR_PARTNER (
  BP_ID INTEGER NOT NULL PRIMARY KEY,
  NAME TEXT NOT NULL
);
