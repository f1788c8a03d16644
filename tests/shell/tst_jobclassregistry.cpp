#include "AutoLetters.h"
#include "ClassAuto.h"
#include "Error.h"
#include "JobClassRegistry.h"
#include "TestMain.h"

#include <QMetaObject>

Q_DECLARE_METATYPE(const QMetaObject*)

// Its name differs from TFormAutoB only in letter case.
class tformautob : public TForm {
    Q_OBJECT
public:
    Q_INVOKABLE explicit tformautob(QObject* owner) : TForm(owner) {}
};

// A window class without a constructor the registry can call.
class NotConstructible : public TForm {
    Q_OBJECT
public:
    NotConstructible() = default;
};

// The registry is one per process: the cases run in order and build on one another.
class TestJobClassRegistry : public QObject {
    Q_OBJECT
private slots:
    void firstRegistrationBringsItsAncestors();
    void laterRegistrationsStopAtARegisteredAncestor();
    void findIgnoresLetterCaseOnly_data();
    void findIgnoresLetterCaseOnly();
    void nameClashFails();
    void constructingYieldsExactlyTheClass();
    void unregisteringKeepsTheAncestors();
};

void TestJobClassRegistry::firstRegistrationBringsItsAncestors() {
    QVERIFY(RegisteredJobClasses().isEmpty());
    RegisterJobClass(&FormAutoA::staticMetaObject);
    const QList<JobClass> expected = {&FormAutoA::staticMetaObject, &TFormAutoA::staticMetaObject,
                                      &TFormAuto::staticMetaObject, &TForm::staticMetaObject,
                                      &QWidget::staticMetaObject,   &QObject::staticMetaObject};
    QCOMPARE(RegisteredJobClasses(), expected);
}

void TestJobClassRegistry::laterRegistrationsStopAtARegisteredAncestor() {
    const QList<JobClass> before = RegisteredJobClasses();
    RegisterJobClass(&FormAutoB::staticMetaObject);
    const QList<JobClass> added = {&FormAutoB::staticMetaObject, &TFormAutoB::staticMetaObject};
    QCOMPARE(RegisteredJobClasses(), before + added);
    RegisterJobClass(&FormAutoA::staticMetaObject);
    RegisterJobClass(&TFormAutoB::staticMetaObject);
    QCOMPARE(RegisteredJobClasses().size(), before.size() + 2);
}

void TestJobClassRegistry::findIgnoresLetterCaseOnly_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<const QMetaObject*>("found");
    QTest::newRow("ancestor only") << "TFormAutoA" << &TFormAutoA::staticMetaObject;
    QTest::newRow("lower case") << "tformautoa" << &TFormAutoA::staticMetaObject;
    QTest::newRow("mixed case") << "fORMaUTOb" << &FormAutoB::staticMetaObject;
    QTest::newRow("base job window") << "TFormAuto" << &TFormAuto::staticMetaObject;
    QTest::newRow("letter after Z") << "TFormAuto[" << static_cast<const QMetaObject*>(nullptr);
    QTest::newRow("not registered") << "TFormAutoC" << static_cast<const QMetaObject*>(nullptr);
    QTest::newRow("prefix of a name") << "TFormAut" << static_cast<const QMetaObject*>(nullptr);
    QTest::newRow("longer than a name")
        << "TFormAutoAA" << static_cast<const QMetaObject*>(nullptr);
    QTest::newRow("trailing blank") << "TFormAutoA " << static_cast<const QMetaObject*>(nullptr);
    QTest::newRow("empty") << "" << static_cast<const QMetaObject*>(nullptr);
}

void TestJobClassRegistry::findIgnoresLetterCaseOnly() {
    QFETCH(QString, name);
    QFETCH(const QMetaObject*, found);
    QCOMPARE(FindJobClass(name), found);
}

void TestJobClassRegistry::nameClashFails() {
    const QList<JobClass> before = RegisteredJobClasses();
    try {
        RegisterJobClass(&tformautob::staticMetaObject);
        QFAIL("registering a clashing name succeeded");
    } catch (const Error& e) {
        QCOMPARE(e.message(), QStringLiteral("A class named TFormAutoB already exists"));
    }
    QCOMPARE(RegisteredJobClasses(), before);
    QCOMPARE(FindJobClass(QStringLiteral("tformautob")), &TFormAutoB::staticMetaObject);
}

void TestJobClassRegistry::constructingYieldsExactlyTheClass() {
    TForm owner;
    QObject* made = ConstructJobClass(FindJobClass(QStringLiteral("tformautoa")), &owner);
    QVERIFY(made);
    QCOMPARE(made->metaObject(), &TFormAutoA::staticMetaObject);
    auto* form = qobject_cast<TForm*>(made);
    QVERIFY(form);
    QCOMPARE(form->owner(), &owner);
    QVERIFY(owner.ownedForms().contains(form));
    QVERIFY(!form->isVisible());

    QObject* registration = ConstructJobClass(&FormAutoB::staticMetaObject, &owner);
    QVERIFY(registration);
    QCOMPARE(registration->metaObject(), &FormAutoB::staticMetaObject);

    QCOMPARE(ConstructJobClass(&NotConstructible::staticMetaObject, &owner), nullptr);
    QCOMPARE(ConstructJobClass(nullptr, &owner), nullptr);
    QCOMPARE(owner.ownedForms().size(), 2);
}

void TestJobClassRegistry::unregisteringKeepsTheAncestors() {
    UnregisterJobClass(&FormAutoA::staticMetaObject);
    QCOMPARE(FindJobClass(QStringLiteral("FormAutoA")), nullptr);
    QCOMPARE(FindJobClass(QStringLiteral("TFormAutoA")), &TFormAutoA::staticMetaObject);
    QCOMPARE(FindJobClass(QStringLiteral("TFormAuto")), &TFormAuto::staticMetaObject);
    QCOMPARE(FindJobClass(QStringLiteral("FormAutoB")), &FormAutoB::staticMetaObject);

    const QList<JobClass> before = RegisteredJobClasses();
    UnregisterJobClass(&FormAutoA::staticMetaObject);
    UnregisterJobClass(&FormAutoC::staticMetaObject);
    QCOMPARE(RegisteredJobClasses(), before);

    // Registered again, it goes to the end and brings nothing else.
    RegisterJobClass(&FormAutoA::staticMetaObject);
    const QList<JobClass> again = {&FormAutoA::staticMetaObject};
    QCOMPARE(RegisteredJobClasses(), before + again);
}

QUORVANE_TEST_MAIN(TestJobClassRegistry)
#include "tst_jobclassregistry.moc"
