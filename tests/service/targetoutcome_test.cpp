#include "service/targetoutcome.h"

#include <gtest/gtest.h>

using namespace quendle;
using Status = DnsOutcome::Status;

namespace {

DnsOutcome record(Status status, const QString& reason, qint64 milliseconds, int pause = 0)
{
    DnsOutcome done;
    done.status = status;
    done.sent = status == Status::Published;
    done.reason = reason;
    done.details = status == Status::Published ? QString() : "answer to " + reason;
    done.retryNotBefore = pause;
    done.milliseconds = milliseconds;
    return done;
}

TEST(TargetOutcomeTest, ANameIsCurrentOnlyWhenEveryRecordIsHeldAndSaysWhatFailed)
{
    NameOutcome name;
    name.notes = {"no IPv6 address this round"};
    name.records = {record(Status::Published, "A now holds 203.0.113.7", 40),
                    record(Status::RetryLater, "AAAA: slow down", 30, 120)};
    TargetOutcome outcome(name);
    EXPECT_FALSE(outcome.ok());
    EXPECT_FALSE(outcome.refused()) << "a pause is not a refusal";
    EXPECT_EQ(outcome.retryNotBefore(), std::chrono::seconds(120));
    EXPECT_EQ(outcome.reason(), "AAAA: slow down");
    EXPECT_EQ(name.summary(), "A now holds 203.0.113.7");
    EXPECT_EQ(name.details(), "no IPv6 address this round; answer to AAAA: slow down");
    EXPECT_TRUE(name.updated());
    EXPECT_EQ(name.milliseconds(), 70) << "one exchange after the other";
    name.together = true;
    EXPECT_EQ(name.milliseconds(), 40) << "one exchange for both";

    name.records << record(Status::HeldUntilReload, "bad token", 5);
    EXPECT_TRUE(TargetOutcome(name).refused());
    name.records = {};
    EXPECT_TRUE(TargetOutcome(name).ok());
    EXPECT_EQ(name.summary(), "nothing to publish for its families");
}

TEST(TargetOutcomeTest, APageThatWentUpButIsNotSeenSaysWhatVisitorsGet)
{
    PageOutcome page;
    page.check = PageOutcome::Check::NotVerified;
    page.checkNote = "still links to 198.51.100.1";
    EXPECT_TRUE(TargetOutcome(page).ok());
    EXPECT_TRUE(TargetOutcome(page).unseen());
    EXPECT_EQ(TargetOutcome(page).reason(), "still links to 198.51.100.1");

    page.failure = UploadFailure{"Unable to connect", "530", TransferError::HostKeyChanged};
    EXPECT_FALSE(TargetOutcome(page).ok());
    EXPECT_FALSE(TargetOutcome(page).unseen()) << "a failed upload is not looked at";
    EXPECT_TRUE(TargetOutcome(page).refused());
    EXPECT_EQ(TargetOutcome(page).reason(), "Unable to connect");
    page.failure->error = TransferError::TimedOut;
    EXPECT_FALSE(TargetOutcome(page).refused());
}

} // namespace
