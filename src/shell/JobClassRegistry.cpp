#include "JobClassRegistry.h"

#include "Error.h"

#include <QMetaObject>
#include <QObject>

#include <mutex>

namespace {

struct Registry {
    std::mutex lock;
    QList<JobClass> classes;
};

Registry& registry() {
    static Registry r;
    return r;
}

QString nameOf(JobClass c) {
    return QString::fromLatin1(c->className());
}

} // namespace

void RegisterJobClass(JobClass jobClass) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (JobClass k = jobClass; k; k = k->superClass()) {
        if (r.classes.contains(k))
            return;
        for (JobClass other : r.classes)
            if (nameOf(other).compare(nameOf(k), Qt::CaseInsensitive) == 0)
                throw Error(QStringLiteral("A class named %1 already exists").arg(nameOf(other)));
        r.classes.append(k);
    }
}

void UnregisterJobClass(JobClass jobClass) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.classes.removeOne(jobClass);
}

JobClass FindJobClass(const QString& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (JobClass k : r.classes)
        if (nameOf(k).compare(name, Qt::CaseInsensitive) == 0)
            return k;
    return nullptr;
}

QObject* ConstructJobClass(JobClass jobClass, QObject* owner) {
    if (!jobClass)
        return nullptr;
    QObject* instance = jobClass->newInstance(Q_ARG(QObject*, owner));
    // newInstance picks the class's own constructor; a class without one yields nothing.
    if (instance && instance->metaObject() != jobClass) {
        delete instance;
        return nullptr;
    }
    return instance;
}

QList<JobClass> RegisteredJobClasses() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.classes;
}
