#include "LinkDetail.h"
#include "LinkFile.h"
#include "Memo.h"
#include "OddTexts.h"
#include "StoreHelpers.h"
#include "TestMain.h"

#include <QClipboard>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace {

const QString slotA = QStringLiteral("Quorvane\\A");

QString valueName(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QChar('0'));
}

QPlainTextEdit* memo(QWidget* dialog, int n) {
    auto found = dialog->findChild<QPlainTextEdit*>("Memo" + QString::number(n));
    if (!found)
        qFatal("no Memo%d", n);
    return found;
}

QString storedText(int n) {
    return n == 5 ? QStringLiteral("Line one\r\nLine two") : QStringLiteral("Text %1").arg(n);
}

void storeAllParameters() {
    for (int n = 1; n <= 18; ++n)
        store::set(slotA, valueName(n), store::sz(storedText(n)));
}

// Runs the dialog modally. `whileOpen` gets the modal window once it is shown; afterwards the
// window is closed, forcibly when its own close keeps it open, so that a failing test cannot
// hang in the modal run.
void runModal(TForm* dialog, const std::function<void(TForm*)>& whileOpen) {
    QTimer::singleShot(0, [&] {
        auto modal = qobject_cast<TForm*>(QApplication::activeModalWidget());
        if (modal)
            whileOpen(modal);
        TForm* target = modal ? modal : dialog;
        if (target->isVisible())
            target->close();
        if (target->isVisible()) {
            target->OnClose = nullptr;
            target->close();
        }
    });
    dialog->showModal();
}

struct Seen {
    bool shown = false;
    QStringList texts;
    QList<bool> enabled;
    QString store;
    QStringList errors;
};

Seen runDetail(BoxRecorder& boxes, const QString& caption,
               const std::function<void(TForm*)>& more = {}) {
    Seen seen;
    TFormLinkDetail dialog(nullptr);
    dialog.setWindowTitle(caption);
    runModal(&dialog, [&](TForm* modal) {
        seen.shown = modal == &dialog;
        seen.store = store::dump();
        seen.errors = boxes.errors();
        for (int n = 1; n <= 18; ++n) {
            seen.texts << memoText(memo(modal, n));
            seen.enabled << memo(modal, n)->isEnabled();
        }
        if (more)
            more(modal);
    });
    return seen;
}

} // namespace

class TestLinkDetail : public QObject {
    Q_OBJECT
private slots:
    void init() {
        registry::setDeniedRights(0);
        store::deleteTree("Quorvane");
        store::createKey(slotA);
    }

    void firstOpeningCreatesEmptyValues() {
        BoxRecorder boxes;
        QStringList names;
        QList<std::optional<store::Raw>> values;
        const Seen seen = runDetail(boxes, slotA, [&](TForm*) {
            names = store::valueNames(slotA);
            for (int n = 1; n <= 18; ++n)
                values << store::value(slotA, valueName(n));
        });
        QVERIFY(seen.shown);
        QCOMPARE(boxes.count(), 0);
        QStringList expected;
        for (int n = 1; n <= 18; ++n)
            expected << valueName(n);
        QCOMPARE(names, expected);
        for (const auto& value : values)
            QCOMPARE(value, store::sz(""));
        QCOMPARE(seen.texts, QStringList(18, QString()));
        QCOMPARE(seen.enabled, QList<bool>(18, true));
        QCOMPARE(store::valueNames(slotA), expected);
    }

    void openingShowsStoredTexts_data() {
        QTest::addColumn<QString>("deleted");
        QTest::newRow("all stored") << QString();
        QTest::newRow("07 deleted from outside") << "07";
    }
    void openingShowsStoredTexts() {
        QFETCH(QString, deleted);
        storeAllParameters();
        if (!deleted.isEmpty())
            store::deleteValue(slotA, deleted);
        const QString before = store::dump();
        BoxRecorder boxes;
        const Seen seen = runDetail(boxes, slotA);
        QVERIFY(seen.errors.isEmpty());
        QStringList expected;
        for (int n = 1; n <= 18; ++n)
            expected << (valueName(n) == deleted ? QString() : storedText(n));
        QCOMPARE(seen.texts, expected);
        if (deleted.isEmpty())
            QCOMPARE(seen.store, before);
        for (int n = 1; n <= 18; ++n)
            QCOMPARE(store::value(slotA, valueName(n)), store::sz(expected[n - 1]));
    }

    void closeRewritesEveryValue() {
        storeAllParameters();
        BoxRecorder boxes;
        runDetail(boxes, slotA, [](TForm* dialog) {
            store::deleteValue(slotA, "12");
            store::set(slotA, "03", store::sz("Changed outside"));
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QPlainTextEdit* nine = memo(dialog, 9);
            QTest::mouseClick(nine->viewport(), Qt::LeftButton);
            QTest::keyClick(nine, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(nine, "Alpha");
            QTest::keyClick(nine, Qt::Key_Return);
            QTest::keyClicks(nine, "Beta");
        });
        QCOMPARE(store::value(slotA, "12"), store::sz("Text 12"));
        QCOMPARE(store::value(slotA, "03"), store::sz("Text 3"));
        QCOMPARE(store::value(slotA, "09"), store::sz("Alpha\r\nBeta"));
        QCOMPARE(store::value(slotA, "05"), store::sz(storedText(5)));
        QCOMPARE(store::valueNames(slotA).size(), 18);
        QCOMPARE(boxes.count(), 0);
    }

    // Opening and closing without editing gives every parameter back byte for byte.
    void unchangedValuesComeBackByteForByte_data() { addOddTextRows(); }
    void unchangedValuesComeBackByteForByte() {
        QFETCH(QByteArray, stored);
        storeAllParameters();
        store::set(slotA, "05", {REG_SZ, stored});
        BoxRecorder boxes;
        runDetail(boxes, slotA, [](TForm* dialog) {
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            for (int i = 0; i < 6; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        });
        QCOMPARE(boxes.count(), 0);
        QVERIFY(store::value(slotA, "05") == store::Raw({REG_SZ, stored}));
        QCOMPARE(store::value(slotA, "06"), store::sz(storedText(6)));
    }

    // Typed and pasted text is stored exactly, also in a memo that held a very long value.
    void editedValueStoresWhatWasTyped() {
        storeAllParameters();
        store::set(slotA, "05", {REG_SZ, QByteArray(40000, 'y') + '\0'});
        const QString pasted = QString::fromUtf8("\xc2\xa0"
                                                 "x\xe2\x80\xa8"
                                                 "y");
        BoxRecorder boxes;
        runDetail(boxes, slotA, [&](TForm* dialog) {
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QPlainTextEdit* five = memo(dialog, 5);
            QTest::mouseClick(five->viewport(), Qt::LeftButton);
            QTest::keyClick(five, Qt::Key_End, Qt::ControlModifier);
            QTest::keyClick(five, Qt::Key_Return);
            QApplication::clipboard()->setText(pasted);
            QTest::keyClick(five, Qt::Key_V, Qt::ControlModifier);
            QTest::keyClicks(five, "end");
        });
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(store::value(slotA, "05"),
                 store::sz(QString(40000, 'y') + "\r\n" + pasted + "end"));
    }

    // Memos after the one that failed to load stay disabled and their values are not touched.
    void invalidTypeStopsLoading() {
        storeAllParameters();
        store::setDword(slotA, "07", 42);
        const std::optional<store::Raw> seven = store::value(slotA, "07");
        BoxRecorder boxes;
        const Seen seen = runDetail(
            boxes, slotA, [](TForm* dialog) { setMemoText(memo(dialog, 2), "Edited\r\ntwo"); });
        QCOMPARE(seen.errors, QStringList{"Invalid data type for '07'"});
        QCOMPARE(boxes.count(), 1);
        for (int n = 1; n <= 18; ++n) {
            QCOMPARE(seen.texts[n - 1], n < 7 ? storedText(n) : QString());
            QCOMPARE(seen.enabled[n - 1], n < 7);
        }
        QCOMPARE(store::value(slotA, "02"), store::sz("Edited\r\ntwo"));
        QCOMPARE(store::value(slotA, "07"), seven);
        for (int n = 8; n <= 18; ++n)
            QCOMPARE(store::value(slotA, valueName(n)), store::sz(storedText(n)));
    }

    // A failed save keeps the dialog open once; the next close lets it go without writing.
    void failedSaveKeepsDialogOpenOnce_data() {
        QTest::addColumn<QString>("removed");
        QTest::newRow("slot key") << slotA;
        QTest::newRow("root key") << "Quorvane";
    }
    void failedSaveKeepsDialogOpenOnce() {
        QFETCH(QString, removed);
        storeAllParameters();
        BoxRecorder boxes;
        bool firstClosed = true, secondClosed = false, visibleAfterFirst = false;
        QStringList errorsAfterFirst;
        QString afterFirst, afterSecond;
        runDetail(boxes, slotA, [&](TForm* dialog) {
            store::deleteTree(removed);
            firstClosed = dialog->close();
            visibleAfterFirst = dialog->isVisible();
            errorsAfterFirst = boxes.errors();
            afterFirst = store::dump();
            secondClosed = dialog->close();
            afterSecond = store::dump();
        });
        QVERIFY(!firstClosed);
        QVERIFY(visibleAfterFirst);
        QCOMPARE(errorsAfterFirst, QStringList{"Failed to set data for '01'"});
        QVERIFY(secondClosed);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(afterSecond, afterFirst);
        QVERIFY(!store::keyExists(slotA));
        if (removed == slotA)
            QCOMPARE(store::valueNames("Quorvane"), QStringList());
        else
            QVERIFY(!store::keyExists("Quorvane"));
    }

    // Without its slot key the dialog loads nothing, keeps its memos disabled and closes without
    // writing anything anywhere.
    void slotKeyMissingBeforeShown_data() {
        QTest::addColumn<QString>("removed");
        QTest::newRow("slot key") << slotA;
        QTest::newRow("root key") << "Quorvane";
    }
    void slotKeyMissingBeforeShown() {
        QFETCH(QString, removed);
        store::createKey("Quorvane\\B");
        store::deleteTree(removed);
        const QString before = store::dump();
        BoxRecorder boxes;
        bool closed = false;
        const Seen seen = runDetail(boxes, slotA, [&](TForm* dialog) { closed = dialog->close(); });
        QCOMPARE(seen.errors, QStringList{"Failed to set data for '01'"});
        QCOMPARE(seen.enabled, QList<bool>(18, false));
        QVERIFY(closed);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(store::dump(), before);
    }

    void memoHighlightFollowsFocus() {
        const QColor aqua(0, 255, 255);
        QStringList order;
        bool active = false;
        int firstHeight = 0, firstAfterHeight = 0, secondHeight = 0;
        QColor firstColour, firstAfterColour, secondColour, windowColour;
        bool secondOnTop = false;
        BoxRecorder boxes;
        runDetail(boxes, slotA, [&](TForm* dialog) {
            dialog->activateWindow();
            active = QTest::qWaitForWindowActive(dialog);
            order << QApplication::focusWidget()->objectName();
            QPlainTextEdit* one = memo(dialog, 1);
            QPlainTextEdit* two = memo(dialog, 2);
            firstHeight = one->height();
            firstColour = one->palette().color(QPalette::Base);
            QTest::keyClick(one, Qt::Key_Tab);
            firstAfterHeight = one->height();
            firstAfterColour = one->palette().color(QPalette::Base);
            windowColour = QApplication::palette(one).color(QPalette::Base);
            secondHeight = two->height();
            secondColour = two->palette().color(QPalette::Base);
            secondOnTop = two->parentWidget()->children().last() == two;
            order << QApplication::focusWidget()->objectName();
            for (int i = 0; i < 17; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                order << QApplication::focusWidget()->objectName();
            }
        });
        QVERIFY(active);
        QCOMPARE(firstHeight, 120);
        QCOMPARE(firstColour, aqua);
        QCOMPARE(firstAfterHeight, 24);
        QCOMPARE(firstAfterColour, windowColour);
        QVERIFY(windowColour != aqua);
        QCOMPARE(secondHeight, 120);
        QCOMPARE(secondColour, aqua);
        QVERIFY(secondOnTop);
        QStringList expected;
        for (int n = 1; n <= 18; ++n)
            expected << "Memo" + QString::number(n);
        expected << "Memo1";
        QCOMPARE(order, expected);
    }

    void openedFromRowC() {
        BoxRecorder boxes;
        TFormLinkFile setup(nullptr);
        setup.show();
        QPointer<TForm> detail;
        QString caption, className;
        bool ownedBySetup = false, childOfSetup = false;
        QTimer::singleShot(0, [&] {
            detail = qobject_cast<TForm*>(QApplication::activeModalWidget());
            if (!detail)
                return;
            caption = detail->windowTitle();
            className = detail->metaObject()->className();
            ownedBySetup = detail->owner() == &setup;
            childOfSetup = detail->parentWidget() == &setup && detail->isWindow();
            detail->close();
        });
        QTest::mouseClick(setup.findChild<QToolButton*>("SB03"), Qt::LeftButton);
        QCOMPARE(caption, QStringLiteral("Quorvane\\C"));
        QCOMPARE(className, QStringLiteral("TFormLinkDetail"));
        QVERIFY(ownedBySetup);
        QVERIFY(childOfSetup);
        QVERIFY(detail.isNull());
        QVERIFY(setup.findChildren<TFormLinkDetail*>().isEmpty());
        QCOMPARE(store::valueNames("Quorvane\\C").size(), 18);
        QCOMPARE(boxes.count(), 0);
        QVERIFY(setup.isVisible());
    }
};

QUORVANE_TEST_MAIN(TestLinkDetail)
#include "tst_linkdetail.moc"
