#include "AutoLetters.h"

namespace {

// Each form description inherits the base one and changes only its name and caption.
void loadDescription(TFormAuto* form, const char* name) {
    form->setObjectName(QLatin1String(name));
    form->setWindowTitle(QLatin1String(name));
}

} // namespace

TFormAutoA::TFormAutoA(QObject* owner) : TFormAuto(owner) {
    loadDescription(this, "FormAutoA");
    move(413, 526);
}

#define PLAIN_JOB_CLASS(L)                                                                         \
    TFormAuto##L::TFormAuto##L(QObject* owner) : TFormAuto(owner) {                                \
        loadDescription(this, "FormAuto" #L);                                                      \
    }

PLAIN_JOB_CLASS(B)
PLAIN_JOB_CLASS(C)
PLAIN_JOB_CLASS(D)
PLAIN_JOB_CLASS(E)
PLAIN_JOB_CLASS(F)
PLAIN_JOB_CLASS(G)
PLAIN_JOB_CLASS(H)
PLAIN_JOB_CLASS(I)
PLAIN_JOB_CLASS(J)
PLAIN_JOB_CLASS(K)
PLAIN_JOB_CLASS(L)
PLAIN_JOB_CLASS(M)
PLAIN_JOB_CLASS(N)
PLAIN_JOB_CLASS(O)
PLAIN_JOB_CLASS(P)
PLAIN_JOB_CLASS(R)
PLAIN_JOB_CLASS(S)
PLAIN_JOB_CLASS(T)
PLAIN_JOB_CLASS(U)
PLAIN_JOB_CLASS(V)
PLAIN_JOB_CLASS(W)
PLAIN_JOB_CLASS(X)
PLAIN_JOB_CLASS(Y)
PLAIN_JOB_CLASS(Z)
