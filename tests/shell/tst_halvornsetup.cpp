// The main window's two ways into the link setup dialog: the first start and Ctrl+F10.
#include "Halvorn.h"
#include "LinkFile.h"
#include "Memo.h"
#include "MessageBox.h"
#include "Registry.h"
#include "RegistryAccessor.h"
#include "TestMain.h"

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QTimer>

#include <functional>

namespace {

QChar letter(int n) {
    return QChar(64 + n);
}

QString title(int n) {
    RegistryAccessor reg;
    reg.openKeyReadOnly(QStringLiteral("Quorvane\\") + letter(n));
    return reg.readString(QStringLiteral("Title"));
}

QPlainTextEdit* titleMemo(QWidget* dialog, int n) {
    return dialog->findChild<QPlainTextEdit*>(QStringLiteral("Memo") + letter(n));
}

// Watches for modal windows while it lives: the first one is handed to `whileOpen`, and each
// one is closed (forcibly when its own close keeps it open), so that no test hangs in a modal
// run, also when a second one opens by mistake.
class ModalCloser {
public:
    explicit ModalCloser(std::function<void(QWidget*)> whileOpen)
        : whileOpen_(std::move(whileOpen)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(10);
    }
    int seen() const { return seen_; }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (++seen_ == 1)
            whileOpen_(modal);
        modal->close();
        if (auto form = qobject_cast<TForm*>(modal); form && form->isVisible()) {
            form->OnClose = nullptr;
            form->close();
        }
    }

    std::function<void(QWidget*)> whileOpen_;
    QTimer timer_;
    int seen_ = 0;
};

} // namespace

class TestHalvornSetup : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QList<msgbox::Shown> shown_;
    int storeCount_ = 0;

    QAbstractButton* button(TFormHalvorn& w, const QString& name) {
        return qobject_cast<QAbstractButton*>(findComponent(&w, name));
    }

private slots:
    void init() {
        registry::setStoreFile(
            (dir_.path() + QStringLiteral("/store%1.db").arg(++storeCount_)).toStdString());
        shown_.clear();
        msgbox::setHook([this](const msgbox::Shown& s) {
            shown_.append(s);
            return msgbox::Answer::Ok;
        });
    }
    void cleanup() { msgbox::setHook({}); }

    void firstStartRunsSetupBeforeTheMainWindow_data() {
        QTest::addColumn<bool>("edit");
        QTest::newRow("closed unchanged") << false;
        QTest::newRow("titles edited") << true;
    }
    void firstStartRunsSetupBeforeTheMainWindow() {
        QFETCH(bool, edit);
        QString dialogClass;
        bool mainWindowHidden = false, ownedByMainWindow = false;
        QStringList titlesShown;
        ModalCloser closer([&](QWidget* modal) {
            dialogClass = modal->metaObject()->className();
            mainWindowHidden = FormHalvorn && !FormHalvorn->isVisible();
            ownedByMainWindow = qobject_cast<TForm*>(modal)->owner() == FormHalvorn;
            for (int n = 1; n <= 26; ++n)
                titlesShown << memoText(titleMemo(modal, n));
            if (edit) {
                setMemoText(titleMemo(modal, 2), QStringLiteral("Nightly backup"));
                setMemoText(titleMemo(modal, 3), QString());
            }
        });
        TFormHalvorn w;
        QCOMPARE(closer.seen(), 1);
        QCOMPARE(dialogClass, QStringLiteral("TFormLinkFile"));
        QVERIFY(mainWindowHidden);
        QVERIFY(ownedByMainWindow);
        QVERIFY(shown_.isEmpty());
        QVERIFY(w.findChildren<TFormLinkFile*>().isEmpty());
        QStringList seeded;
        for (int n = 1; n <= 26; ++n)
            seeded << QStringLiteral("Function ") + letter(n);
        QCOMPARE(titlesShown, seeded);
        for (int n = 1; n <= 26; ++n) {
            QString expected = seeded[n - 1];
            if (edit && n == 2)
                expected = QStringLiteral("Nightly backup");
            if (edit && n == 3)
                expected = QString();
            QAbstractButton* slot = button(w, QStringLiteral("BB") + letter(n));
            QCOMPARE(slot->text(), expected);
            QCOMPARE(slot->isEnabled(), !expected.isEmpty());
            QCOMPARE(button(w, QStringLiteral("SB") + letter(n))->toolTip(), expected);
            QCOMPARE(title(n), expected);
        }
    }

    void existingSettingsSkipTheSetup() {
        RegistryAccessor().createKey(QStringLiteral("Quorvane"));
        ModalCloser closer([](QWidget*) {});
        TFormHalvorn w;
        QTest::qWait(50);
        QCOMPARE(closer.seen(), 0);
        QCOMPARE(button(w, "BBA")->text(), QString());
    }

    void ctrlF10KeepsTheCaptions() {
        {
            RegistryAccessor reg;
            for (int n = 1; n <= 26; ++n) {
                reg.openKey(QStringLiteral("Quorvane\\") + letter(n), true);
                reg.writeString(QStringLiteral("Title"), QStringLiteral("Job %1").arg(n));
            }
        }
        TFormHalvorn w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QString shownTitle;
        bool ownedByMainWindow = false;
        ModalCloser closer([&](QWidget* modal) {
            ownedByMainWindow = qobject_cast<TForm*>(modal)->owner() == &w;
            shownTitle = memoText(titleMemo(modal, 1));
            setMemoText(titleMemo(modal, 1), QStringLiteral("Renamed"));
            setMemoText(titleMemo(modal, 4), QString());
        });
        // Through the window, as the platform delivers keys.
        QTest::keyClick(w.windowHandle(), Qt::Key_F10, Qt::ControlModifier);
        QTest::qWait(50);
        QCOMPARE(closer.seen(), 1);
        QVERIFY(ownedByMainWindow);
        QCOMPARE(shownTitle, QStringLiteral("Job 1"));
        QCOMPARE(title(1), QStringLiteral("Renamed"));
        QCOMPARE(title(4), QString());
        QCOMPARE(button(w, "BBA")->text(), QStringLiteral("Job 1"));
        QCOMPARE(button(w, "BBD")->text(), QStringLiteral("Job 4"));
        QVERIFY(button(w, "BBD")->isEnabled());
        QCOMPARE(button(w, "SBA")->toolTip(), QStringLiteral("Job 1"));
        QVERIFY(w.findChildren<TFormLinkFile*>().isEmpty());
        QVERIFY(shown_.isEmpty());
        QVERIFY(w.isVisible());
    }
};

QUORVANE_TEST_MAIN(TestHalvornSetup)
#include "tst_halvornsetup.moc"
