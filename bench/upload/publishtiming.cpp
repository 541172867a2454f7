// Times Publish on an open connection as the window does it: one Connect, then the page file
// uploaded again and again on that connection. Prints the time of each upload in microseconds,
// one a line, for bench/run.py.
//
// Usage: quendle-bench-publish HOST USER PASSWORD REMOTE_DIRECTORY PAGE_FILE UPLOADS

#include "ftp/curltransferclient.h"
#include "page/pagefile.h"
#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publish/serverconnection.h"
#include "publish/uploadpage.h"

#include <QString>

#include <chrono>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s HOST USER PASSWORD REMOTE_DIRECTORY PAGE_FILE UPLOADS\n",
                     argv[0]);
        return 2;
    }
    const quendle::ServerLogin login{QString::fromLocal8Bit(argv[1]),
                                     QString::fromLocal8Bit(argv[2]),
                                     QString::fromLocal8Bit(argv[3])};
    const QString remoteDirectory = QString::fromLocal8Bit(argv[4]);
    const QString pagePath = QString::fromLocal8Bit(argv[5]);
    const int uploads = QString::fromLocal8Bit(argv[6]).toInt();

    // The page Save writes, so that every upload sends what a user's would.
    const QByteArray page =
        quendle::onlinePage(QStringLiteral("127.0.0.1"), QStringLiteral("webmaster@example.com"),
                            quendle::defaultBanner());
    if (const auto written = quendle::replaceFile(pagePath, page); !written) {
        std::fprintf(stderr, "%s\n", qPrintable(written.error()));
        return 1;
    }

    quendle::CurlTransferClient ftp;
    const quendle::ConnectResult connected = quendle::connectToServer(ftp, login);
    if (connected.status != quendle::ConnectResult::Status::Connected) {
        std::fprintf(stderr, "%s\n%s\n", qPrintable(connected.text), qPrintable(connected.details));
        return 1;
    }
    for (int i = 0; i < uploads; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const quendle::UploadResult result = quendle::UploadPage(ftp, remoteDirectory, pagePath);
        const auto took = std::chrono::steady_clock::now() - start;
        if (result.status != quendle::UploadResult::Status::Transferred) {
            std::fprintf(stderr, "upload %d: %s\n%s\n", i + 1, qPrintable(result.text),
                         qPrintable(result.details));
            return 1;
        }
        std::printf("%lld\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
    }
    ftp.disconnect();
    return 0;
}
