#include "Drives.h"

#include <QDir>

namespace drives {

QString toHostPath(const QString& windowsPath) {
    QString path = windowsPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.size() >= 2 && path[1] == QLatin1Char(':')) {
        const QChar drive = path[0].toUpper();
        const QString rest = path.mid(2);
        const QString root = drive == QLatin1Char('C') ? QDir::homePath() : QStringLiteral("/");
        return QDir::cleanPath(root + QLatin1Char('/') + rest);
    }
    return QDir::current().absoluteFilePath(path);
}

} // namespace drives
