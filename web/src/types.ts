// The shapes of the API's answers the pages read (columns as the database names them).
export interface RequestRow {
  Q_ID: number;
  Q_STATUS: number;
  CENTER: number;
  Q_DESC: string | null;
  Q_ORIGINATOR: string | null;
  EMAILID: string | null;
  D_DIRECT_TO: string | null;
  Q_PRODUCTCAT: number | null;
  Q_CATEGORY: number | null;
  PRODUCTID?: number | null;
  REGISTEREDDATE: string | null;
  Q_DATE: string | null;
  T1_DATE: string | null;
  DEADLINE: string | null;
  LASTCHANGE: string | null;
  ESCALATED?: string | null;
  ARCHIVED?: boolean;
}

export interface RequestList {
  requests: RequestRow[];
  next_cursor?: string | null;
}

export interface Transaction {
  T_ID: number;
  T_NAME: string | null;
  T_STATUS: string | null;
  T_DATE: string | null;
  T_COMMENT: string | null;
  USERCOMMENT: string | null;
  TIMESPENT: number | null;
}

export interface Attachment {
  path: string;
  name: string;
  bytes: number;
  T_ID: number | null;
}

export interface RequestDetails {
  archived: boolean;
  request: RequestRow & {
    Q_TEXT: string | null;
    S_TEXT: string | null;
    S_LINK: string | null;
    A_TEXT: string | null;
    A_LINK: string | null;
    TOTALTIMESPENT: number | null;
    [column: string]: unknown;
  };
  reminder: Record<string, unknown> | null;
  transactions: Transaction[];
  attachments: Attachment[];
  call?: BackOfficeCall | null;
}

// A support-centre request's back-office call (GET /api/v1/requests/<id>): the columns of the
// request row and the contract and warranty recorded when the call was opened.
export interface BackOfficeCall {
  CALLNUMBER: string;
  Q_CALLTYPE: string | null;
  SERVICEORDER: string | null;
  LASTTRANSTIME: string | null;
  CONTRACT: string | null;
  CONTRACTDESC: string | null;
  WARRANTY: string | null;
  WARRANTYDESC: string | null;
  WEXPIRYDATE: string | null;
}
