-- Heliq demo data, for SQLite and PostgreSQL alike.
--
-- Load after the schema file of the dialect and reference.sql, on a fresh database
-- (`heliq init --demo`). Plain INSERTs with literal values only. Keys the database assigns
-- (rule, prospect and FAQ numbers) are left out so that the identity counters stay in step.
--
-- The dispatch rules name the demo engineers cce1, cce2, cce3 (call centre) and sce1, sce2
-- (support centre). Automatic dispatch only finds them when the directory knows them with
-- the engineer roles of their centre.
--
-- Rule list values are enclosed in semicolons inside the strings. Every statement sits on
-- its own line, so no line ends inside a string.

-- Call centre: cce1 handles printers for English-speaking partners 1000 and 1001, cce2
-- networks for German-speaking partner 2000. cce3 (licences, Japanese) is not yet trusted
-- with automatic dispatch and only appears in the ranked list for manual dispatching.
-- Keywords are not trimmed after the commas, so they carry no blanks.
INSERT INTO CCEDISRULE (LOGIN, BUSPART, COUNTRY, KEYWORD, LANGUAGE, PRODCAT, QUESCAT, REGSET, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) VALUES ('cce1', ';1000;1001;', ';US;GB;', 'printer,scanner,toner', ';1033;', ';1;2;', ';1;2;', ';1;2;', 0, 12, 1);
INSERT INTO CCEDISRULE (LOGIN, BUSPART, COUNTRY, KEYWORD, LANGUAGE, PRODCAT, QUESCAT, REGSET, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) VALUES ('cce2', ';2000;', ';DE;AT;CH;', 'network,router,vpn', ';1031;1033;', ';3;4;', ';2;3;', ';1;2;', 0, 8, 1);
INSERT INTO CCEDISRULE (LOGIN, BUSPART, COUNTRY, KEYWORD, LANGUAGE, PRODCAT, QUESCAT, REGSET, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) VALUES ('cce3', NULL, ';JP;', 'licence,license,installation', ';1041;', ';5;', ';1;2;3;', ';2;', 0, 2, 0);

-- Support centre: sce1 repairs hardware for partners 1000 and 2000, sce2 does firmware and
-- calibration for partner 1001.
INSERT INTO SCEDISRULE (LOGIN, BUSPART, COUNTRY, KEYWORD, LANGUAGE, PRODCAT, QUESCAT, REGSET, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) VALUES ('sce1', ';1000;2000;', ';US;GB;DE;', 'repair,hardware,replacement', ';1033;1031;', ';1;2;3;', ';4;', ';1;2;', 0, 20, 1);
INSERT INTO SCEDISRULE (LOGIN, BUSPART, COUNTRY, KEYWORD, LANGUAGE, PRODCAT, QUESCAT, REGSET, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) VALUES ('sce2', ';1001;', ';US;', 'firmware,calibration', ';1033;', ';2;4;', ';4;5;', ';1;', 0, 5, 1);

-- The FAQ subscribers the notification service mails.
INSERT INTO FAQPARAMETER (PARAMNAME, PARAMVALUE) VALUES ('SUBSCRIBERS_MAILNOTIFY', 'faq-news@example.com');

INSERT INTO FAQLIST (FAQ_TYPE, FAQ_PRODUCTCAT, FAQ_CATEGORY, FAQ_PUBLISH_FOR, FAQ_TITLE, FAQ_QUESTION, FAQ_ANSWER, FAQ_DATE, FAQ_KEYWORDS, FAQ_LINK) VALUES (0, 1, 1, 0, 'Printer shows a paper jam with no paper inside', 'The printer reports a paper jam although no paper is stuck.', 'Open the rear cover and clean the paper sensor with a dry cloth, then switch the printer off and on.', '2009-01-01 00:00:00', '', NULL);

-- Back-office master data (normally filled by the synchronisation runs).
INSERT INTO PRIORITY (PRIORITY, DESCRIPTION) VALUES (1, 'Critical');
INSERT INTO PRIORITY (PRIORITY, DESCRIPTION) VALUES (2, 'High');
INSERT INTO PRIORITY (PRIORITY, DESCRIPTION) VALUES (3, 'Normal');
INSERT INTO PRIORITY (PRIORITY, DESCRIPTION) VALUES (4, 'Low');

INSERT INTO PROBLEM (PROBLEM, DESCRIPTION, CALLTYPE) VALUES ('HWFAIL', 'Hardware failure', 'REPAIR');
INSERT INTO PROBLEM (PROBLEM, DESCRIPTION, CALLTYPE) VALUES ('SWERROR', 'Software error', 'SUPPORT');
INSERT INTO PROBLEM (PROBLEM, DESCRIPTION, CALLTYPE) VALUES ('INSTALL', 'Installation request', 'SERVICE');

INSERT INTO SYMPTOM (SYMPTOM, DESCRIPTION) VALUES ('NOPOWER', 'Does not switch on');
INSERT INTO SYMPTOM (SYMPTOM, DESCRIPTION) VALUES ('NOISE', 'Unusual noise');
INSERT INTO SYMPTOM (SYMPTOM, DESCRIPTION) VALUES ('ERRMSG', 'Shows an error message');

INSERT INTO SITE (SITE, DESCRIPTION, CUSTOMER) VALUES ('S1000-01', 'Head office, Springfield', '1000');
INSERT INTO SITE (SITE, DESCRIPTION, CUSTOMER) VALUES ('S1001-01', 'Warehouse, Shelbyville', '1001');
INSERT INTO SITE (SITE, DESCRIPTION, CUSTOMER) VALUES ('S2000-01', 'Branch office, Munich', '2000');

INSERT INTO OBJECT (SITE, OBJECT, OBJECTNR, SERIALNUMBER, ITEM, OBJECTDESC) VALUES ('S1000-01', 'PRN4000', '1', 'SN4000-0001', 'PRN4000', 'Laser printer, second floor');
INSERT INTO OBJECT (SITE, OBJECT, OBJECTNR, SERIALNUMBER, ITEM, OBJECTDESC) VALUES ('S1000-01', 'PRN4000', '2', 'SN4000-0002', 'PRN4000', 'Laser printer, reception');
INSERT INTO OBJECT (SITE, OBJECT, OBJECTNR, SERIALNUMBER, ITEM, OBJECTDESC) VALUES ('S2000-01', 'RTR200', '1', 'SN200-0042', 'RTR200', 'Branch router');

INSERT INTO PRODUCT (PRODUCT, DESCRIPTION, SITE) VALUES ('INST-0001', 'Printer fleet, head office', 'S1000-01');
INSERT INTO PRODUCT (PRODUCT, DESCRIPTION, SITE) VALUES ('INST-0002', 'Network, branch office', 'S2000-01');
