// The diagnostic log's lines for the walk's verdict on an update element, in the order the
// rules ran: the element's own rules, each file child tested, then its package.
#pragma once
#include "decision/rule_verdict.h"
#include "decision/update_records.h"

namespace decision {

void logVerdict(const ElementVerdict& verdict, const DocumentItem& item);

}  // namespace decision
