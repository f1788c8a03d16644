#include "Auto.h"
#include "AutoLetters.h"
#include "AutoQ.h"
#include "Controls.h"
#include "Drives.h"
#include "GetPath.h"
#include "Halvorn.h"
#include "LinkDetail.h"
#include "LinkFile.h"
#include "MessageBox.h"
#include "RegistryAccessor.h"
#include "TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Roles of the controls a person acts on or reads. A panel is a frame that shows a caption.
bool needsName(QAccessibleInterface* a) {
    switch (a->role()) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::List:
    case QAccessible::ProgressBar:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::SpinBox:
        return true;
    default:
        return a->object() && a->object()->inherits("TPanel");
    }
}

// The controls of a window that a screen reader would find without a name, as "role objectName".
void collectUnnamed(QAccessibleInterface* a, QStringList& unnamed) {
    if (!a || a->state().invisible)
        return;
    if (needsName(a) && a->text(QAccessible::Name).trimmed().isEmpty())
        unnamed << QStringLiteral("%1 %2")
                       .arg(int(a->role()))
                       .arg(a->object() ? a->object()->objectName() : QStringLiteral("?"));
    for (int i = 0; i < a->childCount(); ++i)
        collectUnnamed(a->child(i), unnamed);
}

QStringList unnamedControls(QWidget* window) {
    QStringList unnamed;
    collectUnnamed(QAccessible::queryAccessibleInterface(window), unnamed);
    return unnamed;
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        // The database window's data sources: none is defined, so both connections fail at once.
        QFile ini(dir_.filePath("odbc.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.close();
        qputenv("ODBCINI", QFile::encodeName(ini.fileName()));
        msgbox::setHook([](const msgbox::Shown&) { return msgbox::Answer::Ok; });
        RegistryAccessor().createKey(QStringLiteral("Quorvane"));
    }

    void everyControlIsNamed_data() {
        QTest::addColumn<std::function<QWidget*(TForm*)>>("make");
        QTest::newRow("main window")
            << std::function<QWidget*(TForm*)>([](TForm*) -> QWidget* { return new TFormHalvorn; });
        QTest::newRow("link setup") << std::function<QWidget*(TForm*)>(
            [](TForm* owner) -> QWidget* { return new TFormLinkFile(owner); });
        QTest::newRow("link detail") << std::function<QWidget*(TForm*)>(
            [](TForm* owner) -> QWidget* { return new TFormLinkDetail(owner); });
        QTest::newRow("picker") << std::function<QWidget*(TForm*)>(
            [](TForm*) -> QWidget* { return new TFormGetPath; });
        QTest::newRow("job window") << std::function<QWidget*(TForm*)>(
            [](TForm* owner) -> QWidget* { return new TFormAutoA(owner); });
        QTest::newRow("database job window") << std::function<QWidget*(TForm*)>(
            [](TForm* owner) -> QWidget* { return new TFormAutoQ(owner); });
    }
    void everyControlIsNamed() {
        QFETCH(std::function<QWidget*(TForm*)>, make);
        TForm owner;
        std::unique_ptr<QWidget> window(make(&owner));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QStringList unnamed = unnamedControls(window.get());
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    }

    // Windows are announced by role: the main window as a frame, a dialog while it runs modally,
    // an embedded job window as a pane of the main window.
    void windowsHaveTheirRoles() {
        TFormHalvorn main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        auto role = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->role(); };
        QCOMPARE(role(&main), QAccessible::Window);
        TFormLinkFile setup(&main);
        QAccessible::Role modalRole = QAccessible::NoRole;
        QTimer::singleShot(0, &setup, [&] {
            modalRole = role(&setup);
            setup.close();
        });
        setup.showModal();
        QCOMPARE(modalRole, QAccessible::Dialog);
        QCOMPARE(role(&setup), QAccessible::Window); // after its modal run
        QWidget pane;
        auto job = new TFormAutoA(&main);
        job->setParent(&pane); // the pane frees it
        QCOMPARE(role(job), QAccessible::Client);
    }

    // A job panel is read as its caption; before it has one, as what it is for.
    void panelReadsItsCaption() {
        TForm owner;
        TFormAutoA window(&owner);
        auto panel = window.findChild<TPanel*>(QStringLiteral("Panel0"));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(panel);
        QCOMPARE(a->role(), QAccessible::StaticText);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Job"));
        panel->setCaption(QStringLiteral("TFormAutoA"));
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("TFormAutoA"));
    }

    // F2 and F4 press the detail and browse buttons of the row that has the focus, from its title
    // memo as from its file-name field. Each row's file lies in a directory of its own, so the
    // directory the picker opens on tells the row.
    void rowKeysOpenTheRowsDialogs_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("opened");
        QTest::newRow("A title, F2") << "MemoA" << int(Qt::Key_F2) << "TFormLinkDetail Quorvane\\A";
        QTest::newRow("A file, F4") << "ExeNameA" << int(Qt::Key_F4) << "TFormGetPath T:\\A";
        QTest::newRow("X file, F2")
            << "ExeNameX" << int(Qt::Key_F2) << "TFormLinkDetail Quorvane\\X";
        QTest::newRow("X title, F4") << "MemoX" << int(Qt::Key_F4) << "TFormGetPath T:\\X";
        QTest::newRow("Z title, F2") << "MemoZ" << int(Qt::Key_F2) << "TFormLinkDetail Quorvane\\Z";
        QTest::newRow("Z file, F4") << "ExeNameZ" << int(Qt::Key_F4) << "TFormGetPath T:\\Z";
    }
    void rowKeysOpenTheRowsDialogs() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, opened);
        QTemporaryDir tree;
        drives::mapDrive(QLatin1Char('T'), tree.path());
        TFormLinkFile dialog(nullptr);
        for (const char* row : {"A", "X", "Z"}) {
            QVERIFY(QDir(tree.path()).mkdir(QLatin1String(row)));
            QFile file(tree.filePath(QLatin1String(row) + QStringLiteral("/job.txt")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            dialog.findChild<QLineEdit*>(QStringLiteral("ExeName") + QLatin1String(row))
                ->setText(QStringLiteral("T:\\%1\\job.txt").arg(QLatin1String(row)));
        }
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QWidget* focused = dialog.findChild<QWidget*>(focus);
        focused->setFocus();
        QString seen;
        QTimer::singleShot(0, &dialog, [&] {
            for (const QPointer<TForm>& form : dialog.ownedForms()) {
                if (!form || !form->isVisible())
                    continue;
                const QString className = QString::fromLatin1(form->metaObject()->className());
                if (auto picker = qobject_cast<TFormGetPath*>(form.data()))
                    seen = className + ' ' +
                           picker->findChild<QLineEdit*>(QStringLiteral("DirectoryName"))->text();
                else
                    seen = className + ' ' + form->windowTitle();
                form->close();
            }
        });
        QTimer::singleShot(5000, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        QTest::keyPress(focused, Qt::Key(key));
        QTest::keyRelease(focused, Qt::Key(key));
        drives::resetMapping();
        QCOMPARE(seen, opened);
        QCOMPARE(dialog.focusWidget(), focused);
    }
};

QUORVANE_TEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
