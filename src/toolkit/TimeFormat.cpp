#include "TimeFormat.h"

#include <QLocale>

QString timeSeparator() {
    // The separator is what the locale's short time format puts after the hour.
    const QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
    int h = format.indexOf(QLatin1Char('h'), 0, Qt::CaseInsensitive);
    if (h >= 0) {
        int i = h;
        while (i < format.size() && format[i].toLower() == QLatin1Char('h'))
            ++i;
        int start = i;
        while (i < format.size() && format[i] != QLatin1Char('m'))
            ++i;
        if (i > start && i < format.size())
            return format.mid(start, i - start).remove(QLatin1Char('\''));
    }
    return QStringLiteral(":");
}

QString formatTimeOfDay(const QTime& time) {
    const QString sep = timeSeparator();
    auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return two(time.hour()) + sep + two(time.minute()) + sep + two(time.second());
}
