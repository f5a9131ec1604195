// Files go to the request's store one by one (PUT .../attachments/<name>, raw body); the next
// action of the customer or engineer moves them into that action's folder.
import { call } from './api';

export async function uploadFiles(
  requestId: number,
  files: File[],
  onStart: (file: File) => void,
  onUploaded: (file: File) => void = () => undefined,
): Promise<void> {
  for (const file of files) {
    onStart(file);
    await call(`/api/v1/requests/${requestId}/attachments/${encodeURIComponent(file.name)}`, {
      method: 'PUT',
      raw: file,
    });
    onUploaded(file);
  }
}
