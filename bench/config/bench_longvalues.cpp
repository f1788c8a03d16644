// How long the link setup and link detail dialogs take to open and to close when the store holds
// very long values (a one-line title, a file name and a parameter of the given size), and how
// long a click into the long title takes until the memo holds the whole text and is painted, and
// a key typed there.
// Usage: bench_longvalues [MEBIBYTES] (default 5).
#include "LinkDetail.h"
#include "LinkFile.h"
#include "MessageBox.h"
#include "Registry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

void put(const char* key, const char* name, const QByteArray& data) {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.constData()),
                   static_cast<DWORD>(data.size()));
    RegCloseKey(k);
}

double ms(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const qsizetype size = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 5) * 1024 * 1024;
    QTemporaryDir temp;
    registry::setStoreFile(temp.filePath("registry.db").toStdString());
    msgbox::setHook([](const msgbox::Shown& shown) {
        std::printf("box: %s\n", qPrintable(shown.text));
        return msgbox::Answer::Ok;
    });
    { TFormLinkFile seed(nullptr); }
    const QByteArray value = QByteArray(size, 'w') + '\0';
    put("Quorvane\\B", "Title", value);
    put("Quorvane\\C", "FileName", value);
    put("Quorvane\\A", "05", value);
    std::printf("values of %lld bytes\n", static_cast<long long>(size));

    QElapsedTimer t;
    t.start();
    {
        TFormLinkFile setup(nullptr);
        setup.show();
        QApplication::processEvents();
        std::printf("link setup dialog: open and shown in %.1f ms\n", ms(t));
        auto memo = setup.findChild<QPlainTextEdit*>(QStringLiteral("MemoB"));
        t.restart();
        QTest::mouseClick(memo->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QApplication::processEvents();
        memo->viewport()->repaint();
        std::printf("link setup dialog: click into the long title, whole text in %.1f ms "
                    "(%lld characters)\n",
                    ms(t), static_cast<long long>(memo->document()->characterCount()));
        t.restart();
        QTest::keyClick(memo, Qt::Key_X);
        memo->viewport()->repaint();
        std::printf("link setup dialog: one key typed into it in %.1f ms\n", ms(t));
        t.restart();
        setup.close();
        std::printf("link setup dialog: closed (52 writes) in %.1f ms\n", ms(t));
    }
    t.restart();
    {
        TFormLinkDetail detail(nullptr);
        detail.setWindowTitle("Quorvane\\A");
        double shown = 0;
        QTimer::singleShot(0, [&] {
            shown = ms(t);
            t.restart();
            detail.close();
        });
        detail.showModal();
        std::printf("link detail dialog: open and shown in %.1f ms, closed in %.1f ms\n", shown,
                    ms(t));
    }
    return 0;
}
