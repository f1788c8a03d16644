#include "ClassAuto.h"
#include "JobClassRegistry.h"
#include "TestMain.h"

#include <QMetaObject>

class TestClassAuto : public QObject {
    Q_OBJECT
private slots:
    void registersAlphabeticallyAndUnregistersTheRegistrationClasses();
};

void TestClassAuto::registersAlphabeticallyAndUnregistersTheRegistrationClasses() {
    InitializeClassAuto();
    const QList<JobClass> registered = RegisteredJobClasses();
    QStringList names;
    for (JobClass c : registered)
        names.append(QString::fromLatin1(c->className()));

    QStringList expected = {"FormAutoA", "TFormAutoA", "TFormAuto", "TForm", "QWidget", "QObject"};
    QStringList jobNames = {"TFormAutoA"};
    for (char letter = 'B'; letter <= 'Z'; ++letter) {
        expected << QStringLiteral("FormAuto") + QLatin1Char(letter)
                 << QStringLiteral("TFormAuto") + QLatin1Char(letter);
        jobNames << QStringLiteral("TFormAuto") + QLatin1Char(letter);
    }
    QCOMPARE(names, expected);
    for (const QString& job : jobNames) {
        JobClass registration = FindJobClass(job.mid(1));
        QVERIFY(registration);
        QCOMPARE(registration->superClass(), FindJobClass(job));
    }
    // The database job window derives from the plain form: its walk stops there.
    QCOMPARE(FindJobClass(QStringLiteral("tformautoq"))->superClass(), &TForm::staticMetaObject);

    FinalizeClassAuto();
    for (const QString& job : jobNames) {
        QCOMPARE(FindJobClass(job.mid(1)), nullptr);
        QVERIFY(FindJobClass(job));
    }
    QCOMPARE(RegisteredJobClasses().size(), registered.size() - jobNames.size());
}

QUORVANE_TEST_MAIN(TestClassAuto)
#include "tst_classauto.moc"
