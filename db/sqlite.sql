-- Heliq schema, SQLite dialect.
--
-- Creates every table of the system database and of the catalogue database (a default
-- installation keeps both in one file). Run once, on an empty database: there is no DROP
-- and no IF NOT EXISTS, so a second run fails on the first table instead of half-merging.
--
-- Conventions the code relies on:
--   * Date-time columns are declared exactly TIMESTAMP and hold text 'YYYY-MM-DD hh:mm:ss'.
--     The record-set layer converts them by that declared type.
--   * Flags are INTEGER 0/1, never BOOLEAN. Texts are TEXT.
--   * Keys that are looked up without regard to letter case (parameter names, label codes,
--     service names, logins, mail addresses) are COLLATE NOCASE on the column, so every
--     comparison, index and ORDER BY on them folds case.
--   * Each statement ends with a semicolon at the end of its line and no comment or string
--     holds one: the loader splits the file there.

-- The last request number handed out (one row): new numbers stay above it, so a number is
-- never handed out twice, even after its rows are gone.
CREATE TABLE REQUEST_NUMBERS (
  ID INTEGER NOT NULL PRIMARY KEY,
  LAST_ISSUED INTEGER NOT NULL
);
INSERT INTO REQUEST_NUMBERS (ID, LAST_ISSUED) VALUES (1, 0);

-- Active service requests. The front end inserts the row (status 0) with its own Q_ID.
-- Every column here must also exist in QUESTIONHISTORY: archiving copies the row by name.
CREATE TABLE QUESTIONS (
  Q_ID INTEGER NOT NULL PRIMARY KEY,
  Q_STATUS INTEGER NOT NULL DEFAULT 0,
  Q_DATE TIMESTAMP,
  REGISTEREDDATE TIMESTAMP,
  CENTER INTEGER,
  Q_PRODUCTCAT INTEGER,
  PRODUCTID INTEGER,
  Q_CATEGORY INTEGER,
  Q_DESC TEXT,
  Q_TEXT TEXT,
  Q_ORIGINATOR TEXT,
  PROSPECT INTEGER,
  EMAILID TEXT COLLATE NOCASE,
  BP_NUMBER TEXT,
  Q_PRIORITY INTEGER,
  Q_PRODUCT TEXT,
  Q_REPORTED TEXT,
  Q_SITE TEXT,
  Q_OBJECT TEXT,
  Q_OBJECTNR TEXT,
  OSVREQUESTED INTEGER,
  PREFSTARTDATE TIMESTAMP,
  D_DIRECT_TO TEXT COLLATE NOCASE,
  TOTALTIMESPENT INTEGER,
  -- Opaque stamp of the back office's last change, handed back unchanged on every update,
  -- so it is stored as the text the back office gave, not re-parsed as a date.
  LASTTRANSTIME TEXT,
  Q_CALL TEXT,
  Q_CALLTYPE TEXT,
  SERVICEORDER TEXT,
  S_TEXT TEXT,
  S_LINK TEXT,
  A_TEXT TEXT,
  A_LINK TEXT,
  A_DATE TIMESTAMP,
  BLOCKINGREASON TEXT
);

CREATE INDEX QUESTIONS_D_DIRECT_TO ON QUESTIONS (D_DIRECT_TO);

CREATE INDEX QUESTIONS_EMAILID ON QUESTIONS (EMAILID);

CREATE INDEX QUESTIONS_Q_STATUS ON QUESTIONS (Q_STATUS);

-- The request list's other filters: a centre's requests, a customer's, registered since.
CREATE INDEX QUESTIONS_CENTER ON QUESTIONS (CENTER, Q_STATUS);

CREATE INDEX QUESTIONS_Q_ORIGINATOR ON QUESTIONS (Q_ORIGINATOR);

CREATE INDEX QUESTIONS_REGISTEREDDATE ON QUESTIONS (REGISTEREDDATE);

-- Text search of the request list: substrings (three characters or more, without case) of
-- Q_DESC and Q_TEXT, kept in step with QUESTIONS by the triggers below.
CREATE VIRTUAL TABLE QUESTIONS_SEARCH USING fts5(
  Q_DESC, Q_TEXT, content='QUESTIONS', content_rowid='Q_ID', tokenize='trigram');

CREATE TRIGGER QUESTIONS_SEARCH_INSERT AFTER INSERT ON QUESTIONS BEGIN
  INSERT INTO QUESTIONS_SEARCH (rowid, Q_DESC, Q_TEXT) VALUES (new.Q_ID, new.Q_DESC, new.Q_TEXT);
END;

CREATE TRIGGER QUESTIONS_SEARCH_DELETE AFTER DELETE ON QUESTIONS BEGIN
  INSERT INTO QUESTIONS_SEARCH (QUESTIONS_SEARCH, rowid, Q_DESC, Q_TEXT)
    VALUES ('delete', old.Q_ID, old.Q_DESC, old.Q_TEXT);
END;

CREATE TRIGGER QUESTIONS_SEARCH_UPDATE AFTER UPDATE OF Q_ID, Q_DESC, Q_TEXT ON QUESTIONS BEGIN
  INSERT INTO QUESTIONS_SEARCH (QUESTIONS_SEARCH, rowid, Q_DESC, Q_TEXT)
    VALUES ('delete', old.Q_ID, old.Q_DESC, old.Q_TEXT);
  INSERT INTO QUESTIONS_SEARCH (rowid, Q_DESC, Q_TEXT) VALUES (new.Q_ID, new.Q_DESC, new.Q_TEXT);
END;

-- Reminder timer of each registered request: at most one row per request (registering again
-- restarts the row's timer; a second row would escalate the request twice).
CREATE TABLE REMINDER (
  Q_ID INTEGER NOT NULL,
  R_STATUS TEXT,
  T1_DATE TIMESTAMP,
  T2_DATE TIMESTAMP
);

CREATE UNIQUE INDEX REMINDER_Q_ID ON REMINDER (Q_ID);

-- The escalation run reads only rows whose timer runs. Cleared timers drop out of the index.
CREATE INDEX REMINDER_RUNNING ON REMINDER (T1_DATE, R_STATUS) WHERE T1_DATE IS NOT NULL;

-- Transaction log, one row per action. T_ID is assigned here and never reused, so a
-- request's rows read back in T_ID order are in insertion order.
CREATE TABLE TRANSACTIONS (
  T_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  Q_ID INTEGER NOT NULL,
  T_NAME TEXT,
  T_STATUS TEXT,
  CENTER INTEGER,
  T_DATE TIMESTAMP,
  T_COMMENT TEXT,
  USERCOMMENT TEXT,
  TIMESPENT INTEGER
);

CREATE INDEX TRANSACTIONS_Q_ID ON TRANSACTIONS (Q_ID, T_ID);

-- Requests changed since a time: the request list's changed_since filter.
CREATE INDEX TRANSACTIONS_T_DATE ON TRANSACTIONS (T_DATE, Q_ID);

-- Archive of finished requests: the columns of QUESTIONS plus ENDSTATUSTIME. No defaults,
-- so that a column that was null in the active row stays null here. Q_ID is indexed but
-- not unique: archiving must not fail on a number that was archived before.
CREATE TABLE QUESTIONHISTORY (
  Q_ID INTEGER NOT NULL,
  Q_STATUS INTEGER,
  Q_DATE TIMESTAMP,
  REGISTEREDDATE TIMESTAMP,
  CENTER INTEGER,
  Q_PRODUCTCAT INTEGER,
  PRODUCTID INTEGER,
  Q_CATEGORY INTEGER,
  Q_DESC TEXT,
  Q_TEXT TEXT,
  Q_ORIGINATOR TEXT,
  PROSPECT INTEGER,
  EMAILID TEXT COLLATE NOCASE,
  BP_NUMBER TEXT,
  Q_PRIORITY INTEGER,
  Q_PRODUCT TEXT,
  Q_REPORTED TEXT,
  Q_SITE TEXT,
  Q_OBJECT TEXT,
  Q_OBJECTNR TEXT,
  OSVREQUESTED INTEGER,
  PREFSTARTDATE TIMESTAMP,
  D_DIRECT_TO TEXT COLLATE NOCASE,
  TOTALTIMESPENT INTEGER,
  LASTTRANSTIME TEXT,
  Q_CALL TEXT,
  Q_CALLTYPE TEXT,
  SERVICEORDER TEXT,
  S_TEXT TEXT,
  S_LINK TEXT,
  A_TEXT TEXT,
  A_LINK TEXT,
  A_DATE TIMESTAMP,
  BLOCKINGREASON TEXT,
  ENDSTATUSTIME TIMESTAMP
);

CREATE INDEX QUESTIONHISTORY_Q_ID ON QUESTIONHISTORY (Q_ID);

-- System parameters. A name may occur once per PARAM_TYPE (LastSynchronizedDate has one
-- row per back-office generation). Plain settings use type 0.
CREATE TABLE PARAMETERS (
  PARAM_NAME TEXT COLLATE NOCASE NOT NULL,
  PARAM_TYPE INTEGER NOT NULL DEFAULT 0,
  PARAM_VALUE TEXT,
  PRIMARY KEY (PARAM_NAME, PARAM_TYPE)
);

-- Prospects: customers known only by a mail address. The address is not unique because a
-- new prospect is inserted without looking for an existing row. PROSPECT_ID identifies
-- the one row an update writes.
CREATE TABLE PROSPECT (
  PROSPECT_ID INTEGER PRIMARY KEY,
  EMAILID TEXT COLLATE NOCASE NOT NULL,
  PIN INTEGER,
  INFORMATION TEXT,
  REGISTEREDTIME TIMESTAMP,
  LASTVISITEDTIME TIMESTAMP,
  PENDINGQUESTIONS INTEGER
);

CREATE INDEX PROSPECT_EMAILID ON PROSPECT (EMAILID);

-- Scheduled maintenance services: one row each, created at installation.
CREATE TABLE DAEMON (
  NAME TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
  STATUS INTEGER NOT NULL DEFAULT 0,
  INTERVAL INTEGER,
  COMMENTS TEXT
);

-- Dispatch rules of call-centre engineers. List columns hold values each enclosed in
-- semicolons. RULE_ID tells apart several rows of one engineer: counters change one row.
CREATE TABLE CCEDISRULE (
  RULE_ID INTEGER PRIMARY KEY,
  LOGIN TEXT COLLATE NOCASE NOT NULL,
  BUSPART TEXT,
  COUNTRY TEXT,
  KEYWORD TEXT DEFAULT '',
  LANGUAGE TEXT,
  PRODCAT TEXT,
  QUESCAT TEXT,
  REGSET TEXT,
  QUEUESIZE INTEGER DEFAULT 0,
  EXPERIENCE INTEGER DEFAULT 0,
  APPLYFORAUTOMATIC INTEGER NOT NULL DEFAULT 0
);

CREATE INDEX CCEDISRULE_LOGIN ON CCEDISRULE (LOGIN);

CREATE INDEX CCEDISRULE_AUTOMATIC
  ON CCEDISRULE (APPLYFORAUTOMATIC, QUEUESIZE, EXPERIENCE DESC, LOGIN);

-- Dispatch rules of support-centre engineers, same layout.
CREATE TABLE SCEDISRULE (
  RULE_ID INTEGER PRIMARY KEY,
  LOGIN TEXT COLLATE NOCASE NOT NULL,
  BUSPART TEXT,
  COUNTRY TEXT,
  KEYWORD TEXT DEFAULT '',
  LANGUAGE TEXT,
  PRODCAT TEXT,
  QUESCAT TEXT,
  REGSET TEXT,
  QUEUESIZE INTEGER DEFAULT 0,
  EXPERIENCE INTEGER DEFAULT 0,
  APPLYFORAUTOMATIC INTEGER NOT NULL DEFAULT 0
);

CREATE INDEX SCEDISRULE_LOGIN ON SCEDISRULE (LOGIN);

CREATE INDEX SCEDISRULE_AUTOMATIC
  ON SCEDISRULE (APPLYFORAUTOMATIC, QUEUESIZE, EXPERIENCE DESC, LOGIN);

-- Criterion weights, read in ID order: the n-th row is the weight of criterion n (at most
-- seven rows). WEIGHT may hold a fraction, which dispatching rounds.
CREATE TABLE CCEDISWEIGHT (
  ID INTEGER NOT NULL PRIMARY KEY,
  WEIGHT REAL,
  DESCRIPTION TEXT
);

CREATE TABLE SCEDISWEIGHT (
  ID INTEGER NOT NULL PRIMARY KEY,
  WEIGHT REAL,
  DESCRIPTION TEXT
);

-- Contract and warranty details of back-office calls, one row per call.
CREATE TABLE CALLDETAIL (
  CALLNUMBER TEXT NOT NULL PRIMARY KEY,
  CONTRACT TEXT,
  CONTRACTDESC TEXT,
  WARRANTY TEXT,
  WARRANTYDESC TEXT,
  WEXPIRYDATE TIMESTAMP
);

-- Localised texts of the front end, the utilities and the escalation tables.
CREATE TABLE I18NTEXT (
  LOCALEID INTEGER NOT NULL,
  LABEL TEXT COLLATE NOCASE NOT NULL,
  TEXT TEXT NOT NULL,
  PRIMARY KEY (LOCALEID, LABEL)
);

-- Mail templates. MAIL_DESC, MAIL_SUBJECT and MAIL_BODY hold text identifiers, resolved
-- through I18NTEXT or DATALABEL, never the texts themselves.
CREATE TABLE EMAIL (
  MAIL_ID INTEGER NOT NULL PRIMARY KEY,
  MAIL_DESC TEXT,
  MAIL_SUBJECT TEXT,
  MAIL_BODY TEXT,
  MAIL_HTML_FILE TEXT,
  MAIL_HYPERLINK TEXT,
  MAIL_PATH_XSL TEXT,
  MAIL_TYPE INTEGER,
  MAIL_FROM TEXT,
  MAIL_BOA INTEGER,
  MAIL_SENTTOROLE INTEGER
);

-- Localised texts of mail templates, by text identifier.
CREATE TABLE DATALABEL (
  LOCALEID INTEGER NOT NULL,
  TEXTID TEXT COLLATE NOCASE NOT NULL,
  TEXT TEXT NOT NULL,
  PRIMARY KEY (LOCALEID, TEXTID)
);

-- Answer drafts the front end shows before an answer is sent. Cleared when it is sent.
CREATE TABLE PREVIEW (
  Q_ID INTEGER NOT NULL,
  T_NAME TEXT,
  S_TEXT TEXT,
  S_LINK TEXT,
  A_TEXT TEXT,
  A_LINK TEXT,
  PREVIEWDATE TIMESTAMP
);

CREATE INDEX PREVIEW_Q_ID ON PREVIEW (Q_ID);

-- What the front end's "file a request" form offers: product categories and, under each, the
-- request categories (the numbers dispatch rules match in PRODCAT and QUESCAT), and the names
-- of the status codes. LABEL is an I18NTEXT label, translated by the front end.
CREATE TABLE PRODUCTCAT (
  PRODUCTCAT INTEGER NOT NULL PRIMARY KEY,
  LABEL TEXT COLLATE NOCASE NOT NULL,
  SORTORDER INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE QUESTIONCAT (
  PRODUCTCAT INTEGER NOT NULL REFERENCES PRODUCTCAT (PRODUCTCAT),
  CATEGORY INTEGER NOT NULL,
  LABEL TEXT COLLATE NOCASE NOT NULL,
  SORTORDER INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (PRODUCTCAT, CATEGORY)
);

CREATE TABLE STATUSLABEL (
  Q_STATUS INTEGER NOT NULL PRIMARY KEY,
  LABEL TEXT COLLATE NOCASE NOT NULL
);

-- Master data copied from the back office by the synchronisation runs.
CREATE TABLE PRIORITY (
  PRIORITY INTEGER NOT NULL PRIMARY KEY,
  DESCRIPTION TEXT
);

CREATE TABLE PROBLEM (
  PROBLEM TEXT NOT NULL PRIMARY KEY,
  DESCRIPTION TEXT,
  CALLTYPE TEXT
);

CREATE TABLE SYMPTOM (
  SYMPTOM TEXT NOT NULL PRIMARY KEY,
  DESCRIPTION TEXT
);

CREATE TABLE SITE (
  SITE TEXT NOT NULL PRIMARY KEY,
  DESCRIPTION TEXT,
  CUSTOMER TEXT
);

CREATE TABLE OBJECT (
  SITE TEXT NOT NULL,
  OBJECT TEXT NOT NULL,
  OBJECTNR TEXT NOT NULL,
  SERIALNUMBER TEXT,
  ITEM TEXT,
  OBJECTDESC TEXT,
  PRIMARY KEY (SITE, OBJECT, OBJECTNR)
);

CREATE TABLE PRODUCT (
  PRODUCT TEXT NOT NULL PRIMARY KEY,
  DESCRIPTION TEXT,
  SITE TEXT
);

-- Catalogue database: FAQ notification settings.
CREATE TABLE FAQPARAMETER (
  PARAMNAME TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
  PARAMVALUE TEXT
);

-- Catalogue database: the FAQ list. FAQ_ID is assigned here and returned to the publisher.
-- The other columns take the values of an FAQ entry in the order the publisher passes them.
CREATE TABLE FAQLIST (
  FAQ_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  FAQ_TYPE INTEGER NOT NULL DEFAULT 0,
  FAQ_PRODUCTCAT INTEGER,
  FAQ_CATEGORY INTEGER,
  FAQ_PUBLISH_FOR INTEGER,
  FAQ_TITLE TEXT,
  FAQ_QUESTION TEXT,
  FAQ_ANSWER TEXT,
  FAQ_DATE TIMESTAMP,
  FAQ_KEYWORDS TEXT,
  FAQ_LINK TEXT
);

CREATE INDEX FAQLIST_CATEGORY ON FAQLIST (FAQ_PRODUCTCAT, FAQ_CATEGORY);

-- Sessions of signed-in people, shared by every host. TOKEN_HASH is the BLAKE2b hash (hex) of the
-- token the client holds; the token itself is never stored. Times are epoch seconds of local
-- civil time, like every time the system takes.
CREATE TABLE SESSIONS (
  TOKEN_HASH TEXT NOT NULL PRIMARY KEY,
  LOGIN TEXT,
  EMAIL TEXT,
  PROSPECT INTEGER NOT NULL DEFAULT 0,
  ROLES TEXT,
  DISPLAY_NAME TEXT,
  LOCALE INTEGER,
  CSRF_TOKEN TEXT NOT NULL,
  CREATED INTEGER NOT NULL,
  LAST_SEEN INTEGER NOT NULL,
  IDLE_EXPIRES INTEGER NOT NULL,
  ABSOLUTE_EXPIRES INTEGER NOT NULL
);

CREATE INDEX SESSIONS_EXPIRES ON SESSIONS (IDLE_EXPIRES);

-- Failed sign-ins per account (KIND 'account', NAME the lower-case login) and per client address
-- (KIND 'address'), counted in one-minute windows; LOCKED_UNTIL refuses attempts without a check.
CREATE TABLE SIGNIN_FAILURES (
  KIND TEXT NOT NULL,
  NAME TEXT NOT NULL,
  FAILURES INTEGER NOT NULL,
  WINDOW_START INTEGER NOT NULL,
  LOCKOUTS INTEGER NOT NULL,
  LOCKED_UNTIL INTEGER NOT NULL,
  LAST_FAILURE INTEGER NOT NULL,
  PRIMARY KEY (KIND, NAME)
);

-- The lease of each scheduled service: the host holding it ("<host name>:<pid>") and when it
-- expires (epoch seconds of local civil time). Taken and renewed by single statements that
-- commit on their own; a dead holder's lease simply expires.
CREATE TABLE SERVICE_LEASES (
  SERVICE TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
  HOLDER TEXT NOT NULL,
  EXPIRES INTEGER NOT NULL
);

-- Every run of a scheduled service, by a host's scheduler or by hand; ENDED stays NULL when the
-- host died during the run. OUTCOME is "ok" or "failed: <why>".
CREATE TABLE SERVICE_RUNS (
  RUN_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  SERVICE TEXT COLLATE NOCASE NOT NULL,
  HOST TEXT NOT NULL,
  STARTED TIMESTAMP NOT NULL,
  ENDED TIMESTAMP,
  OUTCOME TEXT
);

CREATE INDEX SERVICE_RUNS_SERVICE ON SERVICE_RUNS (SERVICE, RUN_ID);

-- The mail outbox: every mail, written by the unit of work that decides to send it and delivered
-- after commit. NEXT_ATTEMPT (epoch seconds of local civil time) is when a sender may next try:
-- NULL once sent or given up. A sender's claim moves it ahead by the claim period and counts the
-- attempt in ATTEMPTS. MAIL_TO and MAIL_CC hold one address a line; ATTACHMENTS three lines per
-- file (name, content type, base64 bytes), NULL for none.
CREATE TABLE MAIL_OUTBOX (
  M_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  CREATED TIMESTAMP NOT NULL,
  MAIL_FROM TEXT NOT NULL,
  MAIL_TO TEXT NOT NULL,
  MAIL_CC TEXT NOT NULL,
  SUBJECT TEXT NOT NULL,
  BODY TEXT NOT NULL,
  ATTACHMENTS TEXT,
  ATTEMPTS INTEGER NOT NULL DEFAULT 0,
  NEXT_ATTEMPT INTEGER,
  SENT TIMESTAMP,
  LAST_ERROR TEXT
);

CREATE INDEX MAIL_OUTBOX_DUE ON MAIL_OUTBOX (NEXT_ATTEMPT) WHERE SENT IS NULL;

-- When the escalation run last mailed about each request (the supervisor's "escalated").
CREATE TABLE ESCALATIONS (
  Q_ID INTEGER NOT NULL PRIMARY KEY,
  ESCALATED TIMESTAMP NOT NULL
);
