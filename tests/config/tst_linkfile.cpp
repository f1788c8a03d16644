#include "Drives.h"
#include "GetPath.h"
#include "LinkFile.h"
#include "Memo.h"
#include "OddTexts.h"
#include "StoreHelpers.h"
#include "TestMain.h"

#include <QClipboard>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

const QString root = QStringLiteral("Quorvane");

QString slotKey(QChar letter) {
    return root + '\\' + letter;
}

QList<QChar> letters() {
    QList<QChar> all;
    for (char c = 'A'; c <= 'Z'; ++c)
        all << QChar(c);
    return all;
}

template <class T> T* child(QWidget* dialog, const QString& name) {
    T* found = dialog->findChild<T*>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

QPlainTextEdit* memo(QWidget* d, QChar l) {
    return child<QPlainTextEdit>(d, "Memo" + QString(l));
}
QLineEdit* exeName(QWidget* d, QChar l) {
    return child<QLineEdit>(d, "ExeName" + QString(l));
}

void seed() {
    BoxRecorder boxes;
    TFormLinkFile dialog(nullptr);
    if (boxes.count() != 0)
        qFatal("seeding failed");
}

// Letters beyond ASCII arrive from an input method, as a committed string.
void typeText(QWidget* w, const QString& text) {
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 128;
    if (ascii) {
        QTest::keyClicks(w, text);
        return;
    }
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(w, &event);
}

bool showActive(QWidget* w) {
    w->show();
    w->activateWindow();
    return QTest::qWaitForWindowActive(w);
}

} // namespace

class TestLinkFile : public QObject {
    Q_OBJECT
private slots:
    void init() {
        registry::setDeniedRights(0);
        store::deleteTree(root);
    }

    void seedsEmptyProfile() {
        BoxRecorder boxes;
        TFormLinkFile dialog(nullptr);
        QCOMPARE(boxes.count(), 0);
        QStringList expectedKeys;
        for (QChar l : letters())
            expectedKeys << QString(l);
        QCOMPARE(store::subkeyNames(root), expectedKeys);
        QCOMPARE(store::valueNames(root), QStringList());
        for (QChar l : letters()) {
            QCOMPARE(store::valueNames(slotKey(l)), (QStringList{"Title", "FileName"}));
            QCOMPARE(store::value(slotKey(l), "Title"), store::sz("Function " + QString(l)));
            QCOMPARE(store::value(slotKey(l), "FileName"), store::sz(""));
            QCOMPARE(memoText(memo(&dialog, l)), "Function " + QString(l));
            QCOMPARE(exeName(&dialog, l)->text(), QString());
            QVERIFY(memo(&dialog, l)->isEnabled());
        }
    }

    void existingEmptyRootIsNotSeeded() {
        store::createKey(root);
        BoxRecorder boxes;
        TFormLinkFile dialog(nullptr);
        for (QChar l : letters()) {
            QVERIFY(store::keyExists(slotKey(l)));
            QCOMPARE(store::valueNames(slotKey(l)), QStringList());
            QCOMPARE(memoText(memo(&dialog, l)), QString());
        }
        dialog.show();
        QVERIFY(dialog.close());
        QCOMPARE(boxes.count(), 0);
        for (QChar l : letters()) {
            QCOMPARE(store::value(slotKey(l), "Title"), store::sz(""));
            QCOMPARE(store::value(slotKey(l), "FileName"), store::sz(""));
        }
    }

    void closeRewritesEveryRow_data() {
        QTest::addColumn<QString>("route");
        QTest::newRow("BBClose") << "click";
        QTest::newRow("Alt+C") << "mnemonic";
        QTest::newRow("close box") << "close";
    }
    void closeRewritesEveryRow() {
        QFETCH(QString, route);
        seed();
        BoxRecorder boxes;
        TFormLinkFile dialog(nullptr);
        QVERIFY(showActive(&dialog));
        store::deleteValue(slotKey('M'), "Title");
        store::deleteValue(slotKey('C'), "FileName");
        store::set(slotKey('Q'), "Title", store::sz("Changed outside"));
        exeName(&dialog, 'D')->setText("C:\\jobs\\d.txt");
        if (route == "click")
            QTest::mouseClick(child<QPushButton>(&dialog, "BBClose"), Qt::LeftButton);
        else if (route == "mnemonic")
            QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
        else
            dialog.close();
        QTRY_VERIFY(!dialog.isVisible()); // a mnemonic clicks the button after a short delay
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(store::value(slotKey('M'), "Title"), store::sz("Function M"));
        QCOMPARE(store::value(slotKey('C'), "FileName"), store::sz(""));
        QCOMPARE(store::value(slotKey('Q'), "Title"), store::sz("Function Q"));
        QCOMPARE(store::value(slotKey('D'), "FileName"), store::sz("C:\\jobs\\d.txt"));
    }

    void titleTypedInMemo_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("stored");
        QTest::newRow("two lines")
            << QStringList{"First line", "Second line"} << "First line\r\nSecond line";
        QTest::newRow("cleared") << QStringList{} << "";
        QTest::newRow("blanks") << QStringList{"   "} << "   ";
        QTest::newRow("traditional Chinese") << QStringList{"資料轉換 B"} << "資料轉換 B";
    }
    void titleTypedInMemo() {
        QFETCH(QStringList, lines);
        QFETCH(QString, stored);
        seed();
        {
            TFormLinkFile dialog(nullptr);
            QVERIFY(showActive(&dialog));
            QPlainTextEdit* b = memo(&dialog, 'B');
            QTest::mouseClick(b->viewport(), Qt::LeftButton);
            QTest::keyClick(b, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(b, Qt::Key_Delete);
            for (qsizetype i = 0; i < lines.size(); ++i) {
                if (i > 0)
                    QTest::keyClick(b, Qt::Key_Return);
                typeText(b, lines[i]);
            }
            QVERIFY(dialog.close());
        }
        QCOMPARE(store::value(slotKey('B'), "Title"), store::sz(stored));
        QCOMPARE(store::value(slotKey('C'), "Title"), store::sz("Function C"));
        TFormLinkFile again(nullptr);
        QCOMPARE(memoText(memo(&again, 'B')), stored);
    }

    // Opening and closing the dialog without editing gives every value back byte for byte,
    // whatever other tools left in it.
    void unchangedValuesComeBackByteForByte_data() { addOddTextRows(); }
    void unchangedValuesComeBackByteForByte() {
        QFETCH(QByteArray, stored);
        seed();
        store::set(slotKey('B'), "Title", {REG_SZ, stored});
        store::set(slotKey('C'), "FileName", {REG_SZ, stored});
        BoxRecorder boxes;
        {
            TFormLinkFile dialog(nullptr);
            QVERIFY(showActive(&dialog));
            // Passing through the controls with the keyboard is no edit either.
            QTest::mouseClick(memo(&dialog, 'A')->viewport(), Qt::LeftButton);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(dialog.close());
        }
        QCOMPARE(boxes.count(), 0);
        QVERIFY(store::value(slotKey('B'), "Title") == store::Raw({REG_SZ, stored}));
        QVERIFY(store::value(slotKey('C'), "FileName") == store::Raw({REG_SZ, stored}));
        QCOMPARE(store::value(slotKey('D'), "Title"), store::sz("Function D"));
    }

    // An edited control stores exactly what was typed and pasted, whatever it held before and
    // however long it is: Enter as CR LF, a pasted no-break space, U+2028 and byte-order mark
    // as they are.
    void editedValuesStoreWhatWasTyped_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("short") << QByteArray("old\nvalue\0", 10);
        QTest::newRow("Big5 bytes") << QByteArray("\xb4\xfa\xb8\xd5\0", 5);
        QTest::newRow("40,000 characters") << QByteArray(40000, 'x') + '\0';
    }
    void editedValuesStoreWhatWasTyped() {
        QFETCH(QByteArray, stored);
        seed();
        store::set(slotKey('B'), "Title", {REG_SZ, stored});
        store::set(slotKey('C'), "FileName", {REG_SZ, stored});
        const QString pasted = QString::fromUtf8("a\xc2\xa0"
                                                 "b\xe2\x80\xa8"
                                                 "c\xef\xbb\xbf");
        {
            TFormLinkFile dialog(nullptr);
            QVERIFY(showActive(&dialog));
            QPlainTextEdit* b = memo(&dialog, 'B');
            QTest::mouseClick(b->viewport(), Qt::LeftButton);
            QTest::keyClick(b, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(b, Qt::Key_Delete);
            QTest::keyClicks(b, "Nightly");
            QTest::keyClick(b, Qt::Key_Return);
            QApplication::clipboard()->setText(pasted);
            QTest::keyClick(b, Qt::Key_V, Qt::ControlModifier);
            QLineEdit* c = exeName(&dialog, 'C');
            QTest::mouseClick(c, Qt::LeftButton);
            QTest::keyClick(c, Qt::Key_End);
            QTest::keyClicks(c, "!");
            QVERIFY(dialog.close());
        }
        QCOMPARE(store::value(slotKey('B'), "Title"), store::sz("Nightly\r\n" + pasted));
        QCOMPARE(store::value(slotKey('C'), "FileName"),
                 store::sz(QString::fromUtf8(stored.left(stored.indexOf('\0'))) + "!"));
    }

    // A title too long to lay out at once shows its start until the user clicks into it; the
    // click alone makes it the whole, editable text. A single line of that length is not
    // wrapped (wrapping it takes minutes); a long text of short lines still is.
    void clickLoadsALongTitle_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("wrapped");
        QTest::newRow("one line") << QString(30000, 'w') << false;
        QString lines;
        for (int i = 0; i < 3000; ++i)
            lines += QStringLiteral("line %1 of many\r\n").arg(i, 4);
        QTest::newRow("short lines") << lines << true;
    }
    void clickLoadsALongTitle() {
        QFETCH(QString, title);
        QFETCH(bool, wrapped);
        seed();
        store::set(slotKey('B'), "Title", store::sz(title));
        TFormLinkFile dialog(nullptr);
        QVERIFY(showActive(&dialog));
        QPlainTextEdit* b = memo(&dialog, 'B');
        QVERIFY(b->isReadOnly());
        QVERIFY(b->toPlainText().size() < title.size());
        QTest::mouseClick(b->viewport(), Qt::LeftButton);
        QVERIFY(!b->isReadOnly());
        QCOMPARE(toCrLf(b->toPlainText()), title);
        QCOMPARE(b->lineWrapMode() == QPlainTextEdit::WidgetWidth, wrapped);
    }

    // A store the user cannot write: the box names the store and why, and the next close lets
    // the dialog go without writing.
    void readOnlyStoreLetsTheDialogGo() {
        seed();
        registry::closeConnections();
        const QString file = QString::fromStdString(registry::storeFile());
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        BoxRecorder boxes;
        bool firstClosed = true, secondClosed = false;
        {
            TFormLinkFile dialog(nullptr);
            dialog.show();
            setMemoText(memo(&dialog, 'A'), "Edited");
            firstClosed = dialog.close();
            secondClosed = dialog.close();
        }
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(!firstClosed);
        QVERIFY(secondClosed);
        QCOMPARE(boxes.errors(),
                 QStringList{"Failed to set data for 'Title': The settings store \"" + file +
                             "\" cannot be written: the file is read-only."});
        QCOMPARE(store::value(slotKey('A'), "Title"), store::sz("Function A"));
    }

    void closeFailsWhenSlotKeyRemoved() {
        seed();
        BoxRecorder boxes;
        TFormLinkFile dialog(nullptr);
        dialog.show();
        for (QChar l : {QChar('A'), QChar('J'), QChar('L')})
            setMemoText(memo(&dialog, l), "Edited " + QString(l));
        store::deleteTree(slotKey('K'));
        QVERIFY(!dialog.close());
        QVERIFY(dialog.isVisible());
        QCOMPARE(boxes.errors(), QStringList{"Failed to set data for 'Title'"});
        QCOMPARE(store::value(slotKey('A'), "Title"), store::sz("Edited A"));
        QCOMPARE(store::value(slotKey('J'), "Title"), store::sz("Edited J"));
        QVERIFY(!store::keyExists(slotKey('K')));
        QCOMPARE(store::valueNames(root), QStringList());
        QCOMPARE(store::value(slotKey('L'), "Title"), store::sz("Function L"));
    }

    // Rows the dialog could not load are disabled and left alone when it closes.
    void loadErrorKeepsLaterRows_data() {
        QTest::addColumn<bool>("seeded");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("rowsLoaded");
        QTest::newRow("Title of F is a number") << true << "Invalid data type for 'Title'" << 5;
        QTest::newRow("keys cannot be created")
            << false << "Failed to create key Quorvane\\A." << 0;
    }
    void loadErrorKeepsLaterRows() {
        QFETCH(bool, seeded);
        QFETCH(QString, error);
        QFETCH(int, rowsLoaded);
        if (seeded) {
            seed();
            store::setDword(slotKey('F'), "Title", 7);
            store::set(slotKey('G'), "Title", store::sz("Kept G"));
        } else {
            registry::setDeniedRights(KEY_CREATE_SUB_KEY);
        }
        const QString before = store::dump();
        BoxRecorder boxes;
        TFormLinkFile dialog(nullptr);
        registry::setDeniedRights(0);
        QCOMPARE(boxes.errors(), QStringList{error});
        dialog.show();
        for (int n = 1; n <= 26; ++n) {
            const QChar l(64 + n);
            QCOMPARE(memo(&dialog, l)->isEnabled(), n <= rowsLoaded);
            QCOMPARE(exeName(&dialog, l)->isEnabled(), n <= rowsLoaded);
        }
        if (rowsLoaded > 0)
            QCOMPARE(memoText(memo(&dialog, 'E')), QStringLiteral("Function E"));
        QVERIFY(dialog.close());
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(store::dump(), before);
    }

    void titleMemoGrowsWhileFocused() {
        seed();
        TFormLinkFile dialog(nullptr);
        QVERIFY(showActive(&dialog));
        QPlainTextEdit* c = memo(&dialog, 'C');
        QPlainTextEdit* d = memo(&dialog, 'D');
        const QObjectList& siblings = c->parentWidget()->children();
        QCOMPARE(c->height(), 24);
        QTest::mouseClick(c->viewport(), Qt::LeftButton);
        QCOMPARE(c->height(), 100);
        QCOMPARE(siblings.last(), c);
        QTest::keyClick(c, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), d);
        QCOMPARE(c->height(), 24);
        QCOMPARE(d->height(), 100);
        QCOMPARE(siblings.last(), d);
        QCOMPARE(siblings.at(siblings.size() - 2), c);
        QCOMPARE(c->width(), 160);
    }

    void focusOrder() {
        seed();
        TFormLinkFile dialog(nullptr);
        QVERIFY(showActive(&dialog));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("BBClose"));
        QStringList expected{"Button1"};
        for (QChar l : letters())
            expected << (l == 'X' ? "ExeNameY" : l == 'Y' ? "ExeNameX" : "ExeName" + QString(l));
        for (QChar l : letters())
            expected << "Memo" + QString(l);
        expected << "BBClose";
        QStringList seen;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(seen, expected);
    }

    void rowsNamedAndTagged() {
        seed();
        TFormLinkFile dialog(nullptr);
        QCOMPARE(dialog.objectName(), QStringLiteral("FormLinkFile"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("FormLinkFile"));
        for (int n = 1; n <= 26; ++n) {
            const QChar l(64 + n);
            auto detail = qobject_cast<QToolButton*>(
                findComponent(&dialog, QStringLiteral("sb%1").arg(n, 2, 10, QChar('0'))));
            auto browse = qobject_cast<QToolButton*>(findComponent(&dialog, "sb" + QString(l)));
            QVERIFY(detail && browse);
            QCOMPARE(tagOf(detail), n);
            QCOMPARE(tagOf(browse), n);
            QVERIFY(!detail->icon().isNull());
            QCOMPARE(detail->focusPolicy(), Qt::NoFocus);
            const QList<QWidget*> row{child<QWidget>(&dialog, "Label" + QString(l)),
                                      memo(&dialog, l), detail, exeName(&dialog, l), browse};
            int top = row.first()->y(), bottom = top;
            for (QWidget* w : row) {
                top = std::min(top, w->y());
                bottom = std::max(bottom, w->y());
            }
            QVERIFY2(bottom - top <= 3, qPrintable(QString(l)));
            QCOMPARE(browse->x(), exeName(&dialog, l)->geometry().right());
        }
    }

    // The browse button of a row opens the picker on the row's file name and puts the chosen
    // file there; cancelling leaves the field as it was.
    void browseFillsTheFileNameField_data() {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("file chosen") << true;
        QTest::newRow("cancelled") << false;
    }
    void browseFillsTheFileNameField() {
        QFETCH(bool, confirm);
        seed();
        QTemporaryDir tree;
        for (const char* name : {"a.txt", "b.txt"}) {
            QFile f(tree.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        drives::mapDrive(QLatin1Char('T'), tree.path());
        TFormLinkFile dialog(nullptr);
        QLineEdit* field = child<QLineEdit>(&dialog, "ExeNameC");
        field->setText(QStringLiteral("T:\\a.txt"));
        QString shownName;
        QTimer::singleShot(0, &dialog, [&] {
            for (const QPointer<TForm>& form : dialog.ownedForms()) {
                auto picker = qobject_cast<TFormGetPath*>(form.data());
                if (!picker)
                    continue;
                auto edit = picker->findChild<QLineEdit*>(QStringLiteral("DirectoryName"));
                shownName = edit->text();
                edit->setText(QStringLiteral("T:\\b.txt"));
                QTest::keyClick(edit, Qt::Key_Return);
                picker->findChild<QPushButton*>(confirm ? "BBOK" : "BBCancel")->click();
            }
        });
        QTimer::singleShot(5000, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        QTest::mouseClick(child<QToolButton>(&dialog, "SBC"), Qt::LeftButton);
        QCOMPARE(shownName, QStringLiteral("T:\\"));
        QCOMPARE(field->text(),
                 confirm ? QStringLiteral("T:\\b.txt") : QStringLiteral("T:\\a.txt"));
        QCOMPARE(child<QLineEdit>(&dialog, "ExeNameB")->text(), QString());
        drives::resetMapping();
    }

    void saveKeyShowsNothing() {
        seed();
        QTemporaryDir home;
        // C: is the home directory: the export must not land in the real one.
        struct HomeRestorer {
            QByteArray old = qgetenv("HOME");
            ~HomeRestorer() {
                qputenv("HOME", old);
                drives::resetMapping();
            }
        } restoreHome;
        qputenv("HOME", home.path().toUtf8());
        drives::resetMapping(); // C: is the home directory as it is now
        const QString before = store::dump();
        BoxRecorder boxes;
        {
            TFormLinkFile dialog(nullptr);
            QVERIFY(showActive(&dialog));
            QPushButton* save = child<QPushButton>(&dialog, "Button1");
            QTest::mouseClick(save, Qt::LeftButton);
            QFile file(home.filePath("Quorvane"));
            const bool written = file.open(QIODevice::ReadOnly);
            const QByteArray first = written ? file.readAll() : QByteArray();
            file.close();
            // A second export finds the file there: it stays as it was, quietly.
            QTest::mouseClick(save, Qt::LeftButton);
            QVERIFY(written);
            QVERIFY(first.startsWith("regf"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), first);
            QCOMPARE(boxes.count(), 0);
            QCOMPARE(store::dump(), before);
        }
    }
};

QUORVANE_TEST_MAIN(TestLinkFile)
#include "tst_linkfile.moc"
