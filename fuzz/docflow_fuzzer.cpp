// The docflow model loaded from a document parsed from any bytes: the stage tree's shape and the
// answer about the current stage's users.

#include <set>

#include "common/xml.h"
#include "fuzz/fuzz_target.h"
#include "sourcecontrol/docflow.h"

using brimora::CDocFlow;

BRIMORA_FUZZ_TARGET {
  brimora::XmlDocument document;
  brimora::ParseXmlText(input, document);
  CDocFlow flow;
  Check(flow.Load(document), "any document loads");

  std::set<const CDocFlow::CStage*> stages;
  for (const auto& stage : flow.Stages) {
    Check(!stage->ID.empty(), "every stage has an ID");
    stages.insert(stage.get());
  }
  std::set<const CDocFlow::CItem*> items;
  for (const auto& item : flow.Items) {
    const auto* approvals = dynamic_cast<const CDocFlow::CApprovalItem*>(item.get());
    Check(approvals != nullptr, "only approval items are kept");
    for (const auto& approval : approvals->Approvals) Check(!approval.User.empty(), "approvals have users");
    items.insert(item.get());
  }
  for (const auto& stage : flow.Stages) {
    Check(stage->ApprovalItem == nullptr || items.count(stage->ApprovalItem) == 1,
          "a stage's approval item is one of the model's items");
    for (const auto* child : stage->Children) {
      Check(stages.count(child) == 1, "children are stages of the model");
      Check(!child->User.empty() && child->ItemCount >= 1, "children have a user and items");
    }
  }
  for (const auto* top : flow.TopStages) {
    Check(stages.count(top) == 1, "top stages are stages of the model");
    Check((!top->User.empty() && top->ItemCount >= 1) || !top->Children.empty(),
          "a top stage without a user or items has children");
  }

  std::string users = "\x01unchanged";
  const bool found = flow.GetCurrentStageUsers(users);
  Check(found == (flow.CurrentStage >= 0 && static_cast<std::size_t>(flow.CurrentStage) < flow.TopStages.size()),
        "the current stage is found exactly when it indexes a top stage");
  Check(found || users == "\x01unchanged", "no current stage leaves the users unchanged");
}
