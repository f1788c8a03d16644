#include "AppTitle.h"
#include "Auto.h"
#include "AutoLetters.h"
#include "AutoQ.h"
#include "ClassAuto.h"
#include "Controls.h"
#include "Error.h"
#include "Halvorn.h"
#include "JobClassRegistry.h"
#include "MessageBox.h"
#include "RegistryAccessor.h"
#include "TestMain.h"
#include "Tiling.h"
#include "TimeFormat.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

using namespace std::chrono_literals;

// Stand-ins for job classes of slots C to F. The registry finds names without regard to case,
// so with the real class of a letter withdrawn, "TFormAutoE" finds `tformautoe`.

// Records, whenever the shell sets its caption, whether the window's timer was already running.
class CaptionProbe : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
public:
    using QObject::QObject;
    QString caption() const { return caption_; }
    void setCaption(const QString& caption) {
        caption_ = caption;
        auto timer = parent()->findChild<QTimer*>(QStringLiteral("Timer0"));
        timerRunningAtCaption.append(timer && timer->isActive());
    }
    QList<bool> timerRunningAtCaption;

private:
    QString caption_;
};

class ProbeJob : public TForm {
    Q_OBJECT
public:
    ProbeJob(QObject* owner, bool withList) : TForm(owner) {
        auto timer = new QTimer(this);
        timer->setObjectName(QStringLiteral("Timer0"));
        timer->setInterval(60000);
        probe = new CaptionProbe(this);
        probe->setObjectName(QStringLiteral("Panel0"));
        if (withList) {
            auto list = new QListWidget(this);
            list->setObjectName(QStringLiteral("ListBox0"));
            list->hide();
        }
    }
    CaptionProbe* probe;
};

class tformautoc : public ProbeJob {
    Q_OBJECT
public:
    Q_INVOKABLE explicit tformautoc(QObject* owner) : ProbeJob(owner, true) {}
};

// Owns no list, as the database job window does.
class tformautod : public ProbeJob {
    Q_OBJECT
public:
    Q_INVOKABLE explicit tformautod(QObject* owner) : ProbeJob(owner, false) {}
};

class tformautoe : public TForm {
    Q_OBJECT
public:
    Q_INVOKABLE explicit tformautoe(QObject* owner) : TForm(owner) {
        throw Error(QStringLiteral("Cannot build"));
    }
};

class tformautof : public ProbeJob {
    Q_OBJECT
public:
    Q_INVOKABLE explicit tformautof(QObject* owner) : ProbeJob(owner, true) {
        OnShow = [] { throw Error(QStringLiteral("Show failed")); };
    }
};

namespace {

QChar letter(int n) {
    return QChar(64 + n);
}

QString jobName(int n) {
    return QStringLiteral("TFormAuto") + letter(n);
}

bool sameImage(const QIcon& icon, const QPixmap& expected) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32) ==
           expected.toImage().convertToFormat(QImage::Format_ARGB32);
}

// Puts `stand-in` in place of the real job class of its letter for the life of this object.
class Substitute {
public:
    Substitute(const QMetaObject* real, const QMetaObject* standIn)
        : real_(real), standIn_(standIn) {
        UnregisterJobClass(real_);
        RegisterJobClass(standIn_);
    }
    ~Substitute() {
        UnregisterJobClass(standIn_);
        RegisterJobClass(real_);
    }

private:
    const QMetaObject* real_;
    const QMetaObject* standIn_;
};

// Runs `action` with the count of each event-processing pass that reaches it, from 1, until it
// returns false. Each pass of "Run" processes the events posted before it, so the count is the
// slot about to be examined.
void everyPass(QObject* context, std::function<bool(int)> action, int pass = 1) {
    QMetaObject::invokeMethod(
        context,
        [context, action, pass] {
            if (action(pass))
                everyPass(context, action, pass + 1);
        },
        Qt::QueuedConnection);
}

} // namespace

class TestHosting : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int storeCount_ = 0;
    QList<msgbox::Shown> shown_;

    static QAbstractButton* button(TFormHalvorn& w, const QString& name) {
        return qobject_cast<QAbstractButton*>(findComponent(&w, name));
    }
    static TForm* job(TFormHalvorn& w, int n) {
        return qobject_cast<TForm*>(findComponent(&w, jobName(n)));
    }
    static TFormAuto* autoJob(TFormHalvorn& w, int n) {
        return qobject_cast<TFormAuto*>(job(w, n));
    }
    static QMdiSubWindow* frameOf(QWidget* window) {
        return window ? qobject_cast<QMdiSubWindow*>(window->parentWidget()) : nullptr;
    }
    static void open(TFormHalvorn& w, int n) {
        w.BBAClick(button(w, QStringLiteral("BB") + letter(n)));
    }
    static bool lit(TFormHalvorn& w, int n) {
        return sameImage(button(w, QStringLiteral("SB") + letter(n))->icon(), w.image(0));
    }
    static bool grey(TFormHalvorn& w, int n) {
        return sameImage(button(w, QStringLiteral("SB") + letter(n))->icon(), w.image(1));
    }
    static QList<QRect> tiles(TFormHalvorn& w, int count) {
        return verticalTileRects(count, w.workArea()->viewport()->rect());
    }
    static void showMain(TFormHalvorn& w) {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }
    static void freeDeferred() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private slots:
    void initTestCase() {
        // No data sources: the database job window's connections fail at once when it shows.
        qputenv("ODBCINI", (dir_.path() + QStringLiteral("/odbc.ini")).toLocal8Bit());
        qputenv("ODBCSYSINI", dir_.path().toLocal8Bit());
        InitializeClassAuto();
    }
    void cleanupTestCase() { FinalizeClassAuto(); }
    void init() {
        registry::setStoreFile(
            (dir_.path() + QStringLiteral("/store%1.db").arg(++storeCount_)).toStdString());
        {
            RegistryAccessor reg;
            for (int n = 1; n <= 26; ++n) {
                QVERIFY(reg.openKey(QStringLiteral("Quorvane\\") + letter(n), true));
                // Slot D has no title, so its button is disabled.
                reg.writeString(QStringLiteral("Title"),
                                n == 4 ? QString() : QStringLiteral("Job ") + letter(n));
                reg.closeKey();
            }
        }
        shown_.clear();
        msgbox::setHook([this](const msgbox::Shown& s) {
            shown_.append(s);
            return msgbox::Answer::Ok;
        });
        setJobStepPause(0ms);
    }
    void cleanup() {
        msgbox::setHook({});
        setJobStepPause(10ms);
        freeDeferred();
    }

    void openingASlot();
    void ctrlLetterOpensADisabledSlot_data();
    void ctrlLetterOpensADisabledSlot();
    void keysInsideAJobWindowStayThere();
    void functionKeysPressTheToolBar();
    void unknownJobName_data();
    void unknownJobName();
    void errorWhileCreatingLeavesNoWindow();
    void errorAfterCreatingLeavesTheWindowHiddenAndOwned();
    void errorInTheShowHandlerIsReported();
    void closingFreesTheSlot_data();
    void closingFreesTheSlot();
    void closingTheMainWindowSkipsTheJobCloseHandler();
    void databaseJobWindowHasNoList();
    void runWithNothingOpen();
    void runHandlesTheSlotsInOrder();
    void runEnablesTheTimerBeforeTheCaption();
    void runLooksAtEachSlotAfresh();
    void nestedRun();
    void runTwiceWithinTheIntervalGivesOneJob();
    void armedJobsRunOneAfterAnother();
};

void TestHosting::openingASlot() {
    TFormHalvorn w;
    showMain(w);
    QTest::mouseClick(button(w, "BBA"), Qt::LeftButton);

    auto a = autoJob(w, 1);
    QVERIFY(a);
    QCOMPARE(a->metaObject()->className(), "TFormAutoA");
    QCOMPARE(a->objectName(), QStringLiteral("TFormAutoA"));
    QCOMPARE(a->owner(), &w);
    QCOMPARE(a->tag(), 1);
    QCOMPARE(a->windowTitle(), QStringLiteral("TFormAutoA\r\n"));
    QCOMPARE(a->ListBox0->count(), 1);
    QCOMPARE(a->ListBox0->item(0)->text(), QStringLiteral("TFormAutoA"));
    QVERIFY(a->isVisible());
    QVERIFY(w.slotHandle(1) != 0);
    QVERIFY(lit(w, 1));
    QVERIFY(grey(w, 2));
    QMdiSubWindow* frameA = frameOf(a);
    QVERIFY(frameA);
    QCOMPARE(w.workArea()->subWindowList(), QList<QMdiSubWindow*>{frameA});
    QVERIFY(frameA->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QCOMPARE(frameA->geometry(), tiles(w, 1).at(0));
    QVERIFY(shown_.isEmpty());

    // A second press of an open slot changes nothing, not even the place the user gave it.
    frameA->setGeometry(10, 10, 300, 200);
    const WindowHandle handle = w.slotHandle(1);
    QTest::mouseClick(button(w, "BBA"), Qt::LeftButton);
    QCOMPARE(autoJob(w, 1), a);
    QCOMPARE(w.ownedForms().size(), 1);
    QCOMPARE(a->ListBox0->count(), 1);
    QCOMPARE(frameA->geometry(), QRect(10, 10, 300, 200));
    QCOMPARE(w.slotHandle(1), handle);
    QVERIFY(shown_.isEmpty());

    QTest::mouseClick(button(w, "BBB"), Qt::LeftButton);
    auto b = autoJob(w, 2);
    QVERIFY(b);
    QVERIFY(w.slotHandle(2) != 0 && w.slotHandle(2) != handle);
    QCOMPARE(frameA->geometry(), tiles(w, 2).at(0));
    QCOMPARE(frameOf(b)->geometry(), tiles(w, 2).at(1));
}

void TestHosting::ctrlLetterOpensADisabledSlot_data() {
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl") << int(Qt::ControlModifier);
    QTest::newRow("Ctrl+Shift") << int(Qt::ControlModifier | Qt::ShiftModifier);
}

void TestHosting::ctrlLetterOpensADisabledSlot() {
    QFETCH(int, modifiers);
    TFormHalvorn w;
    showMain(w);
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!button(w, "BBD")->isEnabled());
    QTest::keyClick(w.windowHandle(), Qt::Key_D, Qt::KeyboardModifiers(modifiers));
    QVERIFY(autoJob(w, 4));
    QVERIFY(lit(w, 4));
    QVERIFY(w.slotHandle(4) != 0);
}

void TestHosting::keysInsideAJobWindowStayThere() {
    TFormHalvorn w;
    showMain(w);
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::mouseClick(button(w, "BBA"), Qt::LeftButton);
    auto a = autoJob(w, 1);
    QVERIFY(a);
    auto memo = qobject_cast<QWidget*>(findComponent(a, QStringLiteral("Memo0")));
    QVERIFY(memo);
    memo->setFocus();
    QTest::keyClick(w.windowHandle(), Qt::Key_B, Qt::ControlModifier);
    QVERIFY(!autoJob(w, 2));
    QCOMPARE(w.slotHandle(2), WindowHandle(0));
}

// F5 and F6 press Run and Tile, which take no focus; inside a job window they stay there.
void TestHosting::functionKeysPressTheToolBar() {
    TFormHalvorn w;
    showMain(w);
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    open(w, 1);
    TFormAuto* a = autoJob(w, 1);
    QVERIFY(a);
    auto press = [&](Qt::Key key) {
        QTest::keyPress(w.windowHandle(), key);
        QTest::keyRelease(w.windowHandle(), key);
    };
    auto frame = w.workArea()->subWindowList().first();
    const QRect tiled = frame->geometry();
    frame->move(tiled.topLeft() + QPoint(40, 30));

    a->Memo0->setFocus();
    press(Qt::Key_F6);
    press(Qt::Key_F5);
    QVERIFY(frame->geometry() != tiled);
    QVERIFY(!a->Timer0->isActive());

    button(w, "BBA")->setFocus();
    press(Qt::Key_F6);
    QCOMPARE(frame->geometry(), tiled);
    press(Qt::Key_F5);
    QVERIFY(a->Timer0->isActive());
    QCOMPARE(a->Panel0->caption(), QStringLiteral("TFormAutoA"));
}

void TestHosting::unknownJobName_data() {
    QTest::addColumn<int>("tag");
    QTest::newRow("after Z") << 27;
    QTest::newRow("before A") << 0;
}

void TestHosting::unknownJobName() {
    QFETCH(int, tag);
    TFormHalvorn w;
    showMain(w);
    QPushButton sender;
    setTag(&sender, tag);
    w.BBAClick(&sender);
    QCOMPARE(shown_.size(), 1);
    QCOMPARE(shown_[0].kind, msgbox::Kind::Message);
    QCOMPARE(shown_[0].caption, applicationTitle());
    QCOMPARE(shown_[0].text, QString::fromUtf8("程式尚未建立！"));
    QVERIFY(w.ownedForms().isEmpty());
    QVERIFY(w.workArea()->subWindowList().isEmpty());
}

void TestHosting::errorWhileCreatingLeavesNoWindow() {
    Substitute standIn(&TFormAutoE::staticMetaObject, &tformautoe::staticMetaObject);
    TFormHalvorn w;
    showMain(w);
    // A click: the error escapes the handler into the event loop, which reports it.
    QTest::mouseClick(button(w, "BBE"), Qt::LeftButton);
    QCOMPARE(shown_.size(), 1);
    QCOMPARE(shown_[0].kind, msgbox::Kind::Error);
    QCOMPARE(shown_[0].text, QStringLiteral("Cannot build."));
    QVERIFY(w.ownedForms().isEmpty());
    QVERIFY(w.workArea()->subWindowList().isEmpty());
    QCOMPARE(w.slotHandle(5), WindowHandle(0));
    QVERIFY(grey(w, 5));
}

void TestHosting::errorAfterCreatingLeavesTheWindowHiddenAndOwned() {
    TFormHalvorn w;
    showMain(w);
    // Tag 33 builds "TFormAutoa", which finds TFormAutoA, but it is no slot number.
    QPushButton sender;
    setTag(&sender, 33);
    QVERIFY(!runGuarded([&] { w.BBAClick(&sender); }));
    QCOMPARE(shown_.size(), 1);
    QCOMPARE(shown_[0].kind, msgbox::Kind::Error);
    QCOMPARE(w.ownedForms().size(), 1);
    TForm* left = w.ownedForms().at(0);
    QCOMPARE(left->metaObject(), &TFormAutoA::staticMetaObject);
    QVERIFY(!left->isVisible());
    QVERIFY(w.workArea()->subWindowList().isEmpty());
    for (int n = 1; n <= 26; ++n) {
        QCOMPARE(w.slotHandle(n), WindowHandle(0));
        QVERIFY(grey(w, n));
    }
}

void TestHosting::errorInTheShowHandlerIsReported() {
    Substitute standIn(&TFormAutoF::staticMetaObject, &tformautof::staticMetaObject);
    TFormHalvorn w;
    showMain(w);
    open(w, 1);
    open(w, 6);
    QCOMPARE(shown_.size(), 1);
    QCOMPARE(shown_[0].kind, msgbox::Kind::Error);
    QCOMPARE(shown_[0].text, QStringLiteral("Show failed."));
    TForm* f = job(w, 6);
    QVERIFY(f);
    QVERIFY(f->isVisible());
    QVERIFY(lit(w, 6));
    QCOMPARE(frameOf(f)->geometry(), tiles(w, 2).at(1));
}

void TestHosting::closingFreesTheSlot_data() {
    QTest::addColumn<bool>("throughFrame");
    QTest::newRow("frame's close box") << true;
    QTest::newRow("window closed") << false;
}

void TestHosting::closingFreesTheSlot() {
    QFETCH(bool, throughFrame);
    TFormHalvorn w;
    showMain(w);
    open(w, 1);
    open(w, 2);
    QPointer<TForm> a = job(w, 1);
    QPointer<QMdiSubWindow> frameA = frameOf(a);
    QMdiSubWindow* frameB = frameOf(job(w, 2));
    const QRect placeB = frameB->geometry();
    const WindowHandle oldHandle = w.slotHandle(1);

    QVERIFY(throughFrame ? frameA->close() : a->close());
    QVERIFY(grey(w, 1));
    QVERIFY(lit(w, 2));
    QCOMPARE(w.slotHandle(1), WindowHandle(0));
    QCOMPARE(frameB->geometry(), placeB); // no re-tile
    QVERIFY(!a->isVisible());
    if (throughFrame)
        QVERIFY(frameA->isHidden());

    // Closing: still owned until the deferred free, so the slot button does nothing yet.
    QCOMPARE(job(w, 1), a.data());
    open(w, 1);
    QCOMPARE(w.ownedForms().size(), 2);
    QCOMPARE(w.slotHandle(1), WindowHandle(0));

    freeDeferred();
    QVERIFY(a.isNull());
    QTRY_VERIFY(frameA.isNull());
    QCOMPARE(job(w, 1), nullptr);
    QCOMPARE(w.workArea()->subWindowList(), QList<QMdiSubWindow*>{frameB});

    open(w, 1);
    TForm* again = job(w, 1);
    QVERIFY(again);
    QVERIFY(again->isVisible());
    QVERIFY(w.slotHandle(1) != 0 && w.slotHandle(1) != oldHandle);
    QVERIFY(lit(w, 1));
    QVERIFY(shown_.isEmpty());
}

void TestHosting::closingTheMainWindowSkipsTheJobCloseHandler() {
    auto w = new TFormHalvorn;
    showMain(*w);
    open(*w, 1);
    open(*w, 2);
    QPointer<TForm> a = job(*w, 1);
    QPointer<TForm> b = job(*w, 2);
    QPointer<QMdiSubWindow> frameA = frameOf(a);
    QVERIFY(w->close());
    QVERIFY(!w->isVisible());
    // FormClose did not run for the job windows: their slots still read as open.
    QVERIFY(w->slotHandle(1) != 0 && w->slotHandle(2) != 0);
    QVERIFY(lit(*w, 1));
    QVERIFY(a && b);
    delete w;
    QVERIFY(a.isNull() && b.isNull() && frameA.isNull());
    freeDeferred();
}

void TestHosting::databaseJobWindowHasNoList() {
    TFormHalvorn w;
    showMain(w);
    open(w, 1);
    open(w, 17);
    auto q = qobject_cast<TFormAutoQ*>(job(w, 17));
    QVERIFY(q);
    QVERIFY(q->isVisible());
    QVERIFY(lit(w, 17));
    QCOMPARE(findComponent(q, QStringLiteral("ListBox0")), nullptr);
    QCOMPARE(frameOf(q)->geometry(), tiles(w, 2).at(1));
    const QString caption = q->Panel0->caption();
    w.SBRunClick();
    QVERIFY(q->Timer0->isActive());
    QCOMPARE(q->Panel0->caption(), caption);
    QCOMPARE(autoJob(w, 1)->Panel0->caption(), QStringLiteral("TFormAutoA"));
    setTimerEnabled(q->Timer0, false);
}

void TestHosting::runWithNothingOpen() {
    TFormHalvorn w;
    showMain(w);
    w.SBRunClick();
    QVERIFY(w.ownedForms().isEmpty());
    QVERIFY(w.workArea()->subWindowList().isEmpty());
    QVERIFY(shown_.isEmpty());
}

void TestHosting::runHandlesTheSlotsInOrder() {
    TFormHalvorn w;
    showMain(w);
    open(w, 2);
    open(w, 1);
    TFormAuto* a = autoJob(w, 1);
    TFormAuto* b = autoJob(w, 2);
    auto armed = [](TFormAuto* j) {
        return j->Timer0->isActive() && j->Panel0->caption() == j->objectName();
    };
    // What is armed when each slot is about to be examined.
    QList<QPair<bool, bool>> seen;
    everyPass(this, [&](int pass) {
        seen.append({armed(a), armed(b)});
        return pass < 26;
    });
    w.SBRunClick();

    QCOMPARE(seen.size(), 26);
    QCOMPARE(seen[0], qMakePair(false, false));
    QCOMPARE(seen[1], qMakePair(true, false)); // A before B, though B was opened first
    QCOMPARE(seen[2], qMakePair(true, true));
    QCOMPARE(a->Panel0->caption(), QStringLiteral("TFormAutoA"));
    QCOMPARE(b->Panel0->caption(), QStringLiteral("TFormAutoB"));
}

void TestHosting::runEnablesTheTimerBeforeTheCaption() {
    Substitute withList(&TFormAutoC::staticMetaObject, &tformautoc::staticMetaObject);
    Substitute withoutList(&TFormAutoD::staticMetaObject, &tformautod::staticMetaObject);
    TFormHalvorn w;
    showMain(w);
    open(w, 3);
    open(w, 4);
    auto c = static_cast<ProbeJob*>(job(w, 3));
    auto d = static_cast<ProbeJob*>(job(w, 4));
    QCOMPARE(c->findChild<QListWidget*>()->item(0)->text(), QStringLiteral("TFormAutoC"));
    QCOMPARE(frameOf(d)->geometry(), tiles(w, 2).at(1)); // shown and tiled without a list
    w.SBRunClick();
    QCOMPARE(c->probe->timerRunningAtCaption, QList<bool>{true});
    QCOMPARE(c->probe->caption(), QStringLiteral("TFormAutoC"));
    // Without a list the panel keeps its caption; the timer is enabled all the same.
    QVERIFY(d->probe->timerRunningAtCaption.isEmpty());
    QVERIFY(d->findChild<QTimer*>(QStringLiteral("Timer0"))->isActive());
    QVERIFY(shown_.isEmpty());
}

void TestHosting::runLooksAtEachSlotAfresh() {
    TFormHalvorn w;
    showMain(w);
    open(w, 3);
    open(w, 5);
    QPointer<TFormAuto> c = autoJob(w, 3);
    QPointer<TFormAuto> e = autoJob(w, 5);
    QPointer<TFormAuto> a;
    bool closedE = false;
    everyPass(this, [&](int pass) {
        if (pass == 1) {
            // Before slot 1: C is closed and freed, B opens.
            frameOf(c)->close();
            freeDeferred();
            open(w, 2);
        }
        if (pass == 4) {
            // Before slot 4: A opens too late for this pass, E is closed but not yet freed.
            open(w, 1);
            a = autoJob(w, 1);
            closedE = e->close();
        }
        return pass < 4;
    });
    w.SBRunClick();
    QVERIFY(c.isNull());
    QVERIFY(autoJob(w, 2)->Timer0->isActive());
    QCOMPARE(autoJob(w, 2)->Panel0->caption(), QStringLiteral("TFormAutoB"));
    QVERIFY(a && !a->Timer0->isActive());
    QVERIFY(a->Panel0->caption().isEmpty());
    QVERIFY(closedE);
    // E may already be freed: deferred frees run in the passes' event processing too.
    QVERIFY(!e || !e->Timer0->isActive());
    QCOMPARE(w.slotHandle(5), WindowHandle(0));
    QVERIFY(shown_.isEmpty());
}

void TestHosting::nestedRun() {
    TFormHalvorn w;
    showMain(w);
    open(w, 1);
    open(w, 2);
    QSignalSpy jobsA(autoJob(w, 1)->ProgressBar0, &QProgressBar::valueChanged);
    int nested = 0;
    everyPass(this, [&](int) {
        ++nested;
        w.SBRunClick(); // a full pass of its own inside the outer one
        return false;
    });
    w.SBRunClick();
    QCOMPARE(nested, 1);
    QVERIFY(autoJob(w, 1)->Timer0->isActive() && autoJob(w, 2)->Timer0->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(autoJob(w, 2)->ProgressBar0->value(), 1000, 5000);
    QTest::qWait(2300);
    QCOMPARE(jobsA.count(), 1000); // one job: positions 1 to 1000 once
}

void TestHosting::runTwiceWithinTheIntervalGivesOneJob() {
    TFormHalvorn w;
    showMain(w);
    open(w, 1);
    TFormAuto* a = autoJob(w, 1);
    QSignalSpy values(a->ProgressBar0, &QProgressBar::valueChanged);
    w.SBRunClick();
    QTest::qWait(1200);
    w.SBRunClick();
    // Not restarted: the tick is still due 2000 ms after the first press.
    QVERIFY2(a->Timer0->remainingTime() < 1500,
             qPrintable(QString::number(a->Timer0->remainingTime())));
    QTRY_COMPARE_WITH_TIMEOUT(a->ProgressBar0->value(), 1000, 5000);
    QTest::qWait(2300);
    QCOMPARE(values.count(), 1000);
    QVERIFY(!a->Timer0->isActive());
}

void TestHosting::armedJobsRunOneAfterAnother() {
    setJobStepPause(10ms); // the real pace: each job takes at least ten seconds
    TFormHalvorn w;
    showMain(w);
    QElapsedTimer clock;
    clock.start();
    QList<TFormAuto*> jobs;
    QList<qint64> starts(3, -1), ends(3, -1);
    for (int n = 1; n <= 3; ++n) {
        open(w, n);
        TFormAuto* j = autoJob(w, n);
        jobs.append(j);
        connect(j->ProgressBar0, &QProgressBar::valueChanged, this, [&, n](int v) {
            if (v == 1)
                starts[n - 1] = clock.elapsed();
            if (v == 1000)
                ends[n - 1] = clock.elapsed();
        });
    }
    w.SBRunClick();
    QTRY_VERIFY_WITH_TIMEOUT(ends[0] >= 0 && ends[1] >= 0 && ends[2] >= 0, 60000);

    for (int i = 0; i < 3; ++i) {
        QCOMPARE(jobs[i]->ProgressBar0->maximum(), 1000);
        QCOMPARE(jobs[i]->ProgressBar0->value(), 1000);
        QVERIFY(ends[i] - starts[i] >= 9990);
        if (i > 0)
            QVERIFY2(starts[i] >= ends[i - 1], "jobs overlap");
    }
    QVERIFY(ends[2] - starts[0] >= 30000);

    // The stamps say the same to the second.
    const QString sep = timeSeparator();
    const QString format =
        QStringLiteral("hh") + sep + QStringLiteral("mm") + sep + QStringLiteral("ss");
    QList<QTime> startStamps, endStamps;
    for (TFormAuto* j : jobs) {
        QVERIFY(j->STStart->text().startsWith(QStringLiteral("Start : ")));
        QVERIFY(j->STEnd->text().startsWith(QStringLiteral("End   : ")));
        startStamps.append(QTime::fromString(j->STStart->text().mid(8), format));
        endStamps.append(QTime::fromString(j->STEnd->text().mid(8), format));
        QVERIFY(startStamps.last().isValid() && endStamps.last().isValid());
    }
    if (startStamps[0] < endStamps[2]) { // not across midnight
        QVERIFY(startStamps[1] >= endStamps[0] && startStamps[2] >= endStamps[1]);
        QVERIFY(startStamps[0].secsTo(endStamps[2]) >= 29);
    }
}

QUORVANE_TEST_MAIN(TestHosting)
#include "tst_hosting.moc"
