// The process-wide registry of job window classes by name. A class descriptor is the class's
// meta-object: it knows its name, its parent class, and constructs instances through the
// class's invokable constructor taking the owner.
#pragma once

#include <QList>
#include <QString>

struct QMetaObject;
class QObject;

using JobClass = const QMetaObject*;

// Registers the class and each ancestor in turn, upward, stopping at the first one already
// registered. Raises "A class named %s already exists" when another class of that name is.
void RegisterJobClass(JobClass jobClass);
// Removes exactly that class; its ancestors stay registered.
void UnregisterJobClass(JobClass jobClass);
// The first registered class whose name equals `name` without regard to letter case, or none.
JobClass FindJobClass(const QString& name);
// The class's virtual constructor: a new instance of exactly that class, owned by `owner`.
// Nullptr when the class cannot be constructed.
QObject* ConstructJobClass(JobClass jobClass, QObject* owner);

// The registered classes in order of registration.
QList<JobClass> RegisteredJobClasses();
