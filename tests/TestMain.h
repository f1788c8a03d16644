// The main function of a test program: the program's own application class (so errors escaping
// handlers reach the error box as they do in the program), a private settings store and a private
// drive configuration.
#pragma once

#include "Application.h"
#include "Drives.h"
#include "Registry.h"

#include <QTemporaryDir>
#include <QTest>

#define QUORVANE_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char** argv) {                                                              \
        Application app(argc, argv);                                                               \
        QTemporaryDir storeDir;                                                                    \
        registry::setStoreFile((storeDir.path() + "/registry.db").toStdString());                  \
        drives::setConfigFile(storeDir.path() + "/drives.ini");                                    \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
