#include "ui/resultmessages.h"

#include "publish/headwriting.h"
#include "publish/serverconnection.h"
#include "publish/uploadpage.h"
#include "ui/feedback.h"

namespace quendle {

void showResult(Feedback& feedback, const UploadResult& result)
{
    if (result.status == UploadResult::Status::Failed) {
        feedback.message(result.text, Feedback::Icon::Warning, result.details);
        return;
    }
    feedback.beep();
    feedback.message(result.text, Feedback::Icon::Information, result.details);
}

void showResult(Feedback& feedback, const ConnectResult& result)
{
    const bool failed = result.status == ConnectResult::Status::Failed ||
                        result.status == ConnectResult::Status::Untrusted;
    const Feedback::Icon icon = failed ? Feedback::Icon::Critical : Feedback::Icon::None;
    feedback.message(result.text, icon, result.details);
}

void showResult(Feedback& feedback, const OfflinePageResult& result)
{
    if (result.status == OfflinePageResult::Status::PageNotWritten) {
        feedback.message(result.text, Feedback::Icon::Warning);
        return;
    }
    showResult(feedback, UploadResult{result.status == OfflinePageResult::Status::Uploaded
                                          ? UploadResult::Status::Transferred
                                          : UploadResult::Status::Failed,
                                      result.text, result.details});
}

void showResult(Feedback& feedback, const WriteHeadResult& result)
{
    switch (result.status) {
    case WriteHeadResult::Status::Written:
        return;
    case WriteHeadResult::Status::NothingToInsert:
        feedback.message(result.text, Feedback::Icon::None);
        return;
    case WriteHeadResult::Status::PageUnreadable:
    case WriteHeadResult::Status::NoHead:
    case WriteHeadResult::Status::WriteFailed:
        feedback.message(result.text, Feedback::Icon::Warning);
        return;
    }
}

} // namespace quendle
