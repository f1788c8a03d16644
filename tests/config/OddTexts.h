// Values as other tools leave them in the store: the bytes each holds, terminator included.
#pragma once

#include <QByteArray>
#include <QList>
#include <QTest>

#include <utility>

inline QList<std::pair<const char*, QByteArray>> oddTexts() {
    auto bytes = [](const char* data, qsizetype size) { return QByteArray(data, size); };
    return {
        {"no-break space", bytes("a\xc2\xa0"
                                 "b\0",
                                 5)},
        {"LF only", bytes("one\ntwo\n\0", 9)},
        {"CR only", bytes("one\rtwo\0", 8)},
        {"mixed line breaks", bytes("a\r\nb\nc\r\0", 8)},
        {"U+2028", bytes("one\xe2\x80\xa8two\0", 10)},
        {"U+2029", bytes("one\xe2\x80\xa9two\0", 10)},
        {"byte-order mark", bytes("\xef\xbb\xbfTitle\0", 9)},
        {"Big5 bytes", bytes("\xb4\xfa\xb8\xd5 \xa5\x5c\xaf\xe0\0", 10)},
        {"NUL inside", bytes("before\0after\0", 13)},
        {"no terminator", bytes("bare", 4)},
        {"40,000 characters", QByteArray(40000, 'x') + '\0'},
        {"5 million characters", QByteArray(5000000, 'y') + '\0'},
    };
}

inline void addOddTextRows() {
    QTest::addColumn<QByteArray>("stored");
    for (const auto& [name, data] : oddTexts())
        QTest::newRow(name) << data;
}
