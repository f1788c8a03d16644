// The main function of a test program: the program's own application class (so errors escaping
// handlers reach the error box as they do in the program) and a private settings store.
#pragma once

#include "Application.h"
#include "Registry.h"

#include <QTemporaryDir>
#include <QTest>

#define QUORVANE_TEST_MAIN(TestObject)                                                            \
    int main(int argc, char** argv) {                                                              \
        Application app(argc, argv);                                                               \
        QTemporaryDir storeDir;                                                                    \
        registry::setStoreFile((storeDir.path() + "/registry.db").toStdString());                  \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
