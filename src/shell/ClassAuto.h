// The registration classes: one per slot letter, each a direct descendant of the job window
// class of its letter that adds nothing. Registering them makes the job classes resolvable by name.
#pragma once

#include "AutoLetters.h"
#include "AutoQ.h"

class FormAutoA : public TFormAutoA {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoA(QObject* owner) : TFormAutoA(owner) {}
};

class FormAutoB : public TFormAutoB {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoB(QObject* owner) : TFormAutoB(owner) {}
};

class FormAutoC : public TFormAutoC {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoC(QObject* owner) : TFormAutoC(owner) {}
};

class FormAutoD : public TFormAutoD {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoD(QObject* owner) : TFormAutoD(owner) {}
};

class FormAutoE : public TFormAutoE {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoE(QObject* owner) : TFormAutoE(owner) {}
};

class FormAutoF : public TFormAutoF {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoF(QObject* owner) : TFormAutoF(owner) {}
};

class FormAutoG : public TFormAutoG {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoG(QObject* owner) : TFormAutoG(owner) {}
};

class FormAutoH : public TFormAutoH {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoH(QObject* owner) : TFormAutoH(owner) {}
};

class FormAutoI : public TFormAutoI {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoI(QObject* owner) : TFormAutoI(owner) {}
};

class FormAutoJ : public TFormAutoJ {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoJ(QObject* owner) : TFormAutoJ(owner) {}
};

class FormAutoK : public TFormAutoK {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoK(QObject* owner) : TFormAutoK(owner) {}
};

class FormAutoL : public TFormAutoL {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoL(QObject* owner) : TFormAutoL(owner) {}
};

class FormAutoM : public TFormAutoM {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoM(QObject* owner) : TFormAutoM(owner) {}
};

class FormAutoN : public TFormAutoN {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoN(QObject* owner) : TFormAutoN(owner) {}
};

class FormAutoO : public TFormAutoO {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoO(QObject* owner) : TFormAutoO(owner) {}
};

class FormAutoP : public TFormAutoP {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoP(QObject* owner) : TFormAutoP(owner) {}
};

class FormAutoQ : public TFormAutoQ {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoQ(QObject* owner) : TFormAutoQ(owner) {}
};

class FormAutoR : public TFormAutoR {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoR(QObject* owner) : TFormAutoR(owner) {}
};

class FormAutoS : public TFormAutoS {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoS(QObject* owner) : TFormAutoS(owner) {}
};

class FormAutoT : public TFormAutoT {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoT(QObject* owner) : TFormAutoT(owner) {}
};

class FormAutoU : public TFormAutoU {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoU(QObject* owner) : TFormAutoU(owner) {}
};

class FormAutoV : public TFormAutoV {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoV(QObject* owner) : TFormAutoV(owner) {}
};

class FormAutoW : public TFormAutoW {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoW(QObject* owner) : TFormAutoW(owner) {}
};

class FormAutoX : public TFormAutoX {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoX(QObject* owner) : TFormAutoX(owner) {}
};

class FormAutoY : public TFormAutoY {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoY(QObject* owner) : TFormAutoY(owner) {}
};

class FormAutoZ : public TFormAutoZ {
    Q_OBJECT
public:
    Q_INVOKABLE explicit FormAutoZ(QObject* owner) : TFormAutoZ(owner) {}
};

// Run at start-up and at exit: register, and unregister, FormAutoA to FormAutoZ in alphabetical
// order. The job classes they brought in stay registered.
void InitializeClassAuto();
void FinalizeClassAuto();
