// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/dynamicmethod.h"
#include "analysis/walltest.h"

#include <QByteArray>
#include <QString>

// "pass", "fail" or "not-assessed".
const char *verdictName(Verdict verdict);

// The state as lines "name<TAB>value" for scripts, each ended by LF: R (m^2 K/W), U (W/(m^2 K)),
// hours (the last record's time), A, B, C and D (their verdicts at the last record) and
// may_stop_since_h (in hours). Numbers are in their shortest round-trip form; a value there is
// none of (no R, no records, criteria not all holding now) is left empty.
QByteArray wallTestReport(const WallTestState &state);

// The dynamic method's result as lines "name<TAB>value": R, U (with the surface resistances it was
// given), R_low and R_high (its 95 % interval; R_high empty where the interval of L reaches 0),
// hours (the whole intervals analysed), m, r and tau1_h (the candidate that won; r empty unless
// m >= 2, r and tau1_h empty for the steady model, m = 0). Values there are none of are empty.
QByteArray dynamicReport(const DynamicResult &result);

// Why the judged records give no R, for the operator: which sum has the wrong sign (heat flux
// counts as positive from the warm side to the cold side). Empty when that is not the reason.
QString flowProblemText(const WallTestState &state);
