#pragma once
// TEMPORARY STUB until the model lands.
#include <string>
#include "common/xml.h"
namespace brimora {
class CDocFlow {
 public:
  int Load(const XmlDocument&) { return 1; }
  bool GetCurrentStageUsers(std::string&) const { return false; }
};
}  // namespace brimora
