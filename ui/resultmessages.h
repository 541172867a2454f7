#pragma once

namespace quendle {

class Feedback;
struct ConnectResult;
struct OfflinePageResult;
struct UploadResult;
struct WriteHeadResult;

// How the windows show what a sequence returned: the message, its icon, and the beep that comes
// before "File Transferred!".
void showResult(Feedback& feedback, const UploadResult& result);
void showResult(Feedback& feedback, const ConnectResult& result);
void showResult(Feedback& feedback, const OfflinePageResult& result);
void showResult(Feedback& feedback, const WriteHeadResult& result);

} // namespace quendle
