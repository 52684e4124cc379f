#include "sourcecontrol/docflow.h"

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <utility>

#include "common/strings.h"

namespace brimora {
namespace {

// Stage IDs to the stage last read under that ID. Only Load uses it, while the stages live. An
// ordered map, so that IDs chosen to collide in a hash table cannot slow a load down.
using StageIndex = std::map<std::string, CDocFlow::CStage*>;

CDocFlow::CStage* FindStage(const StageIndex& index, const std::string& id) {
  const auto found = index.find(id);
  return found == index.end() ? nullptr : found->second;
}

std::string ChildText(const XmlNode& element, const char* name) {
  return ReadXmlString(element, name, std::string());
}

// Appends the section's stages that have an ID to stages and enters them in the index. A repeated
// ID names the later stage from then on; the earlier one stays in stages.
void ReadStages(const XmlNode& section, std::vector<std::unique_ptr<CDocFlow::CStage>>& stages,
                StageIndex& index) {
  XmlNodeList elements = SelectNodes(section, "Stage");
  for (XmlNode element = elements.NextNode(); element; element = elements.NextNode()) {
    auto stage = std::make_unique<CDocFlow::CStage>();
    if (!stage->Load(element)) continue;
    index[stage->ID] = stage.get();
    stages.push_back(std::move(stage));
  }
}

// Counts the section's items and calculation-table columns on the stages they name (only stages
// read before this section are known) and appends its approval items to items.
void ReadItems(const XmlNode& section, const StageIndex& index,
               std::vector<std::unique_ptr<CDocFlow::CItem>>& items) {
  XmlNodeList elements = SelectNodes(section, "Item");
  for (XmlNode element = elements.NextNode(); element; element = elements.NextNode()) {
    const std::string type = ChildText(element, "Type");
    if (EqualsIgnoringAsciiCase(type, "CALCTABLE")) {
      XmlNodeList columns = SelectNodes(element, "Columns/Column");
      for (XmlNode column = columns.NextNode(); column; column = columns.NextNode()) {
        CDocFlow::CStage* stage = FindStage(index, ChildText(column, "Stage"));
        if (stage != nullptr) ++stage->ItemCount;
      }
      continue;
    }
    CDocFlow::CStage* stage = FindStage(index, ChildText(element, "Stage"));
    if (stage != nullptr) ++stage->ItemCount;
    if (!EqualsIgnoringAsciiCase(type, "APPROVAL")) continue;
    auto item = std::make_unique<CDocFlow::CApprovalItem>();
    if (!item->Load(element)) continue;
    if (stage != nullptr && stage->ApprovalItem == nullptr) stage->ApprovalItem = item.get();
    items.push_back(std::move(item));
  }
}

}  // namespace

bool CDocFlow::CStage::Load(const XmlNode& element) {
  std::string id = ChildText(element, "ID");
  if (id.empty()) return false;
  ItemCount = 0;
  ID = std::move(id);
  Parent = ChildText(element, "Parent");
  User = ChildText(element, "User");
  NotifyUser = ChildText(element, "NotifyUser");
  return true;
}

std::string CDocFlow::CStage::GetUsers() const {
  if (ApprovalItem != nullptr && ApprovalItem->ApprovalIndex >= 0 &&
      static_cast<std::size_t>(ApprovalItem->ApprovalIndex) < ApprovalItem->Approvals.size()) {
    return ApprovalItem->Approvals[static_cast<std::size_t>(ApprovalItem->ApprovalIndex)].User;
  }
  std::string users = User;
  std::set<std::string> seen;
  if (!User.empty()) seen.insert(AsciiLower(User));
  for (const CStage* child : Children) {
    if (child->User.empty() || !seen.insert(AsciiLower(child->User)).second) continue;
    if (!users.empty()) users += ',';
    users += child->User;
  }
  return users;
}

bool CDocFlow::CItem::Load(const XmlNode& element) {
  Stage = ChildText(element, "Stage");
  return true;
}

bool CDocFlow::CApprovalItem::Load(const XmlNode& element) {
  Approvals.clear();
  Stage = ChildText(element, "Stage");
  ApprovalIndex = ReadXmlInt(element, "ApprovalIndex", -1);
  XmlNodeList approvals = SelectNodes(element, "Approval");
  for (XmlNode node = approvals.NextNode(); node; node = approvals.NextNode()) {
    CApproval approval;
    approval.User = ChildText(node, "User");
    if (approval.User.empty()) continue;
    approval.Label = ChildText(node, "Label");
    approval.GroupNotify = ChildText(node, "GroupNotify");
    Approvals.push_back(std::move(approval));
  }
  return true;
}

bool CDocFlow::Load(const XmlDocument& document) {
  CurrentStage = 0;
  GroupNotify.clear();
  TopStages.clear();
  Items.clear();
  Stages.clear();

  const XmlNode root = SelectSingleNode(document, "/Root");
  GroupNotify = ChildText(root, "GroupNotify");
  // The stage number counts from 1; the lowest integer stays the lowest instead of wrapping.
  const int stageNumber = ReadXmlInt(root, "Stage", 0);
  CurrentStage = stageNumber == INT_MIN ? INT_MIN : stageNumber - 1;

  StageIndex index;
  // Only the sections of the document's own root. Sections of "Root" elements nested deeper would
  // lie inside texts read already, so a deeply nested file would cost time quadratic in its size.
  XmlNodeList sections = SelectNodes(document, "/Root/Section");
  for (XmlNode section = sections.NextNode(); section; section = sections.NextNode()) {
    const std::string type = ChildText(section, "Type");
    if (type == "STAGES") {
      ReadStages(section, Stages, index);
    } else if (type == "ITEMS") {
      ReadItems(section, index, Items);
    }
  }

  // Each stage is looked at once and only its parent's list grows, so parent cycles and stages
  // naming themselves cost nothing more than any other stage.
  for (const auto& stage : Stages) {
    if (CStage* parent = FindStage(index, stage->Parent)) {
      if (!stage->User.empty() && stage->ItemCount >= 1) parent->Children.push_back(stage.get());
    } else {
      TopStages.push_back(stage.get());
    }
  }
  std::erase_if(TopStages, [](const CStage* stage) {
    return (stage->User.empty() || stage->ItemCount < 1) && stage->Children.empty();
  });
  return true;
}

bool CDocFlow::GetCurrentStageUsers(std::string& users) const {
  if (CurrentStage < 0 || static_cast<std::size_t>(CurrentStage) >= TopStages.size()) return false;
  const CStage& stage = *TopStages[static_cast<std::size_t>(CurrentStage)];
  users.clear();
  if (EqualsIgnoringAsciiCase(GroupNotify, "select")) users = stage.NotifyUser;
  if (users.empty()) users = stage.GetUsers();
  return true;
}

}  // namespace brimora
