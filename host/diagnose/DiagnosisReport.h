// A diagnosis written out: one JSON document with everything (the completion logs only when
// asked for), and the text report for a person to read.
#pragma once

#include <ostream>

#include "host/diagnose/Diagnosis.h"

namespace kx7host {

void PrintDiagnosisJson(const Diagnosis& diagnosis, bool withLogs, std::ostream& out);
void PrintDiagnosisText(const Diagnosis& diagnosis, std::ostream& out);

}  // namespace kx7host
