-- Simulated back office, SQLite dialect: the tables of the "BackOffice" application's database.
--
-- The back office keeps its own calls, outside the system's unit of work. Table names carry the
-- prefix BO_ because on a shared PostgreSQL database they sit beside the system's tables.
-- Conventions as in ../sqlite.sql: date-time columns are declared TIMESTAMP and hold
-- 'YYYY-MM-DD hh:mm:ss'; each statement ends with a semicolon at the end of its line.

-- One row per call. LASTTRANSTIME is the stamp of the call's last change: text, unique, renewed
-- by every change; an update that brings another stamp is answered with the call's state.
CREATE TABLE BO_CALL (
  CALLNUMBER TEXT NOT NULL PRIMARY KEY,
  GENERATION INTEGER NOT NULL,
  CALLTYPE TEXT NOT NULL DEFAULT '',
  Q_ID INTEGER NOT NULL DEFAULT 0,
  BP_NUMBER TEXT NOT NULL DEFAULT '',
  DESCRIPTION TEXT NOT NULL DEFAULT '',
  CALLTEXT TEXT NOT NULL DEFAULT '',
  STATUS INTEGER NOT NULL,
  WAITINGFLAG INTEGER NOT NULL DEFAULT 0,
  WAITINGDESC TEXT NOT NULL DEFAULT '',
  SUPPORTENGCODE TEXT NOT NULL DEFAULT '',
  SERVICEORDER TEXT NOT NULL DEFAULT '',
  CONTRACT TEXT NOT NULL DEFAULT '',
  CONTRACTDESC TEXT NOT NULL DEFAULT '',
  WARRANTY TEXT NOT NULL DEFAULT '',
  WARRANTYDESC TEXT NOT NULL DEFAULT '',
  WARRANTYEXPDATE TEXT NOT NULL DEFAULT '',
  LASTOPTION INTEGER NOT NULL DEFAULT 0,
  LASTACTIONBY TEXT NOT NULL DEFAULT '',
  OPENED TIMESTAMP NOT NULL,
  CHANGED TIMESTAMP NOT NULL,
  LASTTRANSTIME TEXT NOT NULL
);
CREATE INDEX BO_CALL_Q_ID ON BO_CALL (Q_ID);

-- Every request the back office received (CreateCall, UpdateCall), with what it answered.
CREATE TABLE BO_REQUEST (
  REQUEST_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  RECEIVED TIMESTAMP NOT NULL,
  GENERATION INTEGER NOT NULL,
  OPERATION TEXT NOT NULL,
  CALLNUMBER TEXT NOT NULL DEFAULT '',
  CALL_OPTION INTEGER NOT NULL DEFAULT 0,
  ACTIONDONEBY TEXT NOT NULL DEFAULT '',
  SENTSTAMP TEXT NOT NULL DEFAULT '',
  OUTCOME TEXT NOT NULL
);
CREATE INDEX BO_REQUEST_CALLNUMBER ON BO_REQUEST (CALLNUMBER, REQUEST_ID);

-- Refusals waiting for the next requests, oldest first: each one is consumed by one request.
CREATE TABLE BO_CONTROL (
  CONTROL_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  MESSAGE TEXT NOT NULL
);

-- Counters (call numbers, stamps), created on first use and raised by one atomic statement.
CREATE TABLE BO_COUNTER (
  COUNTER_NAME TEXT NOT NULL PRIMARY KEY,
  COUNTER_VALUE INTEGER NOT NULL
);

-- Master data as the back office keeps it (priorities, problems, configurations, objects,
-- locations, ...): one row per field of a record. ENTITY names the back office's table
-- ("mk5-priorities", ...); RECORDKEY is the record's key fields joined with "|".
CREATE TABLE BO_MDRECORD (
  ENTITY TEXT NOT NULL,
  RECORDKEY TEXT NOT NULL,
  FIELDNAME TEXT NOT NULL,
  FIELDVALUE TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (ENTITY, RECORDKEY, FIELDNAME)
);

-- The audit trail of the master data: one row per change (ACTION 'I' inserted, 'U' updated,
-- 'D' deleted), with the record's image in BO_MDAUDITFIELD: every field for an insertion, the key
-- and the changed fields for an update, the key for a deletion.
CREATE TABLE BO_MDAUDIT (
  AUDIT_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  ENTITY TEXT NOT NULL,
  RECORDKEY TEXT NOT NULL,
  ACTION TEXT NOT NULL,
  CHANGED TIMESTAMP NOT NULL
);
CREATE INDEX BO_MDAUDIT_ENTITY ON BO_MDAUDIT (ENTITY, CHANGED);

CREATE TABLE BO_MDAUDITFIELD (
  AUDIT_ID INTEGER NOT NULL,
  FIELDNAME TEXT NOT NULL,
  FIELDVALUE TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (AUDIT_ID, FIELDNAME)
);

-- A refusal waiting for the next audit read of an entity: the read fails with MESSAGE after
-- delivering AFTER_ELEMENTS changes (0: at once).
CREATE TABLE BO_MDREFUSAL (
  ENTITY TEXT NOT NULL PRIMARY KEY,
  MESSAGE TEXT NOT NULL,
  AFTER_ELEMENTS INTEGER NOT NULL DEFAULT 0
);
