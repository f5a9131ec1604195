-- Heliq reference data, for SQLite and PostgreSQL alike: what every installation needs.
--
-- `heliq init` loads it after the schema file of the dialect, on a fresh database: the
-- parameters with their defaults, the scheduled services (all switched off), the dispatch
-- criterion weights, the mail templates and their texts, the labels of log comments and of the
-- admin utility, and the FAQ notification settings. The demo data (demo.sql) builds on it.
-- Plain INSERTs with literal values only, every statement on its own line, so no line ends
-- inside a string. The mail templates' sender addresses and links are examples: change them in
-- EMAIL once installed.

-- Settings. Escalation limits are hours. Reminder_Time is hours until an answered request
-- reminds its customer. Attachments, engineer lists and reports live below var/files.
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('DataFileRelativePath', 0, 'var/files');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('Reminder_Time', 0, '72');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('Manual_Dispatching', 0, 'True');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('BackOfficeApplication', 0, '3');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('Escalation_mail', 0, '1');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('Dispatcher_EscalationMail', 0, '1');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('Engineer_EscalationMail', 0, '1');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('Supervisor_EscalationMail', 0, '1');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('MaxHours_Registered', 0, '4');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('MaxHours_Assigned', 0, '24');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('MaxHours_SCQueue', 0, '8');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('MaxHours_SCEAssigned', 0, '48');
-- Last master-data synchronisation, one row per back-office run: 3 = Mk5, 1 = Mk4.
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('LastSynchronizedDate', 3, '2009-01-01 00:00:00');
INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES ('LastSynchronizedDate', 1, '2009-01-01 00:00:00');

-- Scheduled maintenance services, all switched off so that the admin panel can run each.
INSERT INTO DAEMON (NAME, STATUS, INTERVAL, COMMENTS) VALUES ('Alert', 0, 24, 'Reminds customers of answered requests');
INSERT INTO DAEMON (NAME, STATUS, INTERVAL, COMMENTS) VALUES ('Archive', 0, 24, 'Archives finished requests');
INSERT INTO DAEMON (NAME, STATUS, INTERVAL, COMMENTS) VALUES ('Delete', 0, 168, 'Removes unused requests and temporary folders');
INSERT INTO DAEMON (NAME, STATUS, INTERVAL, COMMENTS) VALUES ('Dormant User Expiry', 0, 720, 'Expires dormant prospects');

-- Criterion weights, the same for both centres. A matching business partner or product
-- category counts most, then keyword, question category, language, country, registration set.
INSERT INTO CCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (1, 50, 'Business partner');
INSERT INTO CCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (2, 10, 'Country');
INSERT INTO CCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (3, 30, 'Keyword in the request text');
INSERT INTO CCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (4, 20, 'Language');
INSERT INTO CCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (5, 40, 'Product category');
INSERT INTO CCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (6, 25, 'Question category');
INSERT INTO CCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (7, 5, 'Registration set');
INSERT INTO SCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (1, 50, 'Business partner');
INSERT INTO SCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (2, 10, 'Country');
INSERT INTO SCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (3, 30, 'Keyword in the request text');
INSERT INTO SCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (4, 20, 'Language');
INSERT INTO SCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (5, 40, 'Product category');
INSERT INTO SCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (6, 25, 'Question category');
INSERT INTO SCEDISWEIGHT (ID, WEIGHT, DESCRIPTION) VALUES (7, 5, 'Registration set');

-- Mail templates. 29, 30 and 31 are the escalation mails to dispatchers, engineers and
-- supervisors, 33 carries a generated report. Subject, body and description are text
-- identifiers: the escalation run resolves them in DATALABEL, the template reader in
-- I18NTEXT, so both tables hold them.
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (29, 'MAIL29_DESC', 'MAIL29_SUBJECT', 'MAIL29_BODY', NULL, 'http://servicedesk.example.com/heliq/dispatch', NULL, 29, 'servicedesk@example.com', NULL, 31);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (30, 'MAIL30_DESC', 'MAIL30_SUBJECT', 'MAIL30_BODY', NULL, 'http://servicedesk.example.com/heliq/myrequests', NULL, 30, 'servicedesk@example.com', NULL, 32);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (31, 'MAIL31_DESC', 'MAIL31_SUBJECT', 'MAIL31_BODY', NULL, 'http://servicedesk.example.com/heliq/overview', NULL, 31, 'servicedesk@example.com', NULL, 35);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (33, 'MAIL33_DESC', 'MAIL33_SUBJECT', 'MAIL33_BODY', NULL, NULL, NULL, 33, 'reports@example.com', NULL, NULL);

INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL29_DESC', 'Escalation of unassigned requests to the dispatchers');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL29_SUBJECT', 'Service requests waiting for dispatch');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL29_BODY', 'The following service requests have waited longer than agreed without an engineer. Please dispatch them.');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL30_DESC', 'Escalation of overdue requests to their engineer');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL30_SUBJECT', 'Your service requests are overdue');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL30_BODY', 'The following service requests assigned to you have waited longer than agreed. Please take care of them.');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL31_DESC', 'Escalation of overdue requests to the supervisors');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL31_SUBJECT', 'Overdue service requests by engineer');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL31_BODY', 'The following assigned service requests have waited longer than agreed, listed by engineer.');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL33_DESC', 'Analysis report');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL33_SUBJECT', 'Service desk analysis report');
INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, 'MAIL33_BODY', 'Please find the latest analysis report of the service desk attached.');

INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL29_DESC', 'Escalation of unassigned requests to the dispatchers');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL29_SUBJECT', 'Service requests waiting for dispatch');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL29_BODY', 'The following service requests have waited longer than agreed without an engineer. Please dispatch them.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL30_DESC', 'Escalation of overdue requests to their engineer');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL30_SUBJECT', 'Your service requests are overdue');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL30_BODY', 'The following service requests assigned to you have waited longer than agreed. Please take care of them.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL31_DESC', 'Escalation of overdue requests to the supervisors');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL31_SUBJECT', 'Overdue service requests by engineer');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL31_BODY', 'The following assigned service requests have waited longer than agreed, listed by engineer.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL33_DESC', 'Analysis report');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL33_SUBJECT', 'Service desk analysis report');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL33_BODY', 'Please find the latest analysis report of the service desk attached.');

-- Labels of log comments, escalation tables and the admin utility, English. A label shown
-- with a value (label, four semicolons, value) gets the value after its text, so those
-- texts end in a colon. Escalation column titles fit the rulers under them.
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3045', 'Description');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3186', 'Published to the FAQ as entry:');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3189', 'Request no.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3193', 'Priority');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3207', 'Yes');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3208', 'No');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3319', 'Customer');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3554', 'Assigned automatically to engineer:');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3752', 'Transferred to registered user:');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3968', 'Automatic dispatcher');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3990', 'Assigned to another engineer');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL3994', 'Engineer is no longer valid, dispatch rules removed:');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4140', 'Site visit');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4141', 'Database server');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4172', 'Browse...');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4173', 'Report template');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4221', 'The back office refused the call:');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4300', 'Status taken over from the back office');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4305', 'Analysis Report Wizard');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4306', 'Mail recipients');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4307', 'Target file name');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4308', 'Send the report by mail');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4309', 'Generate Report');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4310', '<< Back');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4311', 'Create an analysis report of the service requests as a spreadsheet');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4312', 'Data source');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4313', 'Database name');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4314', 'Login ID');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4315', 'Password');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4316', 'Template file');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4318', 'Engineer changed in the back office to:');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4319', 'The database details are not valid.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4320', 'The report template is not valid.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4321', 'The report was generated:');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4322', 'The report was sent by mail.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4329', 'The engineer assigned in the back office has no user in the directory');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4330', 'Service order recorded from the back office');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4332', 'already exists as');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4333', 'The file');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4334', 'Do you want to replace it?');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4335', 'Report details');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4336', 'Separate several addresses with semicolons');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4337', 'Save these settings for the next report');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4338', 'Exit');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4339', 'Save As...');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4364', 'is not a spreadsheet file. The name must end in .xls');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4365', 'The spreadsheet application is not installed.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4379', 'Enter a file name in front of the .xls extension.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'HQLBL4380', 'Enter a target file name.');

-- FAQ notification on change, not periodic: the admin panel keeps its Notify button.
INSERT INTO FAQPARAMETER (PARAMNAME, PARAMVALUE) VALUES ('MAILNOTIFY', 'Yes');
INSERT INTO FAQPARAMETER (PARAMNAME, PARAMVALUE) VALUES ('MODE_MAILNOTIFY', 'Immediate');
INSERT INTO FAQPARAMETER (PARAMNAME, PARAMVALUE) VALUES ('NTS_MAILNOTIFY', 'Off');

-- Maintenance services: 34 reminds the customer of an answered request, 35 tells the FAQ
-- subscribers about new entries (its texts are read through I18NTEXT like every template).
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (34, 'MAIL34_DESC', 'MAIL34_SUBJECT', 'MAIL34_BODY', NULL, 'http://servicedesk.example.com/heliq/myrequests', NULL, 34, 'servicedesk@example.com', NULL, NULL);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (35, 'MAIL35_DESC', 'MAIL35_SUBJECT', 'MAIL35_BODY', NULL, NULL, NULL, 35, 'faq@example.com', NULL, NULL);
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL34_DESC', 'Reminder of an answered service request');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL34_SUBJECT', 'Your service request has been answered');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL34_BODY', 'We answered your service request some time ago. Please tell us whether the solution helped, so that we can close it.');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL35_DESC', 'FAQ change notification');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL35_SUBJECT', 'New answers in the FAQ');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL35_BODY', 'The following FAQ entries were added or changed since our last notice:');

-- Notifications of a request's progress (common/request_notifications.h): 50 to 53 tell the
-- customer that his request was answered, waits for him, was closed or was cancelled; 54 tells an
-- engineer that a request was assigned to him. %ID%, %DESC% and %LINK% (the request's page, from
-- [host] public_url, else MAIL_HYPERLINK) are replaced in subject and text.
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (50, 'MAIL50_DESC', 'MAIL50_SUBJECT', 'MAIL50_BODY', NULL, 'http://servicedesk.example.com/heliq', NULL, 50, 'servicedesk@example.com', NULL, NULL);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (51, 'MAIL51_DESC', 'MAIL51_SUBJECT', 'MAIL51_BODY', NULL, 'http://servicedesk.example.com/heliq', NULL, 51, 'servicedesk@example.com', NULL, NULL);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (52, 'MAIL52_DESC', 'MAIL52_SUBJECT', 'MAIL52_BODY', NULL, 'http://servicedesk.example.com/heliq', NULL, 52, 'servicedesk@example.com', NULL, NULL);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (53, 'MAIL53_DESC', 'MAIL53_SUBJECT', 'MAIL53_BODY', NULL, 'http://servicedesk.example.com/heliq', NULL, 53, 'servicedesk@example.com', NULL, NULL);
INSERT INTO EMAIL (MAIL_ID, MAIL_DESC, MAIL_SUBJECT, MAIL_BODY, MAIL_HTML_FILE, MAIL_HYPERLINK, MAIL_PATH_XSL, MAIL_TYPE, MAIL_FROM, MAIL_BOA, MAIL_SENTTOROLE) VALUES (54, 'MAIL54_DESC', 'MAIL54_SUBJECT', 'MAIL54_BODY', NULL, 'http://servicedesk.example.com/heliq', NULL, 54, 'servicedesk@example.com', NULL, 32);
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL50_DESC', 'Notification: a request was answered');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL50_SUBJECT', 'Your service request %ID% has been answered');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL50_BODY', 'Your service request %ID% "%DESC%" has been answered. Read the solution and tell us whether it helped: %LINK%');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL51_DESC', 'Notification: a request waits for the customer');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL51_SUBJECT', 'Your service request %ID% is waiting for you');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL51_BODY', 'We need something from you before we can go on with your service request %ID% "%DESC%". Please open it: %LINK%');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL52_DESC', 'Notification: a request was closed');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL52_SUBJECT', 'Your service request %ID% has been closed');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL52_BODY', 'Your service request %ID% "%DESC%" has been closed. You can still read it: %LINK%');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL53_DESC', 'Notification: a request was cancelled');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL53_SUBJECT', 'Your service request %ID% has been cancelled');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL53_BODY', 'Your service request %ID% "%DESC%" has been cancelled. You can still read it: %LINK%');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL54_DESC', 'Notification: a request was assigned to an engineer');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL54_SUBJECT', 'Service request %ID% has been assigned to you');
INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, 'MAIL54_BODY', 'The service request %ID% "%DESC%" has been assigned to you: %LINK%');
