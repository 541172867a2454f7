#include "testfiles.h"

#include <QFile>

#include <cstdio>

namespace quendle::testing {

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void replaceWholeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path + ".new");
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    file.close();
    std::rename(QFile::encodeName(file.fileName()).constData(),
                QFile::encodeName(path).constData());
}

} // namespace quendle::testing
