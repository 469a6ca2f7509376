#include "monitoring/qt/MMSilenceLocale.h"

#include <QDateTime>
#include <QLocale>

int64_t SilenceNowMs() { return QDateTime::currentMSecsSinceEpoch(); }

std::string SilenceDateTimeText(int64_t ms)
{
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(ms);
    const QLocale loc;
    QString text = loc.toString(dt.date(), QLocale::ShortFormat);
    const QTime t = dt.time();
    if (t.hour() != 0 || t.minute() != 0 || t.second() != 0) text += " " + loc.toString(t, QLocale::LongFormat);
    return text.toStdString();
}

char SilenceDecimalSeparator()
{
    const QString p = QLocale().decimalPoint();
    return p.size() == 1 && p[0].unicode() < 0x80 ? static_cast<char>(p[0].unicode()) : '.';
}
