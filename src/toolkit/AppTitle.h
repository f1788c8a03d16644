#pragma once

#include <QString>

// The application title: the executable's file name without directory, cut at its first ".",
// with every character after the first in lower case.
QString applicationTitle();
QString applicationTitleFor(const QString& executablePath);
