#pragma once
// The docflow definition model: the stages of a docflow file arranged as a tree, and the approval
// items that name them, read once from the file's XML document and then queried for the users
// responsible for the flow's current stage.
//
// Usage: load the file with LoadXmlDocument (common/xml.h), and when the document is not none,
// call CDocFlow::Load on it and then GetCurrentStageUsers.
//
// Ownership: a CDocFlow owns every stage in Stages and every item in Items; TopStages, Children and
// ApprovalItem only point into those and stay valid as long as the CDocFlow. A model is not
// copyable.
//
// Input: docflow files can be written by other accounts. Loading walks the document once, every
// query looks at one stage and its direct children only, and a stage tree that repeats IDs, names
// a stage as its own parent or forms a parent cycle is read without recursion and without loss.
//
// Thread safety: a loaded model may be queried from several threads at once; Load must not run
// beside anything else on the same model.

#include <memory>
#include <string>
#include <vector>

#include "common/xml.h"

namespace brimora {

class CDocFlow {
 public:
  class CApprovalItem;

  // One stage of the flow with its responsible user.
  class CStage {
   public:
    // Reads a "Stage" element. Answers false, changing nothing, when its "ID" is empty (or the
    // element is none); otherwise sets ItemCount to 0, reads "ID", "Parent", "User" and
    // "NotifyUser" and answers true.
    bool Load(const XmlNode& element);

    // The user of the approval now due on this stage's approval item when there is one; otherwise
    // the stage's own user followed by the users of its direct children, separated by "," without
    // blanks, each user once (compared without regard to ASCII case, first spelling kept), empty
    // users left out.
    std::string GetUsers() const;

    int ItemCount = 0;  // items and calculation-table columns that name this stage
    std::string ID;
    std::string Parent;  // the ID of the parent stage, empty for none
    std::string User;
    std::string NotifyUser;
    std::vector<CStage*> Children;          // sub-stages in document order; not owned
    CApprovalItem* ApprovalItem = nullptr;  // the first approval item naming this stage; not owned
  };

  // An item of an ITEMS section. Only approval items are kept in a model.
  class CItem {
   public:
    virtual ~CItem() = default;
    // Reads an "Item" element's "Stage" (empty for a none element). Answers true.
    virtual bool Load(const XmlNode& element);

    std::string Stage;  // the ID of the stage the item belongs to
  };

  // One approval of an approval item. Stored only with a non-empty User.
  struct CApproval {
    std::string Label;
    std::string User;
    std::string GroupNotify;
  };

  // An item of type APPROVAL: a sequence of approvals and the index of the one now due.
  class CApprovalItem : public CItem {
   public:
    // Replaces what was read before with the element's "Stage", "ApprovalIndex" (-1 when
    // missing) and its "Approval" children that have a user. Answers true. Throws XmlError for a
    // none element.
    bool Load(const XmlNode& element) override;

    int ApprovalIndex = -1;  // index into Approvals of the approval now due
    std::vector<CApproval> Approvals;
  };

  CDocFlow() = default;
  CDocFlow(const CDocFlow&) = delete;
  CDocFlow& operator=(const CDocFlow&) = delete;

  // Fills the model from a docflow document, replacing anything held before, and answers true.
  // Missing elements read as empty texts or their defaults, so any document that is not none
  // loads. Throws XmlError when the XML access fails, always for a none document (which leaves
  // the model empty); the caller catches it.
  bool Load(const XmlDocument& document);

  // When CurrentStage indexes a stage of TopStages, sets users to the users responsible for it
  // and answers true: its NotifyUser when GroupNotify is "select" in any case and NotifyUser is
  // not empty, else CStage::GetUsers. Otherwise answers false and leaves users unchanged.
  bool GetCurrentStageUsers(std::string& users) const;

  int CurrentStage = 0;  // index into TopStages: the document's stage number minus 1
  std::string GroupNotify;
  std::vector<std::unique_ptr<CStage>> Stages;  // every stage read, in document order
  std::vector<CStage*> TopStages;               // the roots of the stage tree after pruning
  std::vector<std::unique_ptr<CItem>> Items;    // the approval items, in document order
};

}  // namespace brimora
