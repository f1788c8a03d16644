#pragma once

#include <QString>
#include <QTime>

// The time stamp "hh:nn:ss": hour 00 to 23, minutes and seconds as two digits each, separated by
// the time separator of the user's locale.
QString formatTimeOfDay(const QTime& time);
QString timeSeparator();
