// The plain job classes: the base job window unchanged, one class per slot letter so that each
// slot has a class of its own name to create. Slot Q has a window of its own kind.
#pragma once

#include "Auto.h"

class TFormAutoA : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoA(QObject* owner);
};

class TFormAutoB : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoB(QObject* owner);
};

class TFormAutoC : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoC(QObject* owner);
};

class TFormAutoD : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoD(QObject* owner);
};

class TFormAutoE : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoE(QObject* owner);
};

class TFormAutoF : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoF(QObject* owner);
};

class TFormAutoG : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoG(QObject* owner);
};

class TFormAutoH : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoH(QObject* owner);
};

class TFormAutoI : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoI(QObject* owner);
};

class TFormAutoJ : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoJ(QObject* owner);
};

class TFormAutoK : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoK(QObject* owner);
};

class TFormAutoL : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoL(QObject* owner);
};

class TFormAutoM : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoM(QObject* owner);
};

class TFormAutoN : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoN(QObject* owner);
};

class TFormAutoO : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoO(QObject* owner);
};

class TFormAutoP : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoP(QObject* owner);
};

class TFormAutoR : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoR(QObject* owner);
};

class TFormAutoS : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoS(QObject* owner);
};

class TFormAutoT : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoT(QObject* owner);
};

class TFormAutoU : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoU(QObject* owner);
};

class TFormAutoV : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoV(QObject* owner);
};

class TFormAutoW : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoW(QObject* owner);
};

class TFormAutoX : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoX(QObject* owner);
};

class TFormAutoY : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoY(QObject* owner);
};

class TFormAutoZ : public TFormAuto {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAutoZ(QObject* owner);
};
