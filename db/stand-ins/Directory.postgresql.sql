-- The embedded directory (application "Directory"), PostgreSQL dialect: users with their
-- attributes, their roles, and the business partners. Loaded by heliq init into the
-- database of the [connections] entry "Directory" (which may be the system database: the
-- DIR_ prefix keeps the names apart).
--
-- Logins, mail addresses and engineer codes are looked up without regard to letter case
-- (CITEXT; compare them with untyped bound parameters). Users sign in with their own
-- passwords, kept only as Argon2id hashes. Each statement ends with a semicolon at the end of
-- its line.

CREATE EXTENSION IF NOT EXISTS citext;

CREATE TABLE DIR_USER (
  LOGIN CITEXT NOT NULL PRIMARY KEY,
  GIVENNAME TEXT,
  SURNAME TEXT,
  MAIL CITEXT,
  LANGUAGEID TEXT,
  COUNTRY TEXT,
  BUSINESSPARTNERID TEXT,
  REGISTRATIONSET TEXT,
  ENGINEERCODE CITEXT,
  -- Argon2id hash in libsodium's text form (crypto_pwhash_str); null: the user cannot sign in.
  PASSWORDHASH TEXT
);
-- The back office names engineers by their code: a change of engineer there is looked up here.
CREATE INDEX DIR_USER_ENGINEERCODE ON DIR_USER (ENGINEERCODE);

CREATE TABLE DIR_USER_ROLE (
  LOGIN CITEXT NOT NULL REFERENCES DIR_USER (LOGIN) ON DELETE CASCADE,
  ROLE_ID INTEGER NOT NULL,
  PRIMARY KEY (LOGIN, ROLE_ID)
);
CREATE INDEX DIR_USER_ROLE_ROLE ON DIR_USER_ROLE (ROLE_ID, LOGIN);

CREATE TABLE DIR_PARTNER (
  BP_ID INTEGER NOT NULL PRIMARY KEY,
  NAME TEXT NOT NULL
);
