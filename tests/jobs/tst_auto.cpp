#include "Auto.h"
#include "AutoLetters.h"
#include "Controls.h"
#include "TestMain.h"
#include "TimeFormat.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(const QMetaObject*)

namespace {

// The time stamp after `prefix` in `text`, read back with the locale's separator.
QTime stampAfter(const QString& prefix, const QString& text) {
    if (!text.startsWith(prefix))
        return {};
    const QString sep = timeSeparator();
    return QTime::fromString(text.mid(prefix.size()), QStringLiteral("hh") + sep +
                                                          QStringLiteral("mm") + sep +
                                                          QStringLiteral("ss"));
}

// Counts the jobs a window runs: every job passes position 1 exactly once.
int jobsRun(const QSignalSpy& valueSpy) {
    int jobs = 0;
    for (const QList<QVariant>& args : valueSpy)
        jobs += args.at(0).toInt() == 1;
    return jobs;
}

} // namespace

class TestAuto : public QObject {
    Q_OBJECT
private slots:
    void init() { setJobStepPause(0ms); }
    void cleanup() { setJobStepPause(10ms); }

    void layoutAtLoad();
    void controlsAreOwnedComponents_data();
    void controlsAreOwnedComponents();
    void plainClasses_data();
    void plainClasses();
    void jobStampsTimesAndFillsTheBar();
    void secondJobRestartsAndProcessesNoEvents();
    void timerTickDisarmsAndRunsTheJob();
    void clicks_data();
    void clicks();
    void clickWhileArmedRunsTheJobTwice();
    void resizingFollowsWithTheProgressBar();
};

void TestAuto::layoutAtLoad() {
    TFormAuto form(nullptr);
    QCOMPARE(form.objectName(), QStringLiteral("FormAuto"));
    QCOMPARE(form.windowTitle(), QStringLiteral("FormAuto"));
    QCOMPARE(form.pos(), QPoint(390, 149));
    QCOMPARE(form.size(), QSize(640, 480));
    QCOMPARE(form.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(form.font().pixelSize(), 11);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QCOMPARE(form.ToolBar0->geometry(), QRect(0, 0, 640, 29));
    QCOMPARE(form.ProgressBar0->parentWidget(), form.ToolBar0);
    QCOMPARE(form.ProgressBar0->geometry(), QRect(0, 2, 640, 22));
    QCOMPARE(form.ProgressBar0->minimum(), 0);
    QCOMPARE(form.ProgressBar0->maximum(), 100);
    QCOMPARE(form.ProgressBar0->value(), 0);
    // The hidden list takes no room: the memo sits right below the tool bar.
    QVERIFY(form.ListBox0->isHidden());
    QCOMPARE(form.ListBox0->count(), 0);
    QCOMPARE(form.Memo0->geometry(), QRect(0, 29, 640, 89));
    QVERIFY(form.Memo0->toPlainText().isEmpty());
    QVERIFY(!form.Memo0->isReadOnly());
    QCOMPARE(form.Panel0->geometry(), QRect(0, 118, 640, 480 - 118));
    QVERIFY(form.Panel0->caption().isEmpty());
    QCOMPARE(form.Panel0->font().family(), QStringLiteral("Times New Roman"));
    QCOMPARE(form.Panel0->font().pixelSize(), 16);

    const QRect inner = form.Panel0->contentsRect();
    for (QLabel* text : {form.STStart, form.STEnd}) {
        QCOMPARE(text->parentWidget(), form.Panel0);
        QCOMPARE(text->height(), 23);
        QCOMPARE(text->width(), inner.width());
        QCOMPARE(text->alignment(), Qt::AlignCenter);
        QCOMPARE(text->font().pixelSize(), 16);
    }
    QCOMPARE(form.STStart->y(), inner.top());
    QCOMPARE(form.STEnd->geometry().bottom(), inner.bottom());
    QCOMPARE(form.STStart->text(), QStringLiteral("Start Time"));
    QCOMPARE(form.STEnd->text(), QStringLiteral("End Time"));

    QCOMPARE(form.Timer0->interval(), 2000);
    QVERIFY(!form.Timer0->isActive());
    QVERIFY(!form.Timer0->isSingleShot());
}

void TestAuto::controlsAreOwnedComponents_data() {
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"ToolBar0", "ProgressBar0", "Memo0", "Panel0", "timer0", "STSTART", "STEnd", "listbox0"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestAuto::controlsAreOwnedComponents() {
    QFETCH(QString, name);
    TForm owner;
    auto* form = new TFormAuto(&owner);
    QObject* found = findComponent(form, name);
    QVERIFY(found);
    QCOMPARE(found->objectName().compare(name, Qt::CaseInsensitive), 0);
    // The controls belong to the job window, not to the window that owns it.
    QCOMPARE(findComponent(&owner, name), nullptr);
}

void TestAuto::plainClasses_data() {
    QTest::addColumn<const QMetaObject*>("jobClass");
    QTest::addColumn<QPoint>("position");
    const QList<const QMetaObject*> classes = {
        &TFormAutoA::staticMetaObject, &TFormAutoB::staticMetaObject, &TFormAutoC::staticMetaObject,
        &TFormAutoD::staticMetaObject, &TFormAutoE::staticMetaObject, &TFormAutoF::staticMetaObject,
        &TFormAutoG::staticMetaObject, &TFormAutoH::staticMetaObject, &TFormAutoI::staticMetaObject,
        &TFormAutoJ::staticMetaObject, &TFormAutoK::staticMetaObject, &TFormAutoL::staticMetaObject,
        &TFormAutoM::staticMetaObject, &TFormAutoN::staticMetaObject, &TFormAutoO::staticMetaObject,
        &TFormAutoP::staticMetaObject, &TFormAutoR::staticMetaObject, &TFormAutoS::staticMetaObject,
        &TFormAutoT::staticMetaObject, &TFormAutoU::staticMetaObject, &TFormAutoV::staticMetaObject,
        &TFormAutoW::staticMetaObject, &TFormAutoX::staticMetaObject, &TFormAutoY::staticMetaObject,
        &TFormAutoZ::staticMetaObject};
    for (const QMetaObject* c : classes)
        QTest::newRow(c->className())
            << c << (c == &TFormAutoA::staticMetaObject ? QPoint(413, 526) : QPoint(390, 149));
}

void TestAuto::plainClasses() {
    QFETCH(const QMetaObject*, jobClass);
    QFETCH(QPoint, position);
    const QString className = QString::fromLatin1(jobClass->className());
    const QString letter = className.right(1);
    QCOMPARE(className, QStringLiteral("TFormAuto") + letter);
    QCOMPARE(jobClass->superClass(), &TFormAuto::staticMetaObject);

    TForm owner;
    QObject* made = jobClass->newInstance(Q_ARG(QObject*, &owner));
    QVERIFY(made);
    QCOMPARE(made->metaObject(), jobClass);
    auto* form = qobject_cast<TFormAuto*>(made);
    QVERIFY(form);
    QCOMPARE(form->owner(), &owner);
    QCOMPARE(form->windowTitle(), QStringLiteral("FormAuto") + letter);
    QCOMPARE(findComponent(&owner, QStringLiteral("FormAuto") + letter), form);
    QCOMPARE(form->pos(), position);
    QCOMPARE(form->size(), QSize(640, 480));
    QVERIFY(findComponent(form, QStringLiteral("Timer0")));
    QVERIFY(findComponent(form, QStringLiteral("Panel0")));
    QVERIFY(findComponent(form, QStringLiteral("ListBox0")));
}

void TestAuto::jobStampsTimesAndFillsTheBar() {
    TFormAuto form(nullptr);
    const QTime before = QTime::currentTime().addMSecs(-1000);
    form.Panel0Click(form.Panel0);
    const QTime after = QTime::currentTime().addMSecs(1000);

    QCOMPARE(form.ProgressBar0->minimum(), 0);
    QCOMPARE(form.ProgressBar0->maximum(), 1000);
    QCOMPARE(form.ProgressBar0->value(), 1000);
    const QTime start = stampAfter(QStringLiteral("Start : "), form.STStart->text());
    const QTime end = stampAfter(QStringLiteral("End   : "), form.STEnd->text());
    QVERIFY2(start.isValid(), qPrintable(form.STStart->text()));
    QVERIFY2(end.isValid(), qPrintable(form.STEnd->text()));
    QCOMPARE(form.STStart->text(),
             QStringLiteral("Start : ") + formatTimeOfDay(start)); // "hh:nn:ss", two digits each
    // Around midnight the clock wraps; the stamps are then not comparable.
    if (before < after) {
        QVERIFY(before <= start && start <= end && end <= after);
    }
}

void TestAuto::secondJobRestartsAndProcessesNoEvents() {
    TFormAuto form(nullptr);
    form.Panel0Click(form.Panel0);
    form.STEnd->setText(QStringLiteral("previous end"));

    QSignalSpy values(form.ProgressBar0, &QProgressBar::valueChanged);
    bool posted = false;
    QTimer::singleShot(0, this, [&] { posted = true; });
    QStringList endDuringJob;
    QList<int> maxima;
    QList<bool> postedDuringJob;
    connect(form.ProgressBar0, &QProgressBar::valueChanged, this, [&] {
        endDuringJob.append(form.STEnd->text());
        maxima.append(form.ProgressBar0->maximum());
        postedDuringJob.append(posted);
    });
    form.Panel0Click(form.Panel0);

    QList<int> expected;
    for (int v = 0; v <= 1000; ++v)
        expected.append(v);
    QList<int> seen;
    for (const QList<QVariant>& args : values)
        seen.append(args.at(0).toInt());
    QCOMPARE(seen, expected);
    QVERIFY(!maxima.contains(100));
    QCOMPARE(maxima.count(1000), maxima.size());
    QVERIFY(!postedDuringJob.contains(true));
    QCOMPARE(endDuringJob.count(QStringLiteral("previous end")), endDuringJob.size());
    QVERIFY(form.STEnd->text().startsWith(QStringLiteral("End   : ")));
    QTRY_VERIFY(posted);
}

void TestAuto::timerTickDisarmsAndRunsTheJob() {
    TFormAuto form(nullptr);
    QSignalSpy values(form.ProgressBar0, &QProgressBar::valueChanged);
    setTimerEnabled(form.Timer0, true);
    QTRY_COMPARE_WITH_TIMEOUT(form.ProgressBar0->value(), 1000, 5000);
    QVERIFY(!form.Timer0->isActive());
    QVERIFY(form.STStart->text().startsWith(QStringLiteral("Start : ")));
    QTest::qWait(2500); // a second tick would have run a second job
    QCOMPARE(jobsRun(values), 1);
}

void TestAuto::clicks_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("runsJob");
    QTest::newRow("panel between the texts") << QStringLiteral("Panel0") << true;
    QTest::newRow("start text") << QStringLiteral("STStart") << false;
    QTest::newRow("end text") << QStringLiteral("STEnd") << false;
    QTest::newRow("memo") << QStringLiteral("Memo0") << false;
}

void TestAuto::clicks() {
    QFETCH(QString, target);
    QFETCH(bool, runsJob);
    TFormAuto form(nullptr);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* widget = qobject_cast<QWidget*>(findComponent(&form, target));
    QVERIFY(widget);
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    QCOMPARE(form.ProgressBar0->value(), runsJob ? 1000 : 0);
    QCOMPARE(form.STStart->text() == QStringLiteral("Start Time"), !runsJob);
    QCOMPARE(form.STEnd->text() == QStringLiteral("End Time"), !runsJob);
}

void TestAuto::clickWhileArmedRunsTheJobTwice() {
    TFormAuto form(nullptr);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy values(form.ProgressBar0, &QProgressBar::valueChanged);
    setTimerEnabled(form.Timer0, true);
    QTest::mouseClick(form.Panel0, Qt::LeftButton, {}, form.Panel0->rect().center());
    QCOMPARE(jobsRun(values), 1);
    QVERIFY(form.Timer0->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(jobsRun(values), 2, 5000);
    QVERIFY(!form.Timer0->isActive());
    QCOMPARE(form.ProgressBar0->value(), 1000);
}

void TestAuto::resizingFollowsWithTheProgressBar() {
    TFormAuto form(nullptr);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(333, 400);
    QTRY_COMPARE(form.ToolBar0->width(), 333);
    QCOMPARE(form.ProgressBar0->width(), 333);
    QCOMPARE(form.ProgressBar0->height(), 22);
    QCOMPARE(form.ProgressBar0->y(), 2);
}

QUORVANE_TEST_MAIN(TestAuto)
#include "tst_auto.moc"
