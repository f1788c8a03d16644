#include "Halvorn.h"
#include "MessageBox.h"
#include "Registry.h"
#include "RegistryAccessor.h"
#include "TestMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QMdiArea>
#include <QToolButton>

namespace {

QChar letter(int n) {
    return QChar(64 + n);
}

void writeTitle(int n, const QString& title) {
    RegistryAccessor reg;
    QVERIFY(reg.openKey(QStringLiteral("Quorvane\\") + letter(n), true));
    reg.writeString(QStringLiteral("Title"), title);
}

bool sameImage(const QIcon& icon, const QPixmap& expected) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32) ==
           expected.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestHalvorn : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QList<msgbox::Shown> shown_;
    int storeCount_ = 0;

    QAbstractButton* button(TFormHalvorn& w, const QString& name) {
        return qobject_cast<QAbstractButton*>(findComponent(&w, name));
    }

private slots:
    void init() {
        // A fresh, empty store for every test.
        registry::setStoreFile(
            (dir_.path() + QStringLiteral("/store%1.db").arg(++storeCount_)).toStdString());
        // A profile that has been set up: the first-start setup dialog does not run.
        RegistryAccessor().createKey(QStringLiteral("Quorvane"));
        shown_.clear();
        msgbox::setHook([this](const msgbox::Shown& s) {
            shown_.append(s);
            return msgbox::Answer::Ok;
        });
    }
    void cleanup() { msgbox::setHook({}); }

    void labelsAndEnabledStates() {
        writeTitle(1, QStringLiteral("Daily import"));
        writeTitle(2, QStringLiteral("   ")); // blanks count as a title
        writeTitle(3, QStringLiteral(""));
        writeTitle(26, QString::fromUtf8("月結報表"));
        TFormHalvorn w;
        QCOMPARE(FormHalvorn, &w);
        QVERIFY(shown_.isEmpty());
        QCOMPARE(button(w, "BBA")->text(), QStringLiteral("Daily import"));
        QVERIFY(button(w, "BBA")->isEnabled());
        QCOMPARE(button(w, "BBB")->text(), QStringLiteral("   "));
        QVERIFY(button(w, "BBB")->isEnabled());
        QCOMPARE(button(w, "BBC")->text(), QString());
        QVERIFY(!button(w, "BBC")->isEnabled());
        QVERIFY(!button(w, "BBD")->isEnabled()); // no slot key at all
        QCOMPARE(button(w, "bbz")->text(), QString::fromUtf8("月結報表"));
        QCOMPARE(button(w, "SBA")->toolTip(), QStringLiteral("Daily import"));
        QCOMPARE(button(w, "SBD")->toolTip(), QString());
        for (int n = 1; n <= 26; ++n) {
            QCOMPARE(w.slotHandle(n), WindowHandle(0));
            QVERIFY2(sameImage(button(w, QStringLiteral("SB") + letter(n))->icon(), w.image(1)),
                     "every indicator shows the grey bulb");
        }
    }

    void emptyRootKeyLeavesEverySlotDisabled() {
        RegistryAccessor reg;
        reg.createKey(QStringLiteral("Quorvane"));
        TFormHalvorn w;
        QVERIFY(shown_.isEmpty());
        for (int n = 1; n <= 26; ++n) {
            QAbstractButton* b = button(w, QStringLiteral("BB") + letter(n));
            QCOMPARE(b->text(), QString());
            QVERIFY(!b->isEnabled());
            QCOMPARE(button(w, QStringLiteral("SB") + letter(n))->toolTip(), QString());
        }
    }

    void storeErrorPartWayStopsLabelling() {
        for (int n = 1; n <= 26; ++n)
            writeTitle(n, QStringLiteral("Job %1").arg(n));
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\E", 0, KEY_ALL_ACCESS, &key),
                 ERROR_SUCCESS);
        const DWORD number = 7;
        QCOMPARE(RegSetValueExA(key, "Title", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                sizeof number),
                 ERROR_SUCCESS);
        RegCloseKey(key);

        TFormHalvorn w;
        QCOMPARE(shown_.size(), 1);
        QCOMPARE(shown_[0].kind, msgbox::Kind::Error);
        QCOMPARE(shown_[0].text, QStringLiteral("Invalid data type for 'Title'"));
        QCOMPARE(button(w, "BBD")->text(), QStringLiteral("Job 4"));
        QCOMPARE(button(w, "BBE")->text(), QStringLiteral("BBE"));
        QCOMPARE(button(w, "BBF")->text(), QStringLiteral("BBF"));
        QVERIFY(button(w, "BBF")->isEnabled());
        // The indicators keep their design picture: the lit bulb.
        QVERIFY(sameImage(button(w, "SBA")->icon(), w.image(0)));
        QVERIFY(!sameImage(button(w, "SBA")->icon(), w.image(1)));
    }

    void unreadableStoreIsReportedAndLeftAlone() {
        const QString file = dir_.path() + QStringLiteral("/garbage.db");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray garbage(8192, 'x');
        f.write(garbage);
        f.close();
        registry::setStoreFile(file.toStdString());

        TFormHalvorn w;
        QCOMPARE(shown_.size(), 1);
        QVERIFY2(shown_[0].text.contains(file), qPrintable(shown_[0].text));
        QVERIFY(!button(w, "BBA")->isEnabled());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), garbage);
    }

    void hideAndShowTheSlotButtons() {
        TFormHalvorn w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto group = w.findChild<QGroupBox*>(QStringLiteral("GBGroup"));
        const int areaHeight = w.workArea()->height();
        QToolButton* sb0 = w.findChild<QToolButton*>(QStringLiteral("SB0"));
        QTest::mouseClick(sb0, Qt::LeftButton);
        QCOMPARE(sb0->text(), QStringLiteral("Show"));
        QVERIFY(!group->isVisible());
        QCOMPARE(w.workArea()->height(), areaHeight + 127);
        QTest::mouseClick(sb0, Qt::LeftButton);
        QCOMPARE(sb0->text(), QStringLiteral("Hide"));
        QVERIFY(group->isVisible());
        QCOMPARE(w.workArea()->height(), areaHeight);
    }

    void layoutOnScreen() {
        TFormHalvorn w;
        QCOMPARE(w.windowTitle(), QStringLiteral("FormHalvorn"));
        QCOMPARE(w.objectName(), QStringLiteral("FormHalvorn"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(1016, 663));
        auto at = [&](const char* name) {
            auto c = w.findChild<QWidget*>(QString::fromLatin1(name));
            return QRect(c->mapTo(&w, QPoint(0, 0)), c->size());
        };
        QCOMPARE(at("PanelTop"), QRect(0, 0, 1016, 28));
        QCOMPARE(at("SB0"), QRect(0, 2, 40, 23));
        QCOMPARE(at("SBA"), QRect(40, 2, 33, 22));
        QCOMPARE(at("SBZ"), QRect(40 + 33 * 25, 2, 33, 22));
        QCOMPARE(at("SBTile"), QRect(1016 - 115, 2, 40, 22));
        QCOMPARE(at("BBClose"), QRect(1016 - 115 + 80, 2, 34, 22));
        QCOMPARE(at("GBGroup"), QRect(0, 28, 1016, 127));
        QCOMPARE(at("BBA"), QRect(1, 28 + 8, 78, 57));
        QCOMPARE(at("BBB"), QRect(78, 28 + 8, 78, 57));
        QCOMPARE(at("BBM"), QRect(936, 28 + 8, 78, 57));
        QCOMPARE(at("BBN"), QRect(1, 28 + 68, 78, 57));
        QCOMPARE(at("GBSplitter"), QRect(0, 155, 1016, 508));
        QCOMPARE(button(w, "BBA")->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(button(w, "SB0")->font().pixelSize(), 16);
        QCOMPARE(button(w, "SBA")->font().pixelSize(), 13);
        QCOMPARE(button(w, "SBTile")->toolTip(), QStringLiteral("Set Tile Window"));
        QCOMPARE(button(w, "SBRun")->toolTip(), QStringLiteral("Setup Link Data"));
        QCOMPARE(button(w, "BBClose")->text(), QStringLiteral("&Close"));
        QCOMPARE(tagOf(button(w, "BBQ")), 17);

        const QImage shot = w.grab().toImage();
        auto rgb = [&](int x, int y) { return QColor(shot.pixel(x, y)); };
        QCOMPARE(rgb(500, 26), QColor(128, 0, 128));    // the status strip below its indicators
        QCOMPARE(rgb(1010, 26), QColor(255, 0, 0));     // the red tool bar
        QCOMPARE(rgb(500, 400), QColor(166, 202, 240)); // the work area
    }

    void tabOrderFollowsTheLetters() {
        for (int n = 1; n <= 26; ++n)
            writeTitle(n, QStringLiteral("Job %1").arg(n));
        TFormHalvorn w;
        QWidget* next = button(w, "BBA");
        for (int n = 2; n <= 26; ++n) {
            next = next->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            QCOMPARE(next->objectName(), QStringLiteral("BB") + letter(n));
        }
    }

    // The focus starts on the first control of the tab order that can take it, so Space or
    // Enter right after the start presses that button.
    void focusStartsOnTheFirstUsableControl_data() {
        QTest::addColumn<QList<int>>("titled");
        QTest::addColumn<QString>("focused");
        QTest::newRow("slot A titled") << QList<int>{1, 2} << "BBA";
        QTest::newRow("first titles later") << QList<int>{3, 26} << "BBC";
        QTest::newRow("no titles") << QList<int>{} << "BBClose";
    }

    void focusStartsOnTheFirstUsableControl() {
        QFETCH(QList<int>, titled);
        QFETCH(QString, focused);
        for (int n : titled)
            writeTitle(n, QStringLiteral("Job %1").arg(n));
        TFormHalvorn w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), focused);
    }

    void indicatorsTakeNoClicks() {
        TFormHalvorn w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto sbA = qobject_cast<QToolButton*>(button(w, "SBA"));
        bool clicked = false;
        connect(sbA, &QToolButton::clicked, this, [&] { clicked = true; });
        QTest::mouseClick(sbA, Qt::LeftButton);
        QVERIFY(!clicked);
        QVERIFY(sbA->isEnabled()); // not greyed
    }

    void virtualKeyCodes_data() {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("code");
        QTest::newRow("A") << int(Qt::Key_A) << 65;
        QTest::newRow("Z") << int(Qt::Key_Z) << 90;
        QTest::newRow("F10") << int(Qt::Key_F10) << 121;
        QTest::newRow("F1") << int(Qt::Key_F1) << 112;
        QTest::newRow("digit") << int(Qt::Key_1) << 0;
    }
    void virtualKeyCodes() {
        QFETCH(int, qtKey);
        QFETCH(int, code);
        QCOMPARE(virtualKeyCode(qtKey), code);
    }
};

QUORVANE_TEST_MAIN(TestHalvorn)
#include "tst_halvorn.moc"
