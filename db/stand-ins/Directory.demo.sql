-- Demo directory, for SQLite and PostgreSQL alike. Plain INSERTs with literal values; each
-- statement on its own line.
--
-- Roles: 32 call-centre engineers, 36 support-centre engineers, 31 and 38 dispatchers,
-- 35 and 39 supervisors. The engineers cce1, cce2, cce3, sce1 and sce2 are the ones the
-- demo dispatch rules of the system database name. ENGINEERCODE is each engineer's code
-- in the back office. sce2's full name is too long for engineer lists and shows shortened.

INSERT INTO DIR_PARTNER (BP_ID, NAME) VALUES (1000, 'Springfield Office Supplies');
INSERT INTO DIR_PARTNER (BP_ID, NAME) VALUES (1001, 'Shelbyville Logistics');
INSERT INTO DIR_PARTNER (BP_ID, NAME) VALUES (2000, 'Munich Networks GmbH');

INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('cce1', 'Emily', 'Carter', 'cce1@servicedesk.example.com', '1033', 'US', NULL, NULL, 'CE01');
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('cce2', 'Jürgen', 'Schmidt', 'cce2@servicedesk.example.com', '1031', 'DE', NULL, NULL, 'CE02');
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('cce3', 'Haruki', 'Tanaka', 'cce3@servicedesk.example.com', '1041', 'JP', NULL, NULL, 'CE03');
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('sce1', 'Robert', 'Miller', 'sce1@servicedesk.example.com', '1033', 'US', NULL, NULL, 'SE01');
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('sce2', 'Maria Fernanda', 'Gonzalez de la Vega', 'sce2@servicedesk.example.com', '3082', 'US', NULL, NULL, 'SE02');
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('dispatch1', 'Laura', 'Bennett', 'dispatch1@servicedesk.example.com', '2057', 'GB', NULL, NULL, NULL);
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('dispatch2', 'Thomas', 'Keller', 'dispatch2@servicedesk.example.com', '1031', 'DE', NULL, NULL, NULL);
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('super1', 'Susan', 'Wright', 'super1@servicedesk.example.com', '1033', 'US', NULL, NULL, NULL);
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('super2', 'Klaus', 'Fischer', 'super2@servicedesk.example.com', '1031', 'DE', NULL, NULL, NULL);
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('cust1', 'John', 'Smith', 'john.smith@springfield-supplies.example.com', '1033', 'US', '1000', '1', NULL);
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('cust2', 'Mark', 'Davis', 'mark.davis@shelbyville-logistics.example.com', '1033', 'US', '1001', '1', NULL);
INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES ('cust3', 'Petra', 'Huber', 'petra.huber@munich-networks.example.com', '1031', 'DE', '2000', '2', NULL);

INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('cce1', 32);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('cce2', 32);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('cce3', 32);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('sce1', 36);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('sce2', 36);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('dispatch1', 31);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('dispatch2', 38);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('super1', 35);
INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES ('super2', 39);

-- DEMO ONLY: every demo user's password is heliq-demo (one Argon2id hash, computed once). A real
-- installation sets each password with heliq directory set-password LOGIN.
UPDATE DIR_USER SET PASSWORDHASH = '$argon2id$v=19$m=65536,t=2,p=1$E7kv7HirNgrEm5ULEihsvA$DjpuT8fOccUigiCJJHW4aOzfid4OzmmTUJkRsfYIAfw';
