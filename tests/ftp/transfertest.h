#pragma once

#include "ftp/curltransferclient.h"
#include "testftpserver.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quendle::testing {

// A page file to send and a request for it; `last` keeps the result of the last call for the
// assertions that follow it.
class TransferTest : public ::testing::Test
{
protected:
    TransferTest()
    {
        writeLocal("first version\r\n");
        request.localFile = local;
        request.remoteName = "quendle.htm";
    }

    void writeLocal(const QByteArray& bytes)
    {
        QFile file(local);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    bool connect(TransferClient& client)
    {
        last = client.connect(request);
        return last.ok();
    }

    bool upload(TransferClient& client)
    {
        last = client.upload(request);
        return last.ok();
    }

    std::string detail() const { return last.detail.toStdString(); }

    QTemporaryDir dir;
    QString local = dir.path() + "/quendle.htm";
    TransferRequest request;
    TransferResult last;
};

} // namespace quendle::testing
