#include "ClassAuto.h"

#include "JobClassRegistry.h"

#include <QMetaObject>

namespace {

// clang-format off
const QMetaObject* const registrationClasses[] = {
    &FormAutoA::staticMetaObject,
    &FormAutoB::staticMetaObject,
    &FormAutoC::staticMetaObject,
    &FormAutoD::staticMetaObject,
    &FormAutoE::staticMetaObject,
    &FormAutoF::staticMetaObject,
    &FormAutoG::staticMetaObject,
    &FormAutoH::staticMetaObject,
    &FormAutoI::staticMetaObject,
    &FormAutoJ::staticMetaObject,
    &FormAutoK::staticMetaObject,
    &FormAutoL::staticMetaObject,
    &FormAutoM::staticMetaObject,
    &FormAutoN::staticMetaObject,
    &FormAutoO::staticMetaObject,
    &FormAutoP::staticMetaObject,
    &FormAutoQ::staticMetaObject,
    &FormAutoR::staticMetaObject,
    &FormAutoS::staticMetaObject,
    &FormAutoT::staticMetaObject,
    &FormAutoU::staticMetaObject,
    &FormAutoV::staticMetaObject,
    &FormAutoW::staticMetaObject,
    &FormAutoX::staticMetaObject,
    &FormAutoY::staticMetaObject,
    &FormAutoZ::staticMetaObject,
};
// clang-format on

} // namespace

void InitializeClassAuto() {
    for (const QMetaObject* c : registrationClasses)
        RegisterJobClass(c);
}

void FinalizeClassAuto() {
    for (const QMetaObject* c : registrationClasses)
        UnregisterJobClass(c);
}
